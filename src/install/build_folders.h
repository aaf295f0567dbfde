// The folders the launcher owns inside the install folder: one per build, named
// by its commit; the staging folder of an unfinished unpack (commit + ".new");
// and a build folder set aside to be deleted (commit + ".gone"). The player may
// pick an install folder that holds other things too; those are never the
// launcher's to remove.
//
// A build folder is never deleted under its own name: it is first renamed to
// its ".gone" name in one step, so that a kill while its files are deleted
// never leaves a half build that looks like a whole one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/launcher_state.h"

namespace vorlane {

inline constexpr wchar_t kStagingSuffix[] = L".new";
inline constexpr wchar_t kSetAsideSuffix[] = L".gone";

// A commit id, or a commit id followed by ".new" or ".gone".
bool isBuildFolderName(const std::wstring& name);
// A commit id alone: a build put in place.
bool isPlacedBuildName(const std::wstring& name);

// Where the build of `commit` is put together before it takes its place: installDir\<commit>.new.
std::wstring stagingFolder(const std::wstring& installDir, const std::wstring& commit);
// The commit whose staging folder has this name; empty when it names none.
std::wstring stagedCommit(const std::wstring& name);

// The build, staging and set-aside folders directly inside installDir.
std::vector<FolderEntry> buildFolders(const std::wstring& installDir);

// Renames installDir\name to its ".gone" name (an older one of that name is
// deleted first). True when it is out of the way; when it can't be renamed
// (a file in it is open) it is left where it is.
bool setBuildAside(const std::wstring& installDir, const std::wstring& name);

// Deletes every staging and set-aside folder: what a killed run left behind.
void deleteLeftoverFolders(const std::wstring& installDir);

// Sets every build folder aside, the one named `last` last.
void setAllBuildsAside(const std::wstring& installDir, const std::wstring& last);

// Deletes every build, staging and set-aside folder, then installDir itself
// when nothing else is left in it. Gives the launcher's folders that are still
// there afterwards.
std::vector<std::wstring> deleteBuildFolders(const std::wstring& installDir);

// "1,024 MB": whole MiB with a comma between each three digits.
std::wstring groupedMiB(uint64_t bytes);

// Before anything is downloaded: true when the disk of the install folder has
// `need` bytes free (a disk whose free space can't be told is given the
// benefit of the doubt); otherwise lastError names the need and the free space.
bool roomForBuild(LauncherState& state, const std::wstring& commit, unsigned long long need);

}  // namespace vorlane
