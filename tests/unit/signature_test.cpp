// Signed lists: the signature check against the release key, fetching ".sig"
// files from a build server, and the walk over several build servers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/bcrypt_handles.h"
#include "net/release_key.h"
#include "net/sha256.h"
#include "net/signature.h"
#include "support/launcher_process.h"
#include "support/signing_key.h"
#include "support/test_http_server.h"

namespace vorlane {
namespace {

using testing::freshSigningKey;
using testing::SigningKey;
using testing::TestHttpServer;
using testing::testSigningKey;

const std::string kList = "\xEF\xBB\xBF[{\"File\":\"Vorlane-abc1234.zip\",\"Commit\":\"abc1234\"}]\n";
const std::string kUnsignedRefusal = " isn't signed with Vorlane's key, so nothing from it is installed.";

class SignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<SigningKey> key = testSigningKey();
        ASSERT_TRUE(key) << "tests\\keys\\test-release.key wasn't found above the test program's folder";
        key_.emplace(*key);
        signature_ = key_->sign(kList);
        ASSERT_EQ(signature_.size(), 89u);
    }

    std::optional<SigningKey> key_;
    std::string signature_;  // of kList, with a line break
};

TEST_F(SignatureTest, TheTestProgramCarriesTheKeptTestKey) {
    EXPECT_FALSE(isDeveloperBuild());
    EXPECT_EQ(releaseKey(), key_->publicKey());
}

TEST_F(SignatureTest, AcceptsTheKeysSignatureWithWhiteSpaceAnywhere) {
    EXPECT_TRUE(verifySignature(kList, signature_));
    std::string bare = signature_.substr(0, 88);
    EXPECT_TRUE(verifySignature(kList, bare));
    EXPECT_TRUE(verifySignature(kList, bare.substr(0, 86)));  // padding left out
    EXPECT_TRUE(verifySignature(kList, " \t" + bare.substr(0, 40) + "\r\n" + bare.substr(40) + "\v\f\r\n"));
}

TEST_F(SignatureTest, RefusesASignatureTextThatIsntExactly64Bytes) {
    std::string raw = decodeBase64(signature_);
    ASSERT_EQ(raw.size(), 64u);
    for (size_t at : {size_t(0), size_t(43), size_t(86), size_t(88)}) {
        std::string starred = signature_;
        starred.insert(at, "*");
        EXPECT_FALSE(verifySignature(kList, starred)) << "a * at " << at;
    }
    EXPECT_FALSE(verifySignature(kList, encodeBase64(raw.substr(0, 63))));
    EXPECT_FALSE(verifySignature(kList, encodeBase64(raw + "\x01")));
    EXPECT_FALSE(verifySignature(kList, ""));
    EXPECT_FALSE(verifySignature(kList, signature_.substr(0, 20) + "=" + signature_.substr(20)));
}

TEST_F(SignatureTest, AnyChangeToTheListBreaksTheSignature) {
    std::string changed = kList;
    changed[10] ^= 1;
    EXPECT_FALSE(verifySignature(changed, signature_));
    EXPECT_FALSE(verifySignature(kList.substr(3), signature_)) << "byte order mark dropped";
    EXPECT_FALSE(verifySignature(kList.substr(0, kList.size() - 1), signature_)) << "line break dropped";
    EXPECT_FALSE(verifySignature(kList + "\n", signature_)) << "line break added";
    EXPECT_FALSE(verifySignature(kList, key_->sign(kList + " ")));
}

TEST_F(SignatureTest, OnlyTheGivenKeyAndNeverTheZeroKeyVerifies) {
    std::optional<SigningKey> other = freshSigningKey();
    ASSERT_TRUE(other);
    std::string otherSignature = other->sign(kList);
    EXPECT_FALSE(verifySignature(kList, otherSignature));
    EXPECT_TRUE(verifySignature(kList, otherSignature, other->publicKey()));
    EXPECT_FALSE(verifySignature(kList, signature_, other->publicKey()));

    ReleaseKey zero{};
    EXPECT_TRUE(isDeveloperKey(zero));
    EXPECT_FALSE(verifySignature(kList, signature_, zero));
    EXPECT_FALSE(verifySignature(kList, otherSignature, zero));
}

// checkSignature and fetchSigned against a build server.
class SignedFetchTest : public SignatureTest {
protected:
    void SetUp() override {
        SignatureTest::SetUp();
        ASSERT_TRUE(server_.running());
    }

    std::vector<std::string> requestedPaths() const {
        std::vector<std::string> paths;
        for (const testing::LoggedRequest& request : server_.requests()) paths.push_back(request.target);
        return paths;
    }

    TestHttpServer server_;
};

