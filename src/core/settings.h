// launcher.ini: the launcher's few lasting values, in the one section [Launcher].
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "core/launcher_state.h"

namespace vorlane {

// The build servers tried when neither --server nor the Servers setting names any.
extern const wchar_t* const kDefaultServers;

// Start-up: makes the root folder, opens the log and reads the settings into state.
void loadSettings(LauncherState& state);

// Reads Current, CurrentReleased, Previous, PreviousReleased and HeldBack
// (and InstallDir when set) into the state and looks whether the current
// build's game program is there. Part of the start-up load; a job that changes
// the installation reads them again once it holds the root lock.
void loadInstallState(LauncherState& state);

// Writes InstallDir, Current, CurrentReleased, Previous, PreviousReleased and
// HeldBack as one step (writeSettings). A failure comes back with its sentence.
Failure saveInstallState(const LauncherState& state);

// One key of [Launcher]; values are cut to 2047 characters.
std::wstring readSetting(const LauncherState& state, const wchar_t* key, const wchar_t* fallback = L"");

// Writes keys of [Launcher] as one step: the whole file is written beside
// launcher.ini (launcher.ini.part, flushed to disk) and put in its place with
// one replace, so that a kill or a full disk at any instant leaves either the
// old file or the new one. Launchers on the same root take turns. Empty on
// success, else "Couldn't save the launcher's settings (error N)."
using SettingValues = std::vector<std::pair<const wchar_t*, std::wstring>>;
Failure writeSettings(const LauncherState& state, const SettingValues& values);
Failure writeSetting(const LauncherState& state, const wchar_t* key, const std::wstring& value);

// Splits at ";", dropping empty pieces and trimming nothing.
std::vector<std::wstring> splitServerList(const std::wstring& text);

// Moves `server` to the front when the list holds it exactly; the others keep their order.
void moveServerToFront(std::vector<std::wstring>& servers, const std::wstring& server);

// installDir\commit\Vorlane-commit: the folder a build's zip unpacks to.
std::wstring buildFolder(const LauncherState& state, const std::wstring& commit);
// The build folder joined with Vorlane.exe.
std::wstring gameProgram(const LauncherState& state, const std::wstring& commit);

}  // namespace vorlane
