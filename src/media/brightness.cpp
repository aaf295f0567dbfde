#include "media/brightness.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "media/audio_text.h"
#include "media/fft.h"

namespace vorlane {

namespace {

constexpr size_t kWindowFrames = 2048;
constexpr size_t kHopFrames = 1024;
constexpr size_t kBins = kWindowFrames / 2 + 1;  // 0 (DC) to 1024 (half the rate)

std::vector<double> monoMix(const AudioBuffer& audio) {
    const size_t frames = audio.frames();
    const size_t channels = static_cast<size_t>(audio.channels);
    std::vector<double> mono(frames);
    for (size_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (size_t c = 0; c < channels; ++c) sum += audio.samples[f * channels + c];
        mono[f] = sum / static_cast<double>(channels);
    }
    return mono;
}

size_t windowCount(size_t frames) {
    if (frames <= kWindowFrames) return 1;
    return (frames - 1025) / kHopFrames + 1;
}

// |X(k)|^2 for k = 0..1024, summed over every window of the mono sound.
std::vector<double> summedPowerSpectrum(const std::vector<double>& mono) {
    static const FourierTransform transform(kWindowFrames);
    std::vector<double> hann(kWindowFrames);
    for (size_t n = 0; n < kWindowFrames; ++n)
        hann[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / (kWindowFrames - 1));

    std::vector<double> power(kBins, 0.0);
    std::vector<std::complex<double>> frame(kWindowFrames);
    const size_t windows = windowCount(mono.size());
    for (size_t w = 0; w < windows; ++w) {
        const size_t start = w * kHopFrames;
        for (size_t n = 0; n < kWindowFrames; ++n) {
            const double sample = start + n < mono.size() ? mono[start + n] : 0.0;
            frame[n] = sample * hann[n];
        }
        transform.transform(frame);
        for (size_t k = 0; k < kBins; ++k) power[k] += std::norm(frame[k]);
    }
    return power;
}

}  // namespace

Brightness MeasureBrightness(const AudioBuffer& audio, double cutoffHz) {
    if (audio.channels <= 0 || audio.rate <= 0) return {};
    const std::vector<double> power = summedPowerSpectrum(monoMix(audio));

    double total = 0, weighted = 0, above = 0;
    for (size_t k = 1; k < kBins; ++k) {
        const double frequency = static_cast<double>(k) * audio.rate / kWindowFrames;
        total += power[k];
        weighted += power[k] * frequency;
        if (frequency >= cutoffHz) above += power[k];
    }
    if (total <= 0) return {};
    return {weighted / total, above / total};
}

bool IsTooBright(const Brightness& brightness) {
    return brightness.centroid > kBrightCentroidHz || brightness.share > kBrightShare;
}

double BrightnessScore(const Brightness& brightness) {
    return std::max(brightness.centroid / kBrightCentroidHz, brightness.share / kBrightShare);
}

std::wstring DescribeBrightness(const Brightness& brightness) {
    return FormatText(L"centred on %.1f kHz, %.0f%% of it above %g kHz", brightness.centroid / 1000,
                      brightness.share * 100, kBrightnessCutoffHz / 1000);
}

std::wstring BrightnessRuleText() {
    return FormatText(L"centred above %g kHz, or over %.0f%% of it above %g kHz", kBrightCentroidHz / 1000,
                      kBrightShare * 100, kBrightnessCutoffHz / 1000);
}

}  // namespace vorlane
