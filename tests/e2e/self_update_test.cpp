// The launcher updating itself, for real: launcher programs published with the
// release tool onto the nginx build server, the test-key launcher (whose version
// counts as a release) run from its installed place or from elsewhere, and the
// test reads the launcher files, the exit codes, launcher.log and nginx's log.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "core/files.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "support/build_server.h"
#include "support/launcher_test.h"
#include "support/launcher_process.h"
#include "support/nginx_server.h"
#include "support/publisher.h"
#include "support/rename_lock.h"
#include "support/temp_folder.h"
#include "support/window_driver.h"
#include "ui/main_window_controls.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// The version the test-key launcher carries, and the one the newer launcher is published as.
const std::wstring kTestKeyVersion = L"7e57ab1e";
const std::wstring kNewerVersion = L"d3e4f5a6";

DWORD windowProcess(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

std::wstring statusTextOf(HWND window) { return controlText(window, kStatusTextId); }

// Closes a launcher window and waits for its process to end; gives the exit code.
DWORD closeLauncherWindow(HWND window) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, windowProcess(window));
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!process) return (DWORD)-1;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

class SelfUpdate : public LauncherTest {
protected:
    SelfUpdate() : LauncherTest(L"self-update") {}

    std::wstring installed = joinPath(root, L"Vorlane Launcher.exe");
    std::wstring replaced = joinPath(root, L"Vorlane Launcher.old.exe");

    void SetUp() override {
        LauncherTest::SetUp();
        // launcher.json is read from the server whose build list counted: an empty, signed one does.
        signOnServer(L"builds.json", "[]\n");
        makeFolderTree(root);
    }

    void signOnServer(const std::wstring& name, const std::string& text) {
        const std::wstring path = joinPath(server->folder(), name);
        ASSERT_TRUE(writeFileAtomically(path, text));
        const PublishRun run = runPublisher(temp, {L"sign", keptTestKeyFile(), path});
        ASSERT_EQ(run.exitCode, 0u) << run.err;
    }

    void publishLauncher(const std::wstring& program, const std::wstring& version) {
        const PublishRun run = runPublisher(
            temp, {L"launcher", server->folder(), keptTestKeyFile(), program, L"--version", version});
        ASSERT_EQ(run.exitCode, 0u) << run.err;
    }

    static std::wstring servedName(const std::wstring& version) { return L"Vorlane-Launcher-" + version + L".exe"; }
    void install(const std::wstring& program) { ASSERT_TRUE(CopyFileW(program.c_str(), installed.c_str(), FALSE)); }

    DWORD selfUpdateFrom(const std::wstring& program) {
        return runToEnd(program, launcherArguments({L"--auto", L"self-update"}), 120000);
    }

    bool downloadsEmpty() { return listFolder(joinPath(root, L"Downloads")).empty(); }
};

}  // namespace

TEST_F(SelfUpdate, TheOfferedLauncherRunningFromItsPlaceIsUpToDateWithoutADownload) {
    install(testKeyLauncher());
    publishLauncher(testKeyLauncher(), kTestKeyVersion);
    EXPECT_EQ(selfUpdateFrom(installed), 0u);
    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"Self-update: up to date.");
    EXPECT_EQ(lines.back(), L"Done (self-update, exit 0, installed: nothing).");

    // The record was read; the program it names was never asked for.
    EXPECT_EQ(nginxRequestsFor(requestPath(L"launcher.json")).size(), 1u);
    EXPECT_TRUE(nginxRequestsFor(requestPath(servedName(kTestKeyVersion))).empty());
    EXPECT_FALSE(fileExists(replaced));
    EXPECT_EQ(readTestFile(installed), readTestFile(testKeyLauncher()));
}

TEST_F(SelfUpdate, ANewerLauncherIsDownloadedCheckedAndSwappedInKeepingTheOldOne) {
    install(testKeyLauncher());
    publishLauncher(developerLauncher(), kNewerVersion);

    EXPECT_EQ(selfUpdateFrom(installed), 0u);
    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3],
              L"Updated the launcher from " + kTestKeyVersion + L" to " + kNewerVersion + L"; the old one is kept.");
    EXPECT_EQ(lines[lines.size() - 2], L"Self-update: updated.");
    EXPECT_EQ(lines.back(), L"Done (self-update, exit 0, installed: nothing).");
    // The command doesn't start the new launcher.
    EXPECT_FALSE(contains(lines, L"Started the new launcher."));

    EXPECT_EQ(readTestFile(installed), readTestFile(developerLauncher()));
    EXPECT_EQ(readTestFile(replaced), readTestFile(testKeyLauncher()));
    EXPECT_TRUE(downloadsEmpty());
    EXPECT_EQ(nginxRequestsFor(requestPath(servedName(kNewerVersion))).size(), 1u);
}

