// launcher.ini and launcher.log as the start-up load and the jobs use them.
#include <gtest/gtest.h>

#include <windows.h>

#include <share.h>

#include <thread>

#include "core/files.h"
#include "core/log.h"
#include "core/root_lock.h"
#include "core/settings.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

class Settings : public ::testing::Test {
protected:
    TempFolder temp;
    LauncherState state;
    std::wstring root = temp.file(L"Root\\Nested");

    void SetUp() override { state.rootFolder = root; }
    void TearDown() override { closeLog(state); }

    void writeIni(const std::string& text) {
        ASSERT_TRUE(makeFolderTree(root));
        ASSERT_TRUE(writeFileAtomically(joinPath(root, L"launcher.ini"), "[Launcher]\r\n" + text));
    }
    std::wstring iniValue(const wchar_t* key) {
        wchar_t value[4096];
        GetPrivateProfileStringW(L"Launcher", key, L"<missing>", value, 4096, joinPath(root, L"launcher.ini").c_str());
        return value;
    }
};

}  // namespace

TEST_F(Settings, AMissingFileGivesTheDefaults) {
    loadSettings(state);
    EXPECT_TRUE(folderExists(root));
    EXPECT_EQ(state.settingsPath, joinPath(root, L"launcher.ini"));
    EXPECT_EQ(state.installDir, joinPath(root, L"Game"));
    EXPECT_EQ(state.servers, splitServerList(kDefaultServers));
    EXPECT_EQ(state.servers.size(), 3u);
    EXPECT_TRUE(state.current.empty());
    EXPECT_FALSE(state.currentFilesPresent);
}

TEST_F(Settings, TheDefaultServersAreHostNames) {
    // Never raw addresses: a test machine must not be sent to somebody's network.
    for (const std::wstring& server : splitServerList(kDefaultServers)) {
        size_t host = server.find(L"://") + 3;
        EXPECT_FALSE(iswdigit(server[host])) << toUtf8(server);
    }
}

TEST_F(Settings, AnEmptyInstallDirMeansTheDefault) {
    writeIni("InstallDir=\r\n");
    loadSettings(state);
    EXPECT_EQ(state.installDir, joinPath(root, L"Game"));
}

TEST_F(Settings, ValuesAreReadAsStored) {
    const std::wstring games = temp.file(L"Games");
    ASSERT_TRUE(makeFolderTree(joinPath(games, L"1234567")));
    writeIni("InstallDir=" + toUtf8(games) + "\r\nServers=http://one;http://two\r\nCurrent=abcdef1\r\n"
             "CurrentReleased=2026-01-01T00:00:00Z\r\nPrevious=1234567\r\nPreviousReleased=2025-12-01T00:00:00Z\r\n"
             "HeldBack=fedcba9\r\n");
    loadSettings(state);
    EXPECT_EQ(state.installDir, games);
    EXPECT_EQ(state.servers, (std::vector<std::wstring>{L"http://one", L"http://two"}));
    EXPECT_EQ(state.current, L"abcdef1");
    EXPECT_EQ(state.currentReleased, L"2026-01-01T00:00:00Z");
    EXPECT_EQ(state.previous, L"1234567");
    EXPECT_EQ(state.previousReleased, L"2025-12-01T00:00:00Z");
    EXPECT_EQ(state.heldBack, L"fedcba9");
}

TEST_F(Settings, TheLastServerComesFirstAndTheOthersKeepTheirOrder) {
    writeIni("Servers=http://a;http://b;http://c;http://d\r\nLastServer=http://c\r\n");
    loadSettings(state);
    EXPECT_EQ(state.servers, (std::vector<std::wstring>{L"http://c", L"http://a", L"http://b", L"http://d"}));
}

TEST_F(Settings, ALastServerNotInTheListChangesNothing) {
    writeIni("Servers=http://a;http://b\r\nLastServer=http://B\r\n");
    loadSettings(state);
    EXPECT_EQ(state.servers, (std::vector<std::wstring>{L"http://a", L"http://b"}));
}

