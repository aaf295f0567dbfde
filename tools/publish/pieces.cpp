// Pieces as the server stores them: each file cut by the launcher's own piece
// rule, every piece and every index stored once under its SHA-256 in a folder
// of the server. Shared by the theme and build commands.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/failure.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "net/sha256.h"
#include "crc32.h"
#include "pieces/piece_cutter.h"
#include "publish.h"

namespace publish {

namespace {

constexpr DWORD kReadBlock = 4u << 20;

}  // namespace

std::wstring slashed(std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

std::wstring backslashed(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

bool ObjectFolder::open(const std::wstring& folder) {
    folder_ = folder;
    if (!vorlane::makeFolderTree(folder)) {
        printError(vorlane::systemFailure(L"Couldn't make the folder " + folder + L".").text());
        return false;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(vorlane::longPath(vorlane::joinPath(folder, L"*")).c_str(), FindExInfoBasic,
                                     &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return true;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            sizes_[found.cFileName] = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

std::wstring ObjectFolder::path(const std::wstring& hash) const { return vorlane::joinPath(folder_, hash); }

bool ObjectFolder::claim(const std::wstring& hash, uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [at, absent] = sizes_.try_emplace(hash, size);
    // Objects are named by the SHA-256 of their bytes and only ever put in place whole (written aside, then
    // renamed), so one that is there with the right size holds those bytes; reading it again to be sure would
    // double the time a publication takes. A copy a power cut tore before it reached the disk is refused by
    // every launcher, which checks each object against its name and takes it from the next server or the zip.
    if (!absent && at->second == size) return true;
    at->second = size;  // written by this run from here on
    return false;
}

bool ObjectFolder::store(const std::wstring& hash, const void* bytes, size_t size, bool& added) {
    added = !claim(hash, size);
    if (!added) return true;
    const std::wstring target = path(hash), part = target + L".part";
    vorlane::FileHandle file(CreateFileW(vorlane::longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const bool whole = file && WriteFile(file.get(), bytes, (DWORD)size, &written, nullptr) && written == size;
    const DWORD error = GetLastError();
    file.close();
    if (whole && MoveFileExW(vorlane::longPath(part).c_str(), vorlane::longPath(target).c_str(),
                             MOVEFILE_REPLACE_EXISTING))
        return true;
    const vorlane::Failure failure =
        vorlane::systemFailure(L"Couldn't write " + target + L".", whole ? GetLastError() : error);
    DeleteFileW(vorlane::longPath(part).c_str());
    printError(failure.text());
    return false;
}

bool ObjectFolder::adopt(const std::wstring& finished, const std::wstring& hash, uint64_t size) {
    if (claim(hash, size)) {
        DeleteFileW(vorlane::longPath(finished).c_str());
        return true;
    }
    if (MoveFileExW(vorlane::longPath(finished).c_str(), vorlane::longPath(path(hash)).c_str(),
                    MOVEFILE_REPLACE_EXISTING))
        return true;
    printError(vorlane::systemFailure(L"Couldn't write " + path(hash) + L".").text());
    return false;
}

bool ServerLock::take(const std::wstring& serverFolder, bool alone) {
    const std::wstring path = vorlane::joinPath(serverFolder, L"publish.lock");
    file_ = vorlane::FileHandle(CreateFileW(vorlane::longPath(path).c_str(), GENERIC_READ,
                                            alone ? 0 : FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_) return true;
    if (GetLastError() == ERROR_SHARING_VIOLATION)
        printError(alone ? L"A publication is running on " + serverFolder +
                               L"; nothing is removed. Prune once it is done."
                         : L"A prune is running on " + serverFolder + L"; publish once it is done.");
    else
        printError(vorlane::systemFailure(L"Couldn't open " + path + L".").text());
    return false;
}

bool cutAndStore(const FileSource& source, ObjectFolder& objects, vorlane::IndexFile& file, size_t& newPieces,
                 CutBuffers& buffers) {
    const std::wstring& path = source.path;
    const std::wstring& shown = source.name.empty() ? path : source.name;
    vorlane::FileHandle input(CreateFileW(vorlane::longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length{};
    const LARGE_INTEGER start{.QuadPart = (LONGLONG)source.offset};
    if (!input || !GetFileSizeEx(input.get(), &length) ||
        (source.offset && !SetFilePointerEx(input.get(), start, nullptr, FILE_BEGIN))) {
        printError(vorlane::systemFailure(L"Couldn't read the file " + path + L".").text());
        return false;
    }
    if (source.size) length.QuadPart = (LONGLONG)*source.size;
    std::optional<Crc32> crc;
    if (source.crc) crc.emplace();
    // A file shorter than the shortest cut is one piece (or none), whose SHA-256 is the file's.
    const bool onePiece = (uint64_t)length.QuadPart <= vorlane::kShortestCut;
    std::optional<vorlane::Sha256Hasher> whole;
    if (!onePiece || length.QuadPart == 0) whole.emplace();
    std::string& held = buffers.held;
    held.clear();
    uint64_t heldFrom = 0;
    bool stored = true;
    // Cut where the launcher's rule cuts (PieceEnds), each piece hashed and stored from the bytes just read.
    vorlane::PieceEnds ends;
    std::optional<vorlane::Sha256Hasher> pieceHash{std::in_place};
    uint32_t pieceLength = 0;
    const auto endPiece = [&] {
        vorlane::Sha256Digest digest;
        pieceHash->finish(digest);
        pieceHash.emplace();
        const vorlane::IndexPiece listed{digest, pieceLength};
        const std::wstring name = vorlane::toHex(digest);
        bool added = false;
        if (stored && !objects.store(name, held.data() + (file.size - heldFrom), pieceLength, added))
            stored = false;
        newPieces += added;
        file.size += pieceLength;
        file.pieces.push_back(listed);
        if (onePiece) file.sha256 = name;
        pieceLength = 0;
    };
    std::vector<unsigned char>& block = buffers.block;
    block.resize(kReadBlock);
    bool read = true;
    for (uint64_t left = source.size.value_or(UINT64_MAX); left > 0;) {
        DWORD got = 0;
        if (!ReadFile(input.get(), block.data(), (DWORD)std::min<uint64_t>(kReadBlock, left), &got, nullptr)) {
            read = false;
            break;
        }
        if (got == 0) break;
        left -= got;
        held.append(reinterpret_cast<const char*>(block.data()), got);
        if (whole) whole->add(block.data(), got);
        if (crc) crc->add(block.data(), got);
        for (size_t at = 0; at < got;) {
            size_t used = 0;
            const bool cut = ends.find(block.data() + at, got - at, used);
            pieceHash->add(block.data() + at, used);
            pieceLength += (uint32_t)used;
            at += used;
            if (cut) endPiece();
        }
        if (!stored) return false;
        held.erase(0, (size_t)(file.size - heldFrom));
        heldFrom = file.size;
    }
    const DWORD error = GetLastError();
    if (read && pieceLength > 0) endPiece();
    if (!stored) return false;
    vorlane::Sha256Digest digest;
    if (whole && read && whole->finish(digest)) file.sha256 = vorlane::toHex(digest);
    if (!read || file.sha256.empty() || file.size != (uint64_t)length.QuadPart) {
        printError(file.size != (uint64_t)length.QuadPart && read
                       ? L"The file " + shown + L" changed while it was published."
                       : vorlane::systemFailure(L"Couldn't read the file " + path + L".", error).text());
        return false;
    }
    if (crc && crc->value() != *source.crc) {
        printError(L"The zip's file " + shown + L" doesn't match the CRC-32 the zip keeps of it, so the zip is "
                   L"damaged and the build isn't listed.");
        return false;
    }
    return true;
}

}  // namespace publish
