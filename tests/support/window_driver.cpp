#include "support/window_driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "ui/gdi.h"

namespace vorlane::testing {

// Asked with WM_GETTEXT, which the system carries across processes: for
// another process's window GetWindowText gives only the text the window was
// created or last set with, never what an edit box holds.
std::wstring controlText(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    constexpr UINT kFlags = SMTO_ABORTIFHUNG | SMTO_BLOCK;
    DWORD_PTR length = 0;
    if (!control || !SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, kFlags, 10000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), kFlags, 10000,
                             &copied))
        return {};
    text.resize(std::min<size_t>(copied, length));
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

namespace {

// A block of memory in a window's process, for the messages whose parameter
// points to a structure (the pointer must mean something to the receiver).
class RemoteBlock {
public:
    RemoteBlock(HWND window, size_t size) {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processOf(window));
        if (process_) base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    ~RemoteBlock() {
        if (base_) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }

    explicit operator bool() const { return base_ != nullptr; }
    // The address, in the other process, `offset` bytes into the block.
    void* at(size_t offset) const { return static_cast<char*>(base_) + offset; }
    bool write(size_t offset, const void* bytes, size_t size) const {
        return WriteProcessMemory(process_, at(offset), bytes, size, nullptr) != FALSE;
    }
    bool read(size_t offset, void* bytes, size_t size) const {
        return ReadProcessMemory(process_, at(offset), bytes, size, nullptr) != FALSE;
    }

private:
    HANDLE process_ = nullptr;
    void* base_ = nullptr;
};

}  // namespace

int listRowCount(HWND window, int id) {
    return static_cast<int>(SendMessageW(GetDlgItem(window, id), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring listCellText(HWND window, int id, int row, int column) {
    constexpr int kCharacters = 4096;
    RemoteBlock block(window, sizeof(LVITEMW) + kCharacters * sizeof(wchar_t));
    if (!block) return {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = static_cast<wchar_t*>(block.at(sizeof item));
    item.cchTextMax = kCharacters;
    if (!block.write(0, &item, sizeof item)) return {};
    const LRESULT length =
        SendMessageW(GetDlgItem(window, id), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.at(0)));
    std::wstring text(static_cast<size_t>(std::clamp<LRESULT>(length, 0, kCharacters - 1)), L'\0');
    if (!text.empty() && !block.read(sizeof item, text.data(), text.size() * sizeof(wchar_t))) return {};
    return text;
}

int listSelectedRow(HWND window, int id) {
    return static_cast<int>(
        SendMessageW(GetDlgItem(window, id), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool selectListRow(HWND window, int id, int row) {
    RemoteBlock block(window, sizeof(LVITEMW));
    if (!block) return false;
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    if (!block.write(0, &item, sizeof item)) return false;
    HWND list = GetDlgItem(window, id);
    if (!SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.at(0)))) return false;
    SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
    return true;
}

std::wstring clipboardText() {
    if (!OpenClipboard(nullptr)) return {};
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* characters = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = characters;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
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

static DWORD parentProcessOf(DWORD process) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{sizeof entry};
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == process) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

HWND findFileBrowser(HWND window, const std::wstring& folderName) {
    const DWORD opener = processOf(window);
    HWND browser = nullptr;
    while ((browser = FindWindowExW(nullptr, browser, L"ExplorerWClass", folderName.c_str())) != nullptr) {
        if (IsWindowVisible(browser) && parentProcessOf(processOf(browser)) == opener) return browser;
    }
    return nullptr;
}

bool closeOtherProgramsWindow(HWND window, DWORD timeoutMs) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processOf(window));
    if (!process) return false;
    PostMessageW(window, WM_CLOSE, 0, 0);
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

int listColumnWidth(HWND window, int id, int column) {
    return static_cast<int>(SendMessageW(GetDlgItem(window, id), LVM_GETCOLUMNWIDTH, column, 0));
}

std::vector<std::string> layoutFaults(HWND window) {
    std::vector<std::string> faults;
    RECT client;
    GetClientRect(window, &client);
    std::vector<std::pair<int, RECT>> controls;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT box;
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        controls.emplace_back(GetDlgCtrlID(child), box);
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        const auto& [id, box] = controls[i];
        const std::string name = "control " + std::to_string(id);
        if (box.left < 0 || box.top < 0 || box.right > client.right || box.bottom > client.bottom ||
            box.right <= box.left || box.bottom <= box.top)
            faults.push_back(name + " runs out of the window");
        for (size_t j = i + 1; j < controls.size(); ++j) {
            RECT overlap;
            if (IntersectRect(&overlap, &box, &controls[j].second))
                faults.push_back(name + " and control " + std::to_string(controls[j].first) + " overlap");
        }
    }
    RECT frame;
    GetWindowRect(window, &frame);
    if (frame.right - frame.left > GetSystemMetrics(SM_CXSCREEN) ||
        frame.bottom - frame.top > GetSystemMetrics(SM_CYSCREEN))
        faults.push_back("the window is larger than the screen");
    return faults;
}

bool textFitsControl(HWND window, int id, int pixelsAt96) {
    HWND control = GetDlgItem(window, id);
    RECT box;
    GetClientRect(control, &box);
    const std::wstring text = controlText(window, id);
    const FontHandle font = messageFont(MulDiv(pixelsAt96, static_cast<int>(GetDpiForWindow(window)), 96), FW_NORMAL);
    WindowDc dc(nullptr);
    SelectedObject selected(dc.get(), font.get());
    SIZE extent{};
    // With a few pixels to spare: a label drawn with an ellipsis cuts a text that only just fits.
    return GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent) &&
           extent.cx + MulDiv(4, static_cast<int>(GetDpiForWindow(window)), 96) <= box.right;
}

DWORD screenDpi() {
    DWORD dpi = 96, size = sizeof dpi;
    RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", RRF_RT_REG_DWORD, nullptr, &dpi, &size);
    return dpi;
}

std::string notAt144Dpi() {
    const DWORD dpi = screenDpi();
    if (dpi != 144)
        return "Wine's screen is at " + std::to_string(dpi) +
               " DPI in this prefix; CTest runs this test in build/wine-144dpi";
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    return {};
}

bool takeScreenshot(HWND window, const std::wstring& name) {
    const std::wstring folder = joinPath(parentFolder(testProgramFolder()), L"screenshots");
    const std::wstring picture = joinPath(folder, name + L".png");
    if (!folderExists(joinPath(folder, L"requests"))) return false;
    DeleteFileW(picture.c_str());
    // Above any other program's window, without activating it (activation has its own effects).
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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
