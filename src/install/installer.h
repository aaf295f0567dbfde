// Puts one build of the game on disk: download (or a supplied zip), check,
// unpack, carry the player's data over, put in place, record.
#pragma once

#include <string>

#include "core/build_record.h"
#include "core/job.h"
#include "core/launcher_state.h"

namespace vorlane {

// Installs the newest listed build, or the supplied zip. On failure lastError
// holds the sentence and the installed build is as it was.
bool installBuild(LauncherState& state, const JobControl& job);

// Installs the installed build of `listed` again from its zip, its pieces
// left aside: the supplied zip only when it is that build's and its SHA-256 is
// the record's, else a download. The previous and held-back builds stay as
// they are.
bool reinstallBuild(LauncherState& state, const BuildRecord& listed, const JobControl& job);

// What the window and the commands run: installBuild, then, on success, kept
// saves restored and add-on themes brought up to date; a failure is logged.
bool installJob(LauncherState& state, const JobControl& job);

// Removes every build folder but those of current and previous.
void removeOldBuilds(LauncherState& state);

// Removes what runs that were cut short left behind, once nothing needs it: old
// builds, staging and set-aside folders, every download and the fetched pieces
// (for when the newest build is installed already).
void tidyInstallation(LauncherState& state);

// The system's tar.exe, in double quotes.
std::wstring systemTar();

}  // namespace vorlane
