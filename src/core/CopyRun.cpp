#include "core/CopyRun.h"

#include "core/Destination.h"
#include "core/Failure.h"
#include "core/FileCopy.h"
#include "core/FileSystem.h"
#include "core/FilesInFlight.h"
#include "core/Retry.h"

#include <algorithm>
#include <utility>

namespace zelvo {

namespace {

constexpr char kCaptionPrefix[] = " 备份 ";

std::string ListingFailureText(const std::string& dir, DWORD error) {
    return FailureLine(kCannotListDirectoryText, dir, error);
}

ListingFault FaultsOf(CopyFaults* faults, const std::string& dir) {
    if (!faults) return nullptr;
    return [faults, dir](std::size_t listed) { return static_cast<DWORD>(faults->ListingError(dir, listed)); };
}

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

// The failures of a run in the order of the listing, whenever each was found
// (a file in flight may fail after later ones, a source in use only after its
// second chance). The destination's listing comes first, a source listing
// that broke off last.
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

// What the run has in hand, for a receiver that must end it at once.
class RunState final : public RunInHand {
public:
    RunState(const CopyRunResult& result, CopyLedger& ledger) : result_(result), ledger_(ledger) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    CopyRunResult SoFar() const override {
        CopyRunResult soFar = result_;
        soFar.copied = ledger_.Placed();
        soFar.bytesCopied = ledger_.PlacedBytes();
        soFar.unknown = ledger_.Unknown();
        return soFar;
    }
    int CutOff() noexcept override {
        if (inFlight_) inFlight_->Stop();
        return ledger_.Close();
    }
    void Watch(FilesInFlight* inFlight) { inFlight_ = inFlight; }

private:
    const CopyRunResult& result_;
    CopyLedger& ledger_;
    FilesInFlight* inFlight_ = nullptr;
};

// The waits of a copy made on the run's own thread keep the receiver alive,
// and end with the run (RunCutOff).
class RunPace final : public CopyPace {
public:
    explicit RunPace(CopyProgress& progress) : progress_(progress) {}
    void Pause(DWORD ms) override { WaitKeepingAlive(progress_, ms); }
    void Check() override { progress_.KeepAlive(); }

private:
    CopyProgress& progress_;
};

// A source that another program had open when the run came to it.
struct SetAside {
    FileJob job;
    std::string failure;  // what its last try gave
    ULONGLONG triedAt;
};

// The copy pass of one run: hands the files over in listing order, takes back
// what each came to, gives the sources in use their second chance, and stops
// when a folder of the run can no longer be reached.
class CopyPass {
public:
    CopyPass(const DirPath& source, Destination& destination, const OverwriteSwitch& overwrite,
             CopyProgress& progress, CopyFaults* faults, const CopyTuning& tuning, int entries,
             CopyRunResult& result, CopyLedger& ledger, RunState& state)
        : source_(source),
          destination_(destination),
          overwrite_(overwrite),
          progress_(progress),
          result_(result),
          state_(state),
          failures_(result.failures),
          retries_(tuning.retries),
          pace_(progress),
          copier_(source, destination, faults, retries_, ledger, early_),
          inFlight_(
              Workers(tuning, entries), [this](const FileJob& job, CopyPace& pace) { return copier_.Copy(job, pace); },
              [this](const FileJob& job, DWORD error) {
                  return FailureLine(kCannotCreateFileText, destination_.Dir().ShownPathOf(job.name), error);
              }) {
        state_.Watch(&inFlight_);
    }
    CopyPass(const CopyPass&) = delete;
    CopyPass& operator=(const CopyPass&) = delete;
    // The window goes on looking at its queue while the workers end (a flush
    // under way cannot be cut short).
    ~CopyPass() {
        state_.Watch(nullptr);
        inFlight_.Join([this] { progress_.KeepAlive(); });
    }

    Failures& FailureList() { return failures_; }
    bool Halted() const { return halted_; }
    // How many copies may be made at once, each needing a folder of its own.
    int Lanes() const { return std::max(1, inFlight_.Workers()); }

    // The run cannot start: the destination cannot be reached.
    void Halt(std::string line) {
        halted_ = true;
        failures_.Add(Failures::kFirst, std::move(line));
    }

