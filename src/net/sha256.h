// SHA-256, and file fingerprints: a file's fingerprint is its SHA-256 written as
// 64 lower-case hexadecimal digits. The hashing runs on the processor's SHA
// instructions where it has them (five times as fast as the system's hashing
// service under Wine), through the system's hashing service otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/bcrypt_handles.h"

namespace vorlane {

using Sha256Digest = std::array<unsigned char, 32>;

// A running SHA-256, for data that arrives in blocks (downloads, pieces of a file).
// Any failure of the hashing service sticks: finish() then answers false.
class Sha256Hasher {
public:
    enum class Through { Fastest, SystemService };
    explicit Sha256Hasher(Through through = Through::Fastest);
    bool add(const void* data, size_t size);
    bool add(const std::string& bytes) { return add(bytes.data(), bytes.size()); }
    // The digest of everything added; the hasher is spent afterwards.
    bool finish(Sha256Digest& digest);

    // Whether this processor has the SHA instructions (and Fastest uses them).
    static bool accelerated();

private:
    struct Service {
        AlgorithmHandle algorithm;
        HashHandle hash;
    };
    std::optional<Service> system_;  // none: the processor's instructions
    bool failed_ = false;
    uint32_t state_[8];
    unsigned char buffer_[64];
    size_t buffered_ = 0;
    uint64_t total_ = 0;
};

// SHA-256 of bytes held in memory; false only when the hashing service fails.
bool sha256(const std::string& bytes, Sha256Digest& digest);

// The fingerprint of a file, read in 1 MiB blocks; false when the file can't be
// opened or read, or the hashing service fails (hexOut is then left empty).
// othersWrite: the file may still be open for writing elsewhere (its writer done with it).
bool sha256File(const std::wstring& path, std::wstring& hexOut, bool othersWrite = false);

// 64 lower-case hexadecimal digits.
std::wstring toHex(const Sha256Digest& digest);
// The digest those digits write; false (and the digest left as it was) for any
// other text: another length, or a character that isn't 0-9 or a-f.
bool fromHex(std::wstring_view hex, Sha256Digest& digest);

// A digest as the key of a hashed container: its first bytes, already spread evenly.
struct DigestKey {
    size_t operator()(const Sha256Digest& digest) const noexcept;
};

// Two fingerprints name the same file when they are equal ignoring the case of
// their letters. An empty fingerprint names nothing and matches nothing.
bool sameFingerprint(const std::wstring& a, const std::wstring& b);

}  // namespace vorlane
