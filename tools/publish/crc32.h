// The CRC-32 a zip keeps of each file (polynomial 0xEDB88320), eight bytes a step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace publish {

class Crc32 {
public:
    void add(const unsigned char* bytes, size_t size);
    uint32_t value() const { return ~state_; }

private:
    uint32_t state_ = 0xffffffffu;
};

}  // namespace publish
