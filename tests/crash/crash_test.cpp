// A kill at any instant loses nothing: the test-key launcher is made to die at
// each named crash point of update, back, uninstall, a repair and the settings
// save (VORLANE_CRASH_AT), then the same command runs again, and what the
// player has is checked: the command succeeds, every file of the current build
// is the zip's, the saves are the newest the player had, launcher.ini names
// whole builds, and no download or half-made folder is left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>

#include "core/files.h"
#include "core/files_below.h"
#include "core/text.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "support/installed_game.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"
#include "support/publisher.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kA = L"a1a1a1a", kB = L"b2b2b2b", kC = L"c3c3c3c";
const std::string kNewestSave = "wave 31, gold 4410", kOlderSave = "wave 4, gold 120";

struct CrashCase {
    const wchar_t* command;
    const wchar_t* point;  // "name", or "name:N" for its N-th pass
    bool buildsSetAside = false;  // a repair or an uninstall has set the builds launcher.ini names aside
};

// Every crash point, in the order a run meets them. The start-up fetch of a
// changed list saves the settings once before an update does, hence ":2".
const CrashCase kCrashCases[] = {
    {L"update", L"downloading"},          {L"update", L"downloaded"},        {L"update", L"checked"},
    {L"update", L"unpacked"},             {L"update", L"saves-copied"},      {L"update", L"placed"},
    {L"update", L"settings-copied:2"},    {L"update", L"settings-written:2"}, {L"update", L"recorded"},
    {L"update", L"old-build-set-aside"},  {L"install", L"repair-set-aside", true}, {L"back", L"back-saves-copied"},
    {L"back", L"settings-written"},       {L"uninstall", L"uninstall-saves-kept"},
    {L"uninstall", L"uninstall-set-aside", true}, {L"uninstall", L"settings-written", true},
    {L"uninstall", L"uninstall-recorded"},
};

class CrashAt : public LauncherTest, public ::testing::WithParamInterface<CrashCase> {
protected:
    CrashAt() : LauncherTest(L"crash") {}

    std::wstring savedGame(const std::wstring& saved) { return joinPath(saved, L"SaveGames\\slot1.sav"); }
    std::wstring savedOf(const std::wstring& commit) { return joinPath(buildFolderOf(commit), L"Vorlane\\Saved"); }

    // A as previous with an older save, B as current with the newest one.
    void installTwoBuilds() {
        zips[kA] = server->publishBuild(kA, L"2026-01-01T10:00:00Z", 3 << 20);
        ASSERT_EQ(runCommand(L"install"), 0u);
        zips[kB] = server->publishBuild(kB, L"2026-02-01T10:00:00Z", 3 << 20);
        ASSERT_EQ(runCommand(L"update"), 0u);
        for (auto [commit, text] : {std::pair{kA, kOlderSave}, std::pair{kB, kNewestSave}}) {
            makeFolderTree(joinPath(savedOf(commit), L"SaveGames"));
            ASSERT_TRUE(writeFileAtomically(savedGame(savedOf(commit)), text));
        }
        // The older save is older on disk too.
        FILETIME old{0x10000000, 0x01d00000};
        HANDLE file = CreateFileW(longPath(savedGame(savedOf(kA))).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, nullptr, nullptr, &old);
        CloseHandle(file);
    }

    DWORD runCrashing(const std::wstring& command, const std::wstring& point) {
        SetEnvironmentVariableW(L"VORLANE_CRASH_AT", point.c_str());
        const DWORD code = runCommand(command);
        SetEnvironmentVariableW(L"VORLANE_CRASH_AT", nullptr);
        return code;
    }

