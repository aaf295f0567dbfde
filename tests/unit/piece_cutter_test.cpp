// Piece cutting: the gear table, where cuts fall, the file reader against a
// plain byte-by-byte cut of the same bytes, and the publisher cutting a theme
// into the very pieces the launcher finds in the same file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "pieces/piece_cutter.h"
#include "pieces/piece_store.h"
#include "addons/theme_index.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "net/sha256.h"
#include "support/addon_themes.h"
#include "support/launcher_process.h"
#include "support/publisher.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

uint64_t splitMix64Next(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A byte whose repetition keeps the running value at or above 2^47 from the first byte on.
int byteThatNeverCuts() {
    const auto& gear = gearTable();
    for (int byte = 0; byte < 256; ++byte) {
        uint64_t h = 0;
        bool stays = true;
        for (int n = 0; n < 128 && stays; ++n) {  // after 64 bytes the value repeats
            h = 2 * h + gear[byte];
            stays = h >= (1ull << 47);
        }
        if (stays) return byte;
    }
    return -1;
}

struct Cut {
    uint64_t offset;
    uint32_t size;
    std::wstring hash;
    bool operator==(const Cut&) const = default;
};

// The rule as written, byte by byte from the first byte of every piece.
std::vector<Cut> plainCut(const std::string& bytes) {
    std::vector<Cut> cuts;
    const auto& gear = gearTable();
    uint64_t h = 0, start = 0;
    uint32_t n = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        h = 2 * h + gear[(unsigned char)bytes[i]];
        ++n;
        if ((n >= 32768 && h < 0x800000000000ull) || n == 524288) {
            cuts.push_back({start, n, sha256Hex(bytes.substr(start, n))});
            start += n;
            h = 0;
            n = 0;
        }
    }
    if (n > 0) cuts.push_back({start, n, sha256Hex(bytes.substr(start, n))});
    return cuts;
}

std::vector<Cut> cutFile(const std::wstring& path) {
    std::vector<Cut> cuts;
    EXPECT_TRUE(cutPieces(path, [&](const Piece& piece) {
        cuts.push_back({piece.offset, piece.size, toHex(piece.digest)});
    }));
    return cuts;
}

// The gear table worked out here, apart from the launcher's.
const std::vector<uint64_t>& ownGear() {
    static const std::vector<uint64_t> gear = [] {
        uint64_t state = 0x566F726C616E6547ull;  // "VorlaneG"
        std::vector<uint64_t> table;
        for (int i = 0; i < 256; ++i) table.push_back(splitMix64Next(state));
        return table;
    }();
    return gear;
}

// The running value after the first `count` bytes, cutting nowhere.
uint64_t runningValue(const std::string& bytes, size_t count) {
    uint64_t h = 0;
    for (size_t i = 0; i < count; ++i) h = 2 * h + ownGear()[(unsigned char)bytes[i]];
    return h;
}

// Sets the three bytes before `end` so that the running value after `end` bytes is below 2^47: where a piece that
// began at byte 0 may end, if `end` is long enough for one.
void bringTheValueLowAt(std::string& bytes, size_t end) {
    const uint64_t before = runningValue(bytes, end - 3);
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int c = 0; c < 256; ++c)
                if (8 * before + 4 * ownGear()[a] + 2 * ownGear()[b] + ownGear()[c] < 0x800000000000ull) {
                    bytes[end - 3] = (char)a, bytes[end - 2] = (char)b, bytes[end - 1] = (char)c;
                    return;
                }
    ADD_FAILURE() << "no three bytes bring the value low at " << end;
}

}  // namespace

TEST(PieceCutting, GearTableIsSplitMix64SeededWithVorlaneG) {
    uint64_t state = 0x566F726C616E6547ull;  // "VorlaneG" as a big-endian number
    std::vector<uint64_t> expected;
    for (int i = 0; i < 256; ++i) expected.push_back(splitMix64Next(state));
    const auto& gear = gearTable();
    EXPECT_EQ(gear[0], expected[0]);
    EXPECT_EQ(gear[255], expected[255]);
    EXPECT_EQ(std::vector<uint64_t>(gear.begin(), gear.end()), expected);
    // The same two values worked out outside this program.
    EXPECT_EQ(gear[0], 0x3bf4ed5a8f8451f0ull);
    EXPECT_EQ(gear[255], 0xb6626698f2858229ull);
}

TEST(PieceCutting, BytesThatNeverBringTheValueLowAreCutOnlyAtTheLongestPiece) {
    const int byte = byteThatNeverCuts();
    ASSERT_GE(byte, 0);
    TempFolder temp{L"pieces"};

    const std::string short40000(40000, (char)byte);
    const std::vector<Cut> one = cutFile(temp.writeFile(L"short.pak", short40000));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], (Cut{0, 40000, sha256Hex(short40000)}));

    const std::string mebibyte(1048576, (char)byte);
    const std::vector<Cut> two = cutFile(temp.writeFile(L"long.pak", mebibyte));
    const std::wstring half = sha256Hex(mebibyte.substr(0, 524288));
    EXPECT_EQ(two, (std::vector<Cut>{{0, 524288, half}, {524288, 524288, half}}));
}

