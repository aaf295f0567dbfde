#include "ui/window_base.h"

#include "ui/gdi.h"

namespace vorlane {

namespace {

UINT dpiOf(HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    return dpi ? dpi : 96;
}

}  // namespace

void setControlFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void showControl(HWND control, bool shown) { ShowWindow(control, shown ? SW_SHOWNA : SW_HIDE); }

void setText(HWND control, const std::wstring& text) {
    wchar_t current[1024];
    GetWindowTextW(control, current, 1024);
    if (text != current) SetWindowTextW(control, text.c_str());
}

WindowBase::~WindowBase() {
    if (!window_) return;
    // The derived object is gone already: the last messages go to the system.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

bool WindowBase::registerClass(HINSTANCE instance, const wchar_t* className) {
    WNDCLASSEXW windowClass{sizeof windowClass};
    if (GetClassInfoExW(instance, className, &windowClass)) return true;
    windowClass = WNDCLASSEXW{sizeof windowClass};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = className;
    return RegisterClassExW(&windowClass) != 0;
}

HWND WindowBase::create(const wchar_t* className, const wchar_t* title, DWORD style, int x, int y, int width,
                        int height, HINSTANCE instance, HWND owner, DWORD exStyle) {
    return CreateWindowExW(exStyle, className, title, style, x, y, width, height, owner, nullptr, instance, this);
}

LRESULT CALLBACK WindowBase::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<WindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        self->dpi_ = dpiOf(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<WindowBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) and after the object let go.
    if (!self) return DefWindowProcW(window, message, wParam, lParam);

    const LRESULT result = self->handleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
    }
    return result;
}

LRESULT WindowBase::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DPICHANGED) {
        dpi_ = HIWORD(wParam) ? HIWORD(wParam) : 96;
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        onDpiChanged();
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void WindowBase::bringForward() const {
    if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
    SetForegroundWindow(window_);
}

void WindowBase::setClientSize(int width, int height) {
    RECT frame{0, 0, width, height};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)), dpi_);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND WindowBase::addControl(const wchar_t* className, const wchar_t* text, DWORD style, int id, DWORD exStyle) {
    return CreateWindowExW(exStyle, className, text, WS_CHILD | style, 0, 0, 0, 0, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void WindowBase::place(HWND control, int x, int y, int width, int height) const {
    MoveWindow(control, scale(x), scale(y), scale(width), scale(height), TRUE);
}

void WindowBase::paintBuffered(const std::function<void(HDC dc, const RECT& client)>& paint) {
    PaintDc screen(window_);
    RECT client;
    GetClientRect(window_, &client);
    MemoryDc memory(CreateCompatibleDC(screen.get()));
    BitmapHandle bitmap(memory ? CreateCompatibleBitmap(screen.get(), client.right, client.bottom) : nullptr);
    if (!bitmap) {
        paint(screen.get(), client);
        return;
    }
    SelectedObject selected(memory.get(), bitmap.get());
    paint(memory.get(), client);
    BitBlt(screen.get(), 0, 0, client.right, client.bottom, memory.get(), 0, 0, SRCCOPY);
}

}  // namespace vorlane
