// The release tool, vorlane-publish.exe, run as its own process: the keys it
// makes and the signatures it writes must be the ones the launcher accepts.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/release_key.h"
#include "net/signature.h"
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

}  // namespace
}  // namespace vorlane
