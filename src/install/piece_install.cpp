#include "install/piece_install.h"

#include <windows.h>

#include <list>
#include <mutex>

#include "core/crash_points.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/transfer_meter.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"

namespace vorlane {

namespace {

// The kept copy of a build's index, beside its build folder (installDir\<commit>\...).
const wchar_t kKeptIndexName[] = L"build-index.json";
// The game's settings and saves: the player's, never checked against an index.
const wchar_t kSavedPrefix[] = L"vorlane/saved/";
// Beside the build folder in the staging folder of a build made ready in the background: the index it was
// made from, then a line for each file as it was left (SHA-256, size, last write time, path).
const wchar_t kReadyRecordName[] = L"ready.txt";

std::wstring keptIndexPath(const LauncherState& state, const std::wstring& commit) {
    return joinPath(joinPath(state.installDir, commit), kKeptIndexName);
}

// Fetches the file `name` of the servers into memory, at most `most` bytes, and
// takes the first copy whose SHA-256 is `hash`; the last failure otherwise.
// `tooLong` tells that a server's copy was longer than `most`.
bool fetchNamed(const std::vector<std::wstring>& servers, const std::wstring& name, const std::wstring& hash,
                long long most, const JobControl& job, std::string& bytes, std::wstring& why, bool& tooLong) {
    why = L"no build server answered";
    for (const std::wstring& server : servers) {
        bytes.clear();
        tooLong = false;
        // A server that says beforehand how long its copy is is left at once.
        auto bounded = [&](long long done, long long expected) {
            tooLong = done > most || expected > most;
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

// In the background nothing is downloaded instead: the update the player asks for does what it needs then.
PieceOutcome notInBackground(LauncherState& state, const BuildRecord& record, const std::wstring& staging,
                             const std::wstring& why) {
    deleteFolderTree(staging);
    logLine(state, L"Getting build " + record.commit + L" ready in the background didn't work out (" + why +
                       L"); the update fetches what it needs when you ask for it.");
    return PieceOutcome::UseZip;
}

std::wstring readyRecordPath(const LauncherState& state, const std::wstring& commit) {
    return joinPath(stagingFolder(state.installDir, commit), kReadyRecordName);
}

// The record of a build made ready in the background: what each of its files was when it was checked.
bool writeReadyRecord(const std::wstring& path, const BuildRecord& record, const std::wstring& folder,
                      const BuildIndex& index) {
    std::string text = toUtf8(record.index) + "\n";
    for (const IndexFile& file : index.files)
        text += toUtf8(file.sha256) + " " + std::to_string(file.size) + " " +
                std::to_string(lastWriteTimeOf(joinPath(folder, windowsPath(file.path)))) + " " + toUtf8(file.path) +
                "\n";
    return writeFileAtomically(path, text);
}

// Every file the record of a build made ready names is there as it was left, or hashes as published: a
// file changed since is read again. `why` names the first that isn't.
bool readyAsRecorded(const std::wstring& recordPath, const BuildRecord& record, const std::wstring& folder,
                     const JobControl& job, std::wstring& why) {
    std::string text;
    if (!readWholeFile(recordPath, text) || !text.starts_with(toUtf8(record.index) + "\n")) {
        why = L"its record was made for another index";
        return false;
    }
    size_t files = 0;
    for (size_t start = text.find('\n') + 1, end; start < text.size() && !job.stopRequested(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        const size_t sizeAt = line.find(' ') + 1, timeAt = line.find(' ', sizeAt) + 1, pathAt = line.find(' ', timeAt) + 1;
        if (sizeAt != 65 || timeAt == 0 || pathAt == 0) {
            why = L"its record can't be read";
            return false;
        }
        const std::wstring path = toUtf16(line.substr(pathAt));
        const std::wstring file = joinPath(folder, windowsPath(path));
        long long size = -1;
        const bool asLeft = fileSize(file, size) && std::to_string(size) == line.substr(sizeAt, timeAt - sizeAt - 1) &&
                            std::to_string(lastWriteTimeOf(file)) == line.substr(timeAt, pathAt - timeAt - 1);
        std::wstring hash;
        if (!isWindowsSafePath(path) ||
            (!asLeft && !(sha256File(file, hash) && hash == toUtf16(line.substr(0, 64))))) {
            why = path + L" changed since";
            return false;
        }
        ++files;
    }
    if (files == 0) why = L"its record names no file";
    return files > 0 && !job.stopRequested();
}

// Another build's staging folder, whole or in part (an update of a build that was newest before), holds
// pieces the build of `commit` may share. indexes keeps what the engine is given for as long as it runs.
void addOtherStagedBuilds(const LauncherState& state, const std::wstring& commit, PieceEngine& engine,
                          std::list<BuildIndex>& indexes) {
    for (const FolderEntry& entry : buildFolders(state.installDir)) {
        const std::wstring other = stagedCommit(entry.name);
        if (other.empty()) continue;
        const std::wstring staging = joinPath(state.installDir, entry.name);
        if (other == commit) continue;
        std::string text;
        BuildIndex index;
        if (fileExists(joinPath(staging, kReadyRecordName)) && readWholeFile(joinPath(staging, kKeptIndexName), text) &&
            readBuildIndex(text, other, index).verdict == BuildIndexVerdict::Good) {
            std::vector<const IndexFile*> files;
            for (const IndexFile& file : indexes.emplace_back(std::move(index)).files) files.push_back(&file);
            engine.addIndexed(joinPath(staging, buildFolderName(other)), files);
        } else if (fileExists(joinPath(staging, kDoneRecordName))) {
            engine.addRecorded(joinPath(staging, kDoneRecordName));
        }
    }
}

}  // namespace

bool isPlayerData(const std::wstring& path) { return samePathKey(path).starts_with(kSavedPrefix); }

PieceServers buildServers(const LauncherState& state, const BuildIndex* index) {
    PieceServers servers;
    servers.servers = serversToAsk(state);
    servers.label = kBuildServerLabel;
    servers.objectName = [](const std::wstring& hash) { return buildObjectName(hash); };
    if (index) {
        servers.pack = index->pack;
        servers.packed = &index->files;
    }
    return servers;
}

bool fetchBuildIndex(const LauncherState& state, const BuildRecord& record, const JobControl& job, BuildIndex& index,
                     std::wstring& why) {
    if (!isSha256Hex(record.index)) {
        why = L"builds.json names no index of pieces for it";
        return false;
    }
    std::string text;
    bool tooLong = false;
    if (!fetchNamed(serversToAsk(state), buildObjectName(record.index), record.index, kMostBuildIndexBytes, job,
                    text, why, tooLong)) {
        why = tooLong ? L"its index was refused: " + buildIndexRefusal({BuildIndexVerdict::TooLong})
                      : L"its index couldn't be fetched: " + why;
        return false;
    }
    const BuildIndexCheck check = readBuildIndex(text, record.commit, index);
    if (check.verdict == BuildIndexVerdict::Good) return true;
    why = L"its index was refused: " + buildIndexRefusal(check);
    return false;
}

bool keptIndex(const LauncherState& state, const std::wstring& commit, BuildIndex& index) {
    std::string text;
    return readWholeFile(keptIndexPath(state, commit), text) &&
           readBuildIndex(text, commit, index).verdict == BuildIndexVerdict::Good;
}

std::wstring fetchedPiecesFolder(const LauncherState& state) {
    return joinPath(joinPath(state.rootFolder, L"Downloads"), L"Pieces");
}

std::wstring mendingFolder(const LauncherState& state) {
    return joinPath(joinPath(state.rootFolder, L"Downloads"), L"Mending");
}

PieceOutcome stageByPieces(LauncherState& state, const BuildRecord& record, const JobControl& job,
                           const StageOptions& options) {
    const std::wstring earlier = earlierBuild(state);
    const std::wstring staging = stagingFolder(state.installDir, record.commit);
    const std::wstring done = joinPath(staging, kDoneRecordName);
    const std::wstring ready = joinPath(staging, kReadyRecordName);
    const std::wstring setting = readSetting(state, kPiecesSetting);
    // A first install, with nothing on disk to take pieces from, goes by pieces too (every piece fetched straight
    // into place: no zip beside the build, no unpacking), unless told to take the zip (or a try cut short left
    // pieces written, which it carries on from).
    const bool firstToo = !equalsIgnoringCase(setting, kPiecesForUpdatesOnly);
    if (record.index.empty() || !state.zipPath.empty() || equalsIgnoringCase(setting, L"off") ||
        (earlier.empty() && !fileExists(done) && !firstToo))
        return PieceOutcome::UseZip;
    // Earlier releases kept fetched pieces in a folder of their own.
    deleteFolderTree(fetchedPiecesFolder(state));
    const bool background = options.background;
    auto notByPieces = [&](const std::wstring& why) {
        return background ? notInBackground(state, record, staging, why) : useZip(state, staging, why);
    };

    std::wstring why;
    const std::wstring folder = joinPath(staging, buildFolderName(record.commit));
    if (fileExists(ready)) {
        job.progress(0, L"Checking build " + record.commit + L", made ready in the background...");
        if (readyAsRecorded(ready, record, folder, job, why)) {
            if (background) return PieceOutcome::Staged;
            DeleteFileW(longPath(done).c_str());
            DeleteFileW(longPath(ready).c_str());
            logLine(state, L"Build " + record.commit + L" was made ready in the background; putting it in place.");
            return PieceOutcome::Staged;
        }
        if (job.stopRequested()) return PieceOutcome::Stopped;
        // What its record of pieces names is hashed again where it lies; what doesn't check out is fetched.
        DeleteFileW(longPath(ready).c_str());
        logLine(state, L"Build " + record.commit + L", made ready in the background, isn't as it was left (" + why +
                           L"); what it needs is fetched again.");
    }

    if (background) job.progress(0, L"Getting build " + record.commit + L" ready in the background...");
    else job.progress(0, L"Looking for the pieces of build " + record.commit + L" you already have...");
    BuildIndex index;
    if (!fetchBuildIndex(state, record, job, index, why))
        return job.stopRequested() ? PieceOutcome::Stopped : notByPieces(why);

    // The indexes whose pieces the engine is told of live as long as it does.
    BuildIndex earlierIndex;
    std::list<BuildIndex> otherIndexes;
    PieceServers servers = buildServers(state, &index);
    servers.mostBytesPerSecond = options.mostBytesPerSecond;
    PieceEngine engine(std::move(servers), job);
    // The share of the bar that cutting an earlier build's files takes, when they must be cut.
    double cutShare = 0;
    if (!earlier.empty()) {
        // Its index says where its pieces lie, so that its files needn't be cut: the kept copy, else the
        // one its record names (a build installed from its zip); each piece is hashed when it is read anyway.
        bool known = keptIndex(state, earlier, earlierIndex);
        std::wstring unused;
        for (const BuildRecord& listed : state.builds)
            if (!known && listed.commit == earlier && !listed.index.empty())
                known = fetchBuildIndex(state, listed, job, earlierIndex, unused);
        const std::wstring folder = buildFolder(state, earlier);
        if (known) {
            std::vector<const IndexFile*> files;
            for (const IndexFile& file : earlierIndex.files) files.push_back(&file);
            engine.addIndexed(folder, files);
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
            if (!engine.store().addFolder(folder, isPlayerData, cutting)) return PieceOutcome::Stopped;
        }
    }
    addOtherStagedBuilds(state, record.commit, engine, otherIndexes);
    // A try cut short left its files in the staging folder, and a record of the pieces written there.
    if (!fileExists(done)) deleteFolderTree(staging);
    std::vector<PieceTarget> targets;
    for (const IndexFile& file : index.files) targets.push_back(PieceTarget{&file, joinPath(folder, windowsPath(file.path))});
    engine.plan(std::move(targets), done);
    const PieceCounts planned = engine.counts();
    const std::wstring updating =
        background ? L"Getting build " + record.commit + L" ready in the background"
                   : (earlier.empty() ? L"Installing build " : L"Updating to build ") + record.commit + L" by pieces";
    const std::wstring cost = updating + L": " + sizeInWords((long long)planned.toFetch) + L" of " +
                              sizeInWords((long long)planned.total) + L" is new.";
    logLine(state, cost);
    job.progress(cutShare, cost);
    // Every piece is written straight into its place: the build's size, less what a try before wrote.
    if (!roomForBuild(state, record.commit, planned.total - planned.done)) return PieceOutcome::Refused;

    // The status says what comes from the servers: how much of what this run fetches, how fast, how long.
    const std::wstring doing = updating + L"... ";
    TransferMeter meter;
    const PieceRunResult result = engine.run(
        [&](const PieceCounts& counts) {
            job.progress(cutShare + (0.95 - cutShare) * shareDone(counts),
                         doing + (planned.toFetch ? meter.update((long long)counts.received, (long long)planned.toFetch)
                                                  : sizeInWords((long long)counts.done) + L" of " +
                                                        sizeInWords((long long)counts.total)));
        },
        false, true);
    switch (result.failure) {
        case PieceFailure::None: break;
        case PieceFailure::Stopped: return PieceOutcome::Stopped;
        case PieceFailure::Creating:
        case PieceFailure::Writing:
        case PieceFailure::NotAsPublished: return notByPieces(result.error);
        case PieceFailure::Fetching:
        case PieceFailure::Mismatch:
            return notByPieces(L"a piece came from no build server intact (" + result.error + L")");
    }
    // The build's empty folders are made too: its zip leaves them.
    for (const std::wstring& empty : index.folders)
        if (!makeFolderTree(joinPath(folder, windowsPath(empty))))
            return notByPieces(L"couldn't make the folder " + joinPath(folder, windowsPath(empty)));
    // Made ready in the background, the record of pieces stays until the build is put in place: should a file
    // change meanwhile, the update carries on from it.
    if (!background) DeleteFileW(longPath(done).c_str());
    // Two paths Windows takes for one file would leave one file where the index has two.
    const std::wstring stray = fileNotAsListed(folder, index);
    if (!stray.empty()) return notByPieces(L"the build's folder didn't come out as the index lists it (" + stray + L")");
    // Kept beside the build, so that the next update and a check need neither fetch it nor cut the files.
    if (!writeFileAtomically(joinPath(staging, kKeptIndexName), buildIndexJson(index)))
        return notByPieces(L"couldn't write " + joinPath(staging, kKeptIndexName));
    if (background && !writeReadyRecord(ready, record, folder, index))
        return notByPieces(L"couldn't write " + ready);
    crashPoint(L"pieces-written");
    return PieceOutcome::Staged;
}

bool madeReadyInBackground(const LauncherState& state, const BuildRecord& record) {
    return fileExists(readyRecordPath(state, record.commit));
}

bool piecesWrittenFor(const LauncherState& state, const BuildRecord& record) {
    return fileExists(joinPath(stagingFolder(state.installDir, record.commit), kDoneRecordName));
}

void forgetFetchedPieces(const LauncherState& state, const BuildRecord& record) {
    deleteFolderTree(fetchedPiecesFolder(state));
    DeleteFileW(longPath(joinPath(joinPath(state.rootFolder, L"Downloads"), record.file + L".part")).c_str());
}

}  // namespace vorlane
