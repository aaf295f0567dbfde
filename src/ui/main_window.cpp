// The launcher's main window: one window procedure with small On... handlers.
// Long jobs run on worker threads and report back with application messages;
// the window thread owns every control and the status texts.
#include "ui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "addons/theme_folders.h"
#include "addons/theme_update.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "core/window_messages.h"
#include "install/build_list.h"
#include "install/game_process.h"
#include "install/go_back.h"
#include "install/installer.h"
#include "install/uninstall.h"
#include "install/update_check.h"
#include "ui/main_window_controls.h"

namespace vorlane {

namespace {

constexpr int kClientWidth = 640;
constexpr int kMargin = 32;
constexpr int kDescriptionTop = 440;
constexpr UINT_PTR kCheckTimerId = 1;
constexpr int kStatusLineIds[3] = {kStatusLine1Id, kStatusLine2Id, kStatusTextId};

const wchar_t kTagline[] = L"Hold the line together: co-op tower defence for two to four friends.";
const wchar_t kDescription[] =
    L"Build towers along the winding roads, share gold with your team and hold back the waves that come at dusk. "
    L"This launcher keeps the game up to date from Vorlane's build servers: it checks every build against the "
    L"release key before installing it, keeps your settings and saves across updates, and lets you go back to the "
    L"build you had if a new one doesn't suit you.";

// What a job's progress callback posts: owned by the window once posted.
struct ProgressRecord {
    double fraction;
    std::wstring sentence;
};

struct Fonts {
    HFONT normal = nullptr;  // 15 px
    HFONT button = nullptr;  // 22 px bold
    HFONT title = nullptr;   // 44 px bold
};

struct MainWindow {
    HWND window = nullptr;
    HWND mainButton = nullptr, progressBar = nullptr;
    HWND openFolder = nullptr, uninstallButton = nullptr, changeFolder = nullptr, backButton = nullptr;
    HWND themeFiles = nullptr, whatsNew = nullptr, createTheme = nullptr;
    HWND statusMirror[3] = {};  // the status lines as hidden text, for assistive tools and tests
    Fonts fonts;
    int descriptionBottom = kDescriptionTop;
    std::wstring statusLine1, statusLine2;
};

MainWindow ui;

LauncherState& state() { return launcherState(); }

HFONT messageFont(int height, int weight) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = -height;
    font.lfWeight = weight;
    return CreateFontIndirectW(&font);
}

bool installedAndPresent() { return !state().current.empty() && state().currentFilesPresent; }

// ---- Status and buttons ----------------------------------------------------

std::wstring firstStatusLine() {
    const LauncherState& s = state();
    if (!s.current.empty() && s.currentFilesPresent)
        return L"Installed: build " + s.current + L", released " + formatReleased(s.currentReleased);
    if (!s.current.empty())
        return L"Build " + s.current +
               L"'s game files are missing (Windows security may have removed them): Repair reinstalls it, keeping "
               L"your saves.";
    return L"Not installed yet.";
}

std::wstring secondStatusLine() {
    const LauncherState& s = state();
    if (!s.builds.empty()) {
        const BuildRecord& latest = s.builds.front();
        std::wstring line = latest.commit != s.current
                                ? L"Latest: build " + latest.commit + L", released " + formatReleased(latest.released)
                                : L"This is the latest build.";
        if (latest.commit == s.heldBack) line += L" (you went back from it)";
        if (!latest.summary.empty()) line += L"\n" + latest.summary;
        return line;
    }
    if (!s.listRefusal.empty())
        return s.current.empty() ? s.listRefusal : s.listRefusal + L" You can still play what's installed.";
    return L"Couldn't reach the build server; you can still play what's installed.";
}

std::wstring mainButtonLabel() {
    const LauncherState& s = state();
    if (s.current.empty()) return L"Install && Play";
    if (!s.currentFilesPresent) return L"Repair && Play";
    if (updateDue(s)) return L"Update && Play";
    return L"Play";
}

void showControl(HWND control, bool shown) { ShowWindow(control, shown ? SW_SHOWNA : SW_HIDE); }

// Changes a control's text only when it differs, so that nothing flickers.
void setText(HWND control, const std::wstring& text) {
    wchar_t current[1024];
    GetWindowTextW(control, current, 1024);
    if (text != current) SetWindowTextW(control, text.c_str());
}

void mirrorStatus() {
    setText(ui.statusMirror[0], ui.statusLine1);
    setText(ui.statusMirror[1], ui.statusLine2);
    setText(ui.statusMirror[2], statusText);
}

void redrawStatus() {
    mirrorStatus();
    InvalidateRect(ui.window, nullptr, FALSE);
}

void refreshStatus() {
    const LauncherState& s = state();
    const bool installed = !s.current.empty();
    setText(ui.mainButton, mainButtonLabel());
    EnableWindow(ui.mainButton, !busy && !(!installed && s.builds.empty() && s.zipPath.empty()));
    EnableWindow(ui.openFolder, installed && !busy);
    EnableWindow(ui.uninstallButton, installed && !busy && !themeMaking);
    showControl(ui.changeFolder, !installed);
    EnableWindow(ui.changeFolder, !busy);
    setText(ui.backButton, L"Back to build " + s.previous);
    showControl(ui.backButton, installed && !s.previous.empty());
    EnableWindow(ui.backButton, !busy && !themeMaking);
    // The theme windows come with their own parts of the launcher.
    EnableWindow(ui.themeFiles, FALSE);
    EnableWindow(ui.createTheme, FALSE);

    ui.statusLine1 = firstStatusLine();
    ui.statusLine2 = secondStatusLine();
    redrawStatus();
}

void setStatusText(const std::wstring& text) {
    statusText = text;
    redrawStatus();
}

// ---- Jobs --------------------------------------------------------------------

JobProgress postingProgress(HWND window) {
    return [window](double fraction, const std::wstring& sentence) {
        auto record = std::make_unique<ProgressRecord>(ProgressRecord{fraction, sentence});
        if (PostMessageW(window, kProgressMessage, 0, reinterpret_cast<LPARAM>(record.get()))) record.release();
    };
}

void startInstallThread() {
    busy = true;
    noteInstallStarted();
    refreshStatus();
    HWND window = ui.window;
    std::thread([window] {
        ComApartment com;
        const bool installed = installJob(launcherState(), postingProgress(window));
        PostMessageW(window, kJobDoneMessage, installed ? 1 : 0, 0);
    }).detach();
}

// Brings the add-on themes up to the installed build, then (through job done)
// starts the game.
void startAddOnThread() {
    busy = true;
    refreshStatus();
    HWND window = ui.window;
    std::thread([window] {
        ComApartment com;
        updateAddOnThemes(launcherState(), postingProgress(window));
        PostMessageW(window, kJobDoneMessage, 1, 0);
    }).detach();
}

void startGameAndStepAside() {
    if (play(state())) ShowWindow(ui.window, SW_MINIMIZE);
}

// ---- Handlers ----------------------------------------------------------------

void OnMainButton() {
    LauncherState& s = state();
    if (bringGameToFront(s)) {
        const bool wouldInstall = s.current.empty() || !s.currentFilesPresent || updateDue(s);
        setStatusText(wouldInstall ? L"The game is still running: close it, then press the button again to update."
                                   : L"The game is already running.");
        return;
    }
    if (installedAndPresent() && !updateDue(s)) {
        if (!s.listSource.empty() && !listThemesToUpdate(s).empty())
            startAddOnThread();
        else
            startGameAndStepAside();
        return;
    }
    if (themeMaking) {
        MessageBoxW(ui.window, L"A theme is being made in the game's folder: let it finish (or stop it) before installing.",
                    L"Vorlane", MB_OK | MB_ICONINFORMATION);
        return;
    }
    startInstallThread();
}

void OnProgress(LPARAM lParam) {
    std::unique_ptr<ProgressRecord> record(reinterpret_cast<ProgressRecord*>(lParam));
    SendMessageW(ui.progressBar, PBM_SETPOS, static_cast<WPARAM>(record->fraction * 1000), 0);
    setStatusText(record->sentence);
}

void OnJobDone(bool succeeded) {
    busy = false;
    if (!succeeded) {
        std::wstring text = L"Not installed: " + state().lastError;
        if (installedAndPresent()) text += L" The installed build still plays.";
        statusText = text;
        SendMessageW(ui.progressBar, PBM_SETPOS, 0, 0);
    } else {
        startGameAndStepAside();
    }
    refreshStatus();
}

void OnCheckResult(LPARAM lParam) {
    std::unique_ptr<BuildListFetch> fetch(reinterpret_cast<BuildListFetch*>(lParam));
    if (handleUpdateCheckResult(state(), *fetch)) refreshStatus();
}

void OnOpenedAgain(HWND window) {
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    logLine(state(), L"Opened again: brought this window to the front instead.");
}

void OnOpenFolder() {
    ShellExecuteW(ui.window, L"open", buildFolder(state(), state().current).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void OnUninstall() {
    const int answer = MessageBoxW(ui.window,
                                   L"Remove Vorlane from this PC?\n\nYes: remove the game and keep your settings and "
                                   L"saves (they come back if you install again).\nNo: remove everything, your saves "
                                   L"too.",
                                   L"Vorlane", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return;
    statusText = uninstall(state(), answer == IDNO) ? L"Uninstalled." : state().lastError;
    refreshStatus();
}

// The system's folder picker; empty when nothing was picked.
std::wstring pickFolder(HWND owner) {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(dialog.put()))))
        return {};
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    dialog->SetTitle(L"Where should Vorlane be installed?");
    if (dialog->Show(owner) != S_OK) return {};
    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.put()))) return {};
    wchar_t* path = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) return {};
    std::wstring folder = path;
    CoTaskMemFree(path);
    return folder;
}

