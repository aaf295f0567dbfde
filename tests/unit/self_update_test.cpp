// The launcher's own update in this process: which records are acted on, when
// the start-up runs the check, what swapping the installed launcher does when a
// step fails, and each outcome of the check against the in-process test server
// (lists signed with the kept test key, which this program has built in).
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <optional>

#include "core/files.h"
#include "core/launcher_state.h"
#include "core/log.h"
#include "core/text.h"
#include "core/value_count.h"
#include "install/self_update.h"
#include "net/sha256.h"
#include "support/launcher_process.h"
#include "support/rename_lock.h"
#include "support/signing_key.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

std::wstring fingerprintOf(const std::string& bytes) {
    Sha256Digest digest;
    vorlane::sha256(bytes, digest);
    return toHex(digest);
}

// "Couldn't set the old launcher aside (error " + decimal + ")." and the like.
bool isErrorSentence(const std::wstring& text, const std::wstring& start) {
    if (text.rfind(start, 0) != 0 || text.size() < start.size() + 3) return false;
    const std::wstring number = text.substr(start.size(), text.size() - start.size() - 2);
    return text.substr(text.size() - 2) == L")." && !number.empty() &&
           std::all_of(number.begin(), number.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

TEST(LauncherRecord, OnlyTheFirstObjectCounts) {
    const LauncherRecord record = readLauncherRecord(
        "\xEF\xBB\xBF{\"File\": \"Vorlane-Launcher-1a2b3c4.exe\", \"Version\": \"1a2b3c4\", \"Sha256\": \"AB\"}\n"
        "{\"File\": \"other.exe\", \"Version\": \"9\", \"Sha256\": \"cd\"}");
    EXPECT_EQ(record.file, L"Vorlane-Launcher-1a2b3c4.exe");
    EXPECT_EQ(record.version, L"1a2b3c4");
    EXPECT_EQ(record.sha256, L"AB");

    const LauncherRecord none = readLauncherRecord("[]");
    EXPECT_TRUE(none.file.empty() && none.version.empty() && none.sha256.empty());
    EXPECT_FALSE(isUsableLauncherRecord(none));
}

TEST(LauncherRecord, AFileNameThatLeavesTheServersFolderIsNotActedOn) {
    const std::wstring sha = std::wstring(64, L'a');
    for (const wchar_t* name : {L"..\\Vorlane.exe", L"../Vorlane.exe", L"sub/Vorlane.exe", L"sub\\Vorlane.exe",
                                     L"C:Vorlane.exe", L"http://elsewhere/Vorlane.exe", L"..", L"Vorlane..exe",
                                     L"Vorlane.exe.."})
        EXPECT_FALSE(isUsableLauncherRecord({name, L"1a2b3c4", sha})) << toUtf8(name);
    // Dots and blanks that don't make "..", and no version at all, are fine.
    EXPECT_TRUE(isUsableLauncherRecord({L"Vorlane Launcher.exe", L"", sha}));
    EXPECT_TRUE(isUsableLauncherRecord({L".Vorlane.Launcher.exe", L"1a2b3c4", sha}));
}

TEST(LauncherRecord, ARecordWithoutAFileOrAFingerprintIsNotActedOn) {
    EXPECT_FALSE(isUsableLauncherRecord({L"", L"1a2b3c4", std::wstring(64, L'a')}));
    EXPECT_FALSE(isUsableLauncherRecord({L"Vorlane-Launcher.exe", L"1a2b3c4", L""}));
}

TEST(SelfUpdateAtStart, RunsForAWindowAndForTheSelfUpdateCommandOnly) {
    StartOptions window;
    EXPECT_TRUE(selfUpdateRunsAtStart(window, L"1a2b3c4d"));

    StartOptions selfUpdateCommand;
    selfUpdateCommand.command = L"self-update";
    EXPECT_TRUE(selfUpdateRunsAtStart(selfUpdateCommand, L"1a2b3c4d"));

    for (const wchar_t* other : {L"install", L"update", L"repair-shortcuts", L"Self-update", L""}) {
        StartOptions command;
        command.command = other;
        EXPECT_FALSE(selfUpdateRunsAtStart(command, L"1a2b3c4d")) << toUtf8(other);
    }
}

TEST(SelfUpdateAtStart, NeverRunsAfterAnUpdateOrInADevelopersVersion) {
    StartOptions updated;
    updated.updated = true;
    EXPECT_FALSE(selfUpdateRunsAtStart(updated, L"1a2b3c4d"));
    updated.command = L"self-update";
    EXPECT_FALSE(selfUpdateRunsAtStart(updated, L"1a2b3c4d"));

    StartOptions window;
    EXPECT_FALSE(selfUpdateRunsAtStart(window, L"dev"));
    EXPECT_FALSE(selfUpdateRunsAtStart(window, L"1a2b3c4d+"));
}

namespace {

class SwapLauncher : public ::testing::Test {
protected:
    TempFolder temp{L"swap"};
    LauncherState state;

    void SetUp() override { state.rootFolder = temp.makeFolder(L"Root"); }

    std::wstring installed() { return installedLauncherPath(state); }
    std::wstring replaced() { return replacedLauncherPath(state); }
};

}  // namespace

TEST_F(SwapLauncher, MovesTheNewLauncherInAndKeepsTheOldOneBesideIt) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", "launcher 1");
    temp.writeFile(L"Root\\Vorlane Launcher.old.exe", "launcher 0");
    const std::wstring fresh = temp.writeFile(L"new.exe", "launcher 2");
    ASSERT_TRUE(swapLauncher(state, fresh, true)) << toUtf8(state.lastError);
    EXPECT_EQ(readTestFile(installed()), "launcher 2");
    EXPECT_EQ(readTestFile(replaced()), "launcher 1");  // only the latest replaced copy is kept
    EXPECT_FALSE(fileExists(fresh));
}

TEST_F(SwapLauncher, CopyingLeavesTheSourceWhereItIs) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", "launcher 1");
    const std::wstring running = temp.writeFile(L"running.exe", "launcher 2");
    ASSERT_TRUE(swapLauncher(state, running, false)) << toUtf8(state.lastError);
    EXPECT_EQ(readTestFile(installed()), "launcher 2");
    EXPECT_EQ(readTestFile(replaced()), "launcher 1");
    EXPECT_EQ(readTestFile(running), "launcher 2");
}

