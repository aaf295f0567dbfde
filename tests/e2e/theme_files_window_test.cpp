// The theme files window, opened from the real main window under Wine on the
// designers' slot list (published signed to nginx) and driven with messages
// as a player's clicks would: the list against a theme folder, a slot's
// details, the style, copying a prompt, making the folders and exporting the
// checklist. Screenshots of its states are kept in build\screenshots.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "core/files.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "slots/theme_slots.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"
#include "support/test_pictures.h"
#include "support/test_sounds.h"
#include "glb_writer/glb_writer.h"
#include "media/wav_file.h"
#include "support/test_http_server.h"
#include "support/window_driver.h"
#include "ui/main_window_controls.h"
#include "ui/shell.h"
#include "ui/theme_files_controls.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kTick = L"\u2713";
const std::wstring kPickASlot = L"Pick a slot to see what it's for and its prompt.";

enum Column { kHave, kSlot, kCategory, kKind, kInTheGame, kFile };

// Where each control sits in a client area W x H (at 96 DPI).
std::vector<std::pair<int, RECT>> expectedPlaces(int W, int H) {
    auto box = [](int x, int y, int width, int height) { return RECT{x, y, x + width, y + height}; };
    return {
        {kThemeFolderCaptionId, box(12, 16, 90, 26)},
        {kThemeFolderTextId, box(107, 12, W - 503, 26)},
        {kChooseThemeFolderId, box(W - 384, 12, 120, 26)},
        {kOpenThemeFolderId, box(W - 260, 12, 120, 26)},
        {kMakeSlotFoldersId, box(W - 136, 12, 124, 26)},
        {kThemeStyleCaptionId, box(12, 50, 90, 26)},
        {kThemeStyleId, box(107, 46, 300, 26)},
        {kThemeStyleHintId, box(417, 50, W - 429, 26)},
        {kThemeSummaryId, box(12, 82, W - 274, 26)},
        {kExportChecklistId, box(W - 252, 78, 240, 26)},
        {kSlotListId, box(12, 112, W - 356, H - 306)},
        {kPreviewPaneId, box(W - 332, 112, 320, H - 346)},
        {kPlaySoundId, box(W - 332, H - 226, 100, 28)},
        {kSlotDetailsId, box(12, H - 182, W - 164, 170)},
        {kCopyPromptId, box(W - 142, H - 182, 130, 34)},
    };
}

class ThemeFilesWindow : public LauncherTest {
protected:
    ThemeFilesWindow() : LauncherTest(L"theme-files") {}
    std::unique_ptr<LauncherProcess> launcher;
    HWND mainWindow = nullptr;
    HWND window = nullptr;
    std::wstring theme = temp.file(L"Frost");
    std::wstring import = joinPath(theme, L"Import");

    void SetUp() override {
        LauncherTest::SetUp();
        publishSlotList();
        slots = parseThemeSlots(readWholeFile(sourceTreeFile(kSlotListFile)));
        ASSERT_EQ(slots.size(), 49u);
    }

    void TearDown() override {
        if (mainWindow && IsWindow(mainWindow)) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
        if (launcher) {
            EXPECT_EQ(launcher->wait(30000), 0u);
        }
    }

    // launcher.ini as a player's earlier choices left it.
    void chooseEarlier(const std::wstring& folder, const std::wstring& style = L"") {
        ASSERT_TRUE(makeFolderTree(root));
        const std::wstring ini = L"[Launcher]\r\nThemeFolder=" + folder + L"\r\nThemeStyle=" + style + L"\r\n";
        ASSERT_TRUE(writeFileAtomically(joinPath(root, L"launcher.ini"), toUtf8(ini)));
    }

    void placeFile(const std::wstring& file, const std::string& bytes) {
        ASSERT_TRUE(makeFolderTree(parentFolder(joinPath(import, file))));
        ASSERT_TRUE(writeFileAtomically(joinPath(import, file), bytes));
    }

