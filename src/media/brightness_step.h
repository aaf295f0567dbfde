// The audio saver's brightness step for sound effects: a shrill try is refused
// (and the least shrill one remembered) until the last try, which is softened.
#pragma once

#include <string>
#include <vector>

#include "media/audio_buffer.h"
#include "media/brightness.h"

namespace vorlane {

// Kept by the theme creation job for one sound across its tries (cleared before
// the first): how many tries were too bright, and the least bright of them.
struct AudioMemory {
    int tooBrightTries = 0;
    std::vector<float> samples;
    int channels = 0;
    int rate = 0;
    Brightness measure;

    bool holdsTry() const { return !samples.empty(); }
    void clear() { *this = AudioMemory(); }
};

struct BrightnessVerdict {
    std::wstring error;      // "It's too bright (...)." when the try is refused; empty otherwise
    bool tooBright = false;  // the try is refused for brightness: make it again, warmer
};

// Measures the levelled sound. Too bright before the last warm try: remembers it
// when it is the least bright so far and refuses it. Too bright on the last try:
// softens the least bright try (this one, or the remembered one when that
// scored lower and has this one's channels and rate) into `audio` and adds a
// sentence about it to `note`.
BrightnessVerdict CheckSoundBrightness(AudioBuffer& audio, bool loops, bool lastWarmTry, AudioMemory& memory,
                                       std::wstring& note);

}  // namespace vorlane
