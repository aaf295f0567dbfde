// Add-on themes end to end: a release engineer publishes a theme for two
// builds with the release tool onto the nginx build server, a player's game
// has downloaded the older version, and the test-key launcher brings it up
// after an update and with the addons command. The test reads the staged
// folder, nginx's access log (only changed pieces are fetched) and
// launcher.log line by line.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

#include "addons/theme_folders.h"
#include "addons/theme_index.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "support/addon_themes.h"
#include "support/build_server.h"
#include "support/launcher_test.h"
#include "support/launcher_process.h"
#include "support/nginx_server.h"
#include "support/publisher.h"
#include "support/temp_folder.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kA = L"a1b2c3d";
const std::wstring kB = L"b2c3d4e";
const std::wstring kAReleased = L"2026-03-01T10:00:00Z";
const std::wstring kBReleased = L"2026-04-01T10:00:00Z";

ThemeVersion versionFor(const std::wstring& build) {
    std::string pak = noiseBytes(2 << 20, 21);
    std::string sig = "signature of the pak for " + toUtf8(build);
    if (build == kB) {
        for (size_t i = 0; i < 500; ++i) pak[1000000 + i] ^= 0x5A;  // one edit in the middle
    }
    return {{L"Ember.uplugin", descriptorText(build)},
            {L"Content/Paks/Ember-Windows.pak", pak},
            {L"Content/Paks/Ember-Windows.sig", sig},
            {L"theme.sig", "theme signature " + toUtf8(build)}};
}

class AddOnThemes : public LauncherTest {
protected:
    AddOnThemes() : LauncherTest(L"addons") {}

    // Publishes the theme's version for a build with vorlane-publish theme.
    void publishThemeVersion(const std::wstring& theme, const std::wstring& build, const ThemeVersion& version) {
        const std::wstring folder = temp.file(L"make-" + build + L"\\" + theme);
        writeThemeFolder(folder, version);
        ASSERT_TRUE(publishTheme(temp, server->folder(), folder, build));
    }

    std::wstring themesFolderOf(const std::wstring& build) {
        return joinPath(root, L"Game\\" + build + L"\\Vorlane-" + build +
                                  L"\\Vorlane\\Saved\\PersistentDownloadDir\\Themes");
    }

    // The index themes.json names for the theme and build, read back from the server folder.
    ThemeIndex publishedIndex(const std::wstring& theme, const std::wstring& build, std::wstring& hash) {
        JsonValue list;
        EXPECT_TRUE(parseDocument(readTestFile(joinPath(server->folder(), L"themes.json")), list));
        for (const JsonValue& entry : list.items)
            if (textWide(member(entry, "Theme")) == theme && textWide(member(entry, "Build")) == build)
                hash = textWide(member(entry, "Index"));
        ThemeIndex index;
        EXPECT_EQ(readThemeIndex(readTestFile(joinPath(server->folder(), L"themes\\" + hash)), theme, build, index)
                      .verdict,
                  IndexVerdict::Good);
        return index;
    }

    // How often nginx was asked for a file of this server.
    size_t requestsFor(const std::wstring& name) {
        return nginxRequestsFor(requestPath(name)).size();
    }

    // The lines of one run after its start line, which names the launcher's version.
    std::vector<std::wstring> runLines() {
        std::vector<std::wstring> lines = newLogLines();
        EXPECT_FALSE(lines.empty());
        if (lines.empty()) return lines;
        EXPECT_TRUE(lines[0].starts_with(L"Started launcher ")) << toUtf8(lines[0]);
        return std::vector<std::wstring>(lines.begin() + 1, lines.end());
    }

    std::wstring listLine(size_t count, const std::wstring& latest) {
        return L"The build server at " + server->url() + L" lists " + std::to_wstring(count) +
               L" builds; the latest is " + latest + L".";
    }

    static std::wstring readyLine(const std::wstring& build, uint64_t reused, uint64_t downloaded) {
        return L"Add-on theme Ember is ready for build " + build + L": " + std::to_wstring(reused >> 10) +
               L" KB from your copy, " + std::to_wstring(downloaded >> 10) +
               L" KB downloaded. The game puts it in place when it starts.";
    }

    void expectStaged(const std::wstring& themes, const ThemeVersion& version, const std::wstring& index) {
        const std::wstring staged = joinPath(themes, L".Ember");
        for (const ThemeFileBytes& file : version) {
            std::wstring path = joinPath(staged, file.path);
            std::replace(path.begin(), path.end(), L'/', L'\\');
            EXPECT_TRUE(readTestFile(path) == file.bytes) << toUtf8(file.path);
        }
        EXPECT_EQ(readTestFile(joinPath(staged, kInstallMarker)), toUtf8(index));
        EXPECT_FALSE(folderExists(joinPath(themes, L".Ember.next")));
        EXPECT_FALSE(folderExists(joinPath(themes, L".Ember.tried")));
    }

private:
};

}  // namespace

