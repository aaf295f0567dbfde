// The release tool, vorlane-publish.exe, run as its own process: the keys it
// makes and the signatures it writes must be the ones the launcher accepts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/handles.h"
#include "core/files_below.h"
#include "install/build_list.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "pieces/build_index.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/release_key.h"
#include "net/signature.h"
#include "support/addon_themes.h"
#include "support/build_server.h"
#include "support/launcher_process.h"
#include "support/publisher.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"

namespace vorlane {
namespace {

using testing::keptTestKeyFile;
using testing::PublishRun;
using testing::runPublisher;
using testing::TempFolder;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool parsePublicKey(const std::string& hex, ReleaseKey& key) {
    if (hex.size() != 128 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    for (size_t i = 0; i < key.size(); ++i) key[i] = (unsigned char)std::stoi(hex.substr(2 * i, 2), nullptr, 16);
    return true;
}

const std::string kList = "[{\"File\":\"Vorlane-abc1234.zip\",\"Commit\":\"abc1234\"}]\r\n";

TEST(Publish, AKeyItMakesSignsListsThatCheckAgainstThePrintedPublicKey) {
    TempFolder folder;
    const std::wstring keyFile = folder.file(L"release.key");
    PublishRun keygen = runPublisher(folder, {L"keygen", keyFile});
    ASSERT_EQ(keygen.exitCode, 0u) << keygen.err;
    ReleaseKey publicKey{};
    ASSERT_TRUE(parsePublicKey(trimmed(keygen.out), publicKey)) << keygen.out;
    EXPECT_FALSE(isDeveloperKey(publicKey));

    PublishRun pubkey = runPublisher(folder, {L"pubkey", keyFile});
    EXPECT_EQ(pubkey.exitCode, 0u) << pubkey.err;
    EXPECT_EQ(trimmed(pubkey.out), trimmed(keygen.out));

    const std::wstring list = folder.writeFile(L"builds.json", kList);
    PublishRun sign = runPublisher(folder, {L"sign", keyFile, list});
    ASSERT_EQ(sign.exitCode, 0u) << sign.err;
    std::string signature = testing::readTestFile(list + L".sig");
    ASSERT_EQ(signature.size(), 89u) << signature;
    EXPECT_EQ(signature.back(), '\n');
    EXPECT_EQ(decodeBase64(signature).size(), 64u);

    EXPECT_TRUE(verifySignature(kList, signature, publicKey));
    std::string changed = kList;
    changed[5] ^= 0x20;
    EXPECT_FALSE(verifySignature(changed, signature, publicKey));
    EXPECT_FALSE(verifySignature(kList, signature)) << "a fresh key isn't the test release key";
}

TEST(Publish, KeygenNeverReplacesAKeyFile) {
    TempFolder folder;
    const std::wstring keyFile = folder.writeFile(L"release.key", "keep me");
    PublishRun keygen = runPublisher(folder, {L"keygen", keyFile});
    EXPECT_EQ(keygen.exitCode, 1u);
    EXPECT_EQ(keygen.out, "");
    EXPECT_NE(keygen.err, "");
    EXPECT_EQ(testing::readTestFile(keyFile), "keep me");
}

TEST(Publish, ABadKeyFileOrListWritesNoSignature) {
    TempFolder folder;
    const std::wstring list = folder.writeFile(L"builds.json", kList);
    const std::wstring keyFile = folder.file(L"release.key");
    ASSERT_EQ(runPublisher(folder, {L"keygen", keyFile}).exitCode, 0u);
    const std::string goodKey = testing::readTestFile(keyFile);

    // The secret's public half (the X coordinate) changed: it would sign lists no launcher accepts.
    std::string mismatched = goodKey;
    size_t firstX = goodKey.find('\n') + 1 + 16;
    mismatched[firstX] = mismatched[firstX] == '0' ? '1' : '0';
    std::string truncated = goodKey.substr(0, goodKey.size() - 3) + "\n";
    std::string noHeader = goodKey.substr(goodKey.find('\n') + 1);
    for (const std::string& damaged : {std::string("not a key"), std::string(), mismatched, truncated, noHeader}) {
        const std::wstring badKey = folder.writeFile(L"bad.key", damaged);
        PublishRun sign = runPublisher(folder, {L"sign", badKey, list});
        EXPECT_EQ(sign.exitCode, 1u) << damaged;
        EXPECT_NE(sign.err, "") << damaged;
        EXPECT_FALSE(fileExists(list + L".sig")) << damaged;
    }

    PublishRun missingKey = runPublisher(folder, {L"sign", folder.file(L"missing.key"), list});
    EXPECT_EQ(missingKey.exitCode, 1u);
    EXPECT_NE(missingKey.err.find("missing.key"), std::string::npos) << missingKey.err;
    EXPECT_FALSE(fileExists(list + L".sig"));

    const std::wstring missingList = folder.file(L"themes.json");
    PublishRun noList = runPublisher(folder, {L"sign", keyFile, missingList});
    EXPECT_EQ(noList.exitCode, 1u);
    EXPECT_NE(noList.err.find("themes.json"), std::string::npos) << noList.err;
    EXPECT_FALSE(fileExists(missingList + L".sig"));
}

TEST(Publish, AWrongCommandLineShowsTheUsage) {
    TempFolder folder;
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{}, {L"frobnicate"}, {L"sign", folder.file(L"k")}, {L"keygen"},
          {L"pubkey", L"a", L"b"}}) {
        PublishRun run = runPublisher(folder, arguments);
        EXPECT_EQ(run.exitCode, 2u) << arguments.size();
        EXPECT_NE(run.err.find("Usage: vorlane-publish"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fileExists(folder.file(L"k")));
}

TEST(Publish, TheKeptTestKeySignsWhatTheTestProgramAccepts) {
    const std::wstring keyFile = keptTestKeyFile();
    ASSERT_FALSE(keyFile.empty()) << "tests\\keys\\test-release.key wasn't found above the test program's folder";
    TempFolder folder;
    PublishRun pubkey = runPublisher(folder, {L"pubkey", keyFile});
    ReleaseKey publicKey{};
    ASSERT_TRUE(parsePublicKey(trimmed(pubkey.out), publicKey)) << pubkey.out << pubkey.err;
    EXPECT_EQ(publicKey, releaseKey());

    const std::wstring list = folder.writeFile(L"theme_slots.json", kList);
    ASSERT_EQ(runPublisher(folder, {L"sign", keyFile, list}).exitCode, 0u);
    EXPECT_TRUE(verifySignature(kList, testing::readTestFile(list + L".sig")));
}

// A zip holding a link is refused before anything is unpacked or listed, naming
// the link as the launcher does, not in the unpacking tool's words.
TEST(Publish, AZipHoldingALinkIsRefusedByTheLinksName) {
    TempFolder folder;
    const std::wstring zip = folder.file(L"Vorlane-abc1234.zip");
    ASSERT_TRUE(testing::writeZip(zip, {{"Vorlane-abc1234/", ""},
                                        {"Vorlane-abc1234/Vorlane.exe", "MZ"},
                                        {"Vorlane-abc1234/Saved", "../../../Outside", true},
                                        {"Vorlane-abc1234/Saved/evil.txt", "written through the link"}}));
    const std::wstring server = folder.file(L"server");
    PublishRun run = runPublisher(folder, {L"build", server, keptTestKeyFile(), zip});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(trimmed(run.err),
              "The zip holds a link, Vorlane-abc1234/Saved, which a build never has, so it can't be published in "
              "pieces.");
    EXPECT_FALSE(fileExists(joinPath(server, L"builds.json")));
}


// A server folder with builds published in pieces by the tool, and what it holds.
struct PiecesServer {
    TempFolder folder{L"pieces-server"};
    std::wstring server = folder.file(L"www");

    // Publishes the build of `commit` with these files besides the game; the publisher's output.
    PublishRun publish(const std::wstring& commit, const testing::BuildFiles& files, const std::wstring& released) {
        const std::wstring zip = testing::makeBuildZip(folder.path(), commit, 0, files);
        return runPublisher(folder, {L"build", server, keptTestKeyFile(), zip, L"--released", released});
    }
    std::string object(const std::wstring& hash) const {
        return testing::readTestFile(joinPath(server, L"builds\\" + hash));
    }
    // The index of a listed build, read as the launcher reads it.
    BuildIndex index(const std::wstring& commit) const {
        BuildIndex index;
        for (const BuildRecord& record : readBuildRecords(testing::readTestFile(joinPath(server, L"builds.json"))))
            if (record.commit == commit)
                EXPECT_EQ(readBuildIndex(object(record.index), commit, index).verdict, BuildIndexVerdict::Good);
        return index;
    }
};

// The pack holds every distinct piece of the index once, in the order the
// index first names it, and is stored under its SHA-256 with the size the index gives.
TEST(Publish, ABuildsPackHoldsEachDistinctPieceOnceInTheIndexsOrder) {
    PiecesServer server;
    const std::string big = testing::noiseBytes(1500000, 7);
    PublishRun run = server.publish(L"abc1234", {{L"Content\\A.pak", big},
                                                 {L"Content\\B.pak", big},  // the same pieces again
                                                 {L"Content\\C.pak", testing::noiseBytes(900000, 9) + big.substr(0, 700000)},
                                                 {L"Empty.txt", ""}},
                                    L"2026-01-01T00:00:00Z");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const BuildIndex index = server.index(L"abc1234");
    ASSERT_FALSE(index.pack.sha256.empty()) << "the index names no pack";

    std::string expected;
    std::set<std::wstring> seen;
    size_t pieces = 0;
    for (const IndexFile& file : index.files)
        for (const IndexPiece& piece : file.pieces) {
            ++pieces;
            if (!seen.insert(piece.hash).second) continue;
            const std::string bytes = server.object(piece.hash);  // each piece is stored on its own as well
            ASSERT_EQ(bytes.size(), piece.size) << toUtf8(piece.hash);
            expected += bytes;
        }
    ASSERT_GT(pieces, seen.size()) << "the build was meant to repeat pieces";
    const std::string pack = server.object(index.pack.sha256);
    EXPECT_EQ(pack.size(), index.pack.size);
    EXPECT_EQ(index.pack.size, packSize(index.files));
    EXPECT_TRUE(pack == expected) << "the pack isn't the distinct pieces in order";
    Sha256Digest digest;
    ASSERT_TRUE(sha256(pack, digest));
    EXPECT_EQ(toHex(digest), index.pack.sha256);
    for (const std::wstring& name : filesBelow(joinPath(server.server, L"builds")))
        EXPECT_FALSE(name.ends_with(L".part")) << toUtf8(name);

    // Published again, the same build names the same pack and stores nothing new.
    run = server.publish(L"abc1234", {{L"Content\\A.pak", big},
                                      {L"Content\\B.pak", big},
                                      {L"Content\\C.pak", testing::noiseBytes(900000, 9) + big.substr(0, 700000)},
                                      {L"Empty.txt", ""}},
                         L"2026-01-01T00:00:00Z");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("pieces (0 new)"), std::string::npos) << run.out;
    EXPECT_EQ(server.index(L"abc1234").pack.sha256, index.pack.sha256);
}

// An object of the server with the wrong size under its name (a stray, or one
// cut short) is written again; one with its size is taken as it is.
TEST(Publish, AStoredPieceOfTheWrongSizeIsWrittenAgain) {
    PiecesServer server;
    const testing::BuildFiles files{{L"Content\\A.pak", testing::noiseBytes(600000, 3)}};
    ASSERT_EQ(server.publish(L"abc1234", files, L"2026-01-01T00:00:00Z").exitCode, 0u);
    const BuildIndex index = server.index(L"abc1234");
    ASSERT_GE(index.files.size(), 2u);
    const IndexPiece first = index.files.front().pieces.front();
    const std::string bytes = server.object(first.hash);
    const std::wstring path = joinPath(server.server, L"builds\\" + first.hash);
    ASSERT_TRUE(writeFileAtomically(path, bytes.substr(0, bytes.size() / 2)));
    const PublishRun run = server.publish(L"abc1234", files, L"2026-01-01T00:00:00Z");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("pieces (1 new)"), std::string::npos) << run.out;
    EXPECT_TRUE(server.object(first.hash) == bytes);
}

}  // namespace
}  // namespace vorlane
