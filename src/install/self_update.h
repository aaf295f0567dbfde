// The launcher's own update: the signed launcher record (launcher.json) names
// the launcher program the build server offers; when it isn't the running one,
// it is downloaded, checked against its SHA-256 and swapped in as the installed
// launcher, the replaced copy kept beside it. Whether two launchers are the same
// is decided by their fingerprints, never by their version texts.
#pragma once

#include <windows.h>

#include <string>

#include "core/command_line.h"
#include "core/job.h"
#include "core/launcher_state.h"
#include "core/process.h"

namespace vorlane {

// The numbers are those the start-up and the self-update command use.
enum class SelfUpdateOutcome {
    UpToDate = 0,              // the running program is the offered one, and so is the installed copy
    Updated = 1,               // the offered launcher was downloaded and is now the installed launcher
    InstalledCopyUpdated = 2,  // the running program is the offered one and replaced an older installed copy
    NoneOffered = 3,           // no record to act on, or the check didn't run
    Failed = 4,                // lastError holds the sentence
};

// "up to date", "updated", "the installed copy updated", "none offered", "failed".
const wchar_t* outcomeWord(SelfUpdateOutcome outcome);

// The one object of launcher.json.
struct LauncherRecord {
    std::wstring file;     // the program's file name on the build server
    std::wstring version;  // the offered launcher's version text, for the log only
    std::wstring sha256;   // its fingerprint
};

// The first object of the text; empty members when there is none.
LauncherRecord readLauncherRecord(const std::string& text);

// The text of launcher.json: one object with File, Version and Sha256.
std::string launcherRecordJson(const LauncherRecord& record);

// A record is acted on only when it names a file and a fingerprint, and the
// file lies in the server's own folder: no "\", "/", ":" or "..".
bool isUsableLauncherRecord(const LauncherRecord& record);

// rootFolder\"Vorlane Launcher.exe" and the copy it replaced, rootFolder\"Vorlane Launcher.old.exe".
std::wstring installedLauncherPath(const LauncherState& state);
std::wstring replacedLauncherPath(const LauncherState& state);

// The check runs for a windowed start and for the self-update command, never
// for a start made with --updated and never in a developer's version.
bool selfUpdateRunsAtStart(const StartOptions& options, const std::wstring& version);

// The check: reads launcher.json from the server whose build list was accepted
// (listSource) and brings the installed launcher up to the offered one. Logs
// what it does; on failure lastError holds the sentence. runningProgram stands
// for the running launcher's own file. progress hears how the new launcher's
// download goes ("Downloading <file>... 3 of 12 MB, ...").
SelfUpdateOutcome selfUpdate(LauncherState& state, const JobProgress& progress = {});
SelfUpdateOutcome selfUpdate(LauncherState& state, const std::wstring& runningProgram,
                             const JobProgress& progress = {});

// The start-up step: runs the check when selfUpdateRunsAtStart says so, else
// gives "none offered". The outcome is kept for startUpSelfUpdateOutcome.
SelfUpdateOutcome selfUpdateAtStart(LauncherState& state, const StartOptions& options,
                                    const JobProgress& progress = {});
SelfUpdateOutcome startUpSelfUpdateOutcome();

// Puts newFile in place as the installed launcher, moving it (move) or copying
// it. An installed launcher is first renamed to the replaced launcher's name;
// when the new one can't be put in place, it gets its name back. On failure
// lastError holds "Couldn't set the old launcher aside (error N)." or "Couldn't
// put the new launcher in place (error N).".
bool swapLauncher(LauncherState& state, const std::wstring& newFile, bool move);

// After "updated" in a windowed start: starts the installed launcher with this
// start's arguments and " --updated" and logs "Started the new launcher.";
// true then, and this launcher goes. When it can't be started, logs why and
// gives false: this launcher carries on.
bool startNewLauncher(LauncherState& state);

}  // namespace vorlane
