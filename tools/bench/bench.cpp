// vorlane-bench: the launcher's own code for its heavy work, timed one piece at a time for scripts/bench, beside a
// bare WinHTTP read loop that shows what the system's HTTP stack can do at best. Every timing mode prints one line:
//   <seconds> <peak working set in MiB> [what it found]
// Modes:
//   download <url> <file> [plain]              the launcher's download, fingerprinting on the way (plain: not)
//   loop <url> <file> <KiB> <ask|read>         a bare read loop in buffers of KiB; ask: each read asks
//                                              WinHttpQueryDataAvailable first and reads no more than is there
//   cut-hash <file>                            the add-on piece cutter over a file, every piece hashed
//   hash <file>                                the file's SHA-256 alone (sha256File: the processor's SHA instructions)
//   pieces-new <old-file> <new-file>           bytes of the new file's pieces that the old one lacks (not timed)
//   flac <in.flac> <out.wav>                   read, decode and write as WAV
//   resample <in.wav> <rate> <out.wav>         read, convert the rate and write
//   brightness <in.wav>                        the brightness of a sound
//   shard <in.glb>                             the shard score of a model
//   json <file>                                parse a JSON document
//   plan <pieces>                              plan an update by pieces: an index of that many pieces against the
//                                              installed build's, 1% of the pieces changed in 20 runs (the indexes
//                                              made in memory, not timed, but in the peak)
// Inputs, generated from a seed:
//   make-wav <file> <seconds> <rate> <seed>    stereo 16-bit: tones under noise
//   make-glb <file> <divisions>                a cube of 12 x divisions^2 triangles
//   make-theme <file> <MiB> <seed>             incompressible bytes
//   edit-theme <in> <out> <places> <percent> <seed>  a copy with percent of it changed in places spread over it
#include <windows.h>

#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "pieces/piece_cutter.h"
#include "pieces/piece_engine.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/json.h"
#include "core/text.h"
#include "glb_writer/glb_writer.h"
#include "net/http_client.h"
#include "net/sha256.h"
#include "media/audio_buffer.h"
#include "media/audio_conversion.h"
#include "media/brightness.h"
#include "media/flac_decoder.h"
#include "media/glb_model.h"
#include "media/wav_file.h"

namespace {

class Clock {
public:
    Clock() { QueryPerformanceCounter(&start_); }
    double seconds() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return double(now.QuadPart - start_.QuadPart) / double(frequency.QuadPart);
    }

private:
    LARGE_INTEGER start_;
};

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return double(counters.PeakWorkingSetSize) / 1048576.0;
}

int report(const Clock& clock, const std::string& found = {}) {
    const double seconds = clock.seconds();
    std::printf("%.4f %.1f %s\n", seconds, peakMiB(), found.c_str());
    std::fflush(stdout);
    return 0;
}

int failed(const char* what) {
    std::fprintf(stderr, "vorlane-bench: %s\n", what);
    return 1;
}


