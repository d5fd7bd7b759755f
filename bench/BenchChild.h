// What the benchmark and its child processes share: timing, dying with a
// message, and the report a child leaves for the benchmark.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zelvo::bench {

[[noreturn]] inline void Die(const std::string& what) {
    std::fprintf(stderr, "copybench: %s (error %lu)\n", what.c_str(), GetLastError());
    std::exit(2);
}

inline double Now() {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline std::uint64_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// What a child writes to the file named by peakFile: its peak working set
// (bytes) and the seconds its run took inside the process.
inline void WriteChildReport(const std::string& peakFile, double seconds) {
    const std::string report = std::to_string(PeakWorkingSet()) + " " + std::to_string(seconds);
    HANDLE file = CreateFileA(peakFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
}

// The file `name` in the folder of `path`.
inline std::string Sibling(const std::string& path, const std::string& name) {
    const std::string::size_type slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name;
}

}  // namespace zelvo::bench
