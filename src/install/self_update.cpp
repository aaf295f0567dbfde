#include "install/self_update.h"

#include "core/files.h"
#include "core/handles.h"
#include "core/json.h"
#include "core/log.h"
#include "core/root_lock.h"
#include "core/text.h"
#include "core/transfer_meter.h"
#include "core/value_count.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"
#include "net/signature.h"

namespace vorlane {

namespace {

constexpr wchar_t kInstalledLauncherName[] = L"Vorlane Launcher.exe";
constexpr wchar_t kReplacedLauncherName[] = L"Vorlane Launcher.old.exe";

SelfUpdateOutcome startUpOutcome = SelfUpdateOutcome::NoneOffered;

SelfUpdateOutcome fail(LauncherState& state, const std::wstring& sentence, const std::wstring& logged) {
    state.lastError = sentence;
    logLine(state, logged);
    return SelfUpdateOutcome::Failed;
}

// The installed launcher is something else than the record's program: there is
// one, and its fingerprint (when it can be read at all) isn't the record's.
bool installedCopyDiffers(const LauncherState& state, const std::wstring& runningProgram,
                          const LauncherRecord& record) {
    const std::wstring installed = installedLauncherPath(state);
    if (equalsIgnoringCase(runningProgram, installed) || !fileExists(installed)) return false;
    std::wstring fingerprint;
    sha256File(installed, fingerprint);
    return !sameFingerprint(fingerprint, record.sha256);
}

// Downloads the offered launcher into Downloads, checks it and swaps it in.
SelfUpdateOutcome takeOfferedLauncher(LauncherState& state, const LauncherRecord& record, const JobProgress& progress) {
    const std::wstring downloads = joinPath(state.rootFolder, L"Downloads");
    makeFolderTree(downloads);
    const std::wstring target = joinPath(downloads, record.file + L".part");
    // The launcher is written from its start every time, so the whole of it is what this run fetches.
    TransferMeter meter;
    auto onProgress = [&](long long done, long long expected) {
        if (progress)
            progress(expected > 0 ? double(done) / double(expected) : 0,
                     L"Downloading " + record.file + L"... " + meter.update(done, expected));
        return true;
    };
    const HttpResult result = download(serverUrl(state.listSource, record.file), nullptr, target, onProgress,
                                       state.failAfter, false, kBuildServerLabel);
    std::wstring fingerprint;
    if (result.error.empty()) sha256File(target, fingerprint);
    if (!result.error.empty() || !sameFingerprint(fingerprint, record.sha256)) {
        // A partly downloaded or wrong launcher is never kept: the next start fetches it anew.
        DeleteFileW(longPath(target).c_str());
        const std::wstring why =
            !result.error.empty() ? result.error : L"The new launcher doesn't match the build server's fingerprint.";
        return fail(state, why, L"Didn't update the launcher: " + why);
    }
    if (!swapLauncher(state, target, true)) {
        DeleteFileW(longPath(target).c_str());
        logLine(state, L"Failed: " + state.lastError);
        return SelfUpdateOutcome::Failed;
    }
    logLine(state, L"Updated the launcher from " + launcherVersion() + L" to " + record.version +
                       L"; the old one is kept.");
    return SelfUpdateOutcome::Updated;
}

}  // namespace

const wchar_t* outcomeWord(SelfUpdateOutcome outcome) {
    switch (outcome) {
    case SelfUpdateOutcome::UpToDate: return L"up to date";
    case SelfUpdateOutcome::Updated: return L"updated";
    case SelfUpdateOutcome::InstalledCopyUpdated: return L"the installed copy updated";
    case SelfUpdateOutcome::NoneOffered: return L"none offered";
    case SelfUpdateOutcome::Failed: return L"failed";
    }
    return L"failed";
}

LauncherRecord readLauncherRecord(const std::string& text) {
    LauncherRecord record;
    const std::vector<FlatRecord> objects = readFlatRecords(text);
    if (objects.empty()) return record;
    record.file = field(objects.front(), "File");
    record.version = field(objects.front(), "Version");
    record.sha256 = field(objects.front(), "Sha256");
    return record;
}

std::string launcherRecordJson(const LauncherRecord& record) {
    return "{\"File\": " + quoteJson(record.file) + ", \"Version\": " + quoteJson(record.version) +
           ", \"Sha256\": " + quoteJson(record.sha256) + "}\n";
}

bool isUsableLauncherRecord(const LauncherRecord& record) {
    if (record.file.empty() || record.sha256.empty()) return false;
    return record.file.find_first_of(L"\\/:") == std::wstring::npos && record.file.find(L"..") == std::wstring::npos;
}

std::wstring installedLauncherPath(const LauncherState& state) {
    return joinPath(state.rootFolder, kInstalledLauncherName);
}

std::wstring replacedLauncherPath(const LauncherState& state) {
    return joinPath(state.rootFolder, kReplacedLauncherName);
}

bool selfUpdateRunsAtStart(const StartOptions& options, const std::wstring& version) {
    if (options.updated || isDevelopersVersion(version)) return false;
    return !options.command || *options.command == L"self-update";
}

SelfUpdateOutcome selfUpdate(LauncherState& state, const JobProgress& progress) {
    return selfUpdate(state, ownProgramPath(), progress);
}

SelfUpdateOutcome selfUpdate(LauncherState& state, const std::wstring& runningProgram, const JobProgress& progress) {
    if (state.listSource.empty()) return SelfUpdateOutcome::NoneOffered;
    const SignedDocument document = fetchSigned(state.listSource, kLauncherRecordName);
    // A server that publishes no launcher record offers none.
    if (!document.answered) return SelfUpdateOutcome::NoneOffered;
    if (!document.error.empty())
        return fail(state, L"launcher.json isn't signed with Vorlane's key.",
                    L"Didn't update the launcher: launcher.json from " + state.listSource +
                        L" isn't signed with Vorlane's key. (" + document.error + L")");

    if (!atMostJsonValues(document.bytes))
        return fail(state, L"launcher.json is too big to read.",
                    L"Didn't update the launcher: launcher.json from " + state.listSource +
                        L" is too big to read. (more than " + std::to_wstring(kMostJsonValues) + L" JSON values)");

    const LauncherRecord record = readLauncherRecord(document.bytes);
    if (!isUsableLauncherRecord(record)) return SelfUpdateOutcome::NoneOffered;

    std::wstring running;
    sha256File(runningProgram, running);
    if (!sameFingerprint(running, record.sha256)) return takeOfferedLauncher(state, record, progress);

    // This is the offered launcher; an older installed copy elsewhere is brought up to it.
    if (!installedCopyDiffers(state, runningProgram, record)) return SelfUpdateOutcome::UpToDate;
    if (!swapLauncher(state, runningProgram, false)) {
        logLine(state, L"Failed: " + state.lastError);
        return SelfUpdateOutcome::Failed;
    }
    logLine(state, L"The installed launcher is now this one (launcher " + launcherVersion() +
                       L"); the old one is kept.");
    return SelfUpdateOutcome::InstalledCopyUpdated;
}

SelfUpdateOutcome selfUpdateAtStart(LauncherState& state, const StartOptions& options, const JobProgress& progress) {
    startUpOutcome = SelfUpdateOutcome::NoneOffered;
    if (!selfUpdateRunsAtStart(options, launcherVersion())) return startUpOutcome;
    // The launcher's own files change only while no other launcher changes the installation.
    RootLock lock;
    if (!lock.acquire(state.rootFolder)) {
        state.lastError = kRootBusySentence;
        logLine(state, L"Self-update: " + state.lastError);
        return startUpOutcome = SelfUpdateOutcome::Failed;
    }
    return startUpOutcome = selfUpdate(state, progress);
}

SelfUpdateOutcome startUpSelfUpdateOutcome() { return startUpOutcome; }

bool swapLauncher(LauncherState& state, const std::wstring& newFile, bool move) {
    const std::wstring installed = longPath(installedLauncherPath(state));
    const std::wstring replaced = longPath(replacedLauncherPath(state));
    const std::wstring source = longPath(newFile);

    // A running launcher's file may be renamed: the running copy goes on under the new name.
    const bool setAside = fileExists(installedLauncherPath(state));
    if (setAside && !MoveFileExW(installed.c_str(), replaced.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        state.lastError = L"Couldn't set the old launcher aside (error " + std::to_wstring(GetLastError()) + L").";
        return false;
    }
    const bool placed = move ? MoveFileExW(source.c_str(), installed.c_str(),
                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
                             : CopyFileW(source.c_str(), installed.c_str(), FALSE);
    if (placed) return true;
    state.lastError = L"Couldn't put the new launcher in place (error " + std::to_wstring(GetLastError()) + L").";
    if (setAside) MoveFileExW(replaced.c_str(), installed.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
}

bool startNewLauncher(LauncherState& state) {
    DWORD error = 0;
    if (startProgram(installedLauncherPath(state), runArgs + L" --updated", state.rootFolder, &error)) {
        logLine(state, L"Started the new launcher.");
        return true;
    }
    logLine(state, L"Couldn't start the new launcher (error " + std::to_wstring(error) +
                       L"); carrying on with this one.");
    return false;
}

}  // namespace vorlane
