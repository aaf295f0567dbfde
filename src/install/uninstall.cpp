#include "install/uninstall.h"

#include "core/crash_points.h"
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
    if (saved != playerDataFolder(state) && !copyFolderTree(saved, playerDataFolder(state))) {
        state.lastError =
            systemFailure(L"Couldn't copy your settings and saves out of the game's folder, so nothing was uninstalled.")
                .text();
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
}

}  // namespace

// The order keeps the newest saves safe whenever a kill cuts it short: they
// are copied out first; every build is set aside under its ".gone" name, the
// current one last, so that until it goes it is still where the next run looks
// for the newest saves; launcher.ini then says nothing is installed; and only
// then is anything deleted, so no half-deleted Saved folder is ever taken for
// the player's saves.
bool uninstall(LauncherState& state, bool everything) {
    if (!everything && !keepPlayerData(state)) return false;
    crashPoint(L"uninstall-saves-kept");

    setAllBuildsAside(state.installDir, state.current);
    crashPoint(L"uninstall-set-aside");
    LauncherState after = state;
    forgetInstalledBuilds(after);
    if (const Failure failure = saveInstallState(after)) {
        state.lastError = failure.text() + L" Nothing was uninstalled.";
        logLine(state, L"Failed: " + state.lastError);
        return false;
    }
    takeInstallState(state, after);
    crashPoint(L"uninstall-recorded");

    std::vector<std::wstring> left = deleteBuildFolders(state.installDir);
    const std::wstring downloads = joinPath(state.rootFolder, L"Downloads");
    if (!deleteFolderTree(downloads)) left.push_back(downloads);
    if (everything && !deleteFolderTree(playerDataFolder(state))) left.push_back(playerDataFolder(state));
    if (state.makeShortcuts) removeShortcuts(state);

    if (!left.empty()) {
        // The game is gone from launcher.ini all the same; what stayed is said, never passed over.
        state.lastError = L"Uninstalled, but " + left.front() +
                          L" couldn't be removed (something in it is open, or it holds a link): remove it by hand.";
        logLine(state, L"Failed: " + state.lastError);
        return false;
    }
    logLine(state, everything ? L"Uninstalled, player data too." : L"Uninstalled; player data kept.");
    return true;
}

}  // namespace vorlane
