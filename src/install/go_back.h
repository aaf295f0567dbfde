// Going back to the build that was installed before the current one.
#pragma once

#include "core/launcher_state.h"

namespace vorlane {

// Carries current's settings and saves over to the previous build, swaps the
// two, holds back the build left (or stops holding back the one returned to),
// and saves the install state. On failure lastError holds the sentence and
// the state is unchanged.
bool goBack(LauncherState& state);

}  // namespace vorlane
