#include "core/crash_points.h"

#include <windows.h>

#include <string>

namespace vorlane {

namespace {
std::wstring& chosenPoint() {
    static std::wstring point;
    return point;
}
}  // namespace

void enableCrashPoints() {
    wchar_t name[128];
    const DWORD length = GetEnvironmentVariableW(L"VORLANE_CRASH_AT", name, 128);
    if (length > 0 && length < 128) chosenPoint().assign(name, length);
}

void crashPoint(const wchar_t* name) {
    if (!chosenPoint().empty() && chosenPoint() == name) TerminateProcess(GetCurrentProcess(), 99);
}

}  // namespace vorlane
