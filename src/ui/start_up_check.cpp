#include "ui/start_up_check.h"

#include <windows.h>

#include "install/build_list.h"
#include "install/shortcuts.h"
#include "slots/theme_slots.h"

namespace vorlane {

StartUpOutcome runStartUpCheck(const LauncherState& state, const StartOptions& options, const JobControl& job) {
    StartUpOutcome outcome{state, SelfUpdateOutcome::NoneOffered};
    LauncherState& copy = outcome.copy;
    fetchBuildListAtStart(copy);
    startTick = GetTickCount64();
    if (job.stopRequested()) return outcome;
    // The new launcher's download shows on the status line as it comes.
    outcome.selfUpdated =
        selfUpdateAtStart(copy, options, [&job](double fraction, const std::wstring& sentence) {
            job.progress(fraction, sentence);
        });
    // A launcher that is handing over leaves the shortcuts to the new one.
    if (outcome.selfUpdated != SelfUpdateOutcome::Updated) repairShortcuts(copy);
    lookForZipBesideLauncher(copy);
    // The theme windows start from the slot list, which comes from the server whose build list counted.
    if (!job.stopRequested()) loadThemeSlots(copy);
    return outcome;
}

void takeStartUpOutcome(LauncherState& state, const StartUpOutcome& outcome) {
    const LauncherState& found = outcome.copy;
    state.servers = found.servers;
    state.builds = found.builds;
    state.listSource = found.listSource;
    state.listRefusal = found.listRefusal;
    state.listRefusalReason = found.listRefusalReason;
    state.zipPath = found.zipPath;
    state.zipLookedFor = found.zipLookedFor;
    state.themeSlots = found.themeSlots;
    state.themeFolder = found.themeFolder;
    state.themeStyle = found.themeStyle;
    if (outcome.selfUpdated == SelfUpdateOutcome::Failed) state.lastError = found.lastError;
}

}  // namespace vorlane
