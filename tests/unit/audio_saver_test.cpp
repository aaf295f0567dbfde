// The audio saver: loops that go quiet too early, one-shot sounds, loudness,
// the brightness step and the WAV file it leaves, with its sentences.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>

#include "core/files.h"
#include "core/text.h"
#include "support/temp_folder.h"
#include "support/test_sounds.h"
#include "media/audio_conversion.h"
#include "media/audio_levels.h"
#include "themes/audio_saver.h"
#include "media/brightness.h"
#include "media/wav_file.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// Music at 120 beats per minute (a bar is 2 s) asking for 16 bars laid 4 s over their start.
SoundParams Music120() {
    SoundParams params;
    params.channels = 2;
    params.rate = 48000;
    params.isMusic = true;
    params.loops = true;
    params.tempo = 120;
    params.length = 32;
    params.overlap = 4;
    return params;
}

SoundParams LoopingSound() {
    SoundParams params;
    params.loops = true;
    params.checkBrightness = true;
    params.length = 1.5;
    params.overlap = 0.5;
    params.loopGap = 0.5;
    params.shortest = 1;
    return params;
}

SoundParams OneShotSound(double length) {
    SoundParams params;
    params.checkBrightness = true;
    params.length = length;
    return params;
}

// Chords that play from `from` to `to` seconds, silence around them.
AudioBuffer Chords(int rate, double seconds, double from, double to) {
    AudioBuffer sound = Sine(rate, 2, seconds, 0, 0);
    for (size_t f = size_t(from * rate); f < size_t(to * rate); ++f) {
        const double t = double(f) / rate;
        sound.samples[2 * f] = float(0.2 * std::sin(2 * std::numbers::pi * 220 * t) + 0.1 * std::sin(2 * std::numbers::pi * 330 * t));
        sound.samples[2 * f + 1] = float(0.2 * std::sin(2 * std::numbers::pi * 277 * t));
    }
    return sound;
}

AudioBuffer ReadBack(const std::wstring& path) {
    AudioBuffer audio;
    EXPECT_TRUE(ReadWav(readWholeFile(path), audio)) << toUtf8(path);
    return audio;
}

class AudioSaver : public ::testing::Test {
protected:
    TempFolder temp;
    std::wstring output = temp.file(L"Theme\\Audio\\Music\\Loop.wav");
    AudioMemory memory;
    std::wstring note;
};

}  // namespace

TEST(PlanLoop, MusicThatGoesQuietEarlyAsksForAnotherSeed) {
    const LoopPlan plan = PlanLoop({0.4, 30}, Music120(), L"music_00001_.flac");
    EXPECT_EQ(plan.error,
              L"ComfyUI's music_00001_.flac plays for only 29.6 s, then goes quiet: too short for a loop of 32.0 s "
              L"with 4.0 s more laid over its start.");
    EXPECT_TRUE(plan.anotherSeed);
    EXPECT_TRUE(plan.note.empty());
}

TEST(PlanLoop, OnTheLastSeedTryMusicGetsAShorterLoopOfWholeBars) {
    SoundParams params = Music120();
    params.LastSeedTry = true;
    const LoopPlan plan = PlanLoop({0.4, 30}, params, L"music_00001_.flac");
    EXPECT_TRUE(plan.error.empty());
    EXPECT_FALSE(plan.anotherSeed);
    EXPECT_EQ(plan.note, L"It's 24.0 s, shorter than the 32.0 s asked for: it went quiet early each time.");
    EXPECT_DOUBLE_EQ(plan.length, 24);  // 25.6 s available: 12 whole bars
    EXPECT_DOUBLE_EQ(plan.lead, 0.4);
    EXPECT_DOUBLE_EQ(plan.overlap, 4);
}

TEST(PlanLoop, FewerThanEightBarsAreRefusedEvenOnTheLastTry) {
    SoundParams params = Music120();
    params.LastSeedTry = true;
    const LoopPlan plan = PlanLoop({0.4, 20}, params, L"m.flac");  // 15.6 s: 7 bars
    EXPECT_EQ(plan.error, L"ComfyUI's m.flac plays for only 19.6 s, then goes quiet: too short for a loop of 32.0 s "
                          L"with 4.0 s more laid over its start.");
    EXPECT_FALSE(plan.anotherSeed);
    // Exactly eight bars are enough: a hair under 16 s still counts as 8 bars.
    const LoopPlan eight = PlanLoop({0.0, 19.99999}, params, L"m.flac");
    EXPECT_TRUE(eight.error.empty());
    EXPECT_DOUBLE_EQ(eight.length, 16);
}

