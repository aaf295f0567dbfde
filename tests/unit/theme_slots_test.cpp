// The theme slot list: reading its entries, the rules on ids and paths, the
// publisher's check, the kept copy of a developer's build, and the checklist.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/files.h"
#include "core/log.h"
#include "core/text.h"
#include "core/value_count.h"
#include "net/release_key.h"
#include "slots/checklist.h"
#include "slots/theme_slots.h"
#include "support/launcher_process.h"
#include "support/rename_lock.h"
#include "support/signing_key.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace vorlane {
namespace {

using testing::TempFolder;

TEST(ThemeSlots, EntriesNeedAnIdAndAFileAndFlagsOnlyTheWordTrue) {
    const std::vector<ThemeSlot> slots = parseThemeSlots(R"json([
        {"Id":"Tower_Splash","Kind":"Model","Category":"Towers","Name":"Splash","Purpose":"Bursts.",
         "File":"Models/Tower_Splash.glb","Format":"GLB","Prompt":"a {theme} mortar","Generator":"TRELLIS.2",
         "UsedFrom":"1.4 (soon)","Target":"TowerVisuals[Splash].Mesh","Loops":true,"Optional":"true","Extra":"x"},
        {"Kind":"Icon","File":"Icons/NoId.png"},
        {"Id":"Sound_NoFile","Kind":"Sound"},
        {"Id":"A","File":"a.wav","Loops":"true","Optional":"True"},
        {"Id":"B","File":"b.wav","Loops":"True","Optional":false},
        {"Id":"","File":"c.wav"}])json");
    ASSERT_EQ(slots.size(), 3u);
    const ThemeSlot& full = slots[0];
    EXPECT_EQ((std::vector<std::wstring>{full.Id, full.Kind, full.Category, full.Name, full.Purpose, full.File,
                                         full.Format, full.Prompt, full.Generator, full.UsedFrom, full.Target}),
              (std::vector<std::wstring>{L"Tower_Splash", L"Model", L"Towers", L"Splash", L"Bursts.",
                                         L"Models/Tower_Splash.glb", L"GLB", L"a {theme} mortar", L"TRELLIS.2",
                                         L"1.4 (soon)", L"TowerVisuals[Splash].Mesh"}));
    EXPECT_TRUE(full.Loops && full.Optional);
    EXPECT_EQ(slots[1].Id, L"A");
    EXPECT_TRUE(slots[1].Loops);
    EXPECT_FALSE(slots[1].Optional);
    EXPECT_FALSE(slots[2].Loops || slots[2].Optional);
    EXPECT_TRUE(parseThemeSlots("").empty());
}

TEST(ThemeSlots, GroupsAndBuiltInTowers) {
    const struct {
        const wchar_t* id;
        const char* group;
        const char* member;
    } cases[] = {{L"Tower_Splash", "Towers", "Splash"},
                 {L"Foliage_Pine", "Foliage", "Pine"},
                 {L"Enemy_Orc_Shaman", "Enemies", "Orc_Shaman"},
                 {L"Enemy_", "", ""},
                 {L"HomeBase", "", ""},
                 {L"Towers_Splash", "", ""},
                 {L"tower_Splash", "", ""},
                 {L"_Splash", "", ""}};
    for (const auto& c : cases) {
        const SlotGroup group = slotGroup(c.id);
        EXPECT_EQ(group.group, c.group) << toUtf8(c.id);
        EXPECT_EQ(group.member, c.member) << toUtf8(c.id);
    }
    for (const wchar_t* kind : {L"SingleTarget", L"Splash", L"Chain", L"Burn", L"Poison", L"Railgun"})
        EXPECT_TRUE(isBuiltInTowerKind(kind)) << toUtf8(kind);
    for (const wchar_t* kind : {L"splash", L"Frost", L"", L"Railgun "}) EXPECT_FALSE(isBuiltInTowerKind(kind));
}

TEST(ThemeSlots, SafeRelativePaths) {
    for (const wchar_t* path : {L"Icons/Tower.png", L"Icons\\Tower.png", L"a", L"Music/Battle theme.wav", L"x/.y"})
        EXPECT_TRUE(isSafeRelativePath(path)) << toUtf8(path);
    for (const wchar_t* path : {L"",
                                L"/Icons/a.png",
                                L"\\Icons\\a.png",
                                L"Icons/",
                                L"Icons//a.png",
                                L"Icons\\/a.png",
                                L"Icons/../a.png",
                                L"..",
                                L".",
                                L"Icons/./a.png",
                                L"Icons/a.png.",
                                L"a:b.png",
                                L"C:/a.png",
                                L"Icons /a.png",
                                L"a.png ",
                                L"a<b",
                                L"a>b",
                                L"a\"b",
                                L"a|b",
                                L"a?b",
                                L"a*b",
                                L"a\tb",
                                L"a\x1f"})
        EXPECT_FALSE(isSafeRelativePath(path)) << toUtf8(path);
}

