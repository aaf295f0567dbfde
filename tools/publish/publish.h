// vorlane-publish: the release tool that makes the signing key and signs the lists
// a build server publishes. Each subcommand is one function, listed in the table
// in main.cpp; this header is what the subcommands share.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/handles.h"
#include "pieces/piece_index.h"
#include "private_key.h"

namespace publish {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work couldn't be done (files, keys, the system)
constexpr int kExitUsage = 2;   // the command line was wrong

using Arguments = std::vector<std::wstring>;  // after the subcommand's name

struct Subcommand {
    const wchar_t* name;
    const wchar_t* arguments;  // as shown in the usage, e.g. L"<private-key-file>"
    const wchar_t* summary;    // one line for the usage
    size_t minArguments;
    size_t maxArguments;
    int (*run)(const Arguments& arguments);
};

// One line on standard output or standard error, UTF-8.
void printLine(const std::wstring& text);
void printError(const std::wstring& text);

// Reads a key file that keygen wrote; prints what is wrong with it otherwise.
bool loadPrivateKey(const std::wstring& path, PrivateKeyBlob& key);

// Signs the list file with the key file into list + ".sig" and checks the
// signature; prints what went wrong and gives false on failure.
bool signListFile(const std::wstring& keyPath, const std::wstring& listPath);

// A path with "\\" turned into "/", and the other way round.
std::wstring slashed(std::wstring path);
std::wstring backslashed(std::wstring path);

// A folder of the server whose files are named by the SHA-256 of their bytes
// (builds/, themes/). What it holds is listed once, with each file's size, so
// that a piece already stored costs no look-up of its own: under Wine every
// look-up of a name that isn't there reads the whole folder. Safe to use from
// several threads at once.
class ObjectFolder {
public:
    // Lists the folder, making it first when it isn't there; false (with the
    // reason printed) when it can't be made.
    bool open(const std::wstring& folder);

    std::wstring path(const std::wstring& hash) const;

    // Stores the bytes as the object `hash` unless the folder holds it already
    // (then `added` is false); prints why and gives false when it can't be written.
    bool store(const std::wstring& hash, const void* bytes, size_t size, bool& added);
    bool store(const std::wstring& hash, const std::string& bytes, bool& added) {
        return store(hash, bytes.data(), bytes.size(), added);
    }
    // Puts a finished file (a pack written aside) in place as the object
    // `hash`, or deletes it when the folder holds that object already.
    bool adopt(const std::wstring& finished, const std::wstring& hash, uint64_t size);

private:
    // Whether the object is there with that size, marking it as stored by this
    // run when it isn't; the caller then writes it.
    bool claim(const std::wstring& hash, uint64_t size);

    std::wstring folder_;
    std::mutex mutex_;
    std::unordered_map<std::wstring, uint64_t> sizes_;  // by name
};

// Keeps the publications on one server folder and its prunes apart: the
// publications share it, a prune holds it alone (the file publish.lock in the
// folder, held open until the program ends).
class ServerLock {
public:
    // Prints why and gives false when the other kind holds it, or the lock file
    // can't be opened; `alone` for a prune.
    bool take(const std::wstring& serverFolder, bool alone);

private:
    vorlane::FileHandle file_;
};

// Cuts the file of source into pieces with the launcher's piece rule, reading it
// once, and stores every piece the folder lacks; fills in file's size, SHA-256
// and pieces (its path is the caller's) and counts the pieces stored anew.
// Prints why and gives false when the file can't be read or a piece written.
// The buffers one cutting thread keeps from file to file: under Wine, memory fresh from the system costs more than
// the hashing of a small file.
struct CutBuffers {
    std::string held;                  // the bytes from the start of the piece being cut
    std::vector<unsigned char> block;  // the last read
};
// Where a file's bytes are read from: a file of its own, or the bytes a zip holds of it stored as they are.
struct FileSource {
    std::wstring path;             // the file, or the zip
    uint64_t offset = 0;           // where its bytes start in path
    std::optional<uint64_t> size;  // its size, when path holds more than the file (a zip)
    std::optional<uint32_t> crc;   // the CRC-32 the zip keeps of it, checked as it is read
    std::wstring name;             // what a sentence calls it, when not path
};
bool cutAndStore(const FileSource& source, ObjectFolder& objects, vorlane::IndexFile& file, size_t& newPieces,
                 CutBuffers& buffers);

// Subcommands (key_commands.cpp, build_command.cpp, launcher_command.cpp,
// theme_command.cpp, slots_command.cpp, prune_command.cpp).
int runKeygen(const Arguments& arguments);
int runPubkey(const Arguments& arguments);
int runSign(const Arguments& arguments);
int runBuild(const Arguments& arguments);
int runLauncher(const Arguments& arguments);
int runTheme(const Arguments& arguments);
int runSlots(const Arguments& arguments);
int runPrune(const Arguments& arguments);

}  // namespace publish
