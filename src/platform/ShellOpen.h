// The shell's "open" of a link: a web address, or a "mailto:" address that
// starts the mail program. The result is not examined. Tests put a recorder
// in place of the shell, which would start a browser.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace zelvo::ui {

using LinkOpener = std::function<void(HWND owner, const std::string& target)>;

// ShellExecuteA "open", no parameters, no directory, SW_SHOWNORMAL.
void ShellOpen(HWND owner, const std::string& target);

// Sends ShellOpen to another opener for as long as this object lives.
class ScopedLinkOpener {
public:
    explicit ScopedLinkOpener(LinkOpener opener);
    ~ScopedLinkOpener();
    ScopedLinkOpener(const ScopedLinkOpener&) = delete;
    ScopedLinkOpener& operator=(const ScopedLinkOpener&) = delete;

private:
    LinkOpener previous_;
};

}  // namespace zelvo::ui
