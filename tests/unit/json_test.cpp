// The JSON tree reader, its lookups and the writer functions.
#include <gtest/gtest.h>

#include <clocale>
#include <climits>
#include <string>

#include "core/json.h"

using namespace vorlane;

namespace {

bool parses(const std::string& text) {
    JsonValue value;
    return parseDocument(text, value);
}

JsonValue parsed(const std::string& text) {
    JsonValue value;
    EXPECT_TRUE(parseDocument(text, value)) << "document: " << text;
    return value;
}

// `levels` arrays around `inner`.
std::string nestedArrays(int levels, const std::string& inner) {
    return std::string(levels, '[') + inner + std::string(levels, ']');
}

JsonValue number(const std::string& token) {
    JsonValue value;
    value.kind = JsonKind::Number;
    value.text = token;
    return value;
}

}  // namespace

// ---- Document structure ----

TEST(JsonDocument, ReadsEveryKindInDocumentOrder) {
    JsonValue doc = parsed(R"({"b":[1,"x",true,false,null],"a":{"c":-2.5e3}})");
    ASSERT_EQ(doc.kind, JsonKind::Object);
    ASSERT_EQ(doc.members.size(), 2u);
    EXPECT_EQ(doc.members[0].first, "b");
    EXPECT_EQ(doc.members[1].first, "a");

    const JsonValue& list = doc.members[0].second;
    ASSERT_EQ(list.kind, JsonKind::Array);
    ASSERT_EQ(list.items.size(), 5u);
    EXPECT_EQ(list.items[0].kind, JsonKind::Number);
    EXPECT_EQ(list.items[0].text, "1");
    EXPECT_EQ(list.items[1].kind, JsonKind::String);
    EXPECT_EQ(list.items[1].text, "x");
    EXPECT_EQ(list.items[2].kind, JsonKind::Bool);
    EXPECT_EQ(list.items[2].text, "true");
    EXPECT_EQ(list.items[3].kind, JsonKind::Bool);
    EXPECT_EQ(list.items[3].text, "false");
    EXPECT_EQ(list.items[4].kind, JsonKind::Null);
    EXPECT_EQ(list.items[4].text, "");

    EXPECT_EQ(member(doc.members[1].second, "c").text, "-2.5e3");
    EXPECT_EQ(static_cast<int>(JsonKind::Null), 0);
    EXPECT_EQ(static_cast<int>(JsonKind::Object), 5);
}

TEST(JsonDocument, RecordsWhereEachValueStandsInTheSource) {
    const std::string text = "  {\"a\": [1, \"xy\"] }  ";
    JsonValue doc = parsed(text);
    EXPECT_EQ(doc.begin, 2u);
    EXPECT_EQ(doc.end, text.size() - 2);
    const JsonValue& list = member(doc, "a");
    EXPECT_EQ(text.substr(list.begin, list.end - list.begin), "[1, \"xy\"]");
    EXPECT_EQ(text.substr(list.items[1].begin, list.items[1].end - list.items[1].begin), "\"xy\"");

    // Positions count from the start of the text, byte order mark included.
    JsonValue marked = parsed("\xEF\xBB\xBF[7]");
    EXPECT_EQ(marked.begin, 3u);
    EXPECT_EQ(marked.items[0].begin, 4u);
    EXPECT_EQ(marked.items[0].end, 5u);
}

TEST(JsonDocument, ByteOrderMarkIsSkippedOnlyAtTheStart) {
    JsonValue doc = parsed("\xEF\xBB\xBF{\"a\":1}");
    EXPECT_EQ(member(doc, "a").text, "1");
    EXPECT_TRUE(parses("\xEF\xBB\xBF  []"));
    EXPECT_FALSE(parses("\xEF\xBB\xBF"));
    EXPECT_FALSE(parses(" \xEF\xBB\xBF{}"));
    EXPECT_FALSE(parses("\xEF\xBB\xBF\xEF\xBB\xBF{}"));
    EXPECT_FALSE(parses("\xEF\xBB{}"));
}

TEST(JsonDocument, EmptyOrBlankTextFails) {
    EXPECT_FALSE(parses(""));
    EXPECT_FALSE(parses(" \t\r\n"));
    EXPECT_FALSE(parses(std::string(1, '\0')));
}

