// What a windowed start checks while its window is already up: the build
// list, the launcher's own update, the shortcuts, a build zip beside the
// launcher and the theme files list. They run on the window's job runner, on a copy of the
// launcher state, so that a build server that never answers keeps nobody
// waiting for the window.
#pragma once

#include "core/command_line.h"
#include "core/job.h"
#include "core/launcher_state.h"
#include "install/self_update.h"

namespace vorlane {

struct StartUpOutcome {
    LauncherState copy;  // the state with what was found
    SelfUpdateOutcome selfUpdated = SelfUpdateOutcome::NoneOffered;
};

// The checks in the order of a start without a window. A stop request skips
// those not yet begun.
StartUpOutcome runStartUpCheck(const LauncherState& state, const StartOptions& options, const JobControl& job);

// On the window thread: takes what the checks found into the state.
void takeStartUpOutcome(LauncherState& state, const StartUpOutcome& outcome);

}  // namespace vorlane
