#include "platform/Pidl.h"

#include <objbase.h>

#include <cstring>
#include <new>

namespace zelvo {

void Pidl::Reset(ITEMIDLIST* list) noexcept {
    if (list_ && list_ != list) CoTaskMemFree(list_);
    list_ = list;
}

UINT PidlSize(const ITEMIDLIST* list) noexcept {
    UINT size = 0;
    if (!list) return 0;
    for (auto* id = reinterpret_cast<const BYTE*>(list);
         reinterpret_cast<const SHITEMID*>(id)->cb != 0;
         id += reinterpret_cast<const SHITEMID*>(id)->cb) {
        size += reinterpret_cast<const SHITEMID*>(id)->cb;
    }
    return size;
}

const ITEMIDLIST* PidlNext(const ITEMIDLIST* list) noexcept {
    if (!list || list->mkid.cb == 0) return nullptr;
    return reinterpret_cast<const ITEMIDLIST*>(reinterpret_cast<const BYTE*>(list) + list->mkid.cb);
}

Pidl Pidl::Empty() { return Concat(nullptr, nullptr); }

Pidl Pidl::Concat(const ITEMIDLIST* head, const ITEMIDLIST* tail) {
    const UINT headSize = PidlSize(head);
    const UINT tailSize = PidlSize(tail);
    const UINT terminator = sizeof(USHORT);
    auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(headSize + tailSize + terminator));
    if (!bytes) throw std::bad_alloc();
    if (headSize) std::memcpy(bytes, head, headSize);
    if (tailSize) std::memcpy(bytes + headSize, tail, tailSize);
    std::memset(bytes + headSize + tailSize, 0, terminator);
    return Pidl(reinterpret_cast<ITEMIDLIST*>(bytes));
}

Pidl Pidl::Head(const ITEMIDLIST* list) {
    Pidl head = Clone(list);
    if (const ITEMIDLIST* rest = PidlNext(head.Get())) {
        std::memset(const_cast<ITEMIDLIST*>(rest), 0, sizeof(USHORT));
    }
    return head;
}

}  // namespace zelvo
