#include "install/installer.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "addons/theme_update.h"
#include "core/crash_points.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/transfer_meter.h"
#include "install/build_folders.h"
#include "install/build_list.h"
#include "install/piece_install.h"
#include "install/player_data.h"
#include "install/run_captured.h"
#include "install/shortcuts.h"
#include "install/zip_listing.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"

namespace vorlane {

namespace {

const wchar_t kStopped[] = L"Stopped before the new build was put in place; the next install carries on where it stopped.";

bool fail(LauncherState& state, const std::wstring& sentence) {
    state.lastError = sentence;
    return false;
}

bool fail(LauncherState& state, const Failure& failure) { return fail(state, failure.text()); }

// The build to install: the supplied zip (with the listed record of its commit
// when there is one), else the newest listed build.
bool pickBuild(LauncherState& state, BuildRecord& record) {
    if (!state.zipPath.empty()) {
        std::wstring name = fileNameOf(state.zipPath);
        bool named = name.size() > 12 && name.rfind(kBuildZipPrefix, 0) == 0 &&
                     endsWithIgnoringCase(name, kBuildZipSuffix) &&
                     isCommitId(name.substr(8, name.size() - 12));
        if (!named)
            return fail(state, L"A build's zip is named Vorlane-<commit>.zip, the commit in hex; this is " + name + L".");
        record = BuildRecord{};
        record.file = name;
        record.commit = name.substr(8, name.size() - 12);
        for (const BuildRecord& listed : state.builds)
            if (listed.commit == record.commit) record = listed;
        return true;
    }
    if (!state.builds.empty()) {
        record = state.builds.front();
        return true;
    }
    return fail(state, !state.listRefusal.empty() ? state.listRefusal
                                                  : L"No build to install: the build server couldn't be reached.");
}

// Downloads of other builds, whole or partial, are of no more use; nor is any
// when `keep` is empty.
void deleteOtherDownloads(const std::wstring& downloads, const std::wstring& keep) {
    for (const FolderEntry& entry : listFolder(downloads, L"Vorlane-*.zip*")) {
        const bool ours = !keep.empty() && (equalsIgnoringCase(entry.name, keep) ||
                                            equalsIgnoringCase(entry.name, keep + L".part"));
        const bool download = endsWithIgnoringCase(entry.name, L".zip") || endsWithIgnoringCase(entry.name, L".zip.part");
        if (!entry.isFolder && download && !ours) DeleteFileW(longPath(joinPath(downloads, entry.name)).c_str());
    }
}

// Downloads the zip, fingerprinting it on the way: fingerprint is the whole zip's, or empty when it wasn't worked
// out (a zip an earlier try finished, a part on disk that couldn't be read) and the check reads the zip.
bool downloadZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip, const JobControl& job,
                 std::wstring& fingerprint) {
    fingerprint.clear();
    if (record.sha256.empty())
        return fail(state, L"The build server gave no fingerprint for build " + record.commit +
                               L", so it wasn't installed.");
    const std::wstring part = zip + L".part";
    deleteOtherDownloads(parentFolder(zip), record.file);
    // A download finished by an earlier run that was cut short is checked like a new one.
    if (fileExists(zip)) {
        logLine(state, L"Using " + record.file + L", downloaded by an earlier try.");
        return true;
    }

    long long present = 0;
    if (fileSize(part, present))
        logLine(state, L"Carrying on the download of " + record.file + L" from " + wholeMiB(present) + L" MB.");
    job.progress(0, L"Downloading " + record.file + L"...");
    bool crashArmed = true;
    TransferMeter meter(present);
    auto onProgress = [&](long long done, long long expected) {
        job.progress(expected > 0 ? done * 0.7 / expected : 0,
                     L"Downloading " + record.file + L"... " + meter.update(done, expected));
        if (crashArmed && done > present) {
            crashArmed = false;
            crashPoint(L"downloading");
        }
        return !job.stopRequested();
    };
    HttpResult result = download(serverUrl(state.listSource, record.file), nullptr, part, onProgress, state.failAfter,
                                 true, kBuildServerLabel, kFilePace, true);
    if (!result.error.empty()) return fail(state, result.error + L" (the next try carries on where it stopped)");
    fingerprint = result.fingerprint;
    DeleteFileW(longPath(zip).c_str());
    if (!MoveFileExW(longPath(part).c_str(), longPath(zip).c_str(), MOVEFILE_WRITE_THROUGH))
        return fail(state, systemFailure(L"Couldn't write " + zip + L"."));
    crashPoint(L"downloaded");
    return true;
}

// What the zip's run writes: the rest of its download, and its unpacked files,
// taken to be at least the zip's size (its listing isn't known before it's here).
bool roomForZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip) {
    deleteOtherDownloads(parentFolder(zip), record.file);
    if (record.size <= 0) return true;
    long long present = 0;
    if (!fileSize(zip, present) && !fileSize(zip + L".part", present)) present = 0;
    const unsigned long long unpacked = (unsigned long long)record.size;
    const unsigned long long download = (unsigned long long)std::max(0LL, record.size - present);
    return roomForBuild(state, record.commit, download + unpacked);
}