TEST_F(AddOnThemes, AnUpdateStagesTheThemesNewVersionFetchingOnlyTheChangedPieces) {
    const ThemeVersion a = versionFor(kA), b = versionFor(kB);
    publishThemeVersion(L"Ember", kA, a);
    publishThemeVersion(L"Ember", kB, b);
    server->publishBuild(kA, kAReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    newLogLines();

    // The game downloads the theme made for A into its add-on themes folder.
    writeThemeFolder(joinPath(themesFolderOf(kA), L"Ember"), a);
    ASSERT_EQ(runCommand(L"addons"), 0u);
    EXPECT_EQ(runLines(), (std::vector<std::wstring>{listLine(1, kA), L"Done (addons, exit 0, installed: " + kA + L")."}));
    EXPECT_EQ(requestsFor(L"themes.json"), 0u);  // the theme is A's: nothing to ask

    // Build B comes out; the update carries the theme over in the saved data and brings it up.
    server->publishBuild(kB, kBReleased);
    std::wstring indexA, indexB;
    const ThemeIndex publishedA = publishedIndex(L"Ember", kA, indexA);
    const ThemeIndex publishedB = publishedIndex(L"Ember", kB, indexB);
    std::set<std::wstring> piecesOfA;
    for (const ThemeFile& file : publishedA.files)
        for (const ThemePiece& piece : file.pieces) piecesOfA.insert(toHex(piece.hash));
    uint64_t reused = 0, downloaded = 0;
    std::set<std::wstring> changed;
    for (const ThemeFile& file : publishedB.files)
        for (const ThemePiece& piece : file.pieces) {
            (piecesOfA.count(toHex(piece.hash)) ? reused : downloaded) += piece.size;
            if (!piecesOfA.count(toHex(piece.hash))) changed.insert(toHex(piece.hash));
        }
    ASSERT_GT(reused, 1u << 20);
    ASSERT_GE(changed.size(), 4u);  // the descriptor, the edited pak piece, both signatures

    ASSERT_EQ(runCommand(L"update"), 0u);
    EXPECT_EQ(runLines(), (std::vector<std::wstring>{listLine(2, kB), L"Installed build " + kB + L" (previous: " + kA + L").",
                                                     readyLine(kB, reused, downloaded),
                                                     L"Done (update, exit 0, installed: " + kB + L")."}));
    expectStaged(themesFolderOf(kB), b, indexB);
    // The live theme is left for the game to swap at its next start.
    EXPECT_EQ(readTestFile(joinPath(themesFolderOf(kB), L"Ember\\Ember.uplugin")), descriptorText(kA));

    EXPECT_EQ(requestsFor(L"themes.json"), 1u);
    EXPECT_EQ(requestsFor(L"themes.json.sig"), 1u);
    EXPECT_EQ(requestsFor(L"themes/" + indexB), 1u);
    EXPECT_EQ(requestsFor(L"themes/" + indexA), 0u);
    for (const ThemeFile& file : publishedB.files)
        for (const ThemePiece& piece : file.pieces)
            EXPECT_EQ(requestsFor(L"themes/" + toHex(piece.hash)), changed.count(toHex(piece.hash)) ? 1u : 0u) << toUtf8(file.path);

    // With the new version waiting, addons has nothing to do and asks nothing.
    ASSERT_EQ(runCommand(L"addons"), 0u);
    EXPECT_EQ(runLines(), (std::vector<std::wstring>{listLine(2, kB), L"Done (addons, exit 0, installed: " + kB + L")."}));
    EXPECT_EQ(requestsFor(L"themes.json"), 1u);
}

TEST_F(AddOnThemes, TheAddonsCommandBringsThemesUpOnItsOwnAndRefusesAnAlteredList) {
    const ThemeVersion a = versionFor(kA), b = versionFor(kB);
    publishThemeVersion(L"Ember", kB, b);
    server->publishBuild(kB, kBReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    newLogLines();

    // The player has A's version of Ember and a theme nobody made for B.
    const std::wstring themes = themesFolderOf(kB);
    writeThemeFolder(joinPath(themes, L"Ember"), a);
    writeThemeFolder(joinPath(themes, L"Frost"), {{L"Frost.uplugin", descriptorText(kA)}});
    std::wstring indexB;
    const ThemeIndex publishedB = publishedIndex(L"Ember", kB, indexB);
    uint64_t total = 0;
    for (const ThemeFile& file : publishedB.files) total += file.size;

    ASSERT_EQ(runCommand(L"addons"), 0u);
    std::vector<std::wstring> lines = runLines();
    const std::wstring frostLine = L"Add-on theme Frost was made for build " + kA + L", and " + server->url() +
                                   L" has no version of it for build " + kB +
                                   L": it stays as it is, and the game skips it.";
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], listLine(1, kB));
    // The themes come in the order the folder lists them.
    std::vector<std::wstring> middle(lines.begin() + 1, lines.begin() + 3);
    std::sort(middle.begin(), middle.end());
    ASSERT_TRUE(middle[0].starts_with(L"Add-on theme Ember is ready for build " + kB + L": "));
    EXPECT_EQ(middle[1], frostLine);
    EXPECT_EQ(lines[3], L"Done (addons, exit 0, installed: " + kB + L").");
    expectStaged(themes, b, indexB);
    // Reused and downloaded add up to the whole theme.
    unsigned long long reusedKiB = 0, downloadedKiB = 0;
    ASSERT_EQ(swscanf(middle[0].c_str(), (L"Add-on theme Ember is ready for build " + kB + L": %llu KB from your copy, %llu KB").c_str(),
                      &reusedKiB, &downloadedKiB),
              2);
    EXPECT_GT(reusedKiB, 1000u);
    EXPECT_LE(reusedKiB + downloadedKiB, total >> 10);
    EXPECT_GE(reusedKiB + downloadedKiB + 2, total >> 10);

    // themes.json changed after it was signed: nothing from it is used.
    const std::wstring list = joinPath(server->folder(), L"themes.json");
    const std::string text = readTestFile(list);
    ASSERT_TRUE(writeFileAtomically(list, text + " "));
    ASSERT_EQ(runCommand(L"addons"), 1u);
    const std::wstring refused = L"The add-on themes list from " + server->url() +
                                 L" isn't signed with Vorlane's key, so nothing from it is used.";
    EXPECT_EQ(runLines(), (std::vector<std::wstring>{listLine(1, kB),
                                                     refused + L" (themes.json.sig isn't the key's signature of it.)",
                                                     L"Done (addons, exit 1, installed: " + kB + L")."}));
}

