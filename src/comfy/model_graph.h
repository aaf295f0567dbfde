// The 3D model workflow: a picture of the object is made and cut out, MoGe
// finds the camera's field of view, Pixal3D conditions TRELLIS.2 on the
// picture, TRELLIS.2 samples the shape in three stages and its colours in a
// fourth, and the mesh is remeshed, decimated, smoothed, painted and saved as
// GLB by node "400" (the uncut picture by node "z10").
#pragma once

#include <string>

namespace vorlane {

// One seed fixes the whole model: the picture gets the seed, the four
// samplers seed + 56, + 42, + 42 and + 43.
std::string Build3DModelGraph(const std::wstring& prompt, long long seed, const std::wstring& filenamePrefix,
                              long long targetFaceCount);

}  // namespace vorlane
