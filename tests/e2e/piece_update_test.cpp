// Updates by pieces, run for real: builds published in pieces with the release
// tool onto nginx, the test-key launcher updating from one to the next, and
// nginx's access log telling which pieces it fetched. Every way the piece path
// can fail ends in the zip path, and the installed build is the zip's either
// way. Also the check of an installed build and its mending.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "core/files.h"
#include "core/files_below.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "install/build_list.h"
#include "install/piece_install.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "pieces/build_index.h"
#include "pieces/piece_index.h"
#include "support/addon_themes.h"
#include "support/build_server.h"
#include "support/installed_game.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"
#include "support/link_proxy.h"
#include "support/nginx_server.h"
#include "support/publisher.h"
#include "support/rename_lock.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"
#include "support/window_driver.h"
#include "ui/main_window_controls.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kA = L"a1a1a1a", kB = L"b2b2b2b";
const std::wstring kMaps = L"Content\\Paks\\Maps.pak", kIntro = L"Content\\Movies\\Intro.bk2";
const std::wstring kMods = L"Content\\Mods\\";  // an empty folder

// Build A: the shipped payload, a 2 MiB map pack and an empty folder. Build B: the same payload,
// the map pack with 4 KiB changed in its middle, a new movie and the empty folder.
const std::string kMapsA = noiseBytes(2 << 20, 7);
std::string mapsOfB() {
    std::string maps = kMapsA;
    const std::string changed = noiseBytes(4096, 8);
    maps.replace(maps.size() / 2, changed.size(), changed);
    return maps;
}

// An index past one of the launcher's limits, made from B's by a hostile or careless server.
struct IndexPastALimit {
    const char* name;
    std::function<void(std::string&)> change;
    BuildIndexVerdict verdict;
};

// `count` copies of `what` with ", " after each, put in after the first `after`.
void putInAfter(std::string& text, const std::string& after, size_t count, const std::function<std::string(size_t)>& what) {
    std::string added;
    for (size_t i = 0; i < count; ++i) added += what(i) + ", ";
    text.insert(text.find(after) + after.size(), added);
}

const std::string kAnyHash(64, 'c');

// The bytes nginx sent in answer to a logged request.
uint64_t bytesSent(const std::string& line) {
    const size_t status = line.find("\" ", line.find(" HTTP/")) + 2;
    return std::stoull(line.substr(line.find(' ', status) + 1));
}

const IndexPastALimit kIndexesPastALimit[] = {
    {"LongerThanAnyDownloadIntoMemory",
     [](std::string& text) { text.insert(1, size_t(kLargestMemoryDownload) + 1 - text.size(), ' '); },
     BuildIndexVerdict::TooLong},
    {"MillionsOfZeros", [](std::string& text) { putInAfter(text, "\"Files\": [", 8300000, [](size_t) { return "0"; }); },
     BuildIndexVerdict::TooLong},
    {"TooManyPieces",
     [](std::string& text) {
         putInAfter(text, "\"Chunks\": [", kMostBuildPieces + 1, [](size_t) { return "\"" + kAnyHash + ":1\""; });
     },
     BuildIndexVerdict::TooManyPieces},
    {"TooManyFiles",
     [](std::string& text) {
         putInAfter(text, "\"Files\": [", kMostBuildFiles, [](size_t i) {
             return "{\"Path\": \"Extra/f" + std::to_string(i) + ".txt\", \"Size\": 1, \"Sha256\": \"" + kAnyHash +
                    "\", \"Chunks\": [\"" + kAnyHash + ":1\"]}";
         });
     },
     BuildIndexVerdict::TooManyFiles},
};

class PieceUpdate : public LauncherTest {
protected:
    PieceUpdate() : LauncherTest(L"pieces") {}

    // A first install takes the zip here (so that an earlier build has no index beside it) unless a test says otherwise.
    void SetUp() override {
        LauncherTest::SetUp();
        server->publishInPieces(true);
        ASSERT_TRUE(makeFolderTree(root));
        setPieces(L"updates");
    }
    void setPieces(const wchar_t* value) {
        ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Pieces", value, joinPath(root, L"launcher.ini").c_str()));
    }

    void publishA() {
        zips[kA] = server->publishBuild(kA, L"2026-01-01T10:00:00Z", 3 << 20, {{kMaps, kMapsA}, {kMods, ""}});
    }
    void publishB() {
        zips[kB] = server->publishBuild(kB, L"2026-02-01T10:00:00Z", 3 << 20,
                                        {{kMaps, mapsOfB()}, {kIntro, noiseBytes(100000, 9)}, {kMods, ""}});
    }

    // A installed from its zip with a save of the player's, then B published.
    void installAThenPublishB() {
        publishA();
        ASSERT_EQ(runCommand(L"install"), 0u);
        makeFolderTree(joinPath(savedOf(kA), L"SaveGames"));
        ASSERT_TRUE(writeFileAtomically(joinPath(savedOf(kA), L"SaveGames\\slot1.sav"), "wave 9"));
        publishB();
        newLogLines();
    }

    std::wstring savedOf(const std::wstring& commit) { return joinPath(buildFolderOf(commit), L"Vorlane\\Saved"); }
    std::wstring listPath() const { return joinPath(server->folder(), L"builds.json"); }

    BuildRecord recordOf(const std::wstring& commit) {
        for (const BuildRecord& record : readBuildRecords(readTestFile(listPath())))
            if (record.commit == commit) return record;
        ADD_FAILURE() << "no record of " << toUtf8(commit);
        return {};
    }
    std::wstring objectPath(const std::wstring& hash) { return joinPath(server->folder(), L"builds\\" + hash); }

    BuildIndex indexOf(const std::wstring& commit) {
        BuildIndex index;
        EXPECT_EQ(readBuildIndex(readTestFile(objectPath(recordOf(commit).index)), commit, index).verdict,
                  BuildIndexVerdict::Good);
        return index;
    }

    // The hashes of the pieces of `index` (only of the files `wanted` picks).
    static std::set<std::wstring> piecesOf(const BuildIndex& index,
                                           const std::function<bool(const IndexFile&)>& wanted = nullptr) {
        std::set<std::wstring> hashes;
        for (const IndexFile& file : index.files)
            if (!wanted || wanted(file))
                for (const IndexPiece& piece : file.pieces) hashes.insert(toHex(piece.hash));
        return hashes;
    }

    // How often nginx was asked for each piece of the set (from this test's server folder, or another's).
    size_t requestsFor(const std::set<std::wstring>& hashes, const std::wstring& serverPath = L"") {
        size_t count = 0;
        for (const std::wstring& hash : hashes) count += requestsFor(hash, serverPath);
        return count;
    }
    // Where the piece lies in each listed build's pack: the pack's name and the piece's offset and size there.
    void inPacks(const std::wstring& hash,
                 const std::function<void(const std::wstring& pack, uint64_t offset, uint32_t size)>& found) {
        for (const BuildRecord& record : readBuildRecords(readTestFile(listPath()))) {
            BuildIndex index;
            if (record.index.empty() ||
                readBuildIndex(readTestFile(objectPath(record.index)), record.commit, index).verdict !=
                    BuildIndexVerdict::Good ||
                index.pack.sha256.empty())
                continue;
            uint64_t offset = 0;
            std::set<std::wstring> packed;
            for (const IndexFile& file : index.files)
                for (const IndexPiece& piece : file.pieces) {
                    if (!packed.insert(toHex(piece.hash)).second) continue;
                    if (toHex(piece.hash) == hash) found(index.pack.sha256, offset, piece.size);
                    offset += piece.size;
                }
        }
    }

    // Spoils a piece on the server: its own object, and its bytes within every pack that holds it.
    void spoilPiece(const std::wstring& hash) {
        std::string bytes = readTestFile(objectPath(hash));
        bytes[bytes.size() / 2] ^= 0x40;
        ASSERT_TRUE(writeFileAtomically(objectPath(hash), bytes));
        inPacks(hash, [&](const std::wstring& name, uint64_t offset, uint32_t size) {
            std::string pack = readTestFile(objectPath(name));
            pack[offset + size / 2] ^= 0x40;
            EXPECT_TRUE(writeFileAtomically(objectPath(name), pack));
        });
    }

