// The shared file helpers, on real files in a temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/files.h"
#include "core/text.h"
#include "support/temp_folder.h"

using namespace vorlane;
using vorlane::testing::readTestFile;
using vorlane::testing::TempFolder;

namespace {

// Bytes that differ from one block to the next, so a lost or repeated block shows.
std::string patterned(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = (char)((i * 7 + i / 65536) & 0xFF);
    return bytes;
}

// The names in a folder other than "." and "..".
std::vector<std::wstring> namesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(longPath(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

}  // namespace

// ---- Path forms ----

TEST(FileHelpers, LongPathForms) {
    EXPECT_EQ(longPath(L""), L"");
    EXPECT_EQ(longPath(L"C:"), L"C:");
    EXPECT_EQ(longPath(L"a/"), L"a/");  // two characters or fewer stay as they are
    EXPECT_EQ(longPath(L"C:\\Games\\Vorlane"), L"\\\\?\\C:\\Games\\Vorlane");
    EXPECT_EQ(longPath(L"C:/Games/Vorlane"), L"\\\\?\\C:\\Games\\Vorlane");
    EXPECT_EQ(longPath(L"C:\\"), L"\\\\?\\C:\\");
    EXPECT_EQ(longPath(L"\\\\server\\share\\file"), L"\\\\?\\UNC\\server\\share\\file");
    EXPECT_EQ(longPath(L"//server/share/file"), L"\\\\?\\UNC\\server\\share\\file");
    EXPECT_EQ(longPath(L"\\\\?\\C:\\a/b"), L"\\\\?\\C:\\a/b");  // already in long form: unchanged
    EXPECT_EQ(longPath(L"\\\\?\\UNC\\server\\share"), L"\\\\?\\UNC\\server\\share");
    EXPECT_EQ(longPath(L"Game/Vorlane-abc1234"), L"Game\\Vorlane-abc1234");
    EXPECT_EQ(longPath(L"..\\x"), L"..\\x");
    EXPECT_EQ(longPath(L"\\root/file"), L"\\root\\file");
}

TEST(FileHelpers, ParentFolderAndFileName) {
    EXPECT_EQ(parentFolder(L"C:\\a\\b.txt"), L"C:\\a");
    EXPECT_EQ(fileNameOf(L"C:\\a\\b.txt"), L"b.txt");
    EXPECT_EQ(parentFolder(L"a/b"), L"a");
    EXPECT_EQ(fileNameOf(L"a/b"), L"b");
    EXPECT_EQ(parentFolder(L"b.txt"), L"");
    EXPECT_EQ(fileNameOf(L"b.txt"), L"b.txt");
    EXPECT_EQ(parentFolder(L"C:\\a\\"), L"C:\\a");
    EXPECT_EQ(fileNameOf(L"C:\\a\\"), L"");
}

// ---- Reading ----

TEST(FileHelpers, ReadWholeFileOfMissingEmptyAndFolder) {
    TempFolder temp;
    EXPECT_EQ(readWholeFile(temp.file(L"missing.json")), "");
    EXPECT_EQ(readWholeFile(temp.writeFile(L"empty.json", "")), "");
    EXPECT_EQ(readWholeFile(temp.path()), "");
}

TEST(FileHelpers, ReadWholeFileReadsEveryBlock) {
    TempFolder temp;
    for (size_t size : {size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(200000)}) {
        const std::string bytes = patterned(size);
        const std::wstring path = temp.writeFile(L"data-" + std::to_wstring(size) + L".bin", bytes);
        EXPECT_EQ(readWholeFile(path), bytes) << size;
    }
}

TEST(FileHelpers, ReadWholeFileWhileAnotherReaderHasItOpen) {
    TempFolder temp;
    const std::wstring path = temp.writeFile(L"list.json", "[1]");
    HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readWholeFile(path), "[1]");
    CloseHandle(other);
}

// ---- Atomic writes ----

TEST(FileHelpers, WriteFileAtomicallyCreatesAndReplaces) {
    TempFolder temp;
    const std::wstring path = temp.file(L"launcher.json");
    ASSERT_TRUE(writeFileAtomically(path, "a much longer first version of the file"));
    EXPECT_EQ(readTestFile(path), "a much longer first version of the file");

    ASSERT_TRUE(writeFileAtomically(path, "short"));
    EXPECT_EQ(readTestFile(path), "short");  // nothing of the longer old contents remains

    ASSERT_TRUE(writeFileAtomically(path, ""));
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(readTestFile(path), "");
    EXPECT_EQ(namesIn(temp.path()), std::vector<std::wstring>{L"launcher.json"});
}

TEST(FileHelpers, WriteFileAtomicallyWritesLargeFilesWhole) {
    TempFolder temp;
    const std::string bytes = patterned(3 * 1048576 + 12345);
    const std::wstring path = temp.file(L"big.bin");
    ASSERT_TRUE(writeFileAtomically(path, bytes));
    EXPECT_EQ(readWholeFile(path), bytes);
    EXPECT_FALSE(fileExists(path + L".part"));
}

TEST(FileHelpers, WriteFileAtomicallyReplacesAStalePartFile) {
    TempFolder temp;
    const std::wstring path = temp.file(L"theme.json");
    temp.writeFile(L"theme.json.part", "left over from a crash, and longer than the new contents");
    ASSERT_TRUE(writeFileAtomically(path, "{}"));
    EXPECT_EQ(readTestFile(path), "{}");
    EXPECT_FALSE(fileExists(path + L".part"));
}

TEST(FileHelpers, WriteFileAtomicallyFailsCleanly) {
    TempFolder temp;
    // The target is a folder: the move fails and the temporary file goes.
    const std::wstring folder = temp.makeFolder(L"taken");
    EXPECT_FALSE(writeFileAtomically(folder, "data"));
    EXPECT_TRUE(folderExists(folder));
    EXPECT_FALSE(fileExists(folder + L".part"));

    // The parent folder is missing: nothing can be created and nothing is left.
    const std::wstring orphan = temp.file(L"missing\\file.json");
    EXPECT_FALSE(writeFileAtomically(orphan, "data"));
    EXPECT_FALSE(fileExists(orphan));
    EXPECT_FALSE(folderExists(temp.file(L"missing")));

    EXPECT_EQ(namesIn(temp.path()), std::vector<std::wstring>{L"taken"});
}

TEST(FileHelpers, WriteFileAtomicallyKeepsTheOldFileWhenTheMoveFails) {
    TempFolder temp;
    const std::wstring path = temp.writeFile(L"settings.json", "old");
    // Held open without delete sharing, the file can't be replaced.
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const bool written = writeFileAtomically(path, "new");
    CloseHandle(holder);
    EXPECT_FALSE(written);
    EXPECT_EQ(readTestFile(path), "old");
    EXPECT_FALSE(fileExists(path + L".part"));
}

TEST(FileHelpers, WriteFileAtomicallyInBlocks) {
    TempFolder temp;
    const std::wstring path = temp.writeFile(L"music.wav", "old");
    const std::string first = patterned(1048576 + 3), second = patterned(5);
    ASSERT_TRUE(writeFileAtomically(path, [&](const FileBlockSink& write) {
        return write(reinterpret_cast<const unsigned char*>(first.data()), first.size()) &&
               write(reinterpret_cast<const unsigned char*>(second.data()), second.size());
    }));
    EXPECT_EQ(readWholeFile(path), first + second);

    // A source that gives up halfway leaves the old file and no part file.
    EXPECT_FALSE(writeFileAtomically(path, [&](const FileBlockSink& write) {
        return write(reinterpret_cast<const unsigned char*>(second.data()), second.size()) && false;
    }));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANCELLED);
    EXPECT_EQ(readWholeFile(path), first + second);
    EXPECT_EQ(namesIn(temp.path()), std::vector<std::wstring>{L"music.wav"});
}

