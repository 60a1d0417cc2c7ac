// Dates from HTTP headers (Date, Last-Modified, Expires) and from XML
// (dc:date): HLY_DateTime::FromString in each of the four formats. A text
// that parses gives a valid date that prints and parses back to itself,
// and converts to a time stamp and back.

#include <string>

#include "fuzz_common.h"
#include "hlydates.h"

namespace {

const HLY_DateTime::Format FORMATS[] = {HLY_DateTime::FORMAT_ANSI, HLY_DateTime::FORMAT_W3C,
                                        HLY_DateTime::FORMAT_RFC_1123, HLY_DateTime::FORMAT_RFC_1036};

void CheckRoundTrip(const HLY_DateTime& date, HLY_DateTime::Format format)
{
    HLY_Flags flags = format == HLY_DateTime::FORMAT_W3C
                          ? (HLY_DateTime::FLAG_EMIT_FRACTION | HLY_DateTime::FLAG_EXTENDED_PRECISION)
                          : 0;
    HLY_String text = date.ToString(format, flags);
    FUZZ_CHECK(!text.IsEmpty());

    HLY_DateTime again;
    HLY_Result   result = again.FromString(text, format);
    // a two-digit year names a year of the 1900s or the 2000s only
    bool two_digit_year_fits = date.m_Year >= 1900 && date.m_Year < 2100;
    if (format == HLY_DateTime::FORMAT_RFC_1036 && !two_digit_year_fits) return;
    if (result != HLY_SUCCESS) fprintf(stderr, "'%s' does not parse back (%d)\n", text.GetChars(), result);
    FUZZ_CHECK(result == HLY_SUCCESS);
    // the forms without a fraction drop the nanoseconds
    HLY_DateTime expected = date;
    if (format != HLY_DateTime::FORMAT_W3C) expected.m_NanoSeconds = 0;
    if (format == HLY_DateTime::FORMAT_ANSI) expected.m_TimeZone = 0;
    if (again != expected) fprintf(stderr, "'%s' parses back to another date\n", text.GetChars());
    FUZZ_CHECK(again == expected);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    std::string text((const char*)data, size);
    text = text.c_str();

    for (HLY_DateTime::Format format : FORMATS) {
        // the W3C date-only form keeps the time it had: start from one that is not midnight
        HLY_DateTime date(2001, 2, 3, 4, 5, 6, 7, 60);
        HLY_DateTime before = date;
        HLY_Result   result = date.FromString(text.c_str(), format);
        if (HLY_FAILED(result)) {
            // a failure leaves the date as it was
            FUZZ_CHECK(date == before);
            continue;
        }
        FUZZ_CHECK(date.IsValid());
        FUZZ_CHECK(date.GetDayOfWeek() >= 0 && date.GetDayOfWeek() < 7);
        for (HLY_DateTime::Format out : FORMATS) CheckRoundTrip(date, out);

        HLY_TimeStamp stamp;
        if (HLY_SUCCEEDED(date.ToTimeStamp(stamp))) {
            HLY_DateTime utc;
            if (HLY_SUCCEEDED(utc.FromTimeStamp(stamp))) {
                FUZZ_CHECK(utc.IsValid());
                FUZZ_CHECK(utc.m_TimeZone == 0);
                HLY_TimeStamp back;
                FUZZ_CHECK(utc.ToTimeStamp(back) == HLY_SUCCESS);
                FUZZ_CHECK(back.ToNanos() == stamp.ToNanos());
                if (date.m_TimeZone == 0) FUZZ_CHECK(utc == date);
            }
            HLY_DateTime local;
            local.FromTimeStamp(stamp, true);
        }
    }
    return 0;
}
