// Running a workflow on the stand-in ComfyUI: stopping it, polls that fail,
// the time limits on a clock the test advances, what comes back and what is
// saved, the failure sentences, and sounds and music through the audio saver.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "comfy/picture_graph.h"
#include "comfy/workflow_graph.h"
#include "comfy/workflow_run.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "support/comfyui_double.h"
#include "support/rename_lock.h"
#include "support/temp_folder.h"
#include "themes/audio_saver.h"
#include "media/wav_file.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// Time that moves only when the run waits: each 100 ms step of a wait moves it on by stepMs.
class SteppedClock : public WorkflowClock {
public:
    explicit SteppedClock(unsigned long long stepMs) : stepMs_(stepMs) {}
    unsigned long long nowMs() override { return now_; }
    void sleepMs(unsigned) override {
        now_ += stepMs_;
        ++steps;
        if (steps == stopAfterSteps) stop = true;
    }
    int steps = 0;
    int stopAfterSteps = -1;
    std::atomic<bool> stop{false};

private:
    unsigned long long now_ = 5000;
    unsigned long long stepMs_;
};

std::string PictureGraph() {
    WorkflowGraph graph;
    graph.addNode("5", "EmptyLatentImage",
                  {{"width", WorkflowGraph::whole(96)}, {"height", WorkflowGraph::whole(64)}, {"batch_size", "1"}});
    graph.addNode("15", "SaveImage", {{"images", WorkflowGraph::link("5", 0)}, {"filename_prefix",
                                                                              WorkflowGraph::string(L"Vorlane/T")}});
    graph.finish();
    return graph.text();
}

const char kPicture[] = R"({"node":"15","list":"images","filename":"T_00001_.png","make":"png"})";

struct RunResult {
    int outcome = -1;
    std::wstring message;
    std::vector<double> progress;
};

RunResult RunOn(ComfyDouble& comfy, const WorkflowFile& file, SteppedClock& clock) {
    RunResult run;
    JobControl control([&](double fraction, const std::wstring&) { run.progress.push_back(fraction); }, &clock.stop);
    run.outcome = RunWorkflow(comfy.address(), L"0F8FAD5B-D9CB-469F-A165-70867728950E", file, control, run.message,
                              clock);
    return run;
}

std::vector<std::string> Repeat(const std::string& step, int times) { return std::vector<std::string>(times, step); }

std::string HistoryScript(const std::vector<std::string>& steps) {
    std::string list;
    for (const std::string& step : steps) list += (list.empty() ? "\"" : ",\"") + step + "\"";
    return R"({"prompts":[{"history":[)" + list + R"(],"outputs":[)" + kPicture + "]}]}";
}

TEST(WorkflowGraph, WritesNodesInApiForm) {
    WorkflowGraph graph;
    graph.addNode("1", "VAELoader", {{"vae_name", WorkflowGraph::string(L"ae.safetensors")}});
    graph.addNode("z10", "KSampler", {{"seed", WorkflowGraph::whole(-3)}, {"denoise", WorkflowGraph::real(0.6)},
                                      {"vae", WorkflowGraph::link("1", 2)}});
    graph.finish();
    EXPECT_EQ(graph.text(), R"({"1":{"class_type":"VAELoader","inputs":{"vae_name":"ae.safetensors"}},)"
                            R"("z10":{"class_type":"KSampler","inputs":{"seed":-3,"denoise":0.600,"vae":["1",2]}}})");
}

TEST(ComfyRun, AStopInTheFirstWaitCancelsWithoutAskingForTheHistory) {
    ComfyDouble comfy(HistoryScript({}));
    TempFolder folder;
    SteppedClock clock(100);
    clock.stopAfterSteps = 3;
    const RunResult run = RunOn(comfy, {PictureGraph(), PictureOutput, folder.file(L"a.png")}, clock);
    EXPECT_EQ(run.outcome, RunStopped);
    EXPECT_EQ(run.message, L"Stopped.");
    EXPECT_EQ(clock.steps, 3);
    EXPECT_EQ(comfy.sequence(), (std::vector<std::string>{"POST /prompt", "POST /queue", "POST /interrupt"}));
    const std::vector<DoubleRequest> asked = comfy.requests();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].body, "{\"prompt\":" + PictureGraph() + ",\"client_id\":\"0F8FAD5B-D9CB-469F-A165-70867728950E\"}");
    JsonValue dropped;
    ASSERT_TRUE(parseDocument(asked[1].body, dropped));
    const std::string id = member(dropped, "delete").items.at(0).text;
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(asked[1].body, "{\"delete\":[\"" + id + "\"]}");
    EXPECT_EQ(asked[2].body, "{\"prompt_id\":\"" + id + "\"}");
    EXPECT_FALSE(fileExists(folder.file(L"a.png")));
}

