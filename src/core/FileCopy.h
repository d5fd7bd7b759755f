// One file's copy, from its source to its place in the destination, on
// whichever thread the run gives it: read into a temporary file of the
// destination, flushed, renamed under its name.
#pragma once

#include "core/Destination.h"
#include "core/FileSystem.h"
#include "core/Handles.h"
#include "core/Retry.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

// The one buffer through which a file is copied.
inline constexpr std::size_t kCopyBufferSize = 61440;

// The one failure line of a run that stops because one of its folders cannot
// be reached (a share that is off, or drops during the run).
inline constexpr char kDestinationUnreachableText[] = "目的目录[%s]无法访问";
inline constexpr char kSourceUnreachableText[] = "源目录[%s]无法访问";

// Lets a test make a copy fail part-way: asked before each buffer is read or
// written, at the byte offset about to be transferred. A nonzero error from
// FailRead makes that read fail with it as a failing ReadFile would (a range
// that another program has locked gives ERROR_LOCK_VIOLATION), and one from
// FailWrite makes the write fail with it likewise. Files are named as
// the run shows them.
class CopyFaults {
public:
    enum class Flush { Do, Skip };

    virtual ~CopyFaults() = default;
    virtual std::uint32_t FailRead(const std::string& /*sourceFile*/, std::uint64_t /*offset*/) { return 0; }
    virtual std::uint32_t FailWrite(const std::string& /*destFile*/, std::uint64_t /*offset*/) { return 0; }
    // Asked once for each new copy, before it is written: Skip leaves its
    // flushes out (the benchmark measures their cost that way).
    virtual Flush BeforeFlush(const std::string& /*destFile*/) { return Flush::Do; }
    // Asked before each further entry of a listing of `dir` (the directory
    // text as given) is fetched, after `listed` entries: a nonzero error code
    // ends that listing there, as a FindNextFile failing with it would.
    virtual std::uint32_t ListingError(const std::string& /*dir*/, std::size_t /*listed*/) { return 0; }
    // Asked before each probe of whether a folder of the run (the directory
    // text as given) can be reached: a nonzero error makes the probe find it
    // out of reach with it.
    virtual std::uint32_t FolderError(const std::string& /*dir*/) { return 0; }
};

// ERROR_NO_SUCH_DEVICE, which MinGW's headers lack: a removed disk.
inline constexpr DWORD kErrorNoSuchDevice = 433;

// What a failure's error says of the folder the file is in.
enum class Outage {
    None,       // a failure of that file alone
    Gone,       // the folder may be gone (deleted, a share off): it is probed
    MayBeBack,  // the network or the device may be back in a moment: probed,
                // and where the folder answers, the file is tried once more
};
Outage OutageOf(DWORD error);

// A share that drops for a moment, or a disk that resets, answers again
// within this; a folder that does not answer for so long is out of reach.
inline constexpr DWORD kFolderBackWithinMs = 2000;
inline constexpr DWORD kFolderProbeEveryMs = 100;

// Probes the folder (through `faults` first, when given) again every
// kFolderProbeEveryMs, pausing with `pause`, until it answers or
// kFolderBackWithinMs have passed; the error of the last probe, ERROR_SUCCESS
// when it answered. Throws what `pause` throws.
DWORD FolderOutOfReach(const DirPath& folder, CopyFaults* faults, const Pause& pause);

// The platform's CreateThread, through which the run starts the threads that
// copy its files and flush large copies early, so that a test can refuse
// them. Without threads the files are copied one after another on the
// calling thread.
extern HANDLE(WINAPI* CreateThreadCall)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                        LPDWORD);

// Thrown inside a file's copy once its run has stopped: the copy is
// abandoned, its temporary file goes, and nothing of it is put in place.
class CopyStopped : public std::exception {
public:
    const char* what() const noexcept override { return "Copy stopped"; }
};

// How a copy waits, on the thread that makes it.
class CopyPace {
public:
    virtual ~CopyPace() = default;
    // Waits about ms (a pause between two tries of a step); throws when the
    // run ends meanwhile.
    virtual void Pause(DWORD ms) = 0;
    // Between buffers; throws when the run has ended.
    virtual void Check() = 0;
    // Which of the copies made at once this is (a worker's number), so that
    // each has a private folder of its own.
    virtual int Lane() const { return 0; }
};

struct FileJob {
    std::size_t index = 0;  // the entry's place in the listing
    std::wstring name;
    bool replaceExisting = false;  // the overwrite switch when the file was started
    bool again = false;            // a second try: of a source in use, or of a copy tried again alone
    std::size_t started = 0;       // how many files the run had started, this one too, when it started
    bool besideOthers = false;     // other files were in flight when it started
};

struct FileDone {
    enum class Kind {
        Copied,
        Skipped,      // a file of that name is there and stays
        Failed,       // failure: its line
        InUse,        // another program has the source open; failure: its line
        NoRoom,       // the destination's disk was full; failure: its line
        MayBeBack,    // the network or the device failed for what may be a moment; failure: its line
        Unreachable,  // a folder of the run cannot be reached; failure: the folder's line
        Stopped,      // the run stopped it; nothing of it is in place
    };
    FileJob job;
    Kind kind = Kind::Stopped;
    std::string failure;
    DWORD error = ERROR_SUCCESS;  // Failed without a line yet: the reason for the line
};

