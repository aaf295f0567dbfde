// libFuzzer target: the GLB reader and the shard score on any bytes, built
// natively by scripts/fuzz (target glb). The score must be -1 or a share from
// 0 to 1, never anything else.
//
// Each input is scored twice: as a whole file, and as the contents of a GLB
// whose header and chunk lengths are made right around it (the first two
// bytes give the JSON chunk's length, the rest is JSON then binary data), so
// the fuzzer reaches the accessors without having to get the lengths right.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "media/glb_model.h"

namespace {

void scoreAndCheck(std::string_view bytes) {
    const double score = vorlane::ShardScore(bytes);
    // The score is a share of a surface, or -1 for nothing measurable; never NaN.
    if (!(score == -1 || (score >= 0 && score <= 1))) std::abort();
}

void appendLittle32(std::string& out, size_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}

std::string wrappedAsGlb(std::string_view data) {
    const size_t jsonLength = std::min<size_t>(uint8_t(data[0]) | uint8_t(data[1]) << 8, data.size() - 2);
    const std::string_view json = data.substr(2, jsonLength), binary = data.substr(2 + jsonLength);
    std::string out = "glTF";
    appendLittle32(out, 2);
    appendLittle32(out, 28 + json.size() + binary.size());
    appendLittle32(out, json.size());
    out += "JSON";
    out += json;
    appendLittle32(out, binary.size());
    out += std::string_view("BIN\0", 4);
    out += binary;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    scoreAndCheck(bytes);
    if (size >= 2) scoreAndCheck(wrappedAsGlb(bytes));
    return 0;
}
