// The release signing key: a P-256 key pair made and used through the system's
// cryptographic services (CNG).
//
// Private key file (text, UTF-8/ASCII):
//   line 1: "vorlane-publish P-256 private key"
//   line 2: 208 hexadecimal digits, the key as the system's ECCPRIVATE_BLOB
//           (104 bytes: "ECS2", the coordinate length 32 as a 32-bit
//           little-endian number, then X, Y and the secret d, 32 bytes each,
//           big-endian)
// White space (line breaks included) around and inside the digits is ignored
// when the file is read; the tool writes lower-case digits and "\n" line ends.
#pragma once

#include <array>
#include <string>

#include "net/release_key.h"
#include "net/sha256.h"

namespace publish {

using PrivateKeyBlob = std::array<unsigned char, 104>;

extern const char kPrivateKeyHeader[];

// A fresh key pair; false when the system can't make one.
bool generatePrivateKey(PrivateKeyBlob& key);

std::string privateKeyFileText(const PrivateKeyBlob& key);

// Reads a private key file's text; on failure problem says what is wrong with it
// (a fragment such as "its first line isn't ...").
bool parsePrivateKeyFile(const std::string& text, PrivateKeyBlob& key, std::wstring& problem);

// X then Y: the 64 bytes that a launcher carries as its release key.
vorlane::ReleaseKey publicKeyOf(const PrivateKeyBlob& key);

// r then s, 32 bytes each; false when the system refuses the key or the signing.
bool signDigest(const PrivateKeyBlob& key, const vorlane::Sha256Digest& digest, std::string& signature);

// Lower-case hexadecimal digits of bytes.
std::wstring hexOf(const unsigned char* bytes, size_t size);

}  // namespace publish
