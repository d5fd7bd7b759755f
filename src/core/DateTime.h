// Date-time as the program keeps it: a double counting days since
// 30 December 1899, the fraction being the local time of day.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zelvo {

using DateTime = double;

// The source of the current local date-time. Production code passes NowLocal;
// tests pass a scripted clock. Every use of "now" calls it anew.
using Clock = std::function<DateTime()>;

// The locale's settings that formatting and conversion depend on. Bytes are in
// the ANSI code page (the designators are GBK text on a Chinese system).
struct FormatSettings {
    char timeSeparator = ':';
    char dateSeparator = '-';
    char decimalSeparator = '.';
    // Short date pattern in the letters y, M, d (as the locale gives it, e.g.
    // "yyyy/M/d"); only the order of the three fields is taken from it.
    std::string shortDateFormat = "yyyy/M/d";
    std::string timeAMString = "AM";
    std::string timePMString = "PM";
    // A two-digit year is taken within [referenceYear - 50, referenceYear + 49].
    int referenceYear = 2000;
    // Lead-byte ranges of the ANSI code page as inclusive byte pairs (GBK by
    // default; empty for a single-byte code page). A lead byte and the byte
    // after it form one character, whatever that second byte is.
    std::string leadByteRanges = "\x81\xFE";

    bool IsLeadByte(char c) const;

    // The settings of the user's locale (GetLocaleInfoA, LOCALE_USER_DEFAULT),
    // the lead bytes of the ANSI code page (GetCPInfo) and the current year.
    static FormatSettings FromLocale();
};

// The two renderings used throughout the program.
inline constexpr const char* kTimeFormat = "hh:mm:ss";
inline constexpr const char* kClockFormat = "yyyy-MM-dd hh:mm:ss";

bool TryEncodeDate(int year, int month, int day, DateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, DateTime& out);
// Throw std::out_of_range (not ConvertError) on bad fields; for tests and constants.
DateTime EncodeDate(int year, int month, int day);
DateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
// Rounds to the nearest millisecond first, so 12:00:00 never decodes as 11:59:59.999.
// The count is continuous: a value before the epoch is floor(value) days plus
// a positive fraction (-0.75 is 29 Dec 1899 06:00).
DateTimeParts DecodeDateTime(DateTime value);

// Whole milliseconds and whole seconds since the epoch of DateTime (both
// rounded to the millisecond first, so a reading falls in the second its
// "hh:mm:ss" shows). Clock readings are compared in these integers, never as
// doubles: the second a reading falls in must not depend on how the compiler
// rounds a sum.
std::int64_t WholeMilliseconds(DateTime value);
std::int64_t WholeSeconds(DateTime value);
// The second of the day (0..86399) that "hh:mm:ss" shows for a date-time,
// and the same for a count of whole seconds (also before the epoch).
int SecondOfDay(DateTime value);
int SecondOfDayOf(std::int64_t wholeSeconds);
// The DateTime of a whole-second count (inverse of WholeSeconds).
DateTime FromWholeSeconds(std::int64_t seconds);
// The time-of-day part (fraction) of a date-time.
DateTime TimeOf(DateTime value);

// The current local date-time (GetLocalTime).
DateTime NowLocal();

// Format letters: yyyy, MM, dd, hh, mm (minutes right after hh, else month), ss;
// ':' stands for the locale's time separator; every other character is copied.
std::string FormatDateTime(const std::string& format, DateTime value, const FormatSettings& fs);

// The locale's date-time conversion: a date in the short-date order with the
// date separator, optionally followed by a time, or a time alone (day zero).
// Pure: depends only on the text and the settings.
bool TryStrToDateTime(const std::string& text, const FormatSettings& fs, DateTime& out);
// As above; fails with ConvertError "'%s' is not a valid date and time".
DateTime StrToDateTime(const std::string& text, const FormatSettings& fs);

}  // namespace zelvo
