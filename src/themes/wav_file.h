// WAV files: read 16/24/32-bit PCM and 32-bit float; write 16-bit PCM with dither.
#pragma once

#include <string>

#include "themes/audio_buffer.h"

namespace vorlane {

// True, with the sound in `out`, when the bytes are a WAV this can read.
bool ReadWav(const std::string& bytes, AudioBuffer& out);

// A 16-bit PCM WAV file of the buffer; the same input always gives the same bytes.
std::string WriteWav(const AudioBuffer& audio);

}  // namespace vorlane
