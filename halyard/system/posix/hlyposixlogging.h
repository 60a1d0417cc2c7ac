#ifndef HLY_POSIX_LOGGING_H
#define HLY_POSIX_LOGGING_H

#include "../../core/hlytime.h"

/*----------------------------------------------------------------------
|   what the logging system needs from the platform
+---------------------------------------------------------------------*/
// the calling thread's id, as the thread layer reports it
unsigned long HLY_PosixLogGetThreadId();
// wall-clock time since 1970
HLY_TimeStamp HLY_PosixLogGetTimeStamp();
// a text to standard output, flushed at once
void HLY_PosixLogWriteConsole(const char* text);
// this platform has no debugger channel: its text goes to standard error
void HLY_PosixLogWriteDebugChannel(const char* text);

#endif // HLY_POSIX_LOGGING_H
