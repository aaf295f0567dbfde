// The theme files window. It opens with the slot list the state has and loads
// a fresh one on the job runner, filling the list again when that comes; the
// theme folder and the style it changes go into the state and launcher.ini at
// once. The list is filled again whenever the window becomes active, so that
// files the player added meanwhile show as there.
#include "ui/theme_files_window.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "core/failure.h"
#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/window_messages.h"
#include "slots/checklist.h"
#include "slots/theme_slots.h"
#include "themes/subjects.h"
#include "ui/shell.h"
#include "ui/theme_files_controls.h"

namespace vorlane {

namespace {

// Sizes in pixels at 96 DPI.
constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 700;
constexpr int kSmallestWidth = 900;
constexpr int kSmallestHeight = 520;
constexpr int kFontPixels = 15;
constexpr int kStyleLimit = 255;

const wchar_t kTitle[] = L"Vorlane: theme files";
const wchar_t kNoFolder[] = L"(choose a theme's folder)";
const wchar_t kStyleHint[] = L"Goes into every prompt for {theme}, like \"1940s noir\" or \"neon sci-fi\".";
const wchar_t kPickerTitle[] = L"Choose a theme's folder (Plugins\\GameFeatures\\Themes\\<Name>) or its Import folder";
const wchar_t kPickASlot[] = L"Pick a slot to see what it's for and its prompt.";
const wchar_t kNoSlots[] = L"No list of theme files: the build server couldn't be reached and none is kept.";
const wchar_t kLoadingSlots[] = L"Loading the theme files list...";
const wchar_t kThereMark[] = L"\u2713";
const wchar_t kChooseToPreview[] = L"Choose a theme's folder to see its files here.";
const wchar_t kPreviewLoading[] = L"Loading the preview...";
constexpr UINT_PTR kPlayTimer = 1;


// A place or a size at 96 DPI. One counted from the far edge is the client
// area's width (or height) less the pixels: a place from the right (or the
// bottom), or a size that grows with the window.
struct Span {
    int pixels;
    bool fromFarEdge = false;
};
constexpr Span fromFarEdge(int pixels) { return Span{pixels, true}; }

struct ControlEntry {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    Span x, y, width, height;
};

// One line each, cut with "..." rather than wrapped out of sight when the
// font is wider than the place.
constexpr DWORD kLabel = WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS;
// The folder, cut in its middle when it is too long, beside the buttons.
constexpr DWORD kFolderLabel = (kLabel & ~SS_ELLIPSISMASK) | SS_CENTERIMAGE | SS_PATHELLIPSIS;
constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kListStyle =
    WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
constexpr DWORD kDetailsStyle =
    WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;

// In creation order, which is also the order the Tab key would take.
const ControlEntry kControls[] = {
    {kThemeFolderCaptionId, WC_STATICW, L"Theme folder", kLabel, {12}, {16}, {90}, {26}},
    {kThemeFolderTextId, WC_STATICW, kNoFolder, kFolderLabel, {107}, {12}, fromFarEdge(503), {26}},
    {kChooseThemeFolderId, WC_BUTTONW, L"Choose...", kButton, fromFarEdge(384), {12}, {120}, {26}},
    {kOpenThemeFolderId, WC_BUTTONW, L"Open folder", kButton, fromFarEdge(260), {12}, {120}, {26}},
    {kMakeSlotFoldersId, WC_BUTTONW, L"Make its folders", kButton, fromFarEdge(136), {12}, {124}, {26}},
    {kThemeStyleCaptionId, WC_STATICW, L"Theme style", kLabel, {12}, {50}, {90}, {26}},
    {kThemeStyleId, WC_EDITW, L"", WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, {107}, {46}, {300}, {26}},
    {kThemeStyleHintId, WC_STATICW, kStyleHint, kLabel, {417}, {50}, fromFarEdge(429), {26}},
    {kThemeSummaryId, WC_STATICW, L"", kLabel, {12}, {82}, fromFarEdge(274), {26}},
    {kExportChecklistId, WC_BUTTONW, L"Export a checklist", kButton, fromFarEdge(252), {78}, {240}, {26}},
    {kSlotListId, WC_LISTVIEWW, L"", kListStyle, {12}, {112}, fromFarEdge(356), fromFarEdge(306)},
    {kPlaySoundId, WC_BUTTONW, L"Play", WS_TABSTOP | BS_PUSHBUTTON, fromFarEdge(332), fromFarEdge(226), {100}, {28}},
    {kSlotDetailsId, WC_EDITW, L"", kDetailsStyle, {12}, fromFarEdge(182), fromFarEdge(164), {170}},
    {kCopyPromptId, WC_BUTTONW, L"Copy prompt", kButton, fromFarEdge(142), fromFarEdge(182), {130}, {34}},
};

struct ColumnEntry {
    const wchar_t* title;
    int width;
};
const ColumnEntry kColumns[] = {
    {L"Have", 52}, {L"Slot", 210}, {L"Category", 80}, {L"Kind", 90}, {L"In the game", 104}, {L"File", 300},
};
constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];

// The preview pane's place: beside the list, growing with the window's height.
struct PanePlace {
    Span x, y, width, height;
};
const PanePlace kPreviewPlace{fromFarEdge(332), {112}, {320}, fromFarEdge(346)};

// "In the game" in the list: the version without its remark, or "now".
std::wstring usedFromInList(const ThemeSlot& slot) {
    if (slot.UsedFrom.empty()) return L"now";
    return L"from " + slot.UsedFrom.substr(0, slot.UsedFrom.find(L" ("));
}

std::vector<std::wstring> rowCells(const ThemeSlot& slot, bool there) {
    const std::wstring kind = slot.Loops ? slot.Kind + L", loops" : slot.Kind;
    return {there ? kThereMark : L"", slot.Name, slot.Category, kind, usedFromInList(slot), slot.File};
}

// The selected slot's details, one line each; the file line says whether it
// is there only when there is a theme folder (an import folder) to look in.
std::wstring detailsText(const ThemeSlot& slot, const std::wstring& style, const std::wstring& importFolder) {
    std::wstring fileLine = L"File: Import\\" + replaceEvery(slot.File, L"/", L"\\");
    if (!importFolder.empty()) fileLine += slotIsThere(importFolder, slot) ? L"  (there)" : L"  (missing)";
    std::wstring gameLine = L"In the game: " + (slot.UsedFrom.empty() ? L"now" : L"from " + slot.UsedFrom);
    if (slot.Optional) gameLine += L" (optional: the game does without it)";
    const std::wstring lines[] = {
        slot.Name + L" (" + slot.Kind + L"): " + slot.Purpose,
        slot.Generator + L": " + ShownPrompt(slot, style),
        L"",
        fileLine,
        L"Format: " + slot.Format,
        gameLine,
    };
    std::wstring text;
    for (const std::wstring& line : lines) text += (text.empty() ? L"" : L"\r\n") + line;
    return text;
}

std::wstring summaryText(const LauncherState& state, bool loading) {
    if (state.themeSlots.empty()) return loading ? kLoadingSlots : kNoSlots;
    const std::wstring all = std::to_wstring(state.themeSlots.size());
    if (state.themeFolder.empty())
        return all + L" files a theme can supply. Choose a theme's folder to see which it has.";
    return std::to_wstring(slotsThere(state.themeSlots, importFolderOf(state.themeFolder))) + L" / " + all +
           L" files in place.";
}

void logFailure(LauncherState& state, const Failure& failure) {
    if (failure) logLine(state, failure.text());
}

}  // namespace

