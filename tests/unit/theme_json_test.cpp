// theme.json: the lighting mood a theme gets, and the file written over an
// old one, compared with the golden files in tests/golden/theme_json.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"
#include "support/unix_links.h"
#include "themes/theme_json.h"

namespace vorlane {
namespace {

ThemeJob harbourJob() {
    ThemeJob job;
    job.Folder = L"C:\\Themes\\SunkenHarbour";
    job.FolderName = L"SunkenHarbour";
    job.Name = L"Sunken Harbour";
    job.Style = L"drowned pirate port";
    job.Base = L"PirateCove";
    job.LauncherVersion = L"7e57ab1e";
    job.Kinds = 31;
    job.Subjects = {{L"Tower_Splash", L"Splash", L"a Splash tower", L"a barnacled cannon"},
                    {L"Enemy_Grunt", L"Grunt", L"a Grunt enemy", L""},
                    {L"Enemy_Runner", L"Runner", L"a Runner enemy", L"", L"", L"", L"Eel", true},
                    {L"Trap", L"Trap", L"a trap on the road", L""}};
    return job;
}

TEST(ThemeJson, WrittenOverOldFilesAsTheGoldenFilesSay) {
    const struct {
        const wchar_t* golden;
        const wchar_t* old;  // empty: no old file
        const wchar_t* lighting;
        bool makeAgain;
        bool grunt;  // the player emptied the Grunt's name
    } cases[] = {{L"fresh", L"", L"", false, false},
                 {L"hand-written", L"hand-written.old", L"base", false, true},
                 {L"generated-kept", L"generated.old", L"", false, false},
                 {L"generated-again", L"generated.old", L"", true, false}};
    for (const auto& c : cases) {
        ThemeJob job = harbourJob();
        job.Lighting = c.lighting;
        job.MakeAgain = c.makeAgain;
        job.Subjects[1].CalledGiven = c.grunt;
        const std::wstring folder = L"tests\\golden\\theme_json\\";
        const std::string old = *c.old ? readWholeFile(testing::sourceTreeFile(folder + c.old + L".json")) : "";
        const std::string text = ThemeJsonText(job, L"0.3.64", {5, 2, 1, false}, {{L"Splash", true}, {L"Frost", false}},
                                               old, "2026-12-09T10:00:00Z");
        EXPECT_EQ(text, readWholeFile(testing::sourceTreeFile(folder + c.golden + L".json"))) << toUtf8(c.golden);
        JsonValue parsed;
        EXPECT_TRUE(parseDocument(text, parsed)) << toUtf8(c.golden);
    }
}

TEST(ThemeJson, AnUnreadableFileIsSetAside) {
    testing::TempFolder folder;
    folder.writeFile(L"theme.json", "{\"Name\": \"half a file\", ");
    ThemeJob job = harbourJob();
    job.Folder = folder.path();
    std::vector<std::wstring> lines;
    ASSERT_TRUE(WriteThemeJson(job, L"", {}, {}, [&](const std::wstring& line) { lines.push_back(line); }));
    EXPECT_EQ(readWholeFile(folder.file(L"theme.json.unreadable")), "{\"Name\": \"half a file\", ");
    EXPECT_EQ(lines, std::vector<std::wstring>{
                         L"theme.json couldn't be read, so it's kept as theme.json.unreadable and a new one written."});
    EXPECT_EQ(ReadFacesTarget(folder.path()), FacesTargetMap{});
}

// Another program holding theme.json locked, so that it can't be read (but
// could be replaced): the author's file stays as it is and nothing is written.
TEST(ThemeJson, AFileThatCantBeReadIsNotWrittenOver) {
    testing::TempFolder folder;
    const std::string handWritten = "{\"Name\": \"Harbour\", \"Lighting\": {\"Sun\": 3}, \"Notes\": \"mine\"}";
    folder.writeFile(L"theme.json", handWritten);
    ThemeJob job = harbourJob();
    job.Folder = folder.path();
    {
        HANDLE held = CreateFileW(folder.file(L"theme.json").c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        OVERLAPPED whole{};
        ASSERT_TRUE(LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole));
        EXPECT_FALSE(WriteThemeJson(job, L"", {}, {}, [](const std::wstring&) {}));
        UnlockFileEx(held, 0, MAXDWORD, MAXDWORD, &whole);
        CloseHandle(held);
    }
    EXPECT_EQ(readWholeFile(folder.file(L"theme.json")), handWritten);
    EXPECT_FALSE(fileExists(folder.file(L"theme.json.unreadable")));
    // Let go, it is merged as always.
    ASSERT_TRUE(WriteThemeJson(job, L"", {}, {}, [](const std::wstring&) {}));
    EXPECT_NE(readWholeFile(folder.file(L"theme.json")).find("\"Notes\": \"mine\""), std::string::npos);
}

// A theme.json that can't even be opened, though it could be replaced (here
// a link to itself, which Wine replaces as it would any file no one holds):
// nothing is written over it either.
TEST(ThemeJson, AFileThatCantBeOpenedIsNotReplaced) {
    testing::TempFolder folder;
    ASSERT_TRUE(testing::runShell("ln -s theme.json " + testing::unixPath(folder.file(L"theme.json"))));
    ThemeJob job = harbourJob();
    job.Folder = folder.path();
    EXPECT_FALSE(WriteThemeJson(job, L"", {}, {}, [](const std::wstring&) {}));
    std::string text;
    EXPECT_FALSE(readWholeFile(folder.file(L"theme.json"), text)) << text;
    EXPECT_FALSE(fileExists(folder.file(L"theme.json.unreadable")));
    EXPECT_TRUE(testing::runShell("rm " + testing::unixPath(folder.file(L"theme.json"))));  // Wine can't remove it
}

TEST(LightingMoods, ChosenByNameStyleAndHash) {
    const struct {
        const wchar_t *name, *style, *lighting, *reason;
    } cases[] = {
        {L"Pirates", L"ghost pirates", L"", L"Spooky, as the name or style says \"ghost\""},
        {L"Crows", L"dark woods", L"", L"Night, as the name or style says \"dark\""},
        {L"Dunes", L"Sandes of time", L"", L"Desert heat, as the name or style says \"sandes\""},
        {L"abc", L"sandstorm 42!", L"",
         L"Golden hour, picked by the theme's name (nothing in its name or style "
         L"chooses one)"},
        {L"abc", L"ghost", L"neon-NIGHT", L"Neon night"},
        {L"abc", L"ghost", L"BASE", L"the base theme's (Default)"},
        {L"abc", L"haunted underwater city", L"", L"Spooky, as the name or style says \"haunted\""},
    };
    for (const auto& c : cases) {
        ThemeJob job;
        job.Name = c.name;
        job.FolderName = L"abc";
        job.Style = c.style;
        job.Lighting = c.lighting;
        EXPECT_EQ(ChooseMood(job).reason, c.reason) << toUtf8(c.style);
    }
    EXPECT_EQ(NameHash(L"ABC"), 0x1A47E90Bu);
    EXPECT_EQ(FindMood(L"golden_hour"), FindMood(L"Golden Hour"));
    EXPECT_EQ(FindMood(L""), nullptr);
    EXPECT_EQ(FindBaseTheme(L"kaiju"), 2);
    EXPECT_EQ(FindBaseTheme(L"Kaiju (Reverse)"), -1);
}

TEST(LightingMoods, TheBlockOfNeonNightForAbcWithSeedOne) {
    ThemeJob job;
    job.FolderName = L"abc";
    const std::string block = MoodBlock(*FindMood(L"neon night"), job);
    for (const char* line : {"\"SunYaw\": 75,", "\"FillYaw\": 255,", "\"SunColor\": \"#C4B3FF\",",
                             "\"FillColor\": \"#FF89E1\",", "\"FogDensity\": 0.05,", "\"SunPitch\": -60,"})
        EXPECT_NE(block.find(line), std::string::npos) << line;
    EXPECT_EQ(block.substr(0, 24), "{\n\t\t\"Mood\": \"Neon night\"");
    EXPECT_TRUE(block.ends_with(",\n\t\t\"Vignette\": 0.6\n\t}")) << block;
}

}  // namespace
}  // namespace vorlane
