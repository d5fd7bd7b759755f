#include "platform/TrayIcon.h"

#include <cstring>
#include <utility>

namespace zelvo::ui {

void SetTip(NotifyIconRecord& record, const std::string& tip) {
    std::size_t length = 0;
    while (length < tip.size() && length + 1 < sizeof(record.szTip)) {
        const bool lead = ::IsDBCSLeadByte(static_cast<BYTE>(tip[length])) != FALSE;
        const std::size_t step = lead ? 2 : 1;
        if (length + step >= sizeof(record.szTip) || length + step > tip.size()) break;
        length += step;
    }
    ClearTip(record);
    std::memcpy(record.szTip, tip.data(), length);
}

void ClearTip(NotifyIconRecord& record) { std::memset(record.szTip, 0, sizeof(record.szTip)); }

namespace {
ScopedNotifyIconHook* hook = nullptr;
}  // namespace

bool NotifyIcon(DWORD message, NotifyIconRecord& record) {
    if (hook) return (*hook)(message, record);
    return ::Shell_NotifyIconA(message, reinterpret_cast<NOTIFYICONDATAA*>(&record)) != FALSE;
}

ScopedNotifyIconHook::ScopedNotifyIconHook(Call call) : call_(std::move(call)), previous_(hook) { hook = this; }

ScopedNotifyIconHook::~ScopedNotifyIconHook() { hook = previous_; }

}  // namespace zelvo::ui
