#ifndef BEACONRY_TESTSUPPORT_H
#define BEACONRY_TESTSUPPORT_H

// Small timing helpers shared by the tests that involve threads and sockets.

#include <chrono>
#include <thread>

namespace testsupport {

using Clock = std::chrono::steady_clock;

inline long ElapsedMs(Clock::time_point since)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// polls until the predicate holds, for at most about timeout_ms
template <typename P> bool Eventually(P predicate, int timeout_ms = 5000)
{
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return predicate();
}

} // namespace testsupport

#endif // BEACONRY_TESTSUPPORT_H
