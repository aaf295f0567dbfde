// WAV files: what the reader takes (and refuses) and what the writer makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/audio_fixtures.h"
#include "media/wav_file.h"

namespace vorlane {
namespace {

using testing::AudioFixture;

std::string le16(unsigned value) { return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)}; }
std::string le32(uint32_t value) { return le16(value & 0xFFFF) + le16(value >> 16); }

std::string chunk(const std::string& id, const std::string& body, uint32_t claimedSize) {
    return id + le32(claimedSize) + body + ((body.size() & 1) ? std::string(1, '\0') : std::string());
}
std::string chunk(const std::string& id, const std::string& body) {
    return chunk(id, body, static_cast<uint32_t>(body.size()));
}

std::string riff(const std::string& chunks) { return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks; }

std::string fmtBody(unsigned tag, unsigned channels, uint32_t rate, unsigned bits) {
    unsigned frameBytes = channels * bits / 8;
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * frameBytes) + le16(frameBytes) + le16(bits);
}

// WAVE_FORMAT_EXTENSIBLE whose sub-format GUID starts with `subTag`.
std::string extensibleBody(unsigned subTag, unsigned channels, uint32_t rate, unsigned bits) {
    std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return fmtBody(0xFFFE, channels, rate, bits) + le16(22) + le16(bits) + le32(3) + le16(subTag) + guidTail;
}

std::string pcm16(const std::vector<int>& samples) {
    std::string data;
    for (int sample : samples) data += le16(static_cast<unsigned>(sample) & 0xFFFF);
    return data;
}

std::string floats(const std::vector<float>& samples) {
    std::string data(samples.size() * 4, '\0');
    std::memcpy(data.data(), samples.data(), data.size());
    return data;
}

AudioBuffer read(const std::string& bytes) {
    AudioBuffer audio;
    EXPECT_TRUE(ReadWav(bytes, audio));
    return audio;
}

bool refused(const std::string& bytes) {
    AudioBuffer audio;
    return !ReadWav(bytes, audio);
}

TEST(WavReader, SixteenBitStereoWithItsRateAndScale) {
    AudioBuffer audio = read(riff(chunk("fmt ", fmtBody(1, 2, 44100, 16)) + chunk("data", pcm16({-32768, 32767, 0, 16384}))));
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.samples, (std::vector<float>{-1.0f, 32767 / 32768.0f, 0.0f, 0.5f}));
    EXPECT_EQ(audio.frames(), 2u);
}

TEST(WavReader, TwentyFourBitSamplesAreSignExtended) {
    std::string data("\x00\x00\x80" "\xFF\xFF\x7F" "\xFF\xFF\xFF" "\x01\x00\x00", 12);
    AudioBuffer audio = read(riff(chunk("fmt ", fmtBody(1, 1, 48000, 24)) + chunk("data", data)));
    EXPECT_EQ(audio.samples, (std::vector<float>{-1.0f, static_cast<float>(8388607 / 8388608.0),
                                                 static_cast<float>(-1 / 8388608.0), static_cast<float>(1 / 8388608.0)}));
}

TEST(WavReader, ThirtyTwoBitPcmAndFloat) {
    AudioBuffer pcm = read(riff(chunk("fmt ", fmtBody(1, 1, 8000, 32)) + chunk("data", le32(0x80000000u) + le32(0x40000000u))));
    EXPECT_EQ(pcm.samples, (std::vector<float>{-1.0f, 0.5f}));

    // Float samples are taken as they are, even outside -1..1.
    std::vector<float> values{0.25f, -1.5f, 2.0f, -0.0f};
    AudioBuffer fl = read(riff(chunk("fmt ", fmtBody(3, 2, 96000, 32)) + chunk("data", floats(values))));
    EXPECT_EQ(fl.rate, 96000);
    EXPECT_EQ(fl.samples, values);
}

TEST(WavReader, TheExtensibleFormatNamesItsTagInTheSubFormat) {
    AudioBuffer pcm = read(riff(chunk("fmt ", extensibleBody(1, 1, 22050, 24)) + chunk("data", std::string("\x00\x00\x40", 3))));
    EXPECT_EQ(pcm.samples, std::vector<float>{0.5f});
    AudioBuffer fl = read(riff(chunk("fmt ", extensibleBody(3, 1, 22050, 32)) + chunk("data", floats({-0.75f}))));
    EXPECT_EQ(fl.samples, std::vector<float>{-0.75f});

    // Too short to hold a sub-format: the tag stays 0xFFFE, which isn't read.
    std::string shortFormat = extensibleBody(1, 1, 22050, 16).substr(0, 24);
    EXPECT_TRUE(refused(riff(chunk("fmt ", shortFormat) + chunk("data", pcm16({1})))));
    // A compressed sub-format isn't read either.
    EXPECT_TRUE(refused(riff(chunk("fmt ", extensibleBody(2, 1, 22050, 16)) + chunk("data", pcm16({1})))));
}

