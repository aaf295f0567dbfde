// vorlane-publish: the release tool that makes the signing key and signs the lists
// a build server publishes. Each subcommand is one function, listed in the table
// in main.cpp; this header is what the subcommands share.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

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

// Stores bytes at path, the server's file named by their SHA-256 `hash`, unless
// an intact copy is there already (then `added` is false); false when it can't be written.
bool storeObject(const std::wstring& path, const std::wstring& hash, const std::string& bytes, bool& added);

// Where the server keeps the file named by a SHA-256.
using ObjectPath = std::function<std::wstring(const std::wstring& hash)>;

// Cuts the file at path into pieces with the launcher's piece rule and stores
// every piece the server lacks; fills in file's size, SHA-256 and pieces (its
// path is the caller's) and counts the pieces stored anew. Prints why and
// gives false when the file can't be read or a piece written.
bool cutAndStore(const std::wstring& path, const ObjectPath& objectPath, vorlane::IndexFile& file,
                 size_t& newPieces);

// Subcommands (key_commands.cpp, build_command.cpp, launcher_command.cpp,
// theme_command.cpp, slots_command.cpp).
int runKeygen(const Arguments& arguments);
int runPubkey(const Arguments& arguments);
int runSign(const Arguments& arguments);
int runBuild(const Arguments& arguments);
int runLauncher(const Arguments& arguments);
int runTheme(const Arguments& arguments);
int runSlots(const Arguments& arguments);

}  // namespace publish
