#include "install/update_check.h"

#include <memory>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "core/window_messages.h"

namespace vorlane {

namespace {

// Set when an install starts; a check that began before it keeps the list it had.
std::atomic<bool> installStartedDuringCheck{false};

void logCheck(LauncherState& state, const std::wstring& sentence) { logLine(state, L"Update check: " + sentence); }

// After a changed list, a zip beside the launcher may have become (or stopped
// being) the one to install from.
void lookForZipAgain(LauncherState& state) {
    if (!state.zipLookedFor) return;
    const std::wstring zip = zipBesideLauncher(state);
    if (zip == state.zipPath) return;
    state.zipPath = zip;
    if (!zip.empty())
        logCheck(state, L"installs come from " + zip + L" beside the launcher.");
    else
        logCheck(state, L"installs are downloaded now (no zip beside the launcher is the latest build's).");
}

void logWhatIsOffered(LauncherState& state) {
    if (!state.builds.empty() && updateDue(state))
        logCheck(state, L"build " + state.builds.front().commit + L" is offered to install.");
    else if (!state.builds.empty())
        logCheck(state, L"the list changed, and there's nothing newer to install.");
    else if (state.listRefusal.empty())
        logCheck(state, L"no builds offered.");
    else
        logCheck(state, L"nothing offered (" + state.listRefusalReason + L"); what's installed still plays.");
}

}  // namespace

bool startUpdateCheck(LauncherState& state, HWND window) {
    if (busy || checkRunning) return false;
    checkRunning = true;
    installStartedDuringCheck = false;
    startTick = GetTickCount64();
    std::wstring newestList = readSetting(state, L"NewestList");
    std::vector<std::wstring> servers = state.servers;
    std::thread([window, servers = std::move(servers), newestList = std::move(newestList)] {
        auto fetch = std::make_unique<BuildListFetch>(fetchBuildList(servers, newestList));
        if (PostMessageW(window, kCheckResultMessage, 0, reinterpret_cast<LPARAM>(fetch.get()))) fetch.release();
    }).detach();
    return true;
}

void noteInstallStarted() { installStartedDuringCheck = true; }

bool handleUpdateCheckResult(LauncherState& state, const BuildListFetch& fetch) {
    checkRunning = false;
    for (const std::wstring& note : fetch.notes) logCheck(state, note);
    if (installStartedDuringCheck || busy) {
        logCheck(state, L"an install started meanwhile, so it keeps the list it had.");
        return false;
    }
    if (!fetch.anyAnswered) {
        logCheck(state, L"no build server answered, so what's offered stays as it was.");
        return false;
    }
    if (sameList(state, fetch)) {
        logCheck(state, L"nothing new.");
        return false;
    }
    applyBuildList(state, fetch);
    lookForZipAgain(state);
    logWhatIsOffered(state);
    return true;
}

}  // namespace vorlane
