// A small HTTP/1.1 server inside the test program, on 127.0.0.1 and a free port, for the tests of everything that
// talks HTTP. It serves a table of paths like a static file server (ranges included) and can be told, path by
// path, to misbehave: another status, a redirect, a Content-Length that lies, a connection cut mid-answer, a slow
// answer, a trickling one. It answers one connection at a time (or, when asked, each on a thread of its own) and closes
// each after its answer, and keeps a log of what it was asked.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorlane::testing {

// How one path is answered.
struct TestRoute {
    std::string body;
    // 0 or more: the body is this many bytes of TestHttpServer::patternByte, made while sending (for answers too
    // big to hold twice); body is then unused.
    long long generatedSize = -1;
    // 0: 200, or for "Range: bytes=N-" 206 with the rest from N, or 416 when N is at or past the end. Anything
    // else: that status with the whole body, whatever range was asked.
    unsigned status = 0;
    bool ignoreRange = false;       // answer 200 with the whole body even when a range is asked
    long long claimedLength = -1;   // 0 or more: the Content-Length sent instead of the true one
    bool noLength = false;          // send no Content-Length; the closed connection ends the answer
    long long cutAfter = -1;        // 0 or more: reset the connection after this many bytes of the body
    std::string location;           // not empty: a redirect (302 unless status says otherwise) without a body
    std::vector<std::pair<std::string, std::string>> headers;  // added to the answer
    unsigned delayMs = 0;           // wait this long after reading the request before answering
    unsigned trickleMs = 0;         // not 0: the body goes one byte at a time, this long apart (after the headers)
};

// One request as it arrived.
struct LoggedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string range;   // the Range header's value, empty when absent
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    // A header's value by name (ignoring case), empty when absent.
    std::string header(const std::string& name) const;
};

class TestHttpServer {
public:
    // answerAtOnce: every connection is answered on a thread of its own, so that a client's requests can be
    // held at the same time (a route's delayMs holds each) and counted.
    explicit TestHttpServer(bool answerAtOnce = false);
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;
    ~TestHttpServer();

    bool running() const { return thread_.joinable(); }
    unsigned short port() const { return port_; }
    std::wstring baseUrl() const;                     // "http://127.0.0.1:<port>"
    std::wstring url(const std::string& path) const;  // baseUrl() + path

    // Serves path (with its query, if any) as a plain file, or as route says. Paths not served answer 404.
    void serve(const std::string& path, std::string body);
    void serve(const std::string& path, TestRoute route);

    std::vector<LoggedRequest> requests() const;
    void clearLog();
    // The most requests that were read and not yet answered at the same time.
    size_t mostAtOnce() const;

    // The bytes of a generated body: byte n is n modulo 251.
    static char patternByte(long long offset) { return (char)(offset % 251); }
    static std::string patternBytes(long long size);

private:
    void run();
    void answer(SOCKET client);
    std::shared_ptr<const TestRoute> routeFor(const std::string& target) const;
    bool pause(unsigned milliseconds);

    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    bool winsockStarted_ = false;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::condition_variable stopSignal_;
    std::map<std::string, std::shared_ptr<const TestRoute>> routes_;
    std::vector<LoggedRequest> log_;
    size_t atOnce_ = 0, mostAtOnce_ = 0;
    bool answerAtOnce_ = false;
    std::vector<std::thread> answering_;  // the threads of answerAtOnce, joined when the server stops
    std::thread thread_;
};

}  // namespace vorlane::testing
