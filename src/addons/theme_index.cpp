#include "addons/theme_index.h"

#include <cwctype>
#include <set>

#include "pieces/piece_cutter.h"
#include "core/value_count.h"
#include "core/json.h"
#include "core/text.h"

namespace vorlane {

namespace {

bool isString(const JsonValue& value) { return value.kind == JsonKind::String; }

// The limits one file must keep; `seen` holds the paths of the files before it.
bool fileIsAcceptable(const std::wstring& theme, const ThemeFile& file, std::set<std::wstring>& seen) {
    if (!isAllowedThemePath(theme, file.path) || !seen.insert(samePathKey(file.path)).second) return false;
    return piecesAddUp(file);
}

// The limits of the whole theme, once every file passed.
bool isWholeTheme(const ThemeIndex& index) {
    if (index.files.size() > kMostThemeFiles) return false;
    bool hasDescriptor = false;
    uint64_t total = 0;
    for (const ThemeFile& file : index.files) {
        hasDescriptor = hasDescriptor || file.path == descriptorName(index.theme);
        total += file.size;  // each is the sum of its pieces, far from overflowing
    }
    return hasDescriptor && total <= kMostThemeBytes;
}

IndexCheck judged(IndexVerdict verdict, const std::wstring& badPath = {}) { return IndexCheck{verdict, badPath}; }

}  // namespace

bool isThemeName(const std::wstring& name) {
    if (name.empty() || name.size() > 64) return false;
    for (wchar_t c : name)
        if (!std::iswalnum(c) && c != L'_') return false;
    return true;
}

std::wstring descriptorName(const std::wstring& theme) { return theme + L".uplugin"; }

bool isAllowedThemePath(const std::wstring& theme, const std::wstring& path) {
    if (path == descriptorName(theme) || path == L"theme.sig") return true;
    if (path.size() > kLongestPakPath || !path.starts_with(L"Content/Paks/")) return false;
    if (path.find(L"..") != std::wstring::npos || path.find(L"//") != std::wstring::npos) return false;
    for (wchar_t c : path)
        if (!std::iswalnum(c) && c != L'_' && c != L'+' && c != L'.' && c != L'-' && c != L'/') return false;
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    const std::wstring extension = path.substr(dot + 1);
    return extension == L"pak" || extension == L"utoc" || extension == L"ucas" || extension == L"sig";
}

IndexCheck readThemeIndex(const std::string& text, const std::wstring& theme, const std::wstring& build,
                          ThemeIndex& index) {
    index = ThemeIndex{};
    JsonValue document;
    if (!atMostJsonValues(text) || !parseDocument(text, document) || document.kind != JsonKind::Object)
        return judged(IndexVerdict::NotThisTheme);
    const JsonValue& namedTheme = member(document, "Theme");
    const JsonValue& namedBuild = member(document, "Build");
    if (!isString(namedTheme) || textWide(namedTheme) != theme || !isString(namedBuild) ||
        textWide(namedBuild) != build)
        return judged(IndexVerdict::NotThisTheme);
    if (!isKnownScheme(member(document, "Chunks"))) return judged(IndexVerdict::UnknownScheme);

    index.theme = theme;
    index.build = build;
    const JsonValue& files = member(document, "Files");
    std::set<std::wstring> seen;
    for (const JsonValue& item : files.items) {  // a "Files" that isn't an array lists nothing
        ThemeFile file;
        if (!readIndexFile(item, file) || !fileIsAcceptable(theme, file, seen))
            return judged(IndexVerdict::BadFile, file.path);
        index.files.push_back(std::move(file));
    }
    if (!isWholeTheme(index)) return judged(IndexVerdict::NotATheme);
    return judged(IndexVerdict::Good);
}

IndexCheck checkThemeIndex(const ThemeIndex& index) {
    std::set<std::wstring> seen;
    for (const ThemeFile& file : index.files)
        if (!fileIsAcceptable(index.theme, file, seen)) return judged(IndexVerdict::BadFile, file.path);
    if (!isWholeTheme(index)) return judged(IndexVerdict::NotATheme);
    return judged(IndexVerdict::Good);
}

std::string themeIndexJson(const ThemeIndex& index) {
    std::string text = "{\n\t\"Theme\": " + quoteJson(index.theme) + ",\n\t\"Build\": " + quoteJson(index.build) +
                       ",\n\t\"Chunks\": " + std::to_string(kPieceScheme) + ",\n\t\"Files\": [";
    text += indexFilesJson(index.files, "\t\t");
    return text + "\n\t]\n}\n";
}

}  // namespace vorlane