TEST(PieceCutting, FileCutMatchesTheRuleAppliedByteByByte) {
    TempFolder temp{L"pieces"};
    // 9 MiB and a bit: several 4 MiB reads, pieces across their edges, and a short last piece.
    const std::string bytes = noiseBytes((9 << 20) + 12345, 77);
    const std::vector<Cut> expected = plainCut(bytes);
    ASSERT_GT(expected.size(), 20u);
    EXPECT_EQ(cutFile(temp.writeFile(L"noise.pak", bytes)), expected);

    // Fed in blocks of odd sizes, the stream cutter finds the same pieces.
    std::vector<Cut> streamed;
    PieceCutter cutter([&](const Piece& piece) { streamed.push_back({piece.offset, piece.size, toHex(piece.digest)}); });
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 % 100003 + 1)
        ASSERT_TRUE(cutter.add(data + at, std::min(step, bytes.size() - at)));
    ASSERT_TRUE(cutter.finish());
    EXPECT_EQ(streamed, expected);
}

TEST(PieceCutting, AnEditChangesOnlyThePiecesAroundIt) {
    TempFolder temp{L"pieces"};
    std::string bytes = noiseBytes(4 << 20, 5);
    const std::vector<Cut> before = cutFile(temp.writeFile(L"before.pak", bytes));
    bytes.insert(2000000, "a few bytes more");
    const std::vector<Cut> after = cutFile(temp.writeFile(L"after.pak", bytes));
    size_t kept = 0;
    for (const Cut& cut : after)
        for (const Cut& old : before) kept += cut.hash == old.hash;
    EXPECT_GE(kept + 2, after.size());
}

TEST(PieceCutting, EmptyAndMissingFiles) {
    TempFolder temp{L"pieces"};
    EXPECT_TRUE(cutFile(temp.writeFile(L"empty.pak", "")).empty());
    EXPECT_FALSE(cutPieces(temp.file(L"missing.pak"), [](const Piece&) {}));
}

// A folder is cut file by file, leaving out what the caller names, telling it
// the bytes cut after every block read, and ending when it answers false.
TEST(PieceCutting, AFolderIsCutWithoutTheFilesLeftOutCountingTheBytesAndStopsWhenAsked) {
    TempFolder temp{L"pieces-folder"};
    const std::wstring folder = temp.makeFolder(L"Build");
    temp.makeFolder(L"Build\\Saved");
    const std::string pak = noiseBytes((9 << 20) + 5, 21), save = noiseBytes(300000, 22);
    temp.writeFile(L"Build\\Game.pak", pak);
    temp.writeFile(L"Build\\Saved\\slot.sav", save);
    const auto leaveOutSaved = [](const std::wstring& file) { return file.starts_with(L"Saved\\"); };
    const std::vector<Cut> pakCut = plainCut(pak), saveCut = plainCut(save);

    const struct {
        const char* name;
        size_t stopAfterBlocks;  // 0: never
        bool finished;
        std::vector<uint64_t> told;
    } cases[] = {
        {"to its end", 0, true, {4 << 20, 8 << 20, (9 << 20) + 5}},
        {"asked to stop after the first block", 1, false, {4 << 20}},
    };
    for (const auto& c : cases) {
        PieceStore store;
        std::vector<uint64_t> told;
        const bool finished = store.addFolder(folder, leaveOutSaved, [&](uint64_t cut) {
            told.push_back(cut);
            return c.stopAfterBlocks == 0 || told.size() < c.stopAfterBlocks;
        });
        EXPECT_EQ(finished, c.finished) << c.name;
        EXPECT_EQ(told, c.told) << c.name;
        EXPECT_TRUE(store.has(digestOfHex(pakCut.front().hash), pakCut.front().size)) << c.name;
        EXPECT_EQ(store.has(digestOfHex(pakCut.back().hash), pakCut.back().size), c.finished) << c.name;
        for (const Cut& cut : saveCut) EXPECT_FALSE(store.has(digestOfHex(cut.hash), cut.size)) << c.name;
    }
}

// The store finds every piece it was given, however many and however alike
// their hashes (these share their first bytes, which place them in its table),
// and keeps the first place of a piece given twice.
TEST(PieceCutting, TheStoreFindsThousandsOfPiecesAndKeepsTheFirstPlaceOfEach) {
    const auto hashOf = [](uint32_t n, unsigned char first) {
        Sha256Digest hash{};
        hash[0] = first;
        std::memcpy(hash.data() + 28, &n, 4);
        return hash;
    };
    PieceStore store;
    IndexFile listed{L"Content/Paks/Listed.pak", 0, std::wstring(64, L'a'), {}};
    for (uint32_t n = 0; n < 3000; ++n) listed.pieces.push_back({hashOf(n, 1), 100 + n % 7});
    store.reserve(listed.pieces.size());
    store.addListed(L"C:\\Listed.pak", listed);
    for (uint32_t n = 0; n < 5000; ++n) store.addPiece(L"C:\\Recorded.pak", 0, 200, hashOf(n, n < 2500 ? 1 : 2));
    EXPECT_EQ(store.size(), 3000u + 2500u);
    for (uint32_t n = 0; n < 3000; ++n) EXPECT_TRUE(store.has(hashOf(n, 1), 100 + n % 7)) << n;
    for (uint32_t n = 2500; n < 5000; ++n) EXPECT_TRUE(store.has(hashOf(n, 2), 200)) << n;
    EXPECT_FALSE(store.has(hashOf(1, 1), 200));
    EXPECT_FALSE(store.has(hashOf(5000, 2), 200));
}

