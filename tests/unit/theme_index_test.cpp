// A theme index as a hostile build server might write it: every path that
// could leave the theme's folder, every size that could run away, and the
// limits of a whole theme, each refused with the file it names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addons/theme_index.h"
#include "core/text.h"

using namespace vorlane;

namespace {

const std::wstring kTheme = L"Ember";
const std::wstring kBuild = L"abc1234";
const std::string kHash(64, 'a');

std::string piece(const std::string& hash, const std::string& size) { return "\"" + hash + ":" + size + "\""; }

std::string fileJson(const std::string& path, const std::string& size = "5",
                     const std::vector<std::string>& pieces = {piece(kHash, "5")},
                     const std::string& sha256 = "\"" + kHash + "\"") {
    std::string list;
    for (const std::string& p : pieces) list += (list.empty() ? "" : ",") + p;
    return "{\"Path\": \"" + path + "\", \"Size\": " + size + ", \"Sha256\": " + sha256 + ", \"Chunks\": [" + list +
           "]}";
}

std::string indexJson(const std::vector<std::string>& files, const std::string& theme = "Ember",
                      const std::string& build = "abc1234", const std::string& scheme = "1") {
    std::string list;
    for (const std::string& f : files) list += (list.empty() ? "" : ",") + f;
    return "{\"Theme\": \"" + theme + "\", \"Build\": \"" + build + "\", \"Chunks\": " + scheme + ", \"Files\": [" +
           list + "]}";
}

const std::string kDescriptor = fileJson("Ember.uplugin");

IndexCheck check(const std::string& text) {
    ThemeIndex index;
    return readThemeIndex(text, kTheme, kBuild, index);
}

// The index with the descriptor and one more file.
IndexCheck checkWith(const std::string& file) { return check(indexJson({kDescriptor, file})); }

}  // namespace

TEST(ThemeIndex, AGoodIndexReadsIntoItsFilesAndPieces) {
    const std::string pak = fileJson("Content/Paks/Ember-Win64_1+x.pak", "600000",
                                     {piece(std::string(64, 'b'), "524288"), piece(std::string(64, 'c'), "75712")},
                                     "\"" + std::string(64, 'd') + "\"");
    ThemeIndex index;
    ASSERT_EQ(readThemeIndex(indexJson({kDescriptor, pak, fileJson("theme.sig", "0", {})}), kTheme, kBuild, index)
                  .verdict,
              IndexVerdict::Good);
    ASSERT_EQ(index.files.size(), 3u);
    EXPECT_EQ(index.files[1].path, L"Content/Paks/Ember-Win64_1+x.pak");
    EXPECT_EQ(index.files[1].size, 600000u);
    EXPECT_EQ(index.files[1].sha256, std::wstring(64, L'd'));
    ASSERT_EQ(index.files[1].pieces.size(), 2u);
    EXPECT_EQ(toHex(index.files[1].pieces[0].hash), std::wstring(64, L'b'));
    EXPECT_EQ(index.files[1].pieces[0].size, 524288u);
    EXPECT_EQ(index.files[2].size, 0u);

    // What the publisher writes reads back the same.
    ThemeIndex again;
    ASSERT_EQ(readThemeIndex(themeIndexJson(index), kTheme, kBuild, again).verdict, IndexVerdict::Good);
    ASSERT_EQ(again.files.size(), 3u);
    EXPECT_EQ(again.files[1].pieces[1].size, 75712u);
    EXPECT_EQ(again.files[2].path, L"theme.sig");
    EXPECT_EQ(checkThemeIndex(again).verdict, IndexVerdict::Good);
}

TEST(ThemeIndex, AnIndexOfAnotherThemeOrBuildOrNoIndexAtAll) {
    EXPECT_EQ(check(indexJson({kDescriptor}, "Frost")).verdict, IndexVerdict::NotThisTheme);
    EXPECT_EQ(check(indexJson({kDescriptor}, "ember")).verdict, IndexVerdict::NotThisTheme);
    EXPECT_EQ(check(indexJson({kDescriptor}, "Ember", "abc12345")).verdict, IndexVerdict::NotThisTheme);
    EXPECT_EQ(check(indexJson({kDescriptor}, "Ember", "abc1234+")).verdict, IndexVerdict::NotThisTheme);
    EXPECT_EQ(check("[" + indexJson({kDescriptor}) + "]").verdict, IndexVerdict::NotThisTheme);
    EXPECT_EQ(check("{\"Theme\": \"Ember\", \"Build\": ").verdict, IndexVerdict::NotThisTheme);
    EXPECT_EQ(check("").verdict, IndexVerdict::NotThisTheme);
}

