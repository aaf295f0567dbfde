// Owning wrappers for the handles of the system's cryptographic services (CNG),
// so that every path through hashing and signature code releases what it opened.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "core/handles.h"

namespace vorlane {

struct CloseAlgorithmProvider {
    void operator()(BCRYPT_ALG_HANDLE handle) const { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct DestroyHash {
    void operator()(BCRYPT_HASH_HANDLE handle) const { BCryptDestroyHash(handle); }
};
struct DestroyKey {
    void operator()(BCRYPT_KEY_HANDLE handle) const { BCryptDestroyKey(handle); }
};

// The three handle kinds are all the same pointer type; the closer tells them apart.
using AlgorithmHandle = UniqueHandle<BCRYPT_ALG_HANDLE, CloseAlgorithmProvider>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, DestroyHash>;
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, DestroyKey>;

inline bool succeeded(NTSTATUS status) { return BCRYPT_SUCCESS(status); }

// An algorithm provider by its identifier (BCRYPT_SHA256_ALGORITHM, ...); empty on failure.
inline AlgorithmHandle openAlgorithm(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) return AlgorithmHandle();
    return AlgorithmHandle(handle);
}

}  // namespace vorlane
