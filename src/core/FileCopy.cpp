#include "core/FileCopy.h"

#include "core/Failure.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace zelvo {

HANDLE(WINAPI* CreateThreadCall)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                 LPDWORD) = ::CreateThread;

namespace {

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
    void Remove(Retries& retries, const Pause& pause) {
        if (path.empty()) return;
        const DWORD error = retries.Run(RetryStep::Remove, pause,
                                        [this] { return RemoveFile(path) ? ERROR_SUCCESS : ::GetLastError(); });
        if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) path.clear();
    }

    std::wstring path;
};

// The temporary file of one copy while the copy lives: among the run's open
// copies while it is open, and gone with its handle unless it was put in
// place, before a scanner that looks at every file as it is closed can hold it.
class TemporaryCopy {
public:
    explicit TemporaryCopy(CopyLedger& ledger) : ledger_(ledger) {}
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;
    ~TemporaryCopy() {
        if (!stream) return;
        ledger_.Closed(*stream);
        if (stream->IsOpen() && !file.path.empty()) stream->DeleteOnClose();
    }

    void Create(const std::function<FileStream()>& create) { ledger_.Create(stream, create); }

    TemporaryFile file;  // before the stream: the stream closes first
    std::optional<FileStream> stream;

private:
    CopyLedger& ledger_;
};

// Copies the content through one buffer of at most kCopyBufferSize bytes,
// flushing a large copy as it grows through `flusher`, a handle of its own.
void CopyContent(FileStream& source, FileStream& dest, std::uint64_t size, CopyPace& pace, CopyFaults* faults,
                 EarlyFlushes* early, HANDLE flusher) {
    if (size > 0) {
        const std::size_t bufferSize = size < kCopyBufferSize ? static_cast<std::size_t>(size) : kCopyBufferSize;
        const std::unique_ptr<char[]> buffer(new char[bufferSize]);
        std::uint64_t flushedAt = 0;
        for (std::uint64_t done = 0; done < size;) {
            const std::uint64_t left = size - done;
            const std::size_t chunk = left < bufferSize ? static_cast<std::size_t>(left) : bufferSize;
            if (const DWORD refused = faults ? faults->FailRead(source.Shown(), done) : 0) {
                throw FailureOf<StreamReadError>(kStreamReadErrorText, source.Shown(), refused);
            }
            source.ReadBuffer(buffer.get(), chunk);
            if (const DWORD refused = faults ? faults->FailWrite(dest.Shown(), done) : 0) {
                throw FailureOf<StreamWriteError>(kStreamWriteErrorText, dest.Shown(), refused);
            }
            dest.WriteBuffer(buffer.get(), chunk);
            done += chunk;
            if (early && done - flushedAt >= kEarlyFlushBytes && done < size) {
                early->Begin(flusher);
                flushedAt = done;
            }
            pace.Check();
        }
    }
    // No writer can open the source while we read it, but one outside the
    // platform's sharing rules (a Unix process beside Wine, the server's own
    // side of a share) can still make it longer.
    if (source.Size() != size) throw FileChangedError(FormatMessageText(kFileChangedText, source.Shown()));
}

FileCreateError CreateFailure(const std::string& destFile, DWORD error) {
    return FailureOf<FileCreateError>(kCannotCreateFileText, destFile, error);
}

bool IsSourceFailure(const Failure& failure) {
    return dynamic_cast<const FileOpenError*>(&failure) || dynamic_cast<const StreamReadError*>(&failure);
}

}  // namespace

Outage OutageOf(DWORD error) {
    switch (error) {
    // Not there: a folder deleted, or a share or disk gone. Where the folder
    // still answers, the file itself has gone, and would be missed again.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return Outage::Gone;
    // A disk that was unplugged or reset, a drive letter that went with it.
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case kErrorNoSuchDevice:
    // A request that timed out, a session the server dropped, a server or a
    // link that does not answer: the redirector reconnects on the next request.
    case ERROR_SEM_TIMEOUT:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_BAD_NET_RESP:
    case ERROR_NETWORK_BUSY:
    case ERROR_REQ_NOT_ACCEP:
    case ERROR_SHARING_PAUSED:
    case ERROR_VC_DISCONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_REM_NOT_LIST:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NOT_CONNECTED:
    case ERROR_NO_NET_OR_BAD_PATH:
    case ERROR_CONNECTION_UNAVAIL:
    case ERROR_CONNECTION_REFUSED:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_PORT_UNREACHABLE:
        return Outage::MayBeBack;
    default:
        return Outage::None;
    }
}

