#include "media/preview_measures.h"

#include <algorithm>
#include <cmath>

#include "media/glb_model.h"

namespace vorlane {

std::vector<WaveColumn> WaveformColumns(const AudioBuffer& audio, int columns) {
    SoundOutline outline(audio.frames(), audio.channels, columns);
    outline.add(audio.samples.data(), audio.frames() * static_cast<size_t>(std::max(audio.channels, 0)));
    return outline.columns();
}

SoundOutline::SoundOutline(uint64_t frames, int channels, int columns)
    : frames_(frames), channels_(static_cast<size_t>(std::max(channels, 0))) {
    if (frames > 0 && columns > 0 && channels > 0) columns_.resize(static_cast<size_t>(columns));
    columnEnd_ = columns_.empty() ? 0 : frames_ / columns_.size();
}

void SoundOutline::add(const float* samples, size_t count) {
    if (channels_ == 0) return;
    for (size_t i = 0; i < count; ++i) {
        const double level = std::fabs(samples[i]);
        peak_ = std::max(peak_, level);
        squares_ += level * level;
    }
    samples_ += count;
    if (columns_.empty()) return;
    // Every frame falls in exactly one column; a column of a short sound may hold none and stays flat.
    for (size_t i = 0; i + channels_ <= count && frame_ < frames_; i += channels_, ++frame_) {
        while (frame_ >= columnEnd_) columnEnd_ = frames_ * (++column_ + 1) / columns_.size();
        WaveColumn& out = columns_[column_];
        for (size_t k = i; k < i + channels_; ++k) {
            out.low = std::min(out.low, std::clamp(samples[k], -1.0f, 1.0f));
            out.high = std::max(out.high, std::clamp(samples[k], -1.0f, 1.0f));
        }
    }
}

double SoundOutline::rootMeanSquare() const { return samples_ ? std::sqrt(squares_ / double(samples_)) : 0; }

bool PictureSizeOf(std::string_view head, uint32_t& width, uint32_t& height) {
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    const size_t size = head.size();
    const auto big16 = [&](size_t at) { return uint32_t{p[at]} << 8 | p[at + 1]; };
    const auto big32 = [&](size_t at) { return big16(at) << 16 | big16(at + 2); };
    const auto little16 = [&](size_t at) { return uint32_t{p[at + 1]} << 8 | p[at]; };
    const auto little32 = [&](size_t at) { return little16(at + 2) << 16 | little16(at); };
    if (size >= 24 && head.substr(0, 8) == "\x89PNG\r\n\x1a\n" && head.substr(12, 4) == "IHDR") {
        width = big32(16);
        height = big32(20);
        return true;
    }
    if (size >= 10 && (head.substr(0, 6) == "GIF87a" || head.substr(0, 6) == "GIF89a")) {
        width = little16(6);
        height = little16(8);
        return true;
    }
    if (size >= 26 && head.substr(0, 2) == "BM") {
        width = little32(18);
        const int32_t rows = static_cast<int32_t>(little32(22));  // negative for a picture stored top-down
        height = rows < 0 ? 0u - static_cast<uint32_t>(rows) : static_cast<uint32_t>(rows);
        return true;
    }
    if (size >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
        // The markers after the start, each with its length, up to the frame header (SOF0 to SOF15 but for
        // DHT, JPG and DAC).
        for (size_t at = 2; at + 9 <= size;) {
            if (p[at] != 0xFF) return false;
            const unsigned marker = p[at + 1];
            if (marker == 0xFF) {
                ++at;
                continue;
            }
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                height = big16(at + 5);
                width = big16(at + 7);
                return true;
            }
            at += 2 + big16(at + 2);
        }
    }
    return false;
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
