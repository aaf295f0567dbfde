// launcher.ini: the launcher's few lasting values, in the one section [Launcher].
#pragma once

#include <string>

#include "core/launcher_state.h"

namespace vorlane {

// The build servers tried when neither --server nor the Servers setting names any.
extern const wchar_t* const kDefaultServers;

// Start-up: makes the root folder, opens the log and reads the settings into state.
void loadSettings(LauncherState& state);

// Writes InstallDir, Current, CurrentReleased, Previous, PreviousReleased and HeldBack.
void saveInstallState(LauncherState& state);

// One key of [Launcher]; values are cut to 2047 characters.
std::wstring readSetting(const LauncherState& state, const wchar_t* key, const wchar_t* fallback = L"");
void writeSetting(const LauncherState& state, const wchar_t* key, const std::wstring& value);

// Splits at ";", dropping empty pieces and trimming nothing.
std::vector<std::wstring> splitServerList(const std::wstring& text);

// Moves `server` to the front when the list holds it exactly; the others keep their order.
void moveServerToFront(std::vector<std::wstring>& servers, const std::wstring& server);

// installDir\commit\Vorlane-commit: the folder a build's zip unpacks to.
std::wstring buildFolder(const LauncherState& state, const std::wstring& commit);
// The build folder joined with Vorlane.exe.
std::wstring gameProgram(const LauncherState& state, const std::wstring& commit);

}  // namespace vorlane
