// Several ComfyUI servers making one theme: the address list, the check that
// leaves servers out, the shared making list, a server lost in the middle of a
// file and a stop that reaches every server. Each server is a session of the
// stand-in ComfyUI, which makes a picture in a set time.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "comfy/comfy_check.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "support/comfyui_double.h"
#include "support/temp_folder.h"
#include "themes/theme_job.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

TEST(ComfyAddresses, AreNormalisedOneByOneAndARepeatIsDropped) {
    const struct {
        const wchar_t* text;
        std::vector<std::wstring> addresses;
        const wchar_t* joined;
    } cases[] = {
        {L"127.0.0.1:8188/", {L"http://127.0.0.1:8188"}, L"http://127.0.0.1:8188"},
        {L" gpu1:8188 , http://gpu2:8188/ ,gpu1:8188,, HTTP://GPU2:8188",
         {L"http://gpu1:8188", L"http://gpu2:8188"},
         L"http://gpu1:8188, http://gpu2:8188"},
        {L"https://a.example/comfy//,b:1", {L"https://a.example/comfy", L"http://b:1"},
         L"https://a.example/comfy, http://b:1"},
        {L" , ,", {}, L""},
        {L"", {}, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComfyAddresses(c.text), c.addresses) << toUtf8(c.text);
        EXPECT_EQ(NormaliseComfyAddresses(c.text), c.joined) << toUtf8(c.text);
    }
}

ThemeSlot iconSlot(int n) {
    ThemeSlot slot;
    slot.Id = L"Icon_" + std::to_wstring(n);
    slot.Kind = L"Icon";
    slot.File = L"Icons/I" + std::to_wstring(n) + L".png";
    slot.Format = L"64x64 PNG";
    slot.Prompt = L"a {theme} thing number " + std::to_wstring(n);
    return slot;
}

std::vector<ThemeSlot> icons(int count) {
    std::vector<ThemeSlot> slots;
    for (int n = 1; n <= count; ++n) slots.push_back(iconSlot(n));
    return slots;
}

// A server that makes each picture in `seconds`, with `more` script members.
std::string serverScript(double seconds, const std::string& more = "") {
    return "{" + allModelFilesMember() + R"(,"generation_seconds":{"png":)" + std::to_string(seconds) + "}" + more +
           R"(,"prompts":[{"outputs":[{"node":"15","list":"images","filename":"p.png","make":"png"}]}]})";
}

struct Servers {
    std::vector<std::unique_ptr<ComfyDouble>> doubles;
    std::wstring addresses() const {
        std::wstring text;
        for (const auto& server : doubles) text += (text.empty() ? L"" : L",") + server->address();
        return text;
    }
    void add(const std::string& script) { doubles.push_back(std::make_unique<ComfyDouble>(script)); }
};

struct JobRun {
    bool complete = false;
    std::vector<std::wstring> lines;
    ULONGLONG ms = 0;
};

JobRun runJob(const std::wstring& addresses, const std::wstring& folder, std::vector<ThemeSlot> slots,
              const std::function<void(std::atomic<bool>&)>& stopper = {}) {
    ThemeJob job;
    job.ComfyAddress = addresses;
    job.Folder = folder;
    job.FolderName = job.Name = L"Reef";
    job.Style = L"coral";
    job.Kinds = Icons;
    job.Slots = std::move(slots);
    job.Subjects = BuildSubjects(job.Slots);
    JobRun result;
    std::atomic<bool> stop{false};
    std::thread watcher;
    if (stopper) watcher = std::thread([&] { stopper(stop); });
    ThemeJobReporter reporter;
    reporter.stop = &stop;
    reporter.log = [&](const std::wstring& line) { result.lines.push_back(line); };
    const ULONGLONG started = GetTickCount64();
    result.complete = RunThemeJob(job, reporter);
    result.ms = GetTickCount64() - started;
    if (watcher.joinable()) watcher.join();
    return result;
}

// The graphs a server was asked to run, without the client id.
std::multiset<std::string> graphsOf(const ComfyDouble& server) {
    std::multiset<std::string> graphs;
    for (const DoubleRequest& request : server.requests()) {
        if (request.method != "POST" || request.path != "/prompt") continue;
        graphs.insert(request.body.substr(0, request.body.find("\"client_id\"")));
    }
    return graphs;
}

size_t countOf(const ComfyDouble& server, const std::string& what) {
    const std::vector<std::string> asked = server.sequence();
    return (size_t)std::count(asked.begin(), asked.end(), what);
}

