// Hand-made FLAC streams for tests: a bit writer, STREAMINFO and frames with
// any header codes, and the format's CRCs, so that a test can build the rare
// codings an encoder never writes and every kind of damage, bit by bit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vorlane::testing {

uint8_t flacCrc8(const std::string& bytes);
uint16_t flacCrc16(const std::string& bytes);

// Bits, most significant first.
class BitWriter {
public:
    BitWriter& bits(uint64_t value, unsigned count);
    BitWriter& signedBits(int64_t value, unsigned count);  // two's complement in `count` bits
    BitWriter& unary(unsigned zeros);                      // `zeros` zero bits, then a one
    BitWriter& rice(int64_t value, unsigned parameter);    // zigzag-folded, quotient in unary
    BitWriter& padToByte(unsigned fill = 0);               // with zeros (or ones when fill is 1)
    BitWriter& bytes(const std::string& raw);              // whole bytes (the writer must be byte-aligned)
    const std::string& data() const { return data_; }
    bool aligned() const { return used_ == 0; }

private:
    std::string data_;
    unsigned used_ = 0;  // bits used in the last byte
};

// "fLaC" and a STREAMINFO block (the last metadata block unless told otherwise).
std::string flacStart(uint32_t rate, unsigned channels, unsigned bitsPerSample, uint64_t totalFrames = 0,
                      bool lastBlock = true);

// The header codes of one frame; the defaults are a fixed-block-size frame 0
// that takes rate and sample size from STREAMINFO, 1 channel, 16 samples.
struct FrameCodes {
    bool variableBlockSize = false;
    unsigned blockCode = 6;         // 6: 8-bit block size - 1 follows; 7: 16-bit
    unsigned blockSize = 16;        // for codes 6 and 7
    unsigned rateCode = 0;          // 12, 13, 14: the value follows
    unsigned rateValue = 0;         // kHz, Hz or tens of Hz for codes 12 to 14
    unsigned channelCode = 0;       // 0-7 independent, 8 left/side, 9 side/right, 10 mid/side
    unsigned sizeCode = 0;          // 0 from STREAMINFO, 1 8 bits, 2 12, 4 16, 5 20, 6 24, 7 32
    unsigned reservedBit = 0;
    uint64_t number = 0;            // frame or sample number
    std::string numberBytes;        // when not empty, written instead of the coded number
};

// A whole frame: its header with CRC-8, the subframes `body` writes, zero
// padding to a byte and CRC-16. A damaged CRC can be asked for.
std::string flacFrame(const FrameCodes& codes, const std::function<void(BitWriter&)>& body, bool breakCrc8 = false,
                      bool breakCrc16 = false);

// The UTF-8 style coding of a frame or sample number.
std::string flacCodedNumber(uint64_t value);

// Subframe headers: type code (0 CONSTANT, 1 VERBATIM, 8+order FIXED, 31+order LPC) and wasted bits.
void subframeHeader(BitWriter& writer, unsigned type, unsigned wastedBits = 0);

// The byte where the frames of a FLAC file begin (after its last metadata block); 0 if it has none.
size_t flacFramesOffset(const std::string& file);

}  // namespace vorlane::testing
