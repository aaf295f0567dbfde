// The release public key: the P-256 point (X then Y, big-endian) that every
// signed list must be signed with. A key of all zero bytes marks a developer's
// build, which checks no signatures.
#pragma once

#include <array>

namespace vorlane {

using ReleaseKey = std::array<unsigned char, 64>;

// Set by the program that links the library (128 hex digits).
extern const char* const kReleaseKeyHex;

const ReleaseKey& releaseKey();
bool isDeveloperBuild();

}  // namespace vorlane
