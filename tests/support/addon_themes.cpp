#include "support/addon_themes.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/text.h"
#include "net/sha256.h"
#include "support/publisher.h"

namespace vorlane::testing {

std::string descriptorText(const std::wstring& build) {
    return "{\n\t\"FileVersion\": 3,\n\t\"FriendlyName\": \"Test theme\",\n\t\"VorlaneBaseRelease\": \"" +
           toUtf8(build) + "\"\n}\n";
}

std::string noiseBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed ? seed : 1;
    for (char& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::wstring sha256Hex(const std::string& bytes) {
    Sha256Digest digest;
    EXPECT_TRUE(sha256(bytes, digest));
    return toHex(digest);
}

Sha256Digest digestOfHex(const std::wstring& hex) {
    Sha256Digest digest{};
    EXPECT_TRUE(fromHex(hex, digest)) << toUtf8(hex);
    return digest;
}

void writeThemeFolder(const std::wstring& folder, const ThemeVersion& version) {
    for (const ThemeFileBytes& file : version) {
        std::wstring path = joinPath(folder, file.path);
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        ASSERT_TRUE(makeFolderTree(parentFolder(path)));
        ASSERT_TRUE(writeFileAtomically(path, file.bytes));
    }
}

bool publishTheme(const TempFolder& work, const std::wstring& serverFolder, const std::wstring& themeFolder,
                  const std::wstring& build) {
    PublishRun run =
        runPublisher(work, {L"theme", serverFolder, keptTestKeyFile(), themeFolder, L"--build", build});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    return run.exitCode == 0;
}

}  // namespace vorlane::testing
