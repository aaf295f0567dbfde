// Updates by pieces: when the build to install has an index of pieces and an
// earlier build is on disk, the new build's folder is assembled in the staging
// folder from the pieces the disk already has and only the missing ones are
// fetched, several at a time. Whatever goes wrong on the way is said in one
// log sentence, and the install carries on from the zip as it always did.
// Also checks an installed build against its index and mends what changed.
#pragma once

#include <cstdint>
#include <string>

#include "core/build_record.h"
#include "core/job.h"
#include "core/launcher_state.h"
#include "pieces/build_index.h"

namespace vorlane {

// The setting that switches updates by pieces off ("Pieces=off"): every build
// is then installed from its zip, as by a launcher that knows no pieces.
// "Pieces=always" takes a first install by pieces too, with nothing on disk.
inline constexpr wchar_t kPiecesSetting[] = L"Pieces";
// Most pieces fetched at the same time.
constexpr unsigned kPiecesInFlight = 4;

enum class PieceOutcome {
    Staged,  // the staging folder holds the whole build, every file checked
    UseZip,  // not for pieces, or it didn't work out (said in the log): the zip is used
    Stopped, // the job was asked to stop; the fetched pieces are kept for the next try
    Refused, // the disk hasn't room for the pieces and the build (lastError says so); nothing was fetched
};

// Assembles the build of `record` in its staging folder by pieces, when it has
// an index, pieces aren't switched off, no zip was supplied and an earlier
// build is on disk.
PieceOutcome stageByPieces(LauncherState& state, const BuildRecord& record, const JobControl& job);

// Once the new build is in place: the fetched pieces, and a broken download of
// its zip that a try before them left, are of no more use.
void forgetFetchedPieces(const LauncherState& state, const BuildRecord& record);

// The folder that keeps fetched pieces until the build they are for is in place.
std::wstring fetchedPiecesFolder(const LauncherState& state);

// "1,024 MB": whole MiB with a comma between each three digits.
std::wstring groupedMiB(uint64_t bytes);

enum class VerifyOutcome {
    AsPublished,  // every file is as published: it was, or it was mended
    NotChecked,   // nothing to check against, the check stopped, or a file couldn't be read
    NotMended,    // checked, but a file couldn't be mended (lastError names each)
};

// Checks every file of the installed build against its index (the Saved folder
// left out), mends damaged and missing files by pieces (or, with pieces
// switched off, from the build's zip), or reinstalls the build from its zip
// when no index is known, and checks again. A folder standing where a file
// belongs is moved aside, never deleted. Logs what it found; lastError says
// why when the outcome isn't AsPublished.
VerifyOutcome verifyInstalledBuild(LauncherState& state, const JobControl& job);

}  // namespace vorlane