    // Selects a slot and waits for its preview to say `lines` (one per line).
    void expectPreview(const std::wstring& name, const std::wstring& lines) {
        select(name);
        EXPECT_TRUE(waitFor([&] { return controlText(window, kPreviewPaneId) == lines; }))
            << toUtf8(name) << ": " << toUtf8(controlText(window, kPreviewPaneId));
    }

    // A picture, a sound and a model previewed in turn, with a screenshot of each (name + "-picture" and so on).
    void previewEachKind(const std::wstring& screenshots) {
        const std::string png = pngOf(512, 256);
        ASSERT_FALSE(png.empty());
        placeFile(L"Icons\\Towers\\Chain.png", png);
        placeFile(L"Music\\Menu.wav", WriteWav(Sine(48000, 2, 3, 110, 0.5)));
        placeFile(L"Models\\Tower_Chain.glb", cubeModel(250));
        chooseEarlier(theme);
        openWindow();
        expectPreview(L"Chain: icon", L"512 x 256 pixels, " + std::to_wstring((png.size() + 1023) / 1024) + L" KB.");
        EXPECT_FALSE(controlVisible(window, kPlaySoundId));
        takeScreenshot(window, screenshots + L"-picture");
        expectPreview(L"Menu music", L"3.0 s, 48000 Hz, stereo.\r\nPeak -6.0 dBFS, loudness -9.0 dBFS.");
        EXPECT_TRUE(controlVisible(window, kPlaySoundId));
        takeScreenshot(window, screenshots + L"-sound");
        expectPreview(L"Chain: 3D model", L"1204 triangles, 20 x 32.5 x 10 (width x height x depth).\r\n"
                                          L"Shards: 63% of its surface in its biggest 2% of triangles (in shards).");
        takeScreenshot(window, screenshots + L"-model");
    }

    void placeFiles(const std::wstring& folder, std::initializer_list<const wchar_t*> files) {
        for (const wchar_t* file : files) {
            ASSERT_TRUE(makeFolderTree(parentFolder(joinPath(folder, file))));
            ASSERT_TRUE(writeFileAtomically(joinPath(folder, file), "x"));
        }
    }

    // The launcher's windows of this class; tests run side by side, so only this launcher's count.
    std::vector<HWND> themeFilesWindows() const {
        std::vector<HWND> found;
        HWND next = nullptr;
        while ((next = FindWindowExW(nullptr, next, L"VorlaneThemeFiles", nullptr)) != nullptr) {
            DWORD process = 0;
            GetWindowThreadProcessId(next, &process);
            if (process == launcher->processId() && IsWindowVisible(next)) found.push_back(next);
        }
        return found;
    }