    // Every entry of the listing, then the second chance.
    void Run(DirListing& listing) {
        DirEntry entry;
        for (std::size_t index = Failures::kFirst + 1;; ++index) {
            while (inFlight_.Workers() > 0 && !inFlight_.CanStart() && !halted_) Drain(kFlushWaitStepMs);
            if (!listing.Next(entry)) break;
            progress_.SetCaption(kCaptionPrefix + source_.ShownPathOf(entry.name));
            if (entry.IsDirectory()) {
                ++result_.directories;
                progress_.StepIt();
            } else if (halted_) {
                ++result_.notTried;
                progress_.StepIt();
            } else {
                Start(FileJob{index, entry.name, overwrite_(), false});
            }
            Drain(0);
        }
        while (inFlight_.InFlight() > 0) Drain(kFlushWaitStepMs);
        AgainAlone();
        SecondChance();
    }

    // The end of a run that was not cut off: every worker has ended by now.
    void RemoveTemporaryFolder() { destination_.Finish(retries_, [this](DWORD ms) { pace_.Pause(ms); }); }

private:
    // No more workers than entries: each costs a thread and a private folder.
    static int Workers(const CopyTuning& tuning, int entries) {
        const int workers = tuning.filesInFlight > 0 ? tuning.filesInFlight : kFilesInFlight;
        return std::max(1, std::min(workers, entries));
    }

    void Start(FileJob job) {
        job.started = ++started_;
        job.besideOthers = inFlight_.InFlight() > 0;
        if (inFlight_.Workers() > 0) {
            inFlight_.Start(std::move(job));
        } else {
            // No thread to be had: copied here and now.
            FileDone done = copier_.Copy(job, pace_);
            Take(done);
        }
    }

    // A second try reads the overwrite switch afresh, as any start does.
    void StartAgain(FileJob job) {
        progress_.SetCaption(kCaptionPrefix + source_.ShownPathOf(job.name));
        job.replaceExisting = overwrite_();
        job.again = true;
        Start(std::move(job));
    }

    // Takes back what the files that have ended came to, waiting up to `ms`.
    void Drain(DWORD ms) {
        for (FileDone& done : inFlight_.Finished(ms)) Take(done);
        progress_.KeepAlive();
    }

    void Take(FileDone& done) {
        using Kind = FileDone::Kind;
        if (halted_ && done.kind != Kind::Copied && done.kind != Kind::Skipped) {
            // After a halt a copy still in flight may have failed for the
            // same reason as the one that found the folder out of reach.
            ++result_.notTried;
        } else {
            switch (done.kind) {
            case Kind::Copied:
                // Counted where it was put in place (CopyLedger).
                break;
            case Kind::Skipped:
                ++result_.skipped;
                break;
            case Kind::Failed:
                failures_.Add(done.job.index, std::move(done.failure));
                break;
            case Kind::InUse:
                setAside_.push_back(SetAside{done.job, std::move(done.failure), ::GetTickCount64()});
                break;
            case Kind::NoRoom:
            case Kind::MayBeBack:
                // The copies in flight beside it took room that is free again
                // once they are done (a large file that does not fit makes the
                // small ones written at the same time fail too); the folder
                // answered again after the failure (a share that dropped for a
                // moment, a disk that was reset).
                if (!done.job.again &&
                    (done.kind == Kind::MayBeBack || done.job.besideOthers || started_ > done.job.started)) {
                    alone_.push_back(done.job);
                } else {
                    failures_.Add(done.job.index, std::move(done.failure));
                }
                break;
            case Kind::Unreachable:
                halted_ = true;
                failures_.Add(done.job.index, std::move(done.failure));
                inFlight_.Stop();
                ++result_.notTried;
                break;
            case Kind::Stopped:
                // A run cut off counts nothing more.
                break;
            }
        }
        if (!done.job.again) progress_.StepIt();
    }

    // Tries the copies that found no room, or the network or the device
    // gone for a moment, again, one at a time, as a run with one file in
    // flight would have made them.
    void AgainAlone() {
        for (FileJob& job : alone_) {
            if (halted_) {
                ++result_.notTried;
                continue;
            }
            StartAgain(std::move(job));
            while (inFlight_.InFlight() > 0) Drain(kFlushWaitStepMs);
        }
        alone_.clear();
    }

