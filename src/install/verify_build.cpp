#include "install/verify_build.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "core/failure.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/job_runner.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_folders.h"
#include "install/installer.h"
#include "install/piece_install.h"
#include "net/sha256.h"
#include "pieces/piece_engine.h"

namespace vorlane {

namespace {


// What a check of an installed build found.
struct Findings {
    size_t checked = 0;
    std::vector<const IndexFile*> damaged;  // changed or missing
    std::vector<const IndexFile*> sound;
    std::vector<const IndexFile*> unread;   // couldn't be read, so not checked
    std::vector<std::wstring> extra;        // on disk, not in the index
};

// Hashes every file the index lists (the Saved folder left out) and looks for
// files it doesn't list; `say` is told a sentence for each file that isn't as
// published or couldn't be read.
bool checkFiles(const std::wstring& folder, const BuildIndex& index, const JobControl& job, Findings& found,
                const std::function<void(const std::wstring&)>& say) {
    uint64_t total = 0, done = 0;
    for (const IndexFile& file : index.files) total += isPlayerData(file.path) ? 0 : file.size;
    // The files are hashed several at a time; what was found is said in the index's order.
    enum Finding : char { Sound, Changed, Missing, FolderInItsPlace, Unread, Skipped };
    std::vector<Finding> findings(index.files.size(), Skipped);
    std::vector<DWORD> errors(index.files.size(), 0);
    std::atomic<size_t> next{0};
    std::mutex reporting;
    runSideBySide(filesAtOnce(index.files.size()), [&](size_t) {
        for (size_t i; !job.stopRequested() && (i = next++) < index.files.size();) {
            const IndexFile& file = index.files[i];
            if (isPlayerData(file.path)) continue;
            const std::wstring path = joinPath(folder, windowsPath(file.path));
            long long size = -1;
            std::wstring fingerprint;
            if (folderExists(path)) {
                findings[i] = FolderInItsPlace;
            } else if (!fileSize(path, size)) {
                findings[i] = Missing;
            } else if ((uint64_t)size != file.size) {
                findings[i] = Changed;
            } else if (!sha256File(path, fingerprint)) {
                errors[i] = GetLastError();
                findings[i] = Unread;
            } else {
                findings[i] = fingerprint == file.sha256 ? Sound : Changed;
            }
            std::lock_guard<std::mutex> lock(reporting);
            done += file.size;
            job.progress(total ? 0.5 * double(done) / double(total) : 0.5,
                         L"Checking the files... " + wholeMiB((long long)done) + L" of " +
                             wholeMiB((long long)total) + L" MB");
        }
    });
    if (job.stopRequested()) return false;
    std::unordered_set<std::wstring> listed;
    for (size_t i = 0; i < index.files.size(); ++i) {
        const IndexFile& file = index.files[i];
        listed.insert(samePathKey(file.path));
        const std::wstring named = L"The file " + file.path;
        switch (findings[i]) {
        case Skipped: continue;
        case Sound: found.sound.push_back(&file); break;
        case Unread:
            found.unread.push_back(&file);
            say(systemFailure(named + L" couldn't be read, so it wasn't checked; the game or another program may "
                                      L"have it open.",
                              errors[i])
                    .text());
            continue;
        case Changed: say(named + L" isn't as published."); break;
        case Missing: say(named + L" is missing."); break;
        case FolderInItsPlace: say(named + L" is missing: a folder stands in its place."); break;
        }
        ++found.checked;
        if (findings[i] != Sound) found.damaged.push_back(&file);
    }
    for (const std::wstring& file : filesBelow(folder))
        if (!isPlayerData(file) && !listed.contains(samePathKey(file))) found.extra.push_back(file);
    return true;
}

// Renames a folder standing where a file of the build belongs out of its way,
// to the first free "<name>.moved-aside" ("<name>.moved-aside-2", ...): it may
// hold the player's own files, so it is never deleted. The ending it was given,
// or empty when it couldn't be moved (the system's error left for the caller).
std::wstring moveFolderAside(const std::wstring& path) {
    for (int n = 1; n <= 100; ++n) {
        const std::wstring ending = L".moved-aside" + (n == 1 ? std::wstring() : L"-" + std::to_wstring(n));
        if (pathExists(path + ending)) continue;
        return MoveFileExW(longPath(path).c_str(), longPath(path + ending).c_str(), 0) ? ending : std::wstring();
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    return {};
}

// Writes each damaged file anew from its pieces: those still sound on disk
// (in it or in the other files) and the fetched rest, each into a file of its
// own that then takes the damaged one's place; then checks it again. A file
// that can't be mended doesn't keep the others from being mended; lastError
// names every one that couldn't.
bool mendFiles(LauncherState& state, const std::wstring& folder, const BuildIndex& index, const Findings& found,
               const JobControl& job) {
    PieceEngine engine(buildServers(state, &index), job);
    for (const IndexFile* file : found.damaged) engine.store().addFile(joinPath(folder, windowsPath(file->path)));
    engine.addIndexed(folder, found.sound);
    // Each file is mended under its place in the index, so that a check cut short (a stop, a kill) carries on
    // from the pieces its record names, whichever files are damaged by then.
    const std::wstring mending = mendingFolder(state);
    std::vector<PieceTarget> targets;
    for (const IndexFile* file : found.damaged)
        targets.push_back(PieceTarget{file, joinPath(mending, L"mended-" + std::to_wstring(file - index.files.data()))});
    engine.plan(targets, joinPath(mending, kDoneRecordName));
    // When a piece can't be had, every file is still tried: those that need none of the missing ones are
    // mended all the same, and the others say which piece failed them.
    const PieceRunResult result = engine.run(
        [&](const PieceCounts& counts) {
            job.progress(0.5 + 0.45 * shareDone(counts),
                         L"Mending the files... " + wholeMiB((long long)counts.done) + L" of " +
                             wholeMiB((long long)counts.total) + L" MB");
        },
        true);
    std::vector<std::wstring> failures;  // "<path>: <why>"
    for (size_t i = 0; i < targets.size() && !job.stopRequested(); ++i) {
        const IndexFile* file = targets[i].file;
        const std::wstring mended = targets[i].path;
        const std::wstring target = joinPath(folder, windowsPath(file->path));
        if (!result.written.empty() && !result.written[i]) {
            failures.push_back(file->path + L": " +
                               (result.failure == PieceFailure::Writing || result.failure == PieceFailure::Creating ||
                                 result.failure == PieceFailure::NotAsPublished
                                    ? result.error
                                    : L"a piece came from no build server intact (" + result.error + L")"));
            continue;
        }
        if (folderExists(target)) {
            const std::wstring ending = moveFolderAside(target);
            if (ending.empty()) {
                failures.push_back(file->path + L": " +
                                   systemFailure(L"a folder stands in its place and couldn't be moved aside").text());
                continue;
            }
            logLine(state, L"A folder stood where the file " + file->path + L" of build " + state.current +
                               L" belongs; it was moved aside to " + file->path + ending + L", with what it holds.");
        }
        if (!makeFolderTree(parentFolder(target)) ||
            !MoveFileExW(longPath(mended).c_str(), longPath(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
            failures.push_back(file->path + L": " + systemFailure(L"it couldn't be put in place").text());
            continue;
        }
        std::wstring fingerprint;
        if (!sha256File(target, fingerprint) || fingerprint != file->sha256)
            failures.push_back(file->path + L": it still isn't as published after it was mended");
    }
    if (job.stopRequested()) {
        state.lastError = L"The check was stopped before every file was mended.";
        return false;
    }
    deleteFolderTree(mending);
    const std::wstring kb = L" (" + std::to_wstring(engine.counts().fetched >> 10) + L" KB fetched)";
    if (failures.empty()) {
        logLine(state, L"Mended " + counted(found.damaged.size(), L"file", L"files") + L" of build " + state.current +
                           kb + L"; every file is as published now.");
        return true;
    }
    const size_t mendedCount = found.damaged.size() - failures.size();
    if (mendedCount > 0)
        logLine(state, L"Mended " + std::to_wstring(mendedCount) + L" of the " +
                           std::to_wstring(found.damaged.size()) + L" files of build " + state.current +
                           L" that weren't as published" + kb + L".");
    if (failures.size() == 1) {
        state.lastError = L"Couldn't mend the file " + failures.front() + L".";
    } else {
        state.lastError = L"Couldn't mend " + counted(failures.size(), L"file", L"files") + L" of build " +
                          state.current + L": ";
        for (size_t i = 0; i < failures.size(); ++i) state.lastError += (i ? L"; " : L"") + failures[i];
        state.lastError += L".";
    }
    return false;
}

// What the check says of the files it read: "Checked 5 files: 1 isn't as published."
std::wstring checkedSentence(const Findings& found) {
    const size_t damaged = found.damaged.size();
    std::wstring sentence = L"Checked " + counted(found.checked, L"file", L"files") + L": ";
    sentence += damaged == 0   ? std::wstring(L"all as published")
                : damaged == 1 ? std::wstring(L"1 isn't as published")
                               : std::to_wstring(damaged) + L" aren't as published";
    if (!found.unread.empty()) sentence += L"; " + std::to_wstring(found.unread.size()) + L" more couldn't be read";
    return sentence + L".";
}

}  // namespace

VerifyOutcome verifyInstalledBuild(LauncherState& state, const JobControl& job) {
    const std::wstring folder = state.current.empty() ? std::wstring() : buildFolder(state, state.current);
    if (folder.empty() || !folderExists(folder)) {
        state.lastError = L"There's no installed build to check.";
        return VerifyOutcome::NotChecked;
    }
    const BuildRecord* listed = nullptr;
    for (const BuildRecord& record : state.builds)
        if (record.commit == state.current) listed = &record;
    BuildIndex index;
    std::wstring why;
    bool known = keptIndex(state, state.current, index);
    if (!known && listed && !listed->index.empty()) known = fetchBuildIndex(state, *listed, job, index, why);
    if (!known) {
        if (!listed) {
            state.lastError = L"Build " + state.current +
                              L" isn't on the build list, so there's nothing to check its files against.";
            return VerifyOutcome::NotChecked;
        }
        logLine(state, L"No index of build " + state.current + L"'s files is known" +
                           (why.empty() ? std::wstring() : L" (" + why + L")") +
                           L", so it is installed again from its zip.");
        return reinstallBuild(state, *listed, job) ? VerifyOutcome::AsPublished : VerifyOutcome::NotMended;
    }

    Findings found;
    if (!checkFiles(folder, index, job, found, [&](const std::wstring& sentence) { logLine(state, sentence); })) {
        state.lastError = L"The check was stopped.";
        return VerifyOutcome::NotChecked;
    }
    for (const std::wstring& file : found.extra)
        logLine(state, L"The file " + file + L" isn't part of build " + state.current + L"; it is left as it is.");
    logLine(state, checkedSentence(found));
    if (!found.damaged.empty()) {
        if (equalsIgnoringCase(readSetting(state, kPiecesSetting), L"off")) {
            if (!listed) {
                state.lastError = L"Pieces are switched off and build " + state.current +
                                  L" isn't on the build list, so its zip can't be had to mend it.";
                return VerifyOutcome::NotMended;
            }
            logLine(state, L"Pieces are switched off, so build " + state.current +
                               L" is installed again from its zip to mend it.");
            // Every file is the zip's now, the unread ones too.
            if (!reinstallBuild(state, *listed, job)) return VerifyOutcome::NotMended;
            job.progress(1, L"Every file of build " + state.current + L" is as published.");
            return VerifyOutcome::AsPublished;
        }
        if (!mendFiles(state, folder, index, found, job)) return VerifyOutcome::NotMended;
    }
    if (!found.unread.empty()) {
        const std::wstring first = found.unread.front()->path;
        state.lastError = found.unread.size() == 1
                              ? L"The file " + first + L" couldn't be read, so it wasn't checked; close the game "
                                                       L"and check again."
                              : counted(found.unread.size(), L"file", L"files") + L" couldn't be read (" + first +
                                    L" among them), so they weren't checked; close the game and check again.";
        return VerifyOutcome::NotChecked;
    }
    job.progress(1, L"Every file of build " + state.current + L" is as published.");
    return VerifyOutcome::AsPublished;
}

}  // namespace vorlane