// A big input file mapped for reading rather than read into a string: the native tools beside it read theirs in
// small blocks and never hold the whole, and in the launcher these bytes arrive in memory from the network.
class MappedInput {
public:
    explicit MappedInput(const std::wstring& path)
        : file_(CreateFileW(vorlane::longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        LARGE_INTEGER size{};
        if (!file_ || !GetFileSizeEx(file_.get(), &size) || size.QuadPart == 0) return;
        mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (mapping_) view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
        if (view_) size_ = (size_t)size.QuadPart;
    }
    std::string_view bytes() const { return {static_cast<const char*>(view_.get()), size_}; }

private:
    vorlane::FileHandle file_;
    vorlane::ObjectHandle mapping_;
    vorlane::MappedView view_;
    size_t size_ = 0;
};

// Writes the file block by block, as the launcher does, but without flushing it to the disk: the native tools
// beside it don't either.
bool writeFile(const std::wstring& path, const vorlane::FileBlockSource& source) {
    vorlane::FileHandle file(CreateFileW(vorlane::longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && source([&](const unsigned char* bytes, size_t size) {
        for (size_t done = 0; done < size;) {
            const DWORD chunk = (DWORD)std::min<size_t>(size - done, 1 << 24);
            DWORD written = 0;
            if (!WriteFile(file.get(), bytes + done, chunk, &written, nullptr) || written != chunk) return false;
            done += chunk;
        }
        return true;
    });
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    return writeFile(path, vorlane::wholeString(bytes));
}

bool writeWav(const std::wstring& path, const vorlane::AudioBuffer& audio) {
    return writeFile(path, [&](const vorlane::FileBlockSink& write) { return vorlane::WriteWav(audio, write); });
}

// A bare GET read to its end into a file, with nothing of the launcher's around it.
int bareLoop(const std::wstring& url, const std::wstring& path, DWORD bufferBytes, bool askFirst) {
    Clock clock;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = (DWORD)-1;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return failed("not a web address");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host.c_str(), parts.nPort, 0) : nullptr;
    HINTERNET request =
        connection ? WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr, nullptr, nullptr, 0) : nullptr;
    if (!request || !WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr))
        return failed("no answer");
    vorlane::FileHandle file(CreateFileW(vorlane::longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failed("can't write the file");
    std::vector<char> buffer(bufferBytes);
    long long total = 0;
    for (;;) {
        DWORD want = bufferBytes;
        if (askFirst) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request, &available)) return failed("query failed");
            want = std::clamp<DWORD>(available, 1, bufferBytes);
        }
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), want, &got)) return failed("read failed");
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got)
            return failed("write failed");
        total += got;
    }
    file.close();
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return report(clock, std::to_string(total));
}

int launcherDownload(const std::wstring& url, const std::wstring& path, bool fingerprint) {
    DeleteFileW(vorlane::longPath(path).c_str());
    Clock clock;
    const vorlane::HttpResult result = vorlane::download(
        url, nullptr, path, [](long long, long long) { return true; }, -1, false, L"The build server",
        vorlane::kFilePace, fingerprint);
    if (!result.error.empty()) return failed(vorlane::toUtf8(result.error).c_str());
    return report(clock, vorlane::toUtf8(result.fingerprint));
}

int hashOnly(const std::wstring& path) {
    Clock clock;
    std::wstring fingerprint;
    if (!vorlane::sha256File(path, fingerprint)) return failed("can't hash the file");
    return report(clock, vorlane::toUtf8(fingerprint));
}

int cutAndHash(const std::wstring& path) {
    Clock clock;
    long long pieces = 0;
    if (!vorlane::cutPieces(path, [&](const vorlane::Piece&) { ++pieces; })) return failed("can't cut the file");
    return report(clock, std::to_string(pieces) + " pieces");
}

// What an update from the old file to the new one has to fetch: the new file's pieces the old one doesn't have.
int newPieceBytes(const std::wstring& oldPath, const std::wstring& newPath) {
    Clock clock;
    std::set<vorlane::Sha256Digest> held;
    if (!vorlane::cutPieces(oldPath, [&](const vorlane::Piece& piece) { held.insert(piece.digest); }))
        return failed("can't cut the old file");
    long long fetched = 0, size = 0;
    if (!vorlane::cutPieces(newPath, [&](const vorlane::Piece& piece) {
            size += piece.size;
            if (held.insert(piece.digest).second) fetched += piece.size;
        }))
        return failed("can't cut the new file");
    return report(clock, std::to_string(fetched) + " " + std::to_string(size));
}

int decodeFlac(const std::wstring& in, const std::wstring& out) {
    Clock clock;
    vorlane::AudioBuffer audio;
    const std::string problem = vorlane::DecodeFlac(MappedInput(in).bytes(), audio);
    if (!problem.empty()) return failed(problem.c_str());
    if (!writeWav(out, audio)) return failed("can't write the WAV");
    return report(clock, std::to_string(audio.frames()) + " frames");
}

