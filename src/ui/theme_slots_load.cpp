#include "ui/theme_slots_load.h"

#include "slots/theme_slots.h"

namespace vorlane {

namespace {

struct LoadedSlots {
    std::vector<ThemeSlot> slots;
};

}  // namespace

ThemeSlotsLoad::~ThemeSlotsLoad() {
    runner_.stopAndWait();
    MSG message;
    while (window_ && PeekMessageW(&message, window_, kThemeSlotsLoadedMessage, kThemeSlotsLoadedMessage, PM_REMOVE))
        takeJobResult<LoadedSlots>(message.lParam);
}

bool ThemeSlotsLoad::start(HWND window, const LauncherState& state) {
    if (runner_.started()) return false;
    window_ = window;
    LauncherState copy = state;
    return runner_.start<LoadedSlots>(window, 0, kThemeSlotsLoadedMessage, [copy](const JobControl&) mutable {
        loadThemeSlots(copy);
        return LoadedSlots{std::move(copy.themeSlots)};
    });
}

bool ThemeSlotsLoad::hideUntilLoaded() {
    if (!loading()) return false;
    closing_ = true;
    ShowWindow(window_, SW_HIDE);
    return true;
}

void ThemeSlotsLoad::showAgain() {
    closing_ = false;
    if (window_ && !IsWindowVisible(window_)) ShowWindow(window_, SW_SHOWNORMAL);
}

ThemeSlotsLoad::Outcome ThemeSlotsLoad::finish(LPARAM lParam, LauncherState& state) {
    const std::unique_ptr<LoadedSlots> loaded = takeJobResult<LoadedSlots>(lParam);
    runner_.finish();
    const bool changed = loaded && loaded->slots != state.themeSlots;
    if (changed) state.themeSlots = loaded->slots;
    return closing_ ? Outcome::Close : changed ? Outcome::Changed : Outcome::Same;
}

}  // namespace vorlane