TEST(ThemeIndex, OnlyPieceSchemeOneIsKnown) {
    EXPECT_EQ(check(indexJson({kDescriptor}, "Ember", "abc1234", "2")).verdict, IndexVerdict::UnknownScheme);
    EXPECT_EQ(check(indexJson({kDescriptor}, "Ember", "abc1234", "\"1\"")).verdict, IndexVerdict::UnknownScheme);
    EXPECT_EQ(check(indexJson({kDescriptor}, "Ember", "abc1234", "1.5")).verdict, IndexVerdict::UnknownScheme);
    EXPECT_EQ(check("{\"Theme\": \"Ember\", \"Build\": \"abc1234\", \"Files\": []}").verdict,
              IndexVerdict::UnknownScheme);
}

TEST(ThemeIndex, PathsThatCouldLeaveTheThemeFolderAreRefusedByName) {
    for (const char* path :
         {"../Ember.pak", "Content/Paks/../../../Vorlane.exe.pak", "Content/Paks/..pak", "/Content/Paks/a.pak",
          "C:/Windows/a.pak", "C:Content/Paks/a.pak", "Content/Paks/C:a.pak", "Content\\\\Paks\\\\a.pak",
          "Content/Paks//a.pak", "Content/Paks/a b.pak", "Content/Paks/a:b.pak", "Content/Paks/a*.pak",
          "content/paks/a.pak", "Content/Paks/a.PAK", "Content/Paks/a.exe", "Content/Paks/a", "Content/Paks/a.pak/",
          "Content/a.pak", "Other.uplugin", "ember.uplugin", "Theme.sig", "", "Content/Paks/\\u00e9\\u0000.pak"}) {
        EXPECT_EQ(checkWith(fileJson(path)).verdict, IndexVerdict::BadFile) << path;
    }
    // The refusal names the path as it stood.
    EXPECT_EQ(checkWith(fileJson("../Ember.pak")).badPath, L"../Ember.pak");
    EXPECT_EQ(checkWith(fileJson("Content\\\\Paks\\\\a.pak")).badPath, L"Content\\Paks\\a.pak");
}

TEST(ThemeIndex, AllowedPathsAndTheirLengthLimit) {
    EXPECT_TRUE(isAllowedThemePath(kTheme, L"Ember.uplugin"));
    EXPECT_TRUE(isAllowedThemePath(kTheme, L"theme.sig"));
    for (const wchar_t* extension : {L"pak", L"utoc", L"ucas", L"sig"})
        EXPECT_TRUE(isAllowedThemePath(kTheme, std::wstring(L"Content/Paks/Sub_1/x-y+z.") + extension));
    EXPECT_TRUE(isAllowedThemePath(kTheme, L"Content/Paks/\u00e9t\u00e9.pak"));  // letters beyond ASCII are letters

    const std::wstring prefix = L"Content/Paks/";
    const std::wstring at200 = prefix + std::wstring(200 - prefix.size() - 4, L'a') + L".pak";
    ASSERT_EQ(at200.size(), 200u);
    EXPECT_TRUE(isAllowedThemePath(kTheme, at200));
    EXPECT_FALSE(isAllowedThemePath(kTheme, prefix + L"a" + at200.substr(prefix.size())));
    EXPECT_EQ(checkWith(fileJson(toUtf8(at200))).verdict, IndexVerdict::Good);
}

TEST(ThemeIndex, ThemeNames) {
    EXPECT_TRUE(isThemeName(L"Ember"));
    EXPECT_TRUE(isThemeName(L"Night_Market2"));
    EXPECT_TRUE(isThemeName(std::wstring(64, L'x')));
    EXPECT_FALSE(isThemeName(std::wstring(65, L'x')));
    EXPECT_FALSE(isThemeName(L""));
    for (const wchar_t* name : {L".Ember", L"Ember.next", L"Em ber", L"Em-ber", L"..", L"C:", L"a\\b", L"a/b"})
        EXPECT_FALSE(isThemeName(name)) << toUtf8(name);
}

TEST(ThemeIndex, TheSamePathTwiceIgnoringCaseIsRefused) {
    const IndexCheck result =
        check(indexJson({kDescriptor, fileJson("Content/Paks/A.pak"), fileJson("Content/Paks/a.pak")}));
    EXPECT_EQ(result.verdict, IndexVerdict::BadFile);
    EXPECT_EQ(result.badPath, L"Content/Paks/a.pak");
    EXPECT_EQ(check(indexJson({kDescriptor, kDescriptor})).verdict, IndexVerdict::BadFile);
}