TEST(JsonDocument, OnlySpaceTabCarriageReturnAndLineFeedAreWhiteSpace) {
    EXPECT_TRUE(parses("\t\r\n [ 1 ,\t2 ] \r\n"));
    EXPECT_FALSE(parses("\v1"));
    EXPECT_FALSE(parses("1\f"));
    EXPECT_FALSE(parses("[1,\v2]"));
    EXPECT_FALSE(parses("{} \xC2\xA0"));  // no-break space
}

TEST(JsonDocument, AnythingAfterTheTopLevelValueFails) {
    EXPECT_FALSE(parses("{} x"));
    EXPECT_FALSE(parses("[]]"));
    EXPECT_FALSE(parses("1 2"));
    EXPECT_FALSE(parses("{}{}"));
    EXPECT_FALSE(parses("\"a\"\""));
    EXPECT_FALSE(parses(std::string("{}\0", 3)));
    EXPECT_TRUE(parses("{}  \n"));
}

TEST(JsonDocument, EmptyContainersAndTrailingCommas) {
    for (const char* text : {"[]", "{}", "[ ]", "{ }", "[\r\n]", "{\t}"}) {
        JsonValue value = parsed(text);
        EXPECT_TRUE(value.items.empty() && value.members.empty()) << text;
    }
    EXPECT_EQ(parsed("[]").kind, JsonKind::Array);
    EXPECT_EQ(parsed("{}").kind, JsonKind::Object);

    for (const char* text : {"[1,]", "{\"a\":1,}", "[,]", "[,1]", "{,}", "[1,,2]", "[1 2]", "{\"a\" 1}", "{a:1}",
                             "{\"a\":}", "{\"a\":1;\"b\":2}", "{\"a\",1}", "[1}", "{\"a\":1]", "{1:2}"})
        EXPECT_FALSE(parses(text)) << text;
}

TEST(JsonDocument, TruncatedDocumentsFail) {
    const std::string whole = R"({"name":"Vorlane \u00e9\n","list":[1,true,null,{"x":"y"}],"n":-1.5e3})";
    ASSERT_TRUE(parses(whole));
    for (size_t length = 0; length < whole.size(); ++length)
        EXPECT_FALSE(parses(whole.substr(0, length))) << "cut after " << length << " bytes";
}

TEST(JsonDocument, DuplicateMembersAreKeptAndLookupFindsTheFirst) {
    JsonValue doc = parsed(R"({"a":1,"b":0,"a":2})");
    ASSERT_EQ(doc.members.size(), 3u);
    EXPECT_EQ(doc.members[2].first, "a");
    EXPECT_EQ(doc.members[2].second.text, "2");
    EXPECT_EQ(member(doc, "a").kind, JsonKind::Number);
    EXPECT_EQ(member(doc, "a").text, "1");
}

TEST(JsonDocument, FailedParseLeavesNull) {
    JsonValue value = parsed(R"({"a":[1,2]})");
    EXPECT_FALSE(parseDocument(R"({"a":[1,2)", value));
    EXPECT_EQ(value.kind, JsonKind::Null);
    EXPECT_TRUE(value.members.empty());
    EXPECT_TRUE(value.items.empty());
}

// ---- Literal words and numbers ----

TEST(JsonDocument, LiteralWordsAreTakenAsPrefixes) {
    EXPECT_EQ(parsed("true").kind, JsonKind::Bool);
    EXPECT_EQ(parsed("null").kind, JsonKind::Null);
    // The word is taken; what follows it is judged by the enclosing level.
    EXPECT_FALSE(parses("trueish"));
    EXPECT_FALSE(parses("[truex]"));
    EXPECT_FALSE(parses("nullnull"));
    EXPECT_FALSE(parses("[True]"));
    EXPECT_FALSE(parses("nul"));
    EXPECT_FALSE(parses("[nan]"));
    EXPECT_TRUE(parses("[false,true]"));
}

TEST(JsonDocument, NaNAndInfinitiesAreNumbersKeepingTheirWord) {
    JsonValue list = parsed("[NaN,Infinity,-Infinity]");
    ASSERT_EQ(list.items.size(), 3u);
    const char* words[] = {"NaN", "Infinity", "-Infinity"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list.items[i].kind, JsonKind::Number);
        EXPECT_EQ(list.items[i].text, words[i]);
    }
    EXPECT_FALSE(parses("-Inf"));  // a "-" token followed by stray text
    EXPECT_FALSE(parses("Inf"));
}

