#include <unistd.h>
#include <errno.h>
#include <sys/time.h>
#include <time.h>

#include "hlyposixsystem.h"

HLY_Result HLY_PosixSystem::GetCurrentTimeStamp(HLY_TimeStamp& now)
{
    struct timespec current;
    if (clock_gettime(CLOCK_REALTIME, &current) != 0) {
        now.SetNanos(0);
        return HLY_FAILURE;
    }
    // millisecond resolution
    now.SetNanos((HLY_Int64)current.tv_sec * 1000000000LL +
                 (HLY_Int64)(current.tv_nsec / 1000000) * 1000000LL);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSystem::Sleep(const HLY_TimeInterval& duration)
{
    HLY_Int64 millis = duration.ToMillis();
    if (millis <= 0) return HLY_SUCCESS;
    struct timespec request;
    request.tv_sec  = (time_t)(millis / 1000);
    request.tv_nsec = (long)(millis % 1000) * 1000000L;
    // a signal must not cut the sleep short
    struct timespec remaining;
    while (nanosleep(&request, &remaining) != 0) {
        if (errno != EINTR) return HLY_FAILURE;
        request = remaining;
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   random numbers: one generator per thread (xorshift64*), so threads
|   neither share state nor contend for a lock
+---------------------------------------------------------------------*/
namespace {
struct RandomState {
    bool       m_Seeded = false;
    HLY_UInt64 m_State  = 0;
};
thread_local RandomState t_Random;

void Seed(RandomState& state, unsigned int seed)
{
    // spread the seed over all 64 bits; the state must never be zero
    HLY_UInt64 z = (HLY_UInt64)seed + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    state.m_State  = z ? z : 0x2545F4914F6CDD1DULL;
    state.m_Seeded = true;
}
} // namespace

HLY_Result HLY_PosixSystem::SetRandomSeed(unsigned int seed)
{
    Seed(t_Random, seed);
    return HLY_SUCCESS;
}

HLY_UInt32 HLY_PosixSystem::GetRandomInteger()
{
    RandomState& state = t_Random;
    if (!state.m_Seeded) {
        HLY_TimeStamp now;
        GetCurrentTimeStamp(now);
        // the process id keeps processes started in the same millisecond apart
        Seed(state, (unsigned int)(now.ToNanos() & 0xFFFFFFFF) ^ ((unsigned int)getpid() << 16));
    }
    HLY_UInt64 x = state.m_State;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    state.m_State = x;
    return (HLY_UInt32)((x * 0x2545F4914F6CDD1DULL) >> 32);
}