TEST(PlanLoop, MusicThatPlaysLongEnoughKeepsItsLength) {
    const LoopPlan plan = PlanLoop({0.4, 36.4}, Music120(), L"m.flac");
    EXPECT_TRUE(plan.error.empty());
    EXPECT_TRUE(plan.note.empty());
    EXPECT_DOUBLE_EQ(plan.length, 32);
}

TEST(PlanLoop, ALoopingSoundNeedsItsGapLengthAndOverlap) {
    // 1.5 s with 0.5 s overlap after a 0.5 s gap: it must play until 2.5 s.
    EXPECT_TRUE(PlanLoop({0.2, 2.5}, LoopingSound(), L"s.flac").error.empty());
    EXPECT_DOUBLE_EQ(PlanLoop({0.2, 2.5}, LoopingSound(), L"s.flac").lead, 0.5);
    const LoopPlan early = PlanLoop({0.2, 2.4}, LoopingSound(), L"s.flac");
    EXPECT_EQ(early.error, L"ComfyUI's s.flac plays for only 2.2 s, then goes quiet: too short for a loop of 1.5 s "
                           L"with 0.5 s more laid over its start.");
    EXPECT_TRUE(early.anotherSeed);
    // A later start moves the lead.
    EXPECT_DOUBLE_EQ(PlanLoop({0.7, 2.8}, LoopingSound(), L"s.flac").lead, 0.7);
}

TEST(PlanLoop, ALoopingSoundOnItsLastTryKeepsWhatItHasDownToItsShortest) {
    SoundParams params = LoopingSound();
    params.LastSeedTry = true;
    const LoopPlan shorter = PlanLoop({0.2, 2.4}, params, L"s.flac");
    EXPECT_TRUE(shorter.error.empty());
    EXPECT_EQ(shorter.note, L"It's 1.4 s, shorter than the 1.5 s asked for: it went quiet early each time.");
    EXPECT_NEAR(shorter.length, 1.4, 1e-9);
    const LoopPlan tooShort = PlanLoop({0.2, 1.9}, params, L"s.flac");  // 0.9 s left, under its shortest of 1 s
    EXPECT_FALSE(tooShort.error.empty());
    EXPECT_FALSE(tooShort.anotherSeed);
}

TEST_F(AudioSaver, MusicQuietAtThirtySecondsAsksForAnotherSeedAndWritesNothing) {
    AudioBuffer music = Chords(44100, 40, 1.0, 30.0);
    const AudioSaveResult result = SaveDecodedAudio(music, L"music_00001_.flac", output, Music120(), memory, note);
    EXPECT_EQ(result.error,
              L"ComfyUI's music_00001_.flac plays for only 29.0 s, then goes quiet: too short for a loop of 32.0 s "
              L"with 4.0 s more laid over its start.");
    EXPECT_TRUE(result.anotherSeed);
    EXPECT_FALSE(result.tooBright);
    EXPECT_FALSE(fileExists(output));
    EXPECT_FALSE(fileExists(output + L".part"));
}

TEST_F(AudioSaver, OnTheLastSeedTryMusicIsSavedAsAShorterSeamlessLoop) {
    SoundParams params = Music120();
    params.LastSeedTry = true;
    AudioBuffer music = Chords(44100, 40, 1.0, 30.0);
    const AudioSaveResult result = SaveDecodedAudio(music, L"music_00001_.flac", output, params, memory, note);
    ASSERT_TRUE(result.error.empty()) << toUtf8(result.error);
    EXPECT_FALSE(result.anotherSeed);
    EXPECT_EQ(note, L"It's 24.0 s, shorter than the 32.0 s asked for: it went quiet early each time.");

    const AudioBuffer saved = ReadBack(output);
    EXPECT_EQ(saved.rate, 48000);
    EXPECT_EQ(saved.channels, 2);
    EXPECT_EQ(saved.frames(), 24u * 48000);
    EXPECT_NEAR(Decibels(RmsOf(saved)), -18, 0.1);
    // The seam is no bigger a step than the music takes anywhere else.
    double seam = 0, inside = 0;
    const size_t last = saved.frames() - 1;
    for (int c = 0; c < 2; ++c) seam = std::max(seam, double(std::fabs(saved.samples[c] - saved.samples[2 * last + c])));
    for (size_t i = 2; i < saved.samples.size(); ++i)
        inside = std::max(inside, double(std::fabs(saved.samples[i] - saved.samples[i - 2])));
    EXPECT_LE(seam, inside);
    std::printf("saved 24 s loop: seam step %.4f, largest step inside %.4f\n", seam, inside);
}

