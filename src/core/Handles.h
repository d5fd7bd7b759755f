// Owning wrappers for kernel handles, and a lock of the kernel's. Copying is
// deleted; moving transfers ownership. Only kernel32 is used here, so the
// core stays window-free.
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

// A lock that never throws, for the threads of a run and the code that must
// not throw (a noexcept function, a destructor): std::mutex may throw
// std::system_error at lock (MinGW's winpthreads makes a lock's object at its
// first use). Takes part in std::lock_guard and std::unique_lock.
class SrwLock {
public:
    SrwLock() noexcept { ::InitializeSRWLock(&lock_); }
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    void lock() noexcept { ::AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ::ReleaseSRWLockExclusive(&lock_); }

private:
    friend class SrwCondition;
    SRWLOCK lock_;
};

// The condition of an SrwLock; never throws.
class SrwCondition {
public:
    SrwCondition() noexcept { ::InitializeConditionVariable(&condition_); }
    SrwCondition(const SrwCondition&) = delete;
    SrwCondition& operator=(const SrwCondition&) = delete;

    // Waits, with `lock` held, until `done` is true.
    template <typename Done>
    void Wait(SrwLock& lock, Done done) noexcept {
        while (!done()) ::SleepConditionVariableSRW(&condition_, &lock.lock_, INFINITE, 0);
    }
    // As Wait, for `ms` at most; whether `done` came true.
    template <typename Done>
    bool WaitFor(SrwLock& lock, DWORD ms, Done done) noexcept {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        for (ULONGLONG now = ::GetTickCount64(); !done(); now = ::GetTickCount64()) {
            if (now >= deadline) return false;
            ::SleepConditionVariableSRW(&condition_, &lock.lock_, static_cast<DWORD>(deadline - now), 0);
        }
        return true;
    }
    void NotifyAll() noexcept { ::WakeAllConditionVariable(&condition_); }

private:
    CONDITION_VARIABLE condition_;
};

}  // namespace zelvo
