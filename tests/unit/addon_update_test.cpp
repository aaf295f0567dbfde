// Add-on theme updates in this process against the in-process test server:
// which themes need one, every sentence a failing theme can end with and what
// it leaves on disk, pieces taken from the player's copy (and from an earlier
// try that broke off) instead of downloaded, and the run over themes.json.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "pieces/piece_cutter.h"
#include "addons/theme_folders.h"
#include "addons/theme_index.h"
#include "addons/theme_update.h"
#include "core/value_count.h"
#include "core/files.h"
#include "core/files_below.h"
#include "core/launcher_state.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"
#include "net/sha256.h"
#include "support/addon_themes.h"
#include "support/launcher_process.h"
#include "support/signing_key.h"
#include "support/temp_folder.h"
#include "support/test_http_server.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

const std::wstring kOld = L"a1a1a1a";
const std::wstring kNew = L"b2b2b2b";

// The pieces of some bytes, as the launcher cuts them.
std::vector<ThemePiece> piecesOf(const std::string& bytes) {
    std::vector<ThemePiece> pieces;
    PieceCutter cutter([&](const Piece& piece) { pieces.push_back({piece.digest, piece.size}); });
    cutter.add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    cutter.finish();
    return pieces;
}

// The old version the player has, and the new one that shares most of its bytes.
ThemeVersion oldVersion() {
    return {{L"Ember.uplugin", descriptorText(kOld)},
            {L"Content/Paks/Ember.pak", noiseBytes(3 << 20, 1)},
            {L"Content/Paks/Ember.utoc", noiseBytes(20000, 2)}};
}
ThemeVersion newVersion() {
    std::string pak = noiseBytes(3 << 20, 1);
    for (size_t i = 0; i < 1000; ++i) pak[1500000 + i] ^= 0x33;
    return {{L"Ember.uplugin", descriptorText(kNew)},
            {L"Content/Paks/Ember.pak", pak},
            {L"Content/Paks/Ember.utoc", noiseBytes(20000, 3)},
            {L"Content/Paks/Sub/Extra.ucas", noiseBytes(100000, 4)}};
}

class AddOnUpdate : public ::testing::Test {
protected:
    TempFolder temp{L"addons"};
    TestHttpServer server;
    LauncherState state;
    std::vector<std::pair<double, std::wstring>> steps;
    JobProgress progress = [this](double fraction, const std::wstring& line) { steps.push_back({fraction, line}); };

    void SetUp() override {
        state.rootFolder = temp.file(L"Root");
        state.makeShortcuts = false;
        loadSettings(state);
        state.current = kNew;
        state.listSource = server.baseUrl();
        state.servers = {state.listSource};
        ASSERT_TRUE(makeFolderTree(themesFolder()));
    }
    void TearDown() override { closeLog(state); }

    std::wstring themesFolder() { return addOnThemesFolder(state); }
    ThemeFolders folders(const std::wstring& theme = L"Ember") { return themeFolders(themesFolder(), theme); }

    // The player's copy of a theme, as the game downloaded it.
    void installTheme(const std::wstring& theme, const ThemeVersion& version) {
        writeThemeFolder(joinPath(themesFolder(), theme), version);
    }

    // Serves a version's index and pieces under /themes/; gives the index's name.
    std::wstring serveVersion(const std::wstring& theme, const std::wstring& build, const ThemeVersion& version,
                              std::set<std::wstring> withhold = {}) {
        ThemeIndex index{theme, build, {}};
        for (const ThemeFileBytes& file : version) {
            ThemeFile listed{file.path, file.bytes.size(), sha256Hex(file.bytes), piecesOf(file.bytes)};
            uint64_t offset = 0;
            for (const ThemePiece& piece : listed.pieces) {
                if (!withhold.count(toHex(piece.hash))) servePiece(toHex(piece.hash), file.bytes.substr(offset, piece.size));
                offset += piece.size;
            }
            index.files.push_back(listed);
        }
        return serveIndex(themeIndexJson(index));
    }
    std::wstring serveIndex(const std::string& text) {
        const std::wstring hash = sha256Hex(text);
        server.serve("/themes/" + toUtf8(hash), text);
        return hash;
    }
    void servePiece(const std::wstring& hash, const std::string& bytes) { server.serve("/themes/" + toUtf8(hash), bytes); }

