#include "comfy/picture_graph.h"

#include <algorithm>
#include <cmath>

namespace vorlane {

namespace {

using G = WorkflowGraph;

constexpr int kLongestSide = 4096;
constexpr double kSmallSide = 1024;        // smaller pictures are made this big on their long side
constexpr double kMostPixels = 2'100'000;  // and no picture bigger than this
constexpr int kStep = 16;                  // Z-Image's sizes are multiples of this

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The run of digits at `at` (moved past it), saturating far above any usable size.
long long readDigits(const std::wstring& text, size_t& at) {
    long long number = 0;
    for (; at < text.size() && isDigit(text[at]); ++at) number = std::min(number * 10 + (text[at] - L'0'), 1'000'000LL);
    return number;
}

void skipBlanks(const std::wstring& text, size_t& at) {
    while (at < text.size() && text[at] == L' ') ++at;
}

// The first "W x H" whose W isn't 0, as two numbers; false when there is none.
bool findSize(const std::wstring& text, long long& width, long long& height) {
    for (size_t at = 0; at < text.size(); ++at) {
        if (!isDigit(text[at]) || (at > 0 && isDigit(text[at - 1]))) continue;
        size_t i = at;
        width = readDigits(text, i);
        const size_t afterWidth = i;
        skipBlanks(text, i);
        if (width == 0 || i >= text.size() || (text[i] != L'x' && text[i] != L'X')) {
            at = afterWidth - 1;
            continue;
        }
        ++i;
        skipBlanks(text, i);
        if (i >= text.size() || !isDigit(text[i])) {
            at = afterWidth - 1;
            continue;
        }
        height = readDigits(text, i);
        return true;
    }
    return false;
}

// side × factor to the nearest multiple of 16, a half going to the even
// neighbour; never under 16, which would be no picture at all.
int madeSide(long long side, double factor) {
    return std::max(kStep, (int)std::nearbyint(side * factor / kStep) * kStep);
}

}  // namespace

std::optional<PictureSize> PictureSizes(const std::wstring& format) {
    long long width = 0, height = 0;
    if (!findSize(format, width, height)) return std::nullopt;
    if (width < 1 || width > kLongestSide || height < 1 || height > kLongestSide) return std::nullopt;
    const long long longSide = std::max(width, height);
    double factor = longSide < kSmallSide ? kSmallSide / longSide : 1;
    if (factor * factor * width * height > kMostPixels) factor = std::sqrt(kMostPixels / (width * height));
    return PictureSize{(int)width, (int)height, madeSide(width, factor), madeSide(height, factor)};
}

void AddZImageSection(WorkflowGraph& graph, const std::string& idPrefix, const std::wstring& prompt, int width,
                      int height, long long seed) {
    const auto id = [&](int n) { return idPrefix + std::to_string(n); };
    graph.addNode(
        id(1), "UNETLoader",
        {{"unet_name", G::string(L"z_image_turbo_int8_convrot.safetensors")}, {"weight_dtype", G::string(L"default")}});
    graph.addNode(id(2), "CLIPLoader",
                  {{"clip_name", G::string(L"qwen_3_4b_fp8_mixed.safetensors")},
                   {"type", G::string(L"lumina2")},
                   {"device", G::string(L"default")}});
    graph.addNode(id(3), "VAELoader", {{"vae_name", G::string(L"ae.safetensors")}});
    graph.addNode(id(4), "ModelSamplingAuraFlow", {{"model", G::link(id(1), 0)}, {"shift", "3"}});
    graph.addNode(id(5), "CLIPTextEncode", {{"text", G::string(prompt)}, {"clip", G::link(id(2), 0)}});
    graph.addNode(id(6), "ConditioningZeroOut", {{"conditioning", G::link(id(5), 0)}});
    graph.addNode(id(7), "EmptySD3LatentImage",
                  {{"width", G::whole(width)}, {"height", G::whole(height)}, {"batch_size", "1"}});
    graph.addNode(id(8), "KSampler",
                  KSamplerInputs(G::link(id(4), 0), G::link(id(5), 0), G::link(id(6), 0), G::link(id(7), 0),
                                 G::whole(seed), "8", "1", L"res_multistep", L"simple"));
    graph.addNode(id(9), "VAEDecode", {{"samples", G::link(id(8), 0)}, {"vae", G::link(id(3), 0)}});
}

std::string BuildPictureGraph(const std::wstring& prompt, const PictureSize& size, bool cutOut, long long seed,
                              const std::wstring& filenamePrefix) {
    WorkflowGraph graph;
    AddZImageSection(graph, "", prompt, size.width, size.height, seed);
    std::string picture = "9";
    if (cutOut) {
        graph.addNode("10", "LoadBackgroundRemovalModel", {{"bg_removal_name", G::string(L"birefnet.safetensors")}});
        graph.addNode("11", "RemoveBackground", {{"bg_removal_model", G::link("10", 0)}, {"image", G::link("9", 0)}});
        graph.addNode("12", "InvertMask", {{"mask", G::link("11", 0)}});
        graph.addNode("13", "JoinImageWithAlpha", {{"image", G::link("9", 0)}, {"alpha", G::link("12", 0)}});
        picture = "13";
    }
    graph.addNode("14", "ImageScale",
                  {{"image", G::link(picture, 0)},
                   {"upscale_method", G::string(L"area")},
                   {"width", G::whole(size.outputWidth)},
                   {"height", G::whole(size.outputHeight)},
                   {"crop", G::string(L"center")}});
    graph.addNode("15", "SaveImage", {{"images", G::link("14", 0)}, {"filename_prefix", G::string(filenamePrefix)}});
    graph.finish();
    return graph.text();
}

std::string AddSourcePictureSection(WorkflowGraph& graph, const std::wstring& prompt, long long seed,
                                    const std::wstring& filenamePrefix) {
    AddZImageSection(graph, "z", prompt, 1024, 1024, seed);
    graph.addNode("z10", "SaveImage",
                  {{"images", G::link("z9", 0)}, {"filename_prefix", G::string(filenamePrefix + L"-picture")}});
    graph.addNode("193", "LoadBackgroundRemovalModel", {{"bg_removal_name", G::string(L"birefnet.safetensors")}});
    graph.addNode("192", "RemoveBackground", {{"bg_removal_model", G::link("193", 0)}, {"image", G::link("z9", 0)}});
    graph.addNode("312", "ImageCropToMask",
                  {{"images", G::link("z9", 0)},
                   {"masks", G::link("192", 0)},
                   {"width", "1024"},
                   {"height", "1024"},
                   {"pad_factor", "1.1"},
                   {"grow_mask", "0"},
                   {"background", G::string(L"#000000")}});
    return "312";
}

}  // namespace vorlane
