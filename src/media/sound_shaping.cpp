#include "media/sound_shaping.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "media/audio_levels.h"

namespace vorlane {

namespace {

// Whether any channel of the frame is louder than `level`.
bool frameExceeds(const AudioBuffer& audio, size_t frame, double level) {
    const size_t channels = static_cast<size_t>(audio.channels);
    for (size_t c = 0; c < channels; ++c)
        if (std::fabs(audio.samples[frame * channels + c]) > level) return true;
    return false;
}

void fadeFrames(AudioBuffer& audio, size_t first, size_t count, bool fadeIn) {
    const size_t channels = static_cast<size_t>(audio.channels);
    for (size_t j = 0; j < count; ++j) {
        const double turn = std::cos(std::numbers::pi * (static_cast<double>(j) + 0.5) / static_cast<double>(count));
        const double gain = fadeIn ? 0.5 - 0.5 * turn : 0.5 + 0.5 * turn;
        for (size_t c = 0; c < channels; ++c) {
            float& sample = audio.samples[(first + j) * channels + c];
            sample = static_cast<float>(sample * gain);
        }
    }
}

}  // namespace

SoundSpan FindSoundSpan(const AudioBuffer& audio, double windowSeconds) {
    SoundSpan span;
    span.end = audio.seconds();
    if (audio.rate <= 0 || audio.channels <= 0) return span;
    const size_t window = std::max<size_t>(1, static_cast<size_t>(audio.rate * windowSeconds));
    const size_t channels = static_cast<size_t>(audio.channels);
    const size_t frames = audio.frames();

    std::vector<double> levels;
    for (size_t first = 0; first < frames; first += window) {
        const size_t last = std::min(frames, first + window);
        double squares = 0;
        for (size_t i = first * channels; i < last * channels; ++i) squares += double(audio.samples[i]) * audio.samples[i];
        // A short last window is measured against the full window size too.
        levels.push_back(std::sqrt(squares / static_cast<double>(channels * window)));
    }
    if (levels.empty()) return span;

    std::vector<double> sorted = levels;
    const auto loud = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() * 3 / 4);
    std::nth_element(sorted.begin(), loud, sorted.end());
    const double threshold = 0.063 * *loud;

    size_t firstLoud = 0;
    while (levels[firstLoud] < threshold) ++firstLoud;  // the 75th-percentile window itself passes
    size_t lastLoud = levels.size() - 1;
    while (levels[lastLoud] < threshold) --lastLoud;
    span.start = static_cast<double>(firstLoud * window) / audio.rate;
    span.end = std::min(static_cast<double>((lastLoud + 1) * window) / audio.rate, audio.seconds());
    return span;
}

bool MakeLoop(AudioBuffer& audio, double start, double length, double overlap) {
    if (audio.rate <= 0 || audio.channels <= 0) return false;
    const size_t loopFrames = static_cast<size_t>(std::llround(std::max(0.0, length) * audio.rate));
    const size_t overlapFrames = std::min(static_cast<size_t>(std::max(0.0, overlap) * audio.rate), loopFrames);
    const size_t startFrame = static_cast<size_t>(std::max(0.0, start) * audio.rate);
    if (loopFrames == 0 || audio.frames() < startFrame + loopFrames + overlapFrames) return false;

    const size_t channels = static_cast<size_t>(audio.channels);
    const float* source = &audio.samples[startFrame * channels];
    std::vector<float> loop(source, source + loopFrames * channels);
    // What follows the loop fades out over its start while the start fades in.
    const float* tail = source + loopFrames * channels;
    for (size_t i = 0; i < overlapFrames; ++i) {
        const double theta = std::numbers::pi / 2 * (static_cast<double>(i) + 0.5) / static_cast<double>(overlapFrames);
        for (size_t c = 0; c < channels; ++c) {
            float& sample = loop[i * channels + c];
            sample = static_cast<float>(std::cos(theta) * tail[i * channels + c] + std::sin(theta) * sample);
        }
    }
    audio.samples = std::move(loop);
    return true;
}

void TrimSound(AudioBuffer& audio, double length) {
    const double peak = PeakOf(audio);
    if (audio.rate <= 0 || audio.channels <= 0 || audio.frames() == 0 || peak <= 0) return;
    const size_t frames = audio.frames();
    const size_t rate = static_cast<size_t>(audio.rate);

    size_t onset = 0;
    while (onset < frames && !frameExceeds(audio, onset, 0.0316 * peak)) ++onset;
    size_t end = frames;
    while (end > 0 && !frameExceeds(audio, end - 1, 0.00316 * peak)) --end;

    size_t begin = onset;
    size_t fadeIn = rate / 1000;
    if (onset > 0) {
        fadeIn = std::min(onset, rate / 200);
        begin = onset - fadeIn;
    }
    size_t kept = std::min(end + rate / 50, frames) - begin;
    size_t fadeOut = rate / 200;
    const size_t wanted = static_cast<size_t>(std::max(0.0, length) * audio.rate);
    if (wanted > 0 && wanted < kept) {
        kept = wanted;
        fadeOut = std::max(fadeOut, wanted / 5);
    }

    const size_t channels = static_cast<size_t>(audio.channels);
    audio.samples = std::vector<float>(audio.samples.begin() + static_cast<std::ptrdiff_t>(begin * channels),
                                       audio.samples.begin() + static_cast<std::ptrdiff_t>((begin + kept) * channels));
    fadeFrames(audio, 0, std::min(fadeIn, kept), true);
    fadeOut = std::min(fadeOut, kept);
    fadeFrames(audio, kept - fadeOut, fadeOut, false);
}

}  // namespace vorlane