    // themes.json signed with the test release key.
    void serveList(const std::string& text) {
        server.serve("/themes.json", text);
        server.serve("/themes.json.sig", testSigningKey()->sign(text));
    }
    static std::string entry(const std::wstring& theme, const std::wstring& build, const std::wstring& index) {
        return "{\"Theme\": \"" + toUtf8(theme) + "\", \"Build\": \"" + toUtf8(build) + "\", \"Index\": \"" +
               toUtf8(index) + "\"}";
    }

    // The pieces and indexes asked for, in order.
    std::vector<std::string> objectRequests() {
        std::vector<std::string> asked;
        for (const LoggedRequest& request : server.requests())
            if (request.target.rfind("/themes/", 0) == 0) asked.push_back(request.target.substr(8));
        return asked;
    }

    std::vector<std::wstring> log() { return logMessages(state.rootFolder); }

    // Bytes of the new version's pieces found in, or missing from, the given versions.
    std::pair<uint64_t, uint64_t> reusedAndMissing(const ThemeVersion& wanted, const std::vector<ThemeVersion>& have,
                                                   std::vector<std::wstring>* missing = nullptr) {
        std::set<std::wstring> present;
        for (const ThemeVersion& version : have)
            for (const ThemeFileBytes& file : version)
                for (const ThemePiece& piece : piecesOf(file.bytes)) present.insert(toHex(piece.hash));
        uint64_t reused = 0, downloaded = 0;
        for (const ThemeFileBytes& file : wanted)
            for (const ThemePiece& piece : piecesOf(file.bytes)) {
                if (present.count(toHex(piece.hash))) {
                    reused += piece.size;
                } else {
                    downloaded += piece.size;
                    if (missing) missing->push_back(toHex(piece.hash));
                }
            }
        return {reused, downloaded};
    }

    static std::wstring readyLine(uint64_t reused, uint64_t downloaded) {
        return L"Add-on theme Ember is ready for build " + kNew + L": " + std::to_wstring(reused >> 10) +
               L" KB from your copy, " + std::to_wstring(downloaded >> 10) +
               L" KB downloaded. The game puts it in place when it starts.";
    }

    void expectStaged(const std::wstring& folder, const ThemeVersion& version, const std::wstring& index) {
        for (const ThemeFileBytes& file : version) {
            std::wstring path = joinPath(folder, file.path);
            std::replace(path.begin(), path.end(), L'/', L'\\');
            EXPECT_TRUE(readTestFile(path) == file.bytes) << toUtf8(file.path);
        }
        EXPECT_EQ(readTestFile(joinPath(folder, kInstallMarker)), toUtf8(index));
    }

    bool updateEmber(const std::wstring& index) { return updateTheme(state, L"Ember", index, progress); }
};

bool contains(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

// --- Which themes need an update ---

TEST_F(AddOnUpdate, OnlyThemesMadeForAnotherBuildAreListed) {
    installTheme(L"Ember", oldVersion());
    installTheme(L"Plus", {{L"Plus.uplugin", descriptorText(kNew + L"+")}});
    installTheme(L"Current", {{L"Current.uplugin", descriptorText(kNew)}});
    installTheme(L"NoBuild", {{L"NoBuild.uplugin", "{\"FileVersion\": 3}"}});
    installTheme(L"Broken", {{L"Broken.uplugin", "{\"VorlaneBaseRelease\": "}});
    installTheme(L"NotANumber", {{L"NotANumber.uplugin", "{\"VorlaneBaseRelease\": 7}"}});
    installTheme(L"Bad-Name", {{L"Bad-Name.uplugin", descriptorText(kOld)}});
    installTheme(L"NoDescriptor", {{L"Other.uplugin", descriptorText(kOld)}});
    installTheme(L".Hidden", {{L".Hidden.uplugin", descriptorText(kOld)}});

    std::vector<InstalledTheme> listed = listThemesToUpdate(state);
    std::sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].name, L"Broken");
    EXPECT_EQ(listed[0].build, L"");
    EXPECT_EQ(listed[1].name, L"Ember");
    EXPECT_EQ(listed[1].build, kOld);
    EXPECT_EQ(listed[2].name, L"NoBuild");
    EXPECT_EQ(listed[3].name, L"NotANumber");

    state.current.clear();  // no build installed: no add-on themes folder
    EXPECT_TRUE(listThemesToUpdate(state).empty());
}

