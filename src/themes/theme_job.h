// One run of theme creation: what to make, where and how.
#pragma once

#include <string>
#include <vector>

#include "core/theme_slot.h"
#include "themes/subjects.h"

namespace vorlane {

struct ThemeJob {
    std::wstring ComfyAddress;     // ComfyUI's address
    std::wstring Folder;           // the theme folder, absolute
    std::wstring FolderName;       // the theme's name made file-safe
    std::wstring Name;             // as the player wrote it
    std::wstring Style;            // the style sentence
    std::wstring GroundStyle;      // the ground look; empty uses the style
    std::wstring Base = L"Default";  // key of the base theme
    std::wstring LauncherVersion;  // written into theme.json
    unsigned Kinds = 31;           // MakeKinds bits: what to make
    bool MakeAgain = false;        // make files again that are already there
    long long Seed = 1;            // the seed of every first try
    std::wstring Lighting;         // empty: match the style; "base": the base theme's own; else a mood name
    int ModelFaces = 20000;        // the face count every 3D model is reduced to
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

}  // namespace vorlane
