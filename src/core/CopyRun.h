// One backup run: copies every top-level file of a source directory into a
// destination directory, reporting progress to a receiver. No window needed.
#pragma once

#include "core/FileSystem.h"
#include "core/Paths.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace zelvo {

inline constexpr int kProgressMax = 10000;
inline constexpr std::size_t kCopyBufferSize = 61440;

struct CopyRunResult;

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
    // What the run calls between buffers: KeepAlive, unless a receiver that
    // may end the run from inside it (RunCutOff) wants the temporary files it
    // has open until the call returns: the one the buffers go to and, while
    // its flush runs, the copy written before (else null).
    virtual void BetweenBuffers(FileStream& /*writing*/, FileStream* /*flushing*/) { KeepAlive(); }
    // Called once before the first entry: the run's tally as it grows, valid
    // until RunCopy returns.
    virtual void Track(const CopyRunResult& /*soFar*/) {}
};

// Thrown by a receiver's KeepAlive to end the run at once (the session is
// ending): RunCopy returns what it has done so far, with cutOff set. Not a
// Failure, so no file's handling takes it for a failure of its own.
class RunCutOff : public std::exception {
public:
    const char* what() const noexcept override { return "Run cut off"; }
};

struct CopyRunResult {
    // One text per entry that failed ("Cannot open file %s", "Cannot create
    // file %s", "Stream read error", "Stream write error", "File changed while
    // it was copied %s"), in listing order, and one per listing that failed
    // ("Cannot list directory %s (" + the platform's reason + ")"; the destination's
    // first, the source's where it broke off). "%s" is the source path as
    // shown (DirPath::ShownPathOf) for a failed open or a changed source, the
    // destination path as shown for a failed creation or replacement, the
    // directory text for a listing.
    std::vector<std::string> failures;
    int copied = 0;
    std::uint64_t bytesCopied = 0;  // content of the copies put in place
    // Existing destination files left alone (overwrite off), also those that
    // turned up during the run or answer to the name only by their 8.3 alias.
    int skipped = 0;
    int directories = 0;  // subdirectories met (counted and stepped, not copied)
    // Temporary files and folders of an earlier, interrupted run removed from
    // the destination before this run began (each file and folder counts one).
    int leftoversRemoved = 0;
    // The destination path was empty or relative (see IsUsableDirectoryPath):
    // nothing was listed or copied and the receiver was not called. The caller
    // shows "目录[" + destPath + "]不存在!" and ends the dialog as usual.
    bool refused = false;
    // A receiver ended the run between two buffers (RunCutOff): the entry in
    // hand was neither copied nor counted, and the later ones were not reached.
    bool cutOff = false;
};

// Reads the overwrite switch at each file.
using OverwriteSwitch = std::function<bool()>;

// Lets a test make a copy fail part-way: asked before each buffer is read or
// written, at the byte offset about to be transferred; true makes that read or
// write fail exactly as a failing ReadFile/WriteFile would. Files are named as
// the run shows them.
class CopyFaults {
public:
    enum class Flush { Do, Fail, Skip };

    virtual ~CopyFaults() = default;
    virtual bool FailRead(const std::string& sourceFile, std::uint64_t offset) = 0;
    virtual bool FailWrite(const std::string& destFile, std::uint64_t offset) = 0;
    // Asked just before each new copy is flushed to disk: Fail makes the flush
    // fail as a failing FlushFileBuffers would, Skip leaves the flush out (the
    // benchmark measures its cost that way).
    virtual Flush BeforeFlush(const std::string& /*destFile*/) { return Flush::Do; }
    // Asked before each further entry of a listing of `dir` (the directory
    // text as given) is fetched, after `listed` entries: a nonzero error code
    // ends that listing there, as a FindNextFile failing with it would.
    virtual std::uint32_t ListingError(const std::string& /*dir*/, std::size_t /*listed*/) { return 0; }
};

// Both directories are reached through the wide calls (DirPath), so every
// file keeps its exact name in the destination, whatever the ANSI code page
// holds. Each file is written to a temporary file in a private folder that the
// run makes inside destPath (in destPath itself when no folder can be made
// there; the folder is removed at the end of the run), flushed to disk, and
// renamed to destPath\name only once its whole content is written and closed,
// so a failure or a power cut leaves no partial file and an existing copy
// byte-identical. An existing destination that is read-only, hidden, system or
// a directory is never replaced, nor is another file whose 8.3 alias the name
// is: with the switch on it fails with "Cannot create file %s". That is
// checked again right before each replacing rename, so it holds for files that
// turn up during the run too. Failures are skipped and collected; the run goes
// on with the next entry.
//
// Before the first copy the run removes what a run that was killed left in
// destPath: temporary files of our names there, and folders of our name that
// hold nothing but such files (IsTemporaryName). Anything that cannot be
// removed, holds any other name, or has a name that the source holds too (a
// backup of it), is left alone; so is everything when the source could not be
// listed whole. The run keeps its own folder open so that another copy of the
// program cannot remove it meanwhile.
CopyRunResult RunCopy(const std::string& sourcePath, const std::string& destPath,
                      const OverwriteSwitch& overwrite, CopyProgress& progress,
                      CopyFaults* faults = nullptr);

}  // namespace zelvo
