// The launcher's main job, run for real: the test-key launcher installs,
// updates, repairs, plays, goes back and uninstalls builds published with the
// release tool onto the nginx build server, and the test reads the files, the
// exit codes and launcher.log line by line.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "install/piece_install.h"
#include "net/build_server.h"
#include "support/build_server.h"
#include "support/installed_game.h"
#include "support/launcher_test.h"
#include "support/launcher_process.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"
#include "support/zip_writer.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kOld = L"a1b2c3d";
const std::wstring kNew = L"b2c3d4e5f60718293a4b";
const std::wstring kNewest = L"c3d4e5f";
const std::wstring kOldReleased = L"2026-03-01T10:00:00Z";
const std::wstring kNewReleased = L"2026-04-01T10:00:00Z";
const std::wstring kNewestReleased = L"2026-05-01T10:00:00Z";

class Install : public LauncherTest {
protected:
    Install() : LauncherTest(L"install") {}
    void TearDown() override { closeGames(); }

    std::wstring game = joinPath(root, L"Game");

    std::wstring savedOf(const std::wstring& commit) { return joinPath(buildFolderOf(commit), L"Vorlane\\Saved"); }

    // The folders in the install folder, sorted.
    std::vector<std::wstring> installedFolders() {
        std::vector<std::wstring> names;
        for (const FolderEntry& entry : listFolder(game))
            if (entry.isFolder) names.push_back(entry.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    void closeGames() { endStartedGames(root); }

    void savePlayerGame(const std::wstring& commit, const std::string& text) {
        makeFolderTree(joinPath(savedOf(commit), L"SaveGames"));
        ASSERT_TRUE(writeFileAtomically(joinPath(savedOf(commit), L"SaveGames\\slot1.sav"), text));
    }
};

std::wstring listLine(const std::wstring& url, size_t count, const std::wstring& latest) {
    return L"The build server at " + url + L" lists " + std::to_wstring(count) + L" builds; the latest is " + latest +
           L".";
}

}  // namespace

TEST_F(Install, FreshInstallLaysOutTheBuildRecordsItAndMakesShortcuts) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);

    EXPECT_TRUE(fileExists(joinPath(buildFolderOf(kOld), L"Vorlane.exe")));
    EXPECT_TRUE(fileExists(joinPath(savedOf(kOld), L"Config\\Default.ini")));
    EXPECT_EQ(readTestFile(joinPath(buildFolderOf(kOld), L"Build.ini")), buildIniText(kOld));
    EXPECT_EQ(installedFolders(), std::vector<std::wstring>{kOld});

    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_EQ(setting(L"CurrentReleased"), kOldReleased);
    EXPECT_EQ(setting(L"Previous"), L"");
    EXPECT_EQ(setting(L"HeldBack"), L"");
    EXPECT_EQ(setting(L"InstallDir"), game);
    EXPECT_EQ(setting(L"NewestList"), kOldReleased);

    // The download is gone once installed, and nothing half-done is left.
    EXPECT_TRUE(listFolder(joinPath(root, L"Downloads")).empty());
    EXPECT_FALSE(folderExists(joinPath(game, kOld + L".new")));

    // The launcher copied itself to the root, and both shortcuts point at that copy.
    const std::wstring installedLauncher = joinPath(root, L"Vorlane Launcher.exe");
    EXPECT_TRUE(fileExists(installedLauncher));
    EXPECT_TRUE(fileExists(joinPath(shortcuts, L"Desktop\\Vorlane.lnk")));
    EXPECT_TRUE(fileExists(joinPath(shortcuts, L"Programs\\Vorlane\\Vorlane.lnk")));

    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], listLine(server->url(), 1, kOld));
    EXPECT_EQ(lines[lines.size() - 2], L"Installed build " + kOld + L" (previous: none).");
    EXPECT_EQ(lines.back(), L"Done (install, exit 0, installed: " + kOld + L").");
}

