// The nginx build server that CTest starts for the run (scripts/nginx-server):
// its address and its document folder as this program sees them.
#pragma once

#include <string>

namespace vorlane::testing {

// "http://127.0.0.1:<port>", or empty when the server isn't running.
std::wstring nginxBaseUrl();
// The folder nginx serves (build\nginx\www), for the test to put files in.
std::wstring nginxDocumentFolder();

}  // namespace vorlane::testing
