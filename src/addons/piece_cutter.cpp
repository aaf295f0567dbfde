#include "addons/piece_cutter.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/files.h"
#include "core/handles.h"

namespace vorlane {

namespace {

constexpr DWORD kReadBlock = 4u << 20;

// The running value is doubled at every byte, so after 64 bytes the earlier
// ones have been shifted out of it: it only ever depends on the last 64 bytes.
// Rolling can therefore start this many bytes into a piece, where no cut can
// fall yet, and give exactly the value a roll from the first byte gives.
constexpr uint32_t kRollFrom = kShortestCut - 64;

uint64_t splitMix64(uint64_t state) {
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::array<uint64_t, 256> makeGearTable() {
    std::array<uint64_t, 256> table{};
    uint64_t state = 0;
    for (unsigned char c : {'V', 'o', 'r', 'l', 'a', 'n', 'e', 'G'}) state = (state << 8) | c;
    for (uint64_t& value : table) {
        state += 0x9E3779B97F4A7C15ull;
        value = splitMix64(state);
    }
    return table;
}

}  // namespace

const std::array<uint64_t, 256>& gearTable() {
    static const std::array<uint64_t, 256> table = makeGearTable();
    return table;
}

PieceCutter::PieceCutter(PieceSink onPiece) : onPiece_(std::move(onPiece)), gear_(gearTable()) {}

bool PieceCutter::add(const unsigned char* data, size_t size) {
    if (failed_) return false;
    size_t unhashed = 0;  // the start of the bytes of this block not yet given to the hasher
    size_t i = 0;
    while (i < size) {
        if (length_ < kRollFrom) {
            const size_t skip = std::min<size_t>(size - i, kRollFrom - length_);
            i += skip;
            length_ += (uint32_t)skip;
            continue;
        }
        rolling_ = (rolling_ << 1) + gear_[data[i]];
        ++i;
        ++length_;
        if ((length_ >= kShortestCut && rolling_ < kCutBelow) || length_ == kLongestPiece) {
            if (!hasher_->add(data + unhashed, i - unhashed) || !endPiece()) {
                failed_ = true;
                return false;
            }
            unhashed = i;
        }
    }
    if (!hasher_->add(data + unhashed, size - unhashed)) failed_ = true;
    return !failed_;
}

bool PieceCutter::finish() {
    if (failed_) return false;
    if (length_ > 0 && !endPiece()) failed_ = true;
    return !failed_;
}

bool PieceCutter::endPiece() {
    Piece piece;
    piece.offset = offset_;
    piece.size = length_;
    if (!hasher_->finish(piece.digest)) return false;
    // A hash object goes before the provider it came from, so the spent hasher
    // is destroyed whole before the next one is made.
    hasher_.reset();
    hasher_.emplace();
    offset_ += length_;
    length_ = 0;
    rolling_ = 0;
    onPiece_(piece);
    return true;
}

bool cutPieces(const std::wstring& file, const PieceSink& onPiece) {
    PieceCutter cutter(onPiece);
    return readFileInBlocks(file, kReadBlock,
                            [&](const unsigned char* block, size_t size) { return cutter.add(block, size); }) &&
           cutter.finish();
}

std::string readRange(const std::wstring& file, uint64_t offset, uint32_t size) {
    std::string bytes;
    FileHandle handle(CreateFileW(longPath(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    if (!handle || !SetFilePointerEx(handle.get(), position, nullptr, FILE_BEGIN)) return bytes;
    bytes.resize(size);
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(handle.get(), bytes.data() + done, (DWORD)(size - done), &got, nullptr) || got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace vorlane
