#include "platform/ReportQueue.h"

#include "platform/Application.h"
#include "platform/Gdi.h"
#include "platform/Reporter.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace zelvo::ui {

namespace {

constexpr char kEllipsis[] = "...";
// Room the boxes need around their text: caption, borders, margins, icon,
// button (the platform's box and our information box alike, with some spare).
constexpr int kBoxChromeWidth = 160;
constexpr int kBoxChromeHeight = 160;

// Lengths of the starts of a line that end on a character boundary.
std::vector<std::size_t> CharacterEnds(const std::string& line) {
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (::IsDBCSLeadByte(static_cast<BYTE>(line[i])) && i + 1 < line.size()) ++i;
        ends.push_back(i + 1);
    }
    return ends;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) {
        lines.push_back(text.substr(start, at - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

std::string MoreLine(std::size_t omitted, const std::string& logPath) {
    std::string line = "…… 另有 " + std::to_string(omitted) + " 条未列出";
    if (!logPath.empty()) line += "，全部记录在 " + logPath + " 中";
    return line;
}

}  // namespace

BoxTextLimits ScreenBoxLimits() {
    RECT work{};
    if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
        work = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
    BoxTextLimits limits;
    limits.maxLineWidth = std::max(100, static_cast<int>(work.right - work.left) - kBoxChromeWidth);
    limits.maxTextHeight = std::max(50, static_cast<int>(work.bottom - work.top) - kBoxChromeHeight);
    return limits;
}

TextMeasure MessageFontMeasure() {
    // Wine's message box wraps its text at about a quarter of the screen
    // width, Windows' at more; counting rows at the narrowest keeps the box
    // inside the work area on both.
    const int wrapWidth = std::max(100, ::GetSystemMetrics(SM_CXSCREEN) / 4 - 8);
    // An empty line still takes a row.
    const auto measured = [font = std::make_shared<ScopedFont>(CreateMessageFont())](
                              const std::string& line, UINT format, int wrap) {
        return MeasureText(nullptr, font->Get(), line.empty() ? " " : line, format, wrap);
    };
    TextMeasure measure;
    measure.width = [measured](const std::string& line) { return static_cast<int>(measured(line, 0, 0).cx); };
    measure.height = [measured, wrapWidth](const std::string& line) {
        return static_cast<int>(measured(line, DT_WORDBREAK | DT_EXPANDTABS, wrapWidth).cy);
    };
    return measure;
}

std::string FitLine(const std::string& line, int maxWidth, const TextMeasure& measure) {
    if (measure.width(line) <= maxWidth) return line;
    const std::vector<std::size_t> ends = CharacterEnds(line);
    // The longest start that fits with the ellipsis; widths grow with length.
    std::size_t low = 0, high = ends.size();
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        if (measure.width(line.substr(0, ends[mid - 1]) + kEllipsis) <= maxWidth) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return (low == 0 ? std::string() : line.substr(0, ends[low - 1])) + kEllipsis;
}

std::string ComposeBoxText(const std::vector<Report>& reports, const BoxTextLimits& limits,
                           const TextMeasure& measure) {
    struct Line {
        std::string text;
        const Report* from;
    };
    std::vector<Line> all;
    for (const Report& report : reports) {
        if (reports.size() > 1 && !report.heading.empty()) all.push_back({report.heading, &report});
        // A line of a report may itself hold several (a failure's message).
        for (const std::string& entry : report.lines) {
            for (std::string& line : SplitLines(entry)) all.push_back({std::move(line), &report});
        }
    }
    for (Line& line : all) line.text = FitLine(line.text, limits.maxLineWidth, measure);

    std::size_t shown = 0;
    int height = 0;
    const auto fits = [&](std::size_t count, int used) {
        return count <= BoxTextLimits::kMaxLines && used <= limits.maxTextHeight;
    };
    int total = 0;
    for (const Line& line : all) total += measure.height(line.text);
    if (!fits(all.size(), total)) {
        // Room for the last line too, at its longest (every line omitted).
        const std::string longest = FitLine(MoreLine(all.size(), reports.back().logPath),
                                            limits.maxLineWidth, measure);
        const int reserve = measure.height(longest);
        while (shown < all.size()) {
            const int next = height + measure.height(all[shown].text);
            if (!fits(shown + 1, next + reserve)) break;
            height = next;
            ++shown;
        }
    } else {
        shown = all.size();
    }

    std::string text;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i) text += "\n";
        text += all[i].text;
    }
    if (shown < all.size()) {
        // Where they all are: the log, when every omitted line went to the same one.
        std::string logPath = all[shown].from->logPath;
        for (std::size_t i = shown; i < all.size(); ++i) {
            if (all[i].from->logPath != logPath) logPath.clear();
        }
        if (shown) text += "\n";
        text += FitLine(MoreLine(all.size() - shown, logPath), limits.maxLineWidth, measure);
    }
    return text;
}

void ReportQueue::Add(Report report) { pending_.push_back(std::move(report)); }

void ReportQueue::ShowPending() noexcept {
    if (boxOpen_) return;
    boxOpen_ = true;
    while (!pending_.empty()) {
        std::vector<Report> waited;
        waited.swap(pending_);
        try {
            const bool error = std::any_of(waited.begin(), waited.end(),
                                           [](const Report& r) { return r.kind == ReportKind::Error; });
            const std::string text = ComposeBoxText(waited, ScreenBoxLimits(), MessageFontMeasure());
            CancelLabelEdits();
            if (error) {
                CurrentReporter().ShowError(text);
            } else {
                CurrentReporter().ShowInformation(text);
            }
        } catch (...) {
        }
    }
    boxOpen_ = false;
}

ReportQueue& Reports() {
    static ReportQueue queue;
    return queue;
}

void ShowReport(Report report) noexcept {
    try {
        Reports().Add(std::move(report));
    } catch (...) {
        return;
    }
    Reports().ShowPending();
}

}  // namespace zelvo::ui
