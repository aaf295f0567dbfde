#include "ui/gdi.h"

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

}  // namespace vorlane
