// The launcher program's entry point; everything it does lives in the library.
#include <windows.h>

#include "core/entry_point.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return vorlane::runLauncher(instance, showCommand);
}