// known: the zip's fingerprint as its download worked it out; empty, the zip is read for it.
bool checkZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip, bool downloaded,
              const std::wstring& known, const JobControl& job) {
    job.progress(0.7, L"Checking the download...");
    std::wstring computed = known;
    if (computed.empty() && !sha256File(zip, computed)) computed.clear();
    if (sameFingerprint(computed, record.sha256)) return true;
    logLine(state, L"SHA-256 " + computed + L", expected " + record.sha256 + L".");
    if (downloaded) DeleteFileW(longPath(zip).c_str());
    return fail(state, L"The download doesn't match the build server's fingerprint; it wasn't installed.");
}

// listing: what the zip holds, for the check of what was unpacked; empty when it can't be read.
bool unpackZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip, const std::wstring& staging,
               const JobControl& job, std::vector<ZipEntry>& listing) {
    deleteFolderTree(staging);
    makeFolderTree(staging);
    const std::wstring tar = systemTar();

    // A link would lead what is unpacked after it outside the build, and stay behind where nothing removes it.
    readZipListing(zip, listing);
    for (const ZipEntry& entry : listing)
        if (entry.isLink) {
            deleteFolderTree(staging);
            return fail(state, L"The zip holds a link, " + toUtf16(entry.name) +
                                   L", which a build never has, so it wasn't installed.");
        }

    long long entries = 0;
    runCaptured(tar + L" -tf " + quoted(zip), [&](const std::string&) { ++entries; });
    job.progress(0.72, L"Unpacking...");
    long long extracted = 0;
    int code = runCaptured(tar + L" -xvf " + quoted(zip) + L" -C " + quoted(staging), [&](const std::string&) {
        ++extracted;
        if (extracted % 50 == 0 && entries > 0)
            job.progress(0.72 + 0.23 * extracted / entries,
                         L"Unpacking... " + std::to_wstring(extracted * 100 / entries) + L"%");
    });
    const std::wstring folder = joinPath(staging, kBuildZipPrefix + record.commit);
    if (code == 0 && fileExists(joinPath(folder, L"Vorlane.exe"))) return true;
    const bool hasFolder = folderExists(folder);
    deleteFolderTree(staging);
    // tar did its part; the zip isn't laid out as a build.
    if (code == 0 && !hasFolder)
        return fail(state, L"The zip doesn't hold the folder " + std::wstring(kBuildZipPrefix) + record.commit +
                               L" that a build of " + record.commit + L" has at its top, so it wasn't installed.");
    if (code == 0)
        return fail(state, L"The zip's folder " + std::wstring(kBuildZipPrefix) + record.commit +
                               L" has no Vorlane.exe, so it wasn't installed.");
    return fail(state, L"Unpacking the build failed (tar exit code " + std::to_wstring(code) + L").");
}

