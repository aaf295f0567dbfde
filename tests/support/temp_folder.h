// A fresh folder under the system's temporary folder for one test, removed with
// everything in it when the object goes.
#pragma once

#include <string>

namespace vorlane::testing {

class TempFolder {
public:
    // Makes a new, empty folder whose name starts with `prefix`; the test fails
    // (through a GoogleTest assertion) if that isn't possible.
    explicit TempFolder(const std::wstring& prefix = L"vorlane-test");
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    // The folder, without a trailing "\".
    const std::wstring& path() const { return path_; }
    // A path inside the folder (the name may hold "\" for deeper levels); nothing is created.
    std::wstring file(const std::wstring& name) const;

    // Writes `bytes` as the whole file `name` inside the folder (its folder must
    // exist) and returns its path. Independent of the launcher's own file helpers.
    std::wstring writeFile(const std::wstring& name, const std::string& bytes) const;
    // Makes the folder `name` inside the folder (one level) and returns its path.
    std::wstring makeFolder(const std::wstring& name) const;

private:
    std::wstring path_;
};

// The whole file, read without the launcher's helpers and while another program
// may still be writing it (as the launcher does its log); empty when it can't be read.
std::string readTestFile(const std::wstring& path);

// Deletes a folder tree depth first, clearing read-only attributes on the way.
void removeTree(const std::wstring& folder);

}  // namespace vorlane::testing
