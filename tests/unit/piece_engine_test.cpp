// The piece engine against test servers: files written from a pack's ranges or
// from pieces one by one, spread over servers, a server that lies or fails left
// for the others, and a run cut short carried on from its record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>

#include "core/files.h"
#include "core/text.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "pieces/piece_cutter.h"
#include "pieces/piece_engine.h"
#include "support/addon_themes.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

namespace vorlane {
namespace {

using testing::TempFolder;
using testing::TestHttpServer;
using testing::TestRoute;
using testing::noiseBytes;

std::string hexOf(const std::string& bytes) {
    Sha256Digest digest{};
    sha256(bytes, digest);
    return toUtf8(toHex(digest));
}

// A build of a few files (one repeating another's start, so that a piece has two places), its pieces on the
// servers one by one and as a pack.
struct PublishedFiles {
    std::vector<std::string> bytes;
    std::vector<IndexFile> files;
    std::string pack;
    std::map<std::string, std::string> objects;  // "/builds/<hash>" -> bytes

    PublishedFiles() {
        const std::string big = noiseBytes(3 << 20, 7);
        bytes = {big, noiseBytes(200000, 8), big.substr(0, 600000) + noiseBytes(90000, 9), std::string()};
        std::set<std::wstring> packed;
        for (size_t i = 0; i < bytes.size(); ++i) {
            IndexFile file{L"Content/File" + std::to_wstring(i) + L".pak", bytes[i].size(), toUtf16(hexOf(bytes[i])), {}};
            PieceCutter cutter([&](const Piece& piece) {
                const std::string part = bytes[i].substr(piece.offset, piece.size);
                file.pieces.push_back(IndexPiece{piece.digest, piece.size});
                objects["/builds/" + hexOf(part)] = part;
                if (packed.insert(toHex(piece.digest)).second) pack += part;
            });
            cutter.add((const unsigned char*)bytes[i].data(), bytes[i].size());
            cutter.finish();
            files.push_back(file);
        }
        objects["/builds/" + hexOf(pack)] = pack;
    }
    void serveOn(TestHttpServer& server, bool withPack = true) const {
        for (const auto& [path, body] : objects)
            if (withPack || body != pack) server.serve(path, body);
    }
    PieceServers servers(const std::vector<TestHttpServer*>& on, bool withPack) const {
        PieceServers servers;
        for (TestHttpServer* server : on) servers.servers.push_back(server->baseUrl());
        servers.label = L"The build server";
        servers.objectName = [](const std::wstring& hash) { return buildObjectName(hash); };
        if (withPack) servers.pack = PiecePack{toUtf16(hexOf(pack)), pack.size()};
        servers.packed = &files;
        return servers;
    }
    std::vector<PieceTarget> targets(const TempFolder& folder) const {
        std::vector<PieceTarget> targets;
        for (const IndexFile& file : files) targets.push_back(PieceTarget{&file, folder.file(windowsPath(file.path))});
        return targets;
    }
    void expectWritten(const TempFolder& folder) const {
        for (size_t i = 0; i < files.size(); ++i) {
            std::string written;
            EXPECT_TRUE(readWholeFile(folder.file(windowsPath(files[i].path)), written) && written == bytes[i])
                << toUtf8(files[i].path);
        }
    }
};

// Bytes the servers sent for pieces, whatever the request's shape.
uint64_t bytesAsked(const TestHttpServer& server, const PublishedFiles& published) {
    uint64_t asked = 0;
    for (const auto& request : server.requests()) {
        auto object = published.objects.find(request.target);
        if (object == published.objects.end()) continue;
        const size_t dash = request.range.find('-');
        asked += request.range.empty() ? object->second.size()
                                       : std::stoull(request.range.substr(dash + 1)) -
                                             std::stoull(request.range.substr(6, dash - 6)) + 1;
    }
    return asked;
}

struct EngineCase {
    const char* name;
    bool withPack;
    bool twoServers;
    bool firstLies;  // the first server's pack (or pieces) are other bytes
};

class PieceEngineRuns : public ::testing::TestWithParam<EngineCase> {};

// Every file comes out whole; with a pack the requests are ranges of it, each piece asked for once; with two
// servers both serve; a server that sends other bytes is asked twice, then left.
TEST_P(PieceEngineRuns, EveryFileComesOutWholeFromTheServersThatServeItRight) {
    const EngineCase c = GetParam();
    const PublishedFiles published;
    TestHttpServer first, second;
    published.serveOn(first, c.withPack);
    published.serveOn(second, c.withPack);
    if (c.firstLies)
        for (const auto& [path, body] : published.objects) first.serve(path, std::string(body.size(), 'x'));
    std::vector<TestHttpServer*> servers{&first};
    if (c.twoServers) servers.push_back(&second);

    TempFolder folder{L"engine"};
    PieceEngine engine(published.servers(servers, c.withPack), JobControl());
    engine.plan(published.targets(folder), L"");
    EXPECT_EQ(engine.counts().toFetch, published.pack.size());
    std::vector<double> shares;
    const PieceRunResult result =
        engine.run([&](const PieceCounts& counts) { shares.push_back(shareDone(counts)); }, false, true);
    ASSERT_EQ(result.failure, PieceFailure::None) << toUtf8(result.error);
    published.expectWritten(folder);
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_EQ(shares.back(), 1.0);
    EXPECT_EQ(engine.counts().fetched, published.bytes[0].size() + published.bytes[1].size() + published.bytes[2].size());

    const uint64_t fromFirst = bytesAsked(first, published), fromSecond = bytesAsked(second, published);
    if (c.firstLies) {
        EXPECT_LE(first.requests().size(), 2u);
        EXPECT_EQ(fromSecond, published.pack.size());
    } else {
        EXPECT_EQ(fromFirst + fromSecond, published.pack.size());  // each piece once
    }
    if (c.twoServers && !c.firstLies) {
        EXPECT_GT(fromFirst, 0u);
        EXPECT_GT(fromSecond, 0u);
    }
    std::set<std::string> targets;
    for (const TestHttpServer* server : {&first, &second})
        for (const auto& request : server->requests()) {
            EXPECT_EQ(!request.range.empty(), c.withPack) << request.target;
            targets.insert(request.target);
        }
    if (c.withPack) {
        EXPECT_EQ(targets, std::set<std::string>{"/builds/" + hexOf(published.pack)});
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PieceEngineRuns,
                         ::testing::Values(EngineCase{"Pack", true, false, false},
                                           EngineCase{"PiecesOneByOne", false, false, false},
                                           EngineCase{"PackFromTwoServers", true, true, false},
                                           EngineCase{"PiecesFromTwoServers", false, true, false},
                                           EngineCase{"PackFromTheServerThatDoesntLie", true, true, true},
                                           EngineCase{"PiecesFromTheServerThatDoesntLie", false, true, true}),
                         [](const ::testing::TestParamInfo<EngineCase>& info) { return std::string(info.param.name); });

// The bar weighs a byte from the servers as ten from the disk: a build that is mostly
// on the disk already has the bar mostly waiting on the few bytes it fetches.
TEST(PieceEngine, TheShareDoneWeighsBytesByWhereTheyComeFrom) {
    const struct {
        PieceCounts counts;
        double share;
    } cases[] = {
        {{.total = 1000, .toFetch = 1000}, 0.0},
        {{.total = 1000, .done = 500, .received = 500, .toFetch = 1000}, 0.5},
        // 900 bytes copied from the disk, 100 still to fetch, then the whole-file check.
        {{.total = 1000, .done = 900, .fromDisk = 900, .toFetch = 100, .toCheck = 1000}, 90.0 / 300},
        {{.total = 1000, .done = 1000, .fromDisk = 900, .received = 100, .toFetch = 100, .toCheck = 1000}, 200.0 / 300},
        {{.total = 1000, .done = 1000, .received = 100, .toFetch = 100, .toCheck = 1000, .checked = 1000}, 1.0},
        {{}, 1.0},  // nothing to do is done
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(shareDone(c.counts), c.share) << c.counts.done << " " << c.counts.checked;
}

// A run stopped once some pieces came carries on from its record: what was written and checks out isn't
// fetched again, and a piece the record names that was spoilt on disk since is.
TEST(PieceEngine, ARunCutShortCarriesOnFromItsRecordFetchingOnlyWhatIsntThere) {
    const PublishedFiles published;
    TestHttpServer server;
    published.serveOn(server, false);
    // Each piece is held a while, so that the run is still fetching when it is stopped.
    for (const auto& [path, body] : published.objects) server.serve(path, TestRoute{.body = body, .delayMs = 30});
    TempFolder folder{L"engine-resume"};
    const std::wstring record = folder.file(L"pieces-done.txt");
    std::atomic<bool> stop{false};
    {
        JobControl job([&](double, const std::wstring&) {}, &stop);
        PieceEngine engine(published.servers({&server}, false), job);
        engine.plan(published.targets(folder), record);
        const PieceRunResult result = engine.run([&](const PieceCounts& counts) {
            if (counts.received >= (1u << 20)) stop = true;
        });
        EXPECT_EQ(result.failure, PieceFailure::Stopped);
    }
    const uint64_t before = bytesAsked(server, published);
    ASSERT_GT(before, 1u << 20);
    ASSERT_LT(before, published.pack.size());
    // A piece written before the stop is spoilt meanwhile.
    {
        std::string file;
        ASSERT_TRUE(readWholeFile(folder.file(L"Content\\File0.pak"), file));
        file[10] ^= 1;
        folder.writeFile(L"Content\\File0.pak", file);
    }
    server.clearLog();
    stop = false;
    PieceEngine engine(published.servers({&server}, false), JobControl());
    engine.plan(published.targets(folder), record);
    EXPECT_GT(engine.counts().done, 0u);
    EXPECT_EQ(engine.run(nullptr, false, true).failure, PieceFailure::None);
    published.expectWritten(folder);
    // Fetched again: what hadn't come, and the spoilt piece.
    EXPECT_LE(bytesAsked(server, published), published.pack.size() - before + published.files[0].pieces[0].size);
    EXPECT_GE(bytesAsked(server, published), published.pack.size() - before);
}

// No server gives a piece: the run fails naming the file, and with keepGoing the other files are written.
TEST(PieceEngine, APieceNoServerGivesFailsItsFileAlone) {
    const PublishedFiles published;
    TestHttpServer server;
    published.serveOn(server, false);
    // The last piece asked for: the server is left after it failed twice, with nothing else to ask it.
    const std::string lost = "/builds/" + toUtf8(toHex(published.files[2].pieces.back().hash));
    server.serve(lost, TestRoute{"", -1, 404});
    TempFolder folder{L"engine-lost"};
    for (bool keepGoing : {false, true}) {
        PieceEngine engine(published.servers({&server}, false), JobControl());
        engine.plan(published.targets(folder), L"");
        const PieceRunResult result = engine.run(nullptr, keepGoing);
        EXPECT_EQ(result.failure, PieceFailure::Fetching);
        ASSERT_NE(result.file, nullptr);
        EXPECT_EQ(result.file->path, published.files[2].path);
        EXPECT_EQ(result.error, L"The build server answered 404.");
        if (keepGoing) {
            EXPECT_EQ(result.written, (std::vector<bool>{true, true, false, true}));
        }
    }
}

}  // namespace
}  // namespace vorlane
