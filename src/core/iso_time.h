// UTC time stamps as they stand in the lists: "2024-05-01T12:00:00Z", with an
// optional fraction of a second and "Z" or a "+hh:mm" / "-hh:mm" offset.
#pragma once

#include <string>

namespace vorlane {

// 100-nanosecond ticks since 1970-01-01T00:00:00Z, or -1 when the text doesn't
// have the form of a time stamp.
long long parseIsoTime(const std::wstring& text);

// "%04d-%02d-%02dT%02d:%02d:%02dZ" in UTC; the fraction of a second is dropped.
std::wstring formatIsoTime(long long ticks);

}  // namespace vorlane
