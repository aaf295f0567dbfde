// Sounds for the audio tests: tones and noise made in memory, measures of
// them, and the folder of sound files that sox and flac made for the run.
#pragma once

#include <string>

#include "media/audio_buffer.h"

namespace vorlane::testing {

// `seconds` of a sine of `frequency` Hz and peak `amplitude` (phase 0 at frame
// 0), the same in every channel.
AudioBuffer Sine(int rate, int channels, double seconds, double frequency, double amplitude);

// Uniform white noise from a fixed generator, peak about `amplitude`, mono.
AudioBuffer WhiteNoise(int rate, double seconds, double amplitude, unsigned seed = 1);

// Adds `other` (same rate and channels, at most as long) into `sound` from frame `at`.
void MixInto(AudioBuffer& sound, const AudioBuffer& other, size_t at = 0);

// The amplitude of the `frequency` Hz component of one channel over frames
// [first, last), fitted by least squares to a sine and a cosine.
double ToneAmplitude(const AudioBuffer& sound, int channel, double frequency, size_t first, size_t last);

double RmsOf(const AudioBuffer& sound);
double Decibels(double ratio);

// build/sound-files: what tests/audio/make-sound-check-files made (fixture sound_files).
std::wstring soundFilesFolder();

}  // namespace vorlane::testing
