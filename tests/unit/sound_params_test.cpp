// What a sound or music slot's Format and Prompt make of its sound parameters.
#include "themes/sound_params.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace vorlane {
namespace {

TEST(SoundParams, FormatTexts) {
    const struct {
        const wchar_t* format;
        int rate, channels;
        double shortest, longest;
    } cases[] = {
        {L"WAV, 44.1 kHz, mono, 0.5-1.5 s", 44100, 1, 0.5, 1.5},
        {L"under 2 s", 48000, 2, 0, 2},
        {L"2-3 min", 48000, 2, 120, 180},
        {L"about 2 s", 48000, 2, 0, 0},
        {L"WAV", 48000, 2, 0, 0},
        {L"", 48000, 2, 0, 0},
        {L" MONO ,\t22.05 KHZ\r\n, stereo", 22050, 2, 0, 0},
        {L"7 kHz, 96.5 kHz, 44.1khz, kHz", 48000, 2, 0, 0},
        {L"8 kHz, 8-12 s, 10 min", 8000, 2, 600, 600},
        {L"1-2 s, 11 min, 3-2 s, 0 s, 1 - 2 s", 48000, 2, 1, 2},  // the later ones say nothing usable
    };
    for (const auto& c : cases) {
        const AudioFormat format = ParseAudioFormat(c.format);
        EXPECT_EQ(format.rate, c.rate) << toUtf8(c.format);
        EXPECT_EQ(format.channels, c.channels) << toUtf8(c.format);
        EXPECT_DOUBLE_EQ(format.shortest, c.shortest) << toUtf8(c.format);
        EXPECT_DOUBLE_EQ(format.longest, c.longest) << toUtf8(c.format);
    }
}

TEST(SoundParams, MusicLoopingAndPlainSounds) {
    const struct {
        const wchar_t *kind, *format, *prompt;
        bool loops;
        int tempo;
        double length, overlap, loopGap, generate;
    } cases[] = {
        {L"Music", L"WAV, 48 kHz, stereo, 60-90 s", L"Calm harbour tune", false, 90, 61.333, 5.333, 0, 77.333},
        {L"Music", L"WAV", L"a tune", false, 110, 91.636, 4.364, 0, 104.727},
        {L"Music", L"10-20 s", L"EPIC but SLOW", false, 72, 26.667, 6.667, 0, 46.667},  // at least 8 bars
        {L"Music", L"", L"driving drums", false, 132, 90.909, 3.636, 0, 101.818},
        {L"Music", L"", L"a medium tempo march", false, 108, 91.111, 4.444, 0, 104.444},
        {L"Sound", L"1-2 s", L"wind", true, 0, 1.5, 0.5, 0.5, 3},
        {L"Sound", L"8-12 s", L"rain", true, 0, 10, 0.75, 0.5, 12},
        {L"Sound", L"WAV", L"hum", true, 0, 3, 0.75, 0.5, 5},
        {L"Sound", L"WAV, 44.1 kHz, mono, 0.5-1.5 s", L"a click", false, 0, 1.5, 0, 0, 2},
        {L"Sound", L"", L"a bell", false, 0, 2, 0, 0, 2},
        {L"music", L"", L"calm", false, 0, 2, 0, 0, 2},  // only "Music" is music
    };
    for (const auto& c : cases) {
        ThemeSlot slot;
        slot.Kind = c.kind;
        slot.Format = c.format;
        slot.Prompt = c.prompt;
        slot.Loops = c.loops;
        const SoundParams params = MakeSoundParams(slot);
        const bool music = std::wstring(c.kind) == L"Music";
        SCOPED_TRACE(toUtf8(std::wstring(c.kind) + L" " + c.format + L" " + c.prompt));
        EXPECT_EQ(params.isMusic, music);
        EXPECT_EQ(params.loops, music || c.loops);
        EXPECT_EQ(params.checkBrightness, !music);
        EXPECT_EQ(params.tempo, c.tempo);
        EXPECT_NEAR(params.length, c.length, 0.001);
        EXPECT_NEAR(params.overlap, c.overlap, 0.001);
        EXPECT_DOUBLE_EQ(params.loopGap, c.loopGap);
        EXPECT_NEAR(params.generateSeconds, c.generate, 0.001);
    }
}

}  // namespace
}  // namespace vorlane
