// The model check over a theme folder: which folder it reads, which files it
// scores, and its report line by line.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "glb_writer/glb_writer.h"
#include "support/temp_folder.h"
#include "themes/model_check.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kRule = L" model(s) in shards (over 55% of the surface in the biggest 2% of triangles)";

class ModelCheckTest : public ::testing::Test {
protected:
    TempFolder theme{L"vorlane-models"};
    std::vector<std::wstring> lines;

    void write(const std::wstring& name, const std::string& bytes) {
        ASSERT_TRUE(makeFolderTree(parentFolder(theme.file(name))));
        theme.writeFile(name, bytes);
    }
    bool check() {
        return ModelCheck(theme.path(), [this](const std::wstring& line) { lines.push_back(line); });
    }
};

}  // namespace

TEST_F(ModelCheckTest, ListsTheTornModelsMostTornFirst) {
    write(L"Models\\whole.glb", cubeModel());
    write(L"Models\\Towers\\Spire.glb", cubeModel(250));        // 63%
    write(L"Models\\Enemies\\Big\\Brute.GLB", cubeModel(2500));  // 94%
    write(L"Models\\notes.txt", "not a model");
    write(L"Models\\.glb", gitLfsPointer());  // a name too short to be a model's

    EXPECT_TRUE(check());
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"Model check of " + theme.file(L"Models") + L": 2 of 3" + kRule + L", most torn first:",
                         L"  Enemies\\Big\\Brute.GLB: 94% of its surface in its biggest 2% of triangles.",
                         L"  Towers\\Spire.glb: 63% of its surface in its biggest 2% of triangles.",
                     }));
}

TEST_F(ModelCheckTest, NamesEveryFileWithNothingToMeasureBeforeTheSummary) {
    write(L"Models\\Foliage\\Fern.glb", gitLfsPointer());
    write(L"Models\\whole.glb", cubeModel());

    EXPECT_TRUE(check());
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"  Foliage\\Fern.glb has no triangles it can measure (is it a GLB, or a Git LFS pointer "
                         L"to one?).",
                         L"Model check of " + theme.file(L"Models") + L": 0 of 1" + kRule + L".",
                     }));
}

TEST_F(ModelCheckTest, NothingMeasuredIsAFailure) {
    write(L"Models\\lines.glb", [] {
        GlbWriter writer;
        const Triangle t = sliver(1);
        writer.addMesh({{writer.addPositions({t.a, t.b, t.c}), std::nullopt, 1}});
        return writer.bytes();
    }());
    write(L"Models\\empty.glb", "");

    EXPECT_FALSE(check());
    ASSERT_EQ(lines.size(), 3u);
    // The two files come in the file system's order.
    std::vector<std::wstring> unmeasured{lines[0], lines[1]};
    std::sort(unmeasured.begin(), unmeasured.end());
    EXPECT_EQ(unmeasured, (std::vector<std::wstring>{
                              L"  empty.glb has no triangles it can measure (is it a GLB, or a Git LFS pointer to one?).",
                              L"  lines.glb has no triangles it can measure (is it a GLB, or a Git LFS pointer to one?).",
                          }));
    EXPECT_EQ(lines[2], L"Model check of " + theme.file(L"Models") + L": 0 of 0" + kRule + L".");
}

TEST_F(ModelCheckTest, ReadsTheImportFolderWhenThereIsNoModelsFolder) {
    write(L"Import\\Models\\Tower.glb", cubeModel(2500));
    EXPECT_TRUE(check());
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"Model check of " + theme.file(L"Import\\Models") + L": 1 of 1" + kRule +
                             L", most torn first:",
                         L"  Tower.glb: 94% of its surface in its biggest 2% of triangles.",
                     }));
}

TEST_F(ModelCheckTest, AModelsFolderIsReadEvenWhenEmpty) {
    theme.makeFolder(L"Models");
    write(L"Import\\Models\\Tower.glb", cubeModel());
    EXPECT_FALSE(check());
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"Model check of " + theme.file(L"Models") + L": 0 of 0" + kRule + L"."}));
}

TEST_F(ModelCheckTest, AThemeWithoutModelsReportsNoneAndFails) {
    EXPECT_FALSE(check());
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"Model check of " + theme.file(L"Import\\Models") + L": 0 of 0" +
                                                kRule + L"."}));
}

TEST_F(ModelCheckTest, AThemeFolderThatIsntThereReportsNoneAndFails) {
    lines.clear();
    const std::wstring missing = theme.file(L"Nowhere");
    EXPECT_FALSE(ModelCheck(missing, [this](const std::wstring& line) { lines.push_back(line); }));
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"Model check of " + missing + L"\\Import\\Models: 0 of 0" + kRule + L"."}));
}
