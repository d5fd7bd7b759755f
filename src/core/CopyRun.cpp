#include "core/CopyRun.h"

#include "core/Failure.h"
#include "core/FileSystem.h"

#include <algorithm>
#include <memory>

namespace zelvo {

namespace {

constexpr char kCaptionPrefix[] = " 备份 ";

// Existing destinations that a backup never replaces: a read-only file was
// protected on purpose, a hidden or system file (desktop.ini, a folder's
// thumbnail cache, another program's marker) belongs to someone else, and a
// directory is no file at all.
constexpr DWORD kNotReplaceable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

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

    std::string path;
};

// The destination side of one run.
//
// Under Wine every look-up of a name that does not exist reads the whole
// directory (it must rule out a match in another case), so in a destination of
// thousands of files each such probe costs milliseconds. The names present
// when the run starts are therefore read once, as case-blind hashes, and a
// name that is not among them is not probed again: the rename that puts a copy
// in place still refuses to replace a file that appeared since (without the
// overwrite switch), and the platform refuses to replace a read-only one.
// For the same reason the temporary files go to a private directory of ours
// inside the destination, where creating a new name is cheap.
class Destination {
public:
    explicit Destination(const std::string& path) : path_(path) {
        DirEntry entry;
        for (DirListing listing(path); listing.Next(entry);) {
            names_.push_back(Hash(entry.name));
            if (IsTemporaryName(entry.name)) leftovers_.push_back(entry);
        }
        std::sort(names_.begin(), names_.end());
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    ~Destination() {
        if (temporaryDir_.empty()) return;
        // Our own hold would make the removal fail just as another's does.
        temporaryHold_.Reset();
        RemoveEmptyDirectory(temporaryDir_);
    }

    // Removes what a killed run left among the names listed at the start;
    // returns how many files and folders went. A file of ours that another
    // running copy of the program is writing is open without sharing, and its
    // folder is held open (see TemporaryDir), so both resist removal here.
    int RemoveLeftovers() {
        int removed = 0;
        for (const DirEntry& leftover : leftovers_) {
            const std::string path = JoinPath(path_, leftover.name);
            if (leftover.IsDirectory()) {
                removed += RemoveLeftoverFolder(path);
            } else if (RemoveFile(path)) {
                ++removed;
            }
        }
        leftovers_.clear();
        return removed;
    }

    const std::string& Path() const { return path_; }

    // The skip test: a file (not a directory) listed under exactly that name.
    bool HoldsFile(const std::string& name) const {
        return MayHold(name) && FileExistsByListing(JoinPath(path_, name));
    }

    // Attributes of an existing object of that name, INVALID_FILE_ATTRIBUTES if none.
    DWORD Attributes(const std::string& name) const {
        return MayHold(name) ? PathAttributes(JoinPath(path_, name)) : INVALID_FILE_ATTRIBUTES;
    }

    // Where temporary files go: our private directory, or the destination
    // itself when no directory can be made there.
    const std::string& TemporaryDir() {
        if (!temporaryTried_) {
            temporaryTried_ = true;
            temporaryDir_ = CreateTemporaryDirectory(path_);
            // Held for the whole run, so that the leftover sweep of another
            // copy of the program cannot remove it between two files.
            if (!temporaryDir_.empty()) temporaryHold_ = HoldDirectory(temporaryDir_);
        }
        return temporaryDir_.empty() ? path_ : temporaryDir_;
    }

private:
    // A folder of our name is taken for a leftover only when it holds nothing
    // but files of our names; anything else in it is someone else's.
    static int RemoveLeftoverFolder(const std::string& path) {
        std::vector<std::string> files;
        DirEntry entry;
        for (DirListing listing(path); listing.Next(entry);) {
            if (entry.IsDirectory() || !IsTemporaryName(entry.name)) return 0;
            files.push_back(JoinPath(path, entry.name));
        }
        int removed = 0;
        for (const std::string& file : files) removed += RemoveFile(file) ? 1 : 0;
        return removed + (RemoveEmptyDirectory(path) ? 1 : 0);
    }

    // Folds ASCII letters and takes every double-byte character as one and
    // the same token, so names that the file system holds equal without case
    // always hash equal (a false match only costs a real probe).
    static std::uint32_t Hash(const std::string& name) {
        std::uint32_t hash = 2166136261u;
        for (std::size_t i = 0; i < name.size(); ++i) {
            auto byte = static_cast<unsigned char>(name[i]);
            if (byte >= 'a' && byte <= 'z') {
                byte = static_cast<unsigned char>(byte - 'a' + 'A');
            } else if (byte >= 0x80) {
                if (IsDBCSLeadByte(byte)) ++i;
                byte = 0x80;
            }
            hash = (hash ^ byte) * 16777619u;
        }
        return hash;
    }

    bool MayHold(const std::string& name) const {
        return std::binary_search(names_.begin(), names_.end(), Hash(name));
    }

    std::string path_;
    std::vector<std::uint32_t> names_;
    std::vector<DirEntry> leftovers_;
    std::string temporaryDir_;
    FileHandle temporaryHold_;
    bool temporaryTried_ = false;
};

void CopyContent(FileStream& source, FileStream& dest, std::uint64_t size, const std::string& sourceFile,
                 const std::string& destFile, CopyProgress& progress, CopyFaults* faults) {
    if (size == 0) return;
    const std::size_t bufferSize =
        size < kCopyBufferSize ? static_cast<std::size_t>(size) : kCopyBufferSize;
    const std::unique_ptr<char[]> buffer(new char[bufferSize]);
    for (std::uint64_t done = 0; done < size;) {
        const std::uint64_t left = size - done;
        const std::size_t chunk = left < bufferSize ? static_cast<std::size_t>(left) : bufferSize;
        if (faults && faults->FailRead(sourceFile, done)) throw StreamReadError(kStreamReadErrorText);
        source.ReadBuffer(buffer.get(), chunk);
        if (faults && faults->FailWrite(destFile, done)) throw StreamWriteError(kStreamWriteErrorText);
        dest.WriteBuffer(buffer.get(), chunk);
        done += chunk;
        progress.BetweenBuffers(dest);
    }
}

// Whether to flush the new copy of destFile before it replaces the old one;
// throws for a flush that the seam makes fail.
bool FlushBeforeReplacing(const std::string& destFile, CopyFaults* faults) {
    const CopyFaults::Flush step = faults ? faults->BeforeFlush(destFile) : CopyFaults::Flush::Do;
    if (step == CopyFaults::Flush::Fail) throw StreamWriteError(kStreamWriteErrorText);
    return step == CopyFaults::Flush::Do;
}

// Copies one file and puts it in place; returns its size.
std::uint64_t CopyOneFile(const std::string& sourceFile, Destination& destination, const std::string& name,
                          bool replaceExisting, CopyProgress& progress, CopyFaults* faults) {
    const std::string destFile = JoinPath(destination.Path(), name);
    TemporaryFile temporary;
    std::uint64_t size = 0;
    bool replacing = false;
    {
        FileStream source = FileStream::OpenRead(sourceFile);
        size = source.Size();
        const DWORD existing = destination.Attributes(name);
        if (existing != INVALID_FILE_ATTRIBUTES && (existing & kNotReplaceable) != 0) {
            throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
        }
        replacing = existing != INVALID_FILE_ATTRIBUTES;
        FileStream dest = FileStream::CreateTemporary(destination.TemporaryDir(), name, destFile, temporary.path);
        CopyContent(source, dest, size, sourceFile, destFile, progress, faults);
        // Without this the rename could reach the disk before the content
        // does, and a power cut would leave neither copy whole. A new name
        // puts nothing at stake, so it goes without the cost.
        if (replacing && FlushBeforeReplacing(destFile, faults)) dest.Flush();
        dest.Close();
    }
    // Without the overwrite switch a file that appeared since the skip test is
    // left alone: the move then fails instead of replacing it.
    if (!MoveIntoPlace(temporary.path, destFile, replacing && replaceExisting)) {
        const DWORD error = GetLastError();
        const bool appeared = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
        // With the switch on, a file that appeared since the start of the run
        // is replaced too, and its new copy goes to disk first like any other.
        if (replacing || !replaceExisting || !appeared) {
            throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
        }
        if (FlushBeforeReplacing(destFile, faults) && !FlushFile(temporary.path)) {
            throw StreamWriteError(kStreamWriteErrorText);
        }
        if (!MoveIntoPlace(temporary.path, destFile, true)) {
            throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
        }
    }
    temporary.Keep();
    return size;
}

}  // namespace

bool IsUsableDirectoryPath(const std::string& path) {
    if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
    if (path.size() < 5 || path[0] != '\\' || path[1] != '\\') return false;
    const std::size_t computerEnd = FindSeparator(path, 2);
    if (computerEnd == std::string::npos || computerEnd == 2) return false;
    // "\\.\" and "\\?\" name devices and the raw namespace, not a computer.
    const std::string computer = path.substr(2, computerEnd - 2);
    if (computer == "." || computer == "?") return false;
    const std::size_t shareEnd = FindSeparator(path, computerEnd + 1);
    return (shareEnd == std::string::npos ? path.size() : shareEnd) > computerEnd + 1;
}

CopyRunResult RunCopy(const std::string& sourcePath, const std::string& destPath,
                      const OverwriteSwitch& overwrite, CopyProgress& progress, CopyFaults* faults) {
    CopyRunResult result;
    if (!IsUsableDirectoryPath(destPath)) {
        result.refused = true;
        return result;
    }

    progress.Track(result);
    Destination destination(destPath);
    result.leftoversRemoved = destination.RemoveLeftovers();
    DirEntry entry;
    int count = 0;
    for (DirListing counting(sourcePath); counting.Next(entry);) ++count;
    // An empty source has no step to divide out; a zero step also keeps the
    // bar still should files appear before the copy pass.
    progress.SetStep(count > 0 ? kProgressMax / count : 0);

    for (DirListing listing(sourcePath); listing.Next(entry);) {
        const std::string sourceFile = JoinPath(sourcePath, entry.name);
        progress.SetCaption(kCaptionPrefix + sourceFile);
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
        try {
            result.bytesCopied += CopyOneFile(sourceFile, destination, entry.name, replaceExisting, progress, faults);
            ++result.copied;
        } catch (const Failure& failure) {
            result.failures.emplace_back(failure.what());
        } catch (const RunCutOff&) {
            // The temporary file went with the unwinding; the rest is not reached.
            result.cutOff = true;
            return result;
        }
    }
    progress.SetPosition(kProgressMax);
    return result;
}

}  // namespace zelvo
