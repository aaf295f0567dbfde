// A build index as a hostile build server might write it: every path that
// could leave the build's folder or that Windows would take for something
// else, every size that could run away, each refused with the file it names;
// and an index the publisher writes reads back as it was.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/files_below.h"
#include "core/text.h"
#include "install/build_list.h"
#include "pieces/build_index.h"
#include "pieces/piece_cutter.h"
#include "support/addon_themes.h"
#include "support/temp_folder.h"

using namespace vorlane;
using vorlane::testing::digestOfHex;

namespace {

const std::wstring kCommit = L"abc1234";
const std::string kHash(64, 'a');

std::string pieceJson(const std::string& size, const std::string& hash = kHash) {
    return "\"" + hash + ":" + size + "\"";
}

std::string fileJson(const std::string& path, const std::string& size = "5",
                     const std::vector<std::string>& pieces = {pieceJson("5")},
                     const std::string& sha256 = "\"" + kHash + "\"") {
    std::string list;
    for (const std::string& p : pieces) list += (list.empty() ? "" : ",") + p;
    return "{\"Path\": " + path + ", \"Size\": " + size + ", \"Sha256\": " + sha256 + ", \"Chunks\": [" + list + "]}";
}

const std::string kGame = fileJson("\"Vorlane.exe\"");

std::string indexJson(const std::vector<std::string>& files, const std::string& build = "\"abc1234\"",
                      const std::string& scheme = "1") {
    std::string list;
    for (const std::string& f : files) list += "," + f;
    return "{\"Build\": " + build + ", \"Chunks\": " + scheme + ", \"Files\": [" + kGame + list + "]}";
}

// The same index with "Folders" (its JSON text) after "Files".
std::string withFolders(const std::string& folders, const std::vector<std::string>& files = {}) {
    const std::string text = indexJson(files);
    return text.substr(0, text.size() - 1) + ", \"Folders\": " + folders + "}";
}

struct Hostile {
    const char* what;
    std::string text;
    BuildIndexVerdict verdict;
    std::wstring badPath;
};

std::vector<Hostile> hostileIndexes() {
    using V = BuildIndexVerdict;
    std::vector<Hostile> cases = {
        {"not JSON", "{\"Build\": ", V::Unreadable, L""},
        {"an array", "[]", V::Unreadable, L""},
        {"another build", indexJson({}, "\"def5678\""), V::NotThisBuild, L""},
        {"a build that isn't a string", indexJson({}, "1234567"), V::NotThisBuild, L""},
        {"an unknown scheme", indexJson({}, "\"abc1234\"", "2"), V::UnknownScheme, L""},
        {"no game program", "{\"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": []}", V::NoGame, L""},
        {"a piece of 524289 bytes", indexJson({fileJson("\"big.pak\"", "524289", {pieceJson("524289")})}), V::BadFile,
         L"big.pak"},
        {"a piece of 0 bytes", indexJson({fileJson("\"a.pak\"", "5", {pieceJson("5"), pieceJson("0")})}), V::BadFile,
         L"a.pak"},
        {"pieces short of the size", indexJson({fileJson("\"a.pak\"", "6")}), V::BadFile, L"a.pak"},
        {"pieces beyond the size", indexJson({fileJson("\"a.pak\"", "4")}), V::BadFile, L"a.pak"},
        {"a negative size", indexJson({fileJson("\"a.pak\"", "-5")}), V::BadFile, L"a.pak"},
        {"an upper-case fingerprint",
         indexJson({fileJson("\"a.pak\"", "5", {pieceJson("5")}, "\"" + std::string(64, 'A') + "\"")}), V::BadFile,
         L"a.pak"},
        {"a short piece hash", indexJson({fileJson("\"a.pak\"", "5", {pieceJson("5", std::string(63, 'a'))})}),
         V::BadFile, L"a.pak"},
        {"a piece that isn't hash:size", indexJson({fileJson("\"a.pak\"", "5", {"\"" + kHash + "-5\""})}), V::BadFile,
         L"a.pak"},
    };
    // Paths that could leave the folder or that Windows reads as something else.
    const wchar_t* unsafe[] = {
        L"/etc/passwd", L"\\\\server\\share\\x", L"C:/Windows/x.dll", L"C:x.dll", L"../outside.txt",
        L"Content/../../outside.txt", L"a/..", L"..", L"Content/Paks/x.pak:stream", L"CON", L"con.txt",
        L"Content/NUL", L"Content/aux.pak", L"COM1", L"lpt9.log", L"Prn.ini", L"trailing.", L"trailing ",
        L"folder./x", L"Content//x.pak", L"Content/", L"", L"a|b", L"a?b", L"a*b", L"a<b", L"a\"b", L"tab\tname",
        // Devices under superscript digits, and short names that may be another listed file's.
        L"COM\u00b9", L"lpt\u00b2.txt", L"Content/Com\u00b3.pak", L"LPT\u00b9", L"Content/LONGFI~1.PAK",
        L"PROGRA~12/x.dll", L"a~0", L"Engine~9\\Binaries\\x.dll",
    };
    for (const wchar_t* path : unsafe)
        cases.push_back({"an unsafe path", indexJson({fileJson(quoteJson(path))}), V::UnsafePath, path});
    // The same file twice, however it is spelt.
    for (const wchar_t* path : {L"vorlane.exe", L"VORLANE.EXE"})
        cases.push_back({"a repeated path", indexJson({fileJson(quoteJson(path))}), V::RepeatedPath, path});
    cases.push_back({"a repeated path with \\",
                     indexJson({fileJson("\"Content/Paks/a.pak\""), fileJson("\"content\\\\paks\\\\A.pak\"")}),
                     V::RepeatedPath, L"content\\paks\\A.pak"});
    // A path that is a file in one entry and a folder in another, in either order, however spelt.
    const wchar_t* fileAndFolder[][3] = {  // listed first, listed second, the one refused
        {L"Vorlane/x", L"Vorlane/x/y.txt", L"Vorlane/x/y.txt"},
        {L"Vorlane/x/y.txt", L"Vorlane/x", L"Vorlane/x"},
        {L"Content/Paks", L"content\\PAKS\\a\\b.pak", L"content\\PAKS\\a\\b.pak"},
        {L"Content/a/b/c.pak", L"CONTENT/A", L"CONTENT/A"},
        {L"vorlane.exe/x", L"Other.txt", L"vorlane.exe/x"},  // the game program is listed first
    };
    for (const auto& paths : fileAndFolder)
        cases.push_back({"a file and a folder of one path",
                         indexJson({fileJson(quoteJson(paths[0])), fileJson(quoteJson(paths[1]))}),
                         V::FileAndFolder, paths[2]});
    // An empty folder keeps the same rules as a file's path, and can't be a file or lie below one.
    for (const wchar_t* path : {L"../outside", L"Content/../../outside", L"C:/Windows/x", L"\\\\server\\share",
                                L"Content/CON", L"Content/LONGFI~1", L"COM\u00b9", L"trailing.", L"", L"a/"})
        cases.push_back({"an unsafe folder", withFolders("[" + quoteJson(path) + "]"), V::UnsafePath, path});
    const wchar_t* folderOnFile[][2] = {  // a file listed, then a folder of its path or below it
        {L"Content/Paks/a.pak", L"Content/Paks/a.pak"},
        {L"Content/Paks/a.pak", L"content\\PAKS\\A.pak\\Mods"},
        {L"Build.ini", L"BUILD.INI/x/y"},
    };
    for (const auto& paths : folderOnFile)
        cases.push_back({"a folder where a file is",
                         withFolders("[\"Content/Mods\", " + quoteJson(paths[1]) + "]",
                                     {fileJson(quoteJson(paths[0]))}),
                         V::FileAndFolder, paths[1]});
    cases.push_back({"the game program as a folder", withFolders("[\"vorlane.exe\"]"), V::FileAndFolder,
                     L"vorlane.exe"});
    cases.push_back({"a folder that isn't text", withFolders("[\"Content/Mods\", 7]"), V::Unreadable, L""});
    return cases;
}

TEST(BuildIndex, EveryHostileIndexIsRefusedNamingItsFile) {
    for (const Hostile& hostile : hostileIndexes()) {
        BuildIndex index;
        const BuildIndexCheck check = readBuildIndex(hostile.text, kCommit, index);
        EXPECT_EQ(check.verdict, hostile.verdict) << hostile.what << ": " << hostile.text;
        EXPECT_EQ(check.badPath, hostile.badPath) << hostile.what;
        EXPECT_FALSE(buildIndexRefusal(check).empty()) << hostile.what;
    }
}

TEST(BuildIndex, SafePathsAndWholeLimitsPass) {
    for (const wchar_t* path : {L"Vorlane.exe", L"Content/Paks/pakchunk0-Windows.pak", L"Engine\\Binaries\\x.dll",
                                L"a.b.c", L"console.ini", L"COM10", L"LPT0", L"nul_sound.wav", L"Saved/.hidden",
                                L"COM\u2074", L"COM\u00b9\u00b9", L"a~b~", L"~a1", L"x~", L"Tilde~Name.pak"})
        EXPECT_TRUE(isWindowsSafePath(path)) << toUtf8(path);
    EXPECT_FALSE(isWindowsSafePath(std::wstring(1025, L'a')));
    EXPECT_FALSE(isWindowsSafePath(std::wstring(256, L'a')));
    EXPECT_TRUE(isWindowsSafePath(std::wstring(255, L'a')));

}

// An index of `files` files (the game's program first) and `folders` empty
// folders, with `pieces` pieces of one byte spread over the files; each path
// `pathLength` characters long or a little more.
BuildIndex indexOfSize(size_t files, size_t folders, size_t pieces, size_t pathLength) {
    BuildIndex index{kCommit, {}};
    auto path = [&](const wchar_t* kind, size_t number) {
        std::wstring text = kind + std::to_wstring(number);
        while (text.size() < pathLength) text = std::wstring(std::min<size_t>(200, pathLength - text.size()), L'x') + L"/" + text;
        return text;
    };
    for (size_t f = 0; f < files; ++f) {
        const size_t count = pieces / files + (f < pieces % files ? 1 : 0);
        index.files.push_back(IndexFile{f ? path(L"file", f) : std::wstring(kGameProgram), count,
                                        std::wstring(64, L'a'), std::vector<IndexPiece>(count, {digestOfHex(std::wstring(64, L'b')), 1})});
    }
    for (size_t f = 0; f < folders; ++f) index.folders.push_back(path(L"folder", f));
    return index;
}

struct WholeLimitCase {
    const char* what;
    size_t files, folders, pieces, pathLength;
    BuildIndexVerdict verdict;
};

// Each limit of the whole build, on an index made in memory (the publisher's
// check) and on its text (the launcher's): at the limit it passes, past it
// both refuse it alike.
void expectOneLimitForBoth(const WholeLimitCase& c) {
    const BuildIndex index = indexOfSize(c.files, c.folders, c.pieces, c.pathLength);
    const BuildIndexCheck check = checkBuildIndex(index);
    EXPECT_EQ(check.verdict, c.verdict) << c.what;
    BuildIndex read;
    EXPECT_EQ(readBuildIndex(buildIndexJson(index), kCommit, read).verdict, c.verdict) << c.what;
    if (c.verdict != BuildIndexVerdict::Good) {
        EXPECT_FALSE(buildIndexRefusal(check).empty()) << c.what;
    }
}

TEST(BuildIndex, TheLimitsOfFilesAndTextAreOneForThePublisherAndTheLauncher) {
    using V = BuildIndexVerdict;
    const WholeLimitCase cases[] = {
        {"the most files and folders", kMostBuildFiles - 10, 10, kMostBuildFiles, 10, V::Good},
        {"a file more", kMostBuildFiles - 9, 10, kMostBuildFiles, 10, V::TooManyFiles},
        {"a folder more", kMostBuildFiles - 10, 11, kMostBuildFiles, 10, V::TooManyFiles},
        {"paths too long for an index's text", 40000, 0, kMostBuildPieces, 1000, V::TooLong},
    };
    for (const WholeLimitCase& c : cases) expectOneLimitForBoth(c);
    EXPECT_EQ(buildIndexRefusal({V::TooManyFiles}), L"it lists more than 50000 files and folders");
    EXPECT_EQ(buildIndexRefusal({V::TooLong}), L"it is longer than an index may be (64 MB, 1200064 values)");
}

TEST(BuildIndex, TheLimitOfPiecesIsOneForThePublisherAndTheLauncher) {
    using V = BuildIndexVerdict;
    const WholeLimitCase cases[] = {
        {"the most pieces", 10, 0, kMostBuildPieces, 10, V::Good},
        {"a piece more", 10, 0, kMostBuildPieces + 1, 10, V::TooManyPieces},
    };
    for (const WholeLimitCase& c : cases) expectOneLimitForBoth(c);
    EXPECT_EQ(buildIndexRefusal({V::TooManyPieces}), L"it lists more than 400000 pieces");
}

TEST(BuildIndex, WhatThePublisherWritesReadsBackAsItWas) {
    BuildIndex written{kCommit,
                       {IndexFile{L"Vorlane.exe", 7, std::wstring(64, L'1'),
                                  {{digestOfHex(std::wstring(64, L'2')), 3}, {digestOfHex(std::wstring(64, L'3')), 4}}},
                        IndexFile{L"Content/Paks/empty.pak", 0, std::wstring(64, L'4'), {}},
                        IndexFile{L"Vorlane/Saved/Config/Default.ini", 1, std::wstring(64, L'5'),
                                  {{digestOfHex(std::wstring(64, L'6')), 1}}}}};
    BuildIndex read;
    ASSERT_EQ(readBuildIndex(buildIndexJson(written), kCommit, read).verdict, BuildIndexVerdict::Good);
    ASSERT_EQ(read.files.size(), written.files.size());
    for (size_t i = 0; i < read.files.size(); ++i) {
        EXPECT_EQ(read.files[i].path, written.files[i].path);
        EXPECT_EQ(read.files[i].size, written.files[i].size);
        EXPECT_EQ(read.files[i].sha256, written.files[i].sha256);
        ASSERT_EQ(read.files[i].pieces.size(), written.files[i].pieces.size());
        for (size_t p = 0; p < read.files[i].pieces.size(); ++p) {
            EXPECT_EQ(read.files[i].pieces[p].hash, written.files[i].pieces[p].hash);
            EXPECT_EQ(read.files[i].pieces[p].size, written.files[i].pieces[p].size);
        }
    }
    // Without empty folders the text is as an older publisher wrote it; with them, they read back in order.
    EXPECT_EQ(buildIndexJson(written).find("Folders"), std::string::npos);
    EXPECT_TRUE(read.folders.empty());
    written.folders = {L"Content/Mods", L"Vorlane/Saved/Logs"};
    ASSERT_EQ(readBuildIndex(buildIndexJson(written), kCommit, read).verdict, BuildIndexVerdict::Good);
    EXPECT_EQ(read.folders, written.folders);
    // "Folders" that isn't a list names none, as "Files" does; members the reader doesn't know are passed over.
    ASSERT_EQ(readBuildIndex(withFolders("\"Content/Mods\", \"Times\": [1]"), kCommit, read).verdict,
              BuildIndexVerdict::Good);
    EXPECT_TRUE(read.folders.empty());
    // The publisher's check refuses what the reader refuses.
    written.folders.push_back(L"Content/../../outside");
    const BuildIndexCheck check = checkBuildIndex(written);
    EXPECT_EQ(check.verdict, BuildIndexVerdict::UnsafePath);
    EXPECT_EQ(check.badPath, L"Content/../../outside");
    written.folders.back() = L"Vorlane.exe/x";
    EXPECT_EQ(checkBuildIndex(written).verdict, BuildIndexVerdict::FileAndFolder);
    written.folders.pop_back();
    // A pack reads back when its size is the distinct pieces' sum (8 here), and is left unused otherwise.
    for (const auto& [size, used] : {std::pair<uint64_t, bool>{8, true}, {7, false}, {9, false}}) {
        written.pack = PiecePack{std::wstring(64, L'7'), size};
        ASSERT_EQ(readBuildIndex(buildIndexJson(written), kCommit, read).verdict, BuildIndexVerdict::Good);
        EXPECT_EQ(read.pack.size, used ? size : 0) << size;
        EXPECT_EQ(read.pack.sha256, used ? written.pack.sha256 : L"") << size;
    }
    // Read member by member as any JSON reader reads it: after a byte order mark, in any order, the first of
    // a member given twice counting, members it doesn't know passed over whatever they hold.
    const std::string files = "\"Files\": [" + kGame + "]";
    const struct {
        std::string text;
        BuildIndexVerdict verdict;
    } forms[] = {
        {"\xEF\xBB\xBF" + buildIndexJson(written), BuildIndexVerdict::Good},
        {"{" + files + ", \"Chunks\": 1, \"Build\": \"abc1234\"}", BuildIndexVerdict::Good},
        {"{\"Build\": \"abc1234\", \"Build\": \"def5678\", \"Chunks\": 1, " + files + "}", BuildIndexVerdict::Good},
        {"{\"Build\": \"def5678\", \"Build\": \"abc1234\", \"Chunks\": 1, " + files + "}", BuildIndexVerdict::NotThisBuild},
        {"{\"Build\": [\"abc1234\"], \"Chunks\": 1, " + files + "}", BuildIndexVerdict::NotThisBuild},
        {"{\"Build\": \"abc1234\", \"Chunks\": {}, " + files + "}", BuildIndexVerdict::UnknownScheme},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, \"Times\": {\"a\": [1, {\"b\": null}], \"c\": -2.5e3}, " + files + "}",
         BuildIndexVerdict::Good},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, " + files + ", \"Files\": 7}", BuildIndexVerdict::Good},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": 7, " + files + "}", BuildIndexVerdict::NoGame},
        {"{\"Build\": \"abc1234\",\n" + std::string(20000, ' ') + "\"Chunks\": 1,\t" + std::string(20000, '\t') + files +
             std::string(20000, '\n') + "}",
         BuildIndexVerdict::Good},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, " + files + "} x", BuildIndexVerdict::Unreadable},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, " + files + ", \"Times\": [1,]}", BuildIndexVerdict::Unreadable},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, " + files + ", \"Times\": tru}", BuildIndexVerdict::Unreadable},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, " + files + ", \"Times\": " + std::string(70, '[') +
             std::string(70, ']') + "}", BuildIndexVerdict::Unreadable},
        {"{\"Build\": \"abc1234\", \"Chunks\": 1, " + files, BuildIndexVerdict::Unreadable},
    };
    for (const auto& form : forms)
        EXPECT_EQ(readBuildIndex(form.text, kCommit, read).verdict, form.verdict) << form.text;
    // A list of more values than the bound is refused unread.
    std::string flood = "{\"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": [" + kGame;
    flood.reserve(flood.size() + kMostBuildIndexValues * 2 + 8);
    for (size_t i = 0; i < kMostBuildIndexValues; ++i) flood += ",0";
    EXPECT_EQ(readBuildIndex(flood + "]}", kCommit, read).verdict, BuildIndexVerdict::TooLong);
    // So is a text longer than any download into memory brings, however few values it holds.
    std::string padded = buildIndexJson(written);
    padded.insert(1, size_t(kLargestMemoryDownload) + 1 - padded.size(), ' ');
    EXPECT_EQ(readBuildIndex(padded, kCommit, read).verdict, BuildIndexVerdict::TooLong);
    padded.erase(1, 1);
    EXPECT_EQ(readBuildIndex(padded, kCommit, read).verdict, BuildIndexVerdict::Good);
}