void openThemeFilesWindow(std::unique_ptr<ThemeFilesWindow>& window, LauncherState& state, HINSTANCE instance) {
    if (window && window->hwnd()) {
        window->showAgain();
        return;
    }
    window.reset();
    state.themeFolder = readSetting(state, L"ThemeFolder");
    state.themeStyle = readSetting(state, L"ThemeStyle");
    window = std::make_unique<ThemeFilesWindow>(state);
    if (!window->open(instance)) logLine(state, systemFailure(L"Couldn't open the theme files window.").text());
}

bool ThemeFilesWindow::open(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const std::wstring sentence = L"Couldn't open the theme files window.";
    if (!registerClass(instance, kThemeFilesWindowClass)) {
        logFailure(state_, systemFailure(sentence));
        return false;
    }
    // The size at 96 DPI; the window scales it once it knows its DPI (OnCreate).
    if (!create(kThemeFilesWindowClass, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                kWindowWidth, kWindowHeight, instance)) {
        logFailure(state_, systemFailure(sentence));
        return false;
    }
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    UpdateWindow(hwnd());
    return true;
}

LRESULT ThemeFilesWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: OnCreate(); return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) OnSize();
        return 0;
    case WM_GETMINMAXINFO: OnMinMaxInfo(lParam); return 0;
    case WM_ACTIVATE: OnActivate(wParam); break;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnNotify(lParam);
    case WM_ERASEBKGND: return OnEraseBackground(wParam);
    case WM_TIMER:
        if (wParam == kPlayTimer) stopSound();
        return 0;
    case kPreviewDoneMessage: OnPreviewDone(lParam); return 0;
    case WM_CLOSE: OnClose(); return 0;
    case WM_DESTROY: stopSound(); break;
    case kThemeSlotsLoadedMessage: OnSlotsLoaded(lParam); return 0;
    }
    return WindowBase::handleMessage(message, wParam, lParam);
}

