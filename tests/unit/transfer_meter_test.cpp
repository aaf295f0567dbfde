// The words of a download's status line: sizes, speed and time left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/transfer_meter.h"

using namespace vorlane;

namespace {

constexpr long long KiB = 1024;
constexpr long long MiB = 1024 * 1024;

}  // namespace

TEST(TransferMeter, SizesInWords) {
    const struct {
        long long bytes;
        long long kilo;
        const wchar_t* words;
    } cases[] = {
        {0, 1024, L"0 KB"},
        {640 * KiB, 1024, L"640 KB"},
        {MiB - 1, 1024, L"1,023 KB"},
        {MiB, 1024, L"1 MB"},
        {1024 * MiB, 1024, L"1,024 MB"},
        {1234567 * MiB, 1024, L"1,234,567 MB"},
        {-5, 1024, L"0 KB"},
        {999999, 1000, L"999 KB"},
        {1000000, 1000, L"1 MB"},
        {2500000000LL, 1000, L"2,500 MB"},
    };
    for (const auto& c : cases) EXPECT_EQ(sizeInWords(c.bytes, c.kilo), c.words) << c.bytes;
}

TEST(TransferMeter, TimeLeftReadsNaturally) {
    const struct {
        long long seconds;
        const wchar_t* words;
    } cases[] = {
        {0, L"about 1 s left"},       {30, L"about 30 s left"},        {59, L"about 59 s left"},
        {60, L"about 1 min left"},    {240, L"about 4 min left"},      {269, L"about 4 min left"},
        {270, L"about 5 min left"},   {3569, L"about 59 min left"},    {3570, L"about 1 h left"},
        {3900, L"about 1 h 5 min left"}, {7200, L"about 2 h left"},    {90061, L"about 25 h 1 min left"},
    };
    for (const auto& c : cases) EXPECT_EQ(timeLeftInWords(c.seconds), c.words) << c.seconds;
}

// Each case feeds the meter (ms, done, expected) reports in turn and checks the words of the last.
TEST(TransferMeter, StatusTail) {
    struct Report {
        unsigned long long ms;
        long long done, expected;
    };
    const struct {
        const char* what;
        long long alreadyHad;
        std::vector<Report> reports;
        const wchar_t* words;
    } cases[] = {
        {"no speed before a second has passed", 0, {{0, 0, 1024 * MiB}, {500, 312 * MiB, 1024 * MiB}},
         L"312 of 1,024 MB"},
        {"speed and time left", 0,
         {{0, 0, 1024 * MiB}, {10000, 245 * MiB, 1024 * MiB}, {15000, 367 * MiB + 512 * KiB, 1024 * MiB}},
         L"367 of 1,024 MB, 24.5 MB/s, about 27 s left"},
        {"the speed of the last five seconds, not since the start", 0,
         {{0, 0, 1024 * MiB}, {10000, 10 * MiB, 1024 * MiB}, {15000, 60 * MiB, 1024 * MiB}},
         L"60 of 1,024 MB, 10.0 MB/s, about 2 min left"},
        {"minutes left", 0, {{0, 0, 1024 * MiB}, {2000, 2 * MiB, 1024 * MiB}}, L"2 of 1,024 MB, 1.0 MB/s, about 17 min left"},
        {"hours left", 0, {{0, 0, 4096 * MiB}, {4000, 4 * MiB, 4096 * MiB}}, L"4 of 4,096 MB, 1.0 MB/s, about 1 h 8 min left"},
        {"small files in KB, slow speeds in KB/s", 0, {{0, 0, 640 * KiB}, {2000, 200 * KiB, 640 * KiB}},
         L"200 of 640 KB, 100 KB/s, about 5 s left"},
        {"KB of MB", 0, {{0, 0, 2 * MiB}, {1000, 512 * KiB, 2 * MiB}}, L"512 KB of 2 MB, 512 KB/s, about 3 s left"},
        {"a carried-on download counts only what this run fetches", 700 * MiB,
         {{0, 700 * MiB, 1724 * MiB}, {4000, 798 * MiB, 1724 * MiB}}, L"98 of 1,024 MB, 24.5 MB/s, about 38 s left"},
        {"the whole file sent again counts from nothing", 700 * MiB,
         {{0, 0, 1024 * MiB}, {2000, 20 * MiB, 1024 * MiB}}, L"20 of 1,024 MB, 10.0 MB/s, about 2 min left"},
        {"no total known", 0, {{0, 0, 0}, {1000, 3 * MiB, 0}}, L"3 MB, 3.0 MB/s"},
        {"complete", 0, {{0, 0, 10 * MiB}, {1000, 10 * MiB, 10 * MiB}}, L"10 of 10 MB, 10.0 MB/s"},
        {"fast", 0, {{0, 0, 4096 * MiB}, {1000, 150 * MiB, 4096 * MiB}}, L"150 of 4,096 MB, 150 MB/s, about 27 s left"},
    };
    for (const auto& c : cases) {
        unsigned long long now = 0;
        TransferMeter meter(c.alreadyHad, 1024, [&] { return now; });
        std::wstring words;
        for (const Report& report : c.reports) {
            now = report.ms;
            words = meter.update(report.done, report.expected);
        }
        EXPECT_EQ(words, c.words) << c.what;
    }
}

TEST(TransferMeter, ModelFilesCountInThousands) {
    unsigned long long now = 0;
    TransferMeter meter(0, 1000, [&] { return now; });
    meter.update(0, 3000000000LL);
    now = 2000;
    EXPECT_EQ(meter.update(50000000, 3000000000LL), L"50 of 3,000 MB, 25.0 MB/s, about 2 min left");
}
