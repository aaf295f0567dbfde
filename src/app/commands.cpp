#include "app/commands.h"

#include "addons/theme_update.h"
#include "app/get_models_command.h"
#include "core/log.h"
#include "core/root_lock.h"
#include "install/build_list.h"
#include "install/game_process.h"
#include "install/go_back.h"
#include "install/installer.h"
#include "install/piece_install.h"
#include "install/preload.h"
#include "install/verify_build.h"
#include "install/self_update.h"
#include "install/uninstall.h"
#include "slots/checklist.h"
#include "slots/theme_slots.h"
#include "themes/create_theme.h"
#include "themes/model_check.h"
#include "themes/sound_check.h"

namespace vorlane {

namespace {

struct Command {
    const wchar_t* name;
    int (*run)(LauncherState&, const StartOptions&);
    // Changes the installation: runs only while it holds the root lock.
    bool changesInstallation = false;
};

int exitCode(bool succeeded) { return succeeded ? 0 : 1; }

// A command's progress goes to its standard output when it has one; the log gets the outcome.

// Installs the newest listed build (or the supplied zip); says why when there
// is nothing to install.
int installCommand(LauncherState& state, const StartOptions&) {
    if (state.builds.empty() && state.zipPath.empty()) {
        if (!state.listRefusal.empty())
            logLine(state, L"Nothing was installed: no build server offered a build list that counts (" +
                               state.listRefusalReason + L").");
        else
            logLine(state, L"Couldn't reach a build server, so nothing was checked or installed.");
        return 1;
    }
    return exitCode(installJob(state, standardOutputProgress()));
}

// "Already up to date" only when a list was had: with none there is nothing to
// compare against, and that is said as it is for an install.
int updateCommand(LauncherState& state, const StartOptions& options) {
    if (state.zipPath.empty() && !state.builds.empty() && !updateDue(state)) {
        logLine(state, L"Already up to date.");
        tidyInstallation(state);
        return 0;
    }
    return installCommand(state, options);
}

// Compares --theme-folder with the slot list and writes its checklist there.
int themeCheckCommand(LauncherState& state, const StartOptions& options) {
    loadThemeSlots(state);
    state.themeFolder = options.theme.themeFolder;
    state.themeStyle = options.theme.themeStyle;
    const std::wstring importFolder = importFolderOf(state.themeFolder);
    std::wstring checklist;
    if (!state.themeSlots.empty() && !state.themeFolder.empty()) checklist = exportChecklist(state);
    logLine(state, L"Theme files: " + std::to_wstring(slotsThere(state.themeSlots, importFolder)) + L" / " +
                       std::to_wstring(state.themeSlots.size()) + L" in " + importFolder + L" (checklist: " +
                       (checklist.empty() ? L"none" : checklist) + L").");
    return exitCode(!checklist.empty());
}

// Makes the newest build ready as the window does in the background, once (for
// schedulers); 0 when it is ready or nothing is newer.
int preloadCommand(LauncherState& state, const StartOptions&) {
    if (state.builds.empty()) {
        logLine(state, L"Couldn't reach a build server, so nothing was made ready.");
        return 1;
    }
    const PreloadOutcome outcome = preloadBuild(state, standardOutputProgress());
    if (outcome == PreloadOutcome::Nothing) logLine(state, L"Nothing newer to make ready.");
    return exitCode(outcome == PreloadOutcome::Ready || outcome == PreloadOutcome::Nothing);
}

int backCommand(LauncherState& state, const StartOptions&) {
    if (goBack(state)) return 0;
    logLine(state, L"Failed: " + state.lastError);
    return 1;
}

// Every command the launcher knows; each subsystem adds its own.
const Command kCommands[] = {
    {L"install", installCommand, true},
    {L"update", updateCommand, true},
    {L"preload", preloadCommand, true},
    {L"play", [](LauncherState& state, const StartOptions&) { return exitCode(play(state)); }},
    {L"back", backCommand, true},
    {L"uninstall", [](LauncherState& state, const StartOptions&) { return exitCode(uninstall(state, false)); }, true},
    {L"uninstall-all", [](LauncherState& state, const StartOptions&) { return exitCode(uninstall(state, true)); },
     true},
    {L"theme-check", themeCheckCommand},
    // Makes a theme from the --theme-* options; 0 when it is complete.
    {L"create-theme",
     [](LauncherState& state, const StartOptions& options) {
         return exitCode(RunCreateThemeCommand(state, options.theme));
     }},
    // Reports on the sounds of --theme-folder; 0 when at least one WAV was read.
    {L"sound-check",
     [](LauncherState& state, const StartOptions& options) {
         if (options.theme.themeFolder.empty()) return 1;
         return exitCode(SoundCheck(options.theme.themeFolder, [&](const std::wstring& line) { logLine(state, line); }));
     }},
    // Reports on the models of --theme-folder; 0 when at least one model was measured.
    {L"model-check",
     [](LauncherState& state, const StartOptions& options) {
         if (options.theme.themeFolder.empty()) return 1;
         return exitCode(ModelCheck(options.theme.themeFolder, [&](const std::wstring& line) { logLine(state, line); }));
     }},
    // The model files ComfyUI lacks, from Hugging Face.
    {L"get-models", getModelsCommand},
    // The check ran at start-up; this reports its outcome and never starts the new launcher.
    {L"self-update",
     [](LauncherState& state, const StartOptions&) {
         const SelfUpdateOutcome outcome = startUpSelfUpdateOutcome();
         logLine(state, std::wstring(L"Self-update: ") + outcomeWord(outcome) + L".");
         return exitCode(outcome != SelfUpdateOutcome::Failed);
     }},
    // Brings the downloaded add-on themes up to the installed build.
    {L"addons",
     [](LauncherState& state, const StartOptions&) { return exitCode(updateAddOnThemes(state, standardOutputProgress())); }, true},
    // Checks the installed build's files against its index and mends what changed; 0 when all is as published.
    {L"verify",
     [](LauncherState& state, const StartOptions&) {
         if (verifyInstalledBuild(state, standardOutputProgress()) == VerifyOutcome::AsPublished) return 0;
         logLine(state, L"Failed: " + state.lastError);
         return 1;
     },
     true},
    // The shortcuts were repaired at start-up; there is nothing more to do.
    {L"repair-shortcuts", [](LauncherState&, const StartOptions&) { return 0; }},
};

}  // namespace

int runCommand(LauncherState& state, const StartOptions& options, const std::wstring& command) {
    for (const Command& entry : kCommands) {
        if (command != entry.name) continue;
        if (!entry.changesInstallation) return entry.run(state, options);
        RootLock lock;
        if (!lockRootForJob(state, lock)) {
            logLine(state, L"Failed: " + state.lastError);
            return 1;
        }
        return entry.run(state, options);
    }
    logLine(state, L"There's no --auto " + command + L".");
    return 1;
}

}  // namespace vorlane