DWORD FolderOutOfReach(const DirPath& folder, CopyFaults* faults, const Pause& pause) {
    const ULONGLONG deadline = ::GetTickCount64() + kFolderBackWithinMs;
    for (;;) {
        DWORD error = faults ? static_cast<DWORD>(faults->FolderError(folder.Text())) : ERROR_SUCCESS;
        if (error == ERROR_SUCCESS) error = FolderUnreachable(folder);
        const ULONGLONG now = ::GetTickCount64();
        if (error == ERROR_SUCCESS || now >= deadline) return error;
        pause(static_cast<DWORD>(std::min<ULONGLONG>(kFolderProbeEveryMs, deadline - now)));
    }
}

void CopyLedger::Create(std::optional<FileStream>& file, const std::function<FileStream()>& create) {
    // Creations go on side by side, and beside renames; Close waits for them
    // as for a rename under way, for a while.
    struct Creating {
        explicit Creating(CopyLedger& ledger) : ledger_(ledger) {
            const std::lock_guard<SrwLock> gate(ledger_.gate_);
            if (ledger_.closed_) throw CopyStopped();
            {
                // Room first, for this and every other creation under way:
                // once a copy exists, nothing may keep it off the list.
                const std::lock_guard<SrwLock> lock(ledger_.openLock_);
                ledger_.open_.reserve(ledger_.open_.size() + ledger_.creating_ + 1);
            }
            ++ledger_.creating_;
        }
        Creating(const Creating&) = delete;
        Creating& operator=(const Creating&) = delete;
        ~Creating() {
            const std::lock_guard<SrwLock> gate(ledger_.gate_);
            --ledger_.creating_;
            ledger_.stepEnded_.NotifyAll();
        }
        CopyLedger& ledger_;
    } creating(*this);
    file.emplace(create());
    const std::lock_guard<SrwLock> gate(gate_);
    // Too late for a Close that has marked the open copies: this one goes too.
    if (counted_) {
        file->DeleteOnClose();
        throw CopyStopped();
    }
    const std::lock_guard<SrwLock> lock(openLock_);
    open_.push_back(&*file);
}

void CopyLedger::Closed(FileStream& file) noexcept {
    const std::lock_guard<SrwLock> lock(openLock_);
    open_.erase(std::remove(open_.begin(), open_.end(), &file), open_.end());
}

DWORD CopyLedger::Place(const std::function<bool()>& rename, std::uint64_t bytes, FileStream* open) {
    // Renames go on side by side; Close waits for them, for a while.
    struct Renaming {
        Renaming(CopyLedger& ledger, FileStream* file) : ledger_(ledger), file_(file) {
            const std::lock_guard<SrwLock> gate(ledger_.gate_);
            if (ledger_.closed_) throw CopyStopped();
            ledger_.renaming_.push_back(file_);
        }
        Renaming(const Renaming&) = delete;
        Renaming& operator=(const Renaming&) = delete;
        ~Renaming() {
            const std::lock_guard<SrwLock> gate(ledger_.gate_);
            Ended();
        }
        void Renamed(std::uint64_t bytes) {
            const std::lock_guard<SrwLock> gate(ledger_.gate_);
            // Late for a Close that gave up on it: it stays out of the tally
            // that was taken, and out of the copies to mark.
            if (!ledger_.counted_) {
                ++ledger_.placed_;
                ledger_.placedBytes_ += bytes;
            }
            if (file_) ledger_.Closed(*file_);
            Ended();
        }
        // Under the gate.
        void Ended() {
            if (ended_) return;
            ended_ = true;
            auto& renaming = ledger_.renaming_;
            renaming.erase(std::find(renaming.begin(), renaming.end(), file_));
            ledger_.stepEnded_.NotifyAll();
        }
        CopyLedger& ledger_;
        FileStream* file_;
        bool ended_ = false;
    } renaming(*this, open);
    if (!rename()) return ::GetLastError();
    renaming.Renamed(bytes);
    return ERROR_SUCCESS;
}

int CopyLedger::Close() noexcept {
    const std::lock_guard<SrwLock> gate(gate_);
    closed_ = true;
    stepEnded_.WaitFor(gate_, kPlacingWaitMs, [this] { return renaming_.empty() && creating_ == 0; });
    counted_ = true;
    unknown_ = static_cast<int>(renaming_.size());
    int marked = 0;
    {
        // A copy still under its rename may be in place by now: marking it
        // would delete it there.
        const std::lock_guard<SrwLock> lock(openLock_);
        for (FileStream* file : open_) {
            if (std::find(renaming_.begin(), renaming_.end(), file) == renaming_.end()) {
                marked += file->DeleteOnClose() ? 1 : 0;
            }
        }
    }
    return marked;
}

EarlyFlushes::~EarlyFlushes() {
    if (!thread_) return;
    {
        const std::lock_guard<SrwLock> lock(lock_);
        quit_ = true;
    }
    changed_.NotifyAll();
    ::WaitForSingleObject(thread_.Get(), INFINITE);
}

