// The picture workflows: Z-Image Turbo makes a picture, BiRefNet cuts icons
// out of their background, and the picture is scaled to the size its slot
// asks for. The 3D model graph starts from a cut-out picture made the same way.
#pragma once

#include <optional>
#include <string>

#include "comfy/workflow_graph.h"

namespace vorlane {

// The size a picture file must have, and the size Z-Image is asked to make.
struct PictureSize {
    int outputWidth = 0;
    int outputHeight = 0;
    int width = 0;  // made at, a multiple of 16
    int height = 0;
};

// The first "WxH" of a slot's Format ("512x512 PNG", "2048 x 1024"), each
// side 1 to 4096, and the size to make it at: about 1024 on the long side for
// small pictures, at most about 2.1 megapixels, in multiples of 16. Nothing
// when the text holds no usable size.
std::optional<PictureSize> PictureSizes(const std::wstring& format);

// The nine Z-Image nodes, with ids idPrefix + "1" to idPrefix + "9"; the
// picture is output 0 of the ninth.
void AddZImageSection(WorkflowGraph& graph, const std::string& idPrefix, const std::wstring& prompt, int width,
                      int height, long long seed);

// A picture graph: made, cut out when cutOut (icons get a transparent
// background), scaled to the output size and saved by node "15".
std::string BuildPictureGraph(const std::wstring& prompt, const PictureSize& size, bool cutOut, long long seed,
                              const std::wstring& filenamePrefix);

// The start of a 3D model graph: a 1024 x 1024 picture (nodes "z1" to "z9"),
// saved uncut by node "z10" as prefix + "-picture", then cut out and centred
// on black by node "312", whose output 0 it returns.
std::string AddSourcePictureSection(WorkflowGraph& graph, const std::wstring& prompt, long long seed,
                                    const std::wstring& filenamePrefix);

}  // namespace vorlane