TEST_F(AudioSaver, AOneShotSoundIsTrimmedLevelledAndConverted) {
    // Mono at 44.1 kHz with 0.3 s of silence before and after: wanted 48 kHz stereo.
    AudioBuffer sound = Sine(44100, 1, 1.6, 0, 0);
    for (size_t f = 13230; f < 13230 + 44100; ++f)
        sound.samples[f] = float(0.3 * std::sin(2 * std::numbers::pi * 440 * (f - 13230) / 44100.0));
    const std::wstring path = temp.file(L"Theme\\Audio\\SFX\\Hit.wav");
    const AudioSaveResult result = SaveDecodedAudio(sound, L"sound_00001_.flac", path, OneShotSound(2), memory, note);
    ASSERT_TRUE(result.error.empty()) << toUtf8(result.error);
    EXPECT_TRUE(note.empty());

    const AudioBuffer saved = ReadBack(path);
    EXPECT_EQ(saved.rate, 48000);
    EXPECT_EQ(saved.channels, 2);
    // 5 ms before the onset, 1 s of tone, 20 ms after it: about 1.025 s.
    EXPECT_NEAR(saved.seconds(), 1.025, 0.002);
    EXPECT_NEAR(Decibels(RmsOf(saved)), -16, 0.2);
    EXPECT_LE(PeakOf(saved), kPeakCeiling + 2.0 / 32768);
}

TEST_F(AudioSaver, ASilentSoundIsRefused) {
    AudioBuffer quiet = Sine(48000, 2, 1.0, 440, 0.00005);
    const AudioSaveResult result = SaveDecodedAudio(quiet, L"sound_00003_.flac", output, OneShotSound(1), memory, note);
    EXPECT_EQ(result.error, L"ComfyUI's sound_00003_.flac is silent.");
    EXPECT_FALSE(result.anotherSeed);
    EXPECT_FALSE(result.tooBright);
    EXPECT_FALSE(fileExists(output));
}

TEST_F(AudioSaver, ATooBrightSoundIsRefusedUntilTheLastWarmTry) {
    const std::wstring path = temp.file(L"Theme\\Audio\\SFX\\Hiss.wav");
    AudioBuffer hiss = WhiteNoise(48000, 1.0, 0.5);
    SetChannels(hiss, 2);
    AudioSaveResult result = SaveDecodedAudio(hiss, L"sound_00001_.flac", path, OneShotSound(1), memory, note);
    EXPECT_EQ(result.error.rfind(L"It's too bright (centred on 1", 0), 0u) << toUtf8(result.error);
    EXPECT_TRUE(result.tooBright);
    EXPECT_FALSE(result.anotherSeed);
    EXPECT_EQ(memory.tooBrightTries, 1);
    EXPECT_FALSE(fileExists(path));

    SoundParams last = OneShotSound(1);
    last.LastWarmTry = true;
    result = SaveDecodedAudio(hiss, L"sound_00002_.flac", path, last, memory, note);
    EXPECT_TRUE(result.error.empty()) << toUtf8(result.error);
    EXPECT_EQ(note.rfind(L"It was still too bright after 2 tries (centred on 1", 0), 0u) << toUtf8(note);
    // White noise keeps much of its power up high even 12 dB down.
    const std::wstring end = L"), so it was softened, what's above 3 kHz turned down by up to 12 dB: still bright, but quieter.";
    ASSERT_GT(note.size(), end.size());
    EXPECT_EQ(note.substr(note.size() - end.size()), end);
    EXPECT_TRUE(fileExists(path));
}

