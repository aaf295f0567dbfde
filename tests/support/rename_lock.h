// Holds a file open for reading without delete sharing, as another program
// reading it might: while held, the file can be read but not renamed or deleted.
// Held with no sharing at all (`share` 0), as a running game may hold its
// files, it can't even be read.
#pragma once

#include <windows.h>

#include <string>

namespace vorlane::testing {

class RenameLock {
public:
    explicit RenameLock(const std::wstring& path, DWORD share = FILE_SHARE_READ)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    RenameLock(const RenameLock&) = delete;
    RenameLock& operator=(const RenameLock&) = delete;
    ~RenameLock() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    bool held() const { return file_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE file_;
};

}  // namespace vorlane::testing
