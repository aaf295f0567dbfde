#include "themes/theme_job.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "comfy/audio_graphs.h"
#include "comfy/comfy_check.h"
#include "comfy/model_graph.h"
#include "comfy/picture_graph.h"
#include "comfy/workflow_graph.h"
#include "comfy/workflow_run.h"
#include "core/files.h"
#include "core/job_runner.h"
#include "core/text.h"
#include "slots/checklist.h"
#include "slots/theme_slots.h"
#include "themes/audio_saver.h"
#include "media/glb_model.h"
#include "themes/theme_json.h"

namespace vorlane {

namespace {

// How much of the run's progress a file of each type stands for.
int weightOf(int type) { return type == ModelOutput ? 12 : type == MusicOutput ? 6 : 1; }

// ComfyUI names the file it makes after this: Vorlane/<folder name>/<slot id, file-safe>.
std::wstring outputPrefix(const ThemeJob& job, const std::wstring& name) {
    std::wstring safe = name;
    for (wchar_t& c : safe)
        if (!(c < 128 && (iswalnum(c) || c == L'-' || c == L'.' || c == L'_'))) c = L'_';
    return L"Vorlane/" + job.FolderName + L"/" + safe;
}

std::wstring pathInTheme(const ThemeJob& job, std::wstring file) {
    std::replace(file.begin(), file.end(), L'/', L'\\');
    return joinPath(job.Folder, file);
}

void appendNote(std::wstring& note, const std::wstring& more) { note += (note.empty() ? L"" : L" ") + more; }

class ThemeRun {
public:
    ThemeRun(const ThemeJob& job, const ThemeJobReporter& reporter) : job_(job), reporter_(reporter) {}

    bool run();

private:
    void log(const std::wstring& line) const { reporter_.log(line); }
    bool has(unsigned kind) const { return (job_.Kinds & kind) != 0; }
    void add(ThemeFile file);
    void listPictures();
    void listSounds();
    void listModels();
    // One server's worker making one file: where its lines go.
    struct Maker {
        size_t server = 0;
        std::function<void(const std::wstring&)> say;
    };
    bool checkServers(std::wstring& comfyVersion);
    int runOnce(const Maker& maker, ThemeFile& file, const std::string& graph, AudioMemory& memory,
                std::wstring& note);
    int makeFile(const Maker& maker, ThemeFile& file, std::wstring& note);
    void mendShards(const Maker& maker, ThemeFile& file, std::wstring& note);
    void serve(size_t server);
    void reportProgress() const;
    void writeChecklist() const;

    const ThemeJob& job_;
    const ThemeJobReporter& reporter_;
    ThemeRunCounts counts_;
    std::vector<ThemeFile> list_;
    FacesTargetMap towersFacing_;  // towers whose models this run makes
    FacesTargetMap towersListed_;  // towers as theme.json had them when the run began
    std::wstring clientId_;
    std::vector<std::wstring> servers_;  // the servers that make the files

