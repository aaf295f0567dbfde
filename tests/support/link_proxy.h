// A slow link to a server of the test run (tools/link_proxy, run natively): a
// round-trip time on each connection and each answer, a cap on the bytes a
// second, and the means to drop every connection at once.
#pragma once

#include <string>

#include "support/temp_folder.h"

namespace vorlane::testing {

class LinkProxy {
public:
    // Starts a link to the server of `targetUrl` ("http://127.0.0.1:<port>", a
    // path after it is left out); the test fails when it doesn't start.
    // rateMbps 0: no cap (in million bytes a second).
    LinkProxy(const std::wstring& targetUrl, unsigned rttMs, unsigned rateMbps);
    LinkProxy(const LinkProxy&) = delete;
    LinkProxy& operator=(const LinkProxy&) = delete;
    ~LinkProxy();  // stops it

    // "http://127.0.0.1:<port>" of the link, in place of the target's.
    const std::wstring& url() const { return url_; }
    // Drops every connection and refuses new ones; returns once the link has
    // done so, true when it has.
    bool dropConnections();

private:
    TempFolder state_;
    std::wstring url_;
};

}  // namespace vorlane::testing
