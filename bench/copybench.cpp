// Copy benchmark: the backup engine against Wine's xcopy and a CopyFileA loop,
// on data it makes itself, into an empty destination and over a destination
// that already holds every file (overwrite on). Not a test; run it through
// scripts/bench.sh.
//
//   copybench.exe [--dir D] [--files N] [--file-size BYTES] [--large-size BYTES]
//                 [--reps R] [--cp-seconds S] [--prepare-only] [--keep]
//
// --cp-seconds passes in the best time of native cp on the large file (taken
// outside Wine by the script) so the ratios can be printed together.
//
// The engine runs in a process of its own (copybench.exe --engine SRC DST
// PEAKFILE [--no-flush]), like xcopy, so both times include a process start
// and the peak working set read in that process belongs to the engine's run
// alone. --no-flush leaves out the flush of each copy before its rename, to
// show what that flush costs, for new copies and for replacing ones.
// The same run through the program's own progress dialog (copybench-dialog.exe
// SRC DST PEAKFILE, a window process of its own, so the engine's peak working
// set stays its own) is timed beside it on the small files; the engine, the
// engine without its flush and the dialog take turns, so that their
// differences are not a busy machine's.
#include "BenchChild.h"
#include "core/CopyRun.h"
#include "core/FileSystem.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using zelvo::JoinPath;
using zelvo::bench::Die;
using zelvo::bench::Now;
using zelvo::bench::PeakWorkingSet;
using zelvo::bench::WriteChildReport;

struct Options {
    std::string dir = "copybench-data";
    int files = 5000;
    std::uint64_t fileSize = 4096;
    std::uint64_t largeSize = 1ull << 30;
    int reps = 3;
    double cpSeconds = 0;
    bool prepareOnly = false;
    bool keep = false;
};

class Quiet : public zelvo::CopyProgress {
public:
    void SetCaption(const std::string&) override {}
    void SetStep(int) override {}
    void StepIt() override {}
    void SetPosition(int) override {}
};

// Lets every transfer through and leaves out the flush before each rename.
class NoFlush : public zelvo::CopyFaults {
public:
    std::uint32_t FailRead(const std::string&, std::uint64_t) override { return 0; }
    bool FailWrite(const std::string&, std::uint64_t) override { return false; }
    Flush BeforeFlush(const std::string&) override { return Flush::Skip; }
};

// Writes size bytes of varying content through a 64 KiB buffer, so making the
// data does not raise the process's peak working set by much.
void WriteDataFile(const std::string& path, std::uint64_t size, std::uint32_t seed) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Die("cannot create " + path);
    static std::uint32_t block[16384];
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& word : block) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        word = state;
    }
    for (std::uint64_t done = 0; done < size;) {
        block[0] = static_cast<std::uint32_t>(done >> 16);
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(sizeof block, size - done));
        DWORD written = 0;
        if (!WriteFile(file, block, chunk, &written, nullptr) || written != chunk) Die("cannot write " + path);
        done += chunk;
    }
    CloseHandle(file);
}

void MakeDirectory(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Die("cannot create directory " + path);
    }
}

struct Tally {
    int files = 0;
    std::uint64_t bytes = 0;
};

Tally Count(const std::string& dir) {
    Tally tally;
    zelvo::DirEntry entry;
    for (zelvo::DirListing listing(dir); listing.Next(entry);) {
        ++tally.files;
        tally.bytes += entry.size;
    }
    return tally;
}

