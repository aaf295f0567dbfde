// JSON documents: the one reader of JSON in the launcher (a tree of JsonValue),
// the lookups every feature uses on it, the simpler reader of flat record lists,
// and the few functions with which writers assemble JSON text by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlane {

enum class JsonKind { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

// One node of a parsed document; it owns its children by value.
struct JsonValue {
    JsonKind kind = JsonKind::Null;
    // Bool: "true" or "false"; Number: the token as it stood (also "NaN",
    // "Infinity", "-Infinity"); String: the decoded UTF-8 contents; else empty.
    std::string text;
    std::vector<JsonValue> items;                              // Array elements in order
    std::vector<std::pair<std::string, JsonValue>> members;    // Object members in order, duplicates kept
    size_t begin = 0;                                          // first byte of the value in the source text
    size_t end = 0;                                            // one past its last byte
};

// Parses a whole document (a leading UTF-8 byte order mark is skipped). True
// only when one value was read and nothing but white space follows it; on
// failure `out` is left as a Null value.
bool parseDocument(const std::string& text, JsonValue& out);

// The first member whose key equals `key` byte for byte, or a shared immutable
// Null when there is none or `object` is not an Object.
const JsonValue& member(const JsonValue& object, std::string_view key);

// The node's text as UTF-16: a string's contents, a number's token, "true" or
// "false"; empty for anything else.
std::wstring textWide(const JsonValue& value);

// True for the Bool true only.
bool isTrue(const JsonValue& value);

// The number truncated toward zero when it is a Number whose value is not NaN,
// not negative and below 2^32; `fallback` otherwise.
uint32_t unsignedOr(const JsonValue& value, uint32_t fallback);

// A Number as the decimal conversion reads it (locale "C"); `fallback` for
// anything else.
double decimalOr(const JsonValue& value, double fallback);

// One entry of a flat list (builds.json, launcher.json, theme_slots.json): keys
// as UTF-8 bytes, values as UTF-16; a key met again replaces the earlier value.
using FlatRecord = std::map<std::string, std::wstring, std::less<>>;

// Every brace-delimited group of key/value pairs in the text, in order. Never
// fails: whatever is not part of a group is passed over.
std::vector<FlatRecord> readFlatRecords(const std::string& text);

// The value stored under `key`, or an empty string.
std::wstring field(const FlatRecord& record, std::string_view key);

// A complete JSON string literal, quotes included, of a UTF-16 text.
std::string quoteJson(const std::wstring& text);

// A link to output `index` of graph node `nodeId`: ["12",0]. The id is copied unescaped.
std::string linkJson(const std::string& nodeId, int index);

// The number with three decimals ("%.3f"), always with a "." whatever the locale.
std::string fixed3(double value);

}  // namespace vorlane
