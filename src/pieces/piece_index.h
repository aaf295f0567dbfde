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

namespace vorlane {

struct IndexPiece {
    std::wstring hash;  // SHA-256, 64 lower-case hex digits
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

// A file's fingerprint and pieces keep the limits: 64-digit hashes, each piece
// 1 to 524288 bytes, the pieces adding up to the file's size.
bool piecesAddUp(const IndexFile& file);

// The elements of "Files", one file per line after `indent`, for an index's text.
std::string indexFilesJson(const std::vector<IndexFile>& files, const std::string& indent);

}  // namespace vorlane
