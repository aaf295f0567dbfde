// The one engine that writes files from an index of pieces, for game builds
// and add-on themes alike. Each file is written in place at its full size;
// every piece goes straight to each offset where the index puts it, taken from
// the player's disk (a whole earlier copy of the file, or pieces found in other
// files) or fetched, and it is hashed once, as it is read or as it arrives.
//
// Fetching: several requests at once over one kept-alive session, spread over
// every server given; a run of missing pieces that lie next to each other in
// the index's pack is one range request, and without a pack each piece is a
// request of its own. A server that fails a request (no answer, an error, a
// piece that doesn't match its hash) is asked once more, then left for the
// rest of the run; what a broken request brought before it broke is kept.
//
// A record of what is done (a line for every piece written: its SHA-256,
// size, offset and file, the file's path relative to the record's folder) lets
// a run that was cut short carry on: the next run hashes what the record names
// again, where it lies, and only what checks out counts as done.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/job.h"
#include "pieces/build_index.h"
#include "pieces/piece_index.h"
#include "pieces/piece_store.h"

namespace vorlane {

// Most requests for pieces at the same time.
constexpr unsigned kPiecesInFlight = 4;
// A range request asks for at most this many bytes of a pack.
constexpr uint64_t kMostRangeBytes = 8ull << 20;

// Where pieces come from on the network.
struct PieceServers {
    std::vector<std::wstring> servers;  // the first is asked first; all are used at once
    std::wstring label;                 // names a server in a download's sentence ("The build server")
    std::function<std::wstring(const std::wstring& hash)> objectName;  // a piece's path below a server
    PiecePack pack;                             // none: each piece is fetched on its own
    const std::vector<IndexFile>* packed = nullptr;  // the files whose pieces the pack holds, in order
    // The most bytes a second that all requests together may bring, asked
    // again and again (it may change while a run goes on); 0 or none: no cap.
    std::function<double()> mostBytesPerSecond;
};

// Holds the bytes of many threads to one rate together: each block waits its
// turn, which comes once the blocks before it have had their time at the
// rate. A rate of 0 lets everything through at once.
class RateCap {
public:
    // Waits, in short steps that see `going` answer false, until `bytes` may pass.
    void pass(size_t bytes, double bytesPerSecond, const std::function<bool()>& going);

private:
    std::mutex lock_;
    double due_ = 0;  // the tick (ms) when the blocks let through so far have had their time
};

// A file to write: what the index says of it and where it goes.
struct PieceTarget {
    const IndexFile* file = nullptr;
    std::wstring path;
};

// How far a run is, in bytes.
struct PieceCounts {
    uint64_t total = 0;     // every target's size
    uint64_t done = 0;      // written so far, from any source
    uint64_t fromDisk = 0;  // of done: taken from the player's disk (and checked)
    uint64_t fetched = 0;   // of done: fetched in this run (a piece written at two places counts twice)
    uint64_t received = 0;  // bytes of pieces that came from the servers, each piece once
    uint64_t toFetch = 0;   // what the plan leaves to fetch
    uint64_t toCheck = 0;   // what the run hashes whole after writing (every target's size, when it does)
    uint64_t checked = 0;   // of toCheck: hashed whole, or known whole without hashing again
};

// How much of a run's work is done, 0 to 1, each byte weighed by how long it
// takes: a byte from the servers as 1, a byte copied from the disk or hashed
// again there as a tenth. So the bar moves evenly whether the build comes
// mostly from the network or mostly from the player's disk.
double shareDone(const PieceCounts& counts);

// Why a run ended without every file written.
enum class PieceFailure {
    None,
    Stopped,   // the job was asked to stop
    Fetching,  // no server gave a piece (error holds the last server's sentence)
    Mismatch,  // every server that sent a piece sent other bytes
    Creating,  // a file or its folder couldn't be made
    Writing,   // a file couldn't be written (is the disk full?)
    NotAsPublished,  // a file's pieces came, but the whole file isn't the SHA-256 its index gives
};

struct PieceRunResult {
    PieceFailure failure = PieceFailure::None;
    const IndexFile* file = nullptr;  // the file the failure came to light in
    std::wstring error;               // a sentence or fragment saying why
    std::vector<bool> written;        // by target: whole
};

class PieceEngine {
public:
    PieceEngine(PieceServers servers, const JobControl& job);
    ~PieceEngine();
    PieceEngine(const PieceEngine&) = delete;
    PieceEngine& operator=(const PieceEngine&) = delete;

    // The pieces the disk already has: add them before plan().
    PieceStore& store() { return store_; }
    // A file on disk that an index says is the file of this SHA-256 and size;
    // it is copied whole (checked as it is copied) to a target with the same.
    void addWholeFile(const std::wstring& sha256, uint64_t size, const std::wstring& path);
    // The files of a folder as their index describes them: whole files and
    // pieces. The index must outlive the engine (its hashes aren't copied).
    void addIndexed(const std::wstring& folder, const std::vector<const IndexFile*>& files);

    // The pieces a record of an earlier run names, where it says they lie
    // (each is checked when it is used).
    void addRecorded(const std::wstring& record);

    // Decides where each piece of the targets comes from. With a record, what
    // it names is checked where it lies in the targets and counts as done;
    // without one (empty) every target is written anew.
    void plan(std::vector<PieceTarget> targets, const std::wstring& record);
    const PieceCounts& counts() const { return counts_; }

    // Writes every target. keepGoing: a file whose pieces can't be had doesn't
    // end the run for the others (written says which came out whole). With
    // checkWhole, every file written from pieces is hashed whole once more
    // (an earlier copy is hashed as it is copied). onProgress is called from
    // the engine's threads, one at a time, at most ten times a second.
    PieceRunResult run(const std::function<void(const PieceCounts&)>& onProgress, bool keepGoing = false,
                       bool checkWhole = false);

private:
    struct Work;

    PieceServers servers_;
    JobControl job_;
    PieceStore store_;
    std::unordered_map<std::wstring, std::pair<std::wstring, uint64_t>> wholeFiles_;  // by SHA-256: path, size
    std::unique_ptr<Work> work_;
    PieceCounts counts_;
};

// Files read or written at the same time: one per processor, at most kPiecesInFlight.
size_t filesAtOnce(size_t files);

// "\" between the parts of an index's path.
std::wstring windowsPath(std::wstring path);

}  // namespace vorlane
