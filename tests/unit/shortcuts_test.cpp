// The Desktop and Start Menu shortcuts: what a made one holds, and what an install,
// a start-up repair and an uninstall do to them. Every shortcut lives below a
// temporary shortcut folder; the user's real Desktop and Start Menu are never touched.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <algorithm>

#include "core/files.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/text.h"
#include "install/shortcuts.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// Wine keeps no SLDF_FORCE_NO_LINKTRACK in a saved link: everything it reads back is tracked.
bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

constexpr const char* kWineDropsTheFlag = "Wine doesn't store SLDF_FORCE_NO_LINKTRACK in a saved shortcut";

// Everything a saved link holds that the launcher sets.
struct LinkFields {
    bool loaded = false;
    std::wstring target;
    std::wstring workingFolder;
    std::wstring description;
    std::wstring iconPath;
    int iconIndex = -1;
};

LinkFields loadLink(const std::wstring& linkPath) {
    LinkFields fields;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid())) ||
        FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return fields;
    wchar_t text[1024] = {};
    if (link->GetPath(text, 1024, nullptr, SLGP_RAWPATH) == S_OK) fields.target = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) fields.workingFolder = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetDescription(text, 1024))) fields.description = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetIconLocation(text, 1024, &fields.iconIndex))) fields.iconPath = text;
    fields.loaded = true;
    return fields;
}

// A link as another program or an older system would leave it: link tracking on.
void makeTrackedLink(const std::wstring& target, const std::wstring& linkPath) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())));
    ASSERT_TRUE(SUCCEEDED(link->SetPath(target.c_str())));
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid())));
    ASSERT_TRUE(SUCCEEDED(file->Save(linkPath.c_str(), TRUE)));
}

class Shortcuts : public ::testing::Test {
protected:
    ComApartment apartment;
    TempFolder temp;
    LauncherState state;
    std::wstring root = temp.makeFolder(L"Root");
    std::wstring games = temp.makeFolder(L"Games");
    std::wstring links = temp.makeFolder(L"Links");
    std::wstring launcher = joinPath(root, L"Vorlane Launcher.exe");
    std::wstring desktopLink = joinPath(links, L"Desktop\\Vorlane.lnk");
    std::wstring startMenuLink = joinPath(links, L"Programs\\Vorlane\\Vorlane.lnk");

    void SetUp() override {
        state.rootFolder = root;
        state.installDir = games;
        state.shortcutFolder = links;
        openLog(state, joinPath(root, L"launcher.log"));
    }
    void TearDown() override { closeLog(state); }

    void installLauncher() { temp.writeFile(L"Root\\Vorlane Launcher.exe", "launcher"); }
    void makeLinkFolders() {
        ASSERT_TRUE(makeFolderTree(parentFolder(desktopLink)));
        ASSERT_TRUE(makeFolderTree(parentFolder(startMenuLink)));
    }
    // A program that has nothing to do with the launcher.
    std::wstring otherProgram() {
        temp.makeFolder(L"Other");
        return temp.writeFile(L"Other\\Tool.exe", "tool");
    }
    std::vector<std::wstring> messages() {
        closeLog(state);
        std::vector<std::wstring> lines = logMessages(root);
        lines.erase(std::remove(lines.begin(), lines.end(), L""), lines.end());
        return lines;
    }
};

}  // namespace

TEST_F(Shortcuts, AMadeShortcutReadsBackAsMade) {
    installLauncher();
    const std::wstring linkPath = temp.file(L"Made.lnk");
    ASSERT_TRUE(makeShortcut(launcher, linkPath, L"Play Vorlane"));

    LinkFields fields = loadLink(linkPath);
    ASSERT_TRUE(fields.loaded);
    EXPECT_TRUE(equalsIgnoringCase(fields.target, launcher)) << toUtf8(fields.target);
    EXPECT_TRUE(equalsIgnoringCase(fields.workingFolder, root)) << toUtf8(fields.workingFolder);
    EXPECT_EQ(fields.description, L"Play Vorlane");
    EXPECT_TRUE(equalsIgnoringCase(fields.iconPath, launcher)) << toUtf8(fields.iconPath);
    EXPECT_EQ(fields.iconIndex, 0);

    ShortcutInfo read = readShortcut(linkPath);
    EXPECT_TRUE(read.ok);
    EXPECT_TRUE(equalsIgnoringCase(read.target, launcher)) << toUtf8(read.target);
}

