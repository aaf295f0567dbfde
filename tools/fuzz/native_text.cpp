// Native stand-ins for the text conversions of core/text.cpp, which go through
// the Windows code page functions. The JSON reader refers to them for its wide
// text lookups; the fuzz targets only parse, so a plain UTF-8 <-> UTF-32
// conversion is all they need.
#include <cstdint>
#include <string>

namespace vorlane {

std::string toUtf8(const std::wstring& wide) {
    std::string out;
    for (wchar_t c : wide) {
        const uint32_t code = uint32_t(c) > 0x10FFFF ? 0xFFFD : uint32_t(c);
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += {char(0xC0 | code >> 6), char(0x80 | (code & 0x3F))};
        } else if (code < 0x10000) {
            out += {char(0xE0 | code >> 12), char(0x80 | ((code >> 6) & 0x3F)), char(0x80 | (code & 0x3F))};
        } else {
            out += {char(0xF0 | code >> 18), char(0x80 | ((code >> 12) & 0x3F)), char(0x80 | ((code >> 6) & 0x3F)),
                    char(0x80 | (code & 0x3F))};
        }
    }
    return out;
}

std::wstring toUtf16(const std::string& bytes) {
    std::wstring out;
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = bytes[i];
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length != 0 && i + length <= bytes.size();
        for (int k = 1; valid && k < length; ++k) {
            const unsigned char next = bytes[i + k];
            valid = (next >> 6) == 2;
            code = code << 6 | (next & 0x3F);
        }
        out += valid ? wchar_t(code) : wchar_t(0xFFFD);
        i += valid ? length : 1;
    }
    return out;
}

}  // namespace vorlane
