// A row of small pictures, the newest first: what a theme run has made so
// far. A click on one hands its file to the owner. The window text names the
// files shown, one per line and newest first, for assistive tools (and the tests).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/file_preview.h"
#include "ui/window_base.h"

namespace vorlane {

inline constexpr wchar_t kPictureStripClass[] = L"VorlanePictureStrip";

class PictureStrip final : public WindowBase {
public:
    // Theme-relative name and path of the picture clicked.
    using Clicked = std::function<void(const std::wstring& file, const std::wstring& path)>;

    bool open(HWND parent, int id, HINSTANCE instance, Clicked clicked);
    // A picture made small (FilePreview of a picture), shown first.
    void add(const std::wstring& file, FilePreview picture);
    void clear();
    // The side of each picture's square, in device pixels.
    int cellSide() const;

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Entry {
        std::wstring file;
        FilePreview picture;
    };
    void OnPaint();
    void OnClick(int x);
    void showNames();
    int px(int pixels) const { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(hwnd())), 96); }

    std::vector<Entry> entries_;  // newest first
    Clicked clicked_;
};

}  // namespace vorlane
