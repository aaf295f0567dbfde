// The window comes at once, whatever the build servers do: with two servers
// that take the request and never answer before a good one, the window is up
// and answering while they are tried, says it is checking, and offers the
// good server's build once the check ends.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <memory>

#include "core/single_instance.h"
#include "core/text.h"
#include "support/build_server.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"
#include "support/window_driver.h"
#include "ui/main_window_controls.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// A server on 127.0.0.1 that takes connections (the system does, into its
// backlog) and never answers them.
class SilentServer {
public:
    SilentServer() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(socket_, 16) == 0 && getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            url_ = L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
    }
    ~SilentServer() {
        closesocket(socket_);
        WSACleanup();
    }
    const std::wstring& url() const { return url_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    std::wstring url_;
};

class WindowAtOnce : public LauncherTest {
protected:
    WindowAtOnce() : LauncherTest(L"window-at-once") {}
    void TearDown() override {
        if (window && IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        if (launcher) {
            EXPECT_EQ(launcher->wait(120000), 0u);
        }
    }

    // True when the window handled a message within a generous time.
    bool answers() {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
    }

    std::unique_ptr<LauncherProcess> launcher;
    HWND window = nullptr;
};

}  // namespace

TEST_F(WindowAtOnce, TwoSilentServersBeforeAGoodOneKeepNobodyWaitingForTheWindow) {
    SilentServer first, second;
    ASSERT_FALSE(first.url().empty());
    ASSERT_FALSE(second.url().empty());
    const std::wstring commit = L"f0e1d2c";
    server->publishBuild(commit, L"2026-06-01T10:00:00Z");
    const std::wstring servers = first.url() + L";" + second.url() + L";" + server->url();
    launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), launcherArguments({}, servers));
    ASSERT_TRUE(launcher->started());

    // The window is up and checking before the first silent server has even been given up on.
    ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }, 60000));
    ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, 60000));
    EXPECT_EQ(controlText(window, kStatusTextId), L"Checking for updates...");
    for (const std::wstring& line : log()) EXPECT_EQ(line.find(first.url() + L": "), std::wstring::npos);
    EXPECT_FALSE(controlEnabled(window, kMainButtonId));
    takeScreenshot(window, L"main-window-checking");

    // It answers the whole time the servers are tried, and the button waits.
    size_t answered = 0;
    while (controlText(window, kStatusTextId) == L"Checking for updates...") {
        ASSERT_TRUE(answers()) << "after " << answered << " answers";
        ++answered;
        ASSERT_LT(answered, 2000u) << "the check never ended";
        if (controlText(window, kStatusTextId) == L"Checking for updates...") {
            EXPECT_FALSE(controlEnabled(window, kMainButtonId));
            EXPECT_FALSE(controlEnabled(window, kCreateThemeId));
        }
        Sleep(100);
    }
    EXPECT_GT(answered, 10u);

    // Then the good server's build is offered.
    EXPECT_EQ(controlText(window, kMainButtonId), L"Install && Play");
    EXPECT_TRUE(controlEnabled(window, kMainButtonId));
    EXPECT_TRUE(controlEnabled(window, kCreateThemeId));
    EXPECT_EQ(controlText(window, kStatusLine2Id).rfind(L"Latest: build " + commit + L", released ", 0), 0u);
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"The build server at " + server->url() + L" lists 1 builds; the latest is " + commit +
                                    L"."));
    size_t silentNotes = 0;
    for (const std::wstring& line : lines)
        if (line.rfind(first.url() + L": ", 0) == 0 || line.rfind(second.url() + L": ", 0) == 0) ++silentNotes;
    EXPECT_EQ(silentNotes, 2u);
}

// Closed while the checks wait on a silent server, the window goes at once; a
// second start then brings it back rather than being swallowed by the closing
// launcher, and the checks cut short by the close run again to their end.
TEST_F(WindowAtOnce, ASecondStartAfterACloseDuringTheChecksShowsTheWindowAgain) {
    SilentServer silent;
    ASSERT_FALSE(silent.url().empty());
    const std::wstring commit = L"f0e1d2c";
    server->publishBuild(commit, L"2026-06-01T10:00:00Z");
    const std::vector<std::wstring> arguments = launcherArguments({}, silent.url() + L";" + server->url());
    launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), arguments);
    ASSERT_TRUE(launcher->started());
    ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }, 60000));
    ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, 60000));
    ASSERT_EQ(controlText(window, kStatusTextId), L"Checking for updates...");

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, 60000));
    EXPECT_EQ(runToEnd(testKeyLauncher(), arguments, 120000), 0u);
    ASSERT_TRUE(waitFor([&] { return IsWindow(window) && IsWindowVisible(window) != FALSE; }, 60000))
        << "the second start was swallowed";
    EXPECT_TRUE(waitFor([&] { return contains(log(), L"Opened again: brought this window to the front instead."); },
                        60000));

    // The checks end, run in full, and the window stays with the build offered.
    ASSERT_TRUE(waitFor([&] { return controlText(window, kMainButtonId) == L"Install && Play"; }, 180000))
        << toUtf8(controlText(window, kStatusTextId));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_NE(controlText(window, kStatusTextId), L"Checking for updates...");
    EXPECT_TRUE(controlEnabled(window, kCreateThemeId));
}
