// The create-theme window, run for real under Wine from the main window's
// button and driven with messages as a player's clicks would: its form filled
// from a theme already there, a theme made with the log and the bar moving, a
// stop that ComfyUI hears of, closing while busy, the refusals in message
// boxes, and the ComfyUI check and model download with their question.
// Screenshots of its states are kept in build\screenshots.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>

#include "comfy/model_download.h"
#include "core/files.h"
#include "core/single_instance.h"
#include "core/text.h"
#include "support/comfyui_double.h"
#include "support/hub_double.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"
#include "support/window_driver.h"
#include "ui/create_theme_controls.h"
#include "ui/main_window_controls.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kBuild = L"c0ffee1";

// Every prompt makes a small picture.
std::string pictureScript(const std::string& history = "") {
    return R"({"version":"0.3.64","devices":[{"name":"cuda:0","vram_total":12884901888}],)" + allModelFilesMember() +
           R"(,"prompts":[{)" + history +
           R"("outputs":[{"node":"15","list":"images","filename":"p.png","make":"png","width":64,"height":64}]}]})";
}

class CreateThemeWindow : public LauncherTest {
protected:
    CreateThemeWindow() : LauncherTest(L"create-window") {}
    std::unique_ptr<LauncherProcess> launcher;
    HWND mainWindow = nullptr;
    HWND window = nullptr;

    void SetUp() override {
        LauncherTest::SetUp();
        server->publishBuild(kBuild, L"2026-11-02T09:05:00Z");
        publishSlotList();
        ASSERT_EQ(runCommand(L"install"), 0u);
    }

    void TearDown() override {
        if (mainWindow && IsWindow(mainWindow)) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
        // A theme still being made asks first.
        if (HWND box = mainWindow ? findMessageBox(mainWindow, L"Vorlane") : nullptr) answerMessageBox(box, IDOK);
        if (launcher) {
            EXPECT_EQ(launcher->wait(60000), 0u);
        }
    }

    std::wstring themesFolder() const {
        return joinPath(buildFolderOf(kBuild), L"Vorlane\\Saved\\PersistentDownloadDir\\Themes");
    }
    void setSetting(const wchar_t* key, const std::wstring& value) const {
        WritePrivateProfileStringW(L"Launcher", key, value.c_str(), joinPath(root, L"launcher.ini").c_str());
    }

    // The main window, then the create-theme window from its button.
    void openWindow(std::vector<std::wstring> more = {}) {
        launcher = std::make_unique<LauncherProcess>(testKeyLauncher(), launcherArguments(more));
        ASSERT_TRUE(launcher->started());
        ASSERT_TRUE(waitFor([&] { return (mainWindow = findLauncherWindow(instanceHash(root))) != nullptr; }));
        ASSERT_TRUE(waitFor([&] { return controlEnabled(mainWindow, kCreateThemeId); }));
        pressButton(mainWindow, kCreateThemeId);
        ASSERT_TRUE(
            waitFor([&] { return (window = findWindowBeside(mainWindow, L"VorlaneCreateTheme")) != nullptr; }));
        ASSERT_TRUE(waitFor([&] { return contains(logText(), L"Makes a theme's icons"); }));
    }

