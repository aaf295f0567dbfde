// How bright a sound measures, the rule that calls it too bright, softening
// its highs, and the saver's brightness step across a sound's tries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>

#include "core/text.h"
#include "support/test_sounds.h"
#include "media/audio_levels.h"
#include "media/brightness.h"
#include "media/brightness_step.h"
#include "media/soften_highs.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// A 1 kHz and a 6 kHz tone whose power is split so that `highShare` of it sits above 4 kHz.
AudioBuffer TwoTones(double highShare, double scale = 0.5) {
    AudioBuffer sound = Sine(48000, 1, 1.0, 1000, scale * std::sqrt(1 - highShare));
    MixInto(sound, Sine(48000, 1, 1.0, 6000, scale * std::sqrt(highShare)));
    return sound;
}

Brightness Measure(const AudioBuffer& sound) { return MeasureBrightness(sound, kBrightnessCutoffHz); }

}  // namespace

TEST(Brightness, APureToneIsCentredOnItsFrequencyWithNothingHigh) {
    const Brightness tone = Measure(Sine(48000, 2, 3.0, 1000, 0.5));
    EXPECT_NEAR(tone.centroid, 1000, 5);
    EXPECT_LT(tone.share, 1e-6);
    EXPECT_FALSE(IsTooBright(tone));
    EXPECT_EQ(DescribeBrightness(tone), L"centred on 1.0 kHz, 0% of it above 4 kHz");
}

TEST(Brightness, WhiteNoiseIsCentredHalfwayToNyquistAndTooBright) {
    const Brightness noise = Measure(WhiteNoise(48000, 3.0, 0.5));
    // Flat power over bins 1..1024: centroid 512.5 bins = 12.01 kHz; bins 171..1024 are at or above 4 kHz.
    EXPECT_NEAR(noise.centroid, 12012, 150);
    EXPECT_NEAR(noise.share, 854.0 / 1024, 0.01);
    EXPECT_TRUE(IsTooBright(noise));
    EXPECT_EQ(DescribeBrightness(noise), L"centred on 12.0 kHz, 83% of it above 4 kHz");
    std::printf("white noise at 48 kHz: centroid %.1f Hz, share %.4f\n", noise.centroid, noise.share);
}

TEST(Brightness, TheRuleAndTheScore) {
    EXPECT_FALSE(IsTooBright({5000, 0.6}));
    EXPECT_TRUE(IsTooBright({5000.1, 0.6}));
    EXPECT_TRUE(IsTooBright({5000, 0.6001}));
    EXPECT_TRUE(IsTooBright({1000, 0.7}));
    EXPECT_DOUBLE_EQ(BrightnessScore({5000, 0.6}), 1.0);
    EXPECT_DOUBLE_EQ(BrightnessScore({10000, 0.3}), 2.0);  // the centroid decides
    EXPECT_DOUBLE_EQ(BrightnessScore({2500, 0.9}), 1.5);   // the share decides
    EXPECT_EQ(BrightnessRuleText(), L"centred above 5 kHz, or over 60% of it above 4 kHz");
    EXPECT_EQ(DescribeBrightness({5260, 0.6249}), L"centred on 5.3 kHz, 62% of it above 4 kHz");
}

TEST(Brightness, ChannelsAreMixedToMonoFirst) {
    // Left and right in opposite phase cancel out: nothing to measure.
    AudioBuffer sound = Sine(48000, 2, 0.5, 8000, 0.5);
    for (size_t f = 0; f < sound.frames(); ++f) sound.samples[2 * f + 1] = -sound.samples[2 * f];
    const Brightness cancelled = Measure(sound);
    EXPECT_EQ(cancelled.centroid, 0);
    EXPECT_EQ(cancelled.share, 0);
}

TEST(Brightness, NothingToMeasureGivesZero) {
    AudioBuffer none;
    EXPECT_EQ(Measure(none).centroid, 0);
    AudioBuffer silence = Sine(48000, 1, 1.0, 1000, 0);
    EXPECT_EQ(Measure(silence).centroid, 0);
    EXPECT_EQ(Measure(silence).share, 0);
    AudioBuffer noRate = Sine(48000, 1, 1.0, 1000, 0.5);
    noRate.rate = 0;
    EXPECT_EQ(Measure(noRate).centroid, 0);
}

