// Reading the launcher's options and the pass-through argument text.
#include <gtest/gtest.h>

#include "core/command_line.h"

using namespace vorlane;

namespace {

struct Parsed {
    LauncherState state;
    StartOptions options;
};

Parsed parse(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"Vorlane Launcher.exe");
    Parsed parsed;
    parsed.options = parseOptions(arguments, parsed.state);
    return parsed;
}

class CheckEvery : public ::testing::Test {
protected:
    void SetUp() override { checkEveryMs = kDefaultCheckEveryMs; }
    void TearDown() override { checkEveryMs = kDefaultCheckEveryMs; }
};

}  // namespace

TEST(Options, ValuesGoWhereTheyBelong) {
    Parsed p = parse({L"--root", L"C:\\R", L"--server", L"http://a;;http://b;", L"--zip", L"C:\\z.zip",
                      L"--fail-after", L"-5", L"--no-shortcuts", L"--shortcut-folder", L"C:\\S", L"--auto",
                      L"install"});
    EXPECT_EQ(p.state.rootFolder, L"C:\\R");
    EXPECT_EQ(p.state.servers, (std::vector<std::wstring>{L"http://a", L"http://b"}));
    EXPECT_EQ(p.state.zipPath, L"C:\\z.zip");
    EXPECT_EQ(p.state.failAfter, -5);
    EXPECT_FALSE(p.state.makeShortcuts);
    EXPECT_EQ(p.state.shortcutFolder, L"C:\\S");
    ASSERT_TRUE(p.options.command.has_value());
    EXPECT_EQ(*p.options.command, L"install");
    EXPECT_FALSE(p.options.updated);
}

TEST(Options, ServerPiecesAreNotTrimmed) {
    Parsed p = parse({L"--server", L" http://a ; http://b"});
    EXPECT_EQ(p.state.servers, (std::vector<std::wstring>{L" http://a ", L" http://b"}));
}

TEST(Options, AnOptionAtTheEndHasNoValueAndIsIgnored) {
    Parsed p = parse({L"--zip"});
    EXPECT_TRUE(p.state.zipPath.empty());
    Parsed q = parse({L"--auto"});
    EXPECT_FALSE(q.options.command.has_value());
}

TEST(Options, TheNextArgumentIsTheValueWhateverItLooksLike) {
    Parsed p = parse({L"--root", L"--auto", L"play"});
    EXPECT_EQ(p.state.rootFolder, L"--auto");
    EXPECT_FALSE(p.options.command.has_value());
}

TEST(Options, NamesAreMatchedExactlyAndUnknownArgumentsSkipped) {
    Parsed p = parse({L"--ROOT", L"x", L"--Auto", L"install", L"stray", L"--no-shortcuts=1"});
    EXPECT_TRUE(p.state.rootFolder.empty());
    EXPECT_FALSE(p.options.command.has_value());
    EXPECT_TRUE(p.state.makeShortcuts);
}

TEST(Options, ARepeatedOptionTakesItsLastValue) {
    Parsed p = parse({L"--root", L"A", L"--root", L"B", L"--auto", L"x", L"--auto", L"y"});
    EXPECT_EQ(p.state.rootFolder, L"B");
    EXPECT_EQ(*p.options.command, L"y");
}

TEST(Options, ThemeSubjectsAndNamesAreCollectedInOrder) {
    Parsed p = parse({L"--theme-subject", L"Tower_Chain", L"--theme-called", L"Arc", L"--theme-subject", L"Enemy_Imp",
                      L"--theme-called", L"Imp", L"--theme-name", L"Frost", L"--theme-style", L"icy", L"--ground-style",
                      L"snow", L"--theme-base", L"base", L"--theme-dir", L"D", L"--theme-folder", L"F", L"--comfy",
                      L"http://127.0.0.1:8188", L"--make", L"icons", L"--models-from", L"http://127.0.0.1:9",
                      L"--make-again", L"--seed", L"-42", L"--lighting", L"dusk"});
    const CreateThemeOptions& t = p.options.theme;
    EXPECT_EQ(t.subjects, (std::vector<std::wstring>{L"Tower_Chain", L"Enemy_Imp"}));
    EXPECT_EQ(t.called, (std::vector<std::wstring>{L"Arc", L"Imp"}));
    EXPECT_EQ(t.themeName, L"Frost");
    EXPECT_EQ(t.themeStyle, L"icy");
    EXPECT_EQ(t.groundStyle, L"snow");
    EXPECT_EQ(t.themeBase, L"base");
    EXPECT_EQ(t.themeDir, L"D");
    EXPECT_EQ(t.themeFolder, L"F");
    EXPECT_EQ(t.comfy, L"http://127.0.0.1:8188");
    EXPECT_EQ(t.make, L"icons");
    EXPECT_EQ(t.modelsFrom, L"http://127.0.0.1:9");
    EXPECT_TRUE(t.makeAgain);
    ASSERT_TRUE(t.seed.has_value());
    EXPECT_EQ(*t.seed, -42);
    EXPECT_EQ(t.lighting, L"dusk");
}

TEST(Options, FailAfterReadsSixtyFourBitsAndIgnoresNonNumbers) {
    EXPECT_EQ(parse({L"--fail-after", L"9000000000"}).state.failAfter, 9000000000LL);
    EXPECT_EQ(parse({L"--fail-after", L"0"}).state.failAfter, 0);
    EXPECT_EQ(parse({L"--fail-after", L"lots"}).state.failAfter, -1);
    EXPECT_EQ(parse({L"--fail-after", L"99999999999999999999"}).state.failAfter, -1);
}

TEST(Options, UpdatedIsAFlag) {
    Parsed p = parse({L"--updated", L"--root", L"R"});
    EXPECT_TRUE(p.options.updated);
    EXPECT_EQ(p.state.rootFolder, L"R");
}

TEST_F(CheckEvery, OnlyOneSecondToOneDayIsTaken) {
    parse({L"--check-every", L"0"});
    EXPECT_EQ(checkEveryMs.load(), 600000u);
    parse({L"--check-every", L"86401"});
    EXPECT_EQ(checkEveryMs.load(), 600000u);
    parse({L"--check-every", L"-5"});
    EXPECT_EQ(checkEveryMs.load(), 600000u);
    parse({L"--check-every", L"86400"});
    EXPECT_EQ(checkEveryMs.load(), 86400000u);
    parse({L"--check-every", L"1"});
    EXPECT_EQ(checkEveryMs.load(), 1000u);
    parse({L"--check-every", L"30", L"--check-every", L"0"});
    EXPECT_EQ(checkEveryMs.load(), 30000u);
}

TEST(RunArgs, EveryArgumentButUpdatedIsQuotedUnchanged) {
    std::vector<std::wstring> arguments{L"C:\\x\\Vorlane Launcher.exe", L"--root", L"C:\\My Games\\", L"--updated",
                                        L"--server", L"a\"b"};
    EXPECT_EQ(makeRunArgs(arguments), L" \"--root\" \"C:\\My Games\\\" \"--server\" \"a\"b\"");
    EXPECT_EQ(makeRunArgs({L"only-the-program"}), L"");
}

TEST(RunArgs, AHandOffAfterAnUpdateCarriesExactlyOneUpdatedFlag) {
    std::wstring passed = makeRunArgs({L"L.exe", L"--updated", L"--root", L"R", L"--updated"}) + L" --updated";
    size_t count = 0;
    for (size_t at = passed.find(L"--updated"); at != std::wstring::npos; at = passed.find(L"--updated", at + 1))
        ++count;
    EXPECT_EQ(count, 1u);
}