    std::wstring logText() { return controlText(window, kThemeLogId); }
    bool idle() { return controlEnabled(window, kCreateId) && !controlEnabled(window, kStopId); }
    void type(int id, const std::wstring& text) { SendMessageW(GetDlgItem(window, id), WM_SETTEXT, 0, (LPARAM)text.c_str()); }
    void makeOnly(int box) {
        for (int id = kMakeIconsId; id <= kMakeMusicId; ++id)
            SendMessageW(GetDlgItem(window, id), BM_SETCHECK, id == box ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    std::wstring comboText(int id) {
        HWND combo = GetDlgItem(window, id);
        const LRESULT row = SendMessageW(combo, CB_GETCURSEL, 0, 0);
        wchar_t text[256] = {};
        if (row >= 0) SendMessageW(combo, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(text));
        return text;
    }
    static bool contains(const std::wstring& text, const std::wstring& part) {
        return text.find(part) != std::wstring::npos;
    }
};

}  // namespace

TEST_F(CreateThemeWindow, OpensFilledFromTheSavedThemeAndMakesItWithTheLogAndBarMoving) {
    const std::wstring theme = joinPath(themesFolder(), L"Sunken_Harbour");
    ASSERT_TRUE(makeFolderTree(theme));
    ASSERT_TRUE(writeFileAtomically(joinPath(theme, L"theme.json"), R"({
        "Style": "drowned pirate port", "Base": "piratecove",
        "Towers": {"SingleTarget": {"Name": "Crow's Nest"}},
        "Created": {"Lighting": "golden-hour", "GroundStyle": "wet cobbles",
                    "Subjects": {"Tower_SingleTarget": "a drowned archer"}}})"));
    ComfyDouble comfy(pictureScript());
    setSetting(L"CreateName", L"Sunken Harbour");
    setSetting(L"ComfyServer", comfy.address());
    openWindow();

    EXPECT_EQ(controlText(window, kThemeNameId), L"Sunken Harbour");
    EXPECT_EQ(controlText(window, kFolderHintId), L"Its folder: Sunken_Harbour");
    EXPECT_EQ(controlText(window, kThemeStyleId), L"drowned pirate port");
    EXPECT_EQ(controlText(window, kGroundStyleId), L"wet cobbles");
    EXPECT_EQ(comboText(kBaseThemeId), L"Haunted Pirate Cove");
    EXPECT_EQ(comboText(kLightingId), L"Golden hour");
    EXPECT_EQ(controlText(window, kWhereItGoesId), L"It goes in " + theme);
    EXPECT_TRUE(contains(logText(), L"There's a theme called Sunken_Harbour already: its subjects, names, base, style, "
                                    L"ground look and lighting are filled in from it."));
    EXPECT_FALSE(controlEnabled(window, kStopId));
    EXPECT_EQ(listCellText(window, kSubjectListId, 0, 1), L"Crow's Nest");
    EXPECT_EQ(listCellText(window, kSubjectListId, 0, 2), L"a drowned archer");

    // The subject pane: a tower's words and name, its plain words back, and an ally the game doesn't name.
    ASSERT_TRUE(selectListRow(window, kSubjectListId, 1));
    EXPECT_EQ(controlText(window, kSubjectLabelId), L"Splash is");
    EXPECT_EQ(controlText(window, kWhatItIsId), L"a Splash tower");
    EXPECT_TRUE(controlEnabled(window, kCalledId));
    type(kWhatItIsId, L"  a barnacled mortar ");
    EXPECT_EQ(listCellText(window, kSubjectListId, 1, 2), L"a barnacled mortar");
    pressButton(window, kPlainOneId);
    EXPECT_TRUE(waitFor([&] { return listCellText(window, kSubjectListId, 1, 2) == L"a Splash tower"; }));
    int ally = 0;
    while (ally < listRowCount(window, kSubjectListId) && !contains(listCellText(window, kSubjectListId, ally, 0), L"(ally)"))
        ++ally;
    ASSERT_TRUE(selectListRow(window, kSubjectListId, ally));
    EXPECT_FALSE(controlEnabled(window, kCalledId));
    EXPECT_EQ(controlText(window, kCalledNoteId), L"The game doesn't name this one.");
    ASSERT_TRUE(selectListRow(window, kSubjectListId, 0));
    EXPECT_EQ(controlText(window, kCalledId), L"Crow's Nest");
    // A subject's label takes the room its name needs, and its edit moves along.
    EXPECT_EQ(controlText(window, kSubjectLabelId), L"Single Target is");
    EXPECT_TRUE(textFitsControl(window, kSubjectLabelId, 15));
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    takeScreenshot(window, L"create-theme-idle");

    makeOnly(kMakeIconsId);
    pressButton(window, kCreateId);
    std::vector<int> positions;
    bool shot = false;
    ASSERT_TRUE(waitFor([&] {
        const int position = progressPosition(window, kThemeProgressId);
        if (positions.empty() || positions.back() != position) positions.push_back(position);
        if (!shot && position > 100 && position < 800) shot = takeScreenshot(window, L"create-theme-busy");
        return contains(logText(), L"Made ") && idle();
    }, 300000));
    EXPECT_GE(positions.size(), 3u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(progressPosition(window, kThemeProgressId), 1000);
    EXPECT_TRUE(fileExists(joinPath(theme, L"Icons\\Towers\\SingleTarget.png")));
    const std::string json = readWholeFile(joinPath(theme, L"theme.json"));
    EXPECT_NE(json.find("\"Tower_SingleTarget\": \"a drowned archer\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"Name\": \"Crow's Nest\""), std::string::npos) << json;
    EXPECT_EQ(setting(L"CreateName"), L"Sunken Harbour");
    EXPECT_EQ(setting(L"CreateStyle"), L"drowned pirate port");
    EXPECT_EQ(setting(L"CreateGroundStyle"), L"wet cobbles");
    EXPECT_TRUE(::contains(log(), L"Create theme: Lighting: Golden hour."));
    takeScreenshot(window, L"create-theme-finished");

    // The strip holds each picture this run made, newest first; a tower's icon picks the tower in the list.
    const auto linesOf = [](const std::wstring& text) {
        std::vector<std::wstring> lines;
        for (size_t at = 0; at <= text.size();) {
            const size_t end = std::min(text.find(L"\r\n", at), text.size());
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    };
    std::vector<std::wstring> made;
    for (const std::wstring& line : linesOf(logText()))
        if (line.starts_with(L"Making ") && line.ends_with(L".png...")) made.insert(made.begin(), line.substr(7, line.size() - 10));
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(linesOf(controlText(window, kPictureStripId)), made);
    const int last = static_cast<int>(std::find(made.begin(), made.end(), L"Icons/Towers/SingleTarget.png") - made.begin());
    ASSERT_LT(last, static_cast<int>(made.size()));
    ASSERT_TRUE(selectListRow(window, kSubjectListId, 1));
    HWND strip = GetDlgItem(window, kPictureStripId);
    const int side = MulDiv(64, GetDpiForWindow(window), 96), gap = MulDiv(6, GetDpiForWindow(window), 96);
    PostMessageW(strip, WM_LBUTTONUP, 0, MAKELPARAM(gap + last * (side + gap) + side / 2, side / 2));
    EXPECT_TRUE(waitFor([&] { return listSelectedRow(window, kSubjectListId) == 0; }));
    EXPECT_NE(controlText(window, kSubjectLabelId), L"Splash is");
}

TEST_F(CreateThemeWindow, StopAsksComfyToDropItsWorkAndClosingWhileBusyAsksFirst) {
    std::string waiting = R"("history":[)";
    for (int i = 0; i < 400; ++i) waiting += (i ? ",\"pending\"" : "\"pending\"");
    ComfyDouble comfy(pictureScript(waiting + "],"));
    setSetting(L"ComfyServer", comfy.address());
    openWindow();
    type(kThemeNameId, L"Night Market");
    type(kThemeStyleId, L"paper lanterns, full colour");
    makeOnly(kMakeIconsId);

    pressButton(window, kCreateId);
    ASSERT_TRUE(waitFor([&] { return controlEnabled(window, kStopId); }));
    EXPECT_FALSE(controlEnabled(window, kThemeNameId));
    // Main window: no uninstalling while a theme is made.
    SendMessageW(mainWindow, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_FALSE(controlEnabled(mainWindow, kUninstallId));
    ASSERT_TRUE(waitFor([&] {
        const auto sequence = comfy.sequence();
        return std::count(sequence.begin(), sequence.end(), "GET /history") >= 2;
    }));
    pressButton(window, kStopId);
    ASSERT_TRUE(waitFor([&] { return idle(); }, 60000));
    EXPECT_TRUE(contains(logText(), L"Stopping (after asking ComfyUI to drop what it's making)..."));
    const auto sequence = comfy.sequence();
    EXPECT_NE(std::find(sequence.begin(), sequence.end(), "POST /interrupt"), sequence.end());
    EXPECT_TRUE(controlEnabled(window, kThemeNameId));

    pressButton(window, kCreateId);
    ASSERT_TRUE(waitFor([&] { return controlEnabled(window, kStopId); }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = findMessageBox(window, L"Vorlane")) != nullptr; }));
    EXPECT_EQ(messageBoxText(box), L"Stop making the theme and close? What's made so far is kept.");
    answerMessageBox(box, IDCANCEL);
    ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(box); }));
    EXPECT_TRUE(controlEnabled(window, kStopId));

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitFor([&] { return (box = findMessageBox(window, L"Vorlane")) != nullptr; }));
    answerMessageBox(box, IDOK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(window); }, 60000));
    EXPECT_TRUE(::contains(log(), L"Create theme: Stopping..."));
    EXPECT_TRUE(::contains(log(), L"Create theme: Stopped. What's made is kept: Create again makes what's missing."));
    // The main window carries on, and installs again.
    SendMessageW(mainWindow, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(controlEnabled(mainWindow, kUninstallId));
}

