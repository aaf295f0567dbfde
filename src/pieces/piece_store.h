// The pieces an update can take from the player's own disk instead of the
// build server: every file of the given folders cut by the piece rule, or
// pieces whose place is already known, each remembered by its SHA-256 with
// where it lies.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "net/sha256.h"
#include "pieces/digest_slots.h"
#include "pieces/piece_index.h"

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
    // A piece said to lie in a file at offset (a file of pieces a record
    // names); take() checks its bytes when they are used.
    void addPiece(const std::wstring& path, uint64_t offset, uint32_t size, const Sha256Digest& hash);
    // The pieces of a file an index describes, at the file's path, each said
    // to lie where the index puts it. The store keeps pointers to the index's
    // hashes rather than copies (a million pieces cost 24 MB, not 48): the
    // index must outlive the store.
    void addListed(const std::wstring& path, const IndexFile& file);
    bool has(const Sha256Digest& hash, uint32_t size) const;
    // Room for `more` pieces without growing (before a million pieces of an index are added).
    void reserve(size_t more);

    size_t size() const { return pieces_.size(); }

    // The piece's bytes read from where it was found, when a piece with that
    // hash and size was found and its bytes there still have that SHA-256;
    // false otherwise (the file changed or went meanwhile).
    bool take(const Sha256Digest& hash, uint32_t size, std::string& bytes) const;

private:
    void addFile(const std::wstring& path, const std::function<bool(size_t)>& going);

    struct Location {
        const Sha256Digest* hash;  // an index's, or one of owned_
        uint32_t file;  // index into files_
        uint32_t size;
        uint64_t offset;
    };
    // Where the piece with that hash was found first; nullptr when it wasn't.
    const Location* find(const Sha256Digest& hash) const;
    // Adds the piece unless one with its hash is there. `hash` is kept as it is when it lives as long as the store
    // (an index's), else copied into owned_ once the piece is added.
    void add(const Sha256Digest& hash, bool keepsItsHash, uint32_t file, uint32_t size, uint64_t offset);
    // The hash of the piece numbered so in pieces_, for byHash_.
    struct HashAt {
        const std::vector<Location>* pieces;
        const Sha256Digest& operator()(uint32_t number) const { return *(*pieces)[number].hash; }
    };
    HashAt hashAt() const { return HashAt{&pieces_}; }
    uint32_t fileNumber(const std::wstring& path);

    std::vector<std::wstring> files_;
    std::deque<Sha256Digest> owned_;  // the hashes of pieces cut or recorded
    std::vector<Location> pieces_;
    DigestSlots byHash_;  // numbers into pieces_
};

}  // namespace vorlane
