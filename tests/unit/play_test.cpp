// Playing, going back and uninstalling, on installs laid out in a temporary root
// folder. The game is the test stand-in bin\fake_game\Vorlane.exe: it opens a
// window titled "Vorlane (test game)" and writes started.txt (its process id)
// into its working folder. Every process a test starts from the temporary
// folder is ended when the test ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/game_process.h"
#include "install/go_back.h"
#include "install/player_data.h"
#include "install/shortcuts.h"
#include "install/uninstall.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kOld = L"1a2b3c4";
const std::wstring kNew = L"5d6e7f8";
const std::wstring kNewer = L"9abcdef0123";
const std::wstring kOldReleased = L"2026-01-01T10:00:00Z";
const std::wstring kNewReleased = L"2026-02-01T10:00:00Z";

std::wstring fakeGame() { return joinPath(testProgramFolder(), L"fake_game\\Vorlane.exe"); }

std::wstring programPathOf(HANDLE process) {
    wchar_t path[32768];
    DWORD length = 32768;
    if (!QueryFullProcessImageNameW(process, 0, path, &length)) return {};
    return std::wstring(path, length);
}

// Ends every process whose program lies below `folder` (compared without the
// launcher's own helpers) and waits until each is gone.
void endProcessesBelow(const std::wstring& folder) {
    const std::wstring prefix = lowerCase(folder) + L"\\";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        if (lowerCase(programPathOf(process)).rfind(prefix, 0) == 0) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 10000);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

// Starts a program in its own folder, as a test's own game copy (not through play).
DWORD startDirectly(const std::wstring& program, const std::wstring& arguments = L"") {
    std::wstring commandLine = L"\"" + program + L"\"" + arguments;
    const std::wstring folder = parentFolder(program);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &started)) {
        ADD_FAILURE() << "Couldn't start " << toUtf8(program);
        return 0;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return started.dwProcessId;
}

struct WindowOfProcess {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK matchGameWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowOfProcess*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (processId != search->processId || std::wstring(title) != L"Vorlane (test game)") return TRUE;
    search->found = window;
    return FALSE;
}