// Only the names the player changed in the form count, trimmed: one the form
// cut to 32 characters, or one theme.json got after the form was filled, stays
// as theme.json has it.
TEST_F(CreateThemeWindow, OnlyTheNamesThePlayerChangedAreWrittenAndThoseTrimmed) {
    const std::wstring theme = joinPath(themesFolder(), L"Sunken_Harbour");
    const std::string keeper = "The Keeper of the Drowned Lighthouse";  // 36 characters
    ASSERT_TRUE(makeFolderTree(theme));
    ASSERT_TRUE(writeFileAtomically(joinPath(theme, L"theme.json"),
                                    R"({"Style": "drowned pirate port", "Towers": {"SingleTarget": {"Name": ")" + keeper +
                                        R"("}, "Splash": {"Name": "Old Bell"}}})"));
    ComfyDouble comfy(pictureScript());
    setSetting(L"CreateName", L"Sunken Harbour");
    setSetting(L"ComfyServer", comfy.address());
    openWindow();
    ASSERT_EQ(listCellText(window, kSubjectListId, 0, 1), toUtf16(keeper.substr(0, 32)));

    const auto rowOf = [&](const std::wstring& name) {
        for (int row = 0; row < listRowCount(window, kSubjectListId); ++row)
            if (listCellText(window, kSubjectListId, row, 0).starts_with(name + L" (")) return row;
        return -1;
    };
    ASSERT_TRUE(selectListRow(window, kSubjectListId, rowOf(L"Splash")));
    type(kCalledId, L"  Tide Bell  ");
    ASSERT_TRUE(selectListRow(window, kSubjectListId, rowOf(L"Chain")));
    type(kCalledId, L"   ");
    // Another program names the Burn tower after the form was filled.
    ASSERT_TRUE(writeFileAtomically(joinPath(theme, L"theme.json"),
                                    R"({"Style": "drowned pirate port", "Towers": {"SingleTarget": {"Name": ")" + keeper +
                                        R"("}, "Splash": {"Name": "Old Bell"}, "Burn": {"Name": "Ember"}}})"));
    makeOnly(kMakeIconsId);
    pressButton(window, kCreateId);
    ASSERT_TRUE(waitFor([&] { return contains(logText(), L"Made ") && idle(); }, 300000));

    const std::string json = readWholeFile(joinPath(theme, L"theme.json"));
    EXPECT_NE(json.find("\"Name\": \"" + keeper + "\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"Splash\": { \"Name\": \"Tide Bell\" }"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"Burn\": {\"Name\": \"Ember\"}"), std::string::npos) << json;
    EXPECT_EQ(json.find("\"Name\": \"   \""), std::string::npos) << json;
    EXPECT_EQ(json.find("Old Bell"), std::string::npos) << json;
}

