// Copy benchmark: the backup engine against Wine's xcopy, the program's own
// progress dialog and native cp, on data it makes itself. Not a test; run it
// through scripts/bench.sh, which also mounts the share it copies to.
//
//   copybench.exe [--dir D] [--scenario share|local|large|all] [--files N]
//                 [--file-size BYTES] [--large-size BYTES] [--share PATH]
//                 [--share-files N] [--reps R] [--prepare-only] [--keep]
//
// Scenarios, each a set of variants measured in turns (every repetition runs
// each variant once, in an order that rotates from one repetition to the
// next, into a fresh destination), reported by median and best:
// - share: --share-files files of --file-size into --share (a UNC path to a
//   share that scripts/bench.sh serves through a FUSE pass-through with a
//   delay for every operation): the engine as it ships, the engine one file
//   at a time, xcopy, the dialog;
// - local: --files files of --file-size: the engine as it ships and with 1, 2
//   and 4 files in flight, the engine without its flushes, xcopy, the dialog;
// - large: one file of --large-size, durable: the engine, and native cp
//   followed by an fsync of the copy, timed on the Unix side.
//
// The engine runs in a process of its own (copybench.exe --engine SRC DST
// PEAKFILE [--no-flush] [--in-flight N]), like xcopy, so both times include a
// process start and the peak working set read in that process is the
// engine's alone; the dialog likewise (copybench-dialog.exe SRC DST PEAKFILE,
// a window process of its own). The large scenario compares the runs' own
// times, without process starts: the engine's as its process measured it,
// cp's as its shell did.

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
#include <functional>
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
    std::string scenario = "all";
    int files = 5000;
    std::uint64_t fileSize = 4096;
    std::uint64_t largeSize = 1ull << 30;
    std::string share;  // the UNC path of the share scenario; empty: none
    int shareFiles = 300;
    int reps = 5;
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

// Lets every transfer through and leaves out the flushes of each copy.
class NoFlush : public zelvo::CopyFaults {
public:
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

// A folder of `count` files of `size` bytes, made anew unless it holds them.
void PrepareFiles(const std::string& dir, int count, std::uint64_t size) {
    const Tally there = Count(dir);
    if (there.files == count && there.bytes == size * static_cast<std::uint64_t>(count)) return;
    RemoveTree(dir);
    MakeDirectory(dir);
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "f%05d.dat", i);
        WriteDataFile(JoinPath(dir, name), size, static_cast<std::uint32_t>(i));
    }
}

// The child side of an engine run: copies, then reports.
int EngineChild(int argc, char** argv) {
    if (argc < 5) Die("usage: copybench --engine SRC DST PEAKFILE [--no-flush] [--in-flight N]");
    bool flush = true;
    zelvo::CopyTuning tuning;
    for (int i = 5; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-flush") == 0) flush = false;
        if (std::strcmp(argv[i], "--in-flight") == 0 && i + 1 < argc) tuning.filesInFlight = std::atoi(argv[++i]);
    }
    Quiet quiet;
    NoFlush noFlush;
    const double start = Now();
    const auto result =
        zelvo::RunCopy(argv[2], argv[3], [] { return true; }, quiet, flush ? nullptr : &noFlush, tuning);
    const double seconds = Now() - start;
    if (result.refused) Die(std::string("engine refused ") + argv[3]);
    if (!result.failures.empty()) Die("engine failed: " + result.failures.front());
    WriteChildReport(argv[4], seconds);
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

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string ReportFile() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "copybench-report.txt";
}

// What the children reported of their last run: the peak working set of the
// engine's (the highest seen) and the run's own time.
struct ChildReport {
    std::uint64_t peak = 0;
    double seconds = 0;
};

std::uint64_t g_lastChildPeak = 0;  // the peak working set the last child reported

ChildReport ReadReport() {
    HANDLE file = CreateFileA(ReportFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char text[64] = {};
    DWORD got = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, text, sizeof text - 1, &got, nullptr);
        CloseHandle(file);
    }
    DeleteFileA(ReportFile().c_str());
    char* end = nullptr;
    ChildReport report;
    report.peak = std::strtoull(text, &end, 10);
    report.seconds = std::strtod(end, nullptr);
    g_lastChildPeak = report.peak;
    return report;
}

std::string Self() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return self;
}

// Where Wine keeps a Windows path on the Unix side.
std::string UnixPath(const std::string& path) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = unixName ? unixName(zelvo::DirPath(path).Path().c_str()) : nullptr;
    if (!unix) Die("no Unix name for " + path);
    std::string name = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return name;
}

// One variant of a scenario: a way to copy a source folder into a destination
// folder, reporting the run's own time where it can (0 where not).
struct Variant {
    std::string name;
    std::function<double(const std::string& source, const std::string& dest)> run;
    bool engine = false;  // an engine child whose peak working set counts
};

