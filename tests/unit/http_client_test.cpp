#include "net/http_client.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "net/sha256.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

using namespace vorlane;
using vorlane::testing::readTestFile;
using vorlane::testing::TempFolder;
using vorlane::testing::TestHttpServer;
using vorlane::testing::TestRoute;

namespace {

const long long kMiB = 1048576;
const wchar_t kBuildServer[] = L"The build server";

// A port on 127.0.0.1 where nothing listens (it was free a moment ago).
unsigned short closedPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    bind(probe, (sockaddr*)&address, sizeof(address));
    getsockname(probe, (sockaddr*)&address, &length);
    closesocket(probe);
    WSACleanup();
    return ntohs(address.sin_port);
}

bool runningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// A body with no period that could hide a block written twice or in the wrong place.
std::string distinctBytes(size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = (char)(state >> 16);
    }
    return bytes;
}

std::wstring fingerprintOf(const std::string& bytes) {
    Sha256Digest digest{};
    EXPECT_TRUE(sha256(bytes, digest));
    return toHex(digest);
}

struct ProgressLog {
    std::vector<std::pair<long long, long long>> calls;
    ProgressCallback callback() {
        return [this](long long done, long long expected) {
            calls.emplace_back(done, expected);
            return true;
        };
    }
};

class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }

    HttpResult fetch(const std::string& path, const std::wstring& file, bool resume = false,
                     const ProgressCallback& progress = {}, long long failAfter = -1, std::string* memory = nullptr) {
        return download(server.url(path), memory, file, progress, failAfter, resume, kBuildServer);
    }

    TestHttpServer server;
    TempFolder folder{L"vorlane-http"};
};

TEST_F(HttpDownload, StreamsAWholeAnswerInBlocksToFileAndMemory) {
    const std::string body = distinctBytes(3 * kMiB + 123);
    server.serve("/Vorlane-abc1234.zip", body);
    const std::wstring file = folder.file(L"build.zip");
    std::string memory;
    ProgressLog progress;

    HttpResult result = fetch("/Vorlane-abc1234.zip", file, false, progress.callback(), -1, &memory);

    EXPECT_EQ(result.error, L"");
    EXPECT_TRUE(readTestFile(file) == body);
    EXPECT_TRUE(memory == body);
    ASSERT_GE(progress.calls.size(), 4u);  // no block is larger than 1 MiB
    long long before = 0;
    for (const auto& [done, expected] : progress.calls) {
        EXPECT_GT(done, before);
        EXPECT_LE(done - before, kMiB);
        EXPECT_EQ(expected, (long long)body.size());
        before = done;
    }
    EXPECT_EQ(before, (long long)body.size());
    auto asked = server.requests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].method, "GET");
    EXPECT_EQ(asked[0].range, "");
    EXPECT_EQ(asked[0].header("User-Agent"), "Vorlane-Launcher/1.0");
}

TEST_F(HttpDownload, AServerThatNeverStopsCannotFillMemory) {
    TestRoute route;
    route.generatedSize = 80LL * kMiB;
    route.noLength = true;
    server.serve("/builds.json", route);
    std::string memory;

    // Without a deadline, which a busy machine could reach first.
    HttpResult result = download(server.url("/builds.json"), &memory, L"", {}, -1, false, kBuildServer, Pace{});

    EXPECT_EQ(result.error, L"The download was too big.");
    EXPECT_LE(memory.size(), 64u * kMiB);
}

TEST_F(HttpDownload, ResumingAsksForTheRestAndAppendsThe206Answer) {
    const std::string body = distinctBytes(1500);
    server.serve("/b.zip", body);
    const std::wstring file = folder.writeFile(L"b.zip.part", body.substr(0, 1000));
    std::string memory;
    ProgressLog progress;

    HttpResult result = fetch("/b.zip", file, true, progress.callback(), -1, &memory);

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 206u);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].range, "bytes=1000-");
    EXPECT_TRUE(readTestFile(file) == body);
    EXPECT_TRUE(memory == body.substr(1000));  // the sink gets what arrived, not what was on disk
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_GT(progress.calls.front().first, 1000);  // counting goes on from the bytes already present
    EXPECT_EQ(progress.calls.back(), std::make_pair(1500LL, 1500LL));
}

