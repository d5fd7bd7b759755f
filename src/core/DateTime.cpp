#include "core/DateTime.h"

#include "core/Failure.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace zelvo {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 30 Dec 1899 to 1 Jan 1970, the base of the civil-date arithmetic.
constexpr std::int64_t kUnixEpochSerial = 25569;
// Beyond the years 1..9999 on both sides; keeps llround away from overflow.
constexpr double kSerialLimit = 3.0e6;
constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
// Any field value at or above this is out of range; digit runs saturate here
// so that a long run of digits cannot overflow.
constexpr int kNumberCap = 1000000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian calendar, days relative to 1 Jan 1970 (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(int year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, DateTimeParts& parts) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    parts.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    parts.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    parts.year = static_cast<int>(yoe + era * 400 + (parts.month <= 2 ? 1 : 0));
}

std::int64_t RoundToMilliseconds(DateTime value) {
    if (std::isnan(value)) return 0;
    const double clamped = std::clamp(value, -kSerialLimit, kSerialLimit);
    return std::llround(clamped * static_cast<double>(kMsPerDay));
}

void AppendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

void AppendFourDigits(std::string& out, int value) {
    AppendTwoDigits(out, value / 100);
    AppendTwoDigits(out, value % 100);
}

bool StartsWith(const std::string& text, std::size_t at, const char* word) {
    return text.compare(at, std::char_traits<char>::length(word), word) == 0;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

enum class DatePart { Year, Month, Day };

// The order of year, month and day in a short-date pattern: the order in which
// the letters first occur; a pattern lacking one of them is read by its first
// letter as y/M/d, M/d/y or d/M/y.
std::array<DatePart, 3> DateOrder(const FormatSettings& fs) {
    std::array<DatePart, 3> order{};
    std::size_t found = 0;
    bool seen[3] = {false, false, false};
    const std::string& pattern = fs.shortDateFormat;
    for (std::size_t i = 0; i < pattern.size() && found < 3; ++i) {
        if (fs.IsLeadByte(pattern[i])) {
            ++i;
            continue;
        }
        int part = -1;
        switch (AsciiLower(pattern[i])) {
            case 'y': part = static_cast<int>(DatePart::Year); break;
            case 'm': part = static_cast<int>(DatePart::Month); break;
            case 'd': part = static_cast<int>(DatePart::Day); break;
            default: break;
        }
        if (part >= 0 && !seen[part]) {
            seen[part] = true;
            order[found++] = static_cast<DatePart>(part);
        }
    }
    if (found == 3) return order;
    if (found > 0 && order[0] == DatePart::Month) return {DatePart::Month, DatePart::Day, DatePart::Year};
    if (found > 0 && order[0] == DatePart::Day) return {DatePart::Day, DatePart::Month, DatePart::Year};
    return {DatePart::Year, DatePart::Month, DatePart::Day};
}

struct Number {
    int value = 0;
    int digits = 0;
};

// Reads the text character by character, never stopping inside a double-byte
// character, so a trail byte that happens to equal a separator or a digit is
// never taken for one.
class TextScanner {
public:
    TextScanner(const std::string& text, const FormatSettings& fs) : text_(text), fs_(fs) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    // Returns whether any blank was skipped.
    bool SkipBlanks() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
        return pos_ != start;
    }

    bool ScanChar(char c) {
        if (AtEnd() || text_[pos_] != c || fs_.IsLeadByte(c)) return false;
        ++pos_;
        return true;
    }

    bool ScanNumber(Number& n) {
        n = Number{};
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            n.value = std::min(n.value * 10 + (text_[pos_] - '0'), kNumberCap);
            ++n.digits;
            ++pos_;
        }
        return n.digits > 0;
    }

    // 0 for AM, 1 for PM, -1 when no designator stands here. The locale's
    // designators are tried first, then "AM" and "PM".
    int ScanDesignator() {
        const std::string* words[] = {&fs_.timeAMString, &fs_.timePMString};
        static const std::string kAm = "AM", kPm = "PM";
        const std::string* fallback[] = {&kAm, &kPm};
        for (const auto* list : {words, fallback}) {
            for (int i = 0; i < 2; ++i) {
                const std::size_t length = MatchWord(*list[i]);
                if (length > 0) {
                    pos_ += length;
                    return i;
                }
            }
        }
        return -1;
    }

private:
    // Length of `word` when the text continues with it, else 0. Double-byte
    // characters compare exactly, single bytes ignoring ASCII case.
    std::size_t MatchWord(const std::string& word) const {
        if (word.empty() || word.size() > text_.size() - pos_) return 0;
        for (std::size_t i = 0; i < word.size(); ++i) {
            const char w = word[i];
            const char t = text_[pos_ + i];
            if (fs_.IsLeadByte(w) && i + 1 < word.size()) {
                if (t != w || text_[pos_ + i + 1] != word[i + 1]) return 0;
                ++i;
            } else if (fs_.IsLeadByte(t) || AsciiLower(t) != AsciiLower(w)) {
                return 0;
            }
        }
        return word.size();
    }

    const std::string& text_;
    const FormatSettings& fs_;
    std::size_t pos_ = 0;
};

