// build: puts one build zip on a build server folder and lists it in the
// signed builds.json; unless --no-pieces, also cuts every file of the zip's
// build folder into pieces by the launcher's own piece rule and stores each
// new piece and the build's index under builds/ named by their SHA-256, so
// that launchers update by fetching only the pieces they lack.
#include <windows.h>

#include <algorithm>

#include "core/failure.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/iso_time.h"
#include "core/text.h"
#include "install/build_list.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "install/zip_listing.h"
#include "pieces/build_index.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "private_key.h"
#include "publish.h"

namespace publish {

namespace {

struct BuildOptions {
    std::wstring serverFolder, keyPath, zipPath;
    std::wstring released;  // empty: now
    std::wstring summary;
    bool pieces = true;
};

// Positional arguments first, then options with their values.
bool readBuildOptions(const Arguments& arguments, BuildOptions& options) {
    options.serverFolder = arguments[0];
    options.keyPath = arguments[1];
    options.zipPath = arguments[2];
    for (size_t i = 3; i < arguments.size(); i += 2) {
        if (arguments[i] == L"--no-pieces") {
            options.pieces = false;
            --i;
            continue;
        }
        if (i + 1 >= arguments.size()) return false;
        if (arguments[i] == L"--released")
            options.released = arguments[i + 1];
        else if (arguments[i] == L"--summary")
            options.summary = arguments[i + 1];
        else
            return false;
    }
    return true;
}

std::wstring nowAsIsoTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const long long sinceWindowsEpoch = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const long long windowsTo1970 = 116444736000000000LL;
    return vorlane::formatIsoTime(sinceWindowsEpoch - windowsTo1970);
}

long long fileSize(const std::wstring& path) {
    long long size = -1;
    return vorlane::fileSize(path, size) ? size : -1;
}

bool samePlace(const std::wstring& a, const std::wstring& b) {
    wchar_t fullA[MAX_PATH * 4], fullB[MAX_PATH * 4];
    if (!GetFullPathNameW(a.c_str(), MAX_PATH * 4, fullA, nullptr)) return false;
    if (!GetFullPathNameW(b.c_str(), MAX_PATH * 4, fullB, nullptr)) return false;
    return vorlane::equalsIgnoringCase(fullA, fullB);
}

// A content-addressed file of the server: builds\<hash>.
std::wstring objectPath(const std::wstring& serverFolder, const std::wstring& hash) {
    return vorlane::joinPath(serverFolder, backslashed(vorlane::buildObjectName(hash)));
}

// A folder of its own in the system's temporary folder, for the zip's files.
std::wstring unpackFolder(const std::wstring& commit) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return vorlane::joinPath(std::wstring(temp, length), L"vorlane-publish-" + commit + L"-" +
                                                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                             std::to_wstring(GetTickCount64()));
}

// Cuts every file of the zip's build folder and stores the pieces and the
// index; record.index names the index. Prints why and gives false on failure.
bool publishPieces(const BuildOptions& options, vorlane::BuildRecord& record) {
    // A link would lead what is unpacked after it outside the folder; the launcher refuses such a zip by its name.
    std::vector<vorlane::ZipEntry> listing;
    vorlane::readZipListing(options.zipPath, listing);
    for (const vorlane::ZipEntry& entry : listing)
        if (entry.isLink) {
            printError(L"The zip holds a link, " + vorlane::toUtf16(entry.name) +
                       L", which a build never has, so it can't be published in pieces.");
            return false;
        }
    const std::wstring unpacked = unpackFolder(record.commit);
    vorlane::deleteFolderTree(unpacked);
    struct Tidy {
        std::wstring folder;
        ~Tidy() { vorlane::deleteFolderTree(folder); }
    } tidy{unpacked};
    if (!vorlane::makeFolderTree(unpacked)) {
        printError(vorlane::systemFailure(L"Couldn't make the folder " + unpacked + L".").text());
        return false;
    }
    // A tar that couldn't be started at all (-1) is started once more before the publishing is given up.
    std::string output;
    int code = -1;
    for (int attempt = 0; attempt < 2 && code == -1; ++attempt) {
        output.clear();
        code = vorlane::runCaptured(vorlane::systemTar() + L" -xf " + vorlane::quoted(options.zipPath) + L" -C " +
                                        vorlane::quoted(unpacked),
                                    [&](const std::string& line) { output += line + "\n"; });
    }
    const std::wstring top = vorlane::joinPath(unpacked, vorlane::buildFolderName(record.commit));
    if (code != 0 || !vorlane::folderExists(top)) {
        printError(L"Couldn't unpack the zip to cut its files into pieces (tar exit code " + std::to_wstring(code) +
                   L"): " + vorlane::toUtf16(output));
        return false;
    }
    if (!vorlane::makeFolderTree(objectPath(options.serverFolder, L""))) {
        printError(L"Couldn't make the folder " + objectPath(options.serverFolder, L"") + L".");
        return false;
    }
    std::vector<std::wstring> paths;
    for (const std::wstring& file : vorlane::filesBelow(top)) paths.push_back(slashed(file));
    std::sort(paths.begin(), paths.end());

    vorlane::BuildIndex index;
    index.build = record.commit;
    size_t pieces = 0, newPieces = 0;
    const ObjectPath stored = [&](const std::wstring& hash) { return objectPath(options.serverFolder, hash); };
    for (const std::wstring& path : paths) {
        vorlane::IndexFile file;
        file.path = path;
        if (!cutAndStore(vorlane::joinPath(top, backslashed(path)), stored, file, newPieces)) return false;
        pieces += file.pieces.size();
        index.files.push_back(std::move(file));
    }
    // The zip's empty folders, which a launcher assembling the build makes as the zip's unpack does.
    for (const std::wstring& folder : vorlane::emptyFoldersBelow(top)) index.folders.push_back(slashed(folder));
    std::sort(index.folders.begin(), index.folders.end());
    const vorlane::BuildIndexCheck check = vorlane::checkBuildIndex(index);
    if (check.verdict != vorlane::BuildIndexVerdict::Good) {
        printError(L"The build can't be published in pieces: " + vorlane::buildIndexRefusal(check) +
                   L", and the launcher would refuse its index. (--no-pieces publishes the zip alone.)");
        return false;
    }
    const std::string text = vorlane::buildIndexJson(index);
    vorlane::Sha256Digest digest;
    vorlane::BuildIndex reread;
    if (!vorlane::sha256(text, digest) ||
        vorlane::readBuildIndex(text, record.commit, reread).verdict != vorlane::BuildIndexVerdict::Good) {
        printError(L"The index made for the build doesn't read back as the launcher reads it.");
        return false;
    }
    record.index = vorlane::toHex(digest);
    bool added = false;
    if (!storeObject(stored(record.index), record.index, text, added)) {
        printError(L"Couldn't write " + stored(record.index) + L".");
        return false;
    }
    printLine(L"Cut build " + record.commit + L" into pieces: " + std::to_wstring(index.files.size()) + L" files, " +
              std::to_wstring(pieces) + L" pieces (" + std::to_wstring(newPieces) + L" new), index " + record.index +
              L".");
    return true;
}

}  // namespace

