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
            if (IsTemporaryName(entry.name)) leftovers_.push_back(entry);
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

    // Names of the source that look like ours. They are backups, never
    // leftovers, and no temporary name of ours may take one of them.
    void SetSourceNames(std::vector<std::wstring> names) { sourceNames_ = std::move(names); }

    // Removes what a killed run left among the names listed at the start;
    // returns how many files and folders went. A file of ours that another
    // running copy of the program is writing is open without sharing, and its
    // folder is held open (see TemporaryDir), so both resist removal here.
    int RemoveLeftovers() {
        int removed = 0;
        for (const DirEntry& leftover : leftovers_) {
            const bool backup = std::any_of(sourceNames_.begin(), sourceNames_.end(),
                                            [&](const std::wstring& name) { return SameName(name, leftover.name); });
            if (backup) continue;
            if (leftover.IsDirectory()) {
                removed += RemoveLeftoverFolder(dir_.Inside(leftover.name));
            } else if (RemoveFile(dir_.PathOf(leftover.name))) {
                ++removed;
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
                 const std::string& destFile, CopyProgress& progress, CopyFaults* faults) {
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
            progress.BetweenBuffers(dest);
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
        // Something of that name turned up during the run, or the name is
        // another file's 8.3 alias: without the switch, a file that is there
        // is left alone, just as one there from the start.
        if (!replaceExisting && !destination.Find(name).IsDirectory()) return Outcome::Skipped;
    }
    // Looked at right before the rename, not at the start of the run: a
    // desktop.ini or Thumbs.db that the shell has written meanwhile is as
    // protected as one that was there.
    const FoundEntry existing = destination.Find(name);
    if (existing.found && (!replaceExisting || !Replaceable(existing, name))) {
        throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
    }
    if (!MoveIntoPlace(temporary, target, existing.found)) {
        throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
    }
    return Outcome::Copied;
}

// Copies one file and puts it in place; `size` receives its size.
Outcome CopyOneFile(const DirPath& sourceDir, Destination& destination, const std::wstring& name,
                    bool replaceExisting, CopyProgress& progress, CopyFaults* faults, std::uint64_t& size) {
    const std::string sourceFile = sourceDir.ShownPathOf(name);
    const std::string destFile = destination.Dir().ShownPathOf(name);
    TemporaryFile temporary;
    bool existed = false;
    {
        FileStream source = FileStream::OpenRead(sourceDir.PathOf(name), sourceFile);
        size = source.Size();
        if (destination.MayHold(name)) {
            // Found before the copy, what will not be replaced costs no copying.
            const FoundEntry existing = destination.Find(name);
            if (existing.found) {
                if (existing.IsDirectory()) throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
                if (!replaceExisting) return Outcome::Skipped;
                if (!Replaceable(existing, name)) {
                    throw FileCreateError(FormatMessageText(kCannotCreateFileText, destFile));
                }
                existed = true;
            }
        }
        FileStream dest = FileStream::CreateTemporary(destination.TemporaryDir(), destination.SourceNames(), destFile,
                                                      temporary.path);
        CopyContent(source, dest, size, sourceFile, destFile, progress, faults);
        // Without this the rename could reach the disk before the content
        // does, and a power cut would leave a torn file under the name: a
        // replaced copy lost, or a new one that every later run without the
        // overwrite switch would skip as present.
        const CopyFaults::Flush flush = faults ? faults->BeforeFlush(destFile) : CopyFaults::Flush::Do;
        if (flush == CopyFaults::Flush::Fail) throw StreamWriteError(kStreamWriteErrorText);
        if (flush == CopyFaults::Flush::Do) dest.Flush();
        dest.Close();
    }
    const Outcome outcome = Place(destination, name, temporary.path, existed, replaceExisting, destFile);
    if (outcome == Outcome::Copied) temporary.Keep();
    return outcome;
}

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
        try {
            std::uint64_t size = 0;
            if (CopyOneFile(source, destination, entry.name, replaceExisting, progress, faults, size) ==
                Outcome::Copied) {
                result.bytesCopied += size;
                ++result.copied;
            } else {
                ++result.skipped;
            }
        } catch (const Failure& failure) {
            result.failures.emplace_back(failure.what());
        } catch (const RunCutOff&) {
            // The temporary file went with the unwinding; the rest is not reached.
            result.cutOff = true;
            return result;
        }
    }
    // What was copied stays; the rest of the source was never seen.
    if (listing.Error() != ERROR_SUCCESS) result.failures.push_back(ListingFailureText(sourcePath, listing.Error()));
    progress.SetPosition(kProgressMax);
    return result;
}

}  // namespace zelvo
