// The build list: which records count, which lists count, and what the player is told.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include "core/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/value_count.h"
#include "install/build_list.h"
#include "support/launcher_process.h"
#include "support/signing_key.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

std::string record(const std::string& commit, const std::string& released, const std::string& summary = "",
                   const std::string& file = "") {
    return "{\"File\":\"" + (file.empty() ? "Vorlane-" + commit + ".zip" : file) + "\",\"Commit\":\"" + commit +
           "\",\"Released\":\"" + released + "\",\"Sha256\":\"" + std::string(64, 'a') + "\",\"Summary\":\"" +
           summary + "\",\"Size\":12345}";
}

std::string list(std::initializer_list<std::string> records) {
    std::string text = "[";
    for (const std::string& r : records) text += (text.size() > 1 ? ",\n" : "\n") + r;
    return text + "\n]\n";
}

std::vector<std::wstring> commits(const std::vector<BuildRecord>& builds) {
    std::vector<std::wstring> out;
    for (const BuildRecord& b : builds) out.push_back(b.commit);
    return out;
}

}  // namespace

TEST(BuildRecords, OnlyWellFormedCommitsAndMatchingFileNamesCount) {
    auto builds = readBuildRecords(list({
        record("abcdef1", "2026-01-01T00:00:00Z"),
        record("ABCDEF2", "2026-01-01T00:00:00Z"),                    // upper case
        record("abcde1", "2026-01-01T00:00:00Z"),                     // six characters
        record(std::string(41, 'a'), "2026-01-01T00:00:00Z"),         // 41 characters
        record(std::string(40, 'b'), "2026-01-01T00:00:00Z"),         // 40 is fine
        record("abcdef3", "2026-01-01T00:00:00Z", "", "vorlane-abcdef3.zip"),
        record("abcdef4", "2026-01-01T00:00:00Z", "", "..\\Vorlane-abcdef4.zip"),
        record("abcdefg", "2026-01-01T00:00:00Z"),                    // not hex
    }));
    EXPECT_EQ(commits(builds), (std::vector<std::wstring>{L"abcdef1", std::wstring(40, L'b')}));
    EXPECT_EQ(builds[0].size, 12345);
    EXPECT_EQ(builds[0].sha256, std::wstring(64, L'a'));
}

TEST(BuildRecords, NewestFirstStableAndUnreadableTimesLast) {
    auto builds = readBuildRecords(list({
        record("1111111", "garbage"),
        record("2222222", "2026-01-01T00:00:00Z"),
        record("3333333", "2026-03-01T00:00:00Z"),
        record("4444444", "2026-01-01T00:00:00Z"),
        record("5555555", "2026-01-01T01:00:00+01:00"),  // the same instant as 2222222
        record("6666666", ""),
    }));
    EXPECT_EQ(commits(builds), (std::vector<std::wstring>{L"3333333", L"2222222", L"4444444", L"5555555", L"1111111",
                                                          L"6666666"}));
}

TEST(BuildRecords, AListWrittenWithARecordPutInReadsBackNewestFirst) {
    std::vector<BuildRecord> builds = readBuildRecords(list({record("2222222", "2026-02-01T00:00:00Z"),
                                                             record("1111111", "2026-01-01T00:00:00Z")}));
    putBuildRecord(builds, {L"Vorlane-2222222.zip", L"2222222", L"2025-12-01T00:00:00Z", L"", L"\"Night\" \\ map\n", 7});
    const std::vector<BuildRecord> read = readBuildRecords(buildListJson(builds));
    EXPECT_EQ(commits(read), (std::vector<std::wstring>{L"1111111", L"2222222"}));
    EXPECT_EQ(read.back().summary, L"\"Night\" \\ map\n");
    EXPECT_EQ(read.back().size, 7);
}

TEST(BuildRecords, TheCommitOfABuildZipsName) {
    EXPECT_EQ(commitOfBuildZip(L"Vorlane-abc1234.zip"), L"abc1234");
    for (const wchar_t* name : {L"Vorlane-abc123.zip", L"Vorlane-ABC1234.zip", L"vorlane-abc1234.zip",
                                L"Vorlane-abc1234.ZIP", L"Vorlane-.zip", L"Vorlane-abc1234.zip.part", L""})
        EXPECT_EQ(commitOfBuildZip(name), L"") << toUtf8(name);
}

