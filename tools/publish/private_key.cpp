#include "private_key.h"

#include <algorithm>

#include "core/text.h"
#include "net/bcrypt_handles.h"

namespace publish {

using vorlane::AlgorithmHandle;
using vorlane::KeyHandle;
using vorlane::succeeded;

const char kPrivateKeyHeader[] = "vorlane-publish P-256 private key";

namespace {

constexpr unsigned char kPrivateMagic[4] = {'E', 'C', 'S', '2'};
constexpr size_t kCoordinateSize = 32;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool hasValidHeader(const PrivateKeyBlob& key) {
    return std::equal(std::begin(kPrivateMagic), std::end(kPrivateMagic), key.begin()) && key[4] == kCoordinateSize &&
           key[5] == 0 && key[6] == 0 && key[7] == 0;
}

KeyHandle importPrivateKey(const PrivateKeyBlob& key, const AlgorithmHandle& algorithm) {
    PrivateKeyBlob blob = key;
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle, blob.data(),
                                       (ULONG)blob.size(), 0)))
        return KeyHandle();
    return KeyHandle(handle);
}

}  // namespace

bool generatePrivateKey(PrivateKeyBlob& key) {
    AlgorithmHandle algorithm = vorlane::openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return false;
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!succeeded(BCryptGenerateKeyPair(algorithm.get(), &handle, 256, 0))) return false;
    KeyHandle pair(handle);
    if (!succeeded(BCryptFinalizeKeyPair(pair.get(), 0))) return false;
    ULONG written = 0;
    if (!succeeded(BCryptExportKey(pair.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, key.data(), (ULONG)key.size(),
                                   &written, 0)))
        return false;
    return written == key.size() && hasValidHeader(key);
}

std::string privateKeyFileText(const PrivateKeyBlob& key) {
    static const char digits[] = "0123456789abcdef";
    std::string text = std::string(kPrivateKeyHeader) + "\n";
    for (unsigned char byte : key) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text + "\n";
}

bool parsePrivateKeyFile(const std::string& text, PrivateKeyBlob& key, std::wstring& problem) {
    size_t lineEnd = text.find('\n');
    std::string header = text.substr(0, lineEnd);
    if (!header.empty() && header.back() == '\r') header.pop_back();
    if (header != kPrivateKeyHeader) {
        problem = L"its first line isn't \"" + vorlane::toUtf16(kPrivateKeyHeader) + L"\"";
        return false;
    }
    std::string digits;
    for (size_t i = lineEnd == std::string::npos ? text.size() : lineEnd + 1; i < text.size(); ++i) {
        if (isBlank(text[i])) continue;
        if (hexDigit(text[i]) < 0) {
            problem = L"its key holds a character that isn't a hexadecimal digit";
            return false;
        }
        digits += text[i];
    }
    if (digits.size() != key.size() * 2) {
        problem = L"its key has " + std::to_wstring(digits.size()) + L" hexadecimal digits instead of " +
                  std::to_wstring(key.size() * 2);
        return false;
    }
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = (unsigned char)(hexDigit(digits[2 * i]) * 16 + hexDigit(digits[2 * i + 1]));
    if (!hasValidHeader(key)) {
        problem = L"its key isn't a P-256 private key (it doesn't start with ECS2 and the length 32)";
        return false;
    }
    return true;
}

vorlane::ReleaseKey publicKeyOf(const PrivateKeyBlob& key) {
    vorlane::ReleaseKey point{};
    std::copy(key.begin() + 8, key.begin() + 8 + point.size(), point.begin());
    return point;
}

bool signDigest(const PrivateKeyBlob& key, const vorlane::Sha256Digest& digest, std::string& signature) {
    AlgorithmHandle algorithm = vorlane::openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return false;
    KeyHandle privateKey = importPrivateKey(key, algorithm);
    if (!privateKey) return false;
    vorlane::Sha256Digest hash = digest;
    signature.assign(2 * kCoordinateSize, '\0');
    ULONG written = 0;
    if (!succeeded(BCryptSignHash(privateKey.get(), nullptr, hash.data(), (ULONG)hash.size(),
                                  reinterpret_cast<PUCHAR>(signature.data()), (ULONG)signature.size(), &written, 0)))
        return false;
    return written == signature.size();
}

std::wstring hexOf(const unsigned char* bytes, size_t size) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (size_t i = 0; i < size; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

}  // namespace publish
