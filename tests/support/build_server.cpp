#include "support/build_server.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "core/files.h"
#include "core/text.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "net/build_server.h"
#include "support/launcher_process.h"
#include "support/nginx_server.h"
#include "support/publisher.h"

namespace vorlane::testing {

std::string buildIniText(const std::wstring& commit) { return "[Build]\r\nCommit=" + toUtf8(commit) + "\r\n"; }

std::wstring makeBuildZip(const std::wstring& folder, const std::wstring& commit, size_t payloadBytes,
                          const BuildFiles& extraFiles) {
    const std::wstring name = buildFolderName(commit);
    const std::wstring staging = joinPath(folder, L"pack-" + commit);
    const std::wstring top = joinPath(staging, name);
    const std::wstring config = joinPath(top, L"Vorlane\\Saved\\Config");
    makeFolderTree(config);
    EXPECT_TRUE(CopyFileW(joinPath(testProgramFolder(), L"fake_game\\Vorlane.exe").c_str(),
                          joinPath(top, L"Vorlane.exe").c_str(), FALSE));
    EXPECT_TRUE(writeFileAtomically(joinPath(top, L"Build.ini"), buildIniText(commit)));
    EXPECT_TRUE(writeFileAtomically(joinPath(config, L"Default.ini"), "[Audio]\r\nVolume=80\r\n"));

    if (payloadBytes > 0) {
        std::string payload(payloadBytes, '\0');
        uint32_t x = 2463534242u;
        for (char& byte : payload) {  // xorshift: bytes that no packer can shrink
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<char>(x >> 24);
        }
        makeFolderTree(joinPath(top, L"Content\\Paks"));
        EXPECT_TRUE(writeFileAtomically(joinPath(top, L"Content\\Paks\\Data.pak"), payload));
    }
    for (const auto& [path, bytes] : extraFiles) {
        if (path.ends_with(L'\\')) {
            EXPECT_TRUE(makeFolderTree(joinPath(top, path.substr(0, path.size() - 1))));
            continue;
        }
        makeFolderTree(parentFolder(joinPath(top, path)));
        EXPECT_TRUE(writeFileAtomically(joinPath(top, path), bytes));
    }
    const std::wstring zip = joinPath(folder, buildZipName(commit));
    std::string output;
    const int code = runCaptured(systemTar() + L" -a -cf \"" + zip + L"\" -C \"" + staging + L"\" " + name,
                                 [&](const std::string& line) { output += line + "\n"; });
    EXPECT_EQ(code, 0) << output << " error " << GetLastError();
    EXPECT_TRUE(fileExists(zip));
    removeTree(staging);
    return zip;
}

std::wstring unpackBuildZip(const std::wstring& zip, const std::wstring& folder) {
    makeFolderTree(folder);
    const int code = runCaptured(systemTar() + L" -xf " + quoted(zip) + L" -C " + quoted(folder), [](const std::string&) {});
    EXPECT_EQ(code, 0) << toUtf8(zip);
    const std::wstring name = fileNameOf(zip);
    return code == 0 ? joinPath(folder, name.substr(0, name.size() - 4)) : std::wstring();
}

TestBuildServer::TestBuildServer(const std::wstring& name) : work_(L"build-server") {
    folder_ = joinPath(nginxDocumentFolder(), name);
    url_ = nginxBaseUrl() + L"/" + name;
    EXPECT_NE(nginxBaseUrl(), L"") << "the nginx build server isn't running";
    removeTree(folder_);
    EXPECT_TRUE(makeFolderTree(folder_));
}

TestBuildServer::~TestBuildServer() { removeTree(folder_); }

std::wstring TestBuildServer::slowUrl() const { return nginxBaseUrl() + L"/slow" + url_.substr(nginxBaseUrl().size()); }
std::wstring TestBuildServer::pacedUrl() const {
    return nginxBaseUrl() + L"/paced" + url_.substr(nginxBaseUrl().size());
}

bool TestBuildServer::publish(const std::wstring& zip, const std::wstring& released, const std::wstring& summary) {
    std::vector<std::wstring> arguments{L"build", folder_, keptTestKeyFile(), zip, L"--released", released};
    if (!summary.empty()) arguments.insert(arguments.end(), {L"--summary", summary});
    if (!pieces_) arguments.push_back(L"--no-pieces");
    PublishRun run = runPublisher(work_, arguments);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    return run.exitCode == 0;
}

std::wstring TestBuildServer::publishBuild(const std::wstring& commit, const std::wstring& released,
                                          size_t payloadBytes, const BuildFiles& extraFiles) {
    const std::wstring zip = makeBuildZip(work_.path(), commit, payloadBytes, extraFiles);
    publish(zip, released);
    return joinPath(folder_, fileNameOf(zip));
}

}  // namespace vorlane::testing
