// The one way the launcher runs work off the window thread. A job gets a copy
// of what it needs, reports progress and honours a stop request; its result
// goes back to the window as a heap record that the window thread takes over
// (takeJobResult), and only the window thread applies it to the shared state.
// Progress is kept for the window to take rather than posted record by record,
// so a job that reports often never floods the window's queue.
// The thread is joined, never detached: stopping or destroying the runner
// asks the job to stop and waits for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/job.h"

namespace vorlane {

// A job's progress as the window takes it (JobRunner::takeProgress).
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
    // apartment). Its progress is kept here and `window` is told of it with
    // progressMessage (0 = none), at most one message at a time and ten a
    // second: the window takes the newest with takeProgress. When it ends, its
    // result is posted as doneMessage with the result in lParam; a post that
    // fails is tried again while the window is there, and then kept for
    // takeKeptResult. False, starting nothing, while an earlier job's thread
    // hasn't been joined yet (finish() joins it).
    template <typename Result>
    bool start(HWND window, UINT progressMessage, UINT doneMessage, std::function<Result(const JobControl&)> work) {
        if (thread_.joinable()) return false;
        stop_ = false;
        running_ = true;
        resetProgress();
        thread_ = std::thread([this, window, progressMessage, doneMessage, work = std::move(work)] {
            auto result = std::make_unique<Result>(runWithCom<Result>(window, progressMessage, work));
            running_ = false;
            if (postDone(window, doneMessage, reinterpret_cast<LPARAM>(result.get()))) {
                result.release();
                return;
            }
            std::lock_guard<std::mutex> lock(progressLock_);
            kept_ = KeptResult(result.release(), [](void* kept) { delete static_cast<Result*>(kept); });
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

    // The newest progress not yet taken, if any (the window thread, on the
    // progress message or a timer of its own). Its fraction is the highest the
    // job has reported so far, so what the window shows never goes back
    // within one job.
    std::optional<ProgressRecord> takeProgress();

    // A done message that couldn't be posted: its lParam, now the caller's
    // (as takeJobResult takes it), or 0.
    LPARAM takeKeptResult();

private:
    using KeptResult = std::unique_ptr<void, void (*)(void*)>;

    template <typename Result>
    Result runWithCom(HWND window, UINT progressMessage, const std::function<Result(const JobControl&)>& work);

    JobProgress throttledProgress(HWND window, UINT message);
    void resetProgress();
    static bool postDone(HWND window, UINT message, LPARAM result);

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};

    std::mutex progressLock_;  // what follows
    std::optional<ProgressRecord> latest_;
    double highest_ = 0;
    bool told_ = false;                 // a progress message is on its way and not yet taken
    unsigned long long lastTold_ = 0;  // when the last one was posted
    KeptResult kept_{nullptr, [](void*) {}};
};

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
    runInComApartment([&] { result = work(JobControl(throttledProgress(window, progressMessage), &stop_)); });
    return result;
}

}  // namespace vorlane
