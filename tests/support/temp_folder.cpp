#include "support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace vorlane::testing {

namespace {

// Extended-length form of a drive or share path, so trees deeper than the
// classic limit can be removed too.
std::wstring extended(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.size() > 2 && path[1] == L':') return L"\\\\?\\" + path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}

std::wstring tempRoot() {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring root(buffer, length);
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    return root;
}

void removeTreeExtended(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = folder + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            const bool isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            const bool isLink = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
            if (isFolder && !isLink) removeTreeExtended(child);
            if (isFolder) {
                RemoveDirectoryW(child.c_str());
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempFolder::TempFolder(const std::wstring& prefix) {
    static std::atomic<unsigned> counter{0};
    const std::wstring root = tempRoot();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = root + L"\\" + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++);
        if (CreateDirectoryW(extended(candidate).c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    ADD_FAILURE() << "Couldn't make a temporary folder under the temporary path";
}

TempFolder::~TempFolder() {
    if (!path_.empty()) removeTree(path_);
}

std::wstring TempFolder::file(const std::wstring& name) const { return path_ + L"\\" + name; }

std::wstring TempFolder::writeFile(const std::wstring& name, const std::string& bytes) const {
    const std::wstring path = file(name);
    HANDLE handle = CreateFileW(extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "Couldn't create a test file";
        return path;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = (DWORD)std::min<size_t>(bytes.size() - done, 1 << 20);
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            ADD_FAILURE() << "Couldn't write a test file";
            break;
        }
        done += written;
    }
    CloseHandle(handle);
    return path;
}

std::wstring TempFolder::makeFolder(const std::wstring& name) const {
    const std::wstring path = file(name);
    if (!CreateDirectoryW(extended(path).c_str(), nullptr)) ADD_FAILURE() << "Couldn't make a test folder";
    return path;
}

std::string readTestFile(const std::wstring& path) {
    std::string data;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileW(extended(path).c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return data;
    char block[65536];
    DWORD got = 0;
    while (ReadFile(handle, block, sizeof block, &got, nullptr) && got > 0) data.append(block, got);
    CloseHandle(handle);
    return data;
}

void removeTree(const std::wstring& folder) { removeTreeExtended(extended(folder)); }

}  // namespace vorlane::testing
