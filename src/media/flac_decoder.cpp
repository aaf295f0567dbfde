#include "media/flac_decoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "media/bit_reader.h"

namespace vorlane {

namespace {

const char* const kNotFlac = "it isn't a FLAC file";
const char* const kCutShort = "it's cut short";
const char* const kNoStreamInfo = "its stream information is missing or damaged";
const char* const kDamagedFrame = "a frame of it is damaged";
const char* const kMixedFrames = "its frames don't all have the same rate, channels and sample size";
const char* const kTooLong = "it's more than twenty minutes long";
const char* const kNoSound = "there's no sound in it";

constexpr uint64_t kMaxSeconds = 1200;

// Fuzzing builds take any checksum as right, so that mutated frames reach the decoding behind it.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr bool kCheckCrcs = false;
#else
constexpr bool kCheckCrcs = true;
#endif
constexpr unsigned kMaxLpcOrder = 32;

// How decoding one piece of a frame went.
enum class Status { ok, damaged, cutShort };

// CRC-8 (polynomial 0x07) of a frame header and CRC-16 (polynomial 0x8005) of a whole frame. The CRC-16 takes
// eight bytes a step: crc16By[k][b] is the CRC of byte b followed by k zero bytes.
struct CrcTables {
    std::array<uint8_t, 256> crc8{};
    std::array<std::array<uint16_t, 256>, 8> crc16By{};
    CrcTables() {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c8 = i;
            unsigned c16 = i << 8;
            for (int bit = 0; bit < 8; ++bit) {
                c8 = (c8 & 0x80) ? ((c8 << 1) ^ 0x07) : (c8 << 1);
                c16 = (c16 & 0x8000) ? ((c16 << 1) ^ 0x8005) : (c16 << 1);
            }
            crc8[i] = static_cast<uint8_t>(c8);
            crc16By[0][i] = static_cast<uint16_t>(c16);
        }
        for (unsigned k = 1; k < 8; ++k)
            for (unsigned i = 0; i < 256; ++i) {
                const uint16_t previous = crc16By[k - 1][i];
                crc16By[k][i] = static_cast<uint16_t>((previous << 8) ^ crc16By[0][previous >> 8]);
            }
    }
};

const CrcTables& crcTables() {
    static const CrcTables tables;
    return tables;
}

uint8_t crc8(const unsigned char* data, size_t size) {
    const auto& table = crcTables().crc8;
    uint8_t crc = 0;
    for (size_t i = 0; i < size; ++i) crc = table[crc ^ data[i]];
    return crc;
}

uint16_t crc16(const unsigned char* data, size_t size) {
    const auto& by = crcTables().crc16By;
    uint16_t crc = 0;
    size_t i = 0;
    // The running CRC is the same as its two bytes laid over the next two of the data.
    for (; i + 8 <= size; i += 8) {
        const unsigned char* d = data + i;
        crc = static_cast<uint16_t>(by[7][d[0] ^ (crc >> 8)] ^ by[6][d[1] ^ (crc & 0xFF)] ^ by[5][d[2]] ^ by[4][d[3]] ^
                                    by[3][d[4]] ^ by[2][d[5]] ^ by[1][d[6]] ^ by[0][d[7]]);
    }
    for (; i < size; ++i) crc = static_cast<uint16_t>((crc << 8) ^ by[0][(crc >> 8) ^ data[i]]);
    return crc;
}

struct StreamInfo {
    bool found = false;
    uint32_t rate = 0;
    unsigned channels = 0;
    unsigned bitsPerSample = 0;
    uint64_t totalFrames = 0;  // 0 when the encoder didn't know
};

StreamInfo parseStreamInfo(const unsigned char* block) {
    StreamInfo info;
    info.found = true;
    info.rate = (uint32_t{block[10]} << 12) | (uint32_t{block[11]} << 4) | (block[12] >> 4);
    info.channels = ((block[12] >> 1) & 7) + 1;
    info.bitsPerSample = (((block[12] & 1) << 4) | (block[13] >> 4)) + 1;
    info.totalFrames = (uint64_t{block[13] & 0x0Fu} << 32) | (uint64_t{block[14]} << 24) | (uint64_t{block[15]} << 16) |
                       (uint64_t{block[16]} << 8) | block[17];
    return info;
}

// Channel assignments of a frame header.
enum class Stereo { independent, leftSide, sideRight, midSide };

struct FrameHeader {
    unsigned blockSize = 0;
    uint32_t rate = 0;
    unsigned channels = 0;
    unsigned bitsPerSample = 0;
    Stereo stereo = Stereo::independent;
};

// Reads the header at the reader's (byte-aligned) position, up to and including its CRC-8.
Status readFrameHeader(BitReader& reader, const unsigned char* data, const StreamInfo& info, FrameHeader& header) {
    size_t start = reader.bytePosition();
    uint64_t sync = reader.bits(15);
    if (reader.exhausted()) return Status::cutShort;
    if (sync != 0x7FFC) return Status::damaged;  // 1111 1111 1111 100: the sync code and its reserved zero
    bool variableBlockSize = reader.bits(1) != 0;
    unsigned blockCode = static_cast<unsigned>(reader.bits(4));
    unsigned rateCode = static_cast<unsigned>(reader.bits(4));
    unsigned channelCode = static_cast<unsigned>(reader.bits(4));
    unsigned sizeCode = static_cast<unsigned>(reader.bits(3));
    unsigned reserved = static_cast<unsigned>(reader.bits(1));
    if (reader.exhausted()) return Status::cutShort;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || reserved != 0) return Status::damaged;