TEST_F(Shortcuts, AMadeShortcutTurnsLinkTrackingOff) {
    if (runningUnderWine()) GTEST_SKIP() << kWineDropsTheFlag;
    installLauncher();
    const std::wstring made = temp.file(L"Made.lnk");
    const std::wstring other = temp.file(L"Other.lnk");
    ASSERT_TRUE(makeShortcut(launcher, made, L"Play Vorlane"));
    makeTrackedLink(launcher, other);

    EXPECT_FALSE(readShortcut(made).tracked);
    EXPECT_TRUE(readShortcut(other).tracked);
}

TEST_F(Shortcuts, ReadingFailsForMissingAndBrokenFiles) {
    EXPECT_FALSE(readShortcut(temp.file(L"None.lnk")).ok);
    EXPECT_FALSE(readShortcut(temp.writeFile(L"Broken.lnk", "not a shell link at all")).ok);
    EXPECT_FALSE(makeShortcut(launcher, temp.file(L"No such folder\\Vorlane.lnk"), L"Play Vorlane"));
}

TEST_F(Shortcuts, PlacesFollowTheShortcutFolder) {
    EXPECT_EQ(desktopShortcutPath(state), desktopLink);
    EXPECT_EQ(startMenuShortcutPath(state), startMenuLink);
    state.shortcutFolder = links + L"\\";
    EXPECT_EQ(desktopShortcutPath(state), desktopLink);

    // Without one, the user's own folders (only looked at, never written).
    state.shortcutFolder.clear();
    EXPECT_EQ(fileNameOf(desktopShortcutPath(state)), L"Vorlane.lnk");
    EXPECT_NE(desktopShortcutPath(state), desktopLink);
    EXPECT_EQ(fileNameOf(parentFolder(startMenuShortcutPath(state))), L"Vorlane");
    EXPECT_EQ(fileNameOf(parentFolder(parentFolder(startMenuShortcutPath(state)))), L"Programs");
}

TEST_F(Shortcuts, RefreshPutsTheLauncherInPlaceAndMakesBoth) {
    temp.writeFile(L"Root\\Vorlane Launcher.exe", "an older launcher");
    const std::wstring running = temp.writeFile(L"Running.exe", "the running launcher");
    refreshShortcuts(state, running);

    EXPECT_EQ(readTestFile(launcher), "the running launcher");
    for (const std::wstring& linkPath : {desktopLink, startMenuLink}) {
        SCOPED_TRACE(toUtf8(linkPath));
        ShortcutInfo link = readShortcut(linkPath);
        EXPECT_TRUE(link.ok);
        EXPECT_TRUE(equalsIgnoringCase(link.target, launcher)) << toUtf8(link.target);
        EXPECT_EQ(loadLink(linkPath).description, L"Play Vorlane");
    }
    EXPECT_TRUE(messages().empty());
}

TEST_F(Shortcuts, RefreshWithoutShortcutsOnlyPutsTheLauncherInPlace) {
    state.makeShortcuts = false;
    refreshShortcuts(state, temp.writeFile(L"Running.exe", "the running launcher"));

    EXPECT_EQ(readTestFile(launcher), "the running launcher");
    EXPECT_FALSE(folderExists(joinPath(links, L"Desktop")));
    EXPECT_FALSE(folderExists(joinPath(links, L"Programs")));
    EXPECT_TRUE(messages().empty());
}