TEST(Brightness, AShortSoundIsOneWindowPaddedWithSilence) {
    AudioBuffer shortTone = Sine(48000, 1, 500.0 / 48000, 2000, 0.5);
    ASSERT_EQ(shortTone.frames(), 500u);
    AudioBuffer padded = shortTone;
    padded.samples.resize(2048, 0.0f);
    const Brightness a = Measure(shortTone), b = Measure(padded);
    EXPECT_EQ(a.centroid, b.centroid);
    EXPECT_EQ(a.share, b.share);
    EXPECT_NEAR(a.centroid, 2000, 400);  // a short burst spreads, but stays around its tone
}

TEST(Brightness, EveryPartOfALongSoundCounts) {
    // A bright burst in the last frames only: windows run on past the end, padded.
    AudioBuffer sound = Sine(48000, 1, 2.0, 500, 0.3);
    const size_t tail = sound.frames() - 1500;
    AudioBuffer burst = Sine(48000, 1, 1500.0 / 48000, 12000, 0.9);
    MixInto(sound, burst, tail);
    EXPECT_GT(Measure(sound).share, 0.1);
}

TEST(HighShelf, TurnsDownWhatIsAboveItsCornerAndLeavesTheLowsAlone) {
    auto gainAt = [](double frequency) {
        AudioBuffer tone = Sine(48000, 1, 1.0, frequency, 0.5);
        ApplyHighShelf(tone, -12, kShelfCornerHz, false);
        return Decibels(ToneAmplitude(tone, 0, frequency, 4800, 48000) / 0.5);
    };
    EXPECT_NEAR(gainAt(100), 0, 0.1);
    EXPECT_NEAR(gainAt(3000), -6, 0.5);  // half the cut at the corner
    EXPECT_NEAR(gainAt(12000), -12, 0.3);
    EXPECT_NEAR(gainAt(20000), -12, 0.1);
}

TEST(HighShelf, DoesNothingWhenTheCornerIsNotBelowHalfTheRate) {
    AudioBuffer tone = Sine(6000, 1, 1.0, 2500, 0.5);
    const AudioBuffer before = tone;
    ApplyHighShelf(tone, -12, kShelfCornerHz, false);
    EXPECT_EQ(tone.samples, before.samples);
}

TEST(SoftenHighs, LeavesASoundThatIsNotTooBrightAlone) {
    AudioBuffer sound = Sine(48000, 2, 1.0, 1000, 0.99);
    const AudioBuffer before = sound;
    const Softening result = SoftenHighs(sound, false);
    EXPECT_EQ(result.cutDb, 0);
    EXPECT_NEAR(result.after.centroid, 1000, 5);
    EXPECT_EQ(sound.samples, before.samples);  // not even its peak is touched
}

TEST(SoftenHighs, StopsAtTheFirstStepThatPasses) {
    AudioBuffer justBright = TwoTones(0.62);
    ASSERT_TRUE(IsTooBright(Measure(justBright)));
    const Softening three = SoftenHighs(justBright, false);
    EXPECT_EQ(three.cutDb, 3);
    EXPECT_FALSE(IsTooBright(three.after));

    AudioBuffer brighter = TwoTones(0.75);
    AudioBuffer threeDbOnly = brighter;
    ApplyHighShelf(threeDbOnly, -3, kShelfCornerHz, false);
    ASSERT_TRUE(IsTooBright(Measure(threeDbOnly)));  // so 3 dB is not enough for this one
    const Softening six = SoftenHighs(brighter, false);
    EXPECT_EQ(six.cutDb, 6);
    EXPECT_FALSE(IsTooBright(six.after));
    // Each step starts again from the original: 6 dB once, not 3 dB twice.
    AudioBuffer sixDbOnce = TwoTones(0.75);
    ApplyHighShelf(sixDbOnce, -6, kShelfCornerHz, false);
    for (size_t i = 0; i < brighter.samples.size(); i += 97) ASSERT_FLOAT_EQ(brighter.samples[i], sixDbOnce.samples[i]);
}

TEST(SoftenHighs, ASoundThatStaysBrightGetsTwelveDecibels) {
    AudioBuffer whistle = Sine(48000, 1, 1.0, 8000, 0.5);
    const Softening result = SoftenHighs(whistle, false);
    EXPECT_EQ(result.cutDb, 12);
    EXPECT_TRUE(IsTooBright(result.after));
    EXPECT_NEAR(Decibels(ToneAmplitude(whistle, 0, 8000, 4800, 48000) / 0.5), -12, 0.3);
}

