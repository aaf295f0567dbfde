// How a download is going, in words for the player: what has come of what this
// run must fetch, how fast it comes, and about how long the rest takes
// ("312 of 1,024 MB, 24.5 MB/s, about 30 s left").
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace vorlane {

// A size for the player: under 1 MB in whole KB ("640 KB"), else in whole MB
// with commas between thousands ("1,024 MB"). A KB is `kilo` bytes and a MB
// `kilo` KB: 1024 for what the build servers send (as every "MB" of the
// launcher's own sentences counts), 1000 for model files.
std::wstring sizeInWords(long long bytes, long long kilo = 1024);

// A number with commas between thousands: 1234567 -> "1,234,567".
std::wstring groupedDigits(unsigned long long number);

// "about 30 s left", "about 4 min left", "about 1 h 5 min left", "about 2 h left".
std::wstring timeLeftInWords(long long seconds);

class TransferMeter {
public:
    // Milliseconds from a fixed start; GetTickCount64 unless a test gives its own.
    using Clock = std::function<unsigned long long()>;

    // alreadyHad: the bytes on disk before this run (a download carried on), which
    // this run doesn't fetch and whose time isn't counted.
    explicit TransferMeter(long long alreadyHad = 0, long long kilo = 1024, Clock clock = {});

    // done and expected as a download counts them (the bytes already had
    // included; expected 0 while unknown). Gives the words for the status line:
    // "312 of 1,024 MB, 24.5 MB/s, about 30 s left"; without a total "312 MB, ...";
    // the speed and time left only once the bytes have come for a second.
    std::wstring update(long long done, long long expected);

    // Bytes a second over the last few seconds; 0 while not yet known.
    double bytesPerSecond() const;

private:
    struct Sample {
        unsigned long long ms;
        long long bytes;
    };
    long long alreadyHad_;
    long long kilo_;
    Clock clock_;
    std::deque<Sample> samples_;
};

}  // namespace vorlane
