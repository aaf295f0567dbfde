#include "net/signature.h"

#include <algorithm>
#include <array>
#include <utility>

#include "net/base64.h"
#include "net/bcrypt_handles.h"
#include "net/build_server.h"
#include "net/http_client.h"
#include "net/sha256.h"

namespace vorlane {

namespace {

constexpr size_t kSignatureSize = 64;  // r then s, 32 bytes each

// The system's public key blob for ECDSA P-256: "ECS1", the coordinate length 32
// (32-bit little-endian), then X and Y.
using PublicKeyBlob = std::array<unsigned char, 8 + 64>;

PublicKeyBlob publicKeyBlob(const ReleaseKey& key) {
    PublicKeyBlob blob{'E', 'C', 'S', '1', 32, 0, 0, 0};
    std::copy(key.begin(), key.end(), blob.begin() + 8);
    return blob;
}

bool verifyDigest(const Sha256Digest& digest, const std::string& signature, const ReleaseKey& key) {
    AlgorithmHandle algorithm = openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return false;
    PublicKeyBlob blob = publicKeyBlob(key);
    BCRYPT_KEY_HANDLE imported = nullptr;
    if (!succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob.data(),
                                       (ULONG)blob.size(), 0)))
        return false;
    KeyHandle publicKey(imported);
    Sha256Digest hash = digest;
    std::string raw = signature;
    return succeeded(BCryptVerifySignature(publicKey.get(), nullptr, hash.data(), (ULONG)hash.size(),
                                           reinterpret_cast<PUCHAR>(raw.data()), (ULONG)raw.size(), 0));
}

std::string fetchIntoMemory(const std::wstring& url, std::wstring& error) {
    std::string body;
    HttpResult result = download(url, &body, std::wstring(), ProgressCallback(), -1, false, kBuildServerLabel);
    error = result.error;
    if (!error.empty()) body.clear();
    return body;
}

}  // namespace

bool isDeveloperKey(const ReleaseKey& key) {
    return std::all_of(key.begin(), key.end(), [](unsigned char b) { return b == 0; });
}

bool verifySignature(const std::string& bytes, const std::string& signatureText) {
    return verifySignature(bytes, signatureText, releaseKey());
}

bool verifySignature(const std::string& bytes, const std::string& signatureText, const ReleaseKey& key) {
    std::string signature = decodeBase64(signatureText);
    if (signature.size() != kSignatureSize) return false;
    if (isDeveloperKey(key)) return false;
    Sha256Digest digest;
    if (!sha256(bytes, digest)) return false;
    return verifyDigest(digest, signature, key);
}

std::wstring checkSignature(const std::wstring& server, const std::wstring& name, const std::string& bytes,
                            std::string* keptSignature) {
    return checkSignature(server, name, bytes, keptSignature, releaseKey());
}

std::wstring checkSignature(const std::wstring& server, const std::wstring& name, const std::string& bytes,
                            std::string* keptSignature, const ReleaseKey& key) {
    if (keptSignature) keptSignature->clear();
    if (isDeveloperKey(key)) return {};
    std::wstring error;
    std::string signatureText = fetchIntoMemory(serverUrl(server, signatureName(name)), error);
    if (!error.empty()) return signatureName(name) + L": " + error;
    if (!verifySignature(bytes, signatureText, key)) return signatureName(name) + L" isn't the key's signature of it.";
    if (keptSignature) *keptSignature = std::move(signatureText);
    return {};
}

SignedDocument fetchSigned(const std::wstring& server, const std::wstring& name) {
    return fetchSigned(server, name, releaseKey());
}

SignedDocument fetchSigned(const std::wstring& server, const std::wstring& name, const ReleaseKey& key) {
    SignedDocument document;
    document.server = server;
    document.name = name;
    document.bytes = fetchIntoMemory(serverUrl(server, name), document.error);
    if (!document.error.empty()) return document;
    document.answered = true;
    document.error = checkSignature(server, name, document.bytes, &document.signature, key);
    return document;
}

std::wstring refusalLine(const Refusal& refusal) {
    return refusal.detail.empty() ? refusal.sentence : refusal.sentence + L" (" + refusal.detail + L")";
}

ServerWalk walkServers(const std::vector<std::wstring>& servers, const std::wstring& name,
                       const RefusalRule& notSigned, const RefusalRule& accept) {
    return walkServers(servers, name, notSigned, accept, releaseKey());
}

ServerWalk walkServers(const std::vector<std::wstring>& servers, const std::wstring& name,
                       const RefusalRule& notSigned, const RefusalRule& accept, const ReleaseKey& key) {
    ServerWalk walk;
    for (const std::wstring& server : servers) {
        SignedDocument document = fetchSigned(server, name, key);
        if (!document.answered) {
            walk.lines.push_back(server + L": " + document.error);
            continue;
        }
        walk.anyAnswered = true;
        if (!document.error.empty()) {
            Refusal refusal{server + L": " + document.error, L"", L""};
            if (notSigned) {
                refusal = notSigned(document);
                refusal.detail = document.error;
            }
            walk.lines.push_back(refusalLine(refusal));
            walk.lastRefusal = std::move(refusal);
            continue;
        }
        Refusal refusal = accept ? accept(document) : Refusal();
        if (!refusal.sentence.empty()) {
            walk.lines.push_back(refusalLine(refusal));
            walk.lastRefusal = std::move(refusal);
            continue;
        }
        walk.found = true;
        walk.document = std::move(document);
        walk.lastRefusal = Refusal();
        break;
    }
    return walk;
}

}  // namespace vorlane
