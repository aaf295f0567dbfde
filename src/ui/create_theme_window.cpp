// The create-theme window. The window thread owns the form, the subjects and
// every control; the worker (a theme run, a ComfyUI check or a model download)
// gets a copy of what it needs and talks back only through the locked queue
// and posted messages, so a run of an hour never holds the window up.
#include "ui/create_theme_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "addons/theme_folders.h"
#include "comfy/comfy_check.h"
#include "comfy/model_download.h"
#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/window_messages.h"
#include "net/http_client.h"
#include "slots/theme_slots.h"
#include "themes/create_theme.h"
#include "themes/theme_job.h"
#include "themes/theme_json.h"
#include "slots/checklist.h"
#include "themes/subjects.h"
#include "ui/create_theme_controls.h"
#include "ui/file_preview.h"
#include "ui/shell.h"

namespace vorlane {

namespace {

constexpr wchar_t kClassName[] = L"VorlaneCreateTheme";
constexpr wchar_t kComfyDesktopPage[] = L"https://www.comfy.org/download";
constexpr int kLogLimit = 4194304;

// The window's first size and its smallest, at 96 DPI.
constexpr int kFirstWidth = 1000, kFirstHeight = 860;
constexpr int kLeastWidth = 860, kLeastHeight = 784;

// What a worker posts besides its done message (which carries its result).
constexpr WPARAM kQueueChanged = 1;
constexpr WPARAM kQuestionAsked = 2;

// The notes and labels nothing reads back.
enum : int {
    kNameLabelId = 350,
    kStyleLabelId,
    kStyleNoteId,
    kGroundLabelId,
    kGroundNoteId,
    kBaseLabelId,
    kMakeLabelId,
    kTimeNoteId,
    kSeedLabelId,
    kLightingLabelId,
    kSubjectsNoteId,
    kCalledLabelId,
    kComfyLabelId,
    kComfyNoteId,
    kModelsNoteId,
};

const wchar_t kIntroduction[] =
    L"Makes a theme's icons, ground, route and background pictures with Z-Image Turbo, its towers', enemies' and "
    L"foliage's 3D models with TRELLIS.2, its sounds with Stable Audio 3 and its music with ACE-Step 1.5, in ComfyUI "
    L"on this PC (Get ComfyUI opens Comfy Desktop's download page). Check ComfyUI first: it says which model files it "
    L"still needs, and Download models gets them.";
const wchar_t kNoSlotList[] =
    L"There's no list of theme files: the build server couldn't be reached and none is kept. Close this and try "
    L"again when it can be.";
const wchar_t kLoadingSlots[] = L"Loading the theme files list...";

// A note is a label in the smaller font.
enum class Kind { Label, Line, Note, Edit, Button, Check, Combo, List, Progress, LogBox };

struct ControlEntry {
    int id;
    Kind kind;
    const wchar_t* text;
};

// Every control, top to bottom; where each goes is layOut's business.
const ControlEntry kControls[] = {
    {kNameLabelId, Kind::Label, L"Theme name"},
    {kThemeNameId, Kind::Edit, L""},
    {kFolderHintId, Kind::Line, L""},
    {kStyleLabelId, Kind::Label, L"Style"},
    {kThemeStyleId, Kind::Edit, L""},
    {kStyleNoteId, Kind::Note,
     L"The look in a few words, like \"spooky cartoon pirates\". Say \"full colour\" too, or icons can come out as "
     L"black silhouettes."},
    {kGroundLabelId, Kind::Label, L"Ground look"},
    {kGroundStyleId, Kind::Edit, L""},
    {kGroundNoteId, Kind::Note,
     L"Optional: the ground's and route's look, without ghosts or monsters that would stand on them. Empty uses the "
     L"style."},
    {kBaseLabelId, Kind::Label, L"Base theme"},
    {kBaseThemeId, Kind::Combo, L""},
    {kMakeLabelId, Kind::Label, L"Make"},
    {kMakeIconsId, Kind::Check, L"Icons"},
    {kMakeImagesId, Kind::Check, L"Ground and pictures"},
    {kMakeModelsId, Kind::Check, L"3D models"},
    {kMakeSoundsId, Kind::Check, L"Sounds"},
    {kMakeMusicId, Kind::Check, L"Music"},
    {kTimeNoteId, Kind::Note,
     L"3D models take a minute or more each on a 12 GB graphics card; sounds take seconds."},
    {kMakeAgainId, Kind::Check, L"Make again (replace the files already there)"},
    {kSeedLabelId, Kind::Label, L"Seed"},
    {kSeedId, Kind::Edit, L"1"},
    {kLightingLabelId, Kind::Label, L"Lighting"},
    {kLightingId, Kind::Combo, L""},
    {kSubjectsNoteId, Kind::Note,
     L"What each tower, enemy and kind of foliage is: its 3D model shows it, and so does a tower's or enemy's icon. "
     L"Pick one and say what it is in your theme, like \"a ghost pirate archer\" for the Marksman, and what it's "
     L"called (\"Crow's Nest\"); the ones left plain are drawn from the slot list's prompts."},
    {kSubjectListId, Kind::List, L""},
    {kSubjectLabelId, Kind::Line, L"Subject"},
    {kWhatItIsId, Kind::Edit, L""},
    {kPlainOneId, Kind::Button, L"Back to the plain one"},
    {kCalledLabelId, Kind::Label, L"Called"},
    {kCalledId, Kind::Edit, L""},
    {kCalledNoteId, Kind::Note, L""},
    {kComfyLabelId, Kind::Label, L"ComfyUI"},
    {kComfyAddressId, Kind::Edit, L""},
    {kCheckComfyId, Kind::Button, L"Check ComfyUI"},
    {kComfyNoteId, Kind::Note, L"Comfy Desktop on this PC: http://127.0.0.1:8188"},
    {kDownloadModelsId, Kind::Button, L"Download models"},
    {kPauseModelsId, Kind::Button, L"Pause"},
    {kGetComfyId, Kind::Button, L"Get ComfyUI"},
    {kModelsNoteId, Kind::Note, L"Gets the model files ComfyUI is missing from Hugging Face, asking first."},
    {kWhereItGoesId, Kind::Label, L""},
    {kCreateId, Kind::Button, L"Create"},
    {kStopId, Kind::Button, L"Stop"},
    {kOpenThemeFolderId, Kind::Button, L"Open folder"},
    {kThemeProgressId, Kind::Progress, L""},
    {kThemeLogId, Kind::LogBox, L""},
};

// The five "Make" boxes and the kinds they stand for.
constexpr struct {
    int id;
    unsigned kind;
} kMakeBoxes[] = {{kMakeIconsId, Icons},
                  {kMakeImagesId, Images},
                  {kMakeModelsId, Models},
                  {kMakeSoundsId, Sounds},
                  {kMakeMusicId, Music}};

// What is enabled only while nothing runs.
constexpr int kIdleOnly[] = {kThemeNameId,   kThemeStyleId,  kGroundStyleId, kBaseThemeId,      kMakeIconsId,
                             kMakeImagesId,  kMakeModelsId,  kMakeSoundsId,  kMakeMusicId,      kMakeAgainId,
                             kSeedId,        kLightingId,    kWhatItIsId,    kPlainOneId,       kComfyAddressId,
                             kCheckComfyId,  kDownloadModelsId};

struct Box {
    int id;
    int x, y, width, height;
};

// The subject list's height for a client area this high (96 DPI).
int subjectListHeight(int clientHeight) {
    const int height = (clientHeight * 45 - 23580) / 100;
    return height < 91 ? 90 : height;
}

// Where every control goes in a client area of width x height (96 DPI): the
// fields start 116 pixels in, edits and the list stretch with the width, the
// subject list takes its share of the height and the log box the rest. The
// subject's label ("Single Target is") takes the width its words need, and its
// edit starts after it. While the Pause button of a model download shows, it
// stands after Open folder and the progress bar makes room for it.
std::vector<Box> layoutFor(int width, int height, int subjectLabelWidth, bool pauseShown) {
    const int W = width;
    auto wide = [](int w) { return std::max(w, 10); };
    const int field = 116, right = W - 12;
    std::vector<Box> boxes = {
        {kNameLabelId, 12, 15, 100, 20},
        {kThemeNameId, field, 12, wide(right - 330 - field), 24},
        {kFolderHintId, right - 320, 15, 320, 20},
        {kStyleLabelId, 12, 45, 100, 20},
        {kThemeStyleId, field, 42, wide(right - field), 24},
        {kStyleNoteId, field, 68, wide(right - field), 18},
        {kGroundLabelId, 12, 93, 100, 20},
        {kGroundStyleId, field, 90, wide(right - field), 24},
        {kGroundNoteId, field, 116, wide(right - field), 18},
        {kBaseLabelId, 12, 143, 100, 20},
        {kBaseThemeId, field, 140, 170, 300},
        {kMakeLabelId, 300, 143, 40, 20},
        {kMakeIconsId, 344, 140, 62, 24},
        {kMakeImagesId, 410, 140, 162, 24},
        {kMakeModelsId, 576, 140, 92, 24},
        {kMakeSoundsId, 672, 140, 74, 24},
        {kMakeMusicId, 750, 140, 68, 24},
        {kTimeNoteId, field, 168, wide(right - field), 18},
        {kMakeAgainId, 12, 192, 318, 24},
        {kSeedLabelId, 340, 195, 36, 20},
        {kSeedId, 380, 192, 90, 24},
        {kLightingLabelId, 490, 195, 60, 20},
        {kLightingId, 554, 192, 200, 400},
        {kSubjectsNoteId, 12, 224, wide(right - 12), 54},
    };
    const int listTop = 282, listHeight = subjectListHeight(height);
    boxes.push_back({kSubjectListId, 12, listTop, wide(right - 12), listHeight});
    int y = listTop + listHeight + 8;
    const int labelWidth = std::max(subjectLabelWidth, 100), whatItIs = std::max(field, 12 + labelWidth + 4);
    boxes.insert(boxes.end(), {
                                  {kSubjectLabelId, 12, y + 3, labelWidth, 20},
                                  {kWhatItIsId, whatItIs, y, wide(right - 178 - whatItIs), 24},
                                  {kPlainOneId, right - 170, y - 1, 170, 26},
                              });
    y += 32;
    boxes.insert(boxes.end(), {
                                  {kCalledLabelId, 12, y + 3, 100, 20},
                                  {kCalledId, field, y, 250, 24},
                                  {kCalledNoteId, field + 262, y + 3, wide(right - field - 262), 20},
                              });
    y += 32;
    boxes.insert(boxes.end(), {
                                  {kComfyLabelId, 12, y + 3, 100, 20},
                                  {kComfyAddressId, field, y, 250, 24},
                                  {kCheckComfyId, field + 258, y - 1, 130, 26},
                                  {kComfyNoteId, field + 398, y + 3, wide(right - field - 398), 20},
                              });
    y += 32;
    boxes.insert(boxes.end(), {
                                  {kDownloadModelsId, field, y, 140, 26},
                                  {kGetComfyId, field + 146, y, 112, 26},
                                  {kModelsNoteId, field + 268, y + 4, wide(right - field - 268), 20},
                              });
    y += 34;
    // Two lines: a theme folder's path can be long.
    boxes.push_back({kWhereItGoesId, 12, y, wide(right - 12), 36});
    y += 40;
    const int pause = pauseShown ? 86 : 0;
    boxes.insert(boxes.end(), {
                                  {kCreateId, 12, y, 100, 28},
                                  {kStopId, 118, y, 90, 28},
                                  {kOpenThemeFolderId, 214, y, 110, 28},
                                  {kPauseModelsId, 330, y, 80, 28},
                                  {kThemeProgressId, 336 + pause, y + 6, wide(right - 336 - pause), 16},
                              });
    y += 36;
    boxes.push_back({kPictureStripId, 12, y, wide(right - 12), 76});
    y += 84;
    boxes.push_back({kThemeLogId, 12, y, wide(right - 12), std::max(height - 12 - y, 30)});
    return boxes;
}

// The lighting list's moods: by name, compared code unit by code unit.
std::vector<std::wstring> moodsByName() {
    std::vector<std::wstring> moods;
    for (const LightingMood& mood : kLightingMoods) moods.push_back(mood.Mood);
    std::sort(moods.begin(), moods.end());
    return moods;
}
constexpr int kMatchStyleRow = 0, kKeepBaseRow = 1, kFirstMoodRow = 2;

std::wstring textOf(HWND control) {
    std::wstring text(GetWindowTextLengthW(control) + 1, L'\0');
    text.resize(GetWindowTextW(control, text.data(), static_cast<int>(text.size())));
    return text;
}

bool ticked(HWND control) { return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void setListText(HWND list, int row, int column, const std::wstring& text) {
    ListView_SetItemText(list, row, column, const_cast<wchar_t*>(text.c_str()));
}

}  // namespace

CreateThemeWindow::CreateThemeWindow(LauncherState& state, std::wstring modelsHub)
    : state_(state), modelsHub_(std::move(modelsHub)), logFile_(state.log) {}

CreateThemeWindow::~CreateThemeWindow() {
    // At shut-down a theme being made stops; the window goes out of sight while its worker ends.
    themeStopRequested = true;
    if (hwnd() && worker_.started()) ShowWindow(hwnd(), SW_HIDE);
    worker_.stopAndWait();
    // A worker that ended just now left its result behind: it goes with it.
    MSG message;
    while (hwnd() && PeekMessageW(&message, hwnd(), kThemeWorkerMessage, kThemeWorkerMessage, PM_REMOVE))
        if (message.lParam) takeJobResult<bool>(message.lParam);
    themeMaking = false;
}

void OpenCreateThemeWindow(std::unique_ptr<CreateThemeWindow>& window, LauncherState& state, HINSTANCE instance,
                           const std::wstring& modelsHub) {
    if (window && window->hwnd()) {
        window->showAgain();
        return;
    }
    window.reset();
    window = std::make_unique<CreateThemeWindow>(state, modelsHub);
    if (!window->open(instance)) logLine(state, systemFailure(L"Couldn't open the create-theme window.").text());
}

bool CreateThemeWindow::open(HINSTANCE instance) {
    if (!registerClass(instance, kClassName)) return false;
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    if (!create(kClassName, L"Vorlane: create a theme", style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, instance))
        return false;
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetForegroundWindow(hwnd());
    SetFocus(control(kThemeNameId));
    return true;
}

LRESULT CreateThemeWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: OnCreate(); return 0;
    case WM_SIZE: OnSize(); return 0;
    case WM_GETMINMAXINFO: OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam)); return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(hwnd(), &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_ACTIVATE: OnActivate(wParam); break;
    case WM_CLOSE: OnClose(); return 0;
    case kThemeWorkerMessage: OnWorker(wParam, lParam); return 0;
    case kThemeSlotsLoadedMessage: OnSlotsLoaded(lParam); return 0;
    }
    return WindowBase::handleMessage(message, wParam, lParam);
}