    // Shared by the servers' workers while the files are made: held by lock_.
    std::mutex lock_;
    std::deque<size_t> waiting_;    // the making list's files not begun, by index; a file given back goes first
    std::vector<double> making_;    // per server: the weight done of the file it makes
    std::vector<bool> answering_;   // per server: not dropped
    double done_ = 0, total_ = 0;
    bool stopped_ = false;          // the player stopped the run
    bool noServerLeft_ = false;     // the last server stopped answering
    int busy_ = 0;                  // workers making a file
    std::condition_variable wake_;  // a file was given back or finished, or the run ends
};

void ThemeRun::add(ThemeFile file) {
    if (!job_.MakeAgain && pathExists(file.Path)) {
        log(L"Kept " + file.File + L" (already there; Make again makes it again).");
        ++counts_.Kept;
        return;
    }
    list_.push_back(std::move(file));
}

void ThemeRun::listPictures() {
    for (const ThemeSlot& slot : job_.Slots) {
        const bool icon = slot.Kind == L"Icon";
        const bool heightPicture = slot.Optional && slot.Target.size() >= 8 && slot.Target.ends_with(L".Height");
        if (!(icon && has(Icons)) && !(slot.Kind == L"Image" && has(Images) && !heightPicture)) continue;
        const std::optional<PictureSize> size = PictureSizes(slot.Format);
        if (!isSafeRelativePath(slot.File) || !size) {
            log(L"Skipped " + slot.Id + L": its file isn't a path in the theme, or its format gives no size (\"" +
                slot.Format + L"\").");
            ++counts_.Failed;
            continue;
        }
        ThemeFile file;
        file.File = slot.File;
        file.Path = pathInTheme(job_, slot.File);
        file.Type = PictureOutput;
        file.Graph = BuildPictureGraph(PicturePrompt(slot, job_.Subjects, job_.Style, job_.GroundStyle), *size, icon,
                                       job_.Seed, outputPrefix(job_, slot.Id));
        add(std::move(file));
    }
}

void ThemeRun::listSounds() {
    for (const ThemeSlot& slot : job_.Slots) {
        const bool music = slot.Kind == L"Music";
        if (!(music && has(Music)) && !(slot.Kind == L"Sound" && has(Sounds))) continue;
        if (slot.Optional) continue;
        if (!isSafeRelativePath(slot.File) || slot.File.size() <= 4 || !endsWithIgnoringCase(slot.File, L".wav")) {
            log(L"Skipped " + slot.Id + L": its file isn't a WAV in the theme (\"" + slot.File + L"\").");
            ++counts_.Failed;
            continue;
        }
        ThemeFile file;
        file.File = slot.File;
        file.Path = pathInTheme(job_, slot.File);
        file.Type = music ? MusicOutput : SoundOutput;
        file.Params = MakeSoundParams(slot);
        const SoundParams params = file.Params;
        const std::wstring prefix = outputPrefix(job_, slot.Id);
        if (music) {
            const std::wstring prompt = MusicPrompt(slot, job_.Style), key = MusicKey(job_.Seed);
            file.Rebuild = [=](long long seed, bool) {
                return BuildMusicGraph(prompt, params.generateSeconds, params.tempo, key, seed, prefix);
            };
        } else {
            const std::wstring style = job_.Style;
            file.Rebuild = [=](long long seed, bool warm) {
                return BuildSoundGraph(SoundPrompt(slot, style, params.generateSeconds, warm), params.generateSeconds,
                                       seed, prefix);
            };
        }
        file.Graph = file.Rebuild(job_.Seed, false);
        add(std::move(file));
    }
}

void ThemeRun::listModels() {
    towersListed_ = ReadFacesTarget(job_.Folder);
    const FacesTargetMap& facing = towersListed_;
    if (!has(Models)) return;
    for (const ThemeSubject& subject : job_.Subjects) {
        if (!isSafeRelativePath(subject.ModelPath)) continue;
        ThemeFile file;
        file.File = subject.ModelPath;
        file.Path = pathInTheme(job_, subject.ModelPath);
        file.PicturePath = file.Path.substr(0, file.Path.size() - 4) + L".png";
        file.Label = EffectiveDescription(subject);
        file.Type = ModelOutput;
        const std::wstring prompt = ModelPrompt(subject, job_.Style, facing);
        const std::wstring prefix = L"Vorlane/" + job_.FolderName + L"/Models/" + subject.Key;
        const int faces = job_.ModelFaces;
        file.Rebuild = [=](long long seed, bool) { return Build3DModelGraph(prompt, seed, prefix, faces); };
        file.Graph = file.Rebuild(job_.Seed, false);
        const size_t before = list_.size();
        add(std::move(file));
        if (list_.size() > before && subject.Key.starts_with(L"Tower_")) {
            const std::wstring tower = subject.Key.substr(6);
            const auto listed = facing.find(tower);
            towersFacing_[tower] = listed != facing.end() ? listed->second : isBuiltInTowerKind(tower);
        }
    }
}

int ThemeRun::runOnce(const Maker& maker, ThemeFile& file, const std::string& graph, AudioMemory& memory,
                      std::wstring& note) {
    WorkflowFile workflow;
    workflow.Graph = graph;
    workflow.Type = file.Type;
    workflow.Path = file.Path;
    workflow.PicturePath = file.PicturePath;
    if (file.Type == SoundOutput || file.Type == MusicOutput)
        workflow.saveAudio = audioOutputSaver(file.Path, file.Params, memory);
    const double weight = weightOf(file.Type);
    const size_t server = maker.server;
    const JobControl control(
        [this, weight, server](double fraction, const std::wstring&) {
            std::lock_guard<std::mutex> hold(lock_);
            making_[server] = fraction * weight;
            reportProgress();
        },
        reporter_.stop);
    note.clear();
    return RunWorkflow(servers_[server], clientId_, workflow, control, note);
}

// Runs the file, then again with other seeds while the audio checks ask for it:
// twice at most for each kind of ask.
int ThemeRun::makeFile(const Maker& maker, ThemeFile& file, std::wstring& note) {
    AudioMemory memory;
    int status = runOnce(maker, file, file.Graph, memory, note);
    long long seedCounter = 1;
    int seedRetries = 0, warmRetries = 0;
    bool warm = false;
    for (;;) {
        if (status == RunAnotherSeed) {
            if (seedRetries == 2) return RunFailed;
            maker.say(L"  " + note + L" Making it again with another seed...");
            file.Params.LastSeedTry = ++seedRetries == 2;
        } else if (status == RunTooBright) {
            if (warmRetries == 2) return RunFailed;
            maker.say(L"  " + note + L" Making it again with another seed, asking for warmer, lower tones...");
            file.Params.LastWarmTry = ++warmRetries == 2;
            warm = true;
        } else {
            return status;
        }
        status = runOnce(maker, file, file.Rebuild(SeedPlus(job_.Seed, seedCounter++), warm), memory, note);
    }
}

// Whether a try's shard score beats the best so far: a model it can measure
// always beats one it can't (-1), and of two measured the less torn wins.
bool lessTorn(double score, double best) { return score >= 0 && (best < 0 || score < best); }

// A model in shards is made again, twice at most, and the least torn try is what stays.
void ThemeRun::mendShards(const Maker& maker, ThemeFile& file, std::wstring& note) {
    double last = ShardScore(readWholeFile(file.Path));
    if (!IsInShards(last)) return;
    double best = last;
    bool lastIsBest = true, haveCopy = false, havePicture = false;
    std::string model, picture;
    AudioMemory unused;
    for (int k = 1; k <= 2; ++k) {
        if (reporter_.stopRequested()) break;
        if (lastIsBest) {
            haveCopy = readWholeFile(file.Path, model);
            havePicture = !file.PicturePath.empty() && readWholeFile(file.PicturePath, picture);
        }
        maker.say(L"  It came out in shards (" + ShardScoreText(last) + L"). Making it again with another seed...");
        std::wstring tryNote;
        if (runOnce(maker, file, file.Rebuild(SeedPlus(job_.Seed, k), false), unused, tryNote) != RunMade) {
            maker.say(L"  That try wasn't made: " + tryNote);
            break;
        }
        last = ShardScore(readWholeFile(file.Path));
        lastIsBest = lessTorn(last, best);
        if (lastIsBest) best = last;
        if (last >= 0 && !IsInShards(last)) break;
    }
    if (!lastIsBest && haveCopy &&
        (!writeFileAtomically(file.Path, model) || (havePicture && !writeFileAtomically(file.PicturePath, picture))))
        appendNote(note, L"The least torn try couldn't be put back, so a later one is there.");
    if (IsInShards(best))
        appendNote(note, L"Every try came out in shards, so the least torn (" + ShardScoreText(best) +
                             L") is kept: look at it, and make it again with another seed if it doesn't read.");
}

void ThemeRun::writeChecklist() const {
    // A kept tower faces the way theme.json says; one made now, the way it was made.
    FacesTargetMap facing = towersListed_;
    for (const auto& [tower, faces] : towersFacing_) facing[tower] = faces;
    std::vector<ThemeSlot> slots = job_.Slots;
    for (const ThemeSubject& subject : job_.Subjects)
        if (!HasOwnModelSlot(subject, job_.Slots)) slots.push_back(ChecklistModelSlot(subject, facing));
    vorlane::writeChecklist(slots, job_.Folder, job_.Style, joinPath(job_.Folder, kChecklistName), job_.GroundStyle);
}

void ThemeRun::reportProgress() const {
    if (!reporter_.progress || total_ <= 0) return;
    double making = 0;
    for (double weight : making_) making += weight;
    reporter_.progress((done_ + making) / total_);
}

// Each server's ComfyUI is checked; one that doesn't answer or lacks model
// files is left out. With one server the check's own lines say why nothing
// is made.
bool ThemeRun::checkServers(std::wstring& comfyVersion) {
    const std::vector<std::wstring> given = ComfyAddresses(job_.ComfyAddress);
    // Several servers are asked side by side; each one's lines are written
    // together, in the order the servers were given.
    struct Check {
        std::vector<std::wstring> lines, missing;
        std::wstring version;
        bool answered = false;
    };
    std::vector<Check> checks(given.size());
    runSideBySide(given.size(), [&](size_t i) {
        Check& check = checks[i];
        const ReportSink sink = given.size() == 1 ? ReportSink(reporter_.log)
                                                  : ReportSink([&](const std::wstring& line) { check.lines.push_back(line); });
        check.answered = CheckComfy(given[i], job_.Kinds, sink, check.missing, &check.version);
    });
    for (size_t i = 0; i < given.size(); ++i) {
        const std::wstring& address = given[i];
        const std::vector<std::wstring>& missing = checks[i].missing;
        const std::wstring& version = checks[i].version;
        for (const std::wstring& line : checks[i].lines) log(line);
        if (!checks[i].answered) {
            if (given.size() > 1) log(L"Leaving " + address + L" out: it isn't answering.");
            continue;
        }
        if (!missing.empty()) {
            log(given.size() > 1 ? L"Leaving " + address + L" out: it needs those files first."
                                 : L"Nothing was made: ComfyUI needs those files first.");
            continue;
        }
        if (servers_.empty()) comfyVersion = version;
        servers_.push_back(address);
    }
    if (servers_.empty() && given.size() > 1)
        log(L"Nothing was made: none of the ComfyUI servers is ready (each needs to answer and have every model "
            L"file).");
    if (given.size() > 1 && servers_.size() > 1) {
        std::wstring names;
        for (const std::wstring& address : servers_) names += (names.empty() ? L"" : L", ") + address;
        log(L"Making with " + std::to_wstring(servers_.size()) + L" ComfyUI servers side by side: " + names + L".");
    }
    return !servers_.empty();
}

// One server's worker: takes the next file waiting, makes it (its retries and
// shard tries on this server too), and writes its lines together when it
// ends. With one server the lines go out as they come.
void ThemeRun::serve(size_t server) {
    const bool alone = servers_.size() == 1;
    const std::wstring on = alone ? L"" : L" on " + servers_[server];
    for (;;) {
        size_t index = 0;
        {
            // A worker with nothing to take waits while another makes a
            // file: that file comes back if its server stops answering.
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return stopped_ || noServerLeft_ || !waiting_.empty() || busy_ == 0; });
            if (stopped_ || noServerLeft_ || waiting_.empty()) return;
            if (reporter_.stopRequested()) {
                stopped_ = true;
                wake_.notify_all();
                return;
            }
            index = waiting_.front();
            waiting_.pop_front();
            ++busy_;
        }
        ThemeFile& file = list_[index];  // one worker at a time has it
        std::vector<std::wstring> lines;
        Maker maker;
        maker.server = server;
        maker.say = [&](const std::wstring& line) {
            if (!alone) return lines.push_back(line);
            std::lock_guard<std::mutex> hold(lock_);
            log(line);
        };
        maker.say(L"Making " + file.File + (file.Type == ModelOutput ? L" (" + file.Label + L")" : L"") + on + L"...");
        const ULONGLONG started = GetTickCount64();
        std::wstring note;
        const int status = makeFile(maker, file, note);
        if (status == RunMade && file.Type == ModelOutput) mendShards(maker, file, note);