TEST_F(HttpDownload, ResumingAgainstAServerThatIgnoresRangesStartsAgain) {
    const std::string body = distinctBytes(1500);
    TestRoute route;
    route.body = body;
    route.ignoreRange = true;
    server.serve("/b.zip", route);
    const std::wstring file = folder.writeFile(L"b.zip.part", std::string(1000, 'x'));
    ProgressLog progress;

    HttpResult result = fetch("/b.zip", file, true, progress.callback());

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(server.requests().at(0).range, "bytes=1000-");
    EXPECT_TRUE(readTestFile(file) == body);
    EXPECT_EQ(progress.calls.back(), std::make_pair(1500LL, 1500LL));
}

TEST_F(HttpDownload, ResumingAFileThatIsAlreadyCompleteSucceedsWithoutTouchingIt) {
    server.serve("/b.zip", distinctBytes(1500));
    const std::string present(1500, 'z');  // the server only compares sizes
    const std::wstring file = folder.writeFile(L"b.zip.part", present);
    ProgressLog progress;
    std::string memory;

    HttpResult result = fetch("/b.zip", file, true, progress.callback(), -1, &memory);

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 416u);
    EXPECT_EQ(readTestFile(file), present);
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_TRUE(memory.empty());
}

// The fingerprint worked out on the way is the whole file's as the download leaves it: a resumed part on disk
// counted once, before what came; none when not asked for or when the download failed.
TEST_F(HttpDownload, TheFingerprintOnTheWayIsTheWholeFiles) {
    const std::string body = distinctBytes(3 * kMiB + 77);
    const struct {
        const char* name;
        std::string partOnDisk;  // empty: no part file
        bool ignoreRange;
        long long cutAfter;
        bool asked;
        unsigned status;
        std::string fileAfter;  // what the file holds after the download; empty: a failed one, no fingerprint
    } cases[] = {
        {"a new download", "", false, -1, true, 200, body},
        {"resumed past a few bytes", body.substr(0, 1000), false, -1, true, 206, body},
        {"resumed past whole blocks", body.substr(0, 2 * kMiB + 5), false, -1, true, 206, body},
        {"a server that ignores the range", std::string(1000, 'x'), true, -1, true, 200, body},
        {"a part already complete", std::string(body.size(), 'z'), false, -1, true, 416, std::string(body.size(), 'z')},
        {"not asked for", body.substr(0, 1000), false, -1, false, 206, body},
        {"a download that breaks off", body.substr(0, 1000), false, kMiB, true, 206, ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        TestRoute route;
        route.body = body;
        route.ignoreRange = test.ignoreRange;
        route.cutAfter = test.cutAfter;
        server.serve("/b.zip", route);
        const std::wstring file = folder.file(L"b.zip.part");
        DeleteFileW(file.c_str());
        if (!test.partOnDisk.empty()) folder.writeFile(L"b.zip.part", test.partOnDisk);

        HttpResult result =
            download(server.url("/b.zip"), nullptr, file, {}, -1, true, kBuildServer, kFilePace, test.asked);

        EXPECT_EQ(result.status, test.status);
        if (test.fileAfter.empty()) {
            EXPECT_NE(result.error, L"");
            EXPECT_EQ(result.fingerprint, L"");
            continue;
        }
        EXPECT_EQ(result.error, L"");
        EXPECT_TRUE(readTestFile(file) == test.fileAfter);
        EXPECT_EQ(result.fingerprint, test.asked ? fingerprintOf(test.fileAfter) : L"");
    }
}

TEST_F(HttpDownload, AsksForARangeOnlyWhenResumingAFileThatHasBytes) {
    const std::string body = distinctBytes(700);
    server.serve("/b.zip", body);
    const std::wstring missing = folder.file(L"missing.part");
    const std::wstring empty = folder.writeFile(L"empty.part", "");
    const std::wstring old = folder.writeFile(L"old.part", std::string(300, 'x'));

    EXPECT_EQ(fetch("/b.zip", missing, true).error, L"");
    EXPECT_EQ(fetch("/b.zip", empty, true).error, L"");
    EXPECT_EQ(fetch("/b.zip", old, false).error, L"");

    auto asked = server.requests();
    ASSERT_EQ(asked.size(), 3u);
    for (const auto& request : asked) EXPECT_EQ(request.range, "");
    EXPECT_TRUE(readTestFile(missing) == body);
    EXPECT_TRUE(readTestFile(empty) == body);
    EXPECT_TRUE(readTestFile(old) == body);  // not resuming: written anew, not appended
}

TEST_F(HttpDownload, TestCutOffAtZeroWritesNothing) {
    server.serve("/b.zip", distinctBytes(5000));
    const std::wstring file = folder.file(L"b.zip");
    std::string memory;
    ProgressLog progress;

    HttpResult result = fetch("/b.zip", file, false, progress.callback(), 0, &memory);

    EXPECT_EQ(result.error, L"The download broke off (a test).");
    EXPECT_EQ(readTestFile(file), "");
    EXPECT_TRUE(memory.empty());
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(HttpDownload, TestCutOffMidwayLeavesAPrefixThatResumingCompletes) {
    const std::string body = distinctBytes(3 * kMiB);
    server.serve("/b.zip", body);
    const std::wstring file = folder.file(L"b.zip.part");
    const long long cutOff = kMiB + kMiB / 2;

    HttpResult first = fetch("/b.zip", file, true, {}, cutOff);
    const std::string prefix = readTestFile(file);

    EXPECT_EQ(first.error, L"The download broke off (a test).");
    ASSERT_GT(prefix.size(), 0u);
    ASSERT_LE((long long)prefix.size(), cutOff);
    EXPECT_TRUE(prefix == body.substr(0, prefix.size()));

    HttpResult second = fetch("/b.zip", file, true);

    EXPECT_EQ(second.error, L"");
    EXPECT_EQ(server.requests().at(1).range, "bytes=" + std::to_string(prefix.size()) + "-");
    EXPECT_TRUE(readTestFile(file) == body);
}

TEST_F(HttpDownload, TestCutOffCountsTheBytesAlreadyPresent) {
    const std::string body = distinctBytes(1500);
    server.serve("/b.zip", body);
    const std::wstring file = folder.writeFile(L"b.zip.part", body.substr(0, 1000));

    HttpResult result = fetch("/b.zip", file, true, {}, 1200);

    EXPECT_EQ(result.error, L"The download broke off (a test).");
    EXPECT_TRUE(readTestFile(file) == body.substr(0, 1000));
}

TEST_F(HttpDownload, StopFromTheProgressCallbackKeepsTheFirstBlock) {
    const std::string body = distinctBytes(3 * kMiB);
    server.serve("/b.zip", body);
    const std::wstring file = folder.file(L"b.zip");
    std::vector<long long> seen;
    ProgressCallback stopAtOnce = [&](long long done, long long) {
        seen.push_back(done);
        return false;
    };

    HttpResult result = fetch("/b.zip", file, false, stopAtOnce);

    EXPECT_EQ(result.error, L"Stopped.");
    ASSERT_EQ(seen.size(), 1u);
    const std::string kept = readTestFile(file);
    EXPECT_EQ((long long)kept.size(), seen[0]);
    EXPECT_TRUE(kept == body.substr(0, kept.size()));
}

TEST_F(HttpDownload, AnAnswerShorterThanItsLengthComesUpShort) {
    TestRoute route;
    route.body = distinctBytes(1000);
    route.claimedLength = 1500;
    server.serve("/b.zip", route);
    const std::wstring file = folder.file(L"b.zip.part");

    HttpResult result = fetch("/b.zip", file);

    EXPECT_EQ(result.error, L"The download came up short.");
    EXPECT_TRUE(readTestFile(file) == route.body);  // kept for a later resume
}

TEST_F(HttpDownload, AConnectionThatBreaksMidAnswerIsNotAComplete) {
    TestRoute route;
    route.body = distinctBytes(200000);
    route.cutAfter = 1000;
    server.serve("/b.zip", route);

    HttpResult result = fetch("/b.zip", folder.file(L"b.zip.part"));

    // Whether the stack reports the reset as a failed read or as an early end, it is never a success.
    EXPECT_TRUE(result.error == L"The download broke off." || result.error == L"The download came up short.")
        << toUtf8(result.error);
}

TEST_F(HttpDownload, AnAnswerWithoutLengthIsAcceptedAtAnyLength) {
    TestRoute route;
    route.body = distinctBytes(2 * kMiB + 7);
    route.noLength = true;
    server.serve("/b.zip", route);
    std::string memory;
    ProgressLog progress;

    HttpResult result = fetch("/b.zip", L"", false, progress.callback(), -1, &memory);

    EXPECT_EQ(result.error, L"");
    EXPECT_TRUE(memory == route.body);
    ASSERT_FALSE(progress.calls.empty());
    for (const auto& call : progress.calls) EXPECT_EQ(call.second, 0);
}

TEST_F(HttpDownload, StatusesOtherThanTheAcceptedOnesNameTheServer) {
    TestRoute partial;
    partial.body = "rest";
    partial.status = 206;
    server.serve("/partial", partial);
    TestRoute failing;
    failing.body = "oops";
    failing.status = 500;
    server.serve("/failing", failing);
    const std::wstring file = folder.file(L"never.bin");

    EXPECT_EQ(fetch("/missing", file).error, L"The build server answered 404.");
    EXPECT_EQ(fetch("/failing", file).error, L"The build server answered 500.");
    EXPECT_EQ(download(server.url("/partial"), nullptr, file, {}, -1, false, L"Hugging Face").error,
              L"Hugging Face answered 206.");  // a range nobody asked for
    EXPECT_FALSE(fileExists(file));  // refused before the file is opened
}

TEST_F(HttpDownload, FollowsRedirects) {
    server.serve("/new.zip", "moved content");
    TestRoute moved;
    moved.location = "/new.zip";
    server.serve("/old.zip", moved);
    std::string memory;

    HttpResult result = fetch("/old.zip", L"", false, {}, -1, &memory);

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(memory, "moved content");
}

TEST_F(HttpDownload, FailuresBeforeTheAnswerAreSentences) {
    const std::wstring closed = L"http://127.0.0.1:" + std::to_wstring(closedPort()) + L"/b.zip";
    EXPECT_EQ(download(closed, nullptr, L"", {}, -1, false, kBuildServer).error, L"Couldn't reach 127.0.0.1.");
    EXPECT_EQ(download(L"builds.example", nullptr, L"", {}, -1, false, kBuildServer).error,
              L"That isn't a web address: builds.example");
    EXPECT_EQ(download(L"http:///b.zip", nullptr, L"", {}, -1, false, kBuildServer).error,
              L"That isn't a web address: http:///b.zip");
}

TEST_F(HttpDownload, AFileThatCantBeOpenedIsNamed) {
    server.serve("/b.zip", "content");
    const std::wstring inMissingFolder = folder.file(L"no such folder\\b.zip");
    const std::wstring held = folder.writeFile(L"held.zip", "old");
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    EXPECT_EQ(fetch("/b.zip", inMissingFolder).error, L"Couldn't write " + inMissingFolder + L".");
    EXPECT_EQ(fetch("/b.zip", held).error, L"Couldn't write " + held + L".");
    CloseHandle(holder);
    EXPECT_EQ(readTestFile(held), "old");
}

// A server that answers and then sends a byte now and then: each pace ends the download with its own sentence
// however long the answer would go on, and a slow but steady one keeps its pace.
struct PaceCase {
    const char* name;
    unsigned trickleMs;    // between the body's bytes; 0: at once
    unsigned delayMs;      // before the answer
    long long size;        // of the body
    bool toFile;
    Pace pace;
    const wchar_t* error;  // empty: the whole body arrives
};

TEST_F(HttpDownload, APaceEndsADownloadThatGoesTooSlowly) {
    const PaceCase cases[] = {
        {"trickling list", 1000, 0, 1LL << 30, false, Pace{2000, 0, 0},
         L"The build server didn't send it all within 2 seconds."},
        {"silent list", 0, 5000, 10, false, Pace{2000, 0, 0}, L"The build server didn't send it all within 2 seconds."},
        {"trickling file", 1000, 0, 1LL << 30, true, Pace{0, 2000, 16384},
         L"The build server sent too little for too long."},
        {"slow but steady list", 50, 0, 20, false, Pace{10000, 0, 0}, L""},
        {"slow but steady file", 100, 0, 40, true, Pace{0, 2000, 3}, L""},
    };
    for (const PaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestRoute route;
        route.generatedSize = c.size;
        route.trickleMs = c.trickleMs;
        route.delayMs = c.delayMs;
        server.serve("/slow", route);
        const std::wstring file = c.toFile ? folder.file(L"slow.part") : L"";
        std::string memory;

        HttpResult result = download(server.url("/slow"), &memory, file, {}, -1, false, kBuildServer, c.pace);

        EXPECT_EQ(result.error, c.error);
        if (!*c.error) {
            EXPECT_TRUE(memory == TestHttpServer::patternBytes(c.size));
        }
        // What came is kept in the file, ready for the next try.
        if (c.toFile) {
            EXPECT_TRUE(readTestFile(file) == memory);
        }
    }
}

TEST_F(HttpDownload, TheNextTryCarriesOnWhereASlowDownloadStopped) {
    const std::string body = distinctBytes(100000);
    TestRoute trickling;
    trickling.body = body;
    trickling.trickleMs = 500;
    server.serve("/b.zip", trickling);
    const std::wstring file = folder.file(L"b.zip.part");

    HttpResult slow = download(server.url("/b.zip"), nullptr, file, {}, -1, true, kBuildServer, Pace{0, 2000, 16384});
    const size_t kept = readTestFile(file).size();
    server.serve("/b.zip", body);
    HttpResult next = fetch("/b.zip", file, true);

    EXPECT_EQ(slow.error, L"The build server sent too little for too long.");
    EXPECT_GT(kept, 0u);
    EXPECT_EQ(next.error, L"");
    EXPECT_EQ(server.requests().back().range, "bytes=" + std::to_string(kept) + "-");
    EXPECT_TRUE(readTestFile(file) == body);
}

class HttpRequest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    TestHttpServer server;
};

TEST_F(HttpRequest, GetGathersStatusAndBodyWithoutJudgingTheStatus) {
    server.serve("/system_stats", "{\"system\":{}}");
    TestRoute missing;
    missing.body = "{\"error\":\"no such prompt\"}";
    missing.status = 404;
    server.serve("/history/1", missing);

    HttpResult stats = request(L"GET", server.url("/system_stats"), "", 5000);
    HttpResult history = request(L"GET", server.url("/history/1"), "", 5000);

    EXPECT_EQ(stats.error, L"");
    EXPECT_EQ(stats.status, 200u);
    EXPECT_EQ(stats.body, "{\"system\":{}}");
    EXPECT_EQ(history.error, L"");
    EXPECT_EQ(history.status, 404u);
    EXPECT_EQ(history.body, missing.body);
    auto asked = server.requests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].method, "GET");
    EXPECT_EQ(asked[0].header("Content-Type"), "");
    EXPECT_EQ(asked[0].body, "");
    EXPECT_EQ(asked[0].header("User-Agent"), "Vorlane-Launcher/1.0");
}

