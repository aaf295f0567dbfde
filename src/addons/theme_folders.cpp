#include "addons/theme_folders.h"

#include <windows.h>

#include "addons/theme_index.h"
#include "core/files.h"
#include "core/json.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"

namespace vorlane {

std::wstring addOnThemesFolder(const LauncherState& state) {
    if (state.current.empty()) return {};
    return joinPath(buildFolder(state, state.current), L"Vorlane\\Saved\\PersistentDownloadDir\\Themes");
}

ThemeFolders themeFolders(const std::wstring& themesFolder, const std::wstring& theme) {
    ThemeFolders folders;
    folders.live = joinPath(themesFolder, theme);
    folders.staged = joinPath(themesFolder, L"." + theme);
    folders.next = folders.staged + L".next";
    folders.tried = folders.staged + L".tried";
    return folders;
}

std::wstring descriptorBuild(const std::wstring& folder, const std::wstring& theme) {
    JsonValue descriptor;
    if (!parseDocument(readWholeFile(joinPath(folder, descriptorName(theme))), descriptor)) return {};
    const JsonValue& build = member(descriptor, "VorlaneBaseRelease");
    return build.kind == JsonKind::String ? textWide(build) : std::wstring();
}

bool isForBuild(const std::wstring& themeBuild, const std::wstring& current, bool staged) {
    if (themeBuild.empty()) return staged;
    return themeBuild == current || themeBuild == current + L"+";
}

std::vector<InstalledTheme> listThemesToUpdate(LauncherState& state) {
    std::vector<InstalledTheme> themes;
    const std::wstring themesFolder = addOnThemesFolder(state);
    if (themesFolder.empty()) return themes;
    for (const FolderEntry& entry : listFolder(themesFolder)) {
        const std::wstring& name = entry.name;
        if (!entry.isFolder || !isThemeName(name) || !fileExists(joinPath(joinPath(themesFolder, name),
                                                                          descriptorName(name))))
            continue;
        const ThemeFolders folders = themeFolders(themesFolder, name);
        const std::wstring marker = joinPath(folders.staged, kInstallMarker);
        if (fileExists(marker)) {
            if (isForBuild(descriptorBuild(folders.staged, name), state.current, true)) continue;
            DeleteFileW(longPath(marker).c_str());
            logLine(state, L"Add-on theme " + name +
                               L"'s version waiting for the next start was made for another build, so it isn't put "
                               L"in place.");
        }
        const std::wstring build = descriptorBuild(folders.live, name);
        if (!isForBuild(build, state.current, false)) themes.push_back({name, build});
    }
    return themes;
}

}  // namespace vorlane
