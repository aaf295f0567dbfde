// How bright a sound is: where its power sits in the spectrum, and the rule
// that calls a sound too bright.
#pragma once

#include <string>

#include "media/audio_buffer.h"

namespace vorlane {

struct Brightness {
    double centroid = 0;  // Hz: the power-weighted mean frequency
    double share = 0;     // 0..1: the part of the power at or above the cut-off
};

constexpr double kBrightnessCutoffHz = 4000;
constexpr double kBrightCentroidHz = 5000;  // centred above this is too bright
constexpr double kBrightShare = 0.6;        // more than this much above the cut-off is too bright

// The spectrum of the sound mixed to mono, in Hann windows of 2048 frames with
// a hop of 1024 (the last one padded with silence), power summed over all
// windows; the DC bin is left out. No channels or no rate measure 0 and 0.
Brightness MeasureBrightness(const AudioBuffer& audio, double cutoffHz);

bool IsTooBright(const Brightness& brightness);

// The larger of centroid / 5000 Hz and share / 0.6: above 1 is too bright, and
// of two sounds the one with the lower score is the less bright.
double BrightnessScore(const Brightness& brightness);

// "centred on 1.0 kHz, 0% of it above 4 kHz".
std::wstring DescribeBrightness(const Brightness& brightness);

// "centred above 5 kHz, or over 60% of it above 4 kHz".
std::wstring BrightnessRuleText();

}  // namespace vorlane
