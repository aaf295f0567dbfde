#include "support/publisher.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

static FileHandle inheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return FileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Runs build/bin/vorlane-publish.exe (beside the test program) to its end, its
// output caught in files of the folder.
PublishRun runPublisher(const TempFolder& folder, const std::vector<std::wstring>& arguments) {
    PublishRun run;
    const std::wstring program = joinPath(testProgramFolder(), L"vorlane-publish.exe");
    const std::wstring outPath = folder.file(L"publish-out.txt"), errPath = folder.file(L"publish-err.txt");
    {
        FileHandle in = inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
        FileHandle out = inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
        FileHandle err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
        STARTUPINFOW startup{sizeof startup};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.get();
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        std::wstring commandLine = quoteArguments(program, arguments);
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &info)) {
            ADD_FAILURE() << "couldn't start " << toUtf8(program) << " (error " << GetLastError() << ")";
            return run;
        }
        ObjectHandle process(info.hProcess), thread(info.hThread);
        if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 99);
            ADD_FAILURE() << "vorlane-publish.exe didn't end";
        }
        GetExitCodeProcess(process.get(), &run.exitCode);
    }
    run.out = readTestFile(outPath);
    run.err = readTestFile(errPath);
    return run;
}

// The source tree's kept test key file, found by walking up from the test program's folder.
std::wstring keptTestKeyFile() { return sourceTreeFile(L"tests\\keys\\test-release.key"); }

}  // namespace vorlane::testing
