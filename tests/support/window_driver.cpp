#include "support/window_driver.h"

#include <commctrl.h>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

std::wstring controlText(HWND window, int id) {
    // Asked with WM_GETTEXT: GetWindowText gives another process's edit box
    // its caption rather than what it holds.
    HWND control = GetDlgItem(window, id);
    std::wstring text(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0) + 1, L'\0');
    text.resize(SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    return text;
}

bool controlEnabled(HWND window, int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }

bool controlVisible(HWND window, int id) { return IsWindowVisible(GetDlgItem(window, id)) != FALSE; }

int progressPosition(HWND window, int id) {
    HWND bar = id ? GetDlgItem(window, id) : FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    return (int)SendMessageW(bar, PBM_GETPOS, 0, 0);
}

void pressButton(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

static DWORD processOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

HWND findWindowBeside(HWND window, const wchar_t* className, const wchar_t* caption) {
    const DWORD process = processOf(window);
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, className, caption)) != nullptr) {
        if (IsWindowVisible(found) && processOf(found) == process) return found;
    }
    return nullptr;
}

HWND findMessageBox(HWND window, const std::wstring& caption) {
    return findWindowBeside(window, L"#32770", caption.c_str());
}

std::wstring messageBoxText(HWND box) { return controlText(box, 0xFFFF); }

void answerMessageBox(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

bool takeScreenshot(HWND window, const std::wstring& name) {
    const std::wstring folder = joinPath(parentFolder(testProgramFolder()), L"screenshots");
    const std::wstring picture = joinPath(folder, name + L".png");
    if (!folderExists(joinPath(folder, L"requests"))) return false;
    DeleteFileW(picture.c_str());
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    Sleep(200);  // let the X server show what Wine drew
    // The client area: without a window manager the frame isn't drawn anyway.
    RECT box;
    GetClientRect(window, &box);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&box), 2);
    const std::string request = std::to_string(box.left) + " " + std::to_string(box.top) + " " +
                                std::to_string(box.right - box.left) + " " + std::to_string(box.bottom - box.top) + "\n";
    const std::wstring requestPath = joinPath(folder, L"requests\\" + name + L".txt");
    if (!writeFileAtomically(requestPath, request)) return false;
    return waitFor([&] { return fileExists(picture); }, 20000);
}

}  // namespace vorlane::testing
