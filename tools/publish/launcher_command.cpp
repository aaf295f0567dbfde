// launcher: puts a launcher program on a build server folder and describes it
// in the signed launcher.json that launchers update themselves from.
#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "install/build_list.h"
#include "install/self_update.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "publish.h"

namespace publish {

namespace {

constexpr wchar_t kUsage[] =
    L"Usage: vorlane-publish launcher <server-folder> <private-key-file> <launcher-exe> --version <commit>";

// Each version gets a name of its own, so a launcher reading the previous
// record never downloads half of the next program.
std::wstring servedLauncherName(const std::wstring& version) { return L"Vorlane-Launcher-" + version + L".exe"; }

// Copied beside its place first and moved in, so the server never shows half a program.
bool copyInto(const std::wstring& source, const std::wstring& target) {
    const std::wstring part = vorlane::longPath(target + L".part");
    if (!CopyFileW(vorlane::longPath(source).c_str(), part.c_str(), FALSE)) return false;
    if (MoveFileExW(part.c_str(), vorlane::longPath(target).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(part.c_str());
    return false;
}

}  // namespace

int runLauncher(const Arguments& arguments) {
    if (arguments[3] != L"--version") {
        printError(kUsage);
        return kExitUsage;
    }
    const std::wstring& serverFolder = arguments[0];
    const std::wstring& keyPath = arguments[1];
    const std::wstring& program = arguments[2];
    const std::wstring& version = arguments[4];
    if (!vorlane::isCommitId(version)) {
        printError(L"--version takes the launcher's commit id, 7 to 40 lower-case hex digits; this is " + version +
                   L".");
        return kExitUsage;
    }
    PrivateKeyBlob key;
    if (!loadPrivateKey(keyPath, key)) return kExitFailed;
    std::wstring sha256;
    if (!vorlane::sha256File(program, sha256)) {
        printError(L"Couldn't read the launcher " + program + L".");
        return kExitFailed;
    }

    if (!vorlane::makeFolderTree(serverFolder)) {
        printError(L"Couldn't make the server folder " + serverFolder + L".");
        return kExitFailed;
    }
    const std::wstring file = servedLauncherName(version);
    const std::wstring served = vorlane::joinPath(serverFolder, file);
    if (!copyInto(program, served)) {
        printError(L"Couldn't copy the launcher to " + served + L".");
        return kExitFailed;
    }
    const std::wstring recordPath = vorlane::joinPath(serverFolder, vorlane::kLauncherRecordName);
    if (!vorlane::writeFileAtomically(recordPath, vorlane::launcherRecordJson({file, version, sha256}))) {
        printError(L"Couldn't write " + recordPath + L".");
        return kExitFailed;
    }
    if (!signListFile(keyPath, recordPath)) return kExitFailed;
    printLine(L"Offered launcher " + version + L" as " + file + L" (SHA-256 " + sha256 + L") in " + recordPath + L".");
    return kExitOk;
}

}  // namespace publish
