// A theme's own descriptor, theme.json, which the game reads: its layout, the
// merge that keeps what a person wrote into it by hand, the lighting mood a
// theme gets, and the game's base themes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/json.h"
#include "themes/theme_job.h"

namespace vorlane {

struct BaseTheme {
    const wchar_t* Key;
    const wchar_t* DisplayName;
};
inline constexpr int kBaseThemeCount = 6;
extern const BaseTheme kBaseThemes[kBaseThemeCount];
// The row whose key equals text, ignoring case; -1 when none does.
int FindBaseTheme(const std::wstring& text);

struct LightingMood {
    const wchar_t* Mood;
    float SunPitch, SunYaw, SunIntensity;
    float SunColor[3];
    float FillIntensity;
    float FillColor[3];
    float FillPitch, FillYaw, SkyIntensity;
    float SkyColor[3];
    float FogDensity;
    float FogColor[3];
    float FogStart, FogFalloff, Exposure, Saturation, Contrast;
    float Tint[3], ShadowTint[3], HighlightTint[3];
    float Bloom, Vignette;
    const wchar_t* Keywords;  // blank-separated; a word ending in "*" matches as a prefix
};
inline constexpr int kMoodCount = 12;
extern const LightingMood kLightingMoods[kMoodCount];

// The mood named by text, lower-cased and without blanks, "-" and "_".
const LightingMood* FindMood(const std::wstring& text);

// The first mood, in table order, one of whose keywords matches a word of the
// text, and that word (lower-cased).
struct KeywordMatch {
    const LightingMood* mood = nullptr;
    std::wstring word;
};
KeywordMatch MoodByKeywords(const std::wstring& text);

// 32-bit FNV-1a over the lower-cased text's UTF-16 units.
uint32_t NameHash(const std::wstring& text);

// The mood a theme gets (none: the base theme's own lighting), and the reason
// the log gives for it.
struct MoodChoice {
    const LightingMood* mood = nullptr;
    std::wstring reason;
};
MoodChoice ChooseMood(const ThemeJob& job);

enum class LightingVerdict { WriteMood, KeepExisting, WriteNone };
// existing is the Lighting member of the folder's theme.json, or null.
LightingVerdict LightingDecision(const ThemeJob& job, const LightingMood* mood, const JsonValue* existing);

// The line a run logs about its lighting.
std::wstring LightingLine(const ThemeJob& job);

// The Lighting block written for a mood, its yaws shifted by the theme's offset.
std::string MoodBlock(const LightingMood& mood, const ThemeJob& job);

// Tower name to its FacesTarget flag, from the folder's theme.json.
FacesTargetMap ReadFacesTarget(const std::wstring& folder);

// The text of theme.json for the run, merged with the old file's text
// (empty: none) and stamped with `when` (UTC, "YYYY-MM-DDThh:mm:ssZ").
std::string ThemeJsonText(const ThemeJob& job, const std::wstring& comfyVersion, const ThemeRunCounts& counts,
                          const FacesTargetMap& facesTarget, const std::string& oldText, const std::string& when);

// Writes theme.json in the job's folder, keeping what the old one had by hand;
// an old file that isn't a JSON object is first set aside as
// theme.json.unreadable. False when the file can't be written, or the old one
// is there but can't be read, or is unreadable and can't be set aside: it is
// then left as it is.
bool WriteThemeJson(const ThemeJob& job, const std::wstring& comfyVersion, const ThemeRunCounts& counts,
                    const FacesTargetMap& facesTarget, const std::function<void(const std::wstring&)>& log);

// What an existing theme's theme.json says about the choices that made it.
struct ExistingThemeForm {
    std::wstring Style;                    // "Style"
    std::wstring GroundStyle;              // "GroundStyle" of "Created"
    std::wstring Base;                     // "Base", as the file spells it
    std::optional<std::wstring> Lighting;  // "Lighting" of "Created", when it is a string
};

// Reads folder's theme.json into `form` and the subjects: a subject's
// description in "Created"."Subjects" (when not blank) becomes its WhatItIs,
// and the Name of its entry in Towers, Enemies or Foliage (when not blank)
// its Called, cut to the longest name a subject may have. False, changing
// nothing, when there is no such file or it isn't a JSON object.
bool ReadExistingThemeForm(const std::wstring& folder, std::vector<ThemeSubject>& subjects, ExistingThemeForm& form);

}  // namespace vorlane
