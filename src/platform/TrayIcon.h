// The notification-area icon calls. The record is the first, 88-byte form
// of NOTIFYICONDATAA (64-byte tip), which every version of the shell takes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

namespace zelvo::ui {

struct NotifyIconRecord {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[64];
};
static_assert(sizeof(NotifyIconRecord) == NOTIFYICONDATAA_V1_SIZE, "first form of NOTIFYICONDATAA");
static_assert(offsetof(NotifyIconRecord, szTip) == offsetof(NOTIFYICONDATAA, szTip), "tip offset");

// Copies the tip in, cut to what fits with its terminator (never inside a
// double-byte character), and zero-fills the rest of the field.
void SetTip(NotifyIconRecord& record, const std::string& tip);
void ClearTip(NotifyIconRecord& record);

// Shell_NotifyIconA with the record; true when the shell accepted the call.
bool NotifyIcon(DWORD message, NotifyIconRecord& record);

// Takes the place of Shell_NotifyIconA for NotifyIcon while it lives, so a
// test can play a shell that refuses.
class ScopedNotifyIconHook {
public:
    using Call = std::function<bool(DWORD message, NotifyIconRecord& record)>;
    explicit ScopedNotifyIconHook(Call call);
    ~ScopedNotifyIconHook();
    ScopedNotifyIconHook(const ScopedNotifyIconHook&) = delete;
    ScopedNotifyIconHook& operator=(const ScopedNotifyIconHook&) = delete;
    bool operator()(DWORD message, NotifyIconRecord& record) const { return call_(message, record); }

private:
    Call call_;
    ScopedNotifyIconHook* previous_;
};

}  // namespace zelvo::ui
