// vorlane-publish launcher, run as its own process: the record it writes is the
// one the launcher reads, signed so that the launcher accepts it.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "install/self_update.h"
#include "net/sha256.h"
#include "net/signature.h"
#include "support/launcher_process.h"
#include "support/publisher.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

class PublishLauncher : public ::testing::Test {
protected:
    TempFolder folder{L"publish-launcher"};
    std::wstring server = folder.file(L"Server");
    std::wstring program = folder.writeFile(L"Vorlane Launcher.exe", "launcher program 1a2b3c4d");

    PublishRun publish(const std::wstring& version, const std::wstring& versionOption = L"--version") {
        return runPublisher(folder, {L"launcher", server, keptTestKeyFile(), program, versionOption, version});
    }
    std::string record() { return readTestFile(joinPath(server, L"launcher.json")); }
};

}  // namespace

TEST_F(PublishLauncher, WritesASignedRecordThatNamesTheCopiedProgram) {
    const PublishRun run = publish(L"1a2b3c4d");
    ASSERT_EQ(run.exitCode, 0u) << run.err;

    const LauncherRecord read = readLauncherRecord(record());
    EXPECT_EQ(read.file, L"Vorlane-Launcher-1a2b3c4d.exe");
    EXPECT_EQ(read.version, L"1a2b3c4d");
    std::wstring fingerprint;
    ASSERT_TRUE(sha256File(program, fingerprint));
    EXPECT_EQ(read.sha256, fingerprint);
    EXPECT_TRUE(isUsableLauncherRecord(read));
    EXPECT_EQ(readTestFile(joinPath(server, read.file)), readTestFile(program));
    // This test program has the kept test key built in, as the test launcher does.
    EXPECT_TRUE(verifySignature(record(), readTestFile(joinPath(server, L"launcher.json.sig"))));
    EXPECT_FALSE(fileExists(joinPath(server, read.file + L".part")));
}

TEST_F(PublishLauncher, ANewVersionReplacesTheRecordAndKeepsTheEarlierProgram) {
    ASSERT_EQ(publish(L"1a2b3c4d").exitCode, 0u);
    folder.writeFile(L"Vorlane Launcher.exe", "launcher program 2b3c4d5e");
    ASSERT_EQ(publish(L"2b3c4d5e").exitCode, 0u);
    EXPECT_EQ(readLauncherRecord(record()).file, L"Vorlane-Launcher-2b3c4d5e.exe");
    EXPECT_EQ(readTestFile(joinPath(server, L"Vorlane-Launcher-1a2b3c4d.exe")), "launcher program 1a2b3c4d");
    EXPECT_TRUE(verifySignature(record(), readTestFile(joinPath(server, L"launcher.json.sig"))));
}

TEST_F(PublishLauncher, AVersionThatIsntACommitIdOrAMissingOptionIsAUsageError) {
    for (const wchar_t* version : {L"1A2B3C4D", L"1a2b3c", L"1a2b3c4d+", L"dev"}) {
        const PublishRun run = publish(version);
        EXPECT_EQ(run.exitCode, 2u) << toUtf8(version);
        EXPECT_NE(run.err.find("--version takes the launcher's commit id"), std::string::npos) << run.err;
    }
    EXPECT_EQ(publish(L"1a2b3c4d", L"--released").exitCode, 2u);
    EXPECT_EQ(runPublisher(folder, {L"launcher", server, keptTestKeyFile(), program}).exitCode, 2u);
    EXPECT_FALSE(folderExists(server));
}

TEST_F(PublishLauncher, AProgramThatCantBeReadPublishesNothing) {
    program = folder.file(L"missing.exe");
    const PublishRun run = publish(L"1a2b3c4d");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("Couldn't read the launcher"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(joinPath(server, L"launcher.json")));
}