TEST(ThemeSlots, ThePublisherRefusesListsTheLauncherWouldMisread) {
    const std::string tooMany = "[" + std::string(kMostJsonValues, ',') + R"json({"Id":"A","File":"a"}])json";
    const struct {
        const char* list;
        const wchar_t* problem;
    } cases[] = {
        {R"json({"Id":"A","File":"a"})json", L"The theme files list isn't a JSON array."},
        {"[]", L"The theme files list names no slot."},
        {R"json([{"Id":"A","File":"a"},"B"])json", L"Entry 2 isn't an object."},
        {R"json([{"Id":"A","File":"a","Tags":["x"]}])json",
         L"Entry 1 (A) holds a list or an object in Tags; entries are flat."},
        {R"json([{"Kind":"Icon","File":"a"}])json", L"Entry 1 has no Id."},
        {R"json([{"Id":"A","File":"a"},{"Id":"A","File":"b"}])json",
         L"Entry 2 (A) has the same Id as an entry before it."},
        {R"json([{"Id":"A","File":"../a.png"}])json",
         L"Entry 1 (A) has the File ../a.png, which isn't a safe path below a theme's Import folder."},
        {R"json([{"Id":"A","File":"a.png","Loops":true}])json", L""},
        {tooMany.c_str(), L"The theme files list is too big to read (more than 1048576 JSON values)."},
    };
    for (const auto& c : cases) EXPECT_EQ(themeSlotsListProblem(c.list), c.problem) << c.list;

    EXPECT_EQ(themeSlotsListProblem(readWholeFile(testing::sourceTreeFile(L"tools\\theme_slots\\theme_slots.json"))),
              L"");
}

// A developer's build takes the list unsigned and drops a signature kept from a release.
TEST(ThemeSlots, ADevelopersBuildKeepsTheListWithoutASignature) {
    TempFolder root;
    testing::TestHttpServer server;
    const std::string list = R"json([{"Id":"Tower_Chain","File":"Models/Tower_Chain.glb"}])json";
    server.serve("/theme_slots.json", list);
    root.writeFile(L"theme_slots.json.sig", "old signature\n");
    root.writeFile(L"launcher.ini", "[Launcher]\r\nThemeFolder=D:\\Themes\\Frost\r\nThemeStyle=icy\r\n");

    LauncherState state;
    state.rootFolder = root.path();
    state.settingsPath = root.file(L"launcher.ini");
    state.listSource = server.baseUrl();
    loadThemeSlots(state, ReleaseKey{});
    ASSERT_EQ(state.themeSlots.size(), 1u);
    EXPECT_EQ(state.themeSlots[0].Id, L"Tower_Chain");
    EXPECT_EQ(readWholeFile(root.file(L"theme_slots.json")), list);
    EXPECT_FALSE(fileExists(root.file(L"theme_slots.json.sig")));

    // A list of more values than any list needs is neither read nor kept.
    server.serve("/theme_slots.json", "[" + std::string(kMostJsonValues, ',') +
                                          R"json({"Id":"Tower_Frost","File":"Models/Tower_Frost.glb"}])json");
    loadThemeSlots(state, ReleaseKey{});
    EXPECT_EQ(readWholeFile(root.file(L"theme_slots.json")), list);
    ASSERT_EQ(state.themeSlots.size(), 1u);
    EXPECT_EQ(state.themeSlots[0].Id, L"Tower_Chain");
    EXPECT_EQ(parseThemeSlots("[" + std::string(kMostJsonValues, ',') + "]").size(), 0u);
    EXPECT_EQ(state.themeFolder, L"D:\\Themes\\Frost");
    EXPECT_EQ(state.themeStyle, L"icy");
}

