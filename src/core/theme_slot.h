// One file a theme can supply, from the signed theme slot list.
#pragma once

#include <string>

namespace vorlane {

// A slot's Prompt may hold this where the theme's style goes.
inline constexpr wchar_t kThemePlaceholder[] = L"{theme}";
// What stands there for the player when no style is given.
inline constexpr wchar_t kNoStyleWords[] = L"your theme's";

struct ThemeSlot {
    std::wstring Id;
    std::wstring Kind;
    std::wstring Category;
    std::wstring Name;
    std::wstring Purpose;
    std::wstring File;
    std::wstring Format;
    std::wstring Prompt;
    std::wstring Generator;
    std::wstring UsedFrom;
    std::wstring Target;
    bool Loops = false;
    bool Optional = false;

    bool operator==(const ThemeSlot&) const = default;
};

}  // namespace vorlane
