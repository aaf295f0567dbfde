// Checks an installed build against its index and mends what changed.
#pragma once

#include "core/job.h"
#include "core/launcher_state.h"

namespace vorlane {

enum class VerifyOutcome {
    AsPublished,  // every file is as published: it was, or it was mended
    NotChecked,   // nothing to check against, the check stopped, or a file couldn't be read
    NotMended,    // checked, but a file couldn't be mended (lastError names each)
};

// Checks every file of the installed build against its index (the Saved folder
// left out), mends damaged and missing files by pieces (or, with pieces
// switched off, from the build's zip), or reinstalls the build from its zip
// when no index is known, and checks again. A folder standing where a file
// belongs is moved aside, never deleted. Logs what it found; lastError says
// why when the outcome isn't AsPublished.
VerifyOutcome verifyInstalledBuild(LauncherState& state, const JobControl& job);

}  // namespace vorlane
