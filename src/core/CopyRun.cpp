#include "core/CopyRun.h"

#include "core/Failure.h"
#include "core/FileSystem.h"
#include "core/Retry.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace zelvo {

HANDLE(WINAPI* CreateThreadCall)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                 LPDWORD) = ::CreateThread;

namespace {

constexpr char kCaptionPrefix[] = " 备份 ";

// Existing destinations that a backup never replaces: a read-only file was
// protected on purpose, a hidden or system file (desktop.ini, a folder's
// thumbnail cache, another program's marker) belongs to someone else, and a
// directory is no file at all.
constexpr DWORD kNotReplaceable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// Removes the temporary file unless it has been put in place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path.empty()) RemoveFile(path);
    }
    void Keep() { path.clear(); }
    // A scanner may open a closed copy for a moment, and the removal must
    // wait for it like any other step.
    void Remove(Retries& retries) {
        if (path.empty()) return;
        const DWORD error = retries.Run([this] { return RemoveFile(path) ? ERROR_SUCCESS : ::GetLastError(); });
        if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) path.clear();
    }

    std::wstring path;
};

std::string ListingFailureText(const std::string& dir, DWORD error) {
    return FailureLine(kCannotListDirectoryText, dir, error);
}

// The temporary files a run has open, and its tally, for a receiver that must
// end the run at once. At most two are open: the copy being written and the
// one written before it, while its flush runs.
class OpenCopies final : public RunInHand {
public:
    explicit OpenCopies(const CopyRunResult& result) : result_(result) { open_.reserve(kMostOpen); }
    OpenCopies(const OpenCopies&) = delete;
    OpenCopies& operator=(const OpenCopies&) = delete;

    const CopyRunResult& SoFar() const override { return result_; }
    int DropOpenCopies() noexcept override {
        int marked = 0;
        for (FileStream* file : open_) marked += file->DeleteOnClose() ? 1 : 0;
        return marked;
    }

    void Add(FileStream& file) noexcept {
        if (open_.size() < kMostOpen) open_.push_back(&file);
    }
    void Remove(FileStream& file) noexcept {
        open_.erase(std::remove(open_.begin(), open_.end(), &file), open_.end());
    }

private:
    static constexpr std::size_t kMostOpen = 2;
    const CopyRunResult& result_;
    std::vector<FileStream*> open_;
};

ListingFault FaultsOf(CopyFaults* faults, const std::string& dir) {
    if (!faults) return nullptr;
    return [faults, dir](std::size_t listed) { return static_cast<DWORD>(faults->ListingError(dir, listed)); };
}

