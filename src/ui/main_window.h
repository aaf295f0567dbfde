// The launcher's main window.
#pragma once

#include <windows.h>

#include <string>

#include "core/command_line.h"
#include "core/launcher_state.h"

namespace vorlane {

// Registers the window class, opens the window and runs the message loop until
// it closes; gives the exit code. The start-up checks (build list, self-update,
// a zip beside the launcher) run beside the open window with the options of
// the start. The create-theme window downloads model files from modelsHub.
int runMainWindow(LauncherState& state, HINSTANCE instance, int showCommand, unsigned instanceHash,
                  const std::wstring& modelsHub, const StartOptions& options);

}  // namespace vorlane
