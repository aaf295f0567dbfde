// File helpers shared by every subsystem: long paths, whole-file reads,
// atomic writes and folder trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorlane {

// The form in which every path is handed to the system: "\\?\" before a drive
// path, "\\?\UNC\" before a share, "/" turned into "\"; short paths, paths
// already in that form and relative paths keep their prefix as they are.
std::wstring longPath(const std::wstring& path);

// Reads a file from its start, shared for reading (and for writing when
// `othersWrite`: a file whose writer still holds it open, done with it), in
// blocks of blockSize bytes, and hands each block to onBlock (which returns
// false to stop). False when the file can't be opened or read, or onBlock stopped.
using FileBlockSink = std::function<bool(const unsigned char* bytes, size_t size)>;
bool readFileInBlocks(const std::wstring& path, size_t blockSize, const FileBlockSink& onBlock,
                      bool othersWrite = false);

// The whole file, shared for reading; false when it can't be opened or read
// (an empty file is fine).
bool readWholeFile(const std::wstring& path, std::string& bytes);
// The same, for callers to whom a missing file and an empty one are alike.
std::string readWholeFile(const std::wstring& path);

// Hands a file's bytes, block by block, to `write`; false when a write failed
// (it then stops). A large file need never be held whole in memory this way.
using FileBlockSource = std::function<bool(const FileBlockSink& write)>;
// Bytes in memory as one block; they must outlive the source.
FileBlockSource wholeString(const std::string& bytes);

// Writes path + ".part" and flushes it to disk, then moves it over path in one
// step. Nothing is left behind on failure, and GetLastError tells why.
bool writeFileAtomically(const std::wstring& path, const std::string& bytes);
bool writeFileAtomically(const std::wstring& path, const FileBlockSource& source);

// Writes the file anew and flushes it to disk; on failure it is deleted and
// GetLastError tells why.
bool writeFileThrough(const std::wstring& path, const std::string& bytes);
bool writeFileThrough(const std::wstring& path, const FileBlockSource& source);
// Flushes what was written to a file through to the disk.
bool flushFile(const std::wstring& path);

bool fileExists(const std::wstring& path);    // a file, not a folder
// A file or a folder is there; false for an empty path.
bool pathExists(const std::wstring& path);
// The size of a file in bytes; false when it can't be read (it isn't there).
bool fileSize(const std::wstring& path, long long& size);
bool folderExists(const std::wstring& path);

// Makes the folder and each missing parent, parents first; true when the folder
// exists afterwards. When it doesn't, GetLastError tells the first failure's reason.
bool makeFolderTree(const std::wstring& folder);

// Deletes a folder with everything in it, depth first; each file's attributes
// are reset to normal before it is deleted. Failures are passed over; true when
// the folder is gone afterwards.
bool deleteFolderTree(const std::wstring& folder);

// Copies a folder with all its files and sub-folders; folders are made as
// needed and existing files overwritten. False when anything couldn't be
// copied, and then GetLastError tells the first failure's reason.
bool copyFolderTree(const std::wstring& source, const std::wstring& target);

// The folder part of a path (everything before the last "\" or "/"), or empty.
std::wstring parentFolder(const std::wstring& path);
// The last part of a path.
std::wstring fileNameOf(const std::wstring& path);

// One entry of a folder listing.
struct FolderEntry {
    std::wstring name;
    bool isFolder = false;
    bool isLink = false;          // a reparse point: removed itself, never followed
    uint64_t lastWriteTime = 0;   // FILETIME as one number
};

// The entries of a folder that match a pattern ("*" for all), without "." and
// ".."; empty when the folder can't be listed.
std::vector<FolderEntry> listFolder(const std::wstring& folder, const std::wstring& pattern = L"*");

// The latest last-write time of any file below a folder; 0 when it holds none.
uint64_t newestWriteTimeIn(const std::wstring& folder);

// The last-write time of a file or folder as one FILETIME number; 0 when it can't be read.
uint64_t lastWriteTimeOf(const std::wstring& path);

// Full path of the running program.
std::wstring ownProgramPath();

}  // namespace vorlane