// How long the end of a session waits for a rename under way: on a share
// that drops, a rename may wait for a network time-out, and Windows ends a
// process that has not answered the session's end within about 5 s.
inline constexpr DWORD kPlacingWaitMs = 2000;

// What the copies of one run share, whichever thread makes them: the
// temporary files they have open, and the gate through which they are put
// in place and counted.
class CopyLedger {
public:
    CopyLedger() = default;
    CopyLedger(const CopyLedger&) = delete;
    CopyLedger& operator=(const CopyLedger&) = delete;

    // Calls `create`, which makes a temporary copy or throws, and has the
    // copy in `file` among the open copies that Close would mark from the
    // moment it exists: Close waits for a creation under way as for a
    // rename. Throws CopyStopped, without the call, once the run is closed,
    // and after it, its copy marked, once Close has marked the others.
    void Create(std::optional<FileStream>& file, const std::function<FileStream()>& create);
    void Closed(FileStream& file) noexcept;

    // Calls `rename` (true when it put the copy in place) and counts the copy
    // with its bytes when it did; ERROR_SUCCESS, or the platform's error of
    // the rename. A copy renamed by its open handle (`open`) is no temporary
    // file any more: it leaves the open copies that Close would mark. Throws
    // CopyStopped, without the call, once the run is closed to placing.
    DWORD Place(const std::function<bool()>& rename, std::uint64_t bytes, FileStream* open);

    // Closes the run to placing: once this has returned, nothing more is put
    // in place or counted. A rename under way is waited for, and counted,
    // for kPlacingWaitMs at most; one that has not ended by then is not
    // known (Unknown), and its copy is left to it. Marks every other
    // temporary file still open to be deleted with its handle, so that none
    // is left however the process ends; returns how many. Never throws.
    int Close() noexcept;

    int Placed() const { return placed_.load(); }
    std::uint64_t PlacedBytes() const { return placedBytes_.load(); }
    // Renames that Close did not see end: each copy may or may not be in place.
    int Unknown() const { return unknown_.load(); }

private:
    SrwLock gate_;
    SrwCondition stepEnded_;             // a creation or a rename has ended
    bool closed_ = false;                // under the gate: no creation or rename begins
    bool counted_ = false;               // under the gate: the tally is final
    std::vector<FileStream*> renaming_;  // under the gate
    int creating_ = 0;                   // under the gate: temporary copies being made
    SrwLock openLock_;                   // taken after the gate
    std::vector<FileStream*> open_;
    std::atomic<int> placed_{0};
    std::atomic<std::uint64_t> placedBytes_{0};
    std::atomic<int> unknown_{0};
};

// A large copy is flushed every this many bytes while it is written, on a
// thread of the run's, so that the disk takes it in as it comes rather than
// all at the end.
inline constexpr std::uint64_t kEarlyFlushBytes = 32u << 20;

// The run's one thread for those flushes, shared by the copies in flight (a
// thread costs about 1 MiB of working set under Wine). Where no thread can be
// had there are none, and each copy's own flush at its end does all.
class EarlyFlushes {
public:
    EarlyFlushes() = default;
    EarlyFlushes(const EarlyFlushes&) = delete;
    EarlyFlushes& operator=(const EarlyFlushes&) = delete;
    // Every copy has ended (End) by now.
    ~EarlyFlushes();

    // Flushes `file` soon, unless a flush of it is waiting or under way. A
    // handle of the copy's own would hold up its writing while it is flushed
    // (Windows serializes the requests of a synchronous handle): `file` is
    // one opened for the flushes alone (OpenToFlush).
    void Begin(HANDLE file);
    // Forgets a flush of `file` that has not begun, and waits for one under
    // way; the file may be closed after it. Never throws.
    void End(HANDLE file) noexcept;

private:
    static constexpr SIZE_T kStack = 64 * 1024;
    static DWORD WINAPI Work(void* self);
    void Flush() noexcept;

    SrwLock lock_;
    SrwCondition changed_;
    std::vector<HANDLE> waiting_;
    HANDLE flushing_ = nullptr;
    bool quit_ = false;
    bool refused_ = false;
    KernelHandle thread_;  // last: the thread ends before the rest goes
};

// Copies the files of one run, one call a file.
class FileCopier {
public:
    FileCopier(const DirPath& source, const Destination& destination, CopyFaults* faults, Retries& retries,
               CopyLedger& ledger, EarlyFlushes& early)
        : source_(source),
          destination_(destination),
          faults_(faults),
          retries_(retries),
          ledger_(ledger),
          early_(early) {}

    // Copies the file of `job`. A failure comes back as the outcome; throws
    // only what `pace` throws (the run has ended).
    FileDone Copy(const FileJob& job, CopyPace& pace) const;

private:
    bool CopyAndPlace(const FileJob& job, const std::string& destFile, CopyPace& pace) const;
    bool Place(const FileJob& job, const std::string& destFile, FileStream& copy, const std::wstring& temporary,
               bool existed, std::uint64_t size, const Pause& pause) const;

    const DirPath& source_;
    const Destination& destination_;
    CopyFaults* faults_;
    Retries& retries_;
    CopyLedger& ledger_;
    EarlyFlushes& early_;
    // A rename by path put a copy in place whose rename by handle was refused.
    mutable std::atomic<bool> renameByPath_{false};
};

}  // namespace zelvo