int resample(const std::wstring& in, int rate, const std::wstring& out) {
    Clock clock;
    vorlane::AudioBuffer audio;
    if (!vorlane::ReadWav(MappedInput(in).bytes(), audio)) return failed("not a WAV");
    vorlane::Resample(audio, rate);
    if (!writeWav(out, audio)) return failed("can't write the WAV");
    return report(clock, std::to_string(audio.frames()) + " frames");
}

int brightness(const std::wstring& in) {
    vorlane::AudioBuffer audio;
    if (!vorlane::ReadWav(vorlane::readWholeFile(in), audio)) return failed("not a WAV");
    Clock clock;
    const vorlane::Brightness measured = vorlane::MeasureBrightness(audio, vorlane::kBrightnessCutoffHz);
    char found[64];
    std::snprintf(found, sizeof found, "centroid %.0f Hz", measured.centroid);
    return report(clock, found);
}

int shardScore(const std::wstring& in) {
    const std::string bytes = vorlane::readWholeFile(in);
    Clock clock;
    const double score = vorlane::ShardScore(bytes);
    char found[32];
    std::snprintf(found, sizeof found, "score %.3f", score);
    return report(clock, found);
}

int parseJson(const std::wstring& in) {
    Clock clock;
    vorlane::JsonValue document;
    if (!vorlane::parseDocument(vorlane::readWholeFile(in), document)) return failed("not a JSON document");
    return report(clock);
}

int makeWav(const std::wstring& out, double seconds, int rate, unsigned seed) {
    vorlane::AudioBuffer audio;
    audio.rate = rate;
    audio.channels = 2;
    const size_t frames = (size_t)(seconds * rate);
    audio.samples.resize(frames * 2);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const float tone = float(0.3 * std::sin(2 * pi * 220 * t) + 0.2 * std::sin(2 * pi * 1375 * t));
        audio.samples[2 * i] = tone + noise(random);
        audio.samples[2 * i + 1] = 0.8f * tone + noise(random);
    }
    return writeWav(out, audio) ? 0 : failed("can't write the WAV");
}

int makeGlb(const std::wstring& out, int divisions) {
    return writeFile(out, vorlane::testing::glbOfTriangles(vorlane::testing::cubeSurface(10, divisions)))
               ? 0
               : failed("can't write the model");
}

std::string seededBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937_64 random(seed);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const unsigned long long value = random();
        std::memcpy(&bytes[i], &value, 8);
    }
    return bytes;
}

int makeTheme(const std::wstring& out, long long mib, unsigned seed) {
    return writeFile(out, seededBytes((size_t)mib * 1048576, seed)) ? 0 : failed("can't write the theme");
}

int editTheme(const std::wstring& in, const std::wstring& out, int places, double percent, unsigned seed) {
    std::string bytes = vorlane::readWholeFile(in);
    if (bytes.empty() || places <= 0) return failed("nothing to edit");
    const size_t each = (size_t)(bytes.size() * percent / 100 / places);
    const size_t stride = bytes.size() / (size_t)places;
    const std::string fresh = seededBytes(each * places + 8, seed);
    for (int place = 0; place < places; ++place) {
        // Somewhere in each stretch, so the changes spread over the whole file.
        const size_t start = place * stride + (stride - each) / 2;
        bytes.replace(start, each, fresh, place * each, each);
    }
    return writeFile(out, bytes) ? 0 : failed("can't write the theme");
}

