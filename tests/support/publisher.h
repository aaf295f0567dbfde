// The release tool, build/bin/vorlane-publish.exe, run from a test as a release
// engineer runs it, and the kept test key it signs with.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace vorlane::testing {

struct PublishRun {
    DWORD exitCode = (DWORD)-1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs the publisher to its end, its output caught in files of the folder.
PublishRun runPublisher(const TempFolder& folder, const std::vector<std::wstring>& arguments);

// The source tree's tests\keys\test-release.key, found by walking up from the
// test program's folder; empty when it isn't there.
std::wstring keptTestKeyFile();

}  // namespace vorlane::testing