void ThemeFilesWindow::onDpiChanged() {
    makeFonts();
    sizeColumns();
    layOut();
    InvalidateRect(hwnd(), nullptr, TRUE);
}

// ---- Creation and layout ---------------------------------------------------

void ThemeFilesWindow::OnCreate() {
    for (const ControlEntry& entry : kControls) addControl(entry.className, entry.text, entry.style, entry.id);
    list_ = GetDlgItem(hwnd(), kSlotListId);
    styleEdit_ = GetDlgItem(hwnd(), kThemeStyleId);
    preview_.open(hwnd(), kPreviewPaneId, reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd(), GWLP_HINSTANCE)));

    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    for (int i = 0; i < kColumnCount; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(kColumns[i].title);
        column.cx = scale(kColumns[i].width);
        column.iSubItem = i;
        SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }

    SendMessageW(styleEdit_, EM_SETLIMITTEXT, kStyleLimit, 0);
    quiet_ = true;
    SetWindowTextW(styleEdit_, state_.themeStyle.substr(0, kStyleLimit).c_str());
    quiet_ = false;

    makeFonts();
    if (dpi() != 96)
        SetWindowPos(hwnd(), nullptr, 0, 0, scale(kWindowWidth), scale(kWindowHeight),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    layOut();
    slotsLoad_.start(hwnd(), state_);
    fillList();
}

void ThemeFilesWindow::showAgain() {
    slotsLoad_.showAgain();
    bringForward();
}

void ThemeFilesWindow::OnClose() {
    stopSound();
    if (!slotsLoad_.hideUntilLoaded()) DestroyWindow(hwnd());
}

void ThemeFilesWindow::OnSlotsLoaded(LPARAM lParam) {
    switch (slotsLoad_.finish(lParam, state_)) {
    case ThemeSlotsLoad::Outcome::Close: DestroyWindow(hwnd()); break;
    case ThemeSlotsLoad::Outcome::Changed: fillList(); break;
    case ThemeSlotsLoad::Outcome::Same: showSummary(); break;
    }
}

