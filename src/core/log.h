// launcher.log: one time-stamped line per event, UTF-8, appended and never cut.
#pragma once

#include <string>

#include "core/job.h"
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

// An --auto run started with its standard output going somewhere (a pipe, a
// file, a console) writes there too: every log line as it is logged, and
// progress lines (standardOutputProgress). Without one (a shortcut's start)
// nothing changes. True when the output is taken.
bool echoToStandardOutput();

// What a command's progress is shown by: with the output taken, each sentence
// as a line "[hh:mm:ss] Progress: <sentence>", at most one a second and never
// the same one twice in a row; else nothing.
JobProgress standardOutputProgress();

}  // namespace vorlane
