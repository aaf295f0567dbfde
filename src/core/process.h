// Starting another program: the game, the installed launcher, the new one.
#pragma once

#include <windows.h>

#include <string>

namespace vorlane {

// Starts program as double quote + program + double quote + arguments, with
// `folder` as its working folder (the launcher's own when empty), handing down
// no handles, and lets it go: nobody waits for it. False when it couldn't be
// started, with the system's error number in error when asked.
bool startProgram(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                  DWORD* error = nullptr);

}  // namespace vorlane
