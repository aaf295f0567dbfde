#include "app/get_models_command.h"

#include "comfy/model_download.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "net/http_client.h"

namespace vorlane {

namespace {

const unsigned kEverything = Icons | Images | Models | Sounds | Music;

// The --make words, comma-separated, in any case. The message, empty when
// every word is known.
std::wstring readMakeWords(const std::wstring& text, unsigned& kinds) {
    static const std::pair<const wchar_t*, unsigned> words[] = {
        {L"icons", Icons}, {L"images", Images}, {L"models", Models}, {L"sounds", Sounds}, {L"music", Music}};
    kinds = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(L',', start);
        if (comma == std::wstring::npos) comma = text.size();
        const std::wstring raw = text.substr(start, comma - start);
        start = comma + 1;
        if (raw.empty()) continue;
        const std::wstring word = lowerCase(trimSpace(raw));
        bool known = false;
        for (const auto& [name, bit] : words)
            if (word == name) {
                kinds |= bit;
                known = true;
            }
        if (!known)
            return L"--make takes icons, images, models, sounds and music (with commas between), not " + word + L".";
    }
    return {};
}

}  // namespace

int getModelsCommand(LauncherState& state, const StartOptions& options) {
    const CreateThemeOptions& given = options.theme;
    auto log = [&](const std::wstring& line) { logLine(state, L"Download models: " + line); };
    unsigned kinds = kEverything;
    if (!given.make.empty()) {
        const std::wstring message = readMakeWords(given.make, kinds);
        if (!message.empty()) {
            log(message);
            return 1;
        }
    }
    const std::wstring comfy = normaliseBaseUrl(
        given.comfy.empty() ? readSetting(state, L"ComfyServer", L"http://127.0.0.1:8188") : given.comfy);
    const std::wstring hub = given.modelsFrom.empty() ? std::wstring(kHuggingFaceHub) : normaliseBaseUrl(given.modelsFrom);
    ModelDownloadReporter reporter{log, [&](const std::wstring& question) {
                                       log(L"Asked (and --auto says yes): " + question);
                                       return true;
                                   }};
    return getModels(comfy, kinds, reporter, hub) ? 0 : 1;
}

}  // namespace vorlane
