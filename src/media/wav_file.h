// WAV files: read 16/24/32-bit PCM and 32-bit float; write 16-bit PCM with dither.
#pragma once

#include <string>
#include <string_view>

#include "core/files.h"
#include "media/audio_buffer.h"

namespace vorlane {

// True, with the sound in `out`, when the bytes are a WAV this can read.
bool ReadWav(std::string_view bytes, AudioBuffer& out);

// A 16-bit PCM WAV file of the buffer; the same input always gives the same bytes.
std::string WriteWav(const AudioBuffer& audio);
// The same bytes handed to `write` a block at a time, so the file is never held whole; false when a write failed.
bool WriteWav(const AudioBuffer& audio, const FileBlockSink& write);

}  // namespace vorlane