    // The frame (or, with variable block sizes, sample) number, coded like UTF-8.
    unsigned lead = static_cast<unsigned>(reader.bits(8));
    unsigned following = 0;
    if (lead >= 0x80) {
        unsigned ones = static_cast<unsigned>(std::countl_one(static_cast<uint8_t>(lead)));
        if (ones == 1 || ones == 8) return Status::damaged;
        following = ones - 1;
        if (following > (variableBlockSize ? 6u : 5u)) return Status::damaged;
    }
    for (unsigned i = 0; i < following; ++i) {
        unsigned next = static_cast<unsigned>(reader.bits(8));
        if (reader.exhausted()) return Status::cutShort;
        if ((next & 0xC0) != 0x80) return Status::damaged;
    }

    if (blockCode == 1)
        header.blockSize = 192;
    else if (blockCode <= 5)
        header.blockSize = 576u << (blockCode - 2);
    else if (blockCode == 6)
        header.blockSize = static_cast<unsigned>(reader.bits(8)) + 1;
    else if (blockCode == 7)
        header.blockSize = static_cast<unsigned>(reader.bits(16)) + 1;
    else
        header.blockSize = 256u << (blockCode - 8);

    static constexpr uint32_t kRates[12] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    if (rateCode == 0)
        header.rate = info.rate;
    else if (rateCode < 12)
        header.rate = kRates[rateCode];
    else if (rateCode == 12)
        header.rate = static_cast<uint32_t>(reader.bits(8)) * 1000;
    else if (rateCode == 13)
        header.rate = static_cast<uint32_t>(reader.bits(16));
    else
        header.rate = static_cast<uint32_t>(reader.bits(16)) * 10;

