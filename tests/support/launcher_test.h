// The common ground of the end-to-end tests of the real launcher: a root
// folder of the test's own, shortcuts kept out of the real Desktop, and a build
// server folder on nginx named after the test (and after the moment, because
// nginx's access log outlives a run).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "support/build_server.h"
#include "support/temp_folder.h"

namespace vorlane::testing {

class LauncherTest : public ::testing::Test {
protected:
    // `name` starts the names of the temporary folder and the server folder.
    explicit LauncherTest(const std::wstring& name);
    void SetUp() override;

    // --root, --server (this test's server unless another is named),
    // --shortcut-folder, then `more`.
    std::vector<std::wstring> launcherArguments(const std::vector<std::wstring>& more = {},
                                                const std::wstring& serverUrl = L"") const;
    // Runs the test-key launcher with --auto command (and `more`) to its end.
    DWORD runCommand(const std::wstring& command, const std::vector<std::wstring>& more = {}) const;
    // runCommand with its standard output on a pipe, read into `output`.
    DWORD runCommandReading(const std::wstring& command, std::string& output,
                            const std::vector<std::wstring>& more = {}) const;

    // A key of launcher.ini; the build folder of a commit in the default install folder.
    std::wstring setting(const std::wstring& key) const;
    std::wstring buildFolderOf(const std::wstring& commit) const;
    // launcher.log's messages.
    std::vector<std::wstring> log() const;
    // launcher.log's messages written since the last call, so that each run is checked on its own.
    std::vector<std::wstring> newLogLines();
    // Publishes the designers' slot list signed on this test's server. The
    // launcher takes it from the server whose build list counted, so a server
    // without one gets an empty, signed build list first.
    void publishSlotList();
    static constexpr wchar_t kSlotListFile[] = L"tools\\theme_slots\\theme_slots.json";

    // The path nginx logs for a file of this test's server.
    std::wstring requestPath(const std::wstring& name) const;

    std::wstring name_;
    TempFolder temp;
    std::wstring root = temp.file(L"Root");
    std::wstring shortcuts = temp.file(L"Shortcuts");
    std::unique_ptr<TestBuildServer> server;

private:
    size_t seenLines_ = 0;
};

bool contains(const std::vector<std::wstring>& lines, const std::wstring& line);

}  // namespace vorlane::testing
