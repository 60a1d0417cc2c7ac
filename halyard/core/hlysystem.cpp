#include "hlysystem.h"
#include "../system/posix/hlyposixsystem.h"

HLY_Result HLY_System::GetCurrentTimeStamp(HLY_TimeStamp& now)
{
    return HLY_PosixSystem::GetCurrentTimeStamp(now);
}

HLY_Result HLY_System::Sleep(const HLY_TimeInterval& duration)
{
    return HLY_PosixSystem::Sleep(duration);
}

HLY_Result HLY_System::SetRandomSeed(unsigned int seed)
{
    return HLY_PosixSystem::SetRandomSeed(seed);
}

HLY_UInt32 HLY_System::GetRandomInteger()
{
    return HLY_PosixSystem::GetRandomInteger();
}
