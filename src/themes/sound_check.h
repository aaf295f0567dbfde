// The sound check: measures every WAV of a theme's sound-effect folder and
// lists the ones that are too bright (the sound-check command).
#pragma once

#include <functional>
#include <string>

namespace vorlane {

// Reads every ".wav" below the theme's "Audio\SFX" folder (or, when there is
// none, its "Import\Audio\SFX" folder) and reports, one line at a time: each
// file it can't read, a summary, then the sounds that are too bright,
// brightest first. True when at least one WAV was read.
bool SoundCheck(const std::wstring& themeFolder, const std::function<void(const std::wstring&)>& report);

}  // namespace vorlane
