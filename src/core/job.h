// What every worker job is handed: a way to report progress and a stop request
// it checks at its safe points (between download blocks, pieces and steps).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <type_traits>

namespace vorlane {

// Progress of a job: a fraction from 0 to 1 and a sentence for the player.
using JobProgress = std::function<void(double fraction, const std::wstring& sentence)>;

class JobControl {
public:
    JobControl() = default;
    // A job run to its end with nobody to stop it (the commands, the tests).
    template <typename Progress>
        requires std::is_invocable_v<Progress, double, const std::wstring&>
    JobControl(Progress progress) : progress_(std::move(progress)) {}
    JobControl(JobProgress progress, const std::atomic<bool>* stop) : progress_(std::move(progress)), stop_(stop) {}

    void progress(double fraction, const std::wstring& sentence) const {
        if (progress_) progress_(fraction, sentence);
    }
    bool stopRequested() const { return stop_ && stop_->load(); }
    // For a part of the job that reports its own share of the progress.
    const std::atomic<bool>* stopFlag() const { return stop_; }

private:
    JobProgress progress_;
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace vorlane
