// Owning wrappers for GDI objects and device contexts, so that no path through
// a paint or a layout leaks one, and objects selected into a device context go
// back out before they are deleted.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

#include "core/handles.h"

namespace vorlane {

struct DeleteGdiObject {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct DeleteMemoryDc {
    void operator()(HDC dc) const { DeleteDC(dc); }
};

using FontHandle = UniqueHandle<HFONT, DeleteGdiObject>;
using BrushHandle = UniqueHandle<HBRUSH, DeleteGdiObject>;
using PenHandle = UniqueHandle<HPEN, DeleteGdiObject>;
using BitmapHandle = UniqueHandle<HBITMAP, DeleteGdiObject>;
// A device context of CreateCompatibleDC.
using MemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;

// An object selected into a device context for the life of a scope; the one it
// replaced is selected back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A window's device context from GetDC, released when it goes (null: the screen's).
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint and EndPaint around a WM_PAINT.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { EndPaint(window_, &paint_); }
    HDC get() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// A 32-bit top-down bitmap of width x height holding `pixels` (BGRA, premultiplied
// where it has transparent parts, as GdiAlphaBlend takes it); null when it can't be made.
BitmapHandle bitmapOfPixels(HDC dc, int width, int height, const uint8_t* pixels);

// The system's message font, `pixels` high (device pixels) at `weight`.
FontHandle messageFont(int pixels, int weight);

// The message font if it can draw `character`, else the first of a few fonts
// known for symbols that can (a message font without it draws a box); null
// when none can.
FontHandle fontThatDraws(wchar_t character, int pixels);

}  // namespace vorlane