HWND gameWindowOf(DWORD processId) {
    WindowOfProcess search{processId, nullptr};
    EnumWindows(matchGameWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool contains(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// An install laid out by hand: root folder, settings, log, and build folders
// holding copies of the stand-in game.
class GameInstall : public ::testing::Test {
protected:
    TempFolder temp;
    LauncherState state;
    std::wstring root = temp.file(L"Root");

    void SetUp() override {
        ASSERT_TRUE(fileExists(fakeGame())) << "the stand-in game wasn't built";
        ASSERT_TRUE(makeFolderTree(root));
        state.rootFolder = root;
        state.settingsPath = joinPath(root, L"launcher.ini");
        state.installDir = joinPath(root, L"Game");
        // Never the user's real Desktop or Start Menu.
        state.shortcutFolder = temp.file(L"Shortcuts");
        openLog(state, joinPath(root, L"launcher.log"));
    }

    void TearDown() override {
        endProcessesBelow(temp.path());
        closeLog(state);
    }

    // installDir\commit\Vorlane-commit\Vorlane.exe, a copy of the stand-in game.
    void layOutBuild(const std::wstring& commit) {
        ASSERT_TRUE(makeFolderTree(buildFolder(state, commit)));
        ASSERT_TRUE(CopyFileW(fakeGame().c_str(), gameProgram(state, commit).c_str(), FALSE));
    }
    void installCurrent(const std::wstring& commit) {
        layOutBuild(commit);
        state.current = commit;
        state.currentReleased = kNewReleased;
        state.currentFilesPresent = true;
    }
    void installCurrentAndPrevious() {
        installCurrent(kNew);
        layOutBuild(kOld);
        state.previous = kOld;
        state.previousReleased = kOldReleased;
    }

    // Writes a file below a folder, making the folders on the way.
    void writeBelow(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
        const std::wstring path = joinPath(folder, name);
        ASSERT_TRUE(makeFolderTree(parentFolder(path)));
        ASSERT_TRUE(writeFileAtomically(path, bytes));
    }
    void writeSave(const std::wstring& commit, const std::wstring& name, const std::string& bytes) {
        writeBelow(savedFolder(state, commit), name, bytes);
    }
    std::string readSave(const std::wstring& commit, const std::wstring& name) {
        return readTestFile(joinPath(savedFolder(state, commit), name));
    }

    std::wstring marker(const std::wstring& commit) { return joinPath(buildFolder(state, commit), L"started.txt"); }
    // The process id the game wrote on starting, or 0 when it didn't start in time.
    DWORD waitForStart(const std::wstring& commit, DWORD timeoutMs = 30000) {
        std::string text;
        waitFor([&] { return !(text = readTestFile(marker(commit))).empty(); }, timeoutMs);
        return text.empty() ? 0 : (DWORD)std::stoul(text);
    }

    std::wstring setting(const wchar_t* key) {
        wchar_t value[2048];
        GetPrivateProfileStringW(L"Launcher", key, L"<missing>", value, 2048, state.settingsPath.c_str());
        return value;
    }
    std::vector<std::wstring> log() { return logMessages(root); }
};

}  // namespace

// ---- Recognising the game among the running processes ----

TEST(GameProcess, TheNameTestTakesVorlaneProgramsButNoLauncher) {
    EXPECT_TRUE(isGameProgramName(L"Vorlane.exe"));
    EXPECT_TRUE(isGameProgramName(L"VORLANE-Win64-Shipping.exe"));
    EXPECT_TRUE(isGameProgramName(L"vorlane"));
    EXPECT_FALSE(isGameProgramName(L"Vorlane Launcher.exe"));
    EXPECT_FALSE(isGameProgramName(L"VorlaneLAUNCHER.old.exe"));
    EXPECT_FALSE(isGameProgramName(L"MyVorlane.exe"));
    EXPECT_FALSE(isGameProgramName(L"Vorlan.exe"));
}

TEST(GameProcess, AProgramLiesInsideAFolderOnlyBelowItsBackslash) {
    EXPECT_TRUE(isInsideFolder(L"C:\\Games\\Vorlane\\abc\\Vorlane.exe", L"c:\\games\\VORLANE"));
    EXPECT_TRUE(isInsideFolder(L"C:\\Games\\Vorlane\\abc\\Vorlane.exe", L"C:\\Games\\Vorlane\\"));
    EXPECT_TRUE(isInsideFolder(L"C:\\Games\\Vorlane\\Vorlane.exe", L"C:\\Games\\Sub\\..\\Vorlane"));
    EXPECT_FALSE(isInsideFolder(L"C:\\Games\\Vorlane2\\Vorlane.exe", L"C:\\Games\\Vorlane"));
    EXPECT_FALSE(isInsideFolder(L"C:\\Games\\Vorlane", L"C:\\Games\\Vorlane"));
    EXPECT_FALSE(isInsideFolder(L"D:\\Games\\Vorlane\\Vorlane.exe", L"C:\\Games\\Vorlane"));
}

TEST_F(GameInstall, FindsTheRunningGameByItsFolderIgnoringCase) {
    installCurrent(kNew);
    const DWORD game = startDirectly(gameProgram(state, kNew));
    ASSERT_EQ(waitForStart(kNew), game);

    const std::vector<DWORD> expected{game};
    EXPECT_EQ(findGameProcesses(state.installDir), expected);
    EXPECT_EQ(findGameProcesses(lowerCase(state.installDir)), expected);
    std::wstring upper = state.installDir;
    CharUpperBuffW(upper.data(), (DWORD)upper.size());
    EXPECT_EQ(findGameProcesses(upper), expected);
    EXPECT_EQ(findGameProcesses(state.installDir + L"\\"), expected);
    EXPECT_EQ(findGameProcesses(buildFolder(state, kNew)), expected);
    EXPECT_TRUE(findGameProcesses(joinPath(root, L"Gam")).empty());
}

TEST_F(GameInstall, LookalikesAreNotTakenForTheGame) {
    // A launcher-named program inside installDir, and the game's own name in a
    // folder beside installDir whose name merely starts the same.
    layOutBuild(kNew);
    const std::wstring launcherLike = joinPath(buildFolder(state, kNew), L"VorlaneLauncher.exe");
    ASSERT_TRUE(CopyFileW(fakeGame().c_str(), launcherLike.c_str(), FALSE));
    const std::wstring beside = joinPath(root, L"Game2\\Vorlane.exe");
    ASSERT_TRUE(makeFolderTree(parentFolder(beside)));
    ASSERT_TRUE(CopyFileW(fakeGame().c_str(), beside.c_str(), FALSE));

    startDirectly(launcherLike);
    ASSERT_NE(waitForStart(kNew), 0u);
    startDirectly(beside);
    ASSERT_TRUE(waitFor([&] { return fileExists(joinPath(root, L"Game2\\started.txt")); }));

    EXPECT_TRUE(findGameProcesses(state.installDir).empty());
    EXPECT_FALSE(bringGameToFront(state));
    EXPECT_FALSE(contains(log(), L"The game is already running (brought it to the front), so another isn't started."));
}

// ---- Play ----

TEST_F(GameInstall, PlayStartsTheInstalledBuildInItsFolder) {
    installCurrent(kNew);
    ASSERT_TRUE(play(state));
    const DWORD game = waitForStart(kNew);
    ASSERT_NE(game, 0u);
    EXPECT_EQ(findGameProcesses(state.installDir), std::vector<DWORD>{game});
    EXPECT_TRUE(contains(log(), L"Started build " + kNew + L"."));
}

TEST_F(GameInstall, PlayWhileTheGameRunsBringsItForwardInsteadOfStartingAnother) {
    installCurrent(kNew);
    ASSERT_TRUE(play(state));
    const DWORD game = waitForStart(kNew);
    ASSERT_NE(game, 0u);
    HWND window = gameWindowOf(game);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(waitFor([&] { return IsIconic(window) != FALSE; }, 5000));
    ASSERT_TRUE(DeleteFileW(marker(kNew).c_str()));

    EXPECT_TRUE(play(state));
    EXPECT_TRUE(waitFor([&] { return !IsIconic(window); }, 5000)) << "the minimised game wasn't restored";
    EXPECT_EQ(waitForStart(kNew, 2000), 0u) << "a second game was started";
    EXPECT_EQ(findGameProcesses(state.installDir), std::vector<DWORD>{game});

    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"The game is already running (brought it to the front), so another isn't started."));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"Started build " + kNew + L"."), 1);
}

