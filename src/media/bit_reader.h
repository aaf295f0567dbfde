// Reads a byte string as a stream of bits, most significant bit first, never
// past its end: a read that would run over gives zeros and marks the reader
// exhausted, and the caller looks at that mark where it matters.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorlane {

class BitReader {
public:
    BitReader(const unsigned char* data, size_t size) : data_(data), size_(size), sizeInBits_(uint64_t{size} * 8) {}

    bool exhausted() const { return exhausted_; }
    // The byte that holds the next bit.
    size_t bytePosition() const { return static_cast<size_t>(position_ >> 3); }
    unsigned bitsToByteBoundary() const { return static_cast<unsigned>(-position_ & 7); }

    // The next `count` bits (0 to 56) as an unsigned number.
    uint64_t bits(unsigned count) {
        if (count == 0) return 0;
        if (count > sizeInBits_ - position_) return runOut();
        size_t byte = bytePosition();
        unsigned skip = static_cast<unsigned>(position_ & 7);
        uint64_t value;
        if (size_ - byte >= 8) {
            value = (load64(byte) << skip) >> (64 - count);
        } else {
            value = 0;
            uint64_t end = position_ + count;
            for (uint64_t p = position_; p < end; ++p) value = (value << 1) | ((data_[p >> 3] >> (7 - (p & 7))) & 1);
        }
        position_ += count;
        return value;
    }

    // The next `count` bits (0 to 56) as a two's complement number.
    int64_t signedBits(unsigned count) {
        if (count == 0) return 0;
        uint64_t value = bits(count);
        return static_cast<int64_t>(value << (64 - count)) >> (64 - count);
    }

    // The number of zero bits before the next one bit, which is consumed too.
    uint64_t unary() {
        uint64_t zeros = 0;
        for (;;) {
            size_t byte = bytePosition();
            if (byte < size_ && size_ - byte >= 8) {
                unsigned skip = static_cast<unsigned>(position_ & 7);
                uint64_t window = load64(byte) << skip;
                if (window != 0) {
                    unsigned leading = static_cast<unsigned>(std::countl_zero(window));
                    position_ += leading + 1;
                    return zeros + leading;
                }
                position_ += 64 - skip;
                zeros += 64 - skip;
                continue;
            }
            // The last few bytes, one bit at a time.
            while (position_ < sizeInBits_) {
                bool one = (data_[position_ >> 3] >> (7 - (position_ & 7))) & 1;
                ++position_;
                if (one) return zeros;
                ++zeros;
            }
            runOut();
            return zeros;
        }
    }

    // A Rice code read from one load when it lies within the next 57 bits and 8 bytes remain: the zeros before the
    // next one bit (`quotient`) and the `parameter` bits after it (`low`, parameter 1 to 56). False, having read
    // nothing, otherwise: the caller then reads it with unary() and bits().
    bool riceInOneLoad(unsigned parameter, uint64_t& quotient, uint64_t& low) {
        const size_t byte = bytePosition();
        if (size_ - byte < 8) return false;
        const unsigned skip = static_cast<unsigned>(position_ & 7);
        const uint64_t window = load64(byte) << skip;
        if (window == 0) return false;
        const unsigned leading = static_cast<unsigned>(std::countl_zero(window));
        const unsigned used = leading + 1 + parameter;
        if (parameter == 0 || used > 64 - skip) return false;
        quotient = leading;
        low = (window << (leading + 1)) >> (64 - parameter);
        position_ += used;
        return true;
    }

private:
    const unsigned char* data_;
    size_t size_;
    uint64_t sizeInBits_;
    uint64_t position_ = 0;
    bool exhausted_ = false;

    uint64_t runOut() {
        exhausted_ = true;
        position_ = sizeInBits_;
        return 0;
    }

    uint64_t load64(size_t byte) const {
        uint64_t value;
        std::memcpy(&value, data_ + byte, 8);
        if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
        return value;
    }
};

}  // namespace vorlane
