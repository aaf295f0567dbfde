// The launcher's command mode, run for real: exit codes and launcher.log line by line.
#include <gtest/gtest.h>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kDeveloperLine =
    L"This launcher has no release key built in (a developer's build), so it doesn't check the build server's "
    L"signatures.";

class CommandLine : public ::testing::Test {
protected:
    TempFolder temp;
    std::wstring root = temp.file(L"Root");
    std::wstring server = unusedLocalServer();

    DWORD run(const std::wstring& launcher, std::vector<std::wstring> arguments) {
        return runToEnd(launcher, arguments);
    }
    std::vector<std::wstring> log() { return logMessages(root); }
};

// The first line names the version; the rest of the test doesn't care which.
bool isStartLine(const std::wstring& line, const std::wstring& installed) {
    const std::wstring end = L" (installed: " + installed + L").";
    return line.rfind(L"Started launcher ", 0) == 0 && line.size() > end.size() &&
           line.compare(line.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TEST_F(CommandLine, UnknownCommandIsRefusedWithExitOne) {
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"frobnicate"}), 1u);
    auto lines = log();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_TRUE(isStartLine(lines[0], L"nothing")) << toUtf8(lines[0]);
    EXPECT_EQ(lines[1], kDeveloperLine);
    EXPECT_EQ(lines[lines.size() - 2], L"There's no --auto frobnicate.");
    EXPECT_EQ(lines.back(), L"Done (frobnicate, exit 1, installed: nothing).");
}

TEST_F(CommandLine, CommandNamesAreMatchedExactly) {
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"Install"}), 1u);
    auto lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"There's no --auto Install.");
}

TEST_F(CommandLine, ALauncherWithAReleaseKeyDoesNotCallItselfADevelopersBuild) {
    EXPECT_EQ(run(testKeyLauncher(), {L"--root", root, L"--server", server, L"--auto", L"nothing-here"}), 1u);
    for (const std::wstring& line : log()) EXPECT_NE(line, kDeveloperLine);
}

TEST_F(CommandLine, AnOptionWithoutAValueIsPassedOver) {
    // The last --root has nothing after it, so the first one stands.
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"nope", L"--root"}), 1u);
    auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Done (nope, exit 1, installed: nothing).");
}

TEST_F(CommandLine, ARepeatedOptionTakesItsLastValueAndBadPeriodsAreIgnored) {
    std::wstring other = temp.file(L"Other");
    EXPECT_EQ(run(developerLauncher(), {L"--server", server, L"--root", other, L"--root", root, L"--auto", L"x",
                                        L"--check-every", L"0", L"--check-every", L"86401"}),
              1u);
    EXPECT_FALSE(fileExists(joinPath(other, L"launcher.log")));
    auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Done (x, exit 1, installed: nothing).");
}

TEST_F(CommandLine, MissingGameFilesAreReportedAtStart) {
    ASSERT_TRUE(makeFolderTree(root));
    ASSERT_TRUE(writeFileAtomically(joinPath(root, L"launcher.ini"),
                                    "[Launcher]\r\nCurrent=abcdef1\r\nCurrentReleased=2026-01-02T03:04:05Z\r\n"));
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"none"}), 1u);
    auto lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"Build abcdef1's game files are missing: installing repairs it, keeping the saves.");
    EXPECT_TRUE(isStartLine(lines[1], L"abcdef1")) << toUtf8(lines[1]);
    EXPECT_EQ(lines.back(), L"Done (none, exit 1, installed: abcdef1).");
}

TEST_F(CommandLine, PresentGameFilesAreNotReported) {
    ASSERT_TRUE(makeFolderTree(joinPath(root, L"Game\\abcdef1\\Vorlane-abcdef1")));
    ASSERT_TRUE(writeFileAtomically(joinPath(root, L"Game\\abcdef1\\Vorlane-abcdef1\\Vorlane.exe"), "MZ"));
    ASSERT_TRUE(writeFileAtomically(joinPath(root, L"launcher.ini"), "[Launcher]\r\nCurrent=abcdef1\r\n"));
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"none"}), 1u);
    auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(isStartLine(lines[0], L"abcdef1")) << toUtf8(lines[0]);
}

TEST_F(CommandLine, TheLogIsAppendedAcrossRunsWithOneByteOrderMark) {
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"first"}), 1u);
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"second"}), 1u);
    std::string bytes = readWholeFile(joinPath(root, L"launcher.log"));
    ASSERT_EQ(bytes.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_EQ(bytes.find("\xEF\xBB\xBF", 3), std::string::npos);

    auto lines = log();
    std::vector<std::wstring> done;
    for (const std::wstring& line : lines)
        if (line.rfind(L"Done (", 0) == 0) done.push_back(line);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0], L"Done (first, exit 1, installed: nothing).");
    EXPECT_EQ(done[1], L"Done (second, exit 1, installed: nothing).");
    // Every line carries its time stamp.
    std::string text = bytes.substr(3);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "the last line has no line end";
        std::string line = text.substr(start, end - start);
        ASSERT_GE(line.size(), 11u);
        EXPECT_TRUE(line[0] == '[' && line[3] == ':' && line[6] == ':' && line[9] == ']' && line[10] == ' ') << line;
        start = end + 2;
    }
}

TEST_F(CommandLine, UnicodeArgumentsReachTheLogAsUtf8) {
    EXPECT_EQ(run(developerLauncher(), {L"--root", root, L"--server", server, L"--auto", L"caf\u00e9 \u2603"}), 1u);
    std::string bytes = readWholeFile(joinPath(root, L"launcher.log"));
    EXPECT_NE(bytes.find("There's no --auto caf\xC3\xA9 \xE2\x98\x83."), std::string::npos);
}
