#include "install/piece_install.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/crash_points.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/handles.h"
#include "core/job_runner.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "install/build_folders.h"
#include "install/installer.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"
#include "pieces/piece_cutter.h"
#include "pieces/piece_store.h"

namespace vorlane {

namespace {

// The kept copy of a build's index, beside its build folder (installDir\<commit>\...).
const wchar_t kKeptIndexName[] = L"build-index.json";
// The game's settings and saves: the player's, never checked against an index.
const wchar_t kSavedPrefix[] = L"vorlane/saved/";

std::wstring windowsPath(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

bool isPlayerData(const std::wstring& path) { return samePathKey(path).starts_with(kSavedPrefix); }

std::wstring keptIndexPath(const LauncherState& state, const std::wstring& commit) {
    return joinPath(joinPath(state.installDir, commit), kKeptIndexName);
}

// The current server first, then every other one: they publish the same files.
std::vector<std::wstring> serversToAsk(const LauncherState& state) {
    std::vector<std::wstring> servers;
    if (!state.listSource.empty()) servers.push_back(state.listSource);
    for (const std::wstring& server : state.servers)
        if (server != state.listSource) servers.push_back(server);
    return servers;
}

// Fetches the file `name` of the servers into memory, at most `most` bytes, and
// takes the first copy whose SHA-256 is `hash`; the last failure otherwise.
bool fetchNamed(const std::vector<std::wstring>& servers, const std::wstring& name, const std::wstring& hash,
                long long most, const JobControl& job, std::string& bytes, std::wstring& why) {
    why = L"no build server answered";
    for (const std::wstring& server : servers) {
        bytes.clear();
        bool tooLong = false;
        auto bounded = [&](long long done, long long) {
            tooLong = done > most;
            return !tooLong && !job.stopRequested();
        };
        HttpResult result =
            download(serverUrl(server, name), &bytes, L"", bounded, -1, false, kBuildServerLabel, kFilePace);
        if (job.stopRequested()) return false;
        Sha256Digest digest;
        if (result.error.empty() && !tooLong && sha256(bytes, digest) && toHex(digest) == hash) return true;
        why = !result.error.empty() && !tooLong ? result.error : server + L" sent something else under that name";
    }
    bytes.clear();
    return false;
}

// Writes bytes to path by way of a ".part" file of the calling thread's own
// (not flushed: every piece is hashed again when it is used, so a torn one is
// only fetched again).
bool writeAside(const std::wstring& path, const std::string& bytes) {
    const std::wstring part = path + L"." + std::to_wstring(GetCurrentThreadId()) + L".part";
    {
        FileHandle out(CreateFileW(longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!out || !WriteFile(out.get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) ||
            written != bytes.size()) {
            out.close();
            DeleteFileW(longPath(part).c_str());
            return false;
        }
    }
    // A copy it replaces may be open a moment longer in another thread that found it damaged.
    for (int tries = 0; !MoveFileExW(longPath(part).c_str(), longPath(path).c_str(), MOVEFILE_REPLACE_EXISTING);
         ++tries) {
        const DWORD error = GetLastError();
        if (tries == 100 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)) {
            DeleteFileW(longPath(part).c_str());
            return false;
        }
        Sleep(20);
    }
    return true;
}

// Files are written (and checked) this many at a time: one per processor, at most kPiecesInFlight.
size_t filesAtOnce(size_t files) {
    const size_t processors = std::max(1u, std::thread::hardware_concurrency());
    return std::min({processors, (size_t)kPiecesInFlight, std::max<size_t>(files, 1)});
}

// The pieces on hand: those fetched earlier (kept in their folder), and those of
// an earlier build's files. Pieces are fetched into the folder, several at a time.
// take() and wholeFile() may be called from several threads at once.
class PieceSource {
public:
    PieceSource(const LauncherState& state, const JobControl& job)
        : folder_(fetchedPiecesFolder(state)), servers_(serversToAsk(state)), job_(job) {
        for (const FolderEntry& entry : listFolder(folder_)) {
            long long size = 0;
            if (!entry.isFolder && isSha256Hex(entry.name) && fileSize(joinPath(folder_, entry.name), size) &&
                size >= 1 && size <= (long long)kLongestPiece)
                store_.addPiece(joinPath(folder_, entry.name), 0, (uint32_t)size, entry.name);
        }
    }

    // The pieces of a build folder's files as its index says they lie.
    void addBuild(const std::wstring& folder, const BuildIndex& index) {
        std::vector<const IndexFile*> files;
        for (const IndexFile& file : index.files) files.push_back(&file);
        addIndexed(folder, files);
    }
    // The pieces of a build folder that has no index, cut from its files (the
    // player's Saved folder left out); `going` is told the bytes cut so far and
    // ends the cutting, false, by answering false.
    bool cutBuild(const std::wstring& folder, const std::function<bool(uint64_t)>& going) {
        return store_.addFolder(folder, isPlayerData, going);
    }
    void addIndexed(const std::wstring& folder, const std::vector<const IndexFile*>& files) {
        for (const IndexFile* file : files) {
            const std::wstring path = joinPath(folder, windowsPath(file->path));
            wholeFiles_.try_emplace(file->sha256, path, file->size);
            uint64_t offset = 0;
            for (const IndexPiece& piece : file->pieces) {
                store_.addPiece(path, offset, piece.size, piece.hash);
                offset += piece.size;
            }
        }
    }
    void addFile(const std::wstring& path) { store_.addFile(path); }

    // The pieces of these files that aren't on hand, each once.
    std::vector<IndexPiece> missing(const std::vector<const IndexFile*>& files) const {
        std::vector<IndexPiece> pieces;
        std::unordered_set<std::wstring> seen;
        for (const IndexFile* file : files)
            for (const IndexPiece& piece : file->pieces)
                if (!store_.has(piece.hash, piece.size) && seen.insert(piece.hash).second) pieces.push_back(piece);
        return pieces;
    }

    // Fetches the pieces with up to kPiecesInFlight requests at a time, each on
    // a helper thread with its own HTTP session; the helpers are joined before
    // this returns. onFetched reports the bytes fetched so far, on this thread.
    bool fetchAll(const std::vector<IndexPiece>& pieces, const std::function<void(uint64_t)>& onFetched,
                  std::wstring& why) {
        if (pieces.empty()) return true;
        makeFolderTree(folder_);
        std::atomic<size_t> next{0};
        std::atomic<bool> failed{false};
        std::atomic<uint64_t> bytes{0};
        std::mutex mutex;
        std::condition_variable changed;
        size_t running = std::min<size_t>(kPiecesInFlight, pieces.size());
        auto fetchSome = [&] {
            for (size_t i; !failed && !job_.stopRequested() && (i = next++) < pieces.size();) {
                std::wstring reason;
                const bool fetched = fetchOne(pieces[i], reason);
                std::lock_guard<std::mutex> lock(mutex);
                if (!fetched) {
                    if (!failed.exchange(true)) why = reason;
                } else {
                    bytes += pieces[i].size;
                    std::lock_guard<std::mutex> counted(counts_);
                    fetchedNow_.insert(pieces[i].hash);
                    store_.addPiece(joinPath(folder_, pieces[i].hash), 0, pieces[i].size, pieces[i].hash);
                    crashPoint(L"piece-fetched");
                }
                changed.notify_all();
            }
            std::lock_guard<std::mutex> lock(mutex);
            --running;
            changed.notify_all();
        };
        std::vector<std::thread> helpers;
        for (size_t i = 0, count = running; i < count; ++i) helpers.emplace_back(fetchSome);
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (running > 0) {
                changed.wait(lock);
                const uint64_t done = bytes;
                lock.unlock();
                onFetched(done);
                lock.lock();
            }
        }
        for (std::thread& helper : helpers) helper.join();
        fetched_ += bytes;
        return !failed && !job_.stopRequested();
    }

    // The piece's bytes from the disk, hashed as they are read; a piece that
    // isn't there or doesn't check out is fetched again, once however many files use it.
    bool take(const IndexPiece& piece, bool& reused, std::string& bytes, std::wstring& why) {
        if (!fetchedAgain(piece.hash) && store_.take(piece.hash, piece.size, bytes)) {
            std::lock_guard<std::mutex> lock(counts_);
            reused = !fetchedNow_.contains(piece.hash);
            return true;
        }
        reused = false;
        if (!fetchOnce(piece, why)) return false;
        return (bytes = readRange(joinPath(folder_, piece.hash), 0, piece.size)).size() == piece.size;
    }

    // An earlier build's file that its index says has this SHA-256 and size;
    // empty when there is none. Its bytes are checked as it is copied.
    std::wstring wholeFile(const std::wstring& hash, uint64_t size) const {
        auto found = wholeFiles_.find(hash);
        return found != wholeFiles_.end() && found->second.second == size ? found->second.first : std::wstring();
    }

    uint64_t fetched() const {
        std::lock_guard<std::mutex> lock(counts_);
        return fetched_;
    }

private:
    enum class Again { Fetching, Fetched, Failed };

    bool fetchedAgain(const std::wstring& hash) const {
        std::lock_guard<std::mutex> lock(counts_);
        return again_.contains(hash);
    }

    // Fetches a piece the disk failed to give; a thread that needs a piece another
    // is fetching waits for it, and a piece no server sent fails every file using it.
    bool fetchOnce(const IndexPiece& piece, std::wstring& why) {
        std::unique_lock<std::mutex> lock(counts_);
        if (!again_.try_emplace(piece.hash, Again::Fetching).second) {
            fetchedAgain_.wait(lock, [&] { return again_.at(piece.hash) != Again::Fetching; });
            if (again_.at(piece.hash) == Again::Fetched) return true;
            why = L"a piece came from no build server intact";
            return false;
        }
        lock.unlock();
        const bool fetched = fetchOne(piece, why);
        lock.lock();
        again_[piece.hash] = fetched ? Again::Fetched : Again::Failed;
        if (fetched) {
            fetched_ += piece.size;
            fetchedNow_.insert(piece.hash);
        }
        fetchedAgain_.notify_all();
        return fetched;
    }

    bool fetchOne(const IndexPiece& piece, std::wstring& why) {
        std::string bytes;
        if (!fetchNamed(servers_, buildObjectName(piece.hash), piece.hash, piece.size, job_, bytes, why)) {
            why = L"a piece came from no build server intact (" + why + L")";
            return false;
        }
        if (!writeAside(joinPath(folder_, piece.hash), bytes)) {
            why = L"couldn't write " + joinPath(folder_, piece.hash) + L" (is the disk full?)";
            return false;
        }
        return true;
    }

    std::wstring folder_;
    std::vector<std::wstring> servers_;
    const JobControl& job_;
    PieceStore store_;
    std::unordered_map<std::wstring, std::pair<std::wstring, uint64_t>> wholeFiles_;  // by SHA-256: path, size
    mutable std::mutex counts_;  // holds fetchedNow_, fetched_ and again_
    std::unordered_set<std::wstring> fetchedNow_;  // by this run: counted as fetched, not reused
    std::unordered_map<std::wstring, Again> again_;  // fetched again while files were written
    std::condition_variable fetchedAgain_;
    uint64_t fetched_ = 0;
};

// Copies `from` into out, hashing it on the way, in blocks reported to onPiece
// as reused; true when it came out as the file the index describes. Otherwise
// out is emptied again (stop says whether onPiece asked to stop).
bool copyWhole(const std::wstring& from, HANDLE out, const IndexFile& file,
               const std::function<bool(uint32_t, bool)>& onPiece, bool& stop, bool& writeFailed) {
    Sha256Hasher whole;
    uint64_t copied = 0;
    // Blocks no larger than the file needs (one byte more shows a file that grew): most files of a build are small.
    const size_t block = (size_t)std::min<uint64_t>(1 << 20, file.size + 1);
    const bool read = readFileInBlocks(from, block, [&](const unsigned char* bytes, size_t size) {
        DWORD written = 0;
        if (!WriteFile(out, bytes, (DWORD)size, &written, nullptr) || written != size) {
            writeFailed = true;
            return false;
        }
        whole.add(bytes, size);
        copied += size;
        if (!onPiece((uint32_t)size, true)) {
            stop = true;
            return false;
        }
        if (copied < file.size) crashPoint(L"piece-file-begun");
        return true;
    });
    Sha256Digest digest;
    if (read && copied == file.size && whole.finish(digest) && toHex(digest) == file.sha256) return true;
    if (stop || writeFailed) return false;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(out, start, nullptr, FILE_BEGIN) || !SetEndOfFile(out)) writeFailed = true;
    return false;
}

// Writes one file of the index at `target` from its pieces and checks its
// SHA-256; `why` says what went wrong. onPiece is told each piece's size and
// whether it came from the disk.
bool assembleFile(PieceSource& source, const IndexFile& file, const std::wstring& target,
                  const std::function<bool(uint32_t, bool)>& onPiece, std::wstring& why, bool folderMade = false) {
    if (!folderMade && !makeFolderTree(parentFolder(target))) {
        why = L"couldn't make the folder of " + file.path;
        return false;
    }
    Sha256Digest digest{};
    {
        FileHandle out(CreateFileW(longPath(target).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) {
            why = L"couldn't write " + target;
            return false;
        }
        // An earlier build's copy of the same file is copied whole, checked by its SHA-256 alone; when it
        // doesn't check out, the file is written from its pieces after all, each hashed as it is read.
        const std::wstring same = source.wholeFile(file.sha256, file.size);
        bool stop = false, writeFailed = false;
        if (!same.empty() && copyWhole(same, out.get(), file, onPiece, stop, writeFailed)) return true;
        if (stop) return false;
        if (writeFailed) {
            why = L"couldn't write " + target + L" (is the disk full?)";
            return false;
        }
        Sha256Hasher whole;
        for (size_t i = 0; i < file.pieces.size(); ++i) {
            std::string bytes;
            bool reused = false;
            if (!source.take(file.pieces[i], reused, bytes, why)) return false;
            DWORD written = 0;
            if (!WriteFile(out.get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) ||
                written != bytes.size()) {
                why = L"couldn't write " + target + L" (is the disk full?)";
                return false;
            }
            whole.add(bytes);
            if (!onPiece(file.pieces[i].size, reused)) return false;
            if (i + 1 < file.pieces.size()) crashPoint(L"piece-file-begun");
        }
        if (!whole.finish(digest)) digest.fill(0);
    }
    if (toHex(digest) != file.sha256) {
        why = L"the file " + file.path + L" didn't come out as published";
        return false;
    }
    return true;
}

// Writes every file of the index below folder, several at a time; onPiece is
// called from each of those threads. `why` says what went wrong first.
bool assembleAll(PieceSource& source, const BuildIndex& index, const std::wstring& folder,
                 const std::function<bool(uint32_t, bool)>& onPiece, std::wstring& why) {
    // The folders are made first, each once, rather than looked for again for every file.
    std::set<std::wstring> folders;
    for (const IndexFile& file : index.files) folders.insert(parentFolder(joinPath(folder, windowsPath(file.path))));
    // The build's empty folders are made too: its zip leaves them.
    for (const std::wstring& empty : index.folders) folders.insert(joinPath(folder, windowsPath(empty)));
    for (const std::wstring& made : folders)
        if (!makeFolderTree(made)) {
            why = L"couldn't make the folder " + made;
            return false;
        }
    // The largest files first on one thread per processor, and the smallest first on one more: a big file's time
    // goes to hashing, a small one's mostly to making the file, so the two run side by side, not one after the other.
    std::vector<size_t> order(index.files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return index.files[a].size > index.files[b].size; });
    size_t front = 0, back = order.size();
    std::atomic<bool> failed{false};
    std::mutex mutex;
    auto going = [&](uint32_t size, bool reused) { return !failed && onPiece(size, reused); };
    runSideBySide(filesAtOnce(index.files.size()) + 1, [&](size_t thread) {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (failed || front == back) return;
                i = thread == 0 ? order[--back] : order[front++];
            }
            const IndexFile& file = index.files[i];
            std::wstring reason;
            if (assembleFile(source, file, joinPath(folder, windowsPath(file.path)), going, reason, true)) continue;
            std::lock_guard<std::mutex> lock(mutex);
            if (!failed.exchange(true)) why = reason;
        }
    });
    return !failed;
}