TEST_F(Install, AnAutoRunWritesItsLogLinesAndProgressToItsStandardOutput) {
    const std::wstring served = server->publishBuild(kOld, kOldReleased, 3 << 20);
    std::string output;
    ASSERT_EQ(runCommandReading(L"install", output), 0u);

    // UTF-8 lines ending in CR LF, each with the log's time stamp; the log's lines in order, progress between them.
    std::vector<std::wstring> logged, progress;
    std::vector<std::string> progressStamps;
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = output.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << output.substr(start);
        const std::string line = output.substr(start, end - start);
        start = end + 2;
        ASSERT_GE(line.size(), 11u);
        ASSERT_TRUE(line[0] == '[' && line[9] == ']' && line[10] == ' ') << line;
        const std::wstring message = toUtf16(line.substr(11));
        if (message.rfind(L"Progress: ", 0) == 0) {
            progress.push_back(message.substr(10));
            progressStamps.push_back(line.substr(0, 10));
        } else {
            logged.push_back(message);
        }
    }
    EXPECT_EQ(logged, log());
    ASSERT_FALSE(progress.empty());
    const std::wstring downloading = L"Downloading " + fileNameOf(served) + L"...";
    EXPECT_EQ(progress.front(), downloading);
    // At most one a second: no two in the same second.
    for (size_t i = 1; i < progressStamps.size(); ++i) EXPECT_NE(progressStamps[i], progressStamps[i - 1]) << i;
}

TEST_F(Install, ABrokenDownloadCarriesOnFromWhereItStoppedWithARangeRequest) {
    const std::wstring served = server->publishBuild(kOld, kOldReleased, 3 << 20);
    const std::wstring zipName = fileNameOf(served);
    const std::wstring part = joinPath(root, L"Downloads\\" + zipName + L".part");

    const std::wstring zipPath = requestPath(zipName);
    const size_t requestsBefore = nginxRequestsFor(zipPath).size();
    ASSERT_EQ(runCommand(L"install", {L"--fail-after", L"1500000"}), 1u);
    std::vector<std::wstring> lines = newLogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              L"Failed: The download broke off (a test). (the next try carries on where it stopped)");
    EXPECT_EQ(lines.back(), L"Done (install, exit 1, installed: nothing).");
    ASSERT_TRUE(fileExists(part));
    const std::string partial = readTestFile(part);
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LE(partial.size(), 1500000u);
    EXPECT_EQ(partial, readTestFile(served).substr(0, partial.size()));
    EXPECT_EQ(setting(L"Current"), L"");
    EXPECT_FALSE(folderExists(joinPath(game, kOld)));

    ASSERT_EQ(runCommand(L"install"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Carrying on the download of " + zipName + L" from " +
                                    std::to_wstring(partial.size() >> 20) + L" MB."));
    EXPECT_TRUE(contains(lines, L"Installed build " + kOld + L" (previous: none)."));
    EXPECT_FALSE(fileExists(part));
    EXPECT_TRUE(fileExists(joinPath(buildFolderOf(kOld), L"Vorlane.exe")));

    // The second download asked only for the rest: nginx answered it with 206.
    const std::vector<std::string> requests = nginxRequestsFor(zipPath);
    ASSERT_EQ(requests.size(), requestsBefore + 2);
    EXPECT_NE(requests.back().find("\" 206 "), std::string::npos) << requests.back();
}

TEST_F(Install, AZipThatDoesNotMatchItsFingerprintIsRefusedAndTheInstalledBuildStillPlays) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);

    // The newer build's zip is damaged on the server after it was listed.
    const std::wstring served = server->publishBuild(kNew, kNewReleased);
    std::string bytes = readTestFile(served);
    ASSERT_GT(bytes.size(), 1000u);
    bytes[bytes.size() / 2] ^= 0x5A;
    {
        HANDLE file = CreateFileW(served.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
    }
    newLogLines();
    EXPECT_EQ(runCommand(L"update"), 1u);
    const std::vector<std::wstring> lines = newLogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3].rfind(L"SHA-256 ", 0), 0u);
    EXPECT_TRUE(lines[lines.size() - 3].find(L", expected ") != std::wstring::npos);
    EXPECT_EQ(lines[lines.size() - 2],
              L"Failed: The download doesn't match the build server's fingerprint; it wasn't installed.");
    EXPECT_EQ(lines.back(), L"Done (update, exit 1, installed: " + kOld + L").");

    EXPECT_TRUE(listFolder(joinPath(root, L"Downloads")).empty());
    EXPECT_EQ(installedFolders(), std::vector<std::wstring>{kOld});
    EXPECT_EQ(setting(L"Current"), kOld);

    ASSERT_EQ(runCommand(L"play"), 0u);
    EXPECT_TRUE(waitFor([&] { return fileExists(joinPath(buildFolderOf(kOld), L"started.txt")); }));
    EXPECT_TRUE(contains(newLogLines(), L"Started build " + kOld + L"."));
}