TEST_F(Shortcuts, RefreshLogsWhichShortcutsItCouldNotMake) {
    const std::wstring running = temp.writeFile(L"Running.exe", "launcher");
    struct Case {
        const wchar_t* blocked;  // a file where a shortcut folder has to go
        const wchar_t* message;
    };
    for (const Case& c : {Case{L"Desktop", L"Couldn't make the Desktop shortcut."},
                          Case{L"Programs", L"Couldn't make the Start Menu shortcut."},
                          Case{nullptr, L"Couldn't make the Desktop and Start Menu shortcut."}}) {
        SCOPED_TRACE(toUtf8(c.message));
        TempFolder folder(L"vorlane-links");
        state.shortcutFolder = folder.path();
        if (c.blocked) {
            folder.writeFile(c.blocked, "in the way");
        } else {
            folder.writeFile(L"Desktop", "in the way");
            folder.writeFile(L"Programs", "in the way");
        }
        refreshShortcuts(state, running);
        EXPECT_EQ(messages(), std::vector<std::wstring>{c.message});
        DeleteFileW(joinPath(root, L"launcher.log").c_str());
        openLog(state, joinPath(root, L"launcher.log"));
    }
}

TEST_F(Shortcuts, RepairPointsStaleShortcutsBackAtTheLauncher) {
    installLauncher();
    makeLinkFolders();
    temp.makeFolder(L"Games\\Vorlane-abcdef1");
    const std::wstring stale[] = {
        temp.writeFile(L"Root\\Vorlane Launcher.old.exe", "old launcher"),
        temp.file(L"Gone\\Vorlane Launcher.exe"),
        temp.writeFile(L"Root\\Something.exe", "in the root folder"),
        temp.writeFile(L"Games\\Vorlane-abcdef1\\Vorlane.exe", "the game"),
    };
    for (const std::wstring& target : stale) {
        SCOPED_TRACE(toUtf8(target));
        makeTrackedLink(target, desktopLink);
        makeTrackedLink(target, startMenuLink);
        std::wstring named = readShortcut(desktopLink).target;
        ASSERT_TRUE(equalsIgnoringCase(named, target)) << toUtf8(named);

        repairShortcuts(state);

        EXPECT_TRUE(equalsIgnoringCase(readShortcut(desktopLink).target, launcher));
        EXPECT_TRUE(equalsIgnoringCase(readShortcut(startMenuLink).target, launcher));
        EXPECT_EQ(loadLink(desktopLink).description, L"Play Vorlane");
        EXPECT_EQ(messages(), (std::vector<std::wstring>{
                                  L"Repaired the shortcut " + desktopLink + L" (it named " + named + L").",
                                  L"Repaired the shortcut " + startMenuLink + L" (it named " + named + L")."}));
        DeleteFileW(joinPath(root, L"launcher.log").c_str());
        openLog(state, joinPath(root, L"launcher.log"));
    }
}

TEST_F(Shortcuts, RepairRewritesATrackedShortcutToTheLauncher) {
    installLauncher();
    makeLinkFolders();
    makeTrackedLink(launcher, desktopLink);
    const std::wstring named = readShortcut(desktopLink).target;
    ASSERT_TRUE(readShortcut(desktopLink).tracked);

    repairShortcuts(state);

    EXPECT_EQ(messages(), std::vector<std::wstring>{L"Repaired the shortcut " + desktopLink + L" (it named " +
                                                    named + L", tracked by Windows)."});
    EXPECT_EQ(loadLink(desktopLink).description, L"Play Vorlane");
    if (!runningUnderWine()) {
        EXPECT_FALSE(readShortcut(desktopLink).tracked);
    }
}