TEST(WavReader, OddChunksAreSkippedWithTheirPadByte) {
    std::string list = chunk("LIST", "INFOabc");  // 7 bytes and a pad byte
    ASSERT_EQ(list.size(), 16u);
    AudioBuffer audio = read(riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + list + chunk("junk", "") + chunk("data", pcm16({8192}))));
    EXPECT_EQ(audio.samples, std::vector<float>{0.25f});
    // The pad byte after an odd data chunk is nothing to the reader.
    AudioBuffer odd = read(riff(chunk("fmt ", fmtBody(1, 1, 8000, 24)) + chunk("data", std::string("\x00\x00\x20", 3))));
    EXPECT_EQ(odd.samples, std::vector<float>{0.25f});
}

TEST(WavReader, ADataChunkCutOffByTheFileEndKeepsWholeFrames) {
    std::string head = riff(chunk("fmt ", fmtBody(1, 2, 8000, 16))) + "data" + le32(1000);
    AudioBuffer audio = read(head + pcm16({100, 200, 300}));  // one frame and half of the next
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.samples, (std::vector<float>{100 / 32768.0f, 200 / 32768.0f}));
    AudioBuffer empty = read(head + pcm16({5}));
    EXPECT_TRUE(empty.samples.empty());
}

TEST(WavReader, OnlyADataChunkMayRunPastTheEnd) {
    std::string format = chunk("fmt ", fmtBody(1, 1, 8000, 16));
    EXPECT_TRUE(refused(riff(format + "LIST" + le32(100) + "INFO" + chunk("data", pcm16({1})))));
    EXPECT_TRUE(refused(riff("fmt " + le32(40) + fmtBody(1, 1, 8000, 16))));
    // A chunk header cut in half before any data.
    EXPECT_TRUE(refused(riff(format + "dat")));
}

TEST(WavReader, RefusesWhatItCantRead) {
    std::string data = chunk("data", pcm16({1, 2}));
    EXPECT_TRUE(refused(""));
    EXPECT_TRUE(refused(std::string("RIFF\0\0\0\0WAV", 11)));
    EXPECT_TRUE(refused("RIFX" + le32(4) + "WAVE"));
    EXPECT_TRUE(refused("RIFF" + le32(4) + "AVI "));
    EXPECT_TRUE(refused(riff("")));                                         // no chunks
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)))));     // no data
    EXPECT_TRUE(refused(riff(data + chunk("fmt ", fmtBody(1, 1, 8000, 16)))));  // data before fmt
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(1, 1, 8000, 16).substr(0, 14)) + data)));  // fmt too short
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(1, 1, 8000, 8)) + data)));     // 8-bit
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(1, 1, 8000, 20)) + data)));    // 20-bit PCM
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(3, 1, 8000, 64)) + data)));    // 64-bit float
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(3, 1, 8000, 16)) + data)));    // 16-bit "float"
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(2, 1, 8000, 4)) + data)));     // ADPCM
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(1, 0, 8000, 16)) + data)));    // no channels
    EXPECT_TRUE(refused(riff(chunk("fmt ", fmtBody(1, 1, 0, 16)) + data)));       // no rate
}

TEST(WavReader, TheLastFormatBeforeTheDataCounts) {
    AudioBuffer audio = read(riff(chunk("fmt ", fmtBody(1, 1, 8000, 8)) + chunk("fmt ", fmtBody(1, 1, 16000, 16)) +
                                  chunk("data", pcm16({-16384}))));
    EXPECT_EQ(audio.rate, 16000);
    EXPECT_EQ(audio.samples, std::vector<float>{-0.5f});
}

