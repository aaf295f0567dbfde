// The main window, run for real under Wine and driven with messages as a
// player's clicks would: its button labels and states, installing with the
// progress bar, the questions before Back and Uninstall, the update check on
// its timer. Screenshots of its states are kept in build\screenshots.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>

#include "core/files.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "support/addon_themes.h"
#include "support/build_server.h"
#include "support/installed_game.h"
#include "support/launcher_test.h"
#include "support/launcher_process.h"
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
        EXPECT_TRUE(waitFor([&] { return (box = findMessageBox(caption)) != nullptr; }));
        return box;
    }

    void closeGames() { endStartedGames(root); }
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
    server->publishBuild(kOld, kOldReleased, 48 << 20);
    openWindow();
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
    EXPECT_TRUE(waitFor([&] { return findMessageBox(L"Vorlane") == nullptr; }));
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
    EXPECT_TRUE(waitFor([&] { return findMessageBox(L"Vorlane") == nullptr; }));
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
    ASSERT_TRUE(waitFor([&] { return (picker = findMessageBox(L"Where should Vorlane be installed?")) != nullptr; }));
    answerMessageBox(picker, IDCANCEL);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(picker) || !IsWindowVisible(picker); }));
    EXPECT_EQ(setting(L"InstallDir"), L"");  // nothing chosen, nothing written
    EXPECT_EQ(status(kStatusTextId), L"");
}
