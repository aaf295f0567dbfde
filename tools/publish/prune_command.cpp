// prune: removes from a server folder what no listed build or theme version
// needs any more: under builds/ every index, piece and pack that no build of
// builds.json names (through its index), under themes/ every index and piece
// that no version of themes.json names, and every build zip that no record of
// builds.json names. Anything written within the last hour (by default) stays,
// since a publication may be writing it before its list names it; and nothing
// at all is removed while a publication runs on the folder or when a list, or
// an index one of them names, can't be read.
#include <windows.h>

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "addons/theme_index.h"
#include "addons/themes_list.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "core/value_count.h"
#include "install/build_list.h"
#include "net/build_server.h"
#include "pieces/build_index.h"
#include "publish.h"

namespace publish {

namespace {

constexpr long long kTicksPerSecond = 10000000;  // FILETIME counts 100 ns

struct PruneOptions {
    std::wstring serverFolder;
    bool dryRun = false;
    long long keepNewerThan = 3600;  // seconds
};

bool readPruneOptions(const Arguments& arguments, PruneOptions& options) {
    options.serverFolder = arguments[0];
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"--dry-run") {
            options.dryRun = true;
        } else if (arguments[i] == L"--keep-newer-than" && i + 1 < arguments.size()) {
            if (!vorlane::parseSigned64(arguments[++i], options.keepNewerThan) || options.keepNewerThan < 0)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// What the lists need, by the names of their files below the server folder.
struct Needed {
    std::unordered_set<std::wstring> zips, builds, themes;
};

// The builds of builds.json and what each needs; prints why and gives false
// when the list, or an index it names, can't be read.
bool neededByBuilds(const std::wstring& serverFolder, Needed& needed) {
    const std::wstring listPath = vorlane::joinPath(serverFolder, vorlane::kBuildListName);
    std::string text;
    vorlane::JsonValue document;
    if (!vorlane::readWholeFile(listPath, text)) {
        printError(vorlane::systemFailure(L"Couldn't read " + listPath + L", so nothing is removed.").text());
        return false;
    }
    if (!vorlane::atMostJsonValues(text) || !vorlane::parseDocument(text, document) ||
        document.kind != vorlane::JsonKind::Array) {
        printError(L"The build list " + listPath + L" isn't a JSON array the launcher reads, so nothing is removed.");
        return false;
    }
    const std::vector<vorlane::BuildRecord> records = vorlane::readBuildRecords(text);
    // A record the launcher passes over may still name files someone means to keep.
    if (records.size() != document.items.size()) {
        printError(L"The build list " + listPath + L" has " + std::to_wstring(document.items.size() - records.size()) +
                   L" entries the launcher passes over (no commit id, or a File other than Vorlane-<commit>.zip), "
                   L"so nothing is removed.");
        return false;
    }
    for (const vorlane::BuildRecord& record : records) {
        needed.zips.insert(record.file);
        if (record.index.empty()) continue;
        const std::wstring indexPath =
            vorlane::joinPath(serverFolder, backslashed(vorlane::buildObjectName(record.index)));
        vorlane::BuildIndex index;
        std::string indexText;
        if (!vorlane::isSha256Hex(record.index) || !vorlane::readWholeFile(indexPath, indexText) ||
            vorlane::readBuildIndex(indexText, record.commit, index).verdict != vorlane::BuildIndexVerdict::Good) {
            printError(L"The index " + record.index + L" of build " + record.commit +
                       L" is missing or isn't one the launcher reads, so nothing is removed.");
            return false;
        }
        needed.builds.insert(record.index);
        if (!index.pack.sha256.empty()) needed.builds.insert(index.pack.sha256);
        for (const vorlane::IndexFile& file : index.files)
            for (const vorlane::IndexPiece& piece : file.pieces) needed.builds.insert(vorlane::toHex(piece.hash));
    }
    return true;
}

// The theme versions of themes.json and what each needs, as neededByBuilds.
bool neededByThemes(const std::wstring& serverFolder, Needed& needed) {
    const std::wstring listPath = vorlane::joinPath(serverFolder, vorlane::kThemesListName);
    std::vector<vorlane::ThemesListEntry> entries;
    std::string text;
    if (!vorlane::readWholeFile(listPath, text)) {
        printError(vorlane::systemFailure(L"Couldn't read " + listPath + L", so nothing is removed.").text());
        return false;
    }
    if (vorlane::readThemesList(text, entries) != vorlane::ThemesListVerdict::Good) {
        printError(L"The themes list " + listPath + L" isn't a JSON array the launcher reads, so nothing is removed.");
        return false;
    }
    for (const vorlane::ThemesListEntry& entry : entries) {
        const std::wstring indexPath =
            vorlane::joinPath(serverFolder, backslashed(vorlane::themeObjectName(entry.index)));
        vorlane::ThemeIndex index;
        std::string indexText;
        if (!vorlane::isSha256Hex(entry.index) || !vorlane::readWholeFile(indexPath, indexText) ||
            vorlane::readThemeIndex(indexText, entry.theme, entry.build, index).verdict !=
                vorlane::IndexVerdict::Good) {
            printError(L"The index " + entry.index + L" of theme " + entry.theme + L" for build " + entry.build +
                       L" is missing or isn't one the launcher reads, so nothing is removed.");
            return false;
        }
        needed.themes.insert(entry.index);
        for (const vorlane::IndexFile& file : index.files)
            for (const vorlane::IndexPiece& piece : file.pieces) needed.themes.insert(vorlane::toHex(piece.hash));
    }
    return true;
}

struct Removable {
    std::wstring name;  // below the server folder, "/" between parts
    uint64_t size = 0;
};

// The files directly in `folder` (below the server folder) that `keep` doesn't
// name, passing over those written since `since`; counts those it passes over.
void unneededIn(const std::wstring& serverFolder, const std::wstring& folder,
                const std::function<bool(const std::wstring&)>& keep, uint64_t since,
                std::vector<Removable>& removable, size_t& recent) {
    WIN32_FIND_DATAW found;
    const std::wstring where = folder.empty() ? serverFolder : vorlane::joinPath(serverFolder, backslashed(folder));
    HANDLE search = FindFirstFileExW(vorlane::longPath(vorlane::joinPath(where, L"*")).c_str(), FindExInfoBasic,
                                     &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) || keep(found.cFileName))
            continue;
        const uint64_t written =
            (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
        if (written >= since) {
            ++recent;
            continue;
        }
        removable.push_back({folder + found.cFileName,
                             (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

int runPrune(const Arguments& arguments) {
    PruneOptions options;
    if (!readPruneOptions(arguments, options)) {
        printError(L"Usage: vorlane-publish prune <server-folder> [--dry-run] [--keep-newer-than <seconds>]");
        return kExitUsage;
    }
    // A publication stores its pieces before its list names them, and takes pieces that are there already as
    // they are: it must not run while pieces are removed.
    ServerLock lock;
    if (!lock.take(options.serverFolder, true)) return kExitFailed;

    Needed needed;
    if (!neededByBuilds(options.serverFolder, needed)) return kExitFailed;
    // Without a themes list nothing says which theme objects are needed, and a missing list is likelier a
    // mistake than the end of every theme: they are left as they are.
    const bool themes = vorlane::fileExists(vorlane::joinPath(options.serverFolder, vorlane::kThemesListName));
    if (themes && !neededByThemes(options.serverFolder, needed)) return kExitFailed;

    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t since = ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
                           (uint64_t)options.keepNewerThan * kTicksPerSecond;
    std::vector<Removable> removable;
    size_t recent = 0;
    unneededIn(options.serverFolder, L"",
               [&](const std::wstring& name) {
                   return vorlane::commitOfBuildZip(name).empty() || needed.zips.contains(name);
               },
               since, removable, recent);
    unneededIn(options.serverFolder, vorlane::kBuildObjectsFolder,
               [&](const std::wstring& name) { return needed.builds.contains(name); }, since, removable, recent);
    if (themes)
        unneededIn(options.serverFolder, vorlane::kThemeObjectsFolder,
                   [&](const std::wstring& name) { return needed.themes.contains(name); }, since, removable, recent);
    std::sort(removable.begin(), removable.end(),
              [](const Removable& a, const Removable& b) { return a.name < b.name; });

    size_t removed = 0;
    uint64_t bytes = 0;
    for (const Removable& file : removable) {
        if (options.dryRun) {
            printLine(L"Would remove " + file.name + L" (" + std::to_wstring(file.size) + L" bytes).");
        } else if (!DeleteFileW(
                       vorlane::longPath(vorlane::joinPath(options.serverFolder, backslashed(file.name))).c_str())) {
            printError(vorlane::systemFailure(L"Couldn't remove " + file.name + L".").text());
            continue;
        }
        ++removed;
        bytes += file.size;
    }
    const std::wstring kept =
        recent == 0 ? L""
                    : L"; " + std::to_wstring(recent) + L" files no list needs were written in the last " +
                          std::to_wstring(options.keepNewerThan) + L" seconds and stay";
    printLine((options.dryRun ? L"Would remove " : L"Removed ") + std::to_wstring(removed) + L" files, " +
              std::to_wstring(bytes) + L" bytes, from " + options.serverFolder + kept + L".");
    return removed == removable.size() ? kExitOk : kExitFailed;
}

}  // namespace publish
