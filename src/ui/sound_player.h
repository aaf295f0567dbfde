// A sound played through the system for a window: from bytes it holds itself
// until the sound has stopped, or from its file, so nothing it plays from can
// be freed under it. The sound stops when the player goes.
#pragma once

#include <memory>
#include <string>

namespace vorlane {

class SoundPlayer {
public:
    SoundPlayer() = default;
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;
    ~SoundPlayer() { stop(); }

    // Plays a WAV asynchronously, from `wav` when there are bytes, else from
    // the file at `path`; any sound it played before stops first. False when
    // the system has no way to play it.
    bool play(std::shared_ptr<const std::string> wav, const std::wstring& path);
    // Stops the sound (nothing when none plays) and lets its bytes go.
    void stop();
    bool playing() const { return playing_; }

private:
    std::shared_ptr<const std::string> bytes_;  // what the system reads while the sound plays
    bool playing_ = false;
};

}  // namespace vorlane
