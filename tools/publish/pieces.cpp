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
    return !added || vorlane::writeFileAtomically(path, bytes);
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