// Optional designator, blanks, hours, [sep minutes [sep seconds [decimal ms]]],
// optional designator, blanks, end of text.
bool ScanTime(TextScanner& scan, const FormatSettings& fs, DateTime& out) {
    scan.SkipBlanks();
    int designator = scan.ScanDesignator();
    scan.SkipBlanks();
    Number hour, minute, second, ms;
    if (!scan.ScanNumber(hour)) return false;
    if (scan.ScanChar(fs.timeSeparator)) {
        if (!scan.ScanNumber(minute)) return false;
        if (scan.ScanChar(fs.timeSeparator)) {
            if (!scan.ScanNumber(second)) return false;
            if (scan.ScanChar(fs.decimalSeparator) && !scan.ScanNumber(ms)) return false;
        }
    }
    if (designator < 0) {
        scan.SkipBlanks();
        designator = scan.ScanDesignator();
    }
    scan.SkipBlanks();
    if (!scan.AtEnd()) return false;
    int h = hour.value;
    if (designator >= 0) {
        if (h < 1 || h > 12) return false;
        if (h == 12) h = 0;
        if (designator == 1) h += 12;
    }
    return TryEncodeTime(h, minute.value, second.value, ms.value, out);
}

int ExpandYear(const Number& year, int referenceYear) {
    if (year.digits > 2) return year.value;
    const int windowStart = referenceYear - 50;
    int result = static_cast<int>(FloorDiv(windowStart, 100)) * 100 + year.value;
    if (result < windowStart) result += 100;
    return result;
}

bool ScanDate(TextScanner& scan, const FormatSettings& fs, DateTime& out) {
    scan.SkipBlanks();
    Number fields[3];
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && !scan.ScanChar(fs.dateSeparator)) return false;
        if (!scan.ScanNumber(fields[i])) return false;
    }
    Number year, month, day;
    const auto order = DateOrder(fs);
    for (int i = 0; i < 3; ++i) {
        switch (order[i]) {
            case DatePart::Year: year = fields[i]; break;
            case DatePart::Month: month = fields[i]; break;
            case DatePart::Day: day = fields[i]; break;
        }
    }
    return TryEncodeDate(ExpandYear(year, fs.referenceYear), month.value, day.value, out);
}

bool ScanDateTime(const std::string& text, const FormatSettings& fs, DateTime& out) {
    TextScanner scan(text, fs);
    DateTime date = 0;
    if (!ScanDate(scan, fs, date)) return false;
    const bool blanks = scan.SkipBlanks();
    if (scan.AtEnd()) {
        out = date;
        return true;
    }
    DateTime time = 0;
    if (!blanks || !ScanTime(scan, fs, time)) return false;
    out = date + time;
    return true;
}

std::string LocaleText(LCTYPE type) {
    char buffer[128];
    const int length = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length - 1)) : std::string();
}

}  // namespace

bool FormatSettings::IsLeadByte(char c) const {
    const auto byte = static_cast<unsigned char>(c);
    for (std::size_t i = 0; i + 1 < leadByteRanges.size(); i += 2) {
        if (byte >= static_cast<unsigned char>(leadByteRanges[i]) &&
            byte <= static_cast<unsigned char>(leadByteRanges[i + 1]))
            return true;
    }
    return false;
}

FormatSettings FormatSettings::FromLocale() {
    FormatSettings fs;
    CPINFO info{};
    if (::GetCPInfo(CP_ACP, &info)) {
        fs.leadByteRanges.clear();
        for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
            fs.leadByteRanges += static_cast<char>(info.LeadByte[i]);
            fs.leadByteRanges += static_cast<char>(info.LeadByte[i + 1]);
        }
    }
    // A separator is one byte; a locale whose separator is a double-byte
    // character keeps the default.
    const auto separator = [&fs](LCTYPE type, char& target) {
        const std::string text = LocaleText(type);
        if (!text.empty() && !fs.IsLeadByte(text[0])) target = text[0];
    };
    separator(LOCALE_STIME, fs.timeSeparator);
    separator(LOCALE_SDATE, fs.dateSeparator);
    separator(LOCALE_SDECIMAL, fs.decimalSeparator);
    const std::string shortDate = LocaleText(LOCALE_SSHORTDATE);
    if (!shortDate.empty()) fs.shortDateFormat = shortDate;
    const std::string am = LocaleText(LOCALE_S1159);
    const std::string pm = LocaleText(LOCALE_S2359);
    fs.timeAMString = am.empty() ? "AM" : am;
    fs.timePMString = pm.empty() ? "PM" : pm;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    fs.referenceYear = now.wYear;
    return fs;
}

