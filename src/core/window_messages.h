// The application messages that worker threads and second starts post to windows.
#pragma once

#include <windows.h>

namespace vorlane {

constexpr UINT kProgressMessage = WM_APP + 1;     // main window: a heap progress record
constexpr UINT kJobDoneMessage = WM_APP + 2;      // main window: success flag
constexpr UINT kThemeWorkerMessage = WM_APP + 3;  // create-theme window
constexpr UINT kCheckResultMessage = WM_APP + 4;  // main window: build list result
constexpr UINT kOpenedAgainMessage = WM_APP + 5;  // main window: a second start for the same root
constexpr UINT kPreviewDoneMessage = WM_APP + 9;  // theme files window: a file's preview, made
constexpr UINT kStartUpDoneMessage = WM_APP + 16;  // main window: what the start-up checks found

}  // namespace vorlane