// Every file of the zip must be in the staging folder, at its size, before the
// build is recorded: a tar that stopped early, or files removed meanwhile,
// would otherwise leave a build recorded as installed that doesn't play.
bool checkUnpacked(LauncherState& state, const BuildRecord& record, const std::wstring& staging,
                   const std::vector<ZipEntry>& listing) {
    const std::string saved = toUtf8(kBuildZipPrefix + record.commit) + "/Vorlane/Saved/";
    const UnpackShortfall shortfall = compareUnpacked(listing, staging, saved);
    if (!listing.empty() && shortfall.missing == 0) return true;
    deleteFolderTree(staging);
    if (listing.empty())
        return fail(state, L"The zip's listing can't be read, so what was unpacked can't be checked; it wasn't "
                           L"installed.");
    return fail(state, L"Unpacking left out " + std::to_wstring(shortfall.missing) + L" of the build's " +
                           std::to_wstring(shortfall.files) + L" files (" + toUtf16(shortfall.first) +
                           L" among them), so it wasn't installed.");
}

bool bringSavesOver(LauncherState& state, const BuildRecord& record, const std::wstring& staging,
                    const JobControl& job) {
    std::wstring source = savedFolderToBringOver(state);
    if (source.empty()) return true;
    job.progress(0.96, L"Bringing your settings and saves over...");
    std::wstring target = joinPath(joinPath(staging, kBuildZipPrefix + record.commit), L"Vorlane\\Saved");
    if (copyFolderTree(source, target)) return true;
    const Failure failure = systemFailure(L"Couldn't copy your settings and saves into the new build; it wasn't installed.");
    deleteFolderTree(staging);
    return fail(state, failure);
}

