#include "support/signing_key.h"

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/bcrypt_handles.h"
#include "net/sha256.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ReleaseKey SigningKey::publicKey() const {
    ReleaseKey key{};
    std::copy(blob_.begin() + 8, blob_.begin() + 72, key.begin());
    return key;
}

std::string SigningKey::signRaw(const std::string& bytes) const {
    Sha256Digest digest;
    if (!sha256(bytes, digest)) return {};
    AlgorithmHandle algorithm = openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    PrivateBlob blob = blob_;
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!algorithm || !succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle,
                                                     blob.data(), (ULONG)blob.size(), 0)))
        return {};
    KeyHandle key(handle);
    std::string signature(64, '\0');
    ULONG written = 0;
    if (!succeeded(BCryptSignHash(key.get(), nullptr, digest.data(), (ULONG)digest.size(),
                                  reinterpret_cast<PUCHAR>(signature.data()), 64, &written, 0)) ||
        written != 64)
        return {};
    return signature;
}

std::string SigningKey::sign(const std::string& bytes) const { return encodeBase64(signRaw(bytes)) + "\n"; }

// The kept test key pair's private half, found by walking up from the test
// program's folder to the source tree.
std::optional<SigningKey> testSigningKey() {
    std::wstring keyFile;
    for (std::wstring folder = testProgramFolder(); !folder.empty(); folder = parentFolder(folder)) {
        std::wstring candidate = joinPath(folder, L"tests\\keys\\test-release.key");
        if (fileExists(candidate)) {
            keyFile = candidate;
            break;
        }
    }
    std::string text = readWholeFile(keyFile);
    size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos) return std::nullopt;
    std::string digits;
    for (size_t i = lineEnd + 1; i < text.size(); ++i)
        if (hexValue(text[i]) >= 0) digits += text[i];
    PrivateBlob blob{};
    if (digits.size() != blob.size() * 2) return std::nullopt;
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = (unsigned char)(hexValue(digits[2 * i]) * 16 + hexValue(digits[2 * i + 1]));
    return SigningKey(blob);
}

// A key pair made on the spot: a key other than the release key.
std::optional<SigningKey> freshSigningKey() {
    AlgorithmHandle algorithm = openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!algorithm || !succeeded(BCryptGenerateKeyPair(algorithm.get(), &handle, 256, 0))) return std::nullopt;
    KeyHandle pair(handle);
    PrivateBlob blob{};
    ULONG written = 0;
    if (!succeeded(BCryptFinalizeKeyPair(pair.get(), 0)) ||
        !succeeded(BCryptExportKey(pair.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), (ULONG)blob.size(),
                                   &written, 0)) ||
        written != blob.size())
        return std::nullopt;
    return SigningKey(blob);
}

}  // namespace vorlane::testing