int runBuild(const Arguments& arguments) {
    BuildOptions options;
    if (!readBuildOptions(arguments, options)) {
        printError(L"Usage: vorlane-publish build <server-folder> <private-key-file> <zip> [--released <UTC time "
                   L"stamp>] [--summary <text>] [--no-pieces]");
        return kExitUsage;
    }
    vorlane::BuildRecord record;
    record.file = vorlane::fileNameOf(options.zipPath);
    record.commit = vorlane::commitOfBuildZip(record.file);
    if (record.commit.empty()) {
        printError(L"A build's zip is named Vorlane-<commit>.zip, the commit as 7 to 40 lower-case hex digits; this is " +
                   record.file + L".");
        return kExitFailed;
    }
    PrivateKeyBlob key;
    if (!loadPrivateKey(options.keyPath, key)) return kExitFailed;
    record.released = options.released.empty() ? nowAsIsoTime() : options.released;
    if (vorlane::parseIsoTime(record.released) < 0) {
        printError(L"--released takes a UTC time stamp such as 2026-05-01T12:00:00Z; this is " + record.released + L".");
        return kExitUsage;
    }
    record.summary = options.summary;
    record.size = fileSize(options.zipPath);
    if (record.size < 0 || !vorlane::sha256File(options.zipPath, record.sha256)) {
        printError(L"Couldn't read the zip " + options.zipPath + L".");
        return kExitFailed;
    }

    if (!vorlane::makeFolderTree(options.serverFolder)) {
        printError(L"Couldn't make the server folder " + options.serverFolder + L".");
        return kExitFailed;
    }
    const std::wstring servedZip = vorlane::joinPath(options.serverFolder, record.file);
    if (!samePlace(options.zipPath, servedZip) &&
        !CopyFileW(vorlane::longPath(options.zipPath).c_str(), vorlane::longPath(servedZip).c_str(), FALSE)) {
        printError(L"Couldn't copy the zip to " + servedZip + L".");
        return kExitFailed;
    }

    if (options.pieces && !publishPieces(options, record)) return kExitFailed;

    // The list keeps every other build; this one's record is added or replaced.
    const std::wstring listPath = vorlane::joinPath(options.serverFolder, vorlane::kBuildListName);
    std::vector<vorlane::BuildRecord> records = vorlane::readBuildRecords(vorlane::readWholeFile(listPath));
    vorlane::putBuildRecord(records, record);
    if (!vorlane::writeFileAtomically(listPath, vorlane::buildListJson(records))) {
        printError(L"Couldn't write " + listPath + L".");
        return kExitFailed;
    }
    if (!signListFile(options.keyPath, listPath)) return kExitFailed;
    printLine(L"Listed build " + record.commit + L" (" + std::to_wstring(record.size) + L" bytes, released " +
              record.released + L") in " + listPath + L".");
    return kExitOk;
}

}  // namespace publish
