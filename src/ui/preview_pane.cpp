#include "ui/preview_pane.h"

#include <algorithm>
#include <vector>

#include "core/handles.h"

namespace vorlane {

namespace {

constexpr int kMargin = 8;        // at 96 DPI
constexpr int kLineHeight = 19;   // at 96 DPI, for the 15-pixel message font
constexpr int kLinesShown = 5;  // room under the drawing for its lines, wrapped
constexpr COLORREF kInk = RGB(40, 90, 160);

}  // namespace

bool PreviewPane::open(HWND parent, int id, HINSTANCE instance) {
    if (!registerClass(instance, kPreviewPaneClass)) return false;
    if (!create(kPreviewPaneClass, L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 0, 0, instance, parent)) return false;
    SetWindowLongPtrW(hwnd(), GWLP_ID, id);
    return true;
}

void PreviewPane::show(FilePreview preview) {
    preview_ = std::move(preview);
    std::wstring text;
    for (const std::wstring& line : preview_.lines) text += (text.empty() ? L"" : L"\r\n") + line;
    SetWindowTextW(hwnd(), text.c_str());
    InvalidateRect(hwnd(), nullptr, FALSE);
}

int PreviewPane::linesHeight() const { return px(kLineHeight) * kLinesShown + px(kMargin); }

SIZE PreviewPane::drawingSize() const {
    RECT client;
    GetClientRect(hwnd(), &client);
    return SIZE{std::max(0L, client.right - 2 * px(kMargin)),
                std::max(0L, client.bottom - 2 * px(kMargin) - linesHeight())};
}

LRESULT PreviewPane::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: OnPaint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) InvalidateRect(hwnd(), nullptr, FALSE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(font_);
    }
    return WindowBase::handleMessage(message, wParam, lParam);
}

void PreviewPane::OnPaint() {
    paintBuffered([&](HDC dc, const RECT& client) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
        const SIZE drawing = drawingSize();
        const RECT box{px(kMargin), px(kMargin), px(kMargin) + drawing.cx, px(kMargin) + drawing.cy};
        switch (preview_.kind) {
        case PreviewKind::Picture: drawPicture(dc, box); break;
        case PreviewKind::Sound: drawWave(dc, box); break;
        case PreviewKind::Model: drawModel(dc, box); break;
        case PreviewKind::Nothing: break;
        }
        SelectedObject font(dc, font_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        // The lines under the drawing (at the top when there is nothing to draw), wrapped to the pane's width.
        RECT lines{px(kMargin), preview_.kind == PreviewKind::Nothing ? px(kMargin) : box.bottom + px(kMargin),
                   client.right - px(kMargin), client.bottom - px(kMargin)};
        std::wstring text;
        for (const std::wstring& line : preview_.lines) text += (text.empty() ? L"" : L"\r\n") + line;
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &lines, DT_LEFT | DT_NOPREFIX | DT_WORDBREAK);
    });
}

// The picture at its own proportions, centred; transparent parts show the pane.
void PreviewPane::drawPicture(HDC dc, const RECT& box) const {
    MemoryDc memory(CreateCompatibleDC(dc));
    BitmapHandle bitmap = bitmapOfPixels(dc, preview_.width, preview_.height, preview_.pixels.data());
    if (!memory || !bitmap) return;
    SelectedObject selected(memory.get(), bitmap.get());
    const int width = std::min<int>(preview_.width, box.right - box.left);
    const int height = std::min<int>(preview_.height, box.bottom - box.top);
    const int x = box.left + (box.right - box.left - width) / 2, y = box.top + (box.bottom - box.top - height) / 2;
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, x, y, width, height, memory.get(), 0, 0, width, height, blend);
}

// A line a column from each column's lowest to its highest sample, about a middle line.
void PreviewPane::drawWave(HDC dc, const RECT& box) const {
    PenHandle pen(CreatePen(PS_SOLID, 1, kInk));
    SelectedObject selected(dc, pen.get());
    const int middle = (box.top + box.bottom) / 2, half = (box.bottom - box.top) / 2;
    MoveToEx(dc, box.left, middle, nullptr);
    LineTo(dc, box.right, middle);
    const int columns = std::min<int>(static_cast<int>(preview_.wave.size()), box.right - box.left);
    for (int column = 0; column < columns; ++column) {
        const WaveColumn& wave = preview_.wave[column];
        MoveToEx(dc, box.left + column, middle - static_cast<int>(wave.high * half), nullptr);
        LineTo(dc, box.left + column, middle - static_cast<int>(wave.low * half) + 1);
    }
}

// The silhouette seen from the front, centred.
void PreviewPane::drawModel(HDC dc, const RECT& box) const {
    const ModelShape& shape = preview_.model;
    if (shape.mask.empty()) return;
    std::vector<uint8_t> pixels(shape.mask.size() * 4);
    const COLORREF paper = GetSysColor(COLOR_WINDOW);
    for (size_t i = 0; i < shape.mask.size(); ++i) {
        const COLORREF colour = shape.mask[i] ? kInk : paper;
        pixels[4 * i] = GetBValue(colour);
        pixels[4 * i + 1] = GetGValue(colour);
        pixels[4 * i + 2] = GetRValue(colour);
        pixels[4 * i + 3] = 255;
    }
    MemoryDc memory(CreateCompatibleDC(dc));
    BitmapHandle bitmap = bitmapOfPixels(dc, shape.maskWidth, shape.maskHeight, pixels.data());
    if (!memory || !bitmap) return;
    SelectedObject selected(memory.get(), bitmap.get());
    const int width = std::min<int>(shape.maskWidth, box.right - box.left);
    const int height = std::min<int>(shape.maskHeight, box.bottom - box.top);
    BitBlt(dc, box.left + (box.right - box.left - width) / 2, box.top + (box.bottom - box.top - height) / 2, width,
           height, memory.get(), 0, 0, SRCCOPY);
}

}  // namespace vorlane
