// Only one launcher at a time changes what lies under a root folder: the
// installed builds, launcher.ini's install state, the downloads, the add-on
// themes and the launcher itself. Every job that changes them holds this lock,
// whether it runs in a window or as a command; another launcher on the same
// root waits a short while for it and otherwise changes nothing.
#pragma once

#include <string>

#include "core/failure.h"
#include "core/handles.h"
#include "core/launcher_state.h"

namespace vorlane {

// How long a second job waits for the first before it gives up.
constexpr DWORD kRootLockWaitMs = 5000;

// "Another Vorlane launcher is changing this installation right now, so
// nothing was changed. Try again when it has finished."
extern const wchar_t* const kRootBusySentence;

// A lock of one root folder held for a scope: the file "launcher-" + what in
// lower case + ".lock" in the root folder, held open without sharing. Every
// spelling of the folder (a link to it, another drive letter, its short name,
// a "\\?\" path) reaches the same file, so launchers meet at the same lock
// however they were given the root. The system closes the file when its
// launcher ends, killed or not, so a lock is never left behind. Where the file
// can't be opened for writing (the folder is missing or can't be written, the
// file is read-only or belongs to an elevated run), the lock is at once a named
// mutex, "Local\VorlaneLauncher" + what + "-" + the root folder's instance
// key, as good as the spelling, and unusableFile() says why.
class RootMutex {
public:
    RootMutex() = default;
    RootMutex(const RootMutex&) = delete;
    RootMutex& operator=(const RootMutex&) = delete;
    ~RootMutex() { release(); }

    bool acquire(const std::wstring& what, const std::wstring& rootFolder, DWORD waitMs);
    void release();
    // Set when the last acquire couldn't use the lock file: what couldn't be
    // opened and the system error.
    const Failure& unusableFile() const { return unusableFile_; }

private:
    bool acquireByName(const std::wstring& what, const std::wstring& rootFolder, DWORD waitMs);

    FileHandle file_;
    ObjectHandle mutex_;
    bool owned_ = false;
    Failure unusableFile_;
};

// The lock file of `what` in a root folder.
std::wstring rootLockFile(const std::wstring& what, const std::wstring& rootFolder);

// The lock of the jobs that change an installation.
class RootLock {
public:
    // Waits up to waitMs for the lock of the root folder.
    bool acquire(const std::wstring& rootFolder, DWORD waitMs = kRootLockWaitMs) {
        return mutex_.acquire(L"Job", rootFolder, waitMs);
    }
    void release() { mutex_.release(); }
    const Failure& unusableFile() const { return mutex_.unusableFile(); }

private:
    RootMutex mutex_;
};

// For a job that changes the installation: takes the lock (on failure sets
// lastError to kRootBusySentence and returns false; a lock file that can't
// serve is logged), then reads the install
// state again from launcher.ini, since another launcher may have changed it
// since this one started. The caller runs the job while `lock` is held.
bool lockRootForJob(LauncherState& state, RootLock& lock);

}  // namespace vorlane
