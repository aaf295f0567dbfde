// create-theme for real: the test-key launcher with the designers' slot list
// from nginx, making a whole theme on the stand-in ComfyUI, then again.
#include <gtest/gtest.h>

#include "comfy/comfy_check.h"
#include "core/files.h"
#include "core/text.h"
#include "support/comfyui_double.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// Each prompt makes every kind of output; the launcher takes the one its graph makes.
std::string madeScript(const std::string& more = "") {
    return R"({"version":"0.3.64","devices":[{"name":"cuda:0","vram_total":12884901888}],)" + allModelFilesMember() +
           more + R"(,"prompts":[{"outputs":[
        {"node":"15","list":"images","filename":"p.png","make":"png"},
        {"node":"400","list":"3d","filename":"m.glb","make":"glb","shards":0.2},
        {"node":"z10","list":"images","filename":"m.png","make":"png","width":64,"height":64},
        {"node":"30","list":"audio","filename":"a.flac","make":"flac","signal":"tone","seconds":110,
         "rate":16000,"channels":1}]}]})";
}

class CreateTheme : public LauncherTest {
protected:
    CreateTheme() : LauncherTest(L"create-theme") {}

    void SetUp() override {
        LauncherTest::SetUp();
        publishSlotList();
    }

    DWORD create(const ComfyDouble& comfy, std::vector<std::wstring> more) const {
        std::vector<std::wstring> arguments{L"--auto",        L"create-theme",       L"--comfy",
                                            comfy.address(),  L"--theme-name",       L"Sunken Harbour",
                                            L"--theme-style", L"drowned pirate port"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return runToEnd(testKeyLauncher(), launcherArguments(arguments), 600000);
    }

    std::wstring theme = temp.file(L"Sunken Harbour");
};

TEST_F(CreateTheme, AWholeThemeIsMadeAndASecondRunKeepsIt) {
    ComfyDouble comfy(madeScript());
    ASSERT_EQ(create(comfy, {L"--theme-dir", theme, L"--theme-called", L"Tower_Splash=Big Bertha"}), 0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines,
                         L"Create theme: Made 48, kept 0, failed 0. The theme is ready: the game finds it "
                         L"the next time it starts."));
    EXPECT_TRUE(contains(lines, L"Create theme: Lighting: Golden hour, as the name or style says \"pirate\"."));
    for (const wchar_t* file :
         {L"Icons\\Towers\\Splash.png", L"Models\\Tower_Splash.glb", L"Models\\Tower_Splash.png",
          L"Sounds\\Ambience.wav", L"Music\\Battle.wav", L"Textures\\Road.png", L"THEME_CHECKLIST.md"})
        EXPECT_TRUE(fileExists(joinPath(theme, file))) << toUtf8(file);
    EXPECT_FALSE(fileExists(joinPath(theme, L"Textures\\GroundHeight.png")));
    const std::string json = readWholeFile(joinPath(theme, L"theme.json"));
    EXPECT_NE(json.find("\"Splash\": { \"FacesTarget\": true, \"Name\": \"Big Bertha\" }"), std::string::npos) << json;
    EXPECT_NE(json.find("\"Complete\": true"), std::string::npos);

