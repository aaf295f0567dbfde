// Other spellings of a folder, made on the Linux side of the Wine prefix the
// tests run in: a symbolic link to it, and a drive letter of its own (a link in
// the prefix's dosdevices folder). Wine has no call that makes either.
#pragma once

#include <string>

namespace vorlane::testing {

// Runs a /bin/sh script natively and waits (up to 30 s) for it to end; true
// when it exited with 0. Windows paths in it must be turned into Linux ones
// first (unixPath).
bool runShell(const std::string& script);

// The Linux path of a Windows path of the prefix, quoted for the shell; empty
// when Wine can't tell.
std::string unixPath(const std::wstring& windowsPath);

// Makes `link` a symbolic link to the folder `target`; true when it is there.
bool makeFolderLink(const std::wstring& link, const std::wstring& target);

// A drive letter for `folder` for the life of the object: "X:" or so, empty
// when none could be made.
class DriveLetter {
public:
    explicit DriveLetter(const std::wstring& folder);
    DriveLetter(const DriveLetter&) = delete;
    DriveLetter& operator=(const DriveLetter&) = delete;
    ~DriveLetter();
    const std::wstring& drive() const { return drive_; }

private:
    std::wstring drive_;
};

}  // namespace vorlane::testing