bool has(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ComfyServers, ThreeServersMakeTwelvePicturesFasterAndTheSameAsOne) {
    TempFolder oneFolder, threeFolder;
    Servers one, three;
    one.add(serverScript(2));
    for (int i = 0; i < 3; ++i) three.add(serverScript(2));

    const JobRun alone = runJob(one.addresses(), oneFolder.path(), icons(12));
    const JobRun together = runJob(three.addresses(), threeFolder.path(), icons(12));
    ASSERT_TRUE(alone.complete);
    ASSERT_TRUE(together.complete);
    EXPECT_LE(together.ms, alone.ms * 0.4) << "one server: " << alone.ms << " ms, three: " << together.ms << " ms";

    // The same files, from the same graphs (the same seeds), whichever server made each.
    for (int n = 1; n <= 12; ++n) {
        const std::wstring file = L"Icons\\I" + std::to_wstring(n) + L".png";
        const std::string bytes = readWholeFile(oneFolder.file(file));
        EXPECT_FALSE(bytes.empty()) << toUtf8(file);
        EXPECT_EQ(readWholeFile(threeFolder.file(file)), bytes) << toUtf8(file);
    }
    std::multiset<std::string> spread;
    for (const auto& server : three.doubles) {
        const std::multiset<std::string> graphs = graphsOf(*server);
        EXPECT_GE(graphs.size(), 2u) << "each server takes its share";
        spread.insert(graphs.begin(), graphs.end());
    }
    EXPECT_EQ(spread, graphsOf(*one.doubles[0]));

    // One server's log names no server; with three, each file's lines come
    // together, the first naming the server that made it.
    EXPECT_TRUE(has(alone.lines, L"Making Icons/I1.png..."));
    EXPECT_TRUE(has(together.lines, L"Making with 3 ComfyUI servers side by side: " +
                                         NormaliseComfyAddresses(three.addresses()) + L"."));
    int making = 0;
    for (size_t i = 0; i < together.lines.size(); ++i) {
        if (!together.lines[i].starts_with(L"Making Icons/")) continue;
        ++making;
        bool named = false;
        for (const auto& server : three.doubles)
            named = named || together.lines[i].ends_with(L" on " + server->address() + L"...");
        EXPECT_TRUE(named) << toUtf8(together.lines[i]);
        ASSERT_LT(i + 1, together.lines.size());
        EXPECT_TRUE(together.lines[i + 1].starts_with(L"  made in ")) << toUtf8(together.lines[i + 1]);
    }
    EXPECT_EQ(making, 12);
    EXPECT_EQ(together.lines.back(),
              L"Made 12, kept 0, failed 0. The theme is ready: the game finds it the next time it starts.");
}

TEST(ComfyServers, AServerLostInTheMiddleOfAFileLeavesItToAnother) {
    TempFolder folder;
    Servers servers;
    servers.add(serverScript(0.5, R"(,"stops_answering_at":1)"));
    servers.add(serverScript(0.5));
    const JobRun run = runJob(servers.addresses(), folder.path(), icons(4));
    EXPECT_TRUE(run.complete);
    for (int n = 1; n <= 4; ++n)
        EXPECT_TRUE(fileExists(folder.file(L"Icons\\I" + std::to_wstring(n) + L".png"))) << n;
    EXPECT_EQ(countOf(*servers.doubles[0], "POST /prompt"), 1u) << "left out after it stopped answering";
    EXPECT_EQ(countOf(*servers.doubles[1], "POST /prompt"), 4u);
    const std::wstring lost = servers.doubles[0]->address();
    bool said = false;
    for (const std::wstring& line : run.lines)
        said = said || (line.ends_with(L" " + lost + L" is left out for the rest of the run; another server makes "
                                                     L"the file.") &&
                        line.find(L"ComfyUI stopped answering") != std::wstring::npos);
    EXPECT_TRUE(said);
    EXPECT_EQ(run.lines.back(),
              L"Made 4, kept 0, failed 0. The theme is ready: the game finds it the next time it starts.");
}

TEST(ComfyServers, TheLastServerLostEndsTheRunAsOneServerDoes) {
    TempFolder folder;
    Servers servers;
    servers.add(serverScript(0.5, R"(,"stops_answering_at":1)"));
    servers.add(serverScript(0.5, R"(,"stops_answering_at":1)"));
    const JobRun run = runJob(servers.addresses(), folder.path(), icons(3));
    EXPECT_FALSE(run.complete);
    EXPECT_TRUE(has(run.lines, L"Stopped there: without ComfyUI the rest can't be made. Start it again, then Create "
                               L"again to make what's missing."));
    EXPECT_EQ(run.lines.back(),
              L"Made 0, kept 0, failed 1. Create again to make what's missing (what's there is kept).");
}

