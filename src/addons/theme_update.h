// Bringing the add-on themes the game downloaded up to the installed build:
// the signed themes.json of the current build server names, per theme and
// build, an index of the version's files; each file is assembled piece by
// piece beside the live theme, taking every piece the player's disk already
// has and downloading only the rest, and the finished version is left for the
// game to put in place at its next start. The live theme is never written.
#pragma once

#include <string>

#include "core/job.h"
#include "core/launcher_state.h"

namespace vorlane {

// Updates every installed add-on theme made for another build; messages go to
// the log. True when nothing failed; otherwise lastError holds the last
// failure sentence. A stop request ends the run at the next piece; the themes
// not reached stay as they are.
bool updateAddOnThemes(LauncherState& state, const JobControl& job);

// Brings `theme` up to the current build from the version whose index is
// `index` (as themes.json names it) on the current build server. On failure
// lastError holds the sentence and what is on disk stays as it is then; so
// does a stop request, heard between pieces, which leaves the ".next" folder
// for the next try to take its pieces from.
bool updateTheme(LauncherState& state, const std::wstring& theme, const std::wstring& index,
                 const JobControl& job);

}  // namespace vorlane