    // A piece comes on its own or within a range of a build's pack: both are counted.
    size_t requestsFor(const std::wstring& name, const std::wstring& serverPath = L"") {
        const std::wstring folder = serverPath.empty() ? server->url().substr(nginxBaseUrl().size()) : serverPath;
        size_t count = nginxRequestsFor(folder + L"/" + buildObjectName(name)).size();
        inPacks(name, [&](const std::wstring& pack, uint64_t offset, uint32_t size) {
            for (const std::string& line : nginxRequestsFor(folder + L"/" + buildObjectName(pack))) {
                const size_t at = line.rfind("\"bytes="), dash = line.find('-', at);
                if (at == std::string::npos || dash == std::string::npos) continue;
                const uint64_t first = std::stoull(line.substr(at + 7)), last = std::stoull(line.substr(dash + 1));
                count += first <= offset && offset + size - 1 <= last;
            }
        });
        return count;
    }
    size_t zipRequests(const std::wstring& commit) { return nginxRequestsFor(requestPath(buildZipName(commit))).size(); }

    // Every file and empty folder of the zip is in the build folder as it is in
    // the zip, and the build folder holds nothing else but the player's saves (and what
    // starts with `extra`, such as folders moved aside).
    void expectBuildIsTheZips(const std::wstring& commit, const std::wstring& extra = L"") {
        auto isExtra = [&](const std::wstring& path) { return !extra.empty() && path.starts_with(extra); };
        const std::wstring shipped = unpackBuildZip(zips[commit], temp.file(L"unpacked-" + commit));
        ASSERT_FALSE(shipped.empty());
        std::set<std::wstring> expected, installed;
        for (const std::wstring& file : filesBelow(shipped)) {
            expected.insert(file);
            EXPECT_EQ(readTestFile(joinPath(buildFolderOf(commit), file)), readTestFile(joinPath(shipped, file)))
                << toUtf8(file);
        }
        for (const std::wstring& file : filesBelow(buildFolderOf(commit)))
            if (!file.starts_with(L"Vorlane\\Saved\\SaveGames\\") && !isExtra(file)) installed.insert(file);
        EXPECT_EQ(installed, expected);
        EXPECT_GE(expected.size(), 5u);
        const std::vector<std::wstring> shippedEmpty = emptyFoldersBelow(shipped);
        std::vector<std::wstring> installedEmpty = emptyFoldersBelow(buildFolderOf(commit));
        std::erase_if(installedEmpty, [&](const std::wstring& folder) {
            return folder == L"Vorlane\\Saved\\SaveGames" || isExtra(folder);
        });
        EXPECT_EQ(std::set<std::wstring>(installedEmpty.begin(), installedEmpty.end()),
                  std::set<std::wstring>(shippedEmpty.begin(), shippedEmpty.end()));
    }

    // Rewrites B's index with `change`, stores it under its new SHA-256, names it
    // in builds.json and signs the list again, as a hostile server could.
    void replaceIndexOfB(const std::function<void(std::string&)>& change) {
        std::string text = readTestFile(objectPath(recordOf(kB).index));
        change(text);
        const std::wstring hash = sha256Hex(text);
        ASSERT_TRUE(writeFileAtomically(objectPath(hash), text));
        std::vector<BuildRecord> records = readBuildRecords(readTestFile(listPath()));
        for (BuildRecord& record : records)
            if (record.commit == kB) record.index = hash;
        ASSERT_TRUE(writeFileAtomically(listPath(), buildListJson(records)));
        TempFolder work{L"sign"};
        ASSERT_EQ(runPublisher(work, {L"sign", keptTestKeyFile(), listPath()}).exitCode, 0u);
    }

    static std::string replaced(std::string text, const std::string& what, const std::string& with) {
        const size_t at = text.find(what);
        EXPECT_NE(at, std::string::npos) << what;
        return at == std::string::npos ? text : text.replace(at, what.size(), with);
    }

    void expectUpdatedFromTheZip(const std::vector<std::wstring>& lines, const std::wstring& why) {
        EXPECT_TRUE(contains(lines, L"Updating by pieces didn't work out (" + why +
                                        L"), so the build's zip is downloaded instead."))
            << toUtf8(why);
        EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
        EXPECT_EQ(zipRequests(kB), 1u);
        expectBuildIsTheZips(kB);
    }

    // Refused with a sentence that names the limit, before anything is written: B comes from its zip,
    // and the player's saves come over as ever.
    void expectRefused(const IndexPastALimit& index) {
        installAThenPublishB();
        if (HasFatalFailure()) return;
        replaceIndexOfB(index.change);
        ASSERT_EQ(runCommand(L"update"), 0u) << index.name;
        expectUpdatedFromTheZip(newLogLines(), L"its index was refused: " + buildIndexRefusal({index.verdict}));
        EXPECT_EQ(readTestFile(joinPath(savedOf(kB), L"SaveGames\\slot1.sav")), "wave 9") << index.name;
    }

    // One byte of a file changed, as a failing disk or a careless tool might.
    void changeAByte(const std::wstring& path, size_t at = 5) {
        std::string bytes = readTestFile(path);
        ASSERT_GT(bytes.size(), at) << toUtf8(path);
        bytes[at] ^= 1;
        ASSERT_TRUE(writeFileAtomically(path, bytes));
    }

    // The files verify checks: those of the index, the Saved folder left out.
    size_t checkedFilesOf(const std::wstring& commit) {
        const BuildIndex index = indexOf(commit);
        return std::count_if(index.files.begin(), index.files.end(),
                             [](const IndexFile& file) { return !file.path.starts_with(L"Vorlane/Saved/"); });
    }

    static bool hasLineStarting(const std::vector<std::wstring>& lines, const std::wstring& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) { return line.starts_with(start); });
    }

    // The bytes nginx has sent of the index's pack so far, every range of it counted.
    uint64_t packBytesSent(const BuildIndex& index) {
        uint64_t sent = 0;
        for (const std::string& line : nginxRequestsFor(requestPath(buildObjectName(index.pack.sha256))))
            sent += bytesSent(line);
        return sent;
    }

    // The distinct pieces `pieces-done.txt` of a first install of `commit` (or the record given) names, and their bytes.
    std::set<std::wstring> recordedPieces(const std::wstring& commit, uint64_t* bytes = nullptr,
                                          const std::wstring& record = L"") {
        std::set<std::wstring> hashes;
        const std::string text = readTestFile(
            record.empty() ? joinPath(root, L"Game\\" + commit + L".new\\pieces-done.txt") : record);
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = std::min(text.find('\n', start), text.size());
            if (end - start > 65 && hashes.insert(toUtf16(text.substr(start, 64))).second && bytes)
                *bytes += std::stoull(text.substr(start + 65));
        }
        return hashes;
    }

    std::map<std::wstring, std::wstring> zips;
};