void ThemeFilesWindow::makeFonts() {
    // The controls let go of the old font before it is deleted. Its size is
    // rounded down, never up: a caption that fits its place at 96 DPI (such
    // as "Theme folder") then fits it at every other.
    const int pixels = kFontPixels * static_cast<int>(dpi()) / 96;
    FontHandle font = messageFont(pixels, FW_NORMAL);
    for (const ControlEntry& entry : kControls) setControlFont(GetDlgItem(hwnd(), entry.id), font.get());
    setControlFont(preview_.hwnd(), font.get());
    font_ = std::move(font);
    tickFont_ = fontThatDraws(kThereMark[0], pixels);
}

void ThemeFilesWindow::sizeColumns() {
    for (int i = 0; i < kColumnCount; ++i) SendMessageW(list_, LVM_SETCOLUMNWIDTH, i, scale(kColumns[i].width));
}

void ThemeFilesWindow::layOut() {
    RECT client;
    GetClientRect(hwnd(), &client);
    auto resolve = [this](Span span, int extent) {
        return span.fromFarEdge ? extent - scale(span.pixels) : scale(span.pixels);
    };
    for (const ControlEntry& entry : kControls) {
        MoveWindow(GetDlgItem(hwnd(), entry.id), resolve(entry.x, client.right), resolve(entry.y, client.bottom),
                   resolve(entry.width, client.right), resolve(entry.height, client.bottom), TRUE);
    }
    MoveWindow(preview_.hwnd(), resolve(kPreviewPlace.x, client.right), resolve(kPreviewPlace.y, client.bottom),
               resolve(kPreviewPlace.width, client.right), resolve(kPreviewPlace.height, client.bottom), TRUE);
}

void ThemeFilesWindow::OnSize() {
    const SIZE before = preview_.drawingSize();
    layOut();
    // A drawing made for the old size is made again for the new one.
    const SIZE after = preview_.drawingSize();
    if ((before.cx != after.cx || before.cy != after.cy) && preview_.shown().kind != PreviewKind::Nothing)
        startPreview();
}

void ThemeFilesWindow::OnMinMaxInfo(LPARAM lParam) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize = POINT{scale(kSmallestWidth), scale(kSmallestHeight)};
}

LRESULT ThemeFilesWindow::OnEraseBackground(WPARAM wParam) {
    RECT client;
    GetClientRect(hwnd(), &client);
    FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
}

void ThemeFilesWindow::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) != WA_INACTIVE) fillList();
}

// ---- The list, the summary and the details ----------------------------------

std::wstring ThemeFilesWindow::importFolder() const { return importFolderOf(state_.themeFolder); }

int ThemeFilesWindow::selectedRow() const {
    if (!list_) return -1;
    return static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ThemeFilesWindow::fillList() {
    if (!list_) return;
    const int keep = selectedRow();
    const std::wstring import = importFolder();
    quiet_ = true;
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    for (const ThemeSlot& slot : state_.themeSlots) {
        const std::vector<std::wstring> cells = rowCells(slot, slotIsThere(import, slot));
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(cells[0].c_str());
        SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (int column = 1; column < kColumnCount; ++column) {
            item.iSubItem = column;
            item.pszText = const_cast<wchar_t*>(cells[column].c_str());
            SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        }
        ++row;
    }
    if (keep >= 0 && keep < row) {
        LVITEMW state{};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list_, LVM_SETITEMSTATE, keep, reinterpret_cast<LPARAM>(&state));
        SendMessageW(list_, LVM_ENSUREVISIBLE, keep, FALSE);
    }
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    quiet_ = false;

    SetDlgItemTextW(hwnd(), kThemeFolderTextId, state_.themeFolder.empty() ? kNoFolder : state_.themeFolder.c_str());
    showSummary();
    showDetails();
    showPreview();
}

void ThemeFilesWindow::showSummary() {
    SetDlgItemTextW(hwnd(), kThemeSummaryId, summaryText(state_, slotsLoad_.loading()).c_str());
}