TEST_F(SelfUpdate, AWindowStartThatUpdatedHandsOverToTheNewLauncherWithUpdated) {
    install(testKeyLauncher());
    publishLauncher(developerLauncher(), kNewerVersion);

    // The running launcher swaps the new one in, starts it and goes.
    EXPECT_EQ(runToEnd(installed, launcherArguments(), 120000), 0u);
    std::vector<std::wstring> lines = log();
    const auto started = std::find(lines.begin(), lines.end(), L"Started the new launcher.");
    ASSERT_NE(started, lines.end());
    ASSERT_NE(started, lines.begin());
    EXPECT_EQ(*(started - 1),
              L"Updated the launcher from " + kTestKeyVersion + L" to " + kNewerVersion + L"; the old one is kept.");

    // The new launcher waited for the old one's window lock, then opened its window saying what happened.
    HWND window = nullptr;
    ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
    std::wstring status;
    EXPECT_TRUE(waitFor([&] {
        status = statusTextOf(window);
        return !status.empty();
    }));
    EXPECT_EQ(status.rfind(L"The launcher updated itself to ", 0), 0u) << toUtf8(status);
    EXPECT_TRUE(status.ends_with(L" (the old one is kept beside it).")) << toUtf8(status);
    EXPECT_EQ(closeLauncherWindow(window), 0u);
    EXPECT_EQ(readTestFile(replaced), readTestFile(testKeyLauncher()));

    // Started again as the old copy, it hands over to the installed launcher at once.
    const size_t linesBefore = log().size();
    LauncherProcess oldCopy(replaced, launcherArguments());
    ASSERT_TRUE(oldCopy.started());
    EXPECT_EQ(oldCopy.wait(), 0u);
    ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
    EXPECT_NE(windowProcess(window), oldCopy.processId());
    // This time the installed launcher was started without --updated.
    EXPECT_FALSE(statusTextOf(window).starts_with(L"The launcher updated itself")) << toUtf8(statusTextOf(window));
    EXPECT_EQ(closeLauncherWindow(window), 0u);
    lines = log();
    ASSERT_GT(lines.size(), linesBefore);
    EXPECT_TRUE(lines[linesBefore].starts_with(L"Started launcher ")) << toUtf8(lines[linesBefore]);
    EXPECT_FALSE(lines[linesBefore].starts_with(L"Started launcher " + kTestKeyVersion)) << toUtf8(lines[linesBefore]);
}

TEST_F(SelfUpdate, ADownloadThatDoesntMatchTheFingerprintIsDeletedAndTheUpdateFails) {
    install(testKeyLauncher());
    publishLauncher(developerLauncher(), kNewerVersion);
    // The program is damaged on the server after it was listed.
    const std::wstring served = joinPath(server->folder(), servedName(kNewerVersion));
    std::string bytes = readTestFile(served);
    ASSERT_GT(bytes.size(), 1000u);
    bytes[bytes.size() / 2] ^= 0x5A;
    ASSERT_TRUE(writeFileAtomically(served, bytes));

    EXPECT_EQ(selfUpdateFrom(installed), 1u);
    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3],
              L"Didn't update the launcher: The new launcher doesn't match the build server's fingerprint.");
    EXPECT_EQ(lines[lines.size() - 2], L"Self-update: failed.");
    EXPECT_EQ(lines.back(), L"Done (self-update, exit 1, installed: nothing).");
    EXPECT_TRUE(downloadsEmpty());
    EXPECT_EQ(readTestFile(installed), readTestFile(testKeyLauncher()));
    EXPECT_FALSE(fileExists(replaced));
}

TEST_F(SelfUpdate, ARecordNamingAFileOutsideTheServersFolderOffersNone) {
    install(testKeyLauncher());
    publishLauncher(developerLauncher(), kNewerVersion);
    const std::wstring sha256 = [&] {
        const std::string record = readTestFile(joinPath(server->folder(), L"launcher.json"));
        const size_t at = record.find("\"Sha256\": \"");
        return toUtf16(record.substr(at + 11, 64));
    }();
    for (const std::wstring& file : {L"../" + servedName(kNewerVersion), L"sub/" + servedName(kNewerVersion)}) {
        signOnServer(L"launcher.json", "{\"File\": \"" + toUtf8(file) + "\", \"Version\": \"" + toUtf8(kNewerVersion) +
                                           "\", \"Sha256\": \"" + toUtf8(sha256) + "\"}\n");
        EXPECT_EQ(selfUpdateFrom(installed), 0u) << toUtf8(file);
        const std::vector<std::wstring> lines = log();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], L"Self-update: none offered.");
        EXPECT_TRUE(nginxRequestsFor(requestPath(file)).empty());
    }
    EXPECT_TRUE(nginxRequestsFor(requestPath(servedName(kNewerVersion))).empty());
    EXPECT_EQ(readTestFile(installed), readTestFile(testKeyLauncher()));
    EXPECT_FALSE(fileExists(replaced));
}

