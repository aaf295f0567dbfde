#include "core/text.h"

#include <windows.h>

#include <cwctype>

namespace vorlane {

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring toUtf16(const std::string& bytes) {
    if (bytes.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), out.data(), size);
    return out;
}

static bool isTrimmed(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring trimSpace(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isTrimmed(text[begin])) ++begin;
    while (end > begin && isTrimmed(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::wstring TidySpaces(const std::wstring& text) {
    std::wstring trimmed = trimSpace(text), out;
    out.reserve(trimmed.size());
    bool inRun = false;
    for (wchar_t c : trimmed) {
        if (isTrimmed(c)) {
            if (!inRun) out += L' ';
            inRun = true;
        } else {
            out += c;
            inRun = false;
        }
    }
    return out;
}

std::wstring ShortenText(const std::wstring& text, size_t maxUnits) {
    if (text.size() <= maxUnits) return text;
    size_t cut = maxUnits;
    // Never keep a high surrogate whose low half would be cut away.
    if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    return text.substr(0, cut) + L"...";
}

std::wstring PercentEncode(const std::wstring& text) {
    static const wchar_t hex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (unsigned char b : toUtf8(text)) {
        bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
                          b == '.' || b == '_' || b == '~';
        if (unreserved) {
            out += (wchar_t)b;
        } else {
            out += L'%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

std::wstring joinPath(const std::wstring& first, const std::wstring& second) {
    if (first.empty() || first.back() == L'\\') return first + second;
    return first + L"\\" + second;
}

std::wstring lowerCase(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), (DWORD)text.size());
    return text;
}

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && lowerCase(a) == lowerCase(b);
}

bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& ending) {
    return text.size() >= ending.size() && equalsIgnoringCase(text.substr(text.size() - ending.size()), ending);
}

bool parseSigned64(const std::wstring& text, long long& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    if (i == text.size()) return false;
    unsigned long long magnitude = 0;
    const unsigned long long limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        unsigned digit = text[i] - L'0';
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? (long long)(0 - magnitude) : (long long)magnitude;
    return true;
}

std::wstring wholeMiB(long long bytes) { return std::to_wstring(bytes / 1048576); }

std::wstring counted(size_t count, const std::wstring& one, const std::wstring& many) {
    return std::to_wstring(count) + L" " + (count == 1 ? one : many);
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring replaceEvery(const std::wstring& text, const std::wstring& what, const std::wstring& with) {
    if (what.empty()) return text;
    std::wstring out;
    size_t start = 0;
    for (size_t found; (found = text.find(what, start)) != std::wstring::npos; start = found + what.size())
        out.append(text, start, found - start).append(with);
    return out.append(text, start, std::wstring::npos);
}

}  // namespace vorlane
