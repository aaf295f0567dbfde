// Only one launcher at a time changes what lies under a root folder: the
// installed builds, launcher.ini's install state, the downloads, the add-on
// themes and the launcher itself. Every job that changes them holds this lock,
// whether it runs in a window or as a command; another launcher on the same
// root waits a short while for it and otherwise changes nothing.
#pragma once

#include <string>

#include "core/handles.h"
#include "core/launcher_state.h"

namespace vorlane {

// How long a second job waits for the first before it gives up.
constexpr DWORD kRootLockWaitMs = 5000;

// "Another Vorlane launcher is changing this installation right now, so
// nothing was changed. Try again when it has finished."
extern const wchar_t* const kRootBusySentence;

class RootLock {
public:
    RootLock() = default;
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;
    ~RootLock() { release(); }

    // Takes the lock of the root folder, waiting up to waitMs; a lock left by a
    // launcher that was killed counts as free. The lock belongs to the calling
    // thread, which must release it.
    bool acquire(const std::wstring& rootFolder, DWORD waitMs = kRootLockWaitMs);
    void release();

private:
    ObjectHandle mutex_;
    bool owned_ = false;
};

// For a job that changes the installation: takes the lock (on failure sets
// lastError to kRootBusySentence and returns false), then reads the install
// state again from launcher.ini, since another launcher may have changed it
// since this one started. The caller runs the job while `lock` is held.
bool lockRootForJob(LauncherState& state, RootLock& lock);

}  // namespace vorlane
