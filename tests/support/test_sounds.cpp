#include "support/test_sounds.h"

#include <cmath>
#include <cstdint>
#include <numbers>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

AudioBuffer Sine(int rate, int channels, double seconds, double frequency, double amplitude) {
    AudioBuffer sound;
    sound.rate = rate;
    sound.channels = channels;
    const size_t frames = static_cast<size_t>(std::llround(seconds * rate));
    sound.samples.resize(frames * channels);
    for (size_t f = 0; f < frames; ++f) {
        const float value = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * f / rate));
        for (int c = 0; c < channels; ++c) sound.samples[f * channels + c] = value;
    }
    return sound;
}

AudioBuffer WhiteNoise(int rate, double seconds, double amplitude, unsigned seed) {
    AudioBuffer sound;
    sound.rate = rate;
    sound.channels = 1;
    const size_t frames = static_cast<size_t>(std::llround(seconds * rate));
    sound.samples.resize(frames);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (float& sample : sound.samples) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double unit = static_cast<double>(state >> 11) / 9007199254740992.0;  // 0..1
        sample = static_cast<float>(amplitude * (2 * unit - 1));
    }
    return sound;
}

void MixInto(AudioBuffer& sound, const AudioBuffer& other, size_t at) {
    for (size_t i = 0; i < other.samples.size(); ++i) sound.samples[at * sound.channels + i] += other.samples[i];
}

double ToneAmplitude(const AudioBuffer& sound, int channel, double frequency, size_t first, size_t last) {
    // Normal equations of x(n) = a sin + b cos.
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (size_t f = first; f < last; ++f) {
        const double phase = 2 * std::numbers::pi * frequency * f / sound.rate;
        const double s = std::sin(phase), c = std::cos(phase);
        const double x = sound.samples[f * sound.channels + channel];
        ss += s * s;
        cc += c * c;
        sc += s * c;
        xs += x * s;
        xc += x * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    return std::hypot(a, b);
}

double RmsOf(const AudioBuffer& sound) {
    double squares = 0;
    for (float s : sound.samples) squares += double(s) * s;
    return sound.samples.empty() ? 0 : std::sqrt(squares / sound.samples.size());
}

double Decibels(double ratio) { return 20 * std::log10(ratio); }

std::wstring soundFilesFolder() { return joinPath(parentFolder(testProgramFolder()), L"sound-files"); }

}  // namespace vorlane::testing