void CreateThemeWindow::onDpiChanged() {
    makeFonts();
    layOut();
}

// ---- Creation and layout -------------------------------------------------------

void CreateThemeWindow::OnCreate() {
    self_ = hwnd();
    for (const ControlEntry& entry : kControls) {
        switch (entry.kind) {
        case Kind::Label:
        case Kind::Note:
            addControl(WC_STATICW, entry.text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, entry.id);
            break;
        case Kind::Line:
            addControl(WC_STATICW, entry.text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, entry.id);
            break;
        case Kind::Edit:
            addControl(WC_EDITW, entry.text, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, entry.id,
                              WS_EX_CLIENTEDGE);
            break;
        case Kind::Button:
            addControl(WC_BUTTONW, entry.text, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, entry.id);
            break;
        case Kind::Check:
            addControl(WC_BUTTONW, entry.text, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, entry.id);
            break;
        case Kind::Combo:
            addControl(WC_COMBOBOXW, L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, entry.id);
            break;
        case Kind::List:
            addControl(WC_LISTVIEWW, L"",
                              WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, entry.id,
                              WS_EX_CLIENTEDGE);
            break;
        case Kind::Progress: addControl(PROGRESS_CLASSW, L"", WS_VISIBLE, entry.id); break;
        case Kind::LogBox:
            addControl(WC_EDITW, L"",
                              WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, entry.id,
                              WS_EX_CLIENTEDGE);
            break;
        }
    }
    for (const auto& box : kMakeBoxes) SendMessageW(control(box.id), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(control(kSeedId), EM_SETLIMITTEXT, 19, 0);
    SetWindowLongPtrW(control(kSeedId), GWL_STYLE, GetWindowLongPtrW(control(kSeedId), GWL_STYLE) | ES_NUMBER);
    SendMessageW(control(kCalledId), EM_SETLIMITTEXT, kMostCalledCharacters, 0);
    SendMessageW(control(kThemeLogId), EM_SETLIMITTEXT, kLogLimit, 0);
    SendMessageW(control(kThemeProgressId), PBM_SETRANGE32, 0, 1000);

    for (const BaseTheme& base : kBaseThemes)
        SendMessageW(control(kBaseThemeId), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(base.DisplayName));
    SendMessageW(control(kBaseThemeId), CB_SETCURSEL, 0, 0);
    HWND lighting = control(kLightingId);
    SendMessageW(lighting, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Match the style"));
    SendMessageW(lighting, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Keep the base theme's"));
    for (const std::wstring& mood : moodsByName())
        SendMessageW(lighting, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mood.c_str()));
    SendMessageW(lighting, CB_SETCURSEL, kMatchStyleRow, 0);

    strip_.open(hwnd(), kPictureStripId, reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd(), GWLP_HINSTANCE)),
                [this](const std::wstring& file, const std::wstring& path) { OnPictureClicked(file, path); });

    HWND list = control(kSubjectListId);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const struct {
        const wchar_t* title;
        int width;
    } columns[] = {{L"Tower, enemy or foliage", 190}, {L"Called", 150}, {L"What it is", 400}, {L"Model file", 220}};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH};
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        column.cx = scale(columns[i].width);
        ListView_InsertColumn(list, i, &column);
    }

    makeFonts();
    // The window opens at its first size for the screen's DPI, cut to the
    // screen's work area where that is smaller (but never below its smallest).
    MONITORINFO monitor{sizeof monitor};
    int roomWidth = scale(kFirstWidth), roomHeight = scale(kFirstHeight);
    if (GetMonitorInfoW(MonitorFromWindow(hwnd(), MONITOR_DEFAULTTONEAREST), &monitor)) {
        roomWidth = monitor.rcWork.right - monitor.rcWork.left;
        roomHeight = monitor.rcWork.bottom - monitor.rcWork.top;
    }
    SetWindowPos(hwnd(), nullptr, 0, 0, std::max(std::min(scale(kFirstWidth), roomWidth), scale(kLeastWidth)),
                 std::max(std::min(scale(kFirstHeight), roomHeight), scale(kLeastHeight)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    layOut();

    subjects_ = BuildSubjects(state_.themeSlots);
    fillSubjectList();
    showSubjectPane();
    filling_ = true;
    SetWindowTextW(control(kComfyAddressId), readSetting(state_, L"ComfyServer", kDefaultComfyServer).c_str());
    SetWindowTextW(control(kThemeStyleId), readSetting(state_, L"CreateStyle").c_str());
    SetWindowTextW(control(kGroundStyleId), readSetting(state_, L"CreateGroundStyle").c_str());
    filling_ = false;
    // Putting the saved name in counts as a change of the name: a theme of
    // that name fills the form at once.
    SetWindowTextW(control(kThemeNameId), readSetting(state_, L"CreateName").c_str());
    OnNameChanged();
    appendLog(kIntroduction);
    slotsLoad_.start(hwnd(), state_);
    refreshControls();
}

void CreateThemeWindow::showAgain() {
    slotsLoad_.showAgain();
    bringForward();
}

// A fresh list takes the place of the one the window opened with; the player's
// words and names stay with their subjects, and a form that had no subjects is
// filled from the theme of the name now.
void CreateThemeWindow::OnSlotsLoaded(LPARAM lParam) {
    const ThemeSlotsLoad::Outcome outcome = slotsLoad_.finish(lParam, state_);
    if (outcome == ThemeSlotsLoad::Outcome::Close) {
        DestroyWindow(hwnd());
        return;
    }
    if (outcome == ThemeSlotsLoad::Outcome::Changed) {
        const std::vector<ThemeSubject> before = std::move(subjects_);
        subjects_ = BuildSubjects(state_.themeSlots);
        for (ThemeSubject& subject : subjects_) {
            const auto old = std::find_if(before.begin(), before.end(),
                                          [&](const ThemeSubject& kept) { return kept.Key == subject.Key; });
            if (old == before.end()) continue;
            subject.WhatItIs = old->WhatItIs;
            subject.Called = old->Called;
            subject.CalledGiven = old->CalledGiven;
        }
        fillSubjectList();
        showSubjectPane();
        if (before.empty()) {
            lastFolderName_.clear();
            OnNameChanged();
        }
    }
    refreshControls();
}

void CreateThemeWindow::makeFonts() {
    // The controls let go of the old fonts before they are deleted.
    FontHandle font = messageFont(scale(15), FW_NORMAL);
    FontHandle noteFont = messageFont(scale(13), FW_NORMAL);
    for (const ControlEntry& entry : kControls)
        setControlFont(control(entry.id), entry.kind == Kind::Note ? noteFont.get() : font.get());
    font_ = std::move(font);
    noteFont_ = std::move(noteFont);
}

void CreateThemeWindow::OnSize() { layOut(); }

void CreateThemeWindow::layOut() {
    RECT client;
    GetClientRect(hwnd(), &client);
    const int width = MulDiv(client.right, 96, static_cast<int>(dpi()));
    const int height = MulDiv(client.bottom, 96, static_cast<int>(dpi()));
    subjectLabelWidth_ = subjectLabelWidth();
    for (const Box& box : layoutFor(width, height, subjectLabelWidth_, pauseShown_))
        place(control(box.id), box.x, box.y, box.width, box.height);
    InvalidateRect(hwnd(), nullptr, TRUE);
}

// The width the subject's label needs for its words, in pixels at 96 DPI.
int CreateThemeWindow::subjectLabelWidth() const {
    HWND label = control(kSubjectLabelId);
    const std::wstring text = textOf(label);
    WindowDc dc(label);
    // Measured as the label draws itself: with its own font, by DrawText.
    SelectedObject selected(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT need{0, 0, 0, 0};
    if (!DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &need,
                   DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS))
        return 0;
    // Rounded up, with a few pixels to spare for the ellipsis test of the label.
    return (need.right * 96 + static_cast<int>(dpi()) - 1) / static_cast<int>(dpi()) + 6;
}

void CreateThemeWindow::OnGetMinMaxInfo(MINMAXINFO* limits) {
    limits->ptMinTrackSize = POINT{scale(kLeastWidth), scale(kLeastHeight)};
}

// ---- The subjects --------------------------------------------------------------

void CreateThemeWindow::fillSubjectList() {
    HWND list = control(kSubjectListId);
    ListView_DeleteAllItems(list);
    for (int row = 0; row < static_cast<int>(subjects_.size()); ++row) {
        LVITEMW item{LVIF_TEXT};
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertItem(list, &item);
        drawSubjectRow(row);
    }
}

void CreateThemeWindow::drawSubjectRow(int row) {
    const ThemeSubject& subject = subjects_[row];
    HWND list = control(kSubjectListId);
    setListText(list, row, 0, subject.Name + L" (" + KindWord(subject.Key) + L")");
    setListText(list, row, 1, subject.Called);
    setListText(list, row, 2, EffectiveDescription(subject));
    setListText(list, row, 3, subject.ModelPath);
}

int CreateThemeWindow::selectedSubject() const {
    const int row = ListView_GetNextItem(control(kSubjectListId), -1, LVNI_SELECTED);
    return row >= 0 && row < static_cast<int>(subjects_.size()) ? row : -1;
}

void CreateThemeWindow::showSubjectPane() {
    const int row = selectedSubject();
    const ThemeSubject* subject = row < 0 ? nullptr : &subjects_[row];
    const bool named = subject && !ThemeSection(subject->Key).group.empty();
    filling_ = true;
    SetWindowTextW(control(kSubjectLabelId), subject ? (subject->Name + L" is").c_str() : L"Subject");
    // A label wider or narrower than the last moves its edit.
    if (subjectLabelWidth() != subjectLabelWidth_) layOut();
    SetWindowTextW(control(kWhatItIsId), subject ? EffectiveDescription(*subject).c_str() : L"");
    SetWindowTextW(control(kCalledId), named ? subject->Called.c_str() : L"");
    SetWindowTextW(control(kCalledNoteId), !subject || named
                                               ? L"What players see it called. Left empty, it keeps the base theme's name."
                                               : L"The game doesn't name this one.");
    filling_ = false;
    EnableWindow(control(kCalledId), named && idle());
}

void CreateThemeWindow::OnSubjectSelected() { showSubjectPane(); }

void CreateThemeWindow::OnWhatItIsChanged() {
    const int row = selectedSubject();
    if (filling_ || row < 0) return;
    subjects_[row].WhatItIs = trimSpace(textOf(control(kWhatItIsId)));
    drawSubjectRow(row);
}

void CreateThemeWindow::OnCalledChanged() {
    const int row = selectedSubject();
    if (filling_ || row < 0) return;
    // Only a name the player changed here counts as given; the others keep what theme.json holds.
    subjects_[row].Called = textOf(control(kCalledId));
    subjects_[row].CalledGiven = true;
    drawSubjectRow(row);
}

void CreateThemeWindow::OnPlainOne() {
    const int row = selectedSubject();
    if (row < 0) return;
    subjects_[row].WhatItIs = subjects_[row].DefaultWhatItIs;
    drawSubjectRow(row);
    showSubjectPane();
}

// ---- The name and an existing theme ------------------------------------------------

void CreateThemeWindow::OnNameChanged() {
    if (filling_) return;
    fillFromExistingTheme(FolderName(textOf(control(kThemeNameId))));
    refreshControls();
}

void CreateThemeWindow::fillFromExistingTheme(const std::wstring& folderName) {
    if (folderName == lastFolderName_) return;
    const std::wstring folder = ThemeFolderFor(state_, folderName);
    ExistingThemeForm form;
    // No theme.json (or none that reads) fills nothing, and is looked for again when the name comes back.
    if (folder.empty() || !ReadExistingThemeForm(folder, subjects_, form)) return;
    lastFolderName_ = folderName;

    for (int row = 0; row < static_cast<int>(subjects_.size()); ++row) drawSubjectRow(row);
    showSubjectPane();
    filling_ = true;
    if (textOf(control(kThemeStyleId)).empty()) SetWindowTextW(control(kThemeStyleId), form.Style.c_str());
    if (textOf(control(kGroundStyleId)).empty()) SetWindowTextW(control(kGroundStyleId), form.GroundStyle.c_str());
    filling_ = false;
    SendMessageW(control(kBaseThemeId), CB_SETCURSEL, std::max(FindBaseTheme(form.Base), 0), 0);
    if (form.Lighting) {
        int row = kMatchStyleRow;
        if (const LightingMood* mood = FindMood(*form.Lighting)) {
            const std::vector<std::wstring> moods = moodsByName();
            row = kFirstMoodRow + static_cast<int>(std::find(moods.begin(), moods.end(), mood->Mood) - moods.begin());
        } else if (equalsIgnoringCase(*form.Lighting, L"base")) {
            row = kKeepBaseRow;
        }
        SendMessageW(control(kLightingId), CB_SETCURSEL, row, 0);
    }
    appendLog(L"There's a theme called " + folderName +
              L" already: its subjects, names, base, style, ground look and lighting are filled in from it. Create "
              L"keeps its files and makes what's missing.");
}

// ---- State of the controls --------------------------------------------------------

bool CreateThemeWindow::idle() const { return !themeMaking; }

void CreateThemeWindow::refreshControls() {
    if (!hwnd()) return;
    const bool isIdle = idle();
    const std::wstring themes = addOnThemesFolder(state_);
    const bool hasSlots = !state_.themeSlots.empty();
    for (int id : kIdleOnly) EnableWindow(control(id), isIdle);
    EnableWindow(control(kCreateId), isIdle && !themes.empty() && hasSlots);
    EnableWindow(control(kStopId), !isIdle && !themeStopRequested);
    const int row = selectedSubject();
    EnableWindow(control(kCalledId), isIdle && row >= 0 && !ThemeSection(subjects_[row].Key).group.empty());
    // Pause while a model download runs; Resume once it is paused.
    const bool downloading = !isIdle && downloadingModels_;
    setText(control(kPauseModelsId), downloading ? L"Pause" : L"Resume");
    EnableWindow(control(kPauseModelsId), downloading ? !themeStopRequested : isIdle);
    const bool showPause = downloading || (isIdle && paused_);
    if (showPause != pauseShown_) {
        pauseShown_ = showPause;
        layOut();
    }
    showControl(control(kPauseModelsId), showPause);

    const std::wstring folderName = FolderName(textOf(control(kThemeNameId)));
    std::wstring hint = L"Its folder: " + folderName;
    if (folderName.empty())
        hint = L"Its folder is named after it.";
    else if (equalsIgnoringCase(folderName, L"Downloaded"))
        hint = L"\"Downloaded\" is kept for downloaded themes.";
    else if (IsReservedFolderName(folderName))
        hint = L"\"" + folderName + L"\" can't be a folder's name on Windows.";
    SetWindowTextW(control(kFolderHintId), hint.c_str());

    std::wstring where;
    if (themes.empty())
        where = L"Install the game first (Play installs it): a theme goes in the game's folder, where it finds it.";
    else if (!hasSlots)
        where = slotsLoad_.loading() ? kLoadingSlots : kNoSlotList;
    else
        where = L"It goes in " + (folderName.empty() ? themes + L"\\<its folder>" : ThemeFolderFor(state_, folderName));
    SetWindowTextW(control(kWhereItGoesId), where.c_str());
}

void CreateThemeWindow::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) != WA_INACTIVE) refreshControls();
}

