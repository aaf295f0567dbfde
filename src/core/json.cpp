#include "core/json.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "core/text.h"

namespace vorlane {

namespace {

// A value may stand at most this many levels below the top-level value.
constexpr int maxDepth = 64;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// Four hexadecimal digits at `at`; false when fewer than four bytes are left or one isn't a digit.
bool readHex4(const std::string& text, size_t at, unsigned& code) {
    if (at > text.size() || text.size() - at < 4) return false;
    code = 0;
    for (size_t i = at; i < at + 4; ++i) {
        if (!isHexDigit(text[i])) return false;
        code = code * 16 + hexValue(text[i]);
    }
    return true;
}

// A code point as UTF-8; a lone surrogate gets its three-byte form.
void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += (char)code;
    } else if (code < 0x800) {
        out += (char)(0xC0 | (code >> 6));
        out += (char)(0x80 | (code & 0x3F));
    } else if (code <= 0xFFFF) {
        out += (char)(0xE0 | (code >> 12));
        out += (char)(0x80 | ((code >> 6) & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    } else {
        out += (char)(0xF0 | (code >> 18));
        out += (char)(0x80 | ((code >> 12) & 0x3F));
        out += (char)(0x80 | ((code >> 6) & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    }
}

// ---- The tree reader ----

struct JsonReader {
    const std::string& text;
    size_t pos = 0;

    bool atEnd() const { return pos >= text.size(); }
    char peek() const { return text[pos]; }
    bool startsWith(std::string_view word) const { return std::string_view(text).substr(pos, word.size()) == word; }
    void skipSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\r' || peek() == '\n')) ++pos;
    }
};

bool parseValue(JsonReader& reader, JsonValue& value, int depth);

// After a "\u" escape: the code unit, combined with a following low-surrogate
// escape when it is a high surrogate; a high surrogate without one stands alone.
bool readUnicodeEscape(JsonReader& reader, std::string& out) {
    unsigned code = 0;
    if (!readHex4(reader.text, reader.pos, code)) return false;
    reader.pos += 4;
    unsigned low = 0;
    if (code >= 0xD800 && code <= 0xDBFF && reader.startsWith("\\u") && readHex4(reader.text, reader.pos + 2, low) &&
        low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        reader.pos += 6;
    }
    appendUtf8(out, code);
    return true;
}

// A string starting at its opening quote; the contents are decoded into `out`.
// Bytes other than escapes are copied unchecked.
bool parseString(JsonReader& reader, std::string& out) {
    if (reader.atEnd() || reader.peek() != '"') return false;
    ++reader.pos;
    for (;;) {
        size_t stop = reader.text.find_first_of("\"\\", reader.pos);
        if (stop == std::string::npos) return false;
        out.append(reader.text, reader.pos, stop - reader.pos);
        reader.pos = stop + 1;
        if (reader.text[stop] == '"') return true;
        if (reader.atEnd()) return false;
        char escaped = reader.text[reader.pos++];
        switch (escaped) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u':
                if (!readUnicodeEscape(reader, out)) return false;
                break;
            default: out += escaped; break;  // \" \\ \/ and any unknown escape stand for the byte itself
        }
    }
}

// The literal words, each taken as a plain prefix; what follows is the enclosing level's to judge.
bool parseWord(JsonReader& reader, JsonValue& value) {
    struct Word {
        std::string_view word;
        JsonKind kind;
    };
    static const Word words[] = {
        {"true", JsonKind::Bool},       {"false", JsonKind::Bool},        {"null", JsonKind::Null},
        {"NaN", JsonKind::Number},      {"Infinity", JsonKind::Number},   {"-Infinity", JsonKind::Number},
    };
    for (const Word& w : words) {
        if (!reader.startsWith(w.word)) continue;
        value.kind = w.kind;
        if (w.kind != JsonKind::Null) value.text = w.word;
        reader.pos += w.word.size();
        return true;
    }
    return false;
}

// A loose number token: the longest run of "+-.eE0123456789" after a "-" or a digit.
bool parseNumber(JsonReader& reader, JsonValue& value) {
    char first = reader.peek();
    if (first != '-' && (first < '0' || first > '9')) return false;
    size_t stop = reader.text.find_first_not_of("+-.eE0123456789", reader.pos);
    if (stop == std::string::npos) stop = reader.text.size();
    value.kind = JsonKind::Number;
    value.text.assign(reader.text, reader.pos, stop - reader.pos);
    reader.pos = stop;
    return true;
}

bool parseMember(JsonReader& reader, JsonValue& object, int depth) {
    reader.skipSpace();
    std::string key;
    if (!parseString(reader, key)) return false;
    reader.skipSpace();
    if (reader.atEnd() || reader.peek() != ':') return false;
    ++reader.pos;
    object.members.emplace_back(std::move(key), JsonValue{});
    return parseValue(reader, object.members.back().second, depth + 1);
}

bool parseContainer(JsonReader& reader, JsonValue& value, int depth) {
    const bool isObject = reader.peek() == '{';
    const char closer = isObject ? '}' : ']';
    value.kind = isObject ? JsonKind::Object : JsonKind::Array;
    ++reader.pos;
    reader.skipSpace();
    if (!reader.atEnd() && reader.peek() == closer) {
        ++reader.pos;
        return true;
    }
    for (;;) {
        if (isObject) {
            if (!parseMember(reader, value, depth)) return false;
        } else {
            value.items.emplace_back();
            if (!parseValue(reader, value.items.back(), depth + 1)) return false;
        }
        // A comma always asks for another element, so a trailing comma fails.
        reader.skipSpace();
        if (reader.atEnd()) return false;
        char next = reader.text[reader.pos++];
        if (next == closer) return true;
        if (next != ',') return false;
    }
}

bool parseValue(JsonReader& reader, JsonValue& value, int depth) {
    if (depth > maxDepth) return false;
    reader.skipSpace();
    if (reader.atEnd()) return false;
    value.begin = reader.pos;
    const char first = reader.peek();
    bool ok = false;
    if (first == '{' || first == '[') {
        ok = parseContainer(reader, value, depth);
    } else if (first == '"') {
        value.kind = JsonKind::String;
        ok = parseString(reader, value.text);
    } else {
        ok = parseWord(reader, value) || parseNumber(reader, value);
    }
    if (!ok) return false;
    value.end = reader.pos;
    return true;
}

// ---- Number conversion ----

// The numeric locale "C", made once; the conversion never depends on the user's locale.
_locale_t numericLocaleC() {
    static const _locale_t locale = _create_locale(LC_NUMERIC, "C");
    return locale;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Decimal text to double as the standard conversion reads it: as much of a
// number as stands at the start, 0 when none. The words for infinity and
// not-a-number are read here because older C runtimes don't know them.
double decimalToDouble(const std::string& text) {
    std::string_view rest(text);
    bool negative = false;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    if (startsWithIgnoringCase(rest, "inf"))
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    if (startsWithIgnoringCase(rest, "nan")) return std::numeric_limits<double>::quiet_NaN();
    return _strtod_l(text.c_str(), nullptr, numericLocaleC());
}

// ---- The flat-record reader ----

bool isFlatSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skipFlatSpace(const std::string& text, size_t& pos) {
    while (pos < text.size() && isFlatSpace(text[pos])) ++pos;
}

// A string from its opening quote to the next unescaped quote or the end of
// the text. Only \n, \t and \uXXXX have meanings; any other escaped byte stands
// for itself. A \u not followed by four hexadecimal digits gives the letter u.
std::string readFlatString(const std::string& text, size_t& pos) {
    std::string out;
    ++pos;
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"') break;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= text.size()) break;
        char escaped = text[pos++];
        unsigned code = 0;
        if (escaped == 'n') {
            out += '\n';
        } else if (escaped == 't') {
            out += '\t';
        } else if (escaped == 'u' && readHex4(text, pos, code)) {
            appendUtf8(out, code);  // surrogates are not combined here
            pos += 4;
        } else {
            out += escaped;
        }
    }
    return out;
}

// An unquoted value: every byte up to the next ",", "}" or white space.
std::string readBareToken(const std::string& text, size_t& pos) {
    size_t start = pos;
    while (pos < text.size() && text[pos] != ',' && text[pos] != '}' && !isFlatSpace(text[pos])) ++pos;
    return text.substr(start, pos - start);
}

// The pairs of one record, from just after its "{" up to and past its "}" (or to
// the end of the text, which ends an unfinished record).
FlatRecord readFlatRecord(const std::string& text, size_t& pos) {
    FlatRecord record;
    for (;;) {
        skipFlatSpace(text, pos);
        if (pos >= text.size()) break;
        if (text[pos] == '}') {
            ++pos;
            break;
        }
        if (text[pos] != '"') {  // commas and stray bytes between pairs
            ++pos;
            continue;
        }
        std::string key = readFlatString(text, pos);
        skipFlatSpace(text, pos);
        if (pos < text.size() && text[pos] == ':') ++pos;
        skipFlatSpace(text, pos);
        std::string value = pos < text.size() && text[pos] == '"' ? readFlatString(text, pos) : readBareToken(text, pos);
        record.insert_or_assign(std::move(key), toUtf16(value));
    }
    return record;
}

}  // namespace

bool parseDocument(const std::string& text, JsonValue& out) {
    out = JsonValue{};
    JsonReader reader{text};
    if (reader.startsWith("\xEF\xBB\xBF")) reader.pos = 3;
    JsonValue value;
    if (!parseValue(reader, value, 0)) return false;
    reader.skipSpace();
    if (!reader.atEnd()) return false;
    out = std::move(value);
    return true;
}

const JsonValue& member(const JsonValue& object, std::string_view key) {
    static const JsonValue missing;
    if (object.kind != JsonKind::Object) return missing;
    for (const auto& [name, value] : object.members)
        if (name == key) return value;
    return missing;
}

std::wstring textWide(const JsonValue& value) { return toUtf16(value.text); }

bool isTrue(const JsonValue& value) { return value.kind == JsonKind::Bool && value.text == "true"; }

double decimalOr(const JsonValue& value, double fallback) {
    return value.kind == JsonKind::Number ? decimalToDouble(value.text) : fallback;
}

uint32_t unsignedOr(const JsonValue& value, uint32_t fallback) {
    if (value.kind != JsonKind::Number) return fallback;
    const double number = decimalToDouble(value.text);
    if (std::isnan(number) || number < 0 || number >= 4294967296.0) return fallback;
    return (uint32_t)number;
}

std::vector<FlatRecord> readFlatRecords(const std::string& text) {
    std::vector<FlatRecord> records;
    size_t pos = 0;
    for (;;) {
        skipFlatSpace(text, pos);
        if (pos >= text.size()) break;
        if (text[pos++] != '{') continue;  // brackets and commas around the records
        records.push_back(readFlatRecord(text, pos));
    }
    return records;
}

std::wstring field(const FlatRecord& record, std::string_view key) {
    auto found = record.find(key);
    return found == record.end() ? std::wstring() : found->second;
}

std::string quoteJson(const std::wstring& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : toUtf8(text)) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if ((unsigned char)c < 0x20) {
                    out += "\\u00";
                    out += hex[(unsigned char)c >> 4];
                    out += hex[c & 15];
                } else {
                    out += c;  // UTF-8 sequences and "/" as they are
                }
        }
    }
    out += '"';
    return out;
}

std::string linkJson(const std::string& nodeId, int index) {
    return "[\"" + nodeId + "\"," + std::to_string(index) + "]";
}

std::string fixed3(double value) {
    // Fixed notation is as printf's "%.3f" in locale "C", independent of the current locale.
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    return std::string(buffer, result.ptr);
}

}  // namespace vorlane