TEST_F(Shortcuts, RepairLeavesACorrectShortcutAlone) {
    if (runningUnderWine()) GTEST_SKIP() << kWineDropsTheFlag;
    installLauncher();
    makeLinkFolders();
    ASSERT_TRUE(makeShortcut(launcher, desktopLink, L"Play Vorlane"));
    // A target in other letter case is still the launcher.
    std::wstring upper = launcher;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    ASSERT_TRUE(makeShortcut(upper, startMenuLink, L"Kept as it is"));

    repairShortcuts(state);

    EXPECT_EQ(loadLink(startMenuLink).description, L"Kept as it is");
    EXPECT_TRUE(messages().empty());
}

TEST_F(Shortcuts, RepairLeavesOtherProgramsAndMissingOrBrokenShortcutsAlone) {
    installLauncher();
    makeLinkFolders();
    const std::wstring tool = otherProgram();
    makeTrackedLink(tool, desktopLink);
    temp.writeFile(L"Links\\Programs\\Vorlane\\Vorlane.lnk", "not a shell link at all");

    repairShortcuts(state);

    EXPECT_TRUE(equalsIgnoringCase(readShortcut(desktopLink).target, tool));
    EXPECT_EQ(readTestFile(startMenuLink), "not a shell link at all");
    DeleteFileW(desktopLink.c_str());
    DeleteFileW(startMenuLink.c_str());
    repairShortcuts(state);
    EXPECT_FALSE(fileExists(desktopLink));
    EXPECT_FALSE(fileExists(startMenuLink));
    EXPECT_TRUE(messages().empty());
}

TEST_F(Shortcuts, RepairDoesNothingWithoutShortcutsOrAnInstalledLauncher) {
    makeLinkFolders();
    const std::wstring old = temp.writeFile(L"Root\\Vorlane Launcher.old.exe", "old launcher");
    makeTrackedLink(old, desktopLink);

    repairShortcuts(state);  // nothing installed yet
    EXPECT_TRUE(equalsIgnoringCase(readShortcut(desktopLink).target, old));

    installLauncher();
    state.makeShortcuts = false;
    repairShortcuts(state);
    EXPECT_TRUE(equalsIgnoringCase(readShortcut(desktopLink).target, old));
    EXPECT_TRUE(messages().empty());
}

TEST_F(Shortcuts, RemoveDeletesOurShortcutsAndTheEmptyStartMenuFolder) {
    installLauncher();
    refreshShortcuts(state, launcher);
    ASSERT_TRUE(fileExists(desktopLink));
    ASSERT_TRUE(fileExists(startMenuLink));

    removeShortcuts(state);

    EXPECT_FALSE(fileExists(desktopLink));
    EXPECT_FALSE(fileExists(startMenuLink));
    EXPECT_FALSE(folderExists(parentFolder(startMenuLink)));
    EXPECT_TRUE(folderExists(joinPath(links, L"Desktop")));
    EXPECT_TRUE(folderExists(joinPath(links, L"Programs")));
}

TEST_F(Shortcuts, RemoveDeletesShortcutsToMissingFilesAndKeepsOthers) {
    makeLinkFolders();
    const std::wstring tool = otherProgram();
    makeTrackedLink(tool, desktopLink);
    makeTrackedLink(temp.file(L"Gone\\Vorlane Launcher.exe"), startMenuLink);
    temp.writeFile(L"Links\\Programs\\Vorlane\\Readme.txt", "someone else's");

    removeShortcuts(state);

    EXPECT_TRUE(equalsIgnoringCase(readShortcut(desktopLink).target, tool));
    EXPECT_FALSE(fileExists(startMenuLink));
    EXPECT_TRUE(folderExists(parentFolder(startMenuLink)));
}

TEST_F(Shortcuts, RemoveWithoutShortcutsDeletesNothing) {
    installLauncher();
    refreshShortcuts(state, launcher);
    state.makeShortcuts = false;

    removeShortcuts(state);

    EXPECT_TRUE(fileExists(desktopLink));
    EXPECT_TRUE(fileExists(startMenuLink));
}