TEST(SoftenHighs, KeepsThePeakAtMinusOneDbfs) {
    AudioBuffer loud = Sine(48000, 1, 1.0, 200, 0.6);
    MixInto(loud, Sine(48000, 1, 1.0, 10000, 0.9));
    ASSERT_GT(PeakOf(loud), 1.2);
    const Softening result = SoftenHighs(loud, false);
    EXPECT_GT(result.cutDb, 0);
    EXPECT_NEAR(PeakOf(loud), kPeakCeiling, 1e-6);
}

TEST(SoftenHighs, ALoopingSoundsSeamHasNoClick) {
    // One period of a bright loop: tones of 8 and 96 frames' period in 4800 frames, so it repeats seamlessly.
    auto loop = [] {
        AudioBuffer sound = Sine(48000, 1, 0.1, 6000, 0);
        for (size_t f = 0; f < sound.frames(); ++f)
            sound.samples[f] = static_cast<float>(0.4 * std::cos(2 * std::numbers::pi * 6000 * f / 48000) +
                                                  0.15 * std::cos(2 * std::numbers::pi * 500 * f / 48000));
        return sound;
    };
    // What the filter gives once it has run round the loop: the middle of three periods filtered in one go.
    auto steady = [&](double cutDb) {
        AudioBuffer three = loop();
        const std::vector<float> period = three.samples;
        for (int i = 0; i < 2; ++i) three.samples.insert(three.samples.end(), period.begin(), period.end());
        ApplyHighShelf(three, -cutDb, kShelfCornerHz, false);
        return std::vector<float>(three.samples.begin() + 4800, three.samples.begin() + 9600);
    };
    auto seamStep = [](const AudioBuffer& s) { return std::fabs(s.samples.front() - s.samples.back()); };
    auto largestStep = [](const AudioBuffer& s) {
        double largest = 0;
        for (size_t f = 1; f < s.samples.size(); ++f)
            largest = std::max(largest, double(std::fabs(s.samples[f] - s.samples[f - 1])));
        return largest;
    };

    AudioBuffer looping = loop();
    const Softening result = SoftenHighs(looping, true);
    ASSERT_GT(result.cutDb, 0);
    const std::vector<float> expected = steady(result.cutDb);
    double worstLooping = 0;
    for (size_t f = 0; f < 4800; ++f) worstLooping = std::max(worstLooping, double(std::fabs(looping.samples[f] - expected[f])));
    EXPECT_LT(worstLooping, 1e-5);
    EXPECT_LE(seamStep(looping), largestStep(looping) + 1e-6);

    // Without the loop's state the filter starts cold and its first frames jump.
    AudioBuffer cold = loop();
    SoftenHighs(cold, false);
    double worstCold = 0;
    for (size_t f = 0; f < 4800; ++f) worstCold = std::max(worstCold, double(std::fabs(cold.samples[f] - expected[f])));
    EXPECT_GT(worstCold, 0.05);
    std::printf("softened loop (%.0f dB): seam step %.4f looping vs %.4f cold, largest step inside %.4f; "
                "largest difference from the steady filter %.2g looping vs %.3f cold\n",
                result.cutDb, seamStep(looping), seamStep(cold), largestStep(looping), worstLooping, worstCold);
}

TEST(BrightnessStep, ADullSoundPassesUntouched) {
    AudioMemory memory;
    std::wstring note;
    AudioBuffer sound = Sine(48000, 2, 1.0, 440, 0.3);
    const AudioBuffer before = sound;
    const BrightnessVerdict verdict = CheckSoundBrightness(sound, false, true, memory, note);
    EXPECT_TRUE(verdict.error.empty());
    EXPECT_FALSE(verdict.tooBright);
    EXPECT_EQ(sound.samples, before.samples);
    EXPECT_FALSE(memory.holdsTry());
    EXPECT_TRUE(note.empty());
}

