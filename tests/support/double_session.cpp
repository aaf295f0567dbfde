#include "support/double_session.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/text.h"
#include "net/http_client.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

DoubleSession::DoubleSession(const std::wstring& state, const char* what, const std::string& script) {
    const std::wstring folder = joinPath(parentFolder(testProgramFolder()), state);
    const std::wstring port = trimSpace(toUtf16(readWholeFile(joinPath(folder, L"port"))));
    if (port.empty()) {
        ADD_FAILURE() << "The " << what << " double isn't running (CTest starts it as the " << toUtf8(state)
                      << " fixture).";
        return;
    }
    server_ = L"http://127.0.0.1:" + port;
    const HttpResult made = request(L"POST", server_ + L"/_double/sessions", script, 10000);
    JsonValue answer;
    if (!made.error.empty() || made.status != 200 || !parseDocument(made.body, answer)) {
        ADD_FAILURE() << "The " << what << " double refused the script: " << made.status << " " << made.body;
        return;
    }
    session_ = textWide(member(answer, "path"));
    address_ = server_ + session_;
}

JsonValue DoubleSession::requests() const {
    const std::wstring number = session_.substr(session_.find_last_of(L'/') + 1);
    const HttpResult answer = request(L"GET", server_ + L"/_double/sessions/" + number + L"/requests", "", 10000);
    JsonValue document;
    EXPECT_TRUE(answer.error.empty() && parseDocument(answer.body, document)) << answer.status;
    return document;
}

}  // namespace vorlane::testing
