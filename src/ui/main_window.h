// The launcher's main window.
#pragma once

#include <windows.h>

#include <string>

#include "core/launcher_state.h"

namespace vorlane {

// Registers the window class, opens the window and runs the message loop until
// it closes; gives the exit code. The create-theme window downloads model
// files from modelsHub.
int runMainWindow(LauncherState& state, HINSTANCE instance, int showCommand, unsigned instanceHash,
                  const std::wstring& modelsHub);

}  // namespace vorlane
