// The launcher program's entry point; everything it does lives in the library.
#include <windows.h>

#include "app/entry_point.h"
#include "core/crash_points.h"
#include "core/launcher_state.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
#ifdef VORLANE_LAUNCHER_VERSION
    // This program stands in for a release whatever tree it was built from (CMakeLists.txt).
    vorlane::setLauncherVersion(L"" VORLANE_LAUNCHER_VERSION);
#endif
#ifdef VORLANE_CRASH_POINTS
    // The test-key launcher dies where the crash tests ask (VORLANE_CRASH_AT).
    vorlane::enableCrashPoints();
#endif
    return vorlane::runLauncher(instance, showCommand);
}