// A theme update killed at its 8th fetched piece carries on at the next run
// from what it wrote: no piece its record names is asked for again, and the
// staged theme is the version published.
TEST_F(AddOnThemes, AThemeUpdateKilledHalfWayCarriesOnWithoutFetchingWhatItWrote) {
    ThemeVersion b = versionFor(kB);
    b[1].bytes = noiseBytes(3 << 20, 22);  // a pak of new pieces only
    publishThemeVersion(L"Ember", kB, b);
    server->publishBuild(kB, kBReleased);
    ASSERT_EQ(runCommand(L"install"), 0u);
    const std::wstring themes = themesFolderOf(kB);
    writeThemeFolder(joinPath(themes, L"Ember"), versionFor(kA));
    std::wstring indexB;
    std::set<std::wstring> pieces;
    for (const ThemeFile& file : publishedIndex(L"Ember", kB, indexB).files)
        for (const ThemePiece& piece : file.pieces) pieces.insert(toHex(piece.hash));

    SetEnvironmentVariableW(L"VORLANE_CRASH_AT", L"piece-fetched:8");
    ASSERT_EQ(runCommand(L"addons"), 99u);
    SetEnvironmentVariableW(L"VORLANE_CRASH_AT", nullptr);
    const std::string record = readTestFile(joinPath(themes, L".Ember.next\\.pieces-done"));
    std::map<std::wstring, size_t> asked;  // by piece: requests before the second run
    for (const std::wstring& hash : pieces) asked[hash] = requestsFor(L"themes/" + hash);
    std::set<std::wstring> written;
    for (size_t at = 0; at + 64 <= record.size(); at = record.find('\n', at) + 1) {
        written.insert(toUtf16(record.substr(at, 64)));
        if (record.find('\n', at) == std::string::npos) break;
    }
    ASSERT_GE(written.size(), 8u);

    ASSERT_EQ(runCommand(L"addons"), 0u);
    expectStaged(themes, b, indexB);
    for (const std::wstring& hash : written) EXPECT_EQ(requestsFor(L"themes/" + hash), asked[hash]) << toUtf8(hash);
}

TEST_F(AddOnThemes, ThePublisherRefusesAThemeTheLauncherWouldRefuse) {
    const std::wstring folder = temp.file(L"make\\Ember");
    ThemeVersion version = versionFor(kA);
    version.push_back({L"Content/Paks/readme.txt", "not a pak"});
    writeThemeFolder(folder, version);
    PublishRun run = runPublisher(temp, {L"theme", server->folder(), keptTestKeyFile(), folder, L"--build", kA});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("Content/Paks/readme.txt"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(joinPath(server->folder(), L"themes.json")));

    // A descriptor that names another build would be fetched again and again.
    const std::wstring other = temp.file(L"other\\Ember");
    writeThemeFolder(other, versionFor(kA));
    run = runPublisher(temp, {L"theme", server->folder(), keptTestKeyFile(), other, L"--build", kB});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("VorlaneBaseRelease"), std::string::npos) << run.err;

    // Too many files.
    const std::wstring many = temp.file(L"many\\Ember");
    ThemeVersion crowded{{L"Ember.uplugin", descriptorText(kA)}};
    for (int i = 0; i < 64; ++i) crowded.push_back({L"Content/Paks/p" + std::to_wstring(i) + L".pak", "x"});
    writeThemeFolder(many, crowded);
    run = runPublisher(temp, {L"theme", server->folder(), keptTestKeyFile(), many, L"--build", kA});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("65 files"), std::string::npos) << run.err;
}
