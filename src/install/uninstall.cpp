#include "install/uninstall.h"

#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_folders.h"
#include "install/player_data.h"
#include "install/shortcuts.h"

namespace vorlane {

namespace {

// Copies the saves a later install would have brought over into PlayerData.
bool keepPlayerData(LauncherState& state) {
    const std::wstring saved = savedFolderToBringOver(state);
    if (saved.empty()) return true;
    if (!copyFolderTree(saved, playerDataFolder(state))) {
        state.lastError = L"Couldn't copy your settings and saves out of the game's folder, so nothing was uninstalled.";
        logLine(state, L"Failed: " + state.lastError);
        return false;
    }
    logLine(state, L"Kept your settings and saves in " + playerDataFolder(state) + L".");
    return true;
}

void forgetInstalledBuilds(LauncherState& state) {
    state.current.clear();
    state.currentReleased.clear();
    state.previous.clear();
    state.previousReleased.clear();
    state.heldBack.clear();
    state.currentFilesPresent = false;
    saveInstallState(state);
}

}  // namespace

bool uninstall(LauncherState& state, bool everything) {
    if (!everything && !keepPlayerData(state)) return false;

    deleteBuildFolders(state.installDir);
    deleteFolderTree(joinPath(state.rootFolder, L"Downloads"));
    if (everything) deleteFolderTree(playerDataFolder(state));
    if (state.makeShortcuts) removeShortcuts(state);
    forgetInstalledBuilds(state);

    logLine(state, everything ? L"Uninstalled, player data too." : L"Uninstalled; player data kept.");
    return true;
}

}  // namespace vorlane
