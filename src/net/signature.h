// Signed lists: a list from a build server is used only when the file beside it,
// its name + ".sig", holds an ECDSA P-256 signature of the list's exact bytes
// under the release key. The signature file is the Base64 of r then s (32 bytes
// each, big-endian); white space in it is ignored.
//
// A build without a release key (all zero) is a developer's build: it fetches no
// signature files and takes every list as signed, while verifySignature answers
// false there, so that nothing can pass a check by accident.
//
// Each function comes twice: with the release key built into the program, and
// with a key given by the caller (tests, and code that hands its key down).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/release_key.h"

namespace vorlane {

// A list fetched from a build server.
struct SignedDocument {
    std::wstring server;    // base address it came from
    std::wstring name;      // file name, such as "themes.json"
    std::string bytes;      // exactly as received
    std::string signature;  // the ".sig" text as received; empty in a developer's build
    bool answered = false;  // the list itself arrived; error is then the signature check's
    std::wstring error;     // empty when the list is good; else the download's or the check's sentence
};

bool isDeveloperKey(const ReleaseKey& key);

// True exactly when signatureText decodes to 64 bytes that verify against the key
// over the SHA-256 of bytes. Always false for the all-zero key.
bool verifySignature(const std::string& bytes, const std::string& signatureText);
bool verifySignature(const std::string& bytes, const std::string& signatureText, const ReleaseKey& key);

// Fetches server + "/" + name + ".sig" and checks it against bytes, the list
// already fetched. Empty on success, and then, when keptSignature is given, the
// signature text is handed back in it (left empty in a developer's build).
// Otherwise one of the sentences name + ".sig: " + the download's sentence, or
// name + ".sig isn't the key's signature of it.".
std::wstring checkSignature(const std::wstring& server, const std::wstring& name, const std::string& bytes,
                            std::string* keptSignature = nullptr);
std::wstring checkSignature(const std::wstring& server, const std::wstring& name, const std::string& bytes,
                            std::string* keptSignature, const ReleaseKey& key);

// Fetches server + "/" + name, then checks its signature. When the list can't be
// fetched, answered stays false and error holds the download's sentence; else
// error is checkSignature's verdict.
SignedDocument fetchSigned(const std::wstring& server, const std::wstring& name);
SignedDocument fetchSigned(const std::wstring& server, const std::wstring& name, const ReleaseKey& key);

// Why a feature doesn't take a list from a server; an empty sentence takes it.
struct Refusal {
    std::wstring sentence;  // the full sentence for the player
    std::wstring reason;    // a short form of it, for status texts; may be empty
    std::wstring detail;    // shown after the sentence in brackets in the server's line; may be empty
};

// The feature's word on a document: for a list whose signature failed (error
// holds the check's sentence), or its acceptance test on a signed list.
using RefusalRule = std::function<Refusal(const SignedDocument& document)>;

// The outcome of looking for a list server by server.
struct ServerWalk {
    bool found = false;
    SignedDocument document;         // the list taken when found
    std::vector<std::wstring> lines;  // one per server passed over, in list order
    bool anyAnswered = false;         // some server sent the list itself
    Refusal lastRefusal;              // the last server's refusal; emptied when a list is taken
};

// Tries the servers in order until one gives a list that is signed and that the
// feature accepts:
//  - a failed fetch adds server + ": " + the download's sentence;
//  - a failed signature check adds notSigned's sentence + " (" + the check's
//    sentence + ")" (notSigned's own detail is replaced by the check's sentence);
//    without notSigned the line is server + ": " + the check's sentence;
//  - a refusal by accept adds its sentence, followed by " (" + detail + ")"
//    when it has a detail; without accept every signed list is taken.
// The first server that passes wins and the walk stops there.
ServerWalk walkServers(const std::vector<std::wstring>& servers, const std::wstring& name,
                       const RefusalRule& notSigned, const RefusalRule& accept);
ServerWalk walkServers(const std::vector<std::wstring>& servers, const std::wstring& name,
                       const RefusalRule& notSigned, const RefusalRule& accept, const ReleaseKey& key);

// The line a refusal leaves for its server: sentence, then " (" + detail + ")" if any.
std::wstring refusalLine(const Refusal& refusal);

}  // namespace vorlane
