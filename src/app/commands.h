// The --auto commands: each runs one job to its end and gives the exit code.
#pragma once

#include <string>

#include "core/command_line.h"
#include "core/launcher_state.h"

namespace vorlane {

// Runs the named command (matched exactly). An unknown name logs
// "There's no --auto <name>." and gives 1.
int runCommand(LauncherState& state, const StartOptions& options, const std::wstring& command);

}  // namespace vorlane
