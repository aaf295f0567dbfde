// The launcher program itself: a 64-bit Unicode GUI program that needs only
// Windows' own DLLs, so a player can run it from anywhere.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "support/launcher_process.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

struct ProgramFile {
    WORD machine = 0;
    WORD subsystem = 0;
    std::vector<std::string> imports;  // lower case
};

// Reads the PE headers and the import directory of a program file.
bool readProgram(const std::wstring& path, ProgramFile& program) {
    std::string bytes = readWholeFile(path);
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return false;
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) > bytes.size())
        return false;
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
    program.machine = nt->FileHeader.Machine;
    if (nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return true;
    program.subsystem = nt->OptionalHeader.Subsystem;

    auto* sections = IMAGE_FIRST_SECTION(nt);
    auto toOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    size_t offset = toOffset(importRva);
    while (offset && offset + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= bytes.size()) {
        auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(bytes.data() + offset);
        if (entry->Name == 0) break;
        size_t nameOffset = toOffset(entry->Name);
        if (!nameOffset || nameOffset >= bytes.size()) return false;
        std::string name = bytes.c_str() + nameOffset;
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        program.imports.push_back(name);
        offset += sizeof(IMAGE_IMPORT_DESCRIPTOR);
    }
    return true;
}

bool isWindowsOwnDll(const std::string& name) {
    // The runtime DLLs of the compiler (libstdc++, libgcc, libwinpthread) must not appear.
    if (name.rfind("api-ms-win-", 0) == 0) return true;
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return fileExists(joinPath(system, toUtf16(name)));
}

}  // namespace

TEST(ProgramFile, BothLaunchersAreSixtyFourBitGuiProgramsNeedingOnlySystemDlls) {
    for (const std::wstring& path : {developerLauncher(), testKeyLauncher()}) {
        ProgramFile program;
        ASSERT_TRUE(readProgram(path, program)) << toUtf8(path);
        EXPECT_EQ(program.machine, IMAGE_FILE_MACHINE_AMD64);
        EXPECT_EQ(program.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
        EXPECT_FALSE(program.imports.empty());
        for (const std::string& dll : program.imports) EXPECT_TRUE(isWindowsOwnDll(dll)) << dll;
    }
}
