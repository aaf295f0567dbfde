#include "media/audio_text.h"

#include <cstdarg>
#include <cwchar>

namespace vorlane {

std::wstring FormatText(const wchar_t* format, ...) {
    wchar_t text[256];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vswprintf(text, sizeof text / sizeof text[0], format, arguments);
    va_end(arguments);
    return length < 0 ? std::wstring() : std::wstring(text, static_cast<size_t>(length));
}

std::wstring SecondsText(double seconds) { return FormatText(L"%.1f s", seconds); }

}  // namespace vorlane