    // Starts the launcher, presses "Theme files" and waits for the window with its list filled.
    void openWindow() {
        launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), launcherArguments());
        ASSERT_TRUE(launcher->started());
        ASSERT_TRUE(waitFor([&] { return (mainWindow = findLauncherWindow(instanceHash(root))) != nullptr; }));
        ASSERT_TRUE(waitFor([&] { return controlEnabled(mainWindow, kThemeFilesId); }));
        pressButton(mainWindow, kThemeFilesId);
        ASSERT_TRUE(waitFor([&] { return themeFilesWindows().size() == 1; }));
        window = themeFilesWindows().front();
        ASSERT_TRUE(waitFor([&] { return listRowCount(window, kSlotListId) == static_cast<int>(slots.size()); }));
        wchar_t title[100] = {};
        GetWindowTextW(window, title, 100);
        EXPECT_STREQ(title, L"Vorlane: theme files");
    }

    int rowOf(const std::wstring& name) const {
        for (int row = 0; row < listRowCount(window, kSlotListId); ++row)
            if (listCellText(window, kSlotListId, row, kSlot) == name) return row;
        return -1;
    }

    std::vector<std::wstring> rowCells(int row) const {
        std::vector<std::wstring> cells;
        for (int column = kHave; column <= kFile; ++column)
            cells.push_back(listCellText(window, kSlotListId, row, column));
        return cells;
    }

    void select(const std::wstring& name) {
        const int row = rowOf(name);
        ASSERT_GE(row, 0) << toUtf8(name);
        ASSERT_TRUE(selectListRow(window, kSlotListId, row));
        const std::wstring heading = name + L" (";
        ASSERT_TRUE(waitFor([&] { return controlText(window, kSlotDetailsId).rfind(heading, 0) == 0; }));
    }

    // Each control where the layout puts it in the client area as it is now.
    void expectLayout() {
        RECT client;
        GetClientRect(window, &client);
        for (const auto& [id, expected] : expectedPlaces(client.right, client.bottom)) {
            RECT box{};
            GetWindowRect(GetDlgItem(window, id), &box);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
            EXPECT_EQ(box.left, expected.left) << id;
            EXPECT_EQ(box.top, expected.top) << id;
            EXPECT_EQ(box.right, expected.right) << id;
            EXPECT_EQ(box.bottom, expected.bottom) << id;
        }
    }

    SIZE windowSize() const {
        RECT box;
        GetWindowRect(window, &box);
        return SIZE{box.right - box.left, box.bottom - box.top};
    }

    HWND waitForMessageBox(const std::wstring& caption) {
        HWND box = nullptr;
        // The box's window comes before its text: it is taken once the text is there too.
        EXPECT_TRUE(waitFor([&] { return (box = findMessageBox(window, caption)) != nullptr && !messageBoxText(box).empty(); }));
        return box;
    }

    std::vector<ThemeSlot> slots;
};

