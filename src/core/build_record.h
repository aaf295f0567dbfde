// One build of the signed build list (builds.json).
#pragma once

#include <string>

namespace vorlane {

struct BuildRecord {
    std::wstring file;      // "Vorlane-" + commit + ".zip"
    std::wstring commit;    // 7 to 40 of 0-9 and a-f
    std::wstring released;  // UTC time stamp as written in the list
    std::wstring sha256;    // fingerprint of the zip
    std::wstring summary;   // release notes, may be empty
    long long size = 0;     // bytes of the zip
    // SHA-256 of the build's index of pieces (64 lower-case hex digits), the
    // index's name on the server; empty when the build is published as a zip alone.
    std::wstring index;
};

}  // namespace vorlane