TEST_F(AddOnUpdate, AVersionWaitingForThisBuildIsLeftAlone) {
    installTheme(L"Ember", oldVersion());
    writeThemeFolder(folders().staged, {{L"Ember.uplugin", descriptorText(kNew)}, {kInstallMarker, "x"}});
    installTheme(L"Frost", {{L"Frost.uplugin", descriptorText(kOld)}});
    writeThemeFolder(themeFolders(themesFolder(), L"Frost").staged,
                     {{L"Frost.uplugin", "{}"}, {kInstallMarker, "x"}});  // no build named: a staged one counts
    EXPECT_TRUE(listThemesToUpdate(state).empty());
    EXPECT_TRUE(fileExists(joinPath(folders().staged, kInstallMarker)));

    // Without its marker, a staged folder is only a source of pieces.
    DeleteFileW(joinPath(folders().staged, kInstallMarker).c_str());
    ASSERT_EQ(listThemesToUpdate(state).size(), 1u);
}

TEST_F(AddOnUpdate, AVersionWaitingForAnotherBuildLosesItsMarkerAndIsMadeAgain) {
    installTheme(L"Ember", oldVersion());
    ThemeVersion waiting = oldVersion();
    waiting[0].bytes = descriptorText(L"c3c3c3c");
    waiting.push_back({kInstallMarker, "0"});
    writeThemeFolder(folders().staged, waiting);

    const std::vector<InstalledTheme> listed = listThemesToUpdate(state);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].build, kOld);
    EXPECT_FALSE(fileExists(joinPath(folders().staged, kInstallMarker)));
    EXPECT_EQ(log().back(),
              L"Add-on theme Ember's version waiting for the next start was made for another build, so it isn't put "
              L"in place.");

    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    serveList("[" + entry(L"Ember", kNew, index) + "]");
    ASSERT_TRUE(updateAddOnThemes(state, progress)) << toUtf8(state.lastError);
    expectStaged(folders().staged, newVersion(), index);
}

// --- One theme brought up ---

