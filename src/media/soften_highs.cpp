#include "media/soften_highs.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "media/audio_levels.h"

namespace vorlane {

namespace {

struct Biquad {
    double b0, b1, b2, a1, a2;  // normalised by a0
};

Biquad highShelf(double gainDb, double cornerHz, int rate) {
    const double a = std::pow(10.0, gainDb / 40);
    const double w0 = 2 * std::numbers::pi * cornerHz / rate;
    const double cosW0 = std::cos(w0);
    const double alpha = std::sin(w0) / 2 * std::sqrt(2.0);
    const double rootAlpha = 2 * std::sqrt(a) * alpha;
    const double a0 = (a + 1) - (a - 1) * cosW0 + rootAlpha;
    return {a * ((a + 1) + (a - 1) * cosW0 + rootAlpha) / a0,
            -2 * a * ((a - 1) + (a + 1) * cosW0) / a0,
            a * ((a + 1) + (a - 1) * cosW0 - rootAlpha) / a0,
            2 * ((a - 1) - (a + 1) * cosW0) / a0,
            ((a + 1) - (a - 1) * cosW0 - rootAlpha) / a0};
}

// The two last inputs and outputs of a direct form I biquad.
struct FilterState {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    double step(const Biquad& f, double x) {
        const double y = f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

}  // namespace

void ApplyHighShelf(AudioBuffer& audio, double gainDb, double cornerHz, bool loops) {
    if (audio.channels <= 0 || audio.rate <= 0 || cornerHz >= audio.rate / 2.0) return;
    const Biquad filter = highShelf(gainDb, cornerHz, audio.rate);
    const size_t channels = static_cast<size_t>(audio.channels);
    const size_t frames = audio.frames();
    for (size_t c = 0; c < channels; ++c) {
        FilterState state;
        if (loops)
            for (size_t f = 0; f < frames; ++f) state.step(filter, audio.samples[f * channels + c]);
        for (size_t f = 0; f < frames; ++f) {
            float& sample = audio.samples[f * channels + c];
            sample = static_cast<float>(state.step(filter, sample));
        }
    }
}

Softening SoftenHighs(AudioBuffer& audio, bool loops) {
    Softening result;
    result.after = MeasureBrightness(audio, kBrightnessCutoffHz);
    if (!IsTooBright(result.after)) return result;

    const std::vector<float> original = audio.samples;
    while (IsTooBright(result.after) && result.cutDb < kSoftenMostDb) {
        result.cutDb = std::min(kSoftenMostDb, result.cutDb + kSoftenStepDb);
        audio.samples = original;
        ApplyHighShelf(audio, -result.cutDb, kShelfCornerHz, loops);
        result.after = MeasureBrightness(audio, kBrightnessCutoffHz);
    }
    const double peak = PeakOf(audio);
    if (peak > kPeakCeiling) ScaleSamples(audio, kPeakCeiling / peak);
    return result;
}

}  // namespace vorlane
