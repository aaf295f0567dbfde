// Removing the game: every build, the downloads and the shortcuts, with the
// player's settings and saves kept aside or removed too.
#pragma once

#include "core/launcher_state.h"

namespace vorlane {

// everything false: first copies the Saved folder an install would bring over
// into PlayerData, and removes nothing if that copy fails (lastError holds the
// sentence, also logged after "Failed: "). everything true: PlayerData goes too.
bool uninstall(LauncherState& state, bool everything);

}  // namespace vorlane