// The build's index from the servers (named and checked by record.index); `why` on failure.
bool fetchBuildIndex(const LauncherState& state, const BuildRecord& record, const JobControl& job, BuildIndex& index,
                     std::wstring& why) {
    if (!isSha256Hex(record.index)) {
        why = L"builds.json names no index of pieces for it";
        return false;
    }
    std::string text;
    if (!fetchNamed(serversToAsk(state), buildObjectName(record.index), record.index, kMostBuildIndexBytes, job, text,
                    why)) {
        why = L"its index couldn't be fetched: " + why;
        return false;
    }
    const BuildIndexCheck check = readBuildIndex(text, record.commit, index);
    if (check.verdict == BuildIndexVerdict::Good) return true;
    why = L"its index was refused: " + buildIndexRefusal(check);
    return false;
}

// The index kept beside an installed build, when it reads as that build's.
bool keptIndex(const LauncherState& state, const std::wstring& commit, BuildIndex& index) {
    std::string text;
    return readWholeFile(keptIndexPath(state, commit), text) &&
           readBuildIndex(text, commit, index).verdict == BuildIndexVerdict::Good;
}

// An earlier build whose pieces an update can use: the current one, else the previous one.
std::wstring earlierBuild(const LauncherState& state) {
    for (const std::wstring* commit : {&state.current, &state.previous})
        if (!commit->empty() && folderExists(buildFolder(state, *commit))) return *commit;
    return {};
}

