#include "ui/sound_player.h"

#include <windows.h>

#include <mmsystem.h>

namespace vorlane {

bool SoundPlayer::play(std::shared_ptr<const std::string> wav, const std::wstring& path) {
    stop();
    const DWORD how = SND_ASYNC | SND_NODEFAULT;
    const bool fromMemory = wav && !wav->empty();
    const BOOL started =
        fromMemory ? PlaySoundW(reinterpret_cast<const wchar_t*>(wav->data()), nullptr, how | SND_MEMORY)
                   : PlaySoundW(path.c_str(), nullptr, how | SND_FILENAME);
    if (!started) return false;
    if (fromMemory) bytes_ = std::move(wav);
    playing_ = true;
    return true;
}

void SoundPlayer::stop() {
    // Stopping waits for the system to let go of the sound, so its bytes can go after.
    if (playing_) PlaySoundW(nullptr, nullptr, 0);
    playing_ = false;
    bytes_.reset();
}

}  // namespace vorlane
