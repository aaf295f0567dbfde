// The launcher's main window. Long jobs run on the window's job runner, each
// on its own copy of the launcher state; the window thread alone applies what
// a job hands back, so the window never shows a half-done install. The window
// thread owns every control and the status texts.
#include "ui/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "addons/theme_folders.h"
#include "addons/theme_update.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/job_runner.h"
#include "core/log.h"
#include "core/root_lock.h"
#include "core/settings.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "core/window_messages.h"
#include "install/build_list.h"
#include "install/game_process.h"
#include "install/go_back.h"
#include "install/installer.h"
#include "install/piece_install.h"
#include "install/preload.h"
#include "install/verify_build.h"
#include "install/uninstall.h"
#include "install/update_check.h"
#include "ui/create_theme_window.h"
#include "ui/gdi.h"
#include "ui/main_window_controls.h"
#include "ui/shell.h"
#include "ui/start_up_check.h"
#include "ui/theme_files_window.h"
#include "ui/window_base.h"

namespace vorlane {

namespace {

// The layout in pixels at 96 DPI; everything on screen is scaled from these.
constexpr int kClientWidth = 640;
constexpr int kMargin = 32;
constexpr int kDescriptionTop = 440;
constexpr int kDescriptionWidth = 576;
constexpr int kBelowDescription = 34;
constexpr UINT_PTR kCheckTimerId = 1;
// While a job runs, the window takes its newest progress this often (and on each progress message).
constexpr UINT_PTR kProgressTimerId = 2;
constexpr UINT kProgressEveryMs = 100;

const wchar_t kTagline[] = L"Hold the line together: co-op tower defence for two to four friends.";
const wchar_t kDescription[] =
    L"Build towers along the winding roads, share gold with your team and hold back the waves that come at dusk. "
    L"This launcher keeps the game up to date from Vorlane's build servers: it checks every build against the "
    L"release key before installing it, keeps your settings and saves across updates, and lets you go back to the "
    L"build you had if a new one doesn't suit you.";

enum class FontSize { Normal, Button };

struct ButtonSpec {
    int id;
    const wchar_t* text;
    int x, y, width, height;
    FontSize font;
    bool visible;
};

const ButtonSpec kButtons[] = {
    {kMainButtonId, L"", 32, 250, 576, 64, FontSize::Button, true},
    {kOpenFolderId, L"Open folder", 32, 382, 140, 30, FontSize::Normal, true},
    {kUninstallId, L"Uninstall", 468, 382, 140, 30, FontSize::Normal, true},
    // "Change folder..." and "Back" share a place; at most one of them shows.
    {kChangeFolderId, L"Change folder...", 182, 382, 150, 30, FontSize::Normal, false},
    {kBackId, L"Back", 182, 382, 200, 30, FontSize::Normal, false},
    {kThemeFilesId, L"Theme files", 488, 30, 120, 28, FontSize::Normal, true},
    {kWhatsNewId, L"What's new", 358, 30, 120, 28, FontSize::Normal, true},
    {kCreateThemeId, L"Create theme", 488, 64, 120, 28, FontSize::Normal, true},
    // Beside "What's new", right of the game's name; shown while a build is installed.
    {kCheckFilesId, L"Check files", 228, 30, 120, 28, FontSize::Normal, false},
    // Between "Back" and "Uninstall"; shown while an install runs or can carry on.
    {kPauseId, L"Pause", 390, 382, 70, 30, FontSize::Normal, false},
};
constexpr int kButtonCount = sizeof kButtons / sizeof kButtons[0];
constexpr RECT kProgressBox{32, 328, 32 + 576, 328 + 14};
constexpr int kStatusLineIds[3] = {kStatusLine1Id, kStatusLine2Id, kStatusTextId};

// What an install or add-on job hands back to the window thread: its outcome
// and the copy of the state it worked on.
enum class JobKind { Install, AddOns, Verify, Preload };

struct JobOutcome {
    bool succeeded = false;
    LauncherState copy;
    JobKind kind = JobKind::Install;
    VerifyOutcome verified = VerifyOutcome::NotChecked;  // a check's
    PreloadOutcome preloaded = PreloadOutcome::Nothing;  // the background's
};

// Runs on the job's thread, on the job's own copy of the state, holding the
// root folder's lock so that no other launcher changes the installation
// meanwhile.
JobOutcome runJob(JobKind kind, const LauncherState& state, const JobControl& control) {
    JobOutcome outcome{false, state, kind};
    RootLock lock;
    // The background never waits: while another launcher's job has the root, it waits for the next check.
    if (kind == JobKind::Preload) {
        if (!lock.acquire(outcome.copy.rootFolder, 0)) return outcome;
        loadInstallState(outcome.copy);
        outcome.preloaded = preloadBuild(outcome.copy, control);
        outcome.succeeded = outcome.preloaded == PreloadOutcome::Ready;
        return outcome;
    }
    if (!lockRootForJob(outcome.copy, lock)) {
        logLine(outcome.copy, L"Failed: " + outcome.copy.lastError);
        return outcome;
    }
    if (kind == JobKind::Install) {
        outcome.succeeded = installJob(outcome.copy, control);
    } else if (kind == JobKind::Verify) {
        outcome.verified = verifyInstalledBuild(outcome.copy, control);
        outcome.succeeded = outcome.verified == VerifyOutcome::AsPublished;
        if (!outcome.succeeded) logLine(outcome.copy, L"Failed: " + outcome.copy.lastError);
    } else {
        // A theme that can't be brought up says so in the log; the game starts all the same.
        updateAddOnThemes(outcome.copy, control);
        outcome.succeeded = true;
    }
    return outcome;
}


void drawText(HDC dc, const std::wstring& text, RECT box, HFONT font, COLORREF color, UINT format) {
    SelectedObject selected(dc, font);
    SetTextColor(dc, color);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format | DT_NOPREFIX);
}

void paintGradient(HDC dc, const RECT& area) {
    const int height = area.bottom - area.top;
    for (int y = 0; y < height; ++y) {
        const double t = height > 1 ? double(y) / (height - 1) : 0;
        auto mix = [t](int top, int bottom) { return int(top + (bottom - top) * t + 0.5); };
        BrushHandle brush(CreateSolidBrush(RGB(mix(26, 10), mix(34, 12), mix(48, 18))));
        RECT row{area.left, area.top + y, area.right, area.top + y + 1};
        FillRect(dc, &row, brush.get());
    }
}

class MainWindow final : public WindowBase {
public:
    MainWindow(LauncherState& state, std::wstring modelsHub, StartOptions options)
        : state_(state), modelsHub_(std::move(modelsHub)), options_(std::move(options)) {}

