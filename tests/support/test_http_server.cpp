#include "test_http_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace vorlane::testing {

namespace {

const size_t kHeadLimit = 65536;
const size_t kSendBlock = 1048576;
const DWORD kSocketTimeoutMs = 10000;

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// A whole number from the start of text; -1 when it doesn't start with a digit.
long long leadingNumber(const std::string& text) {
    if (text.empty() || !std::isdigit((unsigned char)text[0])) return -1;
    long long value = 0;
    for (size_t i = 0; i < text.size() && std::isdigit((unsigned char)text[i]); ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

const char* reasonPhrase(unsigned status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Answer";
    }
}

bool sendAll(SOCKET client, const char* data, size_t size) {
    while (size > 0) {
        int sent = send(client, data, (int)std::min(size, kSendBlock), 0);
        if (sent <= 0) return false;
        data += sent;
        size -= (size_t)sent;
    }
    return true;
}

// The bytes of generated bodies, one block long plus one period, so that any block of the pattern is one slice.
const std::string& patternTile() {
    static const std::string tile = TestHttpServer::patternBytes(kSendBlock + 251);
    return tile;
}

bool sendBody(SOCKET client, const TestRoute& route, long long from, long long count) {
    if (route.generatedSize < 0) return sendAll(client, route.body.data() + from, (size_t)count);
    while (count > 0) {
        size_t block = (size_t)std::min<long long>(count, (long long)kSendBlock);
        if (!sendAll(client, patternTile().data() + from % 251, block)) return false;
        from += (long long)block;
        count -= (long long)block;
    }
    return true;
}

// Reads the request line, headers and (by its Content-Length) body; false when the client went away first.
bool readRequest(SOCKET client, LoggedRequest& request) {
    std::string data;
    char buffer[8192];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kHeadLimit) return false;
        int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) return false;
        data.append(buffer, (size_t)got);
    }
    size_t lineEnd = data.find("\r\n");
    std::string line = data.substr(0, lineEnd);
    size_t firstBlank = line.find(' '), secondBlank = line.rfind(' ');
    if (firstBlank == std::string::npos || secondBlank == firstBlank) return false;
    request.method = line.substr(0, firstBlank);
    request.target = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    for (size_t at = lineEnd + 2; at < headEnd;) {
        size_t next = data.find("\r\n", at);
        std::string field = data.substr(at, next - at);
        size_t colon = field.find(':');
        if (colon != std::string::npos)
            request.headers.emplace_back(trimmed(field.substr(0, colon)), trimmed(field.substr(colon + 1)));
        at = next + 2;
    }
    request.range = request.header("Range");
    request.body = data.substr(headEnd + 4);
    long long length = leadingNumber(request.header("Content-Length"));
    while (length > 0 && (long long)request.body.size() < length) {
        int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) return false;
        request.body.append(buffer, (size_t)got);
    }
    return true;
}

// What one answer holds: its status, its headers and the slice of the route's body that follows them.
struct AnswerPlan {
    unsigned status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    long long from = 0;
    long long count = 0;
};

AnswerPlan planAnswer(const TestRoute* route, const LoggedRequest& request) {
    AnswerPlan plan;
    if (!route) {
        plan.status = 404;
        plan.headers.emplace_back("Content-Length", "0");
        return plan;
    }
    if (!route->location.empty()) {
        plan.status = route->status ? route->status : 302;
        plan.headers.emplace_back("Location", route->location);
        plan.headers.emplace_back("Content-Length", "0");
        plan.headers.insert(plan.headers.end(), route->headers.begin(), route->headers.end());
        return plan;
    }
    const long long size = route->generatedSize >= 0 ? route->generatedSize : (long long)route->body.size();
    plan.count = size;
    // "bytes=N-" and "bytes=N-M".
    const bool ranged = route->status == 0 && !route->ignoreRange && request.range.rfind("bytes=", 0) == 0;
    const long long start = ranged ? leadingNumber(request.range.substr(6)) : -1;
    const size_t dash = request.range.find('-');
    const long long last = ranged && dash != std::string::npos ? leadingNumber(request.range.substr(dash + 1)) : -1;
    const long long end = last >= start && last + 1 < size ? last + 1 : size;
    if (route->status != 0) {
        plan.status = route->status;
    } else if (start >= size) {
        plan.status = 416;
        plan.count = 0;
        plan.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    } else if (start >= 0) {
        plan.status = 206;
        plan.from = start;
        plan.count = end - start;
        plan.headers.emplace_back("Content-Range",
                                  "bytes " + std::to_string(start) + "-" + std::to_string(end - 1) + "/" +
                                      std::to_string(size));
    }
    if (!route->noLength) {
        long long length = route->claimedLength >= 0 ? route->claimedLength : plan.count;
        plan.headers.emplace_back("Content-Length", std::to_string(length));
    }
    plan.headers.insert(plan.headers.end(), route->headers.begin(), route->headers.end());
    return plan;
}