TEST_F(PieceUpdate, AnUpdateFetchesOnlyTheNewPiecesAndLeavesWhatTheZipWouldWithTheSaves) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    const BuildIndex a = indexOf(kA), b = indexOf(kB);
    std::set<std::wstring> onlyInB;
    const std::set<std::wstring> inA = piecesOf(a);
    for (const std::wstring& hash : piecesOf(b))
        if (!inA.contains(hash)) onlyInB.insert(hash);
    // The 4 KiB change touches a piece or two of the map pack; the movie and Build.ini are new.
    ASSERT_GE(onlyInB.size(), 3u);
    ASSERT_LE(onlyInB.size(), 6u);

    ASSERT_EQ(runCommand(L"update"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    // The cost counts the new pieces' bytes, in KB under 1 MB.
    uint64_t newBytes = 0, total = 0;
    std::set<std::wstring> counted;
    for (const IndexFile& file : b.files) {
        total += file.size;
        for (const IndexPiece& piece : file.pieces)
            if (onlyInB.contains(toHex(piece.hash)) && counted.insert(toHex(piece.hash)).second) newBytes += piece.size;
    }
    const std::wstring newWords = newBytes < (1u << 20) ? std::to_wstring(newBytes >> 10) + L" KB"
                                                        : std::to_wstring(newBytes >> 20) + L" MB";
    EXPECT_TRUE(contains(lines, L"Updating to build " + kB + L" by pieces: " + newWords + L" of " +
                                    std::to_wstring(total >> 20) + L" MB is new."));

    // Only B's index and its new pieces were fetched, each once; no zip.
    EXPECT_EQ(requestsFor(recordOf(kB).index), 1u);
    for (const std::wstring& hash : onlyInB) EXPECT_EQ(requestsFor(hash), 1u) << toUtf8(hash);
    EXPECT_EQ(requestsFor(inA), 0u);
    EXPECT_EQ(zipRequests(kB), 0u);

    expectBuildIsTheZips(kB);
    EXPECT_EQ(readTestFile(joinPath(savedOf(kB), L"SaveGames\\slot1.sav")), "wave 9");
    EXPECT_EQ(setting(L"Current"), kB);
    EXPECT_EQ(setting(L"Previous"), kA);
    EXPECT_TRUE(listFolder(joinPath(root, L"Downloads")).empty());
}

// However many pieces are missing, no more than kPiecesInFlight are asked for at
// once: the build server's files served again by a server that holds every
// piece a while and counts the requests it holds at the same time.
TEST_F(PieceUpdate, AnUpdateOfManyPiecesAsksForNoMoreThanTheBoundAtOnce) {
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    zips[kB] = server->publishBuild(kB, L"2026-02-01T10:00:00Z", 3 << 20,
                                    {{kMaps, mapsOfB()}, {kIntro, noiseBytes(6 << 20, 9)}});
    TestHttpServer counting(true);
    for (std::wstring file : filesBelow(server->folder())) {
        TestRoute route{.body = readTestFile(joinPath(server->folder(), file))};
        route.delayMs = file.starts_with(L"builds\\") ? 250 : 0;
        std::replace(file.begin(), file.end(), L'\\', L'/');
        counting.serve("/" + toUtf8(file), route);
    }
    newLogLines();
    ASSERT_EQ(runToEnd(testKeyLauncher(), launcherArguments({L"--auto", L"update"}, counting.baseUrl()), 120000), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.starts_with(L"Updating to build " + kB + L" by pieces: ");
    }));
    // More requests than the bound (ranges of the pack, each of several pieces), so that the bound is what holds them.
    EXPECT_GT(counting.requests().size(), kPiecesInFlight + 2u);
    RecordProperty("MostPiecesAtOnce", std::to_string(counting.mostAtOnce()));
    EXPECT_LE(counting.mostAtOnce(), kPiecesInFlight);
    EXPECT_GE(counting.mostAtOnce(), 2u);
    expectBuildIsTheZips(kB);
}

TEST_F(PieceUpdate, AFileDamagedOnDiskIsNotCopiedWholeOnlyItsDamagedPieceIsFetched) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    // The payload is the same in A and B, so it would be copied whole; one byte of A's copy is changed.
    const std::wstring pack = joinPath(buildFolderOf(kA), L"Content\\Paks\\Data.pak");
    std::string bytes = readTestFile(pack);
    ASSERT_EQ(bytes.size(), 3u << 20);
    bytes[1 << 20] ^= 0x5a;
    ASSERT_TRUE(writeFileAtomically(pack, bytes));
    const BuildIndex b = indexOf(kB);
    const IndexFile* payload = nullptr;
    for (const IndexFile& file : b.files)
        if (file.path == L"Content/Paks/Data.pak") payload = &file;
    ASSERT_NE(payload, nullptr);
    std::wstring spoilt;  // the piece holding the changed byte
    for (uint64_t at = 0; const IndexPiece& piece : payload->pieces) {
        if (at <= (1u << 20) && (1u << 20) < at + piece.size) spoilt = toHex(piece.hash);
        at += piece.size;
    }

    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Installed build " + kB + L" (previous: " + kA + L")."));
    for (const IndexPiece& piece : payload->pieces)
        EXPECT_EQ(requestsFor(toHex(piece.hash)), toHex(piece.hash) == spoilt ? 1u : 0u) << toUtf8(toHex(piece.hash));
    EXPECT_EQ(zipRequests(kB), 0u);
    expectBuildIsTheZips(kB);
}

TEST_F(PieceUpdate, APieceDamagedOnDiskIsFetchedOnceForAllTheFilesThatUseIt) {
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    // B holds A's payload three times over; A's copy has one byte changed.
    const std::wstring pack = joinPath(buildFolderOf(kA), L"Content\\Paks\\Data.pak");
    std::string bytes = readTestFile(pack);
    ASSERT_EQ(bytes.size(), 3u << 20);
    zips[kB] = server->publishBuild(kB, L"2026-02-01T10:00:00Z", 3 << 20,
                                    {{L"Content\\Paks\\Copy.pak", bytes}, {L"Content\\Paks\\Copy2.pak", bytes}});
    bytes[1 << 20] ^= 0x5a;
    ASSERT_TRUE(writeFileAtomically(pack, bytes));
    newLogLines();
    std::wstring spoilt;  // the piece holding the changed byte
    for (const IndexFile& file : indexOf(kB).files)
        for (uint64_t at = 0; const IndexPiece& piece : file.pieces) {
            if (file.path == L"Content/Paks/Data.pak" && at <= (1u << 20) && (1u << 20) < at + piece.size)
                spoilt = toHex(piece.hash);
            at += piece.size;
        }
    ASSERT_FALSE(spoilt.empty());

    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Installed build " + kB + L" (previous: " + kA + L")."));
    EXPECT_EQ(requestsFor(spoilt), 1u);
    EXPECT_EQ(zipRequests(kB), 0u);
    expectBuildIsTheZips(kB);
}

TEST_F(PieceUpdate, AFirstInstallWithAnIndexGoesByPieces) {
    publishA();
    setPieces(nullptr);
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installing build " + kA + L" by pieces: 5 MB of 5 MB is new.")) << toUtf8(lines.empty() ? L"" : lines.back());
    EXPECT_EQ(requestsFor(piecesOf(indexOf(kA))), piecesOf(indexOf(kA)).size());
    EXPECT_EQ(zipRequests(kA), 0u);
    expectBuildIsTheZips(kA);
    EXPECT_TRUE(listFolder(joinPath(root, L"Downloads")).empty());
}

// A run by pieces killed at its 12th fetched piece carries on at the next run
// from what it wrote: the bytes of A's pack nginx sends the second time are at
// most what was to fetch less the distinct pieces the record names, so no piece
// written before the kill is fetched again; the files come out as the zip's.
struct KilledRun {
    const char* name;
    const wchar_t* command;
    bool firstInstall;  // else A is installed (by pieces) and two of its files go, for verify to mend
};
const KilledRun kKilledRuns[] = {{"FirstInstall", L"install", true}, {"VerifyMending", L"verify", false}};

TEST_F(PieceUpdate, ARunByPiecesKilledHalfWayCarriesOnWithoutFetchingWhatItWrote) {
    for (const KilledRun& run : kKilledRuns) {
        SCOPED_TRACE(run.name);
        root = temp.file(L"Killed" + toUtf16(run.name));
        ASSERT_TRUE(makeFolderTree(root));
        if (zips.empty()) publishA();
        const BuildIndex a = indexOf(kA);
        ASSERT_FALSE(a.pack.sha256.empty());
        std::vector<IndexFile> lost = a.files;  // what the runs have to bring
        std::wstring record = joinPath(root, L"Game\\" + kA + L".new\\pieces-done.txt");
        if (run.firstInstall) {
            setPieces(L"always");
        } else {
            ASSERT_EQ(runCommand(L"install"), 0u);
            std::erase_if(lost, [](const IndexFile& file) { return !file.path.starts_with(L"Content/Paks/"); });
            for (const IndexFile& file : lost)
                ASSERT_TRUE(DeleteFileW(joinPath(buildFolderOf(kA), windowsPath(file.path)).c_str()));
            record = joinPath(root, L"Downloads\\Mending\\pieces-done.txt");
        }
        const uint64_t toFetch = packSize(lost);
        SetEnvironmentVariableW(L"VORLANE_CRASH_AT", L"piece-fetched:12");
        EXPECT_EQ(runCommand(run.command), 99u);
        SetEnvironmentVariableW(L"VORLANE_CRASH_AT", nullptr);
        uint64_t writtenBytes = 0;
        recordedPieces(kA, &writtenBytes, record);
        ASSERT_GT(writtenBytes, 0u);
        const uint64_t before = packBytesSent(a);

        ASSERT_EQ(runCommand(run.command), 0u);
        EXPECT_LE(packBytesSent(a) - before, toFetch - writtenBytes);
        EXPECT_EQ(zipRequests(kA), 0u);
        expectBuildIsTheZips(kA);
        EXPECT_FALSE(pathExists(parentFolder(record)));
    }
}

