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
        [&](const Piece& piece) { pieces_.try_emplace(piece.digest, Location{file, piece.size, piece.offset}); },
        going);
}

void PieceStore::addPiece(const std::wstring& path, uint64_t offset, uint32_t size, const Sha256Digest& hash) {
    if (files_.empty() || files_.back() != path) files_.push_back(path);
    pieces_.try_emplace(hash, Location{(uint32_t)files_.size() - 1, size, offset});
}

bool PieceStore::has(const Sha256Digest& hash, uint32_t size) const {
    auto found = pieces_.find(hash);
    return found != pieces_.end() && found->second.size == size;
}

bool PieceStore::take(const Sha256Digest& hash, uint32_t size, std::string& bytes) const {
    auto found = pieces_.find(hash);
    if (found == pieces_.end() || found->second.size != size) return false;
    bytes = readRange(files_[found->second.file], found->second.offset, size);
    Sha256Digest digest;
    return bytes.size() == size && sha256(bytes, digest) && digest == hash;
}

}  // namespace vorlane