void EarlyFlushes::Begin(HANDLE file) {
    std::unique_lock<SrwLock> lock(lock_);
    if (file == flushing_ || std::find(waiting_.begin(), waiting_.end(), file) != waiting_.end()) return;
    if (!thread_ && !refused_) {
        // A flush needs little stack; a small reservation spares the 32-bit address space.
        thread_.Reset(CreateThreadCall(nullptr, kStack, &EarlyFlushes::Work, this, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                       nullptr));
        refused_ = !thread_;
    }
    // No thread to be had: the copy's own flush at its end does all.
    if (!thread_) return;
    waiting_.push_back(file);
    lock.unlock();
    changed_.NotifyAll();
}

void EarlyFlushes::End(HANDLE file) noexcept {
    const std::lock_guard<SrwLock> lock(lock_);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), file), waiting_.end());
    changed_.Wait(lock_, [&] { return flushing_ != file; });
}

DWORD WINAPI EarlyFlushes::Work(void* self) {
    static_cast<EarlyFlushes*>(self)->Flush();
    return 0;
}

void EarlyFlushes::Flush() noexcept {
    std::unique_lock<SrwLock> lock(lock_);
    for (;;) {
        changed_.Wait(lock_, [&] { return quit_ || !waiting_.empty(); });
        if (quit_) return;
        flushing_ = waiting_.front();
        waiting_.erase(waiting_.begin());
        lock.unlock();
        // Its error comes again from the copy's own flush at its end.
        FlushFileBuffersCall(flushing_);
        lock.lock();
        flushing_ = nullptr;
        changed_.NotifyAll();
    }
}

FileDone FileCopier::Copy(const FileJob& job, CopyPace& pace) const {
    FileDone done{job, FileDone::Kind::Failed, std::string()};
    try {
        done.kind = CopyAndPlace(job, destination_.Dir().ShownPathOf(job.name), pace) ? FileDone::Kind::Copied
                                                                                      : FileDone::Kind::Skipped;
    } catch (const Failure& failure) {
        done.failure = failure.what();
        const bool source = IsSourceFailure(failure);
        // Read or opened by another program right now (a scanner, an
        // indexer, a sync client): most such holds last a moment.
        if (source && IsInUse(failure.Error())) {
            done.kind = FileDone::Kind::InUse;
        } else if (!source && IsOutOfRoom(failure.Error())) {
            done.kind = FileDone::Kind::NoRoom;
        } else if (const Outage outage = OutageOf(failure.Error()); outage != Outage::None) {
            const DirPath& folder = source ? source_ : destination_.Dir();
            if (const DWORD error = FolderOutOfReach(folder, faults_, [&pace](DWORD ms) { pace.Pause(ms); })) {
                done.kind = FileDone::Kind::Unreachable;
                done.failure =
                    FailureLine(source ? kSourceUnreachableText : kDestinationUnreachableText, folder.Text(), error);
            } else if (outage == Outage::MayBeBack) {
                done.kind = FileDone::Kind::MayBeBack;
            }
        }
    }
    return done;
}

// Copies and places the file; false when a file of that name in the
// destination is left as it is.
bool FileCopier::CopyAndPlace(const FileJob& job, const std::string& destFile, CopyPace& pace) const {
    const std::wstring& name = job.name;
    if (!job.replaceExisting && destination_.HoldsFile(name)) return false;
    const Pause pause = [&pace](DWORD ms) { pace.Pause(ms); };
    TemporaryCopy temporary(ledger_);
    const bool flush = !faults_ || faults_->BeforeFlush(destFile) == CopyFaults::Flush::Do;
    std::uint64_t size = 0;
    bool flushedEarly = false;
    bool existed = false;
    {
        FileStream source = FileStream::OpenRead(source_.PathOf(name), source_.ShownPathOf(name));
        size = source.Size();
        flushedEarly = flush && size > kEarlyFlushBytes;
        if (destination_.MayHold(name)) {
            // Found before the copy, what will not be replaced costs no copying.
            const FoundEntry existing = destination_.Find(name);
            if (existing.found) {
                if (existing.IsDirectory()) throw CreateFailure(destFile, ERROR_ACCESS_DENIED);
                if (!job.replaceExisting) return false;
                const DWORD refusal = ReplaceRefusal(existing, name);
                if (refusal != ERROR_SUCCESS) throw CreateFailure(destFile, refusal);
                existed = true;
            }
        }
        std::string failure;
        // The lane's folder is made here, at its first copy.
        const DirPath& folder = destination_.TemporaryDir(pace.Lane());
        const DWORD error = retries_.Run(RetryStep::Create, pause, [&] {
            try {
                temporary.Create([&] {
                    return FileStream::CreateTemporary(folder, destination_.SourceNames(), destFile,
                                                       temporary.file.path, flushedEarly);
                });
                return static_cast<DWORD>(ERROR_SUCCESS);
            } catch (const FileCreateError& refused) {
                failure = refused.what();
                return static_cast<DWORD>(refused.Error());
            }
        });
        if (error != ERROR_SUCCESS) throw FileCreateError(failure, error);
        // Flushed early through a handle of its own: a flush through the
        // copy's handle would hold up its writing on Windows (and a stop
        // with it), however the flush is called. Without one the copy's own
        // flush at its end does all.
        const FileHandle flusher = flushedEarly ? OpenToFlush(temporary.file.path) : FileHandle();
        // Whatever ends the copy, the flusher is done with its handle before it is closed.
        struct EarlyFlushEnd {
            EarlyFlushes* early;
            HANDLE file;
            ~EarlyFlushEnd() {
                if (early) early->End(file);
            }
        } end{flusher ? &early_ : nullptr, flusher.Get()};
        CopyContent(source, *temporary.stream, size, pace, faults_, end.early, end.file);
    }
    // Without the flush the rename could reach the disk before the content
    // does, and a power cut would leave a torn file under the name: a
    // replaced copy lost, or a new one that every later run without the
    // overwrite switch would skip as present.
    if (flush && !FlushFileBuffersCall(temporary.stream->Native())) {
        throw FailureOf<StreamWriteError>(kStreamWriteErrorText, destFile, ::GetLastError());
    }
    // A copy that is still open goes with its handle; one closed for a
    // rename by its path is removed by its path, which a scanner may hold up.
    try {
        if (Place(job, destFile, *temporary.stream, temporary.file.path, existed, size, pause)) {
            temporary.file.Keep();
            return true;
        }
    } catch (const Failure&) {
        if (!temporary.stream->IsOpen()) temporary.file.Remove(retries_, pause);
        throw;
    }
    if (!temporary.stream->IsOpen()) temporary.file.Remove(retries_, pause);
    return false;
}

