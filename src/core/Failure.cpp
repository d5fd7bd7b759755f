#include "core/Failure.h"

namespace zelvo {

std::string FormatMessageText(const char* pattern, const std::string& arg) {
    std::string text(pattern);
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, arg);
    return text;
}

std::string ErrorBoxText(const std::string& message) {
    if (message.empty()) return message;
    const auto last = static_cast<unsigned char>(message.back());
    return last > static_cast<unsigned char>('.') ? message + "." : message;
}

}  // namespace zelvo