TEST(BuildRecords, HostileTextGivesNoRecordsAndNoCrash) {
    EXPECT_TRUE(readBuildRecords("").empty());
    EXPECT_TRUE(readBuildRecords(std::string(100000, '{')).empty());
    EXPECT_TRUE(readBuildRecords("\xEF\xBB\xBF garbage \xFF\xFE").empty());
    EXPECT_TRUE(readBuildRecords("{\"Commit\":\"abcdef1\",\"File\":\"Vorlane-abcdef1.zip\"").size() == 1);
}

TEST(FormatReleased, PeopleReadTwelveHourTimesWithWeekdays) {
    EXPECT_EQ(formatReleased(L"2026-10-14T21:20:58Z"), L"Wed 14 Oct 2026, 9:20 PM");
    EXPECT_EQ(formatReleased(L"2026-10-14T00:05:00Z"), L"Wed 14 Oct 2026, 12:05 AM");
    EXPECT_EQ(formatReleased(L"2026-10-14T12:00:00Z"), L"Wed 14 Oct 2026, 12:00 PM");
    EXPECT_EQ(formatReleased(L"2024-02-29T11:59:00+05:00"), L"Thu 29 Feb 2024, 11:59 AM");  // no zone conversion
    EXPECT_EQ(formatReleased(L"2000-01-01T00:00"), L"Sat 1 Jan 2000, 12:00 AM");
    EXPECT_EQ(formatReleased(L"1969-12-31T23:59:59Z"), L"Wed 31 Dec 1969, 11:59 PM");
    EXPECT_EQ(formatReleased(L"2026-13-01T00:00:00Z"), L"2026-13-01T00:00:00Z");  // no such month
    EXPECT_EQ(formatReleased(L"2026-10-14T21:2"), L"2026-10-14T21:2");  // 15 characters
    EXPECT_EQ(formatReleased(L""), L"");
}

TEST(UpdateDue, FollowsTheNewestBuildButNotOneThePlayerLeft) {
    LauncherState state;
    EXPECT_FALSE(updateDue(state));
    state.builds = readBuildRecords(list({record("bbbbbbb", "2026-02-01T00:00:00Z"),
                                          record("aaaaaaa", "2026-01-01T00:00:00Z")}));
    EXPECT_TRUE(updateDue(state));  // nothing installed
    state.current = L"aaaaaaa";
    state.currentFilesPresent = true;
    EXPECT_TRUE(updateDue(state));
    state.heldBack = L"bbbbbbb";
    EXPECT_FALSE(updateDue(state));  // went back from it
    state.currentFilesPresent = false;
    EXPECT_TRUE(updateDue(state));  // a broken install is repaired
    state.current = L"bbbbbbb";
    state.heldBack.clear();
    state.currentFilesPresent = true;
    EXPECT_FALSE(updateDue(state));
}

TEST(WhatsNew, HeadingsAndEntriesDependOnWhatIsInstalled) {
    LauncherState state;
    EXPECT_EQ(whatsNewText(state),
              L"Couldn't reach the build server, so there's no list of what's new. You can still play what's installed.");
    state.listRefusal = L"The build list from X isn't signed with Vorlane's key, so nothing from it is installed.";
    EXPECT_EQ(whatsNewText(state), state.listRefusal + L" You can still play what's installed.");

    state.builds = readBuildRecords(list({record("ccccccc", "2026-10-14T21:20:58Z", "Frost towers."),
                                          record("bbbbbbb", "2026-10-13T09:00:00Z"),
                                          record("aaaaaaa", "2026-10-12T09:00:00Z", "First.")}));
    const std::wstring tail = L"How to play and the full notes are in HOW_TO_PLAY.txt in the game's folder.";
    EXPECT_EQ(whatsNewText(state), L"The latest builds:\n\nBuild ccccccc, Wed 14 Oct 2026, 9:20 PM\nFrost towers.\n\n"
                                   L"Build bbbbbbb, Tue 13 Oct 2026, 9:00 AM\n(no notes)\n\n"
                                   L"Build aaaaaaa, Mon 12 Oct 2026, 9:00 AM\nFirst.\n\n" + tail);
    state.current = L"bbbbbbb";
    EXPECT_EQ(whatsNewText(state),
              L"New since your build (bbbbbbb):\n\nBuild ccccccc, Wed 14 Oct 2026, 9:20 PM\nFrost towers.\n\n" + tail);
    state.current = L"ccccccc";
    EXPECT_EQ(whatsNewText(state).rfind(L"You have the latest build (ccccccc). The latest builds:\n\nBuild ccccccc", 0),
              0u);
}

