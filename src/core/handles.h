// Owning wrappers for system handles, so that no path through a function leaks one.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace vorlane {

// Owns one handle of any kind; Close is the function that releases it and
// Invalid the value that means "none".
template <typename Handle, typename Closer, Handle Invalid = Handle{}>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, Invalid));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Invalid; }
    Handle release() { return std::exchange(handle_, Invalid); }
    void reset(Handle handle = Invalid) {
        if (handle_ != Invalid) Closer{}(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = Invalid;
};

struct CloseKernelHandle {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct CloseFindHandle {
    void operator()(HANDLE handle) const { FindClose(handle); }
};

// A kernel object handle whose "none" is null (processes, threads, mutexes, events).
using ObjectHandle = UniqueHandle<HANDLE, CloseKernelHandle>;

// A view of a file mapped into memory, from MapViewOfFile.
struct UnmapView {
    void operator()(const void* view) const { UnmapViewOfFile(view); }
};
using MappedView = UniqueHandle<const void*, UnmapView>;

// A file handle, whose "none" is INVALID_HANDLE_VALUE.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    ~FileHandle() { close(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    void close() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A folder search handle from FindFirstFileW.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// A COM interface pointer, released when it goes.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    Interface* get() const { return ptr_; }
    Interface* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For calls that hand back a new pointer (CoCreateInstance, QueryInterface).
    Interface** put() {
        reset();
        return &ptr_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (ptr_) ptr_->Release();
        ptr_ = nullptr;
    }

private:
    Interface* ptr_ = nullptr;
};

// Memory the system hands back for the caller to free with CoTaskMemFree (a
// known folder's path, a shell item's name).
template <typename T>
class CoTaskMemPtr {
public:
    CoTaskMemPtr() = default;
    CoTaskMemPtr(const CoTaskMemPtr&) = delete;
    CoTaskMemPtr& operator=(const CoTaskMemPtr&) = delete;
    ~CoTaskMemPtr() { reset(); }
    T* get() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For calls that hand back new memory through a pointer to a pointer.
    T** put() {
        reset();
        return &ptr_;
    }
    void reset() {
        CoTaskMemFree(ptr_);
        ptr_ = nullptr;
    }

private:
    T* ptr_ = nullptr;
};

// COM for the life of a scope (the thread's apartment).
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED)
        : initialised_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_) CoUninitialize();
    }

private:
    bool initialised_;
};

}  // namespace vorlane