// ---- Commands ----------------------------------------------------------------------

void CreateThemeWindow::OnCommand(int id, int code) {
    switch (id) {
    case kThemeNameId:
        if (code == EN_CHANGE) OnNameChanged();
        break;
    case kWhatItIsId:
        if (code == EN_CHANGE) OnWhatItIsChanged();
        break;
    case kCalledId:
        if (code == EN_CHANGE) OnCalledChanged();
        break;
    case kPlainOneId: OnPlainOne(); break;
    case kCreateId: OnCreateTheme(); break;
    case kStopId: OnStop(); break;
    case kCheckComfyId: OnCheckComfy(); break;
    case kDownloadModelsId: OnDownloadModels(); break;
    case kPauseModelsId: OnPauseModels(); break;
    case kGetComfyId: openWithShell(hwnd(), kComfyDesktopPage); break;
    case kOpenThemeFolderId: OnOpenFolder(); break;
    }
}

LRESULT CreateThemeWindow::OnNotify(const NMHDR* header) {
    if (header->idFrom != kSubjectListId) return 0;
    if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
            OnSubjectSelected();
    } else if (header->code == NM_DBLCLK && selectedSubject() >= 0) {
        SetFocus(control(kWhatItIsId));
        SendMessageW(control(kWhatItIsId), EM_SETSEL, 0, -1);
    }
    return 0;
}

