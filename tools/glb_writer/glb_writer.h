// Writes small GLB files (binary glTF 2.0) for the tests and the fuzz seeds,
// laid out as glTF exporters write them: a 12-byte header, a JSON chunk padded
// with blanks, a binary chunk padded with zeros, buffer views on 4-byte
// boundaries, position accessors with their bounds. Plain standard C++, like
// the reader it feeds, so that it builds natively for the fuzz seeds as well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlane::testing {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct Triangle {
    Vec3 a, b, c;
};

// glTF component types.
enum GlbComponent : int {
    kGlbByte = 5120,
    kGlbUnsignedByte = 5121,
    kGlbShort = 5122,
    kGlbUnsignedShort = 5123,
    kGlbUnsignedInt = 5125,
    kGlbFloat = 5126,
};

// A whole GLB file around the given JSON text and binary chunk, each padded as
// the format asks (blanks after the JSON, zeros after the binary data).
std::string glbFile(const std::string& json, const std::string& binary);

// Little-endian bytes of values of one component type.
std::string componentBytes(const std::vector<double>& values, GlbComponent type);

class GlbWriter {
public:
    struct Primitive {
        int positions = -1;             // accessor index
        std::optional<int> indices;     // accessor index; none: the vertices in order
        std::optional<int> mode;        // none: left out (triangles)
    };

    // Appends bytes to the binary chunk on a 4-byte boundary as a new buffer
    // view; its index. A stride of 0 writes no "byteStride".
    int addView(const std::string& bytes, int byteStride = 0);
    // An accessor over a view. `type` is "SCALAR" or "VEC3"; `extraJson` is
    // added inside the accessor's object as it stands (e.g. "\"max\":[1,1,1]").
    int addAccessor(int view, GlbComponent componentType, uint32_t count, const std::string& type,
                    uint32_t byteOffset = 0, const std::string& extraJson = "");

    // Float positions with their bounds: packed when `stride` is 0, else each
    // vertex at `stride` bytes from the last with filler between.
    int addPositions(const std::vector<Vec3>& vertices, int stride = 0);
    int addIndices(const std::vector<uint32_t>& indices, GlbComponent type = kGlbUnsignedInt);

    // One mesh with its primitives, and one node that shows it.
    void addMesh(const std::vector<Primitive>& primitives);

    // A mesh of one primitive drawing the triangles with vertices in order.
    void addTriangles(const std::vector<Triangle>& triangles);
    // The same triangles as shared vertices and an index list of the given type.
    void addIndexedTriangles(const std::vector<Triangle>& triangles, GlbComponent indexType = kGlbUnsignedInt);

    std::string json() const;
    std::string binary() const { return binary_; }
    std::string bytes() const { return glbFile(json(), binary_); }

private:
    std::vector<std::string> views_, accessors_, meshes_;
    std::string binary_;
};

// The text Git LFS leaves in place of a file that wasn't fetched.
std::string gitLfsPointer();

// The surface of an axis-aligned cube of the given size, each face cut into
// divisions x divisions squares of two triangles: a whole model of equal triangles.
std::vector<Triangle> cubeSurface(float size, int divisions);

// A long, thin triangle of the given area cutting through the model, as a
// torn model has.
Triangle sliver(float area, float offset = 0);

// A GLB of one mesh drawing these triangles.
std::string glbOfTriangles(const std::vector<Triangle>& triangles);

// A whole model: a cube of side 10 cut into 1200 triangles of area 0.5 (its
// score is 0.02); with a sliver area, four slivers of that area each cut
// through it, so that 250 scores 63% and 2500 scores 94%.
std::string cubeModel(float sliverArea = 0);

}  // namespace vorlane::testing
