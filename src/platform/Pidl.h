// Owning holder for shell item ID lists. The shell allocates them with the
// COM task allocator (ILFree is CoTaskMemFree on every NT system).
#pragma once

#include <windows.h>
#include <shtypes.h>

#include <utility>

namespace zelvo {

class Pidl {
public:
    Pidl() noexcept = default;
    explicit Pidl(ITEMIDLIST* list) noexcept : list_(list) {}
    ~Pidl() { Reset(); }

    Pidl(const Pidl&) = delete;
    Pidl& operator=(const Pidl&) = delete;
    Pidl(Pidl&& other) noexcept : list_(other.Release()) {}
    Pidl& operator=(Pidl&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    ITEMIDLIST* Get() const noexcept { return list_; }
    explicit operator bool() const noexcept { return list_ != nullptr; }

    ITEMIDLIST** Put() noexcept {
        Reset();
        return &list_;
    }
    ITEMIDLIST* Release() noexcept { return std::exchange(list_, nullptr); }
    void Reset(ITEMIDLIST* list = nullptr) noexcept;

    // The empty list (a lone terminator): the desktop, seen from itself.
    static Pidl Empty();
    // A copy of head followed by the IDs of tail; either may be null.
    static Pidl Concat(const ITEMIDLIST* head, const ITEMIDLIST* tail);
    static Pidl Clone(const ITEMIDLIST* list) { return Concat(list, nullptr); }
    // The first ID of list alone.
    static Pidl Head(const ITEMIDLIST* list);

private:
    ITEMIDLIST* list_ = nullptr;
};

// Bytes of the IDs before the terminator.
UINT PidlSize(const ITEMIDLIST* list) noexcept;
// The list after its first ID; null at the terminator.
const ITEMIDLIST* PidlNext(const ITEMIDLIST* list) noexcept;

}  // namespace zelvo