    if (channelCode < 8) {
        header.channels = channelCode + 1;
    } else {
        header.channels = 2;
        header.stereo = channelCode == 8 ? Stereo::leftSide : channelCode == 9 ? Stereo::sideRight : Stereo::midSide;
    }
    static constexpr unsigned kSampleSizes[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    header.bitsPerSample = sizeCode == 0 ? info.bitsPerSample : kSampleSizes[sizeCode];

    size_t crcAt = reader.bytePosition();
    unsigned expected = static_cast<unsigned>(reader.bits(8));
    if (reader.exhausted()) return Status::cutShort;
    if (kCheckCrcs && crc8(data + start, crcAt - start) != expected) return Status::damaged;
    return Status::ok;
}

// Rice-coded residuals after `order` warm-up samples, into samples[order..blockSize).
Status readResidual(BitReader& reader, unsigned blockSize, unsigned order, int64_t* samples) {
    unsigned method = static_cast<unsigned>(reader.bits(2));
    unsigned partitionOrder = static_cast<unsigned>(reader.bits(4));
    if (reader.exhausted()) return Status::cutShort;
    if (method > 1) return Status::damaged;
    unsigned parameterBits = method == 0 ? 4 : 5;
    unsigned escape = method == 0 ? 15 : 31;

    unsigned partitions = 1u << partitionOrder;
    unsigned perPartition = blockSize >> partitionOrder;
    if ((blockSize & (partitions - 1)) != 0 || perPartition < order) return Status::damaged;

    int64_t* out = samples + order;
    for (unsigned partition = 0; partition < partitions; ++partition) {
        unsigned count = perPartition - (partition == 0 ? order : 0);
        unsigned parameter = static_cast<unsigned>(reader.bits(parameterBits));
        if (parameter == escape) {
            unsigned width = static_cast<unsigned>(reader.bits(5));
            for (unsigned i = 0; i < count; ++i) *out++ = reader.signedBits(width);
        } else {
            // Residuals fit in 32 bits: a longer quotient can only be damage.
            uint64_t largestQuotient = 0xFFFFFFFFull >> parameter;
            for (unsigned i = 0; i < count; ++i) {
                uint64_t quotient = 0, low = 0;
                const bool inOneLoad = reader.riceInOneLoad(parameter, quotient, low);
                if (!inOneLoad) quotient = reader.unary();
                if (quotient > largestQuotient) return reader.exhausted() ? Status::cutShort : Status::damaged;
                if (!inOneLoad) low = reader.bits(parameter);
                uint64_t folded = (quotient << parameter) | low;
                *out++ = static_cast<int64_t>(folded >> 1) ^ -static_cast<int64_t>(folded & 1);
            }
        }
        if (reader.exhausted()) return Status::cutShort;
    }
    return Status::ok;
}

bool fitsIn(int64_t value, unsigned bits) {
    int64_t limit = int64_t{1} << (bits - 1);
    return value >= -limit && value < limit;
}

// Adds the prediction, sumAt(the sample's place) >> shift, to each residual after the `order` warm-up samples.
template <typename Sum>
Status addPredictions(int64_t* s, unsigned blockSize, unsigned order, unsigned shift, unsigned bits, Sum sumAt) {
    for (unsigned i = order; i < blockSize; ++i) {
        s[i] += sumAt(s + i) >> shift;
        if (!fitsIn(s[i], bits)) return Status::damaged;
    }
    return Status::ok;
}

// The fixed predictor of `order` (0 to 4).
Status restoreFixed(int64_t* s, unsigned blockSize, unsigned order, unsigned bits) {
    auto restore = [&](auto sumAt) { return addPredictions(s, blockSize, order, 0, bits, sumAt); };
    switch (order) {
    case 1: return restore([](const int64_t* at) { return at[-1]; });
    case 2: return restore([](const int64_t* at) { return 2 * at[-1] - at[-2]; });
    case 3: return restore([](const int64_t* at) { return 3 * at[-1] - 3 * at[-2] + at[-3]; });
    case 4: return restore([](const int64_t* at) { return 4 * at[-1] - 6 * at[-2] + 4 * at[-3] - at[-4]; });
    default: return restore([](const int64_t*) { return int64_t{0}; });
    }
}

// The predictor's sum for orders known when compiling is written out by the compiler.
template <size_t... J>
int64_t lpcSum(const int64_t* c, const int64_t* at, std::index_sequence<J...>) {
    return ((c[J] * at[-1 - static_cast<ptrdiff_t>(J)]) + ...);
}

template <unsigned Order>
Status restoreLpcOf(int64_t* s, unsigned blockSize, const int64_t* coefficients, unsigned shift, unsigned bits) {
    int64_t c[Order];  // a copy the samples' stores can't alias, so it stays in registers
    std::copy(coefficients, coefficients + Order, c);
    return addPredictions(s, blockSize, Order, shift, bits,
                          [&c](const int64_t* at) { return lpcSum(c, at, std::make_index_sequence<Order>()); });
}

Status restoreLpc(int64_t* s, unsigned blockSize, const int64_t* coefficients, unsigned order, unsigned shift, unsigned bits) {
    switch (order) {
    case 1: return restoreLpcOf<1>(s, blockSize, coefficients, shift, bits);
    case 2: return restoreLpcOf<2>(s, blockSize, coefficients, shift, bits);
    case 3: return restoreLpcOf<3>(s, blockSize, coefficients, shift, bits);
    case 4: return restoreLpcOf<4>(s, blockSize, coefficients, shift, bits);
    case 5: return restoreLpcOf<5>(s, blockSize, coefficients, shift, bits);
    case 6: return restoreLpcOf<6>(s, blockSize, coefficients, shift, bits);
    case 7: return restoreLpcOf<7>(s, blockSize, coefficients, shift, bits);
    case 8: return restoreLpcOf<8>(s, blockSize, coefficients, shift, bits);
    case 12: return restoreLpcOf<12>(s, blockSize, coefficients, shift, bits);
    default:
        return addPredictions(s, blockSize, order, shift, bits, [&](const int64_t* at) {
            int64_t sum = 0;
            for (unsigned j = 0; j < order; ++j) sum += coefficients[j] * at[-1 - static_cast<ptrdiff_t>(j)];
            return sum;
        });
    }
}

// One subframe of `bits` bits per sample (the frame's, plus one for a side channel).
Status readSubframe(BitReader& reader, unsigned blockSize, unsigned bits, int64_t* samples) {
    unsigned padding = static_cast<unsigned>(reader.bits(1));
    unsigned type = static_cast<unsigned>(reader.bits(6));
    bool hasWastedBits = reader.bits(1) != 0;
    if (reader.exhausted()) return Status::cutShort;
    if (padding != 0) return Status::damaged;
    unsigned wasted = 0;
    if (hasWastedBits) {
        uint64_t zeros = reader.unary();
        if (reader.exhausted()) return Status::cutShort;
        if (zeros + 1 >= bits) return Status::damaged;
        wasted = static_cast<unsigned>(zeros) + 1;
    }
    unsigned width = bits - wasted;

    Status status = Status::ok;
    if (type == 0) {  // CONSTANT
        int64_t value = reader.signedBits(width);
        std::fill(samples, samples + blockSize, value);
    } else if (type == 1) {  // VERBATIM
        for (unsigned i = 0; i < blockSize; ++i) samples[i] = reader.signedBits(width);
    } else if (type >= 8 && type <= 12) {  // FIXED
        unsigned order = type - 8;
        if (order > blockSize) return Status::damaged;
        for (unsigned i = 0; i < order; ++i) samples[i] = reader.signedBits(width);
        status = readResidual(reader, blockSize, order, samples);
        if (status == Status::ok) status = restoreFixed(samples, blockSize, order, width);
    } else if (type >= 32) {  // LPC
        unsigned order = type - 31;
        if (order > blockSize) return Status::damaged;
        for (unsigned i = 0; i < order; ++i) samples[i] = reader.signedBits(width);
        unsigned precisionCode = static_cast<unsigned>(reader.bits(4));
        int64_t shift = reader.signedBits(5);
        if (reader.exhausted()) return Status::cutShort;
        if (precisionCode == 15 || shift < 0) return Status::damaged;
        int64_t coefficients[kMaxLpcOrder];
        for (unsigned j = 0; j < order; ++j) coefficients[j] = reader.signedBits(precisionCode + 1);
        status = readResidual(reader, blockSize, order, samples);
        if (status == Status::ok)
            status = restoreLpc(samples, blockSize, coefficients, order, static_cast<unsigned>(shift), width);
    } else {
        return Status::damaged;
    }
    if (reader.exhausted()) return Status::cutShort;
    if (status != Status::ok) return status;
    if (wasted > 0) {
        int64_t factor = int64_t{1} << wasted;
        for (unsigned i = 0; i < blockSize; ++i) samples[i] *= factor;
    }
    return Status::ok;
}

const char* sentenceFor(Status status) { return status == Status::cutShort ? kCutShort : kDamagedFrame; }

// Decodes the frames one after another, appending their samples to a buffer.
class FrameDecoder {
public:
    FrameDecoder(std::string_view bytes, const StreamInfo& info)
        : data_(reinterpret_cast<const unsigned char*>(bytes.data())),
          size_(bytes.size()),
          info_(info),
          sampleLimit_(uint64_t{info.channels} * info.rate * kMaxSeconds),
          scale_(1.0f / static_cast<float>(uint64_t{1} << (info.bitsPerSample - 1))) {}