    ComfyDouble again(madeScript());
    ASSERT_EQ(create(again, {L"--theme-dir", theme}), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Create theme: Everything asked for is already there."));
    EXPECT_TRUE(contains(lines,
                         L"Create theme: Made 0, kept 48, failed 0. The theme is ready: the game finds it "
                         L"the next time it starts."));
    for (const std::string& request : again.sequence()) EXPECT_NE(request, "POST /prompt");
}

TEST_F(CreateTheme, WrongChoicesAreRefusedWithTheirSentence) {
    ComfyDouble comfy(madeScript());
    const std::wstring longName(33, L'x');
    const struct {
        std::vector<std::wstring> more;
        std::wstring message;
    } cases[] = {
        {{L"--theme-dir", theme, L"--theme-base", L"Kaiju (Reverse)"},
         L"--theme-base is one of Default, Ocean, Kaiju, KaijuReverse, PirateCove, FineDining, not Kaiju (Reverse)."},
        {{L"--theme-dir", theme, L"--lighting", L"dusk"},
         L"--lighting is match (the style picks a mood), base (the base theme's own) or a mood (Neon night, Spooky, "
         L"Underwater, Snowy, Desert heat, Sunset, Stormy, Night, Misty, Golden hour, Overcast, Sunny day), not dusk."},
        {{L"--theme-dir", theme, L"--make", L"icons, 3d"},
         L"--make takes icons, images, models, sounds and music (with commas between), not 3d."},
        {{L"--theme-dir", theme, L"--theme-subject", L"Tower_Nope=a tower"},
         L"--theme-subject is <Key>=<what it is>, with a key the slot list has (Tower_SingleTarget, Enemy_Grunt, "
         L"Foliage_Tree...): not Tower_Nope=a tower."},
        {{L"--theme-dir", theme, L"--theme-called", L"Summon=Golem"},
         L"--theme-called is <Key>=<its name>, with the key of a tower, enemy or kind of foliage the slot list has "
         L"(Tower_SingleTarget, Enemy_Grunt, Foliage_Tree...): not Summon=Golem."},
        {{L"--theme-dir", theme, L"--theme-called", L"enemy_grunt=" + longName},
         L"Grunt's name is at most 32 characters: \"" + longName + L"\" is longer."},
        {{}, L"Install the game first: a theme goes in the game's folder, where it finds it."},
        {{L"--theme-dir", theme, L"--theme-name", L"!?"},
         L"The theme's name needs a letter or a digit in it: its folder is named after it."},
        {{L"--theme-dir", theme, L"--theme-name", L"downloaded"},
         L"\"Downloaded\" is kept for themes downloaded from other players: give it another name."},
        {{L"--theme-dir", theme, L"--theme-name", L" "}, L"Give the theme a name."},
        {{L"--theme-dir", theme, L"--make", L" , "},
         L"Tick at least one of Icons, Ground and pictures, 3D models, Sounds and Music."},
        {{L"--theme-dir", theme, L"--theme-style", L"  "},
         L"Say what it looks like, in a few words (\"spooky cartoon pirates, full colour\")."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(create(comfy, c.more), 1u) << toUtf8(c.message);
        EXPECT_TRUE(contains(newLogLines(), L"Create theme: " + c.message)) << toUtf8(c.message);
    }
    // Another root: one without a slot list and no server, one whose ComfyServer setting is blank.
    const std::wstring bare = temp.makeFolder(L"Bare"), blank = temp.makeFolder(L"Blank");
    ASSERT_EQ(create(comfy, {L"--theme-dir", theme, L"--root", bare, L"--server", unusedLocalServer()}), 1u);
    EXPECT_TRUE(contains(logMessages(bare),
                         L"Create theme: There's no list of theme files: the build server couldn't "
                         L"be reached and none is kept. Try again when it can be."));
    temp.writeFile(L"Blank\\launcher.ini", "[Launcher]\r\nComfyServer=\r\n");
    ASSERT_EQ(runToEnd(testKeyLauncher(),
                       launcherArguments({L"--root", blank, L"--auto", L"create-theme", L"--theme-name", L"Reef",
                                          L"--theme-style", L"coral", L"--theme-dir", theme}),
                       120000),
              1u);
    EXPECT_TRUE(contains(logMessages(blank),
                         L"Create theme: Give ComfyUI's address (Comfy Desktop's is http://127.0.0.1:8188)."));
    EXPECT_TRUE(comfy.sequence().empty());
    EXPECT_FALSE(folderExists(theme));
}

// An empty --make asks for nothing rather than everything, and a name Windows
// keeps for a device can't name a folder: both are refused before ComfyUI is asked.
TEST_F(CreateTheme, AnEmptyMakeAndADeviceNameAreRefused) {
    ComfyDouble comfy(madeScript());
    const struct {
        std::vector<std::wstring> more;
        std::wstring message;
    } cases[] = {
        {{L"--theme-dir", theme, L"--make", L""},
         L"Tick at least one of Icons, Ground and pictures, 3D models, Sounds and Music."},
        {{L"--theme-dir", theme, L"--theme-name", L"aux"},
         L"\"aux\" can't be a folder's name on Windows: give it another name."},
        {{L"--theme-dir", theme, L"--theme-name", L" COM7 "},
         L"\"COM7\" can't be a folder's name on Windows: give it another name."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(create(comfy, c.more), 1u) << toUtf8(c.message);
        EXPECT_TRUE(contains(newLogLines(), L"Create theme: " + c.message)) << toUtf8(c.message);
    }
    EXPECT_TRUE(comfy.sequence().empty());
    EXPECT_FALSE(folderExists(theme));
}

// A base and a mood as the player types them are stored as the tables spell them.
TEST_F(CreateTheme, BaseAndLightingAreReadWhateverTheirCase) {
    ComfyDouble comfy(madeScript());
    const std::wstring json = joinPath(theme, L"theme.json");
    ASSERT_EQ(create(comfy, {L"--theme-dir", theme, L"--make", L"Images", L"--theme-base", L"kaiju", L"--lighting",
                             L"golden-hour"}),
              0u);
    EXPECT_NE(readWholeFile(json).find("\"Base\": \"Kaiju\""), std::string::npos);
    EXPECT_NE(readWholeFile(json).find("\t\t\"Lighting\": \"Golden hour\""), std::string::npos);
    ASSERT_EQ(create(comfy, {L"--theme-dir", theme, L"--make", L"images", L"--lighting", L"MATCH"}), 0u);
    EXPECT_NE(readWholeFile(json).find("\t\t\"Lighting\": \"match\""), std::string::npos);
    EXPECT_TRUE(contains(newLogLines(),
                         L"Create theme: Lighting: Golden hour, as theme.json has it (a change made to "
                         L"it by hand stays; Make again writes it again)."));
}

}  // namespace

// Two servers (and one given twice) share the icons; one of them is switched
// off after its first prompt, so the other makes that file too.
TEST_F(CreateTheme, TwoServersShareTheIconsAndOneLostLeavesItsFileToTheOther) {
    const std::string picture = R"(,"prompts":[{"outputs":[{"node":"15","list":"images","filename":"p.png",)"
                                R"("make":"png"}]}]})";
    ComfyDouble first("{" + allModelFilesMember() + R"(,"generation_seconds":{"png":0.3})" + picture);
    ComfyDouble lost("{" + allModelFilesMember() + R"(,"stops_answering_at":2)" + picture);
    const std::wstring addresses = first.address() + L", " + lost.address() + L"/," + first.address();
    ASSERT_EQ(runToEnd(testKeyLauncher(),
                       launcherArguments({L"--auto", L"create-theme", L"--comfy", addresses, L"--theme-name",
                                          L"Sunken Harbour", L"--theme-style", L"drowned pirate port", L"--make",
                                          L"icons", L"--theme-dir", theme}),
                       600000),
              0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Create theme: Making with 2 ComfyUI servers side by side: " + first.address() +
                                    L", " + lost.address() + L"."));
    int onFirst = 0, onLost = 0, made = 0, leftOut = 0;
    for (const std::wstring& line : lines) {
        onFirst += line.starts_with(L"Create theme: Making Icons/") && line.ends_with(L" on " + first.address() + L"...");
        onLost += line.starts_with(L"Create theme: Making Icons/") && line.ends_with(L" on " + lost.address() + L"...");
        made += line.starts_with(L"Create theme:   made in ");
        leftOut += line.ends_with(lost.address() + L" is left out for the rest of the run; another server makes the "
                                                   L"file.");
    }
    EXPECT_EQ(onLost, 2) << "one made, one lost";
    EXPECT_EQ(leftOut, 1);
    EXPECT_EQ(made, onFirst + 1);
    EXPECT_GT(onFirst, 2);
    bool summary = false;
    for (const std::wstring& line : lines)
        summary = summary || (line.starts_with(L"Create theme: Made " + std::to_wstring(made) + L", kept 0, failed 0."));
    EXPECT_TRUE(summary);
    EXPECT_TRUE(fileExists(joinPath(theme, L"Icons\\Towers\\Splash.png")));
}