// Pause during a first install by pieces keeps every piece written; Resume in
// the same window, and Resume after a close and a new start, carry on, and no
// piece written before a pause is asked for again.
TEST_F(PieceUpdate, PauseDuringAnInstallByPiecesKeepsWhatCameAndEachResumeAsksOnlyForTheRest) {
    zips[kA] = server->publishBuild(kA, L"2026-01-01T10:00:00Z", 12 << 20, {{kMaps, kMapsA}, {kMods, ""}});
    ASSERT_TRUE(makeFolderTree(root));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Pieces", L"always", joinPath(root, L"launcher.ini").c_str()));
    const BuildIndex a = indexOf(kA);
    ASSERT_FALSE(a.pack.sha256.empty());

    const std::wstring slowFolder = L"/slow" + server->url().substr(nginxBaseUrl().size());
    auto packLines = [&] { return nginxRequestsFor(slowFolder + L"/" + buildObjectName(a.pack.sha256)); };
    auto written = [&] { return recordedPieces(kA); };
    // nginx logs a request when its connection ends: once a request of the
    // test's own is logged with no new line for the pack before it, every
    // request of the paused launcher's is in the log.
    int probes = 0;
    auto settle = [&] {
        for (;;) {
            const size_t before = packLines().size();
            const std::wstring probe = L"/probe-" + std::to_wstring(++probes);
            head(server->url() + probe, {});
            ASSERT_TRUE(waitFor([&] { return !nginxRequestsFor(server->url().substr(nginxBaseUrl().size()) + probe).empty(); }));
            if (packLines().size() == before) return;
        }
    };
    // The pack's ranges asked for in the log's lines from `from` on cover none of `had`.
    auto asksForNoneOf = [&](const std::set<std::wstring>& had, size_t from) {
        const std::vector<std::string> lines = packLines();
        for (size_t i = from; i < lines.size(); ++i) {
            const size_t at = lines[i].rfind("\"bytes="), dash = lines[i].find('-', at);
            ASSERT_NE(at, std::string::npos) << lines[i];
            const uint64_t first = std::stoull(lines[i].substr(at + 7)), last = std::stoull(lines[i].substr(dash + 1));
            for (const std::wstring& hash : had)
                inPacks(hash, [&](const std::wstring&, uint64_t offset, uint32_t size) {
                    EXPECT_TRUE(offset + size - 1 < first || last < offset)
                        << "asked again for " << toUtf8(hash) << " in " << lines[i];
                });
        }
    };
    std::unique_ptr<LauncherProcess> launcher;
    HWND window = nullptr;
    auto openWindow = [&] {
        launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), launcherArguments({}, server->slowUrl()));
        ASSERT_TRUE(launcher->started());
        ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
        ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) && !controlText(window, kMainButtonId).empty(); }));
    };
    // Pause once more pieces than `had` are written; gives what the record names then.
    auto pauseAfter = [&](const std::set<std::wstring>& had) {
        EXPECT_TRUE(waitFor([&] { return written().size() >= had.size() + 2; }, 120000));
        EXPECT_EQ(controlText(window, kPauseId), L"Pause");
        pressButton(window, kPauseId);
        EXPECT_TRUE(waitFor([&] { return controlText(window, kPauseId) == L"Resume" && controlEnabled(window, kPauseId); },
                            60000));
        EXPECT_EQ(controlText(window, kStatusTextId), L"Paused. What's downloaded is kept: Resume carries on from there.");
        settle();
        EXPECT_EQ(setting(L"Current"), L"");
        std::set<std::wstring> now = written();
        EXPECT_LT(now.size(), piecesOf(a).size()) << "the install ended before the pause";
        return now;
    };

    openWindow();
    pressButton(window, kMainButtonId);
    const std::set<std::wstring> first = pauseAfter({});
    const size_t firstLines = packLines().size();
    pressButton(window, kPauseId);  // Resume in the same window
    const std::set<std::wstring> second = pauseAfter(first);
    asksForNoneOf(first, firstLines);
    const size_t secondLines = packLines().size();
    EXPECT_TRUE(std::includes(second.begin(), second.end(), first.begin(), first.end()));

    // Closed while paused, started again: Resume is offered and carries on.
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(launcher->wait(60000), 0u);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return controlVisible(window, kPauseId); }));
    EXPECT_EQ(controlText(window, kPauseId), L"Resume");
    pressButton(window, kPauseId);
    ASSERT_TRUE(waitFor([&] { return IsIconic(window) || controlText(window, kStatusLine1Id).starts_with(L"Installed:"); },
                        120000));
    settle();
    asksForNoneOf(second, secondLines);
    EXPECT_TRUE(contains(log(), L"Installed build " + kA + L" (previous: none)."));
    EXPECT_EQ(zipRequests(kA) + nginxRequestsFor(L"/slow" + requestPath(buildZipName(kA))).size(), 0u);
    expectBuildIsTheZips(kA, L"started.txt");  // the test game, started by Install & Play, leaves it
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(launcher->wait(60000), 0u);
    endStartedGames(root);
}

TEST_F(PieceUpdate, AListWithoutAnIndexOrPiecesSwitchedOffUpdatesFromTheZip) {
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    // An older publisher lists B without an index.
    server->publishInPieces(false);
    publishB();
    EXPECT_EQ(recordOf(kB).index, L"");
    newLogLines();
    ASSERT_EQ(runCommand(L"update"), 0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.find(L"by pieces") != std::wstring::npos;
    }));
    EXPECT_EQ(zipRequests(kB), 1u);
    expectBuildIsTheZips(kB);

    // A list with an index, read by a launcher whose pieces are switched off, as an older launcher reads it.
    const std::wstring kC = L"c3c3c3c";
    server->publishInPieces(true);
    zips[kC] = server->publishBuild(kC, L"2026-03-01T10:00:00Z", 3 << 20, {{kMaps, kMapsA}});
    ASSERT_EQ(recordOf(kC).index.size(), 64u);
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Pieces", L"off", joinPath(root, L"launcher.ini").c_str()));
    ASSERT_EQ(runCommand(L"update"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kC + L" (previous: " + kB + L")."));
    EXPECT_EQ(zipRequests(kC), 1u);
    EXPECT_EQ(requestsFor(recordOf(kC).index), 0u);
    expectBuildIsTheZips(kC);
}

TEST_F(PieceUpdate, AnIndexMissingOnTheServerFallsBackToTheZip) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(DeleteFileW(objectPath(recordOf(kB).index).c_str()));
    ASSERT_EQ(runCommand(L"update"), 0u);
    expectUpdatedFromTheZip(newLogLines(), L"its index couldn't be fetched: The build server answered 404.");
}

TEST_F(PieceUpdate, ATamperedPieceIsTakenFromTheNextServerAndWithoutOneTheZipIsUsed) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    // The mirror publishes the same files; the first server's copy of the movie's first piece is spoilt.
    TestBuildServer mirror(L"pieces-mirror-" + std::to_wstring(GetTickCount64()));
    ASSERT_TRUE(copyFolderTree(server->folder(), mirror.folder()));
    const BuildIndex b = indexOf(kB);
    std::wstring spoilt;
    for (const IndexFile& file : b.files)
        if (file.path == L"Content/Movies/Intro.bk2") spoilt = toHex(file.pieces.at(0).hash);
    ASSERT_FALSE(spoilt.empty());
    spoilPiece(spoilt);

    const std::wstring mirrorPath = mirror.url().substr(nginxBaseUrl().size());
    ASSERT_EQ(runToEnd(testKeyLauncher(), launcherArguments({L"--auto", L"update"}, server->url() + L";" + mirror.url()),
                       120000),
              0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    // Asked of the first server at most once (requests are spread over both), and then of the mirror.
    EXPECT_LE(requestsFor(spoilt), 1u);
    EXPECT_EQ(requestsFor(spoilt, mirrorPath), 1u);
    EXPECT_EQ(zipRequests(kB), 0u);
    expectBuildIsTheZips(kB);

    // With the first server alone, the piece comes from nowhere intact, and the zip is used.
    ASSERT_EQ(runCommand(L"back"), 0u);
    ASSERT_TRUE(deleteFolderTree(joinPath(root, L"Game\\" + kB)));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"HeldBack", L"", joinPath(root, L"launcher.ini").c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Previous", L"", joinPath(root, L"launcher.ini").c_str()));
    newLogLines();
    ASSERT_EQ(runCommand(L"update"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.starts_with(L"Updating by pieces didn't work out (a piece came from no build server intact (");
    }));
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    EXPECT_EQ(zipRequests(kB), 1u);
    expectBuildIsTheZips(kB);
}

