// The theme creation job on the stand-in ComfyUI: stopping it, losing
// ComfyUI, models in shards, the audio retries, an unusable slot, what a run
// keeps of theme.json and the summary when only theme.json can't be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

#include "comfy/comfy_check.h"
#include "core/files.h"
#include "core/text.h"
#include "support/comfyui_double.h"
#include "support/rename_lock.h"
#include "support/temp_folder.h"
#include "media/glb_model.h"
#include "themes/theme_job.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

ThemeSlot slotOf(const wchar_t* id, const wchar_t* kind, const wchar_t* file, const wchar_t* format,
                 const wchar_t* target = L"", bool loops = false) {
    ThemeSlot slot;
    slot.Id = id;
    slot.Kind = kind;
    slot.File = file;
    slot.Format = format;
    slot.Target = target;
    slot.Prompt = L"a {theme} thing";
    slot.Loops = loops;
    return slot;
}

struct JobRun {
    bool complete = false;
    std::vector<std::wstring> lines;
};

class ComfyThemeJob : public ::testing::Test {
protected:
    JobRun run(const ComfyDouble& comfy, unsigned kinds, std::vector<ThemeSlot> slots,
               const std::wstring& stopAtLine = L"", long long seed = 1) {
        ThemeJob job;
        job.Seed = seed;
        job.ComfyAddress = comfy.address();
        job.Folder = folder.path();
        job.FolderName = job.Name = L"Reef";
        job.Style = L"coral";
        job.Kinds = kinds;
        job.Slots = std::move(slots);
        job.Subjects = BuildSubjects(job.Slots);
        JobRun result;
        std::atomic<bool> stop{false};
        ThemeJobReporter reporter;
        reporter.stop = &stop;
        reporter.log = [&](const std::wstring& line) {
            result.lines.push_back(line);
            if (!stopAtLine.empty() && line == stopAtLine) stop = true;
        };
        result.complete = RunThemeJob(job, reporter);
        return result;
    }

    static std::string script(const std::string& prompts) {
        return "{" + allModelFilesMember() + R"(,"prompts":[)" + prompts + "]}";
    }

    TempFolder folder;
};

const char kPicture[] = R"({"outputs":[{"node":"15","list":"images","filename":"p.png","make":"png"}]})";
const std::vector<ThemeSlot> kTwoIcons = {slotOf(L"Icon_A", L"Icon", L"Icons/A.png", L"64x64 PNG"),
                                          slotOf(L"Icon_B", L"Icon", L"Icons/B.png", L"64x64 PNG")};

TEST_F(ComfyThemeJob, AStopDuringTheFirstFileLeavesAnIncompleteTheme) {
    ComfyDouble comfy(script(std::string(R"({"history":["pending","pending","pending"],"outputs":[)") +
                             R"({"node":"15","list":"images","filename":"p.png","make":"png"}]})"));
    const JobRun run = this->run(comfy, Icons, kTwoIcons, L"Making Icons/A.png...");
    EXPECT_FALSE(run.complete);
    EXPECT_TRUE(std::count(run.lines.begin(), run.lines.end(),
                           L"Stopped. What's made is kept: Create again makes what's missing."));
    EXPECT_EQ(run.lines.back(),
              L"Made 0, kept 0, failed 0. Create again to make what's missing (what's there is kept).");
    const std::vector<std::string> asked = comfy.sequence();
    EXPECT_EQ(std::vector<std::string>(asked.end() - 3, asked.end()),
              (std::vector<std::string>{"POST /prompt", "POST /queue", "POST /interrupt"}));
    EXPECT_NE(readWholeFile(folder.file(L"theme.json")).find("\"Complete\": false"), std::string::npos);
}

