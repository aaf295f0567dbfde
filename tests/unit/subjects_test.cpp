// The theme's subjects from the slot list, and the words of every prompt.
#include <gtest/gtest.h>

#include <tuple>

#include "core/text.h"
#include "themes/subjects.h"

namespace vorlane {
namespace {

ThemeSlot slotOf(const wchar_t* kind, const wchar_t* target, const wchar_t* name = L"", const wchar_t* file = L"",
                 const wchar_t* prompt = L"", const wchar_t* category = L"") {
    ThemeSlot slot;
    slot.Kind = kind;
    slot.Target = target;
    slot.Name = name;
    slot.File = file;
    slot.Prompt = prompt;
    slot.Category = category;
    return slot;
}

TEST(Subjects, KeysFromTargets) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {{L"SummonVisuals.Mesh", L"Summon"},
                                                               {L"TrapVisuals.Icon", L"Trap"},
                                                               {L"HomeBase.Mesh", L"HomeBase"},
                                                               {L"TowerVisuals[Fire_Mage2].Mesh", L"Tower_Fire_Mage2"},
                                                               {L"EnemyVisuals[Grunt]", L"Enemy_Grunt"},
                                                               {L"Foliage[Pine].Mesh", L"Foliage_Pine"},
                                                               {L"TowerVisuals[Fire Mage].Mesh", L""},
                                                               {L"TowerVisuals[]", L""},
                                                               {L"TowerVisuals]x[", L""},
                                                               {L"Towers[Splash]", L""},
                                                               {L"EnemyVisuals[Orc]x]", L"Enemy_Orc"},
                                                               {L"TowerVisuals[Ünï]", L""},
                                                               {L"SummonVisuals", L""},
                                                               {L"", L""}};
    for (const auto& [target, key] : cases) EXPECT_EQ(SubjectKey(target), key) << toUtf8(target);
}

TEST(Subjects, NamesDescriptionsAndModelPaths) {
    const std::vector<ThemeSlot> slots = {
        slotOf(L"Model", L"EnemyVisuals[Shaman].Mesh", L"Shaman model", L"Models/x.fbx", L"a shaman, {theme}"),
        slotOf(L"Icon", L"EnemyVisuals[Shaman].Icon", L"Orc Shaman: icon"),
        slotOf(L"Model", L"Foliage[Pine].Mesh", L"Pine Tree", L"models/X.GLB"),
        slotOf(L"Icon", L"TowerVisuals[SingleTarget].Icon", L"Single Target: icon"),
        slotOf(L"Sound", L"TowerVisuals[Burn].Fire", L"Burn: shot"),
        slotOf(L"Model", L"TowerVisuals[Ice].Mesh", L": model", L"../Ice.glb"),
        slotOf(L"Icon", L"SummonVisuals.Icon", L"Golem"),
        slotOf(L"Model", L"TrapVisuals.Mesh"),
        slotOf(L"Model", L"HomeBase.Mesh", L"Keep", L".glb"),
        slotOf(L"Icon", L"EnemyVisuals[Imp].Icon", L"Imp"),
    };
    const std::vector<ThemeSubject> subjects = BuildSubjects(slots);
    const struct {
        const wchar_t *key, *name, *description, *modelPath;
    } expected[] = {
        {L"Enemy_Shaman", L"Orc Shaman", L"an Orc Shaman enemy", L"Models/Enemy_Shaman.glb"},
        {L"Foliage_Pine", L"Pine Tree", L"a pine tree", L"models/X.GLB"},
        {L"Tower_SingleTarget", L"Single Target", L"a Single Target tower", L"Models/Tower_SingleTarget.glb"},
        {L"Tower_Ice", L"Ice", L"an Ice tower", L"Models/Tower_Ice.glb"},
        {L"Summon", L"Golem", L"a summoned ally", L"Models/Summon.glb"},
        {L"Trap", L"Trap", L"a trap on the road", L"Models/Trap.glb"},
        {L"HomeBase", L"Keep", L"a grand home base", L"Models/HomeBase.glb"},
        {L"Enemy_Imp", L"Imp", L"an Imp enemy", L"Models/Enemy_Imp.glb"},
    };
    ASSERT_EQ(subjects.size(), std::size(expected));
    for (size_t i = 0; i < subjects.size(); ++i) {
        const ThemeSubject& s = subjects[i];
        EXPECT_EQ((std::vector<std::wstring>{s.Key, s.Name, s.DefaultWhatItIs, s.WhatItIs, s.ModelPath}),
                  (std::vector<std::wstring>{expected[i].key, expected[i].name, expected[i].description,
                                             expected[i].description, expected[i].modelPath}));
    }
    EXPECT_EQ(subjects[0].ModelSlotPrompt, L"a shaman, {theme}");
    EXPECT_EQ(KindWord(L"HomeBase"), L"Chaos maps");
    EXPECT_EQ(KindWord(L"Summon"), L"ally");
    EXPECT_EQ(ThemeSection(L"Foliage_Pine").member, "Pine");
    EXPECT_EQ(ThemeSection(L"Trap").group, "");
    EXPECT_TRUE(HasOwnModelSlot(subjects[1], slots));
    EXPECT_FALSE(HasOwnModelSlot(subjects[0], slots));
}

TEST(Subjects, PictureAndModelPrompts) {
    const std::vector<ThemeSlot> slots = {
        slotOf(L"Icon", L"TowerVisuals[Railgun].Icon", L"Railgun", L"", L"{theme} gun, transparent background"),
        slotOf(L"Model", L"Foliage[Pine].Mesh", L"Pine", L"Models/Pine.glb", L"a pine, {theme}"),
        slotOf(L"Image", L"Ground.Albedo", L"Ground", L"", L"{theme} soil", L"Surfaces")};
    std::vector<ThemeSubject> subjects = BuildSubjects(slots);
    ASSERT_EQ(subjects.size(), 2u);
    const std::wstring front =
        L"seen from the front and slightly above, its front (its barrel, face or weapon) pointing straight at the "
        L"viewer";
    const std::wstring symmetric =
        L"three-quarter view from slightly above, symmetrical, looking the same from every side";
    EXPECT_EQ(ViewPhrase(L"Tower_Railgun", {}), front);
    EXPECT_EQ(ViewPhrase(L"Tower_Railgun", {{L"Railgun", false}}), symmetric);
    EXPECT_EQ(ViewPhrase(L"Tower_Frost", {{L"Frost", true}}), front);
    EXPECT_EQ(ViewPhrase(L"Tower_Frost", {}), symmetric);
    EXPECT_EQ(ViewPhrase(L"Enemy_Grunt", {}), L"three-quarter view from slightly above");

    EXPECT_EQ(PicturePrompt(slots[0], subjects, L"icy {theme}", L"snow"),
              L"icy {theme} gun, isolated on a plain flat background");
    EXPECT_EQ(PicturePrompt(slots[2], subjects, L"icy", L"snow"), L"snow soil");
    EXPECT_EQ(PicturePrompt(slots[2], subjects, L"icy", L""), L"icy soil");
    EXPECT_EQ(ModelPrompt(subjects[1], L"icy", {}), L"a pine, icy");
    EXPECT_EQ(ModelPrompt(subjects[0], L"icy", {}),
              L"a Railgun tower, only one, on its own, whole and fully in view, " + front +
                  L", icy, 3D game asset, soft even lighting, plain light grey background, centred, no text.");
    EXPECT_EQ(ChecklistModelSlot(subjects[0], {}).Prompt,
              L"a Railgun tower, only one, on its own, whole and fully in view, " + front +
                  L", {theme}, 3D game asset, soft even lighting, plain light grey background, centred, no text.");

    subjects[0].WhatItIs = L"a rail cannon";
    subjects[1].WhatItIs = L"a tall pine";
    EXPECT_EQ(PicturePrompt(slots[0], subjects, L"icy", L""),
              L"A colourful game icon of a rail cannon, icy, bold simple shapes, clean dark outline, full colour, no "
              L"text, centred, isolated on a plain flat background.");
    EXPECT_EQ(ModelPrompt(subjects[1], L"icy", {}).substr(0, 59),
              L"a tall pine, only one, on its own, whole and fully in view,");
    subjects[1].WhatItIs = subjects[1].DefaultWhatItIs;  // the default again counts as unchanged
    EXPECT_EQ(ModelPrompt(subjects[1], L"icy", {}), L"a pine, icy");
}

TEST(Subjects, SoundAndMusicWords) {
    const ThemeSlot coins = slotOf(L"Sound", L"", L"Coins", L"", L"Coins {theme}...");
    EXPECT_EQ(SoundPrompt(coins, L"pirate", 1.0, false), L"Coins pirate. Length: 1 second. TrackType: SFX");
    EXPECT_EQ(SoundPrompt(coins, L"pirate", 3.99, true),
              L"Coins pirate, warm and low-pitched, with no shrill or piercing high tones. Length: 3 seconds. "
              L"TrackType: SFX");
    EXPECT_EQ(MusicPrompt(slotOf(L"Music", L"", L"", L"", L"  calm {theme} waltz \n"), L"pirate"),
              L"calm pirate waltz");
    EXPECT_EQ(ShownPrompt(coins, L""), L"Coins your theme's...");
    const std::pair<long long, const wchar_t*> keys[] = {{-1, L"B minor"}, {0, L"A minor"}, {7, L"A minor"},
                                                         {14, L"A minor"}, {1, L"D minor"}, {-7, L"A minor"}};
    for (const auto& [seed, key] : keys) EXPECT_EQ(MusicKey(seed), key) << seed;
}

TEST(Subjects, MakeWords) {
    const std::tuple<const wchar_t*, unsigned, const wchar_t*> cases[] = {
        {L"Icons, MUSIC", 17, L""},
        {L"icons,,music", 17, L""},
        {L" models ,\tsounds, ", 12, L""},
        {L"images,images", 2, L""},
        {L"icons, 3d", 0, L"--make takes icons, images, models, sounds and music (with commas between), not 3d."},
        {L"Icon", 0, L"--make takes icons, images, models, sounds and music (with commas between), not icon."}};
    for (const auto& [text, kinds, message] : cases) {
        const MakeKindsWords parsed = ParseMakeKinds(text);
        EXPECT_EQ(parsed.kinds, kinds) << toUtf8(text);
        EXPECT_EQ(parsed.message, message) << toUtf8(text);
    }
}

}  // namespace
}  // namespace vorlane