void ThemeFilesWindow::showDetails() {
    const int row = selectedRow();
    const bool picked = row >= 0 && row < static_cast<int>(state_.themeSlots.size());
    const std::wstring text =
        picked ? detailsText(state_.themeSlots[row], state_.themeStyle, importFolder()) : std::wstring(kPickASlot);
    SetDlgItemTextW(hwnd(), kSlotDetailsId, text.c_str());
}

// The "Have" column is drawn in a font that has the tick; the other columns
// keep the list's own.
LRESULT ThemeFilesWindow::OnListCustomDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        SelectObject(draw->nmcd.hdc, draw->iSubItem == 0 && tickFont_ ? tickFont_.get() : font_.get());
        return CDRF_NEWFONT;
    }
    return CDRF_DODEFAULT;
}

LRESULT ThemeFilesWindow::OnNotify(LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == kSlotListId && header->code == NM_CUSTOMDRAW)
        return OnListCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
    if (quiet_ || header->idFrom != kSlotListId || header->code != LVN_ITEMCHANGED) return 0;
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
    if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED)) {
        showDetails();
        showPreview();
    }
    return 0;
}

// ---- Buttons and the style ---------------------------------------------------

void ThemeFilesWindow::OnCommand(WORD id, WORD code) {
    if (id == kThemeStyleId) {
        if (code == EN_CHANGE) OnStyleChanged();
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
    case kChooseThemeFolderId: OnChooseFolder(); break;
    case kOpenThemeFolderId: OnOpenFolder(); break;
    case kMakeSlotFoldersId: OnMakeFolders(); break;
    case kCopyPromptId: OnCopyPrompt(); break;
    case kExportChecklistId: OnExportChecklist(); break;
    case kPlaySoundId: OnPlay(); break;
    }
}

void ThemeFilesWindow::OnChooseFolder() {
    const std::wstring folder = pickFolder(hwnd(), kPickerTitle);
    if (folder.empty()) return;
    state_.themeFolder = folder;
    logFailure(state_, writeSetting(state_, L"ThemeFolder", folder));
    fillList();
}

void ThemeFilesWindow::OnOpenFolder() {
    if (state_.themeFolder.empty()) return;
    const std::wstring import = importFolder();
    openWithShell(hwnd(), folderExists(import) ? import : state_.themeFolder);
}

