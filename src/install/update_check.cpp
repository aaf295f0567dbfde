#include "install/update_check.h"

#include "core/log.h"
#include "core/settings.h"
#include "core/window_messages.h"

namespace vorlane {

namespace {

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

bool UpdateCheck::start(LauncherState& state, HWND window) {
    if (busy || checkRunning || runner_.started()) return false;
    std::wstring newestList = readSetting(state, L"NewestList");
    std::vector<std::wstring> servers = state.servers;
    const bool started = runner_.start<BuildListFetch>(
        window, 0, kCheckResultMessage,
        [servers = std::move(servers), newestList = std::move(newestList)](const JobControl&) {
            return fetchBuildList(servers, newestList);
        });
    if (!started) return false;
    checkRunning = true;
    installStarted_ = false;
    startTick = GetTickCount64();
    return true;
}

bool UpdateCheck::handleResult(LauncherState& state, LPARAM result) {
    const std::unique_ptr<BuildListFetch> taken = takeJobResult<BuildListFetch>(result);
    const BuildListFetch& fetch = *taken;
    runner_.finish();
    checkRunning = false;
    for (const std::wstring& note : fetch.notes) logCheck(state, note);
    if (installStarted_ || busy) {
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
