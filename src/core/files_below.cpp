#include "core/files_below.h"

#include "core/files.h"
#include "core/text.h"

namespace vorlane {

namespace {

void addFilesBelow(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& names) {
    for (const FolderEntry& entry : listFolder(joinPath(folder, relative))) {
        const std::wstring name = relative.empty() ? entry.name : relative + L"\\" + entry.name;
        if (!entry.isFolder)
            names.push_back(name);
        else if (!entry.isLink)  // a linked folder may lead outside the tree, or round in a circle
            addFilesBelow(folder, name, names);
    }
}

void addEmptyFoldersBelow(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& names) {
    for (const FolderEntry& entry : listFolder(joinPath(folder, relative))) {
        if (!entry.isFolder || entry.isLink) continue;
        const std::wstring name = relative.empty() ? entry.name : relative + L"\\" + entry.name;
        if (listFolder(joinPath(folder, name)).empty())
            names.push_back(name);
        else
            addEmptyFoldersBelow(folder, name, names);
    }
}

}  // namespace

std::vector<std::wstring> filesBelow(const std::wstring& folder) {
    std::vector<std::wstring> names;
    addFilesBelow(folder, L"", names);
    return names;
}

std::vector<std::wstring> emptyFoldersBelow(const std::wstring& folder) {
    std::vector<std::wstring> names;
    addEmptyFoldersBelow(folder, L"", names);
    return names;
}

}  // namespace vorlane
