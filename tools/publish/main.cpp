// vorlane-publish <subcommand> [arguments...]: see the table below.
#include <windows.h>

#include <cstdio>
#include <iterator>

#include "core/text.h"
#include "publish.h"

namespace publish {

namespace {

const Subcommand kSubcommands[] = {
    {L"keygen", L"<private-key-file>",
     L"makes a new P-256 signing key, writes its private half to the file (never over an existing one) and prints "
     L"the public key as 128 hex digits",
     1, 1, runKeygen},
    {L"pubkey", L"<private-key-file>", L"prints the public key of a private key file as 128 hex digits", 1, 1,
     runPubkey},
    {L"sign", L"<private-key-file> <list-file>", L"writes <list-file>.sig, the Base64 signature of the list's bytes",
     2, 2, runSign},
    {L"build",
     L"<server-folder> <private-key-file> <zip> [--released <UTC time stamp>] [--summary <text>] [--no-pieces]",
     L"copies a build zip (Vorlane-<commit>.zip) into the server folder, cuts every file of its build folder into "
     L"pieces as the launcher does and stores the pieces, their pack and the build's index under builds/ by their "
     L"SHA-256 "
     L"(not with --no-pieces), adds or replaces its record in builds.json (newest first, with Index) and signs the "
     L"list",
     3, 8, runBuild},
    {L"launcher", L"<server-folder> <private-key-file> <launcher-exe> --version <commit>",
     L"copies the launcher program into the server folder as Vorlane-Launcher-<commit>.exe, writes launcher.json "
     L"(File, Version, Sha256) and signs it",
     5, 5, runLauncher},
    {L"theme", L"<server-folder> <private-key-file> <theme-folder> --build <commit>",
     L"cuts every file of an add-on theme into pieces as the launcher does, stores the pieces and the theme's index "
     L"under themes/ by their SHA-256, adds or replaces the theme's entry for the build in themes.json and signs it",
     5, 5, runTheme},
    {L"slots", L"<server-folder> <private-key-file> <theme_slots.json>",
     L"checks that the theme slot list is an array of flat objects, each with an Id of its own and a safe File "
     L"below a theme's Import folder, copies it into the server folder as theme_slots.json and signs it",
     3, 3, runSlots},
    {L"prune", L"<server-folder> [--dry-run] [--keep-newer-than <seconds>]",
     L"removes the build zips, pieces, packs and indexes under builds/ and the theme indexes and pieces under "
     L"themes/ that no build of builds.json and no theme version of themes.json needs, but for files written in the "
     L"last hour (or the seconds given); --dry-run lists them and removes nothing",
     1, 4, runPrune},
};

void printUsage() {
    printError(L"Usage: vorlane-publish <command> [arguments]");
    printError(L"Commands:");
    for (const Subcommand& command : kSubcommands) {
        printError(std::wstring(L"  ") + command.name + L" " + command.arguments);
        printError(std::wstring(L"      ") + command.summary + L".");
    }
}

const Subcommand* findSubcommand(const std::wstring& name) {
    for (const Subcommand& command : kSubcommands)
        if (name == command.name) return &command;
    return nullptr;
}

void writeUtf8Line(FILE* stream, const std::wstring& text) {
    std::string line = vorlane::toUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

void printLine(const std::wstring& text) { writeUtf8Line(stdout, text); }
void printError(const std::wstring& text) { writeUtf8Line(stderr, text); }

int run(int argc, wchar_t** argv) {
    if (argc < 2) {
        printUsage();
        return kExitUsage;
    }
    const Subcommand* command = findSubcommand(argv[1]);
    if (!command) {
        printError(std::wstring(L"vorlane-publish: there's no command ") + argv[1] + L".");
        printUsage();
        return kExitUsage;
    }
    Arguments arguments(argv + 2, argv + argc);
    if (arguments.size() < command->minArguments || arguments.size() > command->maxArguments) {
        printError(std::wstring(L"Usage: vorlane-publish ") + command->name + L" " + command->arguments);
        return kExitUsage;
    }
    return command->run(arguments);
}

}  // namespace publish

int wmain(int argc, wchar_t** argv) { return publish::run(argc, argv); }
