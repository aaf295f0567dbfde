// The pieces an update can take from the player's own disk instead of the
// build server: every file of the given folders cut by the piece rule, or
// pieces whose place is already known, each remembered by its SHA-256 with
// where it lies.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/sha256.h"

namespace vorlane {

class PieceStore {
public:
    // Cuts every file below the folder (a missing folder adds nothing; linked
    // folders aren't followed). Where a piece turns up twice, the first place is kept.
    void addFolder(const std::wstring& folder);
    // The same, but for the files `leaveOut` names (by their path below the
    // folder, parts joined with "\"); `going` is told the bytes cut so far
    // after every block read, and the cutting ends, false, as soon as it
    // answers false.
    bool addFolder(const std::wstring& folder, const std::function<bool(const std::wstring&)>& leaveOut,
                   const std::function<bool(uint64_t cut)>& going);
    void addFile(const std::wstring& path);
    // A piece said to lie in a file at offset (a file of fetched pieces, a file
    // an index describes); take() checks its bytes when they are used.
    void addPiece(const std::wstring& path, uint64_t offset, uint32_t size, const Sha256Digest& hash);
    bool has(const Sha256Digest& hash, uint32_t size) const;

    size_t size() const { return pieces_.size(); }

    // The piece's bytes read from where it was found, when a piece with that
    // hash and size was found and its bytes there still have that SHA-256;
    // false otherwise (the file changed or went meanwhile).
    bool take(const Sha256Digest& hash, uint32_t size, std::string& bytes) const;

private:
    void addFile(const std::wstring& path, const std::function<bool(size_t)>& going);

    struct Location {
        uint32_t file;  // index into files_
        uint32_t size;
        uint64_t offset;
    };
    std::vector<std::wstring> files_;
    std::unordered_map<Sha256Digest, Location, DigestKey> pieces_;  // by SHA-256
};

}  // namespace vorlane
