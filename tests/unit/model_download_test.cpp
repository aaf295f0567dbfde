// Model downloads against the stand-in hub and ComfyUI: how the hub's answers
// are read, what is refused before anything is asked or downloaded, one run
// through every way a file can go wrong (kept as a golden report), and a stop
// carried on by the next run with a range request.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>

#include "comfy/model_download.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "core/transfer_meter.h"
#include "net/sha256.h"
#include "support/comfyui_double.h"
#include "support/hub_double.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const ModelFile kRow{"vae", "x.safetensors", "VAELoader", "vae_name", Models, "Org/repo", "p/x.safetensors"};

TEST(HubSizeText, RoundsToDecimalKilobytesThenMegabytesThenGigabytes) {
    const std::pair<long long, const wchar_t*> cases[] = {
        {0, L"0 KB"}, {1000, L"1 KB"}, {1500, L"2 KB"}, {999499, L"999 KB"}, {999500, L"1 MB"}, {1499999, L"1 MB"},
        {999499999, L"999 MB"}, {999500000, L"1000 MB"}, {1000000000, L"1.00 GB"},
        {1234567890123, L"1234.57 GB"}};
    for (const auto& [bytes, text] : cases) EXPECT_EQ(sizeText(bytes), text) << bytes;
}

TEST(HubResolve, ReadsEachFormOfTheHubsAnswer) {
    struct Case {
        const char* file;  // the file's script in the hub
        std::wstring error;
        long long size;
        bool fingerprint;
        const char* address;  // a part of the download address
        size_t heads;
    };
    const std::wstring page = L" its page, {hub}/Org/repo";
    const char* kStorage = "/Org/repo/p/x.safetensors@0?";
    const Case cases[] = {
        {R"({"size":1234,"etag":"\"ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789\""})", L"", 1234,
         true, kStorage, 1},
        {R"({"hops":3})", L"", 1000, true, kStorage, 4},
        {R"({"hops":4})", L"Hugging Face kept sending it elsewhere.", -1, false, "", 4},
        {R"({"answers":["small"],"size":77})", L"", 77, false, "{hub}/Org/repo/resolve/main/p/x.safetensors", 1},
        {R"({"answers":["cached"],"size":78})", L"", 78, false, "{hub}/api/resolve-cache/models/Org/repo/", 2},
        {R"({"etag":"\"abc\"","linked_size":"12x"})", L"", -1, false, kStorage, 1},
        {R"({"answers":["401"]})", L"Hugging Face wants a sign-in for it: get it from" + page, -1, false, "", 1},
        {R"({"answers":["403"]})", L"Hugging Face wants a sign-in for it: get it from" + page, -1, false, "", 1},
        {R"({"answers":["404"]})", L"Hugging Face hasn't it there any more: look on" + page, -1, false, "", 1},
        {R"({"answers":["500"]})", L"Hugging Face answered 500.", -1, false, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        HubDouble hub(std::string(R"({"files":{"Org/repo/p/x.safetensors":)") + c.file + "}}");
        ResolvedFile resolved;
        EXPECT_EQ(resolveModelFile(hub.address(), kRow, resolved), replaceEvery(c.error, L"{hub}", hub.address()));
        EXPECT_EQ(resolved.size, c.size);
        EXPECT_EQ(resolved.sha256.size(), c.fingerprint ? 64u : 0u);
        EXPECT_EQ(lowerCase(resolved.sha256), resolved.sha256);
        const std::wstring address = replaceEvery(toUtf16(c.address), L"{hub}", hub.address());
        if (address.empty()) EXPECT_EQ(resolved.url, L"");
        else EXPECT_NE(resolved.url.find(address), std::wstring::npos) << toUtf8(resolved.url);
        EXPECT_EQ(hub.sequence(), std::vector<std::string>(c.heads, "HEAD"));
    }
    ResolvedFile resolved;
    const std::wstring nowhere = unusedLocalServer();
    EXPECT_EQ(resolveModelFile(nowhere, kRow, resolved), L"Couldn't reach 127.0.0.1.");
}

