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

bool readFileInBlocks(const std::wstring& path, size_t blockSize, const FileBlockSink& onBlock, bool othersWrite) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | (othersWrite ? FILE_SHARE_WRITE : 0), nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    // A small file gets a block of its own size and one byte more (which shows it grew): allocating a large block
    // for every one of thousands of small files costs more than reading them.
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart >= 0 && (unsigned long long)size.QuadPart < blockSize)
        blockSize = (size_t)size.QuadPart + 1;
    std::vector<unsigned char> block(blockSize);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), (DWORD)block.size(), &got, nullptr)) return false;
        if (got == 0) return true;
        if (!onBlock(block.data(), got)) return false;
    }
}

bool readWholeFile(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    // Straight into room for the size the file has now, in large reads; what it grows by meanwhile is appended.
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, size_t{1} << 24));
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr)) {
            bytes.resize(done);
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    std::vector<char> block(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), (DWORD)block.size(), &got, nullptr)) return false;
        if (got == 0) return true;
        bytes.append(block.data(), got);
    }
}

std::string readWholeFile(const std::wstring& path) {
    std::string bytes;
    readWholeFile(path, bytes);
    return bytes;
}

FileBlockSource wholeString(const std::string& bytes) {
    return [&bytes](const FileBlockSink& write) {
        return write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    };
}

bool writeFileThrough(const std::wstring& path, const std::string& bytes) {
    return writeFileThrough(path, wholeString(bytes));
}

bool writeFileThrough(const std::wstring& path, const FileBlockSource& source) {
    const std::wstring target = longPath(path);
    DWORD error = ERROR_SUCCESS;
    {
        FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) return false;
        const FileBlockSink write = [&](const unsigned char* bytes, size_t size) {
            size_t done = 0;
            while (done < size && error == ERROR_SUCCESS) {
                DWORD chunk = (DWORD)std::min<size_t>(size - done, 1048576);
                DWORD written = 0;
                if (!WriteFile(file.get(), bytes + done, chunk, &written, nullptr))
                    error = GetLastError();
                else if (written != chunk)
                    error = ERROR_DISK_FULL;
                done += written;
            }
            return error == ERROR_SUCCESS;
        };
        // A source that gives up without a failed write still leaves no file behind.
        if (!source(write) && error == ERROR_SUCCESS) error = ERROR_CANCELLED;
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
    }
    if (error == ERROR_SUCCESS) return true;
    DeleteFileW(target.c_str());
    SetLastError(error);
    return false;
}

bool flushFile(const std::wstring& path) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

bool writeFileAtomically(const std::wstring& path, const std::string& bytes) {
    return writeFileAtomically(path, wholeString(bytes));
}

bool writeFileAtomically(const std::wstring& path, const FileBlockSource& source) {
    const std::wstring part = path + L".part";
    if (!writeFileThrough(part, source)) return false;
    if (MoveFileExW(longPath(part).c_str(), longPath(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    DeleteFileW(longPath(part).c_str());
    SetLastError(error);
    return false;
}

bool pathExists(const std::wstring& path) {
    return !path.empty() && GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool fileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileSize(const std::wstring& path, long long& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(longPath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = (long long)(((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow);
    return true;
}

bool folderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeFolderTree(const std::wstring& folder) {
    if (folder.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // Make each parent first, from the top down; failures are seen at the end,
    // and the first one is the reason given.
    DWORD firstError = ERROR_SUCCESS;
    auto make = [&](const std::wstring& path) {
        if (!folderExists(path) && !CreateDirectoryW(longPath(path).c_str(), nullptr) && firstError == ERROR_SUCCESS)
            firstError = GetLastError();
    };
    for (size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] != L'\\' && folder[i] != L'/') continue;
        std::wstring parent = folder.substr(0, i);
        if (parent.empty() || parent.back() == L':' || parent == L"\\" || parent == L"\\\\") continue;
        make(parent);
    }
    make(folder);
    if (folderExists(folder)) return true;
    SetLastError(firstError == ERROR_SUCCESS ? ERROR_PATH_NOT_FOUND : firstError);
    return false;
}

std::vector<FolderEntry> listFolder(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(longPath(joinPath(folder, pattern)).c_str(), &found));
    if (!search) return entries;
    do {
        FolderEntry entry;
        entry.name = found.cFileName;
        if (entry.name == L"." || entry.name == L"..") continue;
        entry.isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        entry.isLink = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
        entry.lastWriteTime = (uint64_t(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search.get(), &found));
    return entries;
}

uint64_t newestWriteTimeIn(const std::wstring& folder) {
    uint64_t newest = 0;
    for (const FolderEntry& entry : listFolder(folder)) {
        const uint64_t time = entry.isFolder ? (entry.isLink ? 0 : newestWriteTimeIn(joinPath(folder, entry.name)))
                                             : entry.lastWriteTime;
        newest = std::max(newest, time);
    }
    return newest;
}

uint64_t lastWriteTimeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(longPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool deleteFolderTree(const std::wstring& folder) {
    for (const FolderEntry& entry : listFolder(folder)) {
        const std::wstring path = joinPath(folder, entry.name);
        // A link to a folder is removed itself; what it points at is not touched.
        if (entry.isFolder && !entry.isLink) {
            deleteFolderTree(path);
        } else if (entry.isFolder) {
            SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            RemoveDirectoryW(longPath(path).c_str());
        } else {
            // A link's attributes would be those of what it points at.
            if (!entry.isLink) SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(longPath(path).c_str());
        }
    }
    RemoveDirectoryW(longPath(folder).c_str());
    return !folderExists(folder) && !fileExists(folder);
}

bool copyFolderTree(const std::wstring& source, const std::wstring& target) {
    if (!makeFolderTree(target)) return false;
    if (!folderExists(source)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    DWORD firstError = ERROR_SUCCESS;
    bool all = true;
    for (const FolderEntry& entry : listFolder(source)) {
        const std::wstring from = joinPath(source, entry.name), to = joinPath(target, entry.name);
        bool copied;
        if (entry.isFolder) {
            copied = copyFolderTree(from, to);
        } else {
            // A read-only file in the way would refuse to be replaced.
            if (fileExists(to)) SetFileAttributesW(longPath(to).c_str(), FILE_ATTRIBUTE_NORMAL);
            copied = CopyFileW(longPath(from).c_str(), longPath(to).c_str(), FALSE);
        }
        if (!copied && all) firstError = GetLastError();
        all = all && copied;
    }
    SetLastError(firstError);
    return all;
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
