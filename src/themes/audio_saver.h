// Turning a sound or piece of music that came back from ComfyUI into the WAV
// file the game gets: channels and rate, loop or trim, loudness, the
// brightness check, and the file itself.
#pragma once

#include <string>

#include "comfy/workflow_run.h"
#include "core/json.h"
#include "media/audio_buffer.h"
#include "media/brightness_step.h"
#include "themes/sound_params.h"
#include "media/sound_shaping.h"

namespace vorlane {

// The saver's verdict: the error sentence and the two flags that ask for another try.
using AudioSaveResult = AudioOutputResult;

// How a loop is cut from a sound that plays over `span`.
struct LoopPlan {
    double lead = 0;     // seconds before the loop starts
    double length = 0;   // seconds the loop lasts (shorter than asked on the last seed try)
    double overlap = 0;  // seconds after the loop laid over its start
    std::wstring error;  // the refusal when the sound goes quiet too early
    bool anotherSeed = false;
    std::wstring note;   // on the last seed try: why the loop is shorter than asked
};

// The lead is the larger of the sound's start and the loop gap. A sound that
// goes quiet before lead + length + overlap is refused, asking for another
// seed, unless this is the last seed try and what it holds (in whole bars for
// music) still reaches the shortest loop allowed: then the loop gets shorter.
// `name` is ComfyUI's name of the file, for the sentences.
LoopPlan PlanLoop(const SoundSpan& span, const SoundParams& params, const std::wstring& name);

// Everything after decoding: converts the sound to the wanted channels and
// rate, loops or trims it, sets its loudness, checks a sound's brightness
// (which may refuse it or soften it and add to `note`), and writes it as a
// 16-bit WAV to `outputPath` through a ".part" file, making its folder. A
// refusal leaves no file.
AudioSaveResult SaveDecodedAudio(AudioBuffer audio, const std::wstring& name, const std::wstring& outputPath,
                                 const SoundParams& params, AudioMemory& memory, std::wstring& note);

// The same from the bytes of ComfyUI's FLAC file, which are let go once decoded, before the work on the sound.
AudioSaveResult SaveFlacAudio(std::string flacBytes, const std::wstring& name, const std::wstring& outputPath,
                              const SoundParams& params, AudioMemory& memory, std::wstring& note);

// The whole way from ComfyUI's output to the WAV: fetches the FLAC file that
// `fileReference` names from address (it must begin "fLaC"), then as
// SaveFlacAudio. A fetch's error sentence comes back as it is.
AudioSaveResult SaveAudioOutput(const std::wstring& address, const JsonValue& fileReference,
                                const std::wstring& outputPath, const SoundParams& params, AudioMemory& memory,
                                std::wstring& note);

// What RunWorkflow calls to save a sound or music output: SaveAudioOutput to
// outputPath with these parameters and this try's memory (both must outlive
// the run).
AudioOutputSaver audioOutputSaver(const std::wstring& outputPath, const SoundParams& params, AudioMemory& memory);

}  // namespace vorlane
