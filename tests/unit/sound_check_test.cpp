// The sound check over a theme's sound folder: which files it reads, what it
// reports and in which order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "support/temp_folder.h"
#include "support/test_sounds.h"
#include "themes/sound_check.h"
#include "media/wav_file.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kRule = L"(centred above 5 kHz, or over 60% of it above 4 kHz)";

struct Report {
    std::vector<std::wstring> lines;
    bool read = false;
};

Report Check(const std::wstring& themeFolder) {
    Report report;
    report.read = SoundCheck(themeFolder, [&](const std::wstring& line) { report.lines.push_back(line); });
    return report;
}

// A copy of one of the files that sox and flac made for the run.
void CopySoundFile(const TempFolder& temp, const std::wstring& from, const std::wstring& to) {
    const std::string bytes = readWholeFile(joinPath(soundFilesFolder(), from));
    ASSERT_FALSE(bytes.empty()) << toUtf8(from) << " comes from the sound_files fixture";
    temp.writeFile(to, bytes);
}

}  // namespace

TEST(SoundCheck, AnEmptyOrMissingFolderReadsNothing) {
    TempFolder temp;
    Report missing = Check(temp.path());
    EXPECT_FALSE(missing.read);
    ASSERT_EQ(missing.lines.size(), 1u);
    // With no Audio\SFX the check looks in Import\Audio\SFX.
    EXPECT_EQ(missing.lines[0], L"Sound check of " + temp.path() + L"\\Import\\Audio\\SFX: 0 of 0 sound(s) too bright " +
                                    kRule + L".");

    ASSERT_TRUE(makeFolderTree(temp.file(L"Audio\\SFX")));
    Report empty = Check(temp.path());
    EXPECT_FALSE(empty.read);
    ASSERT_EQ(empty.lines.size(), 1u);
    EXPECT_EQ(empty.lines[0], L"Sound check of " + temp.path() + L"\\Audio\\SFX: 0 of 0 sound(s) too bright " + kRule + L".");
}

TEST(SoundCheck, AnImportedThemeIsCheckedInItsImportFolder) {
    TempFolder temp;
    ASSERT_TRUE(makeFolderTree(temp.file(L"Import\\Audio\\SFX\\UI")));
    temp.writeFile(L"Import\\Audio\\SFX\\UI\\Click.wav", WriteWav(Sine(44100, 1, 0.2, 800, 0.5)));
    temp.writeFile(L"Import\\Audio\\SFX\\readme.txt", "not a sound, and not looked at");
    Report report = Check(temp.path());
    EXPECT_TRUE(report.read);
    ASSERT_EQ(report.lines.size(), 1u);
    EXPECT_EQ(report.lines[0],
              L"Sound check of " + temp.path() + L"\\Import\\Audio\\SFX: 0 of 1 sound(s) too bright " + kRule + L".");
}

TEST(SoundCheck, TheBrightestComeFirst) {
    TempFolder temp;
    ASSERT_TRUE(makeFolderTree(temp.file(L"Audio\\SFX")));
    // Written in the opposite order to the one they are listed in.
    temp.writeFile(L"Audio\\SFX\\a-mild.wav", WriteWav(Sine(48000, 1, 0.5, 6000, 0.3)));
    temp.writeFile(L"Audio\\SFX\\b-harsh.wav", WriteWav(Sine(48000, 1, 0.5, 10000, 0.3)));
    temp.writeFile(L"Audio\\SFX\\c-sharp.wav", WriteWav(Sine(48000, 1, 0.5, 8000, 0.3)));
    temp.writeFile(L"Audio\\SFX\\d-low.wav", WriteWav(Sine(48000, 2, 0.5, 200, 0.3)));
    Report report = Check(temp.path());
    EXPECT_TRUE(report.read);
    ASSERT_EQ(report.lines.size(), 4u);
    EXPECT_EQ(report.lines[0], L"Sound check of " + temp.path() + L"\\Audio\\SFX: 3 of 4 sound(s) too bright " + kRule +
                                   L", brightest first:");
    EXPECT_EQ(report.lines[1], L"  b-harsh.wav: centred on 10.0 kHz, 100% of it above 4 kHz.");
    EXPECT_EQ(report.lines[2], L"  c-sharp.wav: centred on 8.0 kHz, 100% of it above 4 kHz.");
    EXPECT_EQ(report.lines[3], L"  a-mild.wav: centred on 6.0 kHz, 100% of it above 4 kHz.");
}

TEST(RealSoundCheck, ReadsWhatTheEncodersWroteAndNamesWhatItCannotRead) {
    TempFolder temp;
    ASSERT_TRUE(makeFolderTree(temp.file(L"Audio\\SFX\\Loops")));
    CopySoundFile(temp, L"dull.wav", L"Audio\\SFX\\dull.wav");
    CopySoundFile(temp, L"hiss.wav", L"Audio\\SFX\\Hiss.WAV");
    CopySoundFile(temp, L"whistle.wav", L"Audio\\SFX\\Loops\\whistle.wav");
    CopySoundFile(temp, L"old-8bit.wav", L"Audio\\SFX\\old-8bit.wav");
    CopySoundFile(temp, L"chime.flac", L"Audio\\SFX\\chime.wav");  // a FLAC under a WAV's name
    CopySoundFile(temp, L"chime.flac", L"Audio\\SFX\\chime.flac");  // not a ".wav": left alone

    Report report = Check(temp.path());
    EXPECT_TRUE(report.read);
    ASSERT_EQ(report.lines.size(), 5u);
    // The unreadable files come first, in the order the folder lists them.
    std::vector<std::wstring> unreadable(report.lines.begin(), report.lines.begin() + 2);
    std::sort(unreadable.begin(), unreadable.end());
    EXPECT_EQ(unreadable[0], L"  chime.wav isn't a WAV it can read (16-, 24- or 32-bit PCM, or 32-bit float).");
    EXPECT_EQ(unreadable[1], L"  old-8bit.wav isn't a WAV it can read (16-, 24- or 32-bit PCM, or 32-bit float).");
    EXPECT_EQ(report.lines[2], L"Sound check of " + temp.path() + L"\\Audio\\SFX: 2 of 3 sound(s) too bright " + kRule +
                                   L", brightest first:");
    EXPECT_EQ(report.lines[3], L"  Hiss.WAV: centred on 12.1 kHz, 83% of it above 4 kHz.");
    EXPECT_EQ(report.lines[4], L"  Loops\\whistle.wav: centred on 9.0 kHz, 100% of it above 4 kHz.");
}