TEST(ThemeIndex, SizesFingerprintsAndPiecesMustAddUp) {
    const std::string path = "Content/Paks/a.pak";
    const std::string upper = std::string(63, 'a') + "A";
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"negative size", fileJson(path, "-5")},
        {"size as a string", fileJson(path, "\"5\"")},
        {"fractional size", fileJson(path, "5.0")},
        {"size beyond 64 bits", fileJson(path, "99999999999999999999")},
        {"upper-case file hash", fileJson(path, "5", {piece(kHash, "5")}, "\"" + upper + "\"")},
        {"short file hash", fileJson(path, "5", {piece(kHash, "5")}, "\"abc\"")},
        {"file hash not a string", fileJson(path, "5", {piece(kHash, "5")}, "7")},
        {"upper-case piece hash", fileJson(path, "5", {piece(upper, "5")})},
        {"piece of 0 bytes", fileJson(path, "5", {piece(kHash, "0"), piece(kHash, "5")})},
        {"piece of 524289 bytes", fileJson(path, "524289", {piece(kHash, "524289")})},
        {"signed piece size", fileJson(path, "5", {piece(kHash, "+5")})},
        {"pieces short of the size", fileJson(path, "6", {piece(kHash, "5")})},
        {"pieces beyond the size", fileJson(path, "4", {piece(kHash, "5")})},
        {"no colon", fileJson(path, "5", {"\"" + kHash + "5\""})},
        {"piece not a string", fileJson(path, "5", {"5"})},
        {"pieces not a list", "{\"Path\": \"" + path + "\", \"Size\": 0, \"Sha256\": \"" + kHash + "\"}"},
    };
    for (const auto& [what, file] : bad) {
        const IndexCheck result = checkWith(file);
        EXPECT_EQ(result.verdict, IndexVerdict::BadFile) << what;
        EXPECT_EQ(result.badPath, toUtf16(path)) << what;
    }
    EXPECT_EQ(checkWith(fileJson(path, "524288", {piece(kHash, "524288")})).verdict, IndexVerdict::Good);
    EXPECT_EQ(checkWith(fileJson(path, "0", {})).verdict, IndexVerdict::Good);
}

TEST(ThemeIndex, TheFirstBadFileInListOrderIsTheOneNamed) {
    const IndexCheck result = check(indexJson({kDescriptor, fileJson("Content/Paks/ok.pak"),
                                               fileJson("Content/Paks/short.pak", "9"), fileJson("../x.pak")}));
    EXPECT_EQ(result.verdict, IndexVerdict::BadFile);
    EXPECT_EQ(result.badPath, L"Content/Paks/short.pak");
}

TEST(ThemeIndex, AWholeThemeHasItsDescriptorAtMost64FilesAnd32GiB) {
    EXPECT_EQ(check(indexJson({fileJson("Content/Paks/a.pak")})).verdict, IndexVerdict::NotATheme);
    EXPECT_EQ(check(indexJson({})).verdict, IndexVerdict::NotATheme);
    EXPECT_EQ(check("{\"Theme\": \"Ember\", \"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": 3}").verdict,
              IndexVerdict::NotATheme);

    std::vector<std::string> files{kDescriptor};
    for (int i = 1; i < 64; ++i) files.push_back(fileJson("Content/Paks/f" + std::to_string(i) + ".pak"));
    EXPECT_EQ(check(indexJson(files)).verdict, IndexVerdict::Good);
    files.push_back(fileJson("Content/Paks/f64.pak"));
    EXPECT_EQ(check(indexJson(files)).verdict, IndexVerdict::NotATheme);

    // The 5-byte descriptor, 16 GiB and 16 GiB less 5 bytes are 32 GiB in all; one byte more passes the limit.
    std::vector<std::string> half(32768, piece(kHash, "524288"));
    const std::string a = fileJson("Content/Paks/a.pak", std::to_string(16ull << 30), half);
    half.back() = piece(kHash, "524283");
    const std::string b = fileJson("Content/Paks/b.pak", std::to_string((16ull << 30) - 5), half);
    EXPECT_EQ(check(indexJson({kDescriptor, a, b})).verdict, IndexVerdict::Good);
    EXPECT_EQ(check(indexJson({kDescriptor, a, b, fileJson("Content/Paks/c.pak", "1", {piece(kHash, "1")})})).verdict,
              IndexVerdict::NotATheme);
}

TEST(ThemeIndex, AHugeCountOfValuesIsRefusedBeforeItIsParsed) {
    // Two million tiny values would take hundreds of MB as a tree; a real index this long can't exist.
    std::string values;
    values.reserve(4 << 20);
    for (int i = 0; i < 2000000; ++i) values += "0,";
    values += "0";
    EXPECT_EQ(check("{\"Theme\": \"Ember\", \"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": [" + values + "]}")
                  .verdict,
              IndexVerdict::NotThisTheme);
    // Commas inside strings are not values.
    const std::string longName(3000000, ',');
    EXPECT_EQ(check(indexJson({kDescriptor, fileJson(longName)})).verdict, IndexVerdict::BadFile);
}
