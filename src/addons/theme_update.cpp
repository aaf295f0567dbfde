#include "addons/theme_update.h"

#include <windows.h>

#include "pieces/piece_engine.h"
#include "addons/theme_folders.h"
#include "addons/theme_index.h"
#include "addons/themes_list.h"
#include "core/value_count.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/text.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"
#include "net/signature.h"

namespace vorlane {

namespace {

bool fail(LauncherState& state, const std::wstring& sentence) {
    state.lastError = sentence;
    return false;
}

// Beside the files in ".next": where the pieces written so far lie, for a try after a stop.
const wchar_t kPiecesRecord[] = L".pieces-done";

// The theme's ".next" folder stays as it is: the next try sets it aside and takes its pieces.
const wchar_t kStoppedMidway[] = L"it was stopped; the next try uses the pieces it made so far.";

std::wstring wholeMiB(uint64_t bytes) { return std::to_wstring(bytes >> 20); }
std::wstring wholeKiB(uint64_t bytes) { return std::to_wstring(bytes >> 10); }

// The index named `hash`, fetched into memory and hashed as it arrives; the
// failure sentence, or empty.
std::wstring fetchIndex(const std::wstring& server, const std::wstring& hash, std::string& text) {
    Sha256Hasher hasher;
    size_t hashed = 0;
    auto hashArrived = [&](long long, long long) {
        hasher.add(text.data() + hashed, text.size() - hashed);
        hashed = text.size();
        return true;
    };
    HttpResult result = download(serverUrl(server, themeObjectName(hash)), &text, L"", hashArrived, -1, false,
                                 kBuildServerLabel);
    if (!result.error.empty()) return L"its index: " + result.error;
    Sha256Digest digest;
    if (!hasher.finish(digest) || toHex(digest) != hash) return L"its index isn't the one themes.json names.";
    return {};
}

std::wstring indexRefusal(const IndexCheck& check) {
    switch (check.verdict) {
        case IndexVerdict::Good: return {};
        case IndexVerdict::NotThisTheme: return L"its index isn't this theme's for this build.";
        case IndexVerdict::UnknownScheme:
            return L"its index cuts files into pieces in a way this launcher doesn't know (a newer launcher does).";
        case IndexVerdict::BadFile: return L"its index lists a file it can't have (" + check.badPath + L").";
        case IndexVerdict::NotATheme:
            return L"its index isn't an add-on theme's (no descriptor, or too many or too big files).";
    }
    return {};
}

// Writes the theme's files into its ".next" folder, each as "<file>.part" until
// its SHA-256 checks out; the pieces come from the player's copy where it has
// them and from the servers otherwise. Counts what came from where.
bool assemble(LauncherState& state, const std::wstring& theme, const ThemeFolders& folders, const ThemeIndex& index,
              const JobControl& job, PieceCounts& counts) {
    PieceServers servers;
    servers.servers = serversToAsk(state);
    servers.label = kBuildServerLabel;
    servers.objectName = [](const std::wstring& hash) { return themeObjectName(hash); };
    PieceEngine engine(std::move(servers), job);
    for (const std::wstring* folder : {&folders.live, &folders.staged, &folders.tried}) engine.store().addFolder(*folder);
    // What an earlier try wrote, where it says it lies (its files may have gaps where pieces hadn't come).
    engine.addRecorded(joinPath(folders.tried, kPiecesRecord));
    std::vector<PieceTarget> targets;
    for (const ThemeFile& file : index.files)
        targets.push_back(PieceTarget{&file, joinPath(folders.next, windowsPath(file.path)) + L".part"});
    engine.plan(targets, joinPath(folders.next, kPiecesRecord));
    // A piece that can't be had doesn't keep the other files from being made: the next try uses them.
    const PieceRunResult result = engine.run(
        [&](const PieceCounts& now) {
            job.progress(shareDone(now),
                         L"Bringing " + theme + L" up to this build: " + wholeMiB(now.done) + L" of " +
                             wholeMiB(now.total) + L" MB");
        },
        true, true);
    counts = engine.counts();
    // Each file that came out as published takes its final name.
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::wstring& part = targets[i].path;
        if (result.written[i] &&
            !MoveFileExW(longPath(part).c_str(), longPath(part.substr(0, part.size() - 5)).c_str(),
                         MOVEFILE_REPLACE_EXISTING))
            return fail(state, L"the file " + targets[i].file->path + L" didn't come out as published.");
    }
    const std::wstring path = result.file ? result.file->path : std::wstring();
    switch (result.failure) {
        case PieceFailure::None: break;
        case PieceFailure::Stopped: return fail(state, kStoppedMidway);
        case PieceFailure::Creating:
            return fail(state, L"couldn't write " + joinPath(folders.next, windowsPath(path)) + L".");
        case PieceFailure::Writing:
            return fail(state, L"couldn't write " + joinPath(folders.next, windowsPath(path)) +
                                   L".part (is the disk full?).");
        case PieceFailure::Fetching:
            return fail(state, L"a piece of " + path + L" couldn't be downloaded: " + result.error);
        case PieceFailure::Mismatch: return fail(state, L"a piece of " + path + L" didn't match its SHA-256.");
        case PieceFailure::NotAsPublished: return fail(state, L"the file " + path + L" didn't come out as published.");
    }
    DeleteFileW(longPath(joinPath(folders.next, kPiecesRecord)).c_str());
    return true;
}

}  // namespace

