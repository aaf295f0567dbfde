#include "install/go_back.h"

#include <utility>

#include "core/crash_points.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "install/player_data.h"

namespace vorlane {

bool goBack(LauncherState& state) {
    if (state.previous.empty() || !fileExists(gameProgram(state, state.previous))) {
        state.lastError = L"There's no previous build to go back to.";
        return false;
    }
    const std::wstring saved = savedFolder(state, state.current);
    if (!state.current.empty() && folderExists(saved) && !copyFolderTree(saved, savedFolder(state, state.previous))) {
        state.lastError = systemFailure(L"Couldn't copy your settings and saves back to build " + state.previous + L".").text();
        return false;
    }

    crashPoint(L"back-saves-copied");

    const std::wstring left = state.current;
    LauncherState after = state;
    std::swap(after.current, after.previous);
    std::swap(after.currentReleased, after.previousReleased);
    // Its game program was seen just above.
    after.currentFilesPresent = true;
    // Going back to the build held back lifts the hold; otherwise the build left isn't offered again.
    after.heldBack = after.current == after.heldBack ? std::wstring() : left;

    // Until launcher.ini says so, the player is still on the build they left.
    if (const Failure failure = saveInstallState(after)) {
        state.lastError = failure.text();
        return false;
    }
    takeInstallState(state, after);
    logLine(state, L"Went back from build " + left + L" to " + state.current + L".");
    return true;
}

}  // namespace vorlane
