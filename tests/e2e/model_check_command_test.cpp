// The model-check command run for real: the report in launcher.log line by
// line and the exit codes.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "glb_writer/glb_writer.h"
#include "support/launcher_process.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kRule = L" model(s) in shards (over 55% of the surface in the biggest 2% of triangles)";

class ModelCheckCommand : public ::testing::Test {
protected:
    TempFolder temp{L"vorlane-model-check"};
    std::wstring root = temp.file(L"Root");
    std::wstring theme = temp.file(L"Th\u00e8me Frost");

    void write(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = joinPath(theme, name);
        ASSERT_TRUE(makeFolderTree(parentFolder(path)));
        ASSERT_TRUE(writeFileAtomically(path, bytes));
    }
    DWORD run(std::vector<std::wstring> more) {
        std::vector<std::wstring> arguments{L"--root", root, L"--server", unusedLocalServer(), L"--auto",
                                            L"model-check"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return runToEnd(developerLauncher(), arguments);
    }
    // The log from the model check's first line on.
    std::vector<std::wstring> report() {
        std::vector<std::wstring> lines = logMessages(root);
        auto first = std::find_if(lines.begin(), lines.end(), [](const std::wstring& line) {
            return line.rfind(L"  ", 0) == 0 || line.rfind(L"Model check of ", 0) == 0;
        });
        return std::vector<std::wstring>(first, lines.end());
    }
};

}  // namespace

TEST_F(ModelCheckCommand, ReportsTheTornModelOfAThemeAndSucceeds) {
    write(L"Models\\Towers\\Frost Spire.glb", cubeModel());
    write(L"Models\\Enemies\\Ice Brute.glb", cubeModel(2500));
    write(L"Models\\Foliage\\Pine.glb", gitLfsPointer());

    EXPECT_EQ(run({L"--theme-folder", theme}), 0u);
    EXPECT_EQ(report(), (std::vector<std::wstring>{
                            L"  Foliage\\Pine.glb has no triangles it can measure (is it a GLB, or a Git LFS "
                            L"pointer to one?).",
                            L"Model check of " + joinPath(theme, L"Models") + L": 1 of 2" + kRule +
                                L", most torn first:",
                            L"  Enemies\\Ice Brute.glb: 94% of its surface in its biggest 2% of triangles.",
                            L"Done (model-check, exit 0, installed: nothing).",
                        }));
}

TEST_F(ModelCheckCommand, AWholeThemeSucceedsWithNothingListed) {
    write(L"Import\\Models\\Frost Spire.glb", cubeModel());
    EXPECT_EQ(run({L"--theme-folder", theme}), 0u);
    EXPECT_EQ(report(), (std::vector<std::wstring>{
                            L"Model check of " + joinPath(theme, L"Import\\Models") + L": 0 of 1" + kRule + L".",
                            L"Done (model-check, exit 0, installed: nothing).",
                        }));
}

TEST_F(ModelCheckCommand, AThemeWithoutModelsFails) {
    ASSERT_TRUE(makeFolderTree(joinPath(theme, L"Models")));
    write(L"Models\\readme.txt", "models go here");
    EXPECT_EQ(run({L"--theme-folder", theme}), 1u);
    EXPECT_EQ(report(), (std::vector<std::wstring>{
                            L"Model check of " + joinPath(theme, L"Models") + L": 0 of 0" + kRule + L".",
                            L"Done (model-check, exit 1, installed: nothing).",
                        }));
}

TEST_F(ModelCheckCommand, WithoutAThemeFolderItChecksNothingAndFails) {
    EXPECT_EQ(run({}), 1u);
    const std::vector<std::wstring> lines = logMessages(root);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Done (model-check, exit 1, installed: nothing).");
    for (const std::wstring& line : lines) EXPECT_EQ(line.find(L"Model check"), std::wstring::npos) << toUtf8(line);
}