    bool open(HINSTANCE instance, int showCommand, unsigned instanceHash) {
        instance_ = instance;
        if (!registerClass(instance, kMainWindowClass)) return false;
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
        // The size comes once the window knows its DPI (OnCreate).
        if (!create(kMainWindowClass, L"Vorlane", style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, instance)) return false;
        SetPropW(hwnd(), kInstanceRootProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(instanceHash)));
        ShowWindow(hwnd(), showCommand);
        UpdateWindow(hwnd());
        return true;
    }

    // While the create-theme window is open, its keyboard messages (Tab
    // between its controls) go to it as to a dialog; true when it took one.
    bool takeDialogMessage(MSG& message) {
        HWND form = createTheme_ ? createTheme_->hwnd() : nullptr;
        return form && (message.hwnd == form || IsChild(form, message.hwnd)) && IsDialogMessageW(form, &message);
    }

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_CREATE: OnCreate(); return 0;
        case WM_COMMAND: OnCommand(LOWORD(wParam)); return 0;
        case WM_PAINT: OnPaint(); return 0;
        case WM_ERASEBKGND: return 1;
        case WM_TIMER: OnTimer(wParam); return 0;
        case WM_ACTIVATE: OnActivate(wParam); break;
        case WM_CLOSE: OnClose(); return 0;
        case WM_DESTROY: OnDestroy(); return 0;
        case kProgressMessage: takeJobProgress(); return 0;
        case kJobDoneMessage: OnJobDone(lParam); return 0;
        case kCheckResultMessage: OnCheckResult(lParam); return 0;
        case kOpenedAgainMessage: OnOpenedAgain(); return 0;
        case kStartUpDoneMessage: OnStartUpDone(lParam); return 0;
        }
        return WindowBase::handleMessage(message, wParam, lParam);
    }

    void onDpiChanged() override {
        makeFonts();
        layOut();
        InvalidateRect(hwnd(), nullptr, FALSE);
    }