void ThemeFilesWindow::OnMakeFolders() {
    if (state_.themeFolder.empty()) return;
    const std::wstring import = importFolder();
    // Each folder once, the import folder first (it is made even without slots).
    std::vector<std::wstring> folders{import};
    for (const ThemeSlot& slot : state_.themeSlots) {
        const std::wstring path = slotPath(import, slot);
        if (path.empty()) continue;
        const std::wstring folder = parentFolder(path);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    for (const std::wstring& folder : folders) {
        if (!makeFolderTree(folder)) logFailure(state_, systemFailure(L"Couldn't make the folder " + folder + L"."));
    }
    openWithShell(hwnd(), import);
}

void ThemeFilesWindow::OnStyleChanged() {
    if (quiet_) return;
    wchar_t text[kStyleLimit + 1] = {};
    GetWindowTextW(styleEdit_, text, kStyleLimit + 1);
    state_.themeStyle = text;
    logFailure(state_, writeSetting(state_, L"ThemeStyle", state_.themeStyle));
    showDetails();
}

void ThemeFilesWindow::OnCopyPrompt() {
    const int row = selectedRow();
    if (row < 0 || row >= static_cast<int>(state_.themeSlots.size())) return;
    const ThemeSlot& slot = state_.themeSlots[row];
    if (!copyToClipboard(hwnd(), ShownPrompt(slot, state_.themeStyle))) {
        logFailure(state_, systemFailure(L"Couldn't put the prompt for " + slot.Name + L" on the clipboard."));
        return;
    }
    SetDlgItemTextW(hwnd(), kThemeSummaryId, (L"Copied the prompt for " + slot.Name + L".").c_str());
}

void ThemeFilesWindow::OnExportChecklist() {
    if (state_.themeFolder.empty()) {
        MessageBoxW(hwnd(), L"Choose a theme's folder first: the checklist goes in it.", L"Vorlane",
                    MB_OK | MB_ICONINFORMATION);
        return;
    }
    const std::wstring path = exportChecklist(state_);
    if (path.empty()) {
        logFailure(state_, systemFailure(L"Couldn't write " + joinPath(state_.themeFolder, kChecklistName) + L"."));
        return;
    }
    openWithShell(hwnd(), path);
}

// ---- The preview --------------------------------------------------------------

void ThemeFilesWindow::showInPane(FilePreview preview) {
    stopSound();
    const bool sound = preview.kind == PreviewKind::Sound && preview.playable;
    preview_.show(std::move(preview));
    ShowWindow(GetDlgItem(hwnd(), kPlaySoundId), sound ? SW_SHOWNA : SW_HIDE);
}

void ThemeFilesWindow::showPreview() {
    const int row = selectedRow();
    previewWanted_.clear();
    if (row < 0 || row >= static_cast<int>(state_.themeSlots.size())) {
        showInPane(FilePreview{});
        return;
    }
    if (state_.themeFolder.empty()) {
        showInPane(FilePreview{L"", PreviewKind::Nothing, {kChooseToPreview}});
        return;
    }
    const ThemeSlot& slot = state_.themeSlots[row];
    const std::wstring import = importFolder();
    const std::wstring path = slotPath(import, slot);
    if (path.empty() || !fileExists(path)) {
        showInPane(missingFilePreview(path, slot.Format));
        return;
    }
    previewWanted_ = path;
    startPreview();
}

// One preview is made at a time; a selection made meanwhile is made next.
void ThemeFilesWindow::startPreview() {
    if (previewWanted_.empty()) return;
    if (previewJob_.started()) {
        previewAgain_ = true;
        previewJob_.requestStop();
        return;
    }
    previewAgain_ = false;
    const std::wstring path = previewWanted_;
    const SIZE box = preview_.drawingSize();
    showInPane(FilePreview{path, PreviewKind::Nothing, {kPreviewLoading}});
    previewJob_.start<FilePreview>(hwnd(), 0, kPreviewDoneMessage, [path, box](const JobControl& job) {
        return makeFilePreview(path, box.cx, box.cy, job);
    });
}

void ThemeFilesWindow::OnPreviewDone(LPARAM lParam) {
    std::unique_ptr<FilePreview> preview = takeJobResult<FilePreview>(lParam);
    previewJob_.finish();
    if (previewAgain_) {
        startPreview();
        return;
    }
    if (preview && preview->path == previewWanted_) showInPane(std::move(*preview));
}

void ThemeFilesWindow::OnPlay() {
    if (sound_.playing()) {
        stopSound();
        return;
    }
    const FilePreview& shown = preview_.shown();
    if (!shown.playable) return;
    // The player holds its own share of the preview's bytes (or plays the file itself), so a preview shown
    // after, or the window going, never frees what it plays from.
    if (!sound_.play(shown.sound, shown.path)) {
        SetDlgItemTextW(hwnd(), kThemeSummaryId, L"The sound couldn't be played: the system has no way to play it.");
        return;
    }
    SetDlgItemTextW(hwnd(), kPlaySoundId, L"Stop");
    SetTimer(hwnd(), kPlayTimer, static_cast<UINT>(shown.seconds * 1000) + 200, nullptr);
}

void ThemeFilesWindow::stopSound() {
    if (!sound_.playing()) return;
    sound_.stop();
    KillTimer(hwnd(), kPlayTimer);
    SetDlgItemTextW(hwnd(), kPlaySoundId, L"Play");
}

}  // namespace vorlane