TEST(WhatsNew, ShowsAtMostEightEntries) {
    LauncherState state;
    std::string text = "[";
    for (int i = 0; i < 12; ++i)
        text += record("aaaaaa" + std::string(1, "0123456789ab"[i]), "2026-01-" + std::to_string(10 + i) + "T00:00:00Z") +
                ",";
    state.builds = readBuildRecords(text + "]");
    ASSERT_EQ(state.builds.size(), 12u);
    std::wstring shown = whatsNewText(state);
    size_t entries = 0;
    for (size_t at = shown.find(L"Build "); at != std::wstring::npos; at = shown.find(L"Build ", at + 1)) ++entries;
    EXPECT_EQ(entries, 8u);
}

class BuildListFetchTest : public ::testing::Test {
protected:
    TestHttpServer first, second;
    std::optional<SigningKey> key = testSigningKey();
    const std::string newer = list({record("bbbbbbb", "2026-02-01T00:00:00Z"), record("aaaaaaa", "2026-01-01T00:00:00Z")});

    void SetUp() override { ASSERT_TRUE(key.has_value()); }
    void publish(TestHttpServer& server, const std::string& text, bool sign = true) {
        server.serve("/builds.json", text);
        if (sign) server.serve("/builds.json.sig", key->sign(text));
    }
};

TEST_F(BuildListFetchTest, TheFirstSignedListCounts) {
    publish(first, newer);
    BuildListFetch fetch = fetchBuildList({first.baseUrl(), second.baseUrl()}, L"");
    EXPECT_EQ(fetch.source, first.baseUrl());
    EXPECT_TRUE(fetch.anyAnswered);
    EXPECT_EQ(commits(fetch.builds), (std::vector<std::wstring>{L"bbbbbbb", L"aaaaaaa"}));
    ASSERT_EQ(fetch.notes.size(), 1u);
    EXPECT_EQ(fetch.notes[0], L"The build server at " + first.baseUrl() + L" lists 2 builds; the latest is bbbbbbb.");
    EXPECT_TRUE(second.requests().empty());
}

TEST_F(BuildListFetchTest, AnUnsignedListIsPassedOverForTheNext) {
    publish(first, newer, false);
    publish(second, newer);
    BuildListFetch fetch = fetchBuildList({first.baseUrl(), second.baseUrl()}, L"");
    EXPECT_EQ(fetch.source, second.baseUrl());
    ASSERT_EQ(fetch.notes.size(), 2u);
    EXPECT_EQ(fetch.notes[0], L"The build list from " + first.baseUrl() +
                                  L" isn't signed with Vorlane's key, so nothing from it is installed. (builds.json.sig: "
                                  L"The build server answered 404.)");
    EXPECT_TRUE(fetch.refusal.empty());
}

TEST_F(BuildListFetchTest, AListOlderThanOneAlreadyHadIsRefused) {
    publish(first, list({record("aaaaaaa", "2026-01-01T00:00:00Z")}));
    publish(second, newer);
    BuildListFetch fetch = fetchBuildList({first.baseUrl(), second.baseUrl()}, L"2026-02-01T00:00:00Z");
    EXPECT_EQ(fetch.source, second.baseUrl());
    ASSERT_EQ(fetch.notes.size(), 2u);
    EXPECT_EQ(fetch.notes[0], L"The build list from " + first.baseUrl() +
                                  L" is older than one this launcher has already had (whose newest build came out Sun 1 "
                                  L"Feb 2026, 12:00 AM), so nothing from it is installed. (its newest build: "
                                  L"2026-01-01T00:00:00Z)");
}

TEST_F(BuildListFetchTest, AnEmptySignedListCountsOnlyWhenNothingWasSeen) {
    publish(first, "[]");
    BuildListFetch seen = fetchBuildList({first.baseUrl()}, L"2026-02-01T00:00:00Z");
    EXPECT_TRUE(seen.source.empty());
    EXPECT_EQ(seen.refusalReason, L"the list is older than one already had");
    EXPECT_EQ(seen.notes.back().substr(seen.notes.back().size() - 24), L"(its newest build: none)");
    BuildListFetch fresh = fetchBuildList({first.baseUrl()}, L"");
    EXPECT_EQ(fresh.source, first.baseUrl());
    EXPECT_EQ(fresh.notes.back(), L"The build server at " + first.baseUrl() + L" lists 0 builds; the latest is none.");
}

