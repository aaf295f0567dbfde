// Turning down the highs of a sound that is too bright, in steps, until it
// isn't or the limit is reached.
#pragma once

#include "media/audio_buffer.h"
#include "media/brightness.h"

namespace vorlane {

constexpr double kShelfCornerHz = 3000;
constexpr double kSoftenStepDb = 3;
constexpr double kSoftenMostDb = 12;

struct Softening {
    double cutDb = 0;     // how far the highs were turned down; 0 when the sound wasn't too bright
    Brightness after;     // the measure after softening (or the only one, when nothing was done)
};

// A high shelf (slope 1) of `gainDb` at `cornerHz` over every channel, a biquad
// in direct form I. Does nothing when the corner is at or above half the rate.
// For a sound that loops, the filter first runs over the whole channel without
// writing, so the loop's start carries on from the state its end leaves.
void ApplyHighShelf(AudioBuffer& audio, double gainDb, double cornerHz, bool loops);

// Measures the sound; when it is too bright, turns what's above 3 kHz down by
// 3 dB, 6 dB... (each time from the original) until it passes or 12 dB is
// reached, then keeps the peak at or under -1 dBFS.
Softening SoftenHighs(AudioBuffer& audio, bool loops);

}  // namespace vorlane
