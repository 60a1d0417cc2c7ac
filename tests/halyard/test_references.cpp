#include <gtest/gtest.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
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
    explicit Single(int id) : m_Id(id) {}
    ~Single() override { fprintf(stderr, "[gone %d]", m_Id); }
    int m_Id;
};
} // namespace

// Cleaning up destroys every singleton of the process (the logging switch
// among them), so this runs in a fresh child process of its own, which
// also shows the destruction at exit.
TEST(AutomaticCleaner, DestroysRegisteredSingletonsAtExitNewestFirst)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HLY_AutomaticCleaner& cleaner = HLY_AutomaticCleaner::GetInstance();
            cleaner.Register(new Single(1));
            cleaner.Register(new Single(2));
            if (cleaner.Register(nullptr) != HLY_ERROR_INVALID_PARAMETERS) _exit(3);
            fprintf(stderr, "[exit]");
            exit(0);
        },
        ::testing::ExitedWithCode(0), "\\[exit\\]\\[gone 2\\]\\[gone 1\\]");
}

TEST(AutomaticCleaner, CleanupOnDemandEmptiesTheRegistry)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HLY_AutomaticCleaner& cleaner = HLY_AutomaticCleaner::GetInstance();
            cleaner.Register(new Single(1));
            cleaner.Register(new Single(2));
            cleaner.Cleanup();
            fprintf(stderr, "[cleaned]");
            exit(0); // nothing is left to destroy twice at exit
        },
        ::testing::ExitedWithCode(0), "^\\[gone 2\\]\\[gone 1\\]\\[cleaned\\]$");
}
