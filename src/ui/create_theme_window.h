// The create-theme window: the player's choices for a new theme (name, look,
// base theme, what to make, each subject's words), ComfyUI's address with a
// check and the model downloads, and the run itself on a worker with its log
// and progress. A theme that exists already fills the form when its name is
// typed.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/job_runner.h"
#include "core/launcher_state.h"
#include "themes/subjects.h"
#include "ui/gdi.h"
#include "ui/picture_strip.h"
#include "ui/theme_slots_load.h"
#include "ui/window_base.h"

namespace vorlane {

class CreateThemeWindow final : public WindowBase {
public:
    // modelsHub: where Download models gets model files (the hub's base address).
    CreateThemeWindow(LauncherState& state, std::wstring modelsHub);
    // Asks a running worker to stop and waits for it.
    ~CreateThemeWindow() override;

    // Registers the class once and opens the window.
    bool open(HINSTANCE instance);
    // Brings the window forward, shown again if it was closed while its list loaded.
    void showAgain();
    // Enables and disables the controls for the window's state and says where the theme goes.
    void refreshControls();

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onDpiChanged() override;

private:
    // What the worker hands the window thread, under the lock.
    struct WorkerQueue {
        std::mutex lock;
        std::vector<std::wstring> lines;  // log lines not yet shown
        std::vector<std::pair<std::wstring, FilePreview>> pictures;  // pictures made, small, not yet shown
        double fraction = -1;             // the last progress; -1 when none
        std::wstring question;            // a question waiting for the player
        std::optional<bool> answer;       // the player's answer to it
        std::condition_variable answered;
    };

    void OnCreate();
    void OnSize();
    void OnGetMinMaxInfo(MINMAXINFO* limits);
    void OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR* header);
    void OnActivate(WPARAM wParam);
    void OnClose();
    void OnWorker(WPARAM wParam, LPARAM lParam);
    void OnSlotsLoaded(LPARAM lParam);

    void OnNameChanged();
    void OnWhatItIsChanged();
    void OnCalledChanged();
    void OnPlainOne();
    void OnSubjectSelected();
    void OnCreateTheme();
    void OnStop();
    void OnCheckComfy();
    void OnDownloadModels();
    void OnPauseModels();
    // Downloads the model files each server of the address lacks, on the
    // worker; askFirst: the player is asked before anything is downloaded.
    void startModelDownload(const std::wstring& address, unsigned kinds, bool askFirst);
    void OnOpenFolder();
    void OnPictureClicked(const std::wstring& file, const std::wstring& path);

    void makeFonts();
    void layOut();
    void fillSubjectList();
    void drawSubjectRow(int row);
    void showSubjectPane();
    void fillFromExistingTheme(const std::wstring& folderName);
    void appendLog(const std::wstring& line);
    // Worker thread: a picture the run made, made small for the strip.
    void showMade(const std::wstring& file, const std::wstring& path, int side);
    // A line for the log file and the log box, from the window thread.
    void note(const std::wstring& line);
    unsigned tickedKinds() const;
    std::wstring comfyAddress() const;
    int selectedSubject() const;
    bool idle() const;

    // Runs task on the worker thread; false when the previous one hasn't been taken back yet.
    // downloadsModels: the task is a model download, which Pause can stop.
    bool startWorker(std::function<bool(const JobControl&)> task, bool downloadsModels = false);
    // Worker thread: a line for the log file and the window; a fraction; a question.
    void say(const std::wstring& line);
    void tellProgress(double fraction);
    bool ask(const std::wstring& question, const JobControl& control);

    HWND control(int id) const { return GetDlgItem(hwnd(), id); }
    int subjectLabelWidth() const;

    LauncherState& state_;
    const std::wstring modelsHub_;
    FILE* const logFile_;
    HWND self_ = nullptr;  // the window, for the worker's messages
    std::vector<ThemeSubject> subjects_;
    FontHandle font_;      // 15 px at 96 DPI
    FontHandle noteFont_;  // 13 px, for the notes
    bool filling_ = false;  // the window itself is changing the edits
    int subjectLabelWidth_ = 0;  // what the subject's label took at the last layout (96 DPI)
    bool closeWhenDone_ = false;
    bool downloadingModels_ = false;   // the worker runs a model download
    std::atomic<bool> pausing_{false};  // Pause stopped it: the worker words the stop as a pause
    bool paused_ = false;              // a model download was paused and Resume carries it on
    bool pauseShown_ = false;          // the Pause button is in sight, the progress bar making room for it
    std::wstring modelsAddress_;       // what the last model download was for, which Resume carries on
    unsigned modelsKinds_ = 0;
    std::wstring lastFolderName_;
    WorkerQueue queue_;
    PictureStrip strip_;
    // Declared last, so destroyed first: their threads are joined before what they use goes.
    ThemeSlotsLoad slotsLoad_;
    JobRunner worker_;
};

// Opens the create-theme window into `window` at once, with the slot list the
// state has while a fresh one loads, or brings the open one to the front.
void OpenCreateThemeWindow(std::unique_ptr<CreateThemeWindow>& window, LauncherState& state, HINSTANCE instance,
                           const std::wstring& modelsHub);

}  // namespace vorlane
