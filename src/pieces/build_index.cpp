#include "pieces/build_index.h"

#include <cctype>
#include <functional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "core/files_below.h"
#include "core/json.h"
#include "core/text.h"
#include "pieces/digest_slots.h"
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
    if (index.files.size() + index.folders.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooManyFiles);
    size_t pieces = 0;
    bool hasGame = false;
    for (const IndexFile& file : index.files) {
        pieces += file.pieces.size();
        if (pieces > kMostBuildPieces) return judged(BuildIndexVerdict::TooManyPieces);
        hasGame = hasGame || file.path == kGameProgram;
    }
    return judged(hasGame ? BuildIndexVerdict::Good : BuildIndexVerdict::NoGame);
}

// Notes why a file or folder is refused; false, which ends the reading.
bool refuse(BuildIndexCheck& check, BuildIndexVerdict verdict, const std::wstring& badPath = {}) {
    check = judged(verdict, badPath);
    return false;
}

// An index's text read in one pass, value by value: the object's members and
// the lists' elements one at a time, each small value parsed alone, so that
// no tree of the whole document is built. Every value is checked for its
// form as the JSON reader checks it.
class IndexText {
public:
    // A leading UTF-8 byte order mark is passed over, as the JSON reader passes it.
    explicit IndexText(const std::string& text) : text_(text), at_(text.starts_with("\xEF\xBB\xBF") ? 3 : 0) {}

    // True when `c` comes next (after white space).
    bool next(char c) {
        space();
        return at_ < text_.size() && text_[at_] == c;
    }
    bool atEnd() {
        space();
        return at_ == text_.size();
    }
    // A string, number or literal, as the JSON reader reads it; a text of more
    // than 16 KiB (no index has one) isn't read.
    bool scalar(JsonValue& value) {
        space();
        const size_t begin = at_;
        return token() && at_ - begin <= kLongestToken && parseDocument(slice(begin), value) &&
               value.kind != JsonKind::Array && value.kind != JsonKind::Object;
    }
    // Any value, passed over.
    bool skip() {
        size_t begin = 0;
        return span(begin, 0);
    }
    // The object's members: `onMember` is told each key when its value comes next, and reads it or skips it.
    bool members(const std::function<bool(const std::string&)>& onMember) {
        return list('{', '}', [&] {
            JsonValue key;
            return scalar(key) && key.kind == JsonKind::String && take(':') && onMember(key.text);
        });
    }
    // The array's elements: `onElement` is told where each begins; slice() gives its text.
    bool elements(const std::function<bool(size_t)>& onElement) {
        return list('[', ']', [&] {
            size_t begin = 0;
            return span(begin, 0) && onElement(begin);
        });
    }
    // Where reading is, and a return to a place where it was.
    size_t at() {
        space();
        return at_;
    }
    bool seek(size_t at) {
        at_ = at;
        return true;
    }
    // True when the value that begins at `begin` is a string.
    bool isString(size_t begin) const { return text_[begin] == '"'; }
    // A small value: a string, number or literal read, a list or object passed over (leaving `value` Null).
    bool small(JsonValue& value) { return next('[') || next('{') ? skip() : scalar(value); }
    // The text of the value that began at `begin` and ended where reading is now.
    std::string slice(size_t begin) const { return text_.substr(begin, at_ - begin); }

private:
    static constexpr size_t kLongestToken = 16384;
    static constexpr int kDeepest = 64;

    void space() {
        while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) ++at_;
    }
    bool take(char c) {
        if (!next(c)) return false;
        ++at_;
        return true;
    }
    // Moves past one string, number or literal, without reading it.
    bool token() {
        space();
        const size_t begin = at_;
        if (at_ < text_.size() && text_[at_] == '"') {
            for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_)
                if (text_[at_] == '\\') ++at_;
            return at_++ < text_.size();
        }
        while (at_ < text_.size() && (std::isalnum((unsigned char)text_[at_]) || text_[at_] == '-' ||
                                      text_[at_] == '+' || text_[at_] == '.'))
            ++at_;
        return at_ > begin;
    }
    // `open`, then elements read by `one`, with "," between, then `close`.
    bool list(char open, char close, const std::function<bool()>& one) {
        if (!take(open)) return false;
        if (take(close)) return true;
        do {
            if (!one()) return false;
        } while (take(','));
        return take(close);
    }
    // Moves past one value of any kind, checked for its form; `begin` is where it starts.
    bool span(size_t& begin, int depth) {
        space();
        begin = at_;
        if (depth > kDeepest) return false;
        size_t inner = 0;
        if (next('[')) return list('[', ']', [&] { return span(inner, depth + 1); });
        if (next('{'))
            return list('{', '}', [&] {
                JsonValue key;
                return scalar(key) && key.kind == JsonKind::String && take(':') && span(inner, depth + 1);
            });
        JsonValue value;
        return scalar(value);
    }

    const std::string& text_;
    size_t at_;
};


