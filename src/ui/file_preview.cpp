#include "ui/file_preview.h"

#include <windows.h>

#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "media/audio_text.h"
#include "media/flac_decoder.h"
#include "media/glb_model.h"
#include "media/wav_file.h"

namespace vorlane {

namespace {

// What one preview may hold at once: the bytes it reads, what they decode to and
// the copy it keeps for Play. A 4096 x 4096 picture fits; a sound longer than
// fits is read a block at a time, so its length doesn't count.
constexpr uint64_t kPreviewBudget = 64ull << 20;
// A WAV up to this size is kept for Play; a longer one plays from its file.
constexpr uint64_t kKeptForPlay = 32ull << 20;
// The blocks a sound is read in, and the most of a file's start read to learn
// a picture's or a FLAC's size.
constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kHeadBytes = 256 << 10;

std::wstring sizeText(uint64_t bytes) {
    if (bytes < 1024 * 1024) return std::to_wstring((bytes + 1023) / 1024) + L" KB";
    return FormatText(L"%.1f MB", bytes / 1048576.0);
}

std::wstring dbfsText(double level) {
    if (!(level > 0)) return L"silent";
    return FormatText(L"%.1f dBFS", 20 * std::log10(level));
}

// The first bytes of a file, at most `most`; empty when it can't be read.
std::string headOf(const std::wstring& path, size_t most) {
    std::string head;
    readFileInBlocks(path, most, [&](const unsigned char* bytes, size_t size) {
        head.assign(reinterpret_cast<const char*>(bytes), size);
        return false;
    });
    return head;
}

bool pictureFits(uint64_t width, uint64_t height) { return width * height * 4 <= kPreviewBudget; }

std::wstring tooBigPicture(uint64_t width, uint64_t height, uint64_t bytes) {
    return std::to_wstring(width) + L" x " + std::to_wstring(height) + L" pixels, " + sizeText(bytes) +
           L": too big to preview.";
}

std::wstring channelsText(int channels) {
    return channels == 1 ? L"mono" : channels == 2 ? L"stereo" : std::to_wstring(channels) + L" channels";
}

// The picture decoded by the system's imaging component and scaled to fit the box; false when it doesn't decode.
bool decodePicture(const std::string& bytes, int boxWidth, int boxHeight, FilePreview& preview) {
    ComApartment com;  // the job runner's thread has one already; this keeps the call whole on any thread
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.putVoid())))
        return false;
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                            static_cast<DWORD>(bytes.size()))))
        return false;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&width, &height)) || width == 0 ||
        height == 0)
        return false;
    if (!pictureFits(width, height)) {
        preview.lines.push_back(tooBigPicture(width, height, bytes.size()));
        return false;
    }
    // One scale for both sides, never above 1: small icons keep their pixels.
    const double scale = std::min({1.0, double(boxWidth) / width, double(boxHeight) / height});
    const UINT shownWidth = std::max(1u, UINT(width * scale)), shownHeight = std::max(1u, UINT(height * scale));
    ComPtr<IWICBitmapScaler> scaler;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateBitmapScaler(scaler.put())) ||
        FAILED(scaler->Initialize(frame.get(), shownWidth, shownHeight, WICBitmapInterpolationModeFant)) ||
        FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(scaler.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0, WICBitmapPaletteTypeCustom)))
        return false;
    preview.pixels.resize(size_t(shownWidth) * shownHeight * 4);
    if (FAILED(converter->CopyPixels(nullptr, shownWidth * 4, static_cast<UINT>(preview.pixels.size()),
                                     preview.pixels.data())))
        return false;
    preview.width = int(shownWidth);
    preview.height = int(shownHeight);
    preview.lines.push_back(std::to_wstring(width) + L" x " + std::to_wstring(height) + L" pixels, " +
                            sizeText(bytes.size()) + L".");
    return true;
}

void measureSound(SoundOutline& outline, int rate, int channels, uint64_t frames, FilePreview& preview) {
    preview.wave = outline.columns();
    preview.seconds = rate > 0 ? double(frames) / rate : 0;
    preview.lines.push_back(SecondsText(preview.seconds) + L", " + std::to_wstring(rate) + L" Hz, " +
                            channelsText(channels) + L".");
    preview.lines.push_back(L"Peak " + dbfsText(outline.peak()) + L", loudness " + dbfsText(outline.rootMeanSquare()) +
                            L".");
}

const wchar_t kSoundDoesntRead[] = L"This sound doesn't read: it's damaged, cut short or not a WAV or FLAC file.";

// A WAV read a block at a time into its outline and measures; kept for Play
// when it is short, else Play plays its file.
void previewWav(const std::wstring& path, uint64_t size, int columns, const JobControl& job, FilePreview& preview) {
    std::optional<SoundOutline> outline;
    int rate = 0, channels = 0;
    uint64_t frames = 0;
    const bool keep = size <= kKeptForPlay;
    auto kept = std::make_shared<std::string>();
    WavStream stream(
        size,
        [&](int r, int c, uint64_t f) {
            rate = r, channels = c, frames = f;
            outline.emplace(f, c, columns);
        },
        [&](const float* samples, size_t count) { outline->add(samples, count); });
    const bool read = readFileInBlocks(path, kReadBlock, [&](const unsigned char* bytes, size_t count) {
        if (job.stopRequested()) return false;
        if (keep) kept->append(reinterpret_cast<const char*>(bytes), count);
        return stream.add(bytes, count);
    });
    if (job.stopRequested()) return;
    if (!read || !stream.complete() || frames == 0) {
        preview.lines.push_back(kSoundDoesntRead);
        return;
    }
    preview.kind = PreviewKind::Sound;
    measureSound(*outline, rate, channels, frames, preview);
    preview.playable = true;
    if (keep) preview.sound = std::move(kept);
}

