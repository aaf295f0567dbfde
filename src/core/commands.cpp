#include "core/commands.h"

#include "core/log.h"

namespace vorlane {

namespace {

struct Command {
    const wchar_t* name;
    int (*run)(LauncherState&, const StartOptions&);
};

// Every command the launcher knows; each subsystem adds its own.
const Command kCommands[] = {
    // The shortcuts were repaired at start-up; there is nothing more to do.
    {L"repair-shortcuts", [](LauncherState&, const StartOptions&) { return 0; }},
};

}  // namespace

int runCommand(LauncherState& state, const StartOptions& options, const std::wstring& command) {
    for (const Command& entry : kCommands) {
        if (command == entry.name) return entry.run(state, options);
    }
    logLine(state, L"There's no --auto " + command + L".");
    return 1;
}

}  // namespace vorlane
