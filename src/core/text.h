// Text helpers shared by every subsystem: UTF-8/UTF-16 conversion, trimming,
// shortening, percent-encoding and the folder path join.
#pragma once

#include <string>

namespace vorlane {

// Whole-string conversions through the system's UTF-8 code page; invalid
// sequences become the replacement character, never an error.
std::string toUtf8(const std::wstring& wide);
std::wstring toUtf16(const std::string& bytes);

// Removes space, tab, carriage return and line feed at both ends.
std::wstring trimSpace(const std::wstring& text);

// trimSpace, and every inner run of space, tab, CR and LF becomes one blank.
std::wstring TidySpaces(const std::wstring& text);

// At most maxUnits UTF-16 units, never cutting a surrogate pair; a text that
// had to be cut gets "..." appended.
std::wstring ShortenText(const std::wstring& text, size_t maxUnits);

// UTF-8 bytes; unreserved characters (A-Z a-z 0-9 - . _ ~) kept, others as %XX.
std::wstring PercentEncode(const std::wstring& text);

// The second part after a "\" unless the first is empty or already ends with "\".
std::wstring joinPath(const std::wstring& first, const std::wstring& second);

// Lower-case for comparisons that ignore case (the system's rules).
std::wstring lowerCase(std::wstring text);
bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b);
// True when text ends with ending, letter case aside (e.g. a file name and ".zip").
bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& ending);

// A size for the player in whole MiB (bytes / 2^20, rounded down), as "MB" counts it.
std::wstring wholeMiB(long long bytes);

// A count with its noun: "1 file", "2 files", "0 files".
std::wstring counted(size_t count, const std::wstring& one, const std::wstring& many);

// The text in double quotes, for a command line.
std::wstring quoted(const std::wstring& text);

// Plain decimal readers: the whole text must be an optional sign ("-" or "+")
// and digits that fit; false otherwise, leaving `value` as it was.
bool parseSigned64(const std::wstring& text, long long& value);

// Every occurrence of `what` replaced by `with`, left to right; the search goes
// on after the inserted text, so an inserted text is never replaced again.
std::wstring replaceEvery(const std::wstring& text, const std::wstring& what, const std::wstring& with);

}  // namespace vorlane
