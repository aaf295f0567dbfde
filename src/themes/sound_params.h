// What a sound or music file must become: the rate, channels, length and loop
// that the audio saver turns ComfyUI's output into.
#pragma once

namespace vorlane {

struct SoundParams {
    int channels = 2;           // 1 mono, 2 stereo
    int rate = 48000;           // Hz
    double shortest = 0;        // seconds; the low end of the slot's length, 0 when none
    bool isMusic = false;
    bool loops = false;         // music, or a sound the slot marks as looping
    double loopGap = 0;         // seconds kept clear before a loop starts
    double length = 0;          // seconds the finished file lasts (the loop's length when it loops)
    double overlap = 0;         // seconds of the end laid over the start to close a loop
    int tempo = 0;              // beats per minute, music only
    bool checkBrightness = false;  // sounds are checked for shrillness, music isn't
    bool LastSeedTry = false;   // the last try after seed retries: a shorter loop is kept
    bool LastWarmTry = false;   // the last try after warm retries: a shrill sound is softened
};

}  // namespace vorlane
