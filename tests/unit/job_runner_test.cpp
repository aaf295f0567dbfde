// The job runner: progress reaches the window without flooding it, never goes
// back within a job, and a job's end is never lost.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "core/job_runner.h"
#include "support/launcher_process.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

constexpr UINT kProgress = WM_APP + 1;
constexpr UINT kDone = WM_APP + 2;

// A window of this thread that only receives messages.
struct MessageWindow {
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ~MessageWindow() {
        if (hwnd) DestroyWindow(hwnd);
    }
};

}  // namespace

TEST(JobRunner, AJobThatReportsOftenSendsAFewMessagesASecondAndItsEndArrives) {
    MessageWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    JobRunner runner;
    const int reports = 100000;
    const ULONGLONG began = GetTickCount64();
    ASSERT_TRUE(runner.start<int>(window.hwnd, kProgress, kDone, [&](const JobControl& control) {
        for (int i = 1; i <= reports; ++i) control.progress(double(i) / reports, L"step " + std::to_wstring(i));
        return 7;
    }));

    int progressMessages = 0;
    std::optional<ProgressRecord> shown;
    std::unique_ptr<int> result;
    MSG message;
    while (!result && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == window.hwnd && message.message == kProgress) {
            ++progressMessages;
            if (auto taken = runner.takeProgress()) shown = taken;
        } else if (message.hwnd == window.hwnd && message.message == kDone) {
            result = takeJobResult<int>(message.lParam);
        } else {
            DispatchMessageW(&message);
        }
    }
    runner.finish();
    const ULONGLONG elapsed = GetTickCount64() - began;
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, 7);
    // Ten a second at most, and one more at the start.
    EXPECT_LE(progressMessages, 2 + int(elapsed / 100)) << elapsed << " ms";
    // What wasn't taken yet is there for the window at the end: the last report.
    if (auto taken = runner.takeProgress()) shown = taken;
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->sentence, L"step 100000");
    EXPECT_EQ(shown->fraction, 1.0);
    EXPECT_FALSE(runner.takeProgress());
}

TEST(JobRunner, TheBarNeverGoesBackWithinAJob) {
    MessageWindow window;
    JobRunner runner;
    // Each report is taken before the next is made, as a window keeping up would.
    const struct {
        double reported;
        double shown;
    } steps[] = {{0.2, 0.2}, {0.7, 0.7}, {0.0, 0.7}, {0.5, 0.7}, {0.9, 0.9}, {1.5, 1.0}};
    ASSERT_TRUE(runner.start<bool>(window.hwnd, kProgress, kDone, [&](const JobControl& control) {
        for (const auto& step : steps) {
            control.progress(step.reported, L"x");
            const std::optional<ProgressRecord> taken = runner.takeProgress();
            EXPECT_TRUE(taken && taken->fraction == step.shown) << step.reported;
        }
        return true;
    }));
    runner.finish();

    // A new job starts from nothing.
    ASSERT_TRUE(runner.start<bool>(window.hwnd, kProgress, kDone, [&](const JobControl& control) {
        control.progress(0.1, L"again");
        return true;
    }));
    runner.finish();
    const std::optional<ProgressRecord> taken = runner.takeProgress();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->fraction, 0.1);
    MSG message;
    while (PeekMessageW(&message, window.hwnd, kDone, kDone, PM_REMOVE)) takeJobResult<bool>(message.lParam);
}

TEST(JobRunner, AnEndThatCantBePostedIsKeptForTheWindowToTake) {
    HWND gone = MessageWindow().hwnd;  // destroyed at once: posting to it fails
    JobRunner runner;
    ASSERT_TRUE(runner.start<int>(gone, kProgress, kDone, [](const JobControl&) { return 42; }));
    runner.finish();
    const LPARAM kept = runner.takeKeptResult();
    ASSERT_NE(kept, 0);
    EXPECT_EQ(*takeJobResult<int>(kept), 42);
    EXPECT_EQ(runner.takeKeptResult(), 0);
}
