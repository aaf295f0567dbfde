// What a started program is handed: tar.exe gets only its output pipe, and no
// child gets launcher.log (a tar.exe left running would keep it open).
#include <gtest/gtest.h>

#include <windows.h>

#include <io.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "core/log.h"
#include "install/run_captured.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// handle_probe.exe writes "inherited" through the handle if it got it, and says so.
std::wstring probeFor(HANDLE handle) {
    return L"\"" + testProgramFolder() + L"\\probe\\handle_probe.exe\" " + std::to_wstring((ULONG_PTR)handle);
}

// Started as a program that hands down every inheritable handle.
DWORD runInheritingAll(const std::wstring& commandLine) {
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info))
        return (DWORD)-1;
    ObjectHandle process(info.hProcess), thread(info.hThread);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(InheritedHandles, ACapturedProgramGetsOnlyItsOutputPipe) {
    TempFolder folder;
    const std::wstring path = folder.file(L"held.txt");
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    FileHandle held(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    // The probe does find a handle it was handed...
    ASSERT_EQ(runInheritingAll(probeFor(held.get())), 0u);
    ASSERT_EQ(readTestFile(path), "inherited");

    // ...and runCaptured hands it none but the pipe its answer comes back through.
    std::vector<std::string> lines;
    EXPECT_EQ(runCaptured(probeFor(held.get()), [&](const std::string& line) { lines.push_back(line); }), 1);
    EXPECT_EQ(lines, std::vector<std::string>{"no such handle"});
    EXPECT_EQ(readTestFile(path), "inherited");
}

TEST(InheritedHandles, NoChildGetsTheLog) {
    TempFolder folder;
    LauncherState state;
    openLog(state, folder.file(L"launcher.log"));
    ASSERT_NE(state.log, nullptr);
    HANDLE logHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(state.log)));
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(logHandle, &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    EXPECT_EQ(runInheritingAll(probeFor(logHandle)), 1u);
    closeLog(state);
    EXPECT_EQ(readTestFile(folder.file(L"launcher.log")), "\xEF\xBB\xBF");
}

}  // namespace
