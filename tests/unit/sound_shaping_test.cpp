// Where a sound plays, seamless loops, trimming one-shot sounds and their loudness.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>

#include "support/test_sounds.h"
#include "media/audio_levels.h"
#include "media/sound_shaping.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// Something like music: a few tones that don't repeat within the sound, in two channels.
AudioBuffer Music(int rate, double seconds) {
    AudioBuffer sound = Sine(rate, 2, seconds, 0, 0);
    for (size_t f = 0; f < sound.frames(); ++f) {
        const double t = double(f) / rate;
        sound.samples[2 * f] = float(0.3 * std::sin(2 * std::numbers::pi * 220 * t) + 0.2 * std::sin(2 * std::numbers::pi * 331.7 * t + 1) +
                                     0.1 * std::sin(2 * std::numbers::pi * 1234.5 * t));
        sound.samples[2 * f + 1] = float(0.3 * std::sin(2 * std::numbers::pi * 277.2 * t) + 0.2 * std::sin(2 * std::numbers::pi * 415.3 * t));
    }
    return sound;
}

void Silence(AudioBuffer& sound, double from, double to) {
    const size_t first = size_t(from * sound.rate), last = std::min(sound.frames(), size_t(to * sound.rate));
    for (size_t i = first * sound.channels; i < last * sound.channels; ++i) sound.samples[i] = 0;
}

double LargestStep(const AudioBuffer& sound, size_t from, size_t to) {
    double largest = 0;
    for (size_t f = from + 1; f < to; ++f)
        for (int c = 0; c < sound.channels; ++c)
            largest = std::max(largest, double(std::fabs(sound.samples[f * sound.channels + c] -
                                                         sound.samples[(f - 1) * sound.channels + c])));
    return largest;
}

}  // namespace

TEST(FindSoundSpan, FindsWhereTheSoundStartsAndGoesQuiet) {
    AudioBuffer sound = Music(48000, 4.0);
    Silence(sound, 0, 1.0);
    Silence(sound, 3.0, 4.0);
    const SoundSpan span = FindSoundSpan(sound, 0.1);
    EXPECT_NEAR(span.start, 1.0, 1e-9);
    EXPECT_NEAR(span.end, 3.0, 1e-9);
}

TEST(FindSoundSpan, QuietPartsFarUnderTheLoudPartDoNotCount) {
    AudioBuffer sound = Music(48000, 4.0);
    // -30 dB before 0.5 s and after 3.5 s: under the threshold, about 24 dB under the loud part.
    for (size_t f = 0; f < sound.frames(); ++f)
        if (f < 24000 || f >= 168000)
            for (int c = 0; c < 2; ++c) sound.samples[2 * f + c] *= 0.0316f;
    const SoundSpan span = FindSoundSpan(sound, 0.5);
    EXPECT_NEAR(span.start, 0.5, 1e-9);
    EXPECT_NEAR(span.end, 3.5, 1e-9);
}

TEST(FindSoundSpan, TheSpanEndsAtTheSoundsEndAndWindowsAreWholeFrames) {
    AudioBuffer sound = Music(44100, 1.25);  // 0.5 s windows: two whole and a short last one
    const SoundSpan span = FindSoundSpan(sound, 0.5);
    EXPECT_EQ(span.start, 0);
    EXPECT_NEAR(span.end, 1.25, 1e-9);  // not 1.5
    AudioBuffer empty;
    empty.rate = 48000;
    empty.channels = 2;
    EXPECT_EQ(FindSoundSpan(empty, 0.5).start, 0);
    EXPECT_EQ(FindSoundSpan(empty, 0.5).end, 0);
}

TEST(MakeLoop, TheEndRunsIntoTheStartWithoutAClick) {
    AudioBuffer source = Music(48000, 30.0);
    AudioBuffer loop = source;
    ASSERT_TRUE(MakeLoop(loop, 0.4, 24.0, 4.0));
    ASSERT_EQ(loop.frames(), 24u * 48000);
    EXPECT_EQ(loop.rate, 48000);
    EXPECT_EQ(loop.channels, 2);

    // Past the crossfade the loop is the source as it was.
    const size_t start = 19200, frames = loop.frames();
    for (size_t f = 4 * 48000; f < frames; f += 4999)
        ASSERT_EQ(loop.samples[2 * f], source.samples[2 * (start + f)]);
    // The loop starts almost exactly where its end carries on in the source.
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(loop.samples[c], source.samples[2 * (start + frames) + c], 1e-3);

    // The step from the loop's last frame to its first is the step the source takes there anyway.
    double seam = 0, natural = 0;
    for (int c = 0; c < 2; ++c) {
        seam = std::max(seam, double(std::fabs(loop.samples[c] - loop.samples[2 * (frames - 1) + c])));
        natural = std::max(natural, double(std::fabs(source.samples[2 * (start + frames) + c] -
                                                     source.samples[2 * (start + frames - 1) + c])));
    }
    const double inside = LargestStep(loop, 0, frames);
    EXPECT_NEAR(seam, natural, 1e-3);
    EXPECT_LE(seam, inside);
    // A loop cut without the crossfade jumps where it starts again.
    double bare = 0;
    for (int c = 0; c < 2; ++c)
        bare = std::max(bare, double(std::fabs(source.samples[2 * start + c] - source.samples[2 * (start + frames - 1) + c])));
    std::printf("loop seam: step %.4f at the seam (the source's own step there %.4f), largest step inside %.4f, "
                "%.4f without the crossfade\n", seam, natural, inside, bare);
}