// The destination side of one run.
//
// Under Wine every look-up of a name that does not exist reads the whole
// directory (it must rule out a match in another case), so in a destination of
// thousands of files each such probe costs milliseconds. The names present
// when the run starts are therefore read once, as case-blind hashes, and a
// name that is not among them is not probed again: the rename that puts a
// copy in place never replaces a file that turned up since without looking at
// it first (see Place). For the same reason the temporary files go to a
// private directory of ours inside the destination, where creating a new name
// is cheap.
class Destination {
public:
    Destination(const std::string& path, CopyFaults* faults) : dir_(path) {
        DirEntry entry;
        DirListing listing(dir_, FaultsOf(faults, path));
        while (listing.Next(entry)) {
            names_.push_back(Hash(entry.name));
            if (entry.IsDirectory() && IsTemporaryName(entry.name)) leftovers_.push_back(entry);
        }
        listingError_ = listing.Error();
        std::sort(names_.begin(), names_.end());
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    ~Destination() {
        if (!temporaryDir_) return;
        // Our own hold would make the removal fail just as another's does.
        temporaryHold_.Reset();
        RemoveEmptyDirectory(temporaryDir_->Path());
    }

    // Removes our private folder at the end of the run, waiting for an
    // indexer or a scanner that has it open; the destructor tries once.
    void Finish(Retries& retries) {
        if (!temporaryDir_) return;
        temporaryHold_.Reset();
        const std::wstring path = temporaryDir_->Path();
        retries.Run([&path] { return RemoveEmptyDirectory(path) ? ERROR_SUCCESS : ::GetLastError(); });
        temporaryDir_.reset();
    }

    // The error that cut the starting listing short; ERROR_SUCCESS if none.
    // Without the whole listing every name is looked up (MayHold).
    DWORD ListingError() const { return listingError_; }

    // Names of the source that look like ours. No temporary name of ours may
    // take one of them, and no folder of such a name is taken for a leftover.
    void SetSourceNames(std::vector<std::wstring> names) { sourceNames_ = std::move(names); }

    // Removes the folders that a killed run left among the names listed at the
    // start; returns how many files and folders went. Only folders: a file of
    // our name at the top may be a backup of a user's file of that name,
    // whose source has gone since. A file of ours that another running copy of
    // the program is writing is open without sharing, and its folder is held
    // open (see TemporaryDir), so both resist removal here.
    int RemoveLeftovers() {
        int removed = 0;
        for (const DirEntry& leftover : leftovers_) {
            const auto same = [&](const std::wstring& name) { return SameName(name, leftover.name); };
            if (std::none_of(sourceNames_.begin(), sourceNames_.end(), same)) {
                removed += RemoveLeftoverFolder(dir_.Inside(leftover.name));
            }
        }
        leftovers_.clear();
        return removed;
    }

    const DirPath& Dir() const { return dir_; }
    const std::vector<std::wstring>& SourceNames() const { return sourceNames_; }

    // The skip test: a file (not a directory) that the name reaches, also
    // through its 8.3 alias.
    bool HoldsFile(const std::wstring& name) const {
        if (!MayHold(name)) return false;
        const FoundEntry found = Find(name);
        return found.found && !found.IsDirectory();
    }

    // What the name reaches in the destination now. Only a name with a "~"
    // can be another file's 8.3 alias, so only such a name needs the listing
    // that tells which name answered; for any other the attributes, which
    // cost far less under Wine, tell all.
    FoundEntry Find(const std::wstring& name) const {
        const std::wstring path = dir_.PathOf(name);
        if (name.find(L'~') != std::wstring::npos) return FindExact(path);
        FoundEntry found;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) found = FoundEntry{true, name, attributes};
        return found;
    }

    // Whether the run may have to look the name up: always, unless the
    // whole starting listing says it was not there.
    bool MayHold(const std::wstring& name) const {
        return listingError_ != ERROR_SUCCESS || std::binary_search(names_.begin(), names_.end(), Hash(name));
    }

    // Where temporary files go: our private directory, or the destination
    // itself when no directory can be made there.
    const DirPath& TemporaryDir() {
        if (!temporaryTried_) {
            temporaryTried_ = true;
            // Held for the whole run, so that the leftover sweep of another
            // copy of the program leaves it and everything in it alone. Such
            // a sweep may take the folder in the moment before the hold; then
            // another is made.
            for (int attempt = 0; attempt < kHoldAttempts && !temporaryDir_; ++attempt) {
                const std::wstring name = CreateTemporaryDirectory(dir_, sourceNames_);
                if (name.empty()) break;
                DirPath folder = dir_.Inside(name);
                temporaryHold_ = HoldDirectory(folder.Path());
                // A file system that will not hold a folder still has it.
                const bool there = temporaryHold_ || ::GetFileAttributesW(folder.Path().c_str()) != INVALID_FILE_ATTRIBUTES;
                if (there) temporaryDir_ = std::make_unique<DirPath>(std::move(folder));
            }
        }
        return temporaryDir_ ? *temporaryDir_ : dir_;
    }

private:
    static constexpr int kHoldAttempts = 3;

    // A folder of our name is taken for a leftover only when it holds nothing
    // but files of our names; anything else in it is someone else's. The
    // folder of a live run is held, and nothing in it is touched: a copy it
    // has written and closed may be waiting there for its rename.
    static int RemoveLeftoverFolder(const DirPath& folder) {
        std::vector<std::wstring> files;
        DirEntry entry;
        DirListing listing(folder);
        while (listing.Next(entry)) {
            if (entry.IsDirectory() || !IsTemporaryName(entry.name)) return 0;
            files.push_back(folder.PathOf(entry.name));
        }
        if (listing.Error() != ERROR_SUCCESS) return 0;
        // After the listing, which the claim would keep out. A live run
        // never takes a folder that was there before it.
        FileHandle claim = ClaimDirectory(folder.Path());
        if (!claim) return 0;
        int removed = 0;
        for (const std::wstring& file : files) removed += RemoveFile(file) ? 1 : 0;
        return removed + (RemoveClaimedDirectory(claim) ? 1 : 0);
    }

