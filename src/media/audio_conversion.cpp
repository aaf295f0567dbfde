#include "media/audio_conversion.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <vector>

namespace vorlane {

namespace {

// Above this many phases the filters are made frame by frame instead of once.
constexpr long long kMostPrecomputedPhases = 2048;

// The low-pass taps for an output position `fraction` (0..1) past an input frame:
// tap k weighs the input frame at distance c = k - N + 1 - fraction from it.
class SincFilter {
public:
    explicit SincFilter(double cutoff) : cutoff_(cutoff), half_(static_cast<int>(std::ceil(32 / cutoff))) {}

    int half() const { return half_; }
    int taps() const { return 2 * half_; }

    void make(double fraction, double* taps) const {
        double sum = 0;
        for (int k = 0; k < 2 * half_; ++k) {
            const double c = k - half_ + 1 - fraction;
            double weight = 0;
            if (std::fabs(c) < half_) {
                const double x = cutoff_ * c;
                const double sinc = std::fabs(x) < 1e-9 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
                const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * c / half_) +
                                      0.08 * std::cos(2 * std::numbers::pi * c / half_);
                weight = sinc * window;
            }
            taps[k] = weight;
            sum += weight;
        }
        if (sum != 0)
            for (int k = 0; k < 2 * half_; ++k) taps[k] /= sum;
    }

private:
    double cutoff_;
    int half_;
};

}  // namespace

void SetChannels(AudioBuffer& audio, int channels) {
    if (channels < 1 || audio.channels < 1 || audio.channels == channels) return;
    const size_t from = static_cast<size_t>(audio.channels);
    const size_t to = static_cast<size_t>(channels);
    const size_t frames = audio.frames();
    std::vector<float> samples(frames * to);
    for (size_t f = 0; f < frames; ++f) {
        const float* source = &audio.samples[f * from];
        if (to == 1) {
            double sum = 0;
            for (size_t c = 0; c < from; ++c) sum += source[c];
            samples[f] = static_cast<float>(sum / static_cast<double>(from));
        } else {
            for (size_t c = 0; c < to; ++c) samples[f * to + c] = source[c < from ? c : 0];
        }
    }
    audio.samples = std::move(samples);
    audio.channels = channels;
}

ResampleRatio ResampleRatioOf(int oldRate, int newRate) {
    const long long common = std::gcd(static_cast<long long>(newRate), static_cast<long long>(oldRate));
    if (common == 0) return {};
    return {newRate / common, oldRate / common};
}

