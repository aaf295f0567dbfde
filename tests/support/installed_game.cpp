#include "support/installed_game.h"

#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "support/temp_folder.h"

namespace vorlane::testing {

std::wstring launcherSetting(const std::wstring& root, const std::wstring& key) {
    wchar_t value[2048];
    const DWORD length = GetPrivateProfileStringW(L"Launcher", key.c_str(), L"", value, 2048,
                                                  joinPath(root, L"launcher.ini").c_str());
    return std::wstring(value, length);
}

std::wstring installedBuildFolder(const std::wstring& root, const std::wstring& commit) {
    return joinPath(root, L"Game\\" + commit + L"\\Vorlane-" + commit);
}

void endStartedGames(const std::wstring& root) {
    for (const FolderEntry& commit : listFolder(joinPath(root, L"Game"))) {
        const std::string pid = readTestFile(joinPath(installedBuildFolder(root, commit.name), L"started.txt"));
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(pid))) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
}

}  // namespace vorlane::testing
