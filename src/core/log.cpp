#include "core/log.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>

#include "core/files.h"
#include "core/text.h"

namespace vorlane {

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
    if (!file) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[16];
    snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", now.wHour, now.wMinute, now.wSecond);
    // The line is made whole first, then written with one call: the runtime's
    // stream lock keeps lines of different threads apart.
    std::string line = stamp + toUtf8(message) + "\r\n";
    fwrite(line.data(), 1, line.size(), file);
    fflush(file);
}

}  // namespace vorlane
