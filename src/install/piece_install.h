// Updates by pieces: when the build to install has an index of pieces and an
// earlier build is on disk, the new build's folder is assembled in the staging
// folder from the pieces the disk already has and only the missing ones are
// fetched, several at a time. Whatever goes wrong on the way is said in one
// log sentence, and the install carries on from the zip as it always did.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/build_record.h"
#include "core/job.h"
#include "core/launcher_state.h"
#include "install/build_folders.h"
#include "pieces/build_index.h"
#include "pieces/piece_engine.h"

namespace vorlane {

// The setting that switches updates by pieces off ("Pieces=off"): every build
// is then installed from its zip, as by a launcher that knows no pieces.
// "Pieces=updates" takes a first install, with nothing on disk, from the zip
// and only updates by pieces; anything else (or nothing) takes both by pieces.
inline constexpr wchar_t kPiecesSetting[] = L"Pieces";
inline constexpr wchar_t kPiecesForUpdatesOnly[] = L"updates";

enum class PieceOutcome {
    Staged,  // the staging folder holds the whole build, every file checked
    UseZip,  // not for pieces, or it didn't work out (said in the log): the zip is used
    Stopped, // the job was asked to stop; the fetched pieces are kept for the next try
    Refused, // the disk hasn't room for the pieces and the build (lastError says so); nothing was fetched
};

// How a build is staged by pieces: for an install the player asked for, or
// made ready in the background.
struct StageOptions {
    // The build is staged and checked and left there, with a record of what is
    // on disk, for the update that puts it in place; the words are the
    // background's, and a failure is said as its own.
    bool background = false;
    // The most bytes a second the fetch may bring, asked as it goes (0: no cap).
    std::function<double()> mostBytesPerSecond;
};

// Assembles the build of `record` in its staging folder by pieces, when it has
// an index, pieces aren't switched off, no zip was supplied and an earlier
// build is on disk. A build made ready in the background is taken as it is,
// once its files are as its record of them says (a file changed since is
// hashed again). Other staging folders that hold a build, whole or in part,
// give their pieces too.
PieceOutcome stageByPieces(LauncherState& state, const BuildRecord& record, const JobControl& job,
                           const StageOptions& options = {});

// The staging folder holds the build of `record` whole, made ready in the background.
bool madeReadyInBackground(const LauncherState& state, const BuildRecord& record);

// A try of the build cut short (a pause, a stop, a kill) left pieces written
// in its staging folder, which the next try carries on from.
bool piecesWrittenFor(const LauncherState& state, const BuildRecord& record);

// Once the new build is in place: the fetched pieces, and a broken download of
// its zip that a try before them left, are of no more use.
void forgetFetchedPieces(const LauncherState& state, const BuildRecord& record);

// The folder that kept fetched pieces in earlier releases, removed wherever it is found.
std::wstring fetchedPiecesFolder(const LauncherState& state);
// The folder of the files a check of the build mends, with the record of the
// pieces written into them, kept when a check is cut short.
std::wstring mendingFolder(const LauncherState& state);
// The record of the pieces written, beside what they were written into.
inline constexpr wchar_t kDoneRecordName[] = L"pieces-done.txt";

// What both an update by pieces and a check of the installed build need:
// The game's settings and saves: the player's, never checked against an index.
bool isPlayerData(const std::wstring& path);
// The current server first, then every other one: they publish the same objects.
PieceServers buildServers(const LauncherState& state, const BuildIndex* index);
// The build's index from the servers (named and checked by record.index); `why` on failure.
bool fetchBuildIndex(const LauncherState& state, const BuildRecord& record, const JobControl& job, BuildIndex& index,
                     std::wstring& why);
// The index kept beside an installed build, when it reads as that build's.
bool keptIndex(const LauncherState& state, const std::wstring& commit, BuildIndex& index);

}  // namespace vorlane