TEST(ComfyRun, OnlyTenFailedPollsInARowGiveUp) {
    std::vector<std::string> goodBetween = Repeat("silent", 9);
    goodBetween.push_back("pending");
    for (const std::string& step : Repeat("broken", 9)) goodBetween.push_back(step);
    std::vector<std::string> tenSilent = Repeat("broken", 9);
    tenSilent.push_back("silent");
    struct Case {
        std::vector<std::string> steps;
        int outcome;
        std::wstring message;  // @ for the double's host and port
    };
    const std::vector<Case> cases = {
        {goodBetween, RunMade, L""},
        {Repeat("broken", 10), RunNotAnswering, L"ComfyUI stopped answering."},
        {tenSilent, RunNotAnswering, L"ComfyUI stopped answering (nothing answered at @)."},
    };
    for (const Case& c : cases) {
        ComfyDouble comfy(HistoryScript(c.steps));
        TempFolder folder;
        SteppedClock clock(100);
        const RunResult run = RunOn(comfy, {PictureGraph(), PictureOutput, folder.file(L"a.png")}, clock);
        std::wstring message = c.message;
        if (message.find(L'@') != std::wstring::npos)
            message.replace(message.find(L'@'), 1, comfy.address().substr(7, comfy.address().find(L'/', 7) - 7));
        EXPECT_EQ(run.outcome, c.outcome);
        EXPECT_EQ(run.message, message);
        EXPECT_EQ(fileExists(folder.file(L"a.png")), c.outcome == RunMade);
    }
}

TEST(ComfyRun, TheTimeLimitOfEachKindCancelsTheRun) {
    struct Case {
        int type;
        int historyPolls;  // with a minute for each 100 ms step: 7 or 20 minutes between polls
        std::wstring message;
    };
    const std::vector<Case> cases = {
        {PictureOutput, 1, L"ComfyUI took over 10 minutes on it, so it was stopped."},
        {SoundOutput, 1, L"ComfyUI took over 10 minutes on it, so it was stopped."},
        {MusicOutput, 1, L"ComfyUI took over 20 minutes on it, so it was stopped."},
        {ModelOutput, 3, L"ComfyUI took over 60 minutes on it, so it was stopped."},
    };
    for (const Case& c : cases) {
        ComfyDouble comfy(HistoryScript(Repeat("pending", 10)));
        SteppedClock clock(60000);
        const RunResult run = RunOn(comfy, {PictureGraph(), c.type, L""}, clock);
        EXPECT_EQ(run.outcome, RunFailed);
        EXPECT_EQ(run.message, c.message);
        std::vector<std::string> expected = Repeat("GET /history", c.historyPolls);
        expected.insert(expected.begin(), "POST /prompt");
        expected.insert(expected.end(), {"POST /queue", "POST /interrupt"});
        EXPECT_EQ(comfy.sequence(), expected) << c.type;
    }
}

TEST(ComfyRun, SavesThePictureAndKeepsTheProgressAtMostNinetyFivePercent) {
    ComfyDouble comfy(HistoryScript(Repeat("pending", 5)));
    TempFolder folder;
    SteppedClock clock(1000);  // 7 s between polls against the 10 s a picture is expected to take
    const std::wstring path = folder.file(L"Icons\\tower.png");
    const RunResult run = RunOn(comfy, {PictureGraph(), PictureOutput, path}, clock);
    ASSERT_EQ(run.outcome, RunMade) << toUtf8(run.message);
    EXPECT_EQ(run.message, L"");
    EXPECT_EQ(run.progress, (std::vector<double>{0.7, 0.95, 0.95, 0.95, 0.95, 0.95}));
    const std::string png = readWholeFile(path);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 4), "\x89PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x60\0\0\0\x40", 8));  // 96 x 64, as the graph asked
}

