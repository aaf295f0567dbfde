// The add-on themes the game has downloaded: where they lie, which build each
// was made for, and the folders in which a new version is assembled and left
// for the game to put in place at its next start.
#pragma once

#include <string>
#include <vector>

#include "core/launcher_state.h"

namespace vorlane {

// The file that marks a staged version as ready; it holds the index's SHA-256.
inline constexpr wchar_t kInstallMarker[] = L".install-at-next-start";

// The current build's Saved\PersistentDownloadDir\Themes; empty while no build is current.
std::wstring addOnThemesFolder(const LauncherState& state);

// The folders of theme T inside the add-on themes folder.
struct ThemeFolders {
    std::wstring live;    // T: the theme as the game uses it
    std::wstring staged;  // .T: the new version, waiting for the next start
    std::wstring next;    // .T.next: the version being assembled
    std::wstring tried;   // .T.tried: what an interrupted try assembled, kept for its pieces
};
ThemeFolders themeFolders(const std::wstring& themesFolder, const std::wstring& theme);

// The build a theme folder's descriptor names ("VorlaneBaseRelease"); empty
// when the descriptor is missing, unreadable or names none.
std::wstring descriptorBuild(const std::wstring& folder, const std::wstring& theme);

// A theme is for the current build when its build is that build, or that build
// followed by "+"; a staged version that names no build counts as well.
bool isForBuild(const std::wstring& themeBuild, const std::wstring& current, bool staged);

struct InstalledTheme {
    std::wstring name;
    std::wstring build;  // what its descriptor names
};

// The installed add-on themes made for another build that have no version for
// the current build waiting. A waiting version made for another build loses
// its marker (and the log says so), so that it is assembled again.
std::vector<InstalledTheme> listThemesToUpdate(LauncherState& state);

}  // namespace vorlane