    // Every file the zip unpacks to, beside what the build folder holds.
    void expectBuildIsTheZips(const std::wstring& commit) {
        const std::wstring unpacked = temp.file(L"unpacked-" + commit);
        makeFolderTree(unpacked);
        ASSERT_EQ(runCaptured(systemTar() + L" -xf " + vorlane::quoted(zips[commit]) + L" -C " + vorlane::quoted(unpacked),
                              [](const std::string&) {}),
                  0);
        const std::wstring shipped = joinPath(unpacked, L"Vorlane-" + commit);
        size_t compared = 0;
        for (const std::wstring& file : filesBelow(shipped)) {
            if (file.rfind(L"Vorlane\\Saved", 0) == 0) continue;
            EXPECT_EQ(readTestFile(joinPath(buildFolderOf(commit), file)), readTestFile(joinPath(shipped, file)))
                << file;
            ++compared;
        }
        EXPECT_GE(compared, 2u);
    }

    void expectWhole(const std::wstring& current, const std::wstring& previous, const std::wstring& heldBack) {
        EXPECT_EQ(setting(L"Current"), current);
        EXPECT_EQ(setting(L"Previous"), previous);
        EXPECT_EQ(setting(L"HeldBack"), heldBack);
        expectBuildIsTheZips(current);
        if (!previous.empty()) {
            EXPECT_TRUE(fileExists(joinPath(buildFolderOf(previous), L"Vorlane.exe")));
        }
        EXPECT_EQ(readTestFile(savedGame(savedOf(current))), kNewestSave);
        std::vector<std::wstring> folders, expected{current};
        for (const FolderEntry& entry : listFolder(joinPath(root, L"Game"))) folders.push_back(entry.name);
        if (!previous.empty()) expected.push_back(previous);
        std::sort(folders.begin(), folders.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(folders, expected);
        EXPECT_TRUE(listFolder(joinPath(root, L"Downloads")).empty());
    }

    std::map<std::wstring, std::wstring> zips;
};

TEST_P(CrashAt, TheSameCommandAgainLeavesAWholeBuildAndTheNewestSaves) {
    const CrashCase crash = GetParam();
    installTwoBuilds();
    if (HasFatalFailure()) return;
    if (std::wstring(crash.command) == L"update") zips[kC] = server->publishBuild(kC, L"2026-03-01T10:00:00Z", 3 << 20);

    ASSERT_EQ(runCrashing(crash.command, crash.point), 99u) << "the run didn't reach its crash point";
    // A build is recorded only once it is in place: the game launcher.ini names plays even now.
    for (const wchar_t* key : {L"Current", L"Previous"})
        if (!crash.buildsSetAside && !setting(key).empty()) {
            EXPECT_TRUE(fileExists(joinPath(buildFolderOf(setting(key)), L"Vorlane.exe"))) << toUtf8(key);
        }
    ASSERT_EQ(runCommand(crash.command), 0u);

    const std::wstring command = crash.command;
    if (command == L"update") expectWhole(kC, kB, L"");
    if (command == L"install") expectWhole(kB, kA, L"");
    if (command == L"back") expectWhole(kA, kB, kB);
    if (command == L"uninstall") {
        EXPECT_EQ(setting(L"Current"), L"");
        EXPECT_EQ(readTestFile(savedGame(joinPath(root, L"PlayerData"))), kNewestSave);
        EXPECT_TRUE(listFolder(joinPath(root, L"Game")).empty());
        // The next install brings the newest saves back.
        ASSERT_EQ(runCommand(L"install"), 0u);
        expectWhole(kB, L"", L"");
    }
}

INSTANTIATE_TEST_SUITE_P(Points, CrashAt, ::testing::ValuesIn(kCrashCases),
                         [](const ::testing::TestParamInfo<CrashCase>& info) {
                             std::string name = toUtf8(std::wstring(info.param.command) + L"_" + info.param.point);
                             for (char& c : name)
                                 if (!isalnum((unsigned char)c)) c = '_';
                             return name;
                         });

// The state a kill left behind when an uninstall still deleted the build folders
// in name order: the saves copied out, the current build's folder gone, the
// older previous build's still there, launcher.ini unchanged.
TEST_F(CrashAt, AnUninstallCutShortAfterTheCurrentBuildWentKeepsTheNewestSaves) {
    installTwoBuilds();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(copyFolderTree(savedOf(kB), joinPath(root, L"PlayerData")));
    ASSERT_TRUE(deleteFolderTree(joinPath(joinPath(root, L"Game"), kB)));

    ASSERT_EQ(runCommand(L"uninstall"), 0u);
    EXPECT_EQ(readTestFile(savedGame(joinPath(root, L"PlayerData"))), kNewestSave);
    ASSERT_EQ(runCommand(L"install"), 0u);
    expectWhole(kB, L"", L"");
}

// A file that can't be deleted (open in another program) keeps its folder: the
// uninstall says so and fails, though the game is gone from launcher.ini.
TEST_F(CrashAt, AnUninstallThatCantRemoveEverythingSaysSo) {
    installTwoBuilds();
    if (HasFatalFailure()) return;
    HANDLE open = CreateFileW(longPath(joinPath(buildFolderOf(kA), L"Build.ini")).c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    newLogLines();
    EXPECT_EQ(runCommand(L"uninstall"), 1u);
    CloseHandle(open);

    const std::vector<std::wstring> lines = newLogLines();
    const bool said = std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.starts_with(L"Failed: Uninstalled, but ") &&
               line.ends_with(L" couldn't be removed (something in it is open, or it holds a link): remove it by hand.");
    });
    EXPECT_TRUE(said);
    EXPECT_FALSE(contains(lines, L"Uninstalled; player data kept."));
    EXPECT_EQ(setting(L"Current"), L"");
    EXPECT_EQ(readTestFile(savedGame(joinPath(root, L"PlayerData"))), kNewestSave);
}

