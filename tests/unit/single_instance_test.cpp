// The instance key: one key per root folder, whatever its spelling.
#include <gtest/gtest.h>

#include <thread>

#include "core/single_instance.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

TEST(InstanceKey, CanonicalRootIsFullLowerCaseAndWithoutTrailingSlashes) {
    EXPECT_EQ(canonicalRoot(L"C:\\Games\\Vorlane\\"), L"c:\\games\\vorlane");
    EXPECT_EQ(canonicalRoot(L"C:/Games/Vorlane//"), L"c:\\games\\vorlane");
    EXPECT_EQ(canonicalRoot(L"C:\\Games\\..\\Vorlane"), L"c:\\vorlane");
    // A drive's root keeps its backslash: the text is only three characters.
    EXPECT_EQ(canonicalRoot(L"C:\\"), L"c:\\");
}

TEST(InstanceKey, HashIsFnv1aOverSixteenBitUnits) {
    EXPECT_EQ(instanceHash(L"C:\\"), 486018028u);
    // A unit above 0xFF is taken whole, not byte by byte.
    EXPECT_EQ(instanceHash(L"C:\\\u4e2d"), 1540738771u);
}

TEST(InstanceKey, SpellingsOfOneFolderShareAKey) {
    TempFolder temp;
    std::wstring root = temp.file(L"Vorlane Root");
    std::wstring upper = root;
    for (wchar_t& c : upper) c = towupper(c);
    EXPECT_EQ(instanceHash(root), instanceHash(upper + L"\\"));
    EXPECT_NE(instanceHash(root), instanceHash(temp.file(L"Another Root")));
    EXPECT_EQ(instanceMutexName(123), L"Local\\VorlaneLauncher-123");
}

TEST(InstanceKey, OnlyOneHolderAtATime) {
    TempFolder temp;
    unsigned hash = instanceHash(temp.path());
    // A mutex belongs to a thread, so the second launcher is played by another thread.
    auto tryOnOtherThread = [hash] {
        bool taken = false;
        std::thread([&] {
            SingleInstance second;
            taken = second.acquire(hash, 0);
        }).join();
        return taken;
    };
    SingleInstance first;
    ASSERT_TRUE(first.acquire(hash, 0));
    EXPECT_FALSE(tryOnOtherThread());
    first.release();
    EXPECT_TRUE(tryOnOtherThread());
}