    // Names that the file system holds equal without case always hash equal
    // (a false match only costs a real probe; a miss is caught by the rename).
    static std::uint32_t Hash(const std::wstring& name) {
        std::wstring upper(name.size(), L'\0');
        const int length = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(),
                                          static_cast<int>(name.size()), upper.data(), static_cast<int>(upper.size()));
        if (length != static_cast<int>(name.size())) upper = name;
        std::uint32_t hash = 2166136261u;
        for (const wchar_t unit : upper) {
            hash = (hash ^ (unit & 0xFFu)) * 16777619u;
            hash = (hash ^ (unit >> 8)) * 16777619u;
        }
        return hash;
    }

    DirPath dir_;
    std::vector<std::uint32_t> names_;
    std::vector<DirEntry> leftovers_;
    std::vector<std::wstring> sourceNames_;
    DWORD listingError_ = ERROR_SUCCESS;
    std::unique_ptr<DirPath> temporaryDir_;
    FileHandle temporaryHold_;
    bool temporaryTried_ = false;
};

void CopyContent(FileStream& source, FileStream& dest, std::uint64_t size, CopyProgress& progress,
                 CopyFaults* faults) {
    if (size > 0) {
        const std::size_t bufferSize = size < kCopyBufferSize ? static_cast<std::size_t>(size) : kCopyBufferSize;
        const std::unique_ptr<char[]> buffer(new char[bufferSize]);
        for (std::uint64_t done = 0; done < size;) {
            const std::uint64_t left = size - done;
            const std::size_t chunk = left < bufferSize ? static_cast<std::size_t>(left) : bufferSize;
            if (const DWORD refused = faults ? faults->FailRead(source.Shown(), done) : 0) {
                throw FailureOf<StreamReadError>(kStreamReadErrorText, source.Shown(), refused);
            }
            source.ReadBuffer(buffer.get(), chunk);
            if (faults && faults->FailWrite(dest.Shown(), done)) {
                throw FailureOf<StreamWriteError>(kStreamWriteErrorText, dest.Shown(), ERROR_WRITE_FAULT);
            }
            dest.WriteBuffer(buffer.get(), chunk);
            done += chunk;
            progress.KeepAlive();
        }
    }
    // No writer can open the source while we read it, but one outside the
    // platform's sharing rules (a Unix process beside Wine, the server's own
    // side of a share) can still make it longer.
    if (source.Size() != size) throw FileChangedError(FormatMessageText(kFileChangedText, source.Shown()));
}

enum class Outcome { Copied, Skipped };

// Why what a name reaches in the destination may not be replaced by the copy
// of that name, as the platform's error; ERROR_SUCCESS when it may. Never
// when protected or a directory (the platform's own create over such a file
// is refused so: ERROR_ACCESS_DENIED), and not when it is another file whose
// 8.3 alias the name only is (LONGFI~1.TXT must not overwrite longfilename.txt).
DWORD ReplaceRefusal(const FoundEntry& existing, const std::wstring& name) {
    if ((existing.attributes & kNotReplaceable) != 0) return ERROR_ACCESS_DENIED;
    return SameName(existing.name, name) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
}

FileCreateError CreateFailure(const std::string& destFile, DWORD error) {
    return FailureOf<FileCreateError>(kCannotCreateFileText, destFile, error);
}

