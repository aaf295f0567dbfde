#include "install/build_list.h"

#include <windows.h>

#include <algorithm>

#include "core/files.h"
#include "core/handles.h"
#include "core/iso_time.h"
#include "core/json.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/value_count.h"
#include "net/build_server.h"
#include "net/release_key.h"
#include "net/signature.h"

namespace vorlane {

bool isCommitId(const std::wstring& text) {
    if (text.size() < 7 || text.size() > 40) return false;
    return std::all_of(text.begin(), text.end(),
                       [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); });
}

std::wstring commitOfBuildZip(const std::wstring& fileName) {
    const std::wstring prefix = kBuildZipPrefix, suffix = kBuildZipSuffix;
    if (fileName.size() <= prefix.size() + suffix.size() || !fileName.starts_with(prefix) ||
        !fileName.ends_with(suffix))
        return {};
    std::wstring commit = fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
    return isCommitId(commit) ? commit : std::wstring();
}

namespace {

// Newest first; equal or unreadable times keep their order, unreadable ones last.
void sortNewestFirst(std::vector<BuildRecord>& builds) {
    std::stable_sort(builds.begin(), builds.end(), [](const BuildRecord& a, const BuildRecord& b) {
        return parseIsoTime(a.released) > parseIsoTime(b.released);
    });
}

}  // namespace

std::vector<BuildRecord> readBuildRecords(const std::string& text) {
    std::vector<BuildRecord> builds;
    for (const FlatRecord& entry : readFlatRecords(text)) {
        BuildRecord record;
        record.file = field(entry, "File");
        record.commit = field(entry, "Commit");
        record.released = field(entry, "Released");
        record.sha256 = field(entry, "Sha256");
        record.summary = field(entry, "Summary");
        long long size = 0;
        if (parseSigned64(field(entry, "Size"), size)) record.size = size;
        record.index = field(entry, "Index");
        if (!isCommitId(record.commit) || record.file != buildZipName(record.commit)) continue;
        builds.push_back(std::move(record));
    }
    sortNewestFirst(builds);
    return builds;
}

void putBuildRecord(std::vector<BuildRecord>& builds, const BuildRecord& record) {
    std::erase_if(builds, [&](const BuildRecord& listed) { return listed.commit == record.commit; });
    builds.push_back(record);
    sortNewestFirst(builds);
}

std::string buildListJson(const std::vector<BuildRecord>& builds) {
    std::string text = "[\n";
    for (size_t i = 0; i < builds.size(); ++i) {
        const BuildRecord& record = builds[i];
        text += "  {\"File\": " + quoteJson(record.file) + ", \"Commit\": " + quoteJson(record.commit) +
                ", \"Released\": " + quoteJson(record.released) + ", \"Sha256\": " + quoteJson(record.sha256) +
                ", \"Summary\": " + quoteJson(record.summary) + ", \"Size\": " + std::to_string(record.size) +
                (record.index.empty() ? std::string() : ", \"Index\": " + quoteJson(record.index)) + "}" +
                (i + 1 < builds.size() ? ",\n" : "\n");
    }
    return text + "]\n";
}

BuildListFetch fetchBuildList(const std::vector<std::wstring>& servers, const std::wstring& newestList) {
    BuildListFetch fetch;
    std::vector<BuildRecord> accepted;

    RefusalRule notSigned = [](const SignedDocument& document) {
        return Refusal{L"The build list from " + document.server +
                           L" isn't signed with Vorlane's key, so nothing from it is installed.",
                       L"the list isn't signed", L""};
    };
    RefusalRule notOlder = [&](const SignedDocument& document) {
        // Counted before it is read: a signed list of millions of values would take gigabytes.
        if (!atMostJsonValues(document.bytes))
            return Refusal{L"The build list from " + document.server +
                               L" is too big to read, so nothing from it is installed.",
                           L"the list is too big to read",
                           L"more than " + std::to_wstring(kMostJsonValues) + L" JSON values"};
        std::vector<BuildRecord> builds = readBuildRecords(document.bytes);
        const long long seen = parseIsoTime(newestList);
        // A developer's build takes any list; so does a launcher that has seen none.
        bool accept = isDeveloperBuild() || seen < 0 ||
                      (!builds.empty() && parseIsoTime(builds.front().released) >= seen);
        if (accept) {
            accepted = std::move(builds);
            return Refusal{};
        }
        return Refusal{L"The build list from " + document.server +
                           L" is older than one this launcher has already had (whose newest build came out " +
                           formatReleased(newestList) + L"), so nothing from it is installed.",
                       L"the list is older than one already had",
                       L"its newest build: " + (builds.empty() ? std::wstring(L"none") : builds.front().released)};
    };

    ServerWalk walk = walkServers(servers, kBuildListName, notSigned, notOlder);
    fetch.notes = walk.lines;
    fetch.anyAnswered = walk.anyAnswered;
    if (!walk.found) {
        fetch.refusal = walk.lastRefusal.sentence;
        fetch.refusalReason = walk.lastRefusal.reason;
        return fetch;
    }
    fetch.builds = std::move(accepted);
    fetch.source = walk.document.server;
    fetch.notes.push_back(L"The build server at " + fetch.source + L" lists " + std::to_wstring(fetch.builds.size()) +
                          L" builds; the latest is " +
                          (fetch.builds.empty() ? std::wstring(L"none") : fetch.builds.front().commit) + L".");
    return fetch;
}