std::wstring replaced(std::wstring text, const std::wstring& what, const std::wstring& with) {
    for (size_t at = 0; (at = text.find(what, at)) != std::wstring::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

}  // namespace

TEST_F(ThemeFilesWindow, WithoutAFolderItListsEverySlotLaysItselfOutAndAsksForAFolderToExport) {
    openWindow();
    EXPECT_EQ(controlText(window, kThemeFolderTextId), L"(choose a theme's folder)");
    EXPECT_EQ(controlText(window, kThemeSummaryId),
              L"49 files a theme can supply. Choose a theme's folder to see which it has.");
    EXPECT_EQ(controlText(window, kThemeStyleHintId),
              L"Goes into every prompt for {theme}, like \"1940s noir\" or \"neon sci-fi\".");
    EXPECT_EQ(controlText(window, kSlotDetailsId), kPickASlot);
    EXPECT_EQ(listSelectedRow(window, kSlotListId), -1);
    // Every slot in the list's order; none is there without a folder.
    for (int row = 0; row < static_cast<int>(slots.size()); ++row) {
        EXPECT_EQ(listCellText(window, kSlotListId, row, kSlot), slots[row].Name) << row;
        EXPECT_EQ(listCellText(window, kSlotListId, row, kHave), L"") << row;
    }
    const SIZE opened = windowSize();
    EXPECT_EQ(opened.cx, 1000);
    EXPECT_EQ(opened.cy, 700);
    expectLayout();
    takeScreenshot(window, L"theme-files-idle");

    // The details without a folder say nothing of the file being there.
    select(L"Mortar: 3D model");
    EXPECT_EQ(controlText(window, kSlotDetailsId),
              L"Mortar: 3D model (Model): The tower as it stands on the map and turns to aim.\r\n"
              L"TRELLIS.2: a heavy siege mortar on a rotating iron base, your theme's, 3D game asset\r\n\r\n"
              L"File: Import\\Models\\Tower_Mortar.glb\r\n"
              L"Format: GLB (glTF 2.0, one file), at most 200,000 triangles; Y up, the front facing +Z\r\n"
              L"In the game: from 1.5 (planned)");

    pressButton(window, kExportChecklistId);
    HWND box = waitForMessageBox(L"Vorlane");
    ASSERT_TRUE(box);
    EXPECT_EQ(messageBoxText(box), L"Choose a theme's folder first: the checklist goes in it.");
    answerMessageBox(box, IDOK);
    EXPECT_TRUE(waitFor([&] { return findMessageBox(window, L"Vorlane") == nullptr; }));
    // The buttons that need a folder do nothing without one.
    pressButton(window, kMakeSlotFoldersId);
    pressButton(window, kOpenThemeFolderId);
    EXPECT_EQ(setting(L"ThemeFolder"), L"");

    // It can't be made smaller than 900 x 520; its controls follow its size.
    SetWindowPos(window, nullptr, 0, 0, 600, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(waitFor([&] { return windowSize().cx == 900 && windowSize().cy == 520; }));
    expectLayout();
    takeScreenshot(window, L"theme-files-smallest");

    // "Theme files" again brings the same window back, even from the taskbar.
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(waitFor([&] { return IsIconic(window) != FALSE; }));
    pressButton(mainWindow, kThemeFilesId);
    EXPECT_TRUE(waitFor([&] { return IsIconic(window) == FALSE; }));
    EXPECT_EQ(themeFilesWindows(), std::vector<HWND>{window});
    EXPECT_EQ(listSelectedRow(window, kSlotListId), rowOf(L"Mortar: 3D model"));
}

TEST_F(ThemeFilesWindow, WithAFolderItTicksWhatIsThereShowsDetailsCopiesPromptsAndExportsTheChecklist) {
    placeFiles(import, {L"Icons\\Towers\\Chain.png", L"Models\\Tower_Chain.glb", L"Music\\Menu.wav"});
    ASSERT_TRUE(makeFolderTree(joinPath(import, L"Textures\\Ground.png")));  // a folder counts too
    chooseEarlier(theme);
    openWindow();
    EXPECT_EQ(controlText(window, kThemeFolderTextId), theme);
    EXPECT_EQ(controlText(window, kThemeSummaryId), L"4 / 49 files in place.");

    // Have, Slot, Category, Kind, In the game, File.
    const std::vector<std::vector<std::wstring>> rows = {
        {kTick, L"Chain: icon", L"Towers", L"Icon", L"now", L"Icons/Towers/Chain.png"},
        {kTick, L"Chain: 3D model", L"Towers", L"Model", L"now", L"Models/Tower_Chain.glb"},
        {L"", L"Frost: icon", L"Towers", L"Icon", L"from 1.4", L"Icons/Towers/Frost.png"},
        {L"", L"Mortar: 3D model", L"Towers", L"Model", L"from 1.5", L"Models/Tower_Mortar.glb"},
        {kTick, L"Ground", L"Surfaces", L"Image", L"now", L"Textures/Ground.png"},
        {L"", L"Map ambience", L"Sounds", L"Sound, loops", L"now", L"Sounds/Ambience.wav"},
        {L"", L"Burn tower crackle", L"Sounds", L"Sound, loops", L"from 1.4", L"Sounds/FireCrackle.wav"},
        {kTick, L"Menu music", L"Music", L"Music", L"now", L"Music/Menu.wav"},
        {L"", L"Boss wave music", L"Music", L"Music", L"from 1.4", L"Music/Boss.wav"},
    };
    int ticked = 0;
    for (int row = 0; row < listRowCount(window, kSlotListId); ++row)
        ticked += listCellText(window, kSlotListId, row, kHave) == kTick;
    EXPECT_EQ(ticked, 4);
    for (const std::vector<std::wstring>& cells : rows) {
        const int row = rowOf(cells[kSlot]);
        ASSERT_GE(row, 0) << toUtf8(cells[kSlot]);
        EXPECT_EQ(rowCells(row), cells) << toUtf8(cells[kSlot]);
    }

    // The details of a slot there, one that isn't, and an optional one.
    const std::pair<std::wstring, std::wstring> details[] = {
        {L"Chain: icon",
         L"Chain: icon (Icon): The build-menu button for the Chain tower. Fires a bolt that leaps from enemy to enemy, "
         L"weaker with each jump.\r\n"
         L"Z-Image Turbo: A game icon of a slender tesla coil tower crowned with a crackling copper ring, your "
         L"theme's style, bold simple shapes, clean dark outline, transparent background\r\n\r\n"
         L"File: Import\\Icons\\Towers\\Chain.png  (there)\r\n"
         L"Format: 512x512 PNG\r\n"
         L"In the game: now"},
        {L"Ground height",
         L"Ground height (Image): Grey-scale bumps for the ground; flat ground without it.\r\n"
         L"Z-Image Turbo: grey-scale height map of your theme's ground, white is high\r\n\r\n"
         L"File: Import\\Textures\\GroundHeight.png  (missing)\r\n"
         L"Format: 1024x1024 PNG, 16-bit grey\r\n"
         L"In the game: now (optional: the game does without it)"},
        {L"Burn tower crackle",
         L"Burn tower crackle (Sound): Loops while a Burn tower's fire is lit.\r\n"
         L"Stable Audio 3: a crackling your theme's fire, steady, no pops\r\n\r\n"
         L"File: Import\\Sounds\\FireCrackle.wav  (missing)\r\n"
         L"Format: WAV, 48 kHz, mono, 2-4 s\r\n"
         L"In the game: from 1.4 (quiet in older builds)"},
    };
    for (const auto& [name, text] : details) {
        select(name);
        EXPECT_EQ(controlText(window, kSlotDetailsId), text) << toUtf8(name);
    }

    // The style goes into the prompt at once and into launcher.ini, at most 255 characters of it.
    HWND style = GetDlgItem(window, kThemeStyleId);
    SendMessageW(style, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::wstring(300, L'a').c_str()));
    EXPECT_TRUE(waitFor([&] { return setting(L"ThemeStyle") == std::wstring(255, L'a'); }));
    SendMessageW(style, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"frozen northern"));
    const std::wstring prompt = L"a crackling frozen northern fire, steady, no pops";
    EXPECT_TRUE(waitFor([&] {
        return controlText(window, kSlotDetailsId).find(L"\r\nStable Audio 3: " + prompt + L"\r\n\r\n") !=
               std::wstring::npos;
    }));
    EXPECT_EQ(setting(L"ThemeStyle"), L"frozen northern");

    ASSERT_TRUE(copyToClipboard(nullptr, L"not the prompt"));
    pressButton(window, kCopyPromptId);
    EXPECT_TRUE(
        waitFor([&] { return controlText(window, kThemeSummaryId) == L"Copied the prompt for Burn tower crackle."; }));
    EXPECT_TRUE(waitFor([&] { return clipboardText() == prompt; }));
    takeScreenshot(window, L"theme-files-folder");

    // The checklist is the one theme-check writes for the same folder and style.
    const std::wstring checklist = joinPath(theme, L"THEME_CHECKLIST.md");
    pressButton(window, kExportChecklistId);
    ASSERT_TRUE(waitFor([&] { return fileExists(checklist); }));
    const std::string golden = readWholeFile(sourceTreeFile(L"tests\\golden\\theme_checklist.md"));
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(readWholeFile(checklist), toUtf8(replaced(toUtf16(golden), L"{import}", import)));

    // Coming back to the window shows what changed in the folder meanwhile, on the same row.
    placeFiles(import, {L"Sounds\\FireCrackle.wav"});
    SetForegroundWindow(mainWindow);
    ASSERT_TRUE(waitFor([&] { return GetForegroundWindow() == mainWindow; }));
    SetForegroundWindow(window);
    const int row = rowOf(L"Burn tower crackle");
    EXPECT_TRUE(waitFor([&] { return listCellText(window, kSlotListId, row, kHave) == kTick; }));
    EXPECT_EQ(listSelectedRow(window, kSlotListId), row);
    EXPECT_EQ(controlText(window, kThemeSummaryId), L"5 / 49 files in place.");
    EXPECT_NE(controlText(window, kSlotDetailsId).find(L"File: Import\\Sounds\\FireCrackle.wav  (there)\r\n"),
              std::wstring::npos);
    // Open folder shows the import folder, not the theme folder, once there is one.
    pressButton(window, kOpenThemeFolderId);
    HWND browser = nullptr;
    ASSERT_TRUE(waitFor([&] { return (browser = findFileBrowser(window, L"Import")) != nullptr; }));
    EXPECT_TRUE(closeOtherProgramsWindow(browser));
}