TEST_F(SignedFetchTest, AGoodSignatureIsHandedBackAsReceived) {
    server_.serve("/builds.json.sig", signature_);
    std::string kept = "stale";
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"builds.json", kList, &kept), L"");
    EXPECT_EQ(kept, signature_);
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"builds.json", kList), L"");
    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/builds.json.sig", "/builds.json.sig"}));
}

TEST_F(SignedFetchTest, AFailedCheckGivesItsSentenceAndKeepsNothing) {
    std::string kept = "stale";
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"builds.json", kList, &kept),
              L"builds.json.sig: The build server answered 404.");
    EXPECT_EQ(kept, "");

    server_.serve("/theme_slots.json.sig", encodeBase64(decodeBase64(signature_).substr(0, 63)) + "\n");
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"theme_slots.json", kList, &kept),
              L"theme_slots.json.sig isn't the key's signature of it.");
    server_.serve("/theme_slots.json.sig", encodeBase64(decodeBase64(signature_) + "A") + "\n");
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"theme_slots.json", kList, &kept),
              L"theme_slots.json.sig isn't the key's signature of it.");
    server_.serve("/theme_slots.json.sig", signature_);
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"theme_slots.json", kList + " ", &kept),
              L"theme_slots.json.sig isn't the key's signature of it.");
    EXPECT_EQ(kept, "");

    std::wstring error = checkSignature(testing::unusedLocalServer(), L"builds.json", kList);
    EXPECT_EQ(error.rfind(L"builds.json.sig: Couldn't reach ", 0), 0u) << toUtf8(error);
}

TEST_F(SignedFetchTest, FetchSignedTellsAMissingListFromABadSignature) {
    const std::wstring base = server_.baseUrl();
    SignedDocument missing = fetchSigned(base, L"themes.json");
    EXPECT_FALSE(missing.answered);
    EXPECT_EQ(missing.error, L"The build server answered 404.");
    EXPECT_EQ(requestedPaths(), std::vector<std::string>{"/themes.json"}) << "no .sig is asked for a missing list";

    server_.serve("/themes.json", kList);
    SignedDocument unsignedList = fetchSigned(base, L"themes.json");
    EXPECT_TRUE(unsignedList.answered);
    EXPECT_EQ(unsignedList.bytes, kList);
    EXPECT_EQ(unsignedList.error, L"themes.json.sig: The build server answered 404.");

    server_.serve("/themes.json.sig", signature_);
    SignedDocument good = fetchSigned(base, L"themes.json");
    EXPECT_TRUE(good.answered);
    EXPECT_EQ(good.error, L"");
    EXPECT_EQ(good.server, base);
    EXPECT_EQ(good.name, L"themes.json");
    EXPECT_EQ(good.bytes, kList);
    EXPECT_EQ(good.signature, signature_);
}

TEST_F(SignedFetchTest, ADeveloperBuildAsksForNoSignatureAndTakesEveryList) {
    const ReleaseKey developer{};
    server_.serve("/themes.json", kList);
    std::string kept = "stale";
    EXPECT_EQ(checkSignature(server_.baseUrl(), L"themes.json", kList, &kept, developer), L"");
    EXPECT_EQ(kept, "");
    SignedDocument document = fetchSigned(server_.baseUrl(), L"themes.json", developer);
    EXPECT_TRUE(document.answered);
    EXPECT_EQ(document.error, L"");
    EXPECT_EQ(document.bytes, kList);
    EXPECT_EQ(document.signature, "");
    EXPECT_EQ(requestedPaths(), std::vector<std::string>{"/themes.json"});
}

// The walk over build servers, with the build list's wording.
class ServerWalkTest : public SignatureTest {
protected:
    static Refusal buildListUnsigned(const SignedDocument& document) {
        return {L"The build list from " + document.server + toUtf16(kUnsignedRefusal), L"the list isn't signed", L""};
    }

    TestHttpServer first_, second_, third_;
};

TEST_F(ServerWalkTest, PassesOverAnUnreachableAndAnUnsignedServerInOrder) {
    const std::wstring unreachable = testing::unusedLocalServer();
    second_.serve("/builds.json", "[]");
    third_.serve("/builds.json", kList);
    third_.serve("/builds.json.sig", signature_);

    ServerWalk walk = walkServers({unreachable, second_.baseUrl(), third_.baseUrl()}, L"builds.json",
                                  buildListUnsigned, RefusalRule());
    ASSERT_TRUE(walk.found);
    EXPECT_TRUE(walk.anyAnswered);
    EXPECT_EQ(walk.document.server, third_.baseUrl());
    EXPECT_EQ(walk.document.bytes, kList);
    EXPECT_EQ(walk.document.signature, signature_);
    EXPECT_EQ(walk.document.error, L"");
    ASSERT_EQ(walk.lines.size(), 2u);
    EXPECT_EQ(walk.lines[0].rfind(unreachable + L": Couldn't reach ", 0), 0u) << toUtf8(walk.lines[0]);
    EXPECT_EQ(walk.lines[1], L"The build list from " + second_.baseUrl() + toUtf16(kUnsignedRefusal) +
                                 L" (builds.json.sig: The build server answered 404.)");
    EXPECT_EQ(walk.lastRefusal.sentence, L"") << "a list was taken, so nothing was refused";
}

