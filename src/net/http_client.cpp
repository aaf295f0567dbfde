#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "net/sha256.h"

namespace vorlane {

namespace {

const wchar_t kUserAgent[] = L"Vorlane-Launcher/1.0";
const DWORD kDownloadBlock = 1048576;
const DWORD kRequestBlock = 65536;
const size_t kLargestAnswer = 268435456;

struct CloseInternetHandle {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = UniqueHandle<HINTERNET, CloseInternetHandle>;

// One exchange's handles. Members go in reverse order, so the request is closed before its connection and the
// connection before its session.
struct Exchange {
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
};

struct Timeouts {
    int resolve;
    int connect;
    int send;
    int receive;
};
const Timeouts kProbeTimeouts{5000, 5000, 15000, 30000};  // download and head

// A wait cut short by a deadline runs this much past it, so that when it runs out the deadline has surely passed.
constexpr unsigned kPastDeadlineMs = 500;

// The time-outs of an exchange that has to be over within wholeMs: no single wait is longer than the whole.
Timeouts within(const Timeouts& timeouts, unsigned wholeMs) {
    if (wholeMs == 0) return timeouts;
    const int most = (int)(wholeMs + kPastDeadlineMs);
    return Timeouts{std::min(timeouts.resolve, most), std::min(timeouts.connect, most), std::min(timeouts.send, most),
                    std::min(timeouts.receive, most)};
}

struct UrlParts {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path followed by the query
};

bool splitUrl(const std::wstring& url, UrlParts& parts) {
    URL_COMPONENTS pieces{};
    pieces.dwStructSize = sizeof(pieces);
    pieces.dwSchemeLength = (DWORD)-1;
    pieces.dwHostNameLength = (DWORD)-1;
    pieces.dwUrlPathLength = (DWORD)-1;
    pieces.dwExtraInfoLength = (DWORD)-1;
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), 0, 0, &pieces)) return false;
    if (!pieces.lpszHostName || pieces.dwHostNameLength == 0) return false;
    parts.secure = pieces.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host.assign(pieces.lpszHostName, pieces.dwHostNameLength);
    parts.port = pieces.nPort;
    if (pieces.lpszUrlPath) parts.object.assign(pieces.lpszUrlPath, pieces.dwUrlPathLength);
    if (pieces.lpszExtraInfo) parts.object.append(pieces.lpszExtraInfo, pieces.dwExtraInfoLength);
    if (parts.object.empty()) parts.object = L"/";
    return true;
}

std::wstring notAWebAddress(const std::wstring& url) { return L"That isn't a web address: " + url; }
const wchar_t kNoNetwork[] = L"The network isn't available.";
std::wstring unreachable(const UrlParts& parts) { return L"Couldn't reach " + parts.host + L"."; }

