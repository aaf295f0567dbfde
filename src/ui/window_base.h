// What every launcher window stands on: the window object bound to its HWND
// when the system creates it, one window procedure that hands each message to
// the object, sizes in pixels at 96 DPI scaled to the window's DPI, and fonts
// and layout made again when the window moves to a screen of another DPI.
//
// A window derives from WindowBase, registers its class with registerClass,
// creates itself with create, and overrides handleMessage with a switch that
// sends each message it cares about to a small On... handler and everything
// else to WindowBase::handleMessage.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace vorlane {

class WindowBase {
public:
    WindowBase() = default;
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;
    // A window still open when its object goes is destroyed without it.
    virtual ~WindowBase();

    HWND hwnd() const { return window_; }
    // The window's DPI (96 is 100%).
    UINT dpi() const { return dpi_; }
    // Restores the window if it is minimised and brings it to the front.
    void bringForward() const;
    // A length in pixels at 96 DPI, in the window's device pixels.
    int scale(int pixels) const { return MulDiv(pixels, static_cast<int>(dpi_), 96); }
    RECT scale(const RECT& box) const {
        return RECT{scale(box.left), scale(box.top), scale(box.right), scale(box.bottom)};
    }

protected:
    // Registers a window class whose procedure is this one; a class already
    // registered counts as done. The icon is the program's first icon
    // resource, or the system's application icon.
    static bool registerClass(HINSTANCE instance, const wchar_t* className);

    // Creates the window (sizes in device pixels) with this object bound to it.
    HWND create(const wchar_t* className, const wchar_t* title, DWORD style, int x, int y, int width, int height,
                HINSTANCE instance, HWND owner = nullptr, DWORD exStyle = 0);

    // The window's messages. The base takes WM_DPICHANGED (moves the window to
    // the suggested place, then onDpiChanged) and hands the rest to the system.
    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // The DPI changed: make fonts and layout again for dpi().
    virtual void onDpiChanged() {}

    // Sizes the window so that its client area is width x height device
    // pixels, keeping its top-left corner.
    void setClientSize(int width, int height);

    // A child control with a command identifier (0 for none), placed later by
    // place. Not visible unless the style says WS_VISIBLE.
    HWND addControl(const wchar_t* className, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0);
    // Moves a control to a box given in pixels at 96 DPI.
    void place(HWND control, int x, int y, int width, int height) const;

    // Paints the client area through a memory bitmap the size of the client
    // area, then copies it (for WM_PAINT; the background is never erased on
    // its own).
    void paintBuffered(const std::function<void(HDC dc, const RECT& client)>& paint);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    UINT dpi_ = 96;
};

// Sets a control's font (the control doesn't own it).
void setControlFont(HWND control, HFONT font);
// Shows or hides a control without taking the focus to it.
void showControl(HWND control, bool shown);
// Changes a control's text only when it differs, so that nothing flickers.
void setText(HWND control, const std::wstring& text);

}  // namespace vorlane
