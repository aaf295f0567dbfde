// The main window, run for real under Wine and driven with messages as a
// player's clicks would: its button labels and states, installing with the
// progress bar, the questions before Back, Uninstall and closing during an
// update, the update check on its timer, its layout at 144 DPI. Screenshots of
// its states are kept in build\screenshots.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>

#include "core/files.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "pieces/build_index.h"
#include "support/addon_themes.h"
#include "support/build_server.h"
#include "support/installed_game.h"
#include "support/launcher_test.h"
#include "support/launcher_process.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"
#include "support/window_driver.h"
#include "ui/main_window_controls.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kOld = L"a7b8c9d";
const std::wstring kNew = L"e1f2a3b4c5";
const std::wstring kOldReleased = L"2026-10-14T21:20:58Z";
const std::wstring kNewReleased = L"2026-11-02T09:05:00Z";

class MainWindow : public LauncherTest {
protected:
    MainWindow() : LauncherTest(L"window") {}
    std::unique_ptr<LauncherProcess> launcher;
    HWND window = nullptr;

    void TearDown() override {
        if (window && IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        if (launcher) {
            EXPECT_EQ(launcher->wait(30000), 0u);
        }
        closeGames();
    }

    // Runs a command with the command-line launcher, as set-up for a window test.
    void command(const std::wstring& name) { ASSERT_EQ(runCommand(name), 0u) << toUtf8(name); }

    void openWindow(std::vector<std::wstring> more = {}, const std::wstring& serverUrl = L"") {
        launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), launcherArguments(more, serverUrl));
        ASSERT_TRUE(launcher->started());
        ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
        ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) && !controlText(window, kMainButtonId).empty(); }));
    }

    std::wstring status(int line) { return controlText(window, line); }

    bool logHas(const std::wstring& line) { return contains(log(), line); }

    HWND waitForMessageBox(const std::wstring& caption) {
        HWND box = nullptr;
        // The box's window comes before its text: it is taken once the text is there too.
        EXPECT_TRUE(waitFor([&] { return (box = findMessageBox(window, caption)) != nullptr && !messageBoxText(box).empty(); }));
        return box;
    }

    void closeGames() { endStartedGames(root); }
};

long long sizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// Tests that need Wine's screen at 144 DPI. Wine takes the DPI from the
// prefix's registry when a program starts, so CTest runs them in a prefix of
// their own (build/wine-144dpi) and the shared one stays at 96.
class MainWindowAt144Dpi : public MainWindow {
protected:
    // Where a control sits in the window's client area.
    RECT placeOf(int id) {
        HWND control = id ? GetDlgItem(window, id) : FindWindowExW(window, nullptr, L"msctls_progress32", nullptr);
        RECT box{};
        GetWindowRect(control, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        return box;
    }

    // Tells the window it is now on a screen of this DPI, as the system does
    // when it is moved to one (the suggested rectangle lives in its process).
    void moveToScreenAt(UINT dpi) {
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, launcher->processId());
        ASSERT_TRUE(process);
        void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_TRUE(remote);
        RECT suggested;
        GetWindowRect(window, &suggested);
        EXPECT_TRUE(WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr));
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
    }
};

}  // namespace

TEST_F(MainWindow, WithNothingOfferedTheButtonIsDisabledAndTheStatusSaysWhy) {
    openWindow({}, unusedLocalServer());
    EXPECT_EQ(controlText(window, kMainButtonId), L"Install && Play");
    EXPECT_FALSE(controlEnabled(window, kMainButtonId));
    EXPECT_EQ(status(kStatusLine1Id), L"Not installed yet.");
    EXPECT_EQ(status(kStatusLine2Id), L"Couldn't reach the build server; you can still play what's installed.");
    EXPECT_TRUE(controlVisible(window, kChangeFolderId));
    EXPECT_TRUE(controlEnabled(window, kChangeFolderId));
    EXPECT_FALSE(controlVisible(window, kBackId));
    EXPECT_FALSE(controlEnabled(window, kOpenFolderId));
    EXPECT_FALSE(controlEnabled(window, kUninstallId));

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_GT(client.bottom, 440 + 34);
    EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX));
    takeScreenshot(window, L"main-window-idle");

    pressButton(window, kWhatsNewId);
    HWND box = waitForMessageBox(L"What's new");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box),
              L"Couldn't reach the build server, so there's no list of what's new. You can still play what's installed.");
    answerMessageBox(box, IDOK);
}

