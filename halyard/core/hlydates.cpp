#include "hlydates.h"

#include <cstring>
#include <ctime>

#include "../system/posix/hlyposixtime.h"

/*----------------------------------------------------------------------
|   tables
+---------------------------------------------------------------------*/
static const char* const ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char* const LongDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
static const char* const MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
static const HLY_Int32 DaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
// zero-based day of the year of each month's last day
static const HLY_Int32 LastDayOfMonthCommon[12] = {30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 333, 364};
static const HLY_Int32 LastDayOfMonthLeap[12] = {30, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

#define HLY_DATE_MIN_YEAR 1901
#define HLY_DATE_MAX_YEAR 2262
#define HLY_DATE_MAX_ZONE 720
#define HLY_SECONDS_1900_TO_1970 2208988800LL
#define HLY_NANOS_PER_SECOND 1000000000LL

/*----------------------------------------------------------------------
|   calendar arithmetic
+---------------------------------------------------------------------*/
static bool IsLeapYear(HLY_Int32 year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// leap years from 1900 up to, not including, the given year
static HLY_Int32 LeapYearsElapsed(HLY_Int32 year)
{
    if (year < 1901) return 0;
    return (year - 1901) / 4 - (year - 1901) / 100 + (year - 1601) / 400;
}

static HLY_Int32 DaysInMonth(HLY_Int32 year, HLY_Int32 month)
{
    const HLY_Int32* last = IsLeapYear(year) ? LastDayOfMonthLeap : LastDayOfMonthCommon;
    return month == 1 ? last[0] + 1 : last[month - 1] - last[month - 2];
}

// month must be 1 to 12
static HLY_Int64 DaysSince1900(HLY_Int32 year, HLY_Int32 month, HLY_Int32 day)
{
    HLY_Int64 days = (HLY_Int64)(year - 1900) * 365 + LeapYearsElapsed(year) + DaysBeforeMonth[month - 1] + day - 1;
    if (IsLeapYear(year) && month > 2) ++days;
    return days;
}

static HLY_Int32 DayOfWeek(HLY_Int32 year, HLY_Int32 month, HLY_Int32 day)
{
    // 1900-01-01 was a Monday; dates before it (only met while parsing
    // out-of-range texts) still get a day in 0 to 6
    HLY_Int64 weekday = (DaysSince1900(year, month, day) + 1) % 7;
    return (HLY_Int32)(weekday < 0 ? weekday + 7 : weekday);
}

/*----------------------------------------------------------------------
|   HLY_DateTime
+---------------------------------------------------------------------*/
HLY_DateTime::HLY_DateTime()
    : m_Year(1970), m_Month(1), m_Day(1), m_Hours(0), m_Minutes(0), m_Seconds(0), m_NanoSeconds(0), m_TimeZone(0)
{
}

HLY_DateTime::HLY_DateTime(HLY_Int32 year,
                           HLY_Int32 month,
                           HLY_Int32 day,
                           HLY_Int32 hours,
                           HLY_Int32 minutes,
                           HLY_Int32 seconds,
                           HLY_Int32 nanoseconds,
                           HLY_Int32 time_zone)
    : m_Year(year),
      m_Month(month),
      m_Day(day),
      m_Hours(hours),
      m_Minutes(minutes),
      m_Seconds(seconds),
      m_NanoSeconds(nanoseconds),
      m_TimeZone(time_zone)
{
}

HLY_DateTime::HLY_DateTime(const HLY_TimeStamp& timestamp, bool local) : HLY_DateTime()
{
    FromTimeStamp(timestamp, local);
}

bool HLY_DateTime::operator==(const HLY_DateTime& other) const
{
    return m_Year == other.m_Year && m_Month == other.m_Month && m_Day == other.m_Day &&
           m_Hours == other.m_Hours && m_Minutes == other.m_Minutes && m_Seconds == other.m_Seconds &&
           m_NanoSeconds == other.m_NanoSeconds && m_TimeZone == other.m_TimeZone;
}

bool HLY_DateTime::IsValid() const
{
    if (m_Year < HLY_DATE_MIN_YEAR || m_Year > HLY_DATE_MAX_YEAR) return false;
    if (m_Month < 1 || m_Month > 12) return false;
    // the day is checked against its month: 31 February is not a date
    if (m_Day < 1 || m_Day > DaysInMonth(m_Year, m_Month)) return false;
    if (m_Hours < 0 || m_Hours > 23) return false;
    if (m_Minutes < 0 || m_Minutes > 59) return false;
    if (m_Seconds < 0 || m_Seconds > 59) return false;
    if (m_NanoSeconds < 0 || m_NanoSeconds > 999999999) return false;
    if (m_TimeZone < -HLY_DATE_MAX_ZONE || m_TimeZone > HLY_DATE_MAX_ZONE) return false;
    return true;
}

HLY_Int32 HLY_DateTime::GetDayOfWeek() const
{
    if (m_Month < 1 || m_Month > 12) return -1;
    return DayOfWeek(m_Year, m_Month, m_Day);
}

HLY_Int32 HLY_DateTime::GetLocalTimeZone()
{
    HLY_Int32 minutes = 0;
    HLY_PosixGetLocalTimeZone((HLY_Int64)time(nullptr), minutes);
    return minutes;
}

HLY_Result HLY_DateTime::ToTimeStamp(HLY_TimeStamp& timestamp) const
{
    timestamp.SetNanos(0);
    if (!IsValid()) return HLY_ERROR_OUT_OF_RANGE;

    HLY_Int64 seconds = DaysSince1900(m_Year, m_Month, m_Day) * 86400 + m_Hours * 3600 + m_Minutes * 60 +
                        m_Seconds - (HLY_Int64)m_TimeZone * 60 - HLY_SECONDS_1900_TO_1970;
    // 64-bit nanoseconds end in April 2262; later dates of that year do not fit
    if (seconds > (INT64_MAX - m_NanoSeconds) / HLY_NANOS_PER_SECOND) return HLY_ERROR_OUT_OF_RANGE;
    timestamp.SetNanos(seconds * HLY_NANOS_PER_SECOND + m_NanoSeconds);
    return HLY_SUCCESS;
}

HLY_Result HLY_DateTime::FromTimeStamp(const HLY_TimeStamp& timestamp, bool local)
{
    // floor, not truncation: half a second before 1970 is 23:59:59.5 of
    // the day before, with positive nanoseconds
    HLY_Int64 nanos   = timestamp.ToNanos();
    HLY_Int64 seconds = nanos / HLY_NANOS_PER_SECOND;
    HLY_Int64 rest    = nanos % HLY_NANOS_PER_SECOND;
    if (rest < 0) {
        rest += HLY_NANOS_PER_SECOND;
        --seconds;
    }
    if (seconds < -2147483648LL) return HLY_ERROR_OUT_OF_RANGE;

    HLY_Int32 zone = 0;
    if (local) {
        // the offset in effect at that instant, so that summer and winter
        // dates each get their own
        HLY_Result result = HLY_PosixGetLocalTimeZone(seconds, zone);
        if (HLY_FAILED(result)) return result;
        if (zone < -HLY_DATE_MAX_ZONE || zone > HLY_DATE_MAX_ZONE) return HLY_ERROR_OUT_OF_RANGE;
        seconds += (HLY_Int64)zone * 60;
    }
    seconds += HLY_SECONDS_1900_TO_1970; // now positive: at least December 1901

    HLY_Int64 days       = seconds / 86400;
    HLY_Int64 day_second = seconds % 86400;
    HLY_Int32 year       = (HLY_Int32)(1900 + days / 365);
    HLY_Int64 day_of_year = days - (HLY_Int64)(year - 1900) * 365 - LeapYearsElapsed(year);
    if (day_of_year < 0) {
        --year;
        day_of_year = days - (HLY_Int64)(year - 1900) * 365 - LeapYearsElapsed(year);
    }

    const HLY_Int32* last  = IsLeapYear(year) ? LastDayOfMonthLeap : LastDayOfMonthCommon;
    HLY_Int32        month = 0;
    while (month < 11 && last[month] < day_of_year) ++month;
    HLY_Int32 first_of_month = month == 0 ? 0 : last[month - 1] + 1;

    m_Year        = year;
    m_Month       = month + 1;
    m_Day         = (HLY_Int32)(day_of_year - first_of_month) + 1;
    m_Hours       = (HLY_Int32)(day_second / 3600);
    m_Minutes     = (HLY_Int32)(day_second % 3600 / 60);
    m_Seconds     = (HLY_Int32)(day_second % 60);
    m_NanoSeconds = (HLY_Int32)rest;
    m_TimeZone    = zone;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   formatting
+---------------------------------------------------------------------*/
// " GMT", or " +hhmm" / " -hhmm"
static HLY_String FormatRfcZone(HLY_Int32 zone)
{
    if (zone == 0) return " GMT";
    HLY_Int32 offset = zone < 0 ? -zone : zone;
    return HLY_String::Format(" %c%02d%02d", zone < 0 ? '-' : '+', offset / 60, offset % 60);
}

HLY_String HLY_DateTime::ToString(Format format, HLY_Flags flags) const
{
    if (!IsValid()) return HLY_String();
    HLY_Int32 weekday = DayOfWeek(m_Year, m_Month, m_Day);

    switch (format) {
        case FORMAT_ANSI:
            return HLY_String::Format("%.3s %.3s%3d %.2d:%.2d:%.2d %d", ShortDayNames[weekday],
                                      MonthNames[m_Month - 1], m_Day, m_Hours, m_Minutes, m_Seconds, m_Year);

        case FORMAT_W3C: {
            HLY_String text = HLY_String::Format("%04d-%02d-%02dT%02d:%02d:%02d", m_Year, m_Month, m_Day,
                                                 m_Hours, m_Minutes, m_Seconds);
            if (flags & FLAG_EMIT_FRACTION) {
                if (flags & FLAG_EXTENDED_PRECISION) {
                    text += HLY_String::Format(".%09d", m_NanoSeconds);
                } else {
                    text += HLY_String::Format(".%03d", m_NanoSeconds / 1000000);
                }
            }
            if (m_TimeZone == 0) {
                text += 'Z';
            } else {
                HLY_Int32 offset = m_TimeZone < 0 ? -m_TimeZone : m_TimeZone;
                text += HLY_String::Format("%c%02d:%02d", m_TimeZone < 0 ? '-' : '+', offset / 60, offset % 60);
            }
            return text;
        }

        case FORMAT_RFC_1123:
            return HLY_String::Format("%.3s, %02d %.3s %04d %02d:%02d:%02d", ShortDayNames[weekday], m_Day,
                                      MonthNames[m_Month - 1], m_Year, m_Hours, m_Minutes, m_Seconds) +
                   FormatRfcZone(m_TimeZone);

        case FORMAT_RFC_1036:
            return HLY_String::Format("%s, %02d-%.3s-%02d %02d:%02d:%02d", LongDayNames[weekday], m_Day,
                                      MonthNames[m_Month - 1], m_Year % 100, m_Hours, m_Minutes, m_Seconds) +
                   FormatRfcZone(m_TimeZone);
    }
    return HLY_String();
}

/*----------------------------------------------------------------------
|   parsing helpers
+---------------------------------------------------------------------*/
// exactly `count` decimal digits
static HLY_Result ParseDigits(const char* text, HLY_Size count, HLY_Int32& value)
{
    value = 0;
    for (HLY_Size i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return HLY_ERROR_INVALID_SYNTAX;
        value = value * 10 + (text[i] - '0');
    }
    return HLY_SUCCESS;
}

static HLY_Result ParseMonthName(const char* text, HLY_Int32& month)
{
    for (HLY_Int32 i = 0; i < 12; ++i) {
        if (strncmp(text, MonthNames[i], 3) == 0) {
            month = i + 1;
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_INVALID_SYNTAX;
}

// "hh:mm:ss"
static HLY_Result ParseTime(const char* text, HLY_DateTime& date)
{
    if (text[2] != ':' || text[5] != ':') return HLY_ERROR_INVALID_SYNTAX;
    HLY_Result result = ParseDigits(text, 2, date.m_Hours);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(text + 3, 2, date.m_Minutes);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(text + 6, 2, date.m_Seconds);
    return result;
}

// the zone after the last space of an RFC 1123 or RFC 1036 date
static HLY_Result ParseRfcZone(const char* zone, HLY_Int32& minutes)
{
    static const struct
    {
        const char* name;
        HLY_Int32   minutes;
    } named[] = {{"GMT", 0},    {"UT", 0},     {"Z", 0},      {"EDT", -240}, {"EST", -300}, {"CDT", -300},
                 {"CST", -360}, {"MDT", -360}, {"MST", -420}, {"PDT", -420}, {"PST", -480}};
    for (const auto& n : named) {
        if (strcmp(zone, n.name) == 0) {
            minutes = n.minutes;
            return HLY_SUCCESS;
        }
    }

    size_t length = strlen(zone);
    if (length == 1) {
        // military letters: A to I and K to M west, N to Y east; J is none
        char c = zone[0];
        if (c >= 'A' && c <= 'I') {
            minutes = -60 * (c - 'A' + 1);
        } else if (c >= 'K' && c <= 'M') {
            minutes = -60 * (c - 'K' + 10);
        } else if (c >= 'N' && c <= 'Y') {
            minutes = 60 * (c - 'N' + 1);
        } else {
            return HLY_ERROR_INVALID_SYNTAX;
        }
        return HLY_SUCCESS;
    }

    if (length != 5 || (zone[0] != '+' && zone[0] != '-')) return HLY_ERROR_INVALID_SYNTAX;
    HLY_Int32  hours = 0, mins = 0;
    HLY_Result result = ParseDigits(zone + 1, 2, hours);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(zone + 3, 2, mins);
    if (HLY_FAILED(result)) return result;
    if (hours >= 60 || mins >= 60) return HLY_ERROR_INVALID_SYNTAX;
    minutes = (zone[0] == '-' ? -1 : 1) * (hours * 60 + mins);
    return HLY_SUCCESS;
}

static HLY_Result ParseAnsi(const char* text, HLY_DateTime& date)
{
    // "Sun Nov  6 08:49:37 1994"
    if (strlen(text) != 24) return HLY_ERROR_INVALID_SYNTAX;
    if (text[3] != ' ' || text[7] != ' ' || text[10] != ' ' || text[19] != ' ') return HLY_ERROR_INVALID_SYNTAX;

    char day[2] = {text[8] == ' ' ? '0' : text[8], text[9]};
    HLY_Result result = ParseMonthName(text + 4, date.m_Month);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(day, 2, date.m_Day);
    if (HLY_SUCCEEDED(result)) result = ParseTime(text + 11, date);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(text + 20, 4, date.m_Year);
    if (HLY_FAILED(result)) return result;

    if (strncmp(text, ShortDayNames[DayOfWeek(date.m_Year, date.m_Month, date.m_Day)], 3) != 0) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    date.m_TimeZone    = 0;
    date.m_NanoSeconds = 0;
    return HLY_SUCCESS;
}

static HLY_Result ParseW3c(const char* text, HLY_DateTime& date)
{
    // "1994-11-06", or "1994-11-06T08:49[:37[.fraction]]" and a zone
    size_t length = strlen(text);
    if (length != 10 && length < 17) return HLY_ERROR_INVALID_SYNTAX;
    if (text[4] != '-' || text[7] != '-') return HLY_ERROR_INVALID_SYNTAX;

    HLY_Result result = ParseDigits(text, 4, date.m_Year);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(text + 5, 2, date.m_Month);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(text + 8, 2, date.m_Day);
    if (HLY_FAILED(result)) return result;
    if (length == 10) return HLY_SUCCESS; // the time stays as it was

    if (text[10] != 'T' || text[13] != ':') return HLY_ERROR_INVALID_SYNTAX;
    result = ParseDigits(text + 11, 2, date.m_Hours);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(text + 14, 2, date.m_Minutes);
    if (HLY_FAILED(result)) return result;

    size_t position    = 16;
    date.m_Seconds     = 0;
    date.m_NanoSeconds = 0;
    if (text[16] == ':') {
        if (length < 20) return HLY_ERROR_INVALID_SYNTAX;
        result = ParseDigits(text + 17, 2, date.m_Seconds);
        if (HLY_FAILED(result)) return result;
        position = 19;
        if (text[19] == '.') {
            // nine digits of nanoseconds: shorter fractions are padded,
            // digits past the ninth are ignored
            size_t digits = 0;
            for (const char* p = text + 20; *p >= '0' && *p <= '9'; ++p) {
                if (digits < 9) date.m_NanoSeconds = date.m_NanoSeconds * 10 + (*p - '0');
                ++digits;
            }
            if (digits == 0) return HLY_ERROR_INVALID_SYNTAX;
            for (size_t i = digits; i < 9; ++i) date.m_NanoSeconds *= 10;
            position = 20 + digits;
        }
    }

    // what remains is the zone designator or nothing at all; anything else
    // (such as "+0100") would otherwise be dropped without notice
    const char* zone        = text + position;
    size_t      zone_length = length - position;
    if (zone_length == 1 && zone[0] == 'Z') {
        date.m_TimeZone = 0;
    } else if (zone_length == 6 && (zone[0] == '+' || zone[0] == '-')) {
        if (zone[3] != ':') return HLY_ERROR_INVALID_SYNTAX;
        HLY_Int32 hours = 0, minutes = 0;
        result = ParseDigits(zone + 1, 2, hours);
        if (HLY_SUCCEEDED(result)) result = ParseDigits(zone + 4, 2, minutes);
        if (HLY_FAILED(result)) return result;
        if (hours >= 60 || minutes >= 60) return HLY_ERROR_INVALID_SYNTAX;
        date.m_TimeZone = (zone[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    } else if (zone_length != 0) {
        return HLY_ERROR_INVALID_SYNTAX;
    } // no designator: the zone stays as it was
    return HLY_SUCCESS;
}

static HLY_Result ParseRfc(const char* text, bool rfc_1123, HLY_DateTime& date)
{
    // "Sun, 06 Nov 1994 08:49:37 GMT" or "Sunday, 06-Nov-94 08:49:37 GMT"
    size_t length = strlen(text);
    if (length < 26) return HLY_ERROR_INVALID_SYNTAX;
    const char* comma = strchr(text, ',');
    if (comma == nullptr || comma == text) return HLY_ERROR_INVALID_SYNTAX;
    const char* last_space = strrchr(text, ' ');
    if (last_space == nullptr || last_space < comma) return HLY_ERROR_INVALID_SYNTAX;

    // from the comma to the zone: ", dd-Mon-" (9), the year, " hh:mm:ss" (9)
    size_t span = (size_t)(last_space - comma);
    if (span < 20) return HLY_ERROR_INVALID_SYNTAX;
    size_t year_digits = span - 18;
    if (year_digits != 2 && year_digits != 4) return HLY_ERROR_INVALID_SYNTAX;

    const char  separator = rfc_1123 ? ' ' : '-';
    const char* p         = comma + 1;
    if (p[0] != ' ' || p[3] != separator || p[7] != separator || p[8 + year_digits] != ' ') {
        return HLY_ERROR_INVALID_SYNTAX;
    }
    HLY_Result result = ParseDigits(p + 1, 2, date.m_Day);
    if (HLY_SUCCEEDED(result)) result = ParseMonthName(p + 4, date.m_Month);
    if (HLY_SUCCEEDED(result)) result = ParseDigits(p + 8, (HLY_Size)year_digits, date.m_Year);
    if (HLY_SUCCEEDED(result)) result = ParseTime(p + 9 + year_digits, date);
    if (HLY_SUCCEEDED(result)) result = ParseRfcZone(last_space + 1, date.m_TimeZone);
    if (HLY_FAILED(result)) return result;

    // the day name, compared with the weekday of the date
    const char* const* names     = rfc_1123 ? ShortDayNames : LongDayNames;
    HLY_String         day_name(text, (HLY_Size)(comma - text));
    HLY_Int32          named_day = -1;
    for (HLY_Int32 i = 0; i < 7; ++i) {
        if (day_name == names[i]) named_day = i;
    }
    if (year_digits == 2) {
        // a two-digit year is of the 1900s; but 2000 + yy is taken when only
        // that century agrees with the day name (the weekdays of yy in the
        // two centuries never coincide), so that "Sunday, 06-Nov-05" is 2005
        HLY_Int32 yy = date.m_Year;
        date.m_Year  = 1900 + yy;
        if (named_day != DayOfWeek(date.m_Year, date.m_Month, date.m_Day) &&
            named_day == DayOfWeek(2000 + yy, date.m_Month, date.m_Day)) {
            date.m_Year = 2000 + yy;
        }
    }
    if (named_day != DayOfWeek(date.m_Year, date.m_Month, date.m_Day)) return HLY_ERROR_INVALID_PARAMETERS;
    date.m_NanoSeconds = 0;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_DateTime::FromString
+---------------------------------------------------------------------*/
HLY_Result HLY_DateTime::FromString(const char* text, Format format)
{
    if (text == nullptr || text[0] == '\0') return HLY_ERROR_INVALID_PARAMETERS;

    // parse into a copy: some forms keep fields they do not carry, and a
    // failure must not leave a half-written date
    HLY_DateTime date = *this;
    HLY_Result   result;
    switch (format) {
        case FORMAT_ANSI:     result = ParseAnsi(text, date); break;
        case FORMAT_W3C:      result = ParseW3c(text, date); break;
        case FORMAT_RFC_1123: result = ParseRfc(text, true, date); break;
        case FORMAT_RFC_1036: result = ParseRfc(text, false, date); break;
        default:              return HLY_ERROR_INVALID_PARAMETERS;
    }
    if (HLY_FAILED(result)) return result;
    if (!date.IsValid()) return HLY_ERROR_OUT_OF_RANGE;
    *this = date;
    return HLY_SUCCESS;
}
