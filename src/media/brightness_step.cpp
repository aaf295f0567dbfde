#include "media/brightness_step.h"

#include "media/audio_text.h"
#include "media/soften_highs.h"

namespace vorlane {

namespace {

bool scoresLower(const Brightness& measure, const AudioMemory& memory) {
    return BrightnessScore(measure) < BrightnessScore(memory.measure);
}

void remember(const AudioBuffer& audio, const Brightness& measure, AudioMemory& memory) {
    memory.samples = audio.samples;
    memory.channels = audio.channels;
    memory.rate = audio.rate;
    memory.measure = measure;
}

}  // namespace

BrightnessVerdict CheckSoundBrightness(AudioBuffer& audio, bool loops, bool lastWarmTry, AudioMemory& memory,
                                       std::wstring& note) {
    const Brightness measure = MeasureBrightness(audio, kBrightnessCutoffHz);
    if (!IsTooBright(measure)) return {};

    if (!lastWarmTry) {
        if (!memory.holdsTry() || scoresLower(measure, memory)) remember(audio, measure, memory);
        ++memory.tooBrightTries;
        return {L"It's too bright (" + DescribeBrightness(measure) + L").", true};
    }

    Brightness kept = measure;
    if (memory.holdsTry() && !scoresLower(measure, memory) && memory.channels == audio.channels &&
        memory.rate == audio.rate) {
        audio.samples = memory.samples;
        kept = memory.measure;
    }
    const Softening softening = SoftenHighs(audio, loops);

    const int tries = memory.tooBrightTries + 1;
    if (!note.empty()) note += L" ";
    note += L"It was still too bright after " + std::to_wstring(tries) + (tries == 1 ? L" try (" : L" tries (") +
            DescribeBrightness(kept) + L"), so it was " +
            FormatText(L"softened, what's above %g kHz turned down by up to %.0f dB", kShelfCornerHz / 1000,
                       softening.cutDb) +
            (IsTooBright(softening.after) ? L": still bright, but quieter."
                                          : L" (" + DescribeBrightness(softening.after) + L").");
    return {};
}

}  // namespace vorlane
