#include "themes/create_theme.h"

#include <windows.h>

#include <algorithm>

#include "addons/theme_folders.h"
#include "comfy/comfy_check.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "net/http_client.h"
#include "slots/theme_slots.h"
#include "themes/theme_json.h"

namespace vorlane {

namespace {

constexpr size_t kMostFolderNameCharacters = 64;
constexpr DWORD kMostThemeDirCharacters = 1039;

std::wstring joined(const std::vector<std::wstring>& words) {
    std::wstring text;
    for (const std::wstring& word : words) text += (text.empty() ? L"" : L", ") + word;
    return text;
}

// "<Key>=<text>" for a subject of the list: the subject and the trimmed text, or null.
ThemeSubject* subjectFor(std::vector<ThemeSubject>& subjects, const std::wstring& option, std::wstring& text) {
    const size_t equals = option.find(L'=');
    if (equals == std::wstring::npos) return nullptr;
    const std::wstring key = trimSpace(option.substr(0, equals));
    const auto found = std::find_if(subjects.begin(), subjects.end(),
                                    [&](const ThemeSubject& subject) { return equalsIgnoringCase(subject.Key, key); });
    if (found == subjects.end()) return nullptr;
    text = trimSpace(option.substr(equals + 1));
    return &*found;
}

std::wstring fullPathOf(const std::wstring& text) {
    std::wstring full(kMostThemeDirCharacters + 1, L'\0');
    const DWORD length = GetFullPathNameW(text.c_str(), (DWORD)full.size(), full.data(), nullptr);
    if (length == 0 || length > kMostThemeDirCharacters) return text;
    full.resize(length);
    return full;
}

// The options into a job; false (with the message logged) when one is wrong.
bool jobFromOptions(LauncherState& state, const CreateThemeOptions& options, ThemeJob& job,
                    const std::function<void(const std::wstring&)>& say) {
    loadThemeSlots(state);
    job.Slots = state.themeSlots;
    job.Subjects = BuildSubjects(job.Slots);
    job.Name = trimSpace(options.themeName);
    job.Style = trimSpace(options.themeStyle);
    job.GroundStyle = trimSpace(options.groundStyle);
    job.FolderName = FolderName(job.Name);
    job.LauncherVersion = launcherVersion();
    job.ComfyAddress = NormaliseComfyAddresses(options.comfy.empty() ? readSetting(state, L"ComfyServer", kDefaultComfyServer)
                                                              : options.comfy);

    const std::wstring base = options.themeBase.empty() ? L"Default" : options.themeBase;
    const int row = FindBaseTheme(base);
    if (row < 0) {
        std::vector<std::wstring> keys;
        for (const BaseTheme& theme : kBaseThemes) keys.push_back(theme.Key);
        say(L"--theme-base is one of " + joined(keys) + L", not " + base + L".");
        return false;
    }
    job.Base = kBaseThemes[row].Key;

    if (const LightingMood* mood = FindMood(options.lighting)) {
        job.Lighting = mood->Mood;
    } else if (equalsIgnoringCase(options.lighting, L"base")) {
        job.Lighting = L"base";
    } else if (!options.lighting.empty() && !equalsIgnoringCase(options.lighting, L"match")) {
        std::vector<std::wstring> moods;
        for (const LightingMood& mood : kLightingMoods) moods.push_back(mood.Mood);
        say(L"--lighting is match (the style picks a mood), base (the base theme's own) or a mood (" + joined(moods) +
            L"), not " + options.lighting + L".");
        return false;
    }

    // An empty --make asks for nothing, which the check below refuses, rather than for everything.
    if (options.makeGiven) {
        const MakeKindsWords kinds = ParseMakeKinds(options.make);
        if (!kinds.message.empty()) {
            say(kinds.message);
            return false;
        }
        job.Kinds = kinds.kinds;
    }
    job.MakeAgain = options.makeAgain;
    if (options.seed) job.Seed = *options.seed;

    for (const std::wstring& option : options.subjects) {
        std::wstring text;
        ThemeSubject* subject = subjectFor(job.Subjects, option, text);
        if (!subject) {
            say(L"--theme-subject is <Key>=<what it is>, with a key the slot list has (Tower_SingleTarget, "
                L"Enemy_Grunt, Foliage_Tree...): not " +
                option + L".");
            return false;
        }
        subject->WhatItIs = text;
    }
    for (const std::wstring& option : options.called) {
        std::wstring text;
        ThemeSubject* subject = subjectFor(job.Subjects, option, text);
        if (!subject || ThemeSection(subject->Key).group.empty()) {
            say(L"--theme-called is <Key>=<its name>, with the key of a tower, enemy or kind of foliage the slot "
                L"list has (Tower_SingleTarget, Enemy_Grunt, Foliage_Tree...): not " +
                option + L".");
            return false;
        }
        subject->Called = text;
        subject->CalledGiven = true;
    }
    job.Folder = options.themeDir.empty() ? ThemeFolderFor(state, job.FolderName) : fullPathOf(options.themeDir);
    return true;
}

}  // namespace

std::wstring FolderName(const std::wstring& name) {
    std::wstring folder;
    for (wchar_t c : trimSpace(name)) {
        if (folder.size() == kMostFolderNameCharacters) break;
        if (c == L' ')
            folder += L'_';
        else if (c < 128 && (iswalnum(c) || c == L'-' || c == L'_'))
            folder += c;
    }
    return folder;
}

bool IsReservedFolderName(const std::wstring& name) {
    if (name.empty()) return false;
    if (name.back() == L'.' || name.back() == L' ') return true;
    // Windows keeps these for devices, with any extension after them.
    const std::wstring stem = lowerCase(trimSpace(name.substr(0, name.find(L'.'))));
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul"};
    if (std::find_if(std::begin(kDevices), std::end(kDevices), [&](const wchar_t* device) { return stem == device; }) !=
        std::end(kDevices))
        return true;
    return stem.size() == 4 && (stem.starts_with(L"com") || stem.starts_with(L"lpt")) && stem[3] >= L'1' &&
           stem[3] <= L'9';
}

std::wstring ThemeFolderFor(const LauncherState& state, const std::wstring& folderName) {
    const std::wstring themes = addOnThemesFolder(state);
    return themes.empty() || folderName.empty() ? L"" : joinPath(themes, folderName);
}

std::wstring ValidateThemeJob(const ThemeJob& job) {
    if (job.Name.empty()) return L"Give the theme a name.";
    if (job.FolderName.empty())
        return L"The theme's name needs a letter or a digit in it: its folder is named after it.";
    if (equalsIgnoringCase(job.FolderName, L"Downloaded"))
        return L"\"Downloaded\" is kept for themes downloaded from other players: give it another name.";
    if (IsReservedFolderName(job.FolderName))
        return L"\"" + job.FolderName + L"\" can't be a folder's name on Windows: give it another name.";
    if (job.Style.empty()) return L"Say what it looks like, in a few words (\"spooky cartoon pirates, full colour\").";
    if (!(job.Kinds & (Icons | Images | Models | Sounds | Music)))
        return L"Tick at least one of Icons, Ground and pictures, 3D models, Sounds and Music.";
    if (job.Slots.empty())
        return L"There's no list of theme files: the build server couldn't be reached and none is kept. Try again "
               L"when it can be.";
    if (job.Folder.empty()) return L"Install the game first: a theme goes in the game's folder, where it finds it.";
    if (job.ComfyAddress.empty()) return L"Give ComfyUI's address (Comfy Desktop's is http://127.0.0.1:8188).";
    for (const ThemeSubject& subject : job.Subjects)
        if (subject.CalledGiven && subject.Called.size() > kMostCalledCharacters)
            return subject.Name + L"'s name is at most " + std::to_wstring(kMostCalledCharacters) + L" characters: \"" +
                   subject.Called + L"\" is longer.";
    return {};
}

bool RunCreateThemeCommand(LauncherState& state, const CreateThemeOptions& options) {
    const auto say = [&](const std::wstring& line) { logLine(state, L"Create theme: " + line); };
    ThemeJob job;
    if (!jobFromOptions(state, options, job, say)) return false;
    const std::wstring problem = ValidateThemeJob(job);
    if (!problem.empty()) {
        say(problem);
        return false;
    }
    ThemeJobReporter reporter;
    reporter.log = say;
    return RunThemeJob(job, reporter);
}

}  // namespace vorlane
