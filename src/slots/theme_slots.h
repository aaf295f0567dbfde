// theme_slots.json, the signed list of the files a theme can supply: read
// here for the launcher and checked here for the publisher; the kept copy
// beside the launcher (theme_slots.json and theme_slots.json.sig) that lets
// the list outlive the build server; and the small rules on slot ids and the
// paths below a theme folder.
#pragma once

#include <string>
#include <vector>

#include "core/launcher_state.h"
#include "core/theme_slot.h"
#include "net/release_key.h"

namespace vorlane {

// The slots of a list's text, in order. Each brace-delimited entry becomes one
// slot; an entry without "Id" or without "File" is dropped. The flags are set
// only by the text "true" (quoted or not).
std::vector<ThemeSlot> parseThemeSlots(const std::string& bytes);

// What the publisher checks before it signs a list: a JSON array of flat
// objects (no member holds an object or an array), each with a non-empty
// string "Id" met once in the list and a string "File" that passes
// isSafeRelativePath. Empty when the list is good, else the sentence that says
// which entry is wrong and why.
std::wstring themeSlotsListProblem(const std::string& bytes);

// An id's group: "Tower_X" is ("Towers", "X"), "Enemy_X" ("Enemies", "X"),
// "Foliage_X" ("Foliage", "X"), as UTF-8. Any other prefix, an id without "_"
// or with nothing after it has no group: both halves come back empty.
struct SlotGroup {
    std::string group;
    std::string member;
};
SlotGroup slotGroup(const std::wstring& id);

// The game's own towers: SingleTarget, Splash, Chain, Burn, Poison, Railgun (exact).
bool isBuiltInTowerKind(const std::wstring& text);

// The test every path written below a theme folder passes: with "\" read as
// "/", not empty, no "/" at either end, no "//", no character below 32 or of
// <>:"|?*, and no component ending in "." or a blank (so no "." or "..").
bool isSafeRelativePath(const std::wstring& path);

// The kept copy, beside the launcher in the root folder.
std::wstring keptThemeSlotsPath(const LauncherState& state);

// Refreshes the kept copy from the current build server (listSource) when one
// is known and its list is signed, then loads the kept copy, verified again,
// into themeSlots, and reads ThemeFolder and ThemeStyle from launcher.ini.
// A list whose signature fails never reaches the disk; a kept copy that
// doesn't verify is not used: the slot list loaded before stays, or stays
// empty when there was none. Logs only those two refusals.
void loadThemeSlots(LauncherState& state);
void loadThemeSlots(LauncherState& state, const ReleaseKey& key);

}  // namespace vorlane