// ---- Paths beyond the classic length limit ----

TEST(FileHelpers, PathsLongerThanTheClassicLimit) {
    TempFolder temp;
    std::wstring folder = temp.path();
    while (folder.size() < 400) folder += L"\\" + std::wstring(60, L'd');
    ASSERT_TRUE(makeFolderTree(folder));
    EXPECT_TRUE(folderExists(folder));

    const std::wstring path = folder + L"/" + L"deep.json";  // a forward slash is turned too
    ASSERT_TRUE(writeFileAtomically(path, "{\"deep\":true}"));
    EXPECT_TRUE(fileExists(path));
    EXPECT_FALSE(fileExists(path + L".part"));
    EXPECT_EQ(readWholeFile(path), "{\"deep\":true}");
}

// ---- Existence and folder trees ----

TEST(FileHelpers, FileAndFolderExistence) {
    TempFolder temp;
    const std::wstring file = temp.writeFile(L"a.txt", "x");
    EXPECT_TRUE(fileExists(file));
    EXPECT_FALSE(folderExists(file));
    EXPECT_TRUE(folderExists(temp.path()));
    EXPECT_FALSE(fileExists(temp.path()));
    EXPECT_FALSE(fileExists(temp.file(L"none")));
    EXPECT_FALSE(folderExists(temp.file(L"none")));
}

TEST(FileHelpers, MakeFolderTree) {
    TempFolder temp;
    const std::wstring deep = temp.file(L"a\\b/c\\d");
    EXPECT_TRUE(makeFolderTree(deep));
    EXPECT_TRUE(folderExists(temp.file(L"a\\b")));
    EXPECT_TRUE(folderExists(deep));
    EXPECT_TRUE(makeFolderTree(deep));  // already there
    EXPECT_FALSE(makeFolderTree(L""));

    const std::wstring file = temp.writeFile(L"file", "x");
    // A failure keeps the reason of the first folder that couldn't be made.
    for (const std::wstring& folder : {file, file + L"\\below", file + L"\\below\\deeper"}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(makeFolderTree(folder)) << toUtf8(folder);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << toUtf8(folder);
    }
}

// ---- The temporary folder of the tests ----

TEST(TempFolder, RemovesItsWholeTree) {
    std::wstring kept;
    {
        TempFolder temp;
        kept = temp.path();
        ASSERT_TRUE(folderExists(kept));
        temp.makeFolder(L"sub");
        temp.writeFile(L"sub\\a.txt", "a");
        const std::wstring locked = temp.writeFile(L"sub\\read-only.txt", "b");
        SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(temp.file(L"x.txt"), kept + L"\\x.txt");
    }
    EXPECT_FALSE(folderExists(kept));
}

TEST(TempFolder, EachFolderIsNew) {
    TempFolder first, second;
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(namesIn(first.path()).empty());
}