unsigned CreateThemeWindow::tickedKinds() const {
    unsigned kinds = 0;
    for (const auto& box : kMakeBoxes)
        if (ticked(control(box.id))) kinds |= box.kind;
    return kinds;
}

std::wstring CreateThemeWindow::comfyAddress() const {
    return NormaliseComfyAddresses(textOf(control(kComfyAddressId)));
}

void CreateThemeWindow::OnCreateTheme() {
    if (!idle()) return;
    if (busy) {
        MessageBoxW(hwnd(), L"The game is being installed: wait for it to finish first.", L"Vorlane",
                    MB_OK | MB_ICONINFORMATION);
        return;
    }
    ThemeJob job;
    job.Name = trimSpace(textOf(control(kThemeNameId)));
    job.Style = trimSpace(textOf(control(kThemeStyleId)));
    job.GroundStyle = trimSpace(textOf(control(kGroundStyleId)));
    job.FolderName = FolderName(job.Name);
    const LRESULT base = SendMessageW(control(kBaseThemeId), CB_GETCURSEL, 0, 0);
    job.Base = kBaseThemes[base >= 0 && base < kBaseThemeCount ? base : 0].Key;
    job.LauncherVersion = launcherVersion();
    job.Kinds = tickedKinds();
    job.MakeAgain = ticked(control(kMakeAgainId));
    job.Seed = std::wcstoll(textOf(control(kSeedId)).c_str(), nullptr, 10);
    const LRESULT lighting = SendMessageW(control(kLightingId), CB_GETCURSEL, 0, 0);
    if (lighting == kKeepBaseRow) {
        job.Lighting = L"base";
    } else if (lighting >= kFirstMoodRow) {
        const std::vector<std::wstring> moods = moodsByName();
        if (lighting - kFirstMoodRow < static_cast<LRESULT>(moods.size())) job.Lighting = moods[lighting - kFirstMoodRow];
    }
    job.ComfyAddress = comfyAddress();
    job.Folder = ThemeFolderFor(state_, job.FolderName);
    job.Slots = state_.themeSlots;
    job.Subjects = subjects_;
    // Names are trimmed as the command line trims them; one the player emptied leaves theme.json.
    for (ThemeSubject& subject : job.Subjects) subject.Called = trimSpace(subject.Called);

    const std::wstring problem = ValidateThemeJob(job);
    if (!problem.empty()) {
        MessageBoxW(hwnd(), problem.c_str(), L"Vorlane", MB_OK | MB_ICONINFORMATION);
        return;
    }
    const SettingValues values = {{L"ComfyServer", job.ComfyAddress},
                                  {L"CreateName", job.Name},
                                  {L"CreateStyle", job.Style},
                                  {L"CreateGroundStyle", job.GroundStyle}};
    if (const Failure failure = writeSettings(state_, values)) logLine(state_, failure.text());
    appendLog(L"");
    strip_.clear();
    const int side = strip_.cellSide();
    startWorker([this, job, side](const JobControl& control) {
        ThemeJobReporter reporter;
        reporter.log = [this](const std::wstring& line) { say(line); };
        reporter.progress = [this](double fraction) { tellProgress(fraction); };
        reporter.made = [this, side](const std::wstring& file, const std::wstring& path) { showMade(file, path, side); };
        reporter.stop = control.stopFlag();
        return RunThemeJob(job, reporter);
    });
}

