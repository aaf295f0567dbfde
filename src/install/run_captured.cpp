#include "install/run_captured.h"

#include <windows.h>

#include <vector>

#include "core/handles.h"

namespace vorlane {

namespace {

// The attribute list that hands a child exactly one handle.
class OnlyHandle {
public:
    explicit OnlyHandle(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        initialised_ = true;
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_, nullptr,
                                      nullptr))
            list_ = list;
    }
    OnlyHandle(const OnlyHandle&) = delete;
    OnlyHandle& operator=(const OnlyHandle&) = delete;
    ~OnlyHandle() {
        if (initialised_) DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()));
    }

    // Null when the system can't make the list.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    HANDLE handle_;
    std::vector<char> storage_;
    bool initialised_ = false;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

int runCaptured(const std::wstring& commandLine, const std::function<void(const std::string& line)>& onLine) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return -1;
    ObjectHandle reader(readEnd), writer(writeEnd);
    // The write end is the one handle the child gets: its output and its errors.
    SetHandleInformation(writer.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    const OnlyHandle only(writer.get());

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nullptr;
    startup.StartupInfo.hStdOutput = writer.get();
    startup.StartupInfo.hStdError = writer.get();
    startup.lpAttributeList = only.get();
    // Without the list (a system that can't make one) every inheritable handle goes along; the launcher's own
    // files are opened so that they aren't.
    const DWORD flags = CREATE_NO_WINDOW | (only.get() ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    // A start that fails now and then on a busy system is tried twice more, a moment apart.
    for (int tries = 1; !CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                        &startup.StartupInfo, &info);
         ++tries) {
        if (tries == 3) return -1;
        Sleep(200 * tries);
        line = commandLine;
    }
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
