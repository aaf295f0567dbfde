#include "install/go_back.h"

#include <utility>

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
        state.lastError = L"Couldn't copy your settings and saves back to build " + state.previous + L".";
        return false;
    }

    const std::wstring left = state.current;
    std::swap(state.current, state.previous);
    std::swap(state.currentReleased, state.previousReleased);
    // Its game program was seen just above.
    state.currentFilesPresent = true;
    // Going back to the build held back lifts the hold; otherwise the build left isn't offered again.
    state.heldBack = state.current == state.heldBack ? std::wstring() : left;

    saveInstallState(state);
    logLine(state, L"Went back from build " + left + L" to " + state.current + L".");
    return true;
}

}  // namespace vorlane