TEST_F(ComfyThemeJob, ComfyUIGoingAwayEndsTheRunAndAnUnusableSlotCountsAsFailed) {
    std::vector<ThemeSlot> slots = kTwoIcons;
    slots.insert(slots.begin(), slotOf(L"Icon_C", L"Icon", L"Icons/C.png", L"PNG"));
    ComfyDouble comfy(
        script(std::string(kPicture) + R"(,{"history":[)" +
               R"("silent","silent","silent","silent","silent","silent","silent","silent","silent","silent"]})"));
    const JobRun run = this->run(comfy, Icons, slots);
    EXPECT_FALSE(run.complete);
    for (const wchar_t* line :
         {L"Skipped Icon_C: its file isn't a path in the theme, or its format gives no size (\"PNG\").",
          L"Stopped there: without ComfyUI the rest can't be made. Start it again, then Create again to make what's "
          L"missing.",
          L"Made 1, kept 0, failed 2. Create again to make what's missing (what's there is kept)."})
        EXPECT_TRUE(std::count(run.lines.begin(), run.lines.end(), line)) << toUtf8(line);
    EXPECT_TRUE(fileExists(folder.file(L"Icons\\A.png")));
}

TEST_F(ComfyThemeJob, TheLeastTornOfThreeModelTriesIsKept) {
    std::string prompts;
    for (const char* shards : {"0.8", "0.6", "0.7"})
        prompts += std::string(prompts.empty() ? "" : ",") + R"({"outputs":[{"node":"400","list":"3d","filename":"m)" +
                   shards + R"(.glb","make":"glb","shards":)" + shards + "}]}";
    ComfyDouble comfy(script(prompts));
    const JobRun run =
        this->run(comfy, Models, {slotOf(L"Trap", L"Model", L"Models/Trap.glb", L"GLB", L"TrapVisuals.Mesh")});
    EXPECT_NEAR(ShardScore(readWholeFile(folder.file(L"Models\\Trap.glb"))), 0.6, 0.001);
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(),
                         L"  It came out in shards (70% of its surface in its biggest 2% of triangles). Making it "
                         L"again with another seed..."),
              0);
    const auto made = std::find_if(run.lines.begin(), run.lines.end(),
                                   [](const std::wstring& line) { return line.starts_with(L"  made in "); });
    ASSERT_NE(made, run.lines.end());
    EXPECT_TRUE(
        made->ends_with(L"Every try came out in shards, so the least torn (60% of its surface in its biggest 2% "
                        L"of triangles) is kept: look at it, and make it again with another seed if it "
                        L"doesn't read."))
        << toUtf8(*made);
    EXPECT_TRUE(run.complete);
}

TEST_F(ComfyThemeJob, TwoSeedRetriesThenTwoWarmRetriesMakeFiveTries) {
    const auto flac = [](const char* signal) {
        return std::string(R"({"outputs":[{"node":"30","list":"audio","filename":"a.flac","make":"flac","signal":")") +
               signal + R"(","seconds":8,"sound_seconds":2,"channels":1}]})";
    };
    ComfyDouble comfy(script(flac("music-quiet-early") + "," + flac("music-quiet-early") + "," + flac("noise") + "," +
                             flac("noise") + "," + flac("noise")));
    const JobRun run = this->run(
        comfy, Sounds, {slotOf(L"Sound_Wind", L"Sound", L"Sounds/Wind.wav", L"WAV, 48 kHz, 4-6 s", L"", true)});
    const std::vector<std::string> asked = comfy.sequence();
    std::string said;
    for (const std::wstring& line : run.lines) said += toUtf8(line) + "\n";
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "POST /prompt"), 5) << said;
    const auto retries = [&](const wchar_t* ending) {
        return std::count_if(run.lines.begin(), run.lines.end(),
                             [&](const std::wstring& line) { return line.ends_with(ending); });
    };
    EXPECT_EQ(retries(L" Making it again with another seed..."), 2);
    EXPECT_EQ(retries(L" Making it again with another seed, asking for warmer, lower tones..."), 2);
    EXPECT_TRUE(fileExists(folder.file(L"Sounds\\Wind.wav")));
    EXPECT_TRUE(run.complete);
}

