#include "ui/gdi.h"

#include <algorithm>

namespace vorlane {

FontHandle messageFont(int pixels, int weight) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = -pixels;
    font.lfWidth = 0;
    font.lfWeight = weight;
    return FontHandle(CreateFontIndirectW(&font));
}

namespace {

bool draws(HFONT font, wchar_t character) {
    WindowDc screen(nullptr);
    SelectedObject selected(screen.get(), font);
    WORD glyph = 0xFFFF;
    return GetGlyphIndicesW(screen.get(), &character, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 &&
           glyph != 0xFFFF;
}

}  // namespace

FontHandle fontThatDraws(wchar_t character, int pixels) {
    FontHandle font = messageFont(pixels, FW_NORMAL);
    if (font && draws(font.get(), character)) return font;
    for (const wchar_t* face : {L"Segoe UI Symbol", L"DejaVu Sans", L"Arial Unicode MS"}) {
        LOGFONTW description{};
        description.lfHeight = -pixels;
        description.lfWeight = FW_NORMAL;
        description.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(description.lfFaceName, face, LF_FACESIZE - 1);
        font = FontHandle(CreateFontIndirectW(&description));
        if (font && draws(font.get(), character)) return font;
    }
    return {};
}

BitmapHandle bitmapOfPixels(HDC dc, int width, int height, const uint8_t* pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    BitmapHandle bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return BitmapHandle();
    std::copy(pixels, pixels + size_t(width) * size_t(height) * 4, static_cast<uint8_t*>(bits));
    return bitmap;
}

}  // namespace vorlane
