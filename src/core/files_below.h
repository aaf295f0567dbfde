// Every file in a folder tree, for the checks that walk a theme's folders.
#pragma once

#include <string>
#include <vector>

namespace vorlane {

// The files below `folder` as paths relative to it, parts joined with "\":
// each folder's entries in the order the file system lists them, a
// subfolder's files where the subfolder is met. Empty when the folder can't be listed.
std::vector<std::wstring> filesBelow(const std::wstring& folder);

// The folders below `folder` that hold nothing, as paths relative to it in the
// same form and order.
std::vector<std::wstring> emptyFoldersBelow(const std::wstring& folder);

}  // namespace vorlane
