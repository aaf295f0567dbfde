#include "glb_writer/glb_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vorlane::testing {

namespace {

void appendLittle(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string numberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "," : "") + parts[i];
    return out;
}

}  // namespace

std::string glbFile(const std::string& json, const std::string& binary) {
    std::string jsonChunk = json, binaryChunk = binary;
    while (jsonChunk.size() % 4) jsonChunk.push_back(' ');
    while (binaryChunk.size() % 4) binaryChunk.push_back('\0');
    std::string out = "glTF";
    appendLittle(out, 2, 4);
    appendLittle(out, 12 + 8 + jsonChunk.size() + 8 + binaryChunk.size(), 4);
    appendLittle(out, jsonChunk.size(), 4);
    out += "JSON" + jsonChunk;
    appendLittle(out, binaryChunk.size(), 4);
    out += std::string("BIN\0", 4) + binaryChunk;
    return out;
}

std::string componentBytes(const std::vector<double>& values, GlbComponent type) {
    std::string out;
    for (double value : values) {
        switch (type) {
            case kGlbByte: appendLittle(out, uint8_t(int8_t(value)), 1); break;
            case kGlbUnsignedByte: appendLittle(out, uint8_t(value), 1); break;
            case kGlbShort: appendLittle(out, uint16_t(int16_t(value)), 2); break;
            case kGlbUnsignedShort: appendLittle(out, uint16_t(value), 2); break;
            case kGlbUnsignedInt: appendLittle(out, uint32_t(value), 4); break;
            case kGlbFloat: appendLittle(out, bitsOf(float(value)), 4); break;
        }
    }
    return out;
}

int GlbWriter::addView(const std::string& bytes, int byteStride) {
    while (binary_.size() % 4) binary_.push_back('\0');
    std::string view = "{\"buffer\":0,\"byteOffset\":" + std::to_string(binary_.size()) +
                       ",\"byteLength\":" + std::to_string(bytes.size());
    if (byteStride) view += ",\"byteStride\":" + std::to_string(byteStride);
    views_.push_back(view + "}");
    binary_ += bytes;
    return int(views_.size() - 1);
}

int GlbWriter::addAccessor(int view, GlbComponent componentType, uint32_t count, const std::string& type,
                           uint32_t byteOffset, const std::string& extraJson) {
    std::string accessor = "{\"bufferView\":" + std::to_string(view) +
                           ",\"componentType\":" + std::to_string(int(componentType)) +
                           ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"";
    if (byteOffset) accessor += ",\"byteOffset\":" + std::to_string(byteOffset);
    if (!extraJson.empty()) accessor += "," + extraJson;
    accessors_.push_back(accessor + "}");
    return int(accessors_.size() - 1);
}

int GlbWriter::addPositions(const std::vector<Vec3>& vertices, int stride) {
    std::string bytes;
    Vec3 low{}, high{};
    for (size_t i = 0; i < vertices.size(); ++i) {
        const Vec3& v = vertices[i];
        bytes += componentBytes({v.x, v.y, v.z}, kGlbFloat);
        // Filler between interleaved vertices reads as "not a number", so a
        // reader that misses the stride can't come out right by chance.
        if (stride > 12) bytes.append(size_t(stride - 12), '\xFF');
        low = i ? Vec3{std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)} : v;
        high = i ? Vec3{std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)} : v;
    }
    const int view = addView(bytes, stride);
    const std::string bounds = "\"min\":[" + numberText(low.x) + "," + numberText(low.y) + "," + numberText(low.z) +
                               "],\"max\":[" + numberText(high.x) + "," + numberText(high.y) + "," +
                               numberText(high.z) + "]";
    return addAccessor(view, kGlbFloat, uint32_t(vertices.size()), "VEC3", 0, bounds);
}

int GlbWriter::addIndices(const std::vector<uint32_t>& indices, GlbComponent type) {
    const int view = addView(componentBytes(std::vector<double>(indices.begin(), indices.end()), type));
    return addAccessor(view, type, uint32_t(indices.size()), "SCALAR");
}

