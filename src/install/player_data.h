// The player's settings and saves: where a build keeps them, which ones an
// install carries over, and where they wait while no build is installed.
#pragma once

#include <string>

#include "core/launcher_state.h"

namespace vorlane {

// rootFolder\PlayerData: a copy of a build's Saved folder kept over an uninstall.
std::wstring playerDataFolder(const LauncherState& state);

// The build folder of `commit` joined with Vorlane\Saved.
std::wstring savedFolder(const LauncherState& state, const std::wstring& commit);

// The Saved folder a new install brings over, or empty when there is none: the
// first that exists of current's, previous's, and else the most recently written
// one among the build folders in installDir whose names are commit ids.
std::wstring savedFolderToBringOver(const LauncherState& state);

// After an install: when the new build has no Saved\SaveGames yet and kept
// player data exists, copies that data into the build's Saved folder. The kept
// data stays where it is.
void restoreKeptSaves(LauncherState& state);

}  // namespace vorlane
