// Zips written byte by byte, for what a packer won't make on purpose: a zip
// holding a symbolic link, or a zip whose entries a test chooses exactly.
#pragma once

#include <string>
#include <vector>

namespace vorlane::testing {

struct ZipWriterEntry {
    std::string name;   // "/" between parts; a folder ends with "/"
    std::string bytes;  // a file's contents, or a link's target
    bool isLink = false;
};

// Writes the entries stored (not compressed), made on a Unix host with Unix
// modes, as bsdtar writes them; true when the file was written.
bool writeZip(const std::wstring& path, const std::vector<ZipWriterEntry>& entries);

}  // namespace vorlane::testing
