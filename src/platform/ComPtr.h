// Owning pointer for COM interfaces. Copying adds a reference, moving
// transfers it, and every path out releases it.
#pragma once

#include <objbase.h>

#include <cstddef>
#include <utility>

namespace zelvo {

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ~ComPtr() { Reset(); }

    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // Out-parameter for calls that hand back a new reference.
    T** Put() noexcept {
        Reset();
        return &ptr_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    void Reset() noexcept {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

    // Another interface of the same object; empty when it has none.
    template <typename U>
    ComPtr<U> As() const noexcept {
        ComPtr<U> other;
        if (ptr_) ptr_->QueryInterface(__uuidof(U), other.PutVoid());
        return other;
    }

private:
    T* ptr_ = nullptr;
};

}  // namespace zelvo
