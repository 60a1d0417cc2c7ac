#ifndef HLY_SYSTEM_H
#define HLY_SYSTEM_H

#include "hlycommon.h"
#include "hlytime.h"

/*----------------------------------------------------------------------
|   HLY_System: clock, sleep and random numbers
+---------------------------------------------------------------------*/
class HLY_System
{
public:
    // wall-clock time since 1970, millisecond resolution
    static HLY_Result GetCurrentTimeStamp(HLY_TimeStamp& now);
    // sleeps the interval, in whole milliseconds
    static HLY_Result Sleep(const HLY_TimeInterval& duration);
    // the generator is per thread: this seeds the calling thread's one
    static HLY_Result SetRandomSeed(unsigned int seed);
    // the next pseudo-random number of the calling thread's generator,
    // seeded from the clock on first use
    static HLY_UInt32 GetRandomInteger();
};

#endif // HLY_SYSTEM_H