TEST(ComfyRun, EachWayItEndsHasItsSentence) {
    struct Case {
        const char* name;
        std::string prompt;  // one prompt of the script
        int type;
        bool picture;        // a 3D model's picture asked for
        int outcome;
        std::wstring message;
        bool saved;
    };
    const std::vector<Case> cases = {
        {"refused", R"({"refuse":{"status":400,"body":""}})", PictureOutput, false, RunFailed,
         L"ComfyUI refused it: it answered 400.", false},
        {"accepted without an id", R"({"refuse":{"status":200,"body":{"number":1,"node_errors":{}}}})", PictureOutput,
         false, RunFailed, L"ComfyUI refused it: it answered 200.", false},
        {"no output node", R"({"outputs":[{"node":"16","filename":"T.png"}]})", PictureOutput, false, RunFailed,
         L"ComfyUI finished it but gave no file back.", false},
        {"a web page for a picture", R"({"outputs":[{"filename":"T.png","make":"html"}]})", PictureOutput, false,
         RunFailed, L"ComfyUI's T.png isn't the kind of file it should be.", false},
        {"out of memory", R"({"result":"error","error":{"node_type":"KSampler",
           "exception_message":"Allocation on device 0 would exceed allowed memory. (out of memory)\n"}})",
         PictureOutput, false, RunFailed,
         L"ComfyUI failed on it: KSampler: Allocation on device 0 would exceed allowed memory. (out of memory) (the "
         L"graphics card ran out of memory: close other programs using it and try again)", false},
        {"a 3D model and its picture",
         R"({"outputs":[{"node":"400","list":"3d","filename":"m.glb","make":"glb"},
                        {"node":"z10","filename":"m.png","make":"png","width":8,"height":8}]})",
         ModelOutput, true, RunMade, L"", true},
        {"a 3D model without its picture", R"({"outputs":[{"node":"400","list":"3d","filename":"m.glb","make":"glb"}]})",
         ModelOutput, true, RunMade, L"Its picture wasn't saved: ComfyUI finished it but gave no file back.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComfyDouble comfy(R"({"prompts":[)" + c.prompt + "]}");
        TempFolder folder;
        SteppedClock clock(100);
        WorkflowFile file{PictureGraph(), c.type, folder.file(L"out\\file"), c.picture ? folder.file(L"pic.png") : L""};
        const RunResult run = RunOn(comfy, file, clock);
        EXPECT_EQ(run.outcome, c.outcome);
        EXPECT_EQ(run.message, c.message);
        EXPECT_EQ(fileExists(file.Path), c.saved);
        EXPECT_EQ(fileExists(folder.file(L"pic.png")), c.picture && run.message.empty());
    }
}

