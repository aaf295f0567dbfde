// The picture, 3D model, sound and music workflow graphs: their shape as the
// launcher's JSON reader sees it, and the kept golden graphs byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "comfy/audio_graphs.h"
#include "comfy/model_graph.h"
#include "comfy/picture_graph.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "themes/sound_params.h"
#include "themes/subjects.h"

namespace vorlane {
namespace {

// The graph parses, its nodes come in the order of `ids`, each with a class
// and inputs, and every link names a node added before it.
void expectGraph(const std::string& text, const std::vector<std::string>& ids) {
    JsonValue graph;
    ASSERT_TRUE(parseDocument(text, graph)) << text;
    std::vector<std::string> seen;
    for (const auto& [id, node] : graph.members) {
        EXPECT_EQ(member(node, "class_type").kind, JsonKind::String) << id;
        EXPECT_EQ(member(node, "inputs").kind, JsonKind::Object) << id;
        for (const auto& [name, value] : member(node, "inputs").members) {
            if (value.kind != JsonKind::Array) continue;
            ASSERT_EQ(value.items.size(), 2u) << id << "." << name;
            EXPECT_EQ(value.items[1].kind, JsonKind::Number) << id << "." << name;
            EXPECT_NE(std::find(seen.begin(), seen.end(), value.items[0].text), seen.end())
                << id << "." << name << " links to " << value.items[0].text;
        }
        seen.push_back(id);
    }
    EXPECT_EQ(seen, ids);
}

std::string inputOf(const std::string& text, const char* node, const char* input) {
    JsonValue graph;
    parseDocument(text, graph);
    const JsonValue& value = member(member(member(graph, node), "inputs"), input);
    return value.kind == JsonKind::Array ? value.items[0].text : value.text;
}

std::string golden(const wchar_t* name) {
    return readWholeFile(testing::sourceTreeFile(std::wstring(L"tests\\golden\\") + name));
}

TEST(PictureGraph, SizesFromFormats) {
    const struct {
        const wchar_t* format;
        int outputWidth, outputHeight, width, height;  // all 0: no usable size
    } cases[] = {
        {L"512x512 PNG", 512, 512, 1024, 1024},
        {L"2048 x 1024 PNG", 2048, 1024, 2048, 1024},
        {L"1920x1080 PNG", 1920, 1080, 1920, 1088},
        {L"4096x4096", 4096, 4096, 1456, 1456},
        {L"256X128", 256, 128, 1024, 512},
        {L"0x512", 0, 0, 0, 0},
        {L"5000x10", 0, 0, 0, 0},
        {L"PNG, 16-bit grey", 0, 0, 0, 0},
        {L"", 0, 0, 0, 0},
        {L"99999999999999999999x1", 0, 0, 0, 0},
        {L"0x512 or 64  x\t32, then 64x64", 64, 64, 1024, 1024},  // 0 doesn't count; a tab isn't a blank
        {L"v2 100x50", 100, 50, 1024, 512},
        {L"8x4096", 8, 4096, 16, 4096},  // never narrower than 16
    };
    for (const auto& c : cases) {
        const std::optional<PictureSize> s = PictureSizes(c.format);
        const std::vector<int> got =
            s ? std::vector<int>{s->outputWidth, s->outputHeight, s->width, s->height} : std::vector<int>{0, 0, 0, 0};
        EXPECT_EQ(got, std::vector<int>({c.outputWidth, c.outputHeight, c.width, c.height})) << toUtf8(c.format);
    }
}

// (The cut-out picture graph is a golden one, below.)
TEST(PictureGraph, WithoutCutOutTheMadePictureIsScaled) {
    const std::string plain = BuildPictureGraph(L"a road", {1920, 1080, 1920, 1088}, false, LLONG_MIN, L"p");
    expectGraph(plain, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "14", "15"});
    EXPECT_EQ(inputOf(plain, "14", "image"), "9");
    EXPECT_EQ(inputOf(plain, "8", "seed"), "-9223372036854775808");
}

TEST(ModelGraph, OneSeedFixesEverySampler) {
    const struct {
        long long seed;
        const char* expected[5];  // the picture's, then samplers "3", "18", "23" and "12"
    } cases[] = {{0, {"0", "56", "42", "42", "43"}},
                 {-100, {"-100", "-44", "-58", "-58", "-57"}},
                 {LLONG_MAX,
                  {"9223372036854775807", "-9223372036854775753", "-9223372036854775767", "-9223372036854775767",
                   "-9223372036854775766"}}};
    for (const auto& c : cases) {
        const std::string graph = Build3DModelGraph(L"a tower", c.seed, L"p", 20000);
        const char* nodes[] = {"z8", "3", "18", "23", "12"};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(inputOf(graph, nodes[i], "seed"), c.expected[i]) << c.seed << " " << nodes[i];
    }
}

ThemeSlot audioSlot(const wchar_t* kind, const wchar_t* format, const wchar_t* prompt) {
    ThemeSlot slot;
    slot.Kind = kind;
    slot.Format = format;
    slot.Prompt = prompt;
    return slot;
}

// One of each graph, from a slot to the text ComfyUI gets, as kept in
// tests/golden, and the order of its nodes.
TEST(GraphGoldens, EachGraphByteForByte) {
    const std::optional<PictureSize> icon = PictureSizes(L"256x256 PNG");
    ASSERT_TRUE(icon.has_value());
    const std::string picture =
        BuildPictureGraph(L"A colourful game icon of a \"fire\" mage, pirate, bold simple shapes, no text.", *icon,
                          true, -5, L"Vorlane/Pirates/Icons_Tower_Fire");
    EXPECT_EQ(picture, golden(L"picture_graph.json"));
    expectGraph(picture, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15"});

    const std::string model = Build3DModelGraph(
        L"a Single Target tower, only one, on its own, whole and fully in view, pirate, 3D game asset", 7,
        L"Vorlane/Pirates/Models_Tower_SingleTarget", 20000);
    EXPECT_EQ(model, golden(L"model_graph.json"));
    expectGraph(model,
                {"z1",  "z2",  "z3", "z4",  "z5",  "z6",  "z7",  "z8",  "z9",  "z10", "193", "192", "312", "55",
                 "56",  "242", "15", "298", "319", "117", "118", "199", "125", "108", "87",  "3",   "119", "91",
                 "279", "126", "18", "94",  "23",  "92",  "98",  "12",  "93",  "241", "186", "238", "252", "400"});

    const ThemeSlot coins = audioSlot(L"Sound", L"WAV, 48 kHz, stereo, 0.5-1 s", L"Coins {theme}...");
    const SoundParams sound = MakeSoundParams(coins);
    const std::string soundGraph =
        BuildSoundGraph(SoundPrompt(coins, L"pirate", sound.generateSeconds, false), sound.generateSeconds,
                        1234567890123, L"Vorlane/Pirates/Sounds_Coins");
    EXPECT_EQ(soundGraph, golden(L"sound_graph.json"));
    expectGraph(soundGraph, {"1", "2", "3", "4", "5", "6", "7", "30"});

    const ThemeSlot harbour =
        audioSlot(L"Music", L"WAV, 48 kHz, stereo, 60-90 s", L" calm {theme} harbour music, accordion and strings\n");
    const SoundParams music = MakeSoundParams(harbour);
    const std::string musicGraph = BuildMusicGraph(MusicPrompt(harbour, L"pirate"), music.generateSeconds, music.tempo,
                                                   MusicKey(-1), -1, L"Vorlane/Pirates/Music_Harbour");
    EXPECT_EQ(musicGraph, golden(L"music_graph.json"));
    expectGraph(musicGraph, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "30"});
}

}  // namespace
}  // namespace vorlane
