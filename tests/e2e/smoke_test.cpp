#include <gtest/gtest.h>
TEST(E2eSmoke, Runs) { SUCCEED(); }