void CreateThemeWindow::OnStop() {
    if (idle() || themeStopRequested) return;
    themeStopRequested = true;
    worker_.requestStop();
    note(L"Stopping (after asking ComfyUI to drop what it's making)...");
    refreshControls();
}

void CreateThemeWindow::OnCheckComfy() {
    const std::wstring address = comfyAddress();
    if (address.empty() || !idle()) return;
    if (const Failure failure = writeSetting(state_, L"ComfyServer", address)) logLine(state_, failure.text());
    appendLog(L"");
    const unsigned kinds = tickedKinds();
    startWorker([this, address, kinds](const JobControl&) {
        std::vector<std::wstring> missing;
        bool answered = true;
        for (const std::wstring& server : ComfyAddresses(address))
            answered = CheckComfy(server, kinds, [this](const std::wstring& line) { say(line); }, missing, nullptr,
                                  nullptr, modelsHub_) &&
                       answered;
        return answered;
    });
}

void CreateThemeWindow::OnDownloadModels() {
    const std::wstring address = comfyAddress();
    if (address.empty() || !idle()) return;
    if (const Failure failure = writeSetting(state_, L"ComfyServer", address)) logLine(state_, failure.text());
    appendLog(L"");
    startModelDownload(address, tickedKinds(), true);
}

