// Real folders for the copy tests and a progress receiver that models the
// platform's progress bar.
#pragma once

#include "core/CoreTestFiles.h"
#include "core/CopyRun.h"
#include "core/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace zelvo::testing {

using test::ReadFileBytes;
using test::RemoveTree;
using test::WriteFileBytes;

// A fresh folder under the temp directory holding "src" and "dst"; removed
// with everything in it (attributes cleared first) at the end of the test.
class Sandbox {
public:
    Sandbox() : root_(test::NewTempDirectory("zelvo-copy-")) {
        CreateDirectoryA(Src().c_str(), nullptr);
        CreateDirectoryA(Dst().c_str(), nullptr);
    }
    ~Sandbox() { test::RemoveTree(root_); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& Root() const { return root_; }
    std::string Src() const { return root_ + "\\src"; }
    std::string Dst() const { return root_ + "\\dst"; }
    std::string Src(const std::string& name) const { return JoinPath(Src(), name); }
    std::string Dst(const std::string& name) const { return JoinPath(Dst(), name); }
    // Any name, in the form the wide calls take.
    std::wstring Src(const std::wstring& name) const { return DirPath(Src()).PathOf(name); }
    std::wstring Dst(const std::wstring& name) const { return DirPath(Dst()).PathOf(name); }

private:
    std::string root_;
};

// Names in dir ("." and ".." left out) as the program shows them, sorted.
inline std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    DirEntry entry;
    for (DirListing listing(dir); listing.Next(entry);) names.push_back(ShownName(entry.name));
    std::sort(names.begin(), names.end());
    return names;
}

// Where Wine keeps a file on the Unix side; "" where the platform is no Wine.
inline std::string UnixFileName(const std::string& path) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return std::string();
    char* unix = unixName(WidenAnsi(path).c_str());
    if (!unix) return std::string();
    std::string name = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return name;
}

// Content that differs from byte to byte and from seed to seed.
inline std::string Pattern(std::size_t size, unsigned seed) {
    std::string content(size, '\0');
    std::uint32_t state = seed * 2654435761u + 12345;
    for (auto& byte : content) {
        state = state * 1103515245u + 12345;
        byte = static_cast<char>(state >> 24);
    }
    return content;
}

// Records what the run shows. The bar is modelled on the platform's progress
// bar: StepIt past the maximum starts over from the minimum.
class RecordingProgress : public CopyProgress {
public:
    void SetCaption(const std::string& caption) override { captions.push_back(caption); }
    void SetStep(int value) override {
        step = value;
        steps.push_back(value);
    }
    void StepIt() override {
        position += step;
        if (position > kProgressMax) position %= kProgressMax;
        positions.push_back(position);
    }
    void SetPosition(int value) override {
        position = value;
        finalPositions.push_back(value);
    }
    void KeepAlive() override {
        ++keepAlives;
        const ULONGLONG now = GetTickCount64();
        if (lastKeepAlive != 0) longestKeepAliveGap = std::max(longestKeepAliveGap, now - lastKeepAlive);
        lastKeepAlive = now;
    }

    std::vector<std::string> captions;
    std::vector<int> steps;           // every SetStep
    std::vector<int> positions;       // the bar after each StepIt
    std::vector<int> finalPositions;  // every SetPosition
    int step = 10;                    // the platform's default step
    int position = 0;
    int keepAlives = 0;
    ULONGLONG lastKeepAlive = 0;
    ULONGLONG longestKeepAliveGap = 0;  // between two KeepAlive calls

    // The longest gap, the one since the last KeepAlive included: asked right
    // after the run, it also covers a wait that the run ended without looking alive.
    ULONGLONG LongestKeepAliveGapUntilNow() const {
        return std::max(longestKeepAliveGap, GetTickCount64() - lastKeepAlive);
    }
};

// The longest a run may leave its receiver without a KeepAlive: a dialog that
// answers that often is far from the 5 s after which Windows takes it for hung.
inline constexpr ULONGLONG kLongestKeepAliveGapMs = 1000;

