// The slot list loaded for a theme window on the job runner, so that a slow or
// silent build server (or another launcher refreshing the kept copy) never
// holds the window thread: the window opens at once with the list the state
// has, and takes the fresh one when the load's message comes.
#pragma once

#include <windows.h>

#include <vector>

#include "core/job_runner.h"
#include "core/launcher_state.h"

namespace vorlane {

// Posted to the window when its load has ended; the list rides in lParam.
inline constexpr UINT kThemeSlotsLoadedMessage = WM_APP + 20;

class ThemeSlotsLoad {
public:
    ThemeSlotsLoad() = default;
    ThemeSlotsLoad(const ThemeSlotsLoad&) = delete;
    ThemeSlotsLoad& operator=(const ThemeSlotsLoad&) = delete;
    // Waits for a load that still runs; the list it left behind goes with it.
    ~ThemeSlotsLoad();

    // Loads the list for `window` from a copy of the state; false when a load runs already.
    bool start(HWND window, const LauncherState& state);
    // A load has started and its message hasn't been taken yet.
    bool loading() const { return runner_.started(); }
    // The window is closed while its list loads: it goes out of sight, to be
    // destroyed once the load has ended (its thread is joined, never left
    // behind). False when nothing loads: it closes at once.
    bool hideUntilLoaded();
    // The window is asked for again: shown, and no longer to be closed.
    void showAgain();

    enum class Outcome { Same, Changed, Close };
    // On kThemeSlotsLoadedMessage: joins the load and puts its list into the
    // state. Close when the window was closed meanwhile; Changed when the list
    // differs from the one the state had.
    Outcome finish(LPARAM lParam, LauncherState& state);

private:
    HWND window_ = nullptr;
    bool closing_ = false;
    JobRunner runner_;
};

}  // namespace vorlane
