// Peak and loudness of a sound, and the levels the saved sounds are set to.
#pragma once

#include "media/audio_buffer.h"

namespace vorlane {

// -1 dBFS (10^-0.05): no saved sound peaks above it.
constexpr double kPeakCeiling = 0.89125093813374556;
// Below this peak a sound counts as silent.
constexpr double kSilentPeak = 0.0001;
constexpr double kMusicLoudnessDbfs = -18;
constexpr double kSoundLoudnessDbfs = -16;

// The largest absolute sample; 0 for an empty buffer.
double PeakOf(const AudioBuffer& audio);

// The root mean square of every sample (all channels); 0 for an empty buffer.
double RootMeanSquareOf(const AudioBuffer& audio);

void ScaleSamples(AudioBuffer& audio, double gain);

// Brings the sound's RMS level to `targetDbfs`, unless that would push its peak
// over -1 dBFS, in which case the peak lands on -1 dBFS instead. False (and
// nothing changed) when there are no samples or the peak is under 0.0001.
bool SetLoudness(AudioBuffer& audio, double targetDbfs);

}  // namespace vorlane