bool openSession(Exchange& exchange, DWORD accessType, const Timeouts& timeouts) {
    exchange.session.reset(
        WinHttpOpen(kUserAgent, accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!exchange.session) return false;
    WinHttpSetTimeouts(exchange.session.get(), timeouts.resolve, timeouts.connect, timeouts.send, timeouts.receive);
    // Some stacks wait for the answer's headers by a time-out of their own; the receive time-out bounds that too.
    DWORD receive = (DWORD)timeouts.receive;
    WinHttpSetOption(exchange.session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive, sizeof(receive));
    return true;
}

// Reads the address and opens a session for it: the error sentence, or empty.
std::wstring beginExchange(const std::wstring& url, DWORD accessType, const Timeouts& timeouts, UrlParts& parts,
                           Exchange& exchange) {
    if (!splitUrl(url, parts)) return notAWebAddress(url);
    if (!openSession(exchange, accessType, timeouts)) return kNoNetwork;
    return {};
}

bool openRequest(Exchange& exchange, const UrlParts& parts, const std::wstring& verb) {
    exchange.connection.reset(WinHttpConnect(exchange.session.get(), parts.host.c_str(), parts.port, 0));
    if (!exchange.connection) return false;
    exchange.request.reset(WinHttpOpenRequest(exchange.connection.get(), verb.c_str(), parts.object.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.secure ? WINHTTP_FLAG_SECURE : 0));
    return (bool)exchange.request;
}

// Sends the request with optional extra headers and data, and waits for the answer's headers.
bool sendAndReceive(HINTERNET request, const std::wstring& headers, const std::string& data) {
    const wchar_t* headerText = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str();
    DWORD headerLength = headers.empty() ? 0 : (DWORD)-1;
    void* optional = data.empty() ? WINHTTP_NO_REQUEST_DATA : (void*)data.data();
    DWORD size = (DWORD)data.size();
    return WinHttpSendRequest(request, headerText, headerLength, optional, size, size, 0) &&
           WinHttpReceiveResponse(request, nullptr);
}

unsigned statusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

// One answer header, by its index or (WINHTTP_QUERY_CUSTOM) by name; false when absent.
bool queryHeader(HINTERNET request, DWORD infoLevel, const wchar_t* name, std::wstring& value) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, infoLevel, name, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    size = (DWORD)(buffer.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, infoLevel, name, buffer.data(), &size, WINHTTP_NO_HEADER_INDEX)) return false;
    value.assign(buffer.data(), size / sizeof(wchar_t));
    return true;
}

// The Content-Length header; -1 when absent or not a plain number.
long long contentLength(HINTERNET request) {
    std::wstring text;
    long long length = -1;
    if (!queryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text)) return -1;
    if (!parseSigned64(trimSpace(text), length) || length < 0) return -1;
    return length;
}

long long sizeOfFile(const std::wstring& path) {
    long long size = 0;
    return fileSize(path, size) ? size : 0;
}

// The download's target file: continued at its end when appending, otherwise started anew. Not shared.
FileHandle openTarget(const std::wstring& path, bool append) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && append && !SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END)) file.close();
    return file;
}

