// Running one workflow graph on ComfyUI: queueing it, following it to its end
// within a time limit, stopping it when the player asks, fetching and saving
// the file it made, and a sentence for every way it can end.
#pragma once

#include <functional>
#include <string>

#include "core/files.h"
#include "core/job.h"
#include "core/json.h"

namespace vorlane {

// How a run ended.
enum WorkflowOutcome : int {
    RunMade = 0,          // saved; the message may hold a note
    RunFailed = 1,        // the message says why
    RunStopped = 2,       // "Stopped."
    RunNotAnswering = 3,  // ComfyUI stopped answering
    RunAnotherSeed = 4,   // an audio check asks for another seed
    RunTooBright = 5,     // a sound came out too bright: another seed, warmer wording
};

// What kind of file a graph makes.
enum OutputType : int { PictureOutput = 0, ModelOutput = 1, SoundOutput = 2, MusicOutput = 3 };

struct AudioOutputResult {
    std::wstring error;        // empty when the file was written
    bool anotherSeed = false;
    bool tooBright = false;
};
// Saves a sound or music output named by ComfyUI's file reference, and may
// leave a note for the player.
using AudioOutputSaver =
    std::function<AudioOutputResult(const std::wstring& address, const JsonValue& fileReference, std::wstring& note)>;

// The file one run makes.
struct WorkflowFile {
    std::string Graph;         // a finished WorkflowGraph
    int Type = PictureOutput;  // an OutputType
    std::wstring Path;         // where pictures and 3D models are saved
    std::wstring PicturePath;  // a 3D model's picture is saved here too, when not empty
    AudioOutputSaver saveAudio;  // sounds and music: converts, checks and writes them
};

// The time a run measures and waits in. Tests hand in one they advance.
class WorkflowClock {
public:
    virtual ~WorkflowClock() = default;
    virtual unsigned long long nowMs() = 0;
    virtual void sleepMs(unsigned ms) = 0;
};
WorkflowClock& systemWorkflowClock();

// A new client id: a GUID in upper-case hexadecimal with hyphens, no braces.
std::wstring NewClientId();

// Queues the graph, polls until ComfyUI has finished it, fails, takes too
// long or the job is asked to stop, and saves the output. The progress goes
// from 0 to 0.95 with an empty sentence (the caller says what is made).
int RunWorkflow(const std::wstring& address, const std::wstring& clientId, const WorkflowFile& file,
                const JobControl& control, std::wstring& message, WorkflowClock& clock = systemWorkflowClock());

// Drops a queued prompt and interrupts it if it runs; answers are ignored.
void CancelPrompt(const std::wstring& address, const std::wstring& promptId);

// Fetches the file a reference ({"filename","subfolder","type"}) names into
// body; it must begin with magic. The error sentence, empty on success.
std::wstring FetchOutputFile(const std::wstring& address, const JsonValue& fileReference, const std::string& magic,
                             std::string& body);

// FetchOutputFile, then writes the file to path (making its folder) through a
// ".part" file. The error sentence, empty on success.
std::wstring SaveOutputFile(const std::wstring& address, const JsonValue& fileReference, const std::wstring& path,
                            const std::string& magic);

// Writes bytes as the whole file at path, making its folder, through a
// ".part" file, so a failure never leaves part of a file in its place. The
// error sentence (with the system's error number), empty on success.
std::wstring WriteOutputFile(const std::wstring& path, const std::string& bytes);
// The same for a file handed over block by block.
std::wstring WriteOutputFile(const std::wstring& path, const FileBlockSource& source);

// A sentence for a history entry whose status is "error".
std::wstring DescribeFailure(const JsonValue& entry);

}  // namespace vorlane
