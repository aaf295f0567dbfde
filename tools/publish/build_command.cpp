// build: puts one build zip on a build server folder and lists it in the
// signed builds.json; unless --no-pieces, also cuts every file of the zip's
// build folder into pieces by the launcher's own piece rule and stores each
// new piece and the build's index under builds/ named by their SHA-256, so
// that launchers update by fetching only the pieces they lack.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <set>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "core/failure.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/handles.h"
#include "core/iso_time.h"
#include "core/text.h"
#include "install/build_list.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "install/zip_listing.h"
#include "pieces/build_index.h"
#include "net/build_server.h"
#include "net/sha256.h"
#include "private_key.h"
#include "publish.h"

namespace publish {

namespace {

struct BuildOptions {
    std::wstring serverFolder, keyPath, zipPath;
    std::wstring released;  // empty: now
    std::wstring summary;
    bool pieces = true;
};

// Positional arguments first, then options with their values.
bool readBuildOptions(const Arguments& arguments, BuildOptions& options) {
    options.serverFolder = arguments[0];
    options.keyPath = arguments[1];
    options.zipPath = arguments[2];
    for (size_t i = 3; i < arguments.size(); i += 2) {
        if (arguments[i] == L"--no-pieces") {
            options.pieces = false;
            --i;
            continue;
        }
        if (i + 1 >= arguments.size()) return false;
        if (arguments[i] == L"--released")
            options.released = arguments[i + 1];
        else if (arguments[i] == L"--summary")
            options.summary = arguments[i + 1];
        else
            return false;
    }
    return true;
}

std::wstring nowAsIsoTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const long long sinceWindowsEpoch = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const long long windowsTo1970 = 116444736000000000LL;
    return vorlane::formatIsoTime(sinceWindowsEpoch - windowsTo1970);
}

long long fileSize(const std::wstring& path) {
    long long size = -1;
    return vorlane::fileSize(path, size) ? size : -1;
}

bool samePlace(const std::wstring& a, const std::wstring& b) {
    wchar_t fullA[MAX_PATH * 4], fullB[MAX_PATH * 4];
    if (!GetFullPathNameW(a.c_str(), MAX_PATH * 4, fullA, nullptr)) return false;
    if (!GetFullPathNameW(b.c_str(), MAX_PATH * 4, fullB, nullptr)) return false;
    return vorlane::equalsIgnoringCase(fullA, fullB);
}

// The server's folder of content-addressed files: builds\.
std::wstring objectFolder(const std::wstring& serverFolder) {
    return vorlane::joinPath(serverFolder, backslashed(vorlane::buildObjectName(L"")));
}

// Copies the file to `to` (written aside, then put in place, so a publication cut short never leaves a torn copy
// under the served name) and works out its SHA-256 from the same reads. `read` tells whether reading went well.
bool hashAndCopyFile(const std::wstring& from, const std::wstring& to, std::wstring& hexOut, bool& read) {
    const std::wstring part = to + L".part";
    vorlane::FileHandle out(CreateFileW(vorlane::longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    vorlane::Sha256Hasher hasher;
    bool written = (bool)out;
    // The reads stop at a write that fails; only a read that fails on its own counts against reading.
    const bool allRead = vorlane::readFileInBlocks(from, 4u << 20, [&](const unsigned char* block, size_t size) {
        DWORD done = 0;
        written = written && WriteFile(out.get(), block, (DWORD)size, &done, nullptr) && done == size;
        return written && hasher.add(block, size);
    });
    out.close();
    vorlane::Sha256Digest digest;
    read = allRead || !written;
    if (read && written && hasher.finish(digest) &&
        MoveFileExW(vorlane::longPath(part).c_str(), vorlane::longPath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        hexOut = vorlane::toHex(digest);
        return true;
    }
    DeleteFileW(vorlane::longPath(part).c_str());
    return false;
}

// A folder of its own in the system's temporary folder, for the zip's files.
std::wstring unpackFolder(const std::wstring& commit) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return vorlane::joinPath(std::wstring(temp, length), L"vorlane-publish-" + commit + L"-" +
                                                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                             std::to_wstring(GetTickCount64()));
}

// Cuts the index's files (their paths filled in, their bytes read from sources) on one thread per processor, at
// most 4, each file read once: its pieces stored as they are cut, its SHA-256 worked out on the way. Meanwhile this
// thread writes the pack as the files are done, in the index's order: each piece not in it yet, read again from its
// source (the zip, or the unpacked file in a folder of this run's own, which nothing else writes) and hashed on the
// way; once complete it is stored under its SHA-256 and named in index.pack. Prints why and gives false on failure.
bool cutFilesAndWritePack(const std::vector<FileSource>& sources, ObjectFolder& objects, const std::wstring& commit,
                          vorlane::BuildIndex& index, size_t& newPieces) {
    const size_t count = index.files.size();
    std::vector<char> done(count, 0);
    bool failed = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<size_t> next{0}, added{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        CutBuffers buffers;
        for (size_t i = 0; !stop && (i = next++) < count;) {
            size_t fresh = 0;
            const bool cut = cutAndStore(sources[i], objects, index.files[i], fresh, buffers);
            added += fresh;
            {
                std::lock_guard<std::mutex> lock(mutex);
                done[i] = 1;
                failed = failed || !cut;
                stop = stop || !cut;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    try {
        for (unsigned i = 0; i < threads; ++i) workers.emplace_back(work);
    } catch (const std::system_error&) {
        if (workers.empty()) work();
    }
    struct Join {
        std::vector<std::thread>& threads;
        std::atomic<bool>& stop;
        ~Join() {
            stop = true;
            for (std::thread& thread : threads) thread.join();
        }
    } join{workers, stop};

    const std::wstring part =
        objects.path(L"pack-" + commit + L"-" + std::to_wstring(GetCurrentProcessId()) + L".part");
    vorlane::FileHandle pack(CreateFileW(vorlane::longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!pack) {
        printError(vorlane::systemFailure(L"Couldn't write " + part + L".").text());
        return false;
    }
    struct Tidy {
        std::wstring path;
        vorlane::FileHandle& file;
        ~Tidy() {
            file.close();
            if (!path.empty()) DeleteFileW(vorlane::longPath(path).c_str());
        }
    } tidy{part, pack};
    vorlane::Sha256Hasher hasher;
    std::unordered_set<vorlane::Sha256Digest, vorlane::DigestKey> packed;
    uint64_t size = 0;
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return done[i] || failed; });
            if (failed) return false;
        }
        const vorlane::IndexFile& file = index.files[i];
        const std::wstring& path = sources[i].path;
        vorlane::FileHandle input;
        uint64_t offset = sources[i].offset;
        for (const vorlane::IndexPiece& piece : file.pieces) {
            const uint64_t at = offset;
            offset += piece.size;
            if (!packed.insert(piece.hash).second) continue;
            if (!input)
                input = vorlane::FileHandle(CreateFileW(vorlane::longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            bytes.resize(piece.size);
            DWORD got = 0, written = 0;
            const LARGE_INTEGER position{.QuadPart = (LONGLONG)at};
            if (!input || !SetFilePointerEx(input.get(), position, nullptr, FILE_BEGIN) ||
                !ReadFile(input.get(), bytes.data(), piece.size, &got, nullptr) || got != piece.size) {
                printError(vorlane::systemFailure(L"Couldn't read the file " + path + L".").text());
                return false;
            }
            if (!hasher.add(bytes.data(), bytes.size()) ||
                !WriteFile(pack.get(), bytes.data(), got, &written, nullptr) || written != got) {
                printError(vorlane::systemFailure(L"Couldn't write " + part + L".").text());
                return false;
            }
            size += got;
        }
    }
    vorlane::Sha256Digest digest;
    if (!hasher.finish(digest)) {
        printError(L"Couldn't work out the SHA-256 of the pack.");
        return false;
    }
    pack.close();
    newPieces = added;
    if (size == 0) return true;  // a build of empty files: nothing to pack
    index.pack = vorlane::PiecePack{vorlane::toHex(digest), size};
    if (!objects.adopt(part, index.pack.sha256, size)) return false;
    tidy.path.clear();
    return true;
}

// The zip's files where they lie in it, when the zip is one an unpack would give exactly: every entry below the
// build's folder, every file stored as it is (not compressed, not encrypted), every name plain ASCII that Windows
// takes as it is, and no two names that Windows would take for one. Its files' paths below the build's folder
// ("/" between parts) with their sources, and the folders that hold nothing. False for any other zip: it is
// unpacked, as ever.
bool storedFiles(const std::wstring& zip, std::vector<vorlane::ZipEntry>& listing, const std::wstring& commit,
                 std::vector<std::pair<std::wstring, FileSource>>& files, std::vector<std::wstring>& emptyFolders) {
    if (listing.empty() || !vorlane::readZipDataPlaces(zip, listing)) return false;
    const std::string top = vorlane::toUtf8(vorlane::buildFolderName(commit)) + "/";
    const auto plainPart = [](const std::string& part) {
        return !part.empty() && part != "." && part != ".." && part.back() != ' ' && part.back() != '.' &&
               std::all_of(part.begin(), part.end(), [](char c) {
                   return c >= 0x20 && c < 0x7f && !std::strchr("\\:*?\"<>|", c);
               });
    };
    const auto folded = [](std::string name) {
        for (char& c : name) c = (char)std::tolower((unsigned char)c);
        return name;
    };
    std::set<std::string> fileNames, holding;  // folded; holding: folders with something below
    std::vector<std::string> folders;
    for (const vorlane::ZipEntry& entry : listing) {
        if (entry.name.rfind(top, 0) != 0) return false;
        std::string rest = entry.name.substr(top.size());
        if (entry.isFolder && !rest.empty() && rest.back() == '/') rest.pop_back();
        if (rest.empty()) {
            if (!entry.isFolder) return false;
            continue;  // the build's folder itself
        }
        std::vector<std::string> parts;
        for (size_t start = 0, end; start <= rest.size(); start = end + 1) {
            end = std::min(rest.find('/', start), rest.size());
            parts.push_back(rest.substr(start, end - start));
        }
        if (!std::all_of(parts.begin(), parts.end(), plainPart)) return false;
        std::string prefix;
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            prefix += (i ? "/" : "") + parts[i];
            holding.insert(folded(prefix));
        }
        if (entry.isFolder) {
            folders.push_back(rest);
            continue;
        }
        if (entry.method != 0 || entry.encrypted || entry.size < 0 || entry.packedSize != (uint64_t)entry.size ||
            !fileNames.insert(folded(rest)).second)
            return false;
        files.push_back({vorlane::toUtf16(rest),
                         FileSource{zip, entry.dataAt, (uint64_t)entry.size, entry.crc, vorlane::toUtf16(entry.name)}});
    }
    // A file and a folder of one name can't both be made.
    for (const std::string& name : fileNames)
        if (holding.count(name)) return false;
    std::set<std::string> seen;
    for (const std::string& folder : folders) {
        const std::string name = folded(folder);
        if (fileNames.count(name)) return false;
        if (!holding.count(name) && seen.insert(name).second) emptyFolders.push_back(vorlane::toUtf16(folder));
    }
    return true;
}

// Cuts every file of the zip's build folder and stores the pieces and the
// index; record.index names the index. Prints why and gives false on failure.
bool publishPieces(const BuildOptions& options, vorlane::BuildRecord& record) {
    // A link would lead what is unpacked after it outside the folder; the launcher refuses such a zip by its name.
    std::vector<vorlane::ZipEntry> listing;
    vorlane::readZipListing(options.zipPath, listing);
    for (const vorlane::ZipEntry& entry : listing)
        if (entry.isLink) {
            printError(L"The zip holds a link, " + vorlane::toUtf16(entry.name) +
                       L", which a build never has, so it can't be published in pieces.");
            return false;
        }
    std::vector<std::pair<std::wstring, FileSource>> files;  // each file's path below the build's folder, "/" between
    std::vector<std::wstring> emptyFolders;
    struct Tidy {
        std::wstring folder;
        ~Tidy() {
            if (!folder.empty()) vorlane::deleteFolderTree(folder);
        }
    } tidy;
    // A zip whose files are all stored as they are is cut where it lies; any other is unpacked first.
    if (!storedFiles(options.zipPath, listing, record.commit, files, emptyFolders)) {
        files.clear();
        emptyFolders.clear();
        const std::wstring unpacked = unpackFolder(record.commit);
        vorlane::deleteFolderTree(unpacked);
        tidy.folder = unpacked;
        if (!vorlane::makeFolderTree(unpacked)) {
            printError(vorlane::systemFailure(L"Couldn't make the folder " + unpacked + L".").text());
            return false;
        }
        // A tar that couldn't be started at all (-1) is started once more before the publishing is given up.
        std::string output;
        int code = -1;
        for (int attempt = 0; attempt < 2 && code == -1; ++attempt) {
            output.clear();
            code = vorlane::runCaptured(vorlane::systemTar() + L" -xf " + vorlane::quoted(options.zipPath) + L" -C " +
                                            vorlane::quoted(unpacked),
                                        [&](const std::string& line) { output += line + "\n"; });
        }
        const std::wstring top = vorlane::joinPath(unpacked, vorlane::buildFolderName(record.commit));
        if (code != 0 || !vorlane::folderExists(top)) {
            printError(L"Couldn't unpack the zip to cut its files into pieces (tar exit code " + std::to_wstring(code) +
                       L"): " + vorlane::toUtf16(output));
            return false;
        }
        for (const std::wstring& file : vorlane::filesBelow(top))
            files.push_back({slashed(file), FileSource{vorlane::joinPath(top, file)}});
        for (const std::wstring& folder : vorlane::emptyFoldersBelow(top)) emptyFolders.push_back(slashed(folder));
    }
    ObjectFolder objects;
    if (!objects.open(objectFolder(options.serverFolder))) return false;
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<FileSource> sources;
    for (auto& [path, source] : files) sources.push_back(std::move(source));

    vorlane::BuildIndex index;
    index.build = record.commit;
    index.files.resize(files.size());
    for (size_t i = 0; i < files.size(); ++i) index.files[i].path = files[i].first;
    size_t newPieces = 0;
    if (!cutFilesAndWritePack(sources, objects, record.commit, index, newPieces)) return false;
    size_t pieces = 0;
    for (const vorlane::IndexFile& file : index.files) pieces += file.pieces.size();
    // The zip's empty folders, which a launcher assembling the build makes as the zip's unpack does.
    index.folders = emptyFolders;
    std::sort(index.folders.begin(), index.folders.end());
    const vorlane::BuildIndexCheck check = vorlane::checkBuildIndex(index);
    if (check.verdict != vorlane::BuildIndexVerdict::Good) {
        printError(L"The build can't be published in pieces: " + vorlane::buildIndexRefusal(check) +
                   L", and the launcher would refuse its index. (--no-pieces publishes the zip alone.)");
        return false;
    }
    const std::string text = vorlane::buildIndexJson(index);
    vorlane::Sha256Digest digest;
    vorlane::BuildIndex reread;
    if (!vorlane::sha256(text, digest) ||
        vorlane::readBuildIndex(text, record.commit, reread).verdict != vorlane::BuildIndexVerdict::Good) {
        printError(L"The index made for the build doesn't read back as the launcher reads it.");
        return false;
    }
    record.index = vorlane::toHex(digest);
    bool added = false;
    if (!objects.store(record.index, text, added)) return false;
    printLine(L"Cut build " + record.commit + L" into pieces: " + std::to_wstring(index.files.size()) + L" files, " +
              std::to_wstring(pieces) + L" pieces (" + std::to_wstring(newPieces) + L" new), index " + record.index +
              L".");
    return true;
}

}  // namespace

int runBuild(const Arguments& arguments) {
    BuildOptions options;
    if (!readBuildOptions(arguments, options)) {
        printError(L"Usage: vorlane-publish build <server-folder> <private-key-file> <zip> [--released <UTC time "
                   L"stamp>] [--summary <text>] [--no-pieces]");
        return kExitUsage;
    }
    vorlane::BuildRecord record;
    record.file = vorlane::fileNameOf(options.zipPath);
    record.commit = vorlane::commitOfBuildZip(record.file);
    if (record.commit.empty()) {
        printError(L"A build's zip is named Vorlane-<commit>.zip, the commit as 7 to 40 lower-case hex digits; this is " +
                   record.file + L".");
        return kExitFailed;
    }
    PrivateKeyBlob key;
    if (!loadPrivateKey(options.keyPath, key)) return kExitFailed;
    record.released = options.released.empty() ? nowAsIsoTime() : options.released;
    if (vorlane::parseIsoTime(record.released) < 0) {
        printError(L"--released takes a UTC time stamp such as 2026-05-01T12:00:00Z; this is " + record.released + L".");
        return kExitUsage;
    }
    record.summary = options.summary;
    record.size = fileSize(options.zipPath);
    if (record.size < 0) {
        printError(L"Couldn't read the zip " + options.zipPath + L".");
        return kExitFailed;
    }

    if (!vorlane::makeFolderTree(options.serverFolder)) {
        printError(L"Couldn't make the server folder " + options.serverFolder + L".");
        return kExitFailed;
    }
    ServerLock lock;
    if (!lock.take(options.serverFolder, false)) return kExitFailed;
    // The zip is hashed and copied into the folder on a thread of its own while its files are cut.
    const std::wstring servedZip = vorlane::joinPath(options.serverFolder, record.file);
    bool hashed = false, copied = false;
    const auto hashAndCopy = [&] {
        if (samePlace(options.zipPath, servedZip)) {
            hashed = vorlane::sha256File(options.zipPath, record.sha256);
            copied = true;
            return;
        }
        bool read = false;
        copied = hashAndCopyFile(options.zipPath, servedZip, record.sha256, read);
        hashed = copied || read;
    };
    bool cut = true;
    if (options.pieces) {
        std::thread zipWork(hashAndCopy);
        cut = publishPieces(options, record);
        zipWork.join();
    } else {
        hashAndCopy();
    }
    if (!hashed) {
        printError(L"Couldn't read the zip " + options.zipPath + L".");
        return kExitFailed;
    }
    if (!copied) {
        printError(L"Couldn't copy the zip to " + servedZip + L".");
        return kExitFailed;
    }
    if (!cut) return kExitFailed;

    // The list keeps every other build; this one's record is added or replaced.
    const std::wstring listPath = vorlane::joinPath(options.serverFolder, vorlane::kBuildListName);
    std::vector<vorlane::BuildRecord> records = vorlane::readBuildRecords(vorlane::readWholeFile(listPath));
    vorlane::putBuildRecord(records, record);
    if (!vorlane::writeFileAtomically(listPath, vorlane::buildListJson(records))) {
        printError(L"Couldn't write " + listPath + L".");
        return kExitFailed;
    }
    if (!signListFile(options.keyPath, listPath)) return kExitFailed;
    printLine(L"Listed build " + record.commit + L" (" + std::to_wstring(record.size) + L" bytes, released " +
              record.released + L") in " + listPath + L".");
    return kExitOk;
}

}  // namespace publish
