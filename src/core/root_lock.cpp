#include "core/root_lock.h"

#include <algorithm>

#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/single_instance.h"
#include "core/text.h"

namespace vorlane {

const wchar_t* const kRootBusySentence =
    L"Another Vorlane launcher is changing this installation right now, so nothing was changed. Try again when it "
    L"has finished.";

std::wstring rootLockFile(const std::wstring& what, const std::wstring& rootFolder) {
    return joinPath(rootFolder, L"launcher-" + lowerCase(what) + L".lock");
}

bool RootMutex::acquire(const std::wstring& what, const std::wstring& rootFolder, DWORD waitMs) {
    release();
    unusableFile_ = {};
    const std::wstring path = longPath(rootLockFile(what, rootFolder));
    const ULONGLONG end = GetTickCount64() + waitMs;
    for (;;) {
        file_ = FileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (file_) return owned_ = true;
        const DWORD error = GetLastError();
        // Held by another launcher: wait for it. Anything else, access denied
        // included (the lock file is never deleted, so that is a file or folder
        // this launcher may not write): the file can't serve, and the name does
        // at once rather than after a wait for a launcher that isn't there.
        if (error != ERROR_SHARING_VIOLATION) {
            unusableFile_ = systemFailure(L"Couldn't open the lock file " + rootLockFile(what, rootFolder) +
                                              L" for writing, so launchers take turns by the root folder's name as "
                                              L"spelled here.",
                                          error);
            const ULONGLONG now = GetTickCount64();
            return acquireByName(what, rootFolder, now < end ? DWORD(end - now) : 0);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        Sleep(DWORD(std::min<ULONGLONG>(end - now, 20)));
    }
}

bool RootMutex::acquireByName(const std::wstring& what, const std::wstring& rootFolder, DWORD waitMs) {
    const std::wstring name = L"Local\\VorlaneLauncher" + what + L"-" + std::to_wstring(instanceHash(rootFolder));
    mutex_.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex_) return false;
    const DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!owned_) mutex_.reset();
    return owned_;
}

void RootMutex::release() {
    if (owned_ && mutex_) ReleaseMutex(mutex_.get());
    owned_ = false;
    mutex_.reset();
    file_.close();
}

bool lockRootForJob(LauncherState& state, RootLock& lock) {
    const bool locked = lock.acquire(state.rootFolder);
    if (lock.unusableFile()) logLine(state, lock.unusableFile().text());
    if (!locked) {
        state.lastError = kRootBusySentence;
        return false;
    }
    loadInstallState(state);
    return true;
}

}  // namespace vorlane
