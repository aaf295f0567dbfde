// Converting a sound to the channel count and sample rate a theme file wants.
#pragma once

#include "media/audio_buffer.h"

namespace vorlane {

// One channel: each frame becomes the mean of its channels. More: output
// channel k takes source channel k, or channel 0 when the source has fewer
// (so mono becomes equal left and right). Nothing when the count is already n.
void SetChannels(AudioBuffer& audio, int channels);

// The rational ratio new / old in lowest terms: rate is multiplied by `up` and divided by `down`.
struct ResampleRatio {
    long long up = 1;
    long long down = 1;
};
ResampleRatio ResampleRatioOf(int oldRate, int newRate);

// Band-limited rate conversion: a Blackman-windowed sinc of 2N taps, cut off
// at 0.95 of the lower of the two Nyquist frequencies, N = ceil(32 / cut-off).
// Nothing when the rates are equal or either isn't positive.
void Resample(AudioBuffer& audio, int newRate);

}  // namespace vorlane