// Puts the written and closed temporary file in place of destFile.
Outcome Place(Destination& destination, const std::wstring& name, const std::wstring& temporary,
              bool existed, bool replaceExisting, const std::string& destFile, Retries& retries) {
    const std::wstring target = destination.Dir().PathOf(name);
    const auto rename = [&](bool replace) {
        return [&, replace] { return MoveIntoPlace(temporary, target, replace) ? ERROR_SUCCESS : ::GetLastError(); };
    };
    if (!existed) {
        // Refused for a moment when a scanner has opened the closed copy.
        const DWORD error = retries.Run(rename(false));
        if (error == ERROR_SUCCESS) return Outcome::Copied;
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) throw CreateFailure(destFile, error);
    }
    // Looked at right before the rename, not at the start of the run: a
    // desktop.ini or Thumbs.db that the shell has written meanwhile is as
    // protected as one that was there.
    const FoundEntry existing = destination.Find(name);
    // Something of that name turned up during the run, or the name is
    // another file's 8.3 alias: without the switch, a file that is there
    // is left alone, just as one there from the start.
    if (!existed && !replaceExisting && !existing.IsDirectory()) return Outcome::Skipped;
    if (existing.found) {
        const DWORD refusal = replaceExisting ? ReplaceRefusal(existing, name) : ERROR_ACCESS_DENIED;
        if (refusal != ERROR_SUCCESS) throw CreateFailure(destFile, refusal);
    }
    // A reader that has the old copy open without sharing its deletion
    // refuses the replacement while it holds it; a file that has become
    // protected meanwhile refuses it for good.
    const DWORD error = retries.Run(rename(existing.found), [&](DWORD refused) {
        if (!IsMomentaryRefusal(refused)) return false;
        const FoundEntry now = destination.Find(name);
        return !now.found || ReplaceRefusal(now, name) == ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) throw CreateFailure(destFile, error);
    return Outcome::Copied;
}

// Flushes on a thread of its own, one file at a time, so that the disk takes
// in one copy while the run reads and writes the next. The thread and the run
// hand a file over through two events, which also order what they share.
class Flusher {
public:
    Flusher() = default;
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;
    // The thread is idle by now: every flush begun has been waited for.
    ~Flusher() {
        if (!thread_) return;
        quit_ = true;
        ::SetEvent(work_.Get());
        ::WaitForSingleObject(thread_.Get(), INFINITE);
    }