TEST_F(Install, UpdateCarriesSavesOverAndGoingBackHoldsTheNewerBuildBack) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    savePlayerGame(kOld, "wave 12");

    server->publishBuild(kNew, kNewReleased);
    newLogLines();
    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Installed build " + kNew + L" (previous: " + kOld + L")."));
    EXPECT_EQ(readTestFile(joinPath(savedOf(kNew), L"SaveGames\\slot1.sav")), "wave 12");
    EXPECT_EQ(readTestFile(joinPath(buildFolderOf(kNew), L"Build.ini")), buildIniText(kNew));
    EXPECT_EQ(installedFolders(), (std::vector<std::wstring>{kOld, kNew}));
    EXPECT_EQ(setting(L"Previous"), kOld);
    EXPECT_EQ(setting(L"PreviousReleased"), kOldReleased);

    // The player goes on in the new build, then goes back: the saves come along.
    savePlayerGame(kNew, "wave 13");
    ASSERT_EQ(runCommand(L"back"), 0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Went back from build " + kNew + L" to " + kOld + L"."));
    EXPECT_EQ(lines.back(), L"Done (back, exit 0, installed: " + kOld + L").");
    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_EQ(setting(L"CurrentReleased"), kOldReleased);
    EXPECT_EQ(setting(L"Previous"), kNew);
    EXPECT_EQ(setting(L"HeldBack"), kNew);
    EXPECT_EQ(readTestFile(joinPath(savedOf(kOld), L"SaveGames\\slot1.sav")), "wave 13");

    // The build gone back from isn't offered again...
    ASSERT_EQ(runCommand(L"update"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Already up to date."));
    EXPECT_EQ(lines.back(), L"Done (update, exit 0, installed: " + kOld + L").");
    EXPECT_EQ(setting(L"Current"), kOld);

    // ...and going back again returns to it and ends the hold.
    ASSERT_EQ(runCommand(L"back"), 0u);
    EXPECT_EQ(setting(L"Current"), kNew);
    EXPECT_EQ(setting(L"Previous"), kOld);
    EXPECT_EQ(setting(L"HeldBack"), L"");

    // Held back or not, a newer build is offered once it is listed.
    ASSERT_EQ(runCommand(L"back"), 0u);
    EXPECT_EQ(setting(L"HeldBack"), kNew);
    server->publishBuild(kNewest, kNewestReleased);
    newLogLines();
    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Installed build " + kNewest + L" (previous: " + kOld + L")."));
    EXPECT_EQ(installedFolders(), (std::vector<std::wstring>{kOld, kNewest}));
    EXPECT_EQ(setting(L"HeldBack"), L"");
}

TEST_F(Install, RepairingTheCurrentBuildKeepsPreviousAndTheBuildsOwnSaves) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    server->publishBuild(kNew, kNewReleased);
    ASSERT_EQ(runCommand(L"update"), 0u);
    savePlayerGame(kNew, "wave 20");

    // The game's program goes missing: the install is broken and an update repairs it.
    ASSERT_TRUE(DeleteFileW(joinPath(buildFolderOf(kNew), L"Vorlane.exe").c_str()));
    newLogLines();
    ASSERT_EQ(runCommand(L"update"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Build " + kNew +
                                    L"'s game files are missing: installing repairs it, keeping the saves."));
    EXPECT_TRUE(contains(lines, L"Installed build " + kNew + L" (previous: " + kOld + L")."));
    EXPECT_TRUE(fileExists(joinPath(buildFolderOf(kNew), L"Vorlane.exe")));
    EXPECT_EQ(readTestFile(joinPath(savedOf(kNew), L"SaveGames\\slot1.sav")), "wave 20");
    EXPECT_EQ(setting(L"Previous"), kOld);
}

TEST_F(Install, SuppliedZipsAreNamedByTheirCommitAndUnlistedOnesSkipTheFingerprint) {
    TempFolder zips{L"zips"};
    const std::wstring good = makeBuildZip(zips.path(), L"d4e5f6a7b8");
    const std::wstring upper = zips.file(L"Vorlane-ABCDEF1.zip");
    ASSERT_TRUE(CopyFileW(good.c_str(), upper.c_str(), FALSE));

    EXPECT_EQ(runCommand(L"install", {L"--zip", upper}), 1u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_EQ(lines[lines.size() - 2], L"Failed: A build's zip is named Vorlane-<commit>.zip, the commit in hex; this "
                                       L"is Vorlane-ABCDEF1.zip.");
    EXPECT_EQ(setting(L"Current"), L"");
    EXPECT_TRUE(fileExists(upper));

    // The listed build is another one; this zip's commit isn't listed, so there's no fingerprint to check.
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install", {L"--zip", good}), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build d4e5f6a7b8 (previous: none)."));
    EXPECT_EQ(setting(L"Current"), L"d4e5f6a7b8");
    EXPECT_EQ(setting(L"CurrentReleased"), L"");
    EXPECT_TRUE(fileExists(good));  // a supplied zip is the player's: it stays
}

