// A theme's checklist, THEME_CHECKLIST.md: every file the slot list names,
// ticked where the theme folder has it, with its format and the prompt that
// makes it. Also the rules, shared with the theme files window, for where a
// slot's file lies below a theme folder and whether it is there.
#pragma once

#include <string>
#include <vector>

#include "core/launcher_state.h"
#include "core/theme_slot.h"

namespace vorlane {

inline constexpr wchar_t kChecklistName[] = L"THEME_CHECKLIST.md";

// The folder the slots' files lie below: the theme folder itself when its last
// component is "Import" (any case), else the theme folder + "\Import". Empty
// without a theme folder.
std::wstring importFolderOf(const std::wstring& themeFolder);

// Where a slot's file lies: import folder + "\" + File with "\" separators.
// Empty without an import folder, and for a File that isn't a safe path below it.
std::wstring slotPath(const std::wstring& importFolder, const ThemeSlot& slot);

// A file or a folder is at the slot's path.
bool slotIsThere(const std::wstring& importFolder, const ThemeSlot& slot);

// How many of the slots are there.
size_t slotsThere(const std::vector<ThemeSlot>& slots, const std::wstring& importFolder);

// The slot's prompt with every "{theme}" replaced once, left to right (a
// replacement is never searched again): by surfaceStyle for a slot of the
// category "Surfaces" when it isn't empty, else by style, and by "your
// theme's" when that is empty too.
std::wstring checklistPrompt(const ThemeSlot& slot, const std::wstring& style, const std::wstring& surfaceStyle);

// The checklist's Markdown text.
std::wstring checklistText(const std::vector<ThemeSlot>& slots, const std::wstring& importFolder,
                           const std::wstring& style, const std::wstring& surfaceStyle);

// Writes the checklist to path as UTF-8 without a byte order mark, whole or not
// at all; true when it was written.
bool writeChecklist(const std::vector<ThemeSlot>& slots, const std::wstring& importFolder, const std::wstring& style,
                    const std::wstring& path, const std::wstring& surfaceStyle);

// Writes the state's theme folder + "\THEME_CHECKLIST.md" for its slot list,
// import folder and style; gives the path, or an empty text when it couldn't
// be written (or there is no theme folder).
std::wstring exportChecklist(const LauncherState& state);

}  // namespace vorlane