TEST(MakeLoop, TheCrossfadeKeepsThePowerEven) {
    // Two unrelated noises crossfaded: equal-power gains keep the level through the overlap.
    AudioBuffer noise = WhiteNoise(48000, 3.0, 0.5, 7);
    AudioBuffer loop = noise;
    ASSERT_TRUE(MakeLoop(loop, 0.0, 2.0, 1.0));
    for (size_t at : {size_t(4800), size_t(24000), size_t(43200)}) {
        AudioBuffer part = loop;
        part.samples.assign(loop.samples.begin() + at - 2400, loop.samples.begin() + at + 2400);
        EXPECT_NEAR(Decibels(RmsOf(part) / (0.5 / std::sqrt(3.0))), 0, 0.5) << at;
    }
}

TEST(MakeLoop, RefusesWhatDoesNotFit) {
    AudioBuffer sound = Music(48000, 10.0);
    const AudioBuffer before = sound;
    EXPECT_FALSE(MakeLoop(sound, 1.0, 8.0, 1.5));  // needs 10.5 s
    EXPECT_FALSE(MakeLoop(sound, 0.0, 0.0, 1.0));  // no length
    EXPECT_EQ(sound.samples, before.samples);
    EXPECT_TRUE(MakeLoop(sound, 1.0, 8.0, 1.0));   // exactly 10 s
    EXPECT_EQ(sound.frames(), 8u * 48000);
}

TEST(TrimSound, KeepsFiveMillisecondsOfTheSilenceBefore) {
    AudioBuffer sound = Sine(48000, 1, 1.3, 440, 0.5);
    Silence(sound, 0, 0.3);
    for (size_t f = 14400; f < sound.frames(); ++f)  // sin starts again from zero at 0.3 s
        sound.samples[f] = float(0.5 * std::sin(2 * std::numbers::pi * 440 * (f - 14400) / 48000.0));
    TrimSound(sound, 0);
    // The onset is the first frame over -30 dB (frame 14401); 240 frames (5 ms) before it are kept.
    for (size_t f = 0; f < 240; ++f) ASSERT_EQ(sound.samples[f], 0.0f) << f;
    EXPECT_NE(sound.samples[240], 0.0f);
    EXPECT_EQ(sound.frames(), size_t(62400 - 14161));  // to the end: the tone never falls under -50 dB
}

TEST(TrimSound, CutsTheTailTwentyMillisecondsAfterItFallsQuiet) {
    AudioBuffer sound = Sine(48000, 2, 2.0, 440, 0.5);
    for (size_t f = 0; f < sound.frames(); ++f)  // a cosine: loud from the first frame
        sound.samples[2 * f] = sound.samples[2 * f + 1] = float(0.5 * std::cos(2 * std::numbers::pi * 440 * f / 48000));
    Silence(sound, 0.5, 2.0);
    TrimSound(sound, 0);
    EXPECT_EQ(sound.frames(), size_t(24000 + 960));
    // Nothing before it to keep: it fades in over 1 ms (48 frames).
    EXPECT_LT(sound.samples[0], 0.001f);
    EXPECT_NEAR(sound.samples[2 * 24], 0.5 * std::cos(2 * std::numbers::pi * 440 * 24 / 48000) * 0.5, 0.01);
    EXPECT_EQ(sound.samples[2 * 48], float(0.5 * std::cos(2 * std::numbers::pi * 440 * 48 / 48000)));
}

TEST(TrimSound, AWantedLengthCutsItWithALongerFade) {
    AudioBuffer sound = Sine(48000, 1, 3.0, 440, 0.5);
    TrimSound(sound, 1.5);
    ASSERT_EQ(sound.frames(), 72000u);
    // The fade-out is a fifth of the length: 14400 frames, halfway down in its middle.
    const double before = ToneAmplitude(sound, 0, 440, 50000, 57000);
    const double middle = ToneAmplitude(sound, 0, 440, 64600, 64900);
    EXPECT_NEAR(before, 0.5, 0.01);
    EXPECT_NEAR(middle, 0.25, 0.02);
}

TEST(TrimSound, LeavesSilenceAlone) {
    AudioBuffer silence = Sine(48000, 1, 1.0, 440, 0);
    TrimSound(silence, 0.5);
    EXPECT_EQ(silence.frames(), 48000u);
}

TEST(Loudness, SoundsSitAtMinusSixteenAndMusicAtMinusEighteenDbfs) {
    AudioBuffer sound = Music(48000, 2.0);
    ASSERT_TRUE(SetLoudness(sound, kSoundLoudnessDbfs));
    EXPECT_NEAR(Decibels(RmsOf(sound)), -16, 0.01);
    AudioBuffer music = Music(48000, 2.0);
    ASSERT_TRUE(SetLoudness(music, kMusicLoudnessDbfs));
    EXPECT_NEAR(Decibels(RmsOf(music)), -18, 0.01);
}

TEST(Loudness, APeakyOneStopsAtMinusOneDbfs) {
    // Mostly quiet with one loud click: at -16 dBFS its peak would pass -1 dBFS.
    AudioBuffer sound = Sine(48000, 1, 1.0, 440, 0.01);
    sound.samples[1000] = 0.5f;
    ASSERT_TRUE(SetLoudness(sound, kSoundLoudnessDbfs));
    EXPECT_NEAR(PeakOf(sound), kPeakCeiling, 1e-6);
    EXPECT_LT(Decibels(RmsOf(sound)), -16);
}

TEST(Loudness, SilenceIsRefused) {
    AudioBuffer quiet = Sine(48000, 1, 1.0, 440, 0.00009);
    EXPECT_FALSE(SetLoudness(quiet, kSoundLoudnessDbfs));
    EXPECT_NEAR(PeakOf(quiet), 0.00009, 1e-6);
    AudioBuffer empty;
    EXPECT_FALSE(SetLoudness(empty, kSoundLoudnessDbfs));
}
