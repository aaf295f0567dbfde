#include "themes/audio_conversion.h"

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
    long long i = innerBegin;
    for (; i + kGroup <= innerEnd; i += kGroup) {
        const double* weights[kGroup];
        const float* frames[kGroup];
        for (int g = 0; g < kGroup; ++g) {
            const long long position = (i + g) * down;
            weights[g] = &bank[static_cast<size_t>((position % up) * taps)];
            frames[g] = &input[static_cast<size_t>(position / up - half + 1) * channels];
        }
        if (channels == 2) {
            double left[kGroup] = {}, right[kGroup] = {};
            for (int k = 0; k < taps; ++k) {
                for (int g = 0; g < kGroup; ++g) {
                    left[g] += frames[g][2 * k] * weights[g][k];
                    right[g] += frames[g][2 * k + 1] * weights[g][k];
                }
            }
            for (int g = 0; g < kGroup; ++g) {
                output[static_cast<size_t>(i + g) * 2] = static_cast<float>(left[g]);
                output[static_cast<size_t>(i + g) * 2 + 1] = static_cast<float>(right[g]);
            }
        } else {
            double sum[kGroup] = {};
            for (int k = 0; k < taps; ++k)
                for (int g = 0; g < kGroup; ++g) sum[g] += frames[g][k] * weights[g][k];
            for (int g = 0; g < kGroup; ++g) output[static_cast<size_t>(i + g)] = static_cast<float>(sum[g]);
        }
    }
    for (; i < outFrames; ++i) edgeFrame(i);
    audio.samples = std::move(samples);
    audio.rate = newRate;
}

}  // namespace vorlane
