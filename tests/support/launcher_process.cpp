#include "support/launcher_process.h"

#include <cstdio>

#include <winsock2.h>

#include "core/files.h"
#include "core/text.h"
#include "support/temp_folder.h"

namespace vorlane::testing {

std::wstring testProgramFolder() { return parentFolder(ownProgramPath()); }

std::wstring sourceTreeFile(const std::wstring& relative) {
    for (std::wstring folder = testProgramFolder(); !folder.empty(); folder = parentFolder(folder)) {
        const std::wstring candidate = joinPath(folder, relative);
        if (fileExists(candidate)) return candidate;
    }
    return {};
}

std::wstring developerLauncher() { return joinPath(testProgramFolder(), L"Vorlane Launcher.exe"); }

std::wstring testKeyLauncher() { return joinPath(testProgramFolder(), L"testkey\\Vorlane Launcher.exe"); }
std::wstring devVersionLauncher() { return joinPath(testProgramFolder(), L"devversion\\Vorlane Launcher.exe"); }

static std::wstring quoteOne(const std::wstring& argument) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

std::wstring quoteArguments(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) line += L" " + quoteOne(argument);
    return line;
}

LauncherProcess::LauncherProcess(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring commandLine = quoteArguments(program, arguments);
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    // Under a heavily loaded Wine a start now and then fails before the program
    // runs at all; that is the platform's, not the program's, so it is tried
    // again (and said on the test's output).
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
            processId_ = info.dwProcessId;
            return;
        }
        std::fprintf(stderr, "couldn't start %s (error %lu), try %d of 3\n", toUtf8(program).c_str(), GetLastError(),
                     attempt);
        Sleep(500);
    }
}

LauncherProcess::~LauncherProcess() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

DWORD LauncherProcess::wait(DWORD timeoutMs) {
    if (!process_) return (DWORD)-1;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

DWORD runToEnd(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD timeoutMs) {
    LauncherProcess process(program, arguments);
    return process.wait(timeoutMs);
}

DWORD runToEndReading(const std::wstring& program, const std::vector<std::wstring>& arguments, std::string& output,
                      DWORD timeoutMs) {
    output.clear();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) return (DWORD)-1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring commandLine = quoteArguments(program, arguments);
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return (DWORD)-1;
    }
    CloseHandle(info.hThread);
    // What is there is read between short waits for the end, so a full pipe never holds the program up.
    auto drain = [&] {
        DWORD available = 0;
        char block[4096];
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            DWORD got = 0;
            if (!ReadFile(readEnd, block, sizeof block, &got, nullptr) || got == 0) return;
            output.append(block, got);
        }
    };
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    DWORD code = STILL_ACTIVE;
    while (WaitForSingleObject(info.hProcess, 50) == WAIT_TIMEOUT) {
        drain();
        if (GetTickCount64() > end) {
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, 5000);
            CloseHandle(info.hProcess);
            CloseHandle(readEnd);
            return STILL_ACTIVE;
        }
    }
    drain();
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(readEnd);
    return code;
}

std::vector<std::wstring> logMessages(const std::wstring& rootFolder) {
    std::string bytes = readTestFile(joinPath(rootFolder, L"launcher.log"));
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    std::vector<std::wstring> messages;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "[hh:mm:ss] " is eleven bytes.
        if (line.size() >= 11 && line[0] == '[' && line[9] == ']' && line[10] == ' ') line.erase(0, 11);
        messages.push_back(toUtf16(line));
        start = end + 1;
    }
    return messages;
}

std::wstring unusedLocalServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(listener, (sockaddr*)&address, sizeof address);
    getsockname(listener, (sockaddr*)&address, &length);
    closesocket(listener);
    WSACleanup();
    return L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
}

}  // namespace vorlane::testing