TEST_F(SelfUpdate, TheOfferedLauncherStartedElsewhereUpdatesAnOlderInstalledCopy) {
    install(developerLauncher());
    publishLauncher(testKeyLauncher(), kTestKeyVersion);

    // The test-key launcher runs from the build's own folder.
    EXPECT_EQ(selfUpdateFrom(testKeyLauncher()), 0u);
    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3],
              L"The installed launcher is now this one (launcher " + kTestKeyVersion + L"); the old one is kept.");
    EXPECT_EQ(lines[lines.size() - 2], L"Self-update: the installed copy updated.");
    EXPECT_EQ(readTestFile(installed), readTestFile(testKeyLauncher()));
    EXPECT_EQ(readTestFile(replaced), readTestFile(developerLauncher()));
    EXPECT_TRUE(nginxRequestsFor(requestPath(servedName(kTestKeyVersion))).empty());
}

TEST_F(SelfUpdate, AnInstalledLauncherLockedAgainstRenamingFailsTheUpdateAndNothingChanges) {
    install(testKeyLauncher());
    publishLauncher(developerLauncher(), kNewerVersion);
    const std::string before = readTestFile(installed);
    {
        RenameLock lock(installed);
        ASSERT_TRUE(lock.held());
        EXPECT_EQ(selfUpdateFrom(installed), 1u);
    }
    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 3u);
    const std::wstring& failed = lines[lines.size() - 3];
    EXPECT_EQ(failed.rfind(L"Failed: Couldn't set the old launcher aside (error ", 0), 0u) << toUtf8(failed);
    EXPECT_TRUE(failed.ends_with(L").")) << toUtf8(failed);
    EXPECT_EQ(lines[lines.size() - 2], L"Self-update: failed.");
    EXPECT_EQ(lines.back(), L"Done (self-update, exit 1, installed: nothing).");
    EXPECT_EQ(readTestFile(installed), before);
    EXPECT_FALSE(fileExists(replaced));
    EXPECT_TRUE(downloadsEmpty());
}

TEST_F(SelfUpdate, OtherCommandsAndADevelopersVersionDontCheck) {
    install(testKeyLauncher());
    publishLauncher(developerLauncher(), kNewerVersion);
    EXPECT_EQ(runToEnd(installed, launcherArguments({L"--auto", L"repair-shortcuts"}), 120000), 0u);
    // A developer's version reports "none offered" for the command that asks.
    EXPECT_EQ(selfUpdateFrom(devVersionLauncher()), 0u);
    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"Self-update: none offered.");
    EXPECT_TRUE(nginxRequestsFor(requestPath(L"launcher.json")).empty());
    EXPECT_EQ(readTestFile(installed), readTestFile(testKeyLauncher()));
    EXPECT_FALSE(fileExists(replaced));
}

TEST_F(SelfUpdate, ALauncherStartedWithUpdatedWaitsForTheOldOneToClose) {
    // The old launcher's window holds the lock for this root.
    LauncherProcess old(developerLauncher(), launcherArguments());
    HWND oldWindow = nullptr;
    ASSERT_TRUE(waitFor([&] { return (oldWindow = findLauncherWindow(instanceHash(root))) != nullptr; }));

    LauncherProcess fresh(developerLauncher(), launcherArguments({L"--updated"}));
    ASSERT_TRUE(fresh.started());
    EXPECT_EQ(closeLauncherWindow(oldWindow), 0u);
    HWND window = nullptr;
    ASSERT_TRUE(waitFor([&] {
        window = findLauncherWindow(instanceHash(root));
        return window && windowProcess(window) == fresh.processId();
    }));
    EXPECT_TRUE(waitFor([&] { return statusTextOf(window).starts_with(L"The launcher updated itself to "); }));
    EXPECT_EQ(closeLauncherWindow(window), 0u);
    EXPECT_EQ(fresh.wait(), 0u);
    // A start without --updated would have handed over to the first window instead of waiting for it.
    EXPECT_FALSE(contains(log(), L"Opened again: brought this window to the front instead."));
}

TEST_F(SelfUpdate, ALauncherStartedWithUpdatedGivesUpAfterFifteenSeconds) {
    LauncherProcess old(developerLauncher(), launcherArguments());
    HWND oldWindow = nullptr;
    ASSERT_TRUE(waitFor([&] { return (oldWindow = findLauncherWindow(instanceHash(root))) != nullptr; }));

    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(runToEnd(developerLauncher(), launcherArguments({L"--updated"}), 60000), 0u);
    EXPECT_GE(GetTickCount64() - start, 14500u);
    // Then it was a second start: the first window came forward.
    EXPECT_TRUE(waitFor([&] { return contains(log(), L"Opened again: brought this window to the front instead."); }));
    EXPECT_EQ(closeLauncherWindow(oldWindow), 0u);
}
