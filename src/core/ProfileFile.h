// A profile (INI) file bound to one path, over the platform's profile-string
// calls. Text is in the ANSI code page.
#pragma once

#include <string>

namespace zelvo {

class ProfileFile {
public:
    // A relative path is made full against the current directory (the
    // platform would otherwise look for it in the Windows directory).
    explicit ProfileFile(std::string path);

    const std::string& Path() const { return path_; }

    // At most 2047 bytes of the value are seen; a missing file or key gives
    // the default. Blanks around the value and one pair of enclosing quotes
    // are removed by the platform.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue = std::string()) const;

    // Writes at once; fails with ProfileWriteError "Unable to write to <path>".
    // The value is stored as ProtectValue gives it, so ReadString returns it
    // unchanged (up to the 2047-byte limit).
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The text to store for `value`: wrapped in double quotes when it begins
    // or ends with a blank or a quote, which the platform's read would strip.
    static std::string ProtectValue(const std::string& value);

private:
    std::string path_;
};

}  // namespace zelvo
