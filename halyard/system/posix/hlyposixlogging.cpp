#include <stdio.h>
#include <time.h>

#include "hlyposixlogging.h"

HLY_TimeStamp HLY_PosixLogGetTimeStamp()
{
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return HLY_TimeStamp();
    return HLY_TimeStamp::FromNanos((HLY_Int64)now.tv_sec * 1000000000 + now.tv_nsec);
}

void HLY_PosixLogWriteConsole(const char* text)
{
    fputs(text, stdout);
    fflush(stdout);
}

void HLY_PosixLogWriteDebugChannel(const char* text)
{
    fputs(text, stderr);
    fflush(stderr);
}
