// tar.exe for a Wine prefix: Wine has no tar.exe of its own, so this one runs the
// system's /usr/bin/bsdtar (the same program Windows ships as tar.exe).
//
// Arguments that are Windows paths (drive letter or \\?\ form) are turned into
// Unix paths; the working folder is carried over the same way. Wine starts a
// Linux program but neither waits for it nor hands back its output or exit code,
// so bsdtar runs under /bin/sh, which writes its output and exit code to files
// in a fresh temporary folder; this program waits for the exit code file,
// copies the output to its own standard output and exits with that code.
//
// For tests of an unpack that stops early: with the environment variable
// VORLANE_TAR_STOP_AFTER=<n>, an extraction (-x ... -C <folder>) keeps only
// the first n entries it names, removes the files of the others again and
// still exits with bsdtar's code, as a tar cut short without noticing would.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using UnixNameFn = char*(__cdecl*)(const wchar_t*);

std::string unixPath(UnixNameFn toUnix, const std::wstring& windowsPath) {
    char* name = toUnix(windowsPath.c_str());
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool looksLikeWindowsPath(const std::wstring& arg) {
    if (arg.rfind(L"\\\\?\\", 0) == 0) return true;
    return arg.size() >= 3 && iswalpha(arg[0]) && arg[1] == L':' && (arg[2] == L'\\' || arg[2] == L'/');
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring utf16(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), size);
    return out;
}

// One argument quoted for the shell: inside single quotes nothing is special.
std::string shellQuote(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

// One argument quoted so that Wine's command-line splitting gives it back unchanged.
std::wstring windowsQuote(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') { ++slashes; continue; }
        if (c == L'"') out.append(slashes * 2 + 1, L'\\');
        else out.append(slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

std::string readFile(const std::wstring& path) {
    std::string data;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return data;
    char block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0) data.append(block, got);
    fclose(file);
    return data;
}

void removeWorkFolder(const std::wstring& folder) {
    for (const wchar_t* name : {L"\\out", L"\\rc", L"\\rc.tmp"}) DeleteFileW((folder + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

// Keeps the first `keep` lines of an extraction's output and removes the
// files the others name below `folder`.
std::string stopEarly(const std::string& output, size_t keep, const std::wstring& folder) {
    std::string kept;
    size_t lines = 0;
    for (size_t start = 0; start < output.size();) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        if (lines++ < keep) {
            kept += line + "\n";
        } else if (line.rfind("x ", 0) == 0) {
            std::wstring relative = utf16(line.substr(2));
            for (wchar_t& c : relative)
                if (c == L'/') c = L'\\';
            DeleteFileW((folder + L"\\" + relative).c_str());
        }
    }
    return kept;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    auto toUnix = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) {
        fwprintf(stderr, L"tar: this tar.exe only runs under Wine\n");
        return 2;
    }

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring work = std::wstring(temp) + L"tar-shim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount64());
    if (!CreateDirectoryW(work.c_str(), nullptr)) {
        fwprintf(stderr, L"tar: can't make a work folder in %ls\n", temp);
        return 2;
    }

    wchar_t cwd[32768];
    GetCurrentDirectoryW(32768, cwd);
    std::string unixWork = unixPath(toUnix, work);

    std::string script = "cd " + shellQuote(unixPath(toUnix, cwd)) + " && /usr/bin/bsdtar";
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        std::string converted = looksLikeWindowsPath(arg) ? unixPath(toUnix, arg) : utf8(arg);
        script += " " + shellQuote(converted);
    }
    script += " >" + shellQuote(unixWork + "/out") + " 2>&1; echo $? >" + shellQuote(unixWork + "/rc.tmp") +
              "; mv " + shellQuote(unixWork + "/rc.tmp") + " " + shellQuote(unixWork + "/rc");

    std::wstring commandLine = L"/bin/sh -c " + windowsQuote(utf16(script));
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fwprintf(stderr, L"tar: can't start /bin/sh (error %lu)\n", GetLastError());
        removeWorkFolder(work);
        return 2;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::wstring rcPath = work + L"\\rc";
    while (GetFileAttributesW(rcPath.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(5);
    std::string rcText = readFile(rcPath);
    std::string output = readFile(work + L"\\out");
    removeWorkFolder(work);

    wchar_t stopAfter[32];
    if (GetEnvironmentVariableW(L"VORLANE_TAR_STOP_AFTER", stopAfter, 32) > 0) {
        std::wstring folder;
        bool extracting = false;
        for (int i = 1; i < argc; ++i) {
            const std::wstring arg = argv[i];
            if (arg.size() > 1 && arg[0] == L'-' && arg[1] != L'-' && arg.find(L'x') != std::wstring::npos)
                extracting = true;
            if (arg == L"-C" && i + 1 < argc) folder = argv[i + 1];
        }
        if (extracting && !folder.empty()) output = stopEarly(output, (size_t)_wtoi(stopAfter), folder);
    }

    fwrite(output.data(), 1, output.size(), stdout);
    fflush(stdout);
    return atoi(rcText.c_str());
}