TEST_F(MainWindow, TheButtonInstallsWithProgressStartsTheGameAndThenSaysPlay) {
    // Through the slow path (512 KB/s a request) the install takes seconds, whatever the machine's speed, so the
    // bar is seen to move.
    server->publishBuild(kOld, kOldReleased, 8 << 20);
    openWindow({}, server->slowUrl());
    EXPECT_EQ(controlText(window, kMainButtonId), L"Install && Play");
    ASSERT_TRUE(controlEnabled(window, kMainButtonId));
    EXPECT_EQ(status(kStatusLine2Id), L"Latest: build " + kOld + L", released Wed 14 Oct 2026, 9:20 PM");

    pressButton(window, kMainButtonId);
    // While it installs the button is disabled and the bar moves.
    std::vector<int> positions;
    bool shot = false;
    waitFor([&] {
        const int position = progressPosition(window, 0);
        if (positions.empty() || positions.back() != position) positions.push_back(position);
        if (!shot && position > 100 && position < 700) shot = takeScreenshot(window, L"main-window-installing");
        return IsIconic(window) || status(kStatusLine1Id).rfind(L"Installed:", 0) == 0;
    }, 120000);
    EXPECT_GE(positions.size(), 3u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));

    const std::wstring marker = joinPath(buildFolderOf(kOld), L"started.txt");
    EXPECT_TRUE(waitFor([&] { return fileExists(marker); }));
    EXPECT_TRUE(waitFor([&] { return IsIconic(window) != FALSE; }));
    // The window refreshes itself after starting the game; its status lines are written last.
    EXPECT_TRUE(waitFor([&] { return status(kStatusLine2Id) == L"This is the latest build."; }));
    EXPECT_EQ(status(kStatusLine1Id), L"Installed: build " + kOld + L", released Wed 14 Oct 2026, 9:20 PM");
    EXPECT_EQ(status(kStatusTextId), L"Installed build " + kOld + L".");
    EXPECT_EQ(controlText(window, kMainButtonId), L"Play");
    EXPECT_TRUE(controlEnabled(window, kMainButtonId));
    EXPECT_FALSE(controlVisible(window, kChangeFolderId));
    EXPECT_EQ(setting(L"Current"), kOld);

    closeGames();
    ShowWindow(window, SW_RESTORE);
    waitFor([&] { return !IsIconic(window); });
    takeScreenshot(window, L"main-window-installed");
}

TEST_F(MainWindow, WithAnUpdateDueAndTheGameRunningTheButtonOnlyAsksToCloseIt) {
    server->publishBuild(kOld, kOldReleased);
    command(L"install");
    command(L"play");
    ASSERT_TRUE(waitFor([&] { return fileExists(joinPath(buildFolderOf(kOld), L"started.txt")); }));
    server->publishBuild(kNew, kNewReleased);

    openWindow();
    EXPECT_EQ(controlText(window, kMainButtonId), L"Update && Play");
    pressButton(window, kMainButtonId);
    EXPECT_TRUE(waitFor([&] {
        return status(kStatusTextId) == L"The game is still running: close it, then press the button again to update.";
    }));
    EXPECT_TRUE(controlEnabled(window, kMainButtonId));
    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_FALSE(folderExists(joinPath(root, L"Game\\" + kNew)));
}

