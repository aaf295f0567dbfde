// The running game: finding it by its program path, bringing it forward, and
// starting the installed build (never a second copy).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/launcher_state.h"

namespace vorlane {

// The name test of a game program: its file name, lower-cased, starts with
// "vorlane" and holds no "launcher".
bool isGameProgramName(const std::wstring& fileName);

// True when `programPath` lies inside `folder`: both in canonical form (full
// path, long form, lower case), the program's path starting with the folder and "\".
bool isInsideFolder(const std::wstring& programPath, const std::wstring& folder);

// Ids of the running processes whose program passes the name test and lies
// inside `folder`. The launcher's own process never counts; processes that
// can't be opened are passed over.
std::vector<DWORD> findGameProcesses(const std::wstring& folder);

// When the game runs from installDir: brings its first visible, unowned
// top-level window forward (restoring it if minimised), logs that no other copy
// is started, and returns true. False when the game doesn't run.
bool bringGameToFront(LauncherState& state);

// Starts the installed build, or brings it forward when it already runs. False
// when nothing usable is installed or the program can't be started; nothing is
// logged and lastError is left alone then.
bool play(LauncherState& state);

}  // namespace vorlane