// What a slow (emulated) machine may add to the waits a run promises.
inline constexpr ULONGLONG kSlowMachineMarginMs = 1000;

inline OverwriteSwitch Overwrite(bool on) {
    return [on] { return on; };
}

// Waits short enough for a test: a step on the destination is tried again for
// 400 ms, a source in use for 600 ms after the other entries.
inline CopyTuning ShortWaits() {
    CopyTuning tuning;
    tuning.retries.longestWaitMs = 100;
    tuning.retries.stepLimitMs = 400;
    tuning.retries.secondChanceMs = 600;
    tuning.retries.secondChanceEveryMs = 150;
    return tuning;
}

// Lets every transfer through, counts the buffers read (on whichever thread),
// and leaves every flush out.
class WithoutFlushes : public CopyFaults {
public:
    std::uint32_t FailRead(const std::string&, std::uint64_t) override {
        ++reads;
        return 0;
    }
    Flush BeforeFlush(const std::string&) override { return Flush::Skip; }

    std::atomic<std::uint64_t> reads{0};
};

// How many files the runs of this test program copy at once, unless a test
// says: ZELVO_FILES_IN_FLIGHT (ctest runs the behavioural tests with 1 and
// with 8), 1 where it is not set.
inline int FilesInFlightUnderTest() {
    static const int files = [] {
        const char* set = std::getenv("ZELVO_FILES_IN_FLIGHT");
        return set && std::atoi(set) > 0 ? std::atoi(set) : 1;
    }();
    return files;
}

// RunCopy with FilesInFlightUnderTest() files in flight unless `tuning` says.
inline CopyRunResult Backup(const std::string& source, const std::string& dest, const OverwriteSwitch& overwrite,
                            CopyProgress& progress, CopyFaults* faults = nullptr, CopyTuning tuning = CopyTuning()) {
    if (tuning.filesInFlight == 0) tuning.filesInFlight = FilesInFlightUnderTest();
    return RunCopy(source, dest, overwrite, progress, faults, tuning);
}

// The first rename by handle that puts a copy in place (whose target ends
// with `suffix`, when given) hangs, as one on a share that drops waits for a
// network time-out, until `release` (10 s at most), and then goes through;
// `hanging` is set once it hangs.
class HangingRename {
public:
    explicit HangingRename(std::wstring suffix = std::wstring())
        : suffix_(std::move(suffix)), previous_(std::exchange(RenameOpenFileCall, &Hang)) {
        current_ = this;
    }
    ~HangingRename() {
        ::SetEvent(release.Get());
        RenameOpenFileCall = previous_;
        current_ = nullptr;
    }
    HangingRename(const HangingRename&) = delete;
    HangingRename& operator=(const HangingRename&) = delete;

    KernelHandle hanging{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle release{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};

private:
    static BOOL WINAPI Hang(HANDLE file, LPCWSTR to, BOOL replace) {
        HangingRename& self = *current_;
        const std::wstring target = to;
        const bool chosen = target.size() >= self.suffix_.size() &&
                            target.compare(target.size() - self.suffix_.size(), std::wstring::npos, self.suffix_) == 0;
        if (!chosen || ::InterlockedExchange(&self.hung_, 1) != 0) return self.previous_(file, to, replace);
        ::SetEvent(self.hanging.Get());
        ::WaitForSingleObject(self.release.Get(), 10000);
        return self.previous_(file, to, replace);
    }
    static inline HangingRename* current_ = nullptr;
    std::wstring suffix_;
    LONG hung_ = 0;
    BOOL(WINAPI* previous_)(HANDLE, LPCWSTR, BOOL);
};

// A failure line as the run writes it: the text, the path and the platform's reason.
inline std::string Line(const std::string& text, const std::string& path, DWORD error) {
    return text + " " + path + " (" + SystemErrorText(error) + ")";
}

}  // namespace zelvo::testing
