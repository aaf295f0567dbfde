// GLB reading and the shard score: accessors read from the binary chunk with
// every refusal, and scores of models written the way glTF exporters write them.
#include <gtest/gtest.h>

#include <cmath>

#include "core/json.h"
#include "glb_writer/glb_writer.h"
#include "media/glb_model.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

JsonValue document(const std::string& json) {
    JsonValue parsed;
    EXPECT_TRUE(parseDocument(json, parsed)) << json;
    return parsed;
}

// A document with one view over the whole buffer and one accessor written out as given.
JsonValue oneAccessor(const std::string& accessor, const std::string& view = R"({"buffer":0})") {
    return document(R"({"accessors":[)" + accessor + R"(],"bufferViews":[)" + view + "]}");
}

std::vector<double> readOrFail(const JsonValue& doc, const std::string& buffer, uint64_t index, int components) {
    std::vector<double> out{42};
    EXPECT_TRUE(ReadAccessor(doc, buffer, index, components, out));
    return out;
}

bool refused(const JsonValue& doc, const std::string& buffer, int components = 3) {
    std::vector<double> out{42};
    const bool read = ReadAccessor(doc, buffer, 0, components, out);
    EXPECT_TRUE(out.empty() || read);
    return !read;
}

// A right triangle with legs of the given length in the z = 0 plane: area legs² / 2.
Triangle rightTriangle(float legs, float x = 0) { return {{x, 0, 0}, {x + legs, 0, 0}, {x, legs, 0}}; }

std::vector<Triangle> repeated(const Triangle& triangle, int count) { return std::vector<Triangle>(count, triangle); }

}  // namespace

// ---- ReadAccessor ----

TEST(ReadAccessor, ReadsEveryComponentTypeAsStoredWithoutNormalising) {
    struct Case {
        GlbComponent type;
        std::vector<double> values;
    } cases[] = {
        {kGlbByte, {-128, -1, 127}},
        {kGlbUnsignedByte, {0, 200, 255}},
        {kGlbShort, {-32768, -2, 32767}},
        {kGlbUnsignedShort, {0, 1000, 65535}},
        {kGlbUnsignedInt, {0, 70000, 4294967295.0}},
        {kGlbFloat, {-1.5, 0.25, 3e38}},
    };
    for (const Case& c : cases) {
        const JsonValue doc = oneAccessor(R"({"bufferView":0,"normalized":true,"count":3,"componentType":)" +
                                          std::to_string(int(c.type)) + "}");
        std::vector<double> expected = c.values;
        if (c.type == kGlbFloat) expected[2] = double(3e38f);
        EXPECT_EQ(readOrFail(doc, componentBytes(c.values, c.type), 0, 1), expected) << c.type;
    }
}

TEST(ReadAccessor, FollowsStrideAndBothOffsets) {
    // Vertices of three floats at a stride of 20, behind 8 bytes of the view and 4 of the accessor.
    std::string buffer(8, '\x77');
    buffer += std::string(4, '\x77');
    for (int vertex = 0; vertex < 3; ++vertex) {
        buffer += componentBytes({vertex + 0.5, vertex + 10.0, vertex - 7.0}, kGlbFloat);
        buffer += std::string(8, '\x77');
    }
    buffer.resize(buffer.size() - 8);  // the last vertex needs no filler after it
    const JsonValue doc = oneAccessor(R"({"bufferView":0,"byteOffset":4,"count":3,"componentType":5126})",
                                      R"({"buffer":0,"byteOffset":8,"byteStride":20})");
    EXPECT_EQ(readOrFail(doc, buffer, 0, 3),
              (std::vector<double>{0.5, 10, -7, 1.5, 11, -6, 2.5, 12, -5}));
    // One byte less and the last vertex runs past the end.
    EXPECT_TRUE(refused(doc, buffer.substr(0, buffer.size() - 1)));
}

