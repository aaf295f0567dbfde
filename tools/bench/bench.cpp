// vorlane-bench: the launcher's own code paths for the heavy work of an install,
// timed one by one on a big build zip, with the program's peak memory.
//   vorlane-bench.exe <zip-url> <download-file> <unpack-folder>
// Prints one line per step: name, seconds, MiB/s, and the peak working set so far.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>

#include "core/files.h"
#include "core/text.h"
#include "install/installer.h"
#include "install/run_captured.h"
#include "net/http_client.h"
#include "net/sha256.h"

namespace {

double secondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

double peakMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return double(counters.PeakWorkingSetSize) / 1048576.0;
}

void report(const char* step, double seconds, long long bytes) {
    std::printf("%-34s %8.2f s %9.1f MiB/s   peak memory %6.1f MiB\n", step, seconds,
                seconds > 0 ? double(bytes) / 1048576.0 / seconds : 0.0, peakMiB());
    std::fflush(stdout);
}

long long sizeOf(const std::wstring& path) {
    long long size = 0;
    return vorlane::fileSize(path, size) ? size : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: vorlane-bench <zip-url> <download-file> <unpack-folder>\n");
        return 2;
    }
    const std::wstring url = argv[1], file = argv[2], folder = argv[3];
    DeleteFileW(vorlane::longPath(file).c_str());

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    vorlane::HttpResult result =
        vorlane::download(url, nullptr, file, [](long long, long long) { return true; }, -1, false, L"The build server");
    if (!result.error.empty()) {
        std::fprintf(stderr, "download failed: %s\n", vorlane::toUtf8(result.error).c_str());
        return 1;
    }
    const long long bytes = sizeOf(file);
    report("download (WinHTTP, 1 MiB blocks)", secondsSince(start), bytes);

    QueryPerformanceCounter(&start);
    std::wstring hex;
    if (!vorlane::sha256File(file, hex)) return 1;
    report("SHA-256 (CNG, 1 MiB blocks)", secondsSince(start), bytes);
    std::printf("    %s\n", vorlane::toUtf8(hex).c_str());

    vorlane::deleteFolderTree(folder);
    vorlane::makeFolderTree(folder);
    QueryPerformanceCounter(&start);
    long long entries = 0;
    const int code = vorlane::runCaptured(vorlane::systemTar() + L" -xvf \"" + file + L"\" -C \"" + folder + L"\"",
                                          [&](const std::string&) { ++entries; });
    report("unpack (tar.exe, lines counted)", secondsSince(start), bytes);
    std::printf("    tar exit code %d, %lld entries\n", code, entries);
    return code == 0 ? 0 : 1;
}
