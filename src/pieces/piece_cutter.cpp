#include "pieces/piece_cutter.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
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

PieceEnds::PieceEnds() : gear_(gearTable()) {}

bool PieceEnds::find(const unsigned char* data, size_t size, size_t& used) {
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
            length_ = 0;
            rolling_ = 0;
            used = i;
            return true;
        }
    }
    used = size;
    return false;
}

PieceCutter::PieceCutter(PieceSink onPiece) : onPiece_(std::move(onPiece)) {}

bool PieceCutter::add(const unsigned char* data, size_t size) {
    while (!failed_ && size > 0) {
        size_t used = 0;
        const bool ends = ends_.find(data, size, used);
        length_ += (uint32_t)used;
        if (!hasher_->add(data, used) || (ends && !endPiece())) failed_ = true;
        data += used;
        size -= used;
    }
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
    onPiece_(piece);
    return true;
}

namespace {

// Hashes whole pieces on helper threads, one piece at a time each, and hands them on in order on the thread that
// gave them. At most kMostInHand pieces (4 MiB) wait or are being hashed at once.
class PieceHashers {
public:
    explicit PieceHashers(const PieceSink& onPiece) : onPiece_(onPiece) {
        const unsigned threads = std::min(std::thread::hardware_concurrency(), 4u);
        try {
            for (unsigned i = 0; threads > 1 && i < threads; ++i) workers_.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
        }
    }
    ~PieceHashers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        ready_.notify_all();
        for (std::thread& worker : workers_) worker.join();  // each after the piece in its hands
    }

    // None with one processor, or when no thread could be started.
    bool started() const { return !workers_.empty(); }

    // False once a piece before it couldn't be hashed.
    bool add(uint64_t offset, std::string bytes) {
        if (!handOn(kMostInHand - 1)) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            waiting_.push_back(&inHand_.emplace_back(Job{offset, std::move(bytes)}));
        }
        ready_.notify_one();
        return true;
    }
    // Hands on every piece left; false when one couldn't be hashed.
    bool finish() { return handOn(0); }

    // An empty buffer for the next piece: one a piece handed on has left, so the same few are used throughout.
    std::string emptyBuffer() {
        std::string buffer;
        if (!spare_.empty()) {
            buffer = std::move(spare_.back());
            spare_.pop_back();
        }
        buffer.clear();
        buffer.reserve(kLongestPiece);
        return buffer;
    }

private:
    static constexpr size_t kMostInHand = 8;

    struct Job {
        uint64_t offset = 0;
        std::string bytes;
        Sha256Digest digest{};
        bool ok = false;
        bool hashed = false;  // set under the lock, after digest and ok
    };

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return !waiting_.empty() || closing_; });
            if (closing_) return;
            Job* job = waiting_.front();
            waiting_.pop_front();
            lock.unlock();
            const bool ok = sha256(job->bytes, job->digest);
            lock.lock();
            job->ok = ok;
            job->hashed = true;
            hashed_.notify_all();
        }
    }

    // Hands on the hashed pieces at the front, in order, waiting for more while over `keep` are in hand.
    bool handOn(size_t keep) {
        while (!failed_) {
            std::unique_lock<std::mutex> lock(mutex_);
            hashed_.wait(lock, [&] { return inHand_.size() <= keep || inHand_.front().hashed; });
            if (inHand_.empty() || !inHand_.front().hashed) return true;
            Job job = std::move(inHand_.front());
            inHand_.pop_front();
            lock.unlock();
            // Nothing after a piece that couldn't be hashed is handed on.
            failed_ = !job.ok;
            if (failed_) break;
            Piece piece;
            piece.offset = job.offset;
            piece.size = (uint32_t)job.bytes.size();
            piece.digest = job.digest;
            onPiece_(piece);
            spare_.push_back(std::move(job.bytes));
        }
        return false;
    }

    const PieceSink& onPiece_;
    std::mutex mutex_;
    std::condition_variable ready_, hashed_;
    std::deque<Job> inHand_;     // in the file's order; elements stay where they are as others come and go
    std::deque<Job*> waiting_;   // for a helper thread
    bool closing_ = false;
    bool failed_ = false;              // the giving thread's alone, as is spare_
    std::vector<std::string> spare_;
    std::vector<std::thread> workers_;  // last: started once everything above is set
};

}  // namespace

bool cutPieces(const std::wstring& file, const PieceSink& onPiece, const BlockGoing& going) {
    PieceHashers hashers(onPiece);
    if (!hashers.started()) {
        // One thread: each piece is hashed as its bytes are read.
        PieceCutter cutter(onPiece);
        return readFileInBlocks(file, kReadBlock,
                                [&](const unsigned char* block, size_t size) {
                                    return cutter.add(block, size) && (!going || going(size));
                                }) &&
               cutter.finish();
    }
    PieceEnds ends;
    uint64_t offset = 0;
    std::string piece = hashers.emptyBuffer();
    const bool read = readFileInBlocks(file, kReadBlock, [&](const unsigned char* block, size_t size) {
        const size_t blockSize = size;
        while (size > 0) {
            size_t used = 0;
            const bool ended = ends.find(block, size, used);
            piece.append(reinterpret_cast<const char*>(block), used);
            block += used;
            size -= used;
            if (!ended) continue;
            const uint64_t start = offset;
            offset += piece.size();
            if (!hashers.add(start, std::exchange(piece, hashers.emptyBuffer()))) return false;
        }
        return !going || going(blockSize);
    });
    // What was read before a failure is still handed on, up to the last whole piece.
    if (read && !piece.empty() && !hashers.add(offset, std::move(piece))) return false;
    return hashers.finish() && read;
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