// A launcher of the release before packs reads an index without "Pack" and
// asks for every piece by its own name. The publisher still stores each piece
// on its own, so a record naming an index of that shape updates piece by
// piece: no range, no pack, no zip.
TEST_F(PieceUpdate, ARecordOfTheIndexShapeBeforePacksUpdatesFromThePiecesStoredOneByOne) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    BuildIndex earlier = indexOf(kB);
    const std::wstring pack = earlier.pack.sha256;
    ASSERT_FALSE(pack.empty());
    earlier.pack = {};
    replaceIndexOfB([&](std::string& text) {
        text = buildIndexJson(earlier);
        EXPECT_EQ(text.find("\"Pack\""), std::string::npos);
    });
    std::set<std::wstring> onlyInB = piecesOf(earlier);
    for (const std::wstring& hash : piecesOf(indexOf(kA))) onlyInB.erase(hash);
    ASSERT_FALSE(onlyInB.empty());

    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Installed build " + kB + L" (previous: " + kA + L")."));
    for (const std::wstring& hash : onlyInB)
        EXPECT_EQ(nginxRequestsFor(requestPath(buildObjectName(hash))).size(), 1u) << toUtf8(hash);
    EXPECT_EQ(nginxRequestsFor(requestPath(buildObjectName(pack))).size(), 0u);
    EXPECT_EQ(zipRequests(kB), 0u);
    expectBuildIsTheZips(kB);
}

TEST_F(PieceUpdate, AFileThatDoesNotCheckOutOrAHostileIndexEndsInTheZip) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    // The index names another fingerprint for Build.ini than its pieces make.
    const BuildIndex b = indexOf(kB);
    std::string buildIni;
    for (const IndexFile& file : b.files)
        if (file.path == L"Build.ini") buildIni = toUtf8(file.sha256);
    replaceIndexOfB([&](std::string& text) { text = replaced(text, buildIni, std::string(64, '0')); });
    ASSERT_EQ(runCommand(L"update"), 0u);
    expectUpdatedFromTheZip(newLogLines(), L"the file Build.ini didn't come out as published");
}

TEST_F(PieceUpdate, AnIndexWithAPathOutsideTheBuildIsRefusedAndNothingIsWrittenThere) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    replaceIndexOfB([&](std::string& text) {
        text = replaced(text, "\"Path\": \"Build.ini\"", "\"Path\": \"../../escaped.ini\"");
    });
    ASSERT_EQ(runCommand(L"update"), 0u);
    expectUpdatedFromTheZip(newLogLines(),
                            L"its index was refused: it lists a path that isn't safe on Windows (../../escaped.ini)");
    EXPECT_FALSE(pathExists(joinPath(root, L"escaped.ini")));
    EXPECT_FALSE(pathExists(joinPath(root, L"Game\\escaped.ini")));
}

TEST_F(PieceUpdate, AnIndexLongerThanAnyDownloadIntoMemoryIsRefused) { expectRefused(kIndexesPastALimit[0]); }
TEST_F(PieceUpdate, AnIndexOfMillionsOfZerosIsRefused) { expectRefused(kIndexesPastALimit[1]); }
TEST_F(PieceUpdate, AnIndexOfTooManyPiecesIsRefused) { expectRefused(kIndexesPastALimit[2]); }
TEST_F(PieceUpdate, AnIndexOfTooManyFilesIsRefused) { expectRefused(kIndexesPastALimit[3]); }

// An index as long as any download into memory may be is fetched and used.
TEST_F(PieceUpdate, AnIndexAsLongAsAnyDownloadIntoMemoryIsFetchedAndUsed) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    replaceIndexOfB([](std::string& text) { text.insert(1, size_t(kLargestMemoryDownload) - text.size(), ' '); });
    ASSERT_EQ(runCommand(L"update"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    EXPECT_EQ(zipRequests(kB), 0u);
    EXPECT_EQ(requestsFor(recordOf(kB).index), 1u);
    EXPECT_EQ(readTestFile(joinPath(savedOf(kB), L"SaveGames\\slot1.sav")), "wave 9");
}

TEST_F(PieceUpdate, VerifyFindsEverythingAsPublishedThenMendsWhatChangedAndReportsAnExtraFile) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    ASSERT_EQ(runCommand(L"update"), 0u);
    newLogLines();
    ASSERT_EQ(runCommand(L"verify"), 0u);
    std::vector<std::wstring> lines = newLogLines();
    const BuildIndex b = indexOf(kB);
    const size_t checked = std::count_if(b.files.begin(), b.files.end(), [](const IndexFile& file) {
        return !file.path.starts_with(L"Vorlane/Saved/");
    });
    EXPECT_TRUE(contains(lines, L"Checked " + std::to_wstring(checked) + L" files: all as published."));
    EXPECT_EQ(lines.back(), L"Done (verify, exit 0, installed: " + kB + L").");

    // A byte of the map pack changes, Build.ini goes, and a file of the player's appears.
    const std::wstring folder = buildFolderOf(kB);
    std::string maps = readTestFile(joinPath(folder, kMaps));
    maps[100] ^= 1;
    ASSERT_TRUE(writeFileAtomically(joinPath(folder, kMaps), maps));
    ASSERT_TRUE(DeleteFileW(joinPath(folder, L"Build.ini").c_str()));
    ASSERT_TRUE(writeFileAtomically(joinPath(folder, L"Content\\notes.txt"), "mine"));
    const std::set<std::wstring> before = piecesOf(b);
    const size_t requestsBefore = requestsFor(before);

    ASSERT_EQ(runCommand(L"verify"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"The file Content/Paks/Maps.pak isn't as published."));
    EXPECT_TRUE(contains(lines, L"The file Build.ini is missing."));
    EXPECT_TRUE(contains(lines, L"The file Content\\notes.txt isn't part of build " + kB + L"; it is left as it is."));
    EXPECT_TRUE(contains(lines, L"Checked " + std::to_wstring(checked) + L" files: 2 aren't as published."));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.starts_with(L"Mended 2 files of build " + kB + L" (");
    }));
    // Only the pieces of the damaged files: Build.ini's, and the map pack's first (the changed byte's).
    const std::set<std::wstring> damaged = piecesOf(b, [](const IndexFile& file) { return file.path == L"Build.ini"; });
    std::set<std::wstring> expected = damaged;
    for (const IndexFile& file : b.files)
        if (file.path == L"Content/Paks/Maps.pak") expected.insert(toHex(file.pieces.at(0).hash));
    EXPECT_EQ(requestsFor(before) - requestsBefore, expected.size());
    for (const std::wstring& hash : expected) EXPECT_GE(requestsFor(hash), 1u) << toUtf8(hash);
    expectBuildIsTheZips(kB, L"Content\\notes.txt");
}

TEST_F(PieceUpdate, VerifyWithoutAnIndexInstallsTheBuildAgainFromItsZip) {
    server->publishInPieces(false);
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::wstring maps = joinPath(buildFolderOf(kA), kMaps);
    std::string bytes = readTestFile(maps);
    bytes[5] ^= 1;
    ASSERT_TRUE(writeFileAtomically(maps, bytes));
    makeFolderTree(joinPath(savedOf(kA), L"SaveGames"));
    ASSERT_TRUE(writeFileAtomically(joinPath(savedOf(kA), L"SaveGames\\slot1.sav"), "wave 3"));
    newLogLines();
    ASSERT_EQ(runCommand(L"verify"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"No index of build " + kA + L"'s files is known, so it is installed again from its zip."));
    EXPECT_TRUE(contains(lines, L"Installed build " + kA + L" (previous: none)."));
    EXPECT_EQ(zipRequests(kA), 2u);
    expectBuildIsTheZips(kA);
    EXPECT_EQ(readTestFile(joinPath(savedOf(kA), L"SaveGames\\slot1.sav")), "wave 3");
}

