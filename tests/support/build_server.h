// Builds as a release makes them: a build zip packed with the system's tar.exe,
// published with vorlane-publish.exe and the test key into a folder that the
// nginx build server serves.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/temp_folder.h"

namespace vorlane::testing {

// Makes <folder>\Vorlane-<commit>.zip holding the folder Vorlane-<commit> with
// the stand-in game as Vorlane.exe, a Build.ini that names the commit (see
// buildIniText) and the game's shipped Vorlane\Saved\Config\Default.ini. Returns the zip's path; the test fails when tar does.
// With payloadBytes, the build also carries Content\Paks\Data.pak of that many
// bytes that don't compress, so that its download takes many blocks.
// With extraFiles, the build also carries those files (paths below the build's
// folder, "\\" between parts) with those bytes; a path ending in "\\" is an
// empty folder.
using BuildFiles = std::vector<std::pair<std::wstring, std::string>>;
std::wstring makeBuildZip(const std::wstring& folder, const std::wstring& commit, size_t payloadBytes = 0,
                          const BuildFiles& extraFiles = {});

// Unpacks a build zip into folder with the system's tar.exe; the build's own
// folder (folder\Vorlane-<commit>), or empty when tar failed.
std::wstring unpackBuildZip(const std::wstring& zip, const std::wstring& folder);

// The Build.ini text a zip of makeBuildZip carries.
std::string buildIniText(const std::wstring& commit);

class TestBuildServer {
public:
    // Serves nginx's document folder + "\" + name, emptied first.
    explicit TestBuildServer(const std::wstring& name);
    TestBuildServer(const TestBuildServer&) = delete;
    TestBuildServer& operator=(const TestBuildServer&) = delete;
    ~TestBuildServer();

    const std::wstring& url() const { return url_; }
    // The same folder served at 512 KB/s, for a test to act while a download runs.
    std::wstring slowUrl() const;
    // And at a steady 8 MB/s (8 MiB a second, the launcher's MB), for a test to read the speed a download shows.
    std::wstring pacedUrl() const;
    const std::wstring& folder() const { return folder_; }

    // Whether builds are published in pieces too (builds/ and "Index"); off
    // unless asked, so that a test of the zip path gets lists without an index.
    void publishInPieces(bool on) { pieces_ = on; }

    // Lists a build zip (vorlane-publish build) with its release time; true when
    // the publisher succeeded.
    bool publish(const std::wstring& zip, const std::wstring& released, const std::wstring& summary = L"");
    // Makes and publishes the build of `commit`; gives the published zip's path.
    std::wstring publishBuild(const std::wstring& commit, const std::wstring& released, size_t payloadBytes = 0,
                              const BuildFiles& extraFiles = {});

private:
    TempFolder work_;
    std::wstring folder_;
    std::wstring url_;
    bool pieces_ = false;
};

}  // namespace vorlane::testing