// A graph a real ComfyUI would refuse is refused by the stand-in in the real
// one's words, and the launcher's sentence says why.
TEST(ComfyRun, AGraphComfyWouldRefuseIsRefusedWithItsReason) {
    using G = WorkflowGraph;
    const auto graph = [](const std::string& vae, const std::string& images, const std::string& decoder,
                          bool prefix) {
        G g;
        g.addNode("1", "VAELoader", {{"vae_name", G::string(toUtf16(vae))}});
        g.addNode("5", "EmptyLatentImage", {{"width", G::whole(8)}, {"height", G::whole(8)}, {"batch_size", "1"}});
        g.addNode("8", decoder, {{"samples", G::link("5", 0)}, {"vae", G::link("1", 0)}});
        std::vector<G::Input> save = {{"images", images}};
        if (prefix) save.push_back({"filename_prefix", G::string(L"Vorlane/T")});
        g.addNode("15", "SaveImage", save);
        g.finish();
        return g.text();
    };
    const std::string good = "ae.safetensors", link = G::link("8", 0);
    const struct {
        const char* name;
        std::string graph;
        std::wstring message;
    } cases[] = {
        {"good", graph(good, link, "VAEDecode", true), L""},
        {"a link to a node that isn't there", graph(good, G::link("9", 0), "VAEDecode", true),
         L"ComfyUI refused it: Prompt outputs failed validation (Bad linked input: images: node 9 isn't in the "
         L"prompt); SaveImage: Bad linked input: images: node 9 isn't in the prompt"},
        {"a link to an output that isn't there", graph(good, G::link("8", 1), "VAEDecode", true),
         L"ComfyUI refused it: Prompt outputs failed validation (Return type mismatch between linked nodes: images, "
         L"output 1 of 8 isn't there); SaveImage: Return type mismatch between linked nodes: images, output 1 of 8 "
         L"isn't there"},
        {"a model name ComfyUI hasn't", graph("ae_v2.safetensors", link, "VAEDecode", true),
         L"ComfyUI refused it: Prompt outputs failed validation (Value not in list: vae_name: 'ae_v2.safetensors' "
         L"not in ['ae.safetensors']); VAELoader: Value not in list: vae_name: 'ae_v2.safetensors' not in "
         L"['ae.safetensors'] (a model file ComfyUI hasn't: Check ComfyUI lists what's missing)"},
        {"a missing input", graph(good, link, "VAEDecode", false),
         L"ComfyUI refused it: Prompt outputs failed validation (Required input is missing: filename_prefix); "
         L"SaveImage: Required input is missing: filename_prefix"},
        {"a node class it hasn't", graph(good, link, "VAEDecodeTiled", true),
         L"ComfyUI refused it: Cannot execute because node VAEDecodeTiled does not exist. (Node ID '#8') (this "
         L"ComfyUI hasn't that node: update ComfyUI)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComfyDouble comfy(std::string(R"({"files":{"vae":["ae.safetensors"]},"prompts":[{"outputs":[)") + kPicture +
                          "]}]}");
        TempFolder folder;
        SteppedClock clock(100);
        const RunResult run = RunOn(comfy, {c.graph, PictureOutput, folder.file(L"a.png")}, clock);
        EXPECT_EQ(run.message, c.message);
        EXPECT_EQ(run.outcome, c.message.empty() ? RunMade : RunFailed);
        EXPECT_EQ(fileExists(folder.file(L"a.png")), c.message.empty());
    }
}

// The picture comes back at the size the graph scales it to before saving it,
// not the size it is made at.
TEST(ComfyRun, APictureHasTheSizeOfTheLastScalingBeforeItsSavingNode) {
    ComfyDouble comfy("{" + allModelFilesMember() + R"(,"prompts":[{"outputs":[)" + kPicture + "]}]}");
    TempFolder folder;
    SteppedClock clock(100);
    const std::optional<PictureSize> size = PictureSizes(L"200x120 PNG");
    ASSERT_TRUE(size);
    const std::string graph = BuildPictureGraph(L"a reef", *size, true, 1, L"Vorlane/Reef/Icon");
    const RunResult run = RunOn(comfy, {graph, PictureOutput, folder.file(L"icon.png")}, clock);
    ASSERT_EQ(run.outcome, RunMade) << toUtf8(run.message);
    const std::string png = readWholeFile(folder.file(L"icon.png"));
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\xC8\0\0\0\x78", 8));  // 200 x 120
}

// A file ComfyUI names but hasn't, a file that can't be written over, and
// history answers that aren't JSON each end the run with their sentence.
TEST(ComfyRun, FilesItCantFetchOrWriteAndHistoryThatIsntJsonHaveTheirSentences) {
    struct Case {
        const char* name;
        std::string prompt;
        int type;
        bool held;  // another program holds the file being replaced
        int outcome;
        std::wstring message;  // @ for the file's path
    };
    std::string garbled;
    for (const std::string& step : Repeat("garbled", 10)) garbled += (garbled.empty() ? "\"" : ",\"") + step + "\"";
    const std::vector<Case> cases = {
        {"a picture ComfyUI hasn't", R"({"outputs":[{"node":"15","filename":"T.png","make":"none"}]})",
         PictureOutput, false, RunFailed, L"Couldn't fetch T.png from ComfyUI (it answered 404)."},
        {"a picture that can't be written", std::string("{\"outputs\":[") + kPicture + "]}", PictureOutput, true,
         RunFailed, L"Couldn't write @ (is the disk full, or the file open in another program?) (error 5)."},
        {"a 3D model that can't be written", R"({"outputs":[{"node":"400","list":"3d","filename":"m.glb","make":"glb"}]})",
         ModelOutput, true, RunFailed,
         L"Couldn't write @ (is the disk full, or the file open in another program?) (error 5)."},
        {"history that isn't JSON", "{\"history\":[" + garbled + "],\"outputs\":[" + kPicture + "]}",
         PictureOutput, false, RunNotAnswering, L"ComfyUI stopped answering."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComfyDouble comfy(R"({"prompts":[)" + c.prompt + "]}");
        TempFolder folder;
        const std::wstring path = folder.writeFile(L"kept", "what was there");
        std::unique_ptr<RenameLock> held;
        if (c.held) held = std::make_unique<RenameLock>(path);
        SteppedClock clock(100);
        const RunResult run = RunOn(comfy, {PictureGraph(), c.type, path}, clock);
        std::wstring message = c.message;
        if (message.find(L'@') != std::wstring::npos) message.replace(message.find(L'@'), 1, path);
        EXPECT_EQ(run.outcome, c.outcome);
        EXPECT_EQ(run.message, message);
        EXPECT_EQ(readWholeFile(path), "what was there");
        EXPECT_FALSE(fileExists(path + L".part"));
    }
}

TEST(ComfyRun, DescribesFailuresAsComfyReportsThem) {
    const std::string advice = " (the graphics card ran out of memory: close other programs using it and try again)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"([["execution_start",{}],["execution_error",{"node_type":"KSampler",
             "exception_message":"CUDA OUT OF MEMORY.\n  Tried to allocate 2.00 GiB\n"}]])",
         "KSampler: CUDA OUT OF MEMORY. Tried to allocate 2.00 GiB" + advice},
        {R"([["execution_error",{"node_type":"A","exception_message":"bad"}],
             ["execution_error",{"node_type":"B","exception_message":"worse"}]])", "A: bad B: worse"},
        {R"([["execution_start",{}],["execution_interrupted",{"node_type":"KSampler"}]])",
         "it was stopped in ComfyUI."},
        {"[]", "ComfyUI stopped with an error but didn't say what."},
    };
    for (const auto& [messages, sentence] : cases) {
        JsonValue entry;
        ASSERT_TRUE(parseDocument(R"({"status":{"status_str":"error","messages":)" + messages + "}}", entry));
        EXPECT_EQ(DescribeFailure(entry), toUtf16(sentence));
    }
    EXPECT_EQ(NewClientId().size(), 36u);
    EXPECT_NE(NewClientId(), NewClientId());
}

// Music at 240 beats per minute (a bar is a second), 16 s laid 2 s over its start, and a one-shot sound.
const SoundParams kMusic{.channels = 2, .rate = 48000, .isMusic = true, .loops = true, .length = 16, .overlap = 2,
                         .tempo = 240};
const SoundParams kSound{.channels = 1, .rate = 48000, .length = 1, .checkBrightness = true};

TEST(ComfyAudio, EachSignalThroughTheRunToTheWavOnItsLastTry) {
    struct Try {
        int outcome;
        std::wstring message;  // its start
    };
    struct Case {
        std::string output;  // the FLAC the double makes
        bool music;
        std::vector<Try> tries;  // the last is the last seed and warm try
        size_t frames;           // of the WAV written, 0: not checked
    };
    const std::vector<Case> cases = {
        {R"("filename":"music.flac","signal":"music-quiet-early","seconds":16,"sound_seconds":14,"rate":32000,
            "channels":1)",
         true,
         {{RunAnotherSeed, L"ComfyUI's music.flac plays for only 14.0 s, then goes quiet: too short for a loop of "
                           L"16.0 s with 2.0 s more laid over its start."},
          {RunMade, L"It's 12.0 s, shorter than the 16.0 s asked for: it went quiet early each time."}},
         12 * 48000},
        {R"("filename":"hiss.flac","signal":"noise","seconds":1.5,"rate":44100,"channels":2)", false,
         {{RunTooBright, L"It's too bright ("}, {RunMade, L"It was still too bright after 2 tries ("}}, 0},
        {R"("filename":"tone.flac","signal":"tone","seconds":1.5,"rate":44100,"channels":1)", false,
         {{RunMade, L""}}, 0},
        {R"("filename":"quiet.flac","signal":"silence","seconds":1,"rate":48000,"channels":1)", false,
         {{RunFailed, L"ComfyUI's quiet.flac is silent."}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        ComfyDouble comfy(R"({"prompts":[{"outputs":[{"node":"30","list":"audio","make":"flac",)" + c.output + "}]}]}");
        TempFolder folder;
        const std::wstring path = folder.file(L"Audio\\file.wav");
        SoundParams params = c.music ? kMusic : kSound;
        AudioMemory memory;
        for (size_t i = 0; i < c.tries.size(); ++i) {
            params.LastSeedTry = params.LastWarmTry = i + 1 == c.tries.size();
            SteppedClock clock(100);
            const RunResult run = RunOn(
                comfy, {"{}", c.music ? MusicOutput : SoundOutput, path, L"", audioOutputSaver(path, params, memory)},
                clock);
            EXPECT_EQ(run.outcome, c.tries[i].outcome);
            EXPECT_EQ(run.message.substr(0, c.tries[i].message.size()), c.tries[i].message) << toUtf8(run.message);
            AudioBuffer wav;
            EXPECT_EQ(fileExists(path) && ReadWav(readWholeFile(path), wav), run.outcome == RunMade);
            if (run.outcome != RunMade) continue;
            EXPECT_EQ(wav.rate, params.rate);
            EXPECT_EQ(wav.channels, params.channels);
            if (c.frames) {
                EXPECT_EQ(wav.frames(), c.frames);
            }
        }
    }
}

}  // namespace