    // Tries the sources that were in use again, about once every
    // secondChanceEveryMs until secondChanceMs have passed; what is still
    // refused then is reported as it was refused.
    void SecondChance() {
        const RetryTiming& timing = retries_.Timing();
        const ULONGLONG deadline = ::GetTickCount64() + timing.secondChanceMs;
        while (!setAside_.empty() && !halted_) {
            ULONGLONG next = deadline;
            for (const SetAside& file : setAside_) next = std::min(next, file.triedAt + timing.secondChanceEveryMs);
            const ULONGLONG now = ::GetTickCount64();
            if (next > now) WaitKeepingAlive(progress_, static_cast<DWORD>(next - now));
            const bool last = ::GetTickCount64() >= deadline;
            std::vector<SetAside> waiting = std::move(setAside_);
            setAside_.clear();
            for (SetAside& file : waiting) {
                if (halted_ || (!last && file.triedAt + timing.secondChanceEveryMs > ::GetTickCount64())) {
                    setAside_.push_back(std::move(file));
                    continue;
                }
                while (inFlight_.Workers() > 0 && !inFlight_.CanStart() && !halted_) Drain(kFlushWaitStepMs);
                StartAgain(file.job);
            }
            while (inFlight_.InFlight() > 0) Drain(kFlushWaitStepMs);
            if (last) break;
        }
        for (SetAside& file : setAside_) {
            if (halted_) {
                ++result_.notTried;
            } else {
                failures_.Add(file.job.index, std::move(file.failure));
            }
        }
        setAside_.clear();
    }

    const DirPath& source_;
    Destination& destination_;
    const OverwriteSwitch& overwrite_;
    CopyProgress& progress_;
    CopyRunResult& result_;
    RunState& state_;
    Failures failures_;
    Retries retries_;
    RunPace pace_;
    EarlyFlushes early_;
    FileCopier copier_;
    std::vector<SetAside> setAside_;
    std::vector<FileJob> alone_;  // to be tried again alone after the pass
    std::size_t started_ = 0;
    bool halted_ = false;
    FilesInFlight inFlight_;  // last: its workers end before what they use goes
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

    CopyLedger ledger;
    RunState state(result, ledger);
    progress.Track(state);
    const DirPath source(sourcePath);
    const auto look = [&progress] { progress.KeepAlive(); };
    try {
        Destination destination(destPath, FaultsOf(faults, destPath), look);
        DirEntry entry;
        int count = 0;
        std::vector<std::wstring> temporaryLookAlikes;
        DWORD countingError = ERROR_SUCCESS;
        {
            DirListing counting(source, FaultsOf(faults, sourcePath));
            while (counting.Next(entry)) {
                ++count;
                if (IsTemporaryNameInAnyCase(entry.name)) temporaryLookAlikes.push_back(entry.name);
                look();
            }
            countingError = counting.Error();
        }
        destination.SetSourceNames(std::move(temporaryLookAlikes));
        const DWORD unreachable =
            FolderOutOfReach(destination.Dir(), faults, [&progress](DWORD ms) { WaitKeepingAlive(progress, ms); });
        // Without the whole source listing a leftover cannot be told from a backup.
        if (countingError == ERROR_SUCCESS && !unreachable) result.leftoversRemoved = destination.RemoveLeftovers(look);
        // An empty source has no step to divide out; a zero step also keeps the
        // bar still should files appear before the copy pass.
        progress.SetStep(count > 0 ? kProgressMax / count : 0);

        DWORD listingError = ERROR_SUCCESS;
        {
            CopyPass pass(source, destination, overwrite, progress, faults, tuning, count, result, ledger, state);
            if (unreachable) {
                pass.Halt(FailureLine(kDestinationUnreachableText, destPath, unreachable));
            } else {
                destination.Prepare(pass.Lanes());
                if (destination.ListingError() != ERROR_SUCCESS) {
                    pass.FailureList().Add(Failures::kFirst, ListingFailureText(destPath, destination.ListingError()));
                }
            }
            DirListing listing(source, FaultsOf(faults, sourcePath));
            pass.Run(listing);
            listingError = listing.Error();
            // What was copied stays; the rest of the source was never seen.
            // A folder out of reach has its one line already.
            if (listingError != ERROR_SUCCESS && !pass.Halted()) {
                pass.FailureList().Add(Failures::kLast, ListingFailureText(sourcePath, listingError));
            }
            result.copied = ledger.Placed();
            result.bytesCopied = ledger.PlacedBytes();
            progress.SetPosition(kProgressMax);
            pass.RemoveTemporaryFolder();
        }
    } catch (const RunCutOff&) {
        // The copies in flight have gone with their temporary files; the
        // rest is not reached.
        result.cutOff = true;
    }
    result.copied = ledger.Placed();
    result.bytesCopied = ledger.PlacedBytes();
    result.unknown = ledger.Unknown();
    return result;
}

}  // namespace zelvo
