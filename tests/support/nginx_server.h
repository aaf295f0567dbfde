// The nginx build server that CTest starts for the run (scripts/nginx-server):
// its address and its document folder as this program sees them.
#pragma once

#include <string>
#include <vector>

namespace vorlane::testing {

// "http://127.0.0.1:<port>", or empty when the server isn't running.
std::wstring nginxBaseUrl();
// The same server on its port of small send buffers, where the log's times tell the rate a launcher took bytes at.
std::wstring nginxMeteredBaseUrl();
// The folder nginx serves (build\nginx\www), for the test to put files in.
std::wstring nginxDocumentFolder();

}  // namespace vorlane::testing

namespace vorlane::testing {

// The lines of nginx's access log (combined format) that name `path`, e.g.
// "/install-test/Vorlane-abc1234.zip".
std::vector<std::string> nginxRequestsFor(const std::wstring& path);
// The lines whose request path starts with `prefix`.
std::vector<std::string> nginxRequestsBelow(const std::wstring& prefix);
// Each line ends with when its answer ended and how long it took, in seconds.
double nginxAnswerEnded(const std::string& line);
double nginxAnswerSeconds(const std::string& line);

}  // namespace vorlane::testing
