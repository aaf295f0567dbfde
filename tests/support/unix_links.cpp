#include "support/unix_links.h"

#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

namespace vorlane::testing {

namespace {

using UnixNameFn = char*(__cdecl*)(const wchar_t*);

// One argument quoted for the shell: inside single quotes nothing is special.
std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string unixPath(const std::wstring& windowsPath) {
    auto toUnix = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return {};
    char* name = toUnix(windowsPath.c_str());
    if (!name) return {};
    std::string path = name;
    HeapFree(GetProcessHeap(), 0, name);
    return shellQuote(path);
}

bool runShell(const std::string& script) {
    // Wine starts a Linux program but doesn't wait for it: the script leaves its exit code in a file.
    TempFolder work(L"shell");
    const std::wstring code = work.file(L"code");
    const std::string line = "(" + script + "); echo $? >" + unixPath(code + L".tmp") + "; mv " +
                             unixPath(code + L".tmp") + " " + unixPath(code);
    std::wstring commandLine = quoteArguments(L"/bin/sh", {L"-c", toUtf16(line)});
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!waitFor([&] { return fileExists(code); })) return false;
    return readTestFile(code).rfind("0", 0) == 0;
}

bool makeFolderLink(const std::wstring& link, const std::wstring& target) {
    return runShell("ln -s " + unixPath(target) + " " + unixPath(link)) && folderExists(link);
}

DriveLetter::DriveLetter(const std::wstring& folder) {
    for (wchar_t letter = L'q'; letter <= L'y' && drive_.empty(); ++letter) {
        const std::wstring drive = std::wstring(1, letter) + L":";
        if (GetDriveTypeW((drive + L"\\").c_str()) != DRIVE_NO_ROOT_DIR) continue;
        const std::string name = "\"$WINEPREFIX/dosdevices/" + toUtf8(drive) + "\"";
        if (runShell("ln -s " + unixPath(folder) + " " + name) && folderExists(drive + L"\\")) drive_ = drive;
    }
}

DriveLetter::~DriveLetter() {
    if (!drive_.empty()) runShell("rm -f \"$WINEPREFIX/dosdevices/" + toUtf8(drive_) + "\"");
}

}  // namespace vorlane::testing
