// The folders the launcher owns inside the install folder: one per build, named
// by its commit, and the staging folder of an unfinished unpack (commit + ".new").
// The player may pick an install folder that holds other things too; those are
// never the launcher's to remove.
#pragma once

#include <string>
#include <vector>

#include "core/files.h"

namespace vorlane {

// A commit id, or a commit id followed by ".new".
bool isBuildFolderName(const std::wstring& name);

// The build and staging folders directly inside installDir.
std::vector<FolderEntry> buildFolders(const std::wstring& installDir);

// Deletes every build and staging folder, then installDir itself when nothing
// else is left in it.
void deleteBuildFolders(const std::wstring& installDir);

}  // namespace vorlane
