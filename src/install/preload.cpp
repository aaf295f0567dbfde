#include "install/preload.h"

#include <windows.h>

#include <memory>
#include <mutex>

#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_folders.h"
#include "install/build_list.h"
#include "install/game_process.h"
#include "install/piece_install.h"

namespace vorlane {

namespace {

// The cap of the background fetch: PreloadRate while the game runs from the
// install folder (looked for at most once a second), none otherwise.
class GameRateCap {
public:
    GameRateCap(std::wstring installDir, double megabytesPerSecond)
        : installDir_(std::move(installDir)), bytesPerSecond_(megabytesPerSecond * 1048576.0) {}

    double operator()() {
        if (bytesPerSecond_ <= 0) return 0;
        std::lock_guard<std::mutex> lock(lock_);
        const unsigned long long now = GetTickCount64();
        if (!lookedAt_ || now - lookedAt_ >= 1000) {
            gameRuns_ = !findGameProcesses(installDir_).empty();
            lookedAt_ = now;
        }
        return gameRuns_ ? bytesPerSecond_ : 0;
    }

private:
    const std::wstring installDir_;
    const double bytesPerSecond_;
    std::mutex lock_;
    unsigned long long lookedAt_ = 0;
    bool gameRuns_ = false;
};

double preloadRate(const LauncherState& state) {
    const std::wstring text = trimSpace(readSetting(state, kPreloadRateSetting));
    if (text.empty()) return kDefaultPreloadRate;
    wchar_t* end = nullptr;
    const double rate = wcstod(text.c_str(), &end);
    return end && *end == 0 && rate >= 0 && rate < 1e6 ? rate : kDefaultPreloadRate;
}

// Staging folders that neither an install nor the background needs: those of builds other than the installed one
// and the newest listed one (unless the player went back from it). None without a list or an installed build:
// what a first install cut short left is its own to carry on from.
std::vector<std::wstring> staleStagingFolders(const LauncherState& state) {
    std::vector<std::wstring> folders;
    if (state.builds.empty() || state.current.empty()) return folders;
    const std::wstring& newest = state.builds.front().commit;
    for (const FolderEntry& entry : buildFolders(state.installDir)) {
        const std::wstring commit = stagedCommit(entry.name);
        if (commit.empty()) continue;
        if (commit != state.current && (commit != newest || commit == state.heldBack))
            folders.push_back(joinPath(state.installDir, entry.name));
    }
    return folders;
}

}  // namespace

bool preloadOn(const LauncherState& state) { return !equalsIgnoringCase(readSetting(state, kPreloadSetting), L"off"); }

BuildRecord buildToPreload(const LauncherState& state) {
    if (state.current.empty() || !state.currentFilesPresent || !state.zipPath.empty() || !updateDue(state) ||
        equalsIgnoringCase(readSetting(state, kPiecesSetting), L"off") || state.builds.front().index.empty())
        return {};
    return state.builds.front();
}

bool preloadHasWork(const LauncherState& state) {
    const BuildRecord record = buildToPreload(state);
    return (!record.commit.empty() && !madeReadyInBackground(state, record)) ||
           !staleStagingFolders(state).empty();
}

PreloadOutcome preloadBuild(LauncherState& state, const JobControl& job) {
    const BuildRecord record = buildToPreload(state);
    // Whatever another build's staging folder shares with this one is taken from it first.
    PreloadOutcome outcome = PreloadOutcome::Nothing;
    if (!record.commit.empty()) {
        StageOptions options;
        options.background = true;
        options.mostBytesPerSecond = [cap = std::make_shared<GameRateCap>(state.installDir, preloadRate(state))] {
            return (*cap)();
        };
        const bool wasReady = madeReadyInBackground(state, record);
        switch (stageByPieces(state, record, job, options)) {
            case PieceOutcome::Staged: outcome = PreloadOutcome::Ready; break;
            case PieceOutcome::Stopped: return PreloadOutcome::Stopped;
            case PieceOutcome::Refused:
                logLine(state, L"Getting build " + record.commit + L" ready in the background didn't work out: " +
                                   state.lastError);
                return PreloadOutcome::Failed;
            case PieceOutcome::UseZip: return PreloadOutcome::Failed;
        }
        if (!wasReady)
            logLine(state, L"Build " + record.commit + L" is ready in the background: Update puts it in place.");
    }
    // A build held back, gone from the list or overtaken by a newer one keeps nothing on disk.
    for (const std::wstring& folder : staleStagingFolders(state)) {
        logLine(state, L"Removing " + folder + L", staged for a build that isn't the one to update to.");
        deleteFolderTree(folder);
    }
    return outcome;
}

std::wstring preloadSentence(const LauncherState& state, PreloadOutcome outcome) {
    const BuildRecord record = buildToPreload(state);
    if (outcome == PreloadOutcome::Ready && !record.commit.empty())
        return L"Build " + record.commit + L" is ready: Update puts it in place.";
    return L"";
}

}  // namespace vorlane
