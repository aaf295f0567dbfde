// Runs the real launcher programs from a test and reads what they leave behind.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vorlane::testing {

// The folder that holds the running test program (build/bin).
std::wstring testProgramFolder();

// A file of the source tree (relative, with "\\"), found by walking up from the
// test program's folder; empty when it isn't there.
std::wstring sourceTreeFile(const std::wstring& relative);

// build/bin/Vorlane Launcher.exe (developer's build, no release key) or
// build/bin/testkey/Vorlane Launcher.exe (the test release key built in).
std::wstring developerLauncher();
std::wstring testKeyLauncher();
// build/bin/devversion/Vorlane Launcher.exe: the test key, and the version "dev"
// (a developer's version, whatever the tree it was built from).
std::wstring devVersionLauncher();

// The command line for a program and its arguments, each quoted so the
// program's own splitting gives them back unchanged.
std::wstring quoteArguments(const std::wstring& program, const std::vector<std::wstring>& arguments);

// A started process; it is waited for or ended when the object goes.
class LauncherProcess {
public:
    LauncherProcess(const std::wstring& program, const std::vector<std::wstring>& arguments);
    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;
    ~LauncherProcess();

    bool started() const { return process_ != nullptr; }
    DWORD processId() const { return processId_; }
    // The exit code, or STILL_ACTIVE when it didn't end within the time.
    DWORD wait(DWORD timeoutMs = 60000);

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// Runs a program to its end and gives its exit code (STILL_ACTIVE on time-out).
DWORD runToEnd(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD timeoutMs = 60000);

// runToEnd with the program's standard output (and error) on a pipe that is
// read as it runs into `output`.
DWORD runToEndReading(const std::wstring& program, const std::vector<std::wstring>& arguments, std::string& output,
                      DWORD timeoutMs = 60000);

// The messages of launcher.log in a root folder: the byte order mark dropped,
// each line without its "[hh:mm:ss] " stamp.
std::vector<std::wstring> logMessages(const std::wstring& rootFolder);

// A base address where nothing answers (a port on 127.0.0.1 that was just free).
std::wstring unusedLocalServer();

// Waits until `condition` holds or the time is up; true when it held.
template <typename Condition>
bool waitFor(Condition condition, DWORD timeoutMs = 30000) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > end) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace vorlane::testing
