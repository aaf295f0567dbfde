// The ComfyUI check against the stand-in ComfyUI: which rows each kind walks,
// the folder-keyed fallback to /object_info, the device line and the report of
// missing files; the models folders; and refusals as the real ComfyUI words them.
#include <gtest/gtest.h>

#include <algorithm>

#include "comfy/comfy_check.h"
#include "core/json.h"
#include "core/text.h"
#include "support/comfyui_double.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

struct CheckCase {
    const char* name;
    unsigned kinds;
    std::string script;
    std::vector<std::wstring> missing;
    std::vector<std::string> asked;  // after GET /system_stats
};

TEST(ComfyCheck, WalksTheRowsOfTheKindsAskedAndAsksEachFolderOnce) {
    const std::vector<CheckCase> cases = {
        {"no kinds", 0, "{}", {}, {}},
        {"sounds: rows 10 and 11; a name in a subfolder doesn't count", Sounds,
         R"({"files":{"checkpoints":["stable_audio_3_small_sfx.safetensors"],
                      "text_encoders":["sub\\t5gemma_b_b_ul2.safetensors"]}})",
         {L"text_encoders\\t5gemma_b_b_ul2.safetensors"},
         {"GET /models/checkpoints", "GET /models/text_encoders"}},
        {"models: rows 1 to 9, folders it can't list answered by their loaders in each form", Models,
         R"({"files":{"diffusion_models":["z_image_turbo_int8_convrot.safetensors"],
                      "text_encoders":["qwen_3_4b_fp8_mixed.safetensors"],
                      "vae":["ae.safetensors","trellis_2_shape_vae_bf16.safetensors",
                             "trellis_2_texture_vae_bf16.safetensors"],
                      "clip_vision":["dino_v3_L_naf_fp32.safetensors"],
                      "background_removal":["birefnet.safetensors"]},
             "unlisted_folders":["background_removal","clip_vision","geometry_estimation"],
             "node_forms":{"CLIPVisionLoader":"bare"}, "missing_nodes":["LoadMoGeModel"]})",
         {L"diffusion_models\\pixal3d_int8_convrot.safetensors",
          L"geometry_estimation\\moge_2_vitl_normal_fp16.safetensors (and this ComfyUI has no LoadMoGeModel node: "
          L"update ComfyUI)"},
         {"GET /models/diffusion_models", "GET /models/text_encoders", "GET /models/vae",
          "GET /models/background_removal", "GET /object_info/LoadBackgroundRemovalModel", "GET /models/clip_vision",
          "GET /object_info/CLIPVisionLoader", "GET /models/geometry_estimation", "GET /object_info/LoadMoGeModel"}},
        {"sounds and music: the text encoders' list comes from the first loader of that folder", Sounds | Music,
         R"({"files":{"checkpoints":["stable_audio_3_small_sfx.safetensors"],
                      "text_encoders":["t5gemma_b_b_ul2.safetensors","qwen_0.6b_ace15.safetensors",
                                       "qwen_1.7b_ace15.safetensors"],
                      "diffusion_models":["acestep_v1.5_turbo.safetensors"],"vae":["ace_1.5_vae.safetensors"]},
             "unlisted_folders":["text_encoders"]})",
         {},
         {"GET /models/checkpoints", "GET /models/text_encoders", "GET /object_info/CLIPLoader",
          "GET /models/diffusion_models", "GET /models/vae"}},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        ComfyDouble comfy(c.script);
        std::vector<std::wstring> lines, missing;
        std::vector<const ModelFile*> rows;
        std::wstring version;
        EXPECT_TRUE(CheckComfy(comfy.address(), c.kinds, [&](const std::wstring& line) { lines.push_back(line); },
                               missing, &version, &rows));
        EXPECT_EQ(missing, c.missing);
        ASSERT_EQ(rows.size(), missing.size());
        std::vector<std::string> asked = {"GET /system_stats"};
        asked.insert(asked.end(), c.asked.begin(), c.asked.end());
        EXPECT_EQ(comfy.sequence(), asked);
        EXPECT_EQ(version, L"0.3.64");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], L"ComfyUI 0.3.64 answers at " + comfy.address() + L".");
        if (c.missing.empty()) {
            EXPECT_EQ(lines.back(), L"It has every model file this needs.");
            EXPECT_EQ(lines.size(), 2u);
        }
    }
}