Variant Engine(const std::string& name, int inFlight, bool flush = true) {
    std::string extra = inFlight > 0 ? " --in-flight " + std::to_string(inFlight) : std::string();
    if (!flush) extra += " --no-flush";
    return {name,
            [extra](const std::string& source, const std::string& dest) {
                RunProcess(Quote(Self()) + " --engine " + Quote(source) + " " + Quote(dest) + " " +
                           Quote(ReportFile()) + extra);
                return ReadReport().seconds;
            },
            true};
}

Variant Dialog() {
    return {"dialog", [](const std::string& source, const std::string& dest) {
                RunProcess(Quote(zelvo::bench::Sibling(Self(), "copybench-dialog.exe")) + " " + Quote(source) + " " +
                           Quote(dest) + " " + Quote(ReportFile()));
                return ReadReport().seconds;
            }};
}

Variant Xcopy() {
    return {"xcopy", [](const std::string& source, const std::string& dest) {
                char system[MAX_PATH];
                GetSystemDirectoryA(system, MAX_PATH);
                RunProcess(Quote(std::string(system) + "\\xcopy.exe") + " " + Quote(JoinPath(source, "*.*")) + " " +
                           Quote(dest + "\\") + " /Q /Y /I");
                return 0.0;
            }};
}

// Native cp and an fsync of the copy, timed by the shell that runs them.
// Wine gives no handle to wait on for a Unix process, so the shell leaves its
// time in a file, as the tests' RunUnix does.
Variant CopyAndSync() {
    return {"native cp + fsync", [](const std::string& source, const std::string& dest) {
                const std::string result = JoinPath(dest, "..\\cp-time.txt");
                DeleteFileA(result.c_str());
                const std::string from = UnixPath(JoinPath(source, "large.dat"));
                const std::string to = UnixPath(dest) + "/large.dat";
                std::string line = "/bin/sh -c \"s=$(date +%s%N); cp '" + from + "' '" + to + "' && sync '" + to +
                                   "'; e=$(date +%s%N); echo $((e - s)) > '" + UnixPath(dest) + "/../cp-time.txt'\"";
                STARTUPINFOA startup{};
                startup.cb = sizeof startup;
                PROCESS_INFORMATION started{};
                if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                    &started)) {
                    Die("cannot start " + line);
                }
                CloseHandle(started.hThread);
                CloseHandle(started.hProcess);
                std::string said;
                for (int i = 0; i < 60000 && said.find('\n') == std::string::npos; ++i) {
                    Sleep(5);
                    HANDLE file = CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
                    if (file == INVALID_HANDLE_VALUE) continue;
                    char text[64] = {};
                    DWORD got = 0;
                    ReadFile(file, text, sizeof text - 1, &got, nullptr);
                    CloseHandle(file);
                    said = text;
                }
                DeleteFileA(result.c_str());
                return std::strtod(said.c_str(), nullptr) / 1e9;
            }};
}

// All runs of one variant: the wall time of each (with its process start),
// and the run's own time where the variant reports one.
struct Runs {
    std::vector<double> wall, inside;
    std::uint64_t peak = 0;
};

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times.empty() ? 0 : times.size() % 2 ? times[times.size() / 2]
                                                : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
}

double Best(const std::vector<double>& times) {
    return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

// Each repetition runs every variant once, the order rotating from one
// repetition to the next, so that a machine busy with something else for a
// while slows them alike; each copy goes into a fresh destination, checked
// and removed afterwards (neither is timed).
std::vector<Runs> Measure(const std::vector<Variant>& variants, const std::string& source, const std::string& dest,
                          int reps) {
    const Tally expected = Count(source);
    std::vector<Runs> runs(variants.size());
    RemoveTree(dest);
    for (int rep = 0; rep < reps; ++rep) {
        for (std::size_t turn = 0; turn < variants.size(); ++turn) {
            const std::size_t which = (turn + static_cast<std::size_t>(rep)) % variants.size();
            MakeDirectory(dest);
            const double start = Now();
            const double inside = variants[which].run(source, dest);
            runs[which].wall.push_back(Now() - start);
            if (inside > 0) runs[which].inside.push_back(inside);
            if (variants[which].engine) {
                runs[which].peak = std::max(runs[which].peak, g_lastChildPeak);
            }
            const Tally got = Count(dest);
            if (got.files != expected.files || got.bytes != expected.bytes) {
                Die("incomplete copy by " + variants[which].name + " into " + dest);
            }
            RemoveTree(dest);
        }
    }
    return runs;
}

void PrintRuns(const std::string& title, const std::vector<Variant>& variants, const std::vector<Runs>& runs,
               bool inside) {
    std::printf("%s\n  %-22s %9s %9s   all runs (s)%s\n", title.c_str(), "variant", "median", "best",
                inside ? "; the runs' own times, without process starts" : "");
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const std::vector<double>& times = inside ? runs[i].inside : runs[i].wall;
        std::printf("  %-22s %8.3fs %8.3fs  ", variants[i].name.c_str(), Median(times), Best(times));
        for (const double t : times) std::printf(" %.3f", t);
        std::printf("\n");
    }
}

