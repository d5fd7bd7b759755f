// The text of a report box and the queue that keeps one box open at a time.
#include "platform/ReportQueue.h"
#include "platform/Reporter.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvo::ui {
namespace {

// A font of 6-pixel cells per byte and 16-pixel rows that never wraps.
TextMeasure Cells() {
    TextMeasure m;
    m.width = [](const std::string& line) { return static_cast<int>(line.size()) * 6; };
    m.height = [](const std::string&) { return 16; };
    return m;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) {
        lines.push_back(text.substr(start, at - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

Report Failures(int count, const std::string& logPath = "C:\\Zelvo\\Backup.log") {
    Report report{ReportKind::Error, "[2026-12-08 08:30:00]", {}, logPath};
    for (int i = 0; i < count; ++i) report.lines.push_back("Cannot open file D:\\src\\f" + std::to_string(i));
    return report;
}

TEST(BoxTextTest, LongLinesKeepTheirStartAndNeverSplitACharacter) {
    const TextMeasure m = Cells();
    EXPECT_EQ(FitLine("short", 60, m), "short");
    const std::string value(3000, '7');
    const std::string cut = FitLine("'" + value + "' is not a valid date and time", 600, m);
    EXPECT_EQ(cut.size() * 6, 600u);
    EXPECT_EQ(cut, "'" + value.substr(0, 96) + "...");
    // Room for 3 bytes before the ellipsis would halve 录: only 目 is kept.
    EXPECT_EQ(FitLine("目录[D:\\x]不存在!", 6 * 6, m), "目...");
    EXPECT_EQ(FitLine("目录[D:\\x]不存在!", 7 * 6, m), "目录...");
    EXPECT_EQ(FitLine("目录[D:\\x]不存在!", 8 * 6, m), "目录[...");
}

TEST(BoxTextTest, ManyLinesEndWithACountOfTheRestAndWhereTheyAre) {
    BoxTextLimits limits;
    limits.maxLineWidth = 800;
    limits.maxTextHeight = 1000;
    std::vector<std::string> lines = Lines(ComposeBoxText({Failures(150)}, limits, Cells()));
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0], "Cannot open file D:\\src\\f0");
    EXPECT_EQ(lines[19], "Cannot open file D:\\src\\f19");
    EXPECT_EQ(lines[20], "…… 另有 130 条未列出，全部记录在 C:\\Zelvo\\Backup.log 中");

    // A short screen holds fewer, the last line included.
    limits.maxTextHeight = 16 * 8;
    lines = Lines(ComposeBoxText({Failures(150)}, limits, Cells()));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[7], "…… 另有 143 条未列出，全部记录在 C:\\Zelvo\\Backup.log 中");

    // Exactly what fits needs no last line.
    limits.maxTextHeight = 1000;
    EXPECT_EQ(Lines(ComposeBoxText({Failures(20)}, limits, Cells())).size(), 20u);
}

TEST(BoxTextTest, ReportsThatWaitedShareOneBoxUnderTheirHeadings) {
    BoxTextLimits limits;
    limits.maxLineWidth = 800;
    limits.maxTextHeight = 1000;
    Report missing{ReportKind::Information, "[2026-12-08 12:00:00]", {"目录[D:\\src]不存在!"}, ""};
    const std::string one = ComposeBoxText({Failures(1)}, limits, Cells());
    EXPECT_EQ(one, "Cannot open file D:\\src\\f0");  // alone: no heading
    EXPECT_EQ(ComposeBoxText({Failures(1), missing}, limits, Cells()),
              "[2026-12-08 08:30:00]\nCannot open file D:\\src\\f0\n[2026-12-08 12:00:00]\n目录[D:\\src]不存在!");
    // Lines from reports that are not all in one log: the count alone.
    const std::vector<std::string> lines =
        Lines(ComposeBoxText({Failures(15), Failures(15, "")}, limits, Cells()));
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[20], "…… 另有 12 条未列出");
}

class RecordingBoxes : public Reporter {
public:
    void ShowError(const std::string& message) override {
        shown.push_back("error: " + message);
        if (onBox) onBox();
    }
    void ShowInformation(const std::string& text) override {
        shown.push_back("information: " + text);
        if (onBox) onBox();
    }
    std::vector<std::string> shown;
    std::function<void()> onBox;
};

TEST(ReportQueueTest, ReportsArisingWhileABoxIsOpenWaitAndThenShareOneBox) {
    RecordingBoxes boxes;
    ScopedReporter scoped(boxes);
    std::vector<std::size_t> openWhileShown;
    boxes.onBox = [&] {
        openWhileShown.push_back(boxes.shown.size());
        if (boxes.shown.size() != 1) return;
        EXPECT_TRUE(Reports().BoxOpen());
        ShowReport(Report{ReportKind::Information, "[b]", {"second"}, ""});
        ShowReport(Report{ReportKind::Error, "[c]", {"third"}, ""});
        EXPECT_EQ(boxes.shown.size(), 1u);  // no box inside a box
        EXPECT_EQ(Reports().Waiting(), 2u);
    };
    ShowReport(Report{ReportKind::Information, "[a]", {"first"}, ""});
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"information: first", "error: [b]\nsecond\n[c]\nthird"}));
    EXPECT_EQ(openWhileShown, (std::vector<std::size_t>{1, 2}));
    EXPECT_FALSE(Reports().BoxOpen());
    EXPECT_EQ(Reports().Waiting(), 0u);
}

TEST(ReportQueueTest, TheScreensLimitsLeaveRoomForTheBox) {
    RECT work{};
    ASSERT_TRUE(::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    const BoxTextLimits limits = ScreenBoxLimits();
    EXPECT_GT(limits.maxLineWidth, 0);
    EXPECT_LT(limits.maxLineWidth, work.right - work.left);
    EXPECT_GT(limits.maxTextHeight, 0);
    EXPECT_LT(limits.maxTextHeight, work.bottom - work.top);
    // A real font: wider text measures wider, and a line that wraps is taller.
    const TextMeasure m = MessageFontMeasure();
    EXPECT_LT(m.width("ab"), m.width("abcdef"));
    EXPECT_GT(m.height(std::string(200, 'a').replace(100, 1, " ")), m.height("a"));
}

}  // namespace
}  // namespace zelvo::ui