void CreateThemeWindow::startModelDownload(const std::wstring& address, unsigned kinds, bool askFirst) {
    modelsAddress_ = address;
    modelsKinds_ = kinds;
    startWorker([this, address, kinds, askFirst](const JobControl& control) {
        ModelDownloadReporter reporter;
        reporter.report = [this](const std::wstring& line) { say(line); };
        if (askFirst)
            reporter.ask = [this, &control](const std::wstring& question) { return ask(question, control); };
        reporter.control = JobControl([this](double fraction, const std::wstring&) { tellProgress(fraction); },
                                      control.stopFlag());
        reporter.pausing = [this] { return pausing_.load(); };
        bool every = true;
        for (const std::wstring& server : ComfyAddresses(address)) {
            // A stop or a pause ends the whole download, not one server's share of it.
            if (control.stopRequested()) return false;
            every = getModels(server, kinds, reporter, modelsHub_) && every;
        }
        return every;
    }, true);
}

// Pause stops a model download at once, keeping what it fetched (each file's
// ".part"); Resume starts the same download again, without asking a second
// time, and it asks the hub for the rest of each part only.
void CreateThemeWindow::OnPauseModels() {
    if (idle()) {
        if (!paused_) return;
        appendLog(L"");
        startModelDownload(modelsAddress_, modelsKinds_, false);
        return;
    }
    if (!downloadingModels_ || themeStopRequested) return;
    pausing_ = true;
    themeStopRequested = true;
    worker_.requestStop();
    note(L"Pausing...");
    refreshControls();
}