TEST_F(MainWindow, BackAndUninstallAskFirstAndCancelChangesNothing) {
    server->publishBuild(kOld, kOldReleased);
    command(L"install");
    server->publishBuild(kNew, kNewReleased);
    command(L"update");
    openWindow();
    ASSERT_TRUE(controlVisible(window, kBackId));
    EXPECT_EQ(controlText(window, kBackId), L"Back to build " + kOld);

    pressButton(window, kBackId);
    HWND box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box), L"Go back to build " + kOld + L"? Your settings and saves come with you, and build " +
                                       kNew + L" isn't offered as an update again (a newer one is).");
    answerMessageBox(box, IDCANCEL);
    EXPECT_TRUE(waitFor([&] { return findMessageBox(window, L"Vorlane") == nullptr; }));
    EXPECT_EQ(setting(L"Current"), kNew);

    pressButton(window, kBackId);
    box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    answerMessageBox(box, IDOK);
    EXPECT_TRUE(waitFor([&] { return status(kStatusTextId) == L"Now on build " + kOld + L"."; }));
    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_EQ(setting(L"HeldBack"), kNew);
    EXPECT_EQ(controlText(window, kBackId), L"Back to build " + kNew);
    EXPECT_EQ(controlText(window, kMainButtonId), L"Play");
    EXPECT_NE(status(kStatusLine2Id).find(L" (you went back from it)"), std::wstring::npos);

    pressButton(window, kUninstallId);
    box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box).rfind(L"Remove Vorlane from this PC?", 0), 0u);
    answerMessageBox(box, IDCANCEL);
    EXPECT_TRUE(waitFor([&] { return findMessageBox(window, L"Vorlane") == nullptr; }));
    EXPECT_EQ(setting(L"Current"), kOld);

    pressButton(window, kUninstallId);
    box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    answerMessageBox(box, IDYES);
    EXPECT_TRUE(waitFor([&] { return status(kStatusTextId) == L"Uninstalled."; }));
    EXPECT_EQ(setting(L"Current"), L"");
    EXPECT_TRUE(folderExists(joinPath(root, L"PlayerData")));
    EXPECT_EQ(controlText(window, kMainButtonId), L"Install && Play");
    EXPECT_TRUE(controlVisible(window, kChangeFolderId));
    EXPECT_FALSE(controlVisible(window, kBackId));
}

TEST_F(MainWindow, TheTimedCheckFindsANewBuildAndTheButtonOffersTheUpdate) {
    server->publishBuild(kOld, kOldReleased);
    command(L"install");
    openWindow({L"--check-every", L"1"});
    EXPECT_EQ(controlText(window, kMainButtonId), L"Play");

    server->publishBuild(kNew, kNewReleased);
    EXPECT_TRUE(waitFor([&] { return logHas(L"Update check: build " + kNew + L" is offered to install."); }, 30000));
    // The status lines are written last when the window refreshes itself.
    EXPECT_TRUE(waitFor([&] {
        return status(kStatusLine2Id) == L"Latest: build " + kNew + L", released Mon 2 Nov 2026, 9:05 AM";
    }));
    EXPECT_EQ(controlText(window, kMainButtonId), L"Update && Play");
    // Later checks find nothing new.
    EXPECT_TRUE(waitFor([&] { return logHas(L"Update check: nothing new."); }, 30000));
}

TEST_F(MainWindow, PlayBringsAddOnThemesUpFirstAndThenStartsTheGame) {
    server->publishBuild(kOld, kOldReleased);
    command(L"install");
    // A theme the player downloaded for an earlier build; the server has its version for this one.
    const ThemeVersion forThisBuild = {{L"Ember.uplugin", descriptorText(kOld)},
                                       {L"Content/Paks/Ember-Windows.pak", noiseBytes(300000, 7)}};
    const std::wstring made = temp.file(L"made\\Ember");
    writeThemeFolder(made, forThisBuild);
    ASSERT_TRUE(publishTheme(temp, server->folder(), made, kOld));
    const std::wstring themes = joinPath(buildFolderOf(kOld), L"Vorlane\\Saved\\PersistentDownloadDir\\Themes");
    writeThemeFolder(joinPath(themes, L"Ember"), {{L"Ember.uplugin", descriptorText(L"0000001")},
                                                  {L"Content/Paks/Ember-Windows.pak", noiseBytes(300000, 8)}});

    openWindow();
    ASSERT_EQ(controlText(window, kMainButtonId), L"Play");
    pressButton(window, kMainButtonId);
    const std::wstring marker = joinPath(buildFolderOf(kOld), L"started.txt");
    ASSERT_TRUE(waitFor([&] { return fileExists(marker); }, 60000));
    // The game started only once the theme's new version was staged for it.
    EXPECT_TRUE(fileExists(joinPath(themes, L".Ember\\.install-at-next-start")));
    EXPECT_EQ(readTestFile(joinPath(themes, L".Ember\\Ember.uplugin")), descriptorText(kOld));
    EXPECT_LT(lastWriteTimeOf(joinPath(themes, L".Ember\\.install-at-next-start")), lastWriteTimeOf(marker));
    EXPECT_TRUE(waitFor([&] { return IsIconic(window) != FALSE; }));
}