    // Decodes the frame at `offset` and moves `offset` past it; a sentence when it can't.
    const char* decodeFrame(size_t& offset, std::vector<float>& out) {
        BitReader reader(data_ + offset, size_ - offset);
        FrameHeader header;
        Status status = readFrameHeader(reader, data_ + offset, info_, header);
        if (status != Status::ok) return sentenceFor(status);
        if (header.rate != info_.rate || header.channels != info_.channels || header.bitsPerSample != info_.bitsPerSample)
            return kMixedFrames;
        uint64_t frameSamples = uint64_t{header.blockSize} * header.channels;
        if (out.size() + frameSamples > sampleLimit_) return kTooLong;

        for (unsigned channel = 0; channel < header.channels; ++channel) {
            channels_[channel].resize(header.blockSize);
            bool side = (channel == 1 && (header.stereo == Stereo::leftSide || header.stereo == Stereo::midSide)) ||
                        (channel == 0 && header.stereo == Stereo::sideRight);
            status = readSubframe(reader, header.blockSize, header.bitsPerSample + (side ? 1 : 0), channels_[channel].data());
            if (status != Status::ok) return sentenceFor(status);
        }

        unsigned paddingBits = reader.bitsToByteBoundary();
        uint64_t padding = reader.bits(paddingBits);
        size_t crcAt = reader.bytePosition();
        unsigned expected = static_cast<unsigned>(reader.bits(16));
        if (reader.exhausted()) return kCutShort;
        if (padding != 0 || (kCheckCrcs && crc16(data_ + offset, crcAt) != expected)) return kDamagedFrame;

        restoreStereo(header);
        size_t first = out.size();
        out.resize(first + frameSamples);
        float* target = out.data() + first;
        for (unsigned i = 0; i < header.blockSize; ++i)
            for (unsigned channel = 0; channel < header.channels; ++channel)
                *target++ = static_cast<float>(channels_[channel][i]) * scale_;
        offset += reader.bytePosition();
        return nullptr;
    }

private:
    const unsigned char* data_;
    size_t size_;
    StreamInfo info_;
    uint64_t sampleLimit_;
    // A power of two, so rounding the sample to a float first and scaling it after gives the same float as doing
    // both in doubles and rounding once.
    float scale_;
    std::vector<int64_t> channels_[2];

