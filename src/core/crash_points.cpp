#include "core/crash_points.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>

namespace vorlane {

namespace {
std::wstring& chosenPoint() {
    static std::wstring point;
    return point;
}
// "name" dies at the first pass, "name:N" at the N-th (counted across threads).
std::atomic<long>& passesLeft() {
    static std::atomic<long> passes{1};
    return passes;
}
long long& freeSpaceTold() {
    static long long bytes = -1;
    return bytes;
}
}  // namespace

long long injectedFreeSpace() { return freeSpaceTold(); }

void enableCrashPoints() {
    wchar_t space[32];
    const DWORD spaceLength = GetEnvironmentVariableW(L"VORLANE_FREE_SPACE", space, 32);
    if (spaceLength > 0 && spaceLength < 32) freeSpaceTold() = std::max(0LL, std::wcstoll(space, nullptr, 10));

    wchar_t name[128];
    const DWORD length = GetEnvironmentVariableW(L"VORLANE_CRASH_AT", name, 128);
    if (length == 0 || length >= 128) return;
    std::wstring point(name, length);
    const size_t colon = point.find(L':');
    if (colon != std::wstring::npos) {
        passesLeft() = std::max(1L, std::wcstol(point.c_str() + colon + 1, nullptr, 10));
        point.resize(colon);
    }
    chosenPoint() = point;
}

void crashPoint(const wchar_t* name) {
    if (chosenPoint().empty() || chosenPoint() != name) return;
    if (--passesLeft() == 0) TerminateProcess(GetCurrentProcess(), 99);
}

}  // namespace vorlane
