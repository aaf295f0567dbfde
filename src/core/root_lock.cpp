#include "core/root_lock.h"

#include <algorithm>

#include "core/files.h"
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
    const std::wstring path = longPath(rootLockFile(what, rootFolder));
    const ULONGLONG end = GetTickCount64() + waitMs;
    for (;;) {
        file_ = FileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (file_) return owned_ = true;
        const DWORD error = GetLastError();
        // Held by another launcher (or being deleted): wait for it. Anything else: the file can't serve.
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
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
    if (!lock.acquire(state.rootFolder)) {
        state.lastError = kRootBusySentence;
        return false;
    }
    loadInstallState(state);
    return true;
}

}  // namespace vorlane
