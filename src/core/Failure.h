// Failures of the program travel as exceptions carrying the text that the
// uniform error box shows. Texts are GBK byte strings.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zelvo {

class Failure : public std::runtime_error {
public:
    // error: the platform's error code behind the failure, 0 where none.
    explicit Failure(const std::string& text, std::uint32_t error = 0) : std::runtime_error(text), error_(error) {}
    std::uint32_t Error() const noexcept { return error_; }

private:
    std::uint32_t error_;
};

// "'%s' is not a valid date and time"
class ConvertError : public Failure {
public:
    using Failure::Failure;
};

// "Unable to write to %s"
class ProfileWriteError : public Failure {
public:
    using Failure::Failure;
};

// "Cannot open file %s"
class FileOpenError : public Failure {
public:
    using Failure::Failure;
};

// "Cannot create file %s"
class FileCreateError : public Failure {
public:
    using Failure::Failure;
};

// "Stream read error"
class StreamReadError : public Failure {
public:
    using Failure::Failure;
};

// "Stream write error"
class StreamWriteError : public Failure {
public:
    using Failure::Failure;
};

// "File changed while it was copied %s"
class FileChangedError : public Failure {
public:
    using Failure::Failure;
};

// Replaces the first "%s" of a message pattern; the argument is taken as bytes,
// so a "%" inside it is never interpreted.
std::string FormatMessageText(const char* pattern, const std::string& arg);

// The text of the uniform error box: the message followed by a full stop when
// its last byte is above '.' (an empty message gets none).
std::string ErrorBoxText(const std::string& message);

}  // namespace zelvo