TEST_F(ThemeFilesWindow, AnImportFolderIsItsOwnImportFolderAndMakeItsFoldersMakesEachSlotsFolder) {
    // A file stands where the sounds' folder would go.
    placeFiles(import, {L"Music\\Menu.wav", L"Sounds"});
    chooseEarlier(import, L"neon sci-fi");
    openWindow();
    EXPECT_EQ(controlText(window, kThemeFolderTextId), import);
    EXPECT_EQ(controlText(window, kThemeSummaryId), L"1 / 49 files in place.");
    EXPECT_EQ(controlText(window, kThemeStyleId), L"neon sci-fi");
    select(L"Menu music");
    EXPECT_NE(controlText(window, kSlotDetailsId).find(L"\r\nFile: Import\\Music\\Menu.wav  (there)\r\n"),
              std::wstring::npos);

    pressButton(window, kMakeSlotFoldersId);
    // Then the file browser shows the import folder.
    HWND browser = nullptr;
    ASSERT_TRUE(waitFor([&] { return (browser = findFileBrowser(window, L"Import")) != nullptr; }));
    EXPECT_TRUE(closeOtherProgramsWindow(browser));
    const std::wstring failed = L"Couldn't make the folder " + joinPath(import, L"Sounds") + L" (error 183).";
    ASSERT_TRUE(waitFor([&] { return contains(log(), failed); }));
    for (const ThemeSlot& slot : slots) {
        const std::wstring folder = parentFolder(joinPath(import, replaced(slot.File, L"/", L"\\")));
        if (fileNameOf(folder) == L"Sounds") continue;
        EXPECT_TRUE(folderExists(folder)) << toUtf8(folder);
    }
    EXPECT_FALSE(folderExists(joinPath(import, L"Import")));
    EXPECT_EQ(setting(L"ThemeFolder"), import);
}

