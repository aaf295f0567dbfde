// The launcher program's entry point; everything it does lives in the library.
#include <windows.h>

#include "app/entry_point.h"
#include "core/launcher_state.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
#ifdef VORLANE_LAUNCHER_VERSION
    // This program stands in for a release whatever tree it was built from (CMakeLists.txt).
    vorlane::setLauncherVersion(L"" VORLANE_LAUNCHER_VERSION);
#endif
    return vorlane::runLauncher(instance, showCommand);
}
