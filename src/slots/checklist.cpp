#include "slots/checklist.h"

#include <windows.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "slots/theme_slots.h"

namespace vorlane {

namespace {

constexpr wchar_t kSurfacesCategory[] = L"Surfaces";

// Two spaces end a Markdown line without ending its paragraph.
constexpr wchar_t kLineBreak[] = L"  \n";

}  // namespace

std::wstring importFolderOf(const std::wstring& themeFolder) {
    std::wstring folder = themeFolder;
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.empty()) return {};
    if (equalsIgnoringCase(fileNameOf(folder), L"Import")) return folder;
    return joinPath(folder, L"Import");
}

std::wstring slotPath(const std::wstring& importFolder, const ThemeSlot& slot) {
    if (importFolder.empty() || !isSafeRelativePath(slot.File)) return {};
    std::wstring file = slot.File;
    std::replace(file.begin(), file.end(), L'/', L'\\');
    return joinPath(importFolder, file);
}

bool slotIsThere(const std::wstring& importFolder, const ThemeSlot& slot) {
    return pathExists(slotPath(importFolder, slot));
}

size_t slotsThere(const std::vector<ThemeSlot>& slots, const std::wstring& importFolder) {
    return (size_t)std::count_if(slots.begin(), slots.end(),
                                 [&](const ThemeSlot& slot) { return slotIsThere(importFolder, slot); });
}

std::wstring checklistPrompt(const ThemeSlot& slot, const std::wstring& style, const std::wstring& surfaceStyle) {
    std::wstring words = slot.Category == kSurfacesCategory && !surfaceStyle.empty() ? surfaceStyle : style;
    if (words.empty()) words = kNoStyleWords;
    return replaceEvery(slot.Prompt, kThemePlaceholder, words);
}

std::wstring checklistText(const std::vector<ThemeSlot>& slots, const std::wstring& importFolder,
                           const std::wstring& style, const std::wstring& surfaceStyle) {
    std::wstring text = L"# Theme files checklist\n\nFolder: `" + importFolder + L"`";
    if (!style.empty()) text += kLineBreak + (L"Style: " + style);
    text += L"\n\n" + std::to_wstring(slotsThere(slots, importFolder)) + L" of " + std::to_wstring(slots.size()) +
            L" files in place.\n";
    for (size_t index = 0; index < slots.size(); ++index) {
        const ThemeSlot& slot = slots[index];
        if (index == 0 || slot.Category != slots[index - 1].Category) text += L"\n## " + slot.Category + L"\n\n";
        text += slotIsThere(importFolder, slot) ? L"- [x] " : L"- [ ] ";
        text += L"**" + slot.Name + L"**: `" + slot.File + L"`";
        if (slot.Optional) text += L" (optional)";
        text += kLineBreak;
        text += L"  " + slot.Format + kLineBreak;
        text += L"  " + slot.Generator + L": " + checklistPrompt(slot, style, surfaceStyle) + L"\n";
    }
    return text;
}

bool writeChecklist(const std::vector<ThemeSlot>& slots, const std::wstring& importFolder, const std::wstring& style,
                    const std::wstring& path, const std::wstring& surfaceStyle) {
    return writeFileAtomically(path, toUtf8(checklistText(slots, importFolder, style, surfaceStyle)));
}

std::wstring exportChecklist(const LauncherState& state) {
    if (state.themeFolder.empty()) return {};
    const std::wstring path = joinPath(state.themeFolder, kChecklistName);
    if (!writeChecklist(state.themeSlots, importFolderOf(state.themeFolder), state.themeStyle, path, L"")) return {};
    return path;
}

}  // namespace vorlane
