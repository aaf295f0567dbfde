#include "themes/subjects.h"

#include <algorithm>
#include <cwctype>

#include "comfy/comfy_check.h"
#include "core/text.h"

namespace vorlane {

namespace {

constexpr wchar_t kTowerPrefix[] = L"Tower_";

// Targets that name one subject each, and the bracketed forms "Prefix[X]".
const struct {
    const wchar_t* prefix;
    const wchar_t* key;
} kFixedTargets[] = {{L"SummonVisuals.", L"Summon"}, {L"TrapVisuals.", L"Trap"}, {L"HomeBase.", L"HomeBase"}};
const struct {
    const wchar_t* prefix;
    const wchar_t* keyStart;
} kBracketTargets[] = {{L"TowerVisuals", L"Tower_"}, {L"EnemyVisuals", L"Enemy_"}, {L"Foliage", L"Foliage_"}};

constexpr wchar_t kFacingPhrase[] =
    L"seen from the front and slightly above, its front (its barrel, face or weapon) pointing straight at the viewer";
constexpr wchar_t kSymmetricPhrase[] =
    L"three-quarter view from slightly above, symmetrical, looking the same from every side";
constexpr wchar_t kThreeQuarterPhrase[] = L"three-quarter view from slightly above";

// The middle of every composed 3D model prompt, and its end after the style.
constexpr wchar_t kModelWhole[] = L", only one, on its own, whole and fully in view, ";
constexpr wchar_t kModelEnd[] = L", 3D game asset, soft even lighting, plain light grey background, centred, no text.";

const wchar_t* const kMusicKeys[] = {L"A minor", L"D minor",  L"E minor", L"C minor",
                                     L"G minor", L"F# minor", L"B minor"};

bool isKeyCharacter(wchar_t c) { return (c < 128 && std::iswalnum(c)) || c == L'_'; }

const ThemeSlot* firstOfKind(const std::vector<ThemeSlot>& slots, const std::wstring& key, const wchar_t* kind) {
    for (const ThemeSlot& slot : slots)
        if (slot.Kind == kind && SubjectKey(slot.Target) == key) return &slot;
    return nullptr;
}

std::wstring article(const std::wstring& name) {
    return !name.empty() && std::wstring_view(L"AEIOUaeiou").find(name[0]) != std::wstring_view::npos ? L"an " : L"a ";
}

std::wstring defaultDescription(const std::wstring& key, const std::wstring& name) {
    const std::wstring kind = KindWord(key);
    if (kind == L"ally") return L"a summoned ally";
    if (key == L"Trap") return L"a trap on the road";
    if (key == L"HomeBase") return L"a grand home base";
    if (kind == L"foliage") return article(name) + lowerCase(name);
    return article(name) + name + L" " + kind;
}

ThemeSubject makeSubject(const std::vector<ThemeSlot>& slots, const std::wstring& key) {
    ThemeSubject subject;
    subject.Key = key;
    const ThemeSlot* icon = firstOfKind(slots, key, L"Icon");
    const ThemeSlot* model = firstOfKind(slots, key, L"Model");
    subject.ModelPath = L"Models/" + key + L".glb";
    if (model && isSafeRelativePath(model->File) && model->File.size() > 4 &&
        endsWithIgnoringCase(model->File, L".glb"))
        subject.ModelPath = model->File;
    if (model) subject.ModelSlotPrompt = model->Prompt;
    const ThemeSlot* named = icon ? icon : model;
    if (named) subject.Name = trimSpace(named->Name.substr(0, named->Name.find(L':')));
    if (subject.Name.empty()) {
        const size_t cut = key.find(L'_');
        subject.Name = cut == std::wstring::npos ? key : key.substr(cut + 1);
    }
    subject.DefaultWhatItIs = defaultDescription(key, subject.Name);
    subject.WhatItIs = subject.DefaultWhatItIs;
    return subject;
}

std::wstring withStyle(const std::wstring& prompt, const std::wstring& style) {
    return replaceEvery(prompt, kThemePlaceholder, style);
}

std::wstring composedModelPrompt(const ThemeSubject& subject, const std::wstring& style,
                                 const FacesTargetMap& facesTarget) {
    return EffectiveDescription(subject) + kModelWhole + ViewPhrase(subject.Key, facesTarget) + L", " + style +
           kModelEnd;
}

}  // namespace

std::wstring SubjectKey(const std::wstring& target) {
    for (const auto& fixed : kFixedTargets)
        if (target.starts_with(fixed.prefix)) return fixed.key;
    const size_t open = target.find(L'['), close = target.find(L']');
    if (open == std::wstring::npos || close == std::wstring::npos || close < open + 2) return {};
    const std::wstring prefix = target.substr(0, open), x = target.substr(open + 1, close - open - 1);
    if (!std::all_of(x.begin(), x.end(), isKeyCharacter)) return {};
    for (const auto& form : kBracketTargets)
        if (prefix == form.prefix) return form.keyStart + x;
    return {};
}

std::vector<ThemeSubject> BuildSubjects(const std::vector<ThemeSlot>& slots) {
    std::vector<ThemeSubject> subjects;
    for (const ThemeSlot& slot : slots) {
        if (slot.Kind != L"Model" && slot.Kind != L"Icon") continue;
        const std::wstring key = SubjectKey(slot.Target);
        if (key.empty() || std::any_of(subjects.begin(), subjects.end(),
                                       [&](const ThemeSubject& subject) { return subject.Key == key; }))
            continue;
        subjects.push_back(makeSubject(slots, key));
    }
    return subjects;
}

std::wstring KindWord(const std::wstring& key) {
    if (key.starts_with(kTowerPrefix)) return L"tower";
    if (key.starts_with(L"Foliage_")) return L"foliage";
    if (key == L"Summon") return L"ally";
    if (key == L"Trap") return L"trap";
    if (key == L"HomeBase") return L"Chaos maps";
    return L"enemy";
}

SlotGroup ThemeSection(const std::wstring& key) { return slotGroup(key); }

std::wstring EffectiveDescription(const ThemeSubject& subject) {
    return subject.WhatItIs.empty() ? subject.DefaultWhatItIs : subject.WhatItIs;
}

bool DescriptionChanged(const ThemeSubject& subject) {
    return !subject.WhatItIs.empty() && subject.WhatItIs != subject.DefaultWhatItIs;
}

std::wstring ViewPhrase(const std::wstring& key, const FacesTargetMap& facesTarget) {
    if (!key.starts_with(kTowerPrefix)) return kThreeQuarterPhrase;
    const std::wstring tower = key.substr(std::size(kTowerPrefix) - 1);
    const auto listed = facesTarget.find(tower);
    const bool faces = listed != facesTarget.end() ? listed->second : isBuiltInTowerKind(tower);
    return faces ? kFacingPhrase : kSymmetricPhrase;
}

std::wstring PicturePrompt(const ThemeSlot& slot, const std::vector<ThemeSubject>& subjects, const std::wstring& style,
                           const std::wstring& groundLook) {
    const bool icon = slot.Kind == L"Icon";
    const std::wstring key = SubjectKey(slot.Target);
    const auto subject = std::find_if(subjects.begin(), subjects.end(),
                                      [&](const ThemeSubject& s) { return !key.empty() && s.Key == key; });
    if (subject != subjects.end() && DescriptionChanged(*subject)) {
        if (icon)
            return L"A colourful game icon of " + subject->WhatItIs + L", " + style +
                   L", bold simple shapes, clean dark outline, full colour, no text, centred, isolated on a plain "
                   L"flat background.";
        return subject->WhatItIs + L", " + style + L", no text.";
    }
    const bool ground = slot.Category == L"Surfaces" && !groundLook.empty();
    const std::wstring prompt = withStyle(slot.Prompt, ground ? groundLook : style);
    // The picture workflow cuts icons out itself; a model asked for transparency draws a checkerboard.
    return icon ? replaceEvery(prompt, L"transparent background", L"isolated on a plain flat background") : prompt;
}

std::wstring ModelPrompt(const ThemeSubject& subject, const std::wstring& style, const FacesTargetMap& facesTarget) {
    // Towers always get the composed prompt: it carries which way they face.
    if (!subject.ModelSlotPrompt.empty() && !DescriptionChanged(subject) && !subject.Key.starts_with(kTowerPrefix))
        return withStyle(subject.ModelSlotPrompt, style);
    return composedModelPrompt(subject, style, facesTarget);
}

std::wstring SoundPrompt(const ThemeSlot& slot, const std::wstring& style, double seconds, bool warm) {
    std::wstring prompt = trimSpace(withStyle(slot.Prompt, style));
    while (!prompt.empty() && prompt.back() == L'.') prompt.pop_back();
    if (warm) prompt += L", warm and low-pitched, with no shrill or piercing high tones";
    const long long whole = (long long)seconds;
    return prompt + L". Length: " + std::to_wstring(whole) + (whole == 1 ? L" second." : L" seconds.") +
           L" TrackType: SFX";
}

std::wstring MusicPrompt(const ThemeSlot& slot, const std::wstring& style) {
    return trimSpace(withStyle(slot.Prompt, style));
}

std::wstring MusicKey(long long seed) { return kMusicKeys[((seed % 7) + 7) % 7]; }

bool HasOwnModelSlot(const ThemeSubject& subject, const std::vector<ThemeSlot>& slots) {
    return std::any_of(slots.begin(), slots.end(),
                       [&](const ThemeSlot& slot) { return slot.Kind == L"Model" && slot.File == subject.ModelPath; });
}

ThemeSlot ChecklistModelSlot(const ThemeSubject& subject, const FacesTargetMap& facesTarget) {
    ThemeSlot slot;
    slot.Kind = L"Model";
    slot.Category = L"Models";
    slot.Name = subject.Name + L": 3D model";
    slot.File = subject.ModelPath;
    slot.Format = L"GLB (glTF 2.0, one file), at most 200,000 triangles; Y up, the front facing +Z";
    slot.Generator = L"TRELLIS.2";
    slot.Prompt = composedModelPrompt(subject, kThemePlaceholder, facesTarget);
    return slot;
}

std::wstring ShownPrompt(const ThemeSlot& slot, const std::wstring& style) {
    return withStyle(slot.Prompt, style.empty() ? kNoStyleWords : style);
}

MakeKindsWords ParseMakeKinds(const std::wstring& text) {
    static const std::pair<const wchar_t*, MakeKinds> kWords[] = {
        {L"icons", Icons}, {L"images", Images}, {L"models", Models}, {L"sounds", Sounds}, {L"music", Music}};
    MakeKindsWords parsed;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(L',', start), text.size());
        const std::wstring word = lowerCase(trimSpace(text.substr(start, comma - start)));
        start = comma + 1;
        if (word.empty()) continue;
        const auto known = std::find_if(std::begin(kWords), std::end(kWords),
                                        [&](const auto& entry) { return word == entry.first; });
        if (known == std::end(kWords))
            return {0, L"--make takes icons, images, models, sounds and music (with commas between), not " + word + L"."};
        parsed.kinds |= known->second;
    }
    return parsed;
}

}  // namespace vorlane
