#include "comfy/workflow_run.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>

#include "comfy/comfy_check.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/text.h"
#include "net/http_client.h"

namespace vorlane {

namespace {

const unsigned kPromptTimeoutMs = 60000;
const unsigned kHistoryTimeoutMs = 30000;
const unsigned kViewTimeoutMs = 120000;
const unsigned kCancelTimeoutMs = 5000;
const unsigned kStopCheckMs = 100;
const int kFailedPollsGivenUp = 10;

const char kPngMagic[] = "\x89PNG";
const char kGlbMagic[] = "glTF";

// How long a kind of output may take, how often it is asked after, and the
// time its progress bar is drawn against.
struct RunLimits {
    unsigned long long limitMs;
    unsigned pollMs;
    double expectedMs;
};

RunLimits limitsFor(int type) {
    switch (type) {
    case ModelOutput: return {3600000, 2000, 120000};
    case MusicOutput: return {1200000, 2000, 60000};
    default: return {600000, 700, 10000};
    }
}

const JsonValue& firstItem(const JsonValue& array) {
    static const JsonValue none;
    return array.items.empty() ? none : array.items[0];
}

// outputs.<node>.<list>[0]
const JsonValue& outputReference(const JsonValue& entry, const char* node, const char* list) {
    return firstItem(member(member(member(entry, "outputs"), node), list));
}

class SystemClock : public WorkflowClock {
public:
    unsigned long long nowMs() override { return GetTickCount64(); }
    void sleepMs(unsigned ms) override { Sleep(ms); }
};

// Saves what a finished entry names for the file, and tells the outcome.
int saveOutputs(const std::wstring& address, const WorkflowFile& file, const JsonValue& entry, std::wstring& message) {
    std::wstring error;
    std::wstring note;
    int refused = RunFailed;
    if (file.Type == SoundOutput || file.Type == MusicOutput) {
        const AudioOutputResult saved = file.saveAudio(address, outputReference(entry, "30", "audio"), note);
        error = saved.error;
        if (saved.anotherSeed) refused = RunAnotherSeed;
        else if (saved.tooBright) refused = RunTooBright;
    } else if (file.Type == ModelOutput) {
        error = SaveOutputFile(address, outputReference(entry, "400", "3d"), file.Path, kGlbMagic);
    } else {
        error = SaveOutputFile(address, outputReference(entry, "15", "images"), file.Path, kPngMagic);
    }
    if (!error.empty()) {
        message = error;
        return refused;
    }
    message = note;
    if (file.Type == ModelOutput && !file.PicturePath.empty()) {
        const std::wstring pictureError =
            SaveOutputFile(address, outputReference(entry, "z10", "images"), file.PicturePath, kPngMagic);
        if (!pictureError.empty()) message = L"Its picture wasn't saved: " + pictureError;
    }
    return RunMade;
}

}  // namespace

WorkflowClock& systemWorkflowClock() {
    static SystemClock clock;
    return clock;
}

std::wstring NewClientId() {
    GUID guid{};
    CoCreateGuid(&guid);
    wchar_t text[40];
    swprintf(text, 40, L"%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", (unsigned long)guid.Data1, guid.Data2,
             guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    return text;
}

int RunWorkflow(const std::wstring& address, const std::wstring& clientId, const WorkflowFile& file,
                const JobControl& control, std::wstring& message, WorkflowClock& clock) {
    const std::string body = "{\"prompt\":" + file.Graph + ",\"client_id\":" + quoteJson(clientId) + "}";
    const HttpResult queued = request(L"POST", address + L"/prompt", body, kPromptTimeoutMs);
    if (!queued.error.empty()) {
        message = L"ComfyUI stopped answering (" + queued.error + L").";
        return RunNotAnswering;
    }
    JsonValue answer;
    std::wstring promptId;
    if (queued.status == 200 && parseDocument(queued.body, answer)) promptId = textWide(member(answer, "prompt_id"));
    if (promptId.empty()) {
        message = L"ComfyUI refused it: " + ExplainRefusal(queued.status, queued.body);
        return RunFailed;
    }

    const RunLimits limits = limitsFor(file.Type);
    const unsigned long long start = clock.nowMs();
    const std::wstring historyUrl = address + L"/history/" + PercentEncode(promptId);
    int failedPolls = 0;
    for (;;) {
        // The stop request is looked at before each step of the wait and once after the last.
        for (unsigned waited = 0;; waited += kStopCheckMs) {
            if (control.stopRequested()) {
                CancelPrompt(address, promptId);
                message = L"Stopped.";
                return RunStopped;
            }
            if (waited >= limits.pollMs) break;
            clock.sleepMs(kStopCheckMs);
        }
        const unsigned long long elapsed = clock.nowMs() - start;
        if (elapsed > limits.limitMs) {
            CancelPrompt(address, promptId);
            message = L"ComfyUI took over " + std::to_wstring(limits.limitMs / 60000) + L" minutes on it, so it was stopped.";
            return RunFailed;
        }
        control.progress(std::min((double)elapsed / limits.expectedMs, 0.95), L"");

        const HttpResult polled = request(L"GET", historyUrl, "", kHistoryTimeoutMs);
        JsonValue history;
        if (!polled.error.empty() || polled.status != 200 || !parseDocument(polled.body, history)) {
            if (++failedPolls < kFailedPollsGivenUp) continue;
            message = L"ComfyUI stopped answering" + (polled.error.empty() ? L"." : L" (" + polled.error + L").");
            return RunNotAnswering;
        }
        failedPolls = 0;
        const JsonValue& entry = member(history, toUtf8(promptId));
        if (entry.kind != JsonKind::Object) continue;  // not finished yet
        if (member(member(entry, "status"), "status_str").text == "error") {
            message = L"ComfyUI failed on it: " + DescribeFailure(entry);
            return RunFailed;
        }
        return saveOutputs(address, file, entry, message);
    }
}

void CancelPrompt(const std::wstring& address, const std::wstring& promptId) {
    const std::string id = quoteJson(promptId);
    request(L"POST", address + L"/queue", "{\"delete\":[" + id + "]}", kCancelTimeoutMs);
    request(L"POST", address + L"/interrupt", "{\"prompt_id\":" + id + "}", kCancelTimeoutMs);
}

std::wstring FetchOutputFile(const std::wstring& address, const JsonValue& fileReference, const std::string& magic,
                             std::string& body) {
    body.clear();
    const std::wstring name = textWide(member(fileReference, "filename"));
    if (name.empty()) return L"ComfyUI finished it but gave no file back.";
    std::wstring type = textWide(member(fileReference, "type"));
    if (type.empty()) type = L"output";
    const std::wstring subfolder = textWide(member(fileReference, "subfolder"));
    HttpResult answer = request(L"GET",
                                address + L"/view?filename=" + PercentEncode(name) + L"&subfolder=" +
                                    PercentEncode(subfolder) + L"&type=" + PercentEncode(type),
                                "", kViewTimeoutMs);
    if (!answer.error.empty() || answer.status != 200) {
        const std::wstring reason =
            answer.error.empty() ? L"it answered " + std::to_wstring(answer.status) : answer.error;
        return L"Couldn't fetch " + name + L" from ComfyUI (" + reason + L").";
    }
    if (answer.body.compare(0, magic.size(), magic) != 0)
        return L"ComfyUI's " + name + L" isn't the kind of file it should be.";
    body = std::move(answer.body);
    return L"";
}

std::wstring SaveOutputFile(const std::wstring& address, const JsonValue& fileReference, const std::wstring& path,
                            const std::string& magic) {
    std::string body;
    const std::wstring error = FetchOutputFile(address, fileReference, magic, body);
    if (!error.empty()) return error;
    return WriteOutputFile(path, body);
}

std::wstring WriteOutputFile(const std::wstring& path, const std::string& bytes) {
    return WriteOutputFile(path, wholeString(bytes));
}

std::wstring WriteOutputFile(const std::wstring& path, const FileBlockSource& source) {
    const std::wstring folder = parentFolder(path);
    if ((!folder.empty() && !makeFolderTree(folder)) || !writeFileAtomically(path, source))
        return systemFailure(L"Couldn't write " + path + L" (is the disk full, or the file open in another program?).")
            .text();
    return L"";
}

std::wstring DescribeFailure(const JsonValue& entry) {
    std::wstring text;
    bool interrupted = false;
    for (const JsonValue& pair : member(member(entry, "status"), "messages").items) {
        const std::string& event = firstItem(pair).text;
        if (event == "execution_interrupted") interrupted = true;
        if (event != "execution_error" || pair.items.size() < 2) continue;
        const JsonValue& data = pair.items[1];
        const std::wstring said = ShortenText(TidySpaces(textWide(member(data, "exception_message"))), 400);
        if (!text.empty()) text += L" ";
        text += textWide(member(data, "node_type")) + L": " + said;
    }
    const std::wstring lower = lowerCase(text);
    if (lower.find(L"out of memory") != std::wstring::npos || lower.find(L"allocation on device") != std::wstring::npos)
        text += L" (the graphics card ran out of memory: close other programs using it and try again)";
    if (!text.empty()) return text;
    return interrupted ? L"it was stopped in ComfyUI." : L"ComfyUI stopped with an error but didn't say what.";
}

}  // namespace vorlane
