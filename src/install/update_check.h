// The periodic update check of the main window: the build list fetched again on
// a worker thread, its result handled on the window thread.
#pragma once

#include <windows.h>

#include "core/job_runner.h"
#include "core/launcher_state.h"
#include "install/build_list.h"

namespace vorlane {

class UpdateCheck {
public:
    // Starts a check on the check's own thread, which posts its BuildListFetch
    // (a heap record the receiver owns) to `window` as the check-result
    // message. Does nothing while a job or another check runs; true when a
    // check was started.
    bool start(LauncherState& state, HWND window);

    // The window calls this when it starts an install, so that a check running
    // meanwhile drops its result.
    void noteInstallStarted() { installStarted_ = true; }

    // Handles the check-result message on the window thread: takes the record,
    // joins the check's thread, clears checkRunning, logs every sentence with
    // "Update check: " and takes a changed list into the state. True when the
    // list was taken (the window then refreshes itself).
    bool handleResult(LauncherState& state, LPARAM result);

private:
    JobRunner runner_;
    bool installStarted_ = false;  // window thread only
};

}  // namespace vorlane
