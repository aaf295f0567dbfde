#include "pieces/piece_index.h"

#include "core/text.h"
#include "pieces/piece_cutter.h"

namespace vorlane {

namespace {

bool isLowerHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

bool isString(const JsonValue& value) { return value.kind == JsonKind::String; }

// "hash:size", the hash as 64 lower-case hex digits and the size in decimal. A
// hash of another form gives the piece a size of 0, which the limits refuse.
bool readPiece(const JsonValue& value, IndexPiece& piece) {
    if (!isString(value)) return false;
    const std::wstring text = textWide(value);
    if (text.size() < 66 || text.size() > 72 || text[64] != L':') return false;
    uint32_t size = 0;
    for (size_t i = 65; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        size = size * 10 + (text[i] - L'0');
    }
    piece.size = fromHex(std::wstring_view(text).substr(0, 64), piece.hash) ? size : 0;
    return true;
}

}  // namespace

bool isSha256Hex(const std::wstring& text) {
    if (text.size() != 64) return false;
    for (wchar_t c : text)
        if (!isLowerHex(c)) return false;
    return true;
}

std::wstring samePathKey(const std::wstring& path) {
    std::wstring key = lowerCase(path);
    for (wchar_t& c : key)
        if (c == L'\\') c = L'/';
    return key;
}

bool isKnownScheme(const JsonValue& chunks) {
    if (chunks.kind != JsonKind::Number) return false;
    long long number = 0;
    return parseSigned64(textWide(chunks), number) && number == (long long)kPieceScheme;
}

bool readIndexFile(const JsonValue& value, IndexFile& file) {
    const JsonValue& path = member(value, "Path");
    const JsonValue& size = member(value, "Size");
    const JsonValue& sha256 = member(value, "Sha256");
    const JsonValue& pieces = member(value, "Chunks");
    file.path = textWide(path);
    long long bytes = -1;
    if (!isString(path) || !isString(sha256) || size.kind != JsonKind::Number || pieces.kind != JsonKind::Array ||
        !parseSigned64(textWide(size), bytes) || bytes < 0)
        return false;
    file.size = (uint64_t)bytes;
    file.sha256 = textWide(sha256);
    file.pieces.resize(pieces.items.size());
    for (size_t i = 0; i < pieces.items.size(); ++i)
        if (!readPiece(pieces.items[i], file.pieces[i])) return false;
    return true;
}

bool piecesAddUp(const IndexFile& file) {
    if (!isSha256Hex(file.sha256)) return false;
    uint64_t total = 0;
    for (const IndexPiece& piece : file.pieces) {
        if (piece.size < 1 || piece.size > kLongestPiece) return false;
        total += piece.size;
        if (total > file.size) return false;
    }
    return total == file.size;
}

std::string indexFilesJson(const std::vector<IndexFile>& files, const std::string& indent) {
    std::string text;
    for (size_t i = 0; i < files.size(); ++i) {
        const IndexFile& file = files[i];
        text += std::string(i ? "," : "") + "\n" + indent + "{\"Path\": " + quoteJson(file.path) +
                ", \"Size\": " + std::to_string(file.size) + ", \"Sha256\": " + quoteJson(file.sha256) +
                ", \"Chunks\": [";
        for (size_t p = 0; p < file.pieces.size(); ++p)
            text += std::string(p ? ", \"" : "\"") + toUtf8(toHex(file.pieces[p].hash)) + ":" +
                    std::to_string(file.pieces[p].size) + "\"";
        text += "]}";
    }
    return text;
}

}  // namespace vorlane
