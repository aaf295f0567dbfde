#include "core/settings.h"

#include <windows.h>

#include <algorithm>

#include "core/crash_points.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/root_lock.h"
#include "core/text.h"

namespace vorlane {

namespace {
const wchar_t kSection[] = L"Launcher";
constexpr DWORD kValueCharacters = 2048;  // so a value keeps at most 2047 characters
// A writer holds the settings' turn for a copy, a few keys and a flush; a
// read waits for it this long at most and then reads anyway.
constexpr DWORD kReadTurnWaitMs = 5000;
constexpr DWORD kWriteTurnWaitMs = 30000;
// How long the replace of launcher.ini is tried again while another program
// (a scanner, a launcher of before) has the file open.
constexpr DWORD kReplaceRetryMs = 5000;

// Puts the written copy in place of launcher.ini. A replace that meets the file
// open elsewhere fails with a sharing or access error; such a reader holds it
// only for a moment, so the replace is tried again for a bounded time.
bool replaceSettingsFile(const std::wstring& part, const std::wstring& settingsPath) {
    const ULONGLONG end = GetTickCount64() + kReplaceRetryMs;
    for (;;) {
        if (MoveFileExW(longPath(part).c_str(), longPath(settingsPath).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || GetTickCount64() >= end) {
            SetLastError(error);
            return false;
        }
        Sleep(10);
    }
}
}  // namespace

const wchar_t* const kDefaultServers =
    L"http://builds.vorlane.lan:8080;http://builds.vorlane.home.arpa:8080;https://builds.vorlane.net";

std::wstring readSetting(const LauncherState& state, const wchar_t* key, const wchar_t* fallback) {
    // Reads take turns with writes, so another launcher's replace never meets this one's read.
    RootMutex turn;
    turn.acquire(L"Settings", state.rootFolder, kReadTurnWaitMs);
    wchar_t value[kValueCharacters];
    DWORD length =
        GetPrivateProfileStringW(kSection, key, fallback, value, kValueCharacters, state.settingsPath.c_str());
    return std::wstring(value, length);
}

Failure writeSetting(const LauncherState& state, const wchar_t* key, const std::wstring& value) {
    return writeSettings(state, {{key, value}});
}

Failure writeSettings(const LauncherState& state, const SettingValues& values) {
    const std::wstring sentence = L"Couldn't save the launcher's settings.";
    // Launchers on one root take turns, so that neither's keys are lost to the
    // other's replace. Without the turn (after a long wait) the save goes on;
    // a lock file that can't serve gives way to the named lock at once.
    RootMutex turn;
    turn.acquire(L"Settings", state.rootFolder, kWriteTurnWaitMs);

    const std::wstring part = state.settingsPath + L".part";
    std::string bytes;
    if (!readWholeFile(state.settingsPath, bytes) && fileExists(state.settingsPath))
        return systemFailure(sentence);
    if (!writeFileThrough(part, bytes)) return systemFailure(sentence);
    crashPoint(L"settings-copied");
    for (const auto& [key, value] : values) {
        if (!WritePrivateProfileStringW(kSection, key, value.c_str(), part.c_str())) {
            Failure failure = systemFailure(sentence);
            DeleteFileW(longPath(part).c_str());
            return failure;
        }
    }
    if (!flushFile(part)) {
        Failure failure = systemFailure(sentence);
        DeleteFileW(longPath(part).c_str());
        return failure;
    }
    crashPoint(L"settings-written");
    if (!replaceSettingsFile(part, state.settingsPath)) {
        Failure failure = systemFailure(sentence);
        DeleteFileW(longPath(part).c_str());
        return failure;
    }
    return {};
}

std::vector<std::wstring> splitServerList(const std::wstring& text) {
    std::vector<std::wstring> servers;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) servers.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return servers;
}

void moveServerToFront(std::vector<std::wstring>& servers, const std::wstring& server) {
    auto found = std::find(servers.begin(), servers.end(), server);
    if (found != servers.end()) std::rotate(servers.begin(), found, found + 1);
}

std::wstring buildFolder(const LauncherState& state, const std::wstring& commit) {
    return joinPath(joinPath(state.installDir, commit), L"Vorlane-" + commit);
}

std::wstring gameProgram(const LauncherState& state, const std::wstring& commit) {
    return joinPath(buildFolder(state, commit), L"Vorlane.exe");
}

void loadSettings(LauncherState& state) {
    makeFolderTree(state.rootFolder);
    openLog(state, joinPath(state.rootFolder, L"launcher.log"));
    state.settingsPath = joinPath(state.rootFolder, L"launcher.ini");

    state.installDir = readSetting(state, L"InstallDir");
    if (state.installDir.empty()) state.installDir = joinPath(state.rootFolder, L"Game");

    if (state.servers.empty()) state.servers = splitServerList(readSetting(state, L"Servers", kDefaultServers));
    moveServerToFront(state.servers, readSetting(state, L"LastServer"));

    loadInstallState(state);
    if (!state.current.empty() && !state.currentFilesPresent)
        logLine(state, L"Build " + state.current + L"'s game files are missing: installing repairs it, keeping the saves.");
}

void loadInstallState(LauncherState& state) {
    const std::wstring installDir = readSetting(state, L"InstallDir");
    if (!installDir.empty()) state.installDir = installDir;
    state.current = readSetting(state, L"Current");
    state.currentReleased = readSetting(state, L"CurrentReleased");
    state.previous = readSetting(state, L"Previous");
    state.previousReleased = readSetting(state, L"PreviousReleased");
    state.heldBack = readSetting(state, L"HeldBack");
    state.currentFilesPresent = !state.current.empty() && fileExists(gameProgram(state, state.current));
    // A previous build whose folder is gone (an uninstall cut short, a folder
    // removed by hand) is no longer there to go back to.
    if (!state.previous.empty() && !folderExists(joinPath(state.installDir, state.previous))) {
        state.previous.clear();
        state.previousReleased.clear();
    }
}

Failure saveInstallState(const LauncherState& state) {
    return writeSettings(state, {{L"InstallDir", state.installDir},
                                 {L"Current", state.current},
                                 {L"CurrentReleased", state.currentReleased},
                                 {L"Previous", state.previous},
                                 {L"PreviousReleased", state.previousReleased},
                                 {L"HeldBack", state.heldBack}});
}

}  // namespace vorlane
