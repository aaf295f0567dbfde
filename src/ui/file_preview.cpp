#include "ui/file_preview.h"

#include <windows.h>

#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "media/audio_levels.h"
#include "media/audio_text.h"
#include "media/flac_decoder.h"
#include "media/glb_model.h"
#include "media/wav_file.h"

namespace vorlane {

namespace {

// The biggest file a preview reads whole (a 4096 x 4096 picture or ten minutes of music fit well below it).
constexpr uint64_t kLargestPreviewed = 512ull << 20;

std::wstring sizeText(uint64_t bytes) {
    if (bytes < 1024 * 1024) return std::to_wstring((bytes + 1023) / 1024) + L" KB";
    return FormatText(L"%.1f MB", bytes / 1048576.0);
}

std::wstring dbfsText(double level) {
    if (!(level > 0)) return L"silent";
    return FormatText(L"%.1f dBFS", 20 * std::log10(level));
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

bool readSound(const std::wstring& path, const std::string& bytes, AudioBuffer& audio) {
    if (endsWithIgnoringCase(path, L".flac")) return DecodeFlac(bytes, audio).empty();
    return ReadWav(bytes, audio);
}

void measureSound(const AudioBuffer& audio, int columns, FilePreview& preview) {
    preview.wave = WaveformColumns(audio, columns);
    preview.seconds = audio.seconds();
    preview.lines.push_back(SecondsText(audio.seconds()) + L", " + std::to_wstring(audio.rate) + L" Hz, " +
                            (audio.channels == 1 ? L"mono" : audio.channels == 2 ? L"stereo"
                                                                                 : std::to_wstring(audio.channels) + L" channels") +
                            L".");
    preview.lines.push_back(L"Peak " + dbfsText(PeakOf(audio)) + L", loudness " + dbfsText(RootMeanSquareOf(audio)) + L".");
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
    if (uint64_t(size) > kLargestPreviewed) {
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
        if (decodePicture(bytes, boxWidth, boxHeight, preview)) preview.kind = PreviewKind::Picture;
        else preview.lines = {L"This picture doesn't decode: it's damaged or not in a format the system reads."};
    } else if (sound) {
        AudioBuffer audio;
        if (readSound(path, bytes, audio) && audio.frames() > 0) {
            preview.kind = PreviewKind::Sound;
            measureSound(audio, boxWidth, preview);
            if (!endsWithIgnoringCase(path, L".flac")) preview.sound = std::move(bytes);
        } else {
            preview.lines.push_back(L"This sound doesn't read: it's damaged, cut short or not a WAV or FLAC file.");
        }
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
