// A stand-in for the game in tests. It opens one visible top-level window titled
// "Vorlane (test game)" and runs until that window is closed. Once running it
// writes "started.txt", holding its process id in decimal, into its working
// folder, so a test can tell that it was started and from where.
//
//   Vorlane.exe             the normal game: a window, then the marker
//   Vorlane.exe --no-window the marker only, and no window ever (a game still loading)
#include <windows.h>

#include <cstring>
#include <string>

namespace {

const wchar_t kWindowClass[] = L"VorlaneTestGame";
const wchar_t kWindowTitle[] = L"Vorlane (test game)";

// Written to a temporary name and moved into place, so a reader never sees half of it.
void writeStartedMarker() {
    const std::string text = std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileW(L"started.txt.part", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(L"started.txt.part", L"started.txt", MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createGameWindow(HINSTANCE instance, int showCommand) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass)) return nullptr;
    HWND window = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  480, 320, nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    // Always visible, whatever show state the starter asked for (minimised stays minimised).
    ShowWindow(window, showCommand == SW_HIDE ? SW_SHOWNORMAL : showCommand);
    UpdateWindow(window);
    return window;
}

bool hasArgument(const wchar_t* commandLine, const wchar_t* argument) {
    return commandLine && std::wcsstr(commandLine, argument) != nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    if (hasArgument(commandLine, L"--no-window")) {
        writeStartedMarker();
        Sleep(INFINITE);
        return 0;
    }
    if (!createGameWindow(instance, showCommand)) return 1;
    writeStartedMarker();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