void applyBuildList(LauncherState& state, const BuildListFetch& fetch) {
    state.builds = fetch.builds;
    state.listSource = fetch.source;
    if (!state.listSource.empty() && state.listSource != readSetting(state, L"LastServer")) {
        writeSetting(state, L"LastServer", state.listSource);
        moveServerToFront(state.servers, state.listSource);
    }
    state.listRefusal = fetch.refusal;
    state.listRefusalReason = fetch.refusalReason;
    if (!state.builds.empty() && !isDeveloperBuild()) {
        const std::wstring& newest = state.builds.front().released;
        if (parseIsoTime(readSetting(state, L"NewestList")) < parseIsoTime(newest))
            writeSetting(state, L"NewestList", newest);
    }
}

void fetchBuildListAtStart(LauncherState& state) {
    BuildListFetch fetch = fetchBuildList(state.servers, readSetting(state, L"NewestList"));
    for (const std::wstring& note : fetch.notes) logLine(state, note);
    applyBuildList(state, fetch);
}

bool updateDue(const LauncherState& state) {
    if (state.builds.empty()) return false;
    const std::wstring& newest = state.builds.front().commit;
    if (newest != state.current && newest != state.heldBack) return true;
    return !state.currentFilesPresent;
}

static bool sameRecord(const BuildRecord& a, const BuildRecord& b) {
    return a.file == b.file && a.commit == b.commit && a.released == b.released && a.sha256 == b.sha256 &&
           a.summary == b.summary && a.size == b.size && a.index == b.index;
}

bool sameList(const LauncherState& state, const BuildListFetch& fetch) {
    return fetch.source == state.listSource && fetch.refusal == state.listRefusal &&
           std::equal(fetch.builds.begin(), fetch.builds.end(), state.builds.begin(), state.builds.end(), sameRecord);
}

std::wstring whatsNewText(const LauncherState& state) {
    if (state.builds.empty()) {
        std::wstring why = !state.listRefusal.empty()
                               ? state.listRefusal
                               : L"Couldn't reach the build server, so there's no list of what's new.";
        return why + L" You can still play what's installed.";
    }
    std::wstring text;
    bool uptoCurrent = false;
    if (state.current.empty()) {
        text = L"The latest builds:\n\n";
    } else if (state.current == state.builds.front().commit) {
        text = L"You have the latest build (" + state.current + L"). The latest builds:\n\n";
    } else {
        text = L"New since your build (" + state.current + L"):\n\n";
        uptoCurrent = true;
    }
    size_t shown = 0;
    for (const BuildRecord& build : state.builds) {
        if (shown == 8 || (uptoCurrent && build.commit == state.current)) break;
        text += L"Build " + build.commit + L", " + formatReleased(build.released) + L"\n" +
                (build.summary.empty() ? std::wstring(L"(no notes)") : build.summary) + L"\n\n";
        ++shown;
    }
    return text + L"How to play and the full notes are in HOW_TO_PLAY.txt in the game's folder.";
}

std::wstring formatReleased(const std::wstring& text) {
    if (text.size() < 16) return text;
    // The date and time as written, read as if they were UTC, so that no zone is converted.
    // Whole minutes are never -1, so -1 can only mean that the text isn't a date and time.
    const long long ticks = parseIsoTime(text.substr(0, 16) + L":00Z");
    if (ticks == -1) return text;
    constexpr long long ticksPerMinute = 600000000;
    const long long minutes = ticks / ticksPerMinute - (ticks % ticksPerMinute < 0);
    const long long days = minutes / 1440 - (minutes % 1440 < 0);
    const int minuteOfDay = (int)(minutes - days * 1440);
    const int hour = minuteOfDay / 60, minute = minuteOfDay % 60;
    const int weekday = (int)(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    const int year = std::stoi(text.substr(0, 4)), month = std::stoi(text.substr(5, 2)),
              day = std::stoi(text.substr(8, 2));
    static const wchar_t* const weekdays[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
    static const wchar_t* const months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                            L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    wchar_t out[64];
    swprintf(out, 64, L"%ls %d %ls %d, %d:%02d %ls", weekdays[weekday], day, months[month - 1], year, hour12, minute,
             hour < 12 ? L"AM" : L"PM");
    return out;
}

std::wstring zipBesideLauncher(const LauncherState& state) {
    const std::wstring folder = parentFolder(ownProgramPath());
    if (!state.builds.empty()) {
        std::wstring zip = joinPath(folder, state.builds.front().file);
        return fileExists(zip) ? zip : std::wstring();
    }
    if (!state.current.empty() && state.currentFilesPresent) return {};

    std::wstring latest;
    uint64_t latestTime = 0;
    for (const FolderEntry& entry : listFolder(folder, buildZipPattern())) {
        if (entry.isFolder) continue;
        if (latest.empty() || entry.lastWriteTime > latestTime) {
            latest = joinPath(folder, entry.name);
            latestTime = entry.lastWriteTime;
        }
    }
    return latest;
}

void lookForZipBesideLauncher(LauncherState& state) {
    if (!state.zipPath.empty()) return;
    state.zipPath = zipBesideLauncher(state);
    state.zipLookedFor = true;
    if (!state.zipPath.empty()) logLine(state, L"Installs come from " + state.zipPath + L" beside the launcher.");
}

}  // namespace vorlane
