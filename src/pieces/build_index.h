// The index of a published build: every file of the build's folder (the folder
// "Vorlane-<commit>" of its zip), each cut into pieces named by their SHA-256,
// so that an update fetches only the pieces the player's disk lacks. Published
// beside the build's zip under its own SHA-256, which the build's record in
// builds.json names as "Index". Read here for the launcher and written here for
// the publisher. An index comes from a build server and is read as hostile:
// every path must be a safe relative Windows path inside the build's folder,
// and every size is bounded, before anything is written.
//
//   {"Build": "<commit>", "Chunks": 1, "Files": [{"Path": "Vorlane.exe",
//    "Size": 123, "Sha256": "<64 hex>", "Chunks": ["<64 hex>:123"]}, ...],
//    "Folders": ["Content/Mods", ...], "Pack": {"Sha256": "<64 hex>", "Size": 456}}
//
// "Folders" names the folders of the build that hold nothing, so that a build
// put together from pieces has them as its zip does; an index without it (an
// older publisher's) has none, and a launcher that doesn't know it ignores it.
//
// "Pack" names one more object of the server, stored like the pieces under its
// SHA-256: every distinct piece of the index once, back to back, in the order
// the index first names them (the files in order, each file's pieces in
// order). A launcher fetches runs of pieces it lacks from it as ranges, many
// pieces a request; the pieces stay stored one by one as well, for launchers
// that don't know packs. A pack whose size isn't the distinct pieces' sum is
// left unused, and the pieces are fetched one by one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "pieces/piece_index.h"

namespace vorlane {

// What a build index may list, and how long its text may be. A big build (a
// 60 GB game of paks and loose files) is a few thousand files and under
// 400,000 pieces of 160 KiB on average; its index is some 30 MB of text. The
// launcher reads an index into memory whole, so these bound what one costs:
// its text, at most kMostBuildIndexBytes (the most any download into memory
// brings), and what it lists, about 100 MB at most.
constexpr size_t kMostBuildFiles = 50000;     // files and empty folders together
constexpr size_t kMostBuildPieces = 400000;   // every file's pieces, a piece listed twice counted twice: under 200 GB
constexpr long long kMostBuildIndexBytes = kLargestMemoryDownload;
// The most JSON values an index of those limits holds, with room to spare for
// members a launcher doesn't know; counted before anything is read.
constexpr size_t kMostBuildIndexValues = kMostBuildPieces + 16 * kMostBuildFiles + 64;
// The game's program, which every build has at the top of its folder.
inline constexpr wchar_t kGameProgram[] = L"Vorlane.exe";

// A path relative to the build's folder that Windows takes as written and that
// can't leave the folder: parts between "/" (or "\"), none empty; no ":" (so no
// drive letter or stream), no "..", no character Windows refuses in a name
// (<>"|?* and control characters); no part ending in "." or a blank, and no
// part named like a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, COM¹²³, LPT¹²³,
// with or without an extension, any case), and none of a short name's form (a
// "~" followed by a digit); at most 255 characters a part, 1024 in all.
bool isWindowsSafePath(const std::wstring& path);

// The pack of an index's pieces: its name on the server and its size; empty when there is none.
struct PiecePack {
    std::wstring sha256;
    uint64_t size = 0;
};

struct BuildIndex {
    std::wstring build;  // the commit
    std::vector<IndexFile> files;
    std::vector<std::wstring> folders;  // empty folders, "/" between parts
    PiecePack pack;
};

// The size a pack of the index's pieces has: every distinct piece once.
uint64_t packSize(const std::vector<IndexFile>& files);

// Why an index can't be used.
enum class BuildIndexVerdict {
    Good,
    Unreadable,     // not JSON, not an object, a text longer than 16 KiB, or a folder that isn't text
    TooLong,        // its text is over kMostBuildIndexBytes, or holds more values than kMostBuildIndexValues
    NotThisBuild,   // "Build" isn't the commit asked for
    UnknownScheme,  // "Chunks" isn't 1
    UnsafePath,     // a file's or folder's path fails isWindowsSafePath: badPath says which
    RepeatedPath,   // a path names a file listed before it (case and "/" vs "\" aside)
    FileAndFolder,  // a path names a file and, in another path, a folder
    BadFile,        // a file's fingerprint, pieces or size break the limits
    TooManyFiles,   // more than kMostBuildFiles files and empty folders
    TooManyPieces,  // more than kMostBuildPieces pieces
    NoGame,         // no Vorlane.exe at the top of the build's folder
};

struct BuildIndexCheck {
    BuildIndexVerdict verdict = BuildIndexVerdict::Good;
    std::wstring badPath;  // the "Path" of the first bad file, as it stands
};

// Reads an index's text into `index` and checks it for the build `commit`. The
// text is measured and its values counted first; then it is read in one pass,
// a file at a time, so no tree of the whole document is ever built.
BuildIndexCheck readBuildIndex(const std::string& text, const std::wstring& commit, BuildIndex& index);

// The same limits on an index made in memory (what the publisher is about to
// publish), its text's length and count of values included.
BuildIndexCheck checkBuildIndex(const BuildIndex& index);

// Why, as a lower-case fragment: "it lists a path that isn't safe on Windows (CON.txt)".
std::wstring buildIndexRefusal(const BuildIndexCheck& check);

// The first of the index's paths that the folder doesn't hold as a file of its
// own (two paths Windows takes for one file leave one file), else a file below
// the folder the index doesn't list; empty when it holds exactly the index's files.
std::wstring fileNotAsListed(const std::wstring& folder, const BuildIndex& index);

// The index's text: an object with "Build", "Chunks": 1, "Files" and, when
// there are any, "Folders" and "Pack".
std::string buildIndexJson(const BuildIndex& index);

}  // namespace vorlane