    // Begins flushing `file`, which must stay open until End has returned.
    void Begin(HANDLE file) {
        if (!thread_ && work_ && done_) {
            // A flush needs little stack; a small reservation spares the
            // 32-bit address space.
            thread_.Reset(CreateThreadCall(nullptr, kFlusherStack, &Flusher::Work, this,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        }
        if (!thread_) {
            // No thread to be had: flushed here and now, as without one.
            error_ = FlushFileBuffersCall(file) ? ERROR_SUCCESS : ::GetLastError();
            return;
        }
        file_ = file;
        ::ResetEvent(done_.Get());
        ::SetEvent(work_.Get());
    }

    // Waits for the flush begun last, calling `look` every kFlushWaitStepMs
    // until it has ended; its error, ERROR_SUCCESS when it succeeded. When
    // `look` throws, the flush goes on, and End must be called again before
    // its file is closed.
    DWORD End(const std::function<void()>& look) {
        while (thread_ && ::WaitForSingleObject(done_.Get(), kFlushWaitStepMs) == WAIT_TIMEOUT) look();
        return error_;
    }

private:
    static constexpr SIZE_T kFlusherStack = 64 * 1024;

    static DWORD WINAPI Work(void* self) {
        static_cast<Flusher*>(self)->Flush();
        return 0;
    }

    void Flush() {
        for (;;) {
            ::WaitForSingleObject(work_.Get(), INFINITE);
            if (quit_) return;
            error_ = FlushFileBuffersCall(file_) ? ERROR_SUCCESS : ::GetLastError();
            ::SetEvent(done_.Get());
        }
    }

    KernelHandle work_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // a file to flush, or quit
    KernelHandle done_{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};    // no flush under way
    HANDLE file_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
    std::atomic<bool> quit_{false};
    KernelHandle thread_;  // last: the thread ends before the events close
};

// A copy written whole into its temporary file, not yet in place; its open
// file is among the run's open copies while it lives.
struct WrittenCopy {
    explicit WrittenCopy(OpenCopies& openCopies) : open(openCopies) {}
    WrittenCopy(const WrittenCopy&) = delete;
    WrittenCopy& operator=(const WrittenCopy&) = delete;
    ~WrittenCopy() {
        if (!dest) return;
        open.Remove(*dest);
        // Still open, the copy is ours alone: it goes with our handle, before
        // a scanner that looks at every file as it is closed can hold it.
        if (dest->IsOpen() && !temporary.path.empty()) dest->DeleteOnClose();
    }

    OpenCopies& open;
    std::size_t index = 0;  // the entry's place in the listing
    std::wstring name;
    std::string destFile;
    std::uint64_t size = 0;
    bool existed = false;
    bool replaceExisting = false;
    bool flush = true;
    TemporaryFile temporary;  // before the stream: the file is closed first, then removed
    std::optional<FileStream> dest;
};

// Creates the temporary file of a copy, waiting while it is refused for a moment.
FileStream CreateTemporary(Destination& destination, const WrittenCopy& copy, std::wstring& path, Retries& retries) {
    std::optional<FileStream> stream;
    std::string failure;
    const DWORD error = retries.Run([&] {
        try {
            stream.emplace(FileStream::CreateTemporary(destination.TemporaryDir(), destination.SourceNames(),
                                                       copy.destFile, path));
            return static_cast<DWORD>(ERROR_SUCCESS);
        } catch (const FileCreateError& refused) {
            failure = refused.what();
            return static_cast<DWORD>(refused.Error());
        }
    });
    if (error != ERROR_SUCCESS) throw FileCreateError(failure, error);
    return std::move(*stream);
}

// Reads a source file into a temporary file of the destination, ready to be
// flushed and put in place; null when the file there is left alone.
std::unique_ptr<WrittenCopy> WriteCopy(const DirPath& sourceDir, Destination& destination, std::size_t index,
                                       const std::wstring& name, bool replaceExisting, CopyProgress& progress,
                                       CopyFaults* faults, OpenCopies& open, Retries& retries) {
    auto copy = std::make_unique<WrittenCopy>(open);
    copy->index = index;
    copy->name = name;
    copy->destFile = destination.Dir().ShownPathOf(name);
    copy->replaceExisting = replaceExisting;
    FileStream source = FileStream::OpenRead(sourceDir.PathOf(name), sourceDir.ShownPathOf(name));
    copy->size = source.Size();
    if (destination.MayHold(name)) {
        // Found before the copy, what will not be replaced costs no copying.
        const FoundEntry existing = destination.Find(name);
        if (existing.found) {
            if (existing.IsDirectory()) throw CreateFailure(copy->destFile, ERROR_ACCESS_DENIED);
            if (!replaceExisting) return nullptr;
            const DWORD refusal = ReplaceRefusal(existing, name);
            if (refusal != ERROR_SUCCESS) throw CreateFailure(copy->destFile, refusal);
            copy->existed = true;
        }
    }
    copy->dest.emplace(CreateTemporary(destination, *copy, copy->temporary.path, retries));
    open.Add(*copy->dest);
    CopyContent(source, *copy->dest, copy->size, progress, faults);
    copy->flush = !faults || faults->BeforeFlush(copy->destFile) == CopyFaults::Flush::Do;
    return copy;
}

// The failures of a run in the order of the listing, whenever each was found
// (a source in use fails only after its second chance). The destination's
// listing comes first, a source listing that broke off last.
class Failures {
public:
    static constexpr std::size_t kFirst = 0;
    static constexpr std::size_t kLast = static_cast<std::size_t>(-1);

    explicit Failures(std::vector<std::string>& lines) : lines_(lines) {}

    void Add(std::size_t index, std::string line) {
        const auto at = std::upper_bound(indexes_.begin(), indexes_.end(), index);
        lines_.insert(lines_.begin() + (at - indexes_.begin()), std::move(line));
        indexes_.insert(at, index);
    }

private:
    std::vector<std::string>& lines_;
    std::vector<std::size_t> indexes_;
};

// Holds the copy written last while its flush runs beside the next file's
// copy, and puts it in place once the flush has ended. Without the flush the
// rename could reach the disk before the content does, and a power cut would
// leave a torn file under the name: a replaced copy lost, or a new one that
// every later run without the overwrite switch would skip as present.
class FlushBehind {
public:
    explicit FlushBehind(CopyProgress& progress) : progress_(progress) {}
    FlushBehind(const FlushBehind&) = delete;
    FlushBehind& operator=(const FlushBehind&) = delete;
    // A copy still held (the run was cut off) goes with its temporary file,
    // once the flush thread is done with it; the window still looks at its
    // queue meanwhile, and the cut-off has been taken already.
    ~FlushBehind() {
        if (!held_ || !held_->flush) return;
        flusher_.End([this] {
            try {
                progress_.KeepAlive();
            } catch (...) {
            }
        });
    }

    void Hold(std::unique_ptr<WrittenCopy> copy) {
        held_ = std::move(copy);
        if (held_->flush) flusher_.Begin(held_->dest->Native());
    }

    // Puts the held copy in place and counts it; its failure goes to `failures`.
    void Settle(Destination& destination, CopyRunResult& result, Failures& failures, Retries& retries) {
        if (!held_) return;
        const DWORD flushError = held_->flush ? flusher_.End([this] { progress_.KeepAlive(); }) : ERROR_SUCCESS;
        const std::unique_ptr<WrittenCopy> copy = std::move(held_);
        try {
            if (flushError != ERROR_SUCCESS) {
                throw FailureOf<StreamWriteError>(kStreamWriteErrorText, copy->destFile, flushError);
            }
            copy->dest->Close();
            if (Place(destination, copy->name, copy->temporary.path, copy->existed, copy->replaceExisting,
                      copy->destFile, retries) == Outcome::Copied) {
                copy->temporary.Keep();
                result.bytesCopied += copy->size;
                ++result.copied;
            } else {
                ++result.skipped;
            }
        } catch (const Failure& failure) {
            failures.Add(copy->index, failure.what());
            if (!copy->dest->IsOpen()) copy->temporary.Remove(retries);
        }
    }

private:
    CopyProgress& progress_;
    Flusher flusher_;
    std::unique_ptr<WrittenCopy> held_;
};

// Waits `ms` in steps of kFlushWaitStepMs, keeping the receiver alive.
void WaitKeepingAlive(CopyProgress& progress, DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (;;) {
        progress.KeepAlive();
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return;
        ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kFlushWaitStepMs, end - now)));
    }
}