// A try with no triangles to measure never takes the place of a measured one,
// however torn that is, and the seeds of the tries wrap at the end of the range.
TEST_F(ComfyThemeJob, AMeasuredModelBeatsOneThatCantBeMeasured) {
    const std::string torn = R"({"outputs":[{"node":"400","list":"3d","filename":"torn.glb","make":"glb","shards":0.8}]})";
    const std::string empty = R"({"outputs":[{"node":"400","list":"3d","filename":"empty.glb","make":"glb"}]})";
    ComfyDouble comfy(script(torn + "," + empty + "," + empty));
    const JobRun run = this->run(comfy, Models,
                                 {slotOf(L"Trap", L"Model", L"Models/Trap.glb", L"GLB", L"TrapVisuals.Mesh")}, L"",
                                 LLONG_MAX);
    EXPECT_NEAR(ShardScore(readWholeFile(folder.file(L"Models\\Trap.glb"))), 0.8, 0.001);
    const auto made = std::find_if(run.lines.begin(), run.lines.end(),
                                   [](const std::wstring& line) { return line.starts_with(L"  made in "); });
    ASSERT_NE(made, run.lines.end());
    EXPECT_TRUE(made->ends_with(L"the least torn (80% of its surface in its biggest 2% of triangles) is kept: look "
                                L"at it, and make it again with another seed if it doesn't read."))
        << toUtf8(*made);
    // The tries after the first at LLONG_MAX go on from the bottom of the range.
    std::vector<std::string> prompts;
    for (const DoubleRequest& request : comfy.requests())
        if (request.path == "/prompt") prompts.push_back(request.body);
    ASSERT_EQ(prompts.size(), 3u);
    EXPECT_NE(prompts[0].find("\"seed\":9223372036854775807"), std::string::npos);
    EXPECT_NE(prompts[1].find("\"seed\":-9223372036854775808"), std::string::npos);
    EXPECT_NE(prompts[2].find("\"seed\":-9223372036854775807"), std::string::npos);
}

// A tower kept from an earlier run faces, in the checklist's prompt, the way
// theme.json says it does.
TEST_F(ComfyThemeJob, AKeptTowerFacesTheWayThemeJsonSays) {
    folder.writeFile(L"theme.json", R"({"Name": "Reef", "Towers": {"SingleTarget": {"FacesTarget": false}}})");
    folder.makeFolder(L"Models");
    folder.writeFile(L"Models\\Tower_SingleTarget.glb", "kept");
    ComfyDouble comfy(script(kPicture));
    const JobRun run = this->run(comfy, Models,
                                 {slotOf(L"Icon_SingleTarget", L"Icon", L"Icons/SingleTarget.png", L"64x64 PNG",
                                         L"TowerVisuals[SingleTarget].Icon")});
    EXPECT_TRUE(run.complete);
    const std::string checklist = readWholeFile(folder.file(L"THEME_CHECKLIST.md"));
    EXPECT_NE(checklist.find("symmetrical, looking the same from every side"), std::string::npos) << checklist;
    EXPECT_EQ(checklist.find("pointing straight at the viewer"), std::string::npos) << checklist;
}

// Every file made but theme.json held by another program at the end: the
// summary says what's wrong and what mends it.
TEST_F(ComfyThemeJob, OnlyTheLastThemeJsonFailingSaysCreateAgainWritesIt) {
    ComfyDouble comfy(script(std::string(R"({"history":["pending","pending","pending","pending","pending"],)") +
                             R"("outputs":[{"node":"15","list":"images","filename":"p.png","make":"png"}]})"));
    JobRun result;
    std::thread job([&] { result = run(comfy, Icons, {kTwoIcons[0]}); });
    // The first theme.json is written before anything is asked of ComfyUI.
    const auto asked = [&] {
        const std::vector<std::string> sequence = comfy.sequence();
        return std::find(sequence.begin(), sequence.end(), "POST /prompt") != sequence.end();
    };
    for (int i = 0; i < 600 && !asked(); ++i) Sleep(50);
    std::unique_ptr<RenameLock> held;
    if (asked()) held = std::make_unique<RenameLock>(folder.file(L"theme.json"));
    job.join();
    ASSERT_TRUE(held && held->held());
    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(fileExists(folder.file(L"Icons\\A.png")));
    EXPECT_TRUE(std::count(result.lines.begin(), result.lines.end(),
                           L"Couldn't write theme.json in " + folder.path() + L"."));
    EXPECT_EQ(result.lines.back(),
              L"Made 1, kept 0, failed 0. Every file is there, but theme.json couldn't be written: Create again writes "
              L"it.");
}

}  // namespace
