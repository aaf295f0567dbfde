#include "comfy/model_download.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/failure.h"
#include "core/files.h"
#include "core/text.h"
#include "core/transfer_meter.h"
#include "net/http_client.h"
#include "net/sha256.h"

namespace vorlane {

namespace {

const wchar_t kHubLabel[] = L"Hugging Face";
const int kMostHeads = 4;
const int kTries = 3;

std::wstring wide(const char* text) { return toUtf16(text); }

std::wstring pageOf(const std::wstring& hubBase, const ModelFile& row) {
    return hubBase + L"/" + wide(row.repository);
}

// A size header: plain decimal digits, else unknown.
long long sizeFrom(const std::wstring& header) {
    long long value = -1;
    if (header.empty() || !parseSigned64(header, value) || value < 0 || header[0] == L'-' || header[0] == L'+')
        return -1;
    return value;
}

// The hub's linked ETag is the file's SHA-256 in double quotes; anything else
// (a git blob's SHA-1, a weak tag) gives no fingerprint.
std::wstring fingerprintFrom(const std::wstring& etag) {
    std::wstring digits;
    for (wchar_t c : etag)
        if (c != L'"') digits += c;
    if (digits.size() != 64) return {};
    for (wchar_t c : digits)
        if (!iswxdigit(c)) return {};
    return lowerCase(digits);
}

// One missing file on its way from the hub to its folder.
struct PlannedFile {
    const ModelFile* row;
    std::wstring folder;
    std::wstring target;
    std::wstring part;
    std::wstring display;  // models\folder\file
    ResolvedFile resolved;
};

long long knownSize(const PlannedFile& file) { return std::max(file.resolved.size, 0LL); }

long long partSizeOf(const PlannedFile& file) {
    long long size = 0;
    return fileSize(file.part, size) ? size : 0;
}

// The disk a folder lies on, as the system names its root ("C:\").
std::wstring volumeOf(const std::wstring& folder) {
    wchar_t volume[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1) && volume[0]) return volume;
    return folder.substr(0, std::min<size_t>(folder.size(), 3));
}

struct DiskNeed {
    std::wstring volume;
    long long bytes = 0;
};

// Checks a downloaded ".part" against what the hub said and puts it in place.
// The error sentence, empty when the file is in place.
std::wstring finish(const PlannedFile& file, const ReportSink& report) {
    if (file.resolved.size >= 0) {
        long long actual = 0;
        if (!fileSize(file.part, actual) || actual < file.resolved.size) return L"It came up short.";
        if (actual > file.resolved.size) {
            DeleteFileW(longPath(file.part).c_str());
            return L"It came out bigger than Hugging Face says it is, so it's thrown away.";
        }
    }
    if (!file.resolved.sha256.empty()) {
        report(L"  Checking it...");
        std::wstring computed;
        // Never put in place what couldn't be checked.
        if (!sha256File(file.part, computed)) return L"Couldn't read it back to check it.";
        if (!sameFingerprint(computed, file.resolved.sha256)) {
            DeleteFileW(longPath(file.part).c_str());
            return L"It didn't match Hugging Face's fingerprint for it, so it's thrown away.";
        }
    }
    // What is put in place is on the disk first, so that a power cut can't leave a hollow model file.
    if (!flushFile(file.part)) return systemFailure(L"Couldn't put it in place as " + file.target + L".").text();
    if (!MoveFileExW(longPath(file.part).c_str(), longPath(file.target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return systemFailure(L"Couldn't put it in place as " + file.target + L".").text();
    return {};
}

}  // namespace

std::wstring sizeText(long long bytes) {
    wchar_t text[64];
    // Below what rounds to 1 MB, in KB, so that a small file isn't "0 MB".
    if (bytes < 999500)
        swprintf(text, 64, L"%lld KB", (bytes + 500) / 1000);
    else if (bytes < 1000000000LL)
        swprintf(text, 64, L"%lld MB", (bytes + 500000) / 1000000);
    else
        swprintf(text, 64, L"%.2f GB", bytes / 1e9);
    return text;
}

std::wstring resolveModelFile(const std::wstring& hubBase, const ModelFile& row, ResolvedFile& resolved) {
    resolved = ResolvedFile{};
    std::wstring url = hubBase + L"/" + wide(row.repository) + L"/resolve/main/" + wide(row.pathInRepository);
    for (int hops = 0;;) {
        const HttpResult answer = head(url, {L"Location", L"X-Linked-Size", L"X-Linked-Etag", L"Content-Length"});
        if (!answer.error.empty()) return answer.error;
        const std::wstring& location = answer.headers[0];
        const std::wstring& linkedSize = answer.headers[1];
        const std::wstring& linkedEtag = answer.headers[2];
        const unsigned status = answer.status;
        if (status == 401 || status == 403)
            return L"Hugging Face wants a sign-in for it: get it from its page, " + pageOf(hubBase, row);
        if (status == 404) return L"Hugging Face hasn't it there any more: look on its page, " + pageOf(hubBase, row);
        if (status >= 300 && status <= 399 && !location.empty()) {
            const bool withinHub = location[0] == L'/';
            if (withinHub && linkedSize.empty() && linkedEtag.empty()) {
                url = hubBase + location;
                if (++hops < kMostHeads) continue;
                return L"Hugging Face kept sending it elsewhere.";
            }
            resolved.url = withinHub ? hubBase + location : location;
        } else if (status == 200) {
            resolved.url = url;
        } else {
            return L"Hugging Face answered " + std::to_wstring(status) + L".";
        }
        if (!linkedSize.empty())
            resolved.size = sizeFrom(linkedSize);
        else if (status == 200)
            resolved.size = sizeFrom(answer.headers[3]);
        resolved.sha256 = fingerprintFrom(linkedEtag);
        return {};
    }
}

bool getModels(const std::wstring& comfyAddress, unsigned kinds, const ModelDownloadReporter& reporter,
               const std::wstring& hubBase) {
    const ReportSink& report = reporter.report;
    const JobControl& control = reporter.control;
    std::vector<std::wstring> missing;
    std::vector<const ModelFile*> rows;
    if (!CheckComfy(comfyAddress, kinds, report, missing, nullptr, &rows, hubBase)) return false;
    if (rows.empty()) return true;
    if (!isLoopbackUrl(comfyAddress)) {
        report(L"Download models puts them in ComfyUI's own models folder, so it needs the ComfyUI on this PC. "
               L"On the PC ComfyUI runs on, get each from its page above.");
        return false;
    }

    // Everything is resolved and measured before anything is asked.
    const std::map<std::string, std::wstring> folders = FindModelFolders(comfyAddress);
    std::vector<PlannedFile> files;
    std::vector<DiskNeed> needs;
    std::vector<std::wstring> pages;
    std::wstring list;
    long long total = 0, hereAlready = 0;
    for (const ModelFile* row : rows) {
        const auto folder = folders.find(row->folder);
        if (folder == folders.end() || folder->second.empty()) {
            report(L"ComfyUI didn't say where it keeps its " + wide(row->folder) +
                   L" models (update ComfyUI, or get each from its page above).");
            return false;
        }
        if (control.stopRequested()) return false;
        PlannedFile file{row, folder->second, joinPath(folder->second, wide(row->file)), L"",
                         L"models\\" + wide(row->folder) + L"\\" + wide(row->file), {}};
        file.part = file.target + L".part";
        const std::wstring error = resolveModelFile(hubBase, *row, file.resolved);
        if (!error.empty()) {
            report(L"Couldn't find " + wide(row->file) + L" on Hugging Face: " + error);
            return false;
        }
        const long long size = knownSize(file);
        const long long part = std::min(partSizeOf(file), size);
        total += size;
        hereAlready += part;
        const std::wstring volume = volumeOf(file.folder);
        auto disk = std::find_if(needs.begin(), needs.end(),
                                 [&](const DiskNeed& need) { return equalsIgnoringCase(need.volume, volume); });
        if (disk == needs.end()) disk = needs.insert(needs.end(), DiskNeed{volume, 0});
        disk->bytes += std::max(size - part, 0LL);
        list += L"\n  " + wide(row->file) + (file.resolved.size >= 0 ? L" (" + sizeText(size) + L")" : L"");
        const std::wstring page = pageOf(hubBase, *row);
        if (std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
        files.push_back(std::move(file));
    }

    for (const DiskNeed& need : needs) {
        ULARGE_INTEGER available{};
        if (need.bytes <= 0 || !GetDiskFreeSpaceExW(need.volume.c_str(), &available, nullptr, nullptr)) continue;
        if ((unsigned long long)need.bytes > available.QuadPart) {
            report(L"That needs " + sizeText(need.bytes) + L" free on " + need.volume + L", and it has " +
                   sizeText((long long)available.QuadPart) + L". Make room, then Download models again.");
            return false;
        }
    }

    const std::wstring count = std::to_wstring(files.size());
    std::wstring question = L"Download " + count + L" model file(s), " + sizeText(total - hereAlready);
    if (hereAlready > 0) question += L" (" + sizeText(hereAlready) + L" of " + sizeText(total) + L" is here already)";
    question += L", from Hugging Face into ComfyUI's models folder (" + parentFolder(files.front().folder) + L")?\n" +
                list + L"\n\nWhose each is, and its licence, is on its page:";
    for (const std::wstring& page : pages) question += L"\n  " + page;
    if (reporter.ask && !reporter.ask(question)) {
        report(L"Nothing downloaded.");
        return false;
    }

    const auto reportStopped = [&] {
        if (!reporter.pausing || !reporter.pausing())
            report(L"Stopped. What's downloaded so far is kept: Download models carries on from there.");
    };
    report(L"Downloading " + count + L" model file(s) from Hugging Face, " + sizeText(total - hereAlready) +
           L" in all.");
    bool allWell = true;
    long long earlier = 0;  // the bytes of the files before this one
    for (PlannedFile& file : files) {
        // A stop between files, too: a file already complete is never asked for again.
        if (control.stopRequested()) {
            reportStopped();
            return false;
        }
        makeFolderTree(file.folder);
        const long long part = partSizeOf(file);
        report(L"Downloading " + file.display +
               (file.resolved.size >= 0 ? L" (" + sizeText(file.resolved.size) + L")" : L"") +
               (part > 0 ? L", carrying on from " + sizeText(part) : L"") + L"...");
        // Model files are counted in thousands, as the question counted them.
        TransferMeter meter(part, 1000);
        auto onProgress = [&](long long done, long long expected) {
            // Never past this file's share, even when more comes than was announced.
            if (file.resolved.size >= 0) done = std::min(done, file.resolved.size);
            if (file.resolved.size >= 0) expected = file.resolved.size;
            control.progress(total < 1 ? 0 : std::min(1.0, double(earlier + done) / double(total)),
                             L"Downloading " + file.display + L"... " + meter.update(done, expected));
            return !control.stopRequested();
        };
        std::wstring error;
        for (int attempt = 1; attempt <= kTries; ++attempt) {
            // The hub's download addresses expire: each later try asks for a new one.
            if (attempt > 1) {
                error = resolveModelFile(hubBase, *file.row, file.resolved);
                if (!error.empty()) break;
            }
            error = download(file.resolved.url, nullptr, file.part, onProgress, -1, true, kHubLabel).error;
            if (error.empty()) break;
            if (control.stopRequested()) {
                reportStopped();
                return false;
            }
            if (attempt < kTries) report(L"  " + error + L" Carrying on from where it stopped...");
        }
        if (error.empty()) error = finish(file, report);
        if (!error.empty()) {
            allWell = false;
            report(L"Couldn't download " + file.display + L": " + error +
                   (fileExists(file.part) ? L" What's downloaded so far is kept for next time." : L""));
        } else {
            report(L"  Got it: " + file.display);
        }
        earlier += knownSize(file);
    }

    control.progress(1, L"");
    std::vector<std::wstring> stillMissing;
    return CheckComfy(comfyAddress, kinds, report, stillMissing, nullptr, nullptr, hubBase) && stillMissing.empty() && allWell;
}

}  // namespace vorlane