// How many pieces of a file are read as one small tree.
constexpr size_t kPiecesAtATime = 4096;

// One element of "Files", read as readIndexFile reads it but for its pieces,
// which are read a few thousand at a time: even a file of every piece allowed
// never stands whole as a tree. `pieces` counts the index's pieces read so far,
// and none is read past kMostBuildPieces. False when the file is refused.
bool readFile(IndexText& in, size_t& pieces, IndexFile& file, BuildIndexCheck& check) {
    if (!in.next('{')) return in.skip() && refuse(check, BuildIndexVerdict::BadFile);
    // The file's members but its pieces, with an empty list in their place; each batch of pieces is read as the
    // pieces of a file of no name.
    JsonValue header, batch;
    header.kind = JsonKind::Object;
    parseDocument("{\"Path\": \"\", \"Size\": 0, \"Sha256\": \"\", \"Chunks\": []}", batch);
    bool sound = true;
    auto readBatch = [&] {
        IndexFile part;
        sound = sound && readIndexFile(batch, part);
        file.pieces.insert(file.pieces.end(), part.pieces.begin(), part.pieces.end());
        batch.members.back().second.items.clear();
    };
    std::set<std::string> given;
    const bool read = in.members([&](const std::string& key) {
        if (!given.insert(key).second) return in.skip();
        if (key != "Path" && key != "Size" && key != "Sha256" && key != "Chunks") return in.skip();
        JsonValue& value = header.members.emplace_back(key, JsonValue{}).second;
        if (key != "Chunks" || !in.next('[')) return in.small(value);
        value.kind = JsonKind::Array;
        return in.elements([&](size_t begin) {
            if (++pieces > kMostBuildPieces) return refuse(check, BuildIndexVerdict::TooManyPieces);
            JsonValue& piece = batch.members.back().second.items.emplace_back();
            sound = sound && in.isString(begin) && parseDocument(in.slice(begin), piece);
            if (batch.members.back().second.items.size() == kPiecesAtATime) readBatch();
            return true;
        });
    });
    if (!read) return false;
    readBatch();
    std::vector<IndexPiece> listed;
    listed.swap(file.pieces);
    if (!readIndexFile(header, file) || !sound) return refuse(check, BuildIndexVerdict::BadFile, file.path);
    file.pieces = std::move(listed);
    return true;
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
    if ((long long)text.size() > kMostBuildIndexBytes || !atMostJsonValues(text, kMostBuildIndexValues))
        return judged(BuildIndexVerdict::TooLong);
    // The whole text is checked for its form first, keeping only the small members and where the lists begin.
    IndexText in(text);
    std::set<std::string> taken;  // a member given twice counts as first given, as for every JSON object
    JsonValue build, scheme, packName, packSize;
    size_t filesAt = std::string::npos, foldersAt = std::string::npos;
    const bool wellFormed = in.members([&](const std::string& key) {
        if (!taken.insert(key).second) return in.skip();
        if (key == "Build") return in.small(build);
        if (key == "Chunks") return in.small(scheme);
        if (key == "Files" || key == "Folders") (key == "Files" ? filesAt : foldersAt) = in.at();
        if (key != "Pack" || !in.next('{')) return in.skip();
        std::set<std::string> given;
        return in.members([&](const std::string& name) {
            if (!given.insert(name).second || (name != "Sha256" && name != "Size")) return in.skip();
            return in.small(name == "Sha256" ? packName : packSize);
        });
    });
    if (!wellFormed || !in.atEnd()) return judged(BuildIndexVerdict::Unreadable);
    if (build.kind != JsonKind::String || textWide(build) != commit) return judged(BuildIndexVerdict::NotThisBuild);
    if (!isKnownScheme(scheme)) return judged(BuildIndexVerdict::UnknownScheme);
    index.build = commit;

    // Then the files, one at a time, and their pieces a few thousand at a time: none is read past the limits.
    // A "Files" or "Folders" that isn't a list names nothing.
    BuildIndexCheck check;
    SeenPaths seen;
    size_t pieces = 0;
    if (filesAt != std::string::npos && in.seek(filesAt) && in.next('['))
        in.elements([&](size_t begin) {
            const size_t end = in.at();
            IndexFile file;
            if (!in.seek(begin) || !readFile(in, pieces, file, check) || !in.seek(end)) return false;
            if (index.files.size() == kMostBuildFiles) return refuse(check, BuildIndexVerdict::TooManyFiles);
            check = judgeFile(file, seen);
            index.files.push_back(std::move(file));
            return check.verdict == BuildIndexVerdict::Good;
        });
    if (check.verdict != BuildIndexVerdict::Good) return check;
    if (foldersAt != std::string::npos && in.seek(foldersAt) && in.next('['))
        in.elements([&](size_t begin) {
            JsonValue item;
            if (!in.isString(begin) || !parseDocument(in.slice(begin), item))
                return refuse(check, BuildIndexVerdict::Unreadable);
            if (index.files.size() + index.folders.size() == kMostBuildFiles)
                return refuse(check, BuildIndexVerdict::TooManyFiles);
            check = judgeFolder(index.folders.emplace_back(textWide(item)), seen);
            return check.verdict == BuildIndexVerdict::Good;
        });
    if (check.verdict != BuildIndexVerdict::Good) return check;
    const BuildIndexCheck whole = judgeWhole(index);
    // A pack that can't be the index's pieces is left unused rather than the index refused.
    long long size = -1;
    if (whole.verdict == BuildIndexVerdict::Good && packName.kind == JsonKind::String &&
        isSha256Hex(textWide(packName)) && packSize.kind == JsonKind::Number &&
        parseSigned64(textWide(packSize), size) && size > 0 && (uint64_t)size == vorlane::packSize(index.files))
        index.pack = PiecePack{textWide(packName), (uint64_t)size};
    return whole;
}