TEST_F(Install, ASuppliedZipOfAListedBuildMustMatchItsFingerprint) {
    TempFolder zips{L"zips"};
    server->publishBuild(kOld, kOldReleased);
    // Another zip of the same commit differs from the listed one.
    const std::wstring other = makeBuildZip(zips.path(), kOld);
    std::string bytes = readTestFile(other);
    bytes += "trailing";
    ASSERT_TRUE(writeFileAtomically(other, bytes));

    EXPECT_EQ(runCommand(L"install", {L"--zip", other}), 1u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines,
                         L"Failed: The download doesn't match the build server's fingerprint; it wasn't installed."));
    EXPECT_TRUE(fileExists(other));
    EXPECT_EQ(setting(L"Current"), L"");
}

TEST_F(Install, PlayStartsTheGameOnceAndBringsItForwardTheSecondTime) {
    EXPECT_EQ(runCommand(L"play"), 1u);
    EXPECT_EQ(newLogLines().back(), L"Done (play, exit 1, installed: nothing).");

    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    newLogLines();
    ASSERT_EQ(runCommand(L"play"), 0u);
    const std::wstring marker = joinPath(buildFolderOf(kOld), L"started.txt");
    std::string firstGame;  // read until it holds the number: the game may still hold the file it renamed
    ASSERT_TRUE(waitFor([&] { return !(firstGame = readTestFile(marker)).empty(); }));
    EXPECT_TRUE(contains(newLogLines(), L"Started build " + kOld + L"."));

    ASSERT_EQ(runCommand(L"play"), 0u);
    EXPECT_TRUE(contains(newLogLines(),
                         L"The game is already running (brought it to the front), so another isn't started."));
    EXPECT_EQ(readTestFile(marker), firstGame);
}

