// The launcher's main window.
#pragma once

#include <windows.h>

#include "core/launcher_state.h"

namespace vorlane {

// Registers the window class, opens the window and runs the message loop until
// it closes; gives the exit code.
int runMainWindow(LauncherState& state, HINSTANCE instance, int showCommand, unsigned instanceHash);

}  // namespace vorlane
