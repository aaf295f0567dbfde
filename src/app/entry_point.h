// The launcher's start, its one command or its window, and its shut-down.
#pragma once

#include <windows.h>

namespace vorlane {

// Runs the launcher for the process's command line; returns the exit code.
int runLauncher(HINSTANCE instance, int showCommand);

}  // namespace vorlane
