#include "themes/theme_json.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

#include "comfy/comfy_check.h"
#include "core/files.h"
#include "core/text.h"

namespace vorlane {

const BaseTheme kBaseThemes[kBaseThemeCount] = {
    {L"Default", L"Default"},
    {L"Ocean", L"Ocean"},
    {L"Kaiju", L"Kaiju"},
    {L"KaijuReverse", L"Kaiju (Reverse)"},
    {L"PirateCove", L"Haunted Pirate Cove"},
    {L"FineDining", L"Fine Dining"},
};

// Sun pitch, yaw, intensity, colour; fill intensity, colour, pitch, yaw; sky
// intensity, colour; fog density, colour, start, falloff; exposure,
// saturation, contrast; tint, shadow tint, highlight tint; bloom, vignette.
// clang-format off
const LightingMood kLightingMoods[kMoodCount] = {
    {L"Neon night", -60.f, 80.f, 2.5f, {0.55f, 0.45f, 1.f}, 2.6f, {1.f, 0.25f, 0.75f}, -20.f, 260.f, 1.4f, {0.35f, 0.2f, 0.6f}, 0.05f, {0.25f, 0.1f, 0.4f}, 2500.f, 0.3f, 0.3f, 1.3f, 1.2f, {1.f, 0.94f, 1.f}, {0.85f, 0.75f, 1.f}, {0.9f, 1.f, 1.f}, 2.2f, 0.6f,
     L"neon cyber* synth* vaporwave disco* arcade* tron hologram* laser* rave nightclub* glow*"},
    {L"Spooky", -55.f, 60.f, 3.5f, {0.6f, 0.75f, 1.f}, 2.2f, {0.4f, 1.f, 0.55f}, -20.f, 245.f, 1.3f, {0.25f, 0.3f, 0.55f}, 0.05f, {0.15f, 0.3f, 0.22f}, 2500.f, 0.3f, 0.1f, 1.f, 1.15f, {0.92f, 0.98f, 0.96f}, {0.8f, 0.95f, 0.9f}, {0.98f, 1.f, 0.96f}, 1.6f, 0.7f,
     L"spook* haunt* ghost* ghoul* halloween horror* zombie* graveyard* cemetery cemeteries tomb* witch* vampire* undead creep* curse* skeleton* skull* pumpkin* crypt* eerie phantom* spectre* specter* necro* bat"},
    {L"Underwater", -80.f, 60.f, 5.f, {0.55f, 0.9f, 1.f}, 1.5f, {0.3f, 0.8f, 0.9f}, -30.f, 240.f, 2.f, {0.3f, 0.7f, 0.8f}, 0.08f, {0.1f, 0.45f, 0.55f}, 2000.f, 0.3f, 0.3f, 1.1f, 1.f, {0.85f, 1.f, 1.f}, {0.75f, 0.95f, 1.f}, {0.95f, 1.f, 1.f}, 1.2f, 0.55f,
     L"underwater undersea* reef* coral* abyss* mermaid* atlantis submarine* aquarium* kelp octopus* jellyfish"},
    {L"Snowy", -50.f, 40.f, 9.f, {1.f, 0.98f, 0.95f}, 1.2f, {0.7f, 0.82f, 1.f}, -35.f, 220.f, 2.4f, {0.8f, 0.88f, 1.f}, 0.04f, {0.85f, 0.9f, 1.f}, 3500.f, 0.2f, 0.1f, 0.85f, 1.f, {0.96f, 0.98f, 1.f}, {0.82f, 0.9f, 1.f}, {1.f, 1.f, 1.f}, 0.9f, 0.3f,
     L"snow* ice icy frozen frost* winter* arctic antarctic polar christmas* xmas glacier* yeti* blizzard* penguin* tundra"},
    {L"Desert heat", -70.f, 30.f, 12.f, {1.f, 0.9f, 0.72f}, 0.8f, {0.95f, 0.75f, 0.55f}, -40.f, 210.f, 1.2f, {0.85f, 0.8f, 0.7f}, 0.03f, {0.95f, 0.78f, 0.55f}, 3500.f, 0.15f, 0.f, 1.05f, 1.1f, {1.f, 0.96f, 0.88f}, {1.f, 0.9f, 0.82f}, {1.f, 0.97f, 0.88f}, 1.f, 0.4f,
     L"desert* sand sandy dune* egypt* pharaoh* pyramid* mummy mummies cowboy* western outlaw* saloon* canyon* cactus cacti mars martian* savanna* safari* mesa oasis"},
    {L"Sunset", -24.f, 60.f, 4.5f, {1.f, 0.58f, 0.38f}, 3.2f, {0.58f, 0.5f, 1.f}, -35.f, 240.f, 1.5f, {0.75f, 0.55f, 0.85f}, 0.04f, {0.9f, 0.45f, 0.4f}, 3000.f, 0.25f, 0.1f, 1.1f, 1.05f, {1.f, 0.95f, 0.93f}, {0.85f, 0.8f, 1.f}, {1.f, 0.94f, 0.86f}, 1.1f, 0.5f,
     L"sunset* dusk volcan* lava magma inferno* hell hellish hellfire ember* fire* flame* molten apocalyp* dragon* demon*"},
    {L"Stormy", -55.f, 100.f, 4.f, {0.75f, 0.8f, 0.9f}, 1.2f, {0.55f, 0.65f, 0.85f}, -40.f, 260.f, 2.f, {0.45f, 0.5f, 0.6f}, 0.06f, {0.35f, 0.4f, 0.48f}, 2500.f, 0.3f, 0.2f, 0.75f, 1.15f, {0.94f, 0.97f, 1.f}, {0.8f, 0.86f, 1.f}, {0.96f, 0.98f, 1.f}, 0.5f, 0.6f,
     L"storm* thunder* lightning rain rainy raining war warzone battle* military army armies tank* steampunk dystop* gloom* grim* industrial* factory factories smog*"},
    {L"Night", -55.f, 65.f, 3.5f, {0.5f, 0.62f, 1.f}, 1.8f, {0.4f, 0.55f, 1.f}, -25.f, 245.f, 1.2f, {0.2f, 0.28f, 0.6f}, 0.03f, {0.1f, 0.14f, 0.28f}, 3000.f, 0.25f, 0.1f, 0.9f, 1.12f, {0.9f, 0.95f, 1.f}, {0.78f, 0.85f, 1.f}, {0.95f, 0.97f, 1.f}, 1.5f, 0.6f,
     L"night* moon* midnight star starry space galax* cosmic cosmos alien* ufo* astronaut* planet* nebula* noir dark* shadow* owl*"},
    {L"Misty", -45.f, 50.f, 5.f, {1.f, 0.95f, 0.88f}, 1.f, {0.8f, 0.9f, 1.f}, -30.f, 230.f, 2.2f, {0.8f, 0.88f, 0.95f}, 0.08f, {0.8f, 0.85f, 0.88f}, 2000.f, 0.35f, 0.3f, 0.85f, 0.9f, {1.f, 1.f, 1.f}, {0.92f, 0.96f, 1.f}, {1.f, 1.f, 0.96f}, 1.f, 0.3f,
     L"mist* fog* swamp* bog* marsh* jungle* rainforest* fairy fairies fae enchant* mystic* dream* forest* wood woods woodland* elf elves elven mushroom* moss* druid*"},
    {L"Golden hour", -30.f, 45.f, 6.5f, {1.f, 0.74f, 0.48f}, 2.f, {0.5f, 0.62f, 1.f}, -30.f, 225.f, 1.4f, {0.7f, 0.78f, 1.f}, 0.025f, {0.95f, 0.72f, 0.5f}, 4000.f, 0.2f, 0.1f, 1.1f, 1.05f, {1.f, 0.96f, 0.92f}, {0.85f, 0.88f, 1.f}, {1.f, 0.96f, 0.88f}, 0.9f, 0.45f,
     L"autumn* fall harvest* pirate* treasure* medieval knight* castle* kingdom* farm* village* cozy cosy fantasy wizard* cottage* orchard* honey*"},
    {L"Overcast", -70.f, 35.f, 3.5f, {0.85f, 0.88f, 0.92f}, 0.8f, {0.8f, 0.85f, 0.9f}, -45.f, 215.f, 3.f, {0.75f, 0.8f, 0.85f}, 0.03f, {0.68f, 0.72f, 0.76f}, 3500.f, 0.2f, 0.3f, 0.8f, 0.92f, {0.97f, 0.98f, 1.f}, {0.95f, 0.97f, 1.f}, {1.f, 1.f, 1.f}, 0.4f, 0.35f,
     L"city cities urban* metropol* street* subway* ruin* rust* scrap* junk* concrete* office*"},
    {L"Sunny day", -62.f, 55.f, 10.f, {1.f, 0.96f, 0.88f}, 0.6f, {0.65f, 0.78f, 1.f}, -35.f, 235.f, 1.2f, {0.62f, 0.78f, 1.f}, 0.01f, {0.7f, 0.82f, 1.f}, 5000.f, 0.2f, 0.f, 1.12f, 1.06f, {1.f, 1.f, 1.f}, {0.9f, 0.94f, 1.f}, {1.f, 0.98f, 0.94f}, 0.7f, 0.3f,
     L"sunny sun summer* beach* ocean* sea seaside coast* tropic* island* cartoon* toy toys candy candies sweet* kid* happy bright* kaiju* meadow* garden* spring picnic* dino*"},
};
// clang-format on

namespace {

// Moods picked by the theme's name when nothing else decides.
const wchar_t* const kFallbackMoods[] = {L"Sunny day", L"Golden hour", L"Sunset", L"Overcast", L"Misty"};

constexpr wchar_t kThemeFileName[] = L"theme.json";
constexpr wchar_t kUnreadableName[] = L"theme.json.unreadable";

std::wstring withoutSeparators(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : lowerCase(text))
        if (c != L' ' && c != L'-' && c != L'_') out += c;
    return out;
}

std::vector<std::wstring> wordsOf(const std::wstring& lowered) {
    std::vector<std::wstring> words;
    std::wstring word;
    for (wchar_t c : lowered + L" ") {
        if (IsCharAlphaNumericW(c)) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

std::vector<std::wstring> keywordsOf(const LightingMood& mood) {
    std::vector<std::wstring> keywords;
    const std::wstring all = mood.Keywords;
    for (size_t start = 0; start < all.size();) {
        const size_t blank = std::min(all.find(L' ', start), all.size());
        keywords.push_back(all.substr(start, blank - start));
        start = blank + 1;
    }
    return keywords;
}

bool keywordMatches(const std::wstring& keyword, const std::wstring& word) {
    if (!keyword.empty() && keyword.back() == L'*')
        return word.compare(0, keyword.size() - 1, keyword, 0, keyword.size() - 1) == 0 &&
               word.size() >= keyword.size() - 1;
    return word == keyword || word == keyword + L"s" || word == keyword + L"es";
}

const LightingMood& moodNamed(const wchar_t* name) {
    return *std::find_if(std::begin(kLightingMoods), std::end(kLightingMoods),
                         [&](const LightingMood& mood) { return std::wstring(mood.Mood) == name; });
}

// The source text of a value, exactly as it stood.
std::string rawText(const std::string& source, const JsonValue& value) {
    return source.substr(value.begin, value.end - value.begin);
}

// The last member of that name, or null when there is none.
const JsonValue* findMember(const JsonValue& object, const std::string& key) {
    const JsonValue* found = nullptr;
    for (const auto& [name, value] : object.members)
        if (name == key) found = &value;
    return found;
}

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", (double)value);
    return text;
}

int srgbByte(float linear) {
    const double v = std::clamp((double)linear, 0.0, 1.0);
    const double encoded = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return (int)std::nearbyint(encoded * 255);  // the default rounding: halves to even
}

std::string colour(const float (&rgb)[3]) {
    char text[16];
    std::snprintf(text, sizeof text, "\"#%02X%02X%02X\"", srgbByte(rgb[0]), srgbByte(rgb[1]), srgbByte(rgb[2]));
    return text;
}

int yawOffset(const ThemeJob& job) {
    return (int)(((uint64_t)job.Seed + (uint64_t)NameHash(job.FolderName)) % 25) - 12;
}

// The old theme.json, read as far as it is a JSON object.
struct OldThemeJson {
    JsonValue document;
    bool readable = false;
};

OldThemeJson parseOld(const std::string& text) {
    OldThemeJson old;
    old.readable = parseDocument(text, old.document) && old.document.kind == JsonKind::Object;
    return old;
}

std::string readThemeJson(const std::wstring& folder) { return readWholeFile(joinPath(folder, kThemeFileName)); }

// Section -> entry name -> members set by this run, in the order set; an empty value drops the member.
using EntryValues = std::vector<std::pair<std::string, std::string>>;
using SectionValues = std::map<std::string, EntryValues>;

void setValue(EntryValues& entry, const std::string& member, const std::string& value) {
    for (auto& [name, text] : entry)
        if (name == member) {
            text = value;
            return;
        }
    entry.emplace_back(member, value);
}

std::string oneLineObject(const std::vector<std::string>& members) {
    std::string text = "{ ";
    for (size_t i = 0; i < members.size(); ++i) text += (i ? ", " : "") + members[i];
    return text + " }";
}

std::string memberText(const std::string& key, const std::string& value) {
    return quoteJson(toUtf16(key)) + ": " + value;
}

// An old section merged with this run's values for it.
std::string sectionBody(const std::string& source, const JsonValue* old, const SectionValues& values) {
    std::string body;
    const auto add = [&](const std::string& name, const std::string& value) {
        body += (body.empty() ? "\n\t\t" : ",\n\t\t") + memberText(name, value);
    };
    std::vector<std::string> seen;
    if (old) {
        for (const auto& [name, entry] : old->members) {
            seen.push_back(name);
            const auto set = values.find(name);
            if (set == values.end() || entry.kind != JsonKind::Object) {
                add(name, rawText(source, entry));
                continue;
            }
            std::vector<std::string> members;
            std::vector<std::string> oldKeys;
            for (const auto& [key, value] : entry.members) {
                oldKeys.push_back(key);
                const auto replaced = std::find_if(set->second.begin(), set->second.end(),
                                                   [&](const auto& pair) { return pair.first == key; });
                const std::string text = replaced == set->second.end() ? rawText(source, value) : replaced->second;
                if (!text.empty()) members.push_back(memberText(key, text));
            }
            for (const auto& [key, text] : set->second)
                if (!text.empty() && std::find(oldKeys.begin(), oldKeys.end(), key) == oldKeys.end())
                    members.push_back(memberText(key, text));
            if (!members.empty()) add(name, oneLineObject(members));
        }
    }
    for (const auto& [name, entry] : values) {
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        std::vector<std::string> members;
        for (const auto& [key, text] : entry)
            if (!text.empty()) members.push_back(memberText(key, text));
        if (!members.empty()) add(name, oneLineObject(members));
    }
    return body;
}

std::string utcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

}  // namespace

int FindBaseTheme(const std::wstring& text) {
    for (int i = 0; i < kBaseThemeCount; ++i)
        if (equalsIgnoringCase(text, kBaseThemes[i].Key)) return i;
    return -1;
}

const LightingMood* FindMood(const std::wstring& text) {
    const std::wstring wanted = withoutSeparators(text);
    if (wanted.empty()) return nullptr;
    for (const LightingMood& mood : kLightingMoods)
        if (withoutSeparators(mood.Mood) == wanted) return &mood;
    return nullptr;
}

KeywordMatch MoodByKeywords(const std::wstring& text) {
    const std::vector<std::wstring> words = wordsOf(lowerCase(text));
    for (const LightingMood& mood : kLightingMoods)
        for (const std::wstring& keyword : keywordsOf(mood))
            for (const std::wstring& word : words)
                if (keywordMatches(keyword, word)) return {&mood, word};
    return {};
}

uint32_t NameHash(const std::wstring& text) {
    uint32_t hash = 2166136261u;
    for (wchar_t unit : lowerCase(text)) {
        hash ^= (uint16_t)unit;
        hash *= 16777619u;
    }
    return hash;
}

MoodChoice ChooseMood(const ThemeJob& job) {
    if (equalsIgnoringCase(job.Lighting, L"base")) return {nullptr, L"the base theme's (" + job.Base + L")"};
    if (const LightingMood* named = FindMood(job.Lighting)) return {named, named->Mood};
    const KeywordMatch match = MoodByKeywords(job.Name + L" " + job.Style);
    if (match.mood)
        return {match.mood, std::wstring(match.mood->Mood) + L", as the name or style says \"" + match.word + L"\""};
    const LightingMood& fallback = moodNamed(kFallbackMoods[NameHash(job.FolderName) % 5]);
    return {&fallback, std::wstring(fallback.Mood) +
                           L", picked by the theme's name (nothing in its name or style "
                           L"chooses one)"};
}

LightingVerdict LightingDecision(const ThemeJob& job, const LightingMood* mood, const JsonValue* existing) {
    const JsonValue* existingMood =
        existing && existing->kind == JsonKind::Object ? findMember(*existing, "Mood") : nullptr;
    const bool generated = existingMood && existingMood->kind == JsonKind::String;
    if (existing && !generated) return LightingVerdict::KeepExisting;
    if (!mood) return LightingVerdict::WriteNone;
    if (generated && equalsIgnoringCase(toUtf16(existingMood->text), mood->Mood) && !job.MakeAgain)
        return LightingVerdict::KeepExisting;
    return LightingVerdict::WriteMood;
}

std::wstring LightingLine(const ThemeJob& job) {
    const OldThemeJson old = parseOld(readThemeJson(job.Folder));
    const JsonValue* existing = old.readable ? findMember(old.document, "Lighting") : nullptr;
    const MoodChoice choice = ChooseMood(job);
    if (LightingDecision(job, choice.mood, existing) != LightingVerdict::KeepExisting)
        return L"Lighting: " + choice.reason + L".";
    const JsonValue* mood = existing->kind == JsonKind::Object ? findMember(*existing, "Mood") : nullptr;
    if (mood && mood->kind == JsonKind::String)
        return L"Lighting: " + toUtf16(mood->text) +
               L", as theme.json has it (a change made to it by hand stays; Make again writes it again).";
    return L"Lighting: theme.json's own, written by hand, so it stays (take it out of theme.json for a mood).";
}

std::string MoodBlock(const LightingMood& mood, const ThemeJob& job) {
    const float offset = (float)yawOffset(job);
    const std::pair<const char*, std::string> fields[] = {
        {"SunPitch", number(mood.SunPitch)},
        {"SunYaw", number(mood.SunYaw + offset)},
        {"SunIntensity", number(mood.SunIntensity)},
        {"SunColor", colour(mood.SunColor)},
        {"FillIntensity", number(mood.FillIntensity)},
        {"FillColor", colour(mood.FillColor)},
        {"FillPitch", number(mood.FillPitch)},
        {"FillYaw", number(mood.FillYaw + offset)},
        {"SkyIntensity", number(mood.SkyIntensity)},
        {"SkyColor", colour(mood.SkyColor)},
        {"FogDensity", number(mood.FogDensity)},
        {"FogColor", colour(mood.FogColor)},
        {"FogStart", number(mood.FogStart)},
        {"FogFalloff", number(mood.FogFalloff)},
        {"Exposure", number(mood.Exposure)},
        {"Saturation", number(mood.Saturation)},
        {"Contrast", number(mood.Contrast)},
        {"Tint", colour(mood.Tint)},
        {"ShadowTint", colour(mood.ShadowTint)},
        {"HighlightTint", colour(mood.HighlightTint)},
        {"Bloom", number(mood.Bloom)},
        {"Vignette", number(mood.Vignette)},
    };
    std::string text = "{\n\t\t\"Mood\": " + quoteJson(mood.Mood);
    for (const auto& [name, value] : fields) text += std::string(",\n\t\t\"") + name + "\": " + value;
    return text + "\n\t}";
}

FacesTargetMap ReadFacesTarget(const std::wstring& folder) {
    FacesTargetMap faces;
    const OldThemeJson old = parseOld(readThemeJson(folder));
    if (!old.readable) return faces;
    for (const auto& [name, entry] : member(old.document, "Towers").members) {
        const JsonValue& flag = member(entry, "FacesTarget");
        if (flag.kind == JsonKind::Bool) faces[toUtf16(name)] = flag.text == "true";
    }
    return faces;
}

std::string ThemeJsonText(const ThemeJob& job, const std::wstring& comfyVersion, const ThemeRunCounts& counts,
                          const FacesTargetMap& facesTarget, const std::string& oldText, const std::string& when) {
    static const char* const kSections[] = {"Towers", "Enemies", "Foliage"};
    static const char* const kRunOwned[] = {"Format", "Name", "Base", "Style", "Author", "Created", "Lighting"};
    const OldThemeJson old = parseOld(oldText);
    std::string author;
    const JsonValue* lighting = nullptr;
    std::map<std::string, const JsonValue*> oldSections;
    std::vector<std::pair<std::string, std::string>> handAdded;
    if (old.readable) {
        for (const auto& [key, value] : old.document.members) {
            const bool section = std::find(std::begin(kSections), std::end(kSections), key) != std::end(kSections);
            if (key == "Author") {
                if (value.kind == JsonKind::String && !value.text.empty()) author = rawText(oldText, value);
            } else if (key == "Lighting") {
                lighting = &value;
            } else if (section && value.kind == JsonKind::Object) {
                oldSections[key] = &value;
            } else if (std::find(std::begin(kRunOwned), std::end(kRunOwned), key) == std::end(kRunOwned)) {
                handAdded.emplace_back(key, rawText(oldText, value));
            }
        }
    }

    std::map<std::string, SectionValues> values;
    for (const auto& [tower, faces] : facesTarget) {
        EntryValues& entry = values["Towers"][toUtf8(tower)];
        setValue(entry, "FacesTarget", faces ? "true" : "false");
        setValue(entry, "FrontYaw", "");
    }
    for (const ThemeSubject& subject : job.Subjects) {
        const SlotGroup section = ThemeSection(subject.Key);
        if (subject.CalledGiven && !section.group.empty())
            setValue(values[section.group][section.member], "Name",
                     subject.Called.empty() ? "" : quoteJson(subject.Called));
    }

    std::string text =
        "{\n\t\"Format\": 1,\n\t\"Name\": " + quoteJson(job.Name) + ",\n\t\"Base\": " + quoteJson(job.Base) + ",\n";
    if (!author.empty()) text += "\t\"Author\": " + author + ",\n";
    text += "\t\"Style\": " + quoteJson(job.Style);
    for (const auto& [key, raw] : handAdded) text += ",\n\t" + memberText(key, raw);
    for (const char* section : kSections) {
        if (std::any_of(handAdded.begin(), handAdded.end(), [&](const auto& kept) { return kept.first == section; }))
            continue;
        const auto oldSection = oldSections.find(section);
        const std::string body =
            sectionBody(oldText, oldSection == oldSections.end() ? nullptr : oldSection->second, values[section]);
        if (!body.empty()) text += ",\n\t\"" + std::string(section) + "\": {" + body + "\n\t}";
    }
    const MoodChoice choice = ChooseMood(job);
    switch (LightingDecision(job, choice.mood, lighting)) {
        case LightingVerdict::WriteMood:
            text += ",\n\t\"Lighting\": " + MoodBlock(*choice.mood, job);
            break;
        case LightingVerdict::KeepExisting:
            text += ",\n\t\"Lighting\": " + rawText(oldText, *lighting);
            break;
        case LightingVerdict::WriteNone:
            break;
    }
    std::string models;
    for (const ModelFile& row : ModelFileTable)
        if (row.kinds & job.Kinds)
            models += (models.empty() ? "" : ", ") + quoteJson(toUtf16(std::string(row.folder) + "/" + row.file));
    text +=
        ",\n\t\"Created\": {\n\t\t\"By\": \"Vorlane Launcher\",\n\t\t\"Launcher\": " + quoteJson(job.LauncherVersion) +
        ",\n\t\t\"ComfyUI\": " + quoteJson(comfyVersion) + ",\n\t\t\"When\": \"" + when + "\",\n\t\t\"Models\": [" +
        models + "],\n\t\t\"Seed\": " + std::to_string(job.Seed) +
        ",\n\t\t\"Lighting\": " + quoteJson(job.Lighting.empty() ? L"match" : job.Lighting) +
        ",\n\t\t\"GroundStyle\": " + quoteJson(job.GroundStyle) + ",\n\t\t\"Subjects\": {";
    for (size_t i = 0; i < job.Subjects.size(); ++i)
        text += (i ? ",\n\t\t\t" : "\n\t\t\t") + quoteJson(job.Subjects[i].Key) + ": " +
                quoteJson(EffectiveDescription(job.Subjects[i]));
    text += job.Subjects.empty() ? "},\n" : "\n\t\t},\n";
    text += "\t\t\"Made\": " + std::to_string(counts.Made) + ",\n\t\t\"Kept\": " + std::to_string(counts.Kept) +
            ",\n\t\t\"Failed\": " + std::to_string(counts.Failed) +
            ",\n\t\t\"Complete\": " + (counts.Complete ? "true" : "false") + "\n\t}\n}\n";
    return text;
}

bool WriteThemeJson(const ThemeJob& job, const std::wstring& comfyVersion, const ThemeRunCounts& counts,
                    const FacesTargetMap& facesTarget, const std::function<void(const std::wstring&)>& log) {
    const std::wstring path = joinPath(job.Folder, kThemeFileName);
    std::string oldText;
    // A file there that can't be read (another program holds it) isn't written
    // over either: what the author wrote in it would be lost.
    if (!readWholeFile(path, oldText) && GetLastError() != ERROR_FILE_NOT_FOUND &&
        GetLastError() != ERROR_PATH_NOT_FOUND)
        return false;
    if (!oldText.empty() && !parseOld(oldText).readable) {
        // A file that can't be set aside isn't written over: what the player wrote in it stays.
        if (!MoveFileExW(longPath(path).c_str(), longPath(joinPath(job.Folder, kUnreadableName)).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return false;
        log(L"theme.json couldn't be read, so it's kept as theme.json.unreadable and a new one written.");
        oldText.clear();
    }
    return makeFolderTree(job.Folder) &&
           writeFileAtomically(path, ThemeJsonText(job, comfyVersion, counts, facesTarget, oldText, utcNow()));
}

bool ReadExistingThemeForm(const std::wstring& folder, std::vector<ThemeSubject>& subjects, ExistingThemeForm& form) {
    const OldThemeJson old = parseOld(readThemeJson(folder));
    if (!old.readable) return false;
    const JsonValue& created = member(old.document, "Created");
    for (ThemeSubject& subject : subjects) {
        const std::wstring description = trimSpace(textWide(member(member(created, "Subjects"), toUtf8(subject.Key))));
        if (!description.empty()) subject.WhatItIs = description;
        const SlotGroup section = ThemeSection(subject.Key);
        if (section.group.empty()) continue;
        const JsonValue& entry = member(member(old.document, section.group), section.member);
        const std::wstring called = trimSpace(textWide(member(entry, "Name")));
        if (!called.empty()) subject.Called = called.substr(0, kMostCalledCharacters);
    }
    form.Style = textWide(member(old.document, "Style"));
    form.GroundStyle = textWide(member(created, "GroundStyle"));
    form.Base = textWide(member(old.document, "Base"));
    const JsonValue& lighting = member(created, "Lighting");
    form.Lighting = lighting.kind == JsonKind::String ? std::optional(textWide(lighting)) : std::nullopt;
    return true;
}

}  // namespace vorlane