TEST_F(AddOnUpdate, OnlyThePiecesThePlayerLacksAreDownloaded) {
    installTheme(L"Ember", oldVersion());
    std::vector<std::wstring> missing;
    const auto [reused, downloaded] = reusedAndMissing(newVersion(), {oldVersion()}, &missing);
    ASSERT_GT(reused, 2u << 20);                 // most of the pak is kept...
    ASSERT_GT(downloaded, 120000u);              // ...the changed piece, the new utoc and ucas are not
    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    serveList("[" + entry(L"Ember", kNew, index) + "]");

    ASSERT_TRUE(updateAddOnThemes(state, progress)) << toUtf8(state.lastError);

    expectStaged(folders().staged, newVersion(), index);
    EXPECT_FALSE(folderExists(folders().next));
    EXPECT_FALSE(folderExists(folders().tried));
    EXPECT_FALSE(fileExists(joinPath(folders().staged, L"Content\\Paks\\Ember.pak.part")));
    // The live theme is the game's: never written.
    EXPECT_TRUE(readTestFile(joinPath(folders().live, L"Ember.uplugin")) == descriptorText(kOld));
    EXPECT_TRUE(readTestFile(joinPath(folders().live, L"Content\\Paks\\Ember.pak")) == oldVersion()[1].bytes);

    // The index first, then the missing pieces, several at a time.
    std::vector<std::string> expected{toUtf8(index)}, asked = objectRequests();
    for (const std::wstring& hash : missing) expected.push_back(toUtf8(hash));
    std::sort(expected.begin() + 1, expected.end());
    if (!asked.empty()) std::sort(asked.begin() + 1, asked.end());
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(log().back(), readyLine(reused, downloaded));

    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front(), std::make_pair(0.0, std::wstring(L"Looking through your copy of Ember...")));
    const uint64_t total = 3145728 + 20000 + 100000 + descriptorText(kNew).size();
    EXPECT_EQ(steps.back(), std::make_pair(1.0, L"Bringing Ember up to this build: " +
                                                    std::to_wstring(total >> 20) + L" of " +
                                                    std::to_wstring(total >> 20) + L" MB"));
    for (size_t i = 1; i < steps.size(); ++i) EXPECT_GE(steps[i].first, steps[i - 1].first);

    // Once it waits for the game, the theme needs nothing more.
    server.clearLog();
    EXPECT_TRUE(listThemesToUpdate(state).empty());
    EXPECT_TRUE(updateAddOnThemes(state, progress));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AddOnUpdate, AnInterruptedTryIsSetAsideAndItsPiecesAreUsed) {
    installTheme(L"Ember", oldVersion());
    const ThemeVersion wanted = newVersion();
    const std::vector<ThemePiece> extraPieces = piecesOf(wanted[3].bytes);
    const std::wstring lastPiece = toHex(extraPieces.back().hash);
    const std::wstring index = serveVersion(L"Ember", kNew, wanted, {lastPiece});

    ASSERT_FALSE(updateEmber(index));
    EXPECT_EQ(state.lastError, L"a piece of Content/Paks/Sub/Extra.ucas couldn't be downloaded: The build server "
                               L"answered 404.");
    // What was assembled stays in ".next"; nothing is staged.
    EXPECT_TRUE(readTestFile(joinPath(folders().next, L"Content\\Paks\\Ember.utoc")) == wanted[2].bytes);
    EXPECT_TRUE(fileExists(joinPath(folders().next, L"Content\\Paks\\Sub\\Extra.ucas.part")));
    EXPECT_FALSE(fileExists(joinPath(folders().next, L"Content\\Paks\\Sub\\Extra.ucas")));
    EXPECT_FALSE(folderExists(folders().staged));

    // The next try takes everything the broken one fetched from the set-aside folder.
    servePiece(lastPiece, wanted[3].bytes.substr(wanted[3].bytes.size() - extraPieces.back().size));
    server.clearLog();
    ASSERT_TRUE(updateEmber(index)) << toUtf8(state.lastError);
    expectStaged(folders().staged, wanted, index);
    EXPECT_EQ(objectRequests(), (std::vector<std::string>{toUtf8(index), toUtf8(lastPiece)}));
    const uint64_t total = [&] {
        uint64_t sum = 0;
        for (const ThemeFileBytes& file : wanted) sum += file.bytes.size();
        return sum;
    }();
    EXPECT_EQ(log().back(), readyLine(total - extraPieces.back().size, extraPieces.back().size));
    EXPECT_FALSE(folderExists(folders().tried));
    EXPECT_FALSE(folderExists(folders().next));
}

TEST_F(AddOnUpdate, AStopRequestEndsTheUpdateBetweenPiecesAndTheNextTryUsesThem) {
    installTheme(L"Ember", oldVersion());
    const ThemeVersion wanted = newVersion();
    const std::wstring index = serveVersion(L"Ember", kNew, wanted);
    std::atomic<bool> stop{false};
    // Stopped once a piece has come from the server.
    JobProgress stopAfterAPiece = [&](double, const std::wstring& line) {
        if (line.starts_with(L"Bringing") && objectRequests().size() >= 2) stop = true;
    };

    EXPECT_FALSE(updateTheme(state, L"Ember", index, JobControl(stopAfterAPiece, &stop)));
    EXPECT_EQ(state.lastError, L"it was stopped; the next try uses the pieces it made so far.");
    EXPECT_TRUE(folderExists(folders().next));
    EXPECT_FALSE(folderExists(folders().staged));
    const size_t firstTry = objectRequests().size() - 1;  // the pieces, less the index

    server.clearLog();
    ASSERT_TRUE(updateEmber(index)) << toUtf8(state.lastError);
    expectStaged(folders().staged, wanted, index);
    // Over the two tries, each piece the player's copy lacks was downloaded once.
    std::vector<std::wstring> missing;
    reusedAndMissing(wanted, {oldVersion()}, &missing);
    EXPECT_GT(firstTry, 0u);
    EXPECT_EQ(firstTry + objectRequests().size() - 1, missing.size());
}

