// The theme files window: the slot list against the theme folder the player
// chose (which files the theme has, where each missing one goes, what it is
// for and the prompt that makes it), with buttons that make the slots'
// folders, copy a slot's prompt and export the checklist into the folder.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

#include "core/job_runner.h"
#include "core/launcher_state.h"
#include "ui/gdi.h"
#include "ui/preview_pane.h"
#include "ui/sound_player.h"
#include "ui/theme_slots_load.h"
#include "ui/window_base.h"

namespace vorlane {

inline constexpr wchar_t kThemeFilesWindowClass[] = L"VorlaneThemeFiles";

class ThemeFilesWindow final : public WindowBase {
public:
    // The window shows and changes the state's slot list, theme folder and
    // style; the state outlives it.
    explicit ThemeFilesWindow(LauncherState& state) : state_(state) {}

    // Registers the window's class (once) and opens the window; false when it
    // couldn't be created.
    bool open(HINSTANCE instance);
    // Brings the window forward, shown again if it was closed while its list loaded.
    void showAgain();

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onDpiChanged() override;

private:
    void OnCreate();
    void OnClose();
    void OnSlotsLoaded(LPARAM lParam);
    void OnSize();
    void OnMinMaxInfo(LPARAM lParam);
    void OnActivate(WPARAM wParam);
    void OnCommand(WORD id, WORD code);
    LRESULT OnNotify(LPARAM lParam);
    LRESULT OnListCustomDraw(NMLVCUSTOMDRAW* draw);
    LRESULT OnEraseBackground(WPARAM wParam);

    void OnChooseFolder();
    void OnOpenFolder();
    void OnMakeFolders();
    void OnStyleChanged();
    void OnCopyPrompt();
    void OnExportChecklist();
    void OnPlay();
    void OnPreviewDone(LPARAM lParam);

    void makeFonts();
    void sizeColumns();
    void layOut();
    void fillList();
    void showSummary();
    void showDetails();
    // The selected slot's file in the preview pane: made on a worker when it is
    // there, what the slot asks for when it isn't.
    void showPreview();
    void startPreview();
    void showInPane(FilePreview preview);
    void stopSound();
    // The selected row, or -1.
    int selectedRow() const;
    std::wstring importFolder() const;

    LauncherState& state_;
    HWND list_ = nullptr;
    HWND styleEdit_ = nullptr;
    FontHandle font_;
    FontHandle tickFont_;  // the "Have" column's: a font that has the tick
    // Set while the window itself changes the list or the style box, so that
    // their notifications aren't taken for the player's.
    bool quiet_ = false;

    PreviewPane preview_;
    JobRunner previewJob_;
    std::wstring previewWanted_;  // the file the selection wants shown
    bool previewAgain_ = false;   // the selection changed while a preview was made
    SoundPlayer sound_;  // stopped when the window goes, and when it closes
    // Declared last, so destroyed first: its thread is joined before what it uses goes.
    ThemeSlotsLoad slotsLoad_;
};

// Opens the theme files window into `window` at once, with the slot list the
// state has while a fresh one loads, or brings the open one to the front.
void openThemeFilesWindow(std::unique_ptr<ThemeFilesWindow>& window, LauncherState& state, HINSTANCE instance);

}  // namespace vorlane
