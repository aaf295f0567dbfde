// FLAC streams of one or two channels, decoded whole into memory.
#pragma once

#include <string>
#include <string_view>

#include "media/audio_buffer.h"

namespace vorlane {

// Decodes the bytes of a FLAC file into `out`. Returns an empty text on success,
// otherwise the sentence that says what is wrong with it (and `out` is empty).
std::string DecodeFlac(std::string_view bytes, AudioBuffer& out);

}  // namespace vorlane
