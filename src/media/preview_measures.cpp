#include "media/preview_measures.h"

#include <algorithm>
#include <cmath>

#include "media/glb_model.h"

namespace vorlane {

std::vector<WaveColumn> WaveformColumns(const AudioBuffer& audio, int columns) {
    const size_t frames = audio.frames();
    if (frames == 0 || columns <= 0) return {};
    std::vector<WaveColumn> result(static_cast<size_t>(columns));
    const size_t channels = static_cast<size_t>(audio.channels);
    for (size_t column = 0; column < result.size(); ++column) {
        // Every frame falls in exactly one column; a column of a short sound may hold none and stays flat.
        const size_t first = frames * column / result.size(), last = frames * (column + 1) / result.size();
        WaveColumn& out = result[column];
        for (size_t i = first * channels; i < last * channels; ++i) {
            out.low = std::min(out.low, std::clamp(audio.samples[i], -1.0f, 1.0f));
            out.high = std::max(out.high, std::clamp(audio.samples[i], -1.0f, 1.0f));
        }
    }
    return result;
}

namespace {

// Fills the cells whose centres lie inside the triangle (x, y in cells, y down).
void fillTriangle(std::vector<uint8_t>& mask, int width, int height, const double (&x)[3], const double (&y)[3]) {
    const double top = std::max(0.0, std::floor(std::min({y[0], y[1], y[2]})));
    const double bottom = std::min(double(height - 1), std::ceil(std::max({y[0], y[1], y[2]})));
    for (int row = int(top); row <= int(bottom); ++row) {
        const double cy = row + 0.5;
        double from = 1e300, to = -1e300;
        for (int edge = 0; edge < 3; ++edge) {
            const int next = (edge + 1) % 3;
            const double y0 = y[edge], y1 = y[next];
            if ((cy < y0) == (cy < y1)) continue;  // the row's centre line doesn't cross this edge
            const double at = x[edge] + (cy - y0) * (x[next] - x[edge]) / (y1 - y0);
            from = std::min(from, at);
            to = std::max(to, at);
        }
        if (from > to) continue;
        const int first = std::max(0, int(std::ceil(from - 0.5))), last = std::min(width - 1, int(std::floor(to - 0.5)));
        for (int column = first; column <= last; ++column) mask[size_t(row) * size_t(width) + size_t(column)] = 1;
    }
}

}  // namespace

ModelShape MeasureModel(std::string_view glb, int width, int height) {
    ModelShape shape;
    std::vector<double> corners;  // x, y of every triangle's corners, for the silhouette
    double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    shape.read = ForEachGlbTriangle(glb, [&](const double* a, const double* b, const double* c) {
        for (const double* corner : {a, b, c})
            if (!std::isfinite(corner[0]) || !std::isfinite(corner[1]) || !std::isfinite(corner[2])) return;
        for (const double* corner : {a, b, c}) {
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], corner[axis]);
                high[axis] = std::max(high[axis], corner[axis]);
            }
            corners.push_back(corner[0]);
            corners.push_back(corner[1]);
        }
        ++shape.triangles;
    });
    if (!shape.read || shape.triangles == 0) return shape;
    shape.shardScore = ShardScore(glb);
    std::copy(low, low + 3, shape.low);
    std::copy(high, high + 3, shape.high);
    if (width <= 0 || height <= 0) return shape;

    // One scale for both directions, so the drawing keeps the model's proportions.
    const double spanX = shape.high[0] - shape.low[0], spanY = shape.high[1] - shape.low[1];
    const double scale = std::min(spanX > 0 ? width / spanX : 1e300, spanY > 0 ? height / spanY : 1e300);
    if (!(scale < 1e300)) return shape;  // a model with no width and no height draws nothing
    shape.maskWidth = std::max(1, std::min(width, int(std::ceil(spanX * scale))));
    shape.maskHeight = std::max(1, std::min(height, int(std::ceil(spanY * scale))));
    shape.mask.assign(size_t(shape.maskWidth) * size_t(shape.maskHeight), 0);
    for (size_t i = 0; i + 6 <= corners.size(); i += 6) {
        double x[3], y[3];
        for (int k = 0; k < 3; ++k) {
            x[k] = (corners[i + 2 * k] - shape.low[0]) * scale;
            y[k] = (shape.high[1] - corners[i + 2 * k + 1]) * scale;  // y up in the model, down on the screen
        }
        fillTriangle(shape.mask, shape.maskWidth, shape.maskHeight, x, y);
    }
    return shape;
}

}  // namespace vorlane
