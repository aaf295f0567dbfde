#include "install/zip_listing.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"

namespace vorlane {

namespace {

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kEndSearch = kEndSize + 65535;  // the end record and the longest comment
// A build's directory is a few hundred KB; a bigger one isn't read.
constexpr uint64_t kMostDirectoryBytes = 256ull << 20;
constexpr unsigned kUnixHost = 3;
constexpr uint32_t kUnixTypeMask = 0170000, kUnixLink = 0120000, kUnixFolder = 0040000;

uint16_t u16(const std::string& b, size_t at) { return uint16_t((uint8_t)b[at] | (uint8_t)b[at + 1] << 8); }
uint32_t u32(const std::string& b, size_t at) { return uint32_t(u16(b, at)) | uint32_t(u16(b, at + 2)) << 16; }
uint64_t u64(const std::string& b, size_t at) { return uint64_t(u32(b, at)) | uint64_t(u32(b, at + 4)) << 32; }

bool readAt(HANDLE file, uint64_t offset, size_t size, std::string& bytes) {
    bytes.assign(size, '\0');
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        const DWORD want = (DWORD)std::min<size_t>(size - done, 1u << 20);
        if (!ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) return false;
        done += got;
    }
    return true;
}

// The directory's place and entry count, from the end record (and the Zip64
// end record where the plain one overflows).
bool findDirectory(HANDLE file, uint64_t fileSize, uint64_t& offset, uint64_t& size, uint64_t& count) {
    const size_t tail = (size_t)std::min<uint64_t>(fileSize, kEndSearch);
    std::string bytes;
    if (tail < kEndSize || !readAt(file, fileSize - tail, tail, bytes)) return false;
    size_t end = std::string::npos;
    for (size_t at = tail - kEndSize + 1; at-- > 0;)
        if (u32(bytes, at) == kEndOfDirectory) {
            end = at;
            break;
        }
    if (end == std::string::npos) return false;
    count = u16(bytes, end + 10);
    size = u32(bytes, end + 12);
    offset = u32(bytes, end + 16);
    if (count != 0xffff && size != 0xffffffff && offset != 0xffffffff) return true;

    const uint64_t endAt = fileSize - tail + end;
    std::string locator, record;
    if (endAt < 20 || !readAt(file, endAt - 20, 20, locator) || u32(locator, 0) != kZip64Locator) return false;
    if (!readAt(file, u64(locator, 8), 56, record) || u32(record, 0) != kZip64End) return false;
    count = u64(record, 32);
    size = u64(record, 40);
    offset = u64(record, 48);
    return true;
}

// The Zip64 extra field holds, in this order, each of the unpacked size, the packed size and the local header's
// place whose plain field overflows (all ones). One it should hold but doesn't reads as -1 (all ones).
void readZip64Fields(const std::string& extra, uint32_t size, uint32_t packed, uint32_t header, ZipEntry& entry) {
    entry.size = size == 0xffffffff ? -1 : size;
    entry.packedSize = packed == 0xffffffff ? UINT64_MAX : packed;
    entry.headerAt = header == 0xffffffff ? UINT64_MAX : header;
    if (size != 0xffffffff && packed != 0xffffffff && header != 0xffffffff) return;
    for (size_t at = 0; at + 4 <= extra.size();) {
        const uint16_t id = u16(extra, at), length = u16(extra, at + 2);
        if (id != 1) {
            at += 4 + length;
            continue;
        }
        const size_t end = std::min(extra.size(), at + 4 + length);
        size_t field = at + 4;
        const auto take = [&](bool overflowed, auto& value) {
            if (!overflowed || field + 8 > end) return;
            value = static_cast<std::remove_reference_t<decltype(value)>>(u64(extra, field));
            field += 8;
        };
        take(size == 0xffffffff, entry.size);
        take(packed == 0xffffffff, entry.packedSize);
        take(header == 0xffffffff, entry.headerAt);
        return;
    }
}

}  // namespace

bool readZipListing(const std::wstring& zip, std::vector<ZipEntry>& entries) {
    entries.clear();
    FileHandle file(CreateFileW(longPath(zip).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length)) return false;
    uint64_t offset = 0, size = 0, count = 0;
    if (!findDirectory(file.get(), (uint64_t)length.QuadPart, offset, size, count)) return false;
    if (count > kMostZipEntries || size > kMostDirectoryBytes || offset + size > (uint64_t)length.QuadPart)
        return false;
    std::string directory;
    if (!readAt(file.get(), offset, (size_t)size, directory)) return false;

    entries.reserve((size_t)count);
    for (size_t at = 0; entries.size() < count;) {
        if (at + 46 > directory.size() || u32(directory, at) != kDirectoryEntry) return false;
        const size_t nameLength = u16(directory, at + 28), extraLength = u16(directory, at + 30),
                     commentLength = u16(directory, at + 32);
        if (at + 46 + nameLength + extraLength + commentLength > directory.size()) return false;
        ZipEntry entry;
        entry.name = directory.substr(at + 46, nameLength);
        readZip64Fields(directory.substr(at + 46 + nameLength, extraLength), u32(directory, at + 24),
                        u32(directory, at + 20), u32(directory, at + 42), entry);
        entry.method = u16(directory, at + 10);
        entry.encrypted = (u16(directory, at + 8) & 1) != 0;
        entry.crc = u32(directory, at + 16);
        const unsigned host = directory[at + 5];
        const uint32_t attributes = u32(directory, at + 38);
        const uint32_t unixType = (attributes >> 16) & kUnixTypeMask;
        entry.isLink = host == kUnixHost && unixType == kUnixLink;
        entry.isFolder = (!entry.name.empty() && entry.name.back() == '/') ||
                         (host == kUnixHost && unixType == kUnixFolder) || (attributes & FILE_ATTRIBUTE_DIRECTORY);
        entries.push_back(std::move(entry));
        at += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

bool readZipDataPlaces(const std::wstring& zip, std::vector<ZipEntry>& entries) {
    FileHandle file(CreateFileW(longPath(zip).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length)) return false;
    std::string header;
    for (ZipEntry& entry : entries) {
        if (entry.isFolder) continue;
        const uint64_t size = (uint64_t)length.QuadPart;
        if (entry.headerAt > size || entry.packedSize > size) return false;
        if (!readAt(file.get(), entry.headerAt, 30, header) || u32(header, 0) != kLocalHeader) return false;
        entry.dataAt = entry.headerAt + 30 + u16(header, 26) + u16(header, 28);
        if (entry.dataAt + entry.packedSize > size) return false;
    }
    return true;
}

UnpackShortfall compareUnpacked(const std::vector<ZipEntry>& entries, const std::wstring& folder,
                                const std::string& sizeAnyBelow) {
    UnpackShortfall shortfall;
    for (const ZipEntry& entry : entries) {
        if (entry.isFolder || entry.isLink) continue;
        ++shortfall.files;
        std::wstring relative = toUtf16(entry.name);
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        long long size = -1;
        const bool there = fileSize(joinPath(folder, relative), size);
        const bool anySize = !sizeAnyBelow.empty() && entry.name.rfind(sizeAnyBelow, 0) == 0;
        if (there && (anySize || size == entry.size)) continue;
        if (shortfall.missing++ == 0) shortfall.first = entry.name;
    }
    return shortfall;
}

}  // namespace vorlane