TEST_F(Settings, ServersFromTheCommandLineReplaceTheSetting) {
    writeIni("Servers=http://a;http://b\r\nLastServer=http://z\r\n");
    state.servers = {L"http://x", L"http://z"};
    loadSettings(state);
    EXPECT_EQ(state.servers, (std::vector<std::wstring>{L"http://z", L"http://x"}));
    EXPECT_EQ(iniValue(L"Servers"), L"http://a;http://b");
}

TEST_F(Settings, LongValuesAreCutTo2047Characters) {
    writeIni("");
    loadSettings(state);
    std::wstring value(3000, L'x');
    value[2046] = L'y';
    writeSetting(state, L"ThemeStyle", value);
    std::wstring read = readSetting(state, L"ThemeStyle");
    EXPECT_EQ(read.size(), 2047u);
    EXPECT_EQ(read.back(), L'y');
    EXPECT_EQ(readSetting(state, L"NoSuchKey", L"fallback"), L"fallback");
}

TEST_F(Settings, InstallStateIsWrittenAsOne) {
    loadSettings(state);
    state.current = L"abcdef1";
    state.currentReleased = L"2026-02-03T04:05:06Z";
    state.previous = L"1234567";
    state.heldBack = L"7654321";
    saveInstallState(state);
    EXPECT_EQ(iniValue(L"InstallDir"), joinPath(root, L"Game"));
    EXPECT_EQ(iniValue(L"Current"), L"abcdef1");
    EXPECT_EQ(iniValue(L"CurrentReleased"), L"2026-02-03T04:05:06Z");
    EXPECT_EQ(iniValue(L"Previous"), L"1234567");
    EXPECT_EQ(iniValue(L"PreviousReleased"), L"");
    EXPECT_EQ(iniValue(L"HeldBack"), L"7654321");
}

// An uninstall cut short after it set the builds aside leaves Previous naming a
// folder that is gone: there is nothing to go back to, so the state says so.
TEST_F(Settings, APreviousBuildWhoseFolderIsGoneIsClearedWhenTheStateIsRead) {
    writeIni("Current=abcdef1\r\nPrevious=1234567\r\nPreviousReleased=2025-12-01T00:00:00Z\r\nHeldBack=fedcba9\r\n");
    loadSettings(state);
    EXPECT_EQ(state.current, L"abcdef1");
    EXPECT_EQ(state.previous, L"");
    EXPECT_EQ(state.previousReleased, L"");
    EXPECT_EQ(state.heldBack, L"fedcba9");

    ASSERT_TRUE(makeFolderTree(joinPath(root, L"Game\\1234567")));
    loadInstallState(state);
    EXPECT_EQ(state.previous, L"1234567");
    EXPECT_EQ(state.previousReleased, L"2025-12-01T00:00:00Z");
}

TEST_F(Settings, MissingGameFilesAreNotedOnce) {
    writeIni("Current=abcdef1\r\n");
    loadSettings(state);
    EXPECT_FALSE(state.currentFilesPresent);
    closeLog(state);
    auto lines = logMessages(root);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"Build abcdef1's game files are missing: installing repairs it, keeping the saves.");
}

TEST_F(Settings, PresentGameFilesAreSeen) {
    writeIni("Current=abcdef1\r\n");
    std::wstring program = joinPath(root, L"Game\\abcdef1\\Vorlane-abcdef1\\Vorlane.exe");
    ASSERT_TRUE(makeFolderTree(parentFolder(program)));
    ASSERT_TRUE(writeFileAtomically(program, "MZ"));
    loadSettings(state);
    EXPECT_TRUE(state.currentFilesPresent);
    EXPECT_EQ(gameProgram(state, L"abcdef1"), program);
}

// A second launcher on the same root appends to the same log; no line of either is lost or cut.
TEST_F(Settings, TwoLogsOnOneFileKeepEveryLineWhole) {
    loadSettings(state);
    LauncherState other;
    openLog(other, joinPath(root, L"launcher.log"));
    ASSERT_NE(other.log, nullptr);
    for (int i = 0; i < 50; ++i) {
        logLine(state, L"first " + std::to_wstring(i));
        logLine(other, L"second " + std::to_wstring(i));
    }
    closeLog(other);
    closeLog(state);
    const std::vector<std::wstring> lines = logMessages(root);
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines[0], L"first 0");
    EXPECT_EQ(lines[99], L"second 49");
    EXPECT_EQ(readTestFile(joinPath(root, L"launcher.log")).substr(0, 4), "\xEF\xBB\xBF[");
}

