// FLAC streams of one or two channels, decoded whole into memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "media/audio_buffer.h"

namespace vorlane {

// Decodes the bytes of a FLAC file into `out`. Returns an empty text on success,
// otherwise the sentence that says what is wrong with it (and `out` is empty).
std::string DecodeFlac(std::string_view bytes, AudioBuffer& out);

// What a FLAC file's first bytes say of its sound: its rate, channels and
// length in frames (0 when the encoder didn't know). False when they don't
// begin with the stream's description.
struct FlacLength {
    int rate = 0;
    int channels = 0;
    uint64_t frames = 0;
};
bool ReadFlacLength(std::string_view head, FlacLength& length);

}  // namespace vorlane
