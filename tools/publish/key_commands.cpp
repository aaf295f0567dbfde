// keygen, pubkey and sign: making the release key and signing lists with it.
#include <windows.h>

#include "core/files.h"
#include "core/handles.h"
#include "core/text.h"
#include "net/base64.h"
#include "net/signature.h"
#include "private_key.h"
#include "publish.h"

namespace publish {

namespace {

bool pathIsTaken(const std::wstring& path) {
    return GetFileAttributesW(vorlane::longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates the file only if nothing is there yet, so that a key is never replaced.
bool writeNewFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring target = vorlane::longPath(path);
    DWORD written = 0;
    {
        vorlane::FileHandle file(
            CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (WriteFile(file.get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size())
            return true;
    }
    DeleteFileW(target.c_str());
    return false;
}

}  // namespace

bool loadPrivateKey(const std::wstring& path, PrivateKeyBlob& key) {
    std::string text;
    if (!vorlane::readWholeFile(path, text)) {
        printError(L"Couldn't read the private key file " + path + L".");
        return false;
    }
    std::wstring problem;
    if (!parsePrivateKeyFile(text, key, problem)) {
        printError(L"The private key file " + path + L" isn't one that keygen wrote: " + problem + L".");
        return false;
    }
    return true;
}

namespace {

std::wstring publicKeyHex(const PrivateKeyBlob& key) {
    vorlane::ReleaseKey point = publicKeyOf(key);
    return hexOf(point.data(), point.size());
}

}  // namespace

int runKeygen(const Arguments& arguments) {
    const std::wstring& keyPath = arguments[0];
    if (pathIsTaken(keyPath)) {
        printError(L"There is already a file at " + keyPath + L"; keygen never replaces a key.");
        return kExitFailed;
    }
    PrivateKeyBlob key;
    if (!generatePrivateKey(key)) {
        printError(L"The system couldn't make a P-256 key pair.");
        return kExitFailed;
    }
    if (!writeNewFile(keyPath, privateKeyFileText(key))) {
        printError(L"Couldn't write the private key file " + keyPath + L".");
        return kExitFailed;
    }
    printLine(publicKeyHex(key));
    return kExitOk;
}

int runPubkey(const Arguments& arguments) {
    PrivateKeyBlob key;
    if (!loadPrivateKey(arguments[0], key)) return kExitFailed;
    printLine(publicKeyHex(key));
    return kExitOk;
}

bool signListFile(const std::wstring& keyPath, const std::wstring& listPath) {
    PrivateKeyBlob key;
    if (!loadPrivateKey(keyPath, key)) return false;
    std::string list;
    if (!vorlane::readWholeFile(listPath, list)) {
        printError(L"Couldn't read the list " + listPath + L".");
        return false;
    }
    vorlane::Sha256Digest digest;
    std::string signature;
    if (!vorlane::sha256(list, digest) || !signDigest(key, digest, signature)) {
        printError(L"The system couldn't sign with the key in " + keyPath + L"; the file may be damaged.");
        return false;
    }
    std::string signatureText = vorlane::encodeBase64(signature);
    // A key file whose public half doesn't belong to its secret would sign lists no launcher accepts.
    if (!vorlane::verifySignature(list, signatureText, publicKeyOf(key))) {
        printError(L"The signature doesn't check against the public key in " + keyPath + L"; the file is damaged.");
        return false;
    }
    const std::wstring signaturePath = listPath + L".sig";
    if (!vorlane::writeFileAtomically(signaturePath, signatureText + "\n")) {
        printError(L"Couldn't write " + signaturePath + L".");
        return false;
    }
    printLine(L"Signed " + listPath + L" into " + signaturePath + L".");
    return true;
}

int runSign(const Arguments& arguments) { return signListFile(arguments[0], arguments[1]) ? kExitOk : kExitFailed; }

}  // namespace publish