// Two updates on one root started together, at offsets across a whole install:
// one installs, the other waits for it or says why it didn't run, and the
// build and the saves are whole after every pair.
TEST_F(CrashAt, TwoUpdatesOnOneRootNeverDamageTheBuild) {
    installTwoBuilds();
    if (HasFatalFailure()) return;
    const std::wstring busy =
        L"Failed: Another Vorlane launcher is changing this installation right now, so nothing was changed. Try again "
        L"when it has finished.";
    ULONGLONG installTime = 0;
    for (int pair = 0; pair < 10; ++pair) {
        const std::wstring commit = L"d" + std::to_wstring(pair) + L"d0d0d0";
        wchar_t released[32];
        swprintf(released, 32, L"2026-04-%02dT10:00:00Z", pair + 1);
        zips[commit] = server->publishBuild(commit, released, 3 << 20);
        newLogLines();
        const ULONGLONG offset = installTime * pair / 9;
        const ULONGLONG started = GetTickCount64();
        {
            LauncherProcess first(testKeyLauncher(), launcherArguments({L"--auto", L"update"}));
            Sleep(static_cast<DWORD>(offset));
            LauncherProcess second(testKeyLauncher(), launcherArguments({L"--auto", L"update"}));
            const DWORD codes[2] = {first.wait(120000), second.wait(120000)};
            EXPECT_TRUE(codes[0] == 0 || codes[1] == 0) << "pair " << pair;
        }
        if (pair == 0) installTime = GetTickCount64() - started;

        const std::vector<std::wstring> lines = newLogLines();
        const std::wstring previous = pair == 0 ? kB : L"d" + std::to_wstring(pair - 1) + L"d0d0d0";
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             L"Installed build " + commit + L" (previous: " + previous + L")."),
                  1)
            << "pair " << pair;
        EXPECT_TRUE(contains(lines, busy) || contains(lines, L"Already up to date.")) << "pair " << pair;
        expectWhole(commit, previous, L"");
    }
}

