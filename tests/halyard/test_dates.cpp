#include <gtest/gtest.h>
#include <cstdlib>
#include <ctime>
#include <string>

#include "hlydates.h"

namespace {

// 1994-11-06 08:49:37 UTC, the example date of the HTTP specifications
const HLY_Int64 ExampleSeconds = 784111777;

HLY_DateTime Parsed(const char* text, HLY_DateTime::Format format)
{
    HLY_DateTime date;
    EXPECT_EQ(date.FromString(text, format), HLY_SUCCESS) << text;
    return date;
}

HLY_Result ParseResult(const char* text, HLY_DateTime::Format format)
{
    HLY_DateTime date;
    return date.FromString(text, format);
}

struct Refusal {
    const char*          text;
    HLY_DateTime::Format format;
    HLY_Result           result;
};
void ExpectResults(std::initializer_list<Refusal> rows)
{
    for (const Refusal& row : rows) EXPECT_EQ(ParseResult(row.text, row.format), row.result) << row.text;
}
const HLY_DateTime::Format ANSI = HLY_DateTime::FORMAT_ANSI, RFC_1123 = HLY_DateTime::FORMAT_RFC_1123,
                           RFC_1036 = HLY_DateTime::FORMAT_RFC_1036, W3C = HLY_DateTime::FORMAT_W3C;

// runs the test body under a POSIX TZ rule and puts the old one back
class TimeZoneScope
{
public:
    explicit TimeZoneScope(const char* tz)
    {
        const char* old = getenv("TZ");
        m_HadOld        = old != nullptr;
        if (old) m_Old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZoneScope()
    {
        if (m_HadOld) setenv("TZ", m_Old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool        m_HadOld;
    std::string m_Old;
};

} // namespace

/*----------------------------------------------------------------------
|   the four forms of the example date
+---------------------------------------------------------------------*/
TEST(DateTime, FormatsTheExampleDate)
{
    HLY_DateTime date(HLY_TimeStamp::FromSeconds(ExampleSeconds));
    EXPECT_EQ(date, HLY_DateTime(1994, 11, 6, 8, 49, 37));
    EXPECT_EQ(date.GetDayOfWeek(), 0);
    EXPECT_EQ(date.ToString(ANSI), "Sun Nov  6 08:49:37 1994");
    EXPECT_EQ(date.ToString(RFC_1123), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(date.ToString(RFC_1036), "Sunday, 06-Nov-94 08:49:37 GMT");
    EXPECT_EQ(date.ToString(W3C), "1994-11-06T08:49:37Z");
}

TEST(DateTime, ParsesTheExampleDateInEveryForm)
{
    const HLY_DateTime expected(1994, 11, 6, 8, 49, 37);
    for (auto [text, format] : {std::pair{"Sun Nov  6 08:49:37 1994", ANSI}, {"Sun, 06 Nov 1994 08:49:37 GMT", RFC_1123},
                                {"Sunday, 06-Nov-94 08:49:37 GMT", RFC_1036}, {"1994-11-06T08:49:37Z", W3C}}) {
        EXPECT_EQ(Parsed(text, format), expected);
    }
    // a two-digit day in the asctime form, and back to the stamp
    EXPECT_EQ(Parsed("Thu Dec 31 23:59:59 2099", ANSI), HLY_DateTime(2099, 12, 31, 23, 59, 59));
    HLY_TimeStamp stamp;
    ASSERT_EQ(Parsed("Sun, 06 Nov 1994 08:49:37 GMT", RFC_1123).ToTimeStamp(stamp), HLY_SUCCESS);
    EXPECT_EQ(stamp.ToNanos(), ExampleSeconds * 1000000000LL);
}

TEST(DateTime, ParsingSetsOnlyWhatTheFormCarries)
{
    HLY_DateTime date(2000, 1, 1, 12, 30, 15, 5, 60);
    // asctime has no zone and no fraction
    ASSERT_EQ(date.FromString("Sun Nov  6 08:49:37 1994", ANSI), HLY_SUCCESS);
    EXPECT_EQ(date, HLY_DateTime(1994, 11, 6, 8, 49, 37, 0, 0));

    // a date-only W3C text keeps the time; a time without zone keeps the zone
    date = HLY_DateTime(2000, 1, 1, 12, 30, 15, 5, 60);
    ASSERT_EQ(date.FromString("2010-07-04", W3C), HLY_SUCCESS);
    EXPECT_EQ(date, HLY_DateTime(2010, 7, 4, 12, 30, 15, 5, 60));
    ASSERT_EQ(date.FromString("2010-07-04T01:02:03.5", W3C), HLY_SUCCESS);
    EXPECT_EQ(date, HLY_DateTime(2010, 7, 4, 1, 2, 3, 500000000, 60));

    // a failed parse leaves the date untouched
    const HLY_DateTime before = date;
    EXPECT_NE(date.FromString("2010-13-04T01:02:03Z", W3C), HLY_SUCCESS);
    EXPECT_NE(date.FromString("Mon, 06 Nov 1994 08:49:37 GMT", RFC_1123), HLY_SUCCESS);
    EXPECT_EQ(date, before);
}

/*----------------------------------------------------------------------
|   refusals
+---------------------------------------------------------------------*/
TEST(DateTime, EveryMonthNameInEveryForm)
{
    const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const HLY_DateTime::Format forms[] = {ANSI, RFC_1123,
                                          RFC_1036, W3C};
    for (int month = 1; month <= 12; ++month) {
        HLY_DateTime date(2001, month, 15, 10, 20, 30);
        for (HLY_DateTime::Format form : forms) {
            std::string text = date.ToString(form).GetChars();
            SCOPED_TRACE(text);
            if (form != W3C) {
                EXPECT_NE(text.find(names[month - 1]), std::string::npos);
            }
            EXPECT_EQ(Parsed(text.c_str(), form), date);
        }
    }
    EXPECT_EQ(ParseResult("Mon, 15 jan 2001 10:20:30 GMT", RFC_1123), HLY_ERROR_INVALID_SYNTAX);
}

TEST(DateTime, WrongWeekdayIsRefused)
{
    const HLY_Result wrong = HLY_ERROR_INVALID_PARAMETERS;
    // each form has its own table of day names; names are case-sensitive
    ExpectResults({{"Mon, 06 Nov 1994 08:49:37 GMT", RFC_1123, wrong}, {"Monday, 06-Nov-94 08:49:37 GMT", RFC_1036, wrong},
                   {"Mon Nov  6 08:49:37 1994", ANSI, wrong}, {"Sunday, 06 Nov 1994 08:49:37 GMT", RFC_1123, wrong},
                   {"Sun, 06-Nov-94 08:49:37 GMT", RFC_1036, wrong}, {"sun, 06 Nov 1994 08:49:37 GMT", RFC_1123, wrong},
                   {"Sun, 06 nov 1994 08:49:37 GMT", RFC_1123, HLY_ERROR_INVALID_SYNTAX}});
}

TEST(DateTime, MalformedTextsAreRefused)
{
    HLY_DateTime date;
    EXPECT_EQ(date.FromString(nullptr, W3C), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(date.FromString("", W3C), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(date.FromString("1994-11-06", (HLY_DateTime::Format)4), HLY_ERROR_INVALID_PARAMETERS);

    const struct
    {
        const char*          text;
        HLY_DateTime::Format format;
    } bad[] = {
        {"Sun Nov  6 08:49:37 1994 ", ANSI},   // 25 bytes
        {"Sun Nov 6 08:49:37 1994", ANSI},     // 23 bytes
        {"Sun Nov  6 08-49:37 1994", ANSI},
        {"Sun Nov  x 08:49:37 1994", ANSI},
        {"Sun Xyz  6 08:49:37 1994", ANSI},
        {"1994-11-6", W3C},
        {"1994/11/06", W3C},
        {"1994-11-06T08:49", W3C},             // a time needs a zone
        {"1994-11-06T08:49:37", W3C},
        {"1994-11-06 08:49:37Z", W3C},
        {"1994-11-06T08:49:37.Z", W3C},        // empty fraction
        {"1994-11-06T08:49:37+0100", W3C},     // zone without colon
        {"1994-11-06T08:49:37+01-00", W3C},
        {"1994-11-06T08:49:37+01:60", W3C},
        {"1994-11-06T08:49:37Zjunk", W3C},
        {"+994-11-06T08:49:37Z", W3C},
        {"Sun 06 Nov 1994 08:49:37 GMT", RFC_1123},   // no comma
        {", 06 Nov 1994 08:49:37 GMTxx", RFC_1123},   // no day name
        {"Sun, 06 Nov 1994 08:49:37GMT", RFC_1123},
        {"Sun, 06 Nov 194 08:49:37 GMT", RFC_1123},   // three-digit year
        {"Sun, 06-Nov-1994 08:49:37 GMT", RFC_1123},  // wrong separator
        {"Sun, 06 Nov 1994x08:49:37 GMT", RFC_1123},
        {"Sunday, 06 Nov 94 08:49:37 GMT", RFC_1036},
        {"Sun, 06 Nov 1994 08:49:37 XYZ", RFC_1123},
        {"Sun, 06 Nov 1994 08:49:37 J", RFC_1123},    // J names no zone
        {"Sun, 06 Nov 1994 08:49:37 z", RFC_1123},
        {"Sun, 06 Nov 1994 08:49:37 +5:30", RFC_1123},
        {"Sun, 06 Nov 1994 08:49:37 +0560", RFC_1123},
        {"Sun, 06 Nov 1994 08:49:3x GMT", RFC_1123},
        {"Sun, 06 Nov 1994", RFC_1123},
    };
    for (const auto& b : bad) {
        EXPECT_EQ(ParseResult(b.text, b.format), HLY_ERROR_INVALID_SYNTAX) << b.text;
    }
}

TEST(DateTime, FieldRangesAreChecked)
{
    const HLY_Result range = HLY_ERROR_OUT_OF_RANGE, ok = HLY_SUCCESS;
    // the calendar fits a 64-bit nanosecond stamp from 1901 to 2262; days are
    // checked against their month; 31 February 1994 would fall on a Thursday (3 March)
    ExpectResults({{"2262-01-01T00:00:00Z", W3C, ok},       {"1901-01-01T00:00:00Z", W3C, ok},
                   {"1900-12-31T23:59:59Z", W3C, range},    {"2263-01-01T00:00:00Z", W3C, range},
                   {"Mon, 01 Jan 1900 00:00:00 GMT", RFC_1123, range},
                   {"1994-00-06", W3C, range},              {"1994-11-06T24:00:00Z", W3C, range},
                   {"1994-11-06T08:60:00Z", W3C, range},    {"1994-11-06T08:49:60Z", W3C, range},
                   {"1994-11-06T08:49:37+12:01", W3C, range}, {"1994-11-06T08:49:37-12:00", W3C, ok},
                   {"1994-02-29", W3C, range}, {"1996-02-29", W3C, ok}, {"1900-02-29", W3C, range},
                   {"2000-02-29", W3C, ok},    {"2100-02-29", W3C, range}, {"1994-04-31", W3C, range},
                   {"Thu, 31 Feb 1994 08:49:37 GMT", RFC_1123, range}});

    // invalid values neither format nor convert
    HLY_DateTime feb31(1994, 2, 31, 0, 0, 0);
    HLY_TimeStamp stamp = HLY_TimeStamp::FromSeconds(99);
    EXPECT_EQ(feb31.ToTimeStamp(stamp), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(stamp.ToNanos(), 0);
    EXPECT_TRUE(feb31.ToString(RFC_1123).IsEmpty());
    EXPECT_TRUE(HLY_DateTime(1994, 11, 6, 8, 49, 37, 1000000000).ToString(W3C).IsEmpty());
    EXPECT_TRUE(HLY_DateTime(1994, 11, 6, 8, 49, 37, 0, 721).ToString(ANSI).IsEmpty());
    EXPECT_EQ(HLY_DateTime(1994, 13, 6, 0, 0, 0).GetDayOfWeek(), -1);
}

/*----------------------------------------------------------------------
|   zones and fractions
+---------------------------------------------------------------------*/
TEST(DateTime, RfcZones)
{
    const struct
    {
        const char* zone;
        HLY_Int32   minutes;
    } zones[] = {{"GMT", 0},    {"UT", 0},     {"Z", 0},       {"EDT", -240},  {"EST", -300},  {"CDT", -300},
                 {"CST", -360}, {"MDT", -360}, {"MST", -420},  {"PDT", -420},  {"PST", -480},  {"A", -60},
                 {"I", -540},   {"K", -600},   {"M", -720},    {"N", 60},      {"Y", 720},     {"+0530", 330},
                 {"-0930", -570}, {"+0000", 0}, {"-1200", -720}};
    for (const auto& z : zones) {
        std::string text = std::string("Sun, 06 Nov 1994 08:49:37 ") + z.zone;
        HLY_DateTime date = Parsed(text.c_str(), RFC_1123);
        EXPECT_EQ(date.m_TimeZone, z.minutes) << z.zone;
        // the fields stay as written; the zone moves the instant
        EXPECT_EQ(date.m_Hours, 8) << z.zone;
        HLY_TimeStamp stamp;
        ASSERT_EQ(date.ToTimeStamp(stamp), HLY_SUCCESS);
        EXPECT_EQ(stamp.ToSeconds(), ExampleSeconds - z.minutes * 60) << z.zone;
    }
}

TEST(DateTime, ZonesAndFractionsInText)
{
    HLY_DateTime india(1994, 11, 6, 14, 19, 37, 0, 330);
    EXPECT_EQ(india.ToString(RFC_1123), "Sun, 06 Nov 1994 14:19:37 +0530");
    EXPECT_EQ(india.ToString(RFC_1036), "Sunday, 06-Nov-94 14:19:37 +0530");
    EXPECT_EQ(india.ToString(W3C), "1994-11-06T14:19:37+05:30");
    EXPECT_EQ(india.ToString(ANSI), "Sun Nov  6 14:19:37 1994"); // no zone there
    HLY_DateTime west(1994, 11, 6, 0, 49, 37, 0, -480);
    EXPECT_EQ(west.ToString(RFC_1123), "Sun, 06 Nov 1994 00:49:37 -0800");
    EXPECT_EQ(west.ToString(W3C), "1994-11-06T00:49:37-08:00");

    EXPECT_EQ(Parsed("1994-11-06T14:19:37+05:30", W3C), india);
    EXPECT_EQ(Parsed("1994-11-06T00:49:37-08:00", W3C), west);
    EXPECT_EQ(Parsed("1994-11-06T08:49Z", W3C), HLY_DateTime(1994, 11, 6, 8, 49, 0));
    EXPECT_EQ(Parsed("1994-11-06T08:49+01:00", W3C).m_TimeZone, 60);

    HLY_DateTime fine(1994, 11, 6, 8, 49, 37, 123456789);
    EXPECT_EQ(fine.ToString(W3C, HLY_DateTime::FLAG_EMIT_FRACTION), "1994-11-06T08:49:37.123Z");
    EXPECT_EQ(fine.ToString(W3C,
                            HLY_DateTime::FLAG_EMIT_FRACTION | HLY_DateTime::FLAG_EXTENDED_PRECISION),
              "1994-11-06T08:49:37.123456789Z");
    // extended precision alone emits nothing
    EXPECT_EQ(fine.ToString(W3C, HLY_DateTime::FLAG_EXTENDED_PRECISION),
              "1994-11-06T08:49:37Z");
    EXPECT_EQ(HLY_DateTime(1994, 11, 6, 8, 49, 37, 7000000).ToString(W3C, HLY_DateTime::FLAG_EMIT_FRACTION),
              "1994-11-06T08:49:37.007Z");

    // fractions: padded on the right, digits past the ninth ignored
    EXPECT_EQ(Parsed("1994-11-06T08:49:37.5Z", W3C).m_NanoSeconds, 500000000);
    EXPECT_EQ(Parsed("1994-11-06T08:49:37.000000001Z", W3C).m_NanoSeconds, 1);
    EXPECT_EQ(Parsed("1994-11-06T08:49:37.1234567899999-02:00", W3C).m_NanoSeconds,
              123456789);
    EXPECT_EQ(Parsed("1994-11-06T08:49:37Z", W3C).m_NanoSeconds, 0);
}

TEST(DateTime, TwoDigitYears)
{
    EXPECT_EQ(Parsed("Sunday, 06-Nov-94 08:49:37 GMT", RFC_1036).m_Year, 1994);
    EXPECT_EQ(Parsed("Sun, 06 Nov 94 08:49:37 GMT", RFC_1123).m_Year, 1994);
    // the 1900s by default, but a day name that only fits the 2000s wins
    EXPECT_EQ(Parsed("Sunday, 06-Nov-05 08:49:37 GMT", RFC_1036), HLY_DateTime(2005, 11, 6, 8, 49, 37));
    EXPECT_EQ(Parsed("Monday, 06-Nov-05 08:49:37 GMT", RFC_1036).m_Year, 1905);
    EXPECT_EQ(ParseResult("Tuesday, 06-Nov-05 08:49:37 GMT", RFC_1036), HLY_ERROR_INVALID_PARAMETERS);
    // RFC 1036 prints the year modulo 100
    EXPECT_EQ(HLY_DateTime(2005, 11, 6, 8, 49, 37).ToString(RFC_1036),
              "Sunday, 06-Nov-05 08:49:37 GMT");
}

/*----------------------------------------------------------------------
|   time stamps
+---------------------------------------------------------------------*/
TEST(DateTime, AgreesWithTheCLibraryAcrossTheRange)
{
    // every 3000009 seconds (almost 35 days) from late 1901 to 2038,
    // compared with gmtime_r, and back to the same stamp
    for (HLY_Int64 seconds = -2147483648LL; seconds < 2147483647LL; seconds += 1000003LL * 3) {
        time_t    t = (time_t)seconds;
        struct tm expected;
        ASSERT_NE(gmtime_r(&t, &expected), nullptr);
        HLY_DateTime date;
        ASSERT_EQ(date.FromTimeStamp(HLY_TimeStamp::FromSeconds(seconds)), HLY_SUCCESS) << seconds;
        ASSERT_EQ(date, HLY_DateTime(expected.tm_year + 1900, expected.tm_mon + 1, expected.tm_mday,
                                     expected.tm_hour, expected.tm_min, expected.tm_sec))
            << seconds;
        ASSERT_EQ(date.GetDayOfWeek(), expected.tm_wday) << seconds;
        HLY_TimeStamp back;
        ASSERT_EQ(date.ToTimeStamp(back), HLY_SUCCESS);
        ASSERT_EQ(back.ToSeconds(), seconds);
    }
}

TEST(DateTime, StampRoundTripsAndEdges)
{
    // leap days and year ends
    const HLY_DateTime dates[] = {
        HLY_DateTime(2000, 2, 29, 23, 59, 59, 999999999), HLY_DateTime(2000, 3, 1, 0, 0, 0),
        HLY_DateTime(1999, 12, 31, 23, 59, 59),           HLY_DateTime(2100, 3, 1, 12, 0, 0, 1),
        HLY_DateTime(1970, 1, 1, 0, 0, 0),                HLY_DateTime(2262, 4, 11, 23, 47, 16, 854775807),
        HLY_DateTime(1901, 12, 13, 20, 45, 52),           HLY_DateTime(2024, 12, 31, 23, 59, 59),
    };
    for (const auto& date : dates) {
        HLY_TimeStamp stamp;
        ASSERT_EQ(date.ToTimeStamp(stamp), HLY_SUCCESS) << date.ToString(W3C).GetChars();
        HLY_DateTime back;
        ASSERT_EQ(back.FromTimeStamp(stamp), HLY_SUCCESS);
        EXPECT_EQ(back, date) << date.ToString(W3C).GetChars();
    }

    // the last nanosecond a 64-bit stamp can hold
    HLY_DateTime last(HLY_TimeStamp::FromNanos(INT64_MAX));
    EXPECT_EQ(last, HLY_DateTime(2262, 4, 11, 23, 47, 16, 854775807));
    // later in 2262 is a valid date but no stamp
    HLY_TimeStamp stamp;
    EXPECT_EQ(HLY_DateTime(2262, 4, 11, 23, 47, 17).ToTimeStamp(stamp), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(HLY_DateTime(2262, 12, 31, 0, 0, 0).ToTimeStamp(stamp), HLY_ERROR_OUT_OF_RANGE);
    // 1901 before the 32-bit second limit converts one way only
    EXPECT_EQ(HLY_DateTime(1901, 1, 1, 0, 0, 0).ToTimeStamp(stamp), HLY_SUCCESS);
    EXPECT_EQ(stamp.ToSeconds(), -2177452800LL);
    HLY_DateTime early;
    EXPECT_EQ(early.FromTimeStamp(stamp), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(early.FromTimeStamp(HLY_TimeStamp::FromSeconds(-2147483648LL)), HLY_SUCCESS);
    EXPECT_EQ(early, HLY_DateTime(1901, 12, 13, 20, 45, 52));
    EXPECT_EQ(early.FromTimeStamp(HLY_TimeStamp::FromSeconds(-2147483649LL)), HLY_ERROR_OUT_OF_RANGE);

    // before 1970, fractions of a second still count forward in the second
    HLY_DateTime before_epoch(HLY_TimeStamp::FromMillis(-500));
    EXPECT_EQ(before_epoch, HLY_DateTime(1969, 12, 31, 23, 59, 59, 500000000));
    ASSERT_EQ(before_epoch.ToTimeStamp(stamp), HLY_SUCCESS);
    EXPECT_EQ(stamp.ToNanos(), -500000000LL);

    // the zone shifts the instant
    HLY_DateTime zoned(1994, 11, 6, 14, 19, 37, 0, 330);
    ASSERT_EQ(zoned.ToTimeStamp(stamp), HLY_SUCCESS);
    EXPECT_EQ(stamp.ToSeconds(), ExampleSeconds);
}

TEST(DateTime, LocalTime)
{
    {
        TimeZoneScope india("IST-5:30");
        EXPECT_EQ(HLY_DateTime::GetLocalTimeZone(), 330);
        HLY_DateTime local(HLY_TimeStamp::FromSeconds(ExampleSeconds), true);
        EXPECT_EQ(local, HLY_DateTime(1994, 11, 6, 14, 19, 37, 0, 330));
        EXPECT_EQ(local.ToString(RFC_1123), "Sun, 06 Nov 1994 14:19:37 +0530");
        HLY_TimeStamp back;
        ASSERT_EQ(local.ToTimeStamp(back), HLY_SUCCESS);
        EXPECT_EQ(back.ToSeconds(), ExampleSeconds);
    }
    {
        // summer and winter each get the offset in force at that time
        TimeZoneScope eastern("EST5EDT,M3.2.0,M11.1.0");
        HLY_DateTime winter(HLY_TimeStamp::FromSeconds(ExampleSeconds + 30 * 86400), true);
        EXPECT_EQ(winter.m_TimeZone, -300);
        EXPECT_EQ(winter.m_Hours, 3);
        HLY_DateTime summer(HLY_TimeStamp::FromSeconds(ExampleSeconds - 120 * 86400), true);
        EXPECT_EQ(summer.m_TimeZone, -240);
        EXPECT_EQ(summer.m_Hours, 4);
        HLY_TimeStamp back;
        ASSERT_EQ(summer.ToTimeStamp(back), HLY_SUCCESS);
        EXPECT_EQ(back.ToSeconds(), ExampleSeconds - 120 * 86400);
    }
    {
        // UTC as the local zone changes nothing but the flag's meaning
        TimeZoneScope utc("UTC0");
        EXPECT_EQ(HLY_DateTime::GetLocalTimeZone(), 0);
        EXPECT_EQ(HLY_DateTime(HLY_TimeStamp::FromSeconds(ExampleSeconds), true),
                  HLY_DateTime(1994, 11, 6, 8, 49, 37));
    }
}
