#include "core/Destination.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace zelvo {

namespace {

// Names that the file system holds equal without case always hash equal
// (a false match only costs a real probe; a miss is caught by the rename).
std::uint32_t Hash(const std::wstring& name) {
    std::wstring upper(name.size(), L'\0');
    const int length = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(), static_cast<int>(name.size()),
                                      upper.data(), static_cast<int>(upper.size()));
    if (length != static_cast<int>(name.size())) upper = name;
    std::uint32_t hash = 2166136261u;
    for (const wchar_t unit : upper) {
        hash = (hash ^ (unit & 0xFFu)) * 16777619u;
        hash = (hash ^ (unit >> 8)) * 16777619u;
    }
    return hash;
}

// A folder of our name is taken for a leftover only when it holds nothing
// but files of our names; anything else in it is someone else's. The folder
// of a live run is held, and nothing in it is touched: a copy it has written
// and closed may be waiting there for its rename.
int RemoveLeftoverFolder(const DirPath& folder, const std::function<void()>& look) {
    std::vector<std::wstring> files;
    DirEntry entry;
    DirListing listing(folder);
    while (listing.Next(entry)) {
        if (entry.IsDirectory() || !IsTemporaryName(entry.name)) return 0;
        files.push_back(folder.PathOf(entry.name));
        look();
    }
    if (listing.Error() != ERROR_SUCCESS) return 0;
    // After the listing, which the claim would keep out. A live run never
    // takes a folder that was there before it.
    FileHandle claim = ClaimDirectory(folder.Path());
    if (!claim) return 0;
    int removed = 0;
    for (const std::wstring& file : files) {
        removed += RemoveFile(file) ? 1 : 0;
        look();
    }
    return removed + (RemoveClaimedDirectory(claim) ? 1 : 0);
}

}  // namespace

DWORD ReplaceRefusal(const FoundEntry& existing, const std::wstring& name) {
    if ((existing.attributes & kNotReplaceable) != 0) return ERROR_ACCESS_DENIED;
    return SameName(existing.name, name) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
}

DWORD FolderUnreachable(const DirPath& dir) {
    // An open asks the server or the device every time. A folder's attributes
    // may come from a cache (the network redirector's, a FUSE kernel's) that
    // goes on answering for a while after the share has dropped.
    const FileHandle folder(::CreateFileW(dir.Path().c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !::GetFileInformationByHandle(folder.Get(), &info)) return ::GetLastError();
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_SUCCESS : ERROR_DIRECTORY;
}

Destination::Destination(const std::string& path, ListingFault fault, const std::function<void()>& look)
    : dir_(path) {
    DirEntry entry;
    DirListing listing(dir_, std::move(fault));
    while (listing.Next(entry)) {
        names_.push_back(Hash(entry.name));
        if (entry.IsDirectory() && IsTemporaryName(entry.name)) leftovers_.push_back(entry);
        look();
    }
    listingError_ = listing.Error();
    std::sort(names_.begin(), names_.end());
}

Destination::~Destination() {
    for (const std::unique_ptr<Folder>& folder : folders_) {
        if (!folder) continue;
        // Our own hold would make the removal fail just as another's does.
        folder->hold.Reset();
        RemoveEmptyDirectory(folder->dir.Path());
    }
}

int Destination::RemoveLeftovers(const std::function<void()>& look) {
    int removed = 0;
    for (const DirEntry& leftover : leftovers_) {
        const auto same = [&](const std::wstring& name) { return SameName(name, leftover.name); };
        if (std::none_of(sourceNames_.begin(), sourceNames_.end(), same)) {
            removed += RemoveLeftoverFolder(dir_.Inside(leftover.name), look);
        }
    }
    leftovers_.clear();
    return removed;
}

void Destination::Prepare(int lanes) { folders_.resize(static_cast<std::size_t>(std::max(lanes, 1))); }

const DirPath& Destination::TemporaryDir(int lane) const {
    const std::lock_guard<SrwLock> lock(foldersLock_);
    if (folders_.empty()) return dir_;
    std::unique_ptr<Folder>& own = folders_[static_cast<std::size_t>(lane) % folders_.size()];
    if (!own && !noFolder_) {
        own = MakeFolder();
        noFolder_ = !own;
    }
    if (own) return own->dir;
    for (const std::unique_ptr<Folder>& other : folders_) {
        if (other) return other->dir;
    }
    return dir_;
}

std::unique_ptr<Destination::Folder> Destination::MakeFolder() const {
    // Held for the whole run, so that the leftover sweep of another copy of
    // the program leaves it and everything in it alone. Such a sweep may
    // claim the folder in the moment before the hold, and removes it then:
    // the hold is refused as a sharing violation, and another is made.
    for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
        const std::wstring name = CreateTemporaryDirectory(dir_, sourceNames_);
        if (name.empty()) return nullptr;
        auto folder = std::make_unique<Folder>(Folder{dir_.Inside(name), FileHandle()});
        const std::wstring path = folder->dir.Path();
        folder->hold = HoldDirectory(path);
        if (folder->hold) return folder;
        // A file system that will not hold a folder at all still has it.
        if (::GetLastError() != ERROR_SHARING_VIOLATION &&
            ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return folder;
        }
    }
    return nullptr;
}

void Destination::Finish(Retries& retries, const Pause& pause) {
    for (const std::unique_ptr<Folder>& folder : folders_) {
        if (!folder) continue;
        folder->hold.Reset();
        const std::wstring path = folder->dir.Path();
        retries.Run(RetryStep::Remove, pause,
                    [&path] { return RemoveEmptyDirectory(path) ? ERROR_SUCCESS : ::GetLastError(); });
    }
    folders_.clear();
}

bool Destination::HoldsFile(const std::wstring& name) const {
    if (!MayHold(name)) return false;
    const FoundEntry found = Find(name);
    return found.found && !found.IsDirectory();
}

FoundEntry Destination::Find(const std::wstring& name) const {
    const std::wstring path = dir_.PathOf(name);
    if (name.find(L'~') != std::wstring::npos) return FindExact(path);
    FoundEntry found;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) found = FoundEntry{true, name, attributes};
    return found;
}

bool Destination::MayHold(const std::wstring& name) const {
    return listingError_ != ERROR_SUCCESS || std::binary_search(names_.begin(), names_.end(), Hash(name));
}

}  // namespace zelvo