TEST_F(HttpRequest, PostSendsItsBodyAsJson) {
    server.serve("/prompt?client=7", "{\"prompt_id\":\"p1\"}");
    const std::string body = "{\"prompt\":{\"1\":{\"class_type\":\"KSampler\"}},\"note\":\"\xC3\xA9\"}";

    HttpResult result = request(L"POST", server.url("/prompt?client=7"), body, 5000);

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.body, "{\"prompt_id\":\"p1\"}");
    auto asked = server.requests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].method, "POST");
    EXPECT_EQ(asked[0].target, "/prompt?client=7");
    EXPECT_EQ(asked[0].header("Content-Type"), "application/json");
    EXPECT_EQ(asked[0].body, body);
}

TEST_F(HttpRequest, NoAnswerIsAPhraseWithHostAndPort) {
    const unsigned short port = closedPort();
    EXPECT_EQ(request(L"GET", L"http://127.0.0.1:" + std::to_wstring(port) + L"/queue", "", 5000).error,
              L"nothing answered at 127.0.0.1:" + std::to_wstring(port));
    EXPECT_EQ(request(L"GET", L"127.0.0.1:8188", "", 5000).error, L"That isn't a web address: 127.0.0.1:8188");
}

TEST_F(HttpRequest, TheCallersReceiveTimeOutApplies) {
    TestRoute slow;
    slow.body = "late";
    slow.delayMs = 3000;
    server.serve("/slow", slow);

    HttpResult result = request(L"GET", server.url("/slow"), "", 300);

    EXPECT_EQ(result.error, L"nothing answered at 127.0.0.1:" + std::to_wstring(server.port()));
    EXPECT_EQ(result.status, 0u);
}

