// One backup run: copies every top-level file of a source directory into a
// destination directory, reporting progress to a receiver. No window needed.
#pragma once

#include "core/FilesInFlight.h"
#include "core/Paths.h"
#include "core/Retry.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace zelvo {

inline constexpr int kProgressMax = 10000;

struct CopyRunResult;

// What a run has in hand, for a receiver that may have to end it at once (the
// session ends). Valid from CopyProgress::Track until RunCopy returns.
class RunInHand {
public:
    // The tally so far: what is in place, skipped, passed over, failed.
    virtual CopyRunResult SoFar() const = 0;
    // Ends the run's placing at once: nothing more is put in place (a rename
    // under way is waited for, and counted, for kPlacingWaitMs at most; one
    // that has not ended by then counts as unknown), the files in flight stop, and
    // every temporary file the run has open is marked to be deleted with its
    // handle, so that none is left however the process ends. Returns how
    // many it marked. Never throws.
    virtual int CutOff() noexcept = 0;

protected:
    ~RunInHand() = default;
};

// What the progress dialog shows. The bar behaves like the platform's
// progress bar: StepIt past the maximum starts over from 0.
class CopyProgress {
public:
    virtual ~CopyProgress() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetStep(int step) = 0;
    // Once for each entry, when the run is through with it (a file in use:
    // after its first try).
    virtual void StepIt() = 0;
    virtual void SetPosition(int position) = 0;
    // Called at each entry of every listing, between buffers of a copy made on
    // the run's own thread, and every kFlushWaitStepMs while the run waits
    // (for files in flight, a flush, a retry), so that a window can tell the
    // system it is alive.
    virtual void KeepAlive() {}
    // Called once before the first entry.
    virtual void Track(RunInHand& /*run*/) {}
};

// How many files a run copies at once. On a share every step of a copy waits
// for a round trip, and on a local disk the flushes of several copies are
// taken in together; measured on both, eight in flight beat fewer.
inline constexpr int kFilesInFlight = 8;

// Thrown by a receiver's StepIt or KeepAlive to end the run at once (the
// session is ending): RunCopy returns what it has done so far, with cutOff
// set. Nothing is put in place after it. Not a Failure, so no file's handling
// takes it for a failure of its own.
class RunCutOff : public std::exception {
public:
    const char* what() const noexcept override { return "Run cut off"; }
};

struct CopyRunResult {
    // One line per entry that failed, in listing order, and one per listing
    // that failed (the destination's first, the source's last):
    // the failure text ("Cannot open file", "Cannot create file", "Stream read
    // error", "Stream write error", "Cannot list directory"), the path, and
    // the platform's reason in brackets (FailureLine); "File changed while it
    // was copied <path>" has no reason. The path is the source path as shown
    // (DirPath::ShownPathOf) for what failed in reading, the destination path
    // as shown for what failed in writing, creating or replacing, the
    // directory text for a listing. A run that stops because a folder
    // cannot be reached has one line for it, "目的目录[<dest>]无法访问
    // (<reason>)" or "源目录[<source>]无法访问 (<reason>)", in the place of
    // the file that found it out.
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
    // Files of the source that the run did not try, or gave up, because a
    // folder of the run could not be reached.
    int notTried = 0;
    // A receiver ended the run (RunCutOff): the files in flight were neither
    // put in place nor counted, and the later entries were not reached.
    bool cutOff = false;
    // Of those, the copies whose rename was under way at the cut-off and did
    // not end within kPlacingWaitMs: each may or may not be in place.
    int unknown = 0;
};

// Reads the overwrite switch at each file.
using OverwriteSwitch = std::function<bool()>;

// How a run paces itself; tests shorten the waits.
struct CopyTuning {
    RetryTiming retries;
    // Files copied at once; 0: kFilesInFlight.
    int filesInFlight = 0;
};

// Both directories are reached through the wide calls (DirPath), so every
// file keeps its exact name in the destination, whatever the ANSI code page
// holds. Each file is written to a temporary file in a private folder that the
// run makes inside destPath (in destPath itself when no folder can be made
// there; the folder is removed at the end of the run), flushed to disk, and
// renamed to destPath\name only once its whole content is written and closed,
// so a failure or a power cut leaves no partial file and an existing copy
// byte-identical. Several files are copied at once, each on a thread of its
// own (CopyTuning::filesInFlight), and each is put in place as soon as it is
// done; meanwhile the calling thread waits in steps of kFlushWaitStepMs,
// calling the receiver's KeepAlive between them. An existing destination that
// is read-only, hidden, system or a directory is never replaced, nor is
// another file whose 8.3 alias the name is: with the switch on it fails with
// "Cannot create file". That is checked again right before each replacing
// rename, so it holds for files that turn up during the run too. Failures are
// skipped and collected; the run goes on with the next entry, unless the
// destination or the source folder itself can no longer be reached: the run
// stops there with one failure line for it, the copies still in flight and
// the rest counting as not tried. A folder is taken for out of reach only
// once it has not answered for kFolderBackWithinMs, and a file that failed as
// a network or a device does for a moment (OutageOf) is tried once more,
// alone, after the other entries.
//
// Other programs open the user's files for a moment all day long (scanners,
// indexers, sync clients). A step on the destination that such an opener
// refuses (creating a temporary file, the rename, removing a temporary file or
// folder) is tried again for a while, and a source that is in use is set
// aside and tried again once the other entries are done (RetryTiming); the
// receiver's KeepAlive is called throughout those waits.
//
// Before the first copy the run removes what a run that was killed left in
// destPath: folders of our name (IsTemporaryName) that hold nothing but files
// of our names, or nothing at all. A file at the top of destPath is never
// removed, whatever its name: it may be a backup of a file of the user's. A
// folder that cannot be removed, holds any other name, or has a name that the
// source holds too, is left alone; so is everything when the source could not
// be listed whole. The run holds its own folder open, so that the sweep of
// another copy of the program touches neither it nor anything in it.
CopyRunResult RunCopy(const std::string& sourcePath, const std::string& destPath,
                      const OverwriteSwitch& overwrite, CopyProgress& progress,
                      CopyFaults* faults = nullptr, const CopyTuning& tuning = CopyTuning());

}  // namespace zelvo
