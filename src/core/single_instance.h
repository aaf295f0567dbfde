// One windowed launcher per root folder: the instance key, its named mutex,
// and bringing the first window forward from a second start.
#pragma once

#include <string>

#include "core/handles.h"

namespace vorlane {

// The root folder as one key: full path, long form, no trailing "\" or "/"
// (while longer than three characters), lower case.
std::wstring canonicalRoot(const std::wstring& rootFolder);

// 32-bit FNV-1a over the UTF-16 units of the canonical root; never 0.
unsigned instanceHash(const std::wstring& rootFolder);

// "Local\VorlaneLauncher-" + hash.
std::wstring instanceMutexName(unsigned hash);

// The window class and property by which a second start finds the first window.
extern const wchar_t* const kMainWindowClass;      // "VorlaneLauncher"
extern const wchar_t* const kInstanceRootProperty;  // "VorlaneLauncherRoot"

class SingleInstance {
public:
    // Takes the mutex, waiting up to waitMs (an abandoned mutex counts as
    // taken). False when another launcher holds it. A mutex that can't be
    // made lets this launcher run without one.
    bool acquire(unsigned hash, DWORD waitMs);
    void release();
    ~SingleInstance() { release(); }

private:
    ObjectHandle mutex_;
    bool owned_ = false;
};

// The top-level launcher window whose root property is `hash`, or null.
HWND findLauncherWindow(unsigned hash);

// Looks for the first launcher's window (up to 100 tries, 200 ms apart),
// brings it forward and tells it it was opened again. True when found.
bool bringFirstWindowForward(unsigned hash);

}  // namespace vorlane
