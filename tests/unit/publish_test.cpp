// The release tool, vorlane-publish.exe, run as its own process: the keys it
// makes and the signatures it writes must be the ones the launcher accepts.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "addons/theme_index.h"
#include "addons/themes_list.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/files_below.h"
#include "install/build_list.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "pieces/build_index.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/release_key.h"
#include "net/signature.h"
#include "support/addon_themes.h"
#include "support/build_server.h"
#include "support/launcher_process.h"
#include "support/publisher.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"

namespace vorlane {
namespace {

using testing::keptTestKeyFile;
using testing::PublishRun;
using testing::runPublisher;
using testing::TempFolder;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool parsePublicKey(const std::string& hex, ReleaseKey& key) {
    if (hex.size() != 128 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    for (size_t i = 0; i < key.size(); ++i) key[i] = (unsigned char)std::stoi(hex.substr(2 * i, 2), nullptr, 16);
    return true;
}

const std::string kList = "[{\"File\":\"Vorlane-abc1234.zip\",\"Commit\":\"abc1234\"}]\r\n";

TEST(Publish, AKeyItMakesSignsListsThatCheckAgainstThePrintedPublicKey) {
    TempFolder folder;
    const std::wstring keyFile = folder.file(L"release.key");
    PublishRun keygen = runPublisher(folder, {L"keygen", keyFile});
    ASSERT_EQ(keygen.exitCode, 0u) << keygen.err;
    ReleaseKey publicKey{};
    ASSERT_TRUE(parsePublicKey(trimmed(keygen.out), publicKey)) << keygen.out;
    EXPECT_FALSE(isDeveloperKey(publicKey));

    PublishRun pubkey = runPublisher(folder, {L"pubkey", keyFile});
    EXPECT_EQ(pubkey.exitCode, 0u) << pubkey.err;
    EXPECT_EQ(trimmed(pubkey.out), trimmed(keygen.out));

    const std::wstring list = folder.writeFile(L"builds.json", kList);
    PublishRun sign = runPublisher(folder, {L"sign", keyFile, list});
    ASSERT_EQ(sign.exitCode, 0u) << sign.err;
    std::string signature = testing::readTestFile(list + L".sig");
    ASSERT_EQ(signature.size(), 89u) << signature;
    EXPECT_EQ(signature.back(), '\n');
    EXPECT_EQ(decodeBase64(signature).size(), 64u);

    EXPECT_TRUE(verifySignature(kList, signature, publicKey));
    std::string changed = kList;
    changed[5] ^= 0x20;
    EXPECT_FALSE(verifySignature(changed, signature, publicKey));
    EXPECT_FALSE(verifySignature(kList, signature)) << "a fresh key isn't the test release key";
}

TEST(Publish, KeygenNeverReplacesAKeyFile) {
    TempFolder folder;
    const std::wstring keyFile = folder.writeFile(L"release.key", "keep me");
    PublishRun keygen = runPublisher(folder, {L"keygen", keyFile});
    EXPECT_EQ(keygen.exitCode, 1u);
    EXPECT_EQ(keygen.out, "");
    EXPECT_NE(keygen.err, "");
    EXPECT_EQ(testing::readTestFile(keyFile), "keep me");
}

TEST(Publish, ABadKeyFileOrListWritesNoSignature) {
    TempFolder folder;
    const std::wstring list = folder.writeFile(L"builds.json", kList);
    const std::wstring keyFile = folder.file(L"release.key");
    ASSERT_EQ(runPublisher(folder, {L"keygen", keyFile}).exitCode, 0u);
    const std::string goodKey = testing::readTestFile(keyFile);

    // The secret's public half (the X coordinate) changed: it would sign lists no launcher accepts.
    std::string mismatched = goodKey;
    size_t firstX = goodKey.find('\n') + 1 + 16;
    mismatched[firstX] = mismatched[firstX] == '0' ? '1' : '0';
    std::string truncated = goodKey.substr(0, goodKey.size() - 3) + "\n";
    std::string noHeader = goodKey.substr(goodKey.find('\n') + 1);
    for (const std::string& damaged : {std::string("not a key"), std::string(), mismatched, truncated, noHeader}) {
        const std::wstring badKey = folder.writeFile(L"bad.key", damaged);
        PublishRun sign = runPublisher(folder, {L"sign", badKey, list});
        EXPECT_EQ(sign.exitCode, 1u) << damaged;
        EXPECT_NE(sign.err, "") << damaged;
        EXPECT_FALSE(fileExists(list + L".sig")) << damaged;
    }

    PublishRun missingKey = runPublisher(folder, {L"sign", folder.file(L"missing.key"), list});
    EXPECT_EQ(missingKey.exitCode, 1u);
    EXPECT_NE(missingKey.err.find("missing.key"), std::string::npos) << missingKey.err;
    EXPECT_FALSE(fileExists(list + L".sig"));

    const std::wstring missingList = folder.file(L"themes.json");
    PublishRun noList = runPublisher(folder, {L"sign", keyFile, missingList});
    EXPECT_EQ(noList.exitCode, 1u);
    EXPECT_NE(noList.err.find("themes.json"), std::string::npos) << noList.err;
    EXPECT_FALSE(fileExists(missingList + L".sig"));
}

TEST(Publish, AWrongCommandLineShowsTheUsage) {
    TempFolder folder;
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{}, {L"frobnicate"}, {L"sign", folder.file(L"k")}, {L"keygen"},
          {L"pubkey", L"a", L"b"}}) {
        PublishRun run = runPublisher(folder, arguments);
        EXPECT_EQ(run.exitCode, 2u) << arguments.size();
        EXPECT_NE(run.err.find("Usage: vorlane-publish"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fileExists(folder.file(L"k")));
}

TEST(Publish, TheKeptTestKeySignsWhatTheTestProgramAccepts) {
    const std::wstring keyFile = keptTestKeyFile();
    ASSERT_FALSE(keyFile.empty()) << "tests\\keys\\test-release.key wasn't found above the test program's folder";
    TempFolder folder;
    PublishRun pubkey = runPublisher(folder, {L"pubkey", keyFile});
    ReleaseKey publicKey{};
    ASSERT_TRUE(parsePublicKey(trimmed(pubkey.out), publicKey)) << pubkey.out << pubkey.err;
    EXPECT_EQ(publicKey, releaseKey());

    const std::wstring list = folder.writeFile(L"theme_slots.json", kList);
    ASSERT_EQ(runPublisher(folder, {L"sign", keyFile, list}).exitCode, 0u);
    EXPECT_TRUE(verifySignature(kList, testing::readTestFile(list + L".sig")));
}

// A zip holding a link is refused before anything is unpacked or listed, naming
// the link as the launcher does, not in the unpacking tool's words.
TEST(Publish, AZipHoldingALinkIsRefusedByTheLinksName) {
    TempFolder folder;
    const std::wstring zip = folder.file(L"Vorlane-abc1234.zip");
    ASSERT_TRUE(testing::writeZip(zip, {{"Vorlane-abc1234/", ""},
                                        {"Vorlane-abc1234/Vorlane.exe", "MZ"},
                                        {"Vorlane-abc1234/Saved", "../../../Outside", true},
                                        {"Vorlane-abc1234/Saved/evil.txt", "written through the link"}}));
    const std::wstring server = folder.file(L"server");
    PublishRun run = runPublisher(folder, {L"build", server, keptTestKeyFile(), zip});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(trimmed(run.err),
              "The zip holds a link, Vorlane-abc1234/Saved, which a build never has, so it can't be published in "
              "pieces.");
    EXPECT_FALSE(fileExists(joinPath(server, L"builds.json")));
}


// A server folder with builds published in pieces by the tool, and what it holds.
struct PiecesServer {
    TempFolder folder{L"pieces-server"};
    std::wstring server = folder.file(L"www");

    // Publishes the build of `commit` with these files besides the game; the publisher's output.
    PublishRun publish(const std::wstring& commit, const testing::BuildFiles& files, const std::wstring& released) {
        return publishZip(testing::makeBuildZip(folder.path(), commit, 0, files), released);
    }
    PublishRun publishZip(const std::wstring& zip, const std::wstring& released) {
        return runPublisher(folder, {L"build", server, keptTestKeyFile(), zip, L"--released", released});
    }
    std::string object(const std::wstring& hash, const wchar_t* folder = L"builds") const {
        return testing::readTestFile(joinPath(joinPath(server, folder), hash));
    }
    // Every file of the server folder, "/" between parts.
    std::set<std::wstring> files() const {
        std::set<std::wstring> names;
        for (const std::wstring& name : filesBelow(server)) names.insert(slashedName(name));
        return names;
    }
    static std::wstring slashedName(std::wstring name) {
        for (wchar_t& c : name)
            if (c == L'\\') c = L'/';
        return name;
    }
    PublishRun prune(std::vector<std::wstring> options) {
        options.insert(options.begin(), {L"prune", server});
        return runPublisher(folder, options);
    }
    std::vector<BuildRecord> records() const {
        return readBuildRecords(testing::readTestFile(joinPath(server, L"builds.json")));
    }
    // The index of a listed build, read as the launcher reads it.
    BuildIndex index(const std::wstring& commit) const {
        BuildIndex index;
        for (const BuildRecord& record : records()) {
            if (record.commit != commit) continue;
            EXPECT_EQ(readBuildIndex(object(record.index), commit, index).verdict, BuildIndexVerdict::Good);
        }
        return index;
    }
    // The files a listed build needs: its zip, index, pack and pieces.
    std::set<std::wstring> neededBy(const std::wstring& commit) const {
        std::set<std::wstring> names{buildZipName(commit)};
        for (const BuildRecord& record : records())
            if (record.commit == commit) names.insert(L"builds/" + record.index);
        const BuildIndex listed = index(commit);
        names.insert(L"builds/" + listed.pack.sha256);
        for (const IndexFile& file : listed.files)
            for (const IndexPiece& piece : file.pieces) names.insert(L"builds/" + toHex(piece.hash));
        return names;
    }
    // The files a theme version needs: its index and pieces.
    std::set<std::wstring> neededByTheme(const std::wstring& build) const {
        std::vector<ThemesListEntry> entries;
        EXPECT_EQ(readThemesList(testing::readTestFile(joinPath(server, L"themes.json")), entries),
                  ThemesListVerdict::Good);
        std::set<std::wstring> names;
        for (const ThemesListEntry& entry : entries) {
            if (entry.build != build) continue;
            names.insert(L"themes/" + entry.index);
            ThemeIndex index;
            EXPECT_EQ(readThemeIndex(object(entry.index, L"themes"), entry.theme, build, index).verdict,
                      IndexVerdict::Good);
            for (const IndexFile& file : index.files)
                for (const IndexPiece& piece : file.pieces) names.insert(L"themes/" + toHex(piece.hash));
        }
        return names;
    }
};

// The pack holds every distinct piece of the index once, in the order the
// index first names it, and is stored under its SHA-256 with the size the index gives.
TEST(Publish, ABuildsPackHoldsEachDistinctPieceOnceInTheIndexsOrder) {
    PiecesServer server;
    const std::string big = testing::noiseBytes(1500000, 7);
    const testing::BuildFiles files{{L"Content\\A.pak", big},
                                    {L"Content\\B.pak", big},  // the same pieces again
                                    {L"Content\\C.pak", testing::noiseBytes(900000, 9) + big.substr(0, 700000)},
                                    {L"Empty.txt", ""}};
    PublishRun run = server.publish(L"abc1234", files, L"2026-01-01T00:00:00Z");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const BuildIndex index = server.index(L"abc1234");
    ASSERT_FALSE(index.pack.sha256.empty()) << "the index names no pack";

    std::string expected;
    std::set<std::wstring> seen;
    size_t pieces = 0;
    for (const IndexFile& file : index.files)
        for (const IndexPiece& piece : file.pieces) {
            ++pieces;
            if (!seen.insert(toHex(piece.hash)).second) continue;
            const std::string bytes = server.object(toHex(piece.hash));  // each piece is stored on its own as well
            ASSERT_EQ(bytes.size(), piece.size) << toUtf8(toHex(piece.hash));
            expected += bytes;
        }
    ASSERT_GT(pieces, seen.size()) << "the build was meant to repeat pieces";
    const std::string pack = server.object(index.pack.sha256);
    EXPECT_EQ(pack.size(), index.pack.size);
    EXPECT_EQ(index.pack.size, packSize(index.files));
    EXPECT_TRUE(pack == expected) << "the pack isn't the distinct pieces in order";
    Sha256Digest digest;
    ASSERT_TRUE(sha256(pack, digest));
    EXPECT_EQ(toHex(digest), index.pack.sha256);
    for (const std::wstring& name : filesBelow(joinPath(server.server, L"builds")))
        EXPECT_FALSE(name.ends_with(L".part")) << toUtf8(name);

    // Published again, the same build names the same pack and stores nothing new.
    run = server.publish(L"abc1234", files, L"2026-01-01T00:00:00Z");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("pieces (0 new)"), std::string::npos) << run.out;
    EXPECT_EQ(server.index(L"abc1234").pack.sha256, index.pack.sha256);
}

// A zip whose files are stored as they are is cut where they lie, without an unpack: its index is the one the
// same files give from a compressed zip, and a file whose bytes don't match the zip's CRC-32 lists nothing. A
// zip that holds anything an unpack would leave out is unpacked, as any compressed one is.
TEST(Publish, AStoredZipIsCutWhereItLiesAndGivesTheIndexOfItsUnpack) {
    const testing::BuildFiles files{{L"Content\\Paks\\A.pak", testing::noiseBytes(700000, 21)},
                                    {L"Content\\Movies\\", ""},
                                    {L"Empty.txt", ""}};
    PiecesServer compressed;
    ASSERT_EQ(compressed.publish(L"abc1234", files, L"2026-01-01T00:00:00Z").exitCode, 0u);
    const std::wstring expected = compressed.records().at(0).index;

    // The same files, zipped stored, entry by entry from the compressed zip's unpack.
    TempFolder made;
    const std::wstring top = testing::unpackBuildZip(testing::makeBuildZip(made.path(), L"abc1234", 0, files),
                                                     made.file(L"unpacked"));
    ASSERT_FALSE(top.empty());
    std::vector<testing::ZipWriterEntry> entries{{"Vorlane-abc1234/", ""}, {"Vorlane-abc1234/Content/Movies/", ""}};
    for (const std::wstring& file : filesBelow(top)) {
        std::string name = "Vorlane-abc1234/" + toUtf8(file);
        std::replace(name.begin(), name.end(), '\\', '/');
        entries.push_back({name, testing::readTestFile(joinPath(top, file))});
    }
    const auto damaged = [](std::string& zip) { zip[zip.find("Vorlane-abc1234/Content/Paks/A.pak") + 1000] ^= 1; };
    const struct {
        const char* what;
        std::vector<testing::ZipWriterEntry> extra;
        std::function<void(std::string&)> change;
        const char* refusal;  // nullptr: published with the compressed zip's index
    } cases[] = {
        {"stored", {}, nullptr, nullptr},
        {"stored, with a file outside the build's folder", {{"Readme.txt", "not the build's"}}, nullptr, nullptr},
        {"stored, one file's bytes damaged", {}, damaged,
         "The zip's file Vorlane-abc1234/Content/Paks/A.pak doesn't match the CRC-32 the zip keeps of it, so the zip "
         "is damaged and the build isn't listed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PiecesServer stored;
        std::vector<testing::ZipWriterEntry> all = entries;
        all.insert(all.end(), c.extra.begin(), c.extra.end());
        const std::wstring zip = stored.folder.file(L"Vorlane-abc1234.zip");
        ASSERT_TRUE(testing::writeZip(zip, all));
        if (c.change) {
            std::string bytes = testing::readTestFile(zip);
            c.change(bytes);
            ASSERT_TRUE(writeFileAtomically(zip, bytes));
        }
        const PublishRun run = stored.publishZip(zip, L"2026-01-01T00:00:00Z");
        if (c.refusal) {
            EXPECT_EQ(run.exitCode, 1u);
            EXPECT_EQ(trimmed(run.err), c.refusal);
            EXPECT_FALSE(fileExists(joinPath(stored.server, L"builds.json")));
            continue;
        }
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(stored.records().at(0).index, expected);
        EXPECT_TRUE(testing::readTestFile(joinPath(stored.server, L"Vorlane-abc1234.zip")) == testing::readTestFile(zip));
    }
}

// An object of the server with the wrong size under its name (a stray, or one
// cut short) is written again; one with its size is taken as it is.
TEST(Publish, AStoredPieceOfTheWrongSizeIsWrittenAgain) {
    PiecesServer server;
    const testing::BuildFiles files{{L"Content\\A.pak", testing::noiseBytes(600000, 3)}};
    ASSERT_EQ(server.publish(L"abc1234", files, L"2026-01-01T00:00:00Z").exitCode, 0u);
    const BuildIndex index = server.index(L"abc1234");
    ASSERT_GE(index.files.size(), 2u);
    const IndexPiece first = index.files.front().pieces.front();
    const std::string bytes = server.object(toHex(first.hash));
    const std::wstring path = joinPath(server.server, L"builds\\" + toHex(first.hash));
    ASSERT_TRUE(writeFileAtomically(path, bytes.substr(0, bytes.size() / 2)));
    const PublishRun run = server.publish(L"abc1234", files, L"2026-01-01T00:00:00Z");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("pieces (1 new)"), std::string::npos) << run.out;
    EXPECT_TRUE(server.object(toHex(first.hash)) == bytes);
}

std::set<std::wstring> without(std::set<std::wstring> names, const std::set<std::wstring>& taken) {
    for (const std::wstring& name : taken) names.erase(name);
    return names;
}

// The names a prune's output lists, as "Would remove <name> (<n> bytes)." lines.
std::set<std::wstring> listedByPrune(const std::string& out) {
    std::set<std::wstring> names;
    size_t at = 0;
    while ((at = out.find("Would remove ", at)) != std::string::npos) {
        at += 13;
        const size_t end = out.find(" (", at), line = out.find('\n', at);
        if (end < line) names.insert(toUtf16(out.substr(at, end - at)));
    }
    return names;
}

// Three builds that share pieces, each with a theme version; the second
// build and its theme version leave the lists. A prune removes exactly what
// only they needed, and the others keep every file they name, intact.
TEST(Publish, PruneRemovesExactlyWhatNoListedBuildOrThemeNeeds) {
    PiecesServer server;
    const std::string shared = testing::noiseBytes(1200000, 21);
    const std::vector<std::wstring> commits{L"abc1111", L"abc2222", L"abc3333"};
    for (size_t i = 0; i < commits.size(); ++i) {
        const PublishRun run =
            server.publish(commits[i], {{L"Content\\Shared.pak", shared},
                                        {L"Content\\Own.pak", testing::noiseBytes(400000, 30 + (uint32_t)i)}},
                           L"2026-01-0" + std::to_wstring(i + 1) + L"T00:00:00Z");
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        const std::wstring theme = server.folder.file(L"theme" + std::to_wstring(i) + L"\\Ember");
        const std::string pak = shared.substr(0, 500000) + testing::noiseBytes(90000, 40 + (uint32_t)i);
        testing::writeThemeFolder(theme, {{L"Ember.uplugin", testing::descriptorText(commits[i])},
                                          {L"Content/Paks/Ember.pak", pak}});
        ASSERT_TRUE(testing::publishTheme(server.folder, server.server, theme, commits[i]));
    }
    std::set<std::wstring> kept;
    for (const std::wstring& commit : {commits[0], commits[2]}) {
        kept.merge(server.neededBy(commit));
        kept.merge(server.neededByTheme(commit));
    }
    std::set<std::wstring> gone = server.neededBy(commits[1]);
    gone.merge(server.neededByTheme(commits[1]));
    gone = without(gone, kept);
    ASSERT_GE(gone.size(), 5u);  // the zip, index, pack and own pieces; the theme's index and own piece

    // The second build leaves builds.json (re-signed) and its theme version themes.json.
    std::vector<BuildRecord> records = server.records();
    std::erase_if(records, [&](const BuildRecord& record) { return record.commit == commits[1]; });
    ASSERT_TRUE(writeFileAtomically(joinPath(server.server, L"builds.json"), buildListJson(records)));
    ASSERT_EQ(runPublisher(server.folder, {L"sign", keptTestKeyFile(), joinPath(server.server, L"builds.json")})
                  .exitCode,
              0u);
    std::vector<ThemesListEntry> entries;
    readThemesList(testing::readTestFile(joinPath(server.server, L"themes.json")), entries);
    std::erase_if(entries, [&](const ThemesListEntry& entry) { return entry.build == commits[1]; });
    ASSERT_TRUE(writeFileAtomically(joinPath(server.server, L"themes.json"), themesListJson(entries)));
    const std::set<std::wstring> before = server.files();

    // Everything was written within the hour, so by default nothing goes.
    PublishRun run = server.prune({L"--dry-run"});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(listedByPrune(run.out).empty()) << run.out;
    EXPECT_NE(run.out.find("Would remove 0 files, 0 bytes"), std::string::npos) << run.out;

    run = server.prune({L"--dry-run", L"--keep-newer-than", L"0"});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(listedByPrune(run.out), gone) << run.out;
    EXPECT_EQ(server.files(), before) << "a dry run removed something";

    run = server.prune({L"--keep-newer-than", L"0"});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("Removed " + std::to_string(gone.size()) + " files"), std::string::npos) << run.out;
    EXPECT_EQ(server.files(), without(before, gone));
    for (const std::wstring& name : kept) {  // every file the other builds name is there, intact
        std::wstring path = joinPath(server.server, name);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        const std::string bytes = testing::readTestFile(path);
        if (name.starts_with(L"builds/") || name.starts_with(L"themes/"))
            EXPECT_EQ(testing::sha256Hex(bytes), name.substr(7)) << toUtf8(name);
        else
            EXPECT_FALSE(bytes.empty()) << toUtf8(name);
    }
}

// A list, or an index a list names, that can't be read, or a publication
// running on the folder, means nothing is removed, with a sentence that says why.
TEST(Publish, PruneRemovesNothingWhenAListOrIndexCantBeReadOrAPublicationRuns) {
    PiecesServer server;
    ASSERT_EQ(server.publish(L"abc1111", {}, L"2026-01-01T00:00:00Z").exitCode, 0u);
    ASSERT_EQ(server.publish(L"abc2222", {}, L"2026-01-02T00:00:00Z").exitCode, 0u);
    const std::wstring list = joinPath(server.server, L"builds.json");
    const std::string listed = testing::readTestFile(list);
    std::vector<BuildRecord> records = server.records();
    const std::wstring firstIndex = joinPath(server.server, L"builds\\" + records.back().index);
    const std::string indexText = testing::readTestFile(firstIndex);
    records.pop_back();  // the first build leaves the list: its zip and more could go
    const std::string withOne = buildListJson(records);

    struct Case {
        const char* what;
        std::function<void()> spoil;
        const char* sentence;
    };
    FileHandle heldLock;
    const Case cases[] = {
        {"no builds.json", [&] { DeleteFileW(list.c_str()); }, "Couldn't read "},
        {"builds.json not JSON", [&] { writeFileAtomically(list, "[{\"File\": "); }, "isn't a JSON array"},
        {"an entry the launcher passes over",
         [&] { writeFileAtomically(list, withOne.substr(0, withOne.rfind(']')) + ",{\"File\": \"x.zip\"}]"); },
         "1 entries the launcher passes over"},
        {"a listed index missing",
         [&] {
             writeFileAtomically(list, listed);
             DeleteFileW(firstIndex.c_str());
         },
         "is missing or isn't one the launcher reads"},
        {"themes.json not a list",
         [&] {
             writeFileAtomically(firstIndex, indexText);
             writeFileAtomically(joinPath(server.server, L"themes.json"), "{}");
         },
         "The themes list"},
        {"a publication running",
         [&] {
             DeleteFileW(joinPath(server.server, L"themes.json").c_str());
             heldLock = FileHandle(CreateFileW(joinPath(server.server, L"publish.lock").c_str(), GENERIC_READ,
                                                        FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
         },
         "A publication is running"},
    };
    for (const Case& c : cases) {
        c.spoil();
        const std::set<std::wstring> before = server.files();
        const PublishRun run = server.prune({L"--keep-newer-than", L"0"});
        EXPECT_EQ(run.exitCode, 1u) << c.what;
        EXPECT_NE(run.err.find(c.sentence), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(server.files(), before) << c.what;
    }
    heldLock.close();
    writeFileAtomically(list, withOne);
    const PublishRun run = server.prune({L"--keep-newer-than", L"0"});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_FALSE(fileExists(joinPath(server.server, L"Vorlane-abc1111.zip"))) << run.out;
    EXPECT_TRUE(fileExists(joinPath(server.server, L"Vorlane-abc2222.zip"))) << run.out;
}

}  // namespace
}  // namespace vorlane
