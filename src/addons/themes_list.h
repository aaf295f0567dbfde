// themes.json, the signed list of add-on theme versions a build server
// publishes: a JSON array of objects, one per theme version, each naming the
// theme ("Theme"), the game build it is for ("Build") and the SHA-256 of its
// index ("Index"). Read here for the launcher and the publisher alike, and
// written here for the publisher.
#pragma once

#include <string>
#include <vector>

namespace vorlane {

struct ThemesListEntry {
    std::wstring theme;
    std::wstring build;
    std::wstring index;  // as written; checked by whoever uses it

    bool operator==(const ThemesListEntry&) const = default;
};

enum class ThemesListVerdict {
    Good,
    TooBig,    // more JSON values than kMostJsonValues: not parsed at all
    NotAList,  // not a JSON array
};

// The entries of a list's text, in order. An element that isn't an object
// with a string "Theme" and a string "Build" is passed over; an "Index" that
// isn't a string reads as empty; other members are ignored.
ThemesListVerdict readThemesList(const std::string& text, std::vector<ThemesListEntry>& entries);

// The list's text: an array, one entry per line.
std::string themesListJson(const std::vector<ThemesListEntry>& entries);

// The last entry for this theme and build (names compared exactly), or null.
const ThemesListEntry* findThemesListEntry(const std::vector<ThemesListEntry>& entries, const std::wstring& theme,
                                           const std::wstring& build);

// Puts entry at the end of the list, in place of any entry for the same theme and build.
void putThemesListEntry(std::vector<ThemesListEntry>& entries, const ThemesListEntry& entry);

}  // namespace vorlane
