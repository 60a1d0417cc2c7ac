#include "hlyposixtime.h"

#include <ctime>

HLY_Result HLY_PosixGetLocalTimeZone(HLY_Int64 seconds_since_1970, HLY_Int32& minutes)
{
    minutes = 0;
    time_t when = (time_t)seconds_since_1970;
    if ((HLY_Int64)when != seconds_since_1970) return HLY_ERROR_OUT_OF_RANGE;

    // localtime_r need not notice a changed TZ by itself
    tzset();
    struct tm local;
    if (localtime_r(&when, &local) == nullptr) return HLY_ERROR_OUT_OF_RANGE;
    minutes = (HLY_Int32)(local.tm_gmtoff / 60);
    return HLY_SUCCESS;
}