TEST_F(GameInstall, AGameWithoutAWindowYetStillCountsAsRunning) {
    installCurrent(kNew);
    const DWORD game = startDirectly(gameProgram(state, kNew), L" --no-window");
    ASSERT_EQ(waitForStart(kNew), game);
    ASSERT_TRUE(DeleteFileW(marker(kNew).c_str()));

    EXPECT_TRUE(play(state));
    EXPECT_EQ(waitForStart(kNew, 2000), 0u) << "a second game was started";
    EXPECT_EQ(findGameProcesses(state.installDir), std::vector<DWORD>{game});
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"The game is already running (it has no window yet), so another isn't started."));
    EXPECT_FALSE(contains(lines, L"Started build " + kNew + L"."));
}

TEST_F(GameInstall, PlayStartsTheGameWhenOnlyLookalikesRun) {
    installCurrent(kNew);
    const std::wstring elsewhere = temp.file(L"Elsewhere\\Vorlane.exe");
    ASSERT_TRUE(makeFolderTree(parentFolder(elsewhere)));
    ASSERT_TRUE(CopyFileW(fakeGame().c_str(), elsewhere.c_str(), FALSE));
    startDirectly(elsewhere);
    ASSERT_TRUE(waitFor([&] { return fileExists(temp.file(L"Elsewhere\\started.txt")); }));

    EXPECT_TRUE(play(state));
    EXPECT_NE(waitForStart(kNew), 0u);
    EXPECT_TRUE(contains(log(), L"Started build " + kNew + L"."));
}

