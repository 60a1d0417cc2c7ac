#ifndef HLY_TIME_H
#define HLY_TIME_H

#include "hlytypes.h"

/*----------------------------------------------------------------------
|   HLY_TimeStamp: a signed count of nanoseconds, used both as a point
|   in time (since 1970) and as an interval
+---------------------------------------------------------------------*/
class HLY_TimeStamp
{
public:
    HLY_TimeStamp() : m_NanoSeconds(0) {}
    // from seconds, truncated toward zero
    HLY_TimeStamp(double seconds) : m_NanoSeconds((HLY_Int64)(seconds * 1e9)) {}
    static HLY_TimeStamp FromNanos(HLY_Int64 nanoseconds) { HLY_TimeStamp t; t.m_NanoSeconds = nanoseconds; return t; }
    static HLY_TimeStamp FromMillis(HLY_Int64 milliseconds) { return FromNanos(milliseconds * 1000000); }
    static HLY_TimeStamp FromSeconds(HLY_Int64 seconds) { return FromNanos(seconds * 1000000000); }

    void SetNanos(HLY_Int64 nanoseconds) { m_NanoSeconds = nanoseconds; }
    void SetMillis(HLY_Int64 milliseconds) { m_NanoSeconds = milliseconds * 1000000; }
    void SetSeconds(HLY_Int64 seconds) { m_NanoSeconds = seconds * 1000000000; }

    HLY_Int64 ToNanos() const { return m_NanoSeconds; }
    HLY_Int64 ToMillis() const { return m_NanoSeconds / 1000000; }
    HLY_Int64 ToSeconds() const { return m_NanoSeconds / 1000000000; }
    double ToDouble() const { return (double)m_NanoSeconds / 1e9; }

    HLY_TimeStamp& operator+=(const HLY_TimeStamp& t) { m_NanoSeconds += t.m_NanoSeconds; return *this; }
    HLY_TimeStamp& operator-=(const HLY_TimeStamp& t) { m_NanoSeconds -= t.m_NanoSeconds; return *this; }
    HLY_TimeStamp operator+(const HLY_TimeStamp& t) const { return FromNanos(m_NanoSeconds + t.m_NanoSeconds); }
    HLY_TimeStamp operator-(const HLY_TimeStamp& t) const { return FromNanos(m_NanoSeconds - t.m_NanoSeconds); }
    bool operator==(const HLY_TimeStamp& t) const { return m_NanoSeconds == t.m_NanoSeconds; }
    bool operator!=(const HLY_TimeStamp& t) const { return m_NanoSeconds != t.m_NanoSeconds; }
    bool operator<(const HLY_TimeStamp& t) const { return m_NanoSeconds < t.m_NanoSeconds; }
    bool operator>(const HLY_TimeStamp& t) const { return m_NanoSeconds > t.m_NanoSeconds; }
    bool operator<=(const HLY_TimeStamp& t) const { return m_NanoSeconds <= t.m_NanoSeconds; }
    bool operator>=(const HLY_TimeStamp& t) const { return m_NanoSeconds >= t.m_NanoSeconds; }

private:
    HLY_Int64 m_NanoSeconds;
};

typedef HLY_TimeStamp HLY_TimeInterval;

#endif // HLY_TIME_H
