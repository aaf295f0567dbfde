#include "core/launcher_state.h"

#include "launcher_version.h"

namespace vorlane {

LauncherState& launcherState() {
    static LauncherState state;
    return state;
}

std::atomic<unsigned> checkEveryMs{kDefaultCheckEveryMs};
std::wstring statusText;
std::atomic<unsigned long long> startTick{0};
std::wstring runArgs;

const std::wstring& launcherVersion() {
    static const std::wstring version = VORLANE_VERSION;
    return version;
}

bool isDevelopersVersion(const std::wstring& version) {
    return version == L"dev" || (!version.empty() && version.back() == L'+');
}

}  // namespace vorlane