bool writeBlock(HANDLE file, const char* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Keeps a download to its pace (see Pace): the sentence of the limit it passed, checked between reads, and the
// longest the next wait for the server may be.
class PaceKeeper {
public:
    PaceKeeper(const Pace& pace, const std::wstring& label)
        : pace_(pace), label_(label), start_(GetTickCount64()), windowStart_(start_) {}

    void arrived(DWORD bytes) { windowBytes_ += bytes; }

    // Empty while the download keeps its pace.
    std::wstring passed() {
        const ULONGLONG now = GetTickCount64();
        if (pace_.wholeMs && now - start_ >= pace_.wholeMs)
            return label_ + L" didn't send it all within " + std::to_wstring((pace_.wholeMs + 999) / 1000) +
                   L" seconds.";
        if (pace_.windowMs && now - windowStart_ >= pace_.windowMs) {
            if (windowBytes_ < pace_.leastBytes) return label_ + L" sent too little for too long.";
            windowStart_ = now;
            windowBytes_ = 0;
        }
        return {};
    }

    // Cuts the request's receive time-out to the time left before the deadline (and a little past it). A slow
    // stretch is judged only once a wait is over, so a least rate leaves the time-out as it is.
    void boundWait(HINTERNET request, const Timeouts& timeouts) const {
        if (!pace_.wholeMs) return;
        const ULONGLONG spent = GetTickCount64() - start_;
        const ULONGLONG left = spent >= pace_.wholeMs ? 0 : pace_.wholeMs - spent;
        const int receive = (int)std::min<ULONGLONG>((ULONGLONG)timeouts.receive, left + kPastDeadlineMs);
        WinHttpSetTimeouts(request, timeouts.resolve, timeouts.connect, timeouts.send, receive);
    }

private:
    Pace pace_;
    std::wstring label_;
    ULONGLONG start_;
    ULONGLONG windowStart_;
    long long windowBytes_ = 0;
};

// The fingerprint of what a download leaves behind, fed in the order the bytes lie in the file. It stops counting
// (and gives no fingerprint) when the bytes already on disk couldn't be read.
class RunningFingerprint {
public:
    // Starts over, for a file written from its first byte.
    void restart() {
        hasher_.emplace();
        whole_ = true;
    }

    // Starts with the first `size` bytes of the file at path, which a resumed download goes on from.
    void startWithFile(const std::wstring& path, long long size) {
        restart();
        long long read = 0;
        const bool readAll = readFileInBlocks(path, kDownloadBlock, [&](const unsigned char* block, size_t got) {
            read += (long long)got;
            return read <= size && hasher_->add(block, got);
        });
        whole_ = readAll && read == size;
    }

    void add(const char* data, DWORD size) {
        if (whole_) whole_ = hasher_->add(data, size);
    }

    // 64 hex digits, or empty when the count isn't whole.
    std::wstring finish() {
        Sha256Digest digest;
        if (!hasher_ || !whole_ || !hasher_->finish(digest)) return {};
        return toHex(digest);
    }

private:
    std::optional<Sha256Hasher> hasher_;
    bool whole_ = false;
};

// Where the blocks of a download go, and what has been counted so far.
struct DownloadStream {
    HANDLE file = INVALID_HANDLE_VALUE;         // none when no file was asked for
    RunningFingerprint* fingerprint = nullptr;  // none when not asked for
    std::string* memory = nullptr;
    const ProgressCallback* progress = nullptr;
    long long failAfter = -1;
    long long done = 0;
    long long expected = 0;
};

// A block is handed on when it is full, or once it has gathered for this long, so that a slow download still
// reports its progress and hears a stop request.
constexpr ULONGLONG kLongestGatherMs = 1000;

// Reads what has arrived, at most room bytes: waits (within the receive time-out) only when nothing has. Some
// stacks fill the whole buffer of a read before they return, so the read asks for no more than is there. false
// when it failed; got 0 is the end of the answer.
bool readArrived(HINTERNET request, char* into, DWORD room, DWORD& got) {
    got = 0;
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return false;
    // Nothing there: the answer is over, or the wait ran out; a read of one byte tells which.
    return WinHttpReadData(request, into, std::clamp<DWORD>(available, 1, room), &got) != FALSE;
}

// Gathers the next block; false when a read failed or a limit was passed (error says which), and ended when the
// answer is over.
bool gatherBlock(HINTERNET request, std::vector<char>& block, DWORD& filled, bool& ended, PaceKeeper& pace,
                 const Timeouts& timeouts, std::wstring& error) {
    filled = 0;
    ended = false;
    const ULONGLONG began = GetTickCount64();
    while (filled < block.size() && GetTickCount64() - began < kLongestGatherMs) {
        error = pace.passed();
        if (!error.empty()) return false;
        pace.boundWait(request, timeouts);
        DWORD got = 0;
        if (!readArrived(request, block.data() + filled, (DWORD)block.size() - filled, got)) {
            // A wait that ran out past a limit is that limit's failure.
            error = pace.passed();
            if (error.empty()) error = L"The download broke off.";
            return false;
        }
        if (got == 0) {
            ended = true;
            break;
        }
        filled += got;
        pace.arrived(got);
    }
    return true;
}

// Hashes each block on a thread of its own while the next one is read: the system's SHA-256 can take about as
// long as the reads themselves, and the two then overlap. It holds one block at most, the one before the block
// being read; handing on the next waits until that one is hashed.
class BlockHasher {
public:
    explicit BlockHasher(RunningFingerprint& sum) : sum_(sum), worker_([this] { run(); }) {}
    ~BlockHasher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        ready_.notify_all();
        worker_.join();  // after the block in hand is hashed
    }

    // The caller leaves data as it is until the next hand().
    void hand(const char* data, DWORD size) {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return pending_ == nullptr; });
        pending_ = data;
        size_ = size;
        ready_.notify_all();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return pending_ != nullptr || closing_; });
            if (pending_ == nullptr) return;
            const char* data = pending_;
            const DWORD size = size_;
            lock.unlock();
            sum_.add(data, size);
            lock.lock();
            pending_ = nullptr;
            idle_.notify_all();
        }
    }

    RunningFingerprint& sum_;
    std::mutex mutex_;
    std::condition_variable ready_, idle_;
    const char* pending_ = nullptr;
    DWORD size_ = 0;
    bool closing_ = false;
    std::thread worker_;  // last: started once everything above is set
};

