// The one way the launcher runs work off the window thread. A job gets a copy
// of what it needs, reports progress and honours a stop request; its result
// goes back to the window as a heap record that the window thread takes over
// (takeJobResult), and only the window thread applies it to the shared state.
// The thread is joined, never detached: stopping or destroying the runner
// asks the job to stop and waits for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/job.h"

namespace vorlane {

// What a job's progress posts to its window: owned by the window once posted.
struct ProgressRecord {
    double fraction;
    std::wstring sentence;
};

class JobRunner {
public:
    JobRunner() = default;
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;
    ~JobRunner() { stopAndWait(); }

    // Runs work on a new thread with COM initialised (single-threaded
    // apartment). Its progress is posted to `window` as progressMessage with a
    // ProgressRecord (0 = none); when it ends, its result is posted as
    // doneMessage with the result in lParam. False, starting nothing, while an
    // earlier job's thread hasn't been joined yet (finish() joins it).
    template <typename Result>
    bool start(HWND window, UINT progressMessage, UINT doneMessage, std::function<Result(const JobControl&)> work) {
        if (thread_.joinable()) return false;
        stop_ = false;
        running_ = true;
        thread_ = std::thread([this, window, progressMessage, doneMessage, work = std::move(work)] {
            auto result = std::make_unique<Result>(runWithCom<Result>(window, progressMessage, work));
            running_ = false;
            if (PostMessageW(window, doneMessage, 0, reinterpret_cast<LPARAM>(result.get()))) result.release();
        });
        return true;
    }

    // The window thread calls this on the done message: joins the thread.
    void finish() {
        if (thread_.joinable()) thread_.join();
    }
    // Asks the job to stop at its next safe point.
    void requestStop() { stop_ = true; }
    // Asks the job to stop and waits for its thread. The done message it may
    // have posted is left for the window (or freed with the window's queue).
    void stopAndWait() {
        requestStop();
        finish();
    }
    bool running() const { return running_; }
    bool started() const { return thread_.joinable(); }
    const std::atomic<bool>& stopFlag() const { return stop_; }

private:
    template <typename Result>
    Result runWithCom(HWND window, UINT progressMessage, const std::function<Result(const JobControl&)>& work);

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
};

// Posts progress records to a window (nothing when message is 0).
JobProgress postingProgress(HWND window, UINT message);

// The result a done message carries, now owned by the caller.
template <typename Result>
std::unique_ptr<Result> takeJobResult(LPARAM lParam) {
    return std::unique_ptr<Result>(reinterpret_cast<Result*>(lParam));
}

// Initialises COM for the calling thread for the life of the call.
void runInComApartment(const std::function<void()>& work);

// Runs work(0) to work(count - 1) side by side, each on a thread of its own
// with COM initialised, and returns once every one has ended (the threads are
// joined). With one, it runs on the calling thread.
void runSideBySide(size_t count, const std::function<void(size_t)>& work);

template <typename Result>
Result JobRunner::runWithCom(HWND window, UINT progressMessage, const std::function<Result(const JobControl&)>& work) {
    Result result{};
    runInComApartment([&] { result = work(JobControl(postingProgress(window, progressMessage), &stop_)); });
    return result;
}

}  // namespace vorlane
