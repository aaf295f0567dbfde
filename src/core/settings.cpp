#include "core/settings.h"

#include <windows.h>

#include <algorithm>

#include "core/files.h"
#include "core/log.h"
#include "core/text.h"

namespace vorlane {

namespace {
const wchar_t kSection[] = L"Launcher";
constexpr DWORD kValueCharacters = 2048;  // so a value keeps at most 2047 characters
}  // namespace

const wchar_t* const kDefaultServers =
    L"http://builds.vorlane.lan:8080;http://builds.vorlane.home.arpa:8080;https://builds.vorlane.net";

std::wstring readSetting(const LauncherState& state, const wchar_t* key, const wchar_t* fallback) {
    wchar_t value[kValueCharacters];
    DWORD length =
        GetPrivateProfileStringW(kSection, key, fallback, value, kValueCharacters, state.settingsPath.c_str());
    return std::wstring(value, length);
}

void writeSetting(const LauncherState& state, const wchar_t* key, const std::wstring& value) {
    WritePrivateProfileStringW(kSection, key, value.c_str(), state.settingsPath.c_str());
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

    state.current = readSetting(state, L"Current");
    state.currentReleased = readSetting(state, L"CurrentReleased");
    state.previous = readSetting(state, L"Previous");
    state.previousReleased = readSetting(state, L"PreviousReleased");
    state.heldBack = readSetting(state, L"HeldBack");

    state.currentFilesPresent = !state.current.empty() && fileExists(gameProgram(state, state.current));
    if (!state.current.empty() && !state.currentFilesPresent)
        logLine(state, L"Build " + state.current + L"'s game files are missing: installing repairs it, keeping the saves.");
}

void saveInstallState(LauncherState& state) {
    writeSetting(state, L"InstallDir", state.installDir);
    writeSetting(state, L"Current", state.current);
    writeSetting(state, L"CurrentReleased", state.currentReleased);
    writeSetting(state, L"Previous", state.previous);
    writeSetting(state, L"PreviousReleased", state.previousReleased);
    writeSetting(state, L"HeldBack", state.heldBack);
}

}  // namespace vorlane
