#include "core/DateTime.h"
#include "core/Failure.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace zelvo {
namespace {

FormatSettings Settings(char timeSeparator, char dateSeparator, char decimalSeparator,
                        const char* shortDate, const char* am, const char* pm) {
    FormatSettings fs;
    fs.timeSeparator = timeSeparator;
    fs.dateSeparator = dateSeparator;
    fs.decimalSeparator = decimalSeparator;
    fs.shortDateFormat = shortDate;
    fs.timeAMString = am;
    fs.timePMString = pm;
    fs.referenceYear = 2026;
    return fs;
}

// A Chinese (PRC) system's settings, built by hand so that the tests do not
// depend on the machine's locale.
FormatSettings ChineseSettings() { return Settings(':', '/', '.', "yyyy/M/d", "上午", "下午"); }

// Day before month, and '.' for both the date and the time separator.
FormatSettings DottedSettings() { return Settings('.', '.', ',', "d.M.yyyy", "ap.", "ip."); }

std::string Parts(DateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
             p.minute, p.second, p.millisecond);
    return text;
}

// The parsed value as text, or "refused".
std::string Parse(const std::string& text, const FormatSettings& fs) {
    DateTime value = 0;
    return TryStrToDateTime(text, fs, value) ? Parts(value) : "refused";
}

struct ParseCase {
    const char* text;
    const char* expected;  // a time alone ("hh:mm:ss.zzz") or a whole date-time
};

void ExpectParses(const FormatSettings& fs, std::initializer_list<ParseCase> cases) {
    for (const auto& c : cases) {
        const std::string expected(c.expected);
        EXPECT_EQ(Parse(c.text, fs), expected.size() == 12 ? "1899-12-30 " + expected : expected)
            << '[' << c.text << ']';
    }
}

void ExpectRefused(const FormatSettings& fs, std::initializer_list<const char*> texts) {
    for (const char* text : texts) EXPECT_EQ(Parse(text, fs), "refused") << '[' << text << ']';
}

TEST(DateTimeEncoding, SerialNumbersCountDaysFrom30December1899) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2024, 1, 1), 45292.0);
    EXPECT_EQ(EncodeTime(18, 0, 0), 0.75);
    EXPECT_EQ(Parts(EncodeDate(2026, 12, 7) + EncodeTime(9, 3, 5, 7)), "2026-12-07 09:03:05.007");
    EXPECT_EQ(Parts(-0.75), "1899-12-29 06:00:00.000");

    DateTime out = 0;
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, out));
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, out));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, out));
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, out));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, out));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1, out));
    EXPECT_FALSE(TryEncodeDate(2026, 13, 1, out));
    EXPECT_FALSE(TryEncodeDate(2026, 4, 31, out));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, out));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, out));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, out));
    EXPECT_THROW(EncodeTime(-1, 0, 0), std::out_of_range);
}

TEST(DateTimeEncoding, DecodingRoundsToTheMillisecond) {
    const DateTime noon = EncodeDate(2026, 12, 7) + EncodeTime(12, 0, 0);
    // One microsecond short of noon still reads as noon, never as 11:59:59.
    EXPECT_EQ(Parts(noon - 1e-6 / 86400), "2026-12-07 12:00:00.000");
    EXPECT_EQ(WholeSeconds(noon - 1e-6 / 86400), WholeSeconds(noon));
    EXPECT_EQ(WholeSeconds(noon - 0.1 / 86400), WholeSeconds(noon) - 1);
    EXPECT_EQ(FromWholeSeconds(WholeSeconds(noon)), noon);
    EXPECT_EQ(Parts(TimeOf(noon + EncodeTime(0, 0, 0, 250))), "1899-12-30 12:00:00.250");
    // Sums of time parts carry over into the next day exactly.
    EXPECT_EQ(Parts(EncodeDate(2026, 12, 31) + EncodeTime(23, 59, 59, 999) + EncodeTime(0, 0, 0, 1)),
              "2027-01-01 00:00:00.000");
}

