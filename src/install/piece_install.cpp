#include "install/piece_install.h"

#include <windows.h>

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
// Beside the build folder in the staging folder while pieces are written: what is written and checked.
const wchar_t kDoneRecordName[] = L"pieces-done.txt";
// The game's settings and saves: the player's, never checked against an index.
const wchar_t kSavedPrefix[] = L"vorlane/saved/";

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

PieceOutcome stageByPieces(LauncherState& state, const BuildRecord& record, const JobControl& job) {
    const std::wstring earlier = earlierBuild(state);
    const std::wstring staging = joinPath(state.installDir, record.commit) + kStagingSuffix;
    const std::wstring done = joinPath(staging, kDoneRecordName);
    const std::wstring setting = readSetting(state, kPiecesSetting);
    // A first install, with nothing on disk to take pieces from, downloads the zip unless told otherwise, or
    // unless a try cut short left pieces written.
    const bool firstToo = equalsIgnoringCase(setting, L"always");
    if (record.index.empty() || !state.zipPath.empty() || equalsIgnoringCase(setting, L"off") ||
        (earlier.empty() && !fileExists(done) && !firstToo))
        return PieceOutcome::UseZip;
    // Earlier releases kept fetched pieces in a folder of their own.
    deleteFolderTree(fetchedPiecesFolder(state));

    job.progress(0, L"Looking for the pieces of build " + record.commit + L" you already have...");
    BuildIndex index;
    std::wstring why;
    if (!fetchBuildIndex(state, record, job, index, why))
        return job.stopRequested() ? PieceOutcome::Stopped : useZip(state, staging, why);

    PieceEngine engine(buildServers(state, &index), job);
    // The share of the bar that cutting an earlier build's files takes, when they must be cut.
    double cutShare = 0;
    BuildIndex earlierIndex;
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
    // A try cut short left its files in the staging folder, and a record of the pieces written there.
    if (!fileExists(done)) deleteFolderTree(staging);
    const std::wstring folder = joinPath(staging, buildFolderName(record.commit));
    std::vector<PieceTarget> targets;
    for (const IndexFile& file : index.files) targets.push_back(PieceTarget{&file, joinPath(folder, windowsPath(file.path))});
    engine.plan(std::move(targets), done);
    const PieceCounts planned = engine.counts();
    const std::wstring updating = (earlier.empty() ? L"Installing build " : L"Updating to build ") + record.commit;
    const std::wstring cost =
        updating + L" by pieces: " + sizeInWords((long long)planned.toFetch) + L" of " +
        sizeInWords((long long)planned.total) + L" is new.";
    logLine(state, cost);
    job.progress(cutShare, cost);
    // Every piece is written straight into its place: the build's size, less what a try before wrote.
    if (!roomForBuild(state, record.commit, planned.total - planned.done)) return PieceOutcome::Refused;

    // The status says what comes from the servers: how much of what this run fetches, how fast, how long.
    const std::wstring doing = updating + L" by pieces... ";
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
        case PieceFailure::NotAsPublished: return useZip(state, staging, result.error);
        case PieceFailure::Fetching:
        case PieceFailure::Mismatch:
            return useZip(state, staging, L"a piece came from no build server intact (" + result.error + L")");
    }
    // The build's empty folders are made too: its zip leaves them.
    for (const std::wstring& empty : index.folders)
        if (!makeFolderTree(joinPath(folder, windowsPath(empty))))
            return useZip(state, staging, L"couldn't make the folder " + joinPath(folder, windowsPath(empty)));
    DeleteFileW(longPath(done).c_str());
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

bool piecesWrittenFor(const LauncherState& state, const BuildRecord& record) {
    return fileExists(joinPath(joinPath(state.installDir, record.commit) + kStagingSuffix, kDoneRecordName));
}

void forgetFetchedPieces(const LauncherState& state, const BuildRecord& record) {
    deleteFolderTree(fetchedPiecesFolder(state));
    DeleteFileW(longPath(joinPath(joinPath(state.rootFolder, L"Downloads"), record.file + L".part")).c_str());
}

}  // namespace vorlane