void OnChangeFolder() {
    const std::wstring folder = pickFolder(ui.window);
    if (folder.empty()) return;
    state().installDir = joinPath(folder, L"Vorlane");
    writeSetting(state(), L"InstallDir", state().installDir);
    setStatusText(L"It will be installed in " + state().installDir);
}

void OnBack() {
    LauncherState& s = state();
    const std::wstring question = L"Go back to build " + s.previous + L"? Your settings and saves come with you, and "
                                  L"build " + s.current + L" isn't offered as an update again (a newer one is).";
    if (MessageBoxW(ui.window, question.c_str(), L"Vorlane", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
    statusText = goBack(s) ? L"Now on build " + s.current + L"." : s.lastError;
    refreshStatus();
}

void OnWhatsNew() {
    MessageBoxW(ui.window, whatsNewText(state()).c_str(), L"What's new", MB_OK | MB_ICONINFORMATION);
}

void OnCommand(WORD id) {
    switch (id) {
    case kMainButtonId: OnMainButton(); break;
    case kOpenFolderId: OnOpenFolder(); break;
    case kUninstallId: OnUninstall(); break;
    case kChangeFolderId: OnChangeFolder(); break;
    case kBackId: OnBack(); break;
    case kWhatsNewId: OnWhatsNew(); break;
    }
}

void OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) return;
    const unsigned long long wait = std::min<unsigned long long>(checkEveryMs, 60000);
    if (GetTickCount64() - startTick >= wait) startUpdateCheck(state(), ui.window);
}