TEST_F(CreateThemeWindow, WrongChoicesAreShownInMessageBoxesAndNothingRuns) {
    ComfyDouble comfy(pictureScript());
    setSetting(L"ComfyServer", comfy.address());
    openWindow();
    const struct {
        std::wstring name, style;
        int make;  // the one box ticked; 0 for none
        std::wstring message;
    } cases[] = {
        {L"", L"pirates", kMakeIconsId, L"Give the theme a name."},
        {L"!?", L"pirates", kMakeIconsId,
         L"The theme's name needs a letter or a digit in it: its folder is named after it."},
        {L"downloaded", L"pirates", kMakeIconsId,
         L"\"Downloaded\" is kept for themes downloaded from other players: give it another name."},
        {L"Harbour", L"  ", kMakeIconsId,
         L"Say what it looks like, in a few words (\"spooky cartoon pirates, full colour\")."},
        {L"Harbour", L"pirates", 0, L"Tick at least one of Icons, Ground and pictures, 3D models, Sounds and Music."},
    };
    for (const auto& c : cases) {
        type(kThemeNameId, c.name);
        type(kThemeStyleId, c.style);
        makeOnly(c.make);
        pressButton(window, kCreateId);
        HWND box = nullptr;
        ASSERT_TRUE(waitFor([&] { return (box = findMessageBox(window, L"Vorlane")) != nullptr; }));
        EXPECT_EQ(messageBoxText(box), c.message);
        answerMessageBox(box, IDOK);
        ASSERT_TRUE(waitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }));
    }
    EXPECT_EQ(controlText(window, kFolderHintId), L"Its folder: Harbour");
    type(kThemeNameId, L"Downloaded");
    EXPECT_EQ(controlText(window, kFolderHintId), L"\"Downloaded\" is kept for downloaded themes.");
    for (const std::string& request : comfy.sequence()) EXPECT_NE(request, "POST /prompt");
    EXPECT_TRUE(setting(L"CreateName").empty());

    // At its smallest the subject list keeps its share and nothing is cut off.
    SetWindowPos(window, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
    RECT frame, client, list;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, 860);
    EXPECT_EQ(frame.bottom - frame.top, 784);
    GetClientRect(window, &client);
    GetWindowRect(GetDlgItem(window, kSubjectListId), &list);
    EXPECT_EQ(list.bottom - list.top, std::max<long>((client.bottom * 45 - 23580) / 100, 90));
    takeScreenshot(window, L"create-theme-smallest");
}

