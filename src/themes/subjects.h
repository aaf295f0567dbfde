// The theme's subjects (its towers, enemies, kinds of foliage, the summoned
// ally, the trap and the home base) as the slot list names them, and the words
// of every prompt theme creation sends: pictures, 3D models, sounds and music.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/theme_slot.h"
#include "slots/theme_slots.h"

namespace vorlane {

struct ThemeSubject {
    std::wstring Key;              // Tower_SingleTarget, Enemy_Grunt, Foliage_Tree, Summon, Trap, HomeBase
    std::wstring Name;             // as the slot list names it
    std::wstring DefaultWhatItIs;  // the description made from the slot list
    std::wstring WhatItIs;         // the description in use; the player's words replace it
    std::wstring ModelPath;        // the theme-relative path of its 3D model
    std::wstring ModelSlotPrompt;  // the Prompt of its own Model slot, or empty
    std::wstring Called;           // its name in the game, given by the player
    bool CalledGiven = false;
};

// The longest name a subject may be called by in the game.
inline constexpr size_t kMostCalledCharacters = 32;

// A tower's name (the key after "Tower_") to whether its model faces its
// target, from a theme's theme.json; towers not in it take the built-in rule.
using FacesTargetMap = std::map<std::wstring, bool>;

// The subject key a slot's Target names, or empty: "SummonVisuals." gives
// Summon, "TrapVisuals." Trap, "HomeBase." HomeBase; "TowerVisuals[X]...",
// "EnemyVisuals[X]..." and "Foliage[X]..." give Tower_X, Enemy_X and
// Foliage_X, X being ASCII letters, digits and "_".
std::wstring SubjectKey(const std::wstring& target);

// One subject per key that an Icon or Model slot names, in the order each key
// first appears.
std::vector<ThemeSubject> BuildSubjects(const std::vector<ThemeSlot>& slots);

// "tower", "foliage", "ally", "trap", "Chaos maps" or "enemy".
std::wstring KindWord(const std::wstring& key);

// The theme.json section a subject can be named in (Towers, Enemies or
// Foliage) and its entry name there; both empty when it has none.
SlotGroup ThemeSection(const std::wstring& key);

// WhatItIs, or the default description when that is empty.
std::wstring EffectiveDescription(const ThemeSubject& subject);
// The player's description differs from the default: only then does it
// replace the slot list's own prompts.
bool DescriptionChanged(const ThemeSubject& subject);

// How the model is seen: towers that face their target from the front, the
// others symmetrical; every other subject in three-quarter view.
std::wstring ViewPhrase(const std::wstring& key, const FacesTargetMap& facesTarget);

// The prompt of an Icon or Image slot.
std::wstring PicturePrompt(const ThemeSlot& slot, const std::vector<ThemeSubject>& subjects, const std::wstring& style,
                           const std::wstring& groundLook);
// The prompt of a subject's 3D model.
std::wstring ModelPrompt(const ThemeSubject& subject, const std::wstring& style, const FacesTargetMap& facesTarget);
// The prompt of a Sound slot, asking for `seconds` (cut to whole seconds);
// warm asks for lower tones.
std::wstring SoundPrompt(const ThemeSlot& slot, const std::wstring& style, double seconds, bool warm);
// The prompt (tags) of a Music slot, and the musical key a run's seed picks.
std::wstring MusicPrompt(const ThemeSlot& slot, const std::wstring& style);
std::wstring MusicKey(long long seed);

// Some Model slot's File is the subject's ModelPath.
bool HasOwnModelSlot(const ThemeSubject& subject, const std::vector<ThemeSlot>& slots);
// The checklist's slot for a subject that has no Model slot of its own.
ThemeSlot ChecklistModelSlot(const ThemeSubject& subject, const FacesTargetMap& facesTarget);

// A slot's prompt as the theme files window shows it: "{theme}" replaced by
// the style typed there, or by "your theme's".
std::wstring ShownPrompt(const ThemeSlot& slot, const std::wstring& style);

// The kinds of file a --make text names: words "icons", "images", "models",
// "sounds" and "music" (any case) between commas. The first word that is none
// of them leaves kinds 0 and the message that says so; else the message is empty.
struct MakeKindsWords {
    unsigned kinds = 0;  // MakeKinds bits
    std::wstring message;
};
MakeKindsWords ParseMakeKinds(const std::wstring& text);

}  // namespace vorlane