TEST_F(HttpRequest, AnAnswerThatBreaksOffIsAnError) {
    TestRoute route;
    route.body = distinctBytes(200000);
    route.cutAfter = 1000;
    server.serve("/view", route);

    HttpResult result = request(L"GET", server.url("/view"), "", 5000);

    EXPECT_EQ(result.error, L"its answer broke off");
    EXPECT_EQ(result.status, 200u);
}

TEST_F(HttpRequest, AnAnswerOfExactly256MiBIsTaken) {
    TestRoute route;
    route.generatedSize = 268435456;
    server.serve("/view", route);

    HttpResult result = request(L"GET", server.url("/view"), "", 60000);

    EXPECT_EQ(result.error, L"");
    ASSERT_EQ(result.body.size(), 268435456u);
    for (size_t at : {size_t(0), size_t(65535), size_t(65536), size_t(134217727), size_t(268435455)})
        EXPECT_EQ(result.body[at], TestHttpServer::patternByte((long long)at)) << at;
}

TEST_F(HttpRequest, AnAnswerOneByteOver256MiBIsRefused) {
    TestRoute route;
    route.generatedSize = 268435457;
    server.serve("/view", route);

    HttpResult result = request(L"GET", server.url("/view"), "", 60000);

    EXPECT_EQ(result.error, L"its answer was too big");
}