TEST_F(SwapLauncher, WithNothingInstalledThereIsNothingToKeep) {
    const std::wstring fresh = temp.writeFile(L"new.exe", "launcher 2");
    ASSERT_TRUE(swapLauncher(state, fresh, true)) << toUtf8(state.lastError);
    EXPECT_EQ(readTestFile(installed()), "launcher 2");
    EXPECT_FALSE(fileExists(replaced()));
}

TEST_F(SwapLauncher, AnInstalledLauncherThatCantBeRenamedStopsTheSwapWithNothingChanged) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", "launcher 1");
    temp.writeFile(L"Root\\Vorlane Launcher.old.exe", "launcher 0");
    const std::wstring fresh = temp.writeFile(L"new.exe", "launcher 2");
    {
        RenameLock lock(installed());
        ASSERT_TRUE(lock.held());
        EXPECT_FALSE(swapLauncher(state, fresh, true));
    }
    EXPECT_TRUE(isErrorSentence(state.lastError, L"Couldn't set the old launcher aside (error "))
        << toUtf8(state.lastError);
    EXPECT_EQ(readTestFile(installed()), "launcher 1");
    EXPECT_EQ(readTestFile(replaced()), "launcher 0");
    EXPECT_EQ(readTestFile(fresh), "launcher 2");
}

TEST_F(SwapLauncher, ANewLauncherThatCantBePutInPlaceGivesTheInstalledOneItsNameBack) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", "launcher 1");
    for (bool move : {true, false}) {
        EXPECT_FALSE(swapLauncher(state, temp.file(L"missing.exe"), move));
        EXPECT_EQ(state.lastError, L"Couldn't put the new launcher in place (error 2).");
        EXPECT_EQ(readTestFile(installed()), "launcher 1");
        EXPECT_FALSE(fileExists(replaced()));
    }
}

TEST_F(SwapLauncher, ANewLauncherThatCantBeReadLeavesTheInstalledOneAsItWas) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", "launcher 1");
    const std::wstring fresh = temp.writeFile(L"new.exe", "launcher 2");
    // Held open for writing without sharing: neither copied nor moved.
    HANDLE held = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (bool move : {false, true}) {
        EXPECT_FALSE(swapLauncher(state, fresh, move));
        EXPECT_TRUE(isErrorSentence(state.lastError, L"Couldn't put the new launcher in place (error "))
            << toUtf8(state.lastError);
        EXPECT_EQ(readTestFile(installed()), "launcher 1");
    }
    CloseHandle(held);
    EXPECT_EQ(readTestFile(fresh), "launcher 2");
}

namespace {

const std::string kOffered = "the offered launcher, version 2";
const std::string kRunning = "the running launcher, version 1";
const std::string kOlder = "an older launcher, version 0";

class SelfUpdate : public ::testing::Test {
protected:
    TempFolder temp{L"self-update"};
    TestHttpServer server;
    LauncherState state;
    std::wstring running;

