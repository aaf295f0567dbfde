// The signed build list (builds.json): which builds exist, whether a list
// counts, whether an update is due, the What's new text, and a build zip
// lying beside the launcher.
#pragma once

#include <string>
#include <vector>

#include "core/launcher_state.h"
#include "core/build_record.h"

namespace vorlane {

// The outcome of one walk over the build servers.
struct BuildListFetch {
    std::vector<BuildRecord> builds;  // the accepted list, newest first; empty when none counted
    std::wstring source;              // the server whose list was accepted
    std::wstring refusal;             // why the last refused list did not count
    std::wstring refusalReason;       // the short form of the same
    bool anyAnswered = false;         // some server answered the request for builds.json
    std::vector<std::wstring> notes;  // lines for the log, in order
};

// A commit id: 7 to 40 characters of 0-9 and a-f.
bool isCommitId(const std::wstring& text);

// The commit of a build zip's file name, "Vorlane-" + commit + ".zip" exactly;
// empty when the name isn't one.
std::wstring commitOfBuildZip(const std::wstring& fileName);

// The usable builds of a list's text, newest first (a stable sort; unreadable
// times last). Records with a bad commit or a file name other than
// "Vorlane-" + commit + ".zip" are dropped.
std::vector<BuildRecord> readBuildRecords(const std::string& text);

// Puts record into builds in place of one of the same commit, and keeps the
// list newest first as readBuildRecords does.
void putBuildRecord(std::vector<BuildRecord>& builds, const BuildRecord& record);

// The text of builds.json: an array of the records in order, one per line,
// with the members File, Commit, Released, Sha256, Summary and Size, and
// Index when the build has an index of pieces.
std::string buildListJson(const std::vector<BuildRecord>& builds);

// Looks for a list that counts, server by server. Touches no shared state, so
// it may run on a worker thread with copies of the servers and NewestList.
BuildListFetch fetchBuildList(const std::vector<std::wstring>& servers, const std::wstring& newestList);

// Takes a fetch into the state; records LastServer and NewestList.
void applyBuildList(LauncherState& state, const BuildListFetch& fetch);

// The start-up fetch: its notes go to the log, and the result into the state.
void fetchBuildListAtStart(LauncherState& state);

bool updateDue(const LauncherState& state);
bool sameList(const LauncherState& state, const BuildListFetch& fetch);
std::wstring whatsNewText(const LauncherState& state);

// "Wed 14 Oct 2026, 9:20 PM" from a time stamp as written (no zone conversion);
// a text shorter than 16 characters comes back unchanged.
std::wstring formatReleased(const std::wstring& text);

// A build zip beside the running launcher to install from, or empty.
std::wstring zipBesideLauncher(const LauncherState& state);

// The start-up search: when no zip was given, takes the one beside the
// launcher (logging where installs come from) and notes that it looked.
void lookForZipBesideLauncher(LauncherState& state);

}  // namespace vorlane
