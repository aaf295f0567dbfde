#include "core/single_instance.h"

#include <windows.h>

#include "core/text.h"
#include "core/window_messages.h"

namespace vorlane {

const wchar_t* const kMainWindowClass = L"VorlaneLauncher";
const wchar_t* const kInstanceRootProperty = L"VorlaneLauncherRoot";

std::wstring canonicalRoot(const std::wstring& rootFolder) {
    std::wstring path = rootFolder;
    DWORD size = GetFullPathNameW(rootFolder.c_str(), 0, nullptr, nullptr);
    if (size > 0) {
        std::wstring full(size, L'\0');
        DWORD length = GetFullPathNameW(rootFolder.c_str(), size, full.data(), nullptr);
        if (length > 0 && length < size) path.assign(full.data(), length);
    }
    size = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (size > 0) {
        std::wstring longer(size, L'\0');
        DWORD length = GetLongPathNameW(path.c_str(), longer.data(), size);
        if (length > 0 && length < size) path.assign(longer.data(), length);
    }
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return lowerCase(path);
}

unsigned instanceHash(const std::wstring& rootFolder) {
    unsigned hash = 2166136261u;
    for (wchar_t unit : canonicalRoot(rootFolder)) {
        hash ^= (unsigned)(unsigned short)unit;
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

std::wstring instanceMutexName(unsigned hash) { return L"Local\\VorlaneLauncher-" + std::to_wstring(hash); }

bool SingleInstance::acquire(unsigned hash, DWORD waitMs) {
    mutex_.reset(CreateMutexW(nullptr, FALSE, instanceMutexName(hash).c_str()));
    if (!mutex_) return true;
    DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        owned_ = true;
        return true;
    }
    mutex_.reset();
    return false;
}

void SingleInstance::release() {
    if (owned_) ReleaseMutex(mutex_.get());
    owned_ = false;
    mutex_.reset();
}

namespace {
struct WindowSearch {
    unsigned hash;
    HWND found;
};

BOOL CALLBACK checkWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    wchar_t className[64];
    if (!GetClassNameW(window, className, 64) || wcscmp(className, kMainWindowClass) != 0) return TRUE;
    if ((unsigned)(UINT_PTR)GetPropW(window, kInstanceRootProperty) != search->hash) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

HWND findLauncherWindow(unsigned hash) {
    WindowSearch search{hash, nullptr};
    EnumWindows(checkWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool bringFirstWindowForward(unsigned hash) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt > 0) Sleep(200);
        WindowSearch search{hash, findLauncherWindow(hash)};
        if (!search.found) continue;
        DWORD processId = 0;
        GetWindowThreadProcessId(search.found, &processId);
        AllowSetForegroundWindow(processId);
        if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
        SetForegroundWindow(search.found);
        PostMessageW(search.found, kOpenedAgainMessage, 0, 0);
        return true;
    }
    return false;
}

}  // namespace vorlane