        std::lock_guard<std::mutex> hold(lock_);
        making_[server] = 0;
        --busy_;
        wake_.notify_all();
        const auto flush = [&] {
            for (const std::wstring& line : lines) log(line);
            lines.clear();
        };
        if (status == RunNotAnswering && !alone) {
            answering_[server] = false;
            const bool another = std::find(answering_.begin(), answering_.end(), true) != answering_.end();
            if (another) {
                // Another server makes it: the file goes back first in the list.
                waiting_.push_front(index);
                lines.push_back(L"  " + file.File + L" wasn't made: " + note + L" " + servers_[server] +
                                L" is left out for the rest of the run; another server makes the file.");
                flush();
                reportProgress();
                return;
            }
        }
        done_ += weightOf(file.Type);
        reportProgress();
        if (status == RunMade) {
            ++counts_.Made;
            lines.push_back(L"  made in " + std::to_wstring((GetTickCount64() - started + 500) / 1000) + L" s." +
                      (note.empty() ? L"" : L" " + note));
            flush();
            if (reporter_.made) reporter_.made(file.File, file.Path);
            continue;
        }
        lines.push_back(L"  " + file.File + L" wasn't made: " + note);
        flush();
        if (status == RunStopped) {
            stopped_ = true;
            return;
        }
        ++counts_.Failed;
        if (status == RunNotAnswering) {
            noServerLeft_ = true;
            log(L"Stopped there: without ComfyUI the rest can't be made. Start it again, then Create again to make "
                L"what's missing.");
            return;
        }
    }
}

