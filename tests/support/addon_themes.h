// Add-on themes as a player's game holds them and as a release engineer
// publishes them: a version is a list of files, each with its path inside the
// theme's folder ("/" between parts) and its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/sha256.h"
#include "support/temp_folder.h"

namespace vorlane::testing {

struct ThemeFileBytes {
    std::wstring path;
    std::string bytes;
};
using ThemeVersion = std::vector<ThemeFileBytes>;

// A descriptor (theme + ".uplugin") that names the build the theme was made for.
std::string descriptorText(const std::wstring& build);

// Bytes no packer can shrink and no cut rule can predict (xorshift from seed).
std::string noiseBytes(size_t size, uint32_t seed);

// The SHA-256 of bytes as 64 lower-case hex digits, as pieces and indexes are named.
std::wstring sha256Hex(const std::string& bytes);
// The digest 64 hex digits write, as an index holds it ("aaa...a" for a made-up piece).
Sha256Digest digestOfHex(const std::wstring& hex);

// Writes the version's files into folder, making folders as needed.
void writeThemeFolder(const std::wstring& folder, const ThemeVersion& version);

// Runs vorlane-publish theme for the theme folder with the kept test key; true
// when it succeeded (the test fails otherwise).
bool publishTheme(const TempFolder& work, const std::wstring& serverFolder, const std::wstring& themeFolder,
                  const std::wstring& build);

}  // namespace vorlane::testing
