// A profile (INI) file bound to one path, over the platform's profile-string
// calls. Text is in the ANSI code page.
#pragma once

#include <string>

namespace zelvo {

class ProfileFile {
public:
    explicit ProfileFile(std::string path);

    const std::string& Path() const { return path_; }

    // At most 2047 bytes of the value are seen; a missing file or key gives
    // the default. Blanks around the value and one pair of enclosing quotes
    // are removed by the platform.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue = std::string()) const;

    // Writes at once; fails with ProfileWriteError "Unable to write to <path>".
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string path_;
};

}  // namespace zelvo