    void restoreStereo(const FrameHeader& header) {
        if (header.stereo == Stereo::independent) return;
        int64_t* first = channels_[0].data();
        int64_t* second = channels_[1].data();
        for (unsigned i = 0; i < header.blockSize; ++i) {
            switch (header.stereo) {
            case Stereo::leftSide: second[i] = first[i] - second[i]; break;
            case Stereo::sideRight: first[i] = first[i] + second[i]; break;
            case Stereo::midSide: {
                int64_t side = second[i];
                int64_t mid = first[i] * 2 + (side & 1);
                first[i] = (mid + side) >> 1;
                second[i] = (mid - side) >> 1;
                break;
            }
            case Stereo::independent: break;
            }
        }
    }
};

}  // namespace

bool ReadFlacLength(std::string_view head, FlacLength& length) {
    // "fLaC", then the first metadata block's four-byte header: the stream's description always comes first.
    const auto* data = reinterpret_cast<const unsigned char*>(head.data());
    if (head.size() < 8 + 34 || head.substr(0, 4) != "fLaC" || (data[4] & 0x7F) != 0) return false;
    const StreamInfo info = parseStreamInfo(data + 8);
    length.rate = static_cast<int>(info.rate);
    length.channels = static_cast<int>(info.channels);
    length.frames = info.totalFrames;
    return true;
}

std::string DecodeFlac(std::string_view bytes, AudioBuffer& out) {
    out = AudioBuffer();
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t size = bytes.size();
    if (size < 8 || std::memcmp(data, "fLaC", 4) != 0) return kNotFlac;

    // Metadata blocks: a last-block flag, a 7-bit type and a 24-bit length each.
    StreamInfo info;
    size_t offset = 4;
    for (bool last = false; !last;) {
        if (size - offset < 4) return kCutShort;
        const unsigned char* header = data + offset;
        last = (header[0] & 0x80) != 0;
        unsigned type = header[0] & 0x7F;
        size_t length = (size_t{header[1]} << 16) | (size_t{header[2]} << 8) | header[3];
        offset += 4;
        if (length > size - offset) return kCutShort;
        if (type == 0 && length >= 34 && !info.found) info = parseStreamInfo(data + offset);
        offset += length;
    }
    if (!info.found || info.rate < 1 || info.bitsPerSample < 4) return kNoStreamInfo;
    if (info.channels > 2) return "it has " + std::to_string(info.channels) + " channels, not one or two";

    // A hint only: a header may lie, so never more than the file could plausibly hold.
    uint64_t sampleLimit = uint64_t{info.channels} * info.rate * kMaxSeconds;
    uint64_t expected = std::min({info.totalFrames * info.channels, sampleLimit, uint64_t{size} * 2 + 131072});
    std::vector<float> samples;
    samples.reserve(static_cast<size_t>(expected));

    FrameDecoder decoder(bytes, info);
    while (offset < size) {
        if (const char* failure = decoder.decodeFrame(offset, samples)) return failure;
    }
    if (samples.empty()) return kNoSound;
    out.rate = static_cast<int>(info.rate);
    out.channels = static_cast<int>(info.channels);
    out.samples = std::move(samples);
    return {};
}

}  // namespace vorlane