// Reads the answer to its end; the error sentence, or empty when it was read whole.
std::wstring streamAnswer(HINTERNET request, DownloadStream& stream, PaceKeeper& pace, const Timeouts& timeouts) {
    // With a fingerprint, blocks are read into two buffers in turn, one hashed while the other fills; when no
    // thread can be started, each block is hashed in its turn.
    std::vector<char> blocks[2];
    std::optional<BlockHasher> hasher;
    if (stream.fingerprint) {
        try {
            hasher.emplace(*stream.fingerprint);
            blocks[1].resize(kDownloadBlock);
        } catch (const std::system_error&) {
        }
    }
    blocks[0].resize(kDownloadBlock);
    int turn = 0;
    for (bool ended = false; !ended;) {
        std::vector<char>& block = blocks[turn];
        DWORD got = 0;
        std::wstring error;
        if (!gatherBlock(request, block, got, ended, pace, timeouts, error)) return error;
        if (got == 0) continue;
        if (stream.failAfter >= 0 && stream.done + got > stream.failAfter) return L"The download broke off (a test).";
        if (stream.file != INVALID_HANDLE_VALUE && !writeBlock(stream.file, block.data(), got))
            return L"Couldn't write the download (is the disk full?).";
        if (stream.memory) {
            // Lists and records come into memory; a server that never stops sending must
            // not be able to fill it.
            if ((long long)(stream.memory->size() + got) > kLargestMemoryDownload) return L"The download was too big.";
            stream.memory->append(block.data(), got);
        }
        if (hasher) {
            hasher->hand(block.data(), got);
            turn ^= 1;
        } else if (stream.fingerprint) {
            stream.fingerprint->add(block.data(), got);
        }
        stream.done += got;
        const bool goOn = !stream.progress || !*stream.progress || (*stream.progress)(stream.done, stream.expected);
        if (!goOn) return L"Stopped.";
    }
    if (stream.expected > 0 && stream.expected != stream.done) return L"The download came up short.";
    return {};
}

// Reads the whole answer of request() into body, at most kLargestAnswer bytes; the error phrase or empty. A
// connection that closes before the announced length is a broken answer too: some stacks report it as a failed
// read, others as an early end.
std::wstring gatherAnswer(HINTERNET request, std::string& body) {
    const long long announced = contentLength(request);
    if (announced > 0) body.reserve((size_t)std::min<long long>(announced, (long long)kLargestAnswer + 1));
    std::vector<char> block(kRequestBlock);
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request, block.data(), kRequestBlock, &got)) return L"its answer broke off";
        if (got == 0) break;
        body.append(block.data(), got);
        if (body.size() > kLargestAnswer) return L"its answer was too big";
    }
    if (announced >= 0 && (long long)body.size() < announced) return L"its answer broke off";
    return {};
}

}  // namespace

HttpResult download(const std::wstring& url, std::string* memorySink, const std::wstring& filePath,
                    const ProgressCallback& progress, long long failAfter, bool resume, const std::wstring& label) {
    return download(url, memorySink, filePath, progress, failAfter, resume, label,
                    filePath.empty() ? kListPace : kFilePace);
}