    void SetUp() override {
        state.rootFolder = temp.makeFolder(L"Root");
        openLog(state, joinPath(state.rootFolder, L"launcher.log"));
        state.listSource = server.baseUrl();
        // By default this runs as the installed launcher.
        running = temp.writeFile(L"Root\\Vorlane Launcher.exe", kRunning);
    }
    void TearDown() override { closeLog(state); }

    // Serves launcher.json and its signature, by the kept test key or by `key`.
    void offerRecord(const std::string& json, std::optional<SigningKey> key = testSigningKey()) {
        server.serve("/launcher.json", json);
        ASSERT_TRUE(key.has_value());
        server.serve("/launcher.json.sig", key->sign(json));
    }
    void offer(const std::string& program, const std::wstring& sha256, const std::string& file = "Launcher-2.exe") {
        offerRecord("{\"File\": \"" + file + "\", \"Version\": \"2b3c4d5\", \"Sha256\": \"" + toUtf8(sha256) + "\"}");
        server.serve("/" + file, program);
    }
    void offer(const std::string& program) { offer(program, fingerprintOf(program)); }

    bool asked(const std::string& path) {
        const std::vector<LoggedRequest> requests = server.requests();
        return std::any_of(requests.begin(), requests.end(), [&](const LoggedRequest& r) { return r.target == path; });
    }
    std::vector<std::wstring> log() { return logMessages(state.rootFolder); }
    std::wstring downloads() { return joinPath(state.rootFolder, L"Downloads"); }
    std::string installed() { return readTestFile(installedLauncherPath(state)); }
    std::string replaced() { return readTestFile(replacedLauncherPath(state)); }
};

}  // namespace

TEST_F(SelfUpdate, WithoutAnAcceptedBuildListNothingIsAsked) {
    state.listSource.clear();
    offer(kOffered);
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::NoneOffered);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(SelfUpdate, AServerWithoutALauncherRecordOffersNone) {
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::NoneOffered);
    EXPECT_TRUE(log().empty());
    EXPECT_TRUE(state.lastError.empty());
}

TEST_F(SelfUpdate, ARecordSignedByAnotherKeyFails) {
    offerRecord("{\"File\": \"Launcher-2.exe\", \"Version\": \"2b3c4d5\", \"Sha256\": \"" +
                    toUtf8(fingerprintOf(kOffered)) + "\"}",
                freshSigningKey());
    server.serve("/Launcher-2.exe", kOffered);
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::Failed);
    EXPECT_EQ(state.lastError, L"launcher.json isn't signed with Vorlane's key.");
    EXPECT_EQ(log(), std::vector<std::wstring>{L"Didn't update the launcher: launcher.json from " + server.baseUrl() +
                                               L" isn't signed with Vorlane's key. (launcher.json.sig isn't the "
                                               L"key's signature of it.)"});
    EXPECT_FALSE(asked("/Launcher-2.exe"));
    EXPECT_EQ(installed(), kRunning);
}

TEST_F(SelfUpdate, ARecordWithoutItsSignatureFileFails) {
    server.serve("/launcher.json", "{\"File\": \"Launcher-2.exe\", \"Sha256\": \"ab\"}");
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::Failed);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"Didn't update the launcher: launcher.json from " + server.baseUrl() +
                                               L" isn't signed with Vorlane's key. (launcher.json.sig: The build "
                                               L"server answered 404.)"});
}

// Counted before it is read: one value over the bound is refused, and ten
// million (30 MB) cost little more than their bytes.
TEST_F(SelfUpdate, ASignedRecordOfMoreValuesThanTheBoundFailsUnread) {
    for (const size_t values : {kMostJsonValues, size_t(10000000)}) {
        PROCESS_MEMORY_COUNTERS before{};
        ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
        {
            std::string huge = "[";
            huge.reserve(3 * values + 200);
            for (size_t i = 0; i < values; ++i) huge += "{},";
            offerRecord(huge + "{\"File\": \"Launcher-2.exe\", \"Sha256\": \"" + toUtf8(fingerprintOf(kOffered)) + "\"}]");
        }
        server.serve("/Launcher-2.exe", kOffered);
        EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::Failed);
        PROCESS_MEMORY_COUNTERS after{};
        ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
        RecordProperty("PeakMB", std::to_string(after.PeakWorkingSetSize >> 20));
        RecordProperty("PeakBeforeMB", std::to_string(before.PeakWorkingSetSize >> 20));
        EXPECT_LT(after.PeakWorkingSetSize, before.PeakWorkingSetSize + (300u << 20))
            << "peak " << (after.PeakWorkingSetSize >> 20) << " MB";
        EXPECT_EQ(state.lastError, L"launcher.json is too big to read.");
        EXPECT_EQ(log().back(), L"Didn't update the launcher: launcher.json from " + server.baseUrl() +
                                    L" is too big to read. (more than 1048576 JSON values)");
        EXPECT_FALSE(asked("/Launcher-2.exe"));
        EXPECT_EQ(installed(), kRunning);
    }
}

