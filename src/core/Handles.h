// Owning wrappers for kernel handles. Copying is deleted; moving transfers
// ownership. Only kernel32 is used here, so the core stays window-free.
#pragma once

#include <windows.h>

#include <utility>

namespace zelvo {

template <typename Traits>
class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() noexcept : handle_(Traits::Invalid()) {}
    explicit ScopedHandle(Type h) noexcept : handle_(h) {}
    ~ScopedHandle() { Reset(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return Valid(); }

    Type Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    // Closes the current handle (if any) and takes ownership of h.
    void Reset(Type h = Traits::Invalid()) noexcept {
        if (handle_ != Traits::Invalid()) Traits::Close(handle_);
        handle_ = h;
    }

    // Closes now and reports whether the close succeeded; for files whose
    // close must be checked (a buffered write can fail at close time).
    bool Close() noexcept {
        if (handle_ == Traits::Invalid()) return true;
        const bool ok = Traits::Close(std::exchange(handle_, Traits::Invalid()));
        return ok;
    }

private:
    Type handle_;
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(Type h) noexcept { return ::FindClose(h) != FALSE; }
};

using FileHandle = ScopedHandle<FileHandleTraits>;      // CreateFile results
using KernelHandle = ScopedHandle<KernelHandleTraits>;  // events, processes, threads
using FindHandle = ScopedHandle<FindHandleTraits>;      // FindFirstFile results

}  // namespace zelvo