// A build server that holds the theme files list for 15 s: both theme windows
// open at once (the first with "Loading the theme files list..." while no list
// is kept, the second with the kept one), fill in when the list comes, and the
// main window answers a message within a second the whole time.
TEST_F(ThemeFilesWindow, BothThemeWindowsOpenAtOnceWhileASlowServerHoldsTheList) {
    TestHttpServer slow;
    for (const char* name : {"builds.json", "builds.json.sig", "theme_slots.json.sig"})
        slow.serve(std::string("/") + name, readWholeFile(joinPath(server->folder(), toUtf16(name))));
    TestRoute missing;
    missing.status = 404;
    slow.serve("/theme_slots.json", missing);
    launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), launcherArguments({}, slow.baseUrl()));
    ASSERT_TRUE(launcher->started());
    ASSERT_TRUE(waitFor([&] { return (mainWindow = findLauncherWindow(instanceHash(root))) != nullptr; }));
    ASSERT_TRUE(waitFor([&] { return controlEnabled(mainWindow, kThemeFilesId); }));

    TestRoute held;
    held.body = readWholeFile(joinPath(server->folder(), L"theme_slots.json"));
    held.delayMs = 15000;
    slow.serve("/theme_slots.json", held);
    const auto asked = [&](const std::string& target) {
        const std::vector<LoggedRequest> requests = slow.requests();
        return std::count_if(requests.begin(), requests.end(),
                             [&](const LoggedRequest& request) { return request.target == target; });
    };
    // Until the held answer has gone out (its signature is asked for next), the
    // main window answers every message within a second.
    const auto answersWhileHeld = [&](long long signaturesBefore) {
        int probes = 0;
        const bool ended = waitFor(
            [&] {
                DWORD_PTR result = 0;
                EXPECT_NE(SendMessageTimeoutW(mainWindow, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result), 0)
                    << "the main window didn't answer within 1 s";
                ++probes;
                return asked("/theme_slots.json.sig") > signaturesBefore;
            },
            120000);
        EXPECT_TRUE(ended);
        return probes;
    };

    long long signatures = asked("/theme_slots.json.sig");
    pressButton(mainWindow, kThemeFilesId);
    ASSERT_TRUE(waitFor([&] { return themeFilesWindows().size() == 1; }));
    window = themeFilesWindows().front();
    EXPECT_EQ(controlText(window, kThemeSummaryId), L"Loading the theme files list...");
    ASSERT_TRUE(waitFor([&] { return asked("/theme_slots.json") >= 2; }));
    // A second press while it loads brings the same window forward.
    pressButton(mainWindow, kThemeFilesId);
    EXPECT_GT(answersWhileHeld(signatures), 10);
    ASSERT_TRUE(waitFor([&] { return listRowCount(window, kSlotListId) == static_cast<int>(slots.size()); }));
    EXPECT_EQ(themeFilesWindows(), std::vector<HWND>{window});
    EXPECT_EQ(controlText(window, kThemeSummaryId),
              L"49 files a theme can supply. Choose a theme's folder to see which it has.");

    signatures = asked("/theme_slots.json.sig");
    const long long lists = asked("/theme_slots.json");
    pressButton(mainWindow, kCreateThemeId);
    HWND create = nullptr;
    ASSERT_TRUE(waitFor([&] { return (create = findWindowBeside(mainWindow, L"VorlaneCreateTheme")) != nullptr; }));
    ASSERT_TRUE(waitFor([&] { return asked("/theme_slots.json") > lists; }));
    // It opened with the list kept a moment ago while the fresh one is held.
    const int subjects = GetDlgCtrlID(FindWindowExW(create, nullptr, WC_LISTVIEWW, nullptr));
    EXPECT_GT(listRowCount(create, subjects), 0);
    EXPECT_GT(answersWhileHeld(signatures), 10);
    PostMessageW(create, WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(create); }));
}

