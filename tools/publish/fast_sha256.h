// SHA-256 for the publisher, which hashes every byte of a build four times
// (each piece, each file, the pack and the zip): with the processor's SHA
// instructions where it has them, several times as fast as the system's
// hashing service under Wine; through the system's service otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/sha256.h"

namespace publish {

class FastSha256 {
public:
    FastSha256();
    // False once the system's service failed (never with the processor's instructions).
    bool add(const void* data, size_t size);
    bool finish(vorlane::Sha256Digest& digest);

    // Whether this processor has the instructions (and they are used).
    static bool accelerated();

private:
    std::optional<vorlane::Sha256Hasher> system_;
    uint32_t state_[8];
    unsigned char buffer_[64];
    size_t buffered_ = 0;
    uint64_t total_ = 0;
};

// The SHA-256 of a file, read in 1 MiB blocks; false when it can't be read.
bool fastSha256File(const std::wstring& path, std::wstring& hexOut);

}  // namespace publish