TEST_F(Install, UninstallKeepsPlayerDataForTheNextInstallAndUninstallAllDoesNot) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    savePlayerGame(kOld, "wave 7");
    // Something of the player's own in the install folder is none of the launcher's business.
    ASSERT_TRUE(writeFileAtomically(joinPath(game, L"notes.txt"), "mine"));
    makeFolderTree(joinPath(game, L"Screenshots"));

    newLogLines();
    ASSERT_EQ(runCommand(L"uninstall"), 0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Kept your settings and saves in " + joinPath(root, L"PlayerData") + L"."));
    EXPECT_TRUE(contains(lines, L"Uninstalled; player data kept."));
    EXPECT_EQ(lines.back(), L"Done (uninstall, exit 0, installed: nothing).");
    EXPECT_EQ(readTestFile(joinPath(root, L"PlayerData\\SaveGames\\slot1.sav")), "wave 7");
    EXPECT_FALSE(folderExists(joinPath(game, kOld)));
    EXPECT_EQ(readTestFile(joinPath(game, L"notes.txt")), "mine");
    EXPECT_TRUE(folderExists(joinPath(game, L"Screenshots")));
    EXPECT_FALSE(fileExists(joinPath(shortcuts, L"Desktop\\Vorlane.lnk")));
    EXPECT_EQ(setting(L"Current"), L"");

    // The next install gets the kept saves back.
    ASSERT_EQ(runCommand(L"install"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Restored your kept settings and saves."));
    EXPECT_EQ(readTestFile(joinPath(savedOf(kOld), L"SaveGames\\slot1.sav")), "wave 7");

    ASSERT_EQ(runCommand(L"uninstall-all"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Uninstalled, player data too."));
    EXPECT_FALSE(folderExists(joinPath(root, L"PlayerData")));
    EXPECT_FALSE(folderExists(joinPath(game, kOld)));
}

TEST_F(Install, NothingIsInstalledFromAnUnsignedListOrAnUnreachableServer) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_TRUE(DeleteFileW(joinPath(server->folder(), L"builds.json.sig").c_str()));
    EXPECT_EQ(runCommand(L"install"), 1u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_EQ(lines[lines.size() - 2],
              L"Nothing was installed: no build server offered a build list that counts (the list isn't signed).");
    EXPECT_FALSE(folderExists(game));

    EXPECT_EQ(runToEnd(testKeyLauncher(), {L"--root", root, L"--server", unusedLocalServer(), L"--shortcut-folder",
                                           shortcuts, L"--auto", L"update"}),
              1u);
    lines = newLogLines();
    EXPECT_EQ(lines[lines.size() - 2], L"Couldn't reach a build server, so nothing was checked or installed.");
}

TEST_F(Install, AServerThatTricklesItsListIsPassedOverForTheNext) {
    server->publishBuild(kOld, kOldReleased);
    // One byte a second of a list that never ends.
    TestHttpServer trickling;
    TestRoute route;
    route.generatedSize = 1 << 30;
    route.trickleMs = 1000;
    trickling.serve("/builds.json", route);

    EXPECT_EQ(runToEnd(testKeyLauncher(),
                       launcherArguments({L"--auto", L"install"}, trickling.baseUrl() + L";" + server->url()), 120000),
              0u);

    const std::vector<std::wstring> lines = log();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], trickling.baseUrl() + L": The build server didn't send it all within 20 seconds.");
    EXPECT_EQ(lines[2], listLine(server->url(), 1, kOld));
    EXPECT_TRUE(contains(lines, L"Installed build " + kOld + L" (previous: none)."));
    EXPECT_EQ(lines.back(), L"Done (install, exit 0, installed: " + kOld + L").");
}

TEST_F(Install, GoingBackWithoutAPreviousBuildFails) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    newLogLines();
    EXPECT_EQ(runCommand(L"back"), 1u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_EQ(lines[lines.size() - 2], L"Failed: There's no previous build to go back to.");
    EXPECT_EQ(setting(L"Current"), kOld);
}

namespace {

// The files of a build of `commit`, in the order the zip holds them, the game program first.
std::vector<ZipWriterEntry> buildEntries(const std::wstring& commit) {
    const std::string top = toUtf8(L"Vorlane-" + commit) + "/";
    return {{top, ""},
            {top + "Vorlane.exe", readTestFile(joinPath(testProgramFolder(), L"fake_game\\Vorlane.exe"))},
            {top + "Build.ini", buildIniText(commit)},
            {top + "Content/", ""},
            {top + "Content/Paks/", ""},
            {top + "Content/Paks/Data.pak", std::string(300000, 'd')},
            {top + "Content/Movies.pak", std::string(2000, 'm')}};
}

// Sets an environment variable for the launchers this test starts (and their tar.exe).
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_, nullptr); }

private:
    const wchar_t* name_;
};

}  // namespace

