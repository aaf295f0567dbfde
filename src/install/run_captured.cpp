#include "install/run_captured.h"

#include <windows.h>

#include "core/handles.h"

namespace vorlane {

int runCaptured(const std::wstring& commandLine, const std::function<void(const std::string& line)>& onLine) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return -1;
    ObjectHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info))
        return -1;
    ObjectHandle process(info.hProcess), thread(info.hThread);
    writer.reset();  // the pipe ends when the child's copies close

    std::string pending;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(reader.get(), block, sizeof block, &got, nullptr) && got > 0) {
        pending.append(block, got);
        size_t start = 0, end;
        while ((end = pending.find('\n', start)) != std::string::npos) {
            onLine(pending.substr(start, end - start));
            start = end + 1;
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) onLine(pending);

    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return (int)code;
}

}  // namespace vorlane
