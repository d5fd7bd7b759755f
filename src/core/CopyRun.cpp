#include "core/CopyRun.h"

#include "core/Failure.h"
#include "core/FileSystem.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace zelvo {

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

    std::wstring path;
};

std::string ListingFailureText(const std::string& dir, DWORD error) {
    return FormatMessageText(kCannotListDirectoryText, dir) + " (" + SystemErrorText(error) + ")";
}

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
            const std::wstring name = CreateTemporaryDirectory(dir_, sourceNames_);
            if (!name.empty()) {
                temporaryDir_ = std::make_unique<DirPath>(dir_.Inside(name));
                // Held for the whole run, so that the leftover sweep of another
                // copy of the program cannot remove it between two files.
                temporaryHold_ = HoldDirectory(temporaryDir_->Path());
            }
        }
        return temporaryDir_ ? *temporaryDir_ : dir_;
    }

private:
    // A folder of our name is taken for a leftover only when it holds nothing
    // but files of our names; anything else in it is someone else's.
    static int RemoveLeftoverFolder(const DirPath& folder) {
        std::vector<std::wstring> files;
        DirEntry entry;
        DirListing listing(folder);
        while (listing.Next(entry)) {
            if (entry.IsDirectory() || !IsTemporaryName(entry.name)) return 0;
            files.push_back(folder.PathOf(entry.name));
        }
        if (listing.Error() != ERROR_SUCCESS) return 0;
        int removed = 0;
        for (const std::wstring& file : files) removed += RemoveFile(file) ? 1 : 0;
        return removed + (RemoveEmptyDirectory(folder.Path()) ? 1 : 0);
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

void CopyContent(FileStream& source, FileStream& dest, std::uint64_t size, const std::string& sourceFile,
                 const std::string& destFile, CopyProgress& progress, CopyFaults* faults, FileStream* flushing) {
    if (size > 0) {
        const std::size_t bufferSize = size < kCopyBufferSize ? static_cast<std::size_t>(size) : kCopyBufferSize;
        const std::unique_ptr<char[]> buffer(new char[bufferSize]);
        for (std::uint64_t done = 0; done < size;) {
            const std::uint64_t left = size - done;
            const std::size_t chunk = left < bufferSize ? static_cast<std::size_t>(left) : bufferSize;
            if (faults && faults->FailRead(sourceFile, done)) throw StreamReadError(kStreamReadErrorText);
            source.ReadBuffer(buffer.get(), chunk, sourceFile);
            if (faults && faults->FailWrite(destFile, done)) throw StreamWriteError(kStreamWriteErrorText);
            dest.WriteBuffer(buffer.get(), chunk);
            done += chunk;
            progress.BetweenBuffers(dest, flushing);
        }
    }
    // No writer can open the source while we read it, but one outside the
    // platform's sharing rules (a Unix process beside Wine, the server's own
    // side of a share) can still make it longer.
    if (source.Size() != size) throw FileChangedError(FormatMessageText(kFileChangedText, sourceFile));
}

enum class Outcome { Copied, Skipped };

// Whether what a name reaches in the destination may be replaced by the copy
// of that name: not when protected, and not when it is another file whose
// 8.3 alias the name only is (LONGFI~1.TXT must not overwrite longfilename.txt).
bool Replaceable(const FoundEntry& existing, const std::wstring& name) {
    return (existing.attributes & kNotReplaceable) == 0 && SameName(existing.name, name);
}

// Puts the written and closed temporary file in place of destFile.
Outcome Place(Destination& destination, const std::wstring& name, const std::wstring& temporary,
              bool existed, bool replaceExisting, const std::string& destFile) {
    const std::wstring target = destination.Dir().PathOf(name);
    if (!existed) {
        if (MoveIntoPlace(temporary, target, false)) return Outcome::Copied;
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
        }
    }
    // Looked at right before the rename, not at the start of the run: a
    // desktop.ini or Thumbs.db that the shell has written meanwhile is as
    // protected as one that was there.
    const FoundEntry existing = destination.Find(name);
    // Something of that name turned up during the run, or the name is
    // another file's 8.3 alias: without the switch, a file that is there
    // is left alone, just as one there from the start.
    if (!existed && !replaceExisting && !existing.IsDirectory()) return Outcome::Skipped;
    if (existing.found && (!replaceExisting || !Replaceable(existing, name))) {
        throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
    }
    if (!MoveIntoPlace(temporary, target, existing.found)) {
        throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
    }
    return Outcome::Copied;
}

