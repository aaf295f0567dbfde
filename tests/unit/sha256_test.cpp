// SHA-256, on the processor's instructions and through the system's hashing service, and file fingerprints.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "net/sha256.h"
#include "support/addon_themes.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace vorlane {
namespace {

std::wstring hexOf(const std::string& bytes) {
    Sha256Digest digest{};
    EXPECT_TRUE(sha256(bytes, digest));
    return toHex(digest);
}

TEST(Sha256, KnownDigestsInLowerCaseHex) {
    EXPECT_EQ(hexOf(""), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexOf("abc"), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, AHasherFedInPiecesGivesTheWholeDigest) {
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Sha256Hasher hasher;
    EXPECT_TRUE(hasher.add(text.substr(0, 1)));
    EXPECT_TRUE(hasher.add(std::string()));
    EXPECT_TRUE(hasher.add(text.data() + 1, 30));
    EXPECT_TRUE(hasher.add(text.substr(31)));
    Sha256Digest digest{};
    ASSERT_TRUE(hasher.finish(digest));
    EXPECT_EQ(toHex(digest), hexOf(text));
    EXPECT_FALSE(hasher.add("more")) << "a finished hasher takes nothing more";
    EXPECT_FALSE(hasher.finish(digest));
}

// The processor's SHA instructions give the system's digest for every length around the block and padding
// edges, however the bytes are handed over.
TEST(Sha256, TheProcessorsInstructionsGiveTheSystemsDigest) {
    const std::string bytes = testing::noiseBytes(1 << 20, 5);
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 200; ++length) lengths.push_back(length);
    lengths.insert(lengths.end(), {1000, 4095, 4096, 65599, 1 << 20});
    for (size_t length : lengths) {
        for (size_t step : {size_t(1), size_t(7), size_t(64), size_t(100000)}) {
            if (step == 1 && length > 200) continue;
            Sha256Hasher fastest, system(Sha256Hasher::Through::SystemService);
            for (size_t at = 0; at < length; at += step) {
                fastest.add(bytes.data() + at, std::min(step, length - at));
                system.add(bytes.data() + at, std::min(step, length - at));
            }
            Sha256Digest mine, theirs;
            ASSERT_TRUE(fastest.finish(mine));
            ASSERT_TRUE(system.finish(theirs));
            EXPECT_EQ(toHex(mine), toHex(theirs)) << length << " bytes in steps of " << step;
        }
    }
    std::cout << (Sha256Hasher::accelerated() ? "with" : "without") << " the processor's SHA instructions\n";
}

TEST(Sha256File, FingerprintsFilesAcrossReadBlocks) {
    testing::TempFolder folder;
    std::wstring hex = L"stale";
    EXPECT_TRUE(sha256File(folder.writeFile(L"empty.bin", ""), hex));
    EXPECT_EQ(hex, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_TRUE(sha256File(folder.writeFile(L"abc.txt", "abc"), hex));
    EXPECT_EQ(hex, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Exactly one read block, then two blocks and one byte more.
    EXPECT_TRUE(sha256File(folder.writeFile(L"one-block.bin", std::string(1048576, 'a')), hex));
    EXPECT_EQ(hex, L"9bc1b2a288b26af7257a36277ae3816a7d4f16e89c1e7e77d0a5c48bad62b360");
    EXPECT_TRUE(sha256File(folder.writeFile(L"big.bin", testing::TestHttpServer::patternBytes(2 * 1048576 + 1)), hex));
    EXPECT_EQ(hex, L"72bcf8fa6c73c0a650f5c83f47e54290ba2fe60ac6cb0d8fe5b0a41dd57a0844");
}

TEST(Sha256File, AMissingFileHasNoFingerprint) {
    testing::TempFolder folder;
    std::wstring hex = L"stale";
    EXPECT_FALSE(sha256File(folder.file(L"missing.zip"), hex));
    EXPECT_EQ(hex, L"");
    EXPECT_FALSE(sha256File(folder.path(), hex)) << "a folder is no file";
}

TEST(SameFingerprint, IgnoresLetterCaseOnly) {
    const std::wstring lower = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::wstring upper = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_TRUE(sameFingerprint(lower, upper));
    EXPECT_TRUE(sameFingerprint(upper, lower));
    std::wstring changed = lower;
    changed[63] = L'c';
    EXPECT_FALSE(sameFingerprint(lower, changed));
    EXPECT_FALSE(sameFingerprint(lower, lower.substr(0, 63)));
    EXPECT_FALSE(sameFingerprint(lower + L"0", lower));
    EXPECT_FALSE(sameFingerprint(L"", L"")) << "a missing fingerprint matches nothing";
}

}  // namespace
}  // namespace vorlane
