#include "core/job_runner.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/handles.h"

namespace vorlane {

namespace {

// The window hears of progress at most this often; a job's end is told at once.
constexpr unsigned long long kProgressEveryMs = 100;

}  // namespace

JobProgress JobRunner::throttledProgress(HWND window, UINT message) {
    if (message == 0) return {};
    return [this, window, message](double fraction, const std::wstring& sentence) {
        const unsigned long long now = GetTickCount64();
        {
            std::lock_guard<std::mutex> lock(progressLock_);
            // The bar never goes back within a job: a later step that starts its count again stays where it was.
            highest_ = std::max(highest_, std::clamp(fraction, 0.0, 1.0));
            latest_ = ProgressRecord{highest_, sentence};
            if (told_ || now - lastTold_ < kProgressEveryMs) return;
            told_ = true;
            lastTold_ = now;
        }
        // A message that can't be posted is made up for by the next report, or the window's own look.
        if (!PostMessageW(window, message, 0, 0)) {
            std::lock_guard<std::mutex> lock(progressLock_);
            told_ = false;
        }
    };
}

void JobRunner::resetProgress() {
    std::lock_guard<std::mutex> lock(progressLock_);
    latest_.reset();
    highest_ = 0;
    told_ = false;
    lastTold_ = 0;
    kept_.reset();
}

std::optional<ProgressRecord> JobRunner::takeProgress() {
    std::lock_guard<std::mutex> lock(progressLock_);
    told_ = false;
    return std::exchange(latest_, std::nullopt);
}

LPARAM JobRunner::takeKeptResult() {
    std::lock_guard<std::mutex> lock(progressLock_);
    return reinterpret_cast<LPARAM>(kept_.release());
}

// A full queue empties as the window works through it; a window that is gone takes nothing more.
bool JobRunner::postDone(HWND window, UINT message, LPARAM result) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (PostMessageW(window, message, 0, result)) return true;
        if (!IsWindow(window)) return false;
        Sleep(100);
    }
    return false;
}

void runInComApartment(const std::function<void()>& work) {
    ComApartment com;
    work();
}

void runSideBySide(size_t count, const std::function<void(size_t)>& work) {
    if (count == 1) {
        work(0);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) threads.emplace_back([&work, i] { runInComApartment([&] { work(i); }); });
    for (std::thread& thread : threads) thread.join();
}

}  // namespace vorlane