TEST_F(MainWindow, ChangeFolderOpensTheSystemFolderPickerAndCancelKeepsTheFolder) {
    openWindow({}, unusedLocalServer());
    ASSERT_TRUE(controlVisible(window, kChangeFolderId));
    pressButton(window, kChangeFolderId);
    HWND picker = nullptr;
    ASSERT_TRUE(waitFor(
        [&] { return (picker = findMessageBox(window, L"Where should Vorlane be installed?")) != nullptr; }));
    answerMessageBox(picker, IDCANCEL);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(picker) || !IsWindowVisible(picker); }));
    EXPECT_EQ(setting(L"InstallDir"), L"");  // nothing chosen, nothing written
    EXPECT_EQ(status(kStatusTextId), L"");
}

TEST_F(MainWindow, DuringAnUpdateTheWindowShowsTheBuildItHadUntilTheJobHandsTheNewOneBack) {
    server->publishBuild(kOld, kOldReleased);
    command(L"install");
    // The player's add-on theme comes over with the saves; its version for the
    // new build downloads slowly after the build is in place.
    writeThemeFolder(joinPath(buildFolderOf(kOld), L"Vorlane\\Saved\\PersistentDownloadDir\\Themes\\Ember"),
                     {{L"Ember.uplugin", descriptorText(kOld)},
                      {L"Content/Paks/Ember-Windows.pak", noiseBytes(6 << 20, 8)}});
    server->publishBuild(kNew, kNewReleased);
    const std::wstring made = temp.file(L"made\\Ember");
    writeThemeFolder(made, {{L"Ember.uplugin", descriptorText(kNew)},
                            {L"Content/Paks/Ember-Windows.pak", noiseBytes(6 << 20, 7)}});
    ASSERT_TRUE(publishTheme(temp, server->folder(), made, kNew));

    openWindow({}, server->slowUrl());
    ASSERT_EQ(controlText(window, kMainButtonId), L"Update && Play");
    pressButton(window, kMainButtonId);
    // The new build is in place on disk and the job is on the theme.
    ASSERT_TRUE(waitFor([&] { return status(kStatusTextId).find(L"Ember") != std::wstring::npos; }, 120000));
    EXPECT_EQ(setting(L"Current"), kNew);
    EXPECT_TRUE(logHas(L"Installed build " + kNew + L" (previous: " + kOld + L")."));

    // What the window shows, What's new included, is still the build it had.
    EXPECT_EQ(status(kStatusLine1Id), L"Installed: build " + kOld + L", released Wed 14 Oct 2026, 9:20 PM");
    EXPECT_FALSE(controlEnabled(window, kMainButtonId));
    pressButton(window, kWhatsNewId);
    HWND box = waitForMessageBox(L"What's new");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box).rfind(L"New since your build (" + kOld + L"):", 0), 0u)
        << toUtf8(messageBoxText(box));
    answerMessageBox(box, IDOK);

    // The job's result shows all at once when it is handed back.
    EXPECT_TRUE(waitFor([&] { return status(kStatusLine2Id) == L"This is the latest build."; }, 120000));
    EXPECT_EQ(status(kStatusLine1Id), L"Installed: build " + kNew + L", released Mon 2 Nov 2026, 9:05 AM");
    EXPECT_EQ(controlText(window, kBackId), L"Back to build " + kOld);
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.rfind(L"Add-on theme Ember is ready for build " + kNew + L":", 0) == 0;
    }));
    pressButton(window, kWhatsNewId);
    box = waitForMessageBox(L"What's new");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box).rfind(L"You have the latest build (" + kNew + L").", 0), 0u);
    answerMessageBox(box, IDOK);
}

