// Content-defined pieces: a file is cut where a rolling value over its last
// bytes falls below a threshold, so that an edit in one place changes only the
// pieces around it and every other piece keeps its SHA-256. The launcher cuts
// local files with this rule to find pieces it already has; the publisher cuts
// a theme's files with the same code, so both sides name the same pieces.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/sha256.h"

namespace vorlane {

// The one cutting scheme there is ("Chunks": 1 in a theme index).
constexpr unsigned kPieceScheme = 1;
// A piece ends once it is at least this long and the rolling value is below kCutBelow...
constexpr uint32_t kShortestCut = 32768;
constexpr uint64_t kCutBelow = 0x800000000000ull;  // 2^47
// ...or when it reaches this length.
constexpr uint32_t kLongestPiece = 524288;

// 256 values, from SplitMix64 seeded with "VorlaneG" read as a big-endian number.
const std::array<uint64_t, 256>& gearTable();

// Where one piece lies in its file, and its SHA-256.
struct Piece {
    uint64_t offset = 0;
    uint32_t size = 0;
    Sha256Digest digest{};
};

using PieceSink = std::function<void(const Piece& piece)>;

// Finds where pieces end in a stream of bytes that arrives in blocks of any size.
class PieceEnds {
public:
    PieceEnds();
    // Looks through data for the end of the current piece. True when it ends there, after the first `used` bytes
    // (a new piece then starts); false when all `size` bytes belong to it (`used` is size).
    bool find(const unsigned char* data, size_t size, size_t& used);

private:
    const std::array<uint64_t, 256>& gear_;
    uint32_t length_ = 0;   // bytes in the current piece so far
    uint64_t rolling_ = 0;  // the running value h
};

// Cuts a stream of bytes that arrives in blocks of any size; each piece is
// handed on as soon as its last byte is in, already hashed.
class PieceCutter {
public:
    explicit PieceCutter(PieceSink onPiece);
    // False once the hashing service failed; nothing more is cut then.
    bool add(const unsigned char* data, size_t size);
    // Hands on what remains as the last piece (nothing when it is empty).
    bool finish();

private:
    bool endPiece();

    PieceSink onPiece_;
    PieceEnds ends_;
    std::optional<Sha256Hasher> hasher_{std::in_place};  // the current piece's
    uint64_t offset_ = 0;  // where the current piece starts
    uint32_t length_ = 0;  // bytes in the current piece so far
    bool failed_ = false;
};

// Told the size of each block read; answers whether to carry on.
using BlockGoing = std::function<bool(size_t size)>;

// Cuts a file read in 4 MiB blocks (shared reading, sequential scan) and calls
// onPiece for every piece in order, on the calling thread; with more than one
// processor the pieces are hashed on helper threads meanwhile. False when the
// file can't be opened or read, the hashing service fails or `going` answers
// false after a block; the pieces before that have been handed on by then.
bool cutPieces(const std::wstring& file, const PieceSink& onPiece, const BlockGoing& going = nullptr);

// Reads `size` bytes at `offset` of a file (shared reading); fewer when the
// file is shorter, none when it can't be opened.
std::string readRange(const std::wstring& file, uint64_t offset, uint32_t size);

}  // namespace vorlane
