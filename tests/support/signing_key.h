// Signs lists in tests the way the release tool does, with the kept test key
// pair or with a key made on the spot.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "net/release_key.h"

namespace vorlane::testing {

// A P-256 private key as the system's ECCPRIVATE_BLOB ("ECS2", 32, X, Y, d).
using PrivateBlob = std::array<unsigned char, 104>;

class SigningKey {
public:
    explicit SigningKey(const PrivateBlob& blob) : blob_(blob) {}

    ReleaseKey publicKey() const;
    // The raw 64 bytes (r then s); empty when the system refuses.
    std::string signRaw(const std::string& bytes) const;
    // The text of a ".sig" file: Base64 and a line break.
    std::string sign(const std::string& bytes) const;

private:
    PrivateBlob blob_;
};

// The kept test key pair's private half (tests/keys/test-release.key), found by
// walking up from the test program's folder to the source tree.
std::optional<SigningKey> testSigningKey();

// A key pair made on the spot: a key other than the release key.
std::optional<SigningKey> freshSigningKey();

}  // namespace vorlane::testing