PieceOutcome useZip(LauncherState& state, const std::wstring& staging, const std::wstring& why) {
    // The zip comes down with the room the pieces took given back.
    deleteFolderTree(staging);
    deleteFolderTree(fetchedPiecesFolder(state));
    logLine(state, L"Updating by pieces didn't work out (" + why + L"), so the build's zip is downloaded instead.");
    return PieceOutcome::UseZip;
}

}  // namespace

std::wstring fetchedPiecesFolder(const LauncherState& state) {
    return joinPath(joinPath(state.rootFolder, L"Downloads"), L"Pieces");
}

std::wstring groupedMiB(uint64_t bytes) {
    std::wstring digits = std::to_wstring(bytes >> 20);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, L",");
    return digits + L" MB";
}

PieceOutcome stageByPieces(LauncherState& state, const BuildRecord& record, const JobControl& job) {
    const std::wstring earlier = earlierBuild(state);
    const std::wstring pieces = fetchedPiecesFolder(state);
    const std::wstring setting = readSetting(state, kPiecesSetting);
    // A first install, with nothing on disk to take pieces from, downloads the zip unless told otherwise.
    const bool firstToo = equalsIgnoringCase(setting, L"always");
    if (record.index.empty() || !state.zipPath.empty() || equalsIgnoringCase(setting, L"off") ||
        (earlier.empty() && !folderExists(pieces) && !firstToo))
        return PieceOutcome::UseZip;
    const std::wstring staging = joinPath(state.installDir, record.commit) + kStagingSuffix;

    job.progress(0, L"Looking for the pieces of build " + record.commit + L" you already have...");
    BuildIndex index;
    std::wstring why;
    if (!fetchBuildIndex(state, record, job, index, why))
        return job.stopRequested() ? PieceOutcome::Stopped : useZip(state, staging, why);

    PieceSource source(state, job);
    // The share of the bar that cutting an earlier build's files takes, when they must be cut.
    double cutShare = 0;
    if (!earlier.empty()) {
        // Its index says where its pieces lie, so that its files needn't be cut: the kept copy, else the
        // one its record names (a build installed from its zip); each piece is hashed when it is read anyway.
        BuildIndex earlierIndex;
        bool known = keptIndex(state, earlier, earlierIndex);
        std::wstring unused;
        for (const BuildRecord& listed : state.builds)
            if (!known && listed.commit == earlier && !listed.index.empty())
                known = fetchBuildIndex(state, listed, job, earlierIndex, unused);
        const std::wstring folder = buildFolder(state, earlier);
        if (known) {
            source.addBuild(folder, earlierIndex);
        } else {
            cutShare = 0.2;
            uint64_t toCut = 0;
            for (const std::wstring& file : filesBelow(folder)) {
                long long size = 0;
                if (!isPlayerData(file) && fileSize(joinPath(folder, file), size)) toCut += (uint64_t)size;
            }
            const std::wstring looking = L"Looking for the pieces of build " + record.commit + L" you already have... ";
            auto cutting = [&](uint64_t cut) {
                job.progress(toCut ? cutShare * double(std::min(cut, toCut)) / double(toCut) : cutShare,
                             looking + wholeMiB((long long)cut) + L" of " + wholeMiB((long long)toCut) + L" MB");
                return !job.stopRequested();
            };
            if (!source.cutBuild(folder, cutting)) return PieceOutcome::Stopped;
        }
    }
    std::vector<const IndexFile*> files;
    uint64_t total = 0;
    for (const IndexFile& file : index.files) {
        files.push_back(&file);
        total += file.size;
    }
    const std::vector<IndexPiece> missing = source.missing(files);
    uint64_t newBytes = 0;
    for (const IndexPiece& piece : missing) newBytes += piece.size;
    const std::wstring updating = (earlier.empty() ? L"Installing build " : L"Updating to build ") + record.commit;
    const std::wstring cost =
        updating + L" by pieces: " + groupedMiB(newBytes) + L" of " + groupedMiB(total) + L" is new.";
    logLine(state, cost);
    job.progress(cutShare, cost);
    // The missing pieces come down beside the build they are written into.
    if (!roomForBuild(state, record.commit, newBytes + total)) return PieceOutcome::Refused;

    const std::wstring doing = updating + L" by pieces... ";
    auto report = [&](uint64_t done) {
        job.progress(cutShare + (0.95 - cutShare) * (total ? double(std::min(done, total)) / double(total) : 1.0),
                     doing + wholeMiB((long long)done) + L" of " + wholeMiB((long long)total) + L" MB");
    };
    if (!source.fetchAll(missing, report, why))
        return job.stopRequested() ? PieceOutcome::Stopped : useZip(state, staging, why);

    deleteFolderTree(staging);
    const std::wstring folder = joinPath(staging, buildFolderName(record.commit));
    std::mutex reporting;
    uint64_t done = source.fetched();
    auto counted = [&](uint32_t size, bool reused) {
        std::lock_guard<std::mutex> lock(reporting);
        if (reused) done += size;
        report(done);
        return !job.stopRequested();
    };
    if (!assembleAll(source, index, folder, counted, why)) {
        if (job.stopRequested()) {
            deleteFolderTree(staging);
            return PieceOutcome::Stopped;
        }
        return useZip(state, staging, why);
    }
    // Two paths Windows takes for one file would leave one file where the index has two.
    const std::wstring stray = fileNotAsListed(folder, index);
    if (!stray.empty())
        return useZip(state, staging, L"the build's folder didn't come out as the index lists it (" + stray + L")");
    // Kept beside the build, so that the next update and a check need neither fetch it nor cut the files.
    if (!writeFileAtomically(joinPath(staging, kKeptIndexName), buildIndexJson(index)))
        return useZip(state, staging, L"couldn't write " + joinPath(staging, kKeptIndexName));
    crashPoint(L"pieces-written");
    return PieceOutcome::Staged;
}

