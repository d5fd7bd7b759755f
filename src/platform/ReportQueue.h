// The program's reports (the failures of a run, a missing directory, any
// failure an event handler met) go through one queue, so that at most one box
// is open at a time: a report that arises while a box is open waits, and when
// the box is dismissed one box shows everything that waited, oldest first.
// A box never blocks anything but its own loop: the tick that raised a report
// has ended, or ends, before the box appears.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::ui {

enum class ReportKind { Error, Information };

struct Report {
    ReportKind kind = ReportKind::Error;
    // Shown above the lines when the box holds several reports (when it arose).
    std::string heading;
    std::vector<std::string> lines;
    // The run log that holds every line of this report; empty when none does.
    std::string logPath;
};

// How much text a box may hold so that it fits the work area.
struct BoxTextLimits {
    static constexpr std::size_t kMaxLines = 20;
    int maxLineWidth = 0;   // widest line, in pixels of the message font
    int maxTextHeight = 0;  // all lines together, wrapped as the narrowest box wraps them
};

// Width of a line, and its height once wrapped, in the box's font.
struct TextMeasure {
    std::function<int(const std::string&)> width;
    std::function<int(const std::string&)> height;
};

// The limits of this screen for the system's message font.
BoxTextLimits ScreenBoxLimits();
TextMeasure MessageFontMeasure();

// Cuts a line that is wider than maxWidth to its longest start that fits
// with "..." after it (never inside a double-byte character).
std::string FitLine(const std::string& line, int maxWidth, const TextMeasure& measure);

// The text of one box for these reports: every line fitted to the width;
// as many lines as fit the height (at most kMaxLines), then a line that says
// how many more there were and where they all are.
std::string ComposeBoxText(const std::vector<Report>& reports, const BoxTextLimits& limits,
                           const TextMeasure& measure);

class ReportQueue {
public:
    void Add(Report report);
    // Shows what waits, one box after another, unless a box of the queue is
    // open already (its loop shows the rest when it is dismissed). Never throws.
    void ShowPending() noexcept;
    bool BoxOpen() const { return boxOpen_; }
    std::size_t Waiting() const { return pending_.size(); }

private:
    std::vector<Report> pending_;
    bool boxOpen_ = false;
};

ReportQueue& Reports();

// Adds the report and shows it (or leaves it waiting behind an open box).
void ShowReport(Report report) noexcept;

}  // namespace zelvo::ui
