// What an add-on theme may be: its name, the files it may hold, and the index
// of one published version (its files, each cut into pieces named by their
// SHA-256). An index comes from a build server and is read as hostile: every
// limit below is checked before anything is written, so that no path leaves
// the theme's folder and no size is unbounded. The publisher checks a theme
// with the same functions before it publishes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pieces/piece_index.h"

namespace vorlane {

constexpr size_t kMostThemeFiles = 64;
constexpr uint64_t kMostThemeBytes = 32ull << 30;  // 32 GiB in all
constexpr size_t kLongestPakPath = 200;

// 1 to 64 characters, each a letter, a digit or "_".
bool isThemeName(const std::wstring& name);
// theme + ".uplugin", the descriptor the game reads.
std::wstring descriptorName(const std::wstring& theme);
// A path inside the theme's folder, "/" between parts: the descriptor,
// "theme.sig", or a .pak, .utoc, .ucas or .sig file below "Content/Paks/" of at
// most 200 characters, made of letters, digits and "_+.-/", without ".." or "//".
bool isAllowedThemePath(const std::wstring& theme, const std::wstring& path);

// A theme's files are listed as every index of pieces lists them.
using ThemePiece = IndexPiece;
using ThemeFile = IndexFile;

struct ThemeIndex {
    std::wstring theme;
    std::wstring build;
    std::vector<ThemeFile> files;
};

// Why an index can't be used.
enum class IndexVerdict {
    Good,
    NotThisTheme,   // unreadable, not an object, or another theme's or build's
    UnknownScheme,  // "Chunks" isn't 1
    BadFile,        // a file breaks a limit: badPath says which
    NotATheme,      // no descriptor, more than 64 files or more than 32 GiB
};

struct IndexCheck {
    IndexVerdict verdict = IndexVerdict::Good;
    std::wstring badPath;  // the "Path" of the first bad file, as it stands
};

// Reads an index's text into `index` and checks it for `theme` and `build`.
IndexCheck readThemeIndex(const std::string& text, const std::wstring& theme, const std::wstring& build,
                          ThemeIndex& index);

// The same limits on an index made in memory (what the publisher is about to publish).
IndexCheck checkThemeIndex(const ThemeIndex& index);

// The index's text: an object with "Theme", "Build", "Chunks": 1 and "Files".
std::string themeIndexJson(const ThemeIndex& index);

}  // namespace vorlane
