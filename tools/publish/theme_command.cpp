// theme: publishes one version of an add-on theme for one game build: every
// file of the theme cut into pieces by the launcher's own piece rule, each
// piece and the index stored under themes/ named by their SHA-256, and the
// (Theme, Build) entry of the signed themes.json added or replaced. A theme
// the launcher would refuse is refused here first, naming the file.
#include <windows.h>

#include <algorithm>

#include "addons/theme_folders.h"
#include "addons/theme_index.h"
#include "addons/themes_list.h"
#include "core/failure.h"
#include "core/value_count.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/text.h"
#include "install/build_list.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "publish.h"

namespace publish {

namespace {

std::wstring withoutTrailingSlashes(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// The server's folder of content-addressed files: themes\.
std::wstring objectFolder(const std::wstring& serverFolder) {
    return vorlane::joinPath(serverFolder, backslashed(vorlane::themeObjectName(L"")));
}

// The theme's files, checked against the launcher's limits before anything is read.
bool listThemeFiles(const std::wstring& folder, const std::wstring& theme, std::vector<std::wstring>& paths) {
    paths.clear();
    for (const std::wstring& file : vorlane::filesBelow(folder)) paths.push_back(slashed(file));
    std::sort(paths.begin(), paths.end());
    for (const std::wstring& path : paths) {
        if (!vorlane::isAllowedThemePath(theme, path)) {
            printError(L"The theme's file " + path + L" can't be published: a theme holds only " +
                       vorlane::descriptorName(theme) +
                       L", theme.sig and .pak, .utoc, .ucas and .sig files below Content/Paks/ (at most 200 "
                       L"characters of letters, digits and _+.-/, without .. or //); the launcher would refuse it.");
            return false;
        }
    }
    if (paths.size() > vorlane::kMostThemeFiles) {
        printError(L"The theme has " + std::to_wstring(paths.size()) + L" files; the launcher takes at most " +
                   std::to_wstring(vorlane::kMostThemeFiles) + L".");
        return false;
    }
    return true;
}

// The entries of themes.json as they stand; false (with the reason printed) when it can't be read.
bool readThemesListFile(const std::wstring& listPath, std::vector<vorlane::ThemesListEntry>& entries) {
    entries.clear();
    if (!vorlane::fileExists(listPath)) return true;
    switch (vorlane::readThemesList(vorlane::readWholeFile(listPath), entries)) {
        case vorlane::ThemesListVerdict::Good: return true;
        case vorlane::ThemesListVerdict::TooBig:
            printError(L"The themes list " + listPath + L" is too big to read (more than " +
                       std::to_wstring(vorlane::kMostJsonValues) + L" JSON values); it is left as it is.");
            return false;
        case vorlane::ThemesListVerdict::NotAList:
            printError(L"The themes list " + listPath + L" isn't a JSON array; it is left as it is.");
            return false;
    }
    return false;
}

std::wstring refusalOf(const vorlane::IndexCheck& check, const std::wstring& theme) {
    if (check.verdict == vorlane::IndexVerdict::BadFile)
        return L"The theme's file " + check.badPath + L" breaks the launcher's limits on a file (its size or pieces).";
    return L"The theme isn't one the launcher takes: it needs its descriptor " + vorlane::descriptorName(theme) +
           L", at most 64 files and at most 32 GiB in all.";
}

}  // namespace

int runTheme(const Arguments& arguments) {
    if (arguments[3] != L"--build") {
        printError(L"Usage: vorlane-publish theme <server-folder> <private-key-file> <theme-folder> --build <commit>");
        return kExitUsage;
    }
    const std::wstring& serverFolder = arguments[0];
    const std::wstring& keyPath = arguments[1];
    const std::wstring folder = withoutTrailingSlashes(arguments[2]);
    const std::wstring& build = arguments[4];
    const std::wstring theme = vorlane::fileNameOf(folder);

    if (!vorlane::isCommitId(build)) {
        printError(L"--build takes a commit id, 7 to 40 lower-case hex digits; this is " + build + L".");
        return kExitUsage;
    }
    if (!vorlane::isThemeName(theme)) {
        printError(L"A theme's folder is named after the theme, 1 to 64 letters, digits or _; this is " + theme + L".");
        return kExitFailed;
    }
    if (!vorlane::fileExists(vorlane::joinPath(folder, vorlane::descriptorName(theme)))) {
        printError(L"The theme folder " + folder + L" has no descriptor " + vorlane::descriptorName(theme) + L".");
        return kExitFailed;
    }
    // A version whose descriptor names another build would be taken for an old one and fetched again and again.
    const std::wstring named = vorlane::descriptorBuild(folder, theme);
    if (!vorlane::isForBuild(named, build, false)) {
        printError(L"The descriptor " + vorlane::descriptorName(theme) + L" names build \"" + named +
                   L"\" in VorlaneBaseRelease; a version for build " + build + L" must name " + build + L".");
        return kExitFailed;
    }
    PrivateKeyBlob key;
    if (!loadPrivateKey(keyPath, key)) return kExitFailed;

    std::vector<std::wstring> paths;
    if (!listThemeFiles(folder, theme, paths)) return kExitFailed;
    vorlane::ThemeIndex index;
    index.theme = theme;
    index.build = build;
    ServerLock lock;
    if (!vorlane::makeFolderTree(serverFolder)) {
        printError(vorlane::systemFailure(L"Couldn't make the server folder " + serverFolder + L".").text());
        return kExitFailed;
    }
    if (!lock.take(serverFolder, false)) return kExitFailed;
    size_t newPieces = 0, pieces = 0;
    ObjectFolder objects;
    if (!objects.open(objectFolder(serverFolder))) return kExitFailed;
    CutBuffers buffers;
    for (const std::wstring& path : paths) {
        vorlane::ThemeFile file;
        file.path = path;
        if (!cutAndStore({vorlane::joinPath(folder, backslashed(path))}, objects, file, newPieces, buffers))
            return kExitFailed;
        pieces += file.pieces.size();
        index.files.push_back(std::move(file));
    }
    const vorlane::IndexCheck check = vorlane::checkThemeIndex(index);
    if (check.verdict != vorlane::IndexVerdict::Good) {
        printError(refusalOf(check, theme));
        return kExitFailed;
    }

    const std::string indexText = vorlane::themeIndexJson(index);
    vorlane::Sha256Digest digest;
    vorlane::ThemeIndex reread;
    if (!vorlane::sha256(indexText, digest) ||
        vorlane::readThemeIndex(indexText, theme, build, reread).verdict != vorlane::IndexVerdict::Good) {
        printError(L"The index made for the theme doesn't read back as the launcher reads it.");
        return kExitFailed;
    }
    const std::wstring indexHash = vorlane::toHex(digest);
    bool added = false;
    if (!objects.store(indexHash, indexText, added)) return kExitFailed;

    const std::wstring listPath = vorlane::joinPath(serverFolder, vorlane::kThemesListName);
    std::vector<vorlane::ThemesListEntry> entries;
    if (!readThemesListFile(listPath, entries)) return kExitFailed;
    vorlane::putThemesListEntry(entries, {theme, build, indexHash});
    if (!vorlane::writeFileAtomically(listPath, vorlane::themesListJson(entries))) {
        printError(L"Couldn't write " + listPath + L".");
        return kExitFailed;
    }
    if (!signListFile(keyPath, listPath)) return kExitFailed;
    printLine(L"Published theme " + theme + L" for build " + build + L": " + std::to_wstring(index.files.size()) +
              L" files, " + std::to_wstring(pieces) + L" pieces (" + std::to_wstring(newPieces) + L" new), index " +
              indexHash + L".");
    return kExitOk;
}

}  // namespace publish