// The player's pak changes after it was cut and before its pieces are used
// (the game patched it meanwhile): its pieces no longer check out, so they
// are downloaded, and what is staged is the published version all the same.
TEST_F(AddOnUpdate, APlayersFileChangedAfterItWasCutLendsNoPieces) {
    installTheme(L"Ember", oldVersion());
    const ThemeVersion wanted = newVersion();
    const std::wstring index = serveVersion(L"Ember", kNew, wanted);
    const std::wstring pak = joinPath(folders().live, L"Content\\Paks\\Ember.pak");
    bool changed = false;
    JobProgress changeThePak = [&](double, const std::wstring& line) {
        if (line.starts_with(L"Bringing") && !changed) changed = writeFileAtomically(pak, noiseBytes(3 << 20, 5));
    };
    ASSERT_TRUE(updateTheme(state, L"Ember", index, changeThePak)) << toUtf8(state.lastError);
    EXPECT_TRUE(changed);
    expectStaged(folders().staged, wanted, index);
    EXPECT_EQ(log().back(), readyLine(0, reusedAndMissing(wanted, {}).second));
}

TEST_F(AddOnUpdate, AStagedVersionIsReplacedAndLendsItsPieces) {
    // Nothing live shares the new bytes, but an older staged version does.
    installTheme(L"Ember", {{L"Ember.uplugin", descriptorText(kOld)}});
    ThemeVersion staged = newVersion();
    staged[0].bytes = descriptorText(L"c3c3c3c");
    writeThemeFolder(folders().staged, staged);
    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    ASSERT_TRUE(updateEmber(index)) << toUtf8(state.lastError);
    expectStaged(folders().staged, newVersion(), index);
    EXPECT_EQ(objectRequests().size(), 2u);  // the index and the new descriptor
}

// --- Every way one theme can fail ---