TEST_F(GameInstall, PlayWithoutAUsableInstallStartsNothingAndSaysNothing) {
    state.lastError = L"An earlier failure.";
    EXPECT_FALSE(play(state)) << "nothing installed";

    layOutBuild(kNew);
    state.current = kNew;
    state.currentFilesPresent = false;
    EXPECT_FALSE(play(state)) << "the installed build's files were found missing";

    // The program went away after the start-up check.
    state.currentFilesPresent = true;
    ASSERT_TRUE(DeleteFileW(gameProgram(state, kNew).c_str()));
    EXPECT_FALSE(play(state)) << "the game program is missing";

    EXPECT_EQ(waitForStart(kNew, 1000), 0u);
    EXPECT_EQ(state.lastError, L"An earlier failure.");
    EXPECT_EQ(log(), std::vector<std::wstring>{});
}

// ---- Go back ----

TEST_F(GameInstall, GoBackCarriesTheSavesOverAndSwapsTheBuilds) {
    installCurrentAndPrevious();
    writeSave(kNew, L"SaveGames\\slot1.sav", "played on the new build");
    writeSave(kNew, L"Config\\Windows\\GameUserSettings.ini", "[Settings]");
    writeSave(kOld, L"SaveGames\\slot1.sav", "played on the old build");
    writeSave(kOld, L"SaveGames\\slot0.sav", "only on the old build");

    ASSERT_TRUE(goBack(state)) << toUtf8(state.lastError);

    EXPECT_EQ(state.current, kOld);
    EXPECT_EQ(state.currentReleased, kOldReleased);
    EXPECT_EQ(state.previous, kNew);
    EXPECT_EQ(state.previousReleased, kNewReleased);
    EXPECT_EQ(state.heldBack, kNew);
    EXPECT_TRUE(state.currentFilesPresent);

    EXPECT_EQ(readSave(kOld, L"SaveGames\\slot1.sav"), "played on the new build");
    EXPECT_EQ(readSave(kOld, L"Config\\Windows\\GameUserSettings.ini"), "[Settings]");
    EXPECT_EQ(readSave(kOld, L"SaveGames\\slot0.sav"), "only on the old build");
    EXPECT_EQ(readSave(kNew, L"SaveGames\\slot1.sav"), "played on the new build") << "the build left keeps its saves";

    EXPECT_EQ(setting(L"InstallDir"), state.installDir);
    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_EQ(setting(L"CurrentReleased"), kOldReleased);
    EXPECT_EQ(setting(L"Previous"), kNew);
    EXPECT_EQ(setting(L"PreviousReleased"), kNewReleased);
    EXPECT_EQ(setting(L"HeldBack"), kNew);
    EXPECT_TRUE(contains(log(), L"Went back from build " + kNew + L" to " + kOld + L"."));
}

TEST_F(GameInstall, GoingBackTwiceReturnsToTheFirstBuildAndLiftsTheHold) {
    installCurrentAndPrevious();
    ASSERT_TRUE(goBack(state));
    ASSERT_TRUE(goBack(state));
    EXPECT_EQ(state.current, kNew);
    EXPECT_EQ(state.previous, kOld);
    EXPECT_EQ(state.currentReleased, kNewReleased);
    EXPECT_TRUE(state.heldBack.empty());
    EXPECT_EQ(setting(L"HeldBack"), L"");
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"Went back from build " + kOld + L" to " + kNew + L"."));
}

TEST_F(GameInstall, GoingBackFromAnotherBuildHoldsBackTheOneLeft) {
    installCurrentAndPrevious();
    state.heldBack = kNewer;
    ASSERT_TRUE(goBack(state));
    EXPECT_EQ(state.heldBack, kNew);
}

TEST_F(GameInstall, GoBackWorksWithoutSavesToCarry) {
    installCurrentAndPrevious();
    ASSERT_TRUE(goBack(state)) << toUtf8(state.lastError);
    EXPECT_EQ(state.current, kOld);
    EXPECT_FALSE(folderExists(savedFolder(state, kOld)));
}

