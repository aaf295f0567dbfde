#include "core/root_lock.h"

#include "core/settings.h"
#include "core/single_instance.h"

namespace vorlane {

const wchar_t* const kRootBusySentence =
    L"Another Vorlane launcher is changing this installation right now, so nothing was changed. Try again when it "
    L"has finished.";

bool RootMutex::acquire(const std::wstring& what, const std::wstring& rootFolder, DWORD waitMs) {
    release();
    const std::wstring name = L"Local\\VorlaneLauncher" + what + L"-" + std::to_wstring(instanceHash(rootFolder));
    mutex_.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex_) return false;
    const DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!owned_) mutex_.reset();
    return owned_;
}

void RootMutex::release() {
    if (owned_) ReleaseMutex(mutex_.get());
    owned_ = false;
    mutex_.reset();
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
