#include "install/build_folders.h"

#include <windows.h>

#include "core/text.h"
#include "install/build_list.h"

namespace vorlane {

bool isBuildFolderName(const std::wstring& name) {
    const std::wstring staging = L".new";
    if (name.size() > staging.size() && name.ends_with(staging))
        return isCommitId(name.substr(0, name.size() - staging.size()));
    return isCommitId(name);
}

std::vector<FolderEntry> buildFolders(const std::wstring& installDir) {
    std::vector<FolderEntry> folders;
    for (FolderEntry& entry : listFolder(installDir)) {
        if (entry.isFolder && isBuildFolderName(entry.name)) folders.push_back(std::move(entry));
    }
    return folders;
}

void deleteBuildFolders(const std::wstring& installDir) {
    for (const FolderEntry& folder : buildFolders(installDir)) deleteFolderTree(joinPath(installDir, folder.name));
    // Only an empty folder is removed: anything else in it is the player's.
    RemoveDirectoryW(longPath(installDir).c_str());
}

}  // namespace vorlane