BuildIndexCheck checkBuildIndex(const BuildIndex& index) {
    if (index.files.size() + index.folders.size() > kMostBuildFiles) return judged(BuildIndexVerdict::TooManyFiles);
    SeenPaths seen;
    for (const IndexFile& file : index.files) {
        const BuildIndexCheck check = judgeFile(file, seen);
        if (check.verdict != BuildIndexVerdict::Good) return check;
    }
    for (const std::wstring& folder : index.folders) {
        const BuildIndexCheck check = judgeFolder(folder, seen);
        if (check.verdict != BuildIndexVerdict::Good) return check;
    }
    const BuildIndexCheck whole = judgeWhole(index);
    if (whole.verdict != BuildIndexVerdict::Good) return whole;
    // Long paths can make the text of an index within the counts too long to be fetched.
    const std::string text = buildIndexJson(index);
    if ((long long)text.size() > kMostBuildIndexBytes || !atMostJsonValues(text, kMostBuildIndexValues))
        return judged(BuildIndexVerdict::TooLong);
    return whole;
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
        case BuildIndexVerdict::TooLong:
            return L"it is longer than an index may be (" + wholeMiB(kMostBuildIndexBytes) + L" MB, " +
                   std::to_wstring(kMostBuildIndexValues) + L" values)";
        case BuildIndexVerdict::TooManyFiles:
            return L"it lists more than " + std::to_wstring(kMostBuildFiles) + L" files and folders";
        case BuildIndexVerdict::TooManyPieces:
            return L"it lists more than " + std::to_wstring(kMostBuildPieces) + L" pieces";
        case BuildIndexVerdict::NotThisBuild: return L"it is another build's";
        case BuildIndexVerdict::UnknownScheme:
            return L"it cuts files into pieces in a way this launcher doesn't know (a newer launcher does)";
        case BuildIndexVerdict::UnsafePath: return L"it lists a path that isn't safe on Windows (" + check.badPath + L")";
        case BuildIndexVerdict::RepeatedPath: return L"it lists a file twice (" + check.badPath + L")";
        case BuildIndexVerdict::FileAndFolder:
            return L"it lists a file and a folder of the same path (" + check.badPath + L")";
        case BuildIndexVerdict::BadFile:
            return L"its pieces of a file don't keep the limits (" + check.badPath + L")";
        case BuildIndexVerdict::NoGame: return L"it lists no Vorlane.exe";
    }
    return {};
}

uint64_t packSize(const std::vector<IndexFile>& files) {
    size_t count = 0;
    for (const IndexFile& file : files) count += file.pieces.size();
    std::vector<const Sha256Digest*> distinct;
    DigestSlots seen(count);
    const auto digestOf = [&](uint32_t number) -> const Sha256Digest& { return *distinct[number]; };
    uint64_t size = 0;
    for (const IndexFile& file : files)
        for (const IndexPiece& piece : file.pieces) {
            uint32_t& slot = seen.find(piece.hash, digestOf);
            if (slot != DigestSlots::kEmpty) continue;
            slot = (uint32_t)distinct.size();
            distinct.push_back(&piece.hash);
            size += piece.size;
        }
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
