// Runs a program with its output captured line by line (tar.exe, for one).
#pragma once

#include <functional>
#include <string>

namespace vorlane {

// Standard output and standard error both go to one pipe, read in 4096-byte
// blocks and split at line feeds (the line feed dropped, anything else kept); a
// last unterminated line is passed too. The pipe's write end is the only
// handle the program gets (it has no input), so that one left running never
// holds a file of the launcher open. A start that fails is tried twice more.
// Gives the program's exit code, or -1 when it can't be started.
int runCaptured(const std::wstring& commandLine, const std::function<void(const std::string& line)>& onLine);

}  // namespace vorlane