// The largest index the launcher takes, and hostile ones as big as it reads,
// each read within a bound of memory beside its text: no index is turned
// into a tree of JSON values whole.
std::string hexOf(size_t number) {
    char text[17];
    snprintf(text, sizeof text, "%016zx", number);
    return std::string(48, 'c') + text;
}

std::string largestIndex(size_t files, size_t pieces) {
    std::string text = "{\"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": [";
    text.reserve(pieces * 80 + files * 200);
    size_t piece = 0;
    for (size_t f = 0; f < files; ++f) {
        const size_t count = pieces / files + (f < pieces % files ? 1 : 0);
        text += std::string(f ? ",\n" : "") + "{\"Path\": \"" +
                (f ? "Content/Paks/pakchunk" + std::to_string(f) + "-Windows.pak" : std::string("Vorlane.exe")) +
                "\", \"Size\": " + std::to_string(count * 100) + ", \"Sha256\": \"" + hexOf(f) + "\", \"Chunks\": [";
        for (size_t p = 0; p < count; ++p, ++piece) text += std::string(p ? ", " : "") + "\"" + hexOf(piece) + ":100\"";
        text += "]}";
    }
    return text + "]}";
}

size_t peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize >> 20;
}

size_t workingMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize >> 20;
}

// Reads `text`, which holds no more than it needs, and reports how much memory
// the reading took beside it: each such test runs in a process of its own, so
// the peak it finds is its own.
void expectReadWithinBound(const std::string& text, BuildIndexVerdict verdict, const char* what) {
    const size_t before = workingMiB(), peakBefore = peakMiB();
    BuildIndex index;
    const BuildIndexCheck check = readBuildIndex(text, kCommit, index);
    const size_t peak = peakMiB();
    EXPECT_EQ(check.verdict, verdict) << what;
    ::testing::Test::RecordProperty("PeakMB", std::to_string(peak - before));
    printf("%s: %zu MB of text, %zu MB at the peak beside %zu MB (peak before %zu MB)\n", what, text.size() >> 20,
           peak - before, before, peakBefore);
    EXPECT_LT(peak - before, 160u) << what;
}

