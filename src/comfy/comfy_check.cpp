#include "comfy/comfy_check.h"

#include <cmath>

#include "core/json.h"
#include "core/text.h"
#include "net/http_client.h"

namespace vorlane {

const ModelFile ModelFileTable[kModelFileCount] = {
    {"diffusion_models", "z_image_turbo_int8_convrot.safetensors", "UNETLoader", "unet_name", Icons | Images | Models,
     "Comfy-Org/z_image_turbo", "split_files/diffusion_models/z_image_turbo_int8_convrot.safetensors"},
    {"text_encoders", "qwen_3_4b_fp8_mixed.safetensors", "CLIPLoader", "clip_name", Icons | Images | Models,
     "Comfy-Org/z_image_turbo", "split_files/text_encoders/qwen_3_4b_fp8_mixed.safetensors"},
    {"vae", "ae.safetensors", "VAELoader", "vae_name", Icons | Images | Models, "Comfy-Org/z_image_turbo",
     "split_files/vae/ae.safetensors"},
    {"background_removal", "birefnet.safetensors", "LoadBackgroundRemovalModel", "bg_removal_name", Icons | Models,
     "Comfy-Org/BiRefNet", "background_removal/birefnet.safetensors"},
    {"diffusion_models", "pixal3d_int8_convrot.safetensors", "UNETLoader", "unet_name", Models, "Comfy-Org/Pixal3D",
     "diffusion_models/pixal3d_int8_convrot.safetensors"},
    {"vae", "trellis_2_shape_vae_bf16.safetensors", "VAELoader", "vae_name", Models, "Comfy-Org/Pixal3D",
     "vae/trellis_2_shape_vae_bf16.safetensors"},
    {"vae", "trellis_2_texture_vae_bf16.safetensors", "VAELoader", "vae_name", Models, "Comfy-Org/Pixal3D",
     "vae/trellis_2_texture_vae_bf16.safetensors"},
    {"clip_vision", "dino_v3_L_naf_fp32.safetensors", "CLIPVisionLoader", "clip_name", Models, "Comfy-Org/Pixal3D",
     "clip_vision/dino_v3_L_naf_fp32.safetensors"},
    {"geometry_estimation", "moge_2_vitl_normal_fp16.safetensors", "LoadMoGeModel", "model_name", Models,
     "Comfy-Org/MoGe", "geometry_estimation/moge_2_vitl_normal_fp16.safetensors"},
    {"checkpoints", "stable_audio_3_small_sfx.safetensors", "CheckpointLoaderSimple", "ckpt_name", Sounds,
     "Comfy-Org/stable-audio-3", "checkpoints/stable_audio_3_small_sfx.safetensors"},
    {"text_encoders", "t5gemma_b_b_ul2.safetensors", "CLIPLoader", "clip_name", Sounds, "Comfy-Org/stable-audio-3",
     "text_encoders/t5gemma_b_b_ul2.safetensors"},
    {"diffusion_models", "acestep_v1.5_turbo.safetensors", "UNETLoader", "unet_name", Music,
     "Comfy-Org/ace_step_1.5_ComfyUI_files", "split_files/diffusion_models/acestep_v1.5_turbo.safetensors"},
    {"text_encoders", "qwen_0.6b_ace15.safetensors", "DualCLIPLoader", "clip_name1", Music,
     "Comfy-Org/ace_step_1.5_ComfyUI_files", "split_files/text_encoders/qwen_0.6b_ace15.safetensors"},
    {"text_encoders", "qwen_1.7b_ace15.safetensors", "DualCLIPLoader", "clip_name2", Music,
     "Comfy-Org/ace_step_1.5_ComfyUI_files", "split_files/text_encoders/qwen_1.7b_ace15.safetensors"},
    {"vae", "ace_1.5_vae.safetensors", "VAELoader", "vae_name", Music, "Comfy-Org/ace_step_1.5_ComfyUI_files",
     "split_files/vae/ace_1.5_vae.safetensors"},
};

namespace {

const unsigned kStatsTimeoutMs = 10000;
const unsigned kListTimeoutMs = 15000;

std::wstring wide(const char* text) { return toUtf16(text); }

// A GET whose answer is a JSON document of the wanted kind with status 200.
bool getJson(const std::wstring& url, unsigned timeoutMs, JsonKind kind, JsonValue& document) {
    const HttpResult answer = request(L"GET", url, "", timeoutMs);
    return answer.error.empty() && answer.status == 200 && parseDocument(answer.body, document) &&
           document.kind == kind;
}

void addTexts(const JsonValue& array, std::vector<std::string>& names) {
    for (const JsonValue& item : array.items) names.push_back(item.text);
}

struct Choices {
    int outcome = ChoicesUnknown;
    std::vector<std::string> names;
};

}  // namespace

std::vector<std::wstring> ComfyAddresses(const std::wstring& text) {
    std::vector<std::wstring> addresses;
    size_t begin = 0;
    for (;;) {
        const size_t comma = text.find(L',', begin);
        const std::wstring address =
            normaliseBaseUrl(text.substr(begin, comma == std::wstring::npos ? std::wstring::npos : comma - begin));
        bool repeat = false;
        for (const std::wstring& earlier : addresses) repeat = repeat || equalsIgnoringCase(earlier, address);
        if (!address.empty() && !repeat) addresses.push_back(address);
        if (comma == std::wstring::npos) return addresses;
        begin = comma + 1;
    }
}

std::wstring NormaliseComfyAddresses(const std::wstring& text) {
    std::wstring joined;
    for (const std::wstring& address : ComfyAddresses(text)) joined += (joined.empty() ? L"" : L", ") + address;
    return joined;
}

int ListModelChoices(const std::wstring& address, const ModelFile& row, std::vector<std::string>& names) {
    names.clear();
    JsonValue document;
    if (getJson(address + L"/models/" + wide(row.folder), kListTimeoutMs, JsonKind::Array, document)) {
        addTexts(document, names);
        return ChoicesListed;
    }
    if (!getJson(address + L"/object_info/" + wide(row.nodeClass), kListTimeoutMs, JsonKind::Object, document))
        return ChoicesUnknown;
    const JsonValue& node = member(document, row.nodeClass);
    if (node.kind == JsonKind::Null) return NodeMissing;
    const JsonValue& choice = member(member(member(node, "input"), "required"), row.input);
    // The older form lists the names first, then settings; the newer one is
    // the word "COMBO" with the names as the settings' "options".
    const JsonValue* list = nullptr;
    if (!choice.items.empty() && choice.items[0].kind == JsonKind::Array)
        list = &choice.items[0];
    else if (choice.items.size() > 1)
        list = &member(choice.items[1], "options");
    if (!list || list->kind != JsonKind::Array) return ChoicesUnknown;
    addTexts(*list, names);
    return ChoicesListed;
}

bool CheckComfy(const std::wstring& address, unsigned kinds, const ReportSink& report,
                std::vector<std::wstring>& missing, std::wstring* version, std::vector<const ModelFile*>* missingRows,
                const std::wstring& hubBase) {
    missing.clear();
    if (missingRows) missingRows->clear();
    std::vector<const ModelFile*> rows;  // the row of each missing entry
    const HttpResult answer = request(L"GET", address + L"/system_stats", "", kStatsTimeoutMs);
    JsonValue stats;
    if (!answer.error.empty() || answer.status != 200 || !parseDocument(answer.body, stats) ||
        stats.kind != JsonKind::Object) {
        const std::wstring why = answer.error.empty() ? L"it answered " + std::to_wstring(answer.status) : answer.error;
        report(L"ComfyUI isn't answering at " + address + L" (" + why +
               L"). Start Comfy Desktop first, and check the address.");
        return false;
    }
    const std::wstring versionText = textWide(member(member(stats, "system"), "comfyui_version"));
    if (version) *version = versionText;
    const JsonValue& devices = member(stats, "devices");
    std::wstring device;
    if (!devices.items.empty()) {
        const JsonValue& first = devices.items[0];
        device = textWide(member(first, "name"));
        const double gb = decimalOr(member(first, "vram_total"), 0) / 1073741824.0;
        if (!device.empty() && gb > 0.5) device += L" (" + std::to_wstring((long long)(gb + 0.5)) + L" GB)";
    }
    report(L"ComfyUI " + (versionText.empty() ? L"" : versionText + L" ") + L"answers at " + address +
           (device.empty() ? L"." : L", on " + device + L"."));

    std::map<std::string, Choices> cache;  // by folder: the first row of a folder decides for the others
    for (const ModelFile& row : ModelFileTable) {
        if ((row.kinds & kinds) == 0) continue;
        auto found = cache.find(row.folder);
        if (found == cache.end()) {
            Choices choices;
            choices.outcome = ListModelChoices(address, row, choices.names);
            found = cache.emplace(row.folder, std::move(choices)).first;
        }
        const Choices& choices = found->second;
        const std::wstring path = wide(row.folder) + L"\\" + wide(row.file);
        if (choices.outcome == ChoicesUnknown) {
            report(L"Couldn't tell whether ComfyUI has models\\" + path + L".");
            continue;
        }
        bool has = false;
        if (choices.outcome == ChoicesListed)
            for (const std::string& name : choices.names) has = has || name == row.file;
        if (has) continue;
        missing.push_back(choices.outcome == NodeMissing ? path + L" (and this ComfyUI has no " + wide(row.nodeClass) +
                                                               L" node: update ComfyUI)"
                                                         : path);
        rows.push_back(&row);
    }
    if (missingRows) *missingRows = rows;

    if (missing.empty()) {
        report(L"It has every model file this needs.");
        return true;
    }
    report(L"It's missing " + std::to_wstring(missing.size()) +
           L" model file(s). Download models gets them from Hugging Face; or get each from its page there and put it "
           L"in ComfyUI's models folder, in the folder named, then check again:");
    for (size_t i = 0; i < missing.size(); ++i)
        report(L"  models\\" + missing[i] + L", from " + hubBase + L"/" + wide(rows[i]->repository));
    return true;
}

std::map<std::string, std::wstring> FindModelFolders(const std::wstring& address) {
    std::map<std::string, std::wstring> folders;
    JsonValue document;
    if (!getJson(address + L"/internal/folder_paths", kListTimeoutMs, JsonKind::Object, document)) return folders;
    for (const ModelFile& row : ModelFileTable) {
        const std::wstring folderName = wide(row.folder);
        std::wstring chosen;
        for (const JsonValue& item : member(document, row.folder).items) {
            std::wstring path = textWide(item);
            while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
            const size_t slash = path.find_last_of(L"\\/");
            const std::wstring last = slash == std::wstring::npos ? path : path.substr(slash + 1);
            if (chosen.empty()) chosen = path;
            if (equalsIgnoringCase(last, folderName)) {
                chosen = path;
                break;
            }
        }
        if (!chosen.empty()) folders[row.folder] = chosen;
    }
    return folders;
}

std::wstring ExplainRefusal(unsigned status, const std::string& body) {
    const std::wstring answered = L"it answered " + std::to_wstring(status);
    JsonValue document;
    if (!parseDocument(body, document) || document.kind != JsonKind::Object)
        return answered + (body.empty() ? L"." : L": " + ShortenText(TidySpaces(toUtf16(body)), 300));
    const JsonValue& error = member(document, "error");
    std::wstring text;
    if (error.kind == JsonKind::Object) {
        text = textWide(member(error, "message"));
        const std::wstring details = TidySpaces(textWide(member(error, "details")));
        if (!details.empty()) text += L" (" + ShortenText(details, 200) + L")";
    } else {
        text = textWide(error);
    }
    bool notInList = false;
    for (const auto& [id, node] : member(document, "node_errors").members) {
        for (const JsonValue& item : member(node, "errors").items) {
            text += L"; " + textWide(member(node, "class_type")) + L": " + textWide(member(item, "message"));
            const std::wstring details = TidySpaces(textWide(member(item, "details")));
            if (!details.empty()) text += L": " + ShortenText(details, 200);
            notInList = notInList || member(item, "type").text == "value_not_in_list";
        }
    }
    // Older ComfyUI says a node class "does not exist"; newer ones give the
    // error the type "missing_node_type" and other words.
    if (text.find(L"does not exist") != std::wstring::npos || member(error, "type").text == "missing_node_type")
        text += L" (this ComfyUI hasn't that node: update ComfyUI)";
    if (notInList) text += L" (a model file ComfyUI hasn't: Check ComfyUI lists what's missing)";
    text = TidySpaces(text);
    return text.empty() ? answered + L"." : text;
}

}  // namespace vorlane
