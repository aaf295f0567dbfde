// A session of one of the stand-in servers that CTest starts for the run
// (tools/comfyui_double, tools/hub_double): each writes its port to
// build/<state>/port, makes a session for a script posted to /_double/sessions
// and gives back what the session was asked at /_double/sessions/<n>/requests.
#pragma once

#include <string>

#include "core/json.h"

namespace vorlane::testing {

class DoubleSession {
public:
    // A new session answering by `script`; the test fails when the server
    // (named `what` in the message) isn't running.
    DoubleSession(const std::wstring& state, const char* what, const std::string& script);

    // The server's address followed by the session's path; empty when no session was made.
    const std::wstring& address() const { return address_; }
    // The session's requests as the server recorded them: a JSON array.
    JsonValue requests() const;

private:
    std::wstring server_;
    std::wstring session_;
    std::wstring address_;
};

}  // namespace vorlane::testing
