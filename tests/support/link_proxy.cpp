#include "support/link_proxy.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/unix_links.h"

namespace vorlane::testing {

namespace {

std::string proxyProgram() { return unixPath(sourceTreeFile(L"tools\\link_proxy\\link-proxy")); }

}  // namespace

LinkProxy::LinkProxy(const std::wstring& targetUrl, unsigned rttMs, unsigned rateMbps) : state_(L"link-proxy") {
    const std::wstring prefix = L"http://";
    const std::wstring target = targetUrl.substr(prefix.size(), targetUrl.find(L'/', prefix.size()) - prefix.size());
    const std::string state = unixPath(state_.path());
    const bool started = runShell(proxyProgram() + " start " + state + " --target " + toUtf8(target) + " --rtt-ms " +
                                  std::to_string(rttMs) + " --rate-mbps " + std::to_string(rateMbps) +
                                  " --drop-when " + unixPath(state_.file(L"drop")));
    const std::wstring port = trimSpace(toUtf16(readTestFile(state_.file(L"port"))));
    EXPECT_TRUE(started && !port.empty()) << "the link proxy didn't start: "
                                          << readTestFile(state_.file(L"proxy.log"));
    if (!port.empty()) url_ = L"http://127.0.0.1:" + port;
}

LinkProxy::~LinkProxy() { runShell(proxyProgram() + " stop " + unixPath(state_.path())); }

bool LinkProxy::dropConnections() {
    state_.writeFile(L"drop", "");
    return waitFor([&] { return fileExists(state_.file(L"dropped")); });
}

}  // namespace vorlane::testing