class HttpHead : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    TestHttpServer server;
};

TEST_F(HttpHead, ARedirectReachesTheCallerWithTheAskedHeaders) {
    server.serve("/cdn/blob", "the model");
    TestRoute redirect;
    redirect.location = "/cdn/blob";
    redirect.headers = {{"X-Linked-Size", "5368709120"}, {"X-Linked-ETag", "\"0123abcd\""}};
    server.serve("/resolve/main/model.safetensors", redirect);

    HttpResult result = head(server.url("/resolve/main/model.safetensors"),
                             {L"Location", L"x-linked-size", L"X-Absent", L"X-Linked-ETag"});

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 302u);
    ASSERT_EQ(result.headers.size(), 4u);
    EXPECT_EQ(result.headers[0], L"/cdn/blob");
    EXPECT_EQ(result.headers[1], L"5368709120");
    EXPECT_EQ(result.headers[2], L"");
    EXPECT_EQ(result.headers[3], L"\"0123abcd\"");
    auto asked = server.requests();
    ASSERT_EQ(asked.size(), 1u);  // the redirect was not followed
    EXPECT_EQ(asked[0].method, "HEAD");
}

TEST_F(HttpHead, AFileAnswersWithItsHeadersOnly) {
    TestRoute file;
    file.body = distinctBytes(4321);
    file.headers = {{"ETag", "\"e1\""}};
    server.serve("/model.bin", file);

    HttpResult result = head(server.url("/model.bin"), {L"Content-Length", L"ETag"});

    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 200u);
    EXPECT_EQ(result.headers, (std::vector<std::wstring>{L"4321", L"\"e1\""}));
    EXPECT_TRUE(result.body.empty());
}

