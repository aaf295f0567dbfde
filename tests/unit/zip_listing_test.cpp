// A build zip's own listing, and the check of an unpacked folder against it.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/files.h"
#include "core/text.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "install/zip_listing.h"
#include "support/build_server.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"
#include "support/zip_writer.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::string kTop = "Vorlane-abc1234/";

const ZipEntry* named(const std::vector<ZipEntry>& entries, const std::string& name) {
    for (const ZipEntry& entry : entries)
        if (entry.name == name) return &entry;
    return nullptr;
}

int unpack(const std::wstring& zip, const std::wstring& folder) {
    makeFolderTree(folder);
    return runCaptured(systemTar() + L" -xf \"" + zip + L"\" -C \"" + folder + L"\"", [](const std::string&) {});
}

}  // namespace

TEST(ZipListing, AZipOfTheSystemsTarListsEveryEntryWithItsSize) {
    TempFolder temp;
    const std::wstring zip = makeBuildZip(temp.path(), L"abc1234", 100000);
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(readZipListing(zip, entries));

    long long gameSize = 0;
    ASSERT_TRUE(fileSize(joinPath(testProgramFolder(), L"fake_game\\Vorlane.exe"), gameSize));
    const struct {
        std::string name;
        long long size;
        bool folder;
    } expected[] = {
        {kTop, 0, true},
        {kTop + "Vorlane.exe", gameSize, false},
        {kTop + "Build.ini", (long long)buildIniText(L"abc1234").size(), false},
        {kTop + "Vorlane/Saved/Config/Default.ini", 20, false},
        {kTop + "Content/Paks/Data.pak", 100000, false},
    };
    for (const auto& e : expected) {
        const ZipEntry* entry = named(entries, e.name);
        ASSERT_NE(entry, nullptr) << e.name;
        EXPECT_EQ(entry->isFolder, e.folder) << e.name;
        if (!e.folder) {
            EXPECT_EQ(entry->size, e.size) << e.name;
        }
        EXPECT_FALSE(entry->isLink) << e.name;
    }
}

TEST(ZipListing, ALinkIsToldApartAndWhatIsntAZipIsNotRead) {
    TempFolder temp;
    const std::wstring zip = temp.file(L"links.zip");
    ASSERT_TRUE(writeZip(zip, {{kTop, ""}, {kTop + "Vorlane.exe", "MZ"}, {kTop + "Content", "../../Outside", true}}));
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(readZipListing(zip, entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[0].isFolder);
    EXPECT_FALSE(entries[1].isLink);
    EXPECT_EQ(entries[1].size, 2);
    EXPECT_TRUE(entries[2].isLink);
    EXPECT_FALSE(entries[2].isFolder);

    const std::string whole = readTestFile(zip);
    const std::string cases[] = {"", "not a zip at all", whole.substr(0, whole.size() - 10),
                                 whole.substr(0, whole.size() / 2)};
    for (const std::string& bytes : cases) {
        temp.writeFile(L"broken.zip", bytes);
        EXPECT_FALSE(readZipListing(temp.file(L"broken.zip"), entries)) << bytes.size();
    }
    EXPECT_FALSE(readZipListing(temp.file(L"missing.zip"), entries));
}

TEST(ZipListing, AnUnpackedFolderIsWholeOnlyWithEveryFileAtItsSize) {
    TempFolder temp;
    const std::wstring zip = makeBuildZip(temp.path(), L"abc1234", 5000);
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(readZipListing(zip, entries));
    const std::wstring folder = temp.file(L"Unpacked");
    ASSERT_EQ(unpack(zip, folder), 0);
    const std::string saved = kTop + "Vorlane/Saved/";

    UnpackShortfall whole = compareUnpacked(entries, folder, saved);
    EXPECT_EQ(whole.files, 4u);
    EXPECT_EQ(whole.missing, 0u);

    // The player's own settings may differ in size below Saved; nothing else may.
    ASSERT_TRUE(writeFileAtomically(joinPath(folder, L"Vorlane-abc1234\\Vorlane\\Saved\\Config\\Default.ini"), "x"));
    EXPECT_EQ(compareUnpacked(entries, folder, saved).missing, 0u);
    EXPECT_EQ(compareUnpacked(entries, folder).missing, 1u);

    ASSERT_TRUE(writeFileAtomically(joinPath(folder, L"Vorlane-abc1234\\Build.ini"), "shorter"));
    ASSERT_TRUE(DeleteFileW(joinPath(folder, L"Vorlane-abc1234\\Content\\Paks\\Data.pak").c_str()));
    const UnpackShortfall shortfall = compareUnpacked(entries, folder, saved);
    EXPECT_EQ(shortfall.files, 4u);
    EXPECT_EQ(shortfall.missing, 2u);
    EXPECT_TRUE(shortfall.first == kTop + "Build.ini" || shortfall.first == kTop + "Content/Paks/Data.pak")
        << shortfall.first;
}
