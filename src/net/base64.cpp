#include "net/base64.h"

namespace vorlane {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The six bits of an alphabet character, or -1.
int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::string decodeBase64(const std::string& text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned accumulator = 0;
    int pendingBits = 0;
    bool inPadding = false;
    for (char c : text) {
        if (isWhiteSpace(c)) continue;
        if (c == '=') {
            inPadding = true;
            continue;
        }
        int bits = sextet(c);
        if (bits < 0 || inPadding) return {};
        accumulator = (accumulator << 6) | unsigned(bits);
        pendingBits += 6;
        if (pendingBits >= 8) {
            pendingBits -= 8;
            out += char((accumulator >> pendingBits) & 0xFF);
        }
        accumulator &= (1u << pendingBits) - 1;  // keep only the bits not yet written
    }
    return out;
}

std::string encodeBase64(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned group = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
        out += kAlphabet[group >> 18];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += kAlphabet[group & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned group = (unsigned char)bytes[i] << 16 | (rest == 2 ? (unsigned char)bytes[i + 1] << 8 : 0);
        out += kAlphabet[group >> 18];
        out += kAlphabet[(group >> 12) & 63];
        out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace vorlane
