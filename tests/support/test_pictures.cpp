#include "support/test_pictures.h"

#include <windows.h>

#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <vector>

#include "core/handles.h"

namespace vorlane::testing {

std::string pngOf(int width, int height) {
    ComApartment com;
    std::vector<BYTE> pixels(size_t(width) * size_t(height) * 4);
    const int border = std::min(width, height) / 10;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            BYTE* pixel = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
            const bool inside = x >= border && y >= border && x < width - border && y < height - border;
            pixel[0] = BYTE(255 * x / width);
            pixel[1] = BYTE(255 * y / height);
            pixel[2] = 200;
            pixel[3] = inside ? 255 : 0;
        }
    }
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.putVoid())) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.put(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(UINT(width), UINT(height))) || FAILED(frame->SetPixelFormat(&format)) ||
        format != GUID_WICPixelFormat32bppBGRA ||
        FAILED(frame->WritePixels(UINT(height), UINT(width) * 4, UINT(pixels.size()), pixels.data())) ||
        FAILED(frame->Commit()) || FAILED(encoder->Commit()))
        return {};
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return {};
    std::string bytes(size_t(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER start{};
    ULONG read = 0;
    if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) ||
        FAILED(stream->Read(bytes.data(), ULONG(bytes.size()), &read)) || read != bytes.size())
        return {};
    return bytes;
}

}  // namespace vorlane::testing