TEST(ReadAccessor, RefusesAnAccessorWithoutAViewObject) {
    const std::string buffer = componentBytes({1, 2, 3}, kGlbFloat);
    const std::string accessor = R"("count":1,"componentType":5126)";
    EXPECT_TRUE(refused(oneAccessor("{" + accessor + "}"), buffer)) << "no bufferView";
    EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":1,)" + accessor + "}"), buffer)) << "beyond the views";
    EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":-1,)" + accessor + "}"), buffer)) << "negative";
    EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":"0",)" + accessor + "}"), buffer)) << "a string";
    EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":0,)" + accessor + "}", "[0]"), buffer)) << "view not an object";
    EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":0,)" + accessor + "}", "7"), buffer)) << "view a number";
    EXPECT_TRUE(refused(document(R"({"accessors":[{"bufferView":0,)" + accessor + "}]}"), buffer)) << "no views";
    // The same accessor with its view reads.
    EXPECT_FALSE(refused(oneAccessor(R"({"bufferView":0,)" + accessor + "}"), buffer));
}

TEST(ReadAccessor, RefusesAnAccessorIndexBeyondTheList) {
    const JsonValue doc = oneAccessor(R"({"bufferView":0,"count":1,"componentType":5126})");
    const std::string buffer = componentBytes({1, 2, 3}, kGlbFloat);
    std::vector<double> out;
    EXPECT_TRUE(ReadAccessor(doc, buffer, 0, 3, out));
    EXPECT_FALSE(ReadAccessor(doc, buffer, 1, 3, out));
    EXPECT_FALSE(ReadAccessor(doc, buffer, kNoGlbIndex, 3, out));
    EXPECT_FALSE(ReadAccessor(document("{}"), buffer, 0, 3, out));
    EXPECT_TRUE(out.empty());
}

TEST(ReadAccessor, RefusesUnknownComponentTypes) {
    const std::string buffer(64, '\0');
    for (const char* type : {"5124", "5127", "0", "\"5126\"", "-5126"})
        EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":0,"count":1,"componentType":)" + std::string(type) + "}"),
                            buffer))
            << type;
    EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":0,"count":1})"), buffer)) << "no component type";
    // A fraction is cut off: 5126.7 is a float.
    EXPECT_FALSE(refused(oneAccessor(R"({"bufferView":0,"count":1,"componentType":5126.7})"), buffer));
}

TEST(ReadAccessor, RefusesACountTheBufferCantHold) {
    const std::string buffer(40, '\0');
    for (const char* count : {"4294967295", "1e9", "41"})
        EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":0,"componentType":5121,"count":)" + std::string(count) + "}"),
                            buffer, 1))
            << count;
    // Without a usable count there is nothing to read: no count, a negative one, text.
    for (const char* count : {"", R"(,"count":-1)", R"(,"count":"3")", R"(,"count":4294967296)"})
        EXPECT_TRUE(refused(oneAccessor(R"({"bufferView":0,"componentType":5121)" + std::string(count) + "}"),
                            buffer, 1))
            << count;
    EXPECT_EQ(readOrFail(oneAccessor(R"({"bufferView":0,"componentType":5121,"count":40})"), buffer, 0, 1).size(), 40u);
    // A fraction of a count is cut off.
    EXPECT_EQ(readOrFail(oneAccessor(R"({"bufferView":0,"componentType":5121,"count":2.9})"), buffer, 0, 1).size(), 2u);
}

TEST(ReadAccessor, RefusesAStrideBelowOneElementOrAbove256Bytes) {
    const std::string buffer(1024, '\0');
    auto withStride = [](const std::string& stride) {
        return oneAccessor(R"({"bufferView":0,"componentType":5126,"count":2})",
                           R"({"buffer":0,"byteStride":)" + stride + "}");
    };
    EXPECT_TRUE(refused(withStride("11"), buffer)) << "shorter than a vertex of three floats";
    EXPECT_TRUE(refused(withStride("0"), buffer));
    EXPECT_TRUE(refused(withStride("257"), buffer));
    EXPECT_TRUE(refused(withStride("300"), buffer));
    EXPECT_FALSE(refused(withStride("12"), buffer));
    EXPECT_FALSE(refused(withStride("256"), buffer));
    // A stride that doesn't read as a number leaves the elements packed.
    EXPECT_FALSE(refused(withStride("-4"), buffer));
    // The same stride is fine for one float, too short for three.
    const JsonValue four = withStride("4");
    EXPECT_FALSE(refused(four, buffer, 1));
    EXPECT_TRUE(refused(four, buffer, 3));
}

