// What an end-to-end test reads back from a root folder the launcher installed
// into: launcher.ini, the build folders, and the stand-in games it started.
#pragma once

#include <string>

namespace vorlane::testing {

// A key of launcher.ini's [Launcher] section in the root folder; empty when absent.
std::wstring launcherSetting(const std::wstring& root, const std::wstring& key);

// root\Game\<commit>\Vorlane-<commit>: a build folder in the default install folder.
std::wstring installedBuildFolder(const std::wstring& root, const std::wstring& commit);

// Ends every stand-in game started from a build folder under root\Game (each
// writes its process id into started.txt there) and waits until it is gone.
void endStartedGames(const std::wstring& root);

}  // namespace vorlane::testing