TEST(PieceCutting, ReadRangeGivesTheBytesAtAnOffsetAndStopsAtTheEnd) {
    TempFolder temp{L"pieces"};
    const std::wstring file = temp.writeFile(L"range.bin", "0123456789");
    EXPECT_EQ(readRange(file, 3, 4), "3456");
    EXPECT_EQ(readRange(file, 8, 100), "89");
    EXPECT_EQ(readRange(file, 20, 5), "");
    EXPECT_EQ(readRange(temp.file(L"missing.bin"), 0, 5), "");
}

TEST(PieceCutting, ThePublisherCutsAThemeIntoThePiecesTheLauncherFinds) {
    TempFolder temp{L"publish-pieces"};
    const std::wstring theme = temp.makeFolder(L"Ember");
    temp.makeFolder(L"Ember\\Content");
    temp.makeFolder(L"Ember\\Content\\Paks");
    temp.writeFile(L"Ember\\Ember.uplugin", "{\"VorlaneBaseRelease\": \"abc1234\"}");
    const std::wstring pak = temp.writeFile(L"Ember\\Content\\Paks\\Ember.pak", noiseBytes(3 << 20, 11));
    const std::wstring server = temp.file(L"server");

    PublishRun run = runPublisher(temp, {L"theme", server, keptTestKeyFile(), theme, L"--build", L"abc1234"});
    ASSERT_EQ(run.exitCode, 0u) << run.err;

    JsonValue list;
    ASSERT_TRUE(parseDocument(readTestFile(joinPath(server, L"themes.json")), list));
    ASSERT_EQ(list.items.size(), 1u);
    const std::wstring indexHash = textWide(member(list.items[0], "Index"));
    const std::string indexText = readTestFile(joinPath(server, L"themes\\" + indexHash));
    EXPECT_EQ(sha256Hex(indexText), indexHash);
    ThemeIndex index;
    ASSERT_EQ(readThemeIndex(indexText, L"Ember", L"abc1234", index).verdict, IndexVerdict::Good);
    ASSERT_EQ(index.files.size(), 2u);

    const ThemeFile& published = index.files[0].path == L"Content/Paks/Ember.pak" ? index.files[0] : index.files[1];
    ASSERT_EQ(published.path, L"Content/Paks/Ember.pak");
    const std::vector<Cut> launcherCut = cutFile(pak);
    ASSERT_EQ(published.pieces.size(), launcherCut.size());
    const std::string bytes = readTestFile(pak);
    for (size_t i = 0; i < launcherCut.size(); ++i) {
        EXPECT_EQ(toHex(published.pieces[i].hash), launcherCut[i].hash);
        EXPECT_EQ(published.pieces[i].size, launcherCut[i].size);
        EXPECT_EQ(readTestFile(joinPath(server, L"themes\\" + launcherCut[i].hash)),
                  bytes.substr(launcherCut[i].offset, launcherCut[i].size));
    }
    EXPECT_EQ(published.sha256, sha256Hex(bytes));
    EXPECT_EQ(published.size, bytes.size());
}

// Inputs made to sit on the rule's edges, cut into the pieces written down once in tests/golden/piece_edges.txt:
// every published theme and build depends on these staying where they are.
TEST(PieceCutting, TheRulesEdgesCutAsTheGoldenFileSays) {
    std::string at32768 = noiseBytes(100000, 1);
    bringTheValueLowAt(at32768, 32768);
    std::string at32767 = noiseBytes(100000, 2);
    bringTheValueLowAt(at32767, 32767);
    if (runningValue(at32767, 32768) < 0x800000000000ull) at32767[32767] ^= 1;
    ASSERT_GE(runningValue(at32767, 32768), 0x800000000000ull);
    const std::pair<const char*, std::string> inputs[] = {
        {"value low at 32768", at32768},
        {"value low at 32767 only", at32767},
        {"noise, then zeros that force pieces of 524288", noiseBytes(100000, 4) + std::string(1000000, '\0')},
        {"shorter than a piece", noiseBytes(20000, 3)},
        {"zeros", std::string(1100000, '\0')},
    };
    TempFolder temp{L"piece-edges"};
    std::string cuts;
    for (const auto& [name, bytes] : inputs)
        for (const Cut& cut : cutFile(temp.writeFile(L"edge.pak", bytes)))
            cuts += std::string(name) + ": " + std::to_string(cut.offset) + " " + std::to_string(cut.size) + " " +
                    toUtf8(cut.hash) + "\n";
    EXPECT_EQ(cuts, readWholeFile(sourceTreeFile(L"tests\\golden\\piece_edges.txt")));
}