TEST_F(MainWindow, ClosingDuringAnInstallAsksThenStopsItAndTheNextInstallCarriesOn) {
    server->publishBuild(kOld, kOldReleased, 24 << 20);
    openWindow({}, server->slowUrl());
    pressButton(window, kMainButtonId);
    const std::wstring part = joinPath(root, L"Downloads\\Vorlane-" + kOld + L".zip.part");
    ASSERT_TRUE(waitFor([&] { return sizeOf(part) > (1 << 20); }, 60000));

    const std::wstring question =
        L"An update is running. Stop it and close? It carries on from where it stopped next time.";
    PostMessageW(window, WM_CLOSE, 0, 0);
    HWND box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box), question);
    answerMessageBox(box, IDCANCEL);
    // Cancel: the download goes on.
    const long long atCancel = sizeOf(part);
    EXPECT_TRUE(waitFor([&] { return sizeOf(part) > atCancel + (1 << 20); }, 60000));
    EXPECT_TRUE(IsWindow(window));

    PostMessageW(window, WM_CLOSE, 0, 0);
    box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box), question);
    answerMessageBox(box, IDOK);
    EXPECT_EQ(launcher->wait(60000), 0u);
    EXPECT_TRUE(fileExists(part));
    EXPECT_LT(sizeOf(part), 24 << 20);
    EXPECT_EQ(setting(L"Current"), L"");
    EXPECT_FALSE(logHas(L"Installed build " + kOld + L" (previous: none)."));

    newLogLines();
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.rfind(L"Carrying on the download of Vorlane-" + kOld + L".zip from ", 0) == 0;
    }));
    EXPECT_TRUE(contains(lines, L"Installed build " + kOld + L" (previous: none)."));
    EXPECT_FALSE(fileExists(part));
}

// The bytes nginx sent in answer to a request, and its status, from its access log line.
struct Answered {
    int status = 0;
    long long bytes = -1;
};

Answered answeredIn(const std::string& line) {
    Answered answered;
    const size_t request = line.find("\" ");
    if (request != std::string::npos) sscanf(line.c_str() + request + 2, "%d %lld", &answered.status, &answered.bytes);
    return answered;
}

// Pause stops the download at once and keeps what came; Resume carries on
// with a range request for the rest, so nothing is fetched twice.
TEST_F(MainWindow, PauseStopsTheDownloadAtOnceAndResumeCarriesOnFromWhereItStopped) {
    const std::wstring served = server->publishBuild(kOld, kOldReleased, 8 << 20);
    const long long zipSize = sizeOf(served);
    const std::wstring slowPath = L"/slow" + requestPath(fileNameOf(served));
    const size_t requestsBefore = nginxRequestsFor(slowPath).size();
    openWindow({}, server->slowUrl());
    EXPECT_FALSE(controlVisible(window, kPauseId));
    pressButton(window, kMainButtonId);
    const std::wstring part = joinPath(root, L"Downloads\\" + fileNameOf(served) + L".part");
    ASSERT_TRUE(waitFor([&] { return sizeOf(part) > (1 << 20); }, 60000));
    ASSERT_TRUE(controlVisible(window, kPauseId));
    EXPECT_EQ(controlText(window, kPauseId), L"Pause");
    EXPECT_TRUE(textFitsControl(window, kPauseId, 15));
    // The status line words the download: "Downloading <zip>... <n> of 8,192 KB"... or in MB.
    EXPECT_EQ(status(kStatusTextId).rfind(L"Downloading " + fileNameOf(served) + L"... ", 0), 0u)
        << toUtf8(status(kStatusTextId));
    EXPECT_NE(status(kStatusTextId).find(L" of 8 MB"), std::wstring::npos) << toUtf8(status(kStatusTextId));
    takeScreenshot(window, L"main-window-downloading");

    pressButton(window, kPauseId);
    ASSERT_TRUE(waitFor([&] { return controlText(window, kPauseId) == L"Resume" && controlEnabled(window, kPauseId); },
                        60000));
    const long long atPause = sizeOf(part);
    EXPECT_GT(atPause, 0);
    EXPECT_LT(atPause, zipSize);
    EXPECT_EQ(status(kStatusTextId), L"Paused. What's downloaded is kept: Resume carries on from there.");
    EXPECT_TRUE(controlEnabled(window, kMainButtonId));
    // nginx logs the request once the launcher has let go of it; nothing more came after.
    ASSERT_TRUE(waitFor([&] { return nginxRequestsFor(slowPath).size() == requestsBefore + 1; }, 60000));
    EXPECT_EQ(sizeOf(part), atPause);
    EXPECT_EQ(setting(L"Current"), L"");
    takeScreenshot(window, L"main-window-paused");
    EXPECT_EQ(sizeOf(part), atPause);
    EXPECT_EQ(nginxRequestsFor(slowPath).size(), requestsBefore + 1);

    pressButton(window, kPauseId);
    ASSERT_TRUE(waitFor([&] { return IsIconic(window) || status(kStatusLine1Id).rfind(L"Installed:", 0) == 0; },
                        120000));
    EXPECT_TRUE(logHas(L"Installed build " + kOld + L" (previous: none)."));
    EXPECT_EQ(setting(L"Current"), kOld);
    EXPECT_EQ(readTestFile(joinPath(buildFolderOf(kOld), L"Build.ini")), buildIniText(kOld));
    EXPECT_FALSE(fileExists(part));
    // The second request asked for the rest only: nginx sent exactly what the part lacked.
    const std::vector<std::string> requests = nginxRequestsFor(slowPath);
    ASSERT_EQ(requests.size(), requestsBefore + 2);
    const Answered rest = answeredIn(requests.back());
    EXPECT_EQ(rest.status, 206) << requests.back();
    EXPECT_EQ(rest.bytes, zipSize - atPause) << requests.back();
    EXPECT_FALSE(controlVisible(window, kPauseId));
}