TEST_F(Settings, WithoutALogNothingIsWrittenAndNothingBreaks) {
    ASSERT_EQ(state.log, nullptr);
    logLine(state, L"nowhere");
    loadSettings(state);
    logLine(state, L"somewhere");
    closeLog(state);
    EXPECT_EQ(logMessages(root), std::vector<std::wstring>{L"somewhere"});
}

TEST_F(Settings, LogLinesAreStampedAndWhole) {
    loadSettings(state);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) logLine(state, L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i));
        });
    for (auto& writer : writers) writer.join();
    closeLog(state);
    std::string bytes = readWholeFile(joinPath(root, L"launcher.log")).substr(3);
    size_t lines = 0, start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = bytes.substr(start, end - start);
        ASSERT_GE(line.size(), 11u);
        EXPECT_TRUE(line[0] == '[' && line[3] == ':' && line[6] == ':' && line[9] == ']') << line;
        EXPECT_EQ(line.find('['), line.rfind('[')) << "two lines ran together: " << line;
        ++lines;
        start = end + 2;
    }
    EXPECT_EQ(lines, 800u);
}

// Another program reading launcher.ini holds it open as the profile reader
// does (shared for reading and writing, not for deleting): the replace waits
// for it rather than failing the save.
TEST_F(Settings, ASaveWaitsForAReaderThatHasTheFileOpen) {
    writeIni("Current=abcdef1\r\n");
    loadSettings(state);
    HANDLE reader = CreateFileW(state.settingsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    Failure saved{L"not run"};
    std::thread writer([&] { saved = writeSetting(state, L"Current", L"1234567"); });
    Sleep(300);  // the reader keeps the file a while, as a busy machine's reader may
    CloseHandle(reader);
    writer.join();
    EXPECT_FALSE(saved) << toUtf8(saved.text());
    EXPECT_EQ(iniValue(L"Current"), L"1234567");
    EXPECT_FALSE(fileExists(state.settingsPath + L".part"));
}

// A lock file this launcher may not open for writing isn't another launcher:
// the lock is taken by the root's name at once, and why is said with the
// system error. (A folder in its place stands for a read-only file or one an
// elevated run made, which the test's user, root under Wine, could write.)
TEST_F(Settings, ALockFileThatCantBeWrittenGivesWayToTheNamedLockAtOnce) {
    loadSettings(state);
    for (const wchar_t* what : {L"Job", L"Settings"}) {
        SCOPED_TRACE(toUtf8(what));
        const std::wstring file = rootLockFile(what, root);
        DeleteFileW(file.c_str());  // the settings' lock file is there since the start-up read
        ASSERT_TRUE(makeFolderTree(file));
        RootMutex lock;
        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(lock.acquire(what, root, 60000));
        EXPECT_LT(GetTickCount64() - start, 30000u);
        EXPECT_EQ(lock.unusableFile().systemError, DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(lock.unusableFile().text(), L"Couldn't open the lock file " + file +
                                                  L" for writing, so launchers take turns by the root folder's name "
                                                  L"as spelled here (error 5).");
        // The named lock is held: a second taker on the same spelling (another thread) waits and gives up.
        auto secondTakes = [&] {
            bool taken = false;
            std::thread([&] {
                RootMutex second;
                taken = second.acquire(what, root, 100);
            }).join();
            return taken;
        };
        EXPECT_FALSE(secondTakes());
        lock.release();
        EXPECT_TRUE(secondTakes());
    }
    // The save and the job go on, the job saying why it took the named lock.
    EXPECT_FALSE(writeSetting(state, L"Current", L"1234567"));
    EXPECT_EQ(iniValue(L"Current"), L"1234567");
    RootLock job;
    EXPECT_TRUE(lockRootForJob(state, job));
    closeLog(state);
    const std::vector<std::wstring> lines = logMessages(root);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(0, 28), L"Couldn't open the lock file ");
}
