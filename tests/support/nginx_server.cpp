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

std::wstring nginxDocumentFolder() { return joinPath(stateFolder(), L"www"); }

}  // namespace vorlane::testing