// A FLAC is decoded whole, so one longer than the budget holds isn't.
void previewFlac(const std::wstring& path, uint64_t size, int columns, FilePreview& preview) {
    FlacLength length;
    if (ReadFlacLength(headOf(path, kHeadBytes), length) && length.rate > 0) {
        // Samples as floats; without a stated length, about what the file's size decodes to.
        const uint64_t decoded = length.frames ? length.frames * uint64_t(length.channels) * 4 : size * 4;
        if (size + decoded > kPreviewBudget) {
            preview.lines.push_back(
                (length.frames ? SecondsText(double(length.frames) / length.rate) + L", " : std::wstring()) +
                std::to_wstring(length.rate) + L" Hz, " + channelsText(length.channels) + L", " + sizeText(size) +
                L": too long to preview.");
            return;
        }
    }
    std::string bytes;
    AudioBuffer audio;
    if (!readWholeFile(path, bytes) || !DecodeFlac(bytes, audio).empty() || audio.frames() == 0) {
        preview.lines.push_back(kSoundDoesntRead);
        return;
    }
    bytes = {};
    SoundOutline outline(audio.frames(), audio.channels, columns);
    outline.add(audio.samples.data(), audio.samples.size());
    preview.kind = PreviewKind::Sound;
    measureSound(outline, audio.rate, audio.channels, audio.frames(), preview);
}

void measureModel(const std::string& bytes, int boxWidth, int boxHeight, FilePreview& preview) {
    preview.model = MeasureModel(bytes, boxWidth, boxHeight);
    const ModelShape& shape = preview.model;
    preview.lines.push_back(std::to_wstring(shape.triangles) + L" triangles, " +
                            FormatText(L"%.3g x %.3g x %.3g", shape.high[0] - shape.low[0],
                                       shape.high[1] - shape.low[1], shape.high[2] - shape.low[2]) +
                            L" (width x height x depth).");
    preview.lines.push_back(shape.shardScore >= 0 ? L"Shards: " + ShardScoreText(shape.shardScore) +
                                                        (IsInShards(shape.shardScore) ? L" (in shards)." : L".")
                                                  : std::wstring(L"Shards: can't be measured."));
}

}  // namespace

FilePreview missingFilePreview(const std::wstring& path, const std::wstring& format) {
    FilePreview preview;
    preview.path = path;
    preview.lines.push_back(L"Not there yet: the slot asks for " + format + L".");
    return preview;
}

FilePreview makeFilePreview(const std::wstring& path, int boxWidth, int boxHeight, const JobControl& job) {
    FilePreview preview;
    preview.path = path;
    long long size = 0;
    if (!fileSize(path, size)) {
        preview.lines.push_back(L"Couldn't read the file.");
        return preview;
    }
    const bool picture = endsWithIgnoringCase(path, L".png") || endsWithIgnoringCase(path, L".jpg") ||
                         endsWithIgnoringCase(path, L".jpeg") || endsWithIgnoringCase(path, L".bmp") ||
                         endsWithIgnoringCase(path, L".gif") || endsWithIgnoringCase(path, L".tif") ||
                         endsWithIgnoringCase(path, L".tiff");
    const bool sound = endsWithIgnoringCase(path, L".wav") || endsWithIgnoringCase(path, L".flac");
    const bool model = endsWithIgnoringCase(path, L".glb");
    if (!picture && !sound && !model) {
        preview.lines.push_back(sizeText(uint64_t(size)) + L"; this kind of file has no preview.");
        return preview;
    }
    if (sound) {
        if (endsWithIgnoringCase(path, L".flac"))
            previewFlac(path, uint64_t(size), boxWidth, preview);
        else
            previewWav(path, uint64_t(size), boxWidth, job, preview);
        return preview;
    }
    // A picture whose first bytes say it is too big is never decoded.
    uint32_t width = 0, height = 0;
    if (picture && PictureSizeOf(headOf(path, kHeadBytes), width, height) && !pictureFits(width, height)) {
        preview.lines.push_back(tooBigPicture(width, height, uint64_t(size)));
        return preview;
    }
    if (uint64_t(size) > kPreviewBudget) {
        preview.lines.push_back(sizeText(uint64_t(size)) + L": too big to preview.");
        return preview;
    }
    // Read whole and let go at once: nothing below holds the file.
    std::string bytes;
    if (!readWholeFile(path, bytes)) {
        preview.lines.push_back(L"Couldn't read the file.");
        return preview;
    }
    if (job.stopRequested()) return preview;
    if (picture) {
        if (decodePicture(bytes, boxWidth, boxHeight, preview))
            preview.kind = PreviewKind::Picture;
        else if (preview.lines.empty())
            preview.lines = {L"This picture doesn't decode: it's damaged or not in a format the system reads."};
    } else {
        measureModel(bytes, boxWidth, boxHeight, preview);
        if (preview.model.triangles > 0) {
            preview.kind = PreviewKind::Model;
        } else {
            preview.lines = {preview.model.read ? L"This model has no triangles to show."
                                                : L"This model doesn't read: it's damaged or not a GLB file."};
        }
    }
    return preview;
}

}  // namespace vorlane
