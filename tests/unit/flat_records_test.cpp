// The reader of flat record lists (builds.json, launcher.json, theme_slots.json).
#include <gtest/gtest.h>

#include <string>

#include "core/json.h"

using namespace vorlane;

TEST(FlatRecords, ReadsAListOfFlatObjects) {
    const std::string text = R"([
  {"File": "Vorlane-abc1234.zip", "Commit": "abc1234", "Size": 1048576, "Released": "2024-05-01T12:00:00Z"},
  {"File": "Vorlane-def5678.zip", "Commit": "def5678", "Size": 42, "Summary": "Fixes \"towers\""}
])";
    std::vector<FlatRecord> records = readFlatRecords(text);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(field(records[0], "File"), L"Vorlane-abc1234.zip");
    EXPECT_EQ(field(records[0], "Size"), L"1048576");
    EXPECT_EQ(field(records[0], "Released"), L"2024-05-01T12:00:00Z");
    EXPECT_EQ(field(records[0], "Summary"), L"");
    EXPECT_EQ(field(records[1], "Commit"), L"def5678");
    EXPECT_EQ(field(records[1], "Size"), L"42");
    EXPECT_EQ(field(records[1], "Summary"), L"Fixes \"towers\"");
    EXPECT_EQ(field(records[1], "size"), L"");  // keys are compared exactly
}

TEST(FlatRecords, BareValuesKeepTheirText) {
    std::vector<FlatRecord> records = readFlatRecords("{\"t\":true,\"f\":false , \"z\":null\n,\"n\":-12.5e3}");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(field(records[0], "t"), L"true");
    EXPECT_EQ(field(records[0], "f"), L"false");
    EXPECT_EQ(field(records[0], "z"), L"null");
    EXPECT_EQ(field(records[0], "n"), L"-12.5e3");
}

TEST(FlatRecords, LooseSyntaxIsPassedOver) {
    // No colon, an empty value, stray bytes between pairs, a bare value ending the text.
    std::vector<FlatRecord> records = readFlatRecords("{\"a\" \"x\", \"b\":, junk \"c\":\"y\";; \"d\":12");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(field(records[0], "a"), L"x");
    EXPECT_EQ(field(records[0], "b"), L"");
    EXPECT_EQ(field(records[0], "c"), L"y");
    EXPECT_EQ(field(records[0], "d"), L"12");
}

TEST(FlatRecords, ItemsAreFoundWhereverTheyStand) {
    std::vector<FlatRecord> records =
        readFlatRecords("\xEF\xBB\xBF garbage {\"a\":\"1\"} , ; ] {\"a\":\"2\"}}}{}  [[{\"a\":\"3\"");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(field(records[0], "a"), L"1");
    EXPECT_EQ(field(records[1], "a"), L"2");
    EXPECT_TRUE(records[2].empty());
    EXPECT_EQ(field(records[3], "a"), L"3");  // an unfinished record at the end still counts
}

TEST(FlatRecords, NothingToRead) {
    EXPECT_TRUE(readFlatRecords("").empty());
    EXPECT_TRUE(readFlatRecords(" \t\r\n\v\f").empty());
    EXPECT_TRUE(readFlatRecords("[1, 2, \"x\"]}}").empty());
    std::vector<FlatRecord> one = readFlatRecords("{");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one[0].empty());
}

TEST(FlatRecords, RepeatedKeyReplacesTheEarlierValue) {
    std::vector<FlatRecord> records = readFlatRecords(R"({"a":"first","b":"x","a":"second"})");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size(), 2u);
    EXPECT_EQ(field(records[0], "a"), L"second");
}

TEST(FlatRecords, QuotedTextMayHoldBracesAndCommas) {
    std::vector<FlatRecord> records = readFlatRecords(R"([{"a":"x}, {y","b":"2"},{"c":"3"}])");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(field(records[0], "a"), L"x}, {y");
    EXPECT_EQ(field(records[0], "b"), L"2");
    EXPECT_EQ(field(records[1], "c"), L"3");
}

TEST(FlatRecords, AllWhiteSpaceClassesSeparate) {
    std::vector<FlatRecord> records = readFlatRecords("{\v\"a\"\f:\v1\f,\r\"b\"\t:\n2\r}");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(field(records[0], "a"), L"1");
    EXPECT_EQ(field(records[0], "b"), L"2");
}

TEST(FlatRecords, StringEscapesOfThisReader) {
    std::vector<FlatRecord> records = readFlatRecords(
        R"({"n":"a\nb\tc","q":"\"\\\/","r":"\r\b\f","u":"caf\u00e9 \u20ac","k\u0065y":"v","x":"\uZZ12"})");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(field(records[0], "n"), L"a\nb\tc");
    EXPECT_EQ(field(records[0], "q"), L"\"\\/");
    EXPECT_EQ(field(records[0], "r"), L"rbf");  // only \n, \t and \u have meanings
    EXPECT_EQ(field(records[0], "u"), L"caf\u00e9 \u20ac");
    EXPECT_EQ(field(records[0], "key"), L"v");
    EXPECT_EQ(field(records[0], "x"), L"uZZ12");  // \u without four hexadecimal digits is the letter u
}

TEST(FlatRecords, ShortUnicodeEscapeNeverSwallowsTheClosingQuote) {
    std::vector<FlatRecord> records = readFlatRecords(R"({"a":"\u41","b":"2"})");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(field(records[0], "a"), L"u41");
    EXPECT_EQ(field(records[0], "b"), L"2");
}

TEST(FlatRecords, SurrogateEscapesAreNotCombined) {
    std::vector<FlatRecord> records = readFlatRecords(R"({"e":"\uD83D\uDE00"})");
    ASSERT_EQ(records.size(), 1u);
    const std::wstring value = field(records[0], "e");
    EXPECT_NE(value, L"\U0001F600");
    EXPECT_NE(value.find(L'\xFFFD'), std::wstring::npos);
}

TEST(FlatRecords, ValuesAreConvertedFromUtf8) {
    std::vector<FlatRecord> records = readFlatRecords("{\"a\":\"\xC3\xA9\xF0\x9F\x98\x80\",\"b\":\"\xC3\",\"c\":x\xE2\x82}");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(field(records[0], "a"), L"\u00e9\U0001F600");
    EXPECT_EQ(field(records[0], "b"), L"\xFFFD");
    EXPECT_EQ(field(records[0], "c").substr(0, 1), L"x");
    EXPECT_NE(field(records[0], "c").find(L'\xFFFD'), std::wstring::npos);
}

TEST(FlatRecords, UnterminatedTextEndsTheRecord) {
    for (const char* text : {R"([{"a":"open)", R"([{"a":"open\)", R"([{"a)", R"([{"a":)"}) {
        std::vector<FlatRecord> records = readFlatRecords(text);
        ASSERT_EQ(records.size(), 1u) << text;
    }
    EXPECT_EQ(field(readFlatRecords(R"([{"a":"open)")[0], "a"), L"open");
    EXPECT_EQ(field(readFlatRecords(R"([{"a":"open\)")[0], "a"), L"open");
}