// Puts the written and closed temporary file in place of destFile; false
// when a file of that name has turned up that stays.
bool FileCopier::Place(const FileJob& job, const std::string& destFile, FileStream& copy,
                       const std::wstring& temporary, bool existed, std::uint64_t size, const Pause& pause) const {
    const std::wstring& name = job.name;
    const std::wstring target = destination_.Dir().PathOf(name);
    // By its open handle, which shares nothing: no other program can open the
    // finished copy before it has its name, and a share takes the rename
    // without a further open and close. Where the file system takes no
    // rename by handle, the copy is closed and renamed by its path. Some
    // redirectors and file system drivers refuse it otherwise, with access
    // denied or a sharing violation: for a name that is free nothing else
    // can refuse it so, and one rename by path tells.
    const auto renameOnce = [&](bool replace) {
        bool byPathMayDo = false;
        if (copy.IsOpen() && !renameByPath_.load()) {
            if (copy.RenameTo(target, replace)) return true;
            const DWORD error = ::GetLastError();
            byPathMayDo = !replace && IsMomentaryRefusal(error);
            if (!TakesNoRenameByHandle(error) && !byPathMayDo) return false;
        }
        if (copy.IsOpen()) copy.Close();
        const bool moved = MoveIntoPlace(temporary, target, replace);
        if (moved && byPathMayDo) renameByPath_ = true;
        return moved;
    };
    const auto rename = [&](bool replace) {
        return [&, replace] { return ledger_.Place([&] { return renameOnce(replace); }, size, &copy); };
    };
    if (!existed) {
        // Refused for a moment when a scanner has opened the closed copy.
        const DWORD error = retries_.Run(RetryStep::Rename, pause, rename(false));
        if (error == ERROR_SUCCESS) return true;
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) throw CreateFailure(destFile, error);
    }
    // Looked at right before the rename, not at the start of the run: a
    // desktop.ini or Thumbs.db that the shell has written meanwhile is as
    // protected as one that was there.
    const FoundEntry existing = destination_.Find(name);
    // Something of that name turned up during the run, or the name is
    // another file's 8.3 alias: without the switch, a file that is there
    // is left alone, just as one there from the start.
    if (!existed && !job.replaceExisting && !existing.IsDirectory()) return false;
    if (existing.found) {
        const DWORD refusal = job.replaceExisting ? ReplaceRefusal(existing, name) : ERROR_ACCESS_DENIED;
        if (refusal != ERROR_SUCCESS) throw CreateFailure(destFile, refusal);
    }
    // A reader that has the old copy open without sharing its deletion
    // refuses the replacement while it holds it; a file that has become
    // protected meanwhile refuses it for good.
    const DWORD error = retries_.Run(RetryStep::Rename, pause, rename(existing.found), [&](DWORD refused) {
        if (!IsMomentaryRefusal(refused)) return false;
        const FoundEntry now = destination_.Find(name);
        return !now.found || ReplaceRefusal(now, name) == ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) throw CreateFailure(destFile, error);
    return true;
}

}  // namespace zelvo
