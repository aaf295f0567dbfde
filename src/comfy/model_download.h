// Downloading the model files a ComfyUI on this PC lacks from the Hugging Face
// hub, straight into its models folders: asked first, with each disk's free
// space checked, interrupted files carried on, expired download addresses
// asked for again, and sizes and fingerprints checked before a file is put in
// place.
#pragma once

#include <functional>
#include <string>

#include "comfy/comfy_check.h"
#include "core/job.h"

namespace vorlane {

// Where the hub keeps one file, and what it should be.
struct ResolvedFile {
    std::wstring url;     // the address to download from
    long long size = -1;  // bytes; -1 when the hub didn't say
    std::wstring sha256;  // 64 lower-case hex digits; empty when the hub gave none
};

// Asks the hub (its base address, no trailing "/") where a row's file is, with
// HEAD requests that don't follow redirects: at most four, following the hub's
// redirects within itself. The error sentence, empty on success.
std::wstring resolveModelFile(const std::wstring& hubBase, const ModelFile& row, ResolvedFile& resolved);

// A model file's size for the player: "999 MB" below 10^9 bytes (decimal MB,
// rounded), "1.00 GB" from there on.
std::wstring sizeText(long long bytes);

// What a download tells its caller and asks of it.
struct ModelDownloadReporter {
    ReportSink report;                                    // one line for the log or the window
    std::function<bool(const std::wstring& question)> ask;  // empty: yes
    JobControl control;  // the fraction done with the file's download in words, and the stop request
    // Asked when a stop ends the download: true when the stop is a pause, which
    // the caller words itself, so the "Stopped." line is left out. Empty: never.
    std::function<bool()> pausing;
};

// Downloads the files ComfyUI at comfyAddress lacks for `kinds` from the hub
// at hubBase. True when, afterwards, ComfyUI has every file `kinds` needs.
bool getModels(const std::wstring& comfyAddress, unsigned kinds, const ModelDownloadReporter& reporter,
               const std::wstring& hubBase = kHuggingFaceHub);

}  // namespace vorlane
