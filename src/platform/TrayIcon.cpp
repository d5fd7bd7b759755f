#include "platform/TrayIcon.h"

#include <cstring>

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

bool NotifyIcon(DWORD message, NotifyIconRecord& record) {
    return ::Shell_NotifyIconA(message, reinterpret_cast<NOTIFYICONDATAA*>(&record)) != FALSE;
}

}  // namespace zelvo::ui
