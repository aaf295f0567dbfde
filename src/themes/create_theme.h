// Turning the player's choices (the create-theme window's form or the
// create-theme command's options) into a theme job, checking it, and the
// create-theme command itself.
#pragma once

#include <string>

#include "core/command_line.h"
#include "core/launcher_state.h"
#include "themes/theme_job.h"

namespace vorlane {

inline constexpr wchar_t kDefaultComfyServer[] = L"http://127.0.0.1:8188";

// The theme's folder name from its name: trimmed, blanks as "_", only ASCII
// letters, digits, "-" and "_" kept, at most 64 characters.
std::wstring FolderName(const std::wstring& name);

// A name Windows keeps for a device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// in any case and with or without an extension) or one ending in a dot or a
// blank: no folder can be called that.
bool IsReservedFolderName(const std::wstring& name);

// Where a theme of that folder name goes: the installed build's add-on themes
// folder joined with it; empty without a game or a folder name.
std::wstring ThemeFolderFor(const LauncherState& state, const std::wstring& folderName);

// Empty when the job may run; else the first thing the player must change.
std::wstring ValidateThemeJob(const ThemeJob& job);

// The create-theme command: the options into a job, checked, then run with
// every line logged after "Create theme: ". True when the theme is complete.
bool RunCreateThemeCommand(LauncherState& state, const CreateThemeOptions& options);

}  // namespace vorlane