void RemoveTree(const zelvo::DirPath& dir) {
    zelvo::DirEntry entry;
    for (zelvo::DirListing listing(dir); listing.Next(entry);) {
        if (entry.IsDirectory()) {
            RemoveTree(dir.Inside(entry.name));
        } else {
            const std::wstring path = dir.PathOf(entry.name);
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(dir.Path().c_str());
}

void RemoveTree(const std::string& dir) { RemoveTree(zelvo::DirPath(dir)); }

void Prepare(const Options& options, const std::string& small, const std::string& large) {
    MakeDirectory(options.dir);
    if (Count(small).files != options.files) {
        RemoveTree(small);
        MakeDirectory(small);
        char name[32];
        for (int i = 0; i < options.files; ++i) {
            std::snprintf(name, sizeof name, "f%05d.dat", i);
            WriteDataFile(JoinPath(small, name), options.fileSize, static_cast<std::uint32_t>(i));
        }
    }
    const Tally big = Count(large);
    if (big.files != 1 || big.bytes != options.largeSize) {
        RemoveTree(large);
        MakeDirectory(large);
        WriteDataFile(JoinPath(large, "large.dat"), options.largeSize, 7);
    }
}

// The child side of an engine run: copies, then reports.
int EngineChild(const std::string& source, const std::string& dest, const std::string& peakFile, bool flush) {
    Quiet quiet;
    NoFlush noFlush;
    const double start = Now();
    const auto result = zelvo::RunCopy(source, dest, [] { return true; }, quiet, flush ? nullptr : &noFlush);
    const double seconds = Now() - start;
    if (result.refused) Die("engine refused " + dest);
    if (!result.failures.empty()) Die("engine failed: " + result.failures.front());
    WriteChildReport(peakFile, seconds);
    return 0;
}

// Runs a command line with its output thrown away; dies unless it exits 0.
void RunProcess(std::string command) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = nul;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        Die("cannot start " + command);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(nul);
    if (code != 0) Die(command + " exited with " + std::to_string(code));
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

std::string PeakFile() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "copybench-peak.txt";
}

std::uint64_t g_enginePeak = 0;  // highest peak working set of the engine processes
double g_childSeconds = 0;       // the run's own time, as the last child reported it

void StartEngine(const std::string& source, const std::string& dest, const char* extra) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    RunProcess(Quote(self) + " --engine " + Quote(source) + " " + Quote(dest) + " " + Quote(PeakFile()) + extra);
}

void RunEngine(const std::string& source, const std::string& dest) {
    StartEngine(source, dest, "");
}

void RunEngineNoFlush(const std::string& source, const std::string& dest) {
    StartEngine(source, dest, " --no-flush");
}

void RunDialog(const std::string& source, const std::string& dest) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    RunProcess(Quote(zelvo::bench::Sibling(self, "copybench-dialog.exe")) + " " + Quote(source) + " " + Quote(dest) +
               " " + Quote(PeakFile()));
}

// Reads a child's report; the peak counts toward the engine's when the child
// was the engine as it ships (with its flush).
void ReadChildReport(bool engine) {
    HANDLE file = CreateFileA(PeakFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char text[64] = {};
    DWORD got = 0;
    ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    DeleteFileA(PeakFile().c_str());
    char* end = nullptr;
    const std::uint64_t peak = std::strtoull(text, &end, 10);
    g_childSeconds = std::strtod(end, nullptr);
    if (engine) g_enginePeak = std::max<std::uint64_t>(g_enginePeak, peak);
}

// Flushes every file of dir to disk.
void FlushDirectoryFiles(const std::string& dir) {
    const zelvo::DirPath path(dir);
    zelvo::DirEntry entry;
    for (zelvo::DirListing listing(path); listing.Next(entry);) {
        if (!entry.IsDirectory()) zelvo::FlushFile(path.PathOf(entry.name));
    }
}

void RunXcopy(const std::string& source, const std::string& dest) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    RunProcess(Quote(std::string(system) + "\\xcopy.exe") + " " + Quote(JoinPath(source, "*.*")) + " " +
               Quote(dest + "\\") + " /Q /Y /I");
}

void RunCopyFileLoop(const std::string& source, const std::string& dest) {
    zelvo::DirEntry entry;
    for (zelvo::DirListing listing(source); listing.Next(entry);) {
        const std::string name = zelvo::ShownName(entry.name);
        if (!CopyFileA(JoinPath(source, name).c_str(), JoinPath(dest, name).c_str(), FALSE)) {
            Die("CopyFileA failed on " + name);
        }
    }
}

using Copier = void (*)(const std::string&, const std::string&);

// Best and median of reps runs, each checked afterwards. Into a fresh
// destination, removed after each run; or, replacing, into one that a
// CopyFileA loop filled beforehand and that each run fills again. Neither the
// filling nor the removal is timed.
struct Timing {
    double best = 0;
    double median = 0;
    double bestInside = 0;  // a child's run without its process start (0 for others)
};

enum class Into { Empty, Full };