TEST_F(ServerWalkTest, TheFeaturesTestRefusesSignedListsAndTheWalkGoesOn) {
    const std::string older = "[]";
    first_.serve("/builds.json", older);
    first_.serve("/builds.json.sig", key_->sign(older));
    second_.serve("/builds.json", kList);
    second_.serve("/builds.json.sig", signature_);

    std::vector<std::string> judged;
    RefusalRule notOlder = [&](const SignedDocument& document) {
        judged.push_back(document.bytes);
        if (document.bytes != older) return Refusal();
        return Refusal{L"The build list from " + document.server + L" is older.", L"the list is older",
                       L"its newest build: none"};
    };
    ServerWalk walk = walkServers({first_.baseUrl(), second_.baseUrl(), third_.baseUrl()}, L"builds.json",
                                  buildListUnsigned, notOlder);
    ASSERT_TRUE(walk.found);
    EXPECT_EQ(walk.document.server, second_.baseUrl());
    EXPECT_EQ(judged, (std::vector<std::string>{older, kList})) << "only signed lists are judged";
    const std::wstring refused = L"The build list from " + first_.baseUrl() + L" is older. (its newest build: none)";
    EXPECT_EQ(walk.lines, std::vector<std::wstring>{refused});
    EXPECT_TRUE(third_.requests().empty()) << "the walk stops at the first list it takes";
}

TEST_F(ServerWalkTest, WhenNoServerWinsTheLastRefusalStands) {
    first_.serve("/builds.json", kList);
    first_.serve("/builds.json.sig", "not a signature");
    second_.serve("/builds.json", kList);
    second_.serve("/builds.json.sig", signature_);
    RefusalRule refuseAll = [](const SignedDocument& document) {
        return Refusal{L"Refused " + document.server + L".", L"refused", L""};
    };
    ServerWalk walk = walkServers({first_.baseUrl(), second_.baseUrl()}, L"builds.json", buildListUnsigned, refuseAll);
    EXPECT_FALSE(walk.found);
    EXPECT_TRUE(walk.anyAnswered);
    EXPECT_EQ(walk.lines, (std::vector<std::wstring>{
                              L"The build list from " + first_.baseUrl() + toUtf16(kUnsignedRefusal) +
                                  L" (builds.json.sig isn't the key's signature of it.)",
                              L"Refused " + second_.baseUrl() + L"."}));
    EXPECT_EQ(walk.lastRefusal.sentence, L"Refused " + second_.baseUrl() + L".");
    EXPECT_EQ(walk.lastRefusal.reason, L"refused");

    // Without a wording of its own, an unsigned list leaves the server and the check's sentence.
    ServerWalk plain = walkServers({first_.baseUrl()}, L"builds.json", RefusalRule(), RefusalRule());
    EXPECT_EQ(plain.lines, std::vector<std::wstring>{first_.baseUrl() +
                                                     L": builds.json.sig isn't the key's signature of it."});
    EXPECT_EQ(plain.lastRefusal.reason, L"");
}

TEST_F(ServerWalkTest, NoAnswerFromAnyServerIsNotARefusal) {
    ServerWalk walk = walkServers({first_.baseUrl(), second_.baseUrl()}, L"builds.json", buildListUnsigned,
                                  RefusalRule());
    EXPECT_FALSE(walk.found);
    EXPECT_FALSE(walk.anyAnswered);
    EXPECT_EQ(walk.lines, (std::vector<std::wstring>{first_.baseUrl() + L": The build server answered 404.",
                                                     second_.baseUrl() + L": The build server answered 404."}));
    EXPECT_EQ(walk.lastRefusal.sentence, L"");
}

TEST_F(ServerWalkTest, ADeveloperBuildTakesTheFirstListWithoutAskingForItsSignature) {
    first_.serve("/builds.json", kList);
    ServerWalk walk = walkServers({first_.baseUrl(), second_.baseUrl()}, L"builds.json", buildListUnsigned,
                                  RefusalRule(), ReleaseKey{});
    ASSERT_TRUE(walk.found);
    EXPECT_EQ(walk.document.server, first_.baseUrl());
    EXPECT_EQ(walk.document.signature, "");
    EXPECT_TRUE(walk.lines.empty());
    ASSERT_EQ(first_.requests().size(), 1u);
    EXPECT_EQ(first_.requests()[0].target, "/builds.json");
    EXPECT_TRUE(second_.requests().empty());
}

}  // namespace
}  // namespace vorlane