TEST_F(HttpHead, FailuresBeforeTheAnswerAreSentences) {
    const std::wstring closed = L"http://127.0.0.1:" + std::to_wstring(closedPort()) + L"/x";
    EXPECT_EQ(head(closed, {L"Location"}).error, L"Couldn't reach 127.0.0.1.");
    EXPECT_EQ(head(L"huggingface.co/x", {}).error, L"That isn't a web address: huggingface.co/x");
}

TEST(HttpUrls, NormaliseBaseUrl) {
    EXPECT_EQ(normaliseBaseUrl(L" \t192.168.1.20:8080///\r\n"), L"http://192.168.1.20:8080");
    EXPECT_EQ(normaliseBaseUrl(L"127.0.0.1:8188/"), L"http://127.0.0.1:8188");
    EXPECT_EQ(normaliseBaseUrl(L"https://builds.example.com/vorlane//"), L"https://builds.example.com/vorlane");
    EXPECT_EQ(normaliseBaseUrl(L"http://localhost:8188"), L"http://localhost:8188");
    EXPECT_EQ(normaliseBaseUrl(L""), L"");
    EXPECT_EQ(normaliseBaseUrl(L" \t\r\n"), L"");
    EXPECT_EQ(normaliseBaseUrl(L"///"), L"");
}

TEST(HttpUrls, IsLoopbackUrl) {
    EXPECT_TRUE(isLoopbackUrl(L"http://127.0.0.1:8188"));
    EXPECT_TRUE(isLoopbackUrl(L"http://LOCALHOST:8188/"));
    EXPECT_TRUE(isLoopbackUrl(L"https://localhost/x"));
    // Wine's URL splitting mistakes the bracketed IPv6 literal for a one-letter host; Windows splits it right.
    if (!runningUnderWine()) {
        EXPECT_TRUE(isLoopbackUrl(L"http://[::1]:8188"));
    }
    EXPECT_FALSE(isLoopbackUrl(L"http://127.0.0.2:8188"));
    EXPECT_FALSE(isLoopbackUrl(L"http://192.168.1.20:8188"));
    EXPECT_FALSE(isLoopbackUrl(L"http://localhost.example.com"));
    EXPECT_FALSE(isLoopbackUrl(L"localhost:8188"));
    EXPECT_FALSE(isLoopbackUrl(L""));
}

}  // namespace
