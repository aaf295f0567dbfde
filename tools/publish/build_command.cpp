// build: puts one build zip on a build server folder and lists it in the
// signed builds.json.
#include <windows.h>

#include "core/files.h"
#include "core/iso_time.h"
#include "core/text.h"
#include "install/build_list.h"
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
};

// Positional arguments first, then options with their values.
bool readBuildOptions(const Arguments& arguments, BuildOptions& options) {
    options.serverFolder = arguments[0];
    options.keyPath = arguments[1];
    options.zipPath = arguments[2];
    for (size_t i = 3; i < arguments.size(); i += 2) {
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

}  // namespace

int runBuild(const Arguments& arguments) {
    BuildOptions options;
    if (!readBuildOptions(arguments, options)) {
        printError(L"Usage: vorlane-publish build <server-folder> <private-key-file> <zip> [--released <UTC time "
                   L"stamp>] [--summary <text>]");
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
