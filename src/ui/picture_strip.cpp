#include "ui/picture_strip.h"

#include "ui/gdi.h"

namespace vorlane {

namespace {

constexpr int kSide = 64;  // at 96 DPI
constexpr int kGap = 6;

}  // namespace

bool PictureStrip::open(HWND parent, int id, HINSTANCE instance, Clicked clicked) {
    clicked_ = std::move(clicked);
    if (!registerClass(instance, kPictureStripClass)) return false;
    if (!create(kPictureStripClass, L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 0, 0, instance, parent)) return false;
    SetWindowLongPtrW(hwnd(), GWLP_ID, id);
    return true;
}

int PictureStrip::cellSide() const { return px(kSide); }

void PictureStrip::add(const std::wstring& file, FilePreview picture) {
    entries_.insert(entries_.begin(), Entry{file, std::move(picture)});
    showNames();
}

void PictureStrip::clear() {
    entries_.clear();
    showNames();
}

void PictureStrip::showNames() {
    std::wstring names;
    for (const Entry& entry : entries_) names += (names.empty() ? L"" : L"\r\n") + entry.file;
    SetWindowTextW(hwnd(), names.c_str());
    InvalidateRect(hwnd(), nullptr, FALSE);
}

LRESULT PictureStrip::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: OnPaint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONUP: OnClick(static_cast<short>(LOWORD(lParam))); return 0;
    }
    return WindowBase::handleMessage(message, wParam, lParam);
}

// Each picture centred in its square, left to right.
void PictureStrip::OnPaint() {
    paintBuffered([&](HDC dc, const RECT& client) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
        const int side = px(kSide), gap = px(kGap);
        int x = gap;
        for (const Entry& entry : entries_) {
            if (x >= client.right) break;
            const FilePreview& picture = entry.picture;
            MemoryDc memory(CreateCompatibleDC(dc));
            BitmapHandle bitmap = picture.pixels.empty()
                                      ? BitmapHandle()
                                      : bitmapOfPixels(dc, picture.width, picture.height, picture.pixels.data());
            if (memory && bitmap) {
                SelectedObject selected(memory.get(), bitmap.get());
                BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
                GdiAlphaBlend(dc, x + (side - picture.width) / 2, (client.bottom - picture.height) / 2, picture.width,
                              picture.height, memory.get(), 0, 0, picture.width, picture.height, blend);
            }
            x += side + gap;
        }
    });
}

void PictureStrip::OnClick(int x) {
    const int gap = px(kGap), side = px(kSide);
    if (x < gap) return;
    const size_t index = static_cast<size_t>((x - gap) / (side + gap));
    if ((x - gap) % (side + gap) >= side || index >= entries_.size() || !clicked_) return;
    clicked_(entries_[index].file, entries_[index].picture.path);
}

}  // namespace vorlane