TEST_F(GameInstall, GoBackWithoutAPreviousBuildChangesNothing) {
    installCurrent(kNew);
    writeSave(kNew, L"SaveGames\\slot1.sav", "mine");
    state.heldBack = kNewer;

    EXPECT_FALSE(goBack(state)) << "no previous build recorded";
    EXPECT_EQ(state.lastError, L"There's no previous build to go back to.");

    // Recorded, but its folder is gone.
    state.previous = kOld;
    state.lastError.clear();
    EXPECT_FALSE(goBack(state)) << "the previous build's program is missing";
    EXPECT_EQ(state.lastError, L"There's no previous build to go back to.");

    EXPECT_EQ(state.current, kNew);
    EXPECT_EQ(state.previous, kOld);
    EXPECT_EQ(state.heldBack, kNewer);
    EXPECT_TRUE(fileExists(gameProgram(state, kNew)));
    EXPECT_EQ(readSave(kNew, L"SaveGames\\slot1.sav"), "mine");
    EXPECT_FALSE(fileExists(state.settingsPath)) << "the install state was saved";
}

TEST_F(GameInstall, AFailedCopyOfTheSavesLeavesBothBuildsAsTheyWere) {
    installCurrentAndPrevious();
    writeSave(kNew, L"SaveGames\\slot1.sav", "played on the new build");
    // A folder where the copy must write a file.
    ASSERT_TRUE(makeFolderTree(joinPath(savedFolder(state, kOld), L"SaveGames\\slot1.sav")));

    EXPECT_FALSE(goBack(state));
    EXPECT_EQ(state.lastError.rfind(L"Couldn't copy your settings and saves back to build " + kOld + L" (error ", 0), 0u)
        << toUtf8(state.lastError);
    EXPECT_TRUE(state.lastError.ends_with(L")."));
    EXPECT_EQ(state.current, kNew);
    EXPECT_EQ(state.previous, kOld);
    EXPECT_EQ(state.currentReleased, kNewReleased);
    EXPECT_TRUE(state.heldBack.empty());
    EXPECT_TRUE(fileExists(gameProgram(state, kNew)));
    EXPECT_EQ(readSave(kNew, L"SaveGames\\slot1.sav"), "played on the new build");
    EXPECT_FALSE(fileExists(state.settingsPath)) << "the install state was saved";
    EXPECT_FALSE(contains(log(), L"Went back from build " + kNew + L" to " + kOld + L"."));
}

// ---- Kept settings and saves ----

TEST_F(GameInstall, KeptSavesComeBackIntoABuildWithoutSaveGames) {
    installCurrent(kNew);
    writeBelow(playerDataFolder(state), L"SaveGames\\slot1.sav", "kept");
    writeBelow(playerDataFolder(state), L"Config\\Windows\\Input.ini", "keys");
    writeSave(kNew, L"Config\\Windows\\Engine.ini", "the build's own");

    restoreKeptSaves(state);

    EXPECT_EQ(readSave(kNew, L"SaveGames\\slot1.sav"), "kept");
    EXPECT_EQ(readSave(kNew, L"Config\\Windows\\Input.ini"), "keys");
    EXPECT_EQ(readSave(kNew, L"Config\\Windows\\Engine.ini"), "the build's own");
    EXPECT_EQ(readTestFile(joinPath(playerDataFolder(state), L"SaveGames\\slot1.sav")), "kept") << "kept data stays";
    EXPECT_TRUE(contains(log(), L"Restored your kept settings and saves."));
}

TEST_F(GameInstall, KeptSavesNeverOverwriteABuildsOwnSaveGames) {
    installCurrent(kNew);
    writeBelow(playerDataFolder(state), L"SaveGames\\slot1.sav", "kept");
    writeBelow(playerDataFolder(state), L"Config\\Input.ini", "kept keys");
    writeSave(kNew, L"SaveGames\\slot1.sav", "newer play");

    restoreKeptSaves(state);

    EXPECT_EQ(readSave(kNew, L"SaveGames\\slot1.sav"), "newer play");
    EXPECT_FALSE(fileExists(joinPath(savedFolder(state, kNew), L"Config\\Input.ini")));
    EXPECT_FALSE(contains(log(), L"Restored your kept settings and saves."));
}

