// theme-check for real: the designer's slot list published with the release
// tool onto nginx, the test-key launcher keeping it beside itself, and the
// checklist it writes compared with the kept golden file.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"
#include "support/launcher_test.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kStyle = L"frozen northern";
const std::wstring kGolden = L"tests\\golden\\theme_checklist.md";

std::wstring replaced(std::wstring text, const std::wstring& what, const std::wstring& with) {
    for (size_t at = 0; (at = text.find(what, at)) != std::wstring::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

bool anyLineHas(const std::vector<std::wstring>& lines, const std::wstring& words) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& line) { return line.find(words) != std::wstring::npos; });
}

class ThemeCheck : public LauncherTest {
protected:
    ThemeCheck() : LauncherTest(L"theme-check") {}

    void SetUp() override {
        LauncherTest::SetUp();
        publishSlotList();
        for (const wchar_t* file : {L"Icons\\Towers\\Chain.png", L"Models\\Tower_Chain.glb", L"Music\\Menu.wav"}) {
            ASSERT_TRUE(makeFolderTree(parentFolder(joinPath(import, file))));
            ASSERT_TRUE(writeFileAtomically(joinPath(import, file), "x"));
        }
        ASSERT_TRUE(makeFolderTree(joinPath(import, L"Textures\\Ground.png")));  // a folder counts too
    }

    DWORD check(const std::wstring& serverUrl = L"", bool withFolder = true) const {
        std::vector<std::wstring> more{L"--auto", L"theme-check", L"--theme-style", kStyle};
        if (withFolder) more.insert(more.end(), {L"--theme-folder", theme});
        return runToEnd(testKeyLauncher(), launcherArguments(more, serverUrl), 120000);
    }

    std::wstring theme = temp.file(L"Frost");
    std::wstring import = joinPath(theme, L"Import");
    std::wstring kept = joinPath(root, L"theme_slots.json");
    std::wstring checklist = joinPath(theme, L"THEME_CHECKLIST.md");
    std::wstring summary = L"Theme files: 4 / 49 in " + import + L" (checklist: " + checklist + L").";
};

TEST_F(ThemeCheck, KeepsTheSignedListAndRefusesWhatIsntSigned) {
    // A good list is kept with its signature, used, and the checklist written.
    EXPECT_EQ(check(), 0u);
    EXPECT_EQ(readWholeFile(kept), readWholeFile(joinPath(server->folder(), L"theme_slots.json")));
    EXPECT_EQ(readWholeFile(kept + L".sig"), readWholeFile(joinPath(server->folder(), L"theme_slots.json.sig")));
    EXPECT_TRUE(contains(newLogLines(), summary));
    const std::string golden = readWholeFile(sourceTreeFile(kGolden));
    ASSERT_FALSE(golden.empty()) << toUtf8(kGolden);
    const std::string written = readWholeFile(checklist);
    EXPECT_EQ(written, toUtf8(replaced(toUtf16(golden), L"{import}", import))) << "written: " << written.substr(0, 400);

    // The server's list changes without a new signature: refused, and the kept one stays in use.
    const std::string keptBytes = readWholeFile(kept);
    const std::wstring served = joinPath(server->folder(), L"theme_slots.json");
    ASSERT_TRUE(writeFileAtomically(served, readWholeFile(served) + "\n"));
    EXPECT_EQ(check(), 0u);
    std::vector<std::wstring> lines = newLogLines();
    EXPECT_TRUE(contains(lines, L"The theme files list from " + server->url() +
                                    L" isn't signed with Vorlane's key, so it isn't used. (theme_slots.json.sig "
                                    L"isn't the key's signature of it.)"));
    EXPECT_TRUE(contains(lines, summary));
    EXPECT_EQ(readWholeFile(kept), keptBytes);

    // The kept copy changed on disk, no server: not used at all.
    ASSERT_TRUE(writeFileAtomically(kept, "[{\"Id\":\"Evil\",\"File\":\"a.png\"}]" + keptBytes.substr(1)));
    EXPECT_EQ(check(unusedLocalServer()), 1u);
    lines = newLogLines();
    EXPECT_TRUE(contains(lines,
                         L"The kept theme files list isn't signed with Vorlane's key, so it isn't used: "
                         L"there's no list of theme files until a build server gives a signed one."));
    EXPECT_TRUE(contains(lines, L"Theme files: 0 / 0 in " + import + L" (checklist: none)."));

    // The kept copy as it was, no server: used without a word.
    ASSERT_TRUE(writeFileAtomically(kept, keptBytes));
    EXPECT_EQ(check(unusedLocalServer()), 0u);
    lines = newLogLines();
    EXPECT_FALSE(anyLineHas(lines, L"theme files list"));
    EXPECT_TRUE(contains(lines, summary));

    // No theme folder: nothing to compare, no checklist.
    EXPECT_EQ(check(unusedLocalServer(), false), 1u);
    EXPECT_TRUE(contains(newLogLines(), L"Theme files: 0 / 49 in  (checklist: none)."));
}

}  // namespace