HttpResult download(const std::wstring& url, std::string* memorySink, const std::wstring& filePath,
                    const ProgressCallback& progress, long long failAfter, bool resume, const std::wstring& label,
                    const Pace& pace, bool fingerprint) {
    HttpResult result;
    UrlParts parts;
    Exchange exchange;
    const Timeouts timeouts = within(kProbeTimeouts, pace.wholeMs);
    result.error = beginExchange(url, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, timeouts, parts, exchange);
    if (!result.error.empty()) return result;
    const long long present = resume && !filePath.empty() ? sizeOfFile(filePath) : 0;
    const bool ranged = present > 0;
    // The part already on disk is hashed before asking, so that the server's answer doesn't wait on it, and
    // before the pace is kept, which judges the server alone.
    RunningFingerprint hash;
    if (fingerprint && ranged) hash.startWithFile(filePath, present);
    PaceKeeper keeper(pace, label);

    const std::wstring range = ranged ? L"Range: bytes=" + std::to_wstring(present) + L"-\r\n" : std::wstring();
    if (!openRequest(exchange, parts, L"GET") || !sendAndReceive(exchange.request.get(), range, {})) {
        // A server that took the connection but didn't answer in time is slow, not out of reach.
        result.error = keeper.passed();
        if (result.error.empty()) result.error = unreachable(parts);
        return result;
    }

    result.status = statusCode(exchange.request.get());
    if (ranged && result.status == 416) {  // nothing lies beyond what we have: already complete
        result.fingerprint = hash.finish();
        return result;
    }
    const bool appending = ranged && result.status == 206;
    if (result.status != 200 && !appending) {
        result.error = label + L" answered " + std::to_wstring(result.status) + L".";
        return result;
    }

    DownloadStream stream;
    stream.memory = memorySink;
    stream.progress = &progress;
    stream.failAfter = failAfter;
    stream.done = appending ? present : 0;
    const long long announced = contentLength(exchange.request.get());
    stream.expected = announced < 0 ? 0 : announced + stream.done;

    FileHandle file;  // declared last, so it is closed before the request, connection and session
    if (!filePath.empty()) {
        file = openTarget(filePath, appending);
        if (!file) {
            result.error = L"Couldn't write " + filePath + L".";
            return result;
        }
        stream.file = file.get();
    }
    if (fingerprint) {
        if (!appending) hash.restart();
        stream.fingerprint = &hash;
    }
    result.error = streamAnswer(exchange.request.get(), stream, keeper, timeouts);
    if (result.error.empty() && fingerprint) result.fingerprint = hash.finish();
    return result;
}

HttpResult request(const std::wstring& method, const std::wstring& url, const std::string& body,
                   unsigned receiveTimeoutMs) {
    HttpResult result;
    UrlParts parts;
    Exchange exchange;
    result.error = beginExchange(url, WINHTTP_ACCESS_TYPE_NO_PROXY, Timeouts{5000, 5000, 30000, (int)receiveTimeoutMs},
                                 parts, exchange);
    if (!result.error.empty()) return result;
    const std::wstring headers = body.empty() ? std::wstring() : L"Content-Type: application/json\r\n";
    if (!openRequest(exchange, parts, method) || !sendAndReceive(exchange.request.get(), headers, body)) {
        result.error = L"nothing answered at " + parts.host + L":" + std::to_wstring(parts.port);
        return result;
    }
    result.status = statusCode(exchange.request.get());
    result.error = gatherAnswer(exchange.request.get(), result.body);
    if (!result.error.empty()) result.body.clear();
    return result;
}

HttpResult head(const std::wstring& url, const std::vector<std::wstring>& headerNames) {
    HttpResult result;
    UrlParts parts;
    Exchange exchange;
    result.error = beginExchange(url, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, kProbeTimeouts, parts, exchange);
    if (!result.error.empty()) return result;
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!openRequest(exchange, parts, L"HEAD") ||
        !WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never)) ||
        !sendAndReceive(exchange.request.get(), {}, {})) {
        result.error = unreachable(parts);
        return result;
    }
    result.status = statusCode(exchange.request.get());
    for (const std::wstring& name : headerNames) {
        std::wstring value;
        queryHeader(exchange.request.get(), WINHTTP_QUERY_CUSTOM, name.c_str(), value);
        result.headers.push_back(value);
    }
    return result;
}

