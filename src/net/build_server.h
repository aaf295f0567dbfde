// What the launcher asks of a build server: the names of its files, all fetched
// with GET at base address + "/" + name, and the label its failures carry.
#pragma once

#include <string>

namespace vorlane {

// The signed lists; each has its signature beside it under the name + ".sig".
inline constexpr wchar_t kBuildListName[] = L"builds.json";
inline constexpr wchar_t kLauncherRecordName[] = L"launcher.json";
inline constexpr wchar_t kThemesListName[] = L"themes.json";
inline constexpr wchar_t kThemeSlotsName[] = L"theme_slots.json";
inline constexpr wchar_t kSignatureSuffix[] = L".sig";

// Build zips are "Vorlane-" + commit + ".zip"; build folders carry the same stem.
inline constexpr wchar_t kBuildZipPrefix[] = L"Vorlane-";
inline constexpr wchar_t kBuildZipSuffix[] = L".zip";

// Add-on theme indexes and pieces live under this folder, named by their SHA-256.
inline constexpr wchar_t kThemeObjectsFolder[] = L"themes/";

// A build's index of pieces and the pieces themselves live under this folder,
// beside the zips, each named by its SHA-256.
inline constexpr wchar_t kBuildObjectsFolder[] = L"builds/";

// How download failures name the server ("The build server answered 404.").
inline constexpr wchar_t kBuildServerLabel[] = L"The build server";

inline std::wstring signatureName(const std::wstring& listName) { return listName + kSignatureSuffix; }
// The folder a build zip holds, and that the build is installed as.
inline std::wstring buildFolderName(const std::wstring& commit) { return kBuildZipPrefix + commit; }
inline std::wstring buildZipName(const std::wstring& commit) { return buildFolderName(commit) + kBuildZipSuffix; }
// Every build zip's name, for a folder search: "Vorlane-*.zip".
inline std::wstring buildZipPattern() { return buildZipName(L"*"); }
// fingerprint is a SHA-256 as 64 lower-case hexadecimal digits.
inline std::wstring themeObjectName(const std::wstring& fingerprint) { return kThemeObjectsFolder + fingerprint; }
inline std::wstring buildObjectName(const std::wstring& fingerprint) { return kBuildObjectsFolder + fingerprint; }

// The address of a file on a server: base + "/" + name. Base addresses carry no
// trailing "/" (they are normalised when read).
inline std::wstring serverUrl(const std::wstring& base, const std::wstring& name) { return base + L"/" + name; }

}  // namespace vorlane