// What a download at a steady rate reads like, from the status line's tail
// "<n> of <total> MB, <speed> MB/s, about <t> s left".
struct DownloadWords {
    double done = -1, total = -1, speed = -1;
    long long secondsLeft = -1;
};

DownloadWords downloadWordsIn(const std::wstring& tail) {
    DownloadWords words;
    if (swscanf(tail.c_str(), L"%lf of %lf MB", &words.done, &words.total) != 2) {
        // Under 1 MB the part is said in KB: "512 KB of 200 MB".
        if (swscanf(tail.c_str(), L"%lf KB of %lf MB", &words.done, &words.total) != 2) return {};
        words.done /= 1024;
    }
    const size_t speed = tail.find(L" MB/s");
    if (speed != std::wstring::npos) words.speed = wcstod(tail.c_str() + tail.rfind(L", ", speed) + 2, nullptr);
    const size_t left = tail.find(L"about ");
    long long amount = 0;
    wchar_t unit[8] = {};
    if (left != std::wstring::npos && swscanf(tail.c_str() + left, L"about %lld %7ls", &amount, unit) == 2)
        words.secondsLeft = std::wstring(unit) == L"min" ? amount * 60 : amount;
    return words;
}

// A 200 MB zip at nginx's steady 8 MB/s: the status says how much of how much,
// a speed near the server's once a few seconds have come, and a time left that
// falls; the bar never goes back through the whole install.
TEST_F(MainWindow, ADownloadAtASteadyRateShowsHowMuchHowFastAndATimeLeftThatFalls) {
    const std::wstring served = server->publishBuild(kOld, kOldReleased, 200 << 20);
    openWindow({}, server->pacedUrl());
    pressButton(window, kMainButtonId);
    const std::wstring start = L"Downloading " + fileNameOf(served) + L"... ";
    std::vector<std::wstring> lines;
    int bar = 0, barWentBack = 0;
    bool shot = false;
    ASSERT_TRUE(waitFor(
        [&] {
            const int now = progressPosition(window, 0);
            if (now < bar) barWentBack = now;
            bar = std::max(bar, now);
            const std::wstring line = status(kStatusTextId);
            if (line.starts_with(start) && (lines.empty() || lines.back() != line)) lines.push_back(line);
            if (!shot && line.find(L" left") != std::wstring::npos) {
                takeScreenshot(window, L"main-window-download-speed");
                shot = true;
            }
            return IsIconic(window) || status(kStatusLine1Id).starts_with(L"Installed:");
        },
        300000));
    EXPECT_EQ(barWentBack, 0) << "the bar went back from " << bar;
    EXPECT_TRUE(logHas(L"Installed build " + kOld + L" (previous: none)."));

    // Once 6 s of bytes have come (the speed is what came over the last 5 s),
    // every speed shown is within 20% of the server's, and the time left falls.
    std::vector<long long> left;
    size_t measured = 0;
    for (const std::wstring& line : lines) {
        const DownloadWords words = downloadWordsIn(line.substr(start.size()));
        ASSERT_GE(words.done, 0) << toUtf8(line);
        EXPECT_EQ(words.total, 200) << toUtf8(line);
        if (words.done < 48 || words.done > 196) continue;
        ++measured;
        EXPECT_NEAR(words.speed, 8.0, 1.6) << toUtf8(line);
        if (words.secondsLeft >= 0) {
            // A second's rounding either way is no rise.
            if (!left.empty()) EXPECT_LE(words.secondsLeft, left.back() + 1) << toUtf8(line);
            left.push_back(words.secondsLeft);
        }
    }
    EXPECT_GE(measured, 20u) << "the status changed too seldom to be read";
    ASSERT_GE(left.size(), 2u);
    EXPECT_GE(left.front() - left.back(), 10) << "the time left didn't fall";
}