TEST_F(CreateThemeWindow, ChecksComfyAndDownloadsTheMissingModelsAfterAsking) {
    const std::wstring models = temp.makeFolder(L"models");
    ComfyDouble comfy(modelFoldersScript(models));
    HubDouble hub(R"({"files":{
        "Comfy-Org/stable-audio-3/checkpoints/stable_audio_3_small_sfx.safetensors":{"size":2500000},
        "Comfy-Org/stable-audio-3/text_encoders/t5gemma_b_b_ul2.safetensors":{"size":1500}}})");
    setSetting(L"ComfyServer", comfy.address());
    openWindow({L"--models-from", hub.address()});
    makeOnly(kMakeSoundsId);

    pressButton(window, kCheckComfyId);
    ASSERT_TRUE(waitFor([&] { return contains(logText(), L"It's missing 2 model file(s)."); }));
    ASSERT_TRUE(waitFor([&] { return idle(); }));
    // The pages named are those at the base the files come from.
    EXPECT_TRUE(contains(logText(), L", from " + hub.address() + L"/Comfy-Org/stable-audio-3")) << toUtf8(logText());

    pressButton(window, kDownloadModelsId);
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = findMessageBox(window, L"Vorlane")) != nullptr; }));
    EXPECT_TRUE(contains(messageBoxText(box), L"stable_audio_3_small_sfx.safetensors")) << toUtf8(messageBoxText(box));
    answerMessageBox(box, IDYES);
    ASSERT_TRUE(waitFor([&] { return idle(); }, 120000));
    EXPECT_TRUE(fileExists(joinPath(models, L"checkpoints\\stable_audio_3_small_sfx.safetensors")));
    EXPECT_TRUE(fileExists(joinPath(models, L"text_encoders\\t5gemma_b_b_ul2.safetensors")));
    EXPECT_TRUE(::contains(log(), L"Create theme: ComfyUI 0.3.64 answers at " + comfy.address() + L"."));
}