// A test's ComfyUI models folder, a ComfyUI that keeps its models there and
// lists what lies in it, and a hub with the files of a script.
class HubModels : public ::testing::Test {
protected:
    TempFolder temp{L"vorlane-hub"};
    std::wstring models = temp.makeFolder(L"models");
    std::vector<std::wstring> lines;
    std::vector<std::wstring> questions;
    bool answer = true;
    std::function<bool()> pausing;  // the reporter's

    std::wstring folder(const char* name) const { return joinPath(models, toUtf16(name)); }
    std::string comfyScript(const std::string& leaveOut = "") const { return modelFoldersScript(models, leaveOut); }
    bool run(const ComfyDouble& comfy, const HubDouble& hub, unsigned kinds, const JobControl& control = {}) {
        ModelDownloadReporter reporter{[&](const std::wstring& line) { lines.push_back(line); },
                                       [&](const std::wstring& question) {
                                           questions.push_back(question);
                                           return answer;
                                       },
                                       control, pausing};
        return getModels(comfy.address(), kinds, reporter, hub.address());
    }
    // A ".part" of `bytes` that takes no time to make (the rest of the file is a hole).
    void makePart(const char* folderName, const char* file, long long bytes) {
        ASSERT_TRUE(makeFolderTree(folder(folderName)));
        const std::wstring path = joinPath(folder(folderName), toUtf16(file)) + L".part";
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = bytes;
        EXPECT_TRUE(SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle));
        CloseHandle(handle);
    }
};

const char kSoundsHub[] = R"({"files":{
    "Comfy-Org/stable-audio-3/checkpoints/stable_audio_3_small_sfx.safetensors":%s,
    "Comfy-Org/stable-audio-3/text_encoders/t5gemma_b_b_ul2.safetensors":%s}})";

std::string soundsHub(const std::string& first, const std::string& second) {
    std::string script = kSoundsHub;
    script.replace(script.find("%s"), 2, first);
    script.replace(script.find("%s"), 2, second);
    return script;
}

TEST_F(HubModels, RefusesBeforeAskingWhatItCantDo) {
    struct Case {
        const char* name;
        std::string comfy;
        std::string hub;
        std::wstring last;  // the last line reported
        bool otherAddress = false;
    };
    const std::wstring page = L"{hub}/Comfy-Org/stable-audio-3";
    const Case cases[] = {
        {"a ComfyUI that isn't on this PC", comfyScript(), soundsHub("{}", "{}"),
         L"Download models puts them in ComfyUI's own models folder, so it needs the ComfyUI on this PC. On the PC "
         L"ComfyUI runs on, get each from its page above.",
         true},
        {"a folder ComfyUI doesn't place", comfyScript("checkpoints"), soundsHub("{}", "{}"),
         L"ComfyUI didn't say where it keeps its checkpoints models (update ComfyUI, or get each from its page "
         L"above)."},
        {"a file the hub hasn't", comfyScript(), soundsHub("{}", R"({"answers":["404"]})"),
         L"Couldn't find t5gemma_b_b_ul2.safetensors on Hugging Face: Hugging Face hasn't it there any more: look on "
         L"its page, " + page},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lines.clear();
        ComfyDouble comfy(c.comfy);
        HubDouble hub(c.hub);
        std::wstring address = comfy.address();
        if (c.otherAddress) address = replaceEvery(address, L"127.0.0.1", L"127.0.0.2");
        ModelDownloadReporter reporter{[&](const std::wstring& line) { lines.push_back(line); },
                                       [&](const std::wstring& question) {
                                           questions.push_back(question);
                                           return true;
                                       }};
        EXPECT_FALSE(getModels(address, Sounds, reporter, hub.address()));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), replaceEvery(c.last, L"{hub}", hub.address()));
        EXPECT_TRUE(questions.empty());
        for (const HubRequest& asked : hub.requests()) EXPECT_EQ(asked.method, "HEAD");
        if (c.otherAddress) {
            EXPECT_TRUE(hub.requests().empty());
            EXPECT_EQ(comfy.sequence().back(), "GET /models/text_encoders");  // the check, and nothing after
        }
    }
}

