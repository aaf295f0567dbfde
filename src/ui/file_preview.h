// What the theme files window shows of a slot's file: a picture fitted into
// the preview's box, a sound's outline and measures, a 3D model's size and
// silhouette, or one line saying why there is nothing to see. Made on a
// worker within a small memory budget: a sound is read a block at a time, a
// picture or model whole once its size is known to fit, and no file is held
// open once the preview is made (the next Create may replace it). A file too
// big or too long for the budget says so.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/job.h"
#include "media/preview_measures.h"

namespace vorlane {

enum class PreviewKind { Nothing, Picture, Sound, Model };

struct FilePreview {
    std::wstring path;               // the file it was made from
    PreviewKind kind = PreviewKind::Nothing;
    std::vector<std::wstring> lines;  // the words shown under it
    // A picture fitted into the box without stretching: 32-bit top-down BGRA, premultiplied.
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    std::vector<WaveColumn> wave;  // a sound's outline, a column a pixel
    ModelShape model;
    // Play plays a sound: from its WAV bytes kept here when it is short (shared
    // with whoever plays them, so they outlive this preview), else from its file.
    bool playable = false;
    std::shared_ptr<const std::string> sound;
    double seconds = 0;  // a sound's length
};

// The preview of `path` for a box of boxWidth x boxHeight device pixels.
FilePreview makeFilePreview(const std::wstring& path, int boxWidth, int boxHeight, const JobControl& job);

// What is shown for a slot whose file isn't there: what the slot asks for.
FilePreview missingFilePreview(const std::wstring& path, const std::wstring& format);

}  // namespace vorlane