bool OnClose() {
    if (!themeMaking) return true;
    return MessageBoxW(ui.window, L"A theme is being made. Stop it and close? What's made so far is kept.", L"Vorlane",
                       MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

// ---- Painting ----------------------------------------------------------------

void paintGradient(HDC dc, const RECT& area) {
    const int height = area.bottom - area.top;
    for (int y = 0; y < height; ++y) {
        const double t = height > 1 ? double(y) / (height - 1) : 0;
        auto mix = [t](int top, int bottom) { return int(top + (bottom - top) * t + 0.5); };
        HBRUSH brush = CreateSolidBrush(RGB(mix(26, 10), mix(34, 12), mix(48, 18)));
        RECT row{area.left, area.top + y, area.right, area.top + y + 1};
        FillRect(dc, &row, brush);
        DeleteObject(brush);
    }
}

void drawText(HDC dc, const std::wstring& text, RECT box, HFONT font, COLORREF color, UINT format) {
    SelectObject(dc, font);
    SetTextColor(dc, color);
    DrawTextW(dc, text.c_str(), (int)text.size(), &box, format | DT_NOPREFIX);
}

void paint(HDC dc, int width, int height) {
    paintGradient(dc, RECT{0, 0, width, height});
    SetBkMode(dc, TRANSPARENT);
    drawText(dc, L"Vorlane", RECT{kMargin, 24, width - kMargin, 80}, ui.fonts.title, RGB(240, 200, 90),
             DT_SINGLELINE | DT_LEFT | DT_VCENTER);
    drawText(dc, kTagline, RECT{34, 80, 478, 120}, ui.fonts.normal, RGB(235, 215, 150),
             DT_WORDBREAK | DT_END_ELLIPSIS | DT_EDITCONTROL);

    HPEN pen = CreatePen(PS_SOLID, 1, RGB(60, 64, 80));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    MoveToEx(dc, kMargin, kDescriptionTop - 12, nullptr);
    LineTo(dc, width - kMargin, kDescriptionTop - 12);
    SelectObject(dc, oldPen);
    DeleteObject(pen);

    drawText(dc, kDescription, RECT{kMargin, kDescriptionTop, kMargin + 576, ui.descriptionBottom}, ui.fonts.normal,
             RGB(165, 165, 178), DT_WORDBREAK);
    drawText(dc, L"launcher " + launcherVersion(),
             RECT{kMargin, ui.descriptionBottom + 6, 608, ui.descriptionBottom + 24}, ui.fonts.normal,
             RGB(110, 110, 125), DT_SINGLELINE | DT_RIGHT);

    const COLORREF status = RGB(225, 225, 230);
    drawText(dc, ui.statusLine1, RECT{kMargin, 134, 608, 156}, ui.fonts.normal, status, DT_WORDBREAK);
    drawText(dc, ui.statusLine2, RECT{kMargin, 160, 608, 242}, ui.fonts.normal, status, DT_WORDBREAK);
    drawText(dc, statusText, RECT{kMargin, 348, 608, 372}, ui.fonts.normal, status, DT_WORDBREAK);
}

void OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HGDIOBJ oldFont = SelectObject(memory, ui.fonts.normal);
    paint(memory, client.right, client.bottom);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &ps);
}