private:
    // ---- Creation and layout ---------------------------------------------------

    void OnCreate() {
        for (int i = 0; i < kButtonCount; ++i) {
            const ButtonSpec& button = kButtons[i];
            const DWORD style = WS_TABSTOP | BS_PUSHBUTTON | (button.visible ? WS_VISIBLE : 0);
            buttons_[i] = addControl(WC_BUTTONW, button.text, style, button.id);
        }
        progressBar_ = addControl(PROGRESS_CLASSW, L"", WS_VISIBLE, 0);
        SendMessageW(progressBar_, PBM_SETRANGE32, 0, 1000);
        // The status lines as hidden text, for assistive tools and the tests.
        for (int i = 0; i < 3; ++i) statusMirror_[i] = addControl(WC_STATICW, L"", 0, kStatusLineIds[i]);
        makeFonts();
        layOut();
        startStartUpCheck();
        refreshStatus();
        SetTimer(hwnd(), kCheckTimerId, checkEveryMs, nullptr);
    }

    void makeFonts() {
        // The controls let go of the old fonts before they are deleted.
        FontHandle normal = messageFont(scale(15), FW_NORMAL);
        FontHandle button = messageFont(scale(22), FW_BOLD);
        FontHandle title = messageFont(scale(44), FW_BOLD);
        for (int i = 0; i < kButtonCount; ++i)
            setControlFont(buttons_[i], kButtons[i].font == FontSize::Button ? button.get() : normal.get());
        normalFont_ = std::move(normal);
        buttonFont_ = std::move(button);
        titleFont_ = std::move(title);
    }

    // Places the controls for the window's DPI, measures the description with
    // the normal font and sizes the client area to end below it.
    void layOut() {
        for (int i = 0; i < kButtonCount; ++i) {
            const ButtonSpec& button = kButtons[i];
            place(buttons_[i], button.x, button.y, button.width, button.height);
        }
        place(progressBar_, kProgressBox.left, kProgressBox.top, kProgressBox.right - kProgressBox.left,
              kProgressBox.bottom - kProgressBox.top);

        WindowDc dc(hwnd());
        SelectedObject selected(dc.get(), normalFont_.get());
        RECT box{scale(kMargin), scale(kDescriptionTop), scale(kMargin + kDescriptionWidth), scale(kDescriptionTop)};
        DrawTextW(dc.get(), kDescription, -1, &box, DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
        descriptionBottom_ = box.bottom;
        setClientSize(scale(kClientWidth), descriptionBottom_ + scale(kBelowDescription));
    }

    HWND button(int id) const {
        for (int i = 0; i < kButtonCount; ++i)
            if (kButtons[i].id == id) return buttons_[i];
        return nullptr;
    }

    // ---- Status and buttons ------------------------------------------------------

    bool installedAndPresent() const { return !state_.current.empty() && state_.currentFilesPresent; }

    std::wstring firstStatusLine() const {
        const LauncherState& s = state_;
        if (installedAndPresent())
            return L"Installed: build " + s.current + L", released " + formatReleased(s.currentReleased);
        if (!s.current.empty())
            return L"Build " + s.current +
                   L"'s game files are missing (Windows security may have removed them): Repair reinstalls it, "
                   L"keeping your saves.";
        return L"Not installed yet.";
    }

    std::wstring secondStatusLine() const {
        const LauncherState& s = state_;
        if (checkingAtStart_) return L"";  // nothing is known of the build servers yet
        if (!s.builds.empty()) {
            const BuildRecord& latest = s.builds.front();
            std::wstring line = latest.commit != s.current ? L"Latest: build " + latest.commit + L", released " +
                                                                 formatReleased(latest.released)
                                                           : L"This is the latest build.";
            if (latest.commit == s.heldBack) line += L" (you went back from it)";
            if (!latest.summary.empty()) line += L"\n" + latest.summary;
            return line;
        }
        if (!s.listRefusal.empty())
            return s.current.empty() ? s.listRefusal : s.listRefusal + L" You can still play what's installed.";
        return L"Couldn't reach the build server; you can still play what's installed.";
    }

    std::wstring mainButtonLabel() const {
        if (state_.current.empty()) return L"Install && Play";
        if (!state_.currentFilesPresent) return L"Repair && Play";
        if (updateDue(state_)) return L"Update && Play";
        return L"Play";
    }

    void redrawStatus() {
        setText(statusMirror_[0], statusLine1_);
        setText(statusMirror_[1], statusLine2_);
        setText(statusMirror_[2], statusText);
        InvalidateRect(hwnd(), nullptr, FALSE);
    }

    void refreshStatus() {
        const LauncherState& s = state_;
        const bool installed = !s.current.empty();
        // Until the start-up checks end, the button can't tell what it would do.
        setText(button(kMainButtonId), checkingAtStart_ ? L"" : mainButtonLabel());
        EnableWindow(button(kMainButtonId),
                     !busy && !checkingAtStart_ && !(!installed && s.builds.empty() && s.zipPath.empty()));
        EnableWindow(button(kOpenFolderId), installed && !busy);
        EnableWindow(button(kUninstallId), installed && !busy && !themeMaking && !checkingAtStart_);
        showControl(button(kChangeFolderId), !installed);
        EnableWindow(button(kChangeFolderId), !busy);
        setText(button(kBackId), L"Back to build " + s.previous);
        showControl(button(kBackId), installed && !s.previous.empty());
        EnableWindow(button(kBackId), !busy && !themeMaking && !checkingAtStart_);
        // The theme windows start from the theme files list, which comes with the start-up checks.
        EnableWindow(button(kThemeFilesId), !checkingAtStart_);
        EnableWindow(button(kCreateThemeId), !checkingAtStart_);
        showControl(button(kCheckFilesId), installed);
        EnableWindow(button(kCheckFilesId), !busy && !themeMaking && !checkingAtStart_);
        // The background fetch is paused like a download, unless a job of the player's waits for it to stop.
        const bool installing = (busy && runningKind_ == JobKind::Install) || (preloading_ && !afterPreload_);
        const bool resumable = !busy && !checkingAtStart_ && (preloadPaused_ || canCarryOn());
        setText(button(kPauseId), installing ? L"Pause" : L"Resume");
        showControl(button(kPauseId), installing || resumable);
        EnableWindow(button(kPauseId), installing ? !pausing_ : !themeMaking);

        // The status lines are written last: what reads them finds the rest done.
        statusLine1_ = firstStatusLine();
        statusLine2_ = secondStatusLine();
        redrawStatus();
    }

    // The install the main button would start has part of its zip downloaded,
    // or pieces written, already (paused, stopped by a close, or broken off),
    // which it carries on.
    bool canCarryOn() const {
        const LauncherState& s = state_;
        const bool wouldInstall = s.current.empty() || !s.currentFilesPresent || updateDue(s);
        if (!wouldInstall || s.builds.empty() || !s.zipPath.empty()) return false;
        return fileExists(joinPath(joinPath(s.rootFolder, L"Downloads"), s.builds.front().file + L".part")) ||
               (piecesWrittenFor(s, s.builds.front()) && !madeReadyInBackground(s, s.builds.front()));
    }

    void setStatusText(const std::wstring& text) {
        statusText = text;
        redrawStatus();
    }

    // ---- Jobs --------------------------------------------------------------------

    // The start-up checks run beside the open window; until they end the status
    // line says so and the button waits.
    void startStartUpCheck() {
        startText_ = statusText;
        const LauncherState copy = state_;
        const StartOptions options = options_;
        checkingAtStart_ = jobs_.start<StartUpOutcome>(
            hwnd(), kProgressMessage, kStartUpDoneMessage,
            [copy, options](const JobControl& control) { return runStartUpCheck(copy, options, control); });
        if (checkingAtStart_) watchJob(kStartUpDoneMessage);
        // A launcher that has just updated itself says so rather than that it checks.
        if (checkingAtStart_ && !options_.updated) statusText = L"Checking for updates...";
    }

    void OnStartUpDone(LPARAM lParam) {
        const std::unique_ptr<StartUpOutcome> outcome = takeJobResult<StartUpOutcome>(lParam);
        jobs_.finish();
        stopWatchingJob();
        checkingAtStart_ = false;
        takeStartUpOutcome(state_, *outcome);
        // The bar showed the new launcher's download, if there was one.
        SendMessageW(progressBar_, PBM_SETPOS, 0, 0);
        if (closeWhenStopped_) {
            DestroyWindow(hwnd());
            return;
        }
        if (std::exchange(checkAgain_, false)) {
            statusText = startText_;
            startStartUpCheck();
            refreshStatus();
            return;
        }
        // A newer launcher put in place takes over; should it not start, this one goes on.
        if (outcome->selfUpdated == SelfUpdateOutcome::Updated && startNewLauncher(state_)) {
            DestroyWindow(hwnd());
            return;
        }
        statusText = outcome->selfUpdated == SelfUpdateOutcome::Failed
                         ? L"Couldn't update the launcher: " + state_.lastError
                         : startText_;
        refreshStatus();
        // A theme window asked for meanwhile opens now, on the list the checks brought.
        if (openWhenChecked_) OnCommand(static_cast<WORD>(std::exchange(openWhenChecked_, 0)));
        maybePreload();
    }

    // Starts an install or add-on job on a copy of the state; the window keeps
    // showing the state it has until the job's done message hands the copy back.
    void startJob(JobKind kind) {
        // The background gives way at once: the player's job starts as soon as it has stopped.
        if (preloading_) {
            busy = true;
            runningKind_ = kind;
            check_.noteInstallStarted();
            whenBackgroundStopped([this, kind] { startJob(kind); });
            return;
        }
        busy = true;
        runningKind_ = kind;
        if (kind != JobKind::AddOns) check_.noteInstallStarted();  // a check may install again
        refreshStatus();
        const LauncherState copy = state_;
        const bool started = jobs_.start<JobOutcome>(
            hwnd(), kProgressMessage, kJobDoneMessage,
            [kind, copy](const JobControl& control) { return runJob(kind, copy, control); });
        if (!started) {
            busy = false;
            refreshStatus();
            return;
        }
        watchJob(kJobDoneMessage);
    }

    // While a job runs, its progress is taken on a timer too: a step that
    // reports once and then works for a while is shown all the same, and an
    // end whose message couldn't be posted is picked up.
    void watchJob(UINT doneMessage) {
        doneMessage_ = doneMessage;
        SetTimer(hwnd(), kProgressTimerId, kProgressEveryMs, nullptr);
    }

    void stopWatchingJob() { KillTimer(hwnd(), kProgressTimerId); }

    void takeJobProgress() {
        if (const std::optional<ProgressRecord> record = jobs_.takeProgress()) showProgress(*record);
        if (const LPARAM kept = jobs_.takeKeptResult()) SendMessageW(hwnd(), doneMessage_, 0, kept);
    }

    void startGameAndStepAside() {
        if (play(state_)) ShowWindow(hwnd(), SW_MINIMIZE);
    }

    void showProgress(const ProgressRecord& record) {
        SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(record.fraction * 1000), 0);
        // While the job stops, the window says so rather than what the job did last.
        if (!closeWhenStopped_ && !pausing_) setStatusText(record.sentence);
    }

    // ---- The background fetch --------------------------------------------------

    // Makes the newest build ready in the background while the window is idle:
    // after the start-up checks, after every check and after the player's jobs.
    void maybePreload() {
        if (busy || checkingAtStart_ || closeWhenStopped_ || jobs_.started() || themeMaking || preloadPaused_ ||
            installPaused_ || !preloadOn(state_))
            return;
        const BuildRecord record = buildToPreload(state_);
        if (!record.commit.empty() && madeReadyInBackground(state_, record) && statusText.empty())
            setStatusText(preloadSentence(state_, PreloadOutcome::Ready));
        if ((!record.commit.empty() && record.commit == preloadFailed_) || !preloadHasWork(state_)) return;
        const LauncherState copy = state_;
        preloading_ = jobs_.start<JobOutcome>(
            hwnd(), kProgressMessage, kJobDoneMessage,
            [copy](const JobControl& control) { return runJob(JobKind::Preload, copy, control); });
        if (!preloading_) return;
        runningKind_ = JobKind::Preload;
        watchJob(kJobDoneMessage);
        refreshStatus();
    }

    // What waits for the background fetch to stop runs once it has (at once when none runs).
    void whenBackgroundStopped(std::function<void()> action) {
        if (!preloading_) {
            action();
            return;
        }
        afterPreload_ = std::move(action);
        jobs_.requestStop();
        refreshStatus();
    }

    void OnPreloadDone(const JobOutcome& outcome) {
        preloading_ = false;
        const bool paused = std::exchange(pausing_, false);
        if (closeWhenStopped_) {
            DestroyWindow(hwnd());
            return;
        }
        const BuildRecord record = buildToPreload(state_);
        if (outcome.preloaded == PreloadOutcome::Failed) preloadFailed_ = record.commit;
        SendMessageW(progressBar_, PBM_SETPOS, 0, 0);
        // Paused while a job of the player's waited for the background: neither goes on.
        if (paused && afterPreload_) {
            afterPreload_ = nullptr;
            busy = false;
        }
        if (afterPreload_) {
            busy = false;
            statusText.clear();
            std::exchange(afterPreload_, nullptr)();
            return;
        }
        if (paused) {
            statusText = L"Paused. What's downloaded is kept: Resume carries on from there.";
        } else {
            statusText = preloadSentence(state_, outcome.preloaded);
        }
        refreshStatus();
        // The list changed while it ran: what to make ready may have too.
        if (std::exchange(preloadAgain_, false)) maybePreload();
    }

    void OnJobDone(LPARAM lParam) {
        const std::unique_ptr<JobOutcome> outcome = takeJobResult<JobOutcome>(lParam);
        jobs_.finish();
        stopWatchingJob();
        if (outcome->kind == JobKind::Preload) {
            OnPreloadDone(*outcome);
            return;
        }
        takeInstallState(state_, outcome->copy);
        busy = false;
        const bool paused = std::exchange(pausing_, false) && !outcome->succeeded;
        if (closeWhenStopped_) {
            DestroyWindow(hwnd());
            return;
        }
        // An install the player paused isn't carried on in the background either.
        installPaused_ = paused;
        if (paused) {
            // The bar stays where the download stopped; Resume carries on from there.
            statusText = L"Paused. What's downloaded is kept: Resume carries on from there.";
        } else if (outcome->kind == JobKind::Verify) {
            statusText = outcome->succeeded ? L"Checked build " + state_.current + L": every file is as published."
                         : outcome->verified == VerifyOutcome::NotMended ? L"Not mended: " + state_.lastError
                                                                         : L"Not checked: " + state_.lastError;
            if (!outcome->succeeded) SendMessageW(progressBar_, PBM_SETPOS, 0, 0);
        } else if (!outcome->succeeded) {
            std::wstring text = L"Not installed: " + state_.lastError;
            if (installedAndPresent()) text += L" The installed build still plays.";
            statusText = text;
            SendMessageW(progressBar_, PBM_SETPOS, 0, 0);
        } else {
            // The controls show the finished install before the window steps aside for the game: whatever sees
            // the window minimised finds them done.
            refreshStatus();
            startGameAndStepAside();
        }
        refreshStatus();
        if (createTheme_) createTheme_->refreshControls();
        // The background fetch carries on.
        maybePreload();
    }

    void OnCheckResult(LPARAM lParam) {
        if (!check_.handleResult(state_, lParam)) {
            maybePreload();
            return;
        }
        refreshStatus();
        // A newer build, or one held back or gone, changes what the background makes ready.
        if (preloading_ && !afterPreload_) {
            preloadAgain_ = true;
            jobs_.requestStop();
        }
        maybePreload();
    }

    void OnTimer(WPARAM id) {
        if (id == kProgressTimerId) takeJobProgress();
        if (id == kCheckTimerId && !checkingAtStart_) check_.start(state_, hwnd());
    }

    void OnActivate(WPARAM wParam) {
        if (LOWORD(wParam) == WA_INACTIVE) return;
        // A theme run may have started or ended in the create-theme window meanwhile.
        refreshStatus();
        const unsigned long long wait = std::min<unsigned long long>(checkEveryMs, 60000);
        if (!checkingAtStart_ && GetTickCount64() - startTick >= wait) check_.start(state_, hwnd());
    }

    void OnOpenedAgain() {
        // Closed during the start-up checks and waiting for them to end: the
        // player wants the window after all, and the checks cut short by the
        // close run again once they have ended.
        if (closeWhenStopped_ && checkingAtStart_) {
            closeWhenStopped_ = false;
            checkAgain_ = true;
            ShowWindow(hwnd(), SW_SHOW);
        }
        if (IsIconic(hwnd())) ShowWindow(hwnd(), SW_RESTORE);
        SetForegroundWindow(hwnd());
        logLine(state_, L"Opened again: brought this window to the front instead.");
    }

    // ---- Buttons -----------------------------------------------------------------

    void OnCommand(WORD id) {
        switch (id) {
        case kMainButtonId: OnMainButton(); break;
        case kOpenFolderId: OnOpenFolder(); break;
        case kUninstallId: OnUninstall(); break;
        case kChangeFolderId: OnChangeFolder(); break;
        case kBackId: OnBack(); break;
        case kThemeFilesId: OnThemeFiles(); break;
        case kWhatsNewId: OnWhatsNew(); break;
        case kCreateThemeId: OnCreateTheme(); break;
        case kCheckFilesId: OnCheckFiles(); break;
        case kPauseId: OnPause(); break;
        }
    }

    void OnMainButton() {
        if (busy || checkingAtStart_) return;
        if (bringGameToFront(state_)) {
            const bool wouldInstall = state_.current.empty() || !state_.currentFilesPresent || updateDue(state_);
            setStatusText(wouldInstall
                              ? L"The game is still running: close it, then press the button again to update."
                              : L"The game is already running.");
            return;
        }
        if (installedAndPresent() && !updateDue(state_)) {
            if (!state_.listSource.empty() && !listThemesToUpdate(state_).empty())
                startJob(JobKind::AddOns);
            else
                startGameAndStepAside();
            return;
        }
        if (themeMaking) {
            MessageBoxW(hwnd(),
                        L"A theme is being made in the game's folder: let it finish (or stop it) before installing.",
                        L"Vorlane", MB_OK | MB_ICONINFORMATION);
            return;
        }
        startJob(JobKind::Install);
    }

    // Pause stops the install at once, keeping what it fetched (the zip's
    // part, the pieces); Resume starts the same install again, which carries on.
    void OnPause() {
        if (preloading_ && !afterPreload_) {
            if (pausing_) return;
            pausing_ = true;
            preloadPaused_ = true;
            jobs_.requestStop();
            statusText = L"Pausing...";
            refreshStatus();
            return;
        }
        if (preloadPaused_ && !busy && !checkingAtStart_) {
            preloadPaused_ = false;
            statusText.clear();
            maybePreload();
            refreshStatus();
            return;
        }
        if (busy && runningKind_ == JobKind::Install) {
            if (pausing_) return;
            pausing_ = true;
            jobs_.requestStop();
            statusText = L"Pausing...";
            refreshStatus();
            return;
        }
        if (!busy && !checkingAtStart_ && canCarryOn()) OnMainButton();
    }

    // Checks the installed build's files and mends what changed, on the job runner like an install.
    void OnCheckFiles() {
        if (busy || themeMaking || state_.current.empty()) return;
        startJob(JobKind::Verify);
    }

    void OnOpenFolder() {
        openWithShell(hwnd(), buildFolder(state_, state_.current));
    }

    // Going back and uninstalling run here on the window thread, holding the
    // root lock like every job that changes the installation.
    bool whileLocked(const std::function<bool()>& action) {
        RootLock lock;
        return lockRootForJob(state_, lock) && action();
    }

    void OnUninstall() {
        const int answer =
            MessageBoxW(hwnd(),
                        L"Remove Vorlane from this PC?\n\nYes: remove the game and keep your settings and saves (they "
                        L"come back if you install again).\nNo: remove everything, your saves too.",
                        L"Vorlane", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL) return;
        whenBackgroundStopped([this, answer] {
            statusText =
                whileLocked([&] { return uninstall(state_, answer == IDNO); }) ? L"Uninstalled." : state_.lastError;
            refreshStatus();
        });
    }

    void OnChangeFolder() {
        const std::wstring folder = pickFolder(hwnd(), L"Where should Vorlane be installed?");
        if (folder.empty()) return;
        state_.installDir = joinPath(folder, L"Vorlane");
        writeSetting(state_, L"InstallDir", state_.installDir);
        setStatusText(L"It will be installed in " + state_.installDir);
    }

    void OnBack() {
        const std::wstring question = L"Go back to build " + state_.previous +
                                      L"? Your settings and saves come with you, and build " + state_.current +
                                      L" isn't offered as an update again (a newer one is).";
        if (MessageBoxW(hwnd(), question.c_str(), L"Vorlane", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
        whenBackgroundStopped([this] {
            statusText = whileLocked([&] { return goBack(state_); }) ? L"Now on build " + state_.current + L"."
                                                                     : state_.lastError;
            refreshStatus();
            maybePreload();
        });
    }

    // The theme files window is brought forward when it is open, else opened
    // on a freshly loaded slot list.
    void OnThemeFiles() {
        if (checkingAtStart_) openWhenChecked_ = kThemeFilesId;
        else openThemeFilesWindow(themeFiles_, state_, instance_);
    }

    void OnWhatsNew() {
        MessageBoxW(hwnd(), whatsNewText(state_).c_str(), L"What's new", MB_OK | MB_ICONINFORMATION);
    }

    void OnCreateTheme() {
        if (checkingAtStart_) openWhenChecked_ = kCreateThemeId;
        else OpenCreateThemeWindow(createTheme_, state_, instance_, modelsHub_);
    }

    // ---- Closing -----------------------------------------------------------------

    // A running update is asked first and then stopped: the window goes when
    // the job's done message comes. A theme being made is asked about too.
    void OnClose() {
        if (closeWhenStopped_) return;
        // The start-up checks can't be cut short mid-request: the window goes
        // at once and the launcher when they end.
        // Nor need the background fetch be asked about: it carries on at the next start.
        if (checkingAtStart_ || (preloading_ && !afterPreload_)) {
            closeWhenStopped_ = true;
            jobs_.requestStop();
            ShowWindow(hwnd(), SW_HIDE);
            return;
        }
        if (jobs_.started()) {
            const int answer = MessageBoxW(
                hwnd(), L"An update is running. Stop it and close? It carries on from where it stopped next time.",
                L"Vorlane", MB_OKCANCEL | MB_ICONQUESTION);
            if (answer != IDOK) return;
            // The job may have ended while the question was open.
            if (jobs_.started()) {
                closeWhenStopped_ = true;
                jobs_.requestStop();
                setStatusText(L"Stopping the update; the window closes when it has stopped.");
                return;
            }
        } else if (themeMaking &&
                   MessageBoxW(hwnd(), L"A theme is being made. Stop it and close? What's made so far is kept.",
                               L"Vorlane", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
            return;
        }
        DestroyWindow(hwnd());
    }

    void OnDestroy() {
        // A theme being made stops; the create-theme window waits for it when it goes.
        themeStopRequested = true;
        KillTimer(hwnd(), kCheckTimerId);
        stopWatchingJob();
        RemovePropW(hwnd(), kInstanceRootProperty);
        PostQuitMessage(0);
    }

    // ---- Painting ----------------------------------------------------------------

    void OnPaint() {
        paintBuffered([this](HDC dc, const RECT& client) { paint(dc, client.right, client.bottom); });
    }

    void paint(HDC dc, int width, int height) {
        paintGradient(dc, RECT{0, 0, width, height});
        SetBkMode(dc, TRANSPARENT);
        const int margin = scale(kMargin);
        drawText(dc, L"Vorlane", RECT{margin, scale(24), width - margin, scale(80)}, titleFont_.get(),
                 RGB(240, 200, 90), DT_SINGLELINE | DT_LEFT | DT_VCENTER);
        drawText(dc, kTagline, scale(RECT{34, 80, 478, 120}), normalFont_.get(), RGB(235, 215, 150),
                 DT_WORDBREAK | DT_END_ELLIPSIS | DT_EDITCONTROL);

        {
            PenHandle pen(CreatePen(PS_SOLID, scale(1), RGB(60, 64, 80)));
            SelectedObject selected(dc, pen.get());
            const int y = scale(kDescriptionTop - 12);
            MoveToEx(dc, margin, y, nullptr);
            LineTo(dc, width - margin, y);
        }

        const int bottom = descriptionBottom_;
        drawText(dc, kDescription,
                 RECT{margin, scale(kDescriptionTop), scale(kMargin + kDescriptionWidth), bottom},
                 normalFont_.get(), RGB(165, 165, 178), DT_WORDBREAK);
        drawText(dc, L"launcher " + launcherVersion(), RECT{margin, bottom + scale(6), scale(608), bottom + scale(24)},
                 normalFont_.get(), RGB(110, 110, 125), DT_SINGLELINE | DT_RIGHT);

        const COLORREF status = RGB(225, 225, 230);
        drawText(dc, statusLine1_, scale(RECT{32, 134, 608, 156}), normalFont_.get(), status, DT_WORDBREAK);
        drawText(dc, statusLine2_, scale(RECT{32, 160, 608, 242}), normalFont_.get(), status, DT_WORDBREAK);
        drawText(dc, statusText, scale(RECT{32, 348, 608, 372}), normalFont_.get(), status, DT_WORDBREAK);
    }

    LauncherState& state_;
    HWND buttons_[kButtonCount] = {};
    HWND progressBar_ = nullptr;
    HWND statusMirror_[3] = {};
    FontHandle normalFont_;  // 15 px at 96 DPI
    FontHandle buttonFont_;  // 22 px bold
    FontHandle titleFont_;   // 44 px bold
    int descriptionBottom_ = 0;  // device pixels
    std::wstring statusLine1_, statusLine2_;
    // Destroyed before the window object: each joins its thread.
    JobRunner jobs_;
    UpdateCheck check_;
    UINT doneMessage_ = 0;  // what the running job's end is told with
    JobKind runningKind_ = JobKind::Install;
    bool pausing_ = false;  // Pause was pressed: the install stops and waits for Resume
    bool preloading_ = false;      // the job that runs is the background fetch
    bool preloadPaused_ = false;   // the background fetch waits for Resume
    bool installPaused_ = false;   // the last install was paused: nothing goes on until the player asks
    bool preloadAgain_ = false;    // the list changed while it ran: it is looked at again once it stopped
    std::wstring preloadFailed_;   // the build whose background fetch didn't work out this time
    std::function<void()> afterPreload_;  // a job of the player's, waiting for the background to stop
    bool closeWhenStopped_ = false;
    bool checkingAtStart_ = false;
    bool checkAgain_ = false;  // the start-up checks were cut short by a close taken back
    int openWhenChecked_ = 0;  // a theme window's button pressed during the start-up checks
    std::wstring startText_;  // the status line the start gave, shown once the checks end
    HINSTANCE instance_ = nullptr;
    const std::wstring modelsHub_;
    const StartOptions options_;
    std::unique_ptr<CreateThemeWindow> createTheme_;
    std::unique_ptr<ThemeFilesWindow> themeFiles_;
};

}  // namespace

int runMainWindow(LauncherState& state, HINSTANCE instance, int showCommand, unsigned instanceHash,
                  const std::wstring& modelsHub, const StartOptions& options) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    MainWindow window(state, modelsHub, options);
    if (!window.open(instance, showCommand, instanceHash)) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.takeDialogMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace vorlane
