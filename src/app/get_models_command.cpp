#include "app/get_models_command.h"

#include "comfy/comfy_check.h"
#include "comfy/model_download.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "net/http_client.h"
#include "themes/subjects.h"

namespace vorlane {

namespace {

const unsigned kEverything = Icons | Images | Models | Sounds | Music;

}  // namespace

int getModelsCommand(LauncherState& state, const StartOptions& options) {
    const CreateThemeOptions& given = options.theme;
    auto log = [&](const std::wstring& line) { logLine(state, L"Download models: " + line); };
    unsigned kinds = kEverything;
    if (!given.make.empty()) {
        const MakeKindsWords words = ParseMakeKinds(given.make);
        if (!words.message.empty()) {
            log(words.message);
            return 1;
        }
        kinds = words.kinds;
    }
    const std::vector<std::wstring> servers = ComfyAddresses(
        given.comfy.empty() ? readSetting(state, L"ComfyServer", L"http://127.0.0.1:8188") : given.comfy);
    const std::wstring hub = given.modelsFrom.empty() ? std::wstring(kHuggingFaceHub) : normaliseBaseUrl(given.modelsFrom);
    ModelDownloadReporter reporter{log, [&](const std::wstring& question) {
                                       log(L"Asked (and --auto says yes): " + question);
                                       return true;
                                   },
                                   JobControl(standardOutputProgress())};
    // Each server gets its own files, one after the other.
    bool every = !servers.empty();
    for (const std::wstring& comfy : servers) every = getModels(comfy, kinds, reporter, hub) && every;
    return every ? 0 : 1;
}

}  // namespace vorlane