struct HttpSession::Shared {
    InternetHandle session;
    std::mutex mutex;  // holds connections
    std::map<std::pair<std::wstring, INTERNET_PORT>, InternetHandle> connections;
};

HttpSession::HttpSession(unsigned connectionsPerServer) : shared_(std::make_unique<Shared>()) {
    Exchange exchange;
    if (!openSession(exchange, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, kProbeTimeouts)) return;
    shared_->session = std::move(exchange.session);
    DWORD most = std::max(1u, connectionsPerServer);
    WinHttpSetOption(shared_->session.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &most, sizeof(most));
}

HttpSession::~HttpSession() = default;

HttpResult HttpSession::get(const std::wstring& url, uint64_t from, uint64_t length, const BytesSink& sink,
                            const std::wstring& label, const Pace& pace) {
    HttpResult result;
    UrlParts parts;
    if (!splitUrl(url, parts)) {
        result.error = notAWebAddress(url);
        return result;
    }
    if (!shared_->session) {
        result.error = kNoNetwork;
        return result;
    }
    HINTERNET connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        InternetHandle& kept = shared_->connections[{parts.host, parts.port}];
        if (!kept) kept.reset(WinHttpConnect(shared_->session.get(), parts.host.c_str(), parts.port, 0));
        connection = kept.get();
    }
    InternetHandle request;
    if (connection)
        request.reset(WinHttpOpenRequest(connection, L"GET", parts.object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0));
    const Timeouts timeouts = within(kProbeTimeouts, pace.wholeMs);
    PaceKeeper keeper(pace, label);
    const std::wstring range = length == 0 ? std::wstring()
                                           : L"Range: bytes=" + std::to_wstring(from) + L"-" +
                                                 std::to_wstring(from + length - 1) + L"\r\n";
    if (request) WinHttpSetTimeouts(request.get(), timeouts.resolve, timeouts.connect, timeouts.send, timeouts.receive);
    if (!request || !sendAndReceive(request.get(), range, {})) {
        result.error = keeper.passed();
        if (result.error.empty()) result.error = unreachable(parts);
        return result;
    }
    result.status = statusCode(request.get());
    if (result.status != (length == 0 ? 200u : 206u)) {
        result.error = label + L" answered " + std::to_wstring(result.status) + L".";
        return result;
    }
    const long long announced = contentLength(request.get());
    if (length != 0 && announced != (long long)length) {
        result.error = label + L" didn't send the range asked for.";
        return result;
    }
    std::vector<char> block(256 * 1024);
    long long done = 0;
    for (bool ended = false; !ended;) {
        DWORD got = 0;
        if (!gatherBlock(request.get(), block, got, ended, keeper, timeouts, result.error)) return result;
        if (got == 0) continue;
        done += got;
        if (!sink(block.data(), got)) {
            result.error = L"Stopped.";
            return result;
        }
    }
    if (announced >= 0 && announced != done) result.error = L"The download came up short.";
    return result;
}

std::wstring normaliseBaseUrl(const std::wstring& text) {
    std::wstring url = trimSpace(text);
    while (!url.empty() && url.back() == L'/') url.pop_back();
    if (!url.empty() && url.find(L"://") == std::wstring::npos) url = L"http://" + url;
    return url;
}

bool isLoopbackUrl(const std::wstring& url) {
    UrlParts parts;
    if (!splitUrl(url, parts)) return false;
    const std::wstring host = lowerCase(parts.host);
    return host == L"127.0.0.1" || host == L"localhost" || host == L"::1" || host == L"[::1]";
}

}  // namespace vorlane