// Flushes on a thread of its own, one file at a time, so that the disk takes
// in one copy while the run reads and writes the next.
class Flusher {
public:
    Flusher() = default;
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;
    ~Flusher() {
        if (!thread_) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        ::WaitForSingleObject(thread_.Get(), INFINITE);
    }

    // Begins flushing `file`, which must stay open until End returns.
    void Begin(HANDLE file) {
        if (!thread_) {
            // A flush needs little stack; a small reservation spares the
            // 32-bit address space.
            thread_.Reset(::CreateThread(nullptr, kFlusherStack, &Flusher::Work, this,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
            if (!thread_) {
                // No thread to be had: flushed here and now, as without one.
                succeeded_ = FlushFileBuffersCall(file) != FALSE;
                return;
            }
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            file_ = file;
            done_ = false;
        }
        changed_.notify_all();
    }

    // Waits for the flush begun last; whether it succeeded.
    bool End() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
        return succeeded_;
    }

private:
    static constexpr SIZE_T kFlusherStack = 64 * 1024;

    static DWORD WINAPI Work(void* self) {
        static_cast<Flusher*>(self)->Flush();
        return 0;
    }

    void Flush() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || file_ != nullptr; });
            if (file_ == nullptr) return;
            const HANDLE file = std::exchange(file_, nullptr);
            lock.unlock();
            const bool succeeded = FlushFileBuffersCall(file) != FALSE;
            lock.lock();
            succeeded_ = succeeded;
            done_ = true;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    HANDLE file_ = nullptr;
    bool done_ = true;
    bool succeeded_ = true;
    bool quit_ = false;
    KernelHandle thread_;
};

// A copy written whole into its temporary file, not yet in place.
struct WrittenCopy {
    std::wstring name;
    std::string destFile;
    std::uint64_t size = 0;
    bool existed = false;
    bool replaceExisting = false;
    bool flush = true;
    TemporaryFile temporary;  // before the stream: the file is closed first, then removed
    std::optional<FileStream> dest;
};

// Reads a source file into a temporary file of the destination, ready to be
// flushed and put in place; null when the file there is left alone.
std::unique_ptr<WrittenCopy> WriteCopy(const DirPath& sourceDir, Destination& destination, const std::wstring& name,
                                       bool replaceExisting, CopyProgress& progress, CopyFaults* faults,
                                       FileStream* flushing) {
    auto copy = std::make_unique<WrittenCopy>();
    copy->name = name;
    copy->destFile = destination.Dir().ShownPathOf(name);
    copy->replaceExisting = replaceExisting;
    const std::string sourceFile = sourceDir.ShownPathOf(name);
    FileStream source = FileStream::OpenRead(sourceDir.PathOf(name), sourceFile);
    copy->size = source.Size();
    if (destination.MayHold(name)) {
        // Found before the copy, what will not be replaced costs no copying.
        const FoundEntry existing = destination.Find(name);
        if (existing.found) {
            if (existing.IsDirectory()) throw FileCreateError(FormatMessageText(kCannotCreateFileText, copy->destFile));
            if (!replaceExisting) return nullptr;
            if (!Replaceable(existing, name)) {
                throw FileCreateError(FormatMessageText(kCannotCreateFileText, copy->destFile));
            }
            copy->existed = true;
        }
    }
    copy->dest.emplace(FileStream::CreateTemporary(destination.TemporaryDir(), destination.SourceNames(),
                                                   copy->destFile, copy->temporary.path));
    CopyContent(source, *copy->dest, copy->size, sourceFile, copy->destFile, progress, faults, flushing);
    const CopyFaults::Flush flush = faults ? faults->BeforeFlush(copy->destFile) : CopyFaults::Flush::Do;
    if (flush == CopyFaults::Flush::Fail) throw StreamWriteError(kStreamWriteErrorText);
    copy->flush = flush == CopyFaults::Flush::Do;
    return copy;
}

