#ifndef HLY_DATES_H
#define HLY_DATES_H

#include "hlyresults.h"
#include "hlystrings.h"
#include "hlytime.h"
#include "hlytypes.h"

/*----------------------------------------------------------------------
|   HLY_DateTime: a broken-down calendar time (proleptic Gregorian) with
|   its offset from UTC, and the text forms met on the wire and in logs
+---------------------------------------------------------------------*/
class HLY_DateTime
{
public:
    enum Format {
        FORMAT_ANSI     = 0, // asctime: "Sun Nov  6 08:49:37 1994"
        FORMAT_W3C      = 1, // "1994-11-06T08:49:37Z"
        FORMAT_RFC_1123 = 2, // "Sun, 06 Nov 1994 08:49:37 GMT"
        FORMAT_RFC_1036 = 3  // "Sunday, 06-Nov-94 08:49:37 GMT"
    };

    // W3C only
    enum {
        FLAG_EMIT_FRACTION      = 0x1, // milliseconds
        FLAG_EXTENDED_PRECISION = 0x2  // nanoseconds, with FLAG_EMIT_FRACTION
    };

    HLY_DateTime();
    HLY_DateTime(HLY_Int32 year,
                 HLY_Int32 month,
                 HLY_Int32 day,
                 HLY_Int32 hours,
                 HLY_Int32 minutes,
                 HLY_Int32 seconds,
                 HLY_Int32 nanoseconds = 0,
                 HLY_Int32 time_zone   = 0);
    // a stamp that cannot be converted leaves 1970-01-01 00:00:00 UTC
    HLY_DateTime(const HLY_TimeStamp& timestamp, bool local = false);

    HLY_Result FromTimeStamp(const HLY_TimeStamp& timestamp, bool local = false);
    HLY_Result ToTimeStamp(HLY_TimeStamp& timestamp) const;

    // an invalid date gives the empty string
    HLY_String ToString(Format format = FORMAT_ANSI, HLY_Flags flags = 0) const;
    // on failure the date is left as it was
    HLY_Result FromString(const char* text, Format format = FORMAT_ANSI);

    bool IsValid() const;
    // 0 is Sunday; -1 for a month outside 1 to 12
    HLY_Int32 GetDayOfWeek() const;

    // minutes east of UTC, now
    static HLY_Int32 GetLocalTimeZone();

    bool operator==(const HLY_DateTime& other) const;
    bool operator!=(const HLY_DateTime& other) const { return !(*this == other); }

    HLY_Int32 m_Year;
    HLY_Int32 m_Month;       // 1 to 12
    HLY_Int32 m_Day;         // 1 to 31
    HLY_Int32 m_Hours;       // 0 to 23
    HLY_Int32 m_Minutes;     // 0 to 59
    HLY_Int32 m_Seconds;     // 0 to 59
    HLY_Int32 m_NanoSeconds; // 0 to 999,999,999
    HLY_Int32 m_TimeZone;    // minutes east of UTC, -720 to +720
};

#endif // HLY_DATES_H
