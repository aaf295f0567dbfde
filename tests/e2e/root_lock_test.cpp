// Two launchers on one root folder reached by two spellings, a symbolic link
// and a drive letter of its own: they meet at the same lock, so one waits for
// the other (or refuses when the wait is too long) and the build ends whole.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "install/zip_listing.h"
#include "net/build_server.h"
#include "support/build_server.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"
#include "support/unix_links.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kCommit = L"d4e5f6a";
const std::wstring kBusy =
    L"Failed: Another Vorlane launcher is changing this installation right now, so nothing was changed. Try again "
    L"when it has finished.";

class RootLockSpellings : public LauncherTest, public ::testing::WithParamInterface<const wchar_t*> {
protected:
    RootLockSpellings() : LauncherTest(L"root-lock") {}

    void SetUp() override {
        LauncherTest::SetUp();
        ASSERT_TRUE(makeFolderTree(root));
        if (std::wstring(GetParam()) == L"link") {
            other = temp.file(L"Link");
            ASSERT_TRUE(makeFolderLink(other, root));
        } else {
            drive = std::make_unique<DriveLetter>(temp.path());
            ASSERT_FALSE(drive->drive().empty());
            other = drive->drive() + L"\\Root";
        }
        ASSERT_TRUE(folderExists(other));
    }

    // The arguments of a launcher on the root as `spelling` names it.
    std::vector<std::wstring> on(const std::wstring& spelling, const std::wstring& serverUrl) const {
        return launcherArguments({L"--root", spelling, L"--auto", L"install"}, serverUrl);
    }

    // The installed build holds every file of the published zip at its size, and nothing half-done is left.
    void expectWholeBuild(const std::wstring& zip) {
        EXPECT_EQ(setting(L"Current"), kCommit);
        std::vector<ZipEntry> listing;
        ASSERT_TRUE(readZipListing(zip, listing));
        const std::wstring target = joinPath(root, L"Game\\" + kCommit);
        const UnpackShortfall shortfall = compareUnpacked(listing, target, toUtf8(L"Vorlane-" + kCommit) + "/Vorlane/Saved/");
        EXPECT_EQ(shortfall.missing, 0u) << shortfall.first;
        EXPECT_FALSE(pathExists(target + L".new"));
    }

    // The end of the log, for a failure's message.
    std::string lastLines() const {
        const std::vector<std::wstring> lines = log();
        std::string text;
        for (size_t i = lines.size() > 12 ? lines.size() - 12 : 0; i < lines.size(); ++i) text += toUtf8(lines[i]) + "\n";
        return text;
    }

    std::wstring other;
    std::unique_ptr<DriveLetter> drive;
};

}  // namespace

// The first launcher downloads slowly, holding the lock; the second, on the
// other spelling, waits its while and refuses; the first ends with the build whole.
TEST_P(RootLockSpellings, TheSecondLauncherWaitsThenRefusesWithTheLocksSentence) {
    const std::wstring zip = server->publishBuild(kCommit, L"2026-06-01T10:00:00Z", 8 << 20);
    LauncherProcess first(testKeyLauncher(), on(root, server->slowUrl()));
    ASSERT_TRUE(first.started());
    const std::wstring part = joinPath(root, L"Downloads\\" + buildZipName(kCommit) + L".part");
    ASSERT_TRUE(waitFor([&] { return fileExists(part); }, 60000));

    EXPECT_EQ(runToEnd(testKeyLauncher(), on(other, server->slowUrl()), 120000), 1u);
    const std::vector<std::wstring> refused = log();
    EXPECT_TRUE(contains(refused, kBusy));
    EXPECT_TRUE(contains(refused, L"Done (install, exit 1, installed: nothing)."));
    // The first was still at its download when the second gave up.
    EXPECT_FALSE(contains(refused, L"Installed build " + kCommit + L" (previous: none)."));

    EXPECT_EQ(first.wait(180000), 0u);
    EXPECT_TRUE(contains(log(), L"Installed build " + kCommit + L" (previous: none)."));
    expectWholeBuild(zip);
}

// Pairs started at offsets across a whole install: each second launcher takes
// its turn after the first or refuses, and every pair leaves the build whole.
TEST_P(RootLockSpellings, PairsAtOffsetsAcrossAnInstallLeaveTheBuildWhole) {
    const std::wstring zip = server->publishBuild(kCommit, L"2026-06-01T10:00:00Z", 2 << 20);
    for (int pair = 0; pair < 5; ++pair) {
        SCOPED_TRACE(pair);
        const std::wstring firstRoot = pair % 2 ? other : root, secondRoot = pair % 2 ? root : other;
        LauncherProcess first(testKeyLauncher(), on(firstRoot, server->url()));
        ASSERT_TRUE(first.started());
        Sleep(pair * 400);  // the second starts later in the first's install each time
        LauncherProcess second(testKeyLauncher(), on(secondRoot, server->url()));
        ASSERT_TRUE(second.started());
        const DWORD firstCode = first.wait(180000), secondCode = second.wait(180000);
        // One installs; the other installs after it, or refuses when its wait was too long.
        EXPECT_TRUE(firstCode == 0 || secondCode == 0) << firstCode << " " << secondCode;
        for (DWORD code : {firstCode, secondCode}) EXPECT_TRUE(code == 0 || code == 1) << code;
        if (firstCode == 1 || secondCode == 1) {
            EXPECT_TRUE(contains(log(), kBusy)) << lastLines();
        }
        expectWholeBuild(zip);
    }
}

INSTANTIATE_TEST_SUITE_P(Spellings, RootLockSpellings, ::testing::Values(L"link", L"drive"),
                         [](const auto& info) { return std::string(info.param == std::wstring(L"link") ? "Link" : "Drive"); });
