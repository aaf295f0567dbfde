#include "support/zip_writer.h"

#include <cstdint>

#include "core/files.h"

namespace vorlane::testing {

namespace {

uint32_t crc32(const std::string& bytes) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void put16(std::string& out, uint32_t value) {
    out += char(value & 0xff);
    out += char((value >> 8) & 0xff);
}
void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

}  // namespace

bool writeZip(const std::wstring& path, const std::vector<ZipWriterEntry>& entries) {
    std::string zip, directory;
    for (const ZipWriterEntry& entry : entries) {
        const bool folder = !entry.name.empty() && entry.name.back() == '/';
        const uint32_t mode = entry.isLink ? 0120777u : folder ? 0040755u : 0100644u;
        const uint32_t crc = crc32(entry.bytes), size = (uint32_t)entry.bytes.size();
        const uint32_t offset = (uint32_t)zip.size();
        put32(zip, 0x04034b50);
        put16(zip, 20);  // version needed
        put16(zip, 0);   // flags
        put16(zip, 0);   // stored
        put32(zip, 0);   // time and date
        put32(zip, crc);
        put32(zip, size);
        put32(zip, size);
        put16(zip, (uint32_t)entry.name.size());
        put16(zip, 0);
        zip += entry.name + entry.bytes;

        put32(directory, 0x02014b50);
        put16(directory, 3u << 8 | 20);  // made on Unix
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, (uint32_t)entry.name.size());
        put16(directory, 0);  // extra
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, mode << 16 | (folder ? 0x10u : 0u));
        put32(directory, offset);
        directory += entry.name;
    }
    const uint32_t directoryAt = (uint32_t)zip.size();
    zip += directory;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, (uint32_t)entries.size());
    put16(zip, (uint32_t)entries.size());
    put32(zip, (uint32_t)directory.size());
    put32(zip, directoryAt);
    put16(zip, 0);
    return writeFileAtomically(path, zip);
}

}  // namespace vorlane::testing
