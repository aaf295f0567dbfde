// Base64 as signature files use it: lenient about white space and padding,
// strict about everything else.
#include <gtest/gtest.h>

#include <string>

#include "net/base64.h"

namespace vorlane {
namespace {

TEST(Base64, EncodesTheStandardVectorsWithPadding) {
    EXPECT_EQ(encodeBase64(""), "");
    EXPECT_EQ(encodeBase64("f"), "Zg==");
    EXPECT_EQ(encodeBase64("fo"), "Zm8=");
    EXPECT_EQ(encodeBase64("foo"), "Zm9v");
    EXPECT_EQ(encodeBase64("foob"), "Zm9vYg==");
    EXPECT_EQ(encodeBase64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encodeBase64(std::string("\xFB\xFF\xBF", 3)), "+/+/");
    EXPECT_EQ(encodeBase64(std::string(64, '\0')).size(), 88u);
}

TEST(Base64, DecodesWhatItEncodes) {
    std::string every;
    for (int i = 0; i < 256; ++i) every += char(i);
    for (size_t length = 0; length <= every.size(); length += 37)
        EXPECT_EQ(decodeBase64(encodeBase64(every.substr(0, length))), every.substr(0, length)) << length;
    EXPECT_EQ(decodeBase64(encodeBase64(every)), every);
}

TEST(Base64, SkipsWhiteSpaceAnywhereAndAcceptsMissingPadding) {
    EXPECT_EQ(decodeBase64(" Zm9v\tYmE=\r\n"), "fooba");
    EXPECT_EQ(decodeBase64("Z\nm\r9\vv\fY g"), "foob");
    EXPECT_EQ(decodeBase64("Zm9vYg= = \n="), "foob");
    EXPECT_EQ(decodeBase64("Zm9vYmE"), "fooba");
    EXPECT_EQ(decodeBase64("Zm9vYg"), "foob");
    EXPECT_EQ(decodeBase64("Zm9vY"), "foo") << "leftover bits are dropped";
    EXPECT_EQ(decodeBase64("Zm8=="), "fo") << "extra padding is harmless";
}

TEST(Base64, AnyOtherByteFailsTheWholeText) {
    EXPECT_EQ(decodeBase64("Zm9v*YmFy"), "");
    EXPECT_EQ(decodeBase64("Zm9vYmFy*"), "");
    EXPECT_EQ(decodeBase64("Zm9v-_"), "") << "the URL-safe alphabet isn't Base64 here";
    EXPECT_EQ(decodeBase64("Zm9v\xC3\xA9"), "");
    EXPECT_EQ(decodeBase64(std::string("Zm9v\0", 5)), "");
    EXPECT_EQ(decodeBase64("Zg==Zm8="), "") << "nothing but padding and white space after the first =";
    EXPECT_EQ(decodeBase64("Zm9=v"), "");
    EXPECT_EQ(decodeBase64("="), "");
    EXPECT_EQ(decodeBase64(""), "");
}

}  // namespace
}  // namespace vorlane
