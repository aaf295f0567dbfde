// The stand-in ComfyUI that CTest starts for the run (tools/comfyui_double):
// a session of it with a script of its own, its ComfyUI address, and the
// requests it got.
#pragma once

#include <string>
#include <vector>

#include "support/double_session.h"

namespace vorlane::testing {

struct DoubleRequest {
    std::string method;
    std::string path;  // with the query, without the session's part
    std::string body;
};

class ComfyDouble {
public:
    // A new session answering by `script` (JSON; see the tool's own notes).
    // The test fails when the double isn't running.
    explicit ComfyDouble(const std::string& script);

    // The ComfyUI address to hand the launcher; empty when no session was made.
    const std::wstring& address() const { return session_.address(); }
    // What the session was asked, in order.
    std::vector<DoubleRequest> requests() const;
    // The same as "METHOD path" lines, without the query, and "/history"
    // without the prompt id ("GET /models/vae", "GET /history", "POST /queue").
    std::vector<std::string> sequence() const;

private:
    DoubleSession session_;
};

// A script for a ComfyUI that keeps each folder of the model file table in
// modelsFolder\<folder> (but `leaveOut`) and lists the model files lying there.
std::string modelFoldersScript(const std::wstring& modelsFolder, const std::string& leaveOut = "");

// The script's "files" member for a ComfyUI that has every model file:
// "files":{"<folder>":["<file>",...],...}.
std::string allModelFilesMember();

}  // namespace vorlane::testing