void Resample(AudioBuffer& audio, int newRate) {
    if (audio.rate == newRate || audio.rate <= 0 || newRate <= 0 || audio.channels <= 0) return;
    const auto [up, down] = ResampleRatioOf(audio.rate, newRate);
    const SincFilter filter(0.95 * std::min(static_cast<double>(newRate) / audio.rate, 1.0));
    const int taps = filter.taps();

    // One filter per phase p (the fraction p / up), made once when there are few enough phases.
    const bool precomputed = up <= kMostPrecomputedPhases;
    std::vector<double> bank(precomputed ? static_cast<size_t>(up * taps) : static_cast<size_t>(taps));
    if (precomputed)
        for (long long p = 0; p < up; ++p) filter.make(static_cast<double>(p) / up, &bank[static_cast<size_t>(p * taps)]);

    const size_t channels = static_cast<size_t>(audio.channels);
    const long long inFrames = static_cast<long long>(audio.frames());
    const long long outFrames = inFrames * up / down;
    std::vector<float> samples(static_cast<size_t>(outFrames) * channels);
    const float* input = audio.samples.data();
    float* output = samples.data();
    const int half = filter.half();
    auto weightsFor = [&](long long phase) {
        if (precomputed) return static_cast<const double*>(&bank[static_cast<size_t>(phase * taps)]);
        filter.make(static_cast<double>(phase) / up, bank.data());
        return static_cast<const double*>(bank.data());
    };

    // Output frames whose taps all fall inside the input: from the first with t - half + 1 >= 0 to the last with
    // t + half < inFrames. Their sums are worked out several frames at a time, each in its own order as below, so
    // the additions of one don't wait for those of another.
    long long innerBegin = (static_cast<long long>(half - 1) * up + down - 1) / down;
    long long innerEnd = inFrames > half ? ((inFrames - half) * up + down - 1) / down : 0;
    innerEnd = std::min(innerEnd, outFrames);
    if (!precomputed || channels > 2 || innerBegin >= innerEnd) innerBegin = innerEnd = outFrames;

    // For two channels, every weight twice over, so one load gives it for both.
    std::vector<double> pairedBank;
    if (channels == 2 && innerBegin < innerEnd) {
        pairedBank.resize(bank.size() * 2);
        for (size_t w = 0; w < bank.size(); ++w) pairedBank[2 * w] = pairedBank[2 * w + 1] = bank[w];
    }

    std::vector<double> sums(channels);
    auto edgeFrame = [&](long long i) {
        const long long position = i * down;
        const long long t = position / up;
        const double* weights = weightsFor(position % up);

        // Input frames outside the buffer are left out of the sum.
        const long long first = t - half + 1;
        const int kBegin = static_cast<int>(std::max(0LL, -first));
        const int kEnd = static_cast<int>(std::min<long long>(taps, inFrames - first));
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int k = kBegin; k < kEnd; ++k) {
            const float* frame = &input[static_cast<size_t>(first + k) * channels];
            for (size_t c = 0; c < channels; ++c) sums[c] += frame[c] * weights[k];
        }
        for (size_t c = 0; c < channels; ++c)
            output[static_cast<size_t>(i) * channels + c] = static_cast<float>(sums[c]);
    };

    for (long long i = 0; i < innerBegin; ++i) edgeFrame(i);
    constexpr int kGroup = 4;
    // The input under a stretch of output frames, widened to doubles once there rather than once for every tap.
    constexpr long long kStretch = 4096;
    std::vector<double> widened;
    long long i = innerBegin;
    while (i + kGroup <= innerEnd) {
        const long long stretchEnd = i + std::min(kStretch, (innerEnd - i) / kGroup * kGroup);
        const long long firstInput = i * down / up - half + 1;
        const long long endInput = (stretchEnd - 1) * down / up + half + 1;
        widened.assign(input + firstInput * static_cast<long long>(channels),
                       input + endInput * static_cast<long long>(channels));
        for (; i < stretchEnd; i += kGroup) {
            size_t weightsAt[kGroup];
            const double* frames[kGroup];
            for (int g = 0; g < kGroup; ++g) {
                const long long position = (i + g) * down;
                weightsAt[g] = static_cast<size_t>((position % up) * taps);
                frames[g] = &widened[static_cast<size_t>(position / up - half + 1 - firstInput) * channels];
            }
            if (channels == 2) {
                // A frame's left and right sums side by side in one register of two doubles: each lane adds exactly
                // what the one-channel-at-a-time sum would, in the same order, so the output is the same to the bit.
                static_assert(kGroup == 4);
                __m128d sums[kGroup] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
                auto add = [&](__m128d& sum, const double* frame, size_t weightAt) {
                    sum = _mm_add_pd(sum, _mm_mul_pd(_mm_loadu_pd(frame), _mm_loadu_pd(&pairedBank[weightAt * 2])));
                };
                for (size_t k = 0; k < static_cast<size_t>(taps); ++k) {
                    // Written out, so the four sums stay in registers.
                    add(sums[0], frames[0] + 2 * k, weightsAt[0] + k);
                    add(sums[1], frames[1] + 2 * k, weightsAt[1] + k);
                    add(sums[2], frames[2] + 2 * k, weightsAt[2] + k);
                    add(sums[3], frames[3] + 2 * k, weightsAt[3] + k);
                }
                for (int g = 0; g < kGroup; ++g)
                    _mm_store_sd(reinterpret_cast<double*>(&output[static_cast<size_t>(i + g) * 2]),
                                 _mm_castps_pd(_mm_cvtpd_ps(sums[g])));
            } else {
                double sum[kGroup] = {};
                for (int k = 0; k < taps; ++k)
                    for (int g = 0; g < kGroup; ++g)
                        sum[g] += frames[g][k] * bank[weightsAt[g] + static_cast<size_t>(k)];
                for (int g = 0; g < kGroup; ++g) output[static_cast<size_t>(i + g)] = static_cast<float>(sum[g]);
            }
        }
    }
    for (; i < outFrames; ++i) edgeFrame(i);
    audio.samples = std::move(samples);
    audio.rate = newRate;
}

}  // namespace vorlane