void GlbWriter::addMesh(const std::vector<Primitive>& primitives) {
    std::vector<std::string> parts;
    for (const Primitive& primitive : primitives) {
        std::string text = "{\"attributes\":{\"POSITION\":" + std::to_string(primitive.positions) + "}";
        if (primitive.indices) text += ",\"indices\":" + std::to_string(*primitive.indices);
        if (primitive.mode) text += ",\"mode\":" + std::to_string(*primitive.mode);
        parts.push_back(text + "}");
    }
    meshes_.push_back("{\"primitives\":[" + joined(parts) + "]}");
}

void GlbWriter::addTriangles(const std::vector<Triangle>& triangles) {
    std::vector<Vec3> vertices;
    for (const Triangle& t : triangles) vertices.insert(vertices.end(), {t.a, t.b, t.c});
    addMesh({{addPositions(vertices)}});
}

void GlbWriter::addIndexedTriangles(const std::vector<Triangle>& triangles, GlbComponent indexType) {
    std::vector<Vec3> vertices;
    std::vector<uint32_t> indices;
    auto indexOf = [&](const Vec3& v) {
        for (size_t i = 0; i < vertices.size(); ++i)
            if (vertices[i].x == v.x && vertices[i].y == v.y && vertices[i].z == v.z) return uint32_t(i);
        vertices.push_back(v);
        return uint32_t(vertices.size() - 1);
    };
    for (const Triangle& t : triangles) indices.insert(indices.end(), {indexOf(t.a), indexOf(t.b), indexOf(t.c)});
    const int positions = addPositions(vertices);
    addMesh({{positions, addIndices(indices, indexType)}});
}

std::string GlbWriter::json() const {
    std::vector<std::string> nodes, nodeNumbers;
    for (size_t i = 0; i < meshes_.size(); ++i) {
        nodes.push_back("{\"mesh\":" + std::to_string(i) + "}");
        nodeNumbers.push_back(std::to_string(i));
    }
    return "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Vorlane launcher tests\"},\"scene\":0,"
           "\"scenes\":[{\"nodes\":[" + joined(nodeNumbers) + "]}],\"nodes\":[" + joined(nodes) +
           "],\"meshes\":[" + joined(meshes_) + "],\"accessors\":[" + joined(accessors_) +
           "],\"bufferViews\":[" + joined(views_) + "],\"buffers\":[{\"byteLength\":" +
           std::to_string(binary_.size()) + "}]}";
}

std::string gitLfsPointer() {
    return "version https://git-lfs.github.com/spec/v1\n"
           "oid sha256:4d7a214614ab2935c943f9e0ff69d22eadbb8f32b1258daaa5e2ca24d17e2393\n"
           "size 1843200\n";
}

std::vector<Triangle> cubeSurface(float size, int divisions) {
    std::vector<Triangle> triangles;
    const float step = size / float(divisions);
    // Each face lies at 0 or `size` along one axis and is spanned by the other two.
    for (int axis = 0; axis < 3; ++axis) {
        for (float level : {0.0f, size}) {
            auto corner = [&](int i, int j) {
                float c[3];
                c[axis] = level;
                c[(axis + 1) % 3] = step * float(i);
                c[(axis + 2) % 3] = step * float(j);
                return Vec3{c[0], c[1], c[2]};
            };
            for (int i = 0; i < divisions; ++i) {
                for (int j = 0; j < divisions; ++j) {
                    triangles.push_back({corner(i, j), corner(i + 1, j), corner(i + 1, j + 1)});
                    triangles.push_back({corner(i, j), corner(i + 1, j + 1), corner(i, j + 1)});
                }
            }
        }
    }
    return triangles;
}

Triangle sliver(float area, float offset) {
    const float length = 20, height = 2 * area / length;
    return {{-length / 2, offset, 0.5f}, {length / 2, offset, 0.5f}, {0, offset + height, 0.5f}};
}

std::string glbOfTriangles(const std::vector<Triangle>& triangles) {
    GlbWriter writer;
    writer.addTriangles(triangles);
    return writer.bytes();
}

std::string cubeModel(float sliverArea) {
    std::vector<Triangle> triangles = cubeSurface(10, 10);
    if (sliverArea > 0)
        for (int i = 0; i < 4; ++i) triangles.push_back(sliver(sliverArea, 2.5f * float(i)));
    return glbOfTriangles(triangles);
}

}  // namespace vorlane::testing
