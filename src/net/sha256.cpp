#include "net/sha256.h"

#if defined(_MSC_VER)
#include <intrin.h>
#define SHA_INSTRUCTIONS
#else
#include <cpuid.h>
#define SHA_INSTRUCTIONS __attribute__((target("sha,sse4.1,ssse3")))
#endif
#include <immintrin.h>

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

alignas(16) const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

bool hasShaInstructions() {
    int leaf7[4] = {}, leaf1[4] = {};
#if defined(_MSC_VER)
    __cpuid(leaf1, 0);
    if (leaf1[0] < 7) return false;
    __cpuidex(leaf7, 7, 0);
    __cpuid(leaf1, 1);
#else
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    leaf7[1] = (int)b;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    leaf1[2] = (int)c;
#endif
    const auto has = [](int word, int bit) { return ((unsigned)word >> bit) & 1u; };
    return has(leaf7[1], 29) && has(leaf1[2], 19) && has(leaf1[2], 9);  // SHA, SSE4.1, SSSE3
}

// Runs the compression over whole 64-byte blocks. The state is kept in the
// instructions' order: ABEF in one register, CDGH in the other.
SHA_INSTRUCTIONS void compress(uint32_t state[8], const unsigned char* data, size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i words[4];
        for (int group = 0; group < 16; ++group) {
            __m128i& now = words[group & 3];
            if (group < 4) {
                now = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)),
                                       byteSwap);
            } else {
                // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four at a time.
                const __m128i& last = words[(group - 1) & 3];
                __m128i next = _mm_sha256msg1_epu32(words[group & 3], words[(group + 1) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(last, words[(group + 2) & 3], 4));
                now = _mm_sha256msg2_epu32(next, last);
            }
            __m128i message =
                _mm_add_epi32(now, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

wchar_t lowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; }

}  // namespace

bool Sha256Hasher::accelerated() {
    static const bool has = hasShaInstructions();
    return has;
}

Sha256Hasher::Sha256Hasher(Through through) {
    std::memcpy(state_, kInitial, sizeof state_);
    if (through == Through::Fastest && accelerated()) return;
    system_.emplace();
    system_->algorithm = openAlgorithm(BCRYPT_SHA256_ALGORITHM);
    BCRYPT_HASH_HANDLE hash = nullptr;
    // No hash object buffer: the provider keeps its own.
    if (system_->algorithm &&
        succeeded(BCryptCreateHash(system_->algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0)))
        system_->hash.reset(hash);
    failed_ = !system_->hash;
}

bool Sha256Hasher::add(const void* data, size_t size) {
    if (failed_) return false;
    auto* bytes = static_cast<const unsigned char*>(data);
    if (!system_) {
        total_ += size;
        if (buffered_ > 0) {
            const size_t taken = std::min(size, sizeof buffer_ - buffered_);
            std::memcpy(buffer_ + buffered_, bytes, taken);
            buffered_ += taken;
            bytes += taken;
            size -= taken;
            if (buffered_ < sizeof buffer_) return true;
            compress(state_, buffer_, 1);
            buffered_ = 0;
        }
        compress(state_, bytes, size / 64);
        buffered_ = size % 64;
        std::memcpy(buffer_, bytes + size - buffered_, buffered_);
        return true;
    }
    while (size > 0) {
        ULONG slice = (ULONG)std::min(size, kHashSlice);
        if (!succeeded(BCryptHashData(system_->hash.get(), const_cast<PUCHAR>(bytes), slice, 0))) {
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
    failed_ = true;  // a finished hash takes no more data
    if (system_) {
        const bool done = succeeded(BCryptFinishHash(system_->hash.get(), digest.data(), (ULONG)digest.size(), 0));
        system_->hash.reset();
        return done;
    }
    const uint64_t bits = total_ * 8;
    unsigned char tail[128] = {};
    std::memcpy(tail, buffer_, buffered_);
    tail[buffered_] = 0x80;
    const size_t length = buffered_ + 9 <= 64 ? 64 : 128;
    for (int i = 0; i < 8; ++i) tail[length - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    compress(state_, tail, length / 64);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (24 - 8 * j));
    return true;
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
