// The one process-wide record every subsystem reads and changes, and the few
// process-wide values beside it.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "core/build_record.h"
#include "core/theme_slot.h"

namespace vorlane {

// Changed only by the window thread or by the one job that `busy` admits.
struct LauncherState {
    std::wstring rootFolder;
    std::wstring settingsPath;
    std::wstring installDir;
    std::vector<std::wstring> servers;  // BuildServerList, in the order they are tried
    std::wstring current;
    std::wstring currentReleased;
    bool currentFilesPresent = false;
    std::wstring previous;
    std::wstring previousReleased;
    std::wstring heldBack;
    std::wstring zipPath;
    bool zipLookedFor = false;
    long long failAfter = -1;
    bool makeShortcuts = true;
    std::wstring shortcutFolder;
    std::vector<BuildRecord> builds;
    std::wstring listSource;
    std::wstring listRefusal;
    std::wstring listRefusalReason;
    std::wstring lastError;
    FILE* log = nullptr;
    std::vector<ThemeSlot> themeSlots;
    std::wstring themeFolder;
    std::wstring themeStyle;
};

LauncherState& launcherState();

// The build servers to fetch content-addressed objects from: the one whose list
// was used first, then every other one in order (they publish the same objects).
std::vector<std::wstring> serversToAsk(const LauncherState& state);

// What a job run on a copy of the state hands back to the window thread: the
// install state (installDir, current, previous, heldBack with their stamps,
// whether the files are present) and lastError, taken from the job's copy.
void takeInstallState(LauncherState& state, const LauncherState& jobCopy);

constexpr unsigned kDefaultCheckEveryMs = 600000;

// Period of the main window's update check.
extern std::atomic<unsigned> checkEveryMs;
// The sentence the main window's status line shows.
extern std::wstring statusText;
// Tick count taken after the start-up build list fetch and at each periodic check.
extern std::atomic<unsigned long long> startTick;
// Every argument but "--updated", each as a blank and the argument in double quotes.
extern std::wstring runArgs;

// Flags that keep jobs apart, read and changed from several threads.
// busy: an install or add-on job runs (set by the main window before it starts
// the job's thread, cleared when the job's completion message arrives).
extern std::atomic<bool> busy;
// checkRunning: a periodic update check runs; cleared when its result arrives.
extern std::atomic<bool> checkRunning;
// themeMaking: the create-theme window's worker runs a theme job, a ComfyUI
// check or a model download.
extern std::atomic<bool> themeMaking;
// themeStopRequested: the player asked the create-theme window's worker to
// stop, or the launcher is shutting down.
extern std::atomic<bool> themeStopRequested;

// The launcher's version: eight hex digits of the commit, "+" when built from a
// changed tree, or "dev" outside git.
const std::wstring& launcherVersion();
// Gives the program another version text for the rest of its run, before
// anything reads it: a program built to stand in for a release (the test-key
// launcher) carries a fixed one.
void setLauncherVersion(const std::wstring& version);
// "dev" or a version ending in "+" marks a developer's build.
bool isDevelopersVersion(const std::wstring& version);

}  // namespace vorlane