TEST(FormatDateTime, RendersTheProgramsTwoFormats) {
    const FormatSettings fs = ChineseSettings();
    const DateTime value = EncodeDate(2026, 12, 7) + EncodeTime(9, 3, 5);
    EXPECT_EQ(FormatDateTime(kClockFormat, value, fs), "2026-12-07 09:03:05");
    EXPECT_EQ(FormatDateTime(kTimeFormat, EncodeTime(23, 59, 59, 999), fs), "23:59:59");
    EXPECT_EQ(FormatDateTime(kClockFormat, value, DottedSettings()), "2026-12-07 09.03.05");
    EXPECT_EQ(FormatDateTime("yyyy", EncodeDate(5, 1, 1), fs), "0005");
}

TEST(FormatDateTime, MinutesOnlyAfterHoursAndOtherBytesCopied) {
    const FormatSettings fs = ChineseSettings();
    const DateTime value = EncodeDate(2026, 12, 7) + EncodeTime(9, 3, 5);
    EXPECT_EQ(FormatDateTime("mm/dd", value, fs), "12/07");
    EXPECT_EQ(FormatDateTime("hh时mm分ss秒", value, fs), "09时03分05秒");
    EXPECT_EQ(FormatDateTime("hh-yyyy-mm", value, fs), "09-2026-12");
    EXPECT_EQ(FormatDateTime("h m y d s", value, fs), "h m y d s");
    // A trail byte that equals a format letter or ':' belongs to its character.
    EXPECT_EQ(FormatDateTime("\x81mm hh\x81:", value, fs), "\x81mm 09\x81:");
    FormatSettings singleByte = fs;
    singleByte.leadByteRanges.clear();
    EXPECT_EQ(FormatDateTime("\x81mm", value, singleByte), "\x81" "12");
}

TEST(StrToDateTime, TimesAloneFallOnDayZero) {
    ExpectParses(ChineseSettings(), {{"07:05:09", "07:05:09.000"},
                                     {"7:5:9", "07:05:09.000"},
                                     {"07:05", "07:05:00.000"},
                                     {"7", "07:00:00.000"},
                                     {"  07:05:09  ", "07:05:09.000"},
                                     {"23:59:59.999", "23:59:59.999"},
                                     {"0000000000000000000007:05", "07:05:00.000"}});
    ExpectRefused(ChineseSettings(),
                  {"25:00:00", "07:05:09x", "24:00:00", "07:60", "07:05:60", "07:05:09.1000", "", " ", "07:",
                   ":05", "07::05", "07:05:", "07 :05", "-7:05", "7:05:09.", "99999999999999999999:00",
                   "07:05:09:01", "07.05.09"});
}

TEST(StrToDateTime, DesignatorsOfTheLocaleAndEnglish) {
    ExpectParses(ChineseSettings(), {{"下午3:04:05", "15:04:05.000"},
                                     {"上午 12:00:00", "00:00:00.000"},
                                     {"12:30 下午", "12:30:00.000"},
                                     {"3:04:05 PM", "15:04:05.000"},
                                     {"3:04pm", "15:04:00.000"},
                                     {"Am 11:59", "11:59:00.000"}});
    ExpectRefused(ChineseSettings(), {"0 PM", "13 PM", "下午13:00", "上午7:05 PM", "7:05 上", "\xC9\xCF\xCE",
                                      "PM", "7 P M", "7:05 下午下午"});
}

TEST(StrToDateTime, DoubleByteCharactersAreNeverSplit) {
    // Designators whose trail bytes are ':', '\' and 'a'.
    FormatSettings fs = Settings(':', '/', '.', "yyyy/M/d", "\x81:", "\x81\\");
    ExpectParses(fs, {{"\x81:7:05", "07:05:00.000"}, {"7:05\x81\\", "19:05:00.000"}});
    ExpectRefused(fs, {"7\x81:05", "\x81"});
    fs.timeAMString = "\x81" "a";
    ExpectParses(fs, {{"\x81" "a7", "07:00:00.000"}});
    // Case is ignored for single bytes only, not for a trail byte.
    ExpectRefused(fs, {"\x81" "A7"});
}