TEST_F(HubModels, CountsAPartAsHereAlreadyAndNeedsOnlyTheRest) {
    makePart("checkpoints", "stable_audio_3_small_sfx.safetensors", 300000000);
    ComfyDouble comfy(comfyScript());
    {
        // 1 GB of which 300 MB is here: 700 MB more, on a disk too small for the second file.
        HubDouble hub(soundsHub(R"({"linked_size":"1000000000"})", R"({"linked_size":"1000000000000000"})"));
        EXPECT_FALSE(run(comfy, hub, Sounds));
        wchar_t volume[MAX_PATH + 1] = {};
        ASSERT_TRUE(GetVolumePathNameW(models.c_str(), volume, MAX_PATH + 1));
        ULARGE_INTEGER free{};
        ASSERT_TRUE(GetDiskFreeSpaceExW(volume, &free, nullptr, nullptr));
        const std::wstring start = L"That needs 1000000.70 GB free on " + std::wstring(volume) + L", and it has ";
        const std::wstring end = L" GB. Make room, then Download models again.";
        const std::wstring& said = lines.back();
        ASSERT_EQ(said.rfind(start, 0), 0u) << toUtf8(said);
        ASSERT_TRUE(endsWithIgnoringCase(said, end)) << toUtf8(said);
        const double gb = _wtof(said.substr(start.size()).c_str());
        EXPECT_NEAR(gb, free.QuadPart / 1e9, 1.0);  // others write to the same disk meanwhile
        EXPECT_TRUE(questions.empty());
    }
    HubDouble hub(soundsHub(R"({"linked_size":"1000000000"})", R"({"size":1000})"));
    answer = false;
    EXPECT_FALSE(run(comfy, hub, Sounds));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], L"Download 2 model file(s), 700 MB (300 MB of 1.00 GB is here already), from Hugging "
                            L"Face into ComfyUI's models folder (" + models + L")?\n\n"
                            L"  stable_audio_3_small_sfx.safetensors (1.00 GB)\n"
                            L"  t5gemma_b_b_ul2.safetensors (1 KB)\n\n"
                            L"Whose each is, and its licence, is on its page:\n  " +
                                hub.address() + L"/Comfy-Org/stable-audio-3");
    EXPECT_EQ(lines.back(), L"Nothing downloaded.");
    for (const HubRequest& asked : hub.requests()) EXPECT_EQ(asked.method, "HEAD");
}

