// The stand-in Hugging Face hub that CTest starts for the run
// (tools/hub_double): a session of it with a script of its own, its base
// address, and the requests it and its storage got.
#pragma once

#include <string>
#include <vector>

#include "support/double_session.h"

namespace vorlane::testing {

struct HubRequest {
    std::string server;  // "hub" or "storage"
    std::string method;
    std::string path;    // with the query, without the session's part
    std::string range;   // the Range header, or empty
    long long sent = 0;  // the bytes of the answer's body written so far
    bool ended = false;  // the answer is over: sent whole, cut, or the client gone
};

class HubDouble {
public:
    // A new session answering by `script` (JSON; see the tool's own notes).
    explicit HubDouble(const std::string& script) : session_(L"hub", "hub", script) {}

    // The base address to hand the launcher in place of the hub's.
    const std::wstring& address() const { return session_.address(); }
    std::vector<HubRequest> requests() const;
    // "HEAD", "GET" and "GET bytes=N-" per request, in order.
    std::vector<std::string> sequence() const;
    // The bytes the hub serves for the file of the script named `key`
    // ("<repository>/<path>") with `size` bytes.
    static std::string fileBytes(const std::string& key, long long size);

private:
    DoubleSession session_;
};

}  // namespace vorlane::testing
