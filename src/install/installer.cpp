#include "install/installer.h"

#include <windows.h>

#include "addons/theme_update.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_folders.h"
#include "install/build_list.h"
#include "install/player_data.h"
#include "install/run_captured.h"
#include "install/shortcuts.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"

namespace vorlane {

namespace {

std::wstring wholeMiB(long long bytes) { return std::to_wstring(bytes / 1048576); }

std::wstring quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

bool fail(LauncherState& state, const std::wstring& sentence) {
    state.lastError = sentence;
    return false;
}

// The build to install: the supplied zip (with the listed record of its commit
// when there is one), else the newest listed build.
bool pickBuild(LauncherState& state, BuildRecord& record) {
    if (!state.zipPath.empty()) {
        std::wstring name = state.zipPath.substr(state.zipPath.find_last_of(L'\\') + 1);
        bool named = name.size() > 12 && name.rfind(L"Vorlane-", 0) == 0 &&
                     endsWithIgnoringCase(name, L".zip") &&
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

// Partial downloads of other builds are of no more use.
void deleteOtherPartialDownloads(const std::wstring& downloads, const std::wstring& keep) {
    for (const FolderEntry& entry : listFolder(downloads, L"Vorlane-*.zip.part")) {
        if (!entry.isFolder && !equalsIgnoringCase(entry.name, keep))
            DeleteFileW(longPath(joinPath(downloads, entry.name)).c_str());
    }
}

bool downloadZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip, const JobControl& job) {
    if (record.sha256.empty())
        return fail(state, L"The build server gave no fingerprint for build " + record.commit +
                               L", so it wasn't installed.");
    const std::wstring downloads = parentFolder(zip);
    const std::wstring part = zip + L".part";
    deleteOtherPartialDownloads(downloads, record.file + L".part");

    WIN32_FILE_ATTRIBUTE_DATA existing;
    if (GetFileAttributesExW(longPath(part).c_str(), GetFileExInfoStandard, &existing)) {
        long long size = ((long long)existing.nFileSizeHigh << 32) | existing.nFileSizeLow;
        logLine(state, L"Carrying on the download of " + record.file + L" from " + wholeMiB(size) + L" MB.");
    }
    job.progress(0, L"Downloading " + record.file + L"...");
    auto onProgress = [&](long long done, long long expected) {
        job.progress(expected > 0 ? done * 0.7 / expected : 0,
                 L"Downloading " + record.file + L"... " + wholeMiB(done) + L" MB");
        return true;
    };
    HttpResult result = download(serverUrl(state.listSource, record.file), nullptr, part, onProgress, state.failAfter,
                                 true, kBuildServerLabel);
    if (!result.error.empty()) return fail(state, result.error + L" (the next try carries on where it stopped)");
    DeleteFileW(longPath(zip).c_str());
    if (!MoveFileW(longPath(part).c_str(), longPath(zip).c_str()))
        return fail(state, L"Couldn't write " + zip + L".");
    return true;
}

bool checkZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip, bool downloaded,
              const JobControl& job) {
    job.progress(0.7, L"Checking the download...");
    std::wstring computed;
    if (!sha256File(zip, computed)) computed.clear();
    if (sameFingerprint(computed, record.sha256)) return true;
    logLine(state, L"SHA-256 " + computed + L", expected " + record.sha256 + L".");
    if (downloaded) DeleteFileW(longPath(zip).c_str());
    return fail(state, L"The download doesn't match the build server's fingerprint; it wasn't installed.");
}

bool unpackZip(LauncherState& state, const BuildRecord& record, const std::wstring& zip, const std::wstring& staging,
               const JobControl& job) {
    deleteFolderTree(staging);
    makeFolderTree(staging);
    const std::wstring tar = systemTar();

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
    std::wstring game = joinPath(joinPath(staging, L"Vorlane-" + record.commit), L"Vorlane.exe");
    if (code == 0 && fileExists(game)) return true;
    deleteFolderTree(staging);
    return fail(state, L"Unpacking the build failed (tar exit code " + std::to_wstring(code) + L").");
}

bool bringSavesOver(LauncherState& state, const BuildRecord& record, const std::wstring& staging,
                    const JobControl& job) {
    std::wstring source = savedFolderToBringOver(state);
    if (source.empty()) return true;
    job.progress(0.96, L"Bringing your settings and saves over...");
    std::wstring target = joinPath(joinPath(staging, L"Vorlane-" + record.commit), L"Vorlane\\Saved");
    if (copyFolderTree(source, target)) return true;
    deleteFolderTree(staging);
    return fail(state, L"Couldn't copy your settings and saves into the new build; it wasn't installed.");
}

void recordInstalled(LauncherState& state, const BuildRecord& record) {
    if (record.commit != state.current && state.currentFilesPresent) {
        state.previous = state.current;
        state.previousReleased = state.currentReleased;
    }
    state.current = record.commit;
    state.currentReleased = record.released;
    state.currentFilesPresent = true;
    state.heldBack.clear();
    saveInstallState(state);
    removeOldBuilds(state);
}

}  // namespace

std::wstring systemTar() {
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return quoted(joinPath(std::wstring(system, length), L"tar.exe"));
}

bool installBuild(LauncherState& state, const JobControl& job) {
    BuildRecord record;
    if (!pickBuild(state, record)) return false;

    const std::wstring downloads = joinPath(state.rootFolder, L"Downloads");
    makeFolderTree(downloads);
    const bool downloaded = state.zipPath.empty();
    const std::wstring zip = downloaded ? joinPath(downloads, record.file) : state.zipPath;
    if (downloaded && !downloadZip(state, record, zip, job)) return false;
    if (!record.sha256.empty() && !checkZip(state, record, zip, downloaded, job)) return false;

    const std::wstring target = joinPath(state.installDir, record.commit);
    const std::wstring staging = target + L".new";
    if (!unpackZip(state, record, zip, staging, job)) return false;
    if (!bringSavesOver(state, record, staging, job)) return false;

    if (folderExists(target)) deleteFolderTree(target);
    if (!MoveFileW(longPath(staging).c_str(), longPath(target).c_str())) {
        deleteFolderTree(staging);
        return fail(state, L"Couldn't put the new build in place.");
    }

    recordInstalled(state, record);
    if (downloaded) DeleteFileW(longPath(zip).c_str());
    refreshShortcuts(state);
    job.progress(1, L"Installed build " + state.current + L".");
    logLine(state, L"Installed build " + state.current + L" (previous: " +
                       (state.previous.empty() ? std::wstring(L"none") : state.previous) + L").");
    return true;
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
        deleteFolderTree(joinPath(state.installDir, folder.name));
    }
}

}  // namespace vorlane
