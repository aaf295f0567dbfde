// One run of theme creation: what to make, where and how.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "core/theme_slot.h"
#include "themes/sound_params.h"
#include "themes/subjects.h"

namespace vorlane {

struct ThemeJob {
    std::wstring ComfyAddress;       // ComfyUI's address, or several with commas between
    std::wstring Folder;             // the theme folder, absolute
    std::wstring FolderName;         // the theme's name made file-safe
    std::wstring Name;               // as the player wrote it
    std::wstring Style;              // the style sentence
    std::wstring GroundStyle;        // the ground look; empty uses the style
    std::wstring Base = L"Default";  // key of the base theme
    std::wstring LauncherVersion;    // written into theme.json
    unsigned Kinds = 31;             // MakeKinds bits: what to make
    bool MakeAgain = false;          // make files again that are already there
    long long Seed = 1;              // the seed of every first try
    std::wstring Lighting;           // empty: match the style; "base": the base theme's own; else a mood name
    int ModelFaces = 20000;          // the face count every 3D model is reduced to
    std::vector<ThemeSlot> Slots;
    std::vector<ThemeSubject> Subjects;  // with the player's words
};

// What a run made, kept and failed, and whether the theme is complete.
struct ThemeRunCounts {
    int Made = 0;
    int Kept = 0;
    int Failed = 0;
    bool Complete = false;
};

// The add-on index has a ThemeFile of its own (a file of a published theme):
// this one lives in an inline namespace so the two types' members never share
// a linker name, while the code still calls it vorlane::ThemeFile.
inline namespace making {

// One file to make, in the order of the making list.
struct ThemeFile {
    std::wstring File;         // theme-relative, "/" between folders
    std::wstring Path;         // absolute
    std::wstring PicturePath;  // 3D models: where the picture it is made from goes
    std::wstring Label;        // 3D models: what the subject is
    std::string Graph;         // the graph of the first try
    int Type = 0;              // an OutputType: picture, 3D model, sound, music
    SoundParams Params;        // sounds and music
    // 3D models, sounds and music: the graph again with another seed, and for
    // sounds with the warm wording.
    std::function<std::string(long long seed, bool warm)> Rebuild;
};

}  // namespace making

// How a run talks to whoever started it. The calls come one at a time: on the
// run's thread, or with several ComfyUI servers on the worker of the server
// that made the file.
struct ThemeJobReporter {
    std::function<void(const std::wstring& line)> log;
    std::function<void(double fraction)> progress;  // may be empty
    // A file this run made, by its theme-relative name and its path; may be empty.
    std::function<void(const std::wstring& file, const std::wstring& path)> made;
    const std::atomic<bool>* stop = nullptr;        // set once the player asks to stop; may be null
    bool stopRequested() const { return stop && stop->load(); }
};

// Makes the theme: checks ComfyUI, lists what to make and what to keep,
// writes theme.json, makes each file (retrying where a check asks), writes
// the checklist and theme.json again and logs a summary. True when the theme
// is complete; false without a summary when ComfyUI isn't ready or theme.json
// can't be written at the start.
bool RunThemeJob(const ThemeJob& job, const ThemeJobReporter& reporter);

}  // namespace vorlane