// With no index, verify mends the installed build and nothing else: a zip it
// is given is used only when it is that build's as published, and the build
// gone back from stays the previous one and held back.
TEST_F(PieceUpdate, VerifyWithoutAnIndexTakesOnlyTheInstalledBuildsOwnZip) {
    server->publishInPieces(false);
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    publishB();
    ASSERT_EQ(runCommand(L"update"), 0u);
    ASSERT_EQ(runCommand(L"back"), 0u);
    ASSERT_EQ(setting(L"Current"), kA);
    ASSERT_EQ(setting(L"HeldBack"), kB);
    const std::wstring ownZip = joinPath(temp.makeFolder(L"own"), buildZipName(kA));
    ASSERT_TRUE(CopyFileW(zips[kA].c_str(), ownZip.c_str(), FALSE));
    std::string bytes = readTestFile(zips[kA]);
    bytes[bytes.size() / 2] ^= 1;
    const std::wstring spoiltZip = joinPath(temp.makeFolder(L"spoilt"), buildZipName(kA));
    ASSERT_TRUE(writeFileAtomically(spoiltZip, bytes));

    const struct {
        const char* name;
        std::wstring zip;
        bool downloaded;
    } cases[] = {
        {"the newer build's zip", zips[kB], true},
        {"the build's own zip", ownZip, false},
        {"the build's zip, spoilt", spoiltZip, true},
    };
    for (const auto& c : cases) {
        changeAByte(joinPath(buildFolderOf(kA), kMaps));
        const size_t before = zipRequests(kA);
        newLogLines();
        ASSERT_EQ(runCommand(L"verify", {L"--zip", c.zip}), 0u) << c.name;
        const std::vector<std::wstring> lines = newLogLines();
        EXPECT_TRUE(contains(lines, L"Installed build " + kA + L" (previous: " + kB + L").")) << c.name;
        EXPECT_EQ(contains(lines, L"The zip " + c.zip + L" isn't build " + kA +
                                      L"'s as published, so the build's zip is downloaded instead."),
                  c.downloaded)
            << c.name;
        EXPECT_EQ(zipRequests(kA) - before, c.downloaded ? 1u : 0u) << c.name;
        EXPECT_EQ(setting(L"Current"), kA) << c.name;
        EXPECT_EQ(setting(L"Previous"), kB) << c.name;
        EXPECT_EQ(setting(L"HeldBack"), kB) << c.name;
        expectBuildIsTheZips(kA);
        EXPECT_TRUE(fileExists(c.zip)) << c.name;
    }
}

// An earlier build installed from a zip with no index is cut for its pieces,
// but the player's Saved folder is left out: what the player keeps there never
// goes into a build.
TEST_F(PieceUpdate, CuttingAnEarlierBuildWithoutAnIndexLeavesThePlayersSavedFolderOut) {
    server->publishInPieces(false);
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    // The player keeps a copy of what is to be B's new movie among the saves.
    makeFolderTree(joinPath(savedOf(kA), L"SaveGames"));
    ASSERT_TRUE(writeFileAtomically(joinPath(savedOf(kA), L"SaveGames\\Intro.bk2"), noiseBytes(100000, 9)));
    server->publishInPieces(true);
    publishB();
    ASSERT_EQ(recordOf(kA).index, L"");
    newLogLines();
    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Installed build " + kB + L" (previous: " + kA + L")."));
    const BuildIndex b = indexOf(kB);
    const std::set<std::wstring> movie =
        piecesOf(b, [](const IndexFile& file) { return file.path == L"Content/Movies/Intro.bk2"; });
    const std::set<std::wstring> maps =
        piecesOf(b, [](const IndexFile& file) { return file.path == L"Content/Paks/Maps.pak"; });
    ASSERT_FALSE(movie.empty());
    EXPECT_EQ(requestsFor(movie), movie.size());
    // A's own files were cut: most of the map pack came from its copy.
    EXPECT_LE(requestsFor(maps), 2u);
    EXPECT_EQ(zipRequests(kB), 0u);
    expectBuildIsTheZips(kB);
}

// A file verify can't read (the game holds it) is said as such and left for
// the next check, which finds it as published; the others are checked and
// mended, and every count is in the right number.
TEST_F(PieceUpdate, VerifySaysAFileItCannotReadAndCountsInTheRightNumber) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    ASSERT_EQ(runCommand(L"update"), 0u);
    const std::wstring folder = buildFolderOf(kB);
    const size_t checked = checkedFilesOf(kB);
    changeAByte(joinPath(folder, L"Build.ini"));
    newLogLines();
    {
        RenameLock held(joinPath(folder, kMaps), 0);
        ASSERT_TRUE(held.held());
        ASSERT_EQ(runCommand(L"verify"), 1u);
    }
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"The file Content/Paks/Maps.pak couldn't be read, so it wasn't checked; the game "
                                L"or another program may have it open (error 32)."));
    EXPECT_FALSE(contains(lines, L"The file Content/Paks/Maps.pak isn't as published."));
    EXPECT_TRUE(contains(lines, L"The file Build.ini isn't as published."));
    EXPECT_TRUE(contains(lines, L"Checked " + std::to_wstring(checked - 1) +
                                    L" files: 1 isn't as published; 1 more couldn't be read."));
    EXPECT_TRUE(hasLineStarting(lines, L"Mended 1 file of build " + kB + L" ("));
    EXPECT_TRUE(contains(lines, L"Failed: The file Content/Paks/Maps.pak couldn't be read, so it wasn't checked; "
                                L"close the game and check again."));

    ASSERT_EQ(runCommand(L"verify"), 0u);
    EXPECT_TRUE(contains(newLogLines(), L"Checked " + std::to_wstring(checked) + L" files: all as published."));
    expectBuildIsTheZips(kB);
}

// With pieces switched off, what verify finds damaged is mended from the build's zip.
TEST_F(PieceUpdate, VerifyWithPiecesSwitchedOffMendsFromTheZip) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    ASSERT_EQ(runCommand(L"update"), 0u);
    ASSERT_EQ(zipRequests(kB), 0u);
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Pieces", L"off", joinPath(root, L"launcher.ini").c_str()));
    changeAByte(joinPath(buildFolderOf(kB), kMaps));
    const std::set<std::wstring> pieces = piecesOf(indexOf(kB));
    const size_t pieceRequests = requestsFor(pieces);
    newLogLines();
    ASSERT_EQ(runCommand(L"verify"), 0u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Checked " + std::to_wstring(checkedFilesOf(kB)) + L" files: 1 isn't as published."));
    EXPECT_TRUE(contains(lines, L"Pieces are switched off, so build " + kB + L" is installed again from its zip to mend it."));
    EXPECT_TRUE(contains(lines, L"Installed build " + kB + L" (previous: " + kA + L")."));
    EXPECT_EQ(requestsFor(pieces), pieceRequests);
    EXPECT_EQ(zipRequests(kB), 1u);
    expectBuildIsTheZips(kB);
}

// A folder standing where a file of the build belongs is moved aside with what
// it holds, never deleted, and everything else is mended; a file that can't be
// replaced (another program holds it) is the only one named.
TEST_F(PieceUpdate, VerifyMovesAFolderInAFilesPlaceAsideMendsTheRestAndNamesOnlyWhatItCouldNot) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    ASSERT_EQ(runCommand(L"update"), 0u);
    const std::wstring folder = buildFolderOf(kB), buildIni = joinPath(folder, L"Build.ini");
    const std::string shippedIni = readTestFile(buildIni);
    ASSERT_TRUE(DeleteFileW(buildIni.c_str()));
    ASSERT_TRUE(makeFolderTree(buildIni));
    ASSERT_TRUE(writeFileAtomically(joinPath(buildIni, L"mine.txt"), "mine"));
    changeAByte(joinPath(folder, kMaps));
    newLogLines();
    ASSERT_EQ(runCommand(L"verify"), 0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"The file Build.ini is missing: a folder stands in its place."));
    EXPECT_TRUE(contains(lines, L"A folder stood where the file Build.ini of build " + kB +
                                    L" belongs; it was moved aside to Build.ini.moved-aside, with what it holds."));
    EXPECT_TRUE(hasLineStarting(lines, L"Mended 2 files of build " + kB + L" ("));
    EXPECT_EQ(readTestFile(joinPath(folder, L"Build.ini.moved-aside\\mine.txt")), "mine");
    expectBuildIsTheZips(kB, L"Build.ini.moved-aside");

    // Again, with the map pack held open by another program as well.
    ASSERT_TRUE(DeleteFileW(buildIni.c_str()));
    ASSERT_TRUE(makeFolderTree(buildIni));
    ASSERT_TRUE(DeleteFileW(joinPath(folder, kIntro).c_str()));
    changeAByte(joinPath(folder, kMaps));
    {
        RenameLock held(joinPath(folder, kMaps));
        ASSERT_TRUE(held.held());
        ASSERT_EQ(runCommand(L"verify"), 1u);
    }
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"A folder stood where the file Build.ini of build " + kB +
                                    L" belongs; it was moved aside to Build.ini.moved-aside-2, with what it holds."));
    EXPECT_TRUE(hasLineStarting(lines, L"Mended 2 of the 3 files of build " + kB + L" that weren't as published ("));
    EXPECT_TRUE(hasLineStarting(
        lines, L"Failed: Couldn't mend the file Content/Paks/Maps.pak: it couldn't be put in place (error "));
    EXPECT_EQ(readTestFile(buildIni), shippedIni);
    EXPECT_EQ(readTestFile(joinPath(folder, kIntro)), noiseBytes(100000, 9));
    EXPECT_TRUE(folderExists(joinPath(folder, L"Build.ini.moved-aside-2")));

    ASSERT_EQ(runCommand(L"verify"), 0u);
    expectBuildIsTheZips(kB, L"Build.ini.moved-aside");
}