TEST(ReadAccessor, RefusesElementsThatRunPastTheBuffer) {
    const std::string buffer(40, '\0');
    auto at = [](const std::string& accessorOffset, const std::string& viewOffset) {
        return oneAccessor(R"({"bufferView":0,"componentType":5126,"count":3,"byteOffset":)" + accessorOffset + "}",
                           R"({"buffer":0,"byteOffset":)" + viewOffset + "}");
    };
    // Three vertices of three floats take 36 bytes.
    EXPECT_FALSE(refused(at("0", "0"), buffer));
    EXPECT_FALSE(refused(at("2", "2"), buffer)) << "both offsets together reach the end exactly";
    EXPECT_TRUE(refused(at("3", "2"), buffer));
    EXPECT_TRUE(refused(at("0", "5"), buffer));
    EXPECT_TRUE(refused(at("4294967295", "0"), buffer));
    // An offset that doesn't read as a number counts as none.
    EXPECT_FALSE(refused(at("-8", "\"4\""), buffer));
}

TEST(ReadAccessor, AnEmptyAccessorReadsWhereverItPoints) {
    const JsonValue doc = oneAccessor(R"({"bufferView":0,"componentType":5126,"count":0,"byteOffset":1000})");
    EXPECT_TRUE(readOrFail(doc, "", 0, 3).empty());
}

// ---- ShardScore: the cases of the score ----

TEST(ShardScore, AHundredEqualTrianglesScoreTheirBiggestTwo) {
    EXPECT_NEAR(ShardScore(glbOfTriangles(repeated(rightTriangle(1), 100))), 0.02, 1e-12);
}

TEST(ShardScore, FortyNineTrianglesScoreTheirBiggestOne) {
    std::vector<Triangle> triangles = repeated(rightTriangle(1), 48);  // 48 x 0.5
    triangles.insert(triangles.begin() + 20, rightTriangle(2));        // 2
    EXPECT_NEAR(ShardScore(glbOfTriangles(triangles)), 2.0 / 26.0, 1e-12);
}

TEST(ShardScore, FiftyOneTrianglesScoreTheirBiggestTwo) {
    std::vector<Triangle> triangles = repeated(rightTriangle(1), 49);
    triangles.push_back(rightTriangle(2));
    triangles.push_back(rightTriangle(4));  // 8
    EXPECT_NEAR(ShardScore(glbOfTriangles(triangles)), 10.0 / 34.5, 1e-12);
}

TEST(ShardScore, OneTriangleWithNearlyAllTheSurfaceIsInShards) {
    // Areas 99 and 1.
    const Triangle big{{0, 0, 0}, {99, 0, 0}, {0, 2, 0}}, small{{0, 0, 1}, {1, 0, 1}, {0, 2, 1}};
    const double score = ShardScore(glbOfTriangles({small, big}));
    EXPECT_NEAR(score, 0.99, 1e-12);
    EXPECT_TRUE(IsInShards(score));
}

