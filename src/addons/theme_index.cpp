#include "addons/theme_index.h"

#include <cwctype>
#include <set>

#include "addons/piece_cutter.h"
#include "core/value_count.h"
#include "core/json.h"
#include "core/text.h"

namespace vorlane {

namespace {

bool isLowerHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

// A number token that reads exactly `wanted`.
bool numberIs(const JsonValue& value, unsigned wanted) {
    if (value.kind != JsonKind::Number) return false;
    long long number = 0;
    return parseSigned64(textWide(value), number) && number == (long long)wanted;
}

bool isString(const JsonValue& value) { return value.kind == JsonKind::String; }

// "hash:size", the hash as 64 lower-case hex digits and the size in decimal.
bool readPiece(const JsonValue& value, ThemePiece& piece) {
    if (!isString(value)) return false;
    const std::wstring text = textWide(value);
    if (text.size() < 66 || text.size() > 72 || text[64] != L':') return false;
    piece.hash = text.substr(0, 64);
    uint32_t size = 0;
    for (size_t i = 65; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        size = size * 10 + (text[i] - L'0');
    }
    piece.size = size;
    return true;
}

// One element of "Files" as it stands; false when a member has the wrong form.
bool readFile(const JsonValue& value, ThemeFile& file) {
    const JsonValue& path = member(value, "Path");
    const JsonValue& size = member(value, "Size");
    const JsonValue& sha256 = member(value, "Sha256");
    const JsonValue& pieces = member(value, "Chunks");
    file.path = textWide(path);
    long long bytes = -1;
    if (!isString(path) || !isString(sha256) || size.kind != JsonKind::Number || pieces.kind != JsonKind::Array ||
        !parseSigned64(textWide(size), bytes) || bytes < 0)
        return false;
    file.size = (uint64_t)bytes;
    file.sha256 = textWide(sha256);
    file.pieces.resize(pieces.items.size());
    for (size_t i = 0; i < pieces.items.size(); ++i)
        if (!readPiece(pieces.items[i], file.pieces[i])) return false;
    return true;
}

// Two paths name the same file when they are equal ignoring case, "/" and "\" alike.
std::wstring samePathKey(const std::wstring& path) {
    std::wstring key = lowerCase(path);
    for (wchar_t& c : key)
        if (c == L'\\') c = L'/';
    return key;
}

// The limits one file must keep; `seen` holds the paths of the files before it.
bool fileIsAcceptable(const std::wstring& theme, const ThemeFile& file, std::set<std::wstring>& seen) {
    if (!isAllowedThemePath(theme, file.path) || !seen.insert(samePathKey(file.path)).second) return false;
    if (!isSha256Hex(file.sha256)) return false;
    uint64_t total = 0;
    for (const ThemePiece& piece : file.pieces) {
        if (!isSha256Hex(piece.hash) || piece.size < 1 || piece.size > kLongestPiece) return false;
        total += piece.size;
        if (total > file.size) return false;
    }
    return total == file.size;
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

bool isSha256Hex(const std::wstring& text) {
    if (text.size() != 64) return false;
    for (wchar_t c : text)
        if (!isLowerHex(c)) return false;
    return true;
}

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
    if (!numberIs(member(document, "Chunks"), kPieceScheme)) return judged(IndexVerdict::UnknownScheme);

    index.theme = theme;
    index.build = build;
    const JsonValue& files = member(document, "Files");
    std::set<std::wstring> seen;
    for (const JsonValue& item : files.items) {  // a "Files" that isn't an array lists nothing
        ThemeFile file;
        if (!readFile(item, file) || !fileIsAcceptable(theme, file, seen))
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
    for (size_t i = 0; i < index.files.size(); ++i) {
        const ThemeFile& file = index.files[i];
        text += std::string(i ? "," : "") + "\n\t\t{\"Path\": " + quoteJson(file.path) +
                ", \"Size\": " + std::to_string(file.size) + ", \"Sha256\": " + quoteJson(file.sha256) +
                ", \"Chunks\": [";
        for (size_t p = 0; p < file.pieces.size(); ++p)
            text += std::string(p ? ", " : "") + quoteJson(file.pieces[p].hash + L":" +
                                                           std::to_wstring(file.pieces[p].size));
        text += "]}";
    }
    return text + "\n\t]\n}\n";
}

}  // namespace vorlane