// Read a block at a time, whatever the blocks' size, a file gives what
// ReadWav gives of it whole: the same format, frames and samples, and the same
// refusals.
TEST(WavStream, GivesWhatTheWholeFileReaderGivesInBlocksOfAnySize) {
    const std::string format = chunk("fmt ", fmtBody(1, 2, 8000, 16));
    const std::string files[] = {
        riff(format + chunk("LIST", "INFOabc") + chunk("data", pcm16({100, -200, 300, -400, 8192, -8192}))),
        riff(chunk("fmt ", fmtBody(1, 1, 8000, 24)) + chunk("data", std::string("\x00\x00\x20\x00\x00\xE0", 6))),
        riff(chunk("fmt ", fmtBody(3, 1, 44100, 32)) + chunk("data", floats({0.5f, -0.25f, 1.5f}))),
        riff(chunk("fmt ", extensibleBody(1, 1, 8000, 16)) + chunk("data", pcm16({-16384}))),
        riff(format) + "data" + le32(1000) + pcm16({100, 200, 300}),  // cut off in its second frame
        riff(format + "LIST" + le32(100) + "INFO" + chunk("data", pcm16({1}))),
        riff(chunk("fmt ", fmtBody(1, 1, 8000, 8)) + chunk("data", pcm16({1, 2}))),
        riff(chunk("data", pcm16({1, 2})) + format),
        "RIFF" + le32(4) + "AVI ",
        riff(format),
    };
    for (const std::string& file : files) {
        AudioBuffer whole;
        const bool readable = ReadWav(file, whole);
        for (size_t block : {size_t{1}, size_t{3}, size_t{7}, size_t{64}, file.size()}) {
            SCOPED_TRACE("file of " + std::to_string(file.size()) + " bytes in blocks of " + std::to_string(block));
            int rate = 0, channels = 0;
            uint64_t frames = 0;
            std::vector<float> samples;
            WavStream stream(
                file.size(), [&](int r, int c, uint64_t f) { rate = r, channels = c, frames = f; },
                [&](const float* given, size_t count) { samples.insert(samples.end(), given, given + count); });
            bool going = true;
            for (size_t at = 0; going && at < file.size(); at += block)
                going = stream.add(reinterpret_cast<const unsigned char*>(file.data()) + at,
                                   std::min(block, file.size() - at));
            EXPECT_EQ(going && stream.complete(), readable);
            if (!readable) continue;
            EXPECT_EQ(rate, whole.rate);
            EXPECT_EQ(channels, whole.channels);
            EXPECT_EQ(frames, whole.frames());
            EXPECT_EQ(samples, whole.samples);
        }
    }
}

// The 16-bit value of sample `index` in a file WriteWav made.
int writtenSample(const std::string& file, size_t index) {
    size_t at = 44 + 2 * index;
    return static_cast<int16_t>(static_cast<unsigned char>(file[at]) | (static_cast<unsigned char>(file[at + 1]) << 8));
}

TEST(WavWriter, AFortyFourByteHeader) {
    AudioBuffer audio;
    audio.rate = 22050;
    audio.channels = 2;
    audio.samples = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    std::string file = WriteWav(audio);
    ASSERT_EQ(file.size(), 44u + 12u);
    std::string expected = "RIFF" + le32(36 + 12) + "WAVEfmt " + le32(16) + le16(1) + le16(2) + le32(22050) +
                           le32(22050 * 4) + le16(4) + le16(16) + "data" + le32(12);
    EXPECT_EQ(file.substr(0, 44), expected);
}

