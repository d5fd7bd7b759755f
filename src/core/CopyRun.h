// One backup run: copies every top-level file of a source directory into a
// destination directory, reporting progress to a receiver. No window needed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zelvo {

inline constexpr int kProgressMax = 10000;
inline constexpr std::size_t kCopyBufferSize = 61440;

// What the progress dialog shows. The bar behaves like the platform's
// progress bar: StepIt past the maximum starts over from 0.
class CopyProgress {
public:
    virtual ~CopyProgress() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetStep(int step) = 0;
    virtual void StepIt() = 0;
    virtual void SetPosition(int position) = 0;
    // Called between buffers of a long copy, so a window can tell the system it is alive.
    virtual void KeepAlive() {}
};

// True for an absolute drive path ("X:\...") or a UNC path ("\\computer\share...").
bool IsUsableDirectoryPath(const std::string& path);

struct CopyRunResult {
    // One text per entry that failed ("Cannot open file %s", "Cannot create
    // file %s", "Stream read error", "Stream write error"), in listing order.
    std::vector<std::string> failures;
    int copied = 0;
    int skipped = 0;  // existing destination files left alone
};

// Reads the overwrite switch at each file.
using OverwriteSwitch = std::function<bool()>;

CopyRunResult RunCopy(const std::string& sourcePath, const std::string& destPath,
                      const OverwriteSwitch& overwrite, CopyProgress& progress);

}  // namespace zelvo