// A kill between putting a new slot list in place and its signature leaves
// a pair that doesn't verify; the next run with the server mends it.
TEST_F(CrashAt, AKeptSlotListCutShortIsMendedByTheNextRun) {
    server->publishBuild(kA, L"2026-01-01T10:00:00Z");
    const std::wstring served = joinPath(server->folder(), L"theme_slots.json");
    const auto publishSlots = [&](const std::string& list) {
        ASSERT_TRUE(writeFileAtomically(temp.file(L"slots.json"), list));
        ASSERT_EQ(runPublisher(temp, {L"slots", server->folder(), keptTestKeyFile(), temp.file(L"slots.json")})
                      .exitCode, 0u);
    };
    const std::vector<std::wstring> check{L"--theme-folder", temp.makeFolder(L"Theme")};
    publishSlots(R"([{"Id":"Tower_Chain","File":"Models/Tower_Chain.glb"}])");
    ASSERT_EQ(runCommand(L"theme-check", check), 0u);
    publishSlots(R"([{"Id":"Tower_Burn","File":"Models/Tower_Burn.glb"},{"Id":"Trap","File":"Models/Trap.glb"}])");
    ASSERT_EQ(runCrashing(L"theme-check", L"theme-slots-list-placed"), 99u);
    newLogLines();
    EXPECT_EQ(runCommand(L"theme-check", check), 0u);
    EXPECT_EQ(readTestFile(joinPath(root, L"theme_slots.json")), readTestFile(served));
    EXPECT_EQ(readTestFile(joinPath(root, L"theme_slots.json.sig")), readTestFile(served + L".sig"));
    EXPECT_TRUE(contains(newLogLines(), L"Theme files: 0 / 2 in " + temp.file(L"Theme\\Import") + L" (checklist: " +
                                            temp.file(L"Theme\\THEME_CHECKLIST.md") + L")."));
}

}  // namespace

namespace {

// The crash points of an update by pieces: C is published in pieces and B is
// on disk to take pieces from.
const CrashCase kPieceCrashCases[] = {
    {L"update", L"piece-fetched"},
    {L"update", L"piece-file-begun"},
    {L"update", L"pieces-written"},
};

class PieceCrashAt : public CrashAt {};

TEST_P(PieceCrashAt, TheSameUpdateAgainLeavesTheZipsBuildAndTheNewestSaves) {
    const CrashCase crash = GetParam();
    installTwoBuilds();
    if (HasFatalFailure()) return;
    server->publishInPieces(true);
    zips[kC] = server->publishBuild(kC, L"2026-03-01T10:00:00Z", 3 << 20);

    ASSERT_EQ(runCrashing(crash.command, crash.point), 99u) << "the run didn't reach its crash point";
    newLogLines();
    ASSERT_EQ(runCommand(crash.command), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.starts_with(L"Updating to build " + kC + L" by pieces: ");
    }));
    expectWhole(kC, kB, L"");
}

// A kill just after an update by pieces is recorded leaves no pieces behind
// (they were written straight into the build), and earlier releases' folder
// of fetched pieces goes with the next run, which has nothing left to install.
TEST_F(PieceCrashAt, FetchedPiecesLeftByAKillAfterTheRecordGoWithTheNextRun) {
    installTwoBuilds();
    if (HasFatalFailure()) return;
    server->publishInPieces(true);
    zips[kC] = server->publishBuild(kC, L"2026-03-01T10:00:00Z", 3 << 20);
    ASSERT_EQ(runCrashing(L"update", L"recorded"), 99u) << "the run didn't reach its crash point";
    const std::wstring pieces = joinPath(root, L"Downloads\\Pieces");
    EXPECT_FALSE(pathExists(joinPath(root, L"Game\\" + kC + L".new")));
    ASSERT_TRUE(makeFolderTree(pieces));
    newLogLines();
    EXPECT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Already up to date."));
    EXPECT_FALSE(pathExists(pieces));
    expectWhole(kC, kB, L"");
}

INSTANTIATE_TEST_SUITE_P(Points, PieceCrashAt, ::testing::ValuesIn(kPieceCrashCases),
                         [](const ::testing::TestParamInfo<CrashCase>& info) {
                             std::string name = toUtf8(std::wstring(info.param.command) + L"_" + info.param.point);
                             for (char& c : name)
                                 if (!isalnum((unsigned char)c)) c = '_';
                             return name;
                         });

}  // namespace
