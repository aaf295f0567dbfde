#include "support/launcher_test.h"

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "support/installed_game.h"
#include "support/launcher_process.h"
#include "support/nginx_server.h"
#include "support/publisher.h"

namespace vorlane::testing {

LauncherTest::LauncherTest(const std::wstring& name) : name_(name), temp(name) {}

void LauncherTest::SetUp() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    server = std::make_unique<TestBuildServer>(name_ + L"-" + toUtf16(test->name()) + L"-" +
                                               std::to_wstring(GetTickCount64()));
}

std::vector<std::wstring> LauncherTest::launcherArguments(const std::vector<std::wstring>& more,
                                                          const std::wstring& serverUrl) const {
    std::vector<std::wstring> all{L"--root",          root, L"--server", serverUrl.empty() ? server->url() : serverUrl,
                                  L"--shortcut-folder", shortcuts};
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

DWORD LauncherTest::runCommand(const std::wstring& command, const std::vector<std::wstring>& more) const {
    std::vector<std::wstring> extra{L"--auto", command};
    extra.insert(extra.end(), more.begin(), more.end());
    return runToEnd(testKeyLauncher(), launcherArguments(extra), 120000);
}

DWORD LauncherTest::runCommandReading(const std::wstring& command, std::string& output,
                                     const std::vector<std::wstring>& more) const {
    std::vector<std::wstring> extra{L"--auto", command};
    extra.insert(extra.end(), more.begin(), more.end());
    return runToEndReading(testKeyLauncher(), launcherArguments(extra), output, 120000);
}

std::wstring LauncherTest::setting(const std::wstring& key) const { return launcherSetting(root, key); }

std::wstring LauncherTest::buildFolderOf(const std::wstring& commit) const {
    return installedBuildFolder(root, commit);
}

std::vector<std::wstring> LauncherTest::log() const { return logMessages(root); }

std::vector<std::wstring> LauncherTest::newLogLines() {
    std::vector<std::wstring> all = log();
    std::vector<std::wstring> fresh(all.begin() + std::min(seenLines_, all.size()), all.end());
    seenLines_ = all.size();
    return fresh;
}

std::wstring LauncherTest::requestPath(const std::wstring& name) const {
    return server->url().substr(nginxBaseUrl().size()) + L"/" + name;
}

bool contains(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void LauncherTest::publishSlotList() {
    const std::wstring builds = joinPath(server->folder(), L"builds.json");
    if (!fileExists(builds)) {
        ASSERT_TRUE(writeFileAtomically(builds, "[]\n"));
        ASSERT_EQ(runPublisher(temp, {L"sign", keptTestKeyFile(), builds}).exitCode, 0u);
    }
    const PublishRun run =
        runPublisher(temp, {L"slots", server->folder(), keptTestKeyFile(), sourceTreeFile(kSlotListFile)});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
}

}  // namespace vorlane::testing
