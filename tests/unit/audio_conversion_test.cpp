// Channel counts and band-limited rate conversion, measured on tones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

#include "support/test_sounds.h"
#include "media/audio_conversion.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// The gain in dB of a tone taken from one rate to another, measured away from the ends.
double GainThrough(int fromRate, int toRate, double frequency) {
    AudioBuffer tone = Sine(fromRate, 1, 1.0, frequency, 0.5);
    Resample(tone, toRate);
    const size_t margin = static_cast<size_t>(toRate / 10);
    if (frequency >= toRate / 2.0) {
        // Whatever gets through folds down below the new Nyquist frequency: measure all of it.
        double squares = 0;
        for (size_t f = margin; f < tone.frames() - margin; ++f) squares += double(tone.samples[f]) * tone.samples[f];
        const double rms = std::sqrt(squares / double(tone.frames() - 2 * margin));
        return Decibels(rms * std::sqrt(2.0) / 0.5);
    }
    return Decibels(ToneAmplitude(tone, 0, frequency, margin, tone.frames() - margin) / 0.5);
}

AudioBuffer Frames(int channels, std::vector<float> samples) {
    AudioBuffer sound;
    sound.rate = 48000;
    sound.channels = channels;
    sound.samples = std::move(samples);
    return sound;
}

}  // namespace

TEST(SetChannels, MixesDownToMonoByTheMean) {
    AudioBuffer sound = Frames(2, {0.5f, 0.1f, -1.0f, 1.0f});
    SetChannels(sound, 1);
    EXPECT_EQ(sound.channels, 1);
    EXPECT_EQ(sound.samples, (std::vector<float>{0.3f, 0.0f}));
}

TEST(SetChannels, MonoBecomesTwoEqualChannels) {
    AudioBuffer sound = Frames(1, {0.25f, -0.5f});
    SetChannels(sound, 2);
    EXPECT_EQ(sound.channels, 2);
    EXPECT_EQ(sound.samples, (std::vector<float>{0.25f, 0.25f, -0.5f, -0.5f}));
}

TEST(SetChannels, ThreeChannelsSetToTwoKeepTheFirstTwo) {
    AudioBuffer sound = Frames(3, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f});
    SetChannels(sound, 2);
    EXPECT_EQ(sound.channels, 2);
    EXPECT_EQ(sound.samples, (std::vector<float>{0.1f, 0.2f, 0.4f, 0.5f}));
}

TEST(SetChannels, TheSameCountChangesNothing) {
    AudioBuffer sound = Frames(2, {0.1f, 0.2f});
    SetChannels(sound, 2);
    EXPECT_EQ(sound.samples, (std::vector<float>{0.1f, 0.2f}));
}

TEST(Resample, TheRatioIsInLowestTerms) {
    EXPECT_EQ(ResampleRatioOf(44100, 48000).up, 160);
    EXPECT_EQ(ResampleRatioOf(44100, 48000).down, 147);
    EXPECT_EQ(ResampleRatioOf(48000, 44100).up, 147);
    EXPECT_EQ(ResampleRatioOf(48000, 44100).down, 160);
    EXPECT_EQ(ResampleRatioOf(96000, 48000).up, 1);
    EXPECT_EQ(ResampleRatioOf(96000, 48000).down, 2);
}

TEST(Resample, TheLengthFollowsTheRatio) {
    AudioBuffer sound = Sine(44100, 2, 1.0, 1000, 0.5);
    sound.samples.resize(2 * 44101);
    Resample(sound, 48000);
    EXPECT_EQ(sound.rate, 48000);
    EXPECT_EQ(sound.channels, 2);
    EXPECT_EQ(sound.frames(), 44101u * 160 / 147);  // the whole part: 48001
}

TEST(Resample, NothingHappensForEqualOrMeaninglessRates) {
    AudioBuffer sound = Sine(48000, 1, 0.1, 1000, 0.5);
    const AudioBuffer before = sound;
    Resample(sound, 48000);
    EXPECT_EQ(sound.samples, before.samples);
    Resample(sound, 0);
    EXPECT_EQ(sound.rate, 48000);
    EXPECT_EQ(sound.samples, before.samples);
}