// Pause stops a model download at once and keeps what came; Resume carries on
// without asking again, with a range request for the rest, so nothing is
// fetched twice. Paused again and the window closed, the next Download models
// carries on from the part too.
TEST_F(CreateThemeWindow, PauseStopsAModelDownloadAtOnceAndResumeCarriesOnFromWhereItStopped) {
    const std::wstring models = temp.makeFolder(L"models");
    ComfyDouble comfy(modelFoldersScript(models));
    const std::string key = "Comfy-Org/stable-audio-3/checkpoints/stable_audio_3_small_sfx.safetensors";
    const long long size = 4000000;
    // Sent at 250 KB a second: the download takes a while.
    HubDouble hub(R"({"files":{")" + key + R"(":{"size":4000000,"rate":250000},
        "Comfy-Org/stable-audio-3/text_encoders/t5gemma_b_b_ul2.safetensors":{"size":1500}}})");
    setSetting(L"ComfyServer", comfy.address());
    openWindow({L"--models-from", hub.address()});
    makeOnly(kMakeSoundsId);
    EXPECT_FALSE(controlVisible(window, kPauseModelsId));
    const std::wstring target = joinPath(models, L"checkpoints\\stable_audio_3_small_sfx.safetensors");
    const std::wstring part = target + L".part";
    const auto partSize = [&] {
        long long bytes = 0;
        return fileSize(part, bytes) ? bytes : 0;
    };
    // The storage's GETs of the big file, in order.
    const auto gets = [&] {
        std::vector<HubRequest> asked;
        for (const HubRequest& request : hub.requests())
            if (request.server == "storage" && request.path.find("stable_audio") != std::string::npos)
                asked.push_back(request);
        return asked;
    };
    const auto answerYes = [&] {
        HWND box = nullptr;
        ASSERT_TRUE(waitFor([&] { return (box = findMessageBox(window, L"Vorlane")) != nullptr; }));
        answerMessageBox(box, IDYES);
    };
    // Pauses once more has come than `from`, and waits until the hub's answer has ended.
    const auto pauseAfter = [&](long long from) {
        EXPECT_TRUE(waitFor([&] { return partSize() > from; }, 60000));
        EXPECT_TRUE(controlVisible(window, kPauseModelsId));
        EXPECT_EQ(controlText(window, kPauseModelsId), L"Pause");
        EXPECT_FALSE(controlEnabled(window, kDownloadModelsId));
        pressButton(window, kPauseModelsId);
        EXPECT_TRUE(waitFor([&] { return controlText(window, kPauseModelsId) == L"Resume" && idle(); }, 60000));
        EXPECT_TRUE(waitFor([&] { return !gets().empty() && gets().back().ended; }, 60000));
        return partSize();
    };

    pressButton(window, kDownloadModelsId);
    answerYes();
    ASSERT_TRUE(waitFor([&] { return partSize() > 0; }, 60000));
    EXPECT_TRUE(textFitsControl(window, kPauseModelsId, 15));
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    const long long atPause = pauseAfter(0);
    EXPECT_GT(atPause, 0);
    EXPECT_LT(atPause, size);
    EXPECT_TRUE(controlEnabled(window, kPauseModelsId));
    EXPECT_TRUE(logText().ends_with(L"Pausing...\r\nPaused. What's downloaded is kept: Resume carries on from there.\r\n"))
        << toUtf8(logText());
    EXPECT_TRUE(::contains(log(), L"Create theme: Paused. What's downloaded is kept: Resume carries on from there."));
    EXPECT_FALSE(contains(logText(), L"Stopped."));
    EXPECT_FALSE(fileExists(target));
    // What the hub sent before the launcher let go, no less than the part holds; nothing more comes while paused.
    const HubRequest first = gets().back();
    EXPECT_GE(first.sent, atPause);
    EXPECT_LT(first.sent, size);
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    takeScreenshot(window, L"create-theme-paused");
    EXPECT_EQ(partSize(), atPause);
    EXPECT_EQ(gets().size(), 1u);
    EXPECT_EQ(gets().back().sent, first.sent);

    // Resume: no second question, and the rest only.
    pressButton(window, kPauseModelsId);
    EXPECT_TRUE(waitFor([&] { return controlText(window, kPauseModelsId) == L"Pause"; }));
    EXPECT_TRUE(waitFor([&] { return gets().size() == 2; }, 60000));
    EXPECT_EQ(gets().back().range, "bytes=" + std::to_string(atPause) + "-");
    const long long atSecondPause = pauseAfter(atPause);
    EXPECT_GT(atSecondPause, atPause);
    EXPECT_LT(atSecondPause, size);
    EXPECT_TRUE(contains(logText(), L"Downloading models\\checkpoints\\stable_audio_3_small_sfx.safetensors (4 MB), "
                                    L"carrying on from " + sizeText(atPause) + L"..."))
        << toUtf8(logText());

    // At its smallest, Resume still has its room.
    SetWindowPos(window, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    EXPECT_TRUE(textFitsControl(window, kPauseModelsId, 15));
    takeScreenshot(window, L"create-theme-paused-smallest");

    // Closed while paused, the window goes at once; opened again, Download models carries on from the part.
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(window); }, 60000));
    EXPECT_EQ(partSize(), atSecondPause);
    pressButton(mainWindow, kCreateThemeId);
    ASSERT_TRUE(waitFor([&] { return (window = findWindowBeside(mainWindow, L"VorlaneCreateTheme")) != nullptr; }));
    EXPECT_FALSE(controlVisible(window, kPauseModelsId));
    makeOnly(kMakeSoundsId);
    pressButton(window, kDownloadModelsId);
    answerYes();
    ASSERT_TRUE(waitFor([&] { return contains(logText(), L"It has every model file this needs.") && idle(); }, 120000))
        << toUtf8(logText());
    EXPECT_FALSE(controlVisible(window, kPauseModelsId));
    EXPECT_FALSE(fileExists(part));
    EXPECT_TRUE(readTestFile(target) == HubDouble::fileBytes(key, size));
    // Each GET asked for what the part lacked, and the hub sent exactly that.
    const std::vector<HubRequest> asked = gets();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].range, "");
    EXPECT_EQ(asked[1].range, "bytes=" + std::to_string(atPause) + "-");
    EXPECT_EQ(asked[2].range, "bytes=" + std::to_string(atSecondPause) + "-");
    EXPECT_EQ(asked[2].sent, size - atSecondPause);
    EXPECT_TRUE(asked[2].ended);
}