// ---- Creation ------------------------------------------------------------------

HWND makeButton(HWND parent, const wchar_t* text, int x, int y, int width, int height, int id, HFONT font,
                bool visible = true) {
    HWND button = CreateWindowExW(0, WC_BUTTONW, text,
                                  WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON | (visible ? WS_VISIBLE : 0), x, y, width,
                                  height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return button;
}

void OnCreate(HWND window) {
    ui.window = window;
    ui.mainButton = makeButton(window, L"", 32, 250, 576, 64, kMainButtonId, ui.fonts.button);
    ui.progressBar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 32, 328, 576, 14, window, nullptr,
                                     nullptr, nullptr);
    SendMessageW(ui.progressBar, PBM_SETRANGE32, 0, 1000);
    ui.openFolder = makeButton(window, L"Open folder", 32, 382, 140, 30, kOpenFolderId, ui.fonts.normal);
    ui.uninstallButton = makeButton(window, L"Uninstall", 468, 382, 140, 30, kUninstallId, ui.fonts.normal);
    ui.changeFolder = makeButton(window, L"Change folder...", 182, 382, 150, 30, kChangeFolderId, ui.fonts.normal, false);
    ui.backButton = makeButton(window, L"Back", 182, 382, 200, 30, kBackId, ui.fonts.normal, false);
    ui.themeFiles = makeButton(window, L"Theme files", 488, 30, 120, 28, kThemeFilesId, ui.fonts.normal);
    ui.whatsNew = makeButton(window, L"What's new", 358, 30, 120, 28, kWhatsNewId, ui.fonts.normal);
    ui.createTheme = makeButton(window, L"Create theme", 488, 64, 120, 28, kCreateThemeId, ui.fonts.normal);
    for (int i = 0; i < 3; ++i)
        ui.statusMirror[i] = CreateWindowExW(0, WC_STATICW, L"", WS_CHILD, 0, 0, 0, 0, window,
                                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusLineIds[i])), nullptr,
                                             nullptr);
    refreshStatus();
    SetTimer(window, kCheckTimerId, checkEveryMs, nullptr);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: OnCreate(window); return 0;
    case WM_COMMAND: OnCommand(LOWORD(wParam)); return 0;
    case WM_PAINT: OnPaint(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_TIMER:
        if (wParam == kCheckTimerId) startUpdateCheck(state(), window);
        return 0;
    case WM_ACTIVATE: OnActivate(wParam); break;
    case kProgressMessage: OnProgress(lParam); return 0;
    case kJobDoneMessage: OnJobDone(wParam != 0); return 0;
    case kCheckResultMessage: OnCheckResult(lParam); return 0;
    case kOpenedAgainMessage: OnOpenedAgain(window); return 0;
    case WM_CLOSE:
        if (OnClose()) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, kCheckTimerId);
        RemovePropW(window, kInstanceRootProperty);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The description's bottom edge when word-wrapped 576 pixels wide.
int measureDescriptionBottom(HFONT font) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT box{kMargin, kDescriptionTop, kMargin + 576, kDescriptionTop};
    DrawTextW(dc, kDescription, -1, &box, DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return box.bottom;
}

}  // namespace

int runMainWindow(LauncherState&, HINSTANCE instance, int showCommand, unsigned instanceHash) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    ui.fonts.normal = messageFont(15, FW_NORMAL);
    ui.fonts.button = messageFont(22, FW_BOLD);
    ui.fonts.title = messageFont(44, FW_BOLD);
    ui.descriptionBottom = measureDescriptionBottom(ui.fonts.normal);

    WNDCLASSEXW windowClass{sizeof windowClass};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassExW(&windowClass);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, kClientWidth, ui.descriptionBottom + 34};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowExW(0, kMainWindowClass, L"Vorlane", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                  nullptr);
    if (!window) return 1;
    SetPropW(window, kInstanceRootProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(instanceHash)));
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    for (HFONT font : {ui.fonts.normal, ui.fonts.button, ui.fonts.title}) DeleteObject(font);
    return 0;
}

}  // namespace vorlane
