#include "net/sha256.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/files.h"
#include "core/handles.h"

namespace vorlane {

namespace {

constexpr DWORD kFileBlock = 1048576;
// BCryptHashData takes a 32-bit length; larger buffers go in slices of this size.
constexpr size_t kHashSlice = 0x40000000;

wchar_t lowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; }

}  // namespace

Sha256Hasher::Sha256Hasher() : algorithm_(openAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    // No hash object buffer: the provider keeps its own.
    if (algorithm_ && succeeded(BCryptCreateHash(algorithm_.get(), &hash, nullptr, 0, nullptr, 0, 0)))
        hash_.reset(hash);
    failed_ = !hash_;
}

bool Sha256Hasher::add(const void* data, size_t size) {
    if (failed_) return false;
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ULONG slice = (ULONG)std::min(size, kHashSlice);
        if (!succeeded(BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), slice, 0))) {
            failed_ = true;
            return false;
        }
        bytes += slice;
        size -= slice;
    }
    return true;
}

bool Sha256Hasher::finish(Sha256Digest& digest) {
    if (failed_) return false;
    bool done = succeeded(BCryptFinishHash(hash_.get(), digest.data(), (ULONG)digest.size(), 0));
    hash_.reset();
    failed_ = true;  // a finished hash takes no more data
    return done;
}

bool sha256(const std::string& bytes, Sha256Digest& digest) {
    Sha256Hasher hasher;
    return hasher.add(bytes) && hasher.finish(digest);
}

bool sha256File(const std::wstring& path, std::wstring& hexOut, bool othersWrite) {
    hexOut.clear();
    Sha256Hasher hasher;
    if (!readFileInBlocks(
            path, kFileBlock, [&](const unsigned char* block, size_t size) { return hasher.add(block, size); },
            othersWrite))
        return false;
    Sha256Digest digest;
    if (!hasher.finish(digest)) return false;
    hexOut = toHex(digest);
    return true;
}

std::wstring toHex(const Sha256Digest& digest) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    hex.reserve(digest.size() * 2);
    for (unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

bool fromHex(std::wstring_view hex, Sha256Digest& digest) {
    auto value = [](wchar_t c) { return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1; };
    if (hex.size() != 2 * digest.size()) return false;
    Sha256Digest read;
    for (size_t i = 0; i < read.size(); ++i) {
        const int high = value(hex[2 * i]), low = value(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        read[i] = (unsigned char)(high * 16 + low);
    }
    digest = read;
    return true;
}

size_t DigestKey::operator()(const Sha256Digest& digest) const noexcept {
    size_t key;
    memcpy(&key, digest.data(), sizeof key);
    return key;
}

bool sameFingerprint(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

}  // namespace vorlane
