// The installer step by step, in this process: what each failing step leaves
// behind, the progress it reports, and the clean-up of old builds. Downloads
// come from the in-process test server, zips are packed with the system's tar.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "core/files.h"
#include "core/launcher_state.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/transfer_meter.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "net/sha256.h"
#include "support/build_server.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kCommit = L"0a1b2c3d";

struct Step {
    double fraction;
    std::wstring sentence;
};

class Installer : public ::testing::Test {
protected:
    TempFolder temp{L"installer"};
    TestHttpServer server;
    LauncherState state;
    std::vector<Step> steps;
    JobProgress progress = [this](double fraction, const std::wstring& sentence) {
        steps.push_back({fraction, sentence});
    };

    void SetUp() override {
        state.rootFolder = temp.file(L"Root");
        state.makeShortcuts = false;
        loadSettings(state);
        state.listSource = server.baseUrl();
    }
    void TearDown() override { closeLog(state); }

    std::wstring downloads() { return joinPath(state.rootFolder, L"Downloads"); }

    // Lists `zipBytes` as the build `commit` with its true fingerprint, or with `sha256` when given.
    void offer(const std::string& zipBytes, const std::wstring& commit = kCommit, std::wstring sha256 = L"?") {
        BuildRecord record;
        record.commit = commit;
        record.file = L"Vorlane-" + commit + L".zip";
        record.released = L"2026-06-01T00:00:00Z";
        if (sha256 == L"?") {
            Sha256Digest digest;
            vorlane::sha256(zipBytes, digest);
            sha256 = toHex(digest);
        }
        record.sha256 = sha256;
        record.size = (long long)zipBytes.size();
        state.builds = {record};
        server.serve("/" + toUtf8(record.file), zipBytes);
    }

    std::string buildZip(const std::wstring& commit = kCommit) {
        TempFolder packing{L"packing"};
        return readTestFile(makeBuildZip(packing.path(), commit));
    }

    std::vector<std::wstring> log() { return logMessages(state.rootFolder); }
};

}  // namespace

TEST(RunCaptured, SplitsTheOutputAtLineFeedsAndGivesTheExitCode) {
    std::vector<std::string> lines;
    int code = runCaptured(L"cmd.exe /c \"echo one&echo two&exit 3\"",
                           [&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(code, 3);
    ASSERT_EQ(lines.size(), 2u);
    // Only the line feed is dropped: a carriage return before it stays.
    EXPECT_EQ(trimSpace(toUtf16(lines[0])), L"one");
    EXPECT_EQ(trimSpace(toUtf16(lines[1])), L"two");
}

TEST(RunCaptured, AProgramThatCantBeStartedGivesMinusOneAndNoLines) {
    int calls = 0;
    EXPECT_EQ(runCaptured(L"\"C:\\no such folder\\nothing.exe\"", [&](const std::string&) { ++calls; }), -1);
    EXPECT_EQ(calls, 0);
}

TEST(RunCaptured, ALastLineWithoutALineFeedIsPassedToo) {
    TempFolder temp;
    // More than one 4096-byte read, ending without a line feed.
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "line " + std::to_string(i) + "\n";
    text += "last";
    const std::wstring file = temp.writeFile(L"out.txt", text);
    std::vector<std::string> lines;
    EXPECT_EQ(runCaptured(L"cmd.exe /c type \"" + file + L"\"", [&](const std::string& line) { lines.push_back(line); }),
              0);
    ASSERT_EQ(lines.size(), 1001u);
    EXPECT_EQ(lines[999], "line 999");
    EXPECT_EQ(lines[1000], "last");
}

TEST_F(Installer, ReportsItsStepsInOrderWithTheFixedFractions) {
    offer(buildZip());
    ASSERT_TRUE(installBuild(state, progress)) << toUtf8(state.lastError);

    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front().fraction, 0.0);
    EXPECT_EQ(steps.front().sentence, L"Downloading Vorlane-" + kCommit + L".zip...");
    EXPECT_EQ(steps.back().fraction, 1.0);
    EXPECT_EQ(steps.back().sentence, L"Installed build " + kCommit + L".");
    for (size_t i = 1; i < steps.size(); ++i) EXPECT_GE(steps[i].fraction, steps[i - 1].fraction) << i;
    auto has = [&](double fraction, const std::wstring& sentence) {
        return std::any_of(steps.begin(), steps.end(),
                           [&](const Step& s) { return s.fraction == fraction && s.sentence == sentence; });
    };
    EXPECT_TRUE(has(0.7, L"Checking the download..."));
    EXPECT_TRUE(has(0.72, L"Unpacking..."));
    std::wstring downloaded;
    for (const Step& step : steps) {
        if (step.fraction > 0 && step.fraction < 0.7) {
            EXPECT_EQ(step.sentence.rfind(L"Downloading Vorlane-" + kCommit + L".zip... ", 0), 0u);
        }
        if (step.fraction > 0 && step.fraction <= 0.7 && step.sentence.rfind(L"Downloading ", 0) == 0)
            downloaded = step.sentence;
    }
    // The last block's words: all of the zip, in KB as it is under 1 MB (a speed may follow).
    const std::wstring size = sizeInWords(state.builds.front().size);
    EXPECT_EQ(downloaded.rfind(L"Downloading Vorlane-" + kCommit + L".zip... " + size.substr(0, size.find(L' ')) +
                                   L" of " + size, 0),
              0u)
        << toUtf8(downloaded);
    EXPECT_EQ(log().back(), L"Installed build " + kCommit + L" (previous: none).");
}

TEST_F(Installer, PicksTheBuildOrSaysWhyThereIsNone) {
    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError, L"No build to install: the build server couldn't be reached.");
    state.listRefusal = L"The build list from x isn't signed with Vorlane's key, so nothing from it is installed.";
    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError, state.listRefusal);

    for (const wchar_t* name : {L"Vorlane-abc123.zip", L"vorlane-abcdef1.zip", L"Vorlane-abcdefg.zip",
                                L"Vorlane-abcdef1.zip.part", L"Vorlane-.zip", L"Vorlane-ABCDEF1.zip"}) {
        state.zipPath = joinPath(temp.path(), name);
        EXPECT_FALSE(installBuild(state, progress));
        EXPECT_EQ(state.lastError, std::wstring(L"A build's zip is named Vorlane-<commit>.zip, the commit in hex; "
                                                L"this is ") + name + L".");
    }
    EXPECT_TRUE(steps.empty());
    EXPECT_FALSE(folderExists(state.installDir));
}

