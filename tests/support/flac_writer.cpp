#include "support/flac_writer.h"

namespace vorlane::testing {

uint8_t flacCrc8(const std::string& bytes) {
    unsigned crc = 0;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80) ? ((crc << 1) ^ 0x07) & 0xFF : (crc << 1) & 0xFF;
    }
    return static_cast<uint8_t>(crc);
}

uint16_t flacCrc16(const std::string& bytes) {
    unsigned crc = 0;
    for (unsigned char byte : bytes) {
        crc ^= unsigned{byte} << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x8005) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    return static_cast<uint16_t>(crc);
}

BitWriter& BitWriter::bits(uint64_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
        if (used_ == 0) data_.push_back('\0');
        if ((value >> i) & 1) data_.back() = static_cast<char>(data_.back() | (0x80 >> used_));
        used_ = (used_ + 1) & 7;
    }
    return *this;
}

BitWriter& BitWriter::signedBits(int64_t value, unsigned count) {
    uint64_t mask = count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    return bits(static_cast<uint64_t>(value) & mask, count);
}

BitWriter& BitWriter::unary(unsigned zeros) {
    for (unsigned i = 0; i < zeros; ++i) bits(0, 1);
    return bits(1, 1);
}

BitWriter& BitWriter::rice(int64_t value, unsigned parameter) {
    uint64_t folded = value >= 0 ? static_cast<uint64_t>(value) << 1 : (static_cast<uint64_t>(-(value + 1)) << 1) | 1;
    unary(static_cast<unsigned>(folded >> parameter));
    return bits(folded & ((uint64_t{1} << parameter) - 1), parameter);
}

BitWriter& BitWriter::padToByte(unsigned fill) {
    while (used_ != 0) bits(fill, 1);
    return *this;
}

BitWriter& BitWriter::bytes(const std::string& raw) {
    data_ += raw;
    return *this;
}

std::string flacStart(uint32_t rate, unsigned channels, unsigned bitsPerSample, uint64_t totalFrames, bool lastBlock) {
    BitWriter writer;
    writer.bytes("fLaC");
    writer.bits(lastBlock ? 1 : 0, 1).bits(0, 7).bits(34, 24);
    writer.bits(16, 16).bits(65535, 16).bits(0, 24).bits(0, 24);
    writer.bits(rate, 20).bits(channels - 1, 3).bits(bitsPerSample - 1, 5).bits(totalFrames, 36);
    writer.bytes(std::string(16, '\0'));
    return writer.data();
}

std::string flacCodedNumber(uint64_t value) {
    if (value < 0x80) return std::string(1, static_cast<char>(value));
    unsigned length = 2;
    while (length < 7 && value >= (uint64_t{1} << (5 * length + 1))) ++length;
    std::string coded(length, '\0');
    for (unsigned i = length - 1; i > 0; --i) {
        coded[i] = static_cast<char>(0x80 | (value & 0x3F));
        value >>= 6;
    }
    coded[0] = static_cast<char>(((0xFF00u >> length) & 0xFF) | value);
    return coded;
}

std::string flacFrame(const FrameCodes& codes, const std::function<void(BitWriter&)>& body, bool breakCrc8,
                      bool breakCrc16) {
    BitWriter header;
    header.bits(0x3FFE, 14).bits(0, 1).bits(codes.variableBlockSize ? 1 : 0, 1);
    header.bits(codes.blockCode, 4).bits(codes.rateCode, 4).bits(codes.channelCode, 4).bits(codes.sizeCode, 3);
    header.bits(codes.reservedBit, 1);
    header.bytes(codes.numberBytes.empty() ? flacCodedNumber(codes.number) : codes.numberBytes);
    if (codes.blockCode == 6) header.bits(codes.blockSize - 1, 8);
    if (codes.blockCode == 7) header.bits(codes.blockSize - 1, 16);
    if (codes.rateCode == 12) header.bits(codes.rateValue, 8);
    if (codes.rateCode == 13 || codes.rateCode == 14) header.bits(codes.rateValue, 16);
    header.bits(flacCrc8(header.data()) ^ (breakCrc8 ? 1 : 0), 8);

    BitWriter frame;
    frame.bytes(header.data());
    body(frame);
    frame.padToByte();
    frame.bits(flacCrc16(frame.data()) ^ (breakCrc16 ? 0x100 : 0), 16);
    return frame.data();
}

void subframeHeader(BitWriter& writer, unsigned type, unsigned wastedBits) {
    writer.bits(0, 1).bits(type, 6);
    if (wastedBits == 0) {
        writer.bits(0, 1);
    } else {
        writer.bits(1, 1).unary(wastedBits - 1);
    }
}

size_t flacFramesOffset(const std::string& file) {
    size_t offset = 4;
    while (offset + 4 <= file.size()) {
        unsigned char flags = static_cast<unsigned char>(file[offset]);
        size_t length = (size_t{static_cast<unsigned char>(file[offset + 1])} << 16) |
                        (size_t{static_cast<unsigned char>(file[offset + 2])} << 8) |
                        static_cast<unsigned char>(file[offset + 3]);
        offset += 4 + length;
        if (flags & 0x80) return offset <= file.size() ? offset : 0;
    }
    return 0;
}

}  // namespace vorlane::testing
