#ifndef HLY_POSIX_TIME_H
#define HLY_POSIX_TIME_H

#include "hlyresults.h"
#include "hlytypes.h"

/*----------------------------------------------------------------------
|   the local time zone of the process (TZ or the system's zone): minutes
|   east of UTC in effect at an instant given in seconds since 1970
+---------------------------------------------------------------------*/
HLY_Result HLY_PosixGetLocalTimeZone(HLY_Int64 seconds_since_1970, HLY_Int32& minutes);

#endif // HLY_POSIX_TIME_H
