// WAV files: read 16/24/32-bit PCM and 32-bit float; write 16-bit PCM with dither.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <string_view>

#include "core/files.h"
#include "media/audio_buffer.h"

namespace vorlane {

// True, with the sound in `out`, when the bytes are a WAV this can read.
bool ReadWav(std::string_view bytes, AudioBuffer& out);

// A WAV read as it comes, a block of the file at a time, so that a long one
// is never held whole: its format once the header has come, then its samples
// (as ReadWav gives them) handed on a block at a time. A file cut off in its
// samples keeps what it has, as with ReadWav.
class WavStream {
public:
    // The format, and the frames the file holds, before the first samples.
    using FormatSink = std::function<void(int rate, int channels, uint64_t frames)>;
    // Interleaved samples, whole frames only.
    using SampleSink = std::function<void(const float* samples, size_t count)>;
    WavStream(uint64_t fileSize, FormatSink onFormat, SampleSink onSamples);

    // The file's next bytes; false once they show it isn't a WAV this reads.
    bool add(const unsigned char* bytes, size_t size);
    // After the last bytes: true when the samples were found.
    bool complete() const { return inSamples_; }

private:
    bool readHeader();
    bool takeSamples(const unsigned char* bytes, size_t size);
    uint64_t fileSize_;
    FormatSink onFormat_;
    SampleSink onSamples_;
    std::string pending_;         // header bytes, or the part of a frame not yet whole
    uint64_t headerAt_ = 0;       // the file offset of pending_'s first byte, while in the header
    uint64_t samplesLeft_ = 0;    // bytes of the data chunk still to come
    bool inSamples_ = false, failed_ = false;
    unsigned formatTag_ = 0, bits_ = 0, channels_ = 0, rate_ = 0;
    bool formatSeen_ = false;
    std::vector<float> block_;
};

// A 16-bit PCM WAV file of the buffer; the same input always gives the same bytes.
std::string WriteWav(const AudioBuffer& audio);
// The same bytes handed to `write` a block at a time, so the file is never held whole; false when a write failed.
bool WriteWav(const AudioBuffer& audio, const FileBlockSink& write);

}  // namespace vorlane
