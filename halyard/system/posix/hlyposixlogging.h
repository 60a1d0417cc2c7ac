#ifndef HLY_POSIX_LOGGING_H
#define HLY_POSIX_LOGGING_H

#include "../../core/hlytime.h"

/*----------------------------------------------------------------------
|   what the logging system needs from the platform
+---------------------------------------------------------------------*/
// wall-clock time since 1970 at the clock's full resolution (records
// show nine fraction digits)
HLY_TimeStamp HLY_PosixLogGetTimeStamp();
// a text to standard output, flushed at once
void HLY_PosixLogWriteConsole(const char* text);
// this platform has no debugger channel: its text goes to standard error
void HLY_PosixLogWriteDebugChannel(const char* text);

#endif // HLY_POSIX_LOGGING_H
