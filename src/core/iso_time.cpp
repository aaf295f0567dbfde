#include "core/iso_time.h"

#include <cwchar>

namespace vorlane {

namespace {

constexpr long long ticksPerSecond = 10000000;
constexpr long long secondsPerDay = 86400;

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// `count` ASCII digits at `at` as a number; false when the text ends first or one isn't a digit.
bool readDigits(const std::wstring& text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!isDigit(text[i])) return false;
        value = value * 10 + (text[i] - L'0');
    }
    return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, with years
// counted from March so that the leap day ends the year (146097 days per 400 years).
long long daysFromCivil(long long year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    long long year;
    int month;
    int day;
};

CivilDate civilFromDays(long long days) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthFromMarch = (5 * dayOfYear + 2) / 153;
    CivilDate date;
    date.day = (int)(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    date.month = (int)(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    date.year = yearOfEra + era * 400 + (date.month <= 2);
    return date;
}

long long floorDivide(long long value, long long divisor) {
    long long quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

// The seven digits of 100-ns units after the "." at `pos` (fewer are padded with
// zeros, more are skipped); `pos` ends after the last digit.
long long readFraction(const std::wstring& text, size_t& pos) {
    long long units = 0;
    int taken = 0;
    for (pos += 1; pos < text.size() && isDigit(text[pos]); ++pos) {
        if (taken == 7) continue;
        units = units * 10 + (text[pos] - L'0');
        ++taken;
    }
    for (; taken < 7; ++taken) units *= 10;
    return units;
}

// The zone from `pos` to the end of the text, as minutes to subtract from the
// local time: "Z" or "+hh:mm" / "-hh:mm" and nothing after it.
bool readZone(const std::wstring& text, size_t pos, long long& offsetMinutes) {
    if (pos + 1 == text.size() && text[pos] == L'Z') {
        offsetMinutes = 0;
        return true;
    }
    int hours = 0, minutes = 0;
    if (pos + 6 != text.size() || (text[pos] != L'+' && text[pos] != L'-')) return false;
    if (!readDigits(text, pos + 1, 2, hours) || text[pos + 3] != L':' || !readDigits(text, pos + 4, 2, minutes))
        return false;
    offsetMinutes = hours * 60 + minutes;
    if (text[pos] == L'-') offsetMinutes = -offsetMinutes;
    return true;
}

}  // namespace

long long parseIsoTime(const std::wstring& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second))
        return -1;
    if (text[4] != L'-' || text[7] != L'-' || text[10] != L'T' || text[13] != L':' || text[16] != L':') return -1;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return -1;

    size_t pos = 19;
    long long units = 0;
    if (pos + 1 < text.size() && text[pos] == L'.') units = readFraction(text, pos);
    long long offsetMinutes = 0;
    if (!readZone(text, pos, offsetMinutes)) return -1;

    const long long minutes = (daysFromCivil(year, month, day) * 24 + hour) * 60 + minute - offsetMinutes;
    return (minutes * 60 + second) * ticksPerSecond + units;
}

std::wstring formatIsoTime(long long ticks) {
    const long long seconds = floorDivide(ticks, ticksPerSecond);
    const long long days = floorDivide(seconds, secondsPerDay);
    const long long secondOfDay = seconds - days * secondsPerDay;
    const CivilDate date = civilFromDays(days);
    wchar_t buffer[64];
    std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%04d-%02d-%02dT%02d:%02d:%02dZ", (int)date.year,
                  date.month, date.day, (int)(secondOfDay / 3600), (int)(secondOfDay / 60 % 60),
                  (int)(secondOfDay % 60));
    return buffer;
}

}  // namespace vorlane
