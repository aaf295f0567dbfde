#include "core/launcher_state.h"

#include "launcher_version.h"

namespace vorlane {

LauncherState& launcherState() {
    static LauncherState state;
    return state;
}

void takeInstallState(LauncherState& state, const LauncherState& jobCopy) {
    state.installDir = jobCopy.installDir;
    state.current = jobCopy.current;
    state.currentReleased = jobCopy.currentReleased;
    state.currentFilesPresent = jobCopy.currentFilesPresent;
    state.previous = jobCopy.previous;
    state.previousReleased = jobCopy.previousReleased;
    state.heldBack = jobCopy.heldBack;
    state.lastError = jobCopy.lastError;
}

std::atomic<unsigned> checkEveryMs{kDefaultCheckEveryMs};
std::wstring statusText;
std::atomic<unsigned long long> startTick{0};
std::atomic<bool> busy{false};
std::atomic<bool> checkRunning{false};
std::atomic<bool> themeMaking{false};
std::atomic<bool> themeStopRequested{false};
std::wstring runArgs;

static std::wstring& versionText() {
    static std::wstring version = VORLANE_VERSION;
    return version;
}

const std::wstring& launcherVersion() { return versionText(); }

void setLauncherVersion(const std::wstring& version) { versionText() = version; }

bool isDevelopersVersion(const std::wstring& version) {
    return version == L"dev" || (!version.empty() && version.back() == L'+');
}

std::vector<std::wstring> serversToAsk(const LauncherState& state) {
    std::vector<std::wstring> servers;
    if (!state.listSource.empty()) servers.push_back(state.listSource);
    for (const std::wstring& server : state.servers)
        if (server != state.listSource) servers.push_back(server);
    return servers;
}

}  // namespace vorlane