TEST(WavWriter, TheDitherRestartsFromItsSeedInEveryFile) {
    AudioBuffer audio;
    audio.rate = 8000;
    audio.channels = 1;
    // 0.4 of a step: the dither decides whether a sample rounds up.
    audio.samples.assign(12, static_cast<float>(0.4 / 32767));
    std::string first = WriteWav(audio);
    std::vector<int> values;
    for (size_t i = 0; i < 12; ++i) values.push_back(writtenSample(first, i));
    EXPECT_EQ(values, (std::vector<int>{0, 1, 1, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    EXPECT_EQ(WriteWav(audio), first);
}

TEST(WavWriter, FullScaleStaysInRange) {
    AudioBuffer audio;
    audio.rate = 8000;
    audio.channels = 1;
    for (int i = 0; i < 500; ++i) {
        audio.samples.push_back(1.0f);
        audio.samples.push_back(-1.0f);
        audio.samples.push_back(3.0f);
        audio.samples.push_back(-3.0f);
    }
    audio.samples.push_back(std::numeric_limits<float>::infinity());
    audio.samples.push_back(-std::numeric_limits<float>::infinity());
    audio.samples.push_back(std::numeric_limits<float>::quiet_NaN());
    std::string file = WriteWav(audio);
    for (size_t i = 0; i < 2000; i += 4) {
        EXPECT_GE(writtenSample(file, i), 32766);
        EXPECT_LE(writtenSample(file, i + 1), -32766);
        EXPECT_EQ(writtenSample(file, i + 2), 32767);
        EXPECT_EQ(writtenSample(file, i + 3), -32768);
    }
    EXPECT_EQ(writtenSample(file, 2000), 32767);
    EXPECT_EQ(writtenSample(file, 2001), -32768);
    EXPECT_EQ(writtenSample(file, 2002), 0) << "a sample that is no number is written as silence";
}

TEST(WavWriter, WhatItWritesReadsBackWithinTheDither) {
    AudioBuffer audio;
    audio.rate = 44100;
    audio.channels = 2;
    for (int i = 0; i < 4410; ++i) {
        audio.samples.push_back(static_cast<float>(0.8 * std::sin(i * 0.0627)));
        audio.samples.push_back(static_cast<float>(0.3 * std::cos(i * 0.311) - 0.2));
    }
    AudioBuffer back = read(WriteWav(audio));
    EXPECT_EQ(back.rate, 44100);
    EXPECT_EQ(back.channels, 2);
    ASSERT_EQ(back.samples.size(), audio.samples.size());
    double worst = 0;
    for (size_t i = 0; i < audio.samples.size(); ++i) worst = std::max(worst, std::fabs(back.samples[i] - audio.samples[i]) * 32768.0);
    // Rounding (half a step), dither (under a step) and the 32767-to-32768 scale (under a step).
    EXPECT_LT(worst, 2.5);
    EXPECT_GT(worst, 0.5) << "the dither moves samples by more than rounding alone";
}

TEST(WavWriter, ALongSoundIsWrittenInBlocksThatAllReadBack) {
    AudioBuffer audio;
    audio.rate = 48000;
    audio.channels = 2;
    for (int i = 0; i < 300002; ++i) audio.samples.push_back(static_cast<float>((i % 60000) / 30000.0 - 1.0));
    std::vector<size_t> blocks;
    std::string file;
    ASSERT_TRUE(WriteWav(audio, [&](const unsigned char* data, size_t size) {
        blocks.push_back(size);
        file.append(reinterpret_cast<const char*>(data), size);
        return true;
    }));
    EXPECT_EQ(blocks, (std::vector<size_t>{44, 262144, 262144, 75716}));
    EXPECT_EQ(file, WriteWav(audio));
    AudioBuffer back = read(file);
    ASSERT_EQ(back.samples.size(), audio.samples.size());
    size_t astray = 0;
    for (size_t i = 0; i < audio.samples.size(); ++i) astray += std::fabs(back.samples[i] - audio.samples[i]) * 32768.0 > 2.5;
    EXPECT_EQ(astray, 0u);

    // A write that fails stops the writing there.
    int calls = 0;
    EXPECT_FALSE(WriteWav(audio, [&](const unsigned char*, size_t) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

// Files that sox wrote read exactly as sox reads them back.
TEST(WavFiles, EveryLayoutSoxWritesReadsAsSoxReadsIt) {
    std::vector<AudioFixture> fixtures = testing::audioFixtures("wav");
    ASSERT_GE(fixtures.size(), 6u) << "the flac_files fixture (tests/audio/make-audio-fixtures) hasn't run";
    for (const AudioFixture& fixture : fixtures) {
        SCOPED_TRACE(fixture.name);
        AudioBuffer audio;
        ASSERT_TRUE(ReadWav(testing::audioFixtureBytes(fixture.name + ".wav"), audio));
        EXPECT_EQ(audio.rate, fixture.rate);
        EXPECT_EQ(audio.channels, fixture.channels);
        std::vector<float> expected = testing::referenceSamples(fixture);
        ASSERT_EQ(audio.samples.size(), expected.size());
        ASSERT_GT(expected.size(), 1000u);
        size_t differing = 0;
        for (size_t i = 0; i < expected.size(); ++i) differing += audio.samples[i] != expected[i];
        EXPECT_EQ(differing, 0u);
    }
}

TEST(WavFiles, EightBitAndDoublePrecisionFilesAreRefused) {
    for (const char* name : {"wav_unsigned8.wav", "wav_float64.wav"}) {
        std::string bytes = testing::audioFixtureBytes(name);
        ASSERT_GT(bytes.size(), 100u) << name;
        AudioBuffer audio;
        EXPECT_FALSE(ReadWav(bytes, audio)) << name;
    }
}

}  // namespace
}  // namespace vorlane