// Moves the staging folder to the build's own name. A build of the same commit
// already there (a repair) is set aside first and comes back when the new one
// can't be put in place.
bool putInPlace(LauncherState& state, const BuildRecord& record, const std::wstring& staging) {
    const std::wstring target = joinPath(state.installDir, record.commit);
    const std::wstring sentence = L"Couldn't put the new build in place.";
    const bool replacing = folderExists(target);
    if (replacing && !setBuildAside(state.installDir, record.commit)) {
        const Failure failure = systemFailure(sentence);
        deleteFolderTree(staging);
        return fail(state, failure);
    }
    if (replacing) crashPoint(L"repair-set-aside");
    if (MoveFileExW(longPath(staging).c_str(), longPath(target).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    const Failure failure = systemFailure(sentence);
    deleteFolderTree(staging);
    if (replacing) MoveFileExW(longPath(target + kSetAsideSuffix).c_str(), longPath(target).c_str(), 0);
    return fail(state, failure);
}

// launcher.ini is written before anything old is removed: a kill at any
// instant leaves it naming builds that are whole on disk. A repair of the
// installed build keeps the build held back.
bool recordInstalled(LauncherState& state, const BuildRecord& record, bool repair) {
    LauncherState after = state;
    if (record.commit != after.current && after.currentFilesPresent) {
        after.previous = after.current;
        after.previousReleased = after.currentReleased;
    }
    after.current = record.commit;
    after.currentReleased = record.released;
    after.currentFilesPresent = true;
    if (!repair) after.heldBack.clear();
    if (const Failure failure = saveInstallState(after))
        return fail(state, failure.text() + L" The new build wasn't installed; the build you had still plays.");
    takeInstallState(state, after);
    crashPoint(L"recorded");
    return true;
}

}  // namespace

std::wstring systemTar() {
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return quoted(joinPath(std::wstring(system, length), L"tar.exe"));
}

namespace {

bool install(LauncherState& state, const JobControl& job, bool repair) {
    BuildRecord record;
    if (!pickBuild(state, record)) return false;

    const std::wstring downloads = joinPath(state.rootFolder, L"Downloads");
    makeFolderTree(downloads);
    const bool downloaded = state.zipPath.empty();
    const std::wstring zip = downloaded ? joinPath(downloads, record.file) : state.zipPath;
    std::wstring fingerprint;
    const std::wstring staging = stagingFolder(state.installDir, record.commit);
    // A stop leaves no copy of the build behind in the staging folder: the next try makes it again.
    auto stopped = [&] {
        deleteFolderTree(staging);
        return fail(state, kStopped);
    };
    // An update by pieces leaves the staging folder as an unpacked zip would.
    const PieceOutcome pieces = stageByPieces(state, record, job);
    // Pieces stopped on the way stay in the staging folder, with the record of what is done, for the next try.
    if (pieces == PieceOutcome::Stopped) return fail(state, kStopped);
    if (pieces == PieceOutcome::Refused) return false;
    const bool fromZip = pieces == PieceOutcome::UseZip;
    if (fromZip && downloaded && !roomForZip(state, record, zip)) return false;
    if (fromZip && downloaded && !downloadZip(state, record, zip, job, fingerprint)) return false;
    if (job.stopRequested()) return stopped();
    if (fromZip && !record.sha256.empty() && !checkZip(state, record, zip, downloaded, fingerprint, job)) return false;
    if (fromZip) crashPoint(L"checked");

    if (job.stopRequested()) return stopped();
    std::vector<ZipEntry> listing;
    if (fromZip && !unpackZip(state, record, zip, staging, job, listing)) return false;
    if (fromZip) crashPoint(L"unpacked");
    if (!bringSavesOver(state, record, staging, job)) return false;
    crashPoint(L"saves-copied");
    if (fromZip && !checkUnpacked(state, record, staging, listing)) return false;
    if (job.stopRequested()) return stopped();

    if (!putInPlace(state, record, staging)) return false;
    crashPoint(L"placed");
    if (!recordInstalled(state, record, repair)) return false;
    removeOldBuilds(state);
    if (downloaded) DeleteFileW(longPath(zip).c_str());
    forgetFetchedPieces(state, record);
    refreshShortcuts(state);
    job.progress(1, L"Installed build " + state.current + L".");
    logLine(state, L"Installed build " + state.current + L" (previous: " +
                       (state.previous.empty() ? std::wstring(L"none") : state.previous) + L").");
    return true;
}

}  // namespace

bool installBuild(LauncherState& state, const JobControl& job) { return install(state, job, false); }

bool reinstallBuild(LauncherState& state, const BuildRecord& listed, const JobControl& job) {
    BuildRecord record = listed;
    record.index.clear();
    // A zip the player supplied (or the one beside the launcher) may be another build's, or spoilt.
    std::wstring zip;
    if (!state.zipPath.empty()) {
        std::wstring fingerprint;
        if (fileNameOf(state.zipPath) == record.file && sha256File(state.zipPath, fingerprint) &&
            sameFingerprint(fingerprint, record.sha256))
            zip = state.zipPath;
        else
            logLine(state, L"The zip " + state.zipPath + L" isn't build " + record.commit +
                               L"'s as published, so the build's zip is downloaded instead.");
    }
    const std::wstring given = std::exchange(state.zipPath, zip);
    const std::vector<BuildRecord> builds = std::exchange(state.builds, {record});
    const bool installed = install(state, job, true);
    state.zipPath = given;
    state.builds = builds;
    return installed;
}

bool installJob(LauncherState& state, const JobControl& job) {
    if (!installBuild(state, job)) {
        logLine(state, L"Failed: " + state.lastError);
        return false;
    }
    restoreKeptSaves(state);
    // A theme that can't be brought up says so in the log; the build is installed all the same.
    updateAddOnThemes(state, job);
    return true;
}

void removeOldBuilds(LauncherState& state) {
    for (const FolderEntry& folder : buildFolders(state.installDir)) {
        if (folder.name == state.current || folder.name == state.previous) continue;
        logLine(state, L"Removing old build " + folder.name + L".");
        // A whole build is renamed out of the way before its files go.
        if (isPlacedBuildName(folder.name)) {
            if (setBuildAside(state.installDir, folder.name)) {
                crashPoint(L"old-build-set-aside");
                deleteFolderTree(joinPath(state.installDir, folder.name + kSetAsideSuffix));
                continue;
            }
        }
        deleteFolderTree(joinPath(state.installDir, folder.name));
    }
}

void tidyInstallation(LauncherState& state) {
    removeOldBuilds(state);
    deleteOtherDownloads(joinPath(state.rootFolder, L"Downloads"), L"");
    // With nothing to install, no install in progress needs the pieces a run cut short fetched.
    deleteFolderTree(fetchedPiecesFolder(state));
    deleteFolderTree(mendingFolder(state));
}

}  // namespace vorlane