// At 144 DPI (CTest runs this suite in build/wine-144dpi): the first size,
// places counted from either edge and the columns scaled by half again, and
// nothing clipped or overlapping.
class ThemeFilesWindowAt144Dpi : public ThemeFilesWindow {
protected:
    void SetUp() override {
        if (const std::string why = notAt144Dpi(); !why.empty()) GTEST_SKIP() << why;
        ThemeFilesWindow::SetUp();
    }
};

TEST_F(ThemeFilesWindowAt144Dpi, ScalesEveryControlAndColumnAndNothingIsClippedOrOverlaps) {
    openWindow();
    EXPECT_EQ(GetDpiForWindow(window), 144u);
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    EXPECT_EQ(frame.right - frame.left, 1500);
    EXPECT_EQ(frame.bottom - frame.top, 1050);
    const struct {
        int id;
        RECT at96;  // left, top, right, bottom; a negative number counts from the far edge
    } places[] = {
        {kThemeFolderCaptionId, {12, 16, 102, 42}}, {kChooseThemeFolderId, {-384, 12, -264, 38}},
        {kThemeStyleCaptionId, {12, 50, 102, 76}},  {kExportChecklistId, {-252, 78, -12, 104}},
        {kSlotListId, {12, 112, -344, -194}},       {kCopyPromptId, {-142, -182, -12, -148}},
        {kPreviewPaneId, {-332, 112, -12, -234}},
    };
    const auto at144 = [](int at96, int extent) { return at96 < 0 ? extent + at96 * 3 / 2 : at96 * 3 / 2; };
    for (const auto& place : places) {
        RECT box;
        GetWindowRect(GetDlgItem(window, place.id), &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        EXPECT_EQ(box.left, at144(place.at96.left, client.right)) << place.id;
        EXPECT_EQ(box.top, at144(place.at96.top, client.bottom)) << place.id;
        EXPECT_EQ(box.right, at144(place.at96.right, client.right)) << place.id;
        EXPECT_EQ(box.bottom, at144(place.at96.bottom, client.bottom)) << place.id;
    }
    const int widths[] = {52, 210, 80, 90, 104, 300};
    for (int column = kHave; column <= kFile; ++column)
        EXPECT_EQ(listColumnWidth(window, kSlotListId, column), widths[column] * 3 / 2);
    select(L"Mortar: 3D model");
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    takeScreenshot(window, L"theme-files-144dpi");
}

// Choosing a row whose file is there shows it beside the details, made on a worker: a picture fitted without
// stretching, a sound's outline and measures with Play, a model's size, score and silhouette; a file that doesn't
// decode says so in one line, a missing one what the slot asks for. Nothing holds the file it shows, and the window
// answers while a big picture is decoded.
TEST_F(ThemeFilesWindow, ThePreviewShowsEachFileBesideItsDetails) {
    placeFile(L"Sounds\\Ambience.wav", "RIFF, and then nothing");
    placeFile(L"Textures\\Ground.png", pngOf(4096, 4096));
    previewEachKind(L"theme-files-preview");
    expectPreview(L"Map ambience", L"This sound doesn't read: it's damaged, cut short or not a WAV or FLAC file.");
    EXPECT_FALSE(controlVisible(window, kPlaySoundId));
    expectPreview(L"Frost: icon", L"Not there yet: the slot asks for 512x512 PNG.");

    // Play plays the sound through the system and turns into Stop while it plays.
    expectPreview(L"Menu music", L"3.0 s, 48000 Hz, stereo.\r\nPeak -6.0 dBFS, loudness -9.0 dBFS.");
    pressButton(window, kPlaySoundId);
    const std::wstring noDevice = L"The sound couldn't be played: the system has no way to play it.";
    ASSERT_TRUE(waitFor([&] {
        return controlText(window, kPlaySoundId) == L"Stop" || controlText(window, kThemeSummaryId) == noDevice;
    }));
    const bool played = controlText(window, kPlaySoundId) == L"Stop";
    if (played) {
        pressButton(window, kPlaySoundId);
        EXPECT_TRUE(waitFor([&] { return controlText(window, kPlaySoundId) == L"Play"; }));
    }

    // The shown file can be replaced at once (the next Create does that).
    select(L"Chain: icon");
    EXPECT_TRUE(waitFor([&] { return controlText(window, kPreviewPaneId).starts_with(L"512 x 256 pixels"); }));
    const std::wstring icon = joinPath(import, L"Icons\\Towers\\Chain.png");
    ASSERT_TRUE(writeFileAtomically(icon + L".new", pngOf(64, 64)));
    EXPECT_TRUE(MoveFileExW((icon + L".new").c_str(), icon.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();

    // A 4096 x 4096 picture is decoded while the window goes on answering.
    ASSERT_TRUE(selectListRow(window, kSlotListId, rowOf(L"Ground")));
    int answered = 0;
    while (controlText(window, kPreviewPaneId) == L"Loading the preview...") {
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result));
        ++answered;
    }
    EXPECT_TRUE(waitFor([&] { return controlText(window, kPreviewPaneId).starts_with(L"4096 x 4096 pixels, "); }));
    EXPECT_GT(answered, 0);
    if (!played) GTEST_SKIP() << "Wine plays no sound here: " << toUtf8(noDevice);
}

// At 144 DPI the window is half as big again, and the preview with it; the same three files are shown.
TEST_F(ThemeFilesWindowAt144Dpi, ThePreviewScalesWithTheWindow) {
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    previewEachKind(L"theme-files-144dpi-preview");
    EXPECT_EQ(windowSize().cx, 1500);
    EXPECT_EQ(windowSize().cy, 1050);
    RECT client, pane;
    GetClientRect(window, &client);
    GetWindowRect(GetDlgItem(window, kPreviewPaneId), &pane);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&pane), 2);
    EXPECT_EQ(pane.left, client.right - 498);
    EXPECT_EQ(pane.right - pane.left, 480);
    EXPECT_EQ(pane.bottom, client.bottom - 351);
}