TEST_F(Installer, ARecordWithoutAFingerprintIsNotDownloaded) {
    offer(buildZip(), kCommit, L"");
    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError, L"The build server gave no fingerprint for build " + kCommit + L", so it wasn't installed.");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Installer, OnlyThePartialDownloadsOfOtherBuildsAreDeleted) {
    makeFolderTree(downloads());
    const std::wstring stale = joinPath(downloads(), L"Vorlane-ffff000.zip.part");
    const std::wstring mine = joinPath(downloads(), L"notes.part");
    writeFileAtomically(stale, "old");
    writeFileAtomically(mine, "mine");
    const std::string zip = buildZip();
    offer(zip);
    // This build's own partial file is carried on from.
    writeFileAtomically(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip.part"), zip.substr(0, 1000));

    ASSERT_TRUE(installBuild(state, progress)) << toUtf8(state.lastError);
    EXPECT_FALSE(fileExists(stale));
    EXPECT_TRUE(fileExists(mine));
    EXPECT_EQ(server.requests().back().range, "bytes=1000-");
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(std::find(lines.begin(), lines.end(),
                          L"Carrying on the download of Vorlane-" + kCommit + L".zip from 0 MB.") != lines.end());
}

TEST_F(Installer, ABrokenDownloadKeepsItsPartialFile) {
    TestRoute cut;
    cut.body = buildZip();
    cut.cutAfter = 5000;
    offer(cut.body);
    server.serve("/Vorlane-" + toUtf8(kCommit) + ".zip", cut);
    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_TRUE(state.lastError.ends_with(L" (the next try carries on where it stopped)")) << toUtf8(state.lastError);
    EXPECT_TRUE(fileExists(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip.part")));
    EXPECT_TRUE(state.current.empty());
}

// A stop once the download is checked, with a staging folder a killed run left:
// the stopped install leaves no copy of the build in <commit>.new.
TEST_F(Installer, AStopLeavesNoStagingFolder) {
    offer(buildZip());
    const std::wstring staging = joinPath(state.installDir, kCommit + L".new");
    ASSERT_TRUE(makeFolderTree(joinPath(staging, L"Vorlane-" + kCommit)));
    ASSERT_TRUE(writeFileAtomically(joinPath(staging, L"Vorlane-" + kCommit + L"\\Vorlane.exe"), "MZ"));
    std::atomic<bool> stop{false};
    const JobControl job(
        [&](double, const std::wstring& sentence) {
            if (sentence == L"Checking the download...") stop = true;
        },
        &stop);
    EXPECT_FALSE(installBuild(state, job));
    EXPECT_EQ(state.lastError.rfind(L"Stopped before the new build was put in place", 0), 0u) << toUtf8(state.lastError);
    EXPECT_FALSE(pathExists(staging));
    EXPECT_TRUE(state.current.empty());
}

TEST_F(Installer, AWrongFingerprintDeletesTheDownloadAndLogsBoth) {
    offer(buildZip(), kCommit, std::wstring(64, L'a'));
    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError, L"The download doesn't match the build server's fingerprint; it wasn't installed.");
    const std::wstring line = log().back();
    EXPECT_EQ(line.rfind(L"SHA-256 ", 0), 0u);
    EXPECT_TRUE(line.ends_with(L", expected " + std::wstring(64, L'a') + L"."));
    EXPECT_TRUE(listFolder(downloads()).empty());
}

// The fingerprint is worked out while the zip downloads; a resumed download's is still the whole zip's (its part
// on disk counted once), and a wrong one still deletes the zip.
TEST_F(Installer, AResumedDownloadIsCheckedWhole) {
    const std::string zip = buildZip();
    const std::wstring wrong(64, L'a');
    const struct {
        const char* name;
        size_t partSize;  // 0: no part file
        bool rightFingerprint;
    } cases[] = {
        {"new, wrong", 0, false},
        {"resumed, wrong", 1000, false},
        {"resumed from all but one byte, wrong", zip.size() - 1, false},
        {"part already whole, wrong", zip.size(), false},
        {"resumed, right", 1000, true},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        offer(zip, kCommit, test.rightFingerprint ? L"?" : wrong);
        deleteFolderTree(downloads());
        makeFolderTree(downloads());
        if (test.partSize > 0)
            writeFileAtomically(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip.part"),
                                zip.substr(0, test.partSize));

        const bool installed = installBuild(state, progress);

        EXPECT_EQ(installed, test.rightFingerprint) << toUtf8(state.lastError);
        EXPECT_TRUE(listFolder(downloads()).empty());
        if (test.rightFingerprint) continue;
        EXPECT_EQ(state.lastError, L"The download doesn't match the build server's fingerprint; it wasn't installed.");
        Sha256Digest digest;
        ASSERT_TRUE(vorlane::sha256(zip, digest));
        EXPECT_EQ(log().back(), L"SHA-256 " + toHex(digest) + L", expected " + wrong + L".");
    }
}

// Zips that tar unpacks but that aren't laid out as a build say what is wrong.
TEST_F(Installer, AZipNotLaidOutAsABuildSaysWhatIsMissingAndKeepsTheDownload) {
    const struct {
        const wchar_t* top;
        std::wstring sentence;
    } cases[] = {
        {L"Vorlane-0a1b2c3d", L"The zip's folder Vorlane-0a1b2c3d has no Vorlane.exe, so it wasn't installed."},
        {L"Game", L"The zip doesn't hold the folder Vorlane-0a1b2c3d that a build of 0a1b2c3d has at its top, so it "
                  L"wasn't installed."},
    };
    for (const auto& test : cases) {
        TempFolder packing{L"packing"};
        const std::wstring top = joinPath(packing.path(), test.top);
        makeFolderTree(top);
        writeFileAtomically(joinPath(top, L"readme.txt"), "no game here");
        const std::wstring zip = packing.file(L"Vorlane-" + kCommit + L".zip");
        ASSERT_EQ(runCaptured(systemTar() + L" -a -cf \"" + zip + L"\" -C \"" + packing.path() + L"\" " + test.top,
                              [](const std::string&) {}),
                  0);
        offer(readTestFile(zip));
        DeleteFileW(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip").c_str());

        EXPECT_FALSE(installBuild(state, progress));
        EXPECT_EQ(state.lastError, test.sentence);
        EXPECT_FALSE(folderExists(joinPath(state.installDir, kCommit + L".new")));
        EXPECT_FALSE(folderExists(joinPath(state.installDir, kCommit)));
        EXPECT_TRUE(fileExists(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip")));
    }
}

// A zip whose own listing can't be read (its end record spoilt) still unpacks,
// as tar reads it entry by entry; what was unpacked can't be checked, so nothing is recorded.
TEST_F(Installer, AZipWhoseListingCantBeReadIsNotInstalled) {
    std::string zip = buildZip();
    const size_t end = zip.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    zip[end + 2] = 0;
    offer(zip);

    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError, L"The zip's listing can't be read, so what was unpacked can't be checked; it wasn't "
                               L"installed.");
    EXPECT_EQ(state.current, L"");
    EXPECT_EQ(readSetting(state, L"Current"), L"");
    EXPECT_FALSE(folderExists(joinPath(state.installDir, kCommit + L".new")));
    EXPECT_FALSE(folderExists(joinPath(state.installDir, kCommit)));
}

// A download a killed run finished is checked and used, not fetched again;
// other builds' downloads go.
TEST_F(Installer, AFinishedDownloadIsUsedAndOtherBuildsDownloadsGo) {
    const std::string zip = buildZip();
    offer(zip);
    makeFolderTree(downloads());
    writeFileAtomically(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip"), zip);
    writeFileAtomically(joinPath(downloads(), L"Vorlane-1234567.zip"), "an older build's");

    ASSERT_TRUE(installBuild(state, progress)) << toUtf8(state.lastError);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(listFolder(downloads()).empty());
}

// A zip a killed run left whole is checked like a new download: another zip in its place (here a good build of
// the same commit, but not the listed one) is refused and deleted, and the next try downloads the build again.
TEST_F(Installer, AFinishedDownloadThatIsntTheBuildIsDeletedAndFetchedAgain) {
    offer(buildZip());
    makeFolderTree(downloads());
    TempFolder packing{L"packing"};
    writeFileAtomically(joinPath(downloads(), L"Vorlane-" + kCommit + L".zip"),
                        readTestFile(makeBuildZip(packing.path(), kCommit, 1000)));

    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError, L"The download doesn't match the build server's fingerprint; it wasn't installed.");
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(listFolder(downloads()).empty());
    EXPECT_TRUE(state.current.empty());

    ASSERT_TRUE(installBuild(state, progress)) << toUtf8(state.lastError);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(state.current, kCommit);
}

// Until launcher.ini records the new build, it isn't installed.
TEST_F(Installer, ASaveThatFailsIsAFailedInstall) {
    offer(buildZip());
    makeFolderTree(state.settingsPath + L".part");  // in the way of the settings' new copy

    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_EQ(state.lastError.rfind(L"Couldn't save the launcher's settings (error ", 0), 0u) << toUtf8(state.lastError);
    EXPECT_TRUE(state.lastError.ends_with(L"). The new build wasn't installed; the build you had still plays."));
    EXPECT_EQ(state.current, L"");
    EXPECT_EQ(readSetting(state, L"Current"), L"");
    for (const std::wstring& line : log()) EXPECT_EQ(line.rfind(L"Installed build", 0), std::wstring::npos);
}

TEST_F(Installer, BytesThatArentAZipFailWithTarsOwnExitCode) {
    offer(std::string(5000, 'x'));
    EXPECT_FALSE(installBuild(state, progress));
    EXPECT_TRUE(state.lastError.rfind(L"Unpacking the build failed (tar exit code ", 0) == 0);
    EXPECT_NE(state.lastError, L"Unpacking the build failed (tar exit code 0).");
    EXPECT_FALSE(folderExists(joinPath(state.installDir, kCommit + L".new")));
}

TEST_F(Installer, TheCleanUpRemovesOnlyOldBuildFolders) {
    for (const wchar_t* name : {L"1111111", L"2222222", L"3333333", L"4444444.new", L"Mods", L"ABCDEF1"})
        makeFolderTree(joinPath(state.installDir, name));
    writeFileAtomically(joinPath(state.installDir, L"5555555"), "a plain file");
    state.current = L"1111111";
    state.previous = L"2222222";
    removeOldBuilds(state);

    std::vector<std::wstring> left;
    for (const FolderEntry& entry : listFolder(state.installDir)) left.push_back(entry.name);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{L"1111111", L"2222222", L"5555555", L"ABCDEF1", L"Mods"}));
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), L"Removing old build 3333333.") != lines.end());
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), L"Removing old build 4444444.new.") != lines.end());
}

TEST_F(Installer, ReinstallingTheCurrentBuildKeepsPreviousAndItsSaves) {
    const std::string zip = buildZip();
    offer(zip);
    ASSERT_TRUE(installBuild(state, progress));
    state.previous = L"9999999";
    makeFolderTree(joinPath(state.installDir, L"9999999\\Vorlane-9999999"));
    const std::wstring saves = joinPath(buildFolder(state, kCommit), L"Vorlane\\Saved\\SaveGames");
    makeFolderTree(saves);
    writeFileAtomically(joinPath(saves, L"a.sav"), "progress");

    ASSERT_TRUE(installBuild(state, progress));
    EXPECT_EQ(state.current, kCommit);
    EXPECT_EQ(state.previous, L"9999999");
    EXPECT_EQ(readTestFile(joinPath(saves, L"a.sav")), "progress");
    EXPECT_TRUE(state.heldBack.empty());
}