TEST(JsonDocument, NumberTokenIsTheLongestLooseRun) {
    JsonValue list = parsed("[1.5e+3,-0,1-2,1.2.3,01,-,5E-1]");
    const char* tokens[] = {"1.5e+3", "-0", "1-2", "1.2.3", "01", "-", "5E-1"};
    ASSERT_EQ(list.items.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(list.items[i].kind, JsonKind::Number);
        EXPECT_EQ(list.items[i].text, tokens[i]);
    }
    EXPECT_EQ(parsed("  42  ").text, "42");
    EXPECT_FALSE(parses("+1"));
    EXPECT_FALSE(parses(".5"));
    EXPECT_FALSE(parses("[1x]"));
    EXPECT_FALSE(parses("0x10"));
}

// ---- Strings ----

TEST(JsonDocument, StringEscapes) {
    EXPECT_EQ(parsed(R"("a\qb")").text, "aqb");
    EXPECT_EQ(parsed(R"("\b\f\n\r\t\"\\\/")").text, "\b\f\n\r\t\"\\/");
    EXPECT_EQ(parsed(R"("\u0041\u00e9\u20AC")").text, "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(parsed(R"("\u0000")").text, std::string(1, '\0'));
    EXPECT_EQ(parsed(R"("")").text, "");
    EXPECT_EQ(parsed("\"\\\xC3\xA9\"").text, "\xC3\xA9");  // an escaped byte stands for itself
}

TEST(JsonDocument, SurrogateEscapesCombineOrStandAlone) {
    EXPECT_EQ(parsed(R"("\uD83D\uDE00")").text, "\xF0\x9F\x98\x80");
    EXPECT_EQ(parsed(R"("\ud83d\ude00")").text, "\xF0\x9F\x98\x80");
    EXPECT_EQ(parsed(R"("\uDBFF\uDFFF")").text, "\xF4\x8F\xBF\xBF");
    // Without a low surrogate right after it, the high surrogate is written alone.
    EXPECT_EQ(parsed(R"("\uD83D")").text, "\xED\xA0\xBD");
    EXPECT_EQ(parsed(R"("\uD83Dx")").text, "\xED\xA0\xBDx");
    EXPECT_EQ(parsed(R"("\uD83D\u0041")").text, "\xED\xA0\xBD" "A");
    EXPECT_EQ(parsed(R"("\uD83D\uD83D\uDE00")").text, "\xED\xA0\xBD\xF0\x9F\x98\x80");
    EXPECT_EQ(parsed(R"("\uD83D\n")").text, "\xED\xA0\xBD\n");
    EXPECT_EQ(parsed(R"("\uDE00")").text, "\xED\xB8\x80");
    // A broken escape after a high surrogate still fails the string.
    EXPECT_FALSE(parses(R"("\uD83D\uZZZZ")"));
    EXPECT_FALSE(parses(R"("\uD83D\uDE0")"));
}

TEST(JsonDocument, RawBytesAreCopiedWithoutChecks) {
    EXPECT_EQ(parsed("\"\x01\x1f\t\xff\"").text, "\x01\x1f\t\xff");
    // A UTF-8 sequence cut short stays as it is; converting it gives the replacement character.
    JsonValue cut = parsed("\"\xE2\x82\"");
    EXPECT_EQ(cut.text, "\xE2\x82");
    std::wstring wide = textWide(cut);
    EXPECT_FALSE(wide.empty());
    EXPECT_EQ(wide.find_first_not_of(L'\xFFFD'), std::wstring::npos);
}

TEST(JsonDocument, BrokenStringsFail) {
    for (const char* text : {"\"abc", "\"ab\\", "\"\\", "\"\\u12", "\"\\u12\"", "\"\\u12G4\"", "\"\\u\"",
                             "\"\\u 123\"", "[\"a]", "{\"a:1}", "'a'"})
        EXPECT_FALSE(parses(text)) << text;
}

// ---- Nesting ----

TEST(JsonDocument, NestingIsLimitedTo64LevelsBelowTheTop) {
    JsonValue doc = parsed(nestedArrays(64, "1"));
    const JsonValue* value = &doc;
    for (int level = 0; level < 64; ++level) {
        ASSERT_EQ(value->kind, JsonKind::Array);
        ASSERT_EQ(value->items.size(), 1u);
        value = &value->items[0];
    }
    EXPECT_EQ(value->text, "1");
    EXPECT_TRUE(parses(nestedArrays(65, "")));  // the innermost array is empty: 64 levels below the top
    EXPECT_FALSE(parses(nestedArrays(65, "1")));
    EXPECT_FALSE(parses(nestedArrays(66, "")));

    std::string objects;
    for (int i = 0; i < 65; ++i) objects += "{\"a\":";
    EXPECT_TRUE(parses(objects.substr(5) + "1" + std::string(64, '}')));
    EXPECT_FALSE(parses(objects + "1" + std::string(65, '}')));
}

TEST(JsonDocument, HostileNestingFailsWithoutExhaustingTheStack) {
    EXPECT_FALSE(parses(std::string(100000, '[')));
    EXPECT_FALSE(parses(nestedArrays(100000, "")));
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_FALSE(parses(objects));
}

// ---- Lookups ----

TEST(JsonLookup, MemberMatchesKeysExactly) {
    JsonValue doc = parsed("{\"Theme\":\"x\",\"ab\":1,\"a\\u0000\":2,\"\":3}");
    EXPECT_EQ(member(doc, "Theme").text, "x");
    EXPECT_EQ(member(doc, "theme").kind, JsonKind::Null);
    EXPECT_EQ(member(doc, "a").kind, JsonKind::Null);  // neither "ab" nor "a" followed by a NUL
    EXPECT_EQ(member(doc, "abc").kind, JsonKind::Null);
    EXPECT_EQ(member(doc, "").text, "3");
}

TEST(JsonLookup, MissingMembersShareOneNull) {
    JsonValue doc = parsed(R"({"a":{"b":1},"list":[{"a":1}]})");
    const JsonValue& missing = member(doc, "nothing");
    EXPECT_EQ(missing.kind, JsonKind::Null);
    EXPECT_EQ(&missing, &member(parsed("[]"), "a"));
    EXPECT_EQ(&missing, &member(member(doc, "list"), "a"));    // an array has no members
    EXPECT_EQ(&missing, &member(member(member(doc, "x"), "y"), "z"));  // chains never fail
    EXPECT_EQ(member(member(doc, "a"), "b").text, "1");
}

TEST(JsonLookup, TextWideAndIsTrue) {
    JsonValue doc = parsed(R"({"s":"caf\u00e9 \uD83D\uDE00","n":-1.5e3,"t":true,"f":false,"z":null,"l":[1],"o":{}})");
    EXPECT_EQ(textWide(member(doc, "s")), L"caf\u00e9 \U0001F600");
    EXPECT_EQ(textWide(member(doc, "n")), L"-1.5e3");
    EXPECT_EQ(textWide(member(doc, "t")), L"true");
    EXPECT_EQ(textWide(member(doc, "f")), L"false");
    EXPECT_EQ(textWide(member(doc, "z")), L"");
    EXPECT_EQ(textWide(member(doc, "l")), L"");
    EXPECT_EQ(textWide(member(doc, "o")), L"");
    EXPECT_EQ(textWide(member(doc, "missing")), L"");

    EXPECT_TRUE(isTrue(member(doc, "t")));
    EXPECT_FALSE(isTrue(member(doc, "f")));
    EXPECT_FALSE(isTrue(parsed("\"true\"")));
    EXPECT_FALSE(isTrue(parsed("1")));
    EXPECT_FALSE(isTrue(member(doc, "missing")));
}

TEST(JsonLookup, UnsignedOrConvertsOnlyNumbersInRange) {
    EXPECT_EQ(unsignedOr(number("12.9"), 7u), 12u);
    EXPECT_EQ(unsignedOr(number("0"), 7u), 0u);
    EXPECT_EQ(unsignedOr(number("1e3"), 7u), 1000u);
    EXPECT_EQ(unsignedOr(number("4294967295"), 7u), 4294967295u);
    EXPECT_EQ(unsignedOr(number("4294967295.5"), 7u), 4294967295u);
    EXPECT_EQ(unsignedOr(number("4294967296"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("1e400"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("-1e400"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("-1"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("-0.5"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("-0"), 7u), 0u);  // minus zero is not below zero
    EXPECT_EQ(unsignedOr(number("1e-400"), 7u), 0u);
    EXPECT_EQ(unsignedOr(number("NaN"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("Infinity"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number("-Infinity"), 7u), 7u);
    EXPECT_EQ(unsignedOr(number(std::string(400, '9')), 7u), 7u);
    // A loose token converts as far as it reads as a number.
    EXPECT_EQ(unsignedOr(number("1-2"), 7u), 1u);
    EXPECT_EQ(unsignedOr(number("3.5.1"), 7u), 3u);
    EXPECT_EQ(unsignedOr(number("-"), 7u), 0u);
}

TEST(JsonLookup, UnsignedOrGivesTheFallbackForOtherKinds) {
    JsonValue doc = parsed(R"({"s":"12","b":true,"z":null,"l":[12],"o":{"a":12}})");
    for (const char* key : {"s", "b", "z", "l", "o", "missing"}) EXPECT_EQ(unsignedOr(member(doc, key), 9u), 9u) << key;
    EXPECT_EQ(unsignedOr(parsed("[12]").items[0], 9u), 12u);
}

// ---- Writers ----

TEST(JsonWriter, QuoteJsonEscapesOnlyWhatItMust) {
    EXPECT_EQ(quoteJson(L"\t\"\u00e9"), "\"\\t\\\"\xC3\xA9\"");
    EXPECT_EQ(quoteJson(L""), "\"\"");
    EXPECT_EQ(quoteJson(L"a\\b/c\r\n"), "\"a\\\\b/c\\r\\n\"");
    EXPECT_EQ(quoteJson(L"\b\f\x01\x1f\x7f"), "\"\\u0008\\u000c\\u0001\\u001f\x7f\"");
    EXPECT_EQ(quoteJson(std::wstring(1, L'\0')), "\"\\u0000\"");
    EXPECT_EQ(quoteJson(L"\U0001F600"), "\"\xF0\x9F\x98\x80\"");
}

TEST(JsonWriter, QuotedTextReadsBackUnchanged) {
    const std::wstring texts[] = {L"plain", L"tab\there \"quoted\" back\\slash", L"caf\u00e9 \U0001F600 \u20ac",
                                  std::wstring(L"nul\0and\x1f\b\f", 10), L"line\r\nbreaks"};
    for (const std::wstring& text : texts) EXPECT_EQ(textWide(parsed(quoteJson(text))), text);
}

TEST(JsonWriter, LinkJson) {
    EXPECT_EQ(linkJson("12", 0), "[\"12\",0]");
    EXPECT_EQ(linkJson("z10", 2), "[\"z10\",2]");
    EXPECT_EQ(linkJson("1", -1), "[\"1\",-1]");
    EXPECT_EQ(linkJson("1", INT_MIN), "[\"1\",-2147483648]");
    JsonValue link = parsed(linkJson("9", 3));
    ASSERT_EQ(link.items.size(), 2u);
    EXPECT_EQ(link.items[0].text, "9");
    EXPECT_EQ(unsignedOr(link.items[1], 0), 3u);
}

TEST(JsonWriter, Fixed3) {
    EXPECT_EQ(fixed3(0.6), "0.600");
    EXPECT_EQ(fixed3(0), "0.000");
    EXPECT_EQ(fixed3(-1.5), "-1.500");
    EXPECT_EQ(fixed3(2.0004), "2.000");
    EXPECT_EQ(fixed3(2.0006), "2.001");
    EXPECT_EQ(fixed3(1234567.25), "1234567.250");
    EXPECT_EQ(fixed3(1e20), "100000000000000000000.000");
}

TEST(JsonWriter, NumbersIgnoreTheCurrentLocale) {
    const char* names[] = {"German_Germany.1252", "de-DE", "de_DE.UTF-8", "French_France.1252", "fr-FR"};
    bool commaLocale = false;
    for (const char* name : names) {
        if (std::setlocale(LC_NUMERIC, name) && std::localeconv()->decimal_point[0] == ',') {
            commaLocale = true;
            break;
        }
    }
    if (!commaLocale) {
        std::setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "no locale with a decimal comma here";
    }
    const std::string formatted = fixed3(1.5);
    const uint32_t converted = unsignedOr(number("12.9e1"), 7u);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(formatted, "1.500");
    EXPECT_EQ(converted, 129u);
}