// Several copiers are measured side by side, taking turns in each rep, so
// that a machine busy with something else for a while slows them alike.
std::vector<Timing> Measure(const std::vector<Copier>& copiers, const std::string& source, const std::string& dest,
                            int reps, Into into = Into::Empty) {
    const Tally expected = Count(source);
    std::vector<std::vector<double>> times(copiers.size()), inside(copiers.size());
    RemoveTree(dest);
    if (into == Into::Full) {
        MakeDirectory(dest);
        RunCopyFileLoop(source, dest);
        // Let the filling reach the disk, so its write-back is not timed.
        FlushDirectoryFiles(dest);
    }
    for (int rep = 0; rep < reps; ++rep) {
        for (std::size_t which = 0; which < copiers.size(); ++which) {
            const Copier copier = copiers[which];
            if (into == Into::Empty) MakeDirectory(dest);
            const double start = Now();
            copier(source, dest);
            times[which].push_back(Now() - start);
            if (copier == RunEngine || copier == RunEngineNoFlush || copier == RunDialog) {
                ReadChildReport(copier == RunEngine);
                inside[which].push_back(g_childSeconds);
            }
            const Tally got = Count(dest);
            if (got.files != expected.files || got.bytes != expected.bytes) Die("incomplete copy in " + dest);
            if (into == Into::Empty) RemoveTree(dest);
        }
    }
    RemoveTree(dest);
    std::vector<Timing> timings;
    for (std::size_t which = 0; which < copiers.size(); ++which) {
        std::sort(times[which].begin(), times[which].end());
        std::sort(inside[which].begin(), inside[which].end());
        timings.push_back({times[which].front(), times[which][times[which].size() / 2],
                           inside[which].empty() ? 0 : inside[which].front()});
    }
    return timings;
}

Timing Measure(Copier copier, const std::string& source, const std::string& dest, int reps, Into into = Into::Empty) {
    return Measure(std::vector<Copier>{copier}, source, dest, reps, into).front();
}

void PrintTiming(const char* what, const Timing& timing) {
    std::printf("  %-21s best %8.3f s   median %8.3f s\n", what, timing.best, timing.median);
}

void PrintFlushCost(const char* what, const Timing& flushed, const Timing& unflushed, int files) {
    std::printf("  %s costs %.3f s in all, %.3f ms a file (%.2fx the run without it)\n", what,
                flushed.best - unflushed.best, (flushed.best - unflushed.best) * 1000.0 / std::max(1, files),
                flushed.best / unflushed.best);
}

