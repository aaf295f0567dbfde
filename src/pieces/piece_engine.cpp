#include "pieces/piece_engine.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "core/crash_points.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/job_runner.h"
#include "core/text.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"
#include "pieces/digest_slots.h"
#include "pieces/piece_cutter.h"

namespace vorlane {

namespace {

bool hashIs(const char* data, size_t size, const Sha256Digest& expected) {
    Sha256Hasher hasher;
    Sha256Digest digest;
    return hasher.add(data, size) && hasher.finish(digest) && digest == expected;
}

bool writeAt(HANDLE file, uint64_t offset, const char* data, size_t size) {
    OVERLAPPED at{};
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    DWORD written = 0;
    return WriteFile(file, data, (DWORD)size, &written, &at) && written == size;
}

// Opens a target for writing at any offset; the engine's other threads may write other pieces of it meanwhile.
FileHandle openTarget(const std::wstring& path, bool keep) {
    return FileHandle(CreateFileW(longPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  keep ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool setSize(HANDLE file, uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = (LONGLONG)size;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Files are written this many at a time: filesAtOnce, and one more for the small ones.
size_t threadsFor(size_t files) { return filesAtOnce(files) + 1; }

// Each line of a record of pieces written: its hash, size, offset and path; lines that don't read are passed over.
void readRecord(const std::wstring& record,
                const std::function<void(const Sha256Digest&, uint32_t, uint64_t, const std::wstring&)>& onPiece) {
    std::string text;
    if (!readWholeFile(record, text)) return;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.find(' ', b + 1);
        long long size = 0, offset = 0;
        if (c == std::string::npos || !parseSigned64(toUtf16(line.substr(a + 1, b - a - 1)), size) ||
            !parseSigned64(toUtf16(line.substr(b + 1, c - b - 1)), offset) || size < 1 || size > kLongestPiece ||
            offset < 0)
            continue;
        Sha256Digest hash;
        if (fromHex(toUtf16(line.substr(0, a)), hash))
            onPiece(hash, (uint32_t)size, (uint64_t)offset, toUtf16(line.substr(c + 1)));
    }
}

}  // namespace

size_t filesAtOnce(size_t files) {
    const size_t processors = std::max(1u, std::thread::hardware_concurrency());
    return std::min({processors, (size_t)kPiecesInFlight, std::max<size_t>(files, 1)});
}

std::wstring windowsPath(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Everything a run works on, made by plan().
struct PieceEngine::Work {
    static constexpr uint32_t kNoPlace = UINT32_MAX;
    struct Place {
        uint32_t target;
        uint32_t piece;
        uint64_t offset;
        bool done = false;
        uint32_t nextOfPiece = kNoPlace;  // the piece's next place
    };
    struct Distinct {
        const IndexPiece* piece;
        uint64_t packOffset = UINT64_MAX;
        std::atomic<uint32_t> left{0};  // places not yet written
        uint32_t firstPlace = kNoPlace;
    };
    // Calls `each` with every place of the piece, in the order of the targets.
    template <typename Each>
    void forPlaces(const Distinct& piece, Each each) {
        for (uint32_t place = piece.firstPlace; place != kNoPlace; place = places[place].nextOfPiece) each(place);
    }
    std::vector<PieceTarget> targets;
    std::vector<std::vector<uint32_t>> placesOf;  // by target, in order
    std::vector<bool> kept;                       // by target: carried on from a run cut short
    std::vector<Place> places;
    std::deque<Distinct> pieces;
    std::wstring record, recordFolder;
    std::mutex recording;
    FileHandle recordFile;

    std::mutex reporting;  // holds counts and lastReport
    ULONGLONG lastReport = 0;

    // By target: places not yet written; and, while the servers are asked, who is told of a target written whole.
    std::unique_ptr<std::atomic<uint32_t>[]> placesLeft;
    std::function<void(uint32_t target)> onWhole;

    // Notes a piece written at one more place, in the record too: "<hash> <size> <offset> <path>", the path
    // relative to the record's folder.
    void placed(uint32_t place) {
        places[place].done = true;
        --pieces[places[place].piece].left;
        note(place);
        if (--placesLeft[places[place].target] == 0 && onWhole) onWhole(places[place].target);
    }
    void note(uint32_t place) {
        if (!recordFile) return;
        const Distinct& piece = pieces[places[place].piece];
        const std::string line = toUtf8(toHex(piece.piece->hash)) + " " + std::to_string(piece.piece->size) + " " +
                                 std::to_string(places[place].offset) + " " +
                                 toUtf8(targets[places[place].target].path.substr(recordFolder.size() + 1)) + "\n";
        std::lock_guard<std::mutex> lock(recording);
        DWORD written = 0;
        WriteFile(recordFile.get(), line.data(), (DWORD)line.size(), &written, nullptr);
    }
};

PieceEngine::PieceEngine(PieceServers servers, const JobControl& job)
    : servers_(std::move(servers)), job_(job), work_(std::make_unique<Work>()) {}

PieceEngine::~PieceEngine() = default;

void PieceEngine::addWholeFile(const std::wstring& sha256, uint64_t size, const std::wstring& path) {
    wholeFiles_.try_emplace(sha256, path, size);
}

void PieceEngine::addIndexed(const std::wstring& folder, const std::vector<const IndexFile*>& files) {
    size_t pieces = 0;
    for (const IndexFile* file : files) pieces += file->pieces.size();
    store_.reserve(pieces);
    for (const IndexFile* file : files) {
        const std::wstring path = joinPath(folder, windowsPath(file->path));
        addWholeFile(file->sha256, file->size, path);
        store_.addListed(path, *file);
    }
}

void PieceEngine::addRecorded(const std::wstring& record) {
    const std::wstring folder = parentFolder(record);
    readRecord(record, [&](const Sha256Digest& hash, uint32_t size, uint64_t offset, const std::wstring& path) {
        if (isWindowsSafePath(path)) store_.addPiece(joinPath(folder, path), offset, size, hash);
    });
}

void PieceEngine::plan(std::vector<PieceTarget> targets, const std::wstring& record) {
    Work& work = *work_;
    work.targets = std::move(targets);
    work.record = record;
    work.placesOf.assign(work.targets.size(), {});
    work.kept.assign(work.targets.size(), false);
    counts_ = PieceCounts{};
    size_t placeCount = 0;
    for (const PieceTarget& target : work.targets) placeCount += target.file->pieces.size();
    work.places.reserve(placeCount);
    const auto hashOfDistinct = [&](uint32_t number) -> const Sha256Digest& { return work.pieces[number].piece->hash; };
    DigestSlots byHash(placeCount);
    for (uint32_t t = 0; t < work.targets.size(); ++t) {
        const IndexFile& file = *work.targets[t].file;
        counts_.total += file.size;
        uint64_t offset = 0;
        work.placesOf[t].reserve(file.pieces.size());
        for (const IndexPiece& piece : file.pieces) {
            uint32_t& number = byHash.find(piece.hash, hashOfDistinct);
            if (number == DigestSlots::kEmpty) {
                number = (uint32_t)work.pieces.size();
                work.pieces.emplace_back().piece = &piece;
            }
            const uint32_t place = (uint32_t)work.places.size();
            Work::Distinct& distinct = work.pieces[number];
            ++distinct.left;
            work.placesOf[t].push_back(place);
            work.places.push_back(Work::Place{t, number, offset, false, distinct.firstPlace});
            distinct.firstPlace = place;  // put first for now, and turned round below
            offset += piece.size;
        }
    }
    for (Work::Distinct& distinct : work.pieces) {
        uint32_t reversed = Work::kNoPlace;
        for (uint32_t place = distinct.firstPlace; place != Work::kNoPlace;)
            place = std::exchange(work.places[place].nextOfPiece, std::exchange(reversed, place));
        distinct.firstPlace = reversed;
    }
    if (servers_.packed && !servers_.pack.sha256.empty()) {
        uint64_t offset = 0;
        std::vector<const Sha256Digest*> packed;  // each distinct piece of the pack once
        size_t packedCount = 0;
        for (const IndexFile& file : *servers_.packed) packedCount += file.pieces.size();
        DigestSlots seen(packedCount);
        for (const IndexFile& file : *servers_.packed)
            for (const IndexPiece& piece : file.pieces) {
                uint32_t& slot = seen.find(piece.hash, [&](uint32_t n) -> const Sha256Digest& { return *packed[n]; });
                if (slot != DigestSlots::kEmpty) continue;
                slot = (uint32_t)packed.size();
                packed.push_back(&piece.hash);
                const uint32_t number = byHash.find(piece.hash, hashOfDistinct);
                if (number != DigestSlots::kEmpty) work.pieces[number].packOffset = offset;
                offset += piece.size;
            }
    }

    // What the record of a run cut short names counts once it checks out where it lies.
    work.recordFolder = parentFolder(record);
    if (!record.empty()) {
        std::unordered_map<std::wstring, uint32_t> targetOf;  // by path below the record's folder
        for (uint32_t t = 0; t < work.targets.size(); ++t) {
            long long size = -1;
            work.kept[t] = fileSize(work.targets[t].path, size) && (uint64_t)size == work.targets[t].file->size &&
                           work.targets[t].path.starts_with(work.recordFolder + L"\\");
            if (work.kept[t]) targetOf.emplace(work.targets[t].path.substr(work.recordFolder.size() + 1), t);
        }
        readRecord(record, [&](const Sha256Digest& hash, uint32_t size, uint64_t offset, const std::wstring& path) {
            auto target = targetOf.find(path);
            if (target == targetOf.end()) return;
            // A target's places are in the order of their offsets: the one at `offset`, found by halving.
            const std::vector<uint32_t>& inTarget = work.placesOf[target->second];
            const auto place = std::lower_bound(inTarget.begin(), inTarget.end(), offset,
                                                [&](uint32_t p, uint64_t o) { return work.places[p].offset < o; });
            if (place == inTarget.end()) return;
            Work::Place& at = work.places[*place];
            Work::Distinct& piece = work.pieces[at.piece];
            if (at.offset != offset || at.done || piece.piece->hash != hash || piece.piece->size != size) return;
            const std::string bytes = readRange(work.targets[at.target].path, offset, size);
            if (bytes.size() != size || !hashIs(bytes.data(), size, piece.piece->hash)) return;
            at.done = true;
            --piece.left;
            counts_.done += size;
        });
    }
    // Left to fetch: what neither the disk nor a whole earlier copy of its file gives.
    for (Work::Distinct& piece : work.pieces) {
        if (piece.left == 0 || store_.has(piece.piece->hash, piece.piece->size)) continue;
        bool whole = true;
        work.forPlaces(piece, [&](uint32_t place) {
            const IndexFile& file = *work.targets[work.places[place].target].file;
            auto copy = wholeFiles_.find(file.sha256);
            whole = whole && copy != wholeFiles_.end() && copy->second.second == file.size;
        });
        if (!whole) counts_.toFetch += piece.piece->size;
    }
}

PieceRunResult PieceEngine::run(const std::function<void(const PieceCounts&)>& onProgress, bool keepGoing,
                                bool checkWhole) {
    Work& work = *work_;
    PieceRunResult result;
    result.written.assign(work.targets.size(), false);
    std::mutex failing;
    std::atomic<bool> ended{false};  // a failure ends the run (unless keepGoing) or a stop
    auto fail = [&](PieceFailure failure, const IndexFile* file, const std::wstring& error) {
        std::lock_guard<std::mutex> lock(failing);
        if (result.failure == PieceFailure::None) {
            result.failure = failure;
            result.file = file;
            result.error = error;
        }
        if (!keepGoing || failure == PieceFailure::Writing || failure == PieceFailure::Creating) ended = true;
    };
    auto going = [&] {
        if (job_.stopRequested()) ended = true;
        return !ended.load();
    };
    auto report = [&](uint64_t bytes, bool fromDisk, bool fetched, bool force = false) {
        std::lock_guard<std::mutex> lock(work.reporting);
        counts_.done += bytes;
        if (fromDisk) counts_.fromDisk += bytes;
        if (fetched) counts_.fetched += bytes;
        const ULONGLONG now = GetTickCount64();
        if (!force && now - work.lastReport < 100) return;
        work.lastReport = now;
        if (onProgress) onProgress(counts_);
    };

    work.placesLeft = std::make_unique<std::atomic<uint32_t>[]>(work.targets.size());
    for (const Work::Place& place : work.places)
        if (!place.done) ++work.placesLeft[place.target];
    counts_.toCheck = checkWhole ? counts_.total : 0;
    counts_.checked = 0;
    if (onProgress) onProgress(counts_);
    std::vector<bool> copied(work.targets.size(), false);  // whole, from an earlier copy checked as it came
    if (!work.record.empty()) {
        // The record starts again with what checked out.
        DeleteFileW(longPath(work.record).c_str());
        makeFolderTree(parentFolder(work.record));
        work.recordFile = FileHandle(CreateFileW(longPath(work.record).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        for (uint32_t place = 0; place < work.places.size(); ++place)
            if (work.places[place].done) work.note(place);
    }
    // The folders first, each once.
    std::set<std::wstring> folders;
    for (const PieceTarget& target : work.targets) folders.insert(parentFolder(target.path));
    for (const std::wstring& folder : folders)
        if (!makeFolderTree(folder)) {
            result.failure = PieceFailure::Creating;
            result.error = L"couldn't make the folder " + folder;
            for (const PieceTarget& target : work.targets)
                if (parentFolder(target.path) == folder && !result.file) result.file = target.file;
            return result;
        }

    // Every file at its size, with what the disk gives; the largest files first on one thread, the smallest on
    // the others: a big file's time goes to hashing, a small one's mostly to making the file.
    std::vector<uint32_t> order(work.targets.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return work.targets[a].file->size > work.targets[b].file->size;
    });
    size_t front = 0, back = order.size();
    std::mutex taking;
    runSideBySide(threadsFor(order.size()), [&](size_t thread) {
        for (;;) {
            uint32_t t = 0;
            {
                std::lock_guard<std::mutex> lock(taking);
                if (!going() || front == back) return;
                t = thread == 0 ? order[front++] : order[--back];
            }
            const PieceTarget& target = work.targets[t];
            const IndexFile& file = *target.file;
            FileHandle out = openTarget(target.path, work.kept[t]);
            if (!out || (!work.kept[t] && !setSize(out.get(), file.size))) {
                fail(out ? PieceFailure::Writing : PieceFailure::Creating, &file, L"couldn't write " + target.path);
                return;
            }
            const std::vector<uint32_t>& places = work.placesOf[t];
            const bool untouched = std::none_of(places.begin(), places.end(),
                                                [&](uint32_t place) { return work.places[place].done; });
            auto copy = wholeFiles_.find(file.sha256);
            if (untouched && !places.empty() && copy != wholeFiles_.end() && copy->second.second == file.size) {
                // An earlier copy of the same file, checked by its SHA-256 as it is copied.
                Sha256Hasher whole;
                uint64_t at = 0;
                bool writeFailed = false;
                const bool read = readFileInBlocks(copy->second.first, (size_t)std::min<uint64_t>(1 << 20, file.size + 1),
                                                   [&](const unsigned char* bytes, size_t size) {
                                                       if (at + size > file.size) return false;
                                                       if (!writeAt(out.get(), at, (const char*)bytes, size)) {
                                                           writeFailed = true;
                                                           return false;
                                                       }
                                                       whole.add(bytes, size);
                                                       at += size;
                                                       report(size, true, false);
                                                       return going();
                                                   });
                Sha256Digest digest;
                if (writeFailed) {
                    fail(PieceFailure::Writing, &file, L"couldn't write " + target.path + L" (is the disk full?)");
                    return;
                }
                if (read && at == file.size && whole.finish(digest) && toHex(digest) == file.sha256) {
                    for (uint32_t place : places) work.placed(place);
                    copied[t] = true;
                    continue;
                }
                // It didn't check out: its pieces are counted as they come.
                std::lock_guard<std::mutex> lock(work.reporting);
                counts_.done -= at;
                counts_.fromDisk -= at;
            }
            for (size_t i = 0; i < places.size() && going(); ++i) {
                const uint32_t place = places[i];
                if (work.places[place].done) continue;
                const IndexPiece& piece = *work.pieces[work.places[place].piece].piece;
                std::string bytes;
                if (!store_.take(piece.hash, piece.size, bytes)) continue;
                if (!writeAt(out.get(), work.places[place].offset, bytes.data(), bytes.size())) {
                    fail(PieceFailure::Writing, &file, L"couldn't write " + target.path + L" (is the disk full?)");
                    return;
                }
                work.placed(place);
                report(piece.size, true, false);
                if (i + 1 < places.size()) crashPoint(L"piece-file-begun");
            }
        }
    });

    // What the disk didn't give comes from the servers.
    std::vector<uint32_t> wanted;
    for (uint32_t i = 0; i < work.pieces.size() && going(); ++i)
        if (work.pieces[i].left != 0) wanted.push_back(i);
    const bool packed = !wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [&](uint32_t i) {
        return work.pieces[i].packOffset != UINT64_MAX;
    });
    if (packed)
        std::sort(wanted.begin(), wanted.end(),
                  [&](uint32_t a, uint32_t b) { return work.pieces[a].packOffset < work.pieces[b].packOffset; });
    struct Request {
        size_t first, count;     // into wanted
        bool mismatched = false;  // a server sent other bytes for its first piece
    };
    std::deque<Request> queue;
    // Ranges large enough that a request's round trip is small beside its bytes, and many enough that every
    // thread and server has some.
    uint64_t wantedBytes = 0;
    for (uint32_t i : wanted) wantedBytes += work.pieces[i].piece->size;
    const uint64_t mostRange = std::clamp<uint64_t>(wantedBytes / (2 * kPiecesInFlight), 1 << 20, kMostRangeBytes);
    for (size_t i = 0; i < wanted.size();) {
        size_t count = 1;
        uint64_t bytes = work.pieces[wanted[i]].piece->size;
        while (packed && i + count < wanted.size()) {
            const Work::Distinct& last = work.pieces[wanted[i + count - 1]];
            const Work::Distinct& next = work.pieces[wanted[i + count]];
            if (next.packOffset != last.packOffset + last.piece->size || bytes + next.piece->size > mostRange)
                break;
            bytes += next.piece->size;
            ++count;
        }
        queue.push_back(Request{i, count});
        i += count;
    }

    HttpSession session(kPiecesInFlight);
    RateCap cap;
    auto heldToRate = [&](size_t size) {
        if (servers_.mostBytesPerSecond) cap.pass(size, servers_.mostBytesPerSecond(), going);
    };
    const size_t serverCount = servers_.servers.size();
    std::vector<unsigned> failures(serverCount, 0);
    std::mutex queueing;
    std::condition_variable changed;
    size_t busy = 0;
    // Writes one piece that arrived whole at every place it has; false when it isn't the piece.
    using OpenTarget = std::pair<uint32_t, FileHandle>;  // the target a fetching thread has open
    auto arrived = [&](uint32_t index, const std::string& bytes, OpenTarget& open, std::wstring& error) {
        Work::Distinct& piece = work.pieces[index];
        if (bytes.size() != piece.piece->size || !hashIs(bytes.data(), bytes.size(), piece.piece->hash)) {
            error = L"it sent something else than the piece asked for";
            return false;
        }
        for (uint32_t place = piece.firstPlace; place != Work::kNoPlace; place = work.places[place].nextOfPiece) {
            if (work.places[place].done) continue;
            const uint32_t t = work.places[place].target;
            if (open.first != t) {
                open.second = openTarget(work.targets[t].path, true);
                open.first = open.second ? t : UINT32_MAX;
            }
            if (!open.second ||
                !writeAt(open.second.get(), work.places[place].offset, bytes.data(), bytes.size())) {
                fail(PieceFailure::Writing, work.targets[t].file,
                     L"couldn't write " + work.targets[t].path + L" (is the disk full?)");
                return true;
            }
            work.placed(place);
            report(bytes.size(), false, true);
        }
        {
            std::lock_guard<std::mutex> lock(work.reporting);
            counts_.received += bytes.size();
        }
        crashPoint(L"piece-fetched");
        return true;
    };
    // The file a piece is first written to, to name in a failure.
    auto fileOf = [&](uint32_t index) { return work.targets[work.places[work.pieces[index].firstPlace].target].file; };
    auto fetcher = [&](size_t thread) {
        OpenTarget open{UINT32_MAX, FileHandle()};
        std::unique_lock<std::mutex> lock(queueing);
        size_t server = serverCount ? thread % serverCount : 0;
        for (;;) {
            changed.wait(lock, [&] { return !going() || !queue.empty() || busy == 0; });
            if (!going() || queue.empty()) break;
            // A server left after its second failure is asked no more.
            size_t tried = 0;
            for (; tried < serverCount && failures[server] >= 2; ++tried) server = (server + 1) % serverCount;
            if (tried == serverCount || serverCount == 0) break;
            Request request = queue.front();
            queue.pop_front();
            ++busy;
            lock.unlock();

            size_t done = 0;  // pieces of the request written
            std::string bytes;
            std::wstring error, mismatch;
            HttpResult answer;
            const std::wstring& host = servers_.servers[server];
            if (packed) {
                const Work::Distinct& first = work.pieces[wanted[request.first]];
                uint64_t length = 0;
                for (size_t i = 0; i < request.count; ++i) length += work.pieces[wanted[request.first + i]].piece->size;
                answer = session.get(serverUrl(host, servers_.objectName(servers_.pack.sha256)), first.packOffset,
                                     length, [&](const char* data, size_t size) {
                                         heldToRate(size);
                                         while (size > 0) {
                                             const uint32_t index = wanted[request.first + done];
                                             const size_t need = work.pieces[index].piece->size - bytes.size();
                                             const size_t take = std::min(need, size);
                                             bytes.append(data, take);
                                             data += take;
                                             size -= take;
                                             if (bytes.size() < work.pieces[index].piece->size) break;
                                             if (!arrived(index, bytes, open, mismatch)) return false;
                                             bytes.clear();
                                             if (++done == request.count && size > 0) return false;
                                             // A stop waits for the piece on its way, so that none is fetched twice.
                                             if (!going()) return false;
                                         }
                                         return true;
                                     },
                                     servers_.label);
            } else {
                const uint32_t index = wanted[request.first];
                const uint32_t size = work.pieces[index].piece->size;
                answer = session.get(serverUrl(host, servers_.objectName(toHex(work.pieces[index].piece->hash))), 0, 0,
                                     [&](const char* data, size_t got) {
                                         heldToRate(got);
                                         if (bytes.size() + got > size) {
                                             mismatch = L"it sent more than the piece asked for";
                                             return false;
                                         }
                                         bytes.append(data, got);
                                         return true;
                                     },
                                     servers_.label);
                if (answer.error.empty() && arrived(index, bytes, open, mismatch)) done = 1;
            }
            error = !mismatch.empty() ? host + L": " + mismatch : answer.error;

            lock.lock();
            --busy;
            if (done < request.count && going()) {
                // A server that sent other bytes is what a failure says, whatever the servers after it did.
                const bool mismatched = (done == 0 && request.mismatched) || !mismatch.empty();
                queue.push_front(Request{request.first + done, request.count - done, mismatched});
                if (++failures[server] >= 2) {
                    bool anyLeft = false;
                    for (unsigned count : failures) anyLeft = anyLeft || count < 2;
                    if (!anyLeft) {
                        const uint32_t index = wanted[request.first + done];
                        // Every piece still wanted fails its files (written says which); the others are done.
                        if (keepGoing) queue.clear();
                        lock.unlock();
                        fail(mismatched ? PieceFailure::Mismatch : PieceFailure::Fetching, fileOf(index), error);
                        lock.lock();
                    }
                }
                server = (server + 1) % serverCount;  // the next try goes to another server
            }
            changed.notify_all();
        }
        changed.notify_all();
    };
    // Each file written whole is hashed whole once (its pieces each checked as they came), and while the
    // servers are still asked for the others: the last file's hash is then all that is left after the network.
    auto reportChecked = [&](uint64_t bytes) {
        {
            std::lock_guard<std::mutex> lock(work.reporting);
            counts_.checked += bytes;
        }
        report(0, false, false);
    };
    std::vector<char> checked(work.targets.size(), 0), notAsPublished(work.targets.size(), 0);
    auto checkOne = [&](uint32_t t) {
        checked[t] = 1;
        std::wstring fingerprint;
        // A fetching thread may still hold the file open, done with it.
        const bool whole =
            sha256File(work.targets[t].path, fingerprint, true) && fingerprint == work.targets[t].file->sha256;
        reportChecked(work.targets[t].file->size);
        if (whole) return;
        notAsPublished[t] = 1;
        fail(PieceFailure::NotAsPublished, work.targets[t].file,
             L"the file " + work.targets[t].file->path + L" didn't come out as published");
    };
    if (!queue.empty()) {
        std::mutex checking;
        std::condition_variable toCheck;
        std::deque<uint32_t> whole;
        bool fetched = false;
        auto add = [&](uint32_t t) {
            std::lock_guard<std::mutex> lock(checking);
            whole.push_back(t);
            toCheck.notify_one();
        };
        if (checkWhole) {
            for (uint32_t t = 0; t < work.targets.size(); ++t)
                if (work.placesLeft[t] == 0 && !copied[t]) add(t);
            work.onWhole = add;
        }
        std::thread checker;
        if (checkWhole)
            checker = std::thread([&] {
                std::unique_lock<std::mutex> lock(checking);
                for (;;) {
                    toCheck.wait(lock, [&] { return fetched || !whole.empty(); });
                    if (whole.empty() || !going()) return;
                    const uint32_t t = whole.front();
                    whole.pop_front();
                    lock.unlock();
                    checkOne(t);
                    lock.lock();
                }
            });
        runSideBySide(std::min<size_t>(kPiecesInFlight, queue.size()), fetcher);
        work.onWhole = nullptr;
        {
            std::lock_guard<std::mutex> lock(checking);
            fetched = true;
        }
        toCheck.notify_all();
        if (checker.joinable()) checker.join();
    }

    result.written.assign(work.targets.size(), true);
    for (const Work::Place& place : work.places)
        if (!place.done) result.written[place.target] = false;
    if (checkWhole && going()) {
        std::atomic<size_t> next{0};
        runSideBySide(threadsFor(work.targets.size()) - 1, [&](size_t) {
            for (size_t t; going() && (t = next++) < work.targets.size();) {
                if (checked[t]) continue;
                if (!result.written[t] || copied[t])
                    reportChecked(work.targets[t].file->size);
                else
                    checkOne((uint32_t)t);
            }
        });
    }
    for (size_t t = 0; t < work.targets.size(); ++t)
        if (notAsPublished[t]) result.written[t] = false;
    if (!job_.stopRequested()) report(0, false, false, true);
    if (job_.stopRequested()) {
        result.failure = PieceFailure::Stopped;
        result.error = L"it was stopped";
    } else if (result.failure == PieceFailure::None &&
               std::find(result.written.begin(), result.written.end(), false) != result.written.end()) {
        result.failure = PieceFailure::Fetching;
        result.error = L"not every piece came";
    }
    work.recordFile.close();
    return result;
}

void RateCap::pass(size_t bytes, double bytesPerSecond, const std::function<bool()>& going) {
    if (bytesPerSecond <= 0) return;
    double until = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        // Time the cap went unused (it was off, or nothing came) isn't made up for with a burst.
        due_ = std::max(due_, double(GetTickCount64()));
        due_ += double(bytes) * 1000.0 / bytesPerSecond;
        until = due_;
    }
    for (double now = double(GetTickCount64()); now < until && going(); now = double(GetTickCount64()))
        Sleep(DWORD(std::min(50.0, until - now)) + 1);
}

double shareDone(const PieceCounts& counts) {
    constexpr double kDiskByte = 0.1;
    const double whole = double(counts.toFetch) + kDiskByte * double(counts.total + counts.toCheck);
    if (whole <= 0) return 1;
    const double done = double(std::min(counts.received, counts.toFetch)) +
                        kDiskByte * double(std::min(counts.done, counts.total) + std::min(counts.checked, counts.toCheck));
    return std::min(1.0, done / whole);
}

}  // namespace vorlane