TEST(BuildIndex, MillionsOfZerosAreRefusedWithinABoundOfMemory) {
    std::string text = "{\"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": [0";
    text.reserve(text.size() + 8300000 * 2 + 2);
    for (size_t i = 1; i < 8300000; ++i) text += ",0";
    expectReadWithinBound(text + "]}", BuildIndexVerdict::TooLong, "8.3 million zeros");
}

TEST(BuildIndex, APathOfSixtyMegabytesIsRefusedWithinABoundOfMemory) {
    const std::string start = "{\"Build\": \"abc1234\", \"Chunks\": 1, \"Files\": [{\"Path\": \"";
    const std::string end = "\", \"Size\": 5, \"Sha256\": \"" + kHash + "\", \"Chunks\": [" + pieceJson("5") + "]}]}";
    std::string text;
    text.reserve(start.size() + (60u << 20) + end.size());
    text += start;
    text.append(60u << 20, 'a');
    expectReadWithinBound(text + end, BuildIndexVerdict::Unreadable, "one path of 60 MB");
}

TEST(BuildIndex, AFileOfEveryPieceAllowedIsReadWithinABoundOfMemory) {
    expectReadWithinBound(largestIndex(1, kMostBuildPieces), BuildIndexVerdict::Good, "one file of every piece");
}

TEST(BuildIndex, TheLargestIndexIsReadWithinABoundOfMemory) {
    expectReadWithinBound(largestIndex(kMostBuildFiles, kMostBuildPieces), BuildIndexVerdict::Good,
                          "the largest index");
}

// A folder written from an index holds exactly its files: two paths that are
// one file on Windows leave one file, and a file more is found too.
TEST(BuildIndex, AFolderHoldsExactlyTheIndexsFilesOrTheOddOneIsNamed) {
    vorlane::testing::TempFolder folder{L"as-listed"};
    folder.writeFile(L"Vorlane.exe", "x");
    folder.makeFolder(L"Content");
    folder.writeFile(L"Content\\LongFileName.pak", "y");
    const IndexFile any{L"", 1, std::wstring(64, L'a'), {{digestOfHex(std::wstring(64, L'a')), 1}}};
    auto indexOf = [&](std::vector<std::wstring> paths) {
        BuildIndex index{kCommit, {}};
        for (const std::wstring& path : paths) index.files.push_back(IndexFile{path, any.size, any.sha256, any.pieces});
        return index;
    };
    const struct {
        std::vector<std::wstring> listed;
        std::wstring odd;
    } cases[] = {
        {{L"Vorlane.exe", L"Content/LongFileName.pak"}, L""},
        {{L"vorlane.EXE", L"content\\longfilename.pak"}, L""},
        {{L"Vorlane.exe", L"Content/LongFileName.pak", L"Content/longfilename.PAK"}, L"Content/longfilename.PAK"},
        {{L"Vorlane.exe", L"Content/LongFileName.pak", L"Content/LONGFI~1.PAK"}, L"Content/LONGFI~1.PAK"},
        {{L"Vorlane.exe", L"Content/Other.pak"}, L"Content/Other.pak"},
        {{L"Vorlane.exe"}, L"Content\\LongFileName.pak"},
    };
    for (const auto& c : cases) EXPECT_EQ(fileNotAsListed(folder.path(), indexOf(c.listed)), c.odd) << toUtf8(c.odd);

    // What the publisher lists as the build's empty folders: those holding nothing at all.
    folder.makeFolder(L"Content\\Mods");
    folder.makeFolder(L"Maps");
    folder.makeFolder(L"Maps\\Empty");
    const std::vector<std::wstring> empty = emptyFoldersBelow(folder.path());
    EXPECT_EQ(std::set<std::wstring>(empty.begin(), empty.end()),
              (std::set<std::wstring>{L"Content\\Mods", L"Maps\\Empty"}));
}

}  // namespace

