// Sound in memory: interleaved 32-bit float samples, nominally within -1..1.
#pragma once

#include <cstddef>
#include <vector>

namespace vorlane {

struct AudioBuffer {
    int rate = 0;      // frames per second
    int channels = 0;  // samples per frame
    std::vector<float> samples;  // frame by frame, one sample per channel

    size_t frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
    double seconds() const { return rate > 0 ? static_cast<double>(frames()) / rate : 0.0; }
};

}  // namespace vorlane