// Holds the copy written last while its flush runs beside the next file's
// copy, and puts it in place once the flush has ended. Without the flush the
// rename could reach the disk before the content does, and a power cut would
// leave a torn file under the name: a replaced copy lost, or a new one that
// every later run without the overwrite switch would skip as present.
class FlushBehind {
public:
    FlushBehind() = default;
    FlushBehind(const FlushBehind&) = delete;
    FlushBehind& operator=(const FlushBehind&) = delete;
    // A copy still held (the run was cut off) goes with its temporary file.
    ~FlushBehind() {
        if (held_ && held_->flush) flusher_.End();
    }

    // The held copy's file, open until it is settled.
    FileStream* Flushing() { return held_ ? &*held_->dest : nullptr; }

    void Hold(std::unique_ptr<WrittenCopy> copy) {
        held_ = std::move(copy);
        if (held_->flush) flusher_.Begin(held_->dest->Native());
    }

    // Puts the held copy in place and counts it; its failure goes to `result`.
    void Settle(Destination& destination, CopyRunResult& result) {
        if (!held_) return;
        const bool flushed = !held_->flush || flusher_.End();
        const std::unique_ptr<WrittenCopy> copy = std::move(held_);
        try {
            if (!flushed) throw StreamWriteError(kStreamWriteErrorText);
            copy->dest->Close();
            if (Place(destination, copy->name, copy->temporary.path, copy->existed, copy->replaceExisting,
                      copy->destFile) == Outcome::Copied) {
                copy->temporary.Keep();
                result.bytesCopied += copy->size;
                ++result.copied;
            } else {
                ++result.skipped;
            }
        } catch (const Failure& failure) {
            result.failures.emplace_back(failure.what());
        }
    }

private:
    Flusher flusher_;
    std::unique_ptr<WrittenCopy> held_;
};

}  // namespace

CopyRunResult RunCopy(const std::string& sourcePath, const std::string& destPath,
                      const OverwriteSwitch& overwrite, CopyProgress& progress, CopyFaults* faults) {
    CopyRunResult result;
    if (!IsUsableDirectoryPath(destPath)) {
        result.refused = true;
        return result;
    }

    progress.Track(result);
    const DirPath source(sourcePath);
    Destination destination(destPath, faults);
    if (destination.ListingError() != ERROR_SUCCESS) {
        result.failures.push_back(ListingFailureText(destPath, destination.ListingError()));
    }
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

    FlushBehind flushBehind;
    DirListing listing(source, FaultsOf(faults, sourcePath));
    while (listing.Next(entry)) {
        progress.SetCaption(kCaptionPrefix + source.ShownPathOf(entry.name));
        progress.StepIt();
        if (entry.IsDirectory()) {
            ++result.directories;
            continue;
        }
        const bool replaceExisting = overwrite();
        if (!replaceExisting && destination.HoldsFile(entry.name)) {
            ++result.skipped;
            continue;
        }
        std::unique_ptr<WrittenCopy> written;
        try {
            written = WriteCopy(source, destination, entry.name, replaceExisting, progress, faults,
                                flushBehind.Flushing());
        } catch (const Failure& failure) {
            flushBehind.Settle(destination, result);
            result.failures.emplace_back(failure.what());
            continue;
        } catch (const RunCutOff&) {
            // The temporary files, the one written and the one still held,
            // go with the unwinding; the rest is not reached.
            result.cutOff = true;
            return result;
        }
        flushBehind.Settle(destination, result);
        if (written) {
            flushBehind.Hold(std::move(written));
        } else {
            ++result.skipped;
        }
    }
    flushBehind.Settle(destination, result);
    // What was copied stays; the rest of the source was never seen.
    if (listing.Error() != ERROR_SUCCESS) result.failures.push_back(ListingFailureText(sourcePath, listing.Error()));
    progress.SetPosition(kProgressMax);
    return result;
}

}  // namespace zelvo
