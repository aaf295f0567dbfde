#include "pieces/piece_store.h"

#include "pieces/piece_cutter.h"
#include "core/files_below.h"
#include "core/text.h"
#include "net/sha256.h"

namespace vorlane {

void PieceStore::addFolder(const std::wstring& folder) {
    for (const std::wstring& file : filesBelow(folder)) addFile(joinPath(folder, file));
}

bool PieceStore::addFolder(const std::wstring& folder, const std::function<bool(const std::wstring&)>& leaveOut,
                           const std::function<bool(uint64_t)>& going) {
    uint64_t cut = 0;
    bool stop = false;
    const BlockGoing counted = [&](size_t size) { return !(stop = !going(cut += size)); };
    for (const std::wstring& file : filesBelow(folder)) {
        if (leaveOut(file)) continue;
        addFile(joinPath(folder, file), counted);
        if (stop) return false;
    }
    return true;
}

void PieceStore::addFile(const std::wstring& path) { addFile(path, nullptr); }

void PieceStore::addFile(const std::wstring& path, const BlockGoing& going) {
    const uint32_t file = (uint32_t)files_.size();
    files_.push_back(path);
    // A file that can't be read whole still lends the pieces cut before the failure.
    cutPieces(
        path,
        [&](const Piece& piece) { add(piece.digest, false, file, piece.size, piece.offset); },
        going);
}

uint32_t PieceStore::fileNumber(const std::wstring& path) {
    if (files_.empty() || files_.back() != path) files_.push_back(path);
    return (uint32_t)files_.size() - 1;
}

void PieceStore::addPiece(const std::wstring& path, uint64_t offset, uint32_t size, const Sha256Digest& hash) {
    add(hash, false, fileNumber(path), size, offset);
}

void PieceStore::addListed(const std::wstring& path, const IndexFile& file) {
    const uint32_t number = fileNumber(path);
    uint64_t offset = 0;
    for (const IndexPiece& piece : file.pieces) {
        add(piece.hash, true, number, piece.size, offset);
        offset += piece.size;
    }
}

void PieceStore::reserve(size_t more) {
    pieces_.reserve(pieces_.size() + more);
    byHash_.grow(pieces_.capacity(), hashAt());
}

void PieceStore::add(const Sha256Digest& hash, bool keepsItsHash, uint32_t file, uint32_t size, uint64_t offset) {
    if (pieces_.size() == pieces_.capacity()) reserve(std::max<size_t>(pieces_.size(), 1024));
    uint32_t& number = byHash_.find(hash, hashAt());
    if (number != DigestSlots::kEmpty) return;
    number = (uint32_t)pieces_.size();
    pieces_.push_back(Location{keepsItsHash ? &hash : &owned_.emplace_back(hash), file, size, offset});
}

const PieceStore::Location* PieceStore::find(const Sha256Digest& hash) const {
    const uint32_t number = byHash_.find(hash, hashAt());
    return number == DigestSlots::kEmpty ? nullptr : &pieces_[number];
}

bool PieceStore::has(const Sha256Digest& hash, uint32_t size) const {
    const Location* found = find(hash);
    return found && found->size == size;
}

bool PieceStore::take(const Sha256Digest& hash, uint32_t size, std::string& bytes) const {
    const Location* found = find(hash);
    if (!found || found->size != size) return false;
    bytes = readRange(files_[found->file], found->offset, size);
    Sha256Digest digest;
    return bytes.size() == size && sha256(bytes, digest) && digest == hash;
}

}  // namespace vorlane
