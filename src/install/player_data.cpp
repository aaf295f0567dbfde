#include "install/player_data.h"

#include <windows.h>

#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_folders.h"
#include "install/build_list.h"
#include "net/build_server.h"

namespace vorlane {

namespace {

// The most recently written Saved folder among the build folders named by a commit id.
std::wstring newestSavedFolder(const LauncherState& state) {
    std::wstring newest;
    uint64_t newestTime = 0;
    for (const FolderEntry& folder : buildFolders(state.installDir)) {
        if (!isCommitId(folder.name)) continue;
        const std::wstring saved = savedFolder(state, folder.name);
        if (!folderExists(saved)) continue;
        const uint64_t written = lastWriteTimeOf(saved);
        if (newest.empty() || written > newestTime) {
            newest = saved;
            newestTime = written;
        }
    }
    return newest;
}

}  // namespace

std::wstring playerDataFolder(const LauncherState& state) { return joinPath(state.rootFolder, L"PlayerData"); }

std::wstring savedFolder(const LauncherState& state, const std::wstring& commit) {
    return joinPath(buildFolder(state, commit), L"Vorlane\\Saved");
}

std::wstring savedFolderToBringOver(const LauncherState& state) {
    std::vector<std::wstring> candidates;
    if (!state.current.empty()) {
        candidates.push_back(savedFolder(state, state.current));
        // The current build set aside by a repair or an uninstall that a kill
        // cut short still holds the newest saves.
        candidates.push_back(joinPath(joinPath(joinPath(state.installDir, state.current + kSetAsideSuffix),
                                               std::wstring(kBuildZipPrefix) + state.current),
                                      L"Vorlane\\Saved"));
    }
    if (!state.previous.empty()) candidates.push_back(savedFolder(state, state.previous));
    std::wstring chosen;
    for (const std::wstring& saved : candidates) {
        if (folderExists(saved)) {
            chosen = saved;
            break;
        }
    }
    if (chosen.empty()) chosen = newestSavedFolder(state);
    // Without the current build's own saves, an older build's must not win over
    // newer ones kept in PlayerData (an uninstall that a kill cut short).
    const std::wstring kept = playerDataFolder(state);
    if (!chosen.empty() && chosen != savedFolder(state, state.current) && folderExists(kept) &&
        newestWriteTimeIn(kept) > newestWriteTimeIn(chosen))
        return kept;
    return chosen;
}

void restoreKeptSaves(LauncherState& state) {
    if (state.current.empty() || !folderExists(playerDataFolder(state))) return;
    const std::wstring saved = savedFolder(state, state.current);
    if (folderExists(joinPath(saved, L"SaveGames"))) return;
    if (copyFolderTree(playerDataFolder(state), saved)) logLine(state, L"Restored your kept settings and saves.");
}

}  // namespace vorlane
