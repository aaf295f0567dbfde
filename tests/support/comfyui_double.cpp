#include "support/comfyui_double.h"

#include <map>

#include "comfy/comfy_check.h"
#include "core/text.h"

namespace vorlane::testing {

ComfyDouble::ComfyDouble(const std::string& script) : session_(L"comfyui", "ComfyUI", script) {}

std::vector<DoubleRequest> ComfyDouble::requests() const {
    std::vector<DoubleRequest> list;
    for (const JsonValue& item : session_.requests().items)
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

std::string modelFoldersScript(const std::wstring& modelsFolder, const std::string& leaveOut) {
    std::string paths;
    for (const ModelFile& row : ModelFileTable) {
        const std::string name = std::string("\"") + row.folder + "\"";
        if (leaveOut == row.folder || paths.find(name) != std::string::npos) continue;
        // With a trailing "\", as ComfyUI may give it.
        paths += (paths.empty() ? "" : ",") + name + ":[" +
                 quoteJson(joinPath(modelsFolder, toUtf16(row.folder)) + L"\\") + "]";
    }
    return R"({"files_on_disk":true,"folder_paths":{)" + paths + "}}";
}

std::string allModelFilesMember() {
    std::map<std::string, std::string> folders;
    for (const ModelFile& row : ModelFileTable)
        folders[row.folder] += (folders[row.folder].empty() ? "\"" : ",\"") + std::string(row.file) + "\"";
    std::string json;
    for (const auto& [folder, files] : folders) json += (json.empty() ? "\"" : ",\"") + folder + "\":[" + files + "]";
    return "\"files\":{" + json + "}";
}

}  // namespace vorlane::testing