TEST(StrToDateTime, DatesFollowTheShortDateOrder) {
    ExpectParses(ChineseSettings(), {{"2026/12/7", "2026-12-07 00:00:00.000"},
                                     {"2026/12/7 09:03:05", "2026-12-07 09:03:05.000"},
                                     {" 2026/12/07   下午9:03 ", "2026-12-07 21:03:00.000"}});
    ExpectRefused(ChineseSettings(), {"2026/2/30", "2026/12/7x", "2026/12/709:03", "2026/12", "2026-12-7",
                                      "2026/12/7 25:00", "0000/1/1", "2026/12/7 x", "2026//12/7"});
    ExpectParses(DottedSettings(), {{"7.12.2026", "2026-12-07 00:00:00.000"},
                                    {"31.12.2026 23.59.58,5", "2026-12-31 23:59:58.005"},
                                    {"1.2.2026 ip. 1.00", "2026-02-01 13:00:00.000"},
                                    // Readable both ways: the time wins, as the program writes only times.
                                    {"07.05.09", "07:05:09.000"}});
    ExpectRefused(DottedSettings(), {"31.12.2026 23.59,5"});  // milliseconds need seconds
    ExpectParses(Settings(':', '/', '.', "M/d/yyyy", "AM", "PM"),
                 {{"12/7/2026 3:04 PM", "2026-12-07 15:04:00.000"}});
    // Without day and year letters the first letter decides: month, day, year.
    ExpectParses(Settings(':', '/', '.', "MMMM", "AM", "PM"), {{"12/7/2026", "2026-12-07 00:00:00.000"}});
}

TEST(StrToDateTime, TwoDigitYearsFallInAHundredYearWindow) {
    FormatSettings fs = ChineseSettings();  // reference year 2026: 1976..2075
    ExpectParses(fs, {{"75/1/2", "2075-01-02 00:00:00.000"},
                      {"76/1/2", "1976-01-02 00:00:00.000"},
                      {"0/1/2", "2000-01-02 00:00:00.000"},
                      {"099/1/2", "0099-01-02 00:00:00.000"}});
    fs.referenceYear = 2000;  // 1950..2049
    ExpectParses(fs, {{"49/1/2", "2049-01-02 00:00:00.000"}, {"50/1/2", "1950-01-02 00:00:00.000"}});
}

TEST(StrToDateTime, EveryWrittenTimeReadsBack) {
    for (const FormatSettings& fs : {ChineseSettings(), DottedSettings()}) {
        for (int second = 0; second < 86400; ++second) {
            const DateTime time = FromWholeSeconds(second);
            const std::string text = FormatDateTime(kTimeFormat, time, fs);
            DateTime back = -1;
            ASSERT_TRUE(TryStrToDateTime(text, fs, back)) << text;
            ASSERT_EQ(WholeSeconds(back), second) << text;
        }
    }
}

TEST(StrToDateTime, FailureCarriesTheTextAsRead) {
    const FormatSettings fs = ChineseSettings();
    try {
        StrToDateTime("下午07:05:09x", fs);
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'下午07:05:09x' is not a valid date and time");
    }
    EXPECT_EQ(StrToDateTime("07:05:09", fs), EncodeTime(7, 5, 9));
}

TEST(FormatSettings, FromLocaleMatchesTheCodePageAndReadsBackItsOwnTimes) {
    const FormatSettings fs = FormatSettings::FromLocale();
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(fs.IsLeadByte(static_cast<char>(byte)), ::IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE)
            << byte;
    }
    EXPECT_FALSE(fs.timeAMString.empty());
    EXPECT_FALSE(fs.timePMString.empty());
    const DateTime value = EncodeTime(17, 8, 9);
    EXPECT_EQ(StrToDateTime(FormatDateTime(kTimeFormat, value, fs), fs), value);
    EXPECT_EQ(StrToDateTime(fs.timePMString + " 5:08:09", fs), value);
}

TEST(NowLocal, AgreesWithTheSystemClock) {
    SYSTEMTIME before{};
    ::GetLocalTime(&before);
    const DateTimeParts now = DecodeDateTime(NowLocal());
    EXPECT_EQ(now.year, before.wYear);
    EXPECT_EQ(now.month, before.wMonth);
    // A day boundary between the two readings is possible but rare; allow it.
    EXPECT_TRUE(now.day == before.wDay || now.hour == 0) << now.day;
}

}  // namespace
}  // namespace zelvo