TEST(ComfyCheck, ReportsTheMissingFilesWithTheirHubPages) {
    ComfyDouble comfy(R"({"files":{"checkpoints":[]},"unlisted_folders":["text_encoders"],
                          "missing_nodes":["CLIPLoader"]})");
    std::vector<std::wstring> lines, missing;
    ASSERT_TRUE(CheckComfy(comfy.address(), Sounds, [&](const std::wstring& line) { lines.push_back(line); }, missing));
    const std::vector<std::wstring> expected = {
        L"ComfyUI 0.3.64 answers at " + comfy.address() + L".",
        L"It's missing 2 model file(s). Download models gets them from Hugging Face; or get each from its page there "
        L"and put it in ComfyUI's models folder, in the folder named, then check again:",
        L"  models\\checkpoints\\stable_audio_3_small_sfx.safetensors, from "
        L"https://huggingface.co/Comfy-Org/stable-audio-3",
        L"  models\\text_encoders\\t5gemma_b_b_ul2.safetensors (and this ComfyUI has no CLIPLoader node: update "
        L"ComfyUI), from https://huggingface.co/Comfy-Org/stable-audio-3",
    };
    EXPECT_EQ(lines, expected);
}

// A folder ComfyUI can't list whose loader it can't describe either: the file
// is neither there nor missing, and the check says so and goes on.
TEST(ComfyCheck, AFolderItCantListOrDescribeIsSaidAndPassedOver) {
    ComfyDouble comfy(R"({"files":{"checkpoints":["stable_audio_3_small_sfx.safetensors"]},
                          "unlisted_folders":["text_encoders"],"broken_nodes":["CLIPLoader"]})");
    std::vector<std::wstring> lines, missing;
    ASSERT_TRUE(CheckComfy(comfy.address(), Sounds, [&](const std::wstring& line) { lines.push_back(line); }, missing));
    EXPECT_TRUE(missing.empty());
    EXPECT_TRUE(std::count(lines.begin(), lines.end(),
                           L"Couldn't tell whether ComfyUI has models\\text_encoders\\t5gemma_b_b_ul2.safetensors."));
    EXPECT_EQ(comfy.sequence(), (std::vector<std::string>{"GET /system_stats", "GET /models/checkpoints",
                                                          "GET /models/text_encoders", "GET /object_info/CLIPLoader"}));
}

TEST(ComfyCheck, NamesTheCardAndItsMemoryOrSaysWhyComfyIsntAnswering) {
    struct Case {
        std::string script;
        bool answers;
        std::wstring line;  // after "ComfyUI ", with @ for the address
    };
    const std::vector<Case> cases = {
        {R"({"devices":[]})", true, L"0.3.64 answers at @."},
        {R"({"devices":[{"name":"cpu","vram_total":0}]})", true, L"0.3.64 answers at @, on cpu."},
        {R"({"version":"0.4.1","devices":[{"name":"cuda:0 NVIDIA GeForce RTX 4070 : cudaMallocAsync",
             "vram_total":12884901888},{"name":"cpu","vram_total":0}]})",
         true, L"0.4.1 answers at @, on cuda:0 NVIDIA GeForce RTX 4070 : cudaMallocAsync (12 GB)."},
        {R"({"version":"","devices":[{"name":"Card","vram_total":8000000000}]})", true, L"answers at @, on Card (7 GB)."},
        {R"({"stats":{"status":500,"body":"Internal Server Error"}})", false,
         L"isn't answering at @ (it answered 500). Start Comfy Desktop first, and check the address."},
        {R"({"stats":{"status":200,"body":"[]"}})", false,
         L"isn't answering at @ (it answered 200). Start Comfy Desktop first, and check the address."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ComfyDouble comfy(c.script);
        std::vector<std::wstring> lines, missing{L"left over"};
        EXPECT_EQ(CheckComfy(comfy.address(), 0, [&](const std::wstring& line) { lines.push_back(line); }, missing),
                  c.answers);
        std::wstring expected = L"ComfyUI " + c.line;
        expected.replace(expected.find(L'@'), 1, comfy.address());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], expected);
        EXPECT_TRUE(missing.empty());
        if (!c.answers) {
            EXPECT_EQ(comfy.sequence(), std::vector<std::string>{"GET /system_stats"});
        }
    }
    std::vector<std::wstring> lines, missing;
    EXPECT_FALSE(CheckComfy(L"http://127.0.0.1:1", 0, [&](const std::wstring& line) { lines.push_back(line); }, missing));
    EXPECT_EQ(lines, std::vector<std::wstring>{L"ComfyUI isn't answering at http://127.0.0.1:1 (nothing answered at "
                                               L"127.0.0.1:1). Start Comfy Desktop first, and check the address."});
}

