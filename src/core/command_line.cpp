#include "core/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "core/settings.h"
#include "core/text.h"

namespace vorlane {

std::vector<std::wstring> commandLineArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(list[i]);
    LocalFree(list);
    return arguments;
}

std::wstring makeRunArgs(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"--updated") continue;
        text += L" \"" + arguments[i] + L"\"";
    }
    return text;
}

StartOptions parseOptions(const std::vector<std::wstring>& arguments, LauncherState& state) {
    StartOptions options;

    // Options that stand alone.
    struct Flag {
        const wchar_t* name;
        void (*apply)(LauncherState&, StartOptions&);
    };
    static const Flag flags[] = {
        {L"--no-shortcuts", [](LauncherState& s, StartOptions&) { s.makeShortcuts = false; }},
        {L"--make-again", [](LauncherState&, StartOptions& o) { o.theme.makeAgain = true; }},
        {L"--updated", [](LauncherState&, StartOptions& o) { o.updated = true; }},
    };

    // Options that take the next argument as their value.
    struct Valued {
        const wchar_t* name;
        void (*apply)(LauncherState&, StartOptions&, const std::wstring&);
    };
    static const Valued valued[] = {
        {L"--root", [](LauncherState& s, StartOptions&, const std::wstring& v) { s.rootFolder = v; }},
        {L"--server", [](LauncherState& s, StartOptions&, const std::wstring& v) { s.servers = splitServerList(v); }},
        {L"--zip", [](LauncherState& s, StartOptions&, const std::wstring& v) { s.zipPath = v; }},
        {L"--fail-after",
         [](LauncherState& s, StartOptions&, const std::wstring& v) {
             long long bytes;
             if (parseSigned64(v, bytes)) s.failAfter = bytes;
         }},
        {L"--auto", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.command = v; }},
        {L"--shortcut-folder", [](LauncherState& s, StartOptions&, const std::wstring& v) { s.shortcutFolder = v; }},
        {L"--theme-folder", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.themeFolder = v; }},
        {L"--theme-style", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.themeStyle = v; }},
        {L"--theme-name", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.themeName = v; }},
        {L"--ground-style", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.groundStyle = v; }},
        {L"--theme-base", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.themeBase = v; }},
        {L"--theme-subject",
         [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.subjects.push_back(v); }},
        {L"--theme-called", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.called.push_back(v); }},
        {L"--theme-dir", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.themeDir = v; }},
        {L"--comfy", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.comfy = v; }},
        {L"--make",
         [](LauncherState&, StartOptions& o, const std::wstring& v) {
             o.theme.make = v;
             o.theme.makeGiven = true;
         }},
        {L"--models-from", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.modelsFrom = v; }},
        {L"--seed",
         [](LauncherState&, StartOptions& o, const std::wstring& v) {
             long long seed;
             if (parseSigned64(v, seed)) o.theme.seed = seed;
         }},
        {L"--lighting", [](LauncherState&, StartOptions& o, const std::wstring& v) { o.theme.lighting = v; }},
        {L"--check-every",
         [](LauncherState&, StartOptions&, const std::wstring& v) {
             long long seconds;
             if (parseSigned64(v, seconds) && seconds >= 1 && seconds <= 86400)
                 checkEveryMs = (unsigned)(seconds * 1000);
         }},
    };

    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        bool matched = false;
        for (const Flag& flag : flags) {
            if (argument == flag.name) {
                flag.apply(state, options);
                matched = true;
                break;
            }
        }
        if (matched || i + 1 >= arguments.size()) continue;
        for (const Valued& option : valued) {
            if (argument == option.name) {
                option.apply(state, options, arguments[i + 1]);
                ++i;  // the value is used up
                break;
            }
        }
    }
    return options;
}

}  // namespace vorlane
