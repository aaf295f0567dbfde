// slots: publishes the theme slot list, theme_slots.json, as it stands after
// checking it the way the launcher reads it, and signs it.
#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "net/build_server.h"
#include "publish.h"
#include "slots/theme_slots.h"

namespace publish {

int runSlots(const Arguments& arguments) {
    const std::wstring& serverFolder = arguments[0];
    const std::wstring& keyPath = arguments[1];
    const std::wstring& listPath = arguments[2];
    PrivateKeyBlob key;
    if (!loadPrivateKey(keyPath, key)) return kExitFailed;
    std::string list;
    if (!vorlane::readWholeFile(listPath, list)) {
        printError(L"Couldn't read the theme files list " + listPath + L".");
        return kExitFailed;
    }
    const std::wstring problem = vorlane::themeSlotsListProblem(list);
    if (!problem.empty()) {
        printError(problem + L" Nothing was published.");
        return kExitFailed;
    }
    const std::wstring served = vorlane::joinPath(serverFolder, vorlane::kThemeSlotsName);
    if (!vorlane::makeFolderTree(serverFolder) || !vorlane::writeFileAtomically(served, list)) {
        printError(L"Couldn't write " + served + L".");
        return kExitFailed;
    }
    if (!signListFile(keyPath, served)) return kExitFailed;
    printLine(L"Published " + std::to_wstring(vorlane::parseThemeSlots(list).size()) + L" theme slots in " + served +
              L".");
    return kExitOk;
}

}  // namespace publish