void CreateThemeWindow::OnOpenFolder() {
    const std::wstring theme = ThemeFolderFor(state_, FolderName(textOf(control(kThemeNameId))));
    const std::wstring themes = addOnThemesFolder(state_);
    if (!theme.empty() && folderExists(theme))
        openWithShell(hwnd(), theme);
    else if (!themes.empty() && folderExists(themes))
        openWithShell(hwnd(), themes);
    else
        MessageBoxW(hwnd(), L"Nothing's been made yet.", L"Vorlane", MB_OK | MB_ICONINFORMATION);
}

// ---- Closing -----------------------------------------------------------------------

void CreateThemeWindow::OnClose() {
    if (closeWhenDone_) return;
    if (idle()) {
        if (!slotsLoad_.hideUntilLoaded()) DestroyWindow(hwnd());
        return;
    }
    if (MessageBoxW(hwnd(), L"Stop making the theme and close? What's made so far is kept.", L"Vorlane",
                    MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    // The worker may have finished while the question was open.
    if (idle()) {
        DestroyWindow(hwnd());
        return;
    }
    closeWhenDone_ = true;
    themeStopRequested = true;
    worker_.requestStop();
    note(L"Stopping...");
    refreshControls();
}

// ---- The worker --------------------------------------------------------------------

bool CreateThemeWindow::startWorker(std::function<bool(const JobControl&)> task, bool downloadsModels) {
    // The previous worker has reported its end; its thread is joined before another starts.
    worker_.finish();
    themeStopRequested = false;
    themeMaking = true;
    downloadingModels_ = downloadsModels;
    pausing_ = false;
    paused_ = false;
    {
        std::lock_guard<std::mutex> lock(queue_.lock);
        queue_.lines.clear();
        queue_.fraction = -1;
    }
    SendMessageW(control(kThemeProgressId), PBM_SETPOS, 0, 0);
    refreshControls();
    if (worker_.start<bool>(hwnd(), 0, kThemeWorkerMessage, std::move(task))) return true;
    themeMaking = false;
    downloadingModels_ = false;
    refreshControls();
    return false;
}

void CreateThemeWindow::say(const std::wstring& line) {
    LauncherState logOnly;
    logOnly.log = logFile_;
    logLine(logOnly, L"Create theme: " + line);
    {
        std::lock_guard<std::mutex> lock(queue_.lock);
        queue_.lines.push_back(line);
    }
    PostMessageW(self_, kThemeWorkerMessage, kQueueChanged, 0);
}

void CreateThemeWindow::showMade(const std::wstring& file, const std::wstring& path, int side) {
    if (!endsWithIgnoringCase(path, L".png")) return;
    FilePreview picture = makeFilePreview(path, side, side, JobControl());
    if (picture.kind != PreviewKind::Picture) return;
    {
        std::lock_guard<std::mutex> lock(queue_.lock);
        queue_.pictures.emplace_back(file, std::move(picture));
    }
    PostMessageW(self_, kThemeWorkerMessage, kQueueChanged, 0);
}

void CreateThemeWindow::tellProgress(double fraction) {
    {
        std::lock_guard<std::mutex> lock(queue_.lock);
        queue_.fraction = std::clamp(fraction, 0.0, 1.0);
    }
    PostMessageW(self_, kThemeWorkerMessage, kQueueChanged, 0);
}

// The question goes to the window thread, which asks the player; the worker
// waits for the answer, or for a stop (a window closing answers nothing).
bool CreateThemeWindow::ask(const std::wstring& question, const JobControl& control) {
    std::unique_lock<std::mutex> lock(queue_.lock);
    queue_.question = question;
    queue_.answer.reset();
    if (!PostMessageW(self_, kThemeWorkerMessage, kQuestionAsked, 0)) return false;
    while (!queue_.answer && !control.stopRequested())
        queue_.answered.wait_for(lock, std::chrono::milliseconds(100));
    return queue_.answer.value_or(false);
}

void CreateThemeWindow::OnWorker(WPARAM wParam, LPARAM lParam) {
    if (wParam == kQuestionAsked) {
        std::wstring question;
        {
            std::lock_guard<std::mutex> lock(queue_.lock);
            question = queue_.question;
        }
        // A worker being stopped isn't waiting for an answer any more.
        const bool yes = !themeStopRequested &&
                         MessageBoxW(hwnd(), question.c_str(), L"Vorlane", MB_YESNO | MB_ICONQUESTION) == IDYES;
        {
            std::lock_guard<std::mutex> lock(queue_.lock);
            queue_.answer = yes;
        }
        queue_.answered.notify_all();
        return;
    }
    // The queue is taken whole under the lock and shown after it is let go.
    std::vector<std::wstring> lines;
    std::vector<std::pair<std::wstring, FilePreview>> pictures;
    double fraction;
    {
        std::lock_guard<std::mutex> lock(queue_.lock);
        lines.swap(queue_.lines);
        pictures.swap(queue_.pictures);
        fraction = queue_.fraction;
    }
    for (const std::wstring& line : lines) appendLog(line);
    for (auto& [file, picture] : pictures) strip_.add(file, std::move(picture));
    if (fraction >= 0) SendMessageW(control(kThemeProgressId), PBM_SETPOS, static_cast<WPARAM>(fraction * 1000), 0);
    if (!lParam) return;

    const bool succeeded = *takeJobResult<bool>(lParam);
    worker_.finish();
    themeMaking = false;
    downloadingModels_ = false;
    // The bar stays where the download stopped; Resume carries on from there.
    paused_ = pausing_.exchange(false) && !succeeded && !closeWhenDone_;
    if (paused_) note(L"Paused. What's downloaded is kept: Resume carries on from there.");
    refreshControls();
    if (closeWhenDone_) DestroyWindow(hwnd());
}

// A picture of a tower, an enemy or a kind of foliage selects it in the list; any other opens its folder.
void CreateThemeWindow::OnPictureClicked(const std::wstring& file, const std::wstring& path) {
    std::wstring key;
    for (const ThemeSlot& slot : state_.themeSlots)
        if (slot.File == file) key = SubjectKey(slot.Target);
    for (size_t row = 0; !key.empty() && row < subjects_.size(); ++row) {
        if (subjects_[row].Key != key) continue;
        HWND list = control(kSubjectListId);
        ListView_SetItemState(list, static_cast<int>(row), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, static_cast<int>(row), FALSE);
        showSubjectPane();
        return;
    }
    openWithShell(hwnd(), parentFolder(path));
}

void CreateThemeWindow::note(const std::wstring& line) {
    logLine(state_, L"Create theme: " + line);
    appendLog(line);
}

void CreateThemeWindow::appendLog(const std::wstring& line) {
    HWND box = control(kThemeLogId);
    const std::wstring text = line + L"\r\n";
    const int end = GetWindowTextLengthW(box);
    SendMessageW(box, EM_SETSEL, end, end);
    SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace vorlane
