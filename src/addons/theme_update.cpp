#include "addons/theme_update.h"

#include <windows.h>

#include "pieces/piece_store.h"
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

// The theme's ".next" folder stays as it is: the next try sets it aside and takes its pieces.
const wchar_t kStoppedMidway[] = L"it was stopped; the next try uses the pieces it made so far.";

std::wstring wholeMiB(uint64_t bytes) { return std::to_wstring(bytes >> 20); }
std::wstring wholeKiB(uint64_t bytes) { return std::to_wstring(bytes >> 10); }

std::wstring windowsPath(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

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

// One theme's files assembled into its ".next" folder.
class Assembly {
public:
    Assembly(LauncherState& state, const std::wstring& theme, const ThemeFolders& folders, const PieceStore& store,
             const JobControl& job)
        : state_(state), theme_(theme), folders_(folders), store_(store), job_(job) {}

    bool build(const ThemeIndex& index) {
        for (const ThemeFile& file : index.files) total_ += file.size;
        for (const ThemeFile& file : index.files)
            if (!assemble(file)) return false;
        return true;
    }

    uint64_t reused() const { return reused_; }
    uint64_t downloaded() const { return downloaded_; }

private:
    bool assemble(const ThemeFile& file) {
        const std::wstring target = joinPath(folders_.next, windowsPath(file.path));
        const std::wstring part = target + L".part";
        makeFolderTree(parentFolder(target));
        Sha256Digest digest;
        {
            FileHandle out(CreateFileW(longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!out) return fail(state_, L"couldn't write " + target + L".");
            Sha256Hasher whole;
            for (const ThemePiece& piece : file.pieces) {
                if (job_.stopRequested()) return fail(state_, kStoppedMidway);
                std::string bytes;
                if (!obtain(file, piece, bytes)) return false;
                DWORD written = 0;
                if (!WriteFile(out.get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) ||
                    written != bytes.size())
                    return fail(state_, L"couldn't write " + part + L" (is the disk full?).");
                whole.add(bytes);
                done_ += piece.size;
                job_.progress(total_ ? double(done_) / double(total_) : 1.0,
                       L"Bringing " + theme_ + L" up to this build: " + wholeMiB(done_) + L" of " + wholeMiB(total_) +
                           L" MB");
            }
            if (!whole.finish(digest)) digest.fill(0);
        }
        if (toHex(digest) != file.sha256 ||
            !MoveFileExW(longPath(part).c_str(), longPath(target).c_str(), MOVEFILE_REPLACE_EXISTING))
            return fail(state_, L"the file " + file.path + L" didn't come out as published.");
        return true;
    }

    // The piece from the player's disk when it is there, else from the server.
    bool obtain(const ThemeFile& file, const ThemePiece& piece, std::string& bytes) {
        if (store_.take(piece.hash, piece.size, bytes)) {
            reused_ += piece.size;
            return true;
        }
        bytes.clear();
        // A server that sends more than the piece is cut off at its first block.
        bool tooLong = false;
        auto bounded = [&](long long done, long long) {
            tooLong = done > (long long)piece.size;
            return !tooLong && !job_.stopRequested();
        };
        // A piece is content, not a list: it is held to a least rate, not to a deadline.
        HttpResult result = download(serverUrl(state_.listSource, themeObjectName(piece.hash)), &bytes, L"", bounded,
                                     -1, false, kBuildServerLabel, kFilePace);
        if (job_.stopRequested()) return fail(state_, kStoppedMidway);
        if (!result.error.empty() && !tooLong)
            return fail(state_, L"a piece of " + file.path + L" couldn't be downloaded: " + result.error);
        downloaded_ += bytes.size();
        Sha256Digest digest;
        if (tooLong || bytes.size() != piece.size || !sha256(bytes, digest) || toHex(digest) != piece.hash)
            return fail(state_, L"a piece of " + file.path + L" didn't match its SHA-256.");
        return true;
    }

    LauncherState& state_;
    const std::wstring& theme_;
    const ThemeFolders& folders_;
    const PieceStore& store_;
    const JobControl& job_;
    uint64_t total_ = 0, done_ = 0, reused_ = 0, downloaded_ = 0;
};

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
    PieceStore store;
    for (const std::wstring* folder : {&folders.live, &folders.staged, &folders.tried}) store.addFolder(*folder);

    Assembly assembly(state, theme, folders, store, job);
    if (!assembly.build(files)) return false;

    const std::wstring putIn = L"couldn't put it in " + folders.staged + L".";
    if (!deleteFolderTree(folders.staged)) return fail(state, putIn);
    if (!MoveFileW(longPath(folders.next).c_str(), longPath(folders.staged).c_str())) return fail(state, putIn);
    if (!writeFileAtomically(joinPath(folders.staged, kInstallMarker), toUtf8(index))) return fail(state, putIn);

    deleteFolderTree(folders.tried);
    logLine(state, L"Add-on theme " + theme + L" is ready for build " + state.current + L": " +
                       wholeKiB(assembly.reused()) + L" KB from your copy, " + wholeKiB(assembly.downloaded()) +
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