TEST_F(SelfUpdate, TheRunningLauncherIsTheOfferedOneWhateverTheCaseOfTheFingerprint) {
    std::wstring upper = fingerprintOf(kRunning);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    offer(kOffered, upper);
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::UpToDate);
    EXPECT_FALSE(asked("/Launcher-2.exe"));
    EXPECT_TRUE(log().empty());
    EXPECT_FALSE(fileExists(replacedLauncherPath(state)));
}

TEST_F(SelfUpdate, AFailedDownloadLeavesNothingBehind) {
    offer(kOffered);
    server.serve("/Launcher-2.exe", TestRoute{.status = 404});
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::Failed);
    EXPECT_EQ(state.lastError, L"The build server answered 404.");
    EXPECT_EQ(log(), std::vector<std::wstring>{L"Didn't update the launcher: The build server answered 404."});
    EXPECT_TRUE(listFolder(downloads()).empty());

    // A download cut off part way is deleted too: the next start begins again.
    server.serve("/Launcher-2.exe", kOffered);
    state.failAfter = 10;
    EXPECT_EQ(selfUpdate(state, running), SelfUpdateOutcome::Failed);
    EXPECT_EQ(state.lastError, L"The download broke off (a test).");
    EXPECT_TRUE(listFolder(downloads()).empty());
    EXPECT_EQ(installed(), kRunning);
}

TEST_F(SelfUpdate, TheOfferedLauncherStartedElsewhereBringsAnOlderInstalledCopyUpToIt) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", kOlder);
    const std::wstring elsewhere = temp.writeFile(L"Vorlane Launcher.exe", kOffered);
    offer(kOffered);
    EXPECT_EQ(selfUpdate(state, elsewhere), SelfUpdateOutcome::InstalledCopyUpdated);
    EXPECT_FALSE(asked("/Launcher-2.exe"));
    EXPECT_EQ(installed(), kOffered);
    EXPECT_EQ(replaced(), kOlder);
    EXPECT_EQ(readTestFile(elsewhere), kOffered);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"The installed launcher is now this one (launcher " +
                                               launcherVersion() + L"); the old one is kept."});

    // Now the installed copy is the same: nothing more to do.
    EXPECT_EQ(selfUpdate(state, elsewhere), SelfUpdateOutcome::UpToDate);
    EXPECT_EQ(replaced(), kOlder);
}

TEST_F(SelfUpdate, TheOfferedLauncherStartedElsewhereWithNothingInstalledIsUpToDate) {
    DeleteFileW(installedLauncherPath(state).c_str());
    const std::wstring elsewhere = temp.writeFile(L"Vorlane Launcher.exe", kOffered);
    offer(kOffered);
    EXPECT_EQ(selfUpdate(state, elsewhere), SelfUpdateOutcome::UpToDate);
    EXPECT_FALSE(fileExists(installedLauncherPath(state)));
}

TEST(StartNewLauncher, ALauncherThatCantBeStartedLeavesThisOneRunning) {
    TempFolder temp{L"restart"};
    LauncherState state;
    state.rootFolder = temp.path();
    openLog(state, joinPath(state.rootFolder, L"launcher.log"));
    EXPECT_FALSE(startNewLauncher(state));
    closeLog(state);
    EXPECT_EQ(logMessages(state.rootFolder),
              std::vector<std::wstring>{L"Couldn't start the new launcher (error 2); carrying on with this one."});
}

TEST_F(SelfUpdate, TheNewLaunchersDownloadIsWordedAsItComes) {
    const std::string program(300 * 1024, 'L');
    offer(program);
    std::vector<std::pair<double, std::wstring>> heard;
    EXPECT_EQ(selfUpdate(state, running, [&](double fraction, const std::wstring& sentence) {
                  heard.emplace_back(fraction, sentence);
              }),
              SelfUpdateOutcome::Updated)
        << toUtf8(state.lastError);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().first, 1.0);
    // A speed may follow when the last block came a second or more after the first.
    EXPECT_EQ(heard.back().second.rfind(L"Downloading Launcher-2.exe... 300 of 300 KB", 0), 0u)
        << toUtf8(heard.back().second);
    EXPECT_EQ(installed(), program);
}
