#include "media/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace vorlane {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

uint16_t littleEndian16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t littleEndian32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// What the "fmt " chunk says about the samples that follow.
struct WavFormat {
    bool seen = false;
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bitsPerSample = 0;
};

WavFormat parseFormatChunk(const unsigned char* data, uint32_t size) {
    WavFormat format;
    format.seen = true;
    format.tag = littleEndian16(data);
    format.channels = littleEndian16(data + 2);
    format.rate = littleEndian32(data + 4);
    format.bitsPerSample = littleEndian16(data + 14);
    // The extensible format keeps the real tag in the first two bytes of its sub-format GUID.
    if (format.tag == kTagExtensible && size > 25) format.tag = littleEndian16(data + 24);
    return format;
}

bool readable(const WavFormat& format) {
    const bool isFloat = format.tag == kTagFloat && format.bitsPerSample == 32;
    const bool isPcm = format.tag == kTagPcm &&
                       (format.bitsPerSample == 16 || format.bitsPerSample == 24 || format.bitsPerSample == 32);
    return (isFloat || isPcm) && format.channels >= 1 && format.rate >= 1 &&
           format.rate <= static_cast<uint32_t>(std::numeric_limits<int>::max());
}

// Turns `count` samples' bytes of a readable format into floats.
void convertSamples(const WavFormat& format, const unsigned char* p, size_t count, float* out) {
    if (format.tag == kTagFloat) {
        for (size_t i = 0; i < count; ++i, p += 4) {
            uint32_t bits = littleEndian32(p);
            std::memcpy(&out[i], &bits, sizeof bits);
        }
        return;
    }
    // Left-align each sample in 32 bits so the arithmetic shift back sign-extends it.
    const int shift = 32 - format.bitsPerSample;
    const double scale = 1.0 / static_cast<double>(1ull << (format.bitsPerSample - 1));
    if (format.bitsPerSample == 16) {
        // The usual layout, with the byte loop below written out.
        for (size_t i = 0; i < count; ++i, p += 2) out[i] = static_cast<float>(static_cast<int16_t>(littleEndian16(p)) * scale);
        return;
    }
    const size_t bytesPerSample = format.bitsPerSample / 8;
    for (size_t i = 0; i < count; ++i, p += bytesPerSample) {
        uint32_t raw = 0;
        for (size_t b = 0; b < bytesPerSample; ++b) raw |= static_cast<uint32_t>(p[b]) << (8 * b);
        const int32_t value = static_cast<int32_t>(raw << shift) >> shift;
        out[i] = static_cast<float>(value * scale);
    }
}

// Turns the sample bytes of a "data" chunk into the buffer; false for layouts this doesn't read.
bool decodeSamples(const WavFormat& format, const unsigned char* data, size_t size, AudioBuffer& out) {
    if (!readable(format)) return false;
    const size_t frames = size / (format.bitsPerSample / 8 * size_t{format.channels});
    AudioBuffer audio;
    audio.rate = static_cast<int>(format.rate);
    audio.channels = format.channels;
    audio.samples.resize(frames * format.channels);
    convertSamples(format, data, audio.samples.size(), audio.samples.data());
    out = std::move(audio);
    return true;
}

void append16(std::string& bytes, uint32_t value) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void append32(std::string& bytes, uint32_t value) {
    append16(bytes, value & 0xFFFF);
    append16(bytes, value >> 16);
}

// Triangular dither from a fixed linear congruential generator, restarted for every file.
class TriangularDither {
public:
    double next() {
        double first = step() / 16777216.0;
        double second = step() / 16777216.0;
        return first - second;
    }

private:
    uint32_t state_ = 22222;
    uint32_t step() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
};

// Rounds halves to even, as nearbyint does in the default rounding mode, without a library call: adding and taking
// away 1.5 * 2^52 leaves no fraction bits, so the addition itself rounds. For |value| below 2^51 only.
double roundToEven(double value) {
    constexpr double kShifter = 6755399441055744.0;
    return (value + kShifter) - kShifter;
}

int16_t ditheredSample(float sample, TriangularDither& dither) {
    double d = dither.next();
    double value = static_cast<double>(sample) * 32767.0 + d;
    if (std::isnan(value)) return 0;
    if (value >= 32767.0) return 32767;
    if (value <= -32768.0) return -32768;
    return static_cast<int16_t>(roundToEven(value));
}

}  // namespace

bool ReadWav(std::string_view bytes, AudioBuffer& out) {
    const unsigned char* file = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t size = bytes.size();
    if (size < 12 || std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0) return false;

    WavFormat format;
    size_t offset = 12;
    while (offset <= size && size - offset >= 8) {
        const unsigned char* header = file + offset;
        uint32_t chunkSize = littleEndian32(header + 4);
        size_t dataStart = offset + 8;
        size_t available = size - dataStart;
        bool isData = std::memcmp(header, "data", 4) == 0;
        if (isData) {
            if (!format.seen) return false;
            size_t length = chunkSize <= available ? chunkSize : available;  // a cut-off file keeps what it has
            return decodeSamples(format, file + dataStart, length, out);
        }
        if (chunkSize > available) return false;
        if (std::memcmp(header, "fmt ", 4) == 0 && chunkSize >= 16) format = parseFormatChunk(file + dataStart, chunkSize);
        offset = dataStart + chunkSize + (chunkSize & 1);  // odd chunks carry one pad byte
    }
    return false;
}

WavStream::WavStream(uint64_t fileSize, FormatSink onFormat, SampleSink onSamples)
    : fileSize_(fileSize), onFormat_(std::move(onFormat)), onSamples_(std::move(onSamples)) {}

