// Drives a real window of another process the way a player would, with
// messages: reads its controls and lists, presses buttons, selects rows,
// answers message boxes, reads the clipboard, and asks the screenshot service
// (scripts/screenshot-service) for a picture.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vorlane::testing {

// A control's text as the control itself gives it (an edit box's too).
std::wstring controlText(HWND window, int id);
bool controlEnabled(HWND window, int id);
bool controlVisible(HWND window, int id);
// The position of a progress bar control.
int progressPosition(HWND window, int id);

// Presses a button as a click does (posted: the handler may open a message box).
void pressButton(HWND window, int id);

// A report-view list control (id) of a window of another process: its number
// of rows, a cell's text, the selected row (-1 for none), and a row selected
// and focused as a click would (false when the list refused). The messages
// that carry a structure get it in memory of the window's process.
int listRowCount(HWND window, int id);
std::wstring listCellText(HWND window, int id, int row, int column);
int listSelectedRow(HWND window, int id);
bool selectListRow(HWND window, int id, int row);

// The clipboard's Unicode text; empty when it has none or another program
// holds the clipboard open.
std::wstring clipboardText();

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

// The file browser that `window`'s process started (the shell's "open" verb)
// on a folder of this name (its window's title), or null. It runs as a
// program of its own.
HWND findFileBrowser(HWND window, const std::wstring& folderName);
// Closes a window of another program and waits until that program has ended;
// false when it is still running after the time.
bool closeOtherProgramsWindow(HWND window, DWORD timeoutMs = 30000);

// A report-view list's column width in device pixels.
int listColumnWidth(HWND window, int id, int column);

// What is wrong with a window's layout, one sentence each: a visible control
// that runs out of the client area or over another visible control, and a
// window larger than the screen. Empty when nothing is. Rectangles are read
// in the calling thread's DPI awareness.
std::vector<std::string> layoutFaults(HWND window);

// Whether a control's text fits its width, drawn in the system's message font
// `pixelsAt96` high at 96 DPI, scaled to the window's DPI (as the windows draw
// their labels): false for a label cut short.
bool textFitsControl(HWND window, int id, int pixelsAt96);

// The DPI of Wine's screen in the prefix the test runs in (96 is 100%).
DWORD screenDpi();
// For a test of a screen at 144 DPI: empty when the screen is at 144 (and the
// calling thread then reads rectangles in device pixels, as the launcher,
// aware of each screen's DPI, has them); else why the test is skipped here.
std::string notAt144Dpi();

// Saves a picture of the window as build\screenshots\<name>.png; false (and no
// picture) when the screenshot service doesn't answer within the time.
bool takeScreenshot(HWND window, const std::wstring& name);

}  // namespace vorlane::testing
