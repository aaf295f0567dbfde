// What an index of pieces says about its files, shared by the add-on theme
// index and the build index: each file with its path ("/" between parts), its
// size, its SHA-256 and its pieces in order, each piece named by its SHA-256
// and stored on the server under that name. An index comes from a build server
// and is read as hostile: the checks here bound every size before anything is
// written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/json.h"
#include "net/sha256.h"

namespace vorlane {

// A piece held as its 32 bytes of SHA-256 (an index of a million pieces is
// some 36 MB in memory), written as 64 lower-case hex digits in an index's
// text and in the piece's name on the server.
struct IndexPiece {
    Sha256Digest hash{};
    uint32_t size = 0;
};

struct IndexFile {
    std::wstring path;  // "/" between parts
    uint64_t size = 0;
    std::wstring sha256;
    std::vector<IndexPiece> pieces;
};

// 64 lower-case hexadecimal digits.
bool isSha256Hex(const std::wstring& text);

// Two paths name the same file when they are equal ignoring case, "/" and "\" alike.
std::wstring samePathKey(const std::wstring& path);

// "Chunks" of an index: a number that reads exactly the one cutting scheme there is.
bool isKnownScheme(const JsonValue& chunks);

// One element of "Files" as it stands; false when a member has the wrong form.
bool readIndexFile(const JsonValue& value, IndexFile& file);

// A file's fingerprint and pieces keep the limits: a 64-digit fingerprint, each
// piece 1 to 524288 bytes, the pieces adding up to the file's size. (A piece
// whose hash isn't 64 lower-case hex digits is read as one of 0 bytes.)
bool piecesAddUp(const IndexFile& file);

// The elements of "Files", one file per line after `indent`, for an index's text.
std::string indexFilesJson(const std::vector<IndexFile>& files, const std::string& indent);

}  // namespace vorlane
