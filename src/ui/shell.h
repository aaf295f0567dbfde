// What the windows ask of the Windows shell: a folder picked by the player, a
// file or folder opened with its default program, text put on the clipboard.
#pragma once

#include <windows.h>

#include <string>

namespace vorlane {

// The system's folder picker titled `title`; empty when nothing was picked.
std::wstring pickFolder(HWND owner, const wchar_t* title);

// Opens a file, a folder or a web address with the shell's "open" verb (the
// file browser, the default program, the browser); false when the shell refused.
bool openWithShell(HWND owner, const std::wstring& target);

// Puts text on the clipboard as Unicode text; false when the clipboard
// couldn't be had.
bool copyToClipboard(HWND owner, const std::wstring& text);

}  // namespace vorlane