TEST_F(GameInstall, NothingIsRestoredWithoutKeptDataOrABuild) {
    installCurrent(kNew);
    restoreKeptSaves(state);
    EXPECT_FALSE(folderExists(savedFolder(state, kNew)));

    state.current.clear();
    writeBelow(playerDataFolder(state), L"SaveGames\\slot1.sav", "kept");
    restoreKeptSaves(state);
    EXPECT_FALSE(contains(log(), L"Restored your kept settings and saves."));
}

// ---- Which Saved folder a new install (and so an uninstall) takes ----

TEST_F(GameInstall, TheSavesToBringOverAreCurrentsThenPreviousThenTheNewestBuilds) {
    EXPECT_EQ(savedFolderToBringOver(state), L"") << "nothing installed";

    installCurrentAndPrevious();
    writeSave(kOld, L"SaveGames\\slot1.sav", "old");
    EXPECT_EQ(savedFolderToBringOver(state), savedFolder(state, kOld));
    writeSave(kNew, L"SaveGames\\slot1.sav", "new");
    EXPECT_EQ(savedFolderToBringOver(state), savedFolder(state, kNew));

    // Neither recorded: the most recently written Saved folder of a build folder
    // named by a commit id; other folder names don't count however new.
    state.current.clear();
    state.previous.clear();
    writeBelow(joinPath(state.installDir, L"not-a-build\\Vorlane-not-a-build\\Vorlane\\Saved"), L"x.sav", "x");
    const ULONGLONG second = 10000000;
    auto setWritten = [](const std::wstring& folder, ULONGLONG ticks) {
        FileHandle handle(CreateFileW(longPath(folder).c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FILETIME time{(DWORD)ticks, (DWORD)(ticks >> 32)};
        ASSERT_TRUE(handle && SetFileTime(handle.get(), nullptr, nullptr, &time));
    };
    const ULONGLONG base = 133500000000000000ull;
    setWritten(savedFolder(state, kNew), base);
    setWritten(savedFolder(state, kOld), base + 60 * second);
    setWritten(joinPath(state.installDir, L"not-a-build\\Vorlane-not-a-build\\Vorlane\\Saved"), base + 3600 * second);
    EXPECT_EQ(savedFolderToBringOver(state), savedFolder(state, kOld));
    setWritten(savedFolder(state, kNew), base + 120 * second);
    EXPECT_EQ(savedFolderToBringOver(state), savedFolder(state, kNew));
}

// ---- Uninstall ----

TEST_F(GameInstall, UninstallKeepsThePlayerDataForALaterInstall) {
    installCurrentAndPrevious();
    state.heldBack = kNewer;
    writeSave(kNew, L"SaveGames\\slot1.sav", "played on the new build");
    writeSave(kOld, L"SaveGames\\slot0.sav", "only on the old build");
    writeBelow(joinPath(root, L"Downloads"), L"Vorlane-" + kNewer + L".zip.part", "half");

    ASSERT_TRUE(uninstall(state, false)) << toUtf8(state.lastError);

    const std::wstring kept = playerDataFolder(state);
    EXPECT_EQ(readTestFile(joinPath(kept, L"SaveGames\\slot1.sav")), "played on the new build");
    EXPECT_FALSE(fileExists(joinPath(kept, L"SaveGames\\slot0.sav"))) << "only the Saved folder an install takes";
    EXPECT_FALSE(folderExists(state.installDir));
    EXPECT_FALSE(folderExists(joinPath(root, L"Downloads")));
    EXPECT_TRUE(fileExists(joinPath(root, L"launcher.log")));

    EXPECT_TRUE(state.current.empty() && state.currentReleased.empty() && state.previous.empty() &&
                state.previousReleased.empty() && state.heldBack.empty());
    EXPECT_FALSE(state.currentFilesPresent);
    EXPECT_EQ(setting(L"InstallDir"), joinPath(root, L"Game"));
    for (const wchar_t* key : {L"Current", L"CurrentReleased", L"Previous", L"PreviousReleased", L"HeldBack"})
        EXPECT_EQ(setting(key), L"") << toUtf8(key);

    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"Kept your settings and saves in " + kept + L"."));
    EXPECT_TRUE(contains(lines, L"Uninstalled; player data kept."));

    // A later install gets them back.
    installCurrent(kNewer);
    restoreKeptSaves(state);
    EXPECT_EQ(readSave(kNewer, L"SaveGames\\slot1.sav"), "played on the new build");
}