TEST(ComfyCheck, FindsTheFolderNamedLikeItsKindOrElseTheFirst) {
    ComfyDouble comfy(R"({"folder_paths":{
        "diffusion_models":["C:\\ComfyUI\\models\\unet","C:\\ComfyUI\\models\\diffusion_models\\"],
        "vae":["D:\\models\\other","D:\\models\\more"], "checkpoints":["C:\\"], "clip_vision":[]}})");
    const std::map<std::string, std::wstring> expected = {
        {"diffusion_models", L"C:\\ComfyUI\\models\\diffusion_models"},
        {"vae", L"D:\\models\\other"},
        {"checkpoints", L"C:\\"},
    };
    EXPECT_EQ(FindModelFolders(comfy.address()), expected);
    EXPECT_TRUE(FindModelFolders(L"http://127.0.0.1:1").empty());
}

TEST(ComfyRefusal, ExplainsRefusalsAsComfyWordsThem) {
    struct Case {
        unsigned status;
        std::string body;
        std::wstring sentence;
    };
    const std::vector<Case> cases = {
        {400,
         R"({"error":{"type":"prompt_outputs_failed_validation","message":"Prompt outputs failed validation",
             "details":"","extra_info":{}},
             "node_errors":{"1":{"errors":[{"type":"value_not_in_list","message":"Value not in list",
               "details":"unet_name: 'z.safetensors' not in ['a.safetensors']\n","extra_info":{}}],
               "dependent_outputs":["15"],"class_type":"UNETLoader"}}})",
         L"Prompt outputs failed validation; UNETLoader: Value not in list: unet_name: 'z.safetensors' not in "
         L"['a.safetensors'] (a model file ComfyUI hasn't: Check ComfyUI lists what's missing)"},
        {400, "", L"it answered 400."},
        {400,
         R"({"error":{"type":"invalid_prompt","message":"Cannot execute because node Pixal3D does not exist.",
             "details":"Node ID '#7'","extra_info":{}},"node_errors":{}})",
         L"Cannot execute because node Pixal3D does not exist. (Node ID '#7') (this ComfyUI hasn't that node: update "
         L"ComfyUI)"},
        {400,
         R"({"error":{"type":"missing_node_type","message":"Node 'Pixal3D' not found. The custom node may not be installed.",
             "details":"Node ID '#7'","extra_info":{}},"node_errors":{}})",
         L"Node 'Pixal3D' not found. The custom node may not be installed. (Node ID '#7') (this ComfyUI hasn't that "
         L"node: update ComfyUI)"},
        {500, "500 Internal\r\n  Server Error\n", L"it answered 500: 500 Internal Server Error"},
        {200, R"({"number":3,"node_errors":{}})", L"it answered 200."},
        {400, R"({"error":"no prompt","node_errors":{}})", L"no prompt"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExplainRefusal(c.status, c.body), c.sentence) << c.body;
}

}  // namespace
