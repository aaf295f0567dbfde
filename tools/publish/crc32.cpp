#include "crc32.h"

#include <array>
#include <cstring>

namespace publish {

namespace {

// byteBy[k][b]: the CRC step of byte b followed by k zero bytes.
struct Tables {
    std::array<std::array<uint32_t, 256>, 8> byteBy{};
    Tables() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t crc = b;
            for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
            byteBy[0][b] = crc;
        }
        for (size_t k = 1; k < 8; ++k)
            for (uint32_t b = 0; b < 256; ++b)
                byteBy[k][b] = (byteBy[k - 1][b] >> 8) ^ byteBy[0][byteBy[k - 1][b] & 0xff];
    }
};

const Tables& tables() {
    static const Tables made;
    return made;
}

}  // namespace

void Crc32::add(const unsigned char* bytes, size_t size) {
    const auto& t = tables().byteBy;
    uint32_t crc = state_;
    for (; size >= 8; bytes += 8, size -= 8) {
        uint32_t low, high;
        std::memcpy(&low, bytes, 4);  // little-endian, as every Windows processor is
        std::memcpy(&high, bytes + 4, 4);
        low ^= crc;
        crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^ t[5][(low >> 16) & 0xff] ^ t[4][low >> 24] ^
              t[3][high & 0xff] ^ t[2][(high >> 8) & 0xff] ^ t[1][(high >> 16) & 0xff] ^ t[0][high >> 24];
    }
    for (; size > 0; ++bytes, --size) crc = (crc >> 8) ^ t[0][(crc ^ *bytes) & 0xff];
    state_ = crc;
}

}  // namespace publish