bool TryEncodeDate(int year, int month, int day, DateTime& out) {
    if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    out = static_cast<DateTime>(DaysFromCivil(year, month, day) + kUnixEpochSerial);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, DateTime& out) {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        millisecond < 0 || millisecond >= 1000)
        return false;
    const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * kMsPerSecond + millisecond;
    out = static_cast<DateTime>(ms) / static_cast<DateTime>(kMsPerDay);
    return true;
}

DateTime EncodeDate(int year, int month, int day) {
    DateTime value = 0;
    if (!TryEncodeDate(year, month, day, value)) throw std::out_of_range("EncodeDate: bad date");
    return value;
}

DateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    DateTime value = 0;
    if (!TryEncodeTime(hour, minute, second, millisecond, value))
        throw std::out_of_range("EncodeTime: bad time");
    return value;
}

DateTimeParts DecodeDateTime(DateTime value) {
    const std::int64_t ms = RoundToMilliseconds(value);
    const std::int64_t days = FloorDiv(ms, kMsPerDay);
    std::int64_t rest = ms - days * kMsPerDay;
    DateTimeParts parts;
    CivilFromDays(days - kUnixEpochSerial, parts);
    parts.millisecond = static_cast<int>(rest % kMsPerSecond);
    rest /= kMsPerSecond;
    parts.second = static_cast<int>(rest % 60);
    rest /= 60;
    parts.minute = static_cast<int>(rest % 60);
    parts.hour = static_cast<int>(rest / 60);
    return parts;
}

std::int64_t WholeMilliseconds(DateTime value) { return RoundToMilliseconds(value); }

std::int64_t WholeSeconds(DateTime value) {
    return FloorDiv(RoundToMilliseconds(value), kMsPerSecond);
}

int SecondOfDay(DateTime value) { return SecondOfDayOf(WholeSeconds(value)); }

int SecondOfDayOf(std::int64_t wholeSeconds) {
    return static_cast<int>(wholeSeconds - FloorDiv(wholeSeconds, kSecondsPerDay) * kSecondsPerDay);
}

DateTime FromWholeSeconds(std::int64_t seconds) {
    return static_cast<DateTime>(seconds) / static_cast<DateTime>(kSecondsPerDay);
}

DateTime TimeOf(DateTime value) {
    const std::int64_t ms = RoundToMilliseconds(value);
    return static_cast<DateTime>(ms - FloorDiv(ms, kMsPerDay) * kMsPerDay) /
           static_cast<DateTime>(kMsPerDay);
}

DateTime NowLocal() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    DateTime date = 0, time = 0;
    TryEncodeDate(st.wYear, st.wMonth, st.wDay, date);
    TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time);
    return date + time;
}

std::string FormatDateTime(const std::string& format, DateTime value, const FormatSettings& fs) {
    enum Token { Year, Month, Day, Hour, Minute, Second, TokenCount };
    static const char* const kLetters[TokenCount] = {"yyyy", "MM", "dd", "hh", "mm", "ss"};
    const DateTimeParts parts = DecodeDateTime(value);
    std::string out;
    out.reserve(format.size() + 8);
    bool afterHour = false;
    for (std::size_t i = 0; i < format.size();) {
        if (fs.IsLeadByte(format[i]) && i + 1 < format.size()) {
            out.append(format, i, 2);
            i += 2;
            continue;
        }
        int token = 0;
        while (token < TokenCount && !StartsWith(format, i, kLetters[token])) ++token;
        switch (token) {
            case Year: AppendFourDigits(out, parts.year); break;
            case Month: AppendTwoDigits(out, parts.month); break;
            case Day: AppendTwoDigits(out, parts.day); break;
            case Hour: AppendTwoDigits(out, parts.hour); break;
            case Minute: AppendTwoDigits(out, afterHour ? parts.minute : parts.month); break;
            case Second: AppendTwoDigits(out, parts.second); break;
            default:
                out += format[i] == ':' ? fs.timeSeparator : format[i];
                ++i;
                continue;
        }
        afterHour = token == Hour;
        i += std::char_traits<char>::length(kLetters[token]);
    }
    return out;
}

bool TryStrToDateTime(const std::string& text, const FormatSettings& fs, DateTime& out) {
    // A time alone is tried first: with equal date and time separators
    // ("07.05.09") the text could also read as a date, and the program only
    // ever writes times.
    TextScanner timeScan(text, fs);
    if (ScanTime(timeScan, fs, out)) return true;
    return ScanDateTime(text, fs, out);
}

DateTime StrToDateTime(const std::string& text, const FormatSettings& fs) {
    DateTime value = 0;
    if (!TryStrToDateTime(text, fs, value))
        throw ConvertError(FormatMessageText("'%s' is not a valid date and time", text));
    return value;
}

}  // namespace zelvo