bool updateTheme(LauncherState& state, const std::wstring& theme, const std::wstring& index,
                 const JobControl& job) {
    // Without an installed build there is no add-on themes folder to work in.
    if (state.current.empty()) return fail(state, L"there's no installed build to bring it up to.");
    if (!isSha256Hex(index)) return fail(state, L"themes.json names no index for it.");
    std::string text;
    const std::wstring fetchError = fetchIndex(state.listSource, index, text);
    if (!fetchError.empty()) return fail(state, fetchError);
    ThemeIndex files;
    const std::wstring refusal = indexRefusal(readThemeIndex(text, theme, state.current, files));
    if (!refusal.empty()) return fail(state, refusal);
    text.clear();
    text.shrink_to_fit();

    const ThemeFolders folders = themeFolders(addOnThemesFolder(state), theme);
    deleteFolderTree(folders.tried);
    if (folderExists(folders.next) && !MoveFileW(longPath(folders.next).c_str(), longPath(folders.tried).c_str()))
        return fail(state, L"couldn't set aside what an earlier try made (" + folders.next + L").");

    job.progress(0, L"Looking through your copy of " + theme + L"...");
    PieceCounts counts;
    if (!assemble(state, theme, folders, files, job, counts)) return false;

    const std::wstring putIn = L"couldn't put it in " + folders.staged + L".";
    if (!deleteFolderTree(folders.staged)) return fail(state, putIn);
    if (!MoveFileW(longPath(folders.next).c_str(), longPath(folders.staged).c_str())) return fail(state, putIn);
    if (!writeFileAtomically(joinPath(folders.staged, kInstallMarker), toUtf8(index))) return fail(state, putIn);

    deleteFolderTree(folders.tried);
    logLine(state, L"Add-on theme " + theme + L" is ready for build " + state.current + L": " +
                       wholeKiB(counts.fromDisk) + L" KB from your copy, " + wholeKiB(counts.fetched) +
                       L" KB downloaded. The game puts it in place when it starts.");
    return true;
}

bool updateAddOnThemes(LauncherState& state, const JobControl& job) {
    const std::vector<InstalledTheme> themes = listThemesToUpdate(state);
    if (themes.empty()) return true;
    const std::wstring& server = state.listSource;
    if (server.empty()) {
        logLine(state, L"Add-on themes made for other builds stay as they are: no build server answered.");
        return true;
    }
    const SignedDocument fetched = fetchSigned(server, kThemesListName);
    if (!fetched.answered) {
        logLine(state, L"Add-on themes made for other builds stay as they are: " + server + L" publishes none (" +
                           kThemesListName + L": " + fetched.error + L")");
        return true;
    }
    if (!fetched.error.empty()) {
        state.lastError = L"The add-on themes list from " + server +
                          L" isn't signed with Vorlane's key, so nothing from it is used.";
        logLine(state, state.lastError + L" (" + fetched.error + L")");
        return false;
    }
    std::vector<ThemesListEntry> list;
    switch (readThemesList(fetched.bytes, list)) {
        case ThemesListVerdict::Good: break;
        case ThemesListVerdict::TooBig:
            state.lastError =
                L"The add-on themes list from " + server + L" is too big to read, so nothing from it is used.";
            logLine(state, state.lastError + L" (more than " + std::to_wstring(kMostJsonValues) + L" JSON values)");
            return false;
        case ThemesListVerdict::NotAList:
            state.lastError = L"The add-on themes list from " + server + L" can't be read.";
            logLine(state, state.lastError);
            return false;
    }

    bool allUpdated = true;
    for (size_t k = 0; k < themes.size(); ++k) {
        const InstalledTheme& theme = themes[k];
        if (job.stopRequested()) {  // the themes not reached yet stay for the next run
            allUpdated = false;
            break;
        }
        const ThemesListEntry* entry = findThemesListEntry(list, theme.name, state.current);
        if (!entry) {
            logLine(state, L"Add-on theme " + theme.name + L" was made for build " + theme.build + L", and " + server +
                               L" has no version of it for build " + state.current +
                               L": it stays as it is, and the game skips it.");
            continue;
        }
        JobProgress overall = [&](double fraction, const std::wstring& line) {
            job.progress((double(k) + fraction) / double(themes.size()), line);
        };
        if (!updateTheme(state, theme.name, entry->index, JobControl(overall, job.stopFlag()))) {
            logLine(state, L"Add-on theme " + theme.name + L" wasn't brought up to build " + state.current + L": " +
                               state.lastError);
            allUpdated = false;
        }
    }
    return allUpdated;
}

}  // namespace vorlane
