#include "ui/main_window.h"

#include "core/log.h"
#include "core/single_instance.h"
#include "core/window_messages.h"

namespace vorlane {

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 420;

void OnOpenedAgain(HWND window) {
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    logLine(launcherState(), L"Opened again: brought this window to the front instead.");
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kOpenedAgainMessage:
        OnOpenedAgain(window);
        return 0;
    case WM_DESTROY:
        RemovePropW(window, kInstanceRootProperty);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int runMainWindow(LauncherState& state, HINSTANCE instance, int showCommand, unsigned instanceHash) {
    WNDCLASSEXW windowClass{sizeof windowClass};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassExW(&windowClass);

    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kWidth, kHeight};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowExW(0, kMainWindowClass, L"Vorlane", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                  nullptr);
    if (!window) return 1;
    SetPropW(window, kInstanceRootProperty, (HANDLE)(UINT_PTR)instanceHash);
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace vorlane
