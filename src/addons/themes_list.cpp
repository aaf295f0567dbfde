#include "addons/themes_list.h"

#include "pieces/value_count.h"
#include "core/json.h"

namespace vorlane {

ThemesListVerdict readThemesList(const std::string& text, std::vector<ThemesListEntry>& entries) {
    entries.clear();
    if (!atMostJsonValues(text)) return ThemesListVerdict::TooBig;
    JsonValue list;
    if (!parseDocument(text, list) || list.kind != JsonKind::Array) return ThemesListVerdict::NotAList;
    for (const JsonValue& item : list.items) {
        const JsonValue& theme = member(item, "Theme");
        const JsonValue& build = member(item, "Build");
        const JsonValue& index = member(item, "Index");
        if (theme.kind != JsonKind::String || build.kind != JsonKind::String) continue;
        entries.push_back({textWide(theme), textWide(build),
                           index.kind == JsonKind::String ? textWide(index) : std::wstring()});
    }
    return ThemesListVerdict::Good;
}

std::string themesListJson(const std::vector<ThemesListEntry>& entries) {
    std::string text = "[\n";
    for (size_t i = 0; i < entries.size(); ++i)
        text += "  {\"Theme\": " + quoteJson(entries[i].theme) + ", \"Build\": " + quoteJson(entries[i].build) +
                ", \"Index\": " + quoteJson(entries[i].index) + "}" + (i + 1 < entries.size() ? ",\n" : "\n");
    return text + "]\n";
}

const ThemesListEntry* findThemesListEntry(const std::vector<ThemesListEntry>& entries, const std::wstring& theme,
                                           const std::wstring& build) {
    const ThemesListEntry* found = nullptr;
    for (const ThemesListEntry& entry : entries)
        if (entry.theme == theme && entry.build == build) found = &entry;
    return found;
}

void putThemesListEntry(std::vector<ThemesListEntry>& entries, const ThemesListEntry& entry) {
    std::erase_if(entries, [&](const ThemesListEntry& listed) {
        return listed.theme == entry.theme && listed.build == entry.build;
    });
    entries.push_back(entry);
}

}  // namespace vorlane