// A source that another program had open when the run came to it.
struct SetAside {
    std::size_t index;
    std::wstring name;
    std::string failure;  // what its last try gave
    ULONGLONG triedAt;
};

// The copy pass of one run and the second chance of the sources in use.
class CopyPass {
public:
    CopyPass(const DirPath& source, Destination& destination, const OverwriteSwitch& overwrite,
             CopyProgress& progress, CopyFaults* faults, const CopyTuning& tuning, CopyRunResult& result,
             OpenCopies& open)
        : source_(source),
          destination_(destination),
          overwrite_(overwrite),
          progress_(progress),
          faults_(faults),
          result_(result),
          open_(open),
          failures_(result.failures),
          retries_(tuning.retries, [&progress](DWORD ms) { WaitKeepingAlive(progress, ms); }),
          flushBehind_(progress) {}

    Failures& FailureList() { return failures_; }

    // One entry of the listing, stepped already.
    void Entry(std::size_t index, const DirEntry& entry) {
        if (entry.IsDirectory()) {
            ++result_.directories;
            return;
        }
        Copy(index, entry.name);
    }

    // Tries the sources that were in use again, about once every
    // secondChanceEveryMs until secondChanceMs have passed; what is still
    // refused then is reported as it was refused.
    void SecondChance() {
        const RetryTiming& timing = retries_.Timing();
        const ULONGLONG deadline = ::GetTickCount64() + timing.secondChanceMs;
        while (!setAside_.empty()) {
            ULONGLONG next = deadline;
            for (const SetAside& file : setAside_) next = std::min(next, file.triedAt + timing.secondChanceEveryMs);
            const ULONGLONG now = ::GetTickCount64();
            if (next > now) WaitKeepingAlive(progress_, static_cast<DWORD>(next - now));
            const bool last = ::GetTickCount64() >= deadline;
            std::vector<SetAside> waiting = std::move(setAside_);
            setAside_.clear();
            for (SetAside& file : waiting) {
                if (last || file.triedAt + timing.secondChanceEveryMs <= ::GetTickCount64()) {
                    progress_.SetCaption(kCaptionPrefix + source_.ShownPathOf(file.name));
                    Copy(file.index, file.name);
                } else {
                    setAside_.push_back(std::move(file));
                }
            }
            if (last) break;
        }
        flushBehind_.Settle(destination_, result_, failures_, retries_);
        for (SetAside& file : setAside_) failures_.Add(file.index, std::move(file.failure));
        setAside_.clear();
    }

