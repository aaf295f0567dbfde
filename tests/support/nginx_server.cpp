#include "support/nginx_server.h"

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

static std::wstring stateFolder() { return joinPath(parentFolder(testProgramFolder()), L"nginx"); }

std::wstring nginxBaseUrl() {
    std::wstring port = trimSpace(toUtf16(readWholeFile(joinPath(stateFolder(), L"port"))));
    return port.empty() ? std::wstring() : L"http://127.0.0.1:" + port;
}

std::wstring nginxMeteredBaseUrl() {
    std::wstring port = trimSpace(toUtf16(readWholeFile(joinPath(stateFolder(), L"metered-port"))));
    return port.empty() ? std::wstring() : L"http://127.0.0.1:" + port;
}

std::wstring nginxDocumentFolder() { return joinPath(stateFolder(), L"www"); }

}  // namespace vorlane::testing

namespace vorlane::testing {

std::vector<std::string> nginxRequestsFor(const std::wstring& path) {
    return nginxRequestsBelow(path + L" HTTP/");
}

double nginxAnswerEnded(const std::string& line) {
    const size_t last = line.rfind(' ');
    return std::stod(line.substr(line.rfind(' ', last - 1) + 1));
}

double nginxAnswerSeconds(const std::string& line) { return std::stod(line.substr(line.rfind(' ') + 1)); }

std::vector<std::string> nginxRequestsBelow(const std::wstring& prefix) {
    std::vector<std::string> lines;
    const std::string text = readWholeFile(joinPath(stateFolder(), L"access.log"));
    const std::string wanted = " " + toUtf8(prefix);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.find(wanted) != std::string::npos) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace vorlane::testing
