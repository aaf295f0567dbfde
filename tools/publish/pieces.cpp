// Pieces as the server stores them: each file cut by the launcher's own piece
// rule, every piece and every index stored once under its SHA-256 in a folder
// of the server. Shared by the theme and build commands.
#include <windows.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "net/sha256.h"
#include "pieces/piece_cutter.h"
#include "publish.h"

namespace publish {

std::wstring slashed(std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

std::wstring backslashed(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

bool storeObject(const std::wstring& path, const std::wstring& hash, const std::string& bytes, bool& added) {
    std::wstring present;
    added = !(vorlane::sha256File(path, present) && present == hash);
    if (!added) return true;
    // Written whole under a name of its own, then renamed, but not flushed one by one: a copy a power cut tore
    // is named by a SHA-256 it doesn't have, so launchers refuse it and the next publication writes it again.
    const std::wstring part = path + L".part";
    HANDLE file = CreateFileW(vorlane::longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    if (whole && MoveFileExW(vorlane::longPath(part).c_str(), vorlane::longPath(path).c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileW(vorlane::longPath(part).c_str());
    return false;
}

bool cutAndStore(const std::wstring& path, const ObjectPath& objectPath, vorlane::IndexFile& file,
                 size_t& newPieces) {
    std::vector<vorlane::Piece> pieces;
    if (!vorlane::cutPieces(path, [&](const vorlane::Piece& piece) { pieces.push_back(piece); }) ||
        !vorlane::sha256File(path, file.sha256)) {
        printError(L"Couldn't read the file " + path + L".");
        return false;
    }
    for (const vorlane::Piece& piece : pieces) {
        const vorlane::IndexPiece listed{vorlane::toHex(piece.digest), piece.size};
        const std::string bytes = vorlane::readRange(path, piece.offset, piece.size);
        vorlane::Sha256Digest digest;
        if (bytes.size() != piece.size || !vorlane::sha256(bytes, digest) || digest != piece.digest) {
            printError(L"The file " + path + L" changed while it was published.");
            return false;
        }
        bool added = false;
        if (!storeObject(objectPath(listed.hash), listed.hash, bytes, added)) {
            printError(L"Couldn't write " + objectPath(listed.hash) + L".");
            return false;
        }
        newPieces += added;
        file.size += piece.size;
        file.pieces.push_back(listed);
    }
    return true;
}

}  // namespace publish
