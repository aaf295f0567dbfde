#include "core/transfer_meter.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace vorlane {

namespace {

// The speed is what came over this long (smoothing out a server's bursts and
// pauses), and is shown once the bytes have come for at least the second span.
constexpr unsigned long long kSpeedWindowMs = 5000;
constexpr unsigned long long kLeastSpanMs = 1000;

// The unit a size is shown in: KB under 1 MB, else MB.
struct SizeUnit {
    long long bytes;
    const wchar_t* name;
};

SizeUnit unitFor(long long bytes, long long kilo) {
    return bytes < kilo * kilo ? SizeUnit{kilo, L"KB"} : SizeUnit{kilo * kilo, L"MB"};
}

std::wstring speedInWords(double perSecond, long long kilo) {
    const SizeUnit unit = unitFor((long long)perSecond, kilo);
    const double value = perSecond / double(unit.bytes);
    wchar_t text[64];
    if (unit.bytes == kilo || value >= 100)
        return groupedDigits((unsigned long long)value) + L" " + unit.name + L"/s";
    swprintf(text, 64, L"%.1f %ls/s", std::floor(value * 10) / 10, unit.name);
    return text;
}

}  // namespace

std::wstring groupedDigits(unsigned long long number) {
    std::wstring digits = std::to_wstring(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, L",");
    return digits;
}

std::wstring sizeInWords(long long bytes, long long kilo) {
    bytes = std::max(0LL, bytes);
    const SizeUnit unit = unitFor(bytes, kilo);
    return groupedDigits((unsigned long long)(bytes / unit.bytes)) + L" " + unit.name;
}

std::wstring timeLeftInWords(long long seconds) {
    seconds = std::max(1LL, seconds);
    if (seconds < 60) return L"about " + std::to_wstring(seconds) + L" s left";
    long long minutes = (seconds + 30) / 60;
    if (minutes < 60) return L"about " + std::to_wstring(minutes) + L" min left";
    const long long hours = minutes / 60;
    minutes %= 60;
    return L"about " + std::to_wstring(hours) + L" h" + (minutes ? L" " + std::to_wstring(minutes) + L" min" : L"") +
           L" left";
}

TransferMeter::TransferMeter(long long alreadyHad, long long kilo, Clock clock)
    : alreadyHad_(std::max(0LL, alreadyHad)), kilo_(kilo), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return (unsigned long long)GetTickCount64(); };
}

std::wstring TransferMeter::update(long long done, long long expected) {
    // A server that sends the whole file again, range or not, starts this run from nothing.
    if (done < alreadyHad_) {
        alreadyHad_ = 0;
        samples_.clear();
    }
    const long long fetched = done - alreadyHad_;
    const long long toFetch = expected > 0 ? std::max(fetched, expected - alreadyHad_) : 0;

    const unsigned long long now = clock_();
    if (!samples_.empty() && samples_.back().bytes > fetched) samples_.clear();
    // Reports within one tick of the clock make one sample.
    if (!samples_.empty() && samples_.back().ms == now)
        samples_.back().bytes = fetched;
    else
        samples_.push_back(Sample{now, fetched});
    // One sample at or before the window's start stays, so the window is always whole.
    while (samples_.size() > 2 && samples_[1].ms + kSpeedWindowMs <= now) samples_.pop_front();

    std::wstring words;
    if (toFetch > 0) {
        const SizeUnit total = unitFor(toFetch, kilo_);
        const SizeUnit part = unitFor(fetched, kilo_);
        words = part.bytes == total.bytes ? groupedDigits((unsigned long long)(fetched / part.bytes))
                                          : sizeInWords(fetched, kilo_);
        words += L" of " + sizeInWords(toFetch, kilo_);
    } else {
        words = sizeInWords(fetched, kilo_);
    }
    const double speed = bytesPerSecond();
    if (speed <= 0) return words;
    words += L", " + speedInWords(speed, kilo_);
    if (toFetch > 0 && fetched < toFetch)
        words += L", " + timeLeftInWords((long long)std::ceil(double(toFetch - fetched) / speed));
    return words;
}

double TransferMeter::bytesPerSecond() const {
    if (samples_.size() < 2) return 0;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const unsigned long long span = last.ms - first.ms;
    if (span < kLeastSpanMs) return 0;
    return double(last.bytes - first.bytes) * 1000.0 / double(span);
}

}  // namespace vorlane
