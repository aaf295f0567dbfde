// One windowed launcher per root folder: a second start brings the first window forward.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/single_instance.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

HWND launcherWindow(const std::wstring& root) { return findLauncherWindow(instanceHash(root)); }

bool logHas(const std::wstring& root, const std::wstring& message) {
    auto lines = logMessages(root);
    return std::find(lines.begin(), lines.end(), message) != lines.end();
}

}  // namespace

TEST(SingleInstance, ASecondStartForTheSameRootBringsTheFirstWindowForward) {
    TempFolder temp;
    std::wstring root = temp.file(L"Root");
    std::wstring server = unusedLocalServer();

    LauncherProcess first(developerLauncher(), {L"--root", root, L"--server", server});
    ASSERT_TRUE(first.started());
    HWND window = nullptr;
    ASSERT_TRUE(waitFor([&] { return (window = launcherWindow(root)) != nullptr; }));
    wchar_t title[32];
    GetWindowTextW(window, title, 32);
    EXPECT_STREQ(title, L"Vorlane");

    // Other letter case and a trailing backslash name the same root.
    std::wstring sameRoot = root;
    std::transform(sameRoot.begin(), sameRoot.end(), sameRoot.begin(), ::towupper);
    EXPECT_EQ(runToEnd(developerLauncher(), {L"--root", sameRoot + L"\\", L"--server", server}), 0u);
    EXPECT_TRUE(waitFor([&] { return logHas(root, L"Opened again: brought this window to the front instead."); }));
    EXPECT_EQ(first.wait(0), (DWORD)STILL_ACTIVE);

    // Another root runs beside it.
    std::wstring otherRoot = temp.file(L"Other");
    LauncherProcess other(developerLauncher(), {L"--root", otherRoot, L"--server", server});
    HWND otherWindow = nullptr;
    ASSERT_TRUE(waitFor([&] { return (otherWindow = launcherWindow(otherRoot)) != nullptr; }));
    EXPECT_NE(otherWindow, window);
    EXPECT_EQ(first.wait(0), (DWORD)STILL_ACTIVE);

    PostMessageW(otherWindow, WM_CLOSE, 0, 0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(other.wait(), 0u);
    EXPECT_EQ(first.wait(), 0u);
}

TEST(SingleInstance, CommandsRunBesideAWindow) {
    TempFolder temp;
    std::wstring root = temp.file(L"Root");
    std::wstring server = unusedLocalServer();
    LauncherProcess window(developerLauncher(), {L"--root", root, L"--server", server});
    HWND found = nullptr;
    ASSERT_TRUE(waitFor([&] { return (found = launcherWindow(root)) != nullptr; }));
    // The log belongs to the window's launcher, so the command runs without one.
    EXPECT_EQ(runToEnd(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"none"}), 1u);
    PostMessageW(found, WM_CLOSE, 0, 0);
    EXPECT_EQ(window.wait(), 0u);
}
