#include "themes/audio_saver.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/text.h"
#include "media/audio_conversion.h"
#include "media/audio_levels.h"
#include "media/audio_text.h"
#include "media/flac_decoder.h"
#include "media/wav_file.h"

namespace vorlane {

namespace {

constexpr double kMusicSpanWindowSeconds = 0.5;
constexpr double kSoundSpanWindowSeconds = 0.1;
constexpr int kShortestMusicLoopBars = 8;

double barSeconds(int tempo) { return 240.0 / tempo; }  // four beats

}  // namespace

LoopPlan PlanLoop(const SoundSpan& span, const SoundParams& params, const std::wstring& name) {
    LoopPlan plan;
    plan.lead = std::max(span.start, params.loopGap);
    plan.length = params.length;
    plan.overlap = params.overlap;
    if (span.end >= plan.length + plan.lead + plan.overlap) return plan;

    // It goes quiet too early: on the last seed try a shorter loop of what it holds may do.
    double available = span.end - plan.lead - plan.overlap;
    double shortest = std::max(params.shortest, 1.0);
    if (params.isMusic && params.tempo > 0) {
        const double bar = barSeconds(params.tempo);
        available = std::floor(available / bar + 0.001) * bar;
        shortest = kShortestMusicLoopBars * bar;
    }
    if (!params.LastSeedTry || available < shortest) {
        plan.error = L"ComfyUI's " + name + L" plays for only " + SecondsText(std::max(span.end - span.start, 0.0)) +
                     L", then goes quiet: too short for a loop of " + SecondsText(plan.length) + L" with " +
                     SecondsText(plan.overlap) + L" more laid over its start.";
        plan.anotherSeed = !params.LastSeedTry;
        return plan;
    }
    plan.note = L"It's " + SecondsText(available) + L", shorter than the " + SecondsText(plan.length) +
                L" asked for: it went quiet early each time.";
    plan.length = available;
    return plan;
}

AudioSaveResult SaveDecodedAudio(AudioBuffer audio, const std::wstring& name, const std::wstring& outputPath,
                                 const SoundParams& params, AudioMemory& memory, std::wstring& note) {
    SetChannels(audio, params.channels);
    Resample(audio, params.rate);

    if (params.loops) {
        const SoundSpan span =
            FindSoundSpan(audio, params.isMusic ? kMusicSpanWindowSeconds : kSoundSpanWindowSeconds);
        const LoopPlan plan = PlanLoop(span, params, name);
        if (!plan.error.empty()) return {plan.error, plan.anotherSeed, false};
        if (!plan.note.empty()) note = plan.note;
        const double duration = audio.seconds();
        if (!MakeLoop(audio, plan.lead, plan.length, plan.overlap))
            return {L"ComfyUI's " + name + L" is " + SecondsText(duration) + L" long, too short for a loop of " +
                    SecondsText(plan.length) + L" with " + SecondsText(plan.lead + plan.overlap) + L" around it."};
    } else {
        TrimSound(audio, params.length);
    }

    if (!SetLoudness(audio, params.isMusic ? kMusicLoudnessDbfs : kSoundLoudnessDbfs))
        return {L"ComfyUI's " + name + L" is silent."};

    if (params.checkBrightness) {
        BrightnessVerdict verdict = CheckSoundBrightness(audio, params.loops, params.LastWarmTry, memory, note);
        if (verdict.tooBright) return {verdict.error, false, true};
    }

    return {WriteOutputFile(outputPath, [&audio](const FileBlockSink& write) { return WriteWav(audio, write); })};
}

AudioSaveResult SaveFlacAudio(std::string flacBytes, const std::wstring& name, const std::wstring& outputPath,
                              const SoundParams& params, AudioMemory& memory, std::wstring& note) {
    AudioBuffer audio;
    const std::string problem = DecodeFlac(flacBytes, audio);
    if (!problem.empty()) return {L"ComfyUI's " + name + L" couldn't be read: " + toUtf16(problem) + L"."};
    std::string().swap(flacBytes);
    return SaveDecodedAudio(std::move(audio), name, outputPath, params, memory, note);
}

AudioSaveResult SaveAudioOutput(const std::wstring& address, const JsonValue& fileReference,
                                const std::wstring& outputPath, const SoundParams& params, AudioMemory& memory,
                                std::wstring& note) {
    std::string flac;
    const std::wstring error = FetchOutputFile(address, fileReference, "fLaC", flac);
    if (!error.empty()) return {error};
    return SaveFlacAudio(std::move(flac), textWide(member(fileReference, "filename")), outputPath, params, memory,
                         note);
}

AudioOutputSaver audioOutputSaver(const std::wstring& outputPath, const SoundParams& params, AudioMemory& memory) {
    return [outputPath, &params, &memory](const std::wstring& address, const JsonValue& fileReference,
                                          std::wstring& note) {
        return SaveAudioOutput(address, fileReference, outputPath, params, memory, note);
    };
}

}  // namespace vorlane