TEST(BrightnessStep, RefusesBrightTriesAndRemembersTheLeastBright) {
    AudioMemory memory;
    std::wstring note;
    AudioBuffer twoTones = TwoTones(0.7);
    const Brightness twoTonesMeasure = Measure(twoTones);
    BrightnessVerdict verdict = CheckSoundBrightness(twoTones, false, false, memory, note);
    EXPECT_TRUE(verdict.tooBright);
    EXPECT_EQ(verdict.error, L"It's too bright (" + DescribeBrightness(twoTonesMeasure) + L").");
    EXPECT_EQ(verdict.error, L"It's too bright (centred on 4.5 kHz, 70% of it above 4 kHz).");
    EXPECT_EQ(memory.tooBrightTries, 1);
    EXPECT_EQ(memory.samples, TwoTones(0.7).samples);

    // A brighter try is refused too but not remembered.
    AudioBuffer whistle = Sine(48000, 1, 1.0, 8000, 0.3);
    verdict = CheckSoundBrightness(whistle, false, false, memory, note);
    EXPECT_EQ(verdict.error, L"It's too bright (centred on 8.0 kHz, 100% of it above 4 kHz).");
    EXPECT_EQ(memory.tooBrightTries, 2);
    EXPECT_EQ(memory.samples, TwoTones(0.7).samples);

    // A less bright one takes its place.
    AudioBuffer milder = TwoTones(0.65);
    CheckSoundBrightness(milder, false, false, memory, note);
    EXPECT_EQ(memory.tooBrightTries, 3);
    EXPECT_EQ(memory.samples, TwoTones(0.65).samples);
    EXPECT_TRUE(note.empty());
}

TEST(BrightnessStep, TheLastTrySoftensTheLeastBrightTry) {
    AudioMemory memory;
    std::wstring note;
    AudioBuffer first = TwoTones(0.7);
    CheckSoundBrightness(first, false, false, memory, note);
    AudioBuffer second = Sine(48000, 1, 1.0, 8000, 0.3);
    CheckSoundBrightness(second, false, false, memory, note);

    AudioBuffer expected = TwoTones(0.7);
    const Brightness kept = Measure(expected);
    const Softening softening = SoftenHighs(expected, false);
    ASSERT_EQ(softening.cutDb, 3);

    AudioBuffer last = Sine(48000, 1, 1.0, 9000, 0.3);  // brighter than the remembered try
    note = L"An earlier remark.";
    const BrightnessVerdict verdict = CheckSoundBrightness(last, false, true, memory, note);
    EXPECT_TRUE(verdict.error.empty());
    EXPECT_FALSE(verdict.tooBright);
    EXPECT_EQ(last.samples, expected.samples);
    EXPECT_EQ(note, L"An earlier remark. It was still too bright after 3 tries (" + DescribeBrightness(kept) +
                        L"), so it was softened, what's above 3 kHz turned down by up to 3 dB (" +
                        DescribeBrightness(softening.after) + L").");
}

TEST(BrightnessStep, ALastTryThatStaysBrightIsSoftenedAsFarAsItGoes) {
    AudioMemory memory;
    std::wstring note;
    AudioBuffer whistle = Sine(48000, 1, 1.0, 8000, 0.3);
    const BrightnessVerdict verdict = CheckSoundBrightness(whistle, false, true, memory, note);
    EXPECT_TRUE(verdict.error.empty());
    EXPECT_EQ(note,
              L"It was still too bright after 1 try (centred on 8.0 kHz, 100% of it above 4 kHz), so it was softened, "
              L"what's above 3 kHz turned down by up to 12 dB: still bright, but quieter.");
    EXPECT_NEAR(Decibels(ToneAmplitude(whistle, 0, 8000, 4800, 48000) / 0.3), -12, 0.3);
}

TEST(BrightnessStep, ARememberedTryOfAnotherShapeIsNotTaken) {
    AudioMemory memory;
    std::wstring note;
    AudioBuffer mild = TwoTones(0.65);
    CheckSoundBrightness(mild, false, false, memory, note);

    // The last try is brighter but has another rate: it is softened itself.
    AudioBuffer last = Sine(44100, 1, 1.0, 9000, 0.3);
    const Brightness lastMeasure = MeasureBrightness(last, kBrightnessCutoffHz);
    CheckSoundBrightness(last, false, true, memory, note);
    EXPECT_EQ(last.rate, 44100);
    EXPECT_EQ(last.frames(), 44100u);
    EXPECT_EQ(note.rfind(L"It was still too bright after 2 tries (" + DescribeBrightness(lastMeasure) + L"), so", 0), 0u)
        << toUtf8(note);
}