// The chunks before the samples are held until the "data" chunk's header has
// come; a header bigger than a WAV's header ever is isn't read.
bool WavStream::readHeader() {
    constexpr size_t kLongestHeader = 1 << 20;
    const auto* file = reinterpret_cast<const unsigned char*>(pending_.data());
    if (headerAt_ == 0) {
        if (pending_.size() < 12) return true;
        if (std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0) return false;
        pending_.erase(0, 12);
        headerAt_ = 12;
    }
    for (;;) {
        file = reinterpret_cast<const unsigned char*>(pending_.data());
        if (pending_.size() < 8) return true;
        const uint32_t chunkSize = littleEndian32(file + 4);
        if (std::memcmp(file, "data", 4) == 0) {
            WavFormat format;
            format.tag = static_cast<uint16_t>(formatTag_);
            format.channels = static_cast<uint16_t>(channels_);
            format.rate = rate_;
            format.bitsPerSample = static_cast<uint16_t>(bits_);
            if (!formatSeen_ || !readable(format)) return false;
            const uint64_t dataStart = headerAt_ + 8;
            samplesLeft_ = std::min<uint64_t>(chunkSize, fileSize_ > dataStart ? fileSize_ - dataStart : 0);
            const uint64_t frameBytes = uint64_t{bits_ / 8} * channels_;
            onFormat_(static_cast<int>(rate_), static_cast<int>(channels_), samplesLeft_ / frameBytes);
            pending_.erase(0, 8);
            inSamples_ = true;
            return true;
        }
        const size_t whole = 8 + size_t{chunkSize} + (chunkSize & 1);  // odd chunks carry one pad byte
        if (whole > kLongestHeader) return false;
        if (pending_.size() < whole) return true;
        if (std::memcmp(file, "fmt ", 4) == 0 && chunkSize >= 16) {
            const WavFormat format = parseFormatChunk(file + 8, chunkSize);
            formatTag_ = format.tag;
            channels_ = format.channels;
            rate_ = format.rate;
            bits_ = format.bitsPerSample;
            formatSeen_ = true;
        }
        pending_.erase(0, whole);
        headerAt_ += whole;
    }
}

bool WavStream::add(const unsigned char* bytes, size_t size) {
    if (failed_) return false;
    if (inSamples_) return takeSamples(bytes, size);
    pending_.append(reinterpret_cast<const char*>(bytes), size);
    failed_ = !readHeader();
    if (failed_ || !inSamples_) return !failed_;
    // What came after the header is the first of the samples.
    const std::string first = std::move(pending_);
    pending_.clear();
    return takeSamples(reinterpret_cast<const unsigned char*>(first.data()), first.size());
}

bool WavStream::takeSamples(const unsigned char* bytes, size_t size) {
    WavFormat format;
    format.tag = static_cast<uint16_t>(formatTag_);
    format.bitsPerSample = static_cast<uint16_t>(bits_);
    const size_t frameBytes = size_t{bits_ / 8} * channels_;
    const auto feed = [&](const unsigned char* data, size_t count) {
        const size_t samples = count / frameBytes * channels_;
        if (samples == 0) return;
        block_.resize(samples);
        convertSamples(format, data, samples, block_.data());
        onSamples_(block_.data(), samples);
    };
    size = static_cast<size_t>(std::min<uint64_t>(size, samplesLeft_));
    samplesLeft_ -= size;
    if (!pending_.empty()) {  // the rest of a frame the last block cut in two
        const size_t taken = std::min(size, frameBytes - pending_.size());
        pending_.append(reinterpret_cast<const char*>(bytes), taken);
        bytes += taken;
        size -= taken;
        if (pending_.size() < frameBytes) return true;
        feed(reinterpret_cast<const unsigned char*>(pending_.data()), frameBytes);
        pending_.clear();
    }
    const size_t whole = size / frameBytes * frameBytes;
    feed(bytes, whole);
    pending_.assign(reinterpret_cast<const char*>(bytes + whole), size - whole);
    return true;
}

bool WriteWav(const AudioBuffer& audio, const FileBlockSink& write) {
    uint32_t channels = static_cast<uint32_t>(audio.channels);
    uint32_t rate = static_cast<uint32_t>(audio.rate);
    uint32_t dataSize = static_cast<uint32_t>(audio.samples.size() * 2);

    std::string header;
    header += "RIFF";
    append32(header, 36 + dataSize);
    header += "WAVEfmt ";
    append32(header, 16);
    append16(header, kTagPcm);
    append16(header, channels);
    append32(header, rate);
    append32(header, rate * channels * 2);
    append16(header, channels * 2);
    append16(header, 16);
    header += "data";
    append32(header, dataSize);
    if (!write(reinterpret_cast<const unsigned char*>(header.data()), header.size())) return false;

    // The samples in blocks of 256 KiB, the one buffer used again for each.
    constexpr size_t kBlockSamples = 131072;
    std::vector<unsigned char> block(std::min(audio.samples.size(), kBlockSamples) * 2);
    TriangularDither dither;
    for (size_t first = 0; first < audio.samples.size(); first += kBlockSamples) {
        const size_t count = std::min(audio.samples.size() - first, kBlockSamples);
        unsigned char* out = block.data();
        for (const float sample : std::span(audio.samples).subspan(first, count)) {
            uint16_t value = static_cast<uint16_t>(ditheredSample(sample, dither));
            *out++ = static_cast<unsigned char>(value & 0xFF);
            *out++ = static_cast<unsigned char>(value >> 8);
        }
        if (!write(block.data(), count * 2)) return false;
    }
    return true;
}

std::string WriteWav(const AudioBuffer& audio) {
    std::string bytes;
    bytes.reserve(44 + audio.samples.size() * 2);
    WriteWav(audio, [&bytes](const unsigned char* data, size_t size) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return bytes;
}

}  // namespace vorlane