    // Puts the last copy in place.
    void Settle() { flushBehind_.Settle(destination_, result_, failures_, retries_); }
    void RemoveTemporaryFolder() { destination_.Finish(retries_); }

private:
    // One try at a file.
    void Copy(std::size_t index, const std::wstring& name) {
        const bool replaceExisting = overwrite_();
        if (!replaceExisting && destination_.HoldsFile(name)) {
            ++result_.skipped;
            return;
        }
        std::unique_ptr<WrittenCopy> written;
        try {
            written =
                WriteCopy(source_, destination_, index, name, replaceExisting, progress_, faults_, open_, retries_);
        } catch (const Failure& failure) {
            flushBehind_.Settle(destination_, result_, failures_, retries_);
            // Read or opened by another program right now (a scanner, an
            // indexer, a sync client): most such holds last a moment.
            const bool inUse = IsInUse(failure.Error()) && (dynamic_cast<const FileOpenError*>(&failure) ||
                                                            dynamic_cast<const StreamReadError*>(&failure));
            if (inUse) {
                SetAside file{index, name, failure.what(), ::GetTickCount64()};
                setAside_.push_back(std::move(file));
            } else {
                failures_.Add(index, failure.what());
            }
            return;
        }
        flushBehind_.Settle(destination_, result_, failures_, retries_);
        if (written) {
            flushBehind_.Hold(std::move(written));
        } else {
            ++result_.skipped;
        }
    }

    const DirPath& source_;
    Destination& destination_;
    const OverwriteSwitch& overwrite_;
    CopyProgress& progress_;
    CopyFaults* faults_;
    CopyRunResult& result_;
    OpenCopies& open_;
    Failures failures_;
    Retries retries_;
    FlushBehind flushBehind_;
    std::vector<SetAside> setAside_;
};

}  // namespace

CopyRunResult RunCopy(const std::string& sourcePath, const std::string& destPath,
                      const OverwriteSwitch& overwrite, CopyProgress& progress, CopyFaults* faults,
                      const CopyTuning& tuning) {
    CopyRunResult result;
    if (!IsUsableDirectoryPath(destPath)) {
        result.refused = true;
        return result;
    }

    OpenCopies open(result);
    progress.Track(open);
    const DirPath source(sourcePath);
    Destination destination(destPath, faults);
    DirEntry entry;
    int count = 0;
    std::vector<std::wstring> temporaryLookAlikes;
    DWORD countingError = ERROR_SUCCESS;
    {
        DirListing counting(source, FaultsOf(faults, sourcePath));
        while (counting.Next(entry)) {
            ++count;
            if (IsTemporaryNameInAnyCase(entry.name)) temporaryLookAlikes.push_back(entry.name);
        }
        countingError = counting.Error();
    }
    destination.SetSourceNames(std::move(temporaryLookAlikes));
    // Without the whole source listing a leftover cannot be told from a backup.
    if (countingError == ERROR_SUCCESS) result.leftoversRemoved = destination.RemoveLeftovers();
    // An empty source has no step to divide out; a zero step also keeps the
    // bar still should files appear before the copy pass.
    progress.SetStep(count > 0 ? kProgressMax / count : 0);

    DWORD listingError = ERROR_SUCCESS;
    try {
        CopyPass pass(source, destination, overwrite, progress, faults, tuning, result, open);
        if (destination.ListingError() != ERROR_SUCCESS) {
            pass.FailureList().Add(Failures::kFirst, ListingFailureText(destPath, destination.ListingError()));
        }
        DirListing listing(source, FaultsOf(faults, sourcePath));
        for (std::size_t index = Failures::kFirst + 1; listing.Next(entry); ++index) {
            progress.SetCaption(kCaptionPrefix + source.ShownPathOf(entry.name));
            progress.StepIt();
            pass.Entry(index, entry);
        }
        listingError = listing.Error();
        pass.SecondChance();
        // What was copied stays; the rest of the source was never seen.
        if (listingError != ERROR_SUCCESS) {
            pass.FailureList().Add(Failures::kLast, ListingFailureText(sourcePath, listingError));
        }
        pass.Settle();
        progress.SetPosition(kProgressMax);
        pass.RemoveTemporaryFolder();
    } catch (const RunCutOff&) {
        // The temporary files, the one being written and the one held for its
        // flush, have gone with the unwinding; the rest is not reached.
        result.cutOff = true;
    }
    return result;
}

}  // namespace zelvo
