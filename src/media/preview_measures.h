// What a preview draws of a sound and of a 3D model: the sound's outline a
// column at a time, and the model's triangles, size and front silhouette.
// Plain standard C++: the window draws what these give.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "media/audio_buffer.h"

namespace vorlane {

// The lowest and highest sample (all channels) of each of `columns` equal
// stretches of the sound, -1 to 1; empty when there is no sound or no column.
struct WaveColumn {
    float low = 0, high = 0;
};
std::vector<WaveColumn> WaveformColumns(const AudioBuffer& audio, int columns);

// The same outline, with the sound's peak and loudness, worked out as the
// samples come a block at a time: a long sound is never held whole.
class SoundOutline {
public:
    SoundOutline(uint64_t frames, int channels, int columns);
    // The next interleaved samples, whole frames.
    void add(const float* samples, size_t count);
    const std::vector<WaveColumn>& columns() const { return columns_; }
    double peak() const { return peak_; }
    double rootMeanSquare() const;  // 0 without samples

private:
    uint64_t frames_;
    size_t channels_;
    std::vector<WaveColumn> columns_;
    uint64_t frame_ = 0;       // frames taken so far
    size_t column_ = 0;        // the column frame_ falls in
    uint64_t columnEnd_ = 0;   // the first frame past that column
    double peak_ = 0, squares_ = 0;
    uint64_t samples_ = 0;
};

// A picture's width and height as its file's first bytes give them (PNG,
// GIF, BMP and JPEG), read before anything is decoded; false when the bytes
// don't say.
bool PictureSizeOf(std::string_view head, uint32_t& width, uint32_t& height);

struct ModelShape {
    bool read = false;          // the bytes are a GLB
    uint64_t triangles = 0;     // triangles that read
    double low[3] = {0, 0, 0};  // the corners of the box around every triangle, x, y and z
    double high[3] = {0, 0, 0};
    double shardScore = -1;     // as the model check measures it
    // Seen from the front (x to the right, y up), fitted into maskWidth x
    // maskHeight without stretching and centred: 1 where a triangle covers
    // the cell, row by row from the top.
    int maskWidth = 0, maskHeight = 0;
    std::vector<uint8_t> mask;
};

// Measures a GLB and draws its silhouette into a box of at most width x height cells.
ModelShape MeasureModel(std::string_view glb, int width, int height);

}  // namespace vorlane
