// Drives a real window of another process the way a player would, with
// messages: reads its controls, presses buttons, answers message boxes, and
// asks the screenshot service (scripts/screenshot-service) for a picture.
#pragma once

#include <windows.h>

#include <string>

namespace vorlane::testing {

std::wstring controlText(HWND window, int id);
bool controlEnabled(HWND window, int id);
bool controlVisible(HWND window, int id);
// The position of a progress bar control.
int progressPosition(HWND window, int id);

// Presses a button as a click does (posted: the handler may open a message box).
void pressButton(HWND window, int id);

// The first visible top-level window of this class (and caption, unless null)
// that `window`'s process shows, or null.
HWND findWindowBeside(HWND window, const wchar_t* className, const wchar_t* caption = nullptr);

// The first visible message box (dialog class) with this caption that
// `window`'s process shows, or null. Tests run side by side, each with its
// own launcher, so a box is only ever looked for in one process.
HWND findMessageBox(HWND window, const std::wstring& caption);
// The message text of a message box.
std::wstring messageBoxText(HWND box);
// Presses a message box's button (IDOK, IDCANCEL, IDYES, IDNO).
void answerMessageBox(HWND box, int button);

// Saves a picture of the window as build\screenshots\<name>.png; false (and no
// picture) when the screenshot service doesn't answer within the time.
bool takeScreenshot(HWND window, const std::wstring& name);

}  // namespace vorlane::testing
