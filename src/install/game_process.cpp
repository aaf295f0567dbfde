#include "install/game_process.h"

#include <tlhelp32.h>

#include <algorithm>

#include "core/files.h"
#include "core/handles.h"
#include "core/process.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/single_instance.h"
#include "core/text.h"

namespace vorlane {

namespace {

// The full program path of a process, or empty when it can't be had.
std::wstring programPathOf(DWORD processId) {
    ObjectHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return {};
    std::wstring path(32768, L'\0');
    DWORD length = (DWORD)path.size();
    if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) return {};
    path.resize(length);
    return path;
}

struct WindowSearch {
    const std::vector<DWORD>* processes;
    HWND found;
};

BOOL CALLBACK checkGameWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr) return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const std::vector<DWORD>& processes = *search->processes;
    if (std::find(processes.begin(), processes.end(), processId) == processes.end()) return TRUE;
    search->found = window;
    return FALSE;
}

// The first visible top-level window without an owner that belongs to one of the processes.
HWND findGameWindow(const std::vector<DWORD>& processes) {
    WindowSearch search{&processes, nullptr};
    EnumWindows(checkGameWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool startGame(const LauncherState& state) {
    return startProgram(gameProgram(state, state.current), L"", buildFolder(state, state.current));
}

}  // namespace

bool isGameProgramName(const std::wstring& fileName) {
    const std::wstring name = lowerCase(fileName);
    return name.rfind(L"vorlane", 0) == 0 && name.find(L"launcher") == std::wstring::npos;
}

bool isInsideFolder(const std::wstring& programPath, const std::wstring& folder) {
    std::wstring prefix = canonicalRoot(folder);
    if (prefix.empty()) return false;
    if (prefix.back() != L'\\') prefix += L'\\';
    return canonicalRoot(programPath).rfind(prefix, 0) == 0;
}

std::vector<DWORD> findGameProcesses(const std::wstring& folder) {
    std::vector<DWORD> found;
    HANDLE taken = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (taken == INVALID_HANDLE_VALUE) return found;
    ObjectHandle snapshot(taken);
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self || !isGameProgramName(fileNameOf(entry.szExeFile))) continue;
        const std::wstring path = programPathOf(entry.th32ProcessID);
        if (!path.empty() && isInsideFolder(path, folder)) found.push_back(entry.th32ProcessID);
    }
    return found;
}

bool bringGameToFront(LauncherState& state) {
    const std::vector<DWORD> processes = findGameProcesses(state.installDir);
    if (processes.empty()) return false;
    HWND window = findGameWindow(processes);
    if (window) {
        if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
    }
    logLine(state, std::wstring(L"The game is already running") +
                       (window ? L" (brought it to the front)" : L" (it has no window yet)") +
                       L", so another isn't started.");
    return true;
}

bool play(LauncherState& state) {
    if (state.current.empty() || !state.currentFilesPresent) return false;
    if (bringGameToFront(state)) return true;
    if (!startGame(state)) return false;
    logLine(state, L"Started build " + state.current + L".");
    return true;
}

}  // namespace vorlane