// Two indexes of `pieces` pieces each (1,000 a file, 64 to 128 KiB each, every piece its own), the second the
// first with 1% of its pieces new in 20 runs spread over it; then, timed, what an update by pieces does before it
// fetches: the installed build's pieces offered, the new build's files planned.
int planUpdate(size_t pieces) {
    std::mt19937_64 random(17);
    auto digest = [&] {
        vorlane::Sha256Digest made;
        for (size_t i = 0; i < made.size(); i += 8) {
            const uint64_t word = random();
            std::memcpy(made.data() + i, &word, 8);
        }
        return made;
    };
    const size_t perFile = 1000;
    std::vector<vorlane::IndexFile> installed;
    for (size_t first = 0; first < pieces; first += perFile) {
        vorlane::IndexFile& file = installed.emplace_back();
        file.path = L"Content/Paks/Data" + std::to_wstring(installed.size()) + L".pak";
        file.sha256 = vorlane::toHex(digest());
        file.pieces.resize(std::min(perFile, pieces - first));
        for (vorlane::IndexPiece& piece : file.pieces) {
            piece = {digest(), (uint32_t)(65536 + random() % 65536)};
            file.size += piece.size;
        }
    }
    std::vector<vorlane::IndexFile> next = installed;
    const size_t run = std::max<size_t>(1, pieces / 100 / 20), stride = pieces / 20;
    for (size_t place = 0; place < 20; ++place)
        for (size_t at = place * stride + stride / 2; at < place * stride + stride / 2 + run && at < pieces; ++at) {
            vorlane::IndexFile& file = next[at / perFile];
            file.pieces[at % perFile].hash = digest();
            file.sha256 = vorlane::toHex(digest());
        }
    Clock clock;
    vorlane::PieceServers servers;
    servers.objectName = [](const std::wstring& hash) { return L"builds/" + hash; };
    vorlane::PieceEngine engine(std::move(servers), vorlane::JobControl());
    std::vector<const vorlane::IndexFile*> offered;
    for (const vorlane::IndexFile& file : installed) offered.push_back(&file);
    engine.addIndexed(L"C:\\Installed", offered);
    std::vector<vorlane::PieceTarget> targets;
    for (const vorlane::IndexFile& file : next) targets.push_back({&file, L"C:\\Staging\\" + file.path});
    engine.plan(std::move(targets), L"");
    return report(clock, std::to_string(engine.counts().toFetch) + " bytes to fetch");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    auto arg = [&](int i) { return std::wstring(argv[i]); };
    auto number = [&](int i) { return std::wcstod(argv[i], nullptr); };
    if (mode == L"download" && (argc == 4 || argc == 5)) return launcherDownload(arg(2), arg(3), argc == 4);
    if (mode == L"loop" && argc == 6) return bareLoop(arg(2), arg(3), (DWORD)number(4) * 1024, arg(5) == L"ask");
    if (mode == L"cut-hash" && argc == 3) return cutAndHash(arg(2));
    if (mode == L"hash" && argc == 3) return hashOnly(arg(2));
    if (mode == L"pieces-new" && argc == 4) return newPieceBytes(arg(2), arg(3));
    if (mode == L"flac" && argc == 4) return decodeFlac(arg(2), arg(3));
    if (mode == L"resample" && argc == 5) return resample(arg(2), (int)number(3), arg(4));
    if (mode == L"brightness" && argc == 3) return brightness(arg(2));
    if (mode == L"shard" && argc == 3) return shardScore(arg(2));
    if (mode == L"json" && argc == 3) return parseJson(arg(2));
    if (mode == L"plan" && argc == 3) return planUpdate((size_t)number(2));
    if (mode == L"make-wav" && argc == 6) return makeWav(arg(2), number(3), (int)number(4), (unsigned)number(5));
    if (mode == L"make-glb" && argc == 4) return makeGlb(arg(2), (int)number(3));
    if (mode == L"make-theme" && argc == 5) return makeTheme(arg(2), (long long)number(3), (unsigned)number(4));
    if (mode == L"edit-theme" && argc == 7)
        return editTheme(arg(2), arg(3), (int)number(4), number(5), (unsigned)number(6));
    std::fprintf(stderr, "Usage: see the top of tools/bench/bench.cpp\n");
    return 2;
}
