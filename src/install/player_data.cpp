#include "install/player_data.h"

#include <windows.h>

#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_list.h"

namespace vorlane {

namespace {

bool isFolderEntry(const WIN32_FIND_DATAW& found) { return found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY; }

bool isDotEntry(const WIN32_FIND_DATAW& found) {
    return wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0;
}

// Calls onEntry for every entry of a folder but "." and ".."; stops when it returns false.
// False when the folder can't be listed or onEntry stopped the walk.
template <typename OnEntry>
bool forEachEntry(const std::wstring& folder, OnEntry onEntry) {
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(longPath(joinPath(folder, L"*")).c_str(), &found));
    if (!search) return false;
    do {
        if (!isDotEntry(found) && !onEntry(found)) return false;
    } while (FindNextFileW(search.get(), &found));
    return true;
}

// The last-write time of a folder as one number; 0 when it can't be read.
unsigned long long lastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(longPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return ((unsigned long long)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The most recently written Saved folder among the build folders named by a commit id.
std::wstring newestSavedFolder(const LauncherState& state) {
    std::wstring newest;
    unsigned long long newestTime = 0;
    forEachEntry(state.installDir, [&](const WIN32_FIND_DATAW& found) {
        if (!isFolderEntry(found) || !isCommitId(found.cFileName)) return true;
        const std::wstring saved = savedFolder(state, found.cFileName);
        if (!folderExists(saved)) return true;
        const unsigned long long written = lastWriteTime(saved);
        if (newest.empty() || written > newestTime) {
            newest = saved;
            newestTime = written;
        }
        return true;
    });
    return newest;
}

}  // namespace

std::wstring playerDataFolder(const LauncherState& state) { return joinPath(state.rootFolder, L"PlayerData"); }

std::wstring savedFolder(const LauncherState& state, const std::wstring& commit) {
    return joinPath(buildFolder(state, commit), L"Vorlane\\Saved");
}

std::wstring savedFolderToBringOver(const LauncherState& state) {
    for (const std::wstring* commit : {&state.current, &state.previous}) {
        if (!commit->empty() && folderExists(savedFolder(state, *commit))) return savedFolder(state, *commit);
    }
    return newestSavedFolder(state);
}

void restoreKeptSaves(LauncherState& state) {
    if (state.current.empty() || !folderExists(playerDataFolder(state))) return;
    const std::wstring saved = savedFolder(state, state.current);
    if (folderExists(joinPath(saved, L"SaveGames"))) return;
    if (copyFolderTree(playerDataFolder(state), saved)) logLine(state, L"Restored your kept settings and saves.");
}

}  // namespace vorlane