// A tar that stops early (told to by the shim) and still says all went well:
// the files left out are found before anything is recorded.
TEST_F(Install, AnUnpackThatLeavesFilesOutIsNotRecordedAsInstalled) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::wstring zip = temp.file(buildZipName(kNew));
    ASSERT_TRUE(writeZip(zip, buildEntries(kNew)));
    ASSERT_TRUE(server->publish(zip, kNewReleased));

    newLogLines();
    {
        ScopedEnvironment stopEarly(L"VORLANE_TAR_STOP_AFTER", L"4");
        EXPECT_EQ(runCommand(L"update"), 1u);
    }
    const std::vector<std::wstring> lines = newLogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"Failed: Unpacking left out 2 of the build's 4 files (Vorlane-" + kNew +
                                           L"/Content/Paks/Data.pak among them), so it wasn't installed.");
    EXPECT_EQ(lines.back(), L"Done (update, exit 1, installed: " + kOld + L").");
    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_EQ(installedFolders(), std::vector<std::wstring>{kOld});

    // A whole unpack installs the same zip.
    EXPECT_EQ(runCommand(L"update"), 0u);
    EXPECT_EQ(setting(L"Current"), kNew);
    EXPECT_TRUE(readTestFile(joinPath(buildFolderOf(kNew), L"Content\\Paks\\Data.pak")) == std::string(300000, 'd'));
}

// A link in a build zip would lead the files after it outside the build, and
// stay behind where no removal reaches it: the zip is refused before it is unpacked.
TEST_F(Install, ASignedZipHoldingALinkIsRefusedWritesNothingOutsideAndLeavesNothingBehind) {
    server->publishBuild(kOld, kOldReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::wstring outside = temp.makeFolder(L"Outside");
    std::vector<ZipWriterEntry> entries = buildEntries(kNew);
    const std::string top = toUtf8(L"Vorlane-" + kNew) + "/";
    entries.insert(entries.begin() + 2, ZipWriterEntry{top + "Saved", "../../../../Outside", true});
    entries.push_back({top + "Saved/evil.txt", "written through the link"});
    const std::wstring zip = temp.file(buildZipName(kNew));
    ASSERT_TRUE(writeZip(zip, entries));
    ASSERT_TRUE(server->publish(zip, kNewReleased));

    newLogLines();
    EXPECT_EQ(runCommand(L"update"), 1u);
    const std::vector<std::wstring> lines = newLogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"Failed: The zip holds a link, Vorlane-" + kNew +
                                           L"/Saved, which a build never has, so it wasn't installed.");
    EXPECT_TRUE(listFolder(outside).empty());
    EXPECT_FALSE(pathExists(joinPath(game, kNew + L".new")));
    EXPECT_EQ(installedFolders(), std::vector<std::wstring>{kOld});

    EXPECT_EQ(runCommand(L"uninstall"), 0u);
    EXPECT_EQ(newLogLines().back(), L"Done (uninstall, exit 0, installed: nothing).");
    EXPECT_FALSE(folderExists(joinPath(game, kOld)));
    EXPECT_TRUE(listFolder(outside).empty());
}

// Before anything is downloaded, the disk must have room for the download and
// the build unpacked from it (told to the test-key launcher as its free space):
// a byte short is refused at once, naming both; just enough installs.
TEST_F(Install, ADiskWithoutRoomForTheDownloadAndTheBuildIsRefusedAtOnce) {
    const std::wstring zip = server->publishBuild(kNew, kNewReleased, 3 << 20);
    long long zipSize = 0;
    ASSERT_TRUE(fileSize(zip, zipSize));
    const unsigned long long need = 2 * (unsigned long long)zipSize, mib = 1 << 20;
    struct Case {
        unsigned long long free;
        DWORD exitCode;
    };
    for (const Case& told : {Case{need - 1, 1}, Case{need, 0}}) {
        SCOPED_TRACE(told.free);
        newLogLines();
        {
            ScopedEnvironment free(L"VORLANE_FREE_SPACE", std::to_wstring(told.free).c_str());
            EXPECT_EQ(runCommand(L"install"), told.exitCode);
        }
        const std::vector<std::wstring> lines = newLogLines();
        const std::wstring refusal = L"Failed: There isn't room for build " + kNew + L": it needs " +
                                     groupedMiB(need + mib - 1) + L" free on the disk of " + game + L", which has " +
                                     groupedMiB(told.free) + L", so nothing was downloaded. Make room, then try again.";
        EXPECT_EQ(contains(lines, refusal), told.exitCode == 1);
    }
    // The refused run asked for nothing: the one download is the installing run's.
    EXPECT_EQ(nginxRequestsFor(requestPath(buildZipName(kNew))).size(), 1u);
    EXPECT_EQ(setting(L"Current"), kNew);
}
