#include "pieces/build_index.h"

#include <unordered_map>
#include <unordered_set>

#include "core/files_below.h"
#include "core/json.h"
#include "core/text.h"
#include "pieces/piece_cutter.h"
#include "core/value_count.h"

namespace vorlane {

namespace {

constexpr size_t kLongestPathPart = 255;
constexpr size_t kLongestBuildPath = 1024;

bool isDeviceName(const std::wstring& part) {
    // The name before its first "." counts: "nul.txt" is the device too. Windows also takes the
    // superscript digits one to three for ports ("COM¹", "LPT²").
    const std::wstring stem = lowerCase(part.substr(0, part.find(L'.')));
    if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul") return true;
    if (stem.size() != 4 || !(stem.starts_with(L"com") || stem.starts_with(L"lpt"))) return false;
    const wchar_t digit = stem[3];
    return (digit >= L'1' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3';
}

// "LONGFI~1.PAK": Windows may give a long name a short one of this form, so a
// file named so can be the same file as another listed under its long name.
bool isShortNameForm(const std::wstring& part) {
    for (size_t at = part.find(L'~'); at != std::wstring::npos; at = part.find(L'~', at + 1))
        if (at + 1 < part.size() && part[at + 1] >= L'0' && part[at + 1] <= L'9') return true;
    return false;
}

bool isSafePart(const std::wstring& part) {
    if (part.empty() || part.size() > kLongestPathPart) return false;
    if (part.back() == L'.' || part.back() == L' ') return false;
    for (wchar_t c : part)
        if (c < 32 || std::wstring_view(L"<>\"|?*:").find(c) != std::wstring_view::npos) return false;
    return !isDeviceName(part) && !isShortNameForm(part);
}

BuildIndexCheck judged(BuildIndexVerdict verdict, const std::wstring& badPath = {}) {
    return BuildIndexCheck{verdict, badPath};
}

// The paths of the files listed so far, and of the folders that hold them.
struct SeenPaths {
    std::unordered_set<std::wstring> files;
    std::unordered_set<std::wstring> folders;
};

// The limits one file must keep, after the files in `seen`.
BuildIndexCheck judgeFile(const IndexFile& file, SeenPaths& seen) {
    if (!isWindowsSafePath(file.path)) return judged(BuildIndexVerdict::UnsafePath, file.path);
    const std::wstring key = samePathKey(file.path);
    if (!seen.files.insert(key).second) return judged(BuildIndexVerdict::RepeatedPath, file.path);
    // "x" and "x/y.txt" can't both be: a path is a file's or a folder's.
    if (seen.folders.contains(key)) return judged(BuildIndexVerdict::FileAndFolder, file.path);
    for (size_t slash = key.find(L'/'); slash != std::wstring::npos; slash = key.find(L'/', slash + 1))
        if (seen.folders.insert(key.substr(0, slash)).second && seen.files.contains(key.substr(0, slash)))
            return judged(BuildIndexVerdict::FileAndFolder, file.path);
    if (!piecesAddUp(file)) return judged(BuildIndexVerdict::BadFile, file.path);
    return judged(BuildIndexVerdict::Good);
}

// An empty folder, after every file: safe, and neither a file's path nor below one.
BuildIndexCheck judgeFolder(const std::wstring& folder, const SeenPaths& seen) {
    if (!isWindowsSafePath(folder)) return judged(BuildIndexVerdict::UnsafePath, folder);
    const std::wstring key = samePathKey(folder);
    for (size_t end = key.find(L'/'); ; end = key.find(L'/', end + 1)) {
        if (seen.files.contains(key.substr(0, end))) return judged(BuildIndexVerdict::FileAndFolder, folder);
        if (end == std::wstring::npos) return judged(BuildIndexVerdict::Good);
    }
}

// The limits of the whole build, once every file passed.
BuildIndexCheck judgeWhole(const BuildIndex& index) {
    if (index.files.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooBig);
    uint64_t total = 0;
    bool hasGame = false;
    for (const IndexFile& file : index.files) {
        total += file.size;  // each is the sum of at most 2^32 pieces of at most 2^19 bytes
        if (total > kMostBuildBytes) return judged(BuildIndexVerdict::TooBig);
        hasGame = hasGame || file.path == kGameProgram;
    }
    return judged(hasGame ? BuildIndexVerdict::Good : BuildIndexVerdict::NoGame);
}

}  // namespace

bool isWindowsSafePath(const std::wstring& path) {
    if (path.empty() || path.size() > kLongestBuildPath || path.find(L"..") != std::wstring::npos) return false;
    size_t start = 0;
    while (true) {
        const size_t end = path.find_first_of(L"/\\", start);
        if (!isSafePart(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start)))
            return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

BuildIndexCheck readBuildIndex(const std::string& text, const std::wstring& commit, BuildIndex& index) {
    index = BuildIndex{};
    JsonValue document;
    if (!atMostJsonValues(text, kMostBuildIndexValues) || !parseDocument(text, document) ||
        document.kind != JsonKind::Object)
        return judged(BuildIndexVerdict::Unreadable);
    const JsonValue& build = member(document, "Build");
    if (build.kind != JsonKind::String || textWide(build) != commit) return judged(BuildIndexVerdict::NotThisBuild);
    if (!isKnownScheme(member(document, "Chunks"))) return judged(BuildIndexVerdict::UnknownScheme);

    index.build = commit;
    const JsonValue& files = member(document, "Files");
    if (files.items.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooBig);
    SeenPaths seen;
    index.files.reserve(files.items.size());
    for (const JsonValue& item : files.items) {  // a "Files" that isn't an array lists nothing
        IndexFile file;
        if (!readIndexFile(item, file)) return judged(BuildIndexVerdict::BadFile, file.path);
        const BuildIndexCheck check = judgeFile(file, seen);
        if (check.verdict != BuildIndexVerdict::Good) return check;
        index.files.push_back(std::move(file));
    }
    const JsonValue& folders = member(document, "Folders");  // none in an older publisher's index
    if (folders.items.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooBig);
    for (const JsonValue& item : folders.items) {
        if (item.kind != JsonKind::String) return judged(BuildIndexVerdict::Unreadable);
        const BuildIndexCheck check = judgeFolder(index.folders.emplace_back(textWide(item)), seen);
        if (check.verdict != BuildIndexVerdict::Good) return check;
    }
    const BuildIndexCheck whole = judgeWhole(index);
    // A pack that can't be the index's pieces is left unused rather than the index refused.
    const JsonValue& pack = member(document, "Pack");
    long long size = -1;
    if (whole.verdict == BuildIndexVerdict::Good && member(pack, "Sha256").kind == JsonKind::String &&
        isSha256Hex(textWide(member(pack, "Sha256"))) && member(pack, "Size").kind == JsonKind::Number &&
        parseSigned64(textWide(member(pack, "Size")), size) && size > 0 && (uint64_t)size == packSize(index.files))
        index.pack = PiecePack{textWide(member(pack, "Sha256")), (uint64_t)size};
    return whole;
}

BuildIndexCheck checkBuildIndex(const BuildIndex& index) {
    if (index.files.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooBig);
    SeenPaths seen;
    for (const IndexFile& file : index.files) {
        const BuildIndexCheck check = judgeFile(file, seen);
        if (check.verdict != BuildIndexVerdict::Good) return check;
    }
    if (index.folders.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooBig);
    for (const std::wstring& folder : index.folders) {
        const BuildIndexCheck check = judgeFolder(folder, seen);
        if (check.verdict != BuildIndexVerdict::Good) return check;
    }
    return judgeWhole(index);
}

std::wstring fileNotAsListed(const std::wstring& folder, const BuildIndex& index) {
    std::unordered_map<std::wstring, std::wstring> onDisk;  // by samePathKey: the path as found
    for (const std::wstring& file : filesBelow(folder)) onDisk.try_emplace(samePathKey(file), file);
    for (const IndexFile& file : index.files)
        if (onDisk.erase(samePathKey(file.path)) == 0) return file.path;
    return onDisk.empty() ? std::wstring() : onDisk.begin()->second;
}

std::wstring buildIndexRefusal(const BuildIndexCheck& check) {
    switch (check.verdict) {
        case BuildIndexVerdict::Good: return {};
        case BuildIndexVerdict::Unreadable: return L"it can't be read";
        case BuildIndexVerdict::NotThisBuild: return L"it is another build's";
        case BuildIndexVerdict::UnknownScheme:
            return L"it cuts files into pieces in a way this launcher doesn't know (a newer launcher does)";
        case BuildIndexVerdict::UnsafePath: return L"it lists a path that isn't safe on Windows (" + check.badPath + L")";
        case BuildIndexVerdict::RepeatedPath: return L"it lists a file twice (" + check.badPath + L")";
        case BuildIndexVerdict::FileAndFolder:
            return L"it lists a file and a folder of the same path (" + check.badPath + L")";
        case BuildIndexVerdict::BadFile:
            return L"its pieces of a file don't keep the limits (" + check.badPath + L")";
        case BuildIndexVerdict::TooBig: return L"it lists more than a million files or folders, or more than 256 GB";
        case BuildIndexVerdict::NoGame: return L"it lists no Vorlane.exe";
    }
    return {};
}

uint64_t packSize(const std::vector<IndexFile>& files) {
    std::unordered_set<std::wstring> seen;
    uint64_t size = 0;
    for (const IndexFile& file : files)
        for (const IndexPiece& piece : file.pieces)
            if (seen.insert(piece.hash).second) size += piece.size;
    return size;
}

std::string buildIndexJson(const BuildIndex& index) {
    std::string folders;
    for (const std::wstring& folder : index.folders)
        folders += std::string(folders.empty() ? "" : ",") + "\n\t\t" + quoteJson(folder);
    return "{\n\t\"Build\": " + quoteJson(index.build) + ",\n\t\"Chunks\": " + std::to_string(kPieceScheme) +
           ",\n\t\"Files\": [" + indexFilesJson(index.files, "\t\t") + "\n\t]" +
           (folders.empty() ? std::string() : ",\n\t\"Folders\": [" + folders + "\n\t]") +
           (index.pack.sha256.empty() ? std::string()
                                      : ",\n\t\"Pack\": {\"Sha256\": " + quoteJson(index.pack.sha256) +
                                            ", \"Size\": " + std::to_string(index.pack.size) + "}") +
           "\n}\n";
}

}  // namespace vorlane
