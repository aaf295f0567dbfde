// Writes the starting corpus for glb_fuzzer: small models as glTF exporters
// lay them out, each also in the fuzz target's wrapped form (two bytes of JSON
// length, the JSON, then the binary data). Built and run by scripts/fuzz.
//   glb_seeds <folder>
#include <cstdio>
#include <string>
#include <vector>

#include "glb_writer/glb_writer.h"

using namespace vorlane::testing;

namespace {

void writeSeed(const std::string& folder, const std::string& name, const std::string& bytes) {
    if (FILE* file = std::fopen((folder + "/" + name).c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// The wrapped form of a writer's model.
std::string wrapped(const GlbWriter& writer) {
    const std::string json = writer.json();
    return std::string{char(json.size() & 0xFF), char(json.size() >> 8)} + json + writer.binary();
}

void writeModel(const std::string& folder, const std::string& name, const GlbWriter& writer) {
    writeSeed(folder, name + ".glb", writer.bytes());
    writeSeed(folder, name + ".wrapped", wrapped(writer));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: glb_seeds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Triangle> cube = cubeSurface(1, 2);

    GlbWriter whole;
    whole.addTriangles(cube);
    writeModel(folder, "whole", whole);

    std::vector<Triangle> tornTriangles = cube;
    tornTriangles.push_back(sliver(40));
    GlbWriter torn;
    torn.addTriangles(tornTriangles);
    writeModel(folder, "torn", torn);

    for (GlbComponent type : {kGlbUnsignedByte, kGlbUnsignedShort, kGlbUnsignedInt}) {
        GlbWriter indexed;
        indexed.addIndexedTriangles(tornTriangles, type);
        writeModel(folder, "indexed-" + std::to_string(int(type)), indexed);
    }

    std::vector<Vec3> vertices;
    for (const Triangle& t : tornTriangles) vertices.insert(vertices.end(), {t.a, t.b, t.c});
    GlbWriter interleaved;
    interleaved.addMesh({{interleaved.addPositions(vertices, 32)}});
    writeModel(folder, "interleaved", interleaved);

    GlbWriter meshes;
    const int positions = meshes.addPositions(vertices);
    meshes.addMesh({{positions}, {positions, std::nullopt, 1}});
    meshes.addMesh({{positions, meshes.addIndices({0, 1, 2, 2, 1, 0, 3}, kGlbUnsignedShort)}});
    writeModel(folder, "meshes", meshes);

    writeSeed(folder, "lfs-pointer.glb", gitLfsPointer());
    return 0;
}
