#include "core/log.h"

#include <windows.h>

#include <io.h>
#include <share.h>

#include "core/files.h"
#include "core/text.h"

namespace vorlane {

void openLog(LauncherState& state, const std::wstring& path) {
    closeLog(state);
    FILE* file = _wfsopen(longPath(path).c_str(), L"ab", _SH_DENYWR);
    if (!file) return;
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