TEST(Resample, AToneKeepsItsLevelFrequencyAndPhase) {
    AudioBuffer tone = Sine(44100, 2, 1.0, 1000, 0.5);
    Resample(tone, 48000);
    ASSERT_EQ(tone.frames(), 48000u);
    // Output frame i lies at time i / 48000, so it should be the same sine sampled anew.
    double worst = 0;
    for (size_t f = 100; f < 47900; ++f) {
        const double ideal = 0.5 * std::sin(2 * std::numbers::pi * 1000 * f / 48000);
        worst = std::max({worst, std::fabs(tone.samples[2 * f] - ideal), std::fabs(tone.samples[2 * f + 1] - ideal)});
    }
    EXPECT_LT(worst, 1e-4);
    const double level = Decibels(ToneAmplitude(tone, 0, 1000, 100, 47900) / 0.5);
    EXPECT_NEAR(level, 0, 0.001);
    std::printf("1 kHz at 44.1 -> 48 kHz: level %+.5f dB, largest difference from the ideal sine %.2g\n", level, worst);
}

TEST(Resample, ThePassbandIsFlat) {
    double ripple = 0;
    for (double frequency : {50.0, 200.0, 1000.0, 5000.0, 10000.0, 15000.0, 18000.0, 19000.0}) {
        for (auto [from, to] : {std::pair{44100, 48000}, std::pair{48000, 44100}, std::pair{22050, 48000}}) {
            if (frequency >= 0.43 * std::min(from, to)) continue;  // the edge of the passband: 0.95 x 0.45
            const double gain = GainThrough(from, to, frequency);
            ripple = std::max(ripple, std::fabs(gain));
            EXPECT_NEAR(gain, 0, 0.05) << frequency << " Hz, " << from << " -> " << to;
        }
    }
    std::printf("passband ripple (50 Hz to 18 kHz at 44.1 <-> 48 kHz, to 5 kHz at 22.05 -> 48 kHz): %.4f dB\n", ripple);
}

TEST(Resample, TonesAboveTheNewNyquistAreTurnedDown) {
    double weakest = -1000;
    for (auto [from, to, frequency] : {std::tuple{48000, 44100, 23000.0}, std::tuple{48000, 44100, 23500.0},
                                      std::tuple{96000, 48000, 26000.0}, std::tuple{96000, 48000, 30000.0},
                                      std::tuple{96000, 48000, 40000.0}, std::tuple{48000, 22050, 15000.0}}) {
        const double gain = GainThrough(from, to, frequency);
        weakest = std::max(weakest, gain);
        EXPECT_LT(gain, -60) << frequency << " Hz, " << from << " -> " << to;
        std::printf("%g Hz, %d -> %d Hz: %.1f dB\n", frequency, from, to, gain);
    }
    std::printf("stopband attenuation: at least %.1f dB\n", -weakest);
    for (double frequency : {19000.0, 20000.0, 21000.0, 22100.0})
        std::printf("transition, 48000 -> 44100 Hz: %g Hz %.1f dB\n", frequency, GainThrough(48000, 44100, frequency));
}

TEST(Resample, TwoChannelsComeOutAsEachDoesAlone) {
    // Two channels are summed side by side, one alone the plain way: the two must agree to the bit, over several
    // stretches of the input and at both ends.
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-1, 1);
    for (auto [from, to] : {std::pair{44100, 48000}, std::pair{48000, 44100}, std::pair{22050, 48000}}) {
        AudioBuffer stereo = Frames(2, {}), left = Frames(1, {}), right = Frames(1, {});
        stereo.rate = left.rate = right.rate = from;
        for (int f = 0; f < 20011; ++f) {
            left.samples.push_back(noise(random));
            right.samples.push_back(noise(random));
            stereo.samples.insert(stereo.samples.end(), {left.samples.back(), right.samples.back()});
        }
        Resample(stereo, to);
        Resample(left, to);
        Resample(right, to);
        ASSERT_EQ(stereo.frames(), left.frames());
        size_t differing = 0;
        for (size_t f = 0; f < left.frames(); ++f)
            differing += (stereo.samples[2 * f] != left.samples[f]) + (stereo.samples[2 * f + 1] != right.samples[f]);
        EXPECT_EQ(differing, 0u) << from << " -> " << to;
    }
}
