// The shared text helpers.
#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

using namespace vorlane;

TEST(TextHelpers, Utf8AndUtf16RoundTrip) {
    EXPECT_EQ(toUtf8(L""), "");
    EXPECT_EQ(toUtf16(""), L"");
    EXPECT_EQ(toUtf8(L"abc"), "abc");
    EXPECT_EQ(toUtf8(L"\u00e9\u20ac\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(toUtf16("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), L"\u00e9\u20ac\U0001F600");
    // Embedded NULs are part of the text, not its end.
    const std::wstring withNul(L"a\0b", 3);
    EXPECT_EQ(toUtf8(withNul), std::string("a\0b", 3));
    EXPECT_EQ(toUtf16(std::string("a\0b", 3)), withNul);
}

TEST(TextHelpers, InvalidSequencesBecomeTheReplacementCharacter) {
    EXPECT_EQ(toUtf16("a\xC3"), L"a\xFFFD");
    EXPECT_EQ(toUtf16("\xFF" "b"), L"\xFFFD" L"b");
    const std::wstring cut = toUtf16("\xE2\x82" "z");
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut.back(), L'z');
    EXPECT_EQ(cut.substr(0, cut.size() - 1).find_first_not_of(L'\xFFFD'), std::wstring::npos);
    // A lone surrogate can't be written as UTF-8.
    EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0xD83D))), "\xEF\xBF\xBD");
}

TEST(TextHelpers, TrimSpace) {
    EXPECT_EQ(trimSpace(L" \t\r\nab c\n\r\t "), L"ab c");
    EXPECT_EQ(trimSpace(L" \t\r\n"), L"");
    EXPECT_EQ(trimSpace(L""), L"");
    EXPECT_EQ(trimSpace(L"x"), L"x");
    EXPECT_EQ(trimSpace(L"\vx\f"), L"\vx\f");          // only the four characters are trimmed
    EXPECT_EQ(trimSpace(L"\u00a0x\u00a0"), L"\u00a0x\u00a0");
}

TEST(TextHelpers, TidySpaces) {
    EXPECT_EQ(TidySpaces(L"  a \t\r\n b\tc  "), L"a b c");
    EXPECT_EQ(TidySpaces(L"\r\n"), L"");
    EXPECT_EQ(TidySpaces(L"one"), L"one");
    EXPECT_EQ(TidySpaces(L"a\vb"), L"a\vb");
}

TEST(TextHelpers, ShortenTextNeverSplitsASurrogatePair) {
    EXPECT_EQ(ShortenText(L"abc", 3), L"abc");
    EXPECT_EQ(ShortenText(L"abcd", 3), L"abc...");
    EXPECT_EQ(ShortenText(L"", 0), L"");
    EXPECT_EQ(ShortenText(L"a", 0), L"...");
    const std::wstring smiles = L"ab\U0001F600\U0001F600";  // a, b, then two pairs: 6 units
    EXPECT_EQ(ShortenText(smiles, 6), smiles);
    EXPECT_EQ(ShortenText(smiles, 5), L"ab\U0001F600...");
    EXPECT_EQ(ShortenText(smiles, 4), L"ab\U0001F600...");
    EXPECT_EQ(ShortenText(smiles, 3), L"ab...");  // the third unit is a high surrogate
    EXPECT_EQ(ShortenText(L"\U0001F600x", 1), L"...");
}

TEST(TextHelpers, PercentEncode) {
    EXPECT_EQ(PercentEncode(L"AZaz09-._~"), L"AZaz09-._~");
    EXPECT_EQ(PercentEncode(L"a b/c?d&e=f+g%"), L"a%20b%2Fc%3Fd%26e%3Df%2Bg%25");
    EXPECT_EQ(PercentEncode(L"caf\u00e9"), L"caf%C3%A9");
    EXPECT_EQ(PercentEncode(L"\U0001F600"), L"%F0%9F%98%80");
    EXPECT_EQ(PercentEncode(std::wstring(1, L'\0')), L"%00");
    EXPECT_EQ(PercentEncode(L""), L"");
}

TEST(TextHelpers, JoinPathPutsOneBackslashBetween) {
    EXPECT_EQ(joinPath(L"C:\\Games", L"Vorlane"), L"C:\\Games\\Vorlane");
    EXPECT_EQ(joinPath(L"C:\\", L"Vorlane"), L"C:\\Vorlane");
    EXPECT_EQ(joinPath(L"", L"launcher.ini"), L"launcher.ini");
    EXPECT_EQ(joinPath(L"a", L""), L"a\\");
}

TEST(TextHelpers, CountedPutsTheNounInTheRightNumber) {
    const struct {
        size_t count;
        const wchar_t* said;
    } cases[] = {{0, L"0 files"}, {1, L"1 file"}, {2, L"2 files"}, {21, L"21 files"}};
    for (const auto& c : cases) EXPECT_EQ(counted(c.count, L"file", L"files"), c.said) << c.count;
}

TEST(TextHelpers, CaseInsensitiveComparison) {
    EXPECT_EQ(lowerCase(L"ABC\u00c9z"), L"abc\u00e9z");
    EXPECT_TRUE(equalsIgnoringCase(L"C:\\Games\\VORLANE.exe", L"c:\\games\\vorlane.EXE"));
    EXPECT_TRUE(equalsIgnoringCase(L"\u00c9T\u00c9", L"\u00e9t\u00e9"));
    EXPECT_FALSE(equalsIgnoringCase(L"abc", L"abcd"));
    EXPECT_FALSE(equalsIgnoringCase(L"abc", L"abd"));
    EXPECT_TRUE(equalsIgnoringCase(L"", L""));
}

TEST(TextHelpers, ParseSigned64) {
    long long value = 0;
    EXPECT_TRUE(parseSigned64(L"0", value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(parseSigned64(L"-42", value));
    EXPECT_EQ(value, -42);
    EXPECT_TRUE(parseSigned64(L"+7", value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(parseSigned64(L"9223372036854775807", value));
    EXPECT_EQ(value, 9223372036854775807LL);
    EXPECT_TRUE(parseSigned64(L"-9223372036854775808", value));
    EXPECT_EQ(value, -9223372036854775807LL - 1);
    EXPECT_TRUE(parseSigned64(L"000000000000000000000012", value));
    EXPECT_EQ(value, 12);

    value = 5;
    for (const wchar_t* text : {L"", L"-", L"+", L"9223372036854775808", L"-9223372036854775809",
                                L"99999999999999999999", L"12a", L" 12", L"12 ", L"1.5", L"--1", L"0x10",
                                L"\uFF11"}) {
        EXPECT_FALSE(parseSigned64(text, value)) << text;
        EXPECT_EQ(value, 5) << text;  // left as it was
    }
}