TEST_F(PieceUpdate, VerifyWithNothingInstalledFails) {
    publishA();
    ASSERT_EQ(runCommand(L"verify"), 1u);
    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Failed: There's no installed build to check."));
}

}  // namespace

// An update by pieces that the disk has no room for (the test-key launcher told
// it has 1 MiB free) is refused before a piece is fetched; and when the pieces
// don't work out, what they took is given back before the zip comes down.
TEST_F(PieceUpdate, ADiskWithoutRoomIsRefusedAtOnceAndAFallbackGivesThePiecesRoomBack) {
    installAThenPublishB();
    if (HasFatalFailure()) return;
    const std::wstring pieces = joinPath(root, L"Downloads\\Pieces");
    SetEnvironmentVariableW(L"VORLANE_FREE_SPACE", L"1048576");
    EXPECT_EQ(runCommand(L"update"), 1u);
    SetEnvironmentVariableW(L"VORLANE_FREE_SPACE", nullptr);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.starts_with(L"Failed: There isn't room for build " + kB + L": it needs ") &&
               line.ends_with(L", which has 1 MB, so nothing was downloaded. Make room, then try again.");
    }));
    EXPECT_EQ(requestsFor(piecesOf(indexOf(kB))), 0u);
    EXPECT_EQ(zipRequests(kB), 0u);
    EXPECT_FALSE(pathExists(pieces));
    EXPECT_EQ(setting(L"Current"), kA);

    // Build.ini's fingerprint in the index is wrong: the pieces are fetched, the
    // file doesn't check out, and the run is killed once the zip has begun.
    const BuildIndex b = indexOf(kB);
    std::string buildIni;
    for (const IndexFile& file : b.files)
        if (file.path == L"Build.ini") buildIni = toUtf8(file.sha256);
    replaceIndexOfB([&](std::string& text) { text = replaced(text, buildIni, std::string(64, '0')); });
    SetEnvironmentVariableW(L"VORLANE_CRASH_AT", L"downloading");
    EXPECT_EQ(runCommand(L"update"), 99u);
    SetEnvironmentVariableW(L"VORLANE_CRASH_AT", nullptr);
    EXPECT_GT(requestsFor(piecesOf(indexOf(kB))), 0u);
    EXPECT_FALSE(pathExists(pieces));
    ASSERT_EQ(runCommand(L"update"), 0u);
    expectBuildIsTheZips(kB);
}

namespace {

// Waits until nginx has logged every request below `prefix` that the launcher
// made: a request of the test's own, sent after them, is logged with none new
// below `prefix` before it.
void settle(const TestBuildServer& server, const std::wstring& prefix) {
    static int probes = 0;
    for (;;) {
        const size_t before = nginxRequestsBelow(prefix).size();
        const std::wstring probe = L"/settle-" + std::to_wstring(++probes);
        head(server.url() + probe, {});
        ASSERT_TRUE(waitFor([&] { return !nginxRequestsFor(server.url().substr(nginxBaseUrl().size()) + probe).empty(); }));
        if (nginxRequestsBelow(prefix).size() == before) return;
    }
}

size_t firstLineStarting(const std::vector<std::wstring>& lines, const std::wstring& start, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].starts_with(start)) return i;
    return lines.size();
}

}  // namespace