// `faster` / `slower` by medians, against a goal.
void PrintRatio(const char* what, double slower, double faster, const char* goal) {
    std::printf("  %-44s %.2fx (goal %s)\n", what, faster > 0 ? slower / faster : 0.0, goal);
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
        } else if (arg == "--scenario" && hasValue) {
            options.scenario = argv[++i];
        } else if (arg == "--files" && hasValue) {
            options.files = std::atoi(argv[++i]);
        } else if (arg == "--file-size" && hasValue) {
            options.fileSize = ParseSize(argv[++i]);
        } else if (arg == "--large-size" && hasValue) {
            options.largeSize = ParseSize(argv[++i]);
        } else if (arg == "--share" && hasValue) {
            options.share = argv[++i];
        } else if (arg == "--share-files" && hasValue) {
            options.shareFiles = std::atoi(argv[++i]);
        } else if (arg == "--reps" && hasValue) {
            options.reps = std::max(1, std::atoi(argv[++i]));
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
    if (argc >= 2 && std::strcmp(argv[1], "--engine") == 0) return EngineChild(argc, argv);
    const Options options = ParseArguments(argc, argv);
    const auto wanted = [&](const char* scenario) { return options.scenario == "all" || options.scenario == scenario; };
    const std::string small = JoinPath(options.dir, "small");
    const std::string shareSource = JoinPath(options.dir, "share-src");
    const std::string large = JoinPath(options.dir, "large");
    const std::string out = JoinPath(options.dir, "out");
    MakeDirectory(options.dir);
    if (wanted("local")) PrepareFiles(small, options.files, options.fileSize);
    if (wanted("share") && !options.share.empty()) PrepareFiles(shareSource, options.shareFiles, options.fileSize);
    if (wanted("large") && Count(large).bytes != options.largeSize) {
        RemoveTree(large);
        MakeDirectory(large);
        WriteDataFile(JoinPath(large, "large.dat"), options.largeSize, 7);
    }
    if (options.prepareOnly) return 0;
    std::printf("%d repetitions; every repetition runs each variant once, in a rotating order\n\n", options.reps);

    if (wanted("share")) {
        if (options.share.empty()) {
            std::printf("share: skipped (no share to copy to; scripts/bench.sh mounts one where /dev/fuse is)\n\n");
        } else {
            const std::vector<Variant> variants = {Engine("engine", 0), Engine("engine, 1 in flight", 1), Xcopy(),
                                                   Dialog()};
            const std::vector<Runs> runs = Measure(variants, shareSource, JoinPath(options.share, "out"),
                                                   options.reps);
            PrintRuns("share: " + std::to_string(options.shareFiles) + " files of " +
                          std::to_string(options.fileSize) + " bytes into " + options.share,
                      variants, runs, false);
            PrintRatio("engine vs xcopy", Median(runs[2].wall), Median(runs[0].wall), ">= 3.0x");
            PrintRatio("engine vs the engine one file at a time", Median(runs[1].wall), Median(runs[0].wall),
                       ">= 2.2x");
            PrintRatio("dialog's time vs the engine's", Median(runs[3].wall), Median(runs[0].wall), "<= 1.10x");
            std::printf("  peak working set of the engine, %d in flight: %.2f MiB\n\n", zelvo::kFilesInFlight,
                        runs[0].peak / 1048576.0);
        }
    }
    if (wanted("local")) {
        const std::vector<Variant> variants = {Engine("engine", 0),          Engine("engine, 1 in flight", 1),
                                               Engine("engine, 2 in flight", 2), Engine("engine, 4 in flight", 4),
                                               Engine("engine without flushes", 0, false), Xcopy(), Dialog()};
        const std::vector<Runs> runs = Measure(variants, small, out, options.reps);
        PrintRuns("local: " + std::to_string(options.files) + " files of " + std::to_string(options.fileSize) +
                      " bytes",
                  variants, runs, false);
        PrintRatio("engine vs xcopy", Median(runs[5].wall), Median(runs[0].wall), ">= 2.0x");
        PrintRatio("dialog's time vs the engine's", Median(runs[6].wall), Median(runs[0].wall), "<= 1.10x");
        std::printf("  the flushes cost %.3f s of the engine's %.3f s (medians)\n",
                    Median(runs[0].wall) - Median(runs[4].wall), Median(runs[0].wall));
        std::printf("  peak working set of the engine: %.2f MiB\n\n", runs[0].peak / 1048576.0);
    }
    if (wanted("large")) {
        const std::vector<Variant> variants = {Engine("engine", 0), CopyAndSync()};
        const std::vector<Runs> runs = Measure(variants, large, out, options.reps);
        PrintRuns("large: one file of " + std::to_string(options.largeSize) + " bytes, durable", variants, runs,
                  true);
        PrintRatio("engine's time vs native cp + fsync's", Median(runs[0].inside), Median(runs[1].inside),
                   "<= 1.0x");
        std::printf("  peak working set of the engine: %.2f MiB\n\n", runs[0].peak / 1048576.0);
    }
    std::printf("this process's peak working set: %.2f MiB\n", PeakWorkingSet() / 1048576.0);
    if (!options.keep) RemoveTree(options.dir);
    return 0;
}
