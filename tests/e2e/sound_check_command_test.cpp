// The sound-check command run for real on a theme folder: the report in
// launcher.log line by line, and the exit codes.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"
#include "support/test_sounds.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kCannotRead = L" isn't a WAV it can read (16-, 24- or 32-bit PCM, or 32-bit float).";
const std::wstring kRule = L"(centred above 5 kHz, or over 60% of it above 4 kHz)";

class RealSoundCheckCommand : public ::testing::Test {
protected:
    TempFolder temp;
    std::wstring root = temp.file(L"Root");
    std::wstring theme = temp.file(L"Frost Theme");
    std::wstring sounds = joinPath(theme, L"Audio\\SFX");

    void SetUp() override { ASSERT_TRUE(makeFolderTree(sounds)); }

    void copySoundFile(const std::wstring& from, const std::wstring& to) {
        const std::string bytes = readWholeFile(joinPath(soundFilesFolder(), from));
        ASSERT_FALSE(bytes.empty()) << toUtf8(from) << " comes from the sound_files fixture";
        temp.writeFile(joinPath(L"Frost Theme\\Audio\\SFX", to), bytes);
    }

    DWORD run(std::vector<std::wstring> arguments) {
        std::vector<std::wstring> all = {L"--root", root, L"--server", unusedLocalServer(), L"--auto", L"sound-check"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return runToEnd(developerLauncher(), all);
    }

    // The log from the first line the sound check wrote (its file lines come first) to the end.
    std::vector<std::wstring> reportLines(size_t count) {
        std::vector<std::wstring> lines = logMessages(root);
        if (lines.size() < count) return lines;
        return std::vector<std::wstring>(lines.end() - count, lines.end());
    }
};

}  // namespace

TEST_F(RealSoundCheckCommand, ReportsTheBrightSoundAndTheFileItCannotRead) {
    copySoundFile(L"dull.wav", L"Wind.wav");
    copySoundFile(L"hiss.wav", L"Steam.wav");
    temp.writeFile(L"Frost Theme\\Audio\\SFX\\Notes.wav", "Remember to make the steam sound softer.\r\n");

    EXPECT_EQ(run({L"--theme-folder", theme}), 0u);
    const std::vector<std::wstring> lines = reportLines(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"  Notes.wav" + kCannotRead);
    EXPECT_EQ(lines[1], L"Sound check of " + sounds + L": 1 of 2 sound(s) too bright " + kRule + L", brightest first:");
    EXPECT_EQ(lines[2], L"  Steam.wav: centred on 12.1 kHz, 83% of it above 4 kHz.");
    EXPECT_EQ(lines[3], L"Done (sound-check, exit 0, installed: nothing).");
}

TEST_F(RealSoundCheckCommand, OnlyDullSoundsEndTheSummaryWithAFullStop) {
    copySoundFile(L"dull.wav", L"Wind.wav");
    EXPECT_EQ(run({L"--theme-folder", theme}), 0u);
    const std::vector<std::wstring> lines = reportLines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"Sound check of " + sounds + L": 0 of 1 sound(s) too bright " + kRule + L".");
    EXPECT_EQ(lines[1], L"Done (sound-check, exit 0, installed: nothing).");
}

TEST_F(RealSoundCheckCommand, NoWavReadIsExitOne) {
    copySoundFile(L"old-8bit.wav", L"Old.wav");
    EXPECT_EQ(run({L"--theme-folder", theme}), 1u);
    const std::vector<std::wstring> lines = reportLines(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"  Old.wav" + kCannotRead);
    EXPECT_EQ(lines[1], L"Sound check of " + sounds + L": 0 of 0 sound(s) too bright " + kRule + L".");
    EXPECT_EQ(lines[2], L"Done (sound-check, exit 1, installed: nothing).");
}

TEST_F(RealSoundCheckCommand, NoFolderIsExitOneAndNoReport) {
    EXPECT_EQ(run({}), 1u);
    const std::vector<std::wstring> lines = logMessages(root);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Done (sound-check, exit 1, installed: nothing).");
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                             [](const std::wstring& line) { return line.rfind(L"Sound check of ", 0) == 0; }));
}
