// Finding where a sound plays, cutting a seamless loop from it, or trimming a
// one-shot sound to its audible part.
#pragma once

#include "media/audio_buffer.h"

namespace vorlane {

struct SoundSpan {
    double start = 0;  // seconds: where the sound starts
    double end = 0;    // seconds: where it goes quiet
};

// Levels (RMS) of consecutive windows of `windowSeconds`; the sound plays from
// the first to the last window whose level is at least 0.063 of the level at
// the 75th percentile (about 24 dB under the loud part).
SoundSpan FindSoundSpan(const AudioBuffer& audio, double windowSeconds);

// Replaces the buffer with the `length` seconds from `start`, with the
// `overlap` seconds after them laid over the loop's start in an equal-power
// crossfade, so its end runs on into its start. False (buffer unchanged) when
// the length is 0 frames or the buffer is too short for start, length and overlap.
bool MakeLoop(AudioBuffer& audio, double start, double length, double overlap);

// Cuts a one-shot sound to where it is audible: from 5 ms before its onset
// (-30 dB under its peak), faded in, to 20 ms after it falls under -50 dB,
// faded out; a `length` (seconds) above 0 shorter than that cuts it there with a
// fade-out of at least a fifth of it. Nothing when the buffer is empty or silent.
void TrimSound(AudioBuffer& audio, double length);

}  // namespace vorlane
