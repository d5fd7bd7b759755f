// The benchmark's run through the program's own progress dialog, in a window
// process of its own: copybench-dialog.exe SRC DST PEAKFILE. Started by
// copybench.exe, which times it beside the engine alone.
#include "Backup.h"
#include "BenchChild.h"
#include "platform/Application.h"

#include <string>

namespace {

using zelvo::bench::Die;
using zelvo::bench::Now;

// The child side of a run through the progress dialog as the scheduler shows
// it: created, shown modally, the run in its first tick. With no main window
// the overwrite switch reads off, which into an empty destination changes nothing.
int RunDialog(const std::string& source, const std::string& dest, const std::string& peakFile) {
    zelvo::ui::Application& app = zelvo::ui::Application::Instance();
    app.SetTitle("copybench");
    app.Initialize();
    const double start = Now();
    zelvo::TBackupForm dialog;
    dialog.SourcePath = source;
    dialog.DestPath = dest;
    dialog.ShowModal();
    const double seconds = Now() - start;
    const zelvo::CopyRunResult& result = dialog.Outcome.result;
    if (!dialog.Outcome.ran || result.refused) Die("dialog made no run into " + dest);
    if (!result.failures.empty()) Die("dialog run failed: " + result.failures.front());
    zelvo::bench::WriteChildReport(peakFile, seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) Die("usage: copybench-dialog SRC DST PEAKFILE");
    return RunDialog(argv[1], argv[2], argv[3]);
}
