#include "install/shortcuts.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/text.h"

namespace vorlane {

namespace {

constexpr wchar_t kLinkName[] = L"Vorlane.lnk";
constexpr wchar_t kDescription[] = L"Play Vorlane";
constexpr DWORD kMaxLinkPath = 520;

std::wstring installedLauncher(const LauncherState& state) {
    return joinPath(state.rootFolder, L"Vorlane Launcher.exe");
}

std::wstring replacedLauncher(const LauncherState& state) {
    return joinPath(state.rootFolder, L"Vorlane Launcher.old.exe");
}

// The folder part of a target, up to its last "\"; a drive root keeps its "\".
std::wstring workingFolderOf(const std::wstring& target) {
    size_t slash = target.rfind(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    if (slash == 2 && target[1] == L':') return target.substr(0, 3);
    return target.substr(0, slash);
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR found = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &found)) && found) folder = found;
    CoTaskMemFree(found);
    return folder;
}

// The path starts, ignoring case, with the folder followed by "\".
bool liesInside(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty()) return false;
    const std::wstring prefix = joinPath(folder, L"");
    return path.size() > prefix.size() && equalsIgnoringCase(path.substr(0, prefix.size()), prefix);
}

bool setNoLinkTracking(IShellLinkW* link) {
    ComPtr<IShellLinkDataList> data;
    if (FAILED(link->QueryInterface(IID_IShellLinkDataList, data.putVoid()))) return false;
    DWORD flags = 0;
    if (FAILED(data->GetFlags(&flags))) return false;
    return SUCCEEDED(data->SetFlags(flags | SLDF_FORCE_NO_LINKTRACK));
}

bool saveLink(IShellLinkW* link, const std::wstring& linkPath) {
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return false;
    return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

std::wstring rawTarget(IShellLinkW* link) {
    wchar_t path[kMaxLinkPath + 1] = {};
    if (link->GetPath(path, kMaxLinkPath, nullptr, SLGP_RAWPATH) != S_OK) return std::wstring();
    return path;
}

// Makes the shortcut's folder and the shortcut; false when either fails.
bool makeShortcutIn(const std::wstring& linkPath, const std::wstring& target) {
    if (linkPath.empty() || !makeFolderTree(parentFolder(linkPath))) return false;
    return makeShortcut(target, linkPath, kDescription);
}

void repairOne(LauncherState& state, const std::wstring& linkPath) {
    if (linkPath.empty() || !fileExists(linkPath)) return;
    const ShortcutInfo link = readShortcut(linkPath);
    if (!link.ok) return;
    const std::wstring launcher = installedLauncher(state);
    const bool elsewhere = !equalsIgnoringCase(link.target, launcher);
    const bool ours = !pathExists(link.target) || equalsIgnoringCase(link.target, replacedLauncher(state)) ||
                      liesInside(link.target, state.rootFolder) || liesInside(link.target, state.installDir);
    if (!(elsewhere && ours) && !(!elsewhere && link.tracked)) return;

    const bool repaired = makeShortcut(launcher, linkPath, kDescription);
    std::wstring message = repaired ? L"Repaired the shortcut " : L"Couldn't repair the shortcut ";
    message += linkPath + L" (it named " + (link.target.empty() ? L"nothing" : link.target);
    if (!elsewhere) message += L", tracked by Windows";
    logLine(state, message + L").");
}

void removeOne(const LauncherState& state, const std::wstring& linkPath) {
    if (linkPath.empty() || !fileExists(linkPath)) return;
    const ShortcutInfo link = readShortcut(linkPath);
    if (!link.ok) return;
    if (liesInside(link.target, state.rootFolder) || !pathExists(link.target))
        DeleteFileW(longPath(linkPath).c_str());
}

}  // namespace

bool makeShortcut(const std::wstring& target, const std::wstring& linkPath, const std::wstring& description) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
        return false;
    if (FAILED(link->SetPath(target.c_str()))) return false;
    if (FAILED(link->SetWorkingDirectory(workingFolderOf(target).c_str()))) return false;
    if (FAILED(link->SetDescription(description.c_str()))) return false;
    if (FAILED(link->SetIconLocation(target.c_str(), 0))) return false;
    if (!setNoLinkTracking(link.get())) return false;
    return saveLink(link.get(), linkPath);
}

ShortcutInfo readShortcut(const std::wstring& linkPath) {
    ShortcutInfo info;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())))
        return info;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return info;
    if (FAILED(file->Load(linkPath.c_str(), STGM_READ))) return info;
    ComPtr<IShellLinkDataList> data;
    DWORD flags = 0;
    if (FAILED(link->QueryInterface(IID_IShellLinkDataList, data.putVoid())) || FAILED(data->GetFlags(&flags)))
        return info;
    info.target = rawTarget(link.get());
    info.tracked = !(flags & SLDF_FORCE_NO_LINKTRACK);
    info.ok = true;
    return info;
}

std::wstring desktopShortcutPath(const LauncherState& state) {
    std::wstring folder = state.shortcutFolder.empty() ? knownFolder(FOLDERID_Desktop)
                                                       : joinPath(state.shortcutFolder, L"Desktop");
    return folder.empty() ? std::wstring() : joinPath(folder, kLinkName);
}

std::wstring startMenuShortcutPath(const LauncherState& state) {
    std::wstring programs = state.shortcutFolder.empty() ? knownFolder(FOLDERID_Programs)
                                                         : joinPath(state.shortcutFolder, L"Programs");
    return programs.empty() ? std::wstring() : joinPath(joinPath(programs, L"Vorlane"), kLinkName);
}

void refreshShortcuts(LauncherState& state) {
    refreshShortcuts(state, ownProgramPath());
}

void refreshShortcuts(LauncherState& state, const std::wstring& runningProgram) {
    const std::wstring launcher = installedLauncher(state);
    if (!equalsIgnoringCase(runningProgram, launcher))
        CopyFileW(longPath(runningProgram).c_str(), longPath(launcher).c_str(), FALSE);
    if (!state.makeShortcuts) return;

    const bool desktop = makeShortcutIn(desktopShortcutPath(state), launcher);
    const bool startMenu = makeShortcutIn(startMenuShortcutPath(state), launcher);
    if (desktop && startMenu) return;
    const wchar_t* which = !desktop && !startMenu ? L"Desktop and Start Menu" : !desktop ? L"Desktop" : L"Start Menu";
    logLine(state, std::wstring(L"Couldn't make the ") + which + L" shortcut.");
}

void repairShortcuts(LauncherState& state) {
    if (!state.makeShortcuts || !fileExists(installedLauncher(state))) return;
    repairOne(state, desktopShortcutPath(state));
    repairOne(state, startMenuShortcutPath(state));
}

void removeShortcuts(LauncherState& state) {
    if (!state.makeShortcuts) return;
    const std::wstring startMenu = startMenuShortcutPath(state);
    removeOne(state, desktopShortcutPath(state));
    removeOne(state, startMenu);
    // Fails, as it should, while anything else is left in the folder.
    if (!startMenu.empty()) RemoveDirectoryW(longPath(parentFolder(startMenu)).c_str());
}

}  // namespace vorlane