TEST_F(AddOnUpdate, AnIndexNameThatIsNoSha256) {
    for (const std::wstring& index : {std::wstring(), std::wstring(64, L'A'), std::wstring(63, L'a'),
                                      L"../" + std::wstring(61, L'a')}) {
        EXPECT_FALSE(updateEmber(index));
        EXPECT_EQ(state.lastError, L"themes.json names no index for it.");
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AddOnUpdate, AnIndexThatCantBeHadOrIsntTheOneNamed) {
    EXPECT_FALSE(updateEmber(std::wstring(64, L'e')));
    EXPECT_EQ(state.lastError, L"its index: The build server answered 404.");

    const std::wstring named = std::wstring(64, L'f');
    server.serve("/themes/" + toUtf8(named), "{\"Theme\": \"Ember\"}");
    EXPECT_FALSE(updateEmber(named));
    EXPECT_EQ(state.lastError, L"its index isn't the one themes.json names.");
}

TEST_F(AddOnUpdate, AnIndexOfAnotherThemeOrBuildOrScheme) {
    EXPECT_FALSE(updateEmber(serveVersion(L"Ember", kOld, newVersion())));
    EXPECT_EQ(state.lastError, L"its index isn't this theme's for this build.");
    EXPECT_FALSE(updateEmber(serveVersion(L"Frost", kNew, newVersion())));
    EXPECT_EQ(state.lastError, L"its index isn't this theme's for this build.");
    EXPECT_FALSE(updateEmber(serveIndex("not json")));
    EXPECT_EQ(state.lastError, L"its index isn't this theme's for this build.");

    EXPECT_FALSE(updateEmber(serveIndex("{\"Theme\": \"Ember\", \"Build\": \"" + toUtf8(kNew) +
                                        "\", \"Chunks\": 2, \"Files\": []}")));
    EXPECT_EQ(state.lastError,
              L"its index cuts files into pieces in a way this launcher doesn't know (a newer launcher does).");
}

TEST_F(AddOnUpdate, AHostileIndexWritesNothingAnywhere) {
    installTheme(L"Ember", oldVersion());
    const std::string hash(64, 'a');
    for (const char* path : {"../../../../../../evil.pak", "C:/evil.pak", "/evil.pak", "Content/Paks/../x.pak",
                                    "\\\\\\\\server\\\\share\\\\evil.pak", "Content/Paks/evil.exe"}) {
        const std::string text = "{\"Theme\": \"Ember\", \"Build\": \"" + toUtf8(kNew) +
                                 "\", \"Chunks\": 1, \"Files\": [{\"Path\": \"Ember.uplugin\", \"Size\": 1, "
                                 "\"Sha256\": \"" + hash + "\", \"Chunks\": [\"" + hash + ":1\"]}, {\"Path\": \"" +
                                 path + "\", \"Size\": 1, \"Sha256\": \"" + hash + "\", \"Chunks\": [\"" + hash +
                                 ":1\"]}]}";
        ThemeIndex read;
        const std::wstring shown = readThemeIndex(text, L"Ember", kNew, read).badPath;
        EXPECT_FALSE(updateEmber(serveIndex(text)));
        EXPECT_EQ(state.lastError, L"its index lists a file it can't have (" + shown + L").") << path;
    }
    EXPECT_FALSE(folderExists(folders().next));
    EXPECT_FALSE(folderExists(folders().staged));
    for (const std::wstring& file : filesBelow(temp.path()))
        EXPECT_EQ(file.find(L"evil"), std::wstring::npos) << toUtf8(file);
    EXPECT_FALSE(fileExists(L"C:\\evil.pak"));
}

TEST_F(AddOnUpdate, AnIndexThatIsNoWholeTheme) {
    ThemeVersion noDescriptor = newVersion();
    noDescriptor.erase(noDescriptor.begin());
    EXPECT_FALSE(updateEmber(serveVersion(L"Ember", kNew, noDescriptor)));
    EXPECT_EQ(state.lastError, L"its index isn't an add-on theme's (no descriptor, or too many or too big files).");

    ThemeVersion many{{L"Ember.uplugin", descriptorText(kNew)}};
    for (int i = 0; i < 64; ++i) many.push_back({L"Content/Paks/f" + std::to_wstring(i) + L".pak", "x"});
    EXPECT_FALSE(updateEmber(serveVersion(L"Ember", kNew, many)));
    EXPECT_EQ(state.lastError, L"its index isn't an add-on theme's (no descriptor, or too many or too big files).");
}

TEST_F(AddOnUpdate, AnEarlierTryThatCantBeSetAside) {
    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    ASSERT_TRUE(makeFolderTree(folders().next));
    temp.writeFile(folders().tried.substr(temp.path().size() + 1), "a file where the folder would go");
    EXPECT_FALSE(updateEmber(index));
    EXPECT_EQ(state.lastError, L"couldn't set aside what an earlier try made (" + folders().next + L").");
    EXPECT_TRUE(folderExists(folders().next));
}

TEST_F(AddOnUpdate, AFileThatCantBeWritten) {
    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    temp.writeFile(folders().next.substr(temp.path().size() + 1), "a file where the folder would go");
    EXPECT_FALSE(updateEmber(index));
    EXPECT_EQ(state.lastError, L"couldn't write " + folders().next + L"\\Ember.uplugin.");
}

TEST_F(AddOnUpdate, APieceThatCantBeDownloadedOrDoesntMatch) {
    const ThemeVersion wanted = newVersion();
    const std::vector<ThemePiece> pakPieces = piecesOf(wanted[1].bytes);
    const std::wstring first = toHex(pakPieces[0].hash);
    const std::wstring index = serveVersion(L"Ember", kNew, wanted, {first});

    EXPECT_FALSE(updateEmber(index));
    EXPECT_EQ(state.lastError, L"a piece of Content/Paks/Ember.pak couldn't be downloaded: The build server answered "
                               L"404.");

    const std::string right = wanted[1].bytes.substr(0, pakPieces[0].size);
    std::string wrong = right;
    wrong[100] ^= 1;
    for (const std::string& served : {wrong, right.substr(1), right + "more", right + std::string(3 << 20, 'x')}) {
        servePiece(first, served);
        EXPECT_FALSE(updateEmber(index));
        EXPECT_EQ(state.lastError, L"a piece of Content/Paks/Ember.pak didn't match its SHA-256.");
        EXPECT_FALSE(fileExists(joinPath(folders().next, L"Content\\Paks\\Ember.pak")));
    }
}

TEST_F(AddOnUpdate, AFileThatDoesntComeOutAsPublished) {
    const std::string bytes = noiseBytes(5000, 9);
    const std::wstring pieceHash = sha256Hex(bytes);
    servePiece(pieceHash, bytes);
    const std::string descriptor = descriptorText(kNew);
    servePiece(sha256Hex(descriptor), descriptor);
    ThemeIndex index{L"Ember", kNew, {}};
    index.files.push_back({L"Ember.uplugin", descriptor.size(), sha256Hex(descriptor), piecesOf(descriptor)});
    index.files.push_back({L"Content/Paks/Ember.pak", 5000, std::wstring(64, L'0'), {{digestOfHex(pieceHash), 5000}}});
    EXPECT_FALSE(updateEmber(serveIndex(themeIndexJson(index))));
    EXPECT_EQ(state.lastError, L"the file Content/Paks/Ember.pak didn't come out as published.");
    EXPECT_FALSE(fileExists(joinPath(folders().next, L"Content\\Paks\\Ember.pak")));
    EXPECT_TRUE(fileExists(joinPath(folders().next, L"Ember.uplugin")));
}

TEST_F(AddOnUpdate, AStagedFolderThatCantBeReplaced) {
    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    temp.writeFile(folders().staged.substr(temp.path().size() + 1), "a file where the folder would go");
    EXPECT_FALSE(updateEmber(index));
    EXPECT_EQ(state.lastError, L"couldn't put it in " + folders().staged + L".");
    // Everything assembled stays for the next try.
    EXPECT_TRUE(readTestFile(joinPath(folders().next, L"Content\\Paks\\Ember.utoc")) == newVersion()[2].bytes);
}

// --- The run over themes.json ---

TEST_F(AddOnUpdate, NothingToUpdateAsksNothing) {
    installTheme(L"Ember", newVersion());
    EXPECT_TRUE(updateAddOnThemes(state, progress));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(steps.empty());
}

TEST_F(AddOnUpdate, WithoutABuildServerThemesStayAsTheyAre) {
    installTheme(L"Ember", oldVersion());
    state.listSource.clear();
    EXPECT_TRUE(updateAddOnThemes(state, progress));
    EXPECT_EQ(log().back(), L"Add-on themes made for other builds stay as they are: no build server answered.");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AddOnUpdate, AServerThatPublishesNoThemes) {
    installTheme(L"Ember", oldVersion());
    EXPECT_TRUE(updateAddOnThemes(state, progress));
    EXPECT_EQ(log().back(), L"Add-on themes made for other builds stay as they are: " + server.baseUrl() +
                                L" publishes none (themes.json: The build server answered 404.)");
}

TEST_F(AddOnUpdate, AListThatIsntSignedOrCantBeRead) {
    installTheme(L"Ember", oldVersion());
    const std::wstring refused =
        L"The add-on themes list from " + server.baseUrl() + L" isn't signed with Vorlane's key, so nothing from it is used.";

    server.serve("/themes.json", "[]");
    EXPECT_FALSE(updateAddOnThemes(state, progress));
    EXPECT_EQ(state.lastError, refused);
    EXPECT_EQ(log().back(), refused + L" (themes.json.sig: The build server answered 404.)");

    server.serve("/themes.json.sig", freshSigningKey()->sign("[]"));
    EXPECT_FALSE(updateAddOnThemes(state, progress));
    EXPECT_EQ(log().back(), refused + L" (themes.json.sig isn't the key's signature of it.)");

    serveList("{\"Theme\": \"Ember\"}");
    EXPECT_FALSE(updateAddOnThemes(state, progress));
    EXPECT_EQ(state.lastError, L"The add-on themes list from " + server.baseUrl() + L" can't be read.");
    EXPECT_EQ(log().back(), state.lastError);

    // A signed list of more values than any list of themes needs isn't even parsed.
    std::string huge = "[";
    for (size_t i = 0; i < kMostJsonValues; ++i) huge += "0,";
    serveList(huge + "0]");
    EXPECT_FALSE(updateAddOnThemes(state, progress));
    EXPECT_EQ(state.lastError,
              L"The add-on themes list from " + server.baseUrl() + L" is too big to read, so nothing from it is used.");
    EXPECT_EQ(log().back(), state.lastError + L" (more than 1048576 JSON values)");
}

TEST_F(AddOnUpdate, AThemeWithNoVersionForThisBuildStaysAsItIs) {
    installTheme(L"Ember", oldVersion());
    serveList("[" + entry(L"Ember", kOld, std::wstring(64, L'a')) + ", " + entry(L"Frost", kNew, std::wstring(64, L'b')) +
              "]");
    EXPECT_TRUE(updateAddOnThemes(state, progress));
    EXPECT_EQ(log().back(), L"Add-on theme Ember was made for build " + kOld + L", and " + server.baseUrl() +
                                L" has no version of it for build " + kNew +
                                L": it stays as it is, and the game skips it.");
    EXPECT_FALSE(folderExists(folders().staged));
}

TEST_F(AddOnUpdate, TheLastEntryForAThemeAndBuildCounts) {
    installTheme(L"Ember", oldVersion());
    const std::wstring index = serveVersion(L"Ember", kNew, newVersion());
    serveList("[" + entry(L"Ember", kNew, std::wstring(64, L'c')) + ", " + entry(L"Ember", kNew, index) + "]");
    ASSERT_TRUE(updateAddOnThemes(state, progress)) << toUtf8(state.lastError);
    expectStaged(folders().staged, newVersion(), index);
}

TEST_F(AddOnUpdate, AThemeThatFailsDoesntStopTheNext) {
    installTheme(L"Ember", oldVersion());
    installTheme(L"Frost", {{L"Frost.uplugin", descriptorText(kOld)}});
    const std::wstring frost = serveVersion(L"Frost", kNew, {{L"Frost.uplugin", descriptorText(kNew)},
                                                             {L"theme.sig", "signed"}});
    serveList("[" + entry(L"Ember", kNew, L"nonsense") + ", " + entry(L"Frost", kNew, frost) + "]");

    EXPECT_FALSE(updateAddOnThemes(state, progress));
    const std::vector<std::wstring> lines = log();
    EXPECT_TRUE(contains(lines, L"Add-on theme Ember wasn't brought up to build " + kNew +
                                    L": themes.json names no index for it."));
    EXPECT_TRUE(contains(lines, L"Add-on theme Frost is ready for build " + kNew +
                                    L": 0 KB from your copy, 0 KB downloaded. The game puts it in place when it "
                                    L"starts."));
    EXPECT_EQ(readTestFile(themeFolders(themesFolder(), L"Frost").staged + L"\\theme.sig"), "signed");

    // Each of the two themes has its half of the bar, in the order they were listed.
    ASSERT_FALSE(steps.empty());
    const auto lineOf = [&](const wchar_t* theme) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::wstring& line) { return line.starts_with(L"Add-on theme " + std::wstring(theme)); });
    };
    const bool frostFirst = lineOf(L"Frost") < lineOf(L"Ember");
    for (const auto& [fraction, line] : steps) {
        if (line.find(L"Frost") == std::wstring::npos) continue;
        EXPECT_GE(fraction, frostFirst ? 0.0 : 0.5);
        EXPECT_LE(fraction, frostFirst ? 0.5 : 1.0);
    }
    EXPECT_EQ(steps.back().first, frostFirst ? 0.5 : 1.0);
}
