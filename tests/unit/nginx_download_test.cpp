// Downloads against a real static web server (nginx), which answers ranges, 206
// and 416 itself, as the build servers do.
#include <gtest/gtest.h>

#include "core/files.h"
#include "core/text.h"
#include "net/http_client.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

class NginxDownload : public ::testing::Test {
protected:
    std::wstring base = nginxBaseUrl();
    TempFolder temp;
    std::string body = TestHttpServer::patternBytes(3 * 1048576 + 4321);
    std::wstring name = L"Vorlane-" + std::to_wstring(GetCurrentProcessId()) + L"abc.zip";

    void SetUp() override {
        ASSERT_FALSE(base.empty()) << "nginx isn't running (scripts/nginx-server start)";
        ASSERT_TRUE(writeFileAtomically(joinPath(nginxDocumentFolder(), name), body));
    }
    void TearDown() override { DeleteFileW(longPath(joinPath(nginxDocumentFolder(), name)).c_str()); }

    HttpResult fetch(const std::wstring& file, bool resume, long long failAfter = -1) {
        return download(base + L"/" + name, nullptr, file, {}, failAfter, resume, L"The build server");
    }
};

}  // namespace

TEST_F(NginxDownload, ABrokenDownloadCarriesOnWhereItStopped) {
    std::wstring part = temp.file(L"build.zip.part");
    EXPECT_EQ(fetch(part, true, 1500000).error, L"The download broke off (a test).");
    std::string kept = readWholeFile(part);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LE(kept.size(), 1500000u);  // never past the cut-off
    HttpResult result = fetch(part, true);
    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 206u);
    EXPECT_TRUE(readWholeFile(part) == body);
}

TEST_F(NginxDownload, ACompleteFileIsLeftAloneOn416) {
    std::wstring file = temp.file(L"build.zip");
    ASSERT_TRUE(writeFileAtomically(file, body));
    HttpResult result = fetch(file, true);
    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 416u);
    EXPECT_TRUE(readWholeFile(file) == body);
}

TEST_F(NginxDownload, WithoutResumeTheFileIsWrittenAfresh) {
    std::wstring file = temp.file(L"build.zip");
    ASSERT_TRUE(writeFileAtomically(file, std::string(5000000, 'x')));
    HttpResult result = fetch(file, false);
    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.status, 200u);
    EXPECT_TRUE(readWholeFile(file) == body);
}

TEST_F(NginxDownload, AMissingFileIsTheServersAnswer) {
    HttpResult result = download(base + L"/no-such-file.zip", nullptr, temp.file(L"x"), {}, -1, false,
                                 L"The build server");
    EXPECT_EQ(result.error, L"The build server answered 404.");
}