// Every model file, each meeting its own trouble, against the kept report.
TEST_F(HubModels, ReportsEachWayAFileCanGoWrong) {
    ComfyDouble comfy(comfyScript());
    // The renamed repository, the small file, the expired address, the broken
    // connection, the address that can't be had again, and the four checks.
    HubDouble hub(R"({"files":{
        "Comfy-Org/z_image_turbo/split_files/diffusion_models/z_image_turbo_int8_convrot.safetensors":{"hops":2},
        "Comfy-Org/z_image_turbo/split_files/text_encoders/qwen_3_4b_fp8_mixed.safetensors":{"answers":["cached"]},
        "Comfy-Org/z_image_turbo/split_files/vae/ae.safetensors":{"expired":1},
        "Comfy-Org/BiRefNet/background_removal/birefnet.safetensors":{"size":4000,"cut":[1500]},
        "Comfy-Org/Pixal3D/diffusion_models/pixal3d_int8_convrot.safetensors":{"answers":["lfs","404"],"cut":[10]},
        "Comfy-Org/Pixal3D/vae/trellis_2_shape_vae_bf16.safetensors":{"serve":"bigger"},
        "Comfy-Org/Pixal3D/vae/trellis_2_texture_vae_bf16.safetensors":{"serve":"smaller"},
        "Comfy-Org/Pixal3D/clip_vision/dino_v3_L_naf_fp32.safetensors":{"serve":"wrong"},
        "Comfy-Org/MoGe/geometry_estimation/moge_2_vitl_normal_fp16.safetensors":{"serve":"wrong","etag":"\"x\""},
        "Comfy-Org/stable-audio-3/checkpoints/stable_audio_3_small_sfx.safetensors":{"expired":3},
        "Comfy-Org/stable-audio-3/text_encoders/t5gemma_b_b_ul2.safetensors":{},
        "Comfy-Org/ace_step_1.5_ComfyUI_files/split_files/diffusion_models/acestep_v1.5_turbo.safetensors":{},
        "Comfy-Org/ace_step_1.5_ComfyUI_files/split_files/text_encoders/qwen_0.6b_ace15.safetensors":{},
        "Comfy-Org/ace_step_1.5_ComfyUI_files/split_files/text_encoders/qwen_1.7b_ace15.safetensors":{},
        "Comfy-Org/ace_step_1.5_ComfyUI_files/split_files/vae/ace_1.5_vae.safetensors":{}}})");
    // Something else where the last file goes.
    ASSERT_TRUE(makeFolderTree(joinPath(folder("vae"), L"ace_1.5_vae.safetensors")));
    std::vector<double> fractions;
    EXPECT_FALSE(run(comfy, hub, Icons | Images | Models | Sounds | Music,
                     JobControl([&](double fraction, const std::wstring&) { fractions.push_back(fraction); })));

    std::wstring report;
    for (const std::wstring& line : lines) report += line + L"\n";
    report = replaceEvery(replaceEvery(replaceEvery(report, models, L"{models}"), hub.address(), L"{hub}"),
                          comfy.address(), L"{comfy}");
    const std::string golden = readWholeFile(sourceTreeFile(L"tests\\golden\\model_download.txt"));
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(toUtf8(report), golden);

    // The trouble-free and mended files are in place with the hub's bytes; a
    // ".part" is left only where the report says so.
    const std::pair<const char*, const char*> placed[] = {
        {"diffusion_models", "z_image_turbo_int8_convrot.safetensors"}, {"vae", "ae.safetensors"},
        {"background_removal", "birefnet.safetensors"}, {"geometry_estimation", "moge_2_vitl_normal_fp16.safetensors"}};
    for (const auto& [name, file] : placed) EXPECT_TRUE(fileExists(joinPath(folder(name), toUtf16(file)))) << file;
    const std::pair<const char*, bool> parts[] = {
        {"diffusion_models\\pixal3d_int8_convrot.safetensors", true},
        {"vae\\trellis_2_shape_vae_bf16.safetensors", false}, {"vae\\trellis_2_texture_vae_bf16.safetensors", true},
        {"clip_vision\\dino_v3_L_naf_fp32.safetensors", false}, {"vae\\ace_1.5_vae.safetensors", true}};
    for (const auto& [file, kept] : parts) EXPECT_EQ(fileExists(joinPath(models, toUtf16(file)) + L".part"), kept) << file;
    std::wstring fingerprint;
    ASSERT_TRUE(sha256File(joinPath(folder("background_removal"), L"birefnet.safetensors"), fingerprint));
    ResolvedFile birefnet;
    ASSERT_EQ(resolveModelFile(hub.address(), ModelFileTable[3], birefnet), L"");
    EXPECT_EQ(fingerprint, birefnet.sha256);
    ASSERT_FALSE(fractions.empty());
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));

    // The broken connection was carried on from where it broke.
    std::vector<std::string> birefnetGets;
    for (const HubRequest& asked : hub.requests())
        if (asked.server == "storage" && asked.path.find("birefnet") != std::string::npos)
            birefnetGets.push_back(asked.range);
    EXPECT_EQ(birefnetGets, (std::vector<std::string>{"", "bytes=1500-"}));
}

