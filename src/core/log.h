// launcher.log: one time-stamped line per event, UTF-8, appended and never cut.
#pragma once

#include <string>

#include "core/launcher_state.h"

namespace vorlane {

// Opens the log for appending (a byte order mark starts a new file), shared
// for reading and for other launchers' appends; not inherited by child
// programs. The launcher runs without a log when it can't be opened.
void openLog(LauncherState& state, const std::wstring& path);
void closeLog(LauncherState& state);

// "[hh:mm:ss] message" in local time; one whole write and a flush, so lines of
// several threads never mix. Does nothing without a log.
void logLine(LauncherState& state, const std::wstring& message);

}  // namespace vorlane
