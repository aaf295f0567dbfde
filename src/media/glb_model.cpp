#include "media/glb_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>

namespace vorlane {

namespace {

// The fixed part of a GLB: the 12-byte header, the JSON chunk's length and
// type, and the binary chunk's length and type.
constexpr size_t kFixedBytes = 28;
constexpr uint64_t kLongestStride = 256;
constexpr uint64_t kTriangles = 4;  // the primitive mode glTF names "TRIANGLES", its default

uint32_t readLittle32(std::string_view bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

uint16_t readLittle16(std::string_view bytes, size_t at) {
    return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

// A number of the document as an unsigned value (fraction cut off), or
// `fallback` when it is absent, not a number or outside 0 to 2^32 - 1.
uint64_t numberOr(const JsonValue& value, uint64_t fallback) {
    // unsignedOr hands back whatever fallback it is given when the value doesn't
    // read, so two different fallbacks give the same answer only for a real value.
    const uint32_t read = unsignedOr(value, 0);
    return read == unsignedOr(value, 1) ? read : fallback;
}

// Element `index` of an array, or a Null value when there is no such element.
const JsonValue& elementOf(const JsonValue& array, uint64_t index) {
    static const JsonValue none;
    if (array.kind != JsonKind::Array || index >= array.items.size()) return none;
    return array.items[index];
}

// The bytes of one stored value of a glTF component type; 0 for an unknown type.
uint64_t componentSize(uint64_t componentType) {
    switch (componentType) {
        case 5120:  // signed byte
        case 5121:  // unsigned byte
            return 1;
        case 5122:  // signed 16-bit
        case 5123:  // unsigned 16-bit
            return 2;
        case 5125:  // unsigned 32-bit
        case 5126:  // 32-bit float
            return 4;
        default:
            return 0;
    }
}

float floatOfBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double readComponent(std::string_view buffer, size_t at, uint64_t componentType) {
    switch (componentType) {
        case 5120: return int8_t(buffer[at]);
        case 5121: return uint8_t(buffer[at]);
        case 5122: return int16_t(readLittle16(buffer, at));
        case 5123: return readLittle16(buffer, at);
        case 5125: return readLittle32(buffer, at);
        default: return floatOfBits(readLittle32(buffer, at));
    }
}

// The vertex an index names, when it names one: a value from 0 up to (not
// including) the vertex count, its fraction cut off. Negative indices, those
// past the last vertex and values that aren't numbers name none.
bool vertexOf(double index, size_t vertexCount, size_t& vertex) {
    if (!(index >= 0 && index < double(vertexCount))) return false;
    vertex = size_t(index);
    return vertex < vertexCount;
}

// Half the length of the cross product (B - A) x (C - A).
double triangleArea(const double* a, const double* b, const double* c) {
    const double ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
    const double vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
    const double x = uy * vz - uz * vy, y = uz * vx - ux * vz, z = ux * vy - uy * vx;
    return 0.5 * std::sqrt(x * x + y * y + z * z);
}

// Hands over every triangle of one primitive that can be read. Primitives of
// other modes (points, lines, strips, fans) and those whose positions or
// indices don't read give none.
void forEachTriangle(const JsonValue& document, std::string_view buffer, const JsonValue& primitive,
                     const GlbTriangleVisitor& visit) {
    if (numberOr(member(primitive, "mode"), kTriangles) != kTriangles) return;
    std::vector<double> positions;
    const uint64_t positionAccessor = numberOr(member(member(primitive, "attributes"), "POSITION"), kNoGlbIndex);
    if (!ReadAccessor(document, buffer, positionAccessor, 3, positions)) return;
    const size_t vertexCount = positions.size() / 3;
    std::vector<double> indices;
    const JsonValue& indicesAccessor = member(primitive, "indices");
    if (indicesAccessor.kind == JsonKind::Null) {
        // Without an index list the vertices are taken in order, three per triangle.
        indices.resize(vertexCount);
        for (size_t i = 0; i < vertexCount; ++i) indices[i] = double(i);
    } else if (!ReadAccessor(document, buffer, numberOr(indicesAccessor, kNoGlbIndex), 1, indices)) {
        return;
    }
    // A last group of fewer than three indices is no triangle.
    for (size_t first = 0; first + 3 <= indices.size(); first += 3) {
        size_t a, b, c;
        if (!vertexOf(indices[first], vertexCount, a) || !vertexOf(indices[first + 1], vertexCount, b) ||
            !vertexOf(indices[first + 2], vertexCount, c))
            continue;
        visit(&positions[3 * a], &positions[3 * b], &positions[3 * c]);
    }
}

// The share of the total held by the biggest 2% of the areas (at least one).
double shareOfBiggest(std::vector<double>& areas) {
    if (areas.empty()) return -1;
    double total = 0;
    for (double area : areas) total += area;
    // No surface at all, or a corner at infinity or not a number: nothing to measure.
    if (!(total > 0) || std::isinf(total)) return -1;

    std::sort(areas.begin(), areas.end(), std::greater<>());
    const size_t biggest = std::max<size_t>(1, (areas.size() * 2 + 99) / 100);
    double biggestSum = 0;
    for (size_t i = 0; i < biggest; ++i) biggestSum += areas[i];
    // The total again from the sorted list, so the share can never pass 1 by rounding.
    total = biggestSum;
    for (size_t i = biggest; i < areas.size(); ++i) total += areas[i];
    return biggestSum / total;
}

bool walkGlb(std::string_view bytes, const GlbTriangleVisitor& visit) {
    if (bytes.size() < kFixedBytes || bytes.substr(0, 4) != "glTF") return false;
    const uint64_t jsonLength = readLittle32(bytes, 12);
    if (jsonLength > bytes.size() - kFixedBytes || bytes.substr(16, 4) != "JSON") return false;
    const size_t binaryHeader = 20 + jsonLength;
    if (bytes.substr(binaryHeader + 4, 4) != std::string_view("BIN\0", 4)) return false;
    JsonValue document;
    if (!parseDocument(std::string(bytes.substr(20, jsonLength)), document)) return false;
    // A binary chunk that claims more than the file holds is read as far as it goes.
    const uint64_t binaryLength = readLittle32(bytes, binaryHeader);
    const std::string_view buffer =
        bytes.substr(binaryHeader + 8, std::min<uint64_t>(binaryLength, bytes.size() - kFixedBytes - jsonLength));
    for (const JsonValue& mesh : member(document, "meshes").items) {
        for (const JsonValue& primitive : member(mesh, "primitives").items)
            forEachTriangle(document, buffer, primitive, visit);
    }
    return true;
}

double scoreOfGlb(std::string_view bytes) {
    std::vector<double> areas;
    if (!walkGlb(bytes, [&](const double* a, const double* b, const double* c) {
            areas.push_back(triangleArea(a, b, c));
        }))
        return -1;
    return shareOfBiggest(areas);
}

}  // namespace

bool ForEachGlbTriangle(std::string_view bytes, const GlbTriangleVisitor& visit) {
    try {
        return walkGlb(bytes, visit);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ReadAccessor(const JsonValue& document, std::string_view buffer, uint64_t index, int components,
                  std::vector<double>& out) {
    out.clear();
    if (components < 1) return false;
    const JsonValue& accessor = elementOf(member(document, "accessors"), index);
    const JsonValue& view =
        elementOf(member(document, "bufferViews"), numberOr(member(accessor, "bufferView"), kNoGlbIndex));

    const uint64_t componentType = numberOr(member(accessor, "componentType"), 0);
    const uint64_t size = componentSize(componentType);
    const uint64_t elementSize = size * uint64_t(components);
    const uint64_t count = numberOr(member(accessor, "count"), UINT64_MAX);
    const uint64_t stride = numberOr(member(view, "byteStride"), elementSize);
    const uint64_t offset = numberOr(member(accessor, "byteOffset"), 0) + numberOr(member(view, "byteOffset"), 0);

    if (view.kind != JsonKind::Object || size == 0) return false;
    // No element is smaller than a byte, so a count beyond the buffer's length
    // can't fit; checking it first also keeps the sum below from overflowing.
    if (buffer.size() < count) return false;
    if (stride < elementSize || stride > kLongestStride) return false;
    if (count != 0 && buffer.size() < elementSize + stride * (count - 1) + offset) return false;

    out.reserve(count * uint64_t(components));
    for (uint64_t i = 0; i < count; ++i) {
        for (uint64_t j = 0; j < uint64_t(components); ++j)
            out.push_back(readComponent(buffer, offset + stride * i + size * j, componentType));
    }
    return true;
}

double ShardScore(std::string_view bytes) {
    // A file made to need more memory than there is (thousands of primitives
    // drawing one huge index list again and again) is one it can't measure.
    try {
        return scoreOfGlb(bytes);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::wstring ShardScoreText(double score) {
    char text[96];
    std::snprintf(text, sizeof text, "%.0f%% of its surface in its biggest 2%% of triangles", score * 100);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

}  // namespace vorlane