// The next build made ready in the background, as a scheduler runs it: killed
// part way, nothing installed changes and the next run carries on; while the
// game plays it keeps to PreloadRate; a newer build listed then takes its
// place, its pieces taken from the staged one; the update only puts it in place.
TEST_F(PieceUpdate, ABuildMadeReadyInTheBackgroundCarriesOnAfterAKillKeepsToItsRateGivesWayToANewerOneAndIsOnlyPutInPlace) {
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    makeFolderTree(joinPath(savedOf(kA), L"SaveGames"));
    ASSERT_TRUE(writeFileAtomically(joinPath(savedOf(kA), L"SaveGames\\slot1.sav"), "wave 9"));
    zips[kB] = server->publishBuild(kB, L"2026-02-01T10:00:00Z", 3 << 20,
                                    {{kMaps, mapsOfB()}, {kIntro, noiseBytes(16 << 20, 9)}, {kMods, ""}});
    const BuildIndex b = indexOf(kB);
    const std::wstring folder = server->url().substr(nginxBaseUrl().size());
    const std::wstring pack = folder + L"/" + buildObjectName(b.pack.sha256);
    newLogLines();

    SetEnvironmentVariableW(L"VORLANE_CRASH_AT", L"piece-fetched:3");
    EXPECT_EQ(runCommand(L"preload"), 99u);
    SetEnvironmentVariableW(L"VORLANE_CRASH_AT", nullptr);
    EXPECT_EQ(setting(L"Current"), kA);
    expectBuildIsTheZips(kA);
    uint64_t written = 0;
    recordedPieces(kB, &written);
    ASSERT_GT(written, 0u);
    const size_t before = nginxRequestsFor(pack).size();

    // While the game plays: a megabyte a second.
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"PreloadRate", L"1", joinPath(root, L"launcher.ini").c_str()));
    ASSERT_EQ(runCommand(L"play"), 0u);
    ASSERT_TRUE(waitFor([&] { return pathExists(joinPath(buildFolderOf(kA), L"started.txt")); }));
    EXPECT_EQ(runToEnd(testKeyLauncher(),
                       launcherArguments({L"--auto", L"preload"}, nginxMeteredBaseUrl() + server->url().substr(nginxBaseUrl().size())),
                       120000),
              0u);
    endStartedGames(root);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Build " + kB + L" is ready in the background: Update puts it in place."));
    EXPECT_EQ(setting(L"Current"), kA);
    const std::vector<std::string> asked = nginxRequestsFor(pack);
    uint64_t sent = 0;
    double from = 1e18, to = 0;
    for (size_t i = before; i < asked.size(); ++i) {
        sent += bytesSent(asked[i]);
        from = std::min(from, nginxAnswerEnded(asked[i]) - nginxAnswerSeconds(asked[i]));
        to = std::max(to, nginxAnswerEnded(asked[i]));
    }
    EXPECT_LE(sent, b.pack.size - written);
    ASSERT_GT(sent, 12u << 20);
    EXPECT_NEAR(double(sent) / (to - from) / 1048576, 1.0, 0.1) << sent << " bytes in " << to - from << " s";

    // A newer build listed meanwhile takes the staged one's place, its pieces taken from there.
    const std::wstring kC = L"c3c3c3c";
    const std::string intro = readTestFile(joinPath(joinPath(root, L"Game\\" + kB + L".new\\Vorlane-" + kB), kIntro));
    ASSERT_EQ(intro.size(), 16u << 20);
    zips[kC] = server->publishBuild(kC, L"2026-03-01T10:00:00Z", 3 << 20,
                                    {{kMaps, kMapsA}, {kIntro, intro}, {L"Content\\Notes.txt", "wave 10"}, {kMods, ""}});
    const std::set<std::wstring> introPieces =
        piecesOf(b, [&](const IndexFile& file) { return file.path == L"Content/Movies/Intro.bk2"; });
    const size_t introAsked = requestsFor(introPieces);
    ASSERT_EQ(runCommand(L"preload"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Build " + kC + L" is ready in the background: Update puts it in place."));
    EXPECT_TRUE(hasLineStarting(lines, L"Removing " + joinPath(root, L"Game\\" + kB + L".new")));
    EXPECT_EQ(requestsFor(introPieces), introAsked);
    EXPECT_FALSE(pathExists(joinPath(root, L"Game\\" + kB + L".new")));

    // Nothing more is asked for: not the index, a piece or the zip.
    const size_t objects = nginxRequestsBelow(folder + L"/builds/").size();
    ASSERT_EQ(runCommand(L"update"), 0u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Build " + kC + L" was made ready in the background; putting it in place."));
    EXPECT_TRUE(contains(lines, L"Installed build " + kC + L" (previous: " + kA + L")."));
    EXPECT_EQ(nginxRequestsBelow(folder + L"/builds/").size(), objects);
    EXPECT_EQ(zipRequests(kC), 0u);
    expectBuildIsTheZips(kC);
    EXPECT_EQ(readTestFile(joinPath(savedOf(kC), L"SaveGames\\slot1.sav")), "wave 9");
}

// In the window the next build is made ready once a check finds it; a job of
// the player's started meanwhile runs at once, and the fetch carries on after
// it; it pauses and resumes; Update then only puts the build in place.
TEST_F(PieceUpdate, TheWindowMakesTheNextBuildReadyGivesWayToThePlayersJobAndUpdateOnlyPutsItInPlace) {
    publishA();
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::wstring slow = L"/slow" + server->url().substr(nginxBaseUrl().size());
    LauncherProcess launcher(testKeyLauncher(), launcherArguments({L"--check-every", L"20"}, server->slowUrl()));
    ASSERT_TRUE(launcher.started());
    HWND window = nullptr;
    ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
    ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) && controlText(window, kMainButtonId) == L"Play"; }));
    zips[kB] = server->publishBuild(kB, L"2026-02-01T10:00:00Z", 3 << 20,
                                    {{kMaps, mapsOfB()}, {kIntro, noiseBytes(6 << 20, 9)}, {kMods, ""}});
    newLogLines();

    const std::wstring getting = L"Getting build " + kB + L" ready in the background";
    const std::wstring ready = joinPath(root, L"Game\\" + kB + L".new\\ready.txt");
    std::vector<std::wstring> lines;
    // Once it has planned its fetch, the player asks for a check of the installed build.
    ASSERT_TRUE(waitFor([&] { return firstLineStarting(lines = log(), getting + L":") < lines.size(); }, 60000));
    pressButton(window, kCheckFilesId);
    auto checked = [&] { return firstLineStarting(lines = log(), L"Checked ") < lines.size(); };
    ASSERT_TRUE(waitFor(checked, 60000));
    EXPECT_FALSE(pathExists(ready)) << "the check waited for the background";
    // Carried on after it, then paused and resumed like a download.
    ASSERT_TRUE(waitFor([&] {
        lines = log();
        return firstLineStarting(lines, getting + L":", firstLineStarting(lines, L"Checked ")) < lines.size();
    }, 60000));
    ASSERT_TRUE(waitFor([&] { return controlText(window, kPauseId) == L"Pause" && controlEnabled(window, kPauseId); }));
    pressButton(window, kPauseId);
    ASSERT_TRUE(waitFor([&] { return controlText(window, kPauseId) == L"Resume" && controlEnabled(window, kPauseId); }, 60000));
    EXPECT_EQ(controlText(window, kStatusTextId), L"Paused. What's downloaded is kept: Resume carries on from there.");
    EXPECT_FALSE(pathExists(ready)) << "it ended before the pause";
    pressButton(window, kPauseId);
    ASSERT_TRUE(waitFor([&] { return controlText(window, kStatusTextId) == L"Build " + kB + L" is ready: Update puts it in place."; },
                        120000));
    // Ready before the second check after the one that found it.
    lines = log();
    const size_t found = firstLineStarting(lines, L"Update check: build " + kB + L" is offered to install.");
    const size_t done = firstLineStarting(lines, L"Build " + kB + L" is ready in the background: Update puts it in place.");
    ASSERT_LT(done, lines.size());
    EXPECT_LE(std::count_if(lines.begin() + found, lines.begin() + done,
                            [](const std::wstring& line) { return line.starts_with(L"Update check: "); }),
              2);
    settle(*server, slow);
    const size_t objects = nginxRequestsBelow(slow + L"/builds/").size();

    pressButton(window, kMainButtonId);
    ASSERT_TRUE(waitFor([&] { return IsIconic(window) || controlText(window, kStatusLine1Id).starts_with(L"Installed: build " + kB); },
                        120000));
    settle(*server, slow);
    EXPECT_EQ(nginxRequestsBelow(slow + L"/builds/").size(), objects);
    EXPECT_EQ(nginxRequestsFor(L"/slow" + requestPath(buildZipName(kB))).size(), 0u);
    EXPECT_TRUE(contains(log(), L"Build " + kB + L" was made ready in the background; putting it in place."));
    expectBuildIsTheZips(kB, L"started.txt");  // the test game, started by Update & Play, leaves it
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(launcher.wait(60000), 0u);
    endStartedGames(root);
}

// With Preload=off, and for a build the player went back from, nothing is
// fetched before the player asks: not even the index.
TEST_F(PieceUpdate, NothingIsFetchedInTheBackgroundWhenSwitchedOffOrForABuildHeldBack) {
    for (const bool heldBack : {false, true}) {
        SCOPED_TRACE(heldBack ? "held back" : "switched off");
        if (heldBack) {
            ASSERT_EQ(runCommand(L"update"), 0u);
            ASSERT_EQ(runCommand(L"back"), 0u);
            ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Preload", nullptr, joinPath(root, L"launcher.ini").c_str()));
        } else {
            installAThenPublishB();
            ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Preload", L"off", joinPath(root, L"launcher.ini").c_str()));
        }
        const std::wstring objectsBelow = server->url().substr(nginxBaseUrl().size()) + L"/builds/";
        const size_t objects = nginxRequestsBelow(objectsBelow).size();
        newLogLines();
        LauncherProcess launcher(testKeyLauncher(), launcherArguments({L"--check-every", L"2"}));
        ASSERT_TRUE(launcher.started());
        HWND window = nullptr;
        ASSERT_TRUE(waitFor([&] { return (window = findLauncherWindow(instanceHash(root))) != nullptr; }));
        // Two periodic checks have come and gone.
        size_t checks = 0;
        ASSERT_TRUE(waitFor([&] {
            for (const std::wstring& line : newLogLines()) checks += line.starts_with(L"Update check: ");
            return checks >= 2;
        }, 60000));
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(launcher.wait(60000), 0u);
        settle(*server, objectsBelow);
        EXPECT_EQ(nginxRequestsBelow(objectsBelow).size(), objects);
        EXPECT_FALSE(pathExists(joinPath(root, L"Game\\" + kB + L".new")));
    }
}

// Two build servers serve one install's pieces at once (one through a link,
// one straight); the link dropping every connection part way costs no
// failure: the rest comes from the other, and the build is its zip.
TEST_F(PieceUpdate, TwoServersServeOneInstallAndOneDroppingPartWayCostsNoFailure) {
    zips[kA] = server->publishBuild(kA, L"2026-01-01T10:00:00Z", 12 << 20, {{kMaps, kMapsA}, {kMods, ""}});
    ASSERT_TRUE(makeFolderTree(root));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Launcher", L"Pieces", L"always", joinPath(root, L"launcher.ini").c_str()));
    const std::wstring folder = server->url().substr(nginxBaseUrl().size());
    LinkProxy link(nginxBaseUrl(), 20, 1);
    ASSERT_FALSE(link.url().empty());
    // nginx tells the two apart by the path: the link's below /paced/, the other's below /slow/.
    LauncherProcess launcher(testKeyLauncher(), launcherArguments({L"--auto", L"install"},
                                                                  link.url() + L"/paced" + folder + L";" +
                                                                      nginxBaseUrl() + L"/slow" + folder));
    ASSERT_TRUE(launcher.started());
    ASSERT_TRUE(waitFor([&] { return recordedPieces(kA).size() >= 4; }, 60000));
    ASSERT_TRUE(link.dropConnections());
    ASSERT_EQ(launcher.wait(120000), 0u);

    const std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"Installed build " + kA + L" (previous: none)."));
    EXPECT_FALSE(hasLineStarting(lines, L"Updating by pieces didn't work out"));
    EXPECT_EQ(zipRequests(kA) + nginxRequestsFor(L"/slow" + requestPath(buildZipName(kA))).size() +
                  nginxRequestsFor(L"/paced" + requestPath(buildZipName(kA))).size(),
              0u);
    expectBuildIsTheZips(kA);
    for (const wchar_t* way : {L"/paced", L"/slow"}) {
        uint64_t sent = 0;
        for (const std::string& line : nginxRequestsBelow(way + folder + L"/builds/")) sent += bytesSent(line);
        EXPECT_GT(sent, 0u) << toUtf8(way);
    }
}
