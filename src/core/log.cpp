#include "core/log.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "core/files.h"
#include "core/text.h"

namespace vorlane {

namespace {

// The standard output an --auto run writes its lines to as well; null when it has none.
std::atomic<HANDLE> echoOutput{nullptr};
std::mutex echoTurns;  // lines of several threads go out whole, one after another

std::string stampedLine(const std::wstring& message) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[16];
    snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", now.wHour, now.wMinute, now.wSecond);
    return stamp + toUtf8(message) + "\r\n";
}

// A console shows UTF-16 as it is; a pipe or a file gets the log's own UTF-8.
void echo(const std::string& line) {
    const HANDLE output = echoOutput.load();
    if (!output) return;
    std::lock_guard<std::mutex> turn(echoTurns);
    DWORD mode = 0, written = 0;
    if (GetFileType(output) == FILE_TYPE_CHAR && GetConsoleMode(output, &mode)) {
        const std::wstring wide = toUtf16(line);
        WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    // A reader that has gone away (a closed pipe) ends the echo, never the run.
    if (!WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        echoOutput.store(nullptr);
}

}  // namespace

bool echoToStandardOutput() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE || GetFileType(output) == FILE_TYPE_UNKNOWN) return false;
    echoOutput.store(output);
    return true;
}

JobProgress standardOutputProgress() {
    if (!echoOutput.load()) return {};
    struct Shown {
        std::mutex turn;
        unsigned long long tick = 0;
        std::wstring sentence;
        bool any = false;
    };
    auto shown = std::make_shared<Shown>();
    return [shown](double, const std::wstring& sentence) {
        if (sentence.empty()) return;
        const unsigned long long now = GetTickCount64();
        {
            std::lock_guard<std::mutex> turn(shown->turn);
            if (shown->any && (now - shown->tick < 1000 || sentence == shown->sentence)) return;
            shown->any = true;
            shown->tick = now;
            shown->sentence = sentence;
        }
        echo(stampedLine(L"Progress: " + sentence));
    };
}

void openLog(LauncherState& state, const std::wstring& path) {
    closeLog(state);
    // Append-only: every write lands at the end in one piece, so that a second
    // launcher on the same root (a command beside a window, two commands) can
    // log beside this one without either's lines being overwritten. The handle
    // isn't inherited by the programs the launcher starts.
    HANDLE handle = CreateFileW(longPath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return;
    }
    FILE* file = _fdopen(descriptor, "ab");
    if (!file) {
        _close(descriptor);
        return;
    }
    if (_filelengthi64(_fileno(file)) == 0) {
        fwrite("\xEF\xBB\xBF", 1, 3, file);
        fflush(file);
    }
    state.log = file;
}

void closeLog(LauncherState& state) {
    if (state.log) fclose(state.log);
    state.log = nullptr;
}

void logLine(LauncherState& state, const std::wstring& message) {
    FILE* file = state.log;
    if (!file && !echoOutput.load()) return;
    // The line is made whole first, then written with one call: the runtime's
    // stream lock keeps lines of different threads apart.
    const std::string line = stampedLine(message);
    echo(line);
    if (!file) return;
    fwrite(line.data(), 1, line.size(), file);
    fflush(file);
}

}  // namespace vorlane
