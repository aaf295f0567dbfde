// Numbers in the sentences of the sound checks and the audio saver.
#pragma once

#include <string>

namespace vorlane {

// printf-style formatting into UTF-16 (the C locale: "." before decimals).
std::wstring FormatText(const wchar_t* format, ...);

// A time in seconds for the player: one decimal and " s" ("29.6 s").
std::wstring SecondsText(double seconds);

}  // namespace vorlane
