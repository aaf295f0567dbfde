// A child window that draws a file's preview: the picture, the sound's
// outline or the model's silhouette above the preview's lines. Its window
// text is those lines, one per line, so that assistive tools (and the tests)
// can read what it shows.
#pragma once

#include <windows.h>

#include "ui/file_preview.h"
#include "ui/gdi.h"
#include "ui/window_base.h"

namespace vorlane {

inline constexpr wchar_t kPreviewPaneClass[] = L"VorlanePreview";

class PreviewPane final : public WindowBase {
public:
    // Creates the pane as a child of `parent` with the control identifier `id`.
    bool open(HWND parent, int id, HINSTANCE instance);
    // Shows this preview from now on (its picture, outline or silhouette and lines).
    void show(FilePreview preview);
    const FilePreview& shown() const { return preview_; }
    // The size of the drawing above the lines, in device pixels, for a preview made to fit.
    SIZE drawingSize() const;

protected:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnPaint();
    void drawPicture(HDC dc, const RECT& box) const;
    void drawWave(HDC dc, const RECT& box) const;
    void drawModel(HDC dc, const RECT& box) const;
    int linesHeight() const;
    int px(int pixels) const { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(hwnd())), 96); }

    FilePreview preview_;
    HFONT font_ = nullptr;  // the parent's, set with WM_SETFONT
};

}  // namespace vorlane