// A new list whose signature can't be moved in beside it leaves the pair kept
// before, so the sentence the log gives is true and the old list stays in use.
TEST(ThemeSlots, AListIsKeptWithItsSignatureOrNotAtAll) {
    const std::optional<testing::SigningKey> key = testing::testSigningKey();
    ASSERT_TRUE(key);
    TempFolder root;
    testing::TestHttpServer server;
    const std::string oldList = R"json([{"Id":"Tower_Chain","File":"Models/Tower_Chain.glb"}])json";
    const std::string newList = R"json([{"Id":"Tower_Burn","File":"Models/Tower_Burn.glb"}])json";
    root.writeFile(L"theme_slots.json", oldList);
    root.writeFile(L"theme_slots.json.sig", key->sign(oldList));
    server.serve("/theme_slots.json", newList);
    server.serve("/theme_slots.json.sig", key->sign(newList));

    LauncherState state;
    state.rootFolder = root.path();
    state.settingsPath = root.file(L"launcher.ini");
    state.listSource = server.baseUrl();
    openLog(state, root.file(L"launcher.log"));
    {
        testing::RenameLock signatureHeld(root.file(L"theme_slots.json.sig"));
        ASSERT_TRUE(signatureHeld.held());
        loadThemeSlots(state, key->publicKey());
    }
    closeLog(state);
    EXPECT_EQ(readWholeFile(root.file(L"theme_slots.json")), oldList);
    ASSERT_EQ(state.themeSlots.size(), 1u);
    EXPECT_EQ(state.themeSlots[0].Id, L"Tower_Chain");
    const std::vector<std::wstring> lines = testing::logMessages(root.path());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with(L"Couldn't keep the theme files list from " + server.baseUrl() + L" (error "));
    EXPECT_TRUE(lines[0].ends_with(L"); the one kept before stays in use.")) << toUtf8(lines[0]);

    // Once nothing holds it, the next load keeps the new pair.
    loadThemeSlots(state, key->publicKey());
    EXPECT_EQ(readWholeFile(root.file(L"theme_slots.json")), newList);
    ASSERT_EQ(state.themeSlots.size(), 1u);
    EXPECT_EQ(state.themeSlots[0].Id, L"Tower_Burn");
}

// A kept copy caught half-refreshed (a new list beside the old signature, as
// a load that waited past another launcher's turn reads it) keeps the list
// loaded before and says why; with none loaded, there is no list.
TEST(ThemeSlots, AKeptCopyThatDoesntVerifyKeepsTheListLoadedBefore) {
    const std::optional<testing::SigningKey> key = testing::testSigningKey();
    ASSERT_TRUE(key);
    const std::string goodList = R"json([{"Id":"Tower_Chain","File":"Models/Tower_Chain.glb"}])json";
    const std::string newList = R"json([{"Id":"Tower_Burn","File":"Models/Tower_Burn.glb"}])json";
    const struct {
        bool loadedBefore;
        size_t slots;
        const wchar_t* line;
    } cases[] = {
        {true, 1,
         L"The kept theme files list doesn't match its signature (another launcher may be refreshing it), so it "
         L"isn't used: the list loaded before stays in use."},
        {false, 0,
         L"The kept theme files list isn't signed with Vorlane's key, so it isn't used: there's no list of theme "
         L"files until a build server gives a signed one."},
    };
    for (const auto& c : cases) {
        TempFolder root;
        root.writeFile(L"theme_slots.json", goodList);
        root.writeFile(L"theme_slots.json.sig", key->sign(goodList));
        LauncherState state;
        state.rootFolder = root.path();
        state.settingsPath = root.file(L"launcher.ini");
        openLog(state, root.file(L"launcher.log"));
        if (c.loadedBefore) loadThemeSlots(state, key->publicKey());
        root.writeFile(L"theme_slots.json", newList);
        loadThemeSlots(state, key->publicKey());
        closeLog(state);
        ASSERT_EQ(state.themeSlots.size(), c.slots) << c.loadedBefore;
        if (c.slots) EXPECT_EQ(state.themeSlots[0].Id, L"Tower_Chain");
        EXPECT_EQ(testing::logMessages(root.path()), std::vector<std::wstring>{c.line});
    }
}

TEST(ThemeChecklist, ImportFolderSlotPathsAndPrompts) {
    EXPECT_EQ(importFolderOf(L"C:\\Themes\\Frost"), L"C:\\Themes\\Frost\\Import");
    EXPECT_EQ(importFolderOf(L"C:\\Themes\\Frost\\import\\"), L"C:\\Themes\\Frost\\import");
    EXPECT_EQ(importFolderOf(L""), L"");
    ThemeSlot slot;
    slot.File = L"Icons/Towers/Chain.png";
    EXPECT_EQ(slotPath(L"C:\\T\\Import", slot), L"C:\\T\\Import\\Icons\\Towers\\Chain.png");
    EXPECT_EQ(slotPath(L"", slot), L"");
    slot.File = L"../../Windows/x.png";
    EXPECT_EQ(slotPath(L"C:\\T\\Import", slot), L"");

    slot.Prompt = L"{theme} ground, {theme}";
    EXPECT_EQ(checklistPrompt(slot, L"icy {theme}", L""), L"icy {theme} ground, icy {theme}");
    EXPECT_EQ(checklistPrompt(slot, L"", L"sand"), L"your theme's ground, your theme's");
    slot.Category = L"Surfaces";
    EXPECT_EQ(checklistPrompt(slot, L"icy", L"sand"), L"sand ground, sand");
    EXPECT_EQ(checklistPrompt(slot, L"icy", L""), L"icy ground, icy");
}

}  // namespace
}  // namespace vorlane