TEST(ShardScore, AreasAreMeasuredInThreeDimensions) {
    // A triangle tilted out of every plane: (1,0,0), (0,1,0), (0,0,1) has area sqrt(3)/2.
    const Triangle tilted{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::vector<Triangle> triangles = repeated(rightTriangle(1), 49);
    triangles.push_back(tilted);
    EXPECT_NEAR(ShardScore(glbOfTriangles(triangles)), (std::sqrt(3.0) / 2) / (24.5 + std::sqrt(3.0) / 2), 1e-7);
}

TEST(ShardScore, DegenerateTrianglesCountButAddNoSurface) {
    std::vector<Triangle> triangles = repeated(rightTriangle(1), 99);
    triangles.push_back({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});  // on one line: area 0
    // 100 triangles, so the biggest two hold 1 of 49.5.
    EXPECT_NEAR(ShardScore(glbOfTriangles(triangles)), 1.0 / 49.5, 1e-12);
    EXPECT_EQ(ShardScore(glbOfTriangles(repeated({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, 5))), -1);
}

TEST(ShardScore, AWholeModelScoresLowAndATornOneHigh) {
    const double whole = ShardScore(cubeModel());  // 1200 triangles of 0.5
    EXPECT_NEAR(whole, 0.02, 1e-12);
    EXPECT_FALSE(IsInShards(whole));

    // Four slivers of 250 make 1204 triangles: the biggest 25 are the slivers and 21 of the cube's.
    const double torn = ShardScore(cubeModel(250));
    EXPECT_NEAR(torn, (1000 + 21 * 0.5) / 1600.0, 1e-12);
    EXPECT_TRUE(IsInShards(torn));
    EXPECT_NEAR(ShardScore(cubeModel(2500)), (10000 + 21 * 0.5) / 10600.0, 1e-12);
}

// ---- ShardScore: how the model is laid out ----

TEST(ShardScore, IndexedAndUnindexedTrianglesScoreTheSame) {
    std::vector<Triangle> triangles = cubeSurface(2, 3);
    triangles.push_back(sliver(3));
    const double unindexed = ShardScore(glbOfTriangles(triangles));
    ASSERT_GT(unindexed, 0);
    for (GlbComponent type : {kGlbUnsignedByte, kGlbUnsignedShort, kGlbUnsignedInt}) {
        GlbWriter writer;
        writer.addIndexedTriangles(triangles, type);
        EXPECT_NEAR(ShardScore(writer.bytes()), unindexed, 1e-12) << type;
    }
}

TEST(ShardScore, InterleavedVerticesAreReadAtTheirStride) {
    std::vector<Vec3> vertices;
    std::vector<Triangle> triangles = repeated(rightTriangle(1), 60);
    triangles.push_back(rightTriangle(3));
    for (const Triangle& t : triangles) vertices.insert(vertices.end(), {t.a, t.b, t.c});
    const double expected = ShardScore(glbOfTriangles(triangles));
    for (int stride : {12, 16, 32, 256}) {
        GlbWriter writer;
        writer.addMesh({{writer.addPositions(vertices, stride)}});
        EXPECT_DOUBLE_EQ(ShardScore(writer.bytes()), expected) << stride;
    }
}

TEST(ShardScore, AStrideOf300RefusesItsPrimitiveAlone) {
    std::vector<Vec3> vertices;
    for (const Triangle& t : repeated(rightTriangle(5), 3)) vertices.insert(vertices.end(), {t.a, t.b, t.c});

    GlbWriter onlyWide;
    onlyWide.addMesh({{onlyWide.addPositions(vertices, 300)}});
    EXPECT_EQ(ShardScore(onlyWide.bytes()), -1);

    // Beside a primitive that reads, the wide one adds nothing.
    GlbWriter mixed;
    const int wide = mixed.addPositions(vertices, 300);
    std::vector<Vec3> packed;
    for (const Triangle& t : {rightTriangle(1), rightTriangle(1)}) packed.insert(packed.end(), {t.a, t.b, t.c});
    mixed.addMesh({{wide}, {mixed.addPositions(packed)}});
    EXPECT_NEAR(ShardScore(mixed.bytes()), 0.5, 1e-12);
}

TEST(ShardScore, EveryPrimitiveOfEveryMeshAddsToOneList) {
    // Mesh one: 50 triangles of 0.5 in two primitives; mesh two: one of 8.
    GlbWriter writer;
    std::vector<Vec3> first, second, third;
    for (const Triangle& t : repeated(rightTriangle(1), 20)) first.insert(first.end(), {t.a, t.b, t.c});
    for (const Triangle& t : repeated(rightTriangle(1), 30)) second.insert(second.end(), {t.a, t.b, t.c});
    for (const Triangle& t : {rightTriangle(4)}) third.insert(third.end(), {t.a, t.b, t.c});
    const int a = writer.addPositions(first), b = writer.addPositions(second), c = writer.addPositions(third);
    writer.addMesh({{a}, {b}});
    writer.addMesh({{c}});
    // 51 triangles: the biggest two are 8 and 0.5 of 33.
    EXPECT_NEAR(ShardScore(writer.bytes()), 8.5 / 33.0, 1e-12);
}

TEST(ShardScore, OnlyTrianglePrimitivesAreMeasured) {
    std::vector<Vec3> vertices;
    for (const Triangle& t : repeated(rightTriangle(2), 3)) vertices.insert(vertices.end(), {t.a, t.b, t.c});
    for (int mode : {0, 1, 2, 3, 5, 6}) {
        GlbWriter writer;
        writer.addMesh({{writer.addPositions(vertices), std::nullopt, mode}});
        EXPECT_EQ(ShardScore(writer.bytes()), -1) << "mode " << mode;
    }
    GlbWriter triangles;
    triangles.addMesh({{triangles.addPositions(vertices), std::nullopt, 4}});
    EXPECT_NEAR(ShardScore(triangles.bytes()), 1.0 / 3, 1e-12);

    // Lines beside triangles: only the triangles count.
    GlbWriter mixed;
    const int positions = mixed.addPositions(vertices);
    std::vector<Vec3> one{rightTriangle(1).a, rightTriangle(1).b, rightTriangle(1).c};
    mixed.addMesh({{positions, std::nullopt, 1}, {mixed.addPositions(one)}});
    EXPECT_NEAR(ShardScore(mixed.bytes()), 1.0, 1e-12);
}

TEST(ShardScore, AModeThatIsNoNumberCountsAsTriangles) {
    const std::string positions = componentBytes({0, 0, 0, 1, 0, 0, 0, 1, 0}, kGlbFloat);
    const std::string views = R"("bufferViews":[{"buffer":0}],"accessors":[{"bufferView":0,"componentType":5126,"count":3}])";
    for (const char* mode : {R"("1")", "null", "-1", "4294967296", "4.5"}) {
        const std::string json =
            R"({"meshes":[{"primitives":[{"attributes":{"POSITION":0},"mode":)" + std::string(mode) + "}]}]," + views + "}";
        EXPECT_EQ(ShardScore(glbFile(json, positions)), 1) << mode;
    }
    const std::string lines = R"({"meshes":[{"primitives":[{"attributes":{"POSITION":0},"mode":1.5}]}],)" + views + "}";
    EXPECT_EQ(ShardScore(glbFile(lines, positions)), -1);
}

TEST(ShardScore, IndicesThatNameNoVertexSkipTheirTriangle) {
    // Four vertices; triangle areas 0.5 (0,1,2) and 2 (0,1,3).
    const std::string positions = componentBytes({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 4, 0}, kGlbFloat);
    auto score = [&](const std::vector<double>& indices, GlbComponent type) {
        GlbWriter writer;
        const int vertices = writer.addAccessor(writer.addView(positions), kGlbFloat, 4, "VEC3");
        const int list = writer.addAccessor(writer.addView(componentBytes(indices, type)), type,
                                            uint32_t(indices.size()), "SCALAR");
        writer.addMesh({{vertices, list}});
        return ShardScore(writer.bytes());
    };
    EXPECT_NEAR(score({0, 1, 2, 0, 1, 3}, kGlbUnsignedShort), 0.8, 1e-12);
    EXPECT_NEAR(score({0, 1, 2, 0, 1, 4}, kGlbUnsignedShort), 1.0, 1e-12) << "index 4 of 4 vertices";
    EXPECT_NEAR(score({0, 1, 2, 0, 1, 3, 0, 1}, kGlbUnsignedShort), 0.8, 1e-12) << "a final pair is no triangle";
    EXPECT_NEAR(score({0, 1, 2, 0, -1, 3}, kGlbByte), 1.0, 1e-12) << "a negative index";
    EXPECT_NEAR(score({0, 1, 2, 0, 1, 3.5}, kGlbFloat), 0.8, 1e-12) << "a fraction is cut off";
    EXPECT_NEAR(score({0, 1, 2, 0, 1, 3.9999}, kGlbFloat), 0.8, 1e-12);
    EXPECT_NEAR(score({0, 1, 2, 0, 1, 4294967295.0}, kGlbUnsignedInt), 1.0, 1e-12);
    EXPECT_EQ(score({0, 1, 5}, kGlbUnsignedInt), -1);
}

TEST(ShardScore, APrimitiveWhoseIndicesDontReadAddsNothing) {
    GlbWriter writer;
    std::vector<Vec3> vertices{rightTriangle(1).a, rightTriangle(1).b, rightTriangle(1).c};
    const int positions = writer.addPositions(vertices);
    writer.addMesh({{positions, 7}});             // no such accessor
    writer.addMesh({{positions, positions + 1}});  // beyond the list too
    EXPECT_EQ(ShardScore(writer.bytes()), -1);
    writer.addMesh({{positions}});
    EXPECT_EQ(ShardScore(writer.bytes()), 1);
}

TEST(ShardScore, ACornerThatIsNoNumberLeavesNothingToMeasure) {
    std::vector<Triangle> triangles = repeated(rightTriangle(1), 10);
    triangles[3].b.x = std::nanf("");
    EXPECT_EQ(ShardScore(glbOfTriangles(triangles)), -1);
    triangles[3].b.x = INFINITY;
    EXPECT_EQ(ShardScore(glbOfTriangles(triangles)), -1);
}

// ---- ShardScore: files that aren't models it can read ----

TEST(ShardScore, AGitLfsPointerHasNothingToMeasure) {
    EXPECT_EQ(ShardScore(gitLfsPointer()), -1);
}

TEST(ShardScore, RefusesABrokenLayout) {
    const std::string good = glbOfTriangles(repeated(rightTriangle(1), 3));
    ASSERT_NEAR(ShardScore(good), 1.0 / 3, 1e-12);

    EXPECT_EQ(ShardScore(""), -1);
    EXPECT_EQ(ShardScore(good.substr(0, 27)), -1);
    std::string badMagic = good;
    badMagic[1] = 'L';  // "gLTF"
    EXPECT_EQ(ShardScore(badMagic), -1);
    std::string jsonType = good;
    jsonType[19] = 'n';
    EXPECT_EQ(ShardScore(jsonType), -1);

    const uint32_t jsonLength = uint8_t(good[12]) | uint8_t(good[13]) << 8;
    std::string binaryType = good;
    binaryType[20 + jsonLength + 7] = ' ';
    EXPECT_EQ(ShardScore(binaryType), -1) << "\"BIN \" is no binary chunk";
    binaryType[20 + jsonLength + 7] = '\1';
    EXPECT_EQ(ShardScore(binaryType), -1);

    // A JSON chunk that claims more than the file holds.
    std::string tooLong = good;
    tooLong[12] = char(good.size() - 27);
    tooLong[13] = char((good.size() - 27) >> 8);
    EXPECT_EQ(ShardScore(tooLong), -1);
    // Text after the JSON document doesn't parse.
    std::string trailing = good;
    trailing[20 + jsonLength - 1] = 'x';
    EXPECT_EQ(ShardScore(trailing), -1);
}

TEST(ShardScore, AJsonChunkThatTakesTheWholeFileLeavesAnEmptyBuffer) {
    // Exactly the 28 fixed bytes around an empty document: no buffer, no triangles.
    EXPECT_EQ(ShardScore(glbFile("{}", "")), -1);
    const std::string json = R"({"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
                             R"("accessors":[{"bufferView":0,"componentType":5126,"count":0}],"bufferViews":[{}]})";
    EXPECT_EQ(ShardScore(glbFile(json, "")), -1);
}

TEST(ShardScore, ABinaryChunkCutShortIsReadAsFarAsItGoes) {
    const std::string whole = glbOfTriangles(repeated(rightTriangle(1), 3));
    // The binary chunk says 36 bytes; 8 more bytes of nothing after the file
    // don't count, and cutting into the vertices refuses the accessor.
    EXPECT_NEAR(ShardScore(whole + std::string(8, '\0')), 1.0 / 3, 1e-12);
    EXPECT_EQ(ShardScore(whole.substr(0, whole.size() - 1)), -1);
}

// ---- The score in words ----

TEST(ShardScoreText, WritesTheScoreAsAWholePercentage) {
    EXPECT_EQ(ShardScoreText(0.6), L"60% of its surface in its biggest 2% of triangles");
    EXPECT_EQ(ShardScoreText(0.02), L"2% of its surface in its biggest 2% of triangles");
    EXPECT_EQ(ShardScoreText(1), L"100% of its surface in its biggest 2% of triangles");
    EXPECT_EQ(ShardScoreText(0.9949), L"99% of its surface in its biggest 2% of triangles");
}

TEST(ShardScore, TheThresholdIsStrict) {
    EXPECT_FALSE(IsInShards(0.55));
    EXPECT_TRUE(IsInShards(0.5500001));
    EXPECT_FALSE(IsInShards(-1));
}