// A download left part way (paused, then the launcher closed) is offered to
// carry on at the next start.
TEST_F(MainWindowAt144Dpi, ADownloadLeftPartWayIsOfferedToCarryOnAtTheNextStart) {
    if (screenDpi() != 144) GTEST_SKIP() << notAt144Dpi();
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const std::wstring served = server->publishBuild(kOld, kOldReleased, 4 << 20);
    const std::wstring downloads = joinPath(root, L"Downloads");
    ASSERT_TRUE(makeFolderTree(downloads));
    ASSERT_TRUE(writeFileAtomically(joinPath(downloads, fileNameOf(served) + L".part"),
                                    readTestFile(served).substr(0, 1000)));
    openWindow({}, server->slowUrl());
    ASSERT_TRUE(waitFor([&] { return controlVisible(window, kPauseId); }));
    EXPECT_EQ(controlText(window, kPauseId), L"Resume");
    EXPECT_TRUE(controlEnabled(window, kPauseId));
    EXPECT_EQ(placeOf(kPauseId).left, 390 * 3 / 2);
    EXPECT_EQ(placeOf(kPauseId).right, 460 * 3 / 2);
    EXPECT_TRUE(textFitsControl(window, kPauseId, 15));
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    takeScreenshot(window, L"main-window-resume-144dpi");

    pressButton(window, kPauseId);
    // The download's words, speed and time left included, fit the window at 144 DPI too.
    ASSERT_TRUE(waitFor([&] { return status(kStatusTextId).find(L"/s, about ") != std::wstring::npos; }, 60000))
        << toUtf8(status(kStatusTextId));
    EXPECT_EQ(controlText(window, kPauseId), L"Pause");
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    takeScreenshot(window, L"main-window-downloading-144dpi");
    ASSERT_TRUE(waitFor([&] { return IsIconic(window) || status(kStatusLine1Id).rfind(L"Installed:", 0) == 0; },
                        120000));
    EXPECT_TRUE(contains(log(), L"Carrying on the download of " + fileNameOf(served) + L" from 0 MB."));
    EXPECT_EQ(setting(L"Current"), kOld);
}