TEST_F(BuildListFetchTest, WhenNoneCountsTheLastRefusalIsKept) {
    publish(first, newer, false);
    std::wstring down = unusedLocalServer();
    BuildListFetch fetch = fetchBuildList({first.baseUrl(), down}, L"");
    EXPECT_TRUE(fetch.builds.empty());
    EXPECT_TRUE(fetch.anyAnswered);
    EXPECT_EQ(fetch.refusalReason, L"the list isn't signed");
    ASSERT_EQ(fetch.notes.size(), 2u);
    EXPECT_EQ(fetch.notes[1], down + L": Couldn't reach 127.0.0.1.");

    BuildListFetch nobody = fetchBuildList({down}, L"");
    EXPECT_FALSE(nobody.anyAnswered);
    EXPECT_TRUE(nobody.refusal.empty());
}

TEST_F(BuildListFetchTest, ApplyingRecordsTheServerAndTheNewestTime) {
    TempFolder temp;
    LauncherState state;
    state.rootFolder = temp.path();
    state.servers = {first.baseUrl(), second.baseUrl()};
    loadSettings(state);
    publish(second, newer);
    BuildListFetch fetch = fetchBuildList(state.servers, readSetting(state, L"NewestList"));
    EXPECT_FALSE(sameList(state, fetch));
    applyBuildList(state, fetch);
    EXPECT_TRUE(sameList(state, fetch));
    EXPECT_EQ(state.servers.front(), second.baseUrl());
    EXPECT_EQ(readSetting(state, L"LastServer"), second.baseUrl());
    EXPECT_EQ(readSetting(state, L"NewestList"), L"2026-02-01T00:00:00Z");

    // NewestList only moves forward.
    BuildListFetch older = fetch;
    older.builds = readBuildRecords(list({record("aaaaaaa", "2026-01-01T00:00:00Z")}));
    applyBuildList(state, older);
    EXPECT_EQ(readSetting(state, L"NewestList"), L"2026-02-01T00:00:00Z");
    closeLog(state);
}

// A list of `values` JSON values in all: an array of zeros.
static std::string listOfValues(size_t values) {
    std::string text = "[";
    for (size_t i = 2; i < values; ++i) text += "0,";
    return text + "0]";
}

TEST_F(BuildListFetchTest, ASignedListOfMoreValuesThanTheBoundIsRefusedUnreadAndTheNextCounts) {
    publish(first, listOfValues(kMostJsonValues + 1));
    publish(second, newer);
    BuildListFetch fetch = fetchBuildList({first.baseUrl(), second.baseUrl()}, L"");
    EXPECT_EQ(fetch.source, second.baseUrl());
    ASSERT_EQ(fetch.notes.size(), 2u);
    EXPECT_EQ(fetch.notes[0], L"The build list from " + first.baseUrl() +
                                  L" is too big to read, so nothing from it is installed. (more than 1048576 JSON "
                                  L"values)");

    BuildListFetch alone = fetchBuildList({first.baseUrl()}, L"");
    EXPECT_TRUE(alone.source.empty());
    EXPECT_EQ(alone.refusalReason, L"the list is too big to read");
    EXPECT_EQ(alone.refusal,
              L"The build list from " + first.baseUrl() + L" is too big to read, so nothing from it is installed.");

    // At the bound the list is read (it lists no build).
    publish(first, listOfValues(kMostJsonValues));
    EXPECT_EQ(fetchBuildList({first.baseUrl()}, L"").source, first.baseUrl());
}

// Ten million empty records (30 MB) would take gigabytes as records; counted
// first, the refusal costs little more than the bytes themselves.
TEST_F(BuildListFetchTest, AHugeSignedListIsRefusedWithinAFewHundredMegabytes) {
    PROCESS_MEMORY_COUNTERS before{};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
    {
        std::string huge = "[";
        huge.reserve(30000002);
        for (int i = 0; i < 10000000; ++i) huge += "{},";
        huge += "{}]";
        publish(first, huge);
    }
    BuildListFetch fetch = fetchBuildList({first.baseUrl()}, L"");
    EXPECT_EQ(fetch.refusalReason, L"the list is too big to read");
    PROCESS_MEMORY_COUNTERS after{};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
    RecordProperty("PeakMB", std::to_string(after.PeakWorkingSetSize >> 20));
    RecordProperty("PeakBeforeMB", std::to_string(before.PeakWorkingSetSize >> 20));
    EXPECT_LT(after.PeakWorkingSetSize, before.PeakWorkingSetSize + (300u << 20))
        << "peak " << (after.PeakWorkingSetSize >> 20) << " MB";
}
