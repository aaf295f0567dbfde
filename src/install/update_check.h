// The periodic update check of the main window: the build list fetched again on
// a worker thread, its result handled on the window thread.
#pragma once

#include <windows.h>

#include "core/launcher_state.h"
#include "install/build_list.h"

namespace vorlane {

// Starts a check on a new worker thread that posts its BuildListFetch (a heap
// record the receiver owns) to `window` as the check-result message. Does
// nothing while a job or another check runs; true when a check was started.
bool startUpdateCheck(LauncherState& state, HWND window);

// The window calls this when it starts an install, so that a check running
// meanwhile drops its result.
void noteInstallStarted();

// Handles a check's result on the window thread: clears checkRunning, logs every
// sentence with "Update check: " and takes a changed list into the state.
// Returns true when the list was taken (the window then refreshes itself).
bool handleUpdateCheckResult(LauncherState& state, const BuildListFetch& fetch);

}  // namespace vorlane
