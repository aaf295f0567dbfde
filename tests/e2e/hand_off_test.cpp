// A launcher started as the old copy ("Vorlane Launcher.old.exe") hands over to
// the installed "Vorlane Launcher.exe" at once, with the same arguments.
#include <gtest/gtest.h>

#include "core/files.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

TEST(HandOff, TheOldCopyStartsTheInstalledLauncherAndExits) {
    TempFolder temp;
    std::wstring root = temp.path();
    // The stand-in game plays the installed launcher: it leaves started.txt in its working folder.
    std::wstring installed = joinPath(root, L"Vorlane Launcher.exe");
    std::wstring old = joinPath(root, L"Vorlane Launcher.old.exe");
    ASSERT_TRUE(CopyFileW(joinPath(testProgramFolder(), L"fake_game\\Vorlane.exe").c_str(), installed.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(developerLauncher().c_str(), old.c_str(), FALSE));

    EXPECT_EQ(runToEnd(old, {L"--root", root, L"--server", unusedLocalServer()}), 0u);
    // Under Wine the marker can be seen under its new name a moment before the game lets go of it,
    // so the test waits for the number itself, not for the name.
    std::wstring marker = joinPath(root, L"started.txt");
    std::string pidText;
    ASSERT_TRUE(waitFor([&] {
        pidText = readWholeFile(marker);
        return !pidText.empty() && pidText.find_first_not_of("0123456789") == std::string::npos;
    }));
    // The old copy neither opened a log nor ran as a launcher.
    EXPECT_FALSE(fileExists(joinPath(root, L"launcher.log")));

    DWORD pid = (DWORD)std::stoul(pidText);
    HANDLE game = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(game, nullptr);
    TerminateProcess(game, 0);
    WaitForSingleObject(game, 5000);
    CloseHandle(game);
}

TEST(HandOff, ACommandRunsInTheOldCopyItself) {
    TempFolder temp;
    std::wstring root = temp.path();
    std::wstring old = joinPath(root, L"Vorlane Launcher.old.exe");
    ASSERT_TRUE(CopyFileW(developerLauncher().c_str(), old.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(developerLauncher().c_str(), joinPath(root, L"Vorlane Launcher.exe").c_str(), FALSE));
    EXPECT_EQ(runToEnd(old, {L"--root", root, L"--server", unusedLocalServer(), L"--auto", L"nothing"}), 1u);
    auto lines = logMessages(root);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Done (nothing, exit 1, installed: nothing).");
}

TEST(HandOff, TheOldCopyStartedWithUpdatedRunsAsTheLauncherItself) {
    TempFolder temp;
    std::wstring root = temp.path();
    std::wstring old = joinPath(root, L"Vorlane Launcher.old.exe");
    ASSERT_TRUE(CopyFileW(joinPath(testProgramFolder(), L"fake_game\\Vorlane.exe").c_str(),
                          joinPath(root, L"Vorlane Launcher.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(developerLauncher().c_str(), old.c_str(), FALSE));

    // A start made by a launcher that has just replaced itself never hands over again.
    LauncherProcess launcher(old, {L"--root", root, L"--server", unusedLocalServer(), L"--updated"});
    ASSERT_TRUE(launcher.started());
    HWND window = nullptr;
    ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, launcher.processId());
    EXPECT_FALSE(fileExists(joinPath(root, L"started.txt")));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(launcher.wait(), 0u);
}
