#include "support/comfyui_double.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "net/http_client.h"
#include "support/launcher_process.h"

namespace vorlane::testing {

ComfyDouble::ComfyDouble(const std::string& script) {
    const std::wstring state = joinPath(parentFolder(testProgramFolder()), L"comfyui");
    const std::wstring port = trimSpace(toUtf16(readWholeFile(joinPath(state, L"port"))));
    if (port.empty()) {
        ADD_FAILURE() << "The ComfyUI double isn't running (CTest starts it as the comfyui fixture).";
        return;
    }
    server_ = L"http://127.0.0.1:" + port;
    const HttpResult made = request(L"POST", server_ + L"/_double/sessions", script, 10000);
    JsonValue answer;
    if (!made.error.empty() || made.status != 200 || !parseDocument(made.body, answer)) {
        ADD_FAILURE() << "The ComfyUI double refused the script: " << made.status << " " << made.body;
        return;
    }
    session_ = textWide(member(answer, "path"));
    address_ = server_ + session_;
}

std::vector<DoubleRequest> ComfyDouble::requests() const {
    std::vector<DoubleRequest> list;
    const std::wstring number = session_.substr(session_.find_last_of(L'/') + 1);
    const HttpResult answer = request(L"GET", server_ + L"/_double/sessions/" + number + L"/requests", "", 10000);
    JsonValue document;
    EXPECT_TRUE(answer.error.empty() && parseDocument(answer.body, document)) << answer.status;
    for (const JsonValue& item : document.items)
        list.push_back({member(item, "method").text, member(item, "path").text, member(item, "body").text});
    return list;
}

std::vector<std::string> ComfyDouble::sequence() const {
    std::vector<std::string> lines;
    for (const DoubleRequest& asked : requests()) {
        std::string path = asked.path.substr(0, asked.path.find('?'));
        if (path.starts_with("/history/")) path = "/history";
        lines.push_back(asked.method + " " + path);
    }
    return lines;
}

}  // namespace vorlane::testing
