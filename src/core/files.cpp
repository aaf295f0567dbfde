#include "core/files.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/handles.h"
#include "core/text.h"

namespace vorlane {

std::wstring longPath(const std::wstring& path) {
    if (path.size() <= 2 || path.rfind(L"\\\\?\\", 0) == 0) return path;
    std::wstring turned = path;
    for (wchar_t& c : turned)
        if (c == L'/') c = L'\\';
    if (turned[1] == L':') return L"\\\\?\\" + turned;
    if (turned.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + turned.substr(2);
    return turned;
}

std::string readWholeFile(const std::wstring& path) {
    std::string data;
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return data;
    std::vector<char> block(65536);
    DWORD got = 0;
    while (ReadFile(file.get(), block.data(), (DWORD)block.size(), &got, nullptr) && got > 0)
        data.append(block.data(), got);
    return data;
}

bool writeFileAtomically(const std::wstring& path, const std::string& bytes) {
    const std::wstring part = longPath(path + L".part");
    {
        FileHandle file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) return false;
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD chunk = (DWORD)std::min<size_t>(bytes.size() - done, 1048576);
            DWORD written = 0;
            if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written != chunk) {
                file.close();
                DeleteFileW(part.c_str());
                return false;
            }
            done += written;
        }
    }
    if (!MoveFileExW(part.c_str(), longPath(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(part.c_str());
        return false;
    }
    return true;
}

bool fileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeFolderTree(const std::wstring& folder) {
    if (folder.empty()) return false;
    // Make each parent first, from the top down; failures are seen at the end.
    for (size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] != L'\\' && folder[i] != L'/') continue;
        std::wstring parent = folder.substr(0, i);
        if (parent.empty() || parent.back() == L':' || parent == L"\\" || parent == L"\\\\") continue;
        if (!folderExists(parent)) CreateDirectoryW(longPath(parent).c_str(), nullptr);
    }
    if (!folderExists(folder)) CreateDirectoryW(longPath(folder).c_str(), nullptr);
    return folderExists(folder);
}

bool deleteFolderTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    {
        FindHandle search(FindFirstFileW(longPath(joinPath(folder, L"*")).c_str(), &found));
        if (search) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring path = joinPath(folder, name);
                // A link to a folder is removed itself; what it points at is not touched.
                bool isLink = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink) {
                    deleteFolderTree(path);
                } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
                    RemoveDirectoryW(longPath(path).c_str());
                } else {
                    SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(longPath(path).c_str());
                }
            } while (FindNextFileW(search.get(), &found));
        }
    }
    RemoveDirectoryW(longPath(folder).c_str());
    return !folderExists(folder) && !fileExists(folder);
}

bool copyFolderTree(const std::wstring& source, const std::wstring& target) {
    if (!makeFolderTree(target)) return false;
    bool copied = true;
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(longPath(joinPath(source, L"*")).c_str(), &found));
    if (!search) return false;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring from = joinPath(source, name), to = joinPath(target, name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            copied = copyFolderTree(from, to) && copied;
        } else {
            // A read-only file in the way would refuse to be replaced.
            if (fileExists(to)) SetFileAttributesW(longPath(to).c_str(), FILE_ATTRIBUTE_NORMAL);
            copied = CopyFileW(longPath(from).c_str(), longPath(to).c_str(), FALSE) && copied;
        }
    } while (FindNextFileW(search.get(), &found));
    return copied;
}

std::wstring parentFolder(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring fileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ownProgramPath() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), (DWORD)path.size());
    path.resize(length);
    return path;
}

}  // namespace vorlane
