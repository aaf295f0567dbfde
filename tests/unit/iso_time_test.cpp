// Reading and writing UTC time stamps.
#include <gtest/gtest.h>

#include <string>

#include "core/iso_time.h"

using namespace vorlane;

namespace {

constexpr long long second = 10000000;
constexpr long long minute = 60 * second;
constexpr long long hour = 60 * minute;

}  // namespace

TEST(IsoTime, StartOfTheEpochAndItsOffsets) {
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.5Z"), 5000000);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T01:00:00+01:00"), 0);
    EXPECT_EQ(parseIsoTime(L"1969-12-31T22:30:00-01:30"), 0);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00+00:00"), 0);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00-00:00"), 0);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00"), -1);
}

TEST(IsoTime, KnownInstants) {
    EXPECT_EQ(parseIsoTime(L"2024-02-29T12:34:56Z"), 1709210096LL * second);
    EXPECT_EQ(parseIsoTime(L"2000-03-01T00:00:00Z"), 951868800LL * second);
    EXPECT_EQ(parseIsoTime(L"1900-03-01T00:00:00Z"), -2203891200LL * second);
    EXPECT_EQ(parseIsoTime(L"0001-01-01T00:00:00Z"), -62135596800LL * second);
    EXPECT_EQ(parseIsoTime(L"0000-01-01T00:00:00Z"), -62167219200LL * second);
    EXPECT_EQ(parseIsoTime(L"9999-12-31T23:59:59Z"), 253402300799LL * second);
    EXPECT_EQ(parseIsoTime(L"1969-12-31T23:59:59Z"), -second);
    EXPECT_EQ(parseIsoTime(L"2024-05-01T14:00:00+02:00"), parseIsoTime(L"2024-05-01T12:00:00Z"));
    EXPECT_EQ(parseIsoTime(L"2024-05-01T12:00:00+05:45") + 5 * hour + 45 * minute,
              parseIsoTime(L"2024-05-01T12:00:00Z"));
    EXPECT_EQ(parseIsoTime(L"2024-05-01T00:30:00+01:00"), parseIsoTime(L"2024-04-30T23:30:00Z"));
}

TEST(IsoTime, FieldRanges) {
    EXPECT_EQ(parseIsoTime(L"2024-00-10T00:00:00Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-13-10T00:00:00Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-01-00T00:00:00Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-01-32T00:00:00Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-01-10T24:00:00Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-01-10T00:60:00Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-01-10T00:00:61Z"), -1);
    EXPECT_EQ(parseIsoTime(L"2024-12-31T23:59:60Z"), parseIsoTime(L"2025-01-01T00:00:00Z"));  // leap second
    // The day is not checked against the month: 31 February counts on into March.
    EXPECT_EQ(parseIsoTime(L"2023-02-31T00:00:00Z"), 1677801600LL * second);
    EXPECT_EQ(parseIsoTime(L"1900-02-29T00:00:00Z"), parseIsoTime(L"1900-03-01T00:00:00Z"));
}

TEST(IsoTime, FractionOfASecond) {
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.1234567Z"), 1234567);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.123456789Z"), 1234567);  // digits past the seventh are skipped
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.0000001Z"), 1);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.05Z"), 500000);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T01:00:00.25+01:00"), 2500000);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.Z"), 0);  // a point without digits adds nothing
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00."), -1);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.5"), -1);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00.5xZ"), -1);
    EXPECT_EQ(parseIsoTime(L"1970-01-01T00:00:00,5Z"), -1);
}

TEST(IsoTime, ZoneMustEndTheText) {
    for (const wchar_t* text : {L"1970-01-01T00:00:00z", L"1970-01-01T00:00:00Z ", L"1970-01-01T00:00:00ZZ",
                                L"1970-01-01T00:00:00 Z", L"1970-01-01T00:00:00junkZ", L"1970-01-01T00:00:00+0100",
                                L"1970-01-01T00:00:00+01:00 ", L"1970-01-01T00:00:00+01:0", L"1970-01-01T00:00:00+1:00",
                                L"1970-01-01T00:00:00*01:00", L"1970-01-01T00:00:00+01-00", L"1970-01-01T00:00:00+a1:00",
                                L"1970-01-01T00:00:00Z+01:00", L"1970-01-01T00:00:00+01:00Z"})
        EXPECT_EQ(parseIsoTime(text), -1) << text;
}

TEST(IsoTime, SeparatorsAndDigits) {
    for (const wchar_t* text : {L"1970/01/01T00:00:00Z", L"1970-01-01 00:00:00Z", L"1970-01-01t00:00:00Z",
                                L"1970-01-01T00.00.00Z", L"197O-01-01T00:00:00Z", L"1970-1-01T00:00:00Z",
                                L"+970-01-01T00:00:00Z", L" 1970-01-01T00:00:00Z", L"\uFF11970-01-01T00:00:00Z"})
        EXPECT_EQ(parseIsoTime(text), -1) << text;
}

TEST(IsoTime, EveryShorterTextIsMalformed) {
    const std::wstring whole = L"2024-05-01T12:34:56.789+02:00";
    ASSERT_GT(parseIsoTime(whole), 0);
    for (size_t length = 0; length < whole.size(); ++length)
        EXPECT_EQ(parseIsoTime(whole.substr(0, length)), -1) << length;
}

TEST(IsoTime, FormatWritesUtcSeconds) {
    EXPECT_EQ(formatIsoTime(0), L"1970-01-01T00:00:00Z");
    EXPECT_EQ(formatIsoTime(1709210096LL * second + 9999999), L"2024-02-29T12:34:56Z");
    EXPECT_EQ(formatIsoTime(-1), L"1969-12-31T23:59:59Z");
    EXPECT_EQ(formatIsoTime(-62167219200LL * second), L"0000-01-01T00:00:00Z");
    EXPECT_EQ(formatIsoTime(253402300799LL * second), L"9999-12-31T23:59:59Z");
}

TEST(IsoTime, FormatAndParseAgree) {
    for (const wchar_t* text : {L"2000-02-29T23:59:59Z", L"2100-03-01T00:00:00Z", L"1999-12-31T00:00:01Z",
                                L"2024-05-01T12:00:00Z", L"1601-01-01T00:00:00Z"})
        EXPECT_EQ(formatIsoTime(parseIsoTime(text)), text);
    EXPECT_EQ(formatIsoTime(parseIsoTime(L"2024-05-01T14:00:00.75+02:00")), L"2024-05-01T12:00:00Z");
}
