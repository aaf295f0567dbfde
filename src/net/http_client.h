// The launcher's HTTP exchanges, on the system's HTTP stack (WinHTTP): a GET streamed into a file and/or memory
// with resumption, progress and a stop request; a request of any method gathered in memory; and a HEAD probe that
// doesn't follow redirects. Every call opens and closes its own session, connection and request, blocks its thread
// and reports its outcome as an HttpResult; nothing throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorlane {

struct HttpResult {
    std::wstring error;                 // empty on success
    unsigned status = 0;                // 0 when nothing answered
    std::string body;                   // request(): the answer
    std::vector<std::wstring> headers;  // head(): values of the asked names, in order, empty when absent
    // download() asked to fingerprint: the SHA-256 (64 lower-case hex digits) of the file as the download left it
    // (with no file, of the bytes that came), worked out on the way; empty on failure, or when it couldn't be,
    // and the caller then reads the file for it.
    std::wstring fingerprint;
};

// Called after every block with the bytes done so far and the bytes expected in all (0 when unknown); answering
// false stops the download.
using ProgressCallback = std::function<bool(long long done, long long expected)>;

// How long a download may go on. A server that answers but then sends a byte now and then must not hold its
// caller for ever: a small download (a list, a signature, a record, an index) has to be over within a set time,
// a big one has to keep up a least rate. Both are checked between reads, and no single wait for the server runs
// much past them: a read waits for what has arrived, never for a whole block, and within the receive time-out,
// which a download with a deadline cuts to the time left.
struct Pace {
    unsigned wholeMs = 0;      // not 0: the whole exchange, from connecting to the last byte, is over within this
    unsigned windowMs = 0;     // not 0: in every stretch of this long, at least leastBytes arrive
    long long leastBytes = 0;
};
// The most a download into memory may bring: the lists are a few kilobytes, a build's index of pieces tens of
// megabytes, and the launcher reads no index longer than this either.
inline constexpr long long kLargestMemoryDownload = 64ll << 20;
// Everything fetched into memory alone: over within 20 s. Failing that, the error is label + " didn't send it all
// within 20 seconds.".
inline constexpr Pace kListPace{20000, 0, 0};
// Everything written to a file, and pieces: at least 16 KiB in every 30 s. Failing that, the error is label +
// " sent too little for too long."; a file being resumed keeps what came, so the next try carries on.
inline constexpr Pace kFilePace{0, 30000, 16384};

// GETs url in blocks of at most 1 MiB into memorySink (optional, passed empty) and/or filePath (optional, empty:
// no file). With resume, a file that is already there is continued with a range request. failAfter (-1: none)
// cuts the download off once that many bytes would be passed, to test resumption. label names the server in the
// status sentence ("The build server", "Hugging Face"). Only error is meaningful to the caller; a partly written
// file stays on disk in every case. Without a pace, a download with a file goes at kFilePace, one into memory
// alone at kListPace. With fingerprint, the result carries the fingerprint of the whole file: a resumed file's part
// already on disk is hashed before the request, then every block as it is written, so no second pass over the
// file is needed.
HttpResult download(const std::wstring& url, std::string* memorySink, const std::wstring& filePath,
                    const ProgressCallback& progress, long long failAfter, bool resume, const std::wstring& label);
HttpResult download(const std::wstring& url, std::string* memorySink, const std::wstring& filePath,
                    const ProgressCallback& progress, long long failAfter, bool resume, const std::wstring& label,
                    const Pace& pace, bool fingerprint = false);

// Told each block of an answer as it arrives; answering false ends the exchange.
using BytesSink = std::function<bool(const char* data, size_t size)>;

// One session kept for many requests to a few servers: WinHTTP keeps each
// server's connections open between requests (up to connectionsPerServer at
// once), so a request after the first costs no new connection. Several
// threads may ask at once; each request blocks its own thread.
class HttpSession {
public:
    explicit HttpSession(unsigned connectionsPerServer);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // GETs url whole (length 0), or the `length` bytes from `from` with a range
    // request, which must be answered 206 with exactly those bytes; each block
    // goes to sink as it arrives. Held to pace as download() is.
    HttpResult get(const std::wstring& url, uint64_t from, uint64_t length, const BytesSink& sink,
                   const std::wstring& label, const Pace& pace = kFilePace);

private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
};

// Sends method to url, with body as JSON when it isn't empty, and gathers the answer (at most 256 MiB) in body.
// The status isn't judged here. error is a lower-case phrase for the caller's own sentence.
HttpResult request(const std::wstring& method, const std::wstring& url, const std::string& body,
                   unsigned receiveTimeoutMs);

// HEADs url without following redirects and reads the values of headerNames, in order.
HttpResult head(const std::wstring& url, const std::vector<std::wstring>& headerNames);

// A server address as typed or stored: trimmed, without trailing "/", with "http://" in front when it names no
// scheme. An empty text stays empty.
std::wstring normaliseBaseUrl(const std::wstring& text);

// True when url's host is this computer's loopback address (127.0.0.1, localhost, ::1).
bool isLoopbackUrl(const std::wstring& url);

}  // namespace vorlane
