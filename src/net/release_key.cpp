#include "net/release_key.h"

#include <algorithm>

namespace vorlane {

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const ReleaseKey& releaseKey() {
    // Read once; the build checks that the text is 128 hex digits.
    static const ReleaseKey key = [] {
        ReleaseKey bytes{};
        for (size_t i = 0; i < bytes.size(); ++i) {
            int high = hexDigit(kReleaseKeyHex[2 * i]);
            int low = high < 0 ? -1 : hexDigit(kReleaseKeyHex[2 * i + 1]);
            if (high < 0 || low < 0) return ReleaseKey{};
            bytes[i] = (unsigned char)(high * 16 + low);
        }
        return bytes;
    }();
    return key;
}

bool isDeveloperBuild() {
    const ReleaseKey& key = releaseKey();
    return std::all_of(key.begin(), key.end(), [](unsigned char b) { return b == 0; });
}

}  // namespace vorlane
