// The launcher's command line: splitting, the pass-through text and the options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/launcher_state.h"

namespace vorlane {

// The create-theme options, collected here and checked by the create-theme job.
struct CreateThemeOptions {
    std::wstring themeFolder;
    std::wstring themeStyle;
    std::wstring themeName;
    std::wstring groundStyle;
    std::wstring themeBase;
    std::vector<std::wstring> subjects;  // each --theme-subject, in order
    std::vector<std::wstring> called;    // each --theme-called, in order
    std::wstring themeDir;
    std::wstring comfy;
    std::wstring make;
    bool makeGiven = false;  // --make was given, even as an empty text
    std::wstring modelsFrom;
    bool makeAgain = false;
    std::optional<long long> seed;
    std::wstring lighting;
};

// What the command line asks beyond what goes straight into LauncherState.
struct StartOptions {
    std::optional<std::wstring> command;  // the value of --auto
    bool updated = false;                 // --updated: a start by a launcher that just replaced itself
    CreateThemeOptions theme;
};

// The process command line split by the system's rules (the program's own name first).
std::vector<std::wstring> commandLineArguments();

// A blank and the argument in double quotes for every argument after the
// program's name, leaving out "--updated"; nothing inside is escaped.
std::wstring makeRunArgs(const std::vector<std::wstring>& arguments);

// Reads the options after the program's name into state and the start options.
// Nothing is ever an error: unknown arguments, and options with no value after
// them, are passed over.
StartOptions parseOptions(const std::vector<std::wstring>& arguments, LauncherState& state);

}  // namespace vorlane
