#include "install/build_folders.h"

#include <windows.h>

#include "core/crash_points.h"
#include "core/text.h"
#include "install/build_list.h"

namespace vorlane {

namespace {
// The commit id a launcher folder's name starts with, or empty.
std::wstring commitOf(const std::wstring& name) {
    for (const wchar_t* suffix : {kStagingSuffix, kSetAsideSuffix}) {
        const std::wstring tail = suffix;
        if (name.size() > tail.size() && name.ends_with(tail)) return name.substr(0, name.size() - tail.size());
    }
    return name;
}
}  // namespace

bool isBuildFolderName(const std::wstring& name) { return isCommitId(commitOf(name)); }

bool isPlacedBuildName(const std::wstring& name) { return isCommitId(name); }

std::wstring stagingFolder(const std::wstring& installDir, const std::wstring& commit) {
    return joinPath(installDir, commit) + kStagingSuffix;
}

std::wstring stagedCommit(const std::wstring& name) {
    const size_t suffix = wcslen(kStagingSuffix);
    return name.size() > suffix && name.ends_with(kStagingSuffix) ? name.substr(0, name.size() - suffix)
                                                                   : std::wstring();
}

std::vector<FolderEntry> buildFolders(const std::wstring& installDir) {
    std::vector<FolderEntry> folders;
    for (FolderEntry& entry : listFolder(installDir)) {
        if (entry.isFolder && isBuildFolderName(entry.name)) folders.push_back(std::move(entry));
    }
    return folders;
}

bool setBuildAside(const std::wstring& installDir, const std::wstring& name) {
    const std::wstring from = joinPath(installDir, name);
    const std::wstring to = from + kSetAsideSuffix;
    if (folderExists(to)) deleteFolderTree(to);
    return MoveFileExW(longPath(from).c_str(), longPath(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

void deleteLeftoverFolders(const std::wstring& installDir) {
    for (const FolderEntry& folder : buildFolders(installDir)) {
        if (!isPlacedBuildName(folder.name)) deleteFolderTree(joinPath(installDir, folder.name));
    }
}

void setAllBuildsAside(const std::wstring& installDir, const std::wstring& last) {
    bool lastSeen = false;
    for (const FolderEntry& folder : buildFolders(installDir)) {
        if (folder.name == last)
            lastSeen = true;
        else if (isPlacedBuildName(folder.name))
            setBuildAside(installDir, folder.name);
    }
    if (lastSeen) setBuildAside(installDir, last);
}

std::vector<std::wstring> deleteBuildFolders(const std::wstring& installDir) {
    std::vector<std::wstring> left;
    for (const FolderEntry& folder : buildFolders(installDir)) {
        const std::wstring path = joinPath(installDir, folder.name);
        if (!deleteFolderTree(path)) left.push_back(path);
    }
    // Only an empty folder is removed: anything else in it is the player's.
    RemoveDirectoryW(longPath(installDir).c_str());
    return left;
}

namespace {
// The bytes free to this user on the disk of `folder` (or of its nearest folder
// that is there); false when the system can't tell.
bool freeSpaceOf(const std::wstring& folder, unsigned long long& bytes) {
    if (const long long told = injectedFreeSpace(); told >= 0) {
        bytes = (unsigned long long)told;
        return true;
    }
    std::wstring existing = folder;
    while (!existing.empty() && !folderExists(existing)) existing = parentFolder(existing);
    ULARGE_INTEGER available{};
    if (existing.empty() || !GetDiskFreeSpaceExW(longPath(existing).c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}
}  // namespace

std::wstring groupedMiB(uint64_t bytes) {
    std::wstring digits = std::to_wstring(bytes >> 20);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, L",");
    return digits + L" MB";
}

bool roomForBuild(LauncherState& state, const std::wstring& commit, unsigned long long need) {
    unsigned long long free = 0;
    if (!freeSpaceOf(state.installDir, free) || free >= need) return true;
    const unsigned long long mib = 1 << 20;
    state.lastError = L"There isn't room for build " + commit + L": it needs " + groupedMiB(need + mib - 1) +
                      L" free on the disk of " + state.installDir + L", which has " + groupedMiB(free) +
                      L", so nothing was downloaded. Make room, then try again.";
    return false;
}

}  // namespace vorlane