namespace {

// An older launcher reads a list with "Index" as it read every list: the
// member is one it doesn't know, and the record is used all the same.
TEST(BuildIndex, TheBuildListKeepsIndexAndPassesOverMembersItDoesNotKnow) {
    const std::string hash(64, 'e');
    const std::string text = "[{\"File\": \"Vorlane-abc1234.zip\", \"Commit\": \"abc1234\", \"Released\": "
                             "\"2026-01-01T00:00:00Z\", \"Sha256\": \"" + std::string(64, 'f') +
                             "\", \"Summary\": \"\", \"Size\": 9, \"Index\": \"" + hash +
                             "\", \"Mirror\": \"http://x\", \"Parts\": 3}]";
    std::vector<BuildRecord> records = readBuildRecords(text);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].commit, L"abc1234");
    EXPECT_EQ(records[0].size, 9);
    EXPECT_EQ(records[0].index, toUtf16(hash));
    // Written back with its index; a record without one is written as before.
    EXPECT_NE(buildListJson(records).find("\"Index\": \"" + hash + "\""), std::string::npos);
    records[0].index.clear();
    EXPECT_EQ(buildListJson(records).find("Index"), std::string::npos);
    EXPECT_EQ(readBuildRecords(buildListJson(records)).at(0).index, L"");
}

}  // namespace
