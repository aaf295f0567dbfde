// What a build zip holds, read from its own central directory: every entry's
// name, size and kind. The install checks the unpacked folder against it, so
// that a build with files left out is never recorded as installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlane {

struct ZipEntry {
    std::string name;    // as stored: UTF-8, "/" between parts
    long long size = 0;  // bytes once unpacked
    bool isFolder = false;
    bool isLink = false;  // a symbolic link: never part of a build
    uint16_t method = 0;  // 0 stored as it is, 8 deflated
    bool encrypted = false;
    uint32_t crc = 0;         // the CRC-32 of its bytes once unpacked
    uint64_t packedSize = 0;  // its bytes in the zip
    uint64_t headerAt = 0;    // where its local header starts
    uint64_t dataAt = 0;      // where its bytes start (readZipDataPlaces)
};

// The most entries a zip's listing is read for; a build has a few thousand.
constexpr size_t kMostZipEntries = 1u << 20;

// Reads the zip's entries in the order of its central directory (Zip64 sizes
// and counts included). False when the file isn't a zip that can be read.
bool readZipListing(const std::wstring& zip, std::vector<ZipEntry>& entries);

// Finds where each file entry's bytes start, from its local header. False when a header doesn't read or its
// bytes would run past the end of the zip.
bool readZipDataPlaces(const std::wstring& zip, std::vector<ZipEntry>& entries);

// Compares an unpacked folder with the listing: the number of the listing's
// files that are missing or of another size below `folder`, and the name of
// the first of them. Files below a name starting with `sizeAnyBelow` only
// need to be there (the player's own files may have replaced them).
struct UnpackShortfall {
    size_t files = 0;    // files in the listing
    size_t missing = 0;  // missing or of another size
    std::string first;   // the first of those
};
UnpackShortfall compareUnpacked(const std::vector<ZipEntry>& entries, const std::wstring& folder,
                                const std::string& sizeAnyBelow = "");

}  // namespace vorlane