TEST_F(MainWindowAt144Dpi, ScalesItsClientAreaControlsAndFontsAndLaysOutAgainWhenTheDpiChanges) {
    const DWORD dpi = screenDpi();
    if (dpi != 144)
        GTEST_SKIP() << "Wine's screen is at " << dpi
                     << " DPI in this prefix; CTest runs this test in build/wine-144dpi";
    // Rectangles in device pixels, as the launcher itself (aware of each screen's DPI) has them.
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    // A window taller than the screen would be cut to it.
    ASSERT_GE(GetSystemMetrics(SM_CYSCREEN), 900) << "the test display is too small for the window at 144 DPI";
    server->publishBuild(kOld, kOldReleased);
    command(L"install");
    const std::wstring summary =
        L"Night map, two new towers, and the last wave comes faster when all four of you play.";
    ASSERT_TRUE(server->publish(makeBuildZip(temp.path(), kNew), kNewReleased, summary));
    command(L"update");
    openWindow();
    ASSERT_TRUE(controlVisible(window, kBackId));
    EXPECT_EQ(GetDpiForWindow(window), 144u);

    // Each control's place at 96 DPI (the progress bar has no identifier).
    const std::pair<int, RECT> layout[] = {
        {kMainButtonId, {32, 250, 608, 314}}, {0, {32, 328, 608, 342}},        {kOpenFolderId, {32, 382, 172, 412}},
        {kUninstallId, {468, 382, 608, 412}}, {kBackId, {182, 382, 382, 412}}, {kThemeFilesId, {488, 30, 608, 58}},
        {kWhatsNewId, {358, 30, 478, 58}},    {kCreateThemeId, {488, 64, 608, 92}},
    };
    auto expectLayoutAt = [&](int numerator, int denominator) {
        for (const auto& [id, at96] : layout) {
            const RECT box = placeOf(id);
            EXPECT_EQ(box.left, at96.left * numerator / denominator) << id;
            EXPECT_EQ(box.top, at96.top * numerator / denominator) << id;
            EXPECT_EQ(box.right, at96.right * numerator / denominator) << id;
            EXPECT_EQ(box.bottom, at96.bottom * numerator / denominator) << id;
        }
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 640 * numerator / denominator);
        EXPECT_GT(client.bottom, (440 + 34) * numerator / denominator);
        return client.bottom;
    };
    const int heightAt144 = expectLayoutAt(3, 2);
    // For a person to look at, like the other screenshots; the display may be too busy to give one.
    takeScreenshot(window, L"main-window-144dpi");

    // On a screen at 96 DPI it lays itself out again, with fonts to match: the
    // description, measured in the normal font, sets the client height (its
    // words may wrap a line differently at each size, no more; unscaled fonts
    // would take two lines fewer at 144).
    moveToScreenAt(96);
    const int heightAt96 = expectLayoutAt(1, 1);
    EXPECT_NEAR(heightAt144, heightAt96 * 3 / 2, 30);
}

// "Check files" runs the check as a job, mends a changed file, and says so
// without starting the game.
TEST_F(MainWindow, CheckFilesMendsAChangedFileAndSaysSo) {
    server->publishInPieces(true);
    server->publishBuild(kOld, kOldReleased);
    openWindow();
    EXPECT_FALSE(controlVisible(window, kCheckFilesId));
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(launcher->wait(30000), 0u);
    launcher.reset();

    command(L"install");
    const std::wstring buildIni = joinPath(buildFolderOf(kOld), L"Build.ini");
    ASSERT_TRUE(writeFileAtomically(buildIni, "[Build]\r\nCommit=changed\r\n"));
    openWindow();
    ASSERT_TRUE(controlVisible(window, kCheckFilesId));
    EXPECT_EQ(controlText(window, kCheckFilesId), L"Check files");
    pressButton(window, kCheckFilesId);
    EXPECT_TRUE(waitFor([&] { return status(kStatusTextId) == L"Checked build " + kOld + L": every file is as published."; },
                        60000))
        << toUtf8(status(kStatusTextId));
    EXPECT_TRUE(logHas(L"The file Build.ini isn't as published."));
    EXPECT_EQ(readTestFile(buildIni), buildIniText(kOld));
    EXPECT_FALSE(fileExists(joinPath(buildFolderOf(kOld), L"started.txt")));
    EXPECT_TRUE(controlEnabled(window, kCheckFilesId));

    // Changed again, with its one piece gone from the server (on its own and in the build's pack): the window says
    // what couldn't be mended.
    ASSERT_TRUE(writeFileAtomically(buildIni, "[Build]\r\nCommit=changed again\r\n"));
    ASSERT_TRUE(DeleteFileW(joinPath(server->folder(), L"builds\\" + sha256Hex(buildIniText(kOld))).c_str()));
    for (const FolderEntry& object : listFolder(joinPath(server->folder(), L"builds"))) {
        BuildIndex index;
        if (readBuildIndex(readTestFile(joinPath(server->folder(), L"builds\\" + object.name)), kOld, index).verdict ==
                BuildIndexVerdict::Good &&
            !index.pack.sha256.empty())
            ASSERT_TRUE(DeleteFileW(joinPath(server->folder(), L"builds\\" + index.pack.sha256).c_str()));
    }
    pressButton(window, kCheckFilesId);
    const std::wstring notMended = L"Not mended: Couldn't mend the file Build.ini: a piece came from no build server intact";
    EXPECT_TRUE(waitFor([&] { return status(kStatusTextId).starts_with(notMended); }, 60000))
        << toUtf8(status(kStatusTextId));
}
