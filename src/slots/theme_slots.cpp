#include "slots/theme_slots.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "core/crash_points.h"
#include "core/files.h"
#include "core/json.h"
#include "core/log.h"
#include "core/root_lock.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/value_count.h"
#include "net/build_server.h"
#include "net/signature.h"

namespace vorlane {

namespace {

// Launchers on one root take turns at the kept copy, so that one never reads
// the list of one refresh beside the signature of another.
constexpr wchar_t kKeptCopyMutex[] = L"ThemeSlots";
constexpr DWORD kKeptCopyWaitMs = 10000;

const wchar_t* const kBuiltInTowers[] = {L"SingleTarget", L"Splash", L"Chain", L"Burn", L"Poison", L"Railgun"};

ThemeSlot slotOf(const FlatRecord& record) {
    ThemeSlot slot;
    slot.Id = field(record, "Id");
    slot.Kind = field(record, "Kind");
    slot.Category = field(record, "Category");
    slot.Name = field(record, "Name");
    slot.Purpose = field(record, "Purpose");
    slot.File = field(record, "File");
    slot.Format = field(record, "Format");
    slot.Prompt = field(record, "Prompt");
    slot.Generator = field(record, "Generator");
    slot.UsedFrom = field(record, "UsedFrom");
    slot.Target = field(record, "Target");
    slot.Loops = field(record, "Loops") == L"true";
    slot.Optional = field(record, "Optional") == L"true";
    return slot;
}

std::wstring entryName(size_t index, const JsonValue& entry) {
    const JsonValue& id = member(entry, "Id");
    std::wstring name = L"Entry " + std::to_wstring(index + 1);
    if (id.kind == JsonKind::String && !id.text.empty()) name += L" (" + toUtf16(id.text) + L")";
    return name;
}

std::wstring keptSignaturePath(const LauncherState& state) { return signatureName(keptThemeSlotsPath(state)); }

// Puts a signed list and its signature (none in a developer's build) in
// place of the kept copy, both or neither. Both are written whole beside their
// places first; when the signature can't be moved in after the list, the list
// kept before is put back. A kill between the two moves leaves at worst a new
// list beside the old signature, which the next load refuses and the next
// refresh mends.
bool keepSignedList(const LauncherState& state, const SignedDocument& document) {
    const std::wstring list = keptThemeSlotsPath(state);
    const std::wstring signature = keptSignaturePath(state);
    const bool withSignature = !document.signature.empty();
    if (!writeFileThrough(list + L".part", document.bytes) ||
        (withSignature && !writeFileThrough(signature + L".part", document.signature)))
        return false;
    std::string before;
    const bool hadList = readWholeFile(list, before);
    constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(longPath(list + L".part").c_str(), longPath(list).c_str(), kReplace)) return false;
    crashPoint(L"theme-slots-list-placed");
    if (withSignature ? MoveFileExW(longPath(signature + L".part").c_str(), longPath(signature).c_str(), kReplace)
                      : DeleteFileW(longPath(signature).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    const DWORD error = GetLastError();
    if (hadList)
        writeFileAtomically(list, before);
    else
        DeleteFileW(longPath(list).c_str());
    SetLastError(error);
    return false;
}

void refreshKeptCopy(LauncherState& state, const ReleaseKey& key) {
    const SignedDocument document = fetchSigned(state.listSource, kThemeSlotsName, key);
    if (document.answered && !atMostJsonValues(document.bytes)) {
        logLine(state, L"The theme files list from " + state.listSource +
                           L" is too big to read, so it isn't used. (more than " + std::to_wstring(kMostJsonValues) +
                           L" JSON values)");
        return;
    }
    // A list that didn't come, or names no slot, leaves the kept copy as it is.
    if (!document.answered || parseThemeSlots(document.bytes).empty()) return;
    if (!document.error.empty()) {
        logLine(state, L"The theme files list from " + state.listSource +
                           L" isn't signed with Vorlane's key, so it isn't used. (" + document.error + L")");
        return;
    }
    if (!keepSignedList(state, document)) {
        const DWORD error = GetLastError();
        DeleteFileW(longPath(keptThemeSlotsPath(state) + L".part").c_str());
        DeleteFileW(longPath(keptSignaturePath(state) + L".part").c_str());
        logLine(state, L"Couldn't keep the theme files list from " + state.listSource + L" (error " +
                           std::to_wstring(error) + L"); the one kept before stays in use.");
    }
}

}  // namespace

std::vector<ThemeSlot> parseThemeSlots(const std::string& bytes) {
    std::vector<ThemeSlot> slots;
    // Counted before it is read, like every signed list.
    if (!atMostJsonValues(bytes)) return slots;
    for (const FlatRecord& record : readFlatRecords(bytes)) {
        ThemeSlot slot = slotOf(record);
        if (!slot.Id.empty() && !slot.File.empty()) slots.push_back(std::move(slot));
    }
    return slots;
}

std::wstring themeSlotsListProblem(const std::string& bytes) {
    if (!atMostJsonValues(bytes))
        return L"The theme files list is too big to read (more than " + std::to_wstring(kMostJsonValues) +
               L" JSON values).";
    JsonValue document;
    if (!parseDocument(bytes, document) || document.kind != JsonKind::Array)
        return L"The theme files list isn't a JSON array.";
    if (document.items.empty()) return L"The theme files list names no slot.";
    std::set<std::string> ids;
    for (size_t index = 0; index < document.items.size(); ++index) {
        const JsonValue& entry = document.items[index];
        const std::wstring name = entryName(index, entry);
        if (entry.kind != JsonKind::Object) return name + L" isn't an object.";
        for (const auto& [key, value] : entry.members)
            if (value.kind == JsonKind::Array || value.kind == JsonKind::Object)
                return name + L" holds a list or an object in " + toUtf16(key) + L"; entries are flat.";
        const JsonValue& id = member(entry, "Id");
        if (id.kind != JsonKind::String || id.text.empty()) return name + L" has no Id.";
        if (!ids.insert(id.text).second) return name + L" has the same Id as an entry before it.";
        const JsonValue& file = member(entry, "File");
        if (file.kind != JsonKind::String || file.text.empty()) return name + L" has no File.";
        if (!isSafeRelativePath(toUtf16(file.text)))
            return name + L" has the File " + toUtf16(file.text) +
                   L", which isn't a safe path below a theme's Import folder.";
    }
    return {};
}

SlotGroup slotGroup(const std::wstring& id) {
    const size_t cut = id.find(L'_');
    if (cut == std::wstring::npos || cut + 1 == id.size()) return {};
    const std::wstring prefix = id.substr(0, cut);
    const char* group = prefix == L"Tower"     ? "Towers"
                        : prefix == L"Enemy"   ? "Enemies"
                        : prefix == L"Foliage" ? "Foliage"
                                               : nullptr;
    if (!group) return {};
    return {group, toUtf8(id.substr(cut + 1))};
}

bool isBuiltInTowerKind(const std::wstring& text) {
    return std::find(std::begin(kBuiltInTowers), std::end(kBuiltInTowers), text) != std::end(kBuiltInTowers);
}

bool isSafeRelativePath(const std::wstring& path) {
    std::wstring slashed = path;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    if (slashed.empty() || slashed.front() == L'/' || slashed.back() == L'/') return false;
    if (slashed.find(L"//") != std::wstring::npos) return false;
    for (wchar_t c : slashed)
        if (c < 32 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos) return false;
    size_t start = 0;
    for (;;) {
        const size_t end = slashed.find(L'/', start);
        const wchar_t last = slashed[(end == std::wstring::npos ? slashed.size() : end) - 1];
        if (last == L'.' || last == L' ') return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

std::wstring keptThemeSlotsPath(const LauncherState& state) { return joinPath(state.rootFolder, kThemeSlotsName); }

void loadThemeSlots(LauncherState& state) { loadThemeSlots(state, releaseKey()); }

void loadThemeSlots(LauncherState& state, const ReleaseKey& key) {
    RootMutex keptCopy;
    const bool ours = keptCopy.acquire(kKeptCopyMutex, state.rootFolder, kKeptCopyWaitMs);
    // Without the turn, the kept copy is only read: another launcher is refreshing it.
    if (ours && !state.listSource.empty()) refreshKeptCopy(state, key);

    const std::string bytes = readWholeFile(keptThemeSlotsPath(state));
    if (!isDeveloperKey(key) && !bytes.empty() &&
        !verifySignature(bytes, readWholeFile(keptSignaturePath(state)), key)) {
        // A list loaded before was signed when it was read: it stays, so a
        // copy caught half-refreshed by another launcher (the new list beside
        // the old signature) never wipes a good list.
        if (state.themeSlots.empty())
            logLine(state,
                    L"The kept theme files list isn't signed with Vorlane's key, so it isn't used: there's no list of "
                    L"theme files until a build server gives a signed one.");
        else
            logLine(state, L"The kept theme files list doesn't match its signature (another launcher may be "
                           L"refreshing it), so it isn't used: the list loaded before stays in use.");
    } else {
        state.themeSlots = parseThemeSlots(bytes);
    }
    keptCopy.release();

    state.themeFolder = readSetting(state, L"ThemeFolder");
    state.themeStyle = readSetting(state, L"ThemeStyle");
}

}  // namespace vorlane
