#include "platform/ShellOpen.h"

#include <shellapi.h>

#include <utility>

namespace zelvo::ui {

namespace {

void ShellExecuteOpen(HWND owner, const std::string& target) {
    ::ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LinkOpener current = &ShellExecuteOpen;

}  // namespace

void ShellOpen(HWND owner, const std::string& target) { current(owner, target); }

ScopedLinkOpener::ScopedLinkOpener(LinkOpener opener) : previous_(std::move(current)) {
    current = std::move(opener);
}

ScopedLinkOpener::~ScopedLinkOpener() { current = std::move(previous_); }

}  // namespace zelvo::ui