bool ThemeRun::run() {
    log(L"Making the theme \"" + job_.Name + L"\" (" + job_.FolderName + L", on " + job_.Base + L") in " + job_.Folder +
        L".");
    log(LightingLine(job_));
    std::wstring comfyVersion;
    if (!checkServers(comfyVersion)) return false;
    listPictures();
    listSounds();
    listModels();

    if (!makeFolderTree(job_.Folder) || !WriteThemeJson(job_, comfyVersion, counts_, towersFacing_, reporter_.log)) {
        log(L"Couldn't write theme.json in " + job_.Folder + L", so nothing was made.");
        return false;
    }
    for (const ThemeFile& file : list_) total_ += weightOf(file.Type);
    clientId_ = NewClientId();
    if (list_.empty())
        log(L"Everything asked for is already there.");
    else
        log(L"Making " + std::to_wstring(list_.size()) + L" file(s)" +
            (has(Models) ? L" (3D models take a minute or more each)." : L"."));

    for (size_t i = 0; i < list_.size(); ++i) waiting_.push_back(i);
    // Several servers begin with the heaviest files (3D models, then music),
    // so a long one doesn't start last while the others stand idle; with one
    // the list keeps its order.
    if (servers_.size() > 1)
        std::stable_sort(waiting_.begin(), waiting_.end(),
                         [&](size_t a, size_t b) { return weightOf(list_[a].Type) > weightOf(list_[b].Type); });
    making_.assign(servers_.size(), 0);
    answering_.assign(servers_.size(), true);
    // Only ComfyUI's calls run on the servers' workers; the files' lines and
    // counts are taken under the lock. Every ready server has a worker, even
    // with fewer files than servers: an idle one takes the file of a server
    // that stops answering.
    runSideBySide(servers_.size(), [this](size_t server) { serve(server); });
    const bool stopped = stopped_;
    if (stopped) log(L"Stopped. What's made is kept: Create again makes what's missing.");
    // A file still on the making list when the workers have ended was made by
    // no one: it counts as failed, by name. (A stop, or the last server lost,
    // has already said why the rest wasn't made.)
    if (!stopped && !noServerLeft_)
        for (size_t index : waiting_) {
            log(L"  " + list_[index].File + L" wasn't made: no ComfyUI server was left to make it.");
            ++counts_.Failed;
        }

    writeChecklist();
    counts_.Complete = !stopped && counts_.Failed == 0;
    const bool everyFile = counts_.Complete;
    if (!WriteThemeJson(job_, comfyVersion, counts_, towersFacing_, reporter_.log)) {
        log(L"Couldn't write theme.json in " + job_.Folder + L".");
        counts_.Complete = false;
    }
    std::wstring verdict = L"Create again to make what's missing (what's there is kept).";
    if (counts_.Complete)
        verdict = L"The theme is ready: the game finds it the next time it starts.";
    else if (everyFile)
        verdict = L"Every file is there, but theme.json couldn't be written: Create again writes it.";
    log(L"Made " + std::to_wstring(counts_.Made) + L", kept " + std::to_wstring(counts_.Kept) + L", failed " +
        std::to_wstring(counts_.Failed) + L". " + verdict);
    return counts_.Complete;
}

}  // namespace

bool RunThemeJob(const ThemeJob& job, const ThemeJobReporter& reporter) { return ThemeRun(job, reporter).run(); }

}  // namespace vorlane