std::uint64_t ParseSize(const char* text) {
    char* end = nullptr;
    std::uint64_t value = std::strtoull(text, &end, 10);
    switch (*end) {
        case 'K': case 'k': value <<= 10; break;
        case 'M': case 'm': value <<= 20; break;
        case 'G': case 'g': value <<= 30; break;
        default: break;
    }
    return value;
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--dir" && hasValue) {
            options.dir = argv[++i];
        } else if (arg == "--files" && hasValue) {
            options.files = std::atoi(argv[++i]);
        } else if (arg == "--file-size" && hasValue) {
            options.fileSize = ParseSize(argv[++i]);
        } else if (arg == "--large-size" && hasValue) {
            options.largeSize = ParseSize(argv[++i]);
        } else if (arg == "--reps" && hasValue) {
            options.reps = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--cp-seconds" && hasValue) {
            options.cpSeconds = std::atof(argv[++i]);
        } else if (arg == "--prepare-only") {
            options.prepareOnly = true;
        } else if (arg == "--keep") {
            options.keep = true;
        } else {
            std::fprintf(stderr, "copybench: unknown argument %s\n", arg.c_str());
            std::exit(2);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--engine") == 0) {
        return EngineChild(argv[2], argv[3], argv[4], argc == 5 || std::strcmp(argv[5], "--no-flush") != 0);
    }
    const Options options = ParseArguments(argc, argv);
    const std::string small = JoinPath(options.dir, "small");
    const std::string large = JoinPath(options.dir, "large");
    const std::string out = JoinPath(options.dir, "out");

    Prepare(options, small, large);
    if (options.prepareOnly) return 0;

    // What the flush and the dialog cost is measured in turns with the engine.
    const std::vector<Timing> smallTurns = Measure({RunEngine, RunEngineNoFlush, RunDialog}, small, out, options.reps);
    const Timing& engineSmall = smallTurns[0];
    const Timing& engineSmallNoFlush = smallTurns[1];
    const Timing& dialogSmall = smallTurns[2];
    const std::uint64_t peakSmall = std::exchange(g_enginePeak, 0);
    const std::vector<Timing> largeTurns = Measure({RunEngine, RunEngineNoFlush}, large, out, options.reps);
    const Timing& engineLarge = largeTurns[0];
    const Timing& engineLargeNoFlush = largeTurns[1];
    const std::uint64_t peakLarge = std::exchange(g_enginePeak, 0);
    const Timing xcopySmall = Measure(RunXcopy, small, out, options.reps);
    const Timing copyFileSmall = Measure(RunCopyFileLoop, small, out, options.reps);
    const Timing xcopyLarge = Measure(RunXcopy, large, out, options.reps);
    const Timing copyFileLarge = Measure(RunCopyFileLoop, large, out, options.reps);
    const std::vector<Timing> replaceTurns = Measure({RunEngine, RunEngineNoFlush}, small, out, options.reps, Into::Full);
    const Timing& engineReplace = replaceTurns[0];
    const Timing& engineReplaceNoFlush = replaceTurns[1];
    const Timing xcopyReplace = Measure(RunXcopy, small, out, options.reps, Into::Full);
    const std::uint64_t peakReplace = g_enginePeak;

    std::printf("small files: %d x %llu bytes, %d runs each\n", options.files,
                static_cast<unsigned long long>(options.fileSize), options.reps);
    PrintTiming("engine (own process)", engineSmall);
    PrintTiming("engine without flush", engineSmallNoFlush);
    PrintTiming("dialog (own process)", dialogSmall);
    PrintTiming("xcopy", xcopySmall);
    PrintTiming("CopyFileA loop", copyFileSmall);
    std::printf("  engine vs xcopy    %.2fx faster (target >= 2.0); without its flush %.2fx\n",
                xcopySmall.best / engineSmall.best, xcopySmall.best / engineSmallNoFlush.best);
    std::printf("  engine vs CopyFileA %.2fx faster\n", copyFileSmall.best / engineSmall.best);
    PrintFlushCost("flush of new copies", engineSmall, engineSmallNoFlush, options.files);
    std::printf("  dialog vs engine   %.2fx the engine's time (target <= 1.15); the runs alone, without the"
                " process starts: %.3f s and %.3f s, %.2fx\n",
                dialogSmall.best / engineSmall.best, dialogSmall.bestInside, engineSmall.bestInside,
                dialogSmall.bestInside / engineSmall.bestInside);

    std::printf("large file: %llu bytes, %d runs each\n", static_cast<unsigned long long>(options.largeSize),
                options.reps);
    PrintTiming("engine (own process)", engineLarge);
    PrintTiming("engine without flush", engineLargeNoFlush);
    PrintTiming("xcopy", xcopyLarge);
    PrintTiming("CopyFileA", copyFileLarge);
    std::printf("  engine vs xcopy    %.2fx faster (target >= 1.1); without its flush %.2fx\n",
                xcopyLarge.best / engineLarge.best, xcopyLarge.best / engineLargeNoFlush.best);
    std::printf("  engine vs CopyFileA %.2fx faster\n", copyFileLarge.best / engineLarge.best);
    PrintFlushCost("flush of the new copy", engineLarge, engineLargeNoFlush, 1);
    if (options.cpSeconds > 0) {
        std::printf("  native cp          best %8.3f s\n", options.cpSeconds);
        std::printf("  engine vs cp       %.2fx of cp's speed (target >= 0.8)\n", options.cpSeconds / engineLarge.best);
    }

    std::printf("replacing: the same small files over a destination holding all of them, overwrite on\n");
    PrintTiming("engine (flushes)", engineReplace);
    PrintTiming("engine without flush", engineReplaceNoFlush);
    PrintTiming("xcopy /Y", xcopyReplace);
    std::printf("  engine vs xcopy    %.2fx faster\n", xcopyReplace.best / engineReplace.best);
    PrintFlushCost("flush before replacing", engineReplace, engineReplaceNoFlush, options.files);

    std::printf("peak working set of the engine process: %.2f MiB on the small files, %.2f MiB on the large file,"
                " %.2f MiB replacing (target < 8); this process: %.2f MiB\n",
                peakSmall / 1048576.0, peakLarge / 1048576.0, peakReplace / 1048576.0,
                PeakWorkingSet() / 1048576.0);

    if (!options.keep) RemoveTree(options.dir);
    return 0;
}
