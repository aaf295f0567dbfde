// 3D models as GLB files (binary glTF 2.0): the part of the format the shard
// score reads, and the score itself. Plain standard C++, so that it can be
// built and fuzzed on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"

namespace vorlane {

// An accessor or view index that names nothing (beyond every array).
inline constexpr uint64_t kNoGlbIndex = UINT64_MAX;

// Reads accessor `index` of a glTF document from the GLB's binary buffer:
// count x components values, each converted to double as stored (never
// normalised). `components` is 3 for positions and 1 for indices. False, with
// `out` empty, when the accessor or its view can't be read safely: no view
// object, an unknown component type, a count beyond the buffer, a stride below
// one element or above 256 bytes, or elements that run past the buffer's end.
bool ReadAccessor(const JsonValue& document, std::string_view buffer, uint64_t index, int components,
                  std::vector<double>& out);

// Each triangle a GLB's meshes hold, as three corners of x, y and z, for every
// triangle primitive that reads (the same ones the shard score measures).
// False when the bytes aren't a GLB with a JSON and a binary chunk.
using GlbTriangleVisitor = std::function<void(const double* a, const double* b, const double* c)>;
bool ForEachGlbTriangle(std::string_view bytes, const GlbTriangleVisitor& visit);

// The share of a model's surface held by its biggest 2% of triangles, 0 to 1;
// -1 when the bytes hold no triangles it can measure (not a GLB, no binary
// chunk, no triangle primitive that reads, or no surface at all).
double ShardScore(std::string_view bytes);

// Above this score (strictly) a model counts as being in shards.
inline constexpr double kShardThreshold = 0.55;

inline bool IsInShards(double score) { return score > kShardThreshold; }

// "60% of its surface in its biggest 2% of triangles" for a score of 0.6.
std::wstring ShardScoreText(double score);

}  // namespace vorlane