TEST_F(HubModels, AStopKeepsThePartAndTheNextRunCarriesOnFromIt) {
    ComfyDouble comfy(comfyScript());
    HubDouble hub(soundsHub(R"({"size":3145728})", "{}"));
    std::atomic<bool> stop{false};
    // The player stops once the first bytes are in.
    JobControl stopping([&](double fraction, const std::wstring&) { if (fraction > 0) stop = true; }, &stop);
    EXPECT_FALSE(run(comfy, hub, Sounds, stopping));
    EXPECT_EQ(lines.back(), L"Stopped. What's downloaded so far is kept: Download models carries on from there.");
    const std::wstring target = joinPath(folder("checkpoints"), L"stable_audio_3_small_sfx.safetensors");
    long long kept = 0;
    ASSERT_TRUE(fileSize(target + L".part", kept));
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 3145728);
    EXPECT_FALSE(fileExists(target));

    lines.clear();
    std::vector<std::wstring> sentences;
    JobControl watching([&](double, const std::wstring& sentence) { sentences.push_back(sentence); });
    EXPECT_TRUE(run(comfy, hub, Sounds, watching));
    EXPECT_EQ(lines.back(), L"It has every model file this needs.");
    // The status words count what this run fetched of what it had to, in thousands like the question.
    const std::wstring rest = sizeInWords(3145728 - kept, 1000);
    const std::wstring fetched = L"Downloading models\\checkpoints\\stable_audio_3_small_sfx.safetensors... " +
                                 rest.substr(0, rest.find(L' ')) + L" of " + rest;
    EXPECT_NE(std::find_if(sentences.begin(), sentences.end(),
                           [&](const std::wstring& sentence) { return sentence.rfind(fetched, 0) == 0; }),
              sentences.end())
        << toUtf8(fetched);
    const std::wstring carryOn = L"Downloading models\\checkpoints\\stable_audio_3_small_sfx.safetensors (3 MB), "
                                 L"carrying on from " + sizeText(kept) + L"...";
    EXPECT_NE(std::find(lines.begin(), lines.end(), carryOn), lines.end());
    EXPECT_FALSE(fileExists(target + L".part"));
    long long size = 0;
    EXPECT_TRUE(fileSize(target, size) && size == 3145728);
    const std::vector<HubRequest> asked = hub.requests();
    ASSERT_FALSE(asked.empty());
    std::vector<std::string> ranges;
    for (const HubRequest& request : asked)
        if (request.server == "storage" && request.path.find("stable_audio") != std::string::npos)
            ranges.push_back(request.range);
    EXPECT_EQ(ranges, (std::vector<std::string>{"", "bytes=" + std::to_string(kept) + "-"}));
}

// A stop that is a pause keeps the part as any stop does, and leaves the words to the caller.
TEST_F(HubModels, APauseKeepsThePartAndLeavesTheStopLineOut) {
    ComfyDouble comfy(comfyScript());
    HubDouble hub(soundsHub(R"({"size":3145728})", "{}"));
    std::atomic<bool> stop{false};
    pausing = [&] { return stop.load(); };
    JobControl pausingOnce([&](double fraction, const std::wstring&) { if (fraction > 0) stop = true; }, &stop);
    EXPECT_FALSE(run(comfy, hub, Sounds, pausingOnce));
    EXPECT_EQ(lines.back(), L"Downloading models\\checkpoints\\stable_audio_3_small_sfx.safetensors (3 MB)...");
    long long kept = 0;
    EXPECT_TRUE(fileSize(joinPath(folder("checkpoints"), L"stable_audio_3_small_sfx.safetensors.part"), kept));
    EXPECT_GT(kept, 0);
}

}  // namespace
