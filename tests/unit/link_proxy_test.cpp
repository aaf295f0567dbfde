// The slow link the bench and the tests put between the launcher and a build
// server: what goes through it arrives whole, no sooner than its round trips
// and its rate allow, and a drop breaks off an answer and refuses what follows.
#include <gtest/gtest.h>

#include <chrono>

#include "core/files.h"
#include "core/text.h"
#include "net/http_client.h"
#include "support/addon_themes.h"
#include "support/link_proxy.h"
#include "support/nginx_server.h"

namespace vorlane {
namespace {

using testing::LinkProxy;

// A file on the nginx build server, in a folder of the test's own, removed again at the end.
struct ServedFile {
    std::string bytes;
    std::wstring name;
    ServedFile(const std::wstring& test, size_t size) : bytes(testing::noiseBytes(size, 77)), name(test) {
        EXPECT_TRUE(makeFolderTree(folder()));
        EXPECT_TRUE(writeFileAtomically(joinPath(folder(), L"file.bin"), bytes));
    }
    ~ServedFile() { deleteFolderTree(folder()); }
    std::wstring folder() const { return joinPath(testing::nginxDocumentFolder(), name); }
    std::wstring path() const { return L"/" + name + L"/file.bin"; }
};

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST(LinkProxy, AnAnswerArrivesWholeAfterTheRoundTripsAndAtTheRate) {
    ServedFile served(L"link-proxy-rate", 3000000);
    LinkProxy link(testing::nginxBaseUrl(), 200, 10);
    ASSERT_FALSE(link.url().empty());
    const auto start = std::chrono::steady_clock::now();
    HttpResult got = request(L"GET", link.url() + served.path(), "", 30000);
    const long long took = millisecondsSince(start);
    ASSERT_EQ(got.error, L"");
    EXPECT_EQ(got.status, 200u);
    EXPECT_TRUE(got.body == served.bytes) << got.body.size() << " bytes came";
    // One round trip to open the connection, one for the answer, and the bytes at 10 MB/s after the first burst.
    EXPECT_GE(took, 2 * 200 + (3000000 - 65536) / 10000) << "ms";

    // A second request on the same connection waits one round trip again.
    const auto again = std::chrono::steady_clock::now();
    got = request(L"GET", link.url() + L"/link-proxy-rate/missing.bin", "", 30000);
    EXPECT_EQ(got.status, 404u);
    EXPECT_GE(millisecondsSince(again), 200) << "ms";
}

TEST(LinkProxy, ADropBreaksOffTheAnswerAndRefusesWhatFollows) {
    ServedFile served(L"link-proxy-drop", 3000000);
    LinkProxy link(testing::nginxBaseUrl(), 0, 1);
    ASSERT_FALSE(link.url().empty());
    std::string body;
    bool dropped = false;
    const HttpResult got = download(
        link.url() + served.path(), &body, L"",
        [&](long long done, long long) {
            if (done > 0 && !dropped) dropped = link.dropConnections();
            return true;
        },
        -1, false, L"The build server");
    EXPECT_TRUE(dropped);
    EXPECT_NE(got.error, L"") << "the answer came whole";
    EXPECT_LT(body.size(), served.bytes.size());

    EXPECT_NE(request(L"GET", link.url() + served.path(), "", 30000).error, L"");
    EXPECT_EQ(request(L"GET", testing::nginxBaseUrl() + served.path(), "", 30000).status, 200u);
}

}  // namespace
}  // namespace vorlane