// At 144 DPI (CTest runs this suite in build/wine-144dpi): the fields and
// columns scaled by half again, the window on the screen, and nothing clipped
// or overlapping.
class CreateThemeWindowAt144Dpi : public CreateThemeWindow {
protected:
    void SetUp() override {
        if (const std::string why = notAt144Dpi(); !why.empty()) GTEST_SKIP() << why;
        CreateThemeWindow::SetUp();
    }
};

TEST_F(CreateThemeWindowAt144Dpi, ScalesItsFieldsAndColumnsAndFitsOnTheScreen) {
    ComfyDouble comfy(pictureScript());
    setSetting(L"ComfyServer", comfy.address());
    openWindow();
    EXPECT_EQ(GetDpiForWindow(window), 144u);
    const auto leftOf = [&](int id) {
        RECT box;
        GetWindowRect(GetDlgItem(window, id), &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        return box.left;
    };
    // Fields start 116 pixels in at 96 DPI, the buttons 12.
    EXPECT_EQ(leftOf(kThemeNameId), 174);
    EXPECT_EQ(leftOf(kComfyAddressId), 174);
    EXPECT_EQ(leftOf(kCreateId), 18);
    const int widths[] = {190, 150, 400, 220};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(listColumnWidth(window, kSubjectListId, column), widths[column] * 3 / 2);
    ASSERT_TRUE(selectListRow(window, kSubjectListId, 0));
    EXPECT_EQ(layoutFaults(window), std::vector<std::string>{});
    EXPECT_EQ(controlText(window, kSubjectLabelId), L"Single Target is");
    EXPECT_TRUE(textFitsControl(window, kSubjectLabelId, 15));
    takeScreenshot(window, L"create-theme-144dpi");

    // The strip of what a run made, its pictures scaled with the window.
    type(kThemeNameId, L"Harbour");
    type(kThemeStyleId, L"drowned pirate port");
    makeOnly(kMakeIconsId);
    pressButton(window, kCreateId);
    ASSERT_TRUE(waitFor([&] { return contains(logText(), L"Made ") && idle(); }, 120000)) << toUtf8(logText());
    EXPECT_TRUE(controlText(window, kPictureStripId).starts_with(L"Icons/"));
    RECT strip;
    GetWindowRect(GetDlgItem(window, kPictureStripId), &strip);
    EXPECT_EQ(strip.bottom - strip.top, 114);
    takeScreenshot(window, L"create-theme-144dpi-strip");
}
