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
    {nullptr, nullptr},
};

}  // namespace

int runCommand(LauncherState& state, const StartOptions& options, const std::wstring& command) {
    for (const Command& entry : kCommands) {
        if (entry.name && command == entry.name) return entry.run(state, options);
    }
    logLine(state, L"There's no --auto " + command + L".");
    return 1;
}

}  // namespace vorlane
