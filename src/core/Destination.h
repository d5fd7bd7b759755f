// The destination side of one run: the names it held at the start, what a
// name reaches now, the run's private folder for its temporary files, and
// the sweep of what a killed run left there.
#pragma once

#include "core/FileSystem.h"
#include "core/Paths.h"
#include "core/Retry.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelvo {

// Existing destinations that a backup never replaces: a read-only file was
// protected on purpose, a hidden or system file (desktop.ini, a folder's
// thumbnail cache, another program's marker) belongs to someone else, and a
// directory is no file at all.
inline constexpr DWORD kNotReplaceable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// Why what a name reaches in the destination may not be replaced by the copy
// of that name, as the platform's error; ERROR_SUCCESS when it may. Never
// when protected or a directory (the platform's own create over such a file
// is refused so: ERROR_ACCESS_DENIED), and not when it is another file whose
// 8.3 alias the name only is (LONGFI~1.TXT must not overwrite longfilename.txt).
DWORD ReplaceRefusal(const FoundEntry& existing, const std::wstring& name);

// Under Wine every look-up of a name that does not exist reads the whole
// directory (it must rule out a match in another case), so in a destination of
// thousands of files each such probe costs milliseconds. The names present
// when the run starts are therefore read once, as case-blind hashes, and a
// name that is not among them is not probed again: the rename that puts a
// copy in place never replaces a file that turned up since without looking at
// it first. For the same reason the temporary files go to a private directory
// of ours inside the destination, where creating a new name is cheap.
//
// Once Prepare has returned, the const members may be called from several
// threads at once.
class Destination {
public:
    // Lists the destination, calling `look` at each entry (a large folder on
    // a slow share takes long to list).
    Destination(const std::string& path, ListingFault fault, const std::function<void()>& look);
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    ~Destination();

    // The error that cut the starting listing short; ERROR_SUCCESS if none.
    // Without the whole listing every name is looked up (MayHold).
    DWORD ListingError() const { return listingError_; }

    // Names of the source that look like ours. No temporary name of ours may
    // take one of them, and no folder of such a name is taken for a leftover.
    void SetSourceNames(std::vector<std::wstring> names) { sourceNames_ = std::move(names); }

    // Removes the folders that a killed run left among the names listed at the
    // start, calling `look` at each; returns how many files and folders went.
    // Only folders: a file of our name at the top may be a backup of a user's
    // file of that name, whose source has gone since. The folder of another
    // running copy of the program is held open (see Prepare), and nothing in
    // it is touched.
    int RemoveLeftovers(const std::function<void()>& look);

    // Readies a private folder for the temporary files of each of `lanes`
    // copies made at once. Creating a name in a folder waits for every
    // look-up in it, so copies in flight that share one folder wait for each
    // other (on a share, each for a round trip). A lane's folder is made when
    // it first copies: a run that copies nothing makes none, as each folder
    // costs two round trips on a share and two events for a sync client
    // that watches the destination.
    void Prepare(int lanes);
    // Removes the private folders at the end of the run, waiting for an
    // indexer or a scanner that has one open; the destructor tries once.
    void Finish(Retries& retries, const Pause& pause);

    const DirPath& Dir() const { return dir_; }
    const std::vector<std::wstring>& SourceNames() const { return sourceNames_; }
    // Where the temporary files of a lane go: its private folder, made at
    // the lane's first call; another lane's, or the destination itself, when
    // none could be made for it. Safe to call from several threads at once.
    const DirPath& TemporaryDir(int lane) const;

    // The skip test: a file (not a directory) that the name reaches, also
    // through its 8.3 alias.
    bool HoldsFile(const std::wstring& name) const;

    // What the name reaches in the destination now. Only a name with a "~"
    // can be another file's 8.3 alias, so only such a name needs the listing
    // that tells which name answered; for any other the attributes, which
    // cost far less under Wine, tell all.
    FoundEntry Find(const std::wstring& name) const;

    // Whether the run may have to look the name up: always, unless the
    // whole starting listing says it was not there.
    bool MayHold(const std::wstring& name) const;

private:
    static constexpr int kHoldAttempts = 3;

    // A private folder, held for the whole run.
    struct Folder {
        DirPath dir;
        FileHandle hold;
    };
    std::unique_ptr<Folder> MakeFolder() const;

    DirPath dir_;
    std::vector<std::uint32_t> names_;
    std::vector<DirEntry> leftovers_;
    std::vector<std::wstring> sourceNames_;
    DWORD listingError_ = ERROR_SUCCESS;
    // Made by the copies as they need them; the table itself is sized before
    // the first copy and never moves.
    mutable SrwLock foldersLock_;
    mutable std::vector<std::unique_ptr<Folder>> folders_;  // one a lane, empty until made
    mutable bool noFolder_ = false;                          // no folder could be made
};

// The error for which a folder of the run cannot be reached; ERROR_SUCCESS
// when it can.
DWORD FolderUnreachable(const DirPath& dir);

}  // namespace zelvo