void forgetFetchedPieces(const LauncherState& state, const BuildRecord& record) {
    deleteFolderTree(fetchedPiecesFolder(state));
    DeleteFileW(longPath(joinPath(joinPath(state.rootFolder, L"Downloads"), record.file + L".part")).c_str());
}

namespace {

// What a check of an installed build found.
struct Findings {
    size_t checked = 0;
    std::vector<const IndexFile*> damaged;  // changed or missing
    std::vector<const IndexFile*> sound;
    std::vector<const IndexFile*> unread;   // couldn't be read, so not checked
    std::vector<std::wstring> extra;        // on disk, not in the index
};

// Hashes every file the index lists (the Saved folder left out) and looks for
// files it doesn't list; `say` is told a sentence for each file that isn't as
// published or couldn't be read.
bool checkFiles(const std::wstring& folder, const BuildIndex& index, const JobControl& job, Findings& found,
                const std::function<void(const std::wstring&)>& say) {
    uint64_t total = 0, done = 0;
    for (const IndexFile& file : index.files) total += isPlayerData(file.path) ? 0 : file.size;
    // The files are hashed several at a time; what was found is said in the index's order.
    enum Finding : char { Sound, Changed, Missing, FolderInItsPlace, Unread, Skipped };
    std::vector<Finding> findings(index.files.size(), Skipped);
    std::vector<DWORD> errors(index.files.size(), 0);
    std::atomic<size_t> next{0};
    std::mutex reporting;
    runSideBySide(filesAtOnce(index.files.size()), [&](size_t) {
        for (size_t i; !job.stopRequested() && (i = next++) < index.files.size();) {
            const IndexFile& file = index.files[i];
            if (isPlayerData(file.path)) continue;
            const std::wstring path = joinPath(folder, windowsPath(file.path));
            long long size = -1;
            std::wstring fingerprint;
            if (folderExists(path)) {
                findings[i] = FolderInItsPlace;
            } else if (!fileSize(path, size)) {
                findings[i] = Missing;
            } else if ((uint64_t)size != file.size) {
                findings[i] = Changed;
            } else if (!sha256File(path, fingerprint)) {
                errors[i] = GetLastError();
                findings[i] = Unread;
            } else {
                findings[i] = fingerprint == file.sha256 ? Sound : Changed;
            }
            std::lock_guard<std::mutex> lock(reporting);
            done += file.size;
            job.progress(total ? 0.5 * double(done) / double(total) : 0.5,
                         L"Checking the files... " + wholeMiB((long long)done) + L" of " +
                             wholeMiB((long long)total) + L" MB");
        }
    });
    if (job.stopRequested()) return false;
    std::unordered_set<std::wstring> listed;
    for (size_t i = 0; i < index.files.size(); ++i) {
        const IndexFile& file = index.files[i];
        listed.insert(samePathKey(file.path));
        const std::wstring named = L"The file " + file.path;
        switch (findings[i]) {
        case Skipped: continue;
        case Sound: found.sound.push_back(&file); break;
        case Unread:
            found.unread.push_back(&file);
            say(systemFailure(named + L" couldn't be read, so it wasn't checked; the game or another program may "
                                      L"have it open.",
                              errors[i])
                    .text());
            continue;
        case Changed: say(named + L" isn't as published."); break;
        case Missing: say(named + L" is missing."); break;
        case FolderInItsPlace: say(named + L" is missing: a folder stands in its place."); break;
        }
        ++found.checked;
        if (findings[i] != Sound) found.damaged.push_back(&file);
    }
    for (const std::wstring& file : filesBelow(folder))
        if (!isPlayerData(file) && !listed.contains(samePathKey(file))) found.extra.push_back(file);
    return true;
}

// Renames a folder standing where a file of the build belongs out of its way,
// to the first free "<name>.moved-aside" ("<name>.moved-aside-2", ...): it may
// hold the player's own files, so it is never deleted. The ending it was given,
// or empty when it couldn't be moved (the system's error left for the caller).
std::wstring moveFolderAside(const std::wstring& path) {
    for (int n = 1; n <= 100; ++n) {
        const std::wstring ending = L".moved-aside" + (n == 1 ? std::wstring() : L"-" + std::to_wstring(n));
        if (pathExists(path + ending)) continue;
        return MoveFileExW(longPath(path).c_str(), longPath(path + ending).c_str(), 0) ? ending : std::wstring();
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    return {};
}

// Writes each damaged file anew from its pieces: those still sound on disk
// (in it or in the other files) and the fetched rest; then checks it again.
// A file that can't be mended doesn't keep the others from being mended;
// lastError names every one that couldn't.
bool mendFiles(LauncherState& state, const std::wstring& folder, const Findings& found, const JobControl& job) {
    PieceSource source(state, job);
    for (const IndexFile* file : found.damaged) source.addFile(joinPath(folder, windowsPath(file->path)));
    source.addIndexed(folder, found.sound);
    std::wstring fetchFailure;
    uint64_t total = 0;
    for (const IndexFile* file : found.damaged) total += file->size;
    auto report = [&](uint64_t done) {
        job.progress(0.5 + 0.45 * (total ? double(std::min(done, total)) / double(total) : 1.0),
                     L"Mending the files... " + wholeMiB((long long)done) + L" of " + wholeMiB((long long)total) +
                         L" MB");
    };
    // When a piece can't be had, every file is still tried: those that need none of the missing ones are
    // mended all the same, and the others say which piece failed them.
    source.fetchAll(source.missing(found.damaged), report, fetchFailure);
    std::vector<std::wstring> failures;  // "<path>: <why>"
    const std::wstring mended = joinPath(fetchedPiecesFolder(state), L"mended.part");
    for (const IndexFile* file : found.damaged) {
        if (job.stopRequested()) break;
        const std::wstring target = joinPath(folder, windowsPath(file->path));
        std::wstring why;
        if (folderExists(target)) {
            const std::wstring ending = moveFolderAside(target);
            if (ending.empty()) {
                failures.push_back(file->path + L": " +
                                   systemFailure(L"a folder stands in its place and couldn't be moved aside").text());
                continue;
            }
            logLine(state, L"A folder stood where the file " + file->path + L" of build " + state.current +
                               L" belongs; it was moved aside to " + file->path + ending + L", with what it holds.");
        }
        if (!assembleFile(source, *file, mended, [&](uint32_t, bool) { return !job.stopRequested(); }, why)) {
            DeleteFileW(longPath(mended).c_str());
            if (job.stopRequested()) break;
            failures.push_back(file->path + L": " + why);
            continue;
        }
        if (!makeFolderTree(parentFolder(target)) ||
            !MoveFileExW(longPath(mended).c_str(), longPath(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
            failures.push_back(file->path + L": " + systemFailure(L"it couldn't be put in place").text());
            DeleteFileW(longPath(mended).c_str());
            continue;
        }
        std::wstring fingerprint;
        if (!sha256File(target, fingerprint) || fingerprint != file->sha256)
            failures.push_back(file->path + L": it still isn't as published after it was mended");
    }
    if (job.stopRequested()) {
        state.lastError = L"The check was stopped before every file was mended.";
        return false;
    }
    const std::wstring kb = L" (" + std::to_wstring(source.fetched() >> 10) + L" KB fetched)";
    if (failures.empty()) {
        logLine(state, L"Mended " + counted(found.damaged.size(), L"file", L"files") + L" of build " + state.current +
                           kb + L"; every file is as published now.");
        deleteFolderTree(fetchedPiecesFolder(state));
        return true;
    }
    const size_t mendedCount = found.damaged.size() - failures.size();
    if (mendedCount > 0)
        logLine(state, L"Mended " + std::to_wstring(mendedCount) + L" of the " +
                           std::to_wstring(found.damaged.size()) + L" files of build " + state.current +
                           L" that weren't as published" + kb + L".");
    if (failures.size() == 1) {
        state.lastError = L"Couldn't mend the file " + failures.front() + L".";
    } else {
        state.lastError = L"Couldn't mend " + counted(failures.size(), L"file", L"files") + L" of build " +
                          state.current + L": ";
        for (size_t i = 0; i < failures.size(); ++i) state.lastError += (i ? L"; " : L"") + failures[i];
        state.lastError += L".";
    }
    return false;
}

// What the check says of the files it read: "Checked 5 files: 1 isn't as published."
std::wstring checkedSentence(const Findings& found) {
    const size_t damaged = found.damaged.size();
    std::wstring sentence = L"Checked " + counted(found.checked, L"file", L"files") + L": ";
    sentence += damaged == 0   ? std::wstring(L"all as published")
                : damaged == 1 ? std::wstring(L"1 isn't as published")
                               : std::to_wstring(damaged) + L" aren't as published";
    if (!found.unread.empty()) sentence += L"; " + std::to_wstring(found.unread.size()) + L" more couldn't be read";
    return sentence + L".";
}

}  // namespace

VerifyOutcome verifyInstalledBuild(LauncherState& state, const JobControl& job) {
    const std::wstring folder = state.current.empty() ? std::wstring() : buildFolder(state, state.current);
    if (folder.empty() || !folderExists(folder)) {
        state.lastError = L"There's no installed build to check.";
        return VerifyOutcome::NotChecked;
    }
    const BuildRecord* listed = nullptr;
    for (const BuildRecord& record : state.builds)
        if (record.commit == state.current) listed = &record;
    BuildIndex index;
    std::wstring why;
    bool known = keptIndex(state, state.current, index);
    if (!known && listed && !listed->index.empty()) known = fetchBuildIndex(state, *listed, job, index, why);
    if (!known) {
        if (!listed) {
            state.lastError = L"Build " + state.current +
                              L" isn't on the build list, so there's nothing to check its files against.";
            return VerifyOutcome::NotChecked;
        }
        logLine(state, L"No index of build " + state.current + L"'s files is known" +
                           (why.empty() ? std::wstring() : L" (" + why + L")") +
                           L", so it is installed again from its zip.");
        return reinstallBuild(state, *listed, job) ? VerifyOutcome::AsPublished : VerifyOutcome::NotMended;
    }

    Findings found;
    if (!checkFiles(folder, index, job, found, [&](const std::wstring& sentence) { logLine(state, sentence); })) {
        state.lastError = L"The check was stopped.";
        return VerifyOutcome::NotChecked;
    }
    for (const std::wstring& file : found.extra)
        logLine(state, L"The file " + file + L" isn't part of build " + state.current + L"; it is left as it is.");
    logLine(state, checkedSentence(found));
    if (!found.damaged.empty()) {
        if (equalsIgnoringCase(readSetting(state, kPiecesSetting), L"off")) {
            if (!listed) {
                state.lastError = L"Pieces are switched off and build " + state.current +
                                  L" isn't on the build list, so its zip can't be had to mend it.";
                return VerifyOutcome::NotMended;
            }
            logLine(state, L"Pieces are switched off, so build " + state.current +
                               L" is installed again from its zip to mend it.");
            // Every file is the zip's now, the unread ones too.
            if (!reinstallBuild(state, *listed, job)) return VerifyOutcome::NotMended;
            job.progress(1, L"Every file of build " + state.current + L" is as published.");
            return VerifyOutcome::AsPublished;
        }
        if (!mendFiles(state, folder, found, job)) return VerifyOutcome::NotMended;
    }
    if (!found.unread.empty()) {
        const std::wstring first = found.unread.front()->path;
        state.lastError = found.unread.size() == 1
                              ? L"The file " + first + L" couldn't be read, so it wasn't checked; close the game "
                                                       L"and check again."
                              : counted(found.unread.size(), L"file", L"files") + L" couldn't be read (" + first +
                                    L" among them), so they weren't checked; close the game and check again.";
        return VerifyOutcome::NotChecked;
    }
    job.progress(1, L"Every file of build " + state.current + L" is as published.");
    return VerifyOutcome::AsPublished;
}

}  // namespace vorlane