std::string headText(const AnswerPlan& plan) {
    std::string text = "HTTP/1.1 " + std::to_string(plan.status) + " " + reasonPhrase(plan.status) + "\r\n";
    for (const auto& [name, value] : plan.headers) text += name + ": " + value + "\r\n";
    text += "Connection: close\r\n\r\n";
    return text;
}

void closeGracefully(SOCKET client) {
    shutdown(client, SD_SEND);
    closesocket(client);
}

// Closes with a reset instead of an orderly end, as a connection that breaks does.
void closeAbruptly(SOCKET client) {
    linger resetAtOnce{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, (const char*)&resetAtOnce, sizeof(resetAtOnce));
    closesocket(client);
}

}  // namespace

std::string LoggedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (sameIgnoringCase(key, name)) return value;
    return {};
}

TestHttpServer::TestHttpServer(bool answerAtOnce) : answerAtOnce_(answerAtOnce) {
    WSADATA data;
    winsockStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!winsockStarted_) return;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (bind(listener_, (sockaddr*)&address, sizeof(address)) != 0 || listen(listener_, SOMAXCONN) != 0 ||
        getsockname(listener_, (sockaddr*)&address, &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

TestHttpServer::~TestHttpServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (std::thread& answering : answering_) answering.join();
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    if (winsockStarted_) WSACleanup();
}

std::wstring TestHttpServer::baseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

std::wstring TestHttpServer::url(const std::string& path) const {
    return baseUrl() + std::wstring(path.begin(), path.end());
}

void TestHttpServer::serve(const std::string& path, std::string body) {
    TestRoute route;
    route.body = std::move(body);
    serve(path, std::move(route));
}

void TestHttpServer::serve(const std::string& path, TestRoute route) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::make_shared<const TestRoute>(std::move(route));
}

std::vector<LoggedRequest> TestHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void TestHttpServer::clearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

size_t TestHttpServer::mostAtOnce() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostAtOnce_;
}

std::string TestHttpServer::patternBytes(long long size) {
    std::string bytes((size_t)size, '\0');
    for (long long i = 0; i < size; ++i) bytes[(size_t)i] = patternByte(i);
    return bytes;
}

void TestHttpServer::run() {
    while (!stopping_) {
        fd_set waiting;
        FD_ZERO(&waiting);
        FD_SET(listener_, &waiting);
        timeval tick{0, 50000};
        int ready = select(0, &waiting, nullptr, nullptr, &tick);
        if (ready < 0) Sleep(10);
        if (ready <= 0) continue;
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        if (answerAtOnce_)
            answering_.emplace_back([this, client] { answer(client); });
        else
            answer(client);
    }
}

std::shared_ptr<const TestRoute> TestHttpServer::routeFor(const std::string& target) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = routes_.find(target);
    return found == routes_.end() ? nullptr : found->second;
}

bool TestHttpServer::pause(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !stopSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_.load(); });
}

void TestHttpServer::answer(SOCKET client) {
    DWORD timeout = kSocketTimeoutMs;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, (const char*)&timeout, sizeof(timeout));
    LoggedRequest request;
    if (!readRequest(client, request)) {
        closeGracefully(client);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(request);
        mostAtOnce_ = std::max(mostAtOnce_, ++atOnce_);
    }
    std::shared_ptr<const TestRoute> route = routeFor(request.target);
    const bool stopped = route && route->delayMs > 0 && !pause(route->delayMs);
    {
        // Counted out before the answer goes: a client can't have its next request read before then.
        std::lock_guard<std::mutex> lock(mutex_);
        --atOnce_;
    }
    if (stopped) {
        closeGracefully(client);
        return;
    }
    const AnswerPlan plan = planAnswer(route.get(), request);
    const bool cut = route && route->cutAfter >= 0;
    long long count = request.method == "HEAD" ? 0 : plan.count;
    if (cut) count = std::min(count, route->cutAfter);
    std::string head = headText(plan);
    if (sendAll(client, head.data(), head.size()) && count > 0) {
        if (route->trickleMs == 0) {
            sendBody(client, *route, plan.from, count);
        } else {
            // Until the client goes away (a send fails) or the server stops.
            for (long long at = plan.from; at < plan.from + count && pause(route->trickleMs); ++at)
                if (!sendBody(client, *route, at, 1)) break;
        }
    }
    if (cut)
        closeAbruptly(client);
    else
        closeGracefully(client);
}

}  // namespace vorlane::testing
