// The Desktop and Start Menu shortcuts "Vorlane.lnk". Both point at the installed
// launcher, never at the game, so that every start goes through the update check.
// Every function here runs on a thread that has COM initialised.
#pragma once

#include <string>

#include "core/launcher_state.h"

namespace vorlane {

// What a saved shortcut holds.
struct ShortcutInfo {
    bool ok = false;       // the link file could be loaded
    std::wstring target;   // its raw path; empty when it names nothing
    bool tracked = false;  // the system's link tracking may redirect it (no SLDF_FORCE_NO_LINKTRACK)
};

// Saves a shell link at linkPath: the target, its folder as working folder, the
// description, the target's first icon, and link tracking turned off. True when
// the link was saved.
bool makeShortcut(const std::wstring& target, const std::wstring& linkPath, const std::wstring& description);

ShortcutInfo readShortcut(const std::wstring& linkPath);

// Where the two shortcuts go: below `shortcutFolder` when it is set, else in the
// user's Desktop and Start Menu Programs folders. Empty when the system can't
// say where its folder is.
std::wstring desktopShortcutPath(const LauncherState& state);
std::wstring startMenuShortcutPath(const LauncherState& state);

// After an install: puts the running launcher in place as rootFolder\"Vorlane
// Launcher.exe" (unless it already runs from there), then makes both shortcuts
// unless `makeShortcuts` is false. Failures are logged, never fatal.
void refreshShortcuts(LauncherState& state);
// The same with another program standing in for the running launcher.
void refreshShortcuts(LauncherState& state, const std::wstring& runningProgram);

// At a windowed start and for `repair-shortcuts`: rewrites a shortcut that names a
// stale launcher (the old copy, a missing file, or one in our folders) or that
// link tracking could redirect. Shortcuts to other programs and missing
// shortcuts are left alone.
void repairShortcuts(LauncherState& state);

// At uninstall: deletes the shortcuts that name something in rootFolder or a file
// that is gone, then the Start Menu "Vorlane" folder when that is left empty.
void removeShortcuts(LauncherState& state);

}  // namespace vorlane
