#include "app/entry_point.h"

#include <shlobj.h>

#include "comfy/comfy_check.h"
#include "core/command_line.h"
#include "app/commands.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "install/build_list.h"
#include "install/self_update.h"
#include "install/shortcuts.h"
#include "net/http_client.h"
#include "net/release_key.h"
#include "ui/main_window.h"

namespace vorlane {

namespace {

std::wstring defaultRootFolder() {
    PWSTR folder = nullptr;
    std::wstring root;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)) && folder)
        root = joinPath(folder, L"Vorlane");
    CoTaskMemFree(folder);
    return root;
}

// A copy started as "Vorlane Launcher.old.exe" hands over to the installed launcher.
bool handOffFromOldCopy(const LauncherState& state) {
    const std::wstring installed = installedLauncherPath(state);
    if (!equalsIgnoringCase(ownProgramPath(), replacedLauncherPath(state))) return false;
    if (!fileExists(installed)) return false;
    return startProgram(installed, runArgs, state.rootFolder);
}

void logStart(LauncherState& state) {
    logLine(state, L"Started launcher " + launcherVersion() + L" (installed: " +
                       (state.current.empty() ? L"nothing" : state.current) + L").");
    if (isDeveloperBuild())
        logLine(state,
                L"This launcher has no release key built in (a developer's build), so it doesn't check the build "
                L"server's signatures.");
}

}  // namespace

int runLauncher(HINSTANCE instance, int showCommand) {
    ComApartment com;
    LauncherState& state = launcherState();

    const std::vector<std::wstring> arguments = commandLineArguments();
    runArgs = makeRunArgs(arguments);
    state.rootFolder = defaultRootFolder();
    const StartOptions options = parseOptions(arguments, state);
    // A script that runs a command reads its lines and progress as they come.
    if (options.command) echoToStandardOutput();

    if (!options.command && !options.updated && handOffFromOldCopy(state)) return 0;

    const unsigned hash = instanceHash(state.rootFolder);
    SingleInstance single;
    if (!options.command && !single.acquire(hash, options.updated ? 15000 : 0)) {
        bringFirstWindowForward(hash);
        return 0;
    }

    loadSettings(state);
    logStart(state);

    if (options.command) {
        fetchBuildListAtStart(state);
        startTick = GetTickCount64();
        selfUpdateAtStart(state, options, standardOutputProgress());
        if (*options.command == L"repair-shortcuts") repairShortcuts(state);
        lookForZipBesideLauncher(state);
        int code = runCommand(state, options, *options.command);
        logLine(state, L"Done (" + *options.command + L", exit " + std::to_wstring(code) + L", installed: " +
                           (state.current.empty() ? L"nothing" : state.current) + L").");
        closeLog(state);
        return code;
    }

    // The window comes at once: the build list, the self-update check, the
    // shortcut repair and the search beside the launcher run on its job
    // runner, and a newer launcher found then is handed over to from there.
    startTick = GetTickCount64();
    if (options.updated)
        statusText = L"The launcher updated itself to " + launcherVersion() + L" (the old one is kept beside it).";
    const std::wstring modelsHub = options.theme.modelsFrom.empty() ? std::wstring(kHuggingFaceHub)
                                                                   : normaliseBaseUrl(options.theme.modelsFrom);
    int code = runMainWindow(state, instance, showCommand, hash, modelsHub, options);
    closeLog(state);
    single.release();
    return code;
}

}  // namespace vorlane