// More servers than files: a server with no file of its own at the start
// still takes the files of the servers that stop answering in the middle of them.
TEST(ComfyServers, AnIdleServerMakesTheFilesOfTwoLostInTheMiddleOfThem) {
    TempFolder folder;
    Servers servers;
    servers.add(serverScript(0.5, R"(,"stops_answering_at":1)"));
    servers.add(serverScript(0.5, R"(,"stops_answering_at":1)"));
    servers.add(serverScript(0.5));
    const JobRun run = runJob(servers.addresses(), folder.path(), icons(2));
    for (int n = 1; n <= 2; ++n)
        EXPECT_TRUE(fileExists(folder.file(L"Icons\\I" + std::to_wstring(n) + L".png"))) << n;
    EXPECT_EQ(countOf(*servers.doubles[2], "POST /prompt"), 2u);
    for (size_t lost = 0; lost < 2; ++lost) EXPECT_LE(countOf(*servers.doubles[lost], "POST /prompt"), 1u);
    EXPECT_TRUE(run.complete);
    EXPECT_EQ(run.lines.back(),
              L"Made 2, kept 0, failed 0. The theme is ready: the game finds it the next time it starts.");
}

TEST(ComfyServers, AStopReachesEveryServer) {
    TempFolder folder;
    Servers servers;
    for (int i = 0; i < 3; ++i) servers.add(serverScript(600));
    // The stop comes once every server has a prompt queued.
    const JobRun run = runJob(servers.addresses(), folder.path(), icons(6), [&](std::atomic<bool>& stop) {
        for (int waited = 0; waited < 120000; waited += 100) {
            bool all = true;
            for (const auto& server : servers.doubles) all = all && countOf(*server, "POST /prompt") == 1;
            if (all) break;
            Sleep(100);
        }
        stop = true;
    });
    EXPECT_FALSE(run.complete);
    for (const auto& server : servers.doubles) {
        const std::vector<std::string> asked = server->sequence();
        ASSERT_GE(asked.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(asked.end() - 3, asked.end()),
                  (std::vector<std::string>{"POST /prompt", "POST /queue", "POST /interrupt"}));
        EXPECT_EQ(countOf(*server, "POST /prompt"), 1u);
    }
    EXPECT_TRUE(has(run.lines, L"Stopped. What's made is kept: Create again makes what's missing."));
    EXPECT_EQ(run.lines.back(),
              L"Made 0, kept 0, failed 0. Create again to make what's missing (what's there is kept).");
}

TEST(ComfyServers, AServerThatIsntReadyIsLeftOutAndNoneReadyRefuses) {
    TempFolder folder;
    Servers servers;
    servers.add(R"({"stats":{"status":500,"body":"down"}})");
    servers.add(R"({"files":{}})");
    servers.add(serverScript(0));
    JobRun run = runJob(servers.addresses(), folder.path(), icons(2));
    EXPECT_TRUE(run.complete);
    EXPECT_TRUE(has(run.lines, L"Leaving " + servers.doubles[0]->address() + L" out: it isn't answering."));
    EXPECT_TRUE(has(run.lines, L"Leaving " + servers.doubles[1]->address() + L" out: it needs those files first."));
    // The servers are checked side by side, but each one's lines come together, in the order given.
    auto naming = [&](size_t server) {
        std::vector<size_t> at;
        for (size_t i = 0; i < run.lines.size(); ++i)
            if (run.lines[i].find(servers.doubles[server]->address()) != std::wstring::npos) at.push_back(i);
        return at;
    };
    for (size_t server = 0; server < 2; ++server) {
        const std::vector<size_t> at = naming(server), next = naming(server + 1);
        ASSERT_FALSE(at.empty());
        if (!next.empty()) {
            EXPECT_LT(at.back(), next.front());
        }
    }
    // One server is left, so the run goes as with one address.
    EXPECT_TRUE(has(run.lines, L"Making Icons/I1.png..."));
    EXPECT_EQ(countOf(*servers.doubles[1], "POST /prompt"), 0u);

    servers.doubles.pop_back();
    run = runJob(servers.addresses(), folder.path(), icons(2));
    EXPECT_FALSE(run.complete);
    EXPECT_EQ(run.lines.back(), L"Nothing was made: none of the ComfyUI servers is ready (each needs to answer and "
                                L"have every model file).");
}

}  // namespace
