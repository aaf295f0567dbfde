// FLAC decoding: streams from the reference encoder sample for sample, the rare
// codings built by hand, and damaged streams with the sentence for each.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/audio_fixtures.h"
#include "support/flac_writer.h"
#include "media/bit_reader.h"
#include "media/flac_decoder.h"

namespace vorlane {
namespace {

using testing::BitWriter;
using testing::flacFrame;
using testing::flacStart;
using testing::FrameCodes;
using testing::subframeHeader;

const std::string kNotFlac = "it isn't a FLAC file";
const std::string kCutShort = "it's cut short";
const std::string kNoStreamInfo = "its stream information is missing or damaged";
const std::string kDamaged = "a frame of it is damaged";
const std::string kMixed = "its frames don't all have the same rate, channels and sample size";
const std::string kTooLong = "it's more than twenty minutes long";
const std::string kNoSound = "there's no sound in it";

// The decoder's sentence; a failure must leave the buffer empty.
std::string sentenceFor(const std::string& bytes) {
    AudioBuffer audio;
    audio.rate = 1;
    audio.channels = 1;
    audio.samples = {0.5f};
    std::string sentence = DecodeFlac(bytes, audio);
    if (!sentence.empty()) {
        EXPECT_TRUE(audio.samples.empty() && audio.rate == 0 && audio.channels == 0) << sentence;
    }
    return sentence;
}

AudioBuffer decoded(const std::string& bytes) {
    AudioBuffer audio;
    EXPECT_EQ(DecodeFlac(bytes, audio), "");
    return audio;
}

// Samples of `bits` bits as the decoder scales them.
std::vector<float> scaled(const std::vector<int64_t>& values, unsigned bits) {
    std::vector<float> samples;
    for (int64_t value : values) samples.push_back(static_cast<float>(static_cast<double>(value) / std::ldexp(1.0, bits - 1)));
    return samples;
}

TEST(FlacBitReader, RiceCodesReadAlikeInOneLoadOrBitByBit) {
    // Codes of every parameter and of short and long quotients, so some fit in one load and some don't, and the last
    // ones lie in the final bytes where only the bit-by-bit reading may go.
    std::vector<std::pair<unsigned, uint64_t>> codes;  // parameter, folded value
    BitWriter w;
    for (unsigned parameter = 1; parameter <= 30; ++parameter)
        for (uint64_t quotient : {0, 1, 7, 40, 56, 57, 63, 64, 100}) {
            const uint64_t folded = (quotient << parameter) | ((0x5A5A5A5Au * parameter) & ((1u << parameter) - 1));
            codes.emplace_back(parameter, folded);
            w.unary(static_cast<unsigned>(quotient)).bits(folded & ((1u << parameter) - 1), parameter);
        }
    const std::string& data = w.data();
    BitReader reader(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    size_t inOneLoad = 0;
    for (auto [parameter, folded] : codes) {
        uint64_t quotient = 0, low = 0;
        if (reader.riceInOneLoad(parameter, quotient, low))
            ++inOneLoad;
        else
            quotient = reader.unary(), low = reader.bits(parameter);
        ASSERT_EQ((quotient << parameter) | low, folded) << "parameter " << parameter;
    }
    EXPECT_FALSE(reader.exhausted());
    EXPECT_GT(inOneLoad, codes.size() / 3);
    EXPECT_LT(inOneLoad, codes.size() - 10);
}

FrameCodes block(unsigned size) {
    FrameCodes codes;
    codes.blockSize = size;
    codes.blockCode = size <= 256 ? 6 : 7;
    return codes;
}

std::string constantFrame(FrameCodes codes, int64_t value, unsigned bits = 16) {
    return flacFrame(codes, [&](BitWriter& w) {
        subframeHeader(w, 0);
        w.signedBits(value, bits);
    });
}

// ---- Streams built by hand ----

TEST(FlacDecoder, ConstantAndVerbatimSubframesWithWastedBits) {
    std::string stream = flacStart(44100, 1, 16);
    stream += flacFrame(block(4), [](BitWriter& w) {
        subframeHeader(w, 0, 2);  // 14 bits stored, shifted left by 2
        w.signedBits(-3, 14);
    });
    stream += flacFrame(block(3), [](BitWriter& w) {
        subframeHeader(w, 1, 3);
        w.signedBits(4095, 13).signedBits(-4096, 13).signedBits(1, 13);
    });
    AudioBuffer audio = decoded(stream);
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.samples, scaled({-12, -12, -12, -12, 32760, -32768, 8}, 16));
}

TEST(FlacDecoder, FixedPredictorsOfEveryOrderExtendTheirPolynomials) {
    // Warm-up samples on a polynomial of the predictor's degree and zero
    // residuals continue the polynomial; order 0 takes residuals as samples.
    struct Case {
        unsigned order;
        std::vector<int64_t> warmUp;
        std::vector<int64_t> residuals;
        std::vector<int64_t> expected;
    };
    std::vector<Case> cases = {
        {0, {}, {5, -7, 0, 1}, {5, -7, 0, 1}},
        {1, {5}, {1, 1, -3}, {5, 6, 7, 4}},
        {2, {1, 2}, {0, 0, 10}, {1, 2, 3, 4, 15}},
        {3, {0, 1, 4}, {0, 0}, {0, 1, 4, 9, 16}},
        {4, {0, 1, 8, 27}, {0, 0, -1}, {0, 1, 8, 27, 64, 125, 215}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        std::string stream = flacStart(8000, 1, 16) + flacFrame(block(static_cast<unsigned>(c.expected.size())), [&](BitWriter& w) {
                                 subframeHeader(w, 8 + c.order);
                                 for (int64_t value : c.warmUp) w.signedBits(value, 16);
                                 w.bits(0, 2).bits(0, 4).bits(3, 4);  // 4-bit Rice parameters, one partition, parameter 3
                                 for (int64_t residual : c.residuals) w.rice(residual, 3);
                             });
        EXPECT_EQ(decoded(stream).samples, scaled(c.expected, 16));
    }
}

// A first partition exactly as long as the predictor's order holds only its Rice parameter: the format allows it
// and the reference decoder reads it, though the reference encoder never writes one.
TEST(FlacDecoder, AFirstPartitionAsLongAsTheOrderHoldsNoResiduals) {
    // FIXED order 4 over 16 samples in four partitions of 4: the first is all warm-up. The cubic n^3 goes on
    // but for a residual of 5 at sample 9 and of -3 at sample 14.
    const std::string stream = flacStart(8000, 1, 16) + flacFrame(block(16), [](BitWriter& w) {
                                   subframeHeader(w, 8 + 4);
                                   for (int64_t value : {0, 1, 8, 27}) w.signedBits(value, 16);
                                   w.bits(0, 2).bits(2, 4);  // 4-bit Rice parameters, partition order 2
                                   w.bits(7, 4);             // the first partition: a parameter, no residuals
                                   const int64_t residuals[12] = {0, 0, 0, 0, 0, 5, 0, 0, 0, 0, -3, 0};
                                   for (int partition = 1; partition < 4; ++partition) {
                                       w.bits(partition, 4);
                                       for (int i = 0; i < 4; ++i) w.rice(residuals[(partition - 1) * 4 + i], partition);
                                   }
                               });
    EXPECT_EQ(decoded(stream).samples,
              scaled({0, 1, 8, 27, 64, 125, 216, 343, 512, 734, 1020, 1381, 1828, 2372, 3021, 3783}, 16));
}

TEST(FlacDecoder, LpcPredictionShiftsTowardsMinusInfinity) {
    // One coefficient of 3 with a shift of 1: each sample is 1.5 times the one before, rounded down.
    auto lpcStream = [](int64_t warmUp) {
        return flacStart(8000, 1, 16) + flacFrame(block(6), [&](BitWriter& w) {
                   subframeHeader(w, 31 + 1);
                   w.signedBits(warmUp, 16);
                   w.bits(3 - 1, 4).signedBits(1, 5).signedBits(3, 3);  // precision 3 bits, shift 1, coefficient 3
                   w.bits(0, 2).bits(0, 4).bits(0, 4);
                   for (int i = 0; i < 5; ++i) w.rice(0, 0);
               });
    };
    EXPECT_EQ(decoded(lpcStream(8)).samples, scaled({8, 12, 18, 27, 40, 60}, 16));
    EXPECT_EQ(decoded(lpcStream(-8)).samples, scaled({-8, -12, -18, -27, -41, -62}, 16));
}

TEST(FlacDecoder, AnOrder32PredictorReachesBackThirtyTwoSamples) {
    // Only the 32nd coefficient is set (8192 with a shift of 13: one): the
    // warm-up repeats, plus the residuals.
    std::vector<int64_t> expected;
    std::string stream = flacStart(8000, 1, 16) + flacFrame(block(40), [&](BitWriter& w) {
                             subframeHeader(w, 31 + 32);
                             for (int i = 0; i < 32; ++i) {
                                 w.signedBits(i * 100 - 1600, 16);
                                 expected.push_back(i * 100 - 1600);
                             }
                             w.bits(15 - 1, 4).signedBits(13, 5);  // precision 15 bits, shift 13
                             for (int j = 0; j < 31; ++j) w.signedBits(0, 15);
                             w.signedBits(8192, 15);
                             w.bits(0, 2).bits(0, 4).bits(2, 4);
                             for (int i = 32; i < 40; ++i) {
                                 w.rice(i - 32, 2);
                                 expected.push_back(expected[i - 32] + (i - 32));
                             }
                         });
    EXPECT_EQ(decoded(stream).samples, scaled(expected, 16));
}

TEST(FlacDecoder, EscapedPartitionsHoldPlainNumbers) {
    std::vector<int64_t> expected = {-16, 15, 0, 7, -1, 3, 9, -9,  // escaped, 5 bits each
                                     40, -41, 0, 1, 2, 3, -4, 5,   // Rice, parameter 3
                                     0, 0, 0, 0, 0, 0, 0, 0,        // escaped, 0 bits: all zero
                                     1000, -1000, 77, 0, -5, 1234, 2, -2};  // 5-bit parameter 20
    // FIXED order 0 takes residuals as samples. The first frame has 4-bit
    // Rice parameters, the second 5-bit ones.
    std::string first = flacFrame(block(16), [&](BitWriter& w) {
        subframeHeader(w, 8);
        w.bits(0, 2).bits(1, 4);
        w.bits(15, 4).bits(5, 5);
        for (int i = 0; i < 8; ++i) w.signedBits(expected[i], 5);
        w.bits(3, 4);
        for (int i = 8; i < 16; ++i) w.rice(expected[i], 3);
    });
    std::string second = flacFrame(block(16), [&](BitWriter& w) {
        subframeHeader(w, 8);
        w.bits(1, 2).bits(1, 4);
        w.bits(31, 5).bits(0, 5);
        w.bits(20, 5);
        for (int i = 24; i < 32; ++i) w.rice(expected[i], 20);
    });
    EXPECT_EQ(decoded(flacStart(8000, 1, 16) + first + second).samples, scaled(expected, 16));
}

TEST(FlacDecoder, EveryStereoDecorrelation) {
    std::vector<int64_t> left = {1000, -5, 32767, -32768, 3};
    std::vector<int64_t> right = {-1000, 7, -32768, 32767, 3};
    std::vector<int64_t> side, mid, interleaved;
    for (size_t i = 0; i < left.size(); ++i) {
        side.push_back(left[i] - right[i]);
        mid.push_back((left[i] + right[i]) >> 1);
        interleaved.push_back(left[i]);
        interleaved.push_back(right[i]);
    }
    struct Mode {
        unsigned code;
        const std::vector<int64_t>* first;
        unsigned firstBits;
        const std::vector<int64_t>* second;
        unsigned secondBits;
    };
    for (Mode mode : {Mode{1, &left, 16, &right, 16}, Mode{8, &left, 16, &side, 17}, Mode{9, &side, 17, &right, 16},
                      Mode{10, &mid, 16, &side, 17}}) {
        SCOPED_TRACE(mode.code);
        FrameCodes codes = block(5);
        codes.channelCode = mode.code;
        std::string stream = flacStart(44100, 2, 16) + flacFrame(codes, [&](BitWriter& w) {
                                 subframeHeader(w, 1);
                                 for (int64_t value : *mode.first) w.signedBits(value, mode.firstBits);
                                 subframeHeader(w, 1);
                                 for (int64_t value : *mode.second) w.signedBits(value, mode.secondBits);
                             });
        AudioBuffer audio = decoded(stream);
        EXPECT_EQ(audio.channels, 2);
        EXPECT_EQ(audio.samples, scaled(interleaved, 16));
    }
}

TEST(FlacDecoder, ThirtyTwoBitStereoWithA33BitSideChannel) {
    int64_t low = -2147483648LL, high = 2147483647LL;
    FrameCodes codes = block(2);
    codes.channelCode = 8;  // left/side
    codes.sizeCode = 7;
    std::string stream = flacStart(48000, 2, 32) + flacFrame(codes, [&](BitWriter& w) {
                             subframeHeader(w, 1);
                             w.signedBits(low, 32).signedBits(high, 32);
                             subframeHeader(w, 1);
                             w.signedBits(low - high, 33).signedBits(high - low, 33);
                         });
    EXPECT_EQ(decoded(stream).samples, scaled({low, high, high, low}, 32));

    codes.channelCode = 10;  // mid/side, with a FIXED predictor over 33-bit side samples
    stream = flacStart(48000, 2, 32) + flacFrame(codes, [&](BitWriter& w) {
                 subframeHeader(w, 1);
                 w.signedBits((low + high) >> 1, 32).signedBits((high + low) >> 1, 32);
                 subframeHeader(w, 8 + 1);
                 w.signedBits(low - high, 33);
                 w.bits(1, 2).bits(0, 4).bits(31, 5).bits(0, 5);  // an escaped partition of 0-bit residuals
             });
    // Left and right repeat: mid -1 and side low - high rebuild them.
    EXPECT_EQ(decoded(stream).samples, scaled({low, high, low, high}, 32));
}

TEST(FlacDecoder, EveryWayAHeaderGivesBlockSizeRateAndNumber) {
    std::string stream = flacStart(48000, 1, 16);
    std::vector<std::pair<unsigned, unsigned>> blockCodes = {{1, 192}, {2, 576}, {5, 4608}, {6, 17}, {7, 300}, {8, 256}, {15, 32768}};
    std::vector<std::pair<unsigned, unsigned>> rateCodes = {{0, 0}, {10, 0}, {12, 48}, {13, 48000}, {14, 4800}};
    size_t expected = 0;
    uint64_t number = 0;
    for (size_t i = 0; i < blockCodes.size(); ++i) {
        FrameCodes codes;
        codes.blockCode = blockCodes[i].first;
        codes.blockSize = blockCodes[i].second;
        codes.rateCode = rateCodes[i % rateCodes.size()].first;
        codes.rateValue = rateCodes[i % rateCodes.size()].second;
        codes.sizeCode = i % 2 ? 4 : 0;
        codes.variableBlockSize = true;
        codes.number = number << 32;  // sample numbers up to seven bytes long
        stream += constantFrame(codes, static_cast<int64_t>(i));
        expected += codes.blockSize;
        number += 1;
    }
    AudioBuffer audio = decoded(stream);
    EXPECT_EQ(audio.rate, 48000);
    EXPECT_EQ(audio.samples.size(), expected);
}

TEST(FlacDecoder, FourBitSamplesAreTheSmallestAccepted) {
    std::string stream = flacStart(8000, 1, 4) + constantFrame(block(2), -8, 4);
    EXPECT_EQ(decoded(stream).samples, (std::vector<float>{-1.0f, -1.0f}));
    EXPECT_EQ(sentenceFor(flacStart(8000, 1, 3) + constantFrame(block(2), -4, 3)), kNoStreamInfo);
}

TEST(FlacDecoder, NotAFlacFile) {
    EXPECT_EQ(sentenceFor(""), kNotFlac);
    EXPECT_EQ(sentenceFor("fLaC"), kNotFlac);
    EXPECT_EQ(sentenceFor(std::string("fLaC\x80\0\0", 7)), kNotFlac);
    EXPECT_EQ(sentenceFor("RIFF\x24\0\0\0WAVEfmt "), kNotFlac);
    EXPECT_EQ(sentenceFor("ID3\x04" + flacStart(44100, 1, 16)), kNotFlac);
    EXPECT_EQ(sentenceFor("flac" + flacStart(44100, 1, 16).substr(4)), kNotFlac);
}

TEST(FlacDecoder, StreamInformationMissingOrDamaged) {
    std::string frame = constantFrame(block(16), 1);
    EXPECT_EQ(sentenceFor(flacStart(0, 1, 16) + frame), kNoStreamInfo);
    EXPECT_EQ(sentenceFor(flacStart(44100, 1, 1) + frame), kNoStreamInfo);
    // Only a padding block.
    EXPECT_EQ(sentenceFor("fLaC" + std::string("\x81\x00\x00\x0A", 4) + std::string(10, '\0') + frame), kNoStreamInfo);
    // A STREAMINFO block one byte too short.
    std::string info = flacStart(44100, 1, 16).substr(8, 33);
    EXPECT_EQ(sentenceFor("fLaC" + std::string("\x80\x00\x00\x21", 4) + info + frame), kNoStreamInfo);
    // Padding first, then STREAMINFO, is fine.
    std::string padded = "fLaC" + std::string("\x01\x00\x00\x03", 4) + std::string(3, '\0') + flacStart(44100, 1, 16).substr(4);
    EXPECT_EQ(sentenceFor(padded + frame), "");
}

TEST(FlacDecoder, MoreThanTwoChannels) {
    std::string frame = constantFrame(block(16), 1);
    EXPECT_EQ(sentenceFor(flacStart(44100, 3, 16) + frame), "it has 3 channels, not one or two");
    EXPECT_EQ(sentenceFor(flacStart(44100, 8, 16)), "it has 8 channels, not one or two");
}

TEST(FlacDecoder, MetadataRunningPastTheEnd) {
    std::string start = flacStart(44100, 1, 16);
    EXPECT_EQ(sentenceFor(start.substr(0, 20)), kCutShort);
    EXPECT_EQ(sentenceFor(start.substr(0, 9)), kCutShort);
    EXPECT_EQ(sentenceFor(flacStart(44100, 1, 16, 0, false)), kCutShort) << "no last block, and nothing after it";
    EXPECT_EQ(sentenceFor(flacStart(44100, 1, 16, 0, false) + std::string("\x84\xFF\xFF\xFF", 4) + "tags"), kCutShort);
}

TEST(FlacDecoder, OnlyMetadataIsNoSound) {
    EXPECT_EQ(sentenceFor(flacStart(44100, 2, 16)), kNoSound);
    EXPECT_EQ(sentenceFor(flacStart(44100, 2, 16, 0, false) + std::string("\x81\x00\x10\x00", 4) + std::string(4096, '\0')),
              kNoSound);
}

TEST(FlacDecoder, ALyingSampleCountChangesNothing) {
    // STREAMINFO claims 2^36 - 1 samples at the highest rate; the stream holds 16.
    AudioBuffer audio = decoded(flacStart(1048575, 2, 24, (uint64_t{1} << 36) - 1) + [] {
        FrameCodes codes = block(16);
        codes.channelCode = 1;
        return flacFrame(codes, [](BitWriter& w) {
            subframeHeader(w, 0);
            w.signedBits(5, 24);
            subframeHeader(w, 0);
            w.signedBits(-5, 24);
        });
    }());
    EXPECT_EQ(audio.rate, 1048575);
    EXPECT_EQ(audio.samples.size(), 32u);
}

TEST(FlacDecoder, TwentyMinutesAtMost) {
    // At 8 frames a second, twenty minutes are 9600 samples of one channel.
    std::string stream = flacStart(8, 1, 16) + constantFrame(block(4800), 1) + constantFrame(block(4800), 2);
    EXPECT_EQ(decoded(stream).samples.size(), 9600u);
    EXPECT_EQ(sentenceFor(stream + constantFrame(block(1), 3)), kTooLong);

    // Two channels at 4 frames a second: 9600 samples, 4800 frames.
    FrameCodes stereo = block(4800);
    stereo.channelCode = 1;
    std::string frame = flacFrame(stereo, [](BitWriter& w) {
        subframeHeader(w, 0);
        w.signedBits(1, 16);
        subframeHeader(w, 0);
        w.signedBits(1, 16);
    });
    EXPECT_EQ(decoded(flacStart(4, 2, 16) + frame).samples.size(), 9600u);
    EXPECT_EQ(sentenceFor(flacStart(4, 2, 16) + frame + frame), kTooLong);
}

TEST(FlacDecoder, FramesThatDifferFromTheStreamInformation) {
    std::string start = flacStart(44100, 1, 16);
    FrameCodes rate = block(16);
    rate.rateCode = 10;  // 48 kHz
    FrameCodes channels = block(16);
    channels.channelCode = 1;
    FrameCodes size = block(16);
    size.sizeCode = 6;  // 24 bits
    EXPECT_EQ(sentenceFor(start + constantFrame(rate, 1)), kMixed);
    EXPECT_EQ(sentenceFor(start + constantFrame(block(16), 1) + flacFrame(channels, [](BitWriter& w) {
                              subframeHeader(w, 0);
                              w.signedBits(1, 16);
                              subframeHeader(w, 0);
                              w.signedBits(1, 16);
                          })),
              kMixed);
    EXPECT_EQ(sentenceFor(start + constantFrame(size, 1, 24)), kMixed);

    // The same values written out in the header are no difference.
    FrameCodes same = block(16);
    same.rateCode = 9;  // 44.1 kHz
    same.sizeCode = 4;  // 16 bits
    EXPECT_EQ(sentenceFor(start + constantFrame(same, 1)), "");
}

// Frames with one thing wrong each, all in a mono 16-bit stream at 44.1 kHz.
TEST(FlacDecoder, DamagedFrames) {
    std::string start = flacStart(44100, 1, 16);
    auto withCodes = [](auto change) {
        FrameCodes codes = block(16);
        change(codes);
        return constantFrame(codes, 1);
    };
    auto withBody = [](unsigned size, auto body) { return flacFrame(block(size), body); };
    std::string good = constantFrame(block(16), 1);
    std::string badSync = good;
    badSync[1] = static_cast<char>(0xFA);  // the reserved bit after the sync code
    std::string noSync = good;
    noSync[0] = static_cast<char>(0xFE);
    std::string sevenByteNumber = std::string("\xFE\x80\x80\x80\x80\x80\x80", 7);

    struct Case {
        const char* what;
        std::string frame;
    };
    std::vector<Case> cases = {
        {"sync code", noSync},
        {"reserved bit after the sync code", badSync},
        {"reserved header bit", withCodes([](FrameCodes& c) { c.reservedBit = 1; })},
        {"block size code 0", withCodes([](FrameCodes& c) { c.blockCode = 0; })},
        {"rate code 15", withCodes([](FrameCodes& c) { c.rateCode = 15; })},
        {"channel code 11", withCodes([](FrameCodes& c) { c.channelCode = 11; })},
        {"channel code 15", withCodes([](FrameCodes& c) { c.channelCode = 15; })},
        {"sample size code 3", withCodes([](FrameCodes& c) { c.sizeCode = 3; })},
        {"number starting with a continuation byte", withCodes([](FrameCodes& c) { c.numberBytes = "\x80"; })},
        {"number with a bad continuation byte", withCodes([](FrameCodes& c) { c.numberBytes = "\xC2\x41"; })},
        {"number byte 0xFF", withCodes([](FrameCodes& c) { c.numberBytes = std::string(8, '\xFF'); })},
        {"seven-byte frame number", withCodes([&](FrameCodes& c) { c.numberBytes = sevenByteNumber; })},
        {"header CRC-8", flacFrame(block(16), [](BitWriter& w) { subframeHeader(w, 0); w.signedBits(1, 16); }, true)},
        {"frame CRC-16", flacFrame(block(16), [](BitWriter& w) { subframeHeader(w, 0); w.signedBits(1, 16); }, false, true)},
        {"subframe padding bit", withBody(16, [](BitWriter& w) { w.bits(1, 1).bits(0, 6).bits(0, 1).signedBits(1, 16); })},
        {"subframe type 2", withBody(16, [](BitWriter& w) { subframeHeader(w, 2); w.signedBits(1, 16); })},
        {"subframe type 4", withBody(16, [](BitWriter& w) { subframeHeader(w, 4); w.signedBits(1, 16); })},
        {"FIXED order 5", withBody(16, [](BitWriter& w) { subframeHeader(w, 13); w.bits(0, 80); })},
        {"FIXED order 7", withBody(16, [](BitWriter& w) { subframeHeader(w, 15); w.bits(0, 80); })},
        {"subframe type 16", withBody(16, [](BitWriter& w) { subframeHeader(w, 16); w.signedBits(1, 16); })},
        {"subframe type 31", withBody(16, [](BitWriter& w) { subframeHeader(w, 31); w.signedBits(1, 16); })},
        {"residual coding 2", withBody(16, [](BitWriter& w) { subframeHeader(w, 8); w.bits(2, 2).bits(0, 4).bits(0, 32); })},
        {"residual coding 3", withBody(16, [](BitWriter& w) { subframeHeader(w, 8); w.bits(3, 2).bits(0, 4).bits(0, 32); })},
        {"partitions that don't divide the block", withBody(24, [](BitWriter& w) {
             subframeHeader(w, 8);
             w.bits(0, 2).bits(4, 4);
             for (int i = 0; i < 16; ++i) w.bits(0, 4).bits(0xFFFF, 16);
         })},
        {"partitions smaller than the order", withBody(16, [](BitWriter& w) {
             subframeHeader(w, 8 + 4);
             w.bits(0, 64).bits(0, 2).bits(3, 4);
             for (int i = 0; i < 8; ++i) w.bits(0, 4).bits(0xFF, 8);
         })},
        {"order above the block size", withBody(2, [](BitWriter& w) {
             subframeHeader(w, 8 + 3);
             w.bits(0, 48).bits(0, 2).bits(0, 4).bits(0, 4);
         })},
        {"LPC order above the block size", withBody(2, [](BitWriter& w) {
             subframeHeader(w, 31 + 3);
             w.bits(0, 48).bits(0, 4).bits(0, 5).bits(0, 3).bits(0, 2).bits(0, 4).bits(0, 4);
         })},
        {"LPC precision code 15", withBody(4, [](BitWriter& w) {
             subframeHeader(w, 31 + 1);
             w.signedBits(1, 16).bits(15, 4).signedBits(0, 5).bits(0, 16).bits(0, 2).bits(0, 4).bits(0, 4).bits(7, 3);
         })},
        {"LPC negative shift", withBody(4, [](BitWriter& w) {
             subframeHeader(w, 31 + 1);
             w.signedBits(1, 16).bits(3, 4).signedBits(-1, 5).signedBits(1, 4).bits(0, 2).bits(0, 4).bits(0, 4).bits(7, 3);
         })},
        {"a sample beyond 16 bits", withBody(3, [](BitWriter& w) {
             subframeHeader(w, 8 + 1);
             w.signedBits(32767, 16).bits(0, 2).bits(0, 4).bits(0, 4).rice(1, 0).rice(0, 0);
         })},
        {"all bits wasted", withBody(16, [](BitWriter& w) { subframeHeader(w, 0, 16); })},
        {"a residual beyond 32 bits", withBody(16, [](BitWriter& w) {
             subframeHeader(w, 8);
             w.bits(0, 2).bits(0, 4).bits(14, 4).unary((0xFFFFFFFFu >> 14) + 1).bits(0, 14);
             for (int i = 0; i < 15; ++i) w.rice(0, 14);
         })},
        {"padding bits that aren't zero", withBody(3, [](BitWriter& w) {
             subframeHeader(w, 1, 1);
             w.signedBits(1, 15).signedBits(2, 15).signedBits(3, 15).padToByte(1);
         })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(sentenceFor(start + c.frame), kDamaged);
        EXPECT_EQ(sentenceFor(start + good + c.frame + good), kDamaged) << "in the middle of the stream";
    }
    // A seven-byte number is a sample number of a variable-block-size stream.
    FrameCodes variable = block(16);
    variable.variableBlockSize = true;
    variable.numberBytes = sevenByteNumber;
    EXPECT_EQ(sentenceFor(start + constantFrame(variable, 1)), "");
}

TEST(FlacDecoder, FramesCutAnywhereAreCutShort) {
    std::string start = flacStart(44100, 1, 16);
    std::string frame = flacFrame(block(20), [](BitWriter& w) {
        subframeHeader(w, 8 + 2, 1);
        w.signedBits(100, 15).signedBits(-100, 15);
        w.bits(0, 2).bits(1, 4).bits(5, 4);
        for (int i = 0; i < 8; ++i) w.rice(i * 9 - 30, 5);
        w.bits(15, 4).bits(9, 5);
        for (int i = 0; i < 10; ++i) w.signedBits(i * 50 - 250, 9);
    });
    std::string good = constantFrame(block(16), 1);
    ASSERT_EQ(sentenceFor(start + frame), "");
    for (size_t length = 1; length < frame.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(sentenceFor(start + frame.substr(0, length)), kCutShort);
        EXPECT_EQ(sentenceFor(start + good + frame.substr(0, length)), kCutShort);
    }
}

// ---- Streams from the reference encoder ----

TEST(FlacFiles, EveryReferenceStreamDecodesToWhatFlacDecodes) {
    std::vector<testing::AudioFixture> fixtures = testing::audioFixtures("flac");
    ASSERT_GE(fixtures.size(), 100u) << "the flac_files fixture (tests/audio/make-audio-fixtures) hasn't run";
    for (const testing::AudioFixture& fixture : fixtures) {
        SCOPED_TRACE(fixture.name);
        AudioBuffer audio;
        ASSERT_EQ(DecodeFlac(testing::audioFixtureBytes(fixture.name + ".flac"), audio), "");
        EXPECT_EQ(audio.rate, fixture.rate);
        EXPECT_EQ(audio.channels, fixture.channels);
        std::vector<float> expected = testing::referenceSamples(fixture);
        ASSERT_EQ(audio.samples.size(), expected.size());
        size_t differing = 0, first = expected.size();
        for (size_t i = 0; i < expected.size(); ++i) {
            if (audio.samples[i] != expected[i]) {
                if (differing++ == 0) first = i;
            }
        }
        EXPECT_EQ(differing, 0u) << "first at sample " << first;
    }
}

TEST(FlacFiles, ThreeChannelsAndMetadataOnly) {
    EXPECT_EQ(sentenceFor(testing::audioFixtureBytes("three_channels.flac")), "it has 3 channels, not one or two");
    std::string metadataOnly = testing::audioFixtureBytes("metadata_only.flac");
    ASSERT_GT(metadataOnly.size(), 42u);
    EXPECT_EQ(sentenceFor(metadataOnly), kNoSound);
}

TEST(FlacFiles, FramesFromAnotherStreamDontMix) {
    auto frames = [](const std::string& name) {
        std::string file = testing::audioFixtureBytes(name + ".flac");
        return file.substr(testing::flacFramesOffset(file));
    };
    auto metadata = [](const std::string& name) {
        std::string file = testing::audioFixtureBytes(name + ".flac");
        return file.substr(0, testing::flacFramesOffset(file));
    };
    // Another sample size, another rate, another channel count; then at the end of a good stream.
    EXPECT_EQ(sentenceFor(metadata("bits16_stereo") + frames("bits24_stereo")), kMixed);
    EXPECT_EQ(sentenceFor(metadata("rate44100") + frames("rate48000")), kMixed);
    EXPECT_EQ(sentenceFor(metadata("level5_stereo") + frames("level5_mono")), kMixed);
    EXPECT_EQ(sentenceFor(metadata("level5_stereo") + frames("three_channels")), kMixed);
    EXPECT_EQ(sentenceFor(testing::audioFixtureBytes("bits16_stereo.flac") + frames("bits20_stereo")), kMixed);
}

TEST(FlacFiles, EveryFlippedBitInTheFramesIsCaught) {
    std::string file = testing::audioFixtureBytes("small_frames.flac");
    size_t frames = testing::flacFramesOffset(file);
    ASSERT_GT(frames, 0u);
    ASSERT_EQ(sentenceFor(file), "");
    // The CRCs catch every single flipped bit. Rarely a flip makes a frame
    // read on past the end of the file first, which is a cut.
    size_t flips = 0, damaged = 0;
    for (size_t bit = frames * 8; bit < file.size() * 8; bit += 5, ++flips) {
        std::string flipped = file;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (0x80 >> (bit % 8)));
        std::string sentence = sentenceFor(flipped);
        if (sentence == kDamaged)
            ++damaged;
        else if (sentence != kCutShort)
            ADD_FAILURE() << "bit " << bit << ": \"" << sentence << "\"";
    }
    EXPECT_GT(flips, 5000u);
    EXPECT_GT(damaged, flips * 98 / 100);
    // Bits in the first frames: a header, subframes.
    for (size_t at : {frames + 2, frames + 40, frames + 200}) {
        std::string flipped = file;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
        EXPECT_EQ(sentenceFor(flipped), kDamaged) << at;
    }
}

TEST(FlacFiles, CutsAreCutShortExceptBetweenFrames) {
    std::string file = testing::audioFixtureBytes("small_frames.flac");
    size_t frames = testing::flacFramesOffset(file);
    AudioBuffer whole = decoded(file);
    for (size_t length = 0; length < 8; ++length) EXPECT_EQ(sentenceFor(file.substr(0, length)), kNotFlac);
    for (size_t length = 8; length < frames; length += 7) EXPECT_EQ(sentenceFor(file.substr(0, length)), kCutShort);
    EXPECT_EQ(sentenceFor(file.substr(0, frames)), kNoSound);
    size_t cutShort = 0, frameEnds = 0;
    for (size_t length = frames + 1; length < file.size(); ++length) {
        AudioBuffer part;
        std::string sentence = DecodeFlac(file.substr(0, length), part);
        if (sentence.empty()) {
            // A cut between two frames leaves a shorter stream, the start of the whole.
            ++frameEnds;
            ASSERT_LT(part.samples.size(), whole.samples.size());
            EXPECT_TRUE(std::equal(part.samples.begin(), part.samples.end(), whole.samples.begin()));
        } else {
            ASSERT_EQ(sentence, kCutShort) << length;
            ++cutShort;
        }
    }
    EXPECT_GT(frameEnds, 10u);
    EXPECT_LT(frameEnds, 100u);
    EXPECT_EQ(cutShort + frameEnds, file.size() - frames - 1);
}

}  // namespace
}  // namespace vorlane
