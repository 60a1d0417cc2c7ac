#ifndef HLY_POSIX_SYSTEM_H
#define HLY_POSIX_SYSTEM_H

#include "../../core/hlysystem.h"

class HLY_PosixSystem
{
public:
    static HLY_Result GetCurrentTimeStamp(HLY_TimeStamp& now);
    static HLY_Result Sleep(const HLY_TimeInterval& duration);
    static HLY_Result SetRandomSeed(unsigned int seed);
    static HLY_UInt32 GetRandomInteger();
};

#endif // HLY_POSIX_SYSTEM_H
