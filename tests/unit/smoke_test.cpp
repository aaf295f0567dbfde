#include <gtest/gtest.h>
#include "core/text.h"
TEST(Smoke, Utf8) { EXPECT_EQ(vorlane::toUtf8(L"\u00e9"), "\xC3\xA9"); }
