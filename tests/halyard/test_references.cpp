#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

#include "hlyautomaticcleaner.h"
#include "hlyreferences.h"
#include "hlytime.h"

namespace {
struct Counted {
    explicit Counted(std::atomic<int>* deaths) : m_Deaths(deaths) {}
    virtual ~Counted() { ++*m_Deaths; }
    std::atomic<int>* m_Deaths;
};
struct Derived : Counted {
    using Counted::Counted;
};
} // namespace

TEST(Reference, CopiesShareAndTheLastDeletes)
{
    std::atomic<int> deaths{0};
    {
        HLY_Reference<Counted> a(new Counted(&deaths), false);
        EXPECT_EQ(a.GetCounter(), 1u);
        {
            HLY_Reference<Counted> b(a);
            HLY_Reference<Counted> c;
            c = b;
            EXPECT_EQ(a.GetCounter(), 3u);
            EXPECT_EQ(c.AsPointer(), a.AsPointer());
            c = c;
            EXPECT_EQ(a.GetCounter(), 3u);
        }
        EXPECT_EQ(deaths, 0);
        EXPECT_EQ(a.GetCounter(), 1u);
    }
    EXPECT_EQ(deaths, 1);

    HLY_Reference<Counted> n;
    EXPECT_TRUE(n.IsNull());
    HLY_Reference<Counted> m(n);
    EXPECT_TRUE(m.IsNull());
    EXPECT_EQ(m.GetCounter(), 0u);
}

TEST(Reference, AssignmentReleasesThePrevious)
{
    std::atomic<int>       deaths{0};
    HLY_Reference<Counted> a(new Counted(&deaths));
    HLY_Reference<Counted> b(new Counted(&deaths));
    a = b;
    EXPECT_EQ(deaths, 1);
    a = new Counted(&deaths);
    EXPECT_EQ(deaths, 1);
    b = (Counted*)nullptr;
    EXPECT_EQ(deaths, 2);
    a.Release();
    EXPECT_EQ(deaths, 3);
    EXPECT_TRUE(a.IsNull());
}

TEST(Reference, DetachingReleaseKeepsTheObject)
{
    std::atomic<int>       deaths{0};
    Counted*               raw = new Counted(&deaths);
    HLY_Reference<Counted> a(raw);
    HLY_Reference<Counted> b(a);
    EXPECT_EQ(b.Detach(), raw);
    EXPECT_EQ(a.GetCounter(), 1u);
    EXPECT_EQ(a.Detach(), raw);
    EXPECT_EQ(deaths, 0);
    delete raw;
}

TEST(Reference, DerivedConvertsToBase)
{
    std::atomic<int> deaths{0};
    {
        HLY_Reference<Derived> d(new Derived(&deaths));
        HLY_Reference<Counted> c(d);
        EXPECT_EQ(d.GetCounter(), 2u);
        d.Release();
    }
    EXPECT_EQ(deaths, 1);
}

TEST(Reference, ThreadSafeCountingAcrossThreads)
{
    std::atomic<int> deaths{0};
    const int        threads = 8, copies = 20000;
    {
        HLY_Reference<Counted>   shared(new Counted(&deaths), true);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; t++) {
            workers.emplace_back([shared]() {
                std::vector<HLY_Reference<Counted>> held;
                for (int i = 0; i < copies; i++) {
                    held.push_back(shared);
                    if (held.size() > 16) held.erase(held.begin());
                }
            });
        }
        for (auto& w : workers) w.join();
        EXPECT_EQ(shared.GetCounter(), 1u);
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);
}

TEST(Reference, LastReleaseRacingOnManyThreadsDeletesOnce)
{
    for (int round = 0; round < 200; round++) {
        std::atomic<int>                    deaths{0};
        std::vector<HLY_Reference<Counted>> refs;
        {
            HLY_Reference<Counted> first(new Counted(&deaths), true);
            for (int i = 0; i < 4; i++) refs.push_back(first);
        }
        std::vector<std::thread> workers;
        for (auto& r : refs) workers.emplace_back([&r]() { r.Release(); });
        for (auto& w : workers) w.join();
        ASSERT_EQ(deaths, 1);
    }
}

TEST(TimeStamp, ConversionsAndArithmetic)
{
    HLY_TimeStamp t(1.5);
    EXPECT_EQ(t.ToNanos(), 1500000000);
    EXPECT_EQ(t.ToMillis(), 1500);
    EXPECT_EQ(t.ToSeconds(), 1);
    EXPECT_EQ(HLY_TimeStamp(-1.9).ToNanos(), -1900000000); // truncated toward zero
    EXPECT_EQ(HLY_TimeStamp(1e-10).ToNanos(), 0);
    HLY_TimeStamp u = HLY_TimeStamp::FromMillis(250);
    t += u;
    EXPECT_EQ(t.ToMillis(), 1750);
    t -= HLY_TimeStamp::FromSeconds(2);
    EXPECT_EQ(t.ToMillis(), -250);
    EXPECT_TRUE(t < u);
    EXPECT_TRUE(u + u == HLY_TimeStamp(0.5));
    EXPECT_TRUE(u - u == HLY_TimeStamp());
    // large values keep full nanosecond precision
    HLY_TimeStamp big = HLY_TimeStamp::FromNanos(9000000000123456789LL);
    EXPECT_EQ(big.ToSeconds(), 9000000000LL);
    EXPECT_EQ((big - HLY_TimeStamp::FromSeconds(9000000000LL)).ToNanos(), 123456789);
}

namespace {
struct Single : HLY_AutomaticCleaner::Singleton {
    Single(std::vector<int>* order, int id) : m_Order(order), m_Id(id) {}
    ~Single() override { m_Order->push_back(m_Id); }
    std::vector<int>* m_Order;
    int               m_Id;
};
} // namespace

TEST(AutomaticCleaner, DestroysRegisteredSingletonsNewestFirst)
{
    std::vector<int> order;
    HLY_AutomaticCleaner::GetInstance().Register(new Single(&order, 1));
    HLY_AutomaticCleaner::GetInstance().Register(new Single(&order, 2));
    EXPECT_EQ(HLY_AutomaticCleaner::GetInstance().Register(nullptr), HLY_ERROR_INVALID_PARAMETERS);
    HLY_AutomaticCleaner::GetInstance().Cleanup();
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
}
