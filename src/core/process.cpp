#include "core/process.h"

#include "core/handles.h"
#include "core/text.h"

namespace vorlane {

bool startProgram(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                  DWORD* error) {
    std::wstring commandLine = quoted(program) + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        if (error) *error = GetLastError();
        return false;
    }
    ObjectHandle process(started.hProcess);
    ObjectHandle thread(started.hThread);
    return true;
}

}  // namespace vorlane