TEST_F(AudioSaver, ASoftenedSoundThatPassesSaysHowItMeasuresNow) {
    // A 1 kHz and a 6 kHz tone with 70% of the power above 4 kHz: 3 dB is enough.
    AudioBuffer twoTones = Sine(48000, 2, 1.0, 1000, 0.3 * std::sqrt(0.3));
    MixInto(twoTones, Sine(48000, 2, 1.0, 6000, 0.3 * std::sqrt(0.7)));
    SoundParams last = OneShotSound(1);
    last.LastWarmTry = true;
    const std::wstring path = temp.file(L"Theme\\Audio\\SFX\\Ping.wav");
    const AudioSaveResult result = SaveDecodedAudio(twoTones, L"sound_00005_.flac", path, last, memory, note);
    EXPECT_TRUE(result.error.empty()) << toUtf8(result.error);
    const Brightness now = MeasureBrightness(ReadBack(path), kBrightnessCutoffHz);
    EXPECT_FALSE(IsTooBright(now));
    EXPECT_EQ(note, L"It was still too bright after 1 try (centred on 4.5 kHz, 70% of it above 4 kHz), so it was "
                    L"softened, what's above 3 kHz turned down by up to 3 dB (" + DescribeBrightness(now) + L").");
}

TEST_F(AudioSaver, MusicIsNotCheckedForBrightness) {
    SoundParams params = Music120();
    params.length = 16;
    AudioBuffer hiss = WhiteNoise(48000, 25, 0.5);
    const AudioSaveResult result = SaveDecodedAudio(hiss, L"m.flac", output, params, memory, note);
    EXPECT_TRUE(result.error.empty()) << toUtf8(result.error);
    EXPECT_EQ(ReadBack(output).frames(), 16u * 48000);
}

TEST_F(AudioSaver, ALoopThatCannotBeCutSaysHowLongTheSoundIs) {
    SoundParams params = LoopingSound();
    params.length = 0;
    AudioBuffer sound = Chords(48000, 2.0, 0, 2.0);
    const AudioSaveResult result = SaveDecodedAudio(sound, L"s.flac", output, params, memory, note);
    EXPECT_EQ(result.error, L"ComfyUI's s.flac is 2.0 s long, too short for a loop of 0.0 s with 1.0 s around it.");
}

TEST_F(AudioSaver, AFileThatCannotBeWrittenIsNamed) {
    temp.writeFile(L"Blocked", "a file where a folder should be");
    const std::wstring path = temp.file(L"Blocked\\Hit.wav");
    AudioBuffer sound = Sine(48000, 2, 1.0, 440, 0.3);
    const AudioSaveResult result = SaveDecodedAudio(sound, L"s.flac", path, OneShotSound(1), memory, note);
    // with the system's error number before the full stop
    const std::wstring sentence = L"Couldn't write " + path + L" (is the disk full, or the file open in another program?) (error ";
    EXPECT_EQ(result.error.substr(0, sentence.size()), sentence);
    EXPECT_EQ(result.error.substr(result.error.size() - 2), L").");
}

TEST_F(AudioSaver, WhatIsNotFlacIsRefusedWithTheDecodersReason) {
    const AudioSaveResult result = SaveFlacAudio("RIFF....WAVE", L"sound_00001_.flac", output, OneShotSound(1), memory, note);
    EXPECT_EQ(result.error, L"ComfyUI's sound_00001_.flac couldn't be read: it isn't a FLAC file.");
    EXPECT_FALSE(fileExists(output));
}

TEST(RealSoundSaver, AChimeFromTheFlacEncoderIsSavedAsATrimmedStereoWav) {
    TempFolder temp;
    AudioMemory memory;
    std::wstring note;
    const std::string flac = readWholeFile(joinPath(soundFilesFolder(), L"chime.flac"));
    ASSERT_FALSE(flac.empty()) << "the sound_files fixture makes it";
    const std::wstring path = temp.file(L"Audio\\SFX\\Chime.wav");
    const AudioSaveResult result = SaveFlacAudio(flac, L"sound_00001_.flac", path, OneShotSound(1.5), memory, note);
    ASSERT_TRUE(result.error.empty()) << toUtf8(result.error);

    AudioBuffer saved;
    ASSERT_TRUE(ReadWav(readWholeFile(path), saved));
    EXPECT_EQ(saved.rate, 48000);
    EXPECT_EQ(saved.channels, 2);
    // The chime and its tail down to -50 dB, never more than the 1.5 s asked for.
    EXPECT_LE(saved.frames(), 72000u);
    EXPECT_GT(saved.seconds(), 0.5);
    // The 0.3 s of silence before it is gone but for 5 ms.
    size_t firstSound = 0;
    while (std::fabs(saved.samples[2 * firstSound]) < 0.01f) ++firstSound;
    EXPECT_NEAR(double(firstSound), 240, 30);
    EXPECT_LE(PeakOf(saved), kPeakCeiling + 2.0 / 32768);
}
