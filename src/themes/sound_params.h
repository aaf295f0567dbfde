// What a sound or music file must become: the rate, channels, length and loop
// that the audio saver turns ComfyUI's output into, and how long the workflow
// is asked to make; worked out from the slot that asks for it.
#pragma once

#include <string>

#include "core/theme_slot.h"

namespace vorlane {

struct SoundParams {
    int channels = 2;           // 1 mono, 2 stereo
    int rate = 48000;           // Hz
    double shortest = 0;        // seconds; the low end of the slot's length, 0 when none
    double longest = 0;         // seconds; the high end, 0 when none
    bool isMusic = false;
    bool loops = false;         // music, or a sound the slot marks as looping
    double generateSeconds = 0; // how long the workflow is asked to make
    double loopGap = 0;         // seconds kept clear before a loop starts
    double length = 0;          // seconds the finished file lasts (the loop's length when it loops)
    double overlap = 0;         // seconds of the end laid over the start to close a loop
    int tempo = 0;              // beats per minute, music only
    bool checkBrightness = false;  // sounds are checked for shrillness, music isn't
    bool LastSeedTry = false;   // the last try after seed retries: a shorter loop is kept
    bool LastWarmTry = false;   // the last try after warm retries: a shrill sound is softened
};

// What a slot's Format says of its sound: "mono" or "stereo", a rate such as
// "44.1 kHz" (8 to 96 kHz) and a length such as "1-2 s", "under 2 s" or
// "2-3 min" (up to 600 seconds), pieces between commas, the last of a kind
// winning. What it doesn't say stays at 48000 Hz, stereo and no length.
struct AudioFormat {
    int rate = 48000;
    int channels = 2;
    double shortest = 0;
    double longest = 0;
};
AudioFormat ParseAudioFormat(const std::wstring& format);

// The parameters of a Sound or Music slot: music is made in whole four-beat
// bars at a tempo its prompt's words pick, with bars to spare; a looping
// sound gets room to close its loop; a plain sound is its longest length.
SoundParams MakeSoundParams(const ThemeSlot& slot);

}  // namespace vorlane
