// The get-models command run for real against the stand-in ComfyUI and hub:
// the sound models fetched into ComfyUI's folders and checked there, with the
// question answered in the log; and a --make it can't read.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "net/sha256.h"
#include "support/comfyui_double.h"
#include "support/hub_double.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

class HubGetModelsCommand : public ::testing::Test {
protected:
    TempFolder temp{L"vorlane-get-models"};
    std::wstring root = temp.file(L"Root");
    std::wstring models = temp.makeFolder(L"models");

    DWORD run(const std::vector<std::wstring>& more) {
        std::vector<std::wstring> arguments{L"--root", root, L"--server", unusedLocalServer(), L"--auto",
                                            L"get-models"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return runToEnd(testKeyLauncher(), arguments);
    }
    // The log from the command's first line on.
    std::vector<std::wstring> report() {
        std::vector<std::wstring> lines = logMessages(root);
        auto first = std::find_if(lines.begin(), lines.end(),
                                  [](const std::wstring& line) { return line.starts_with(L"Download models: "); });
        return std::vector<std::wstring>(first, lines.end());
    }
};

}  // namespace

TEST_F(HubGetModelsCommand, FetchesTheSoundModelsAndExitsWithZero) {
    ComfyDouble comfy(modelFoldersScript(models));
    HubDouble hub(R"({"files":{
        "Comfy-Org/stable-audio-3/checkpoints/stable_audio_3_small_sfx.safetensors":{"size":2500000},
        "Comfy-Org/stable-audio-3/text_encoders/t5gemma_b_b_ul2.safetensors":{"answers":["cached"],"size":1500}}})");
    EXPECT_EQ(run({L"--comfy", comfy.address() + L"/", L"--make", L" Sounds ", L"--models-from", hub.address()}), 0u);

    const std::wstring page = hub.address() + L"/Comfy-Org/stable-audio-3";
    const std::wstring checkpoint = joinPath(models, L"checkpoints\\stable_audio_3_small_sfx.safetensors");
    const std::vector<std::wstring> expected = {
        L"Download models: ComfyUI 0.3.64 answers at " + comfy.address() + L".",
        L"Download models: It's missing 2 model file(s). Download models gets them from Hugging Face; or get each "
        L"from its page there and put it in ComfyUI's models folder, in the folder named, then check again:",
        // The pages named are those of the base the files come from.
        L"Download models:   models\\checkpoints\\stable_audio_3_small_sfx.safetensors, from " + page,
        L"Download models:   models\\text_encoders\\t5gemma_b_b_ul2.safetensors, from " + page,
        L"Download models: Asked (and --auto says yes): Download 2 model file(s), 3 MB, from Hugging Face into "
        L"ComfyUI's models folder (" + models + L")?",
        L"",
        L"  stable_audio_3_small_sfx.safetensors (3 MB)",
        L"  t5gemma_b_b_ul2.safetensors (2 KB)",
        L"",
        L"Whose each is, and its licence, is on its page:",
        L"  " + page,
        L"Download models: Downloading 2 model file(s) from Hugging Face, 3 MB in all.",
        L"Download models: Downloading models\\checkpoints\\stable_audio_3_small_sfx.safetensors (3 MB)...",
        L"Download models:   Checking it...",
        L"Download models:   Got it: models\\checkpoints\\stable_audio_3_small_sfx.safetensors",
        L"Download models: Downloading models\\text_encoders\\t5gemma_b_b_ul2.safetensors (2 KB)...",
        L"Download models:   Got it: models\\text_encoders\\t5gemma_b_b_ul2.safetensors",
        L"Download models: ComfyUI 0.3.64 answers at " + comfy.address() + L".",
        L"Download models: It has every model file this needs.",
        L"Done (get-models, exit 0, installed: nothing).",
    };
    EXPECT_EQ(report(), expected);
    long long size = 0;
    EXPECT_TRUE(fileSize(checkpoint, size) && size == 2500000);
    EXPECT_FALSE(fileExists(checkpoint + L".part"));
    EXPECT_TRUE(fileExists(joinPath(models, L"text_encoders\\t5gemma_b_b_ul2.safetensors")));
}

TEST_F(HubGetModelsCommand, RefusesMakeWordsItDoesntKnow) {
    EXPECT_EQ(run({L"--comfy", unusedLocalServer(), L"--make", L"icons,, 3D"}), 1u);
    EXPECT_EQ(report(), (std::vector<std::wstring>{
                            L"Download models: --make takes icons, images, models, sounds and music (with commas "
                            L"between), not 3d.",
                            L"Done (get-models, exit 1, installed: nothing).",
                        }));
}