TEST_F(GameInstall, UninstallingNothingStillSucceeds) {
    ASSERT_TRUE(uninstall(state, false));
    EXPECT_FALSE(folderExists(playerDataFolder(state)));
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"Uninstalled; player data kept."));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& line) { return line.rfind(L"Kept your", 0) == 0; }),
              0);
}

TEST_F(GameInstall, UninstallAllRemovesThePlayerDataToo) {
    installCurrent(kNew);
    writeSave(kNew, L"SaveGames\\slot1.sav", "played");
    writeBelow(playerDataFolder(state), L"SaveGames\\old.sav", "kept earlier");

    ASSERT_TRUE(uninstall(state, true));

    EXPECT_FALSE(folderExists(playerDataFolder(state)));
    EXPECT_FALSE(folderExists(state.installDir));
    EXPECT_TRUE(state.current.empty());
    EXPECT_EQ(setting(L"Current"), L"");
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"Uninstalled, player data too."));
    EXPECT_FALSE(contains(lines, L"Kept your settings and saves in " + playerDataFolder(state) + L"."));
}

TEST_F(GameInstall, AFailedCopyOutOfTheGameUninstallsNothing) {
    installCurrentAndPrevious();
    state.heldBack = kNewer;
    writeSave(kNew, L"SaveGames\\slot1.sav", "played on the new build");
    writeBelow(joinPath(root, L"Downloads"), L"Vorlane-" + kNewer + L".zip", "zip");
    // A folder where the copy must write a file.
    ASSERT_TRUE(makeFolderTree(joinPath(playerDataFolder(state), L"SaveGames\\slot1.sav")));

    EXPECT_FALSE(uninstall(state, false));
    const std::wstring sentence = state.lastError;
    EXPECT_EQ(sentence.rfind(L"Couldn't copy your settings and saves out of the game's folder, so nothing was "
                             L"uninstalled (error ",
                             0),
              0u)
        << toUtf8(sentence);
    EXPECT_TRUE(contains(log(), L"Failed: " + sentence));
    EXPECT_FALSE(contains(log(), L"Uninstalled; player data kept."));

    EXPECT_EQ(readSave(kNew, L"SaveGames\\slot1.sav"), "played on the new build");
    EXPECT_TRUE(fileExists(gameProgram(state, kNew)));
    EXPECT_TRUE(fileExists(gameProgram(state, kOld)));
    EXPECT_TRUE(fileExists(joinPath(root, L"Downloads\\Vorlane-" + kNewer + L".zip")));
    EXPECT_EQ(state.current, kNew);
    EXPECT_EQ(state.previous, kOld);
    EXPECT_EQ(state.heldBack, kNewer);
    EXPECT_TRUE(state.currentFilesPresent);
    EXPECT_FALSE(fileExists(state.settingsPath)) << "the install state was saved";
}

TEST_F(GameInstall, UninstallRemovesTheShortcutsUnlessTheyAreSwitchedOff) {
    ComApartment com;
    installCurrent(kNew);
    const std::wstring launcher = joinPath(root, L"Vorlane Launcher.exe");
    ASSERT_TRUE(CopyFileW(fakeGame().c_str(), launcher.c_str(), FALSE));
    const std::wstring desktop = desktopShortcutPath(state);
    ASSERT_TRUE(makeFolderTree(parentFolder(desktop)));
    ASSERT_TRUE(makeShortcut(launcher, desktop, L"Play Vorlane"));

    state.makeShortcuts = false;
    ASSERT_TRUE(uninstall(state, false));
    EXPECT_TRUE(fileExists(desktop)) << "--no-shortcuts leaves them alone";

    installCurrent(kNew);
    state.makeShortcuts = true;
    ASSERT_TRUE(uninstall(state, false));
    EXPECT_FALSE(fileExists(desktop));
}
