#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "hlysystem.h"
#include "hlythreads.h"
#include "../../halyard/system/posix/hlyposixthreads.h"
#include "../testsupport.h"

using namespace testsupport;

namespace {
class Blocker : public HLY_Runnable
{
public:
    // runs until released through the gate
    void Run() override
    {
        m_Entered.SetValue(1);
        m_Gate.WaitUntilEquals(1);
        m_Runs++;
    }
    HLY_SharedVariable m_Entered{0};
    HLY_SharedVariable m_Gate{0};
    std::atomic<int>   m_Runs{0};
};
} // namespace

/*----------------------------------------------------------------------
|   mutex
+---------------------------------------------------------------------*/
TEST(Mutex, OneThreadMayTakeItTwiceAndOthersWaitForTheLastUnlock)
{
    HLY_Mutex         mutex;
    std::atomic<bool> other_has_it{false};

    ASSERT_EQ(mutex.Lock(), HLY_SUCCESS);
    ASSERT_EQ(mutex.Lock(), HLY_SUCCESS); // would hang if not recursive
    std::thread other([&] {
        HLY_AutoLock lock(mutex);
        other_has_it = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(other_has_it);
    EXPECT_EQ(mutex.Unlock(), HLY_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(other_has_it) << "released after one of two unlocks";
    EXPECT_EQ(mutex.Unlock(), HLY_SUCCESS);
    other.join();
    EXPECT_TRUE(other_has_it);
}

TEST(Mutex, AutoLocksGuardACounterAcrossThreads)
{
    HLY_Mutex                mutex;
    int                      counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                HLY_AutoLock outer(mutex);
                HLY_AutoLock inner(mutex);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 20000);
}

/*----------------------------------------------------------------------
|   event
+---------------------------------------------------------------------*/
TEST(Event, ManualResetReleasesEveryWaiterAndStaysSignalled)
{
    HLY_PosixEvent   event(true, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(HLY_TIMEOUT_INFINITE) == HLY_SUCCESS) released++;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(released, 0);
    event.Signal();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released, 3);
    EXPECT_EQ(event.Wait(0), HLY_SUCCESS);
    EXPECT_TRUE(event.IsSignalled());
    event.Reset();
    EXPECT_EQ(event.Wait(0), HLY_ERROR_TIMEOUT);
}

TEST(Event, SignalThenImmediateResetStillReleasesThoseWaiting)
{
    HLY_PosixEvent    event(true, false);
    std::atomic<bool> released{false};
    std::thread waiter([&] { released = event.Wait(5000) == HLY_SUCCESS; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event.Signal();
    event.Reset();
    waiter.join();
    EXPECT_TRUE(released);
}

TEST(Event, AutoResetLetsOneWaiterThroughPerSignal)
{
    HLY_PosixEvent   event(false, true);
    EXPECT_EQ(event.Wait(0), HLY_SUCCESS);
    EXPECT_EQ(event.Wait(0), HLY_ERROR_TIMEOUT) << "the first wait consumed the signal";

    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(2000) == HLY_SUCCESS) released++;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event.Signal();
    ASSERT_TRUE(Eventually([&] { return released == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(released, 1);
    event.Signal();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released, 2);
}

TEST(Event, TimedWaitRunsOut)
{
    HLY_PosixEvent event;
    auto           start = Clock::now();
    EXPECT_EQ(event.Wait(80), HLY_ERROR_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 70);
}

/*----------------------------------------------------------------------
|   shared variable
+---------------------------------------------------------------------*/
TEST(SharedVariable, AConditionAlreadyMetReturnsAtOnce)
{
    HLY_SharedVariable variable(7);
    EXPECT_EQ(variable.GetValue(), 7);
    auto start = Clock::now();
    EXPECT_EQ(variable.WaitUntilEquals(7, HLY_TIMEOUT_INFINITE), HLY_SUCCESS);
    EXPECT_EQ(variable.WaitWhileEquals(3, HLY_TIMEOUT_INFINITE), HLY_SUCCESS);
    EXPECT_LT(ElapsedMs(start), 1000);

    EXPECT_EQ(variable.WaitUntilEquals(3, 0), HLY_ERROR_TIMEOUT);
    start = Clock::now();
    EXPECT_EQ(variable.WaitWhileEquals(7, 60), HLY_ERROR_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 50);
}

TEST(SharedVariable, OneSetValueReleasesTwoWaitersAndTheEventEndsReset)
{
    HLY_PosixSharedVariable variable(0);
    std::atomic<int>        released{0};
    std::thread a([&] { if (variable.WaitUntilEquals(1, 5000) == HLY_SUCCESS) released++; });
    std::thread b([&] { if (variable.WaitWhileEquals(0, 5000) == HLY_SUCCESS) released++; });
    ASSERT_TRUE(Eventually([&] { return variable.GetWaiterCount() == 2; }));
    EXPECT_FALSE(variable.IsEventSignalled());

    auto start = Clock::now();
    variable.SetValue(1);
    a.join();
    b.join();
    EXPECT_EQ(released, 2);
    EXPECT_LT(ElapsedMs(start), 2500) << "released by the signal, not by their timeouts";
    EXPECT_EQ(variable.GetWaiterCount(), 0u);
    EXPECT_FALSE(variable.IsEventSignalled());
}

TEST(SharedVariable, SettingTheSameValueWakesNobody)
{
    HLY_PosixSharedVariable variable(0);
    std::atomic<HLY_Result> result{HLY_SUCCESS};
    std::thread waiter([&] { result = variable.WaitUntilEquals(1, 1000); });
    ASSERT_TRUE(Eventually([&] { return variable.GetWaiterCount() == 1; }));
    variable.SetValue(0);
    EXPECT_FALSE(variable.IsEventSignalled());
    waiter.join();
    EXPECT_EQ(result, HLY_ERROR_TIMEOUT);
}

TEST(SharedVariable, PingPongLosesNoWakeUp)
{
    // two threads hand a counter back and forth; a lost signal would
    // show as a wait that runs out
    HLY_SharedVariable variable(0);
    const int          rounds = 100;
    std::atomic<int>   failures{0};
    std::thread odd([&] {
        for (int i = 0; i < rounds; ++i) {
            if (variable.WaitUntilEquals(2 * i + 1, 5000) != HLY_SUCCESS) { failures++; return; }
            variable.SetValue(2 * i + 2);
        }
    });
    for (int i = 0; i < rounds; ++i) {
        variable.SetValue(2 * i + 1);
        if (variable.WaitUntilEquals(2 * i + 2, 5000) != HLY_SUCCESS) { failures++; break; }
    }
    odd.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(variable.GetValue(), 2 * rounds);
}

/*----------------------------------------------------------------------
|   threads
+---------------------------------------------------------------------*/
TEST(Thread, RunsItsTargetAndCanBeWaitedFor)
{
    Blocker    target;
    HLY_Thread thread(target);
    EXPECT_EQ(thread.Wait(0), HLY_FAILURE) << "never started";
    ASSERT_EQ(thread.Start(), HLY_SUCCESS);
    EXPECT_EQ(thread.Start(), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(target.m_Entered.WaitUntilEquals(1, 5000), HLY_SUCCESS);

    auto start = Clock::now();
    EXPECT_EQ(thread.Wait(100), HLY_FAILURE) << "still running: the wait must run out";
    EXPECT_GE(ElapsedMs(start), 90);
    EXPECT_EQ(thread.Wait(0), HLY_FAILURE);

    target.m_Gate.SetValue(1);
    EXPECT_EQ(thread.Wait(), HLY_SUCCESS);
    EXPECT_EQ(target.m_Runs, 1);
    EXPECT_EQ(thread.Wait(0), HLY_SUCCESS) << "an ended thread stays ended";
    EXPECT_EQ(thread.Start(), HLY_ERROR_INVALID_STATE);
}

TEST(Thread, TheDestructorOfAJoinableThreadWaitsForIt)
{
    std::atomic<bool> finished{false};
    class Slow : public HLY_Runnable
    {
    public:
        explicit Slow(std::atomic<bool>& finished) : m_Finished(finished) {}
        void Run() override
        {
            HLY_System::Sleep(HLY_TimeStamp::FromMillis(100));
            m_Finished = true;
        }
        std::atomic<bool>& m_Finished;
    } slow(finished);

    HLY_Thread* thread = new HLY_Thread(slow);
    ASSERT_EQ(thread->Start(), HLY_SUCCESS);
    delete thread;
    EXPECT_TRUE(finished);
}

namespace {
class SelfRunning : public HLY_Thread
{
public:
    SelfRunning(bool detached, HLY_SharedVariable& ran, HLY_SharedVariable& gone)
        : HLY_Thread(detached), m_Ran(ran), m_Gone(gone) {}
    ~SelfRunning() override { m_Gone.SetValue(1); }
    void Run() override
    {
        m_Id = GetCurrentThreadId();
        m_Ran.SetValue(1);
    }
    HLY_SharedVariable& m_Ran;
    HLY_SharedVariable& m_Gone;
    HLY_ThreadId        m_Id = 0;
};
} // namespace

TEST(Thread, ASubclassRunsItsOwnRunOnAnotherThread)
{
    HLY_SharedVariable ran(0), gone(0);
    {
        SelfRunning thread(false, ran, gone);
        ASSERT_EQ(thread.Start(), HLY_SUCCESS);
        EXPECT_EQ(thread.Wait(), HLY_SUCCESS);
        EXPECT_EQ(ran.GetValue(), 1);
        EXPECT_NE(thread.m_Id, HLY_Thread::GetCurrentThreadId());
        EXPECT_NE(thread.m_Id, 0u);
    }
    EXPECT_EQ(gone.GetValue(), 1);
}

TEST(Thread, ADetachedThreadCannotBeWaitedForAndDeletesItself)
{
    HLY_SharedVariable ran(0), gone(0), gate(0);
    class Gated : public SelfRunning
    {
    public:
        Gated(HLY_SharedVariable& ran, HLY_SharedVariable& gone, HLY_SharedVariable& gate)
            : SelfRunning(true, ran, gone), m_Gate(gate) {}
        void Run() override
        {
            SelfRunning::Run();
            m_Gate.WaitUntilEquals(1);
        }
        HLY_SharedVariable& m_Gate;
    };
    Gated* thread = new Gated(ran, gone, gate);
    ASSERT_EQ(thread->Start(), HLY_SUCCESS);
    // the gate keeps it alive while it is still ours to ask
    EXPECT_EQ(thread->Wait(0), HLY_FAILURE);
    EXPECT_EQ(thread->Wait(HLY_TIMEOUT_INFINITE), HLY_FAILURE);
    int priority = 0;
    EXPECT_EQ(thread->SetPriority(HLY_THREAD_PRIORITY_LOWEST), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(thread->GetPriority(priority), HLY_ERROR_INVALID_STATE);
    gate.SetValue(1);
    EXPECT_EQ(gone.WaitUntilEquals(1, 5000), HLY_SUCCESS);
    EXPECT_EQ(ran.GetValue(), 1);
}

TEST(Thread, PrioritiesNeedAStartedThreadAndLoweringIsAllowed)
{
    Blocker    target;
    HLY_Thread thread(target);
    int        priority = 99;
    EXPECT_EQ(thread.SetPriority(HLY_THREAD_PRIORITY_IDLE), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(thread.GetPriority(priority), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(priority, 99);
    EXPECT_EQ(thread.Interrupt(), HLY_ERROR_NOT_IMPLEMENTED);

    ASSERT_EQ(thread.Start(), HLY_SUCCESS);
    EXPECT_EQ(thread.SetPriority(HLY_THREAD_PRIORITY_IDLE), HLY_SUCCESS);
    ASSERT_EQ(thread.GetPriority(priority), HLY_SUCCESS);
    EXPECT_EQ(priority, HLY_THREAD_PRIORITY_IDLE);
    EXPECT_EQ(thread.SetPriority(-100), HLY_SUCCESS) << "below the range folds to idle";
    ASSERT_EQ(thread.GetPriority(priority), HLY_SUCCESS);
    EXPECT_EQ(priority, HLY_THREAD_PRIORITY_IDLE);
    target.m_Gate.SetValue(1);
    EXPECT_EQ(thread.Wait(), HLY_SUCCESS);
    EXPECT_EQ(thread.SetPriority(HLY_THREAD_PRIORITY_NORMAL), HLY_ERROR_INVALID_STATE);
}

TEST(Thread, EachPriorityLevelSurvivesTheRoundTripThroughTheNiceValue)
{
    struct { int given, level; } cases[] = {
        {-15, -15}, {-3, -15}, {-2, -2}, {-1, -1}, {0, 0}, {1, 1}, {2, 2}, {14, 2}, {15, 15}, {40, 15},
    };
    for (auto c : cases) {
        int nice = HLY_PosixThread::PriorityToNice(c.given);
        EXPECT_GE(nice, -20);
        EXPECT_LE(nice, 19);
        EXPECT_EQ(HLY_PosixThread::NiceToPriority(nice), c.level) << c.given;
    }
}

TEST(Thread, ThreadIdsDifferBetweenLiveThreads)
{
    const int                 count = 4;
    std::vector<HLY_ThreadId> ids(count);
    HLY_SharedVariable        arrived(0);
    HLY_Mutex                 lock;
    std::vector<std::thread>  threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            ids[i] = HLY_Thread::GetCurrentThreadId();
            {
                HLY_AutoLock l(lock);
                arrived.SetValue(arrived.GetValue() + 1);
            }
            arrived.WaitUntilEquals(count, 5000); // all alive at once
        });
    }
    for (auto& t : threads) t.join();
    std::set<HLY_ThreadId> distinct(ids.begin(), ids.end());
    distinct.insert(HLY_Thread::GetCurrentThreadId());
    EXPECT_EQ(distinct.size(), (size_t)count + 1);
}

/*----------------------------------------------------------------------
|   system services
+---------------------------------------------------------------------*/
TEST(System, TheClockIsWallTimeInWholeMilliseconds)
{
    HLY_TimeStamp now;
    ASSERT_EQ(HLY_System::GetCurrentTimeStamp(now), HLY_SUCCESS);
    EXPECT_EQ(now.ToNanos() % 1000000, 0);
    long long wall = (long long)std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_LE(std::llabs(now.ToSeconds() - wall), 2);
}

TEST(System, SleepLastsAtLeastTheInterval)
{
    auto start = Clock::now();
    EXPECT_EQ(HLY_System::Sleep(HLY_TimeStamp::FromMillis(60)), HLY_SUCCESS);
    EXPECT_GE(ElapsedMs(start), 59);
    start = Clock::now();
    EXPECT_EQ(HLY_System::Sleep(HLY_TimeStamp(0.0004)), HLY_SUCCESS) << "below a millisecond: no sleep";
    EXPECT_LT(ElapsedMs(start), 1000);
}

TEST(System, ASeedRepeatsItsSequenceAndEachThreadHasItsOwn)
{
    HLY_System::SetRandomSeed(1234);
    std::vector<HLY_UInt32> first;
    for (int i = 0; i < 8; ++i) first.push_back(HLY_System::GetRandomInteger());
    HLY_System::SetRandomSeed(1234);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(HLY_System::GetRandomInteger(), first[i]);
    EXPECT_GT(std::set<HLY_UInt32>(first.begin(), first.end()).size(), 6u);

    HLY_System::SetRandomSeed(99);
    HLY_UInt32 expected = HLY_System::GetRandomInteger();
    HLY_System::SetRandomSeed(99);
    // another thread reseeding and drawing leaves this thread's sequence alone
    std::thread other([] {
        HLY_System::SetRandomSeed(5);
        for (int i = 0; i < 10; ++i) HLY_System::GetRandomInteger();
    });
    other.join();
    EXPECT_EQ(HLY_System::GetRandomInteger(), expected);
}

TEST(System, ThreadsStartedTogetherDrawDifferentNumbers)
{
    // each runtime thread seeds its generator from the clock and its id
    class Draw : public HLY_Runnable
    {
    public:
        void Run() override { m_Value = HLY_System::GetRandomInteger(); }
        HLY_UInt32 m_Value = 0;
    } draws[4];
    std::vector<HLY_Thread*> threads;
    for (auto& d : draws) threads.push_back(new HLY_Thread(d));
    for (auto* t : threads) ASSERT_EQ(t->Start(), HLY_SUCCESS);
    for (auto* t : threads) delete t;
    std::set<HLY_UInt32> values;
    for (auto& d : draws) values.insert(d.m_Value);
    EXPECT_EQ(values.size(), 4u);
}

TEST(Thread, TwoThreadsWaitingForTheSameThreadBothSeeItEnd)
{
    // only one of them may reclaim the thread; the other must not try again
    for (int round = 0; round < 20; ++round) {
        Blocker    target;
        HLY_Thread thread(target);
        ASSERT_EQ(thread.Start(), HLY_SUCCESS);
        ASSERT_EQ(target.m_Entered.WaitUntilEquals(1, 5000), HLY_SUCCESS);
        std::atomic<int> ended{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 2; ++i) {
            waiters.emplace_back([&] {
                if (thread.Wait(10000) == HLY_SUCCESS) ended++;
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        target.m_Gate.SetValue(1);
        for (auto& w : waiters) w.join();
        ASSERT_EQ(ended, 2) << "round " << round;
    }
}

namespace {
// a joinable thread that ends by deleting its own object
class SelfDeleting : public HLY_Thread
{
public:
    explicit SelfDeleting(HLY_SharedVariable& gone) : m_Gone(gone) {}
    ~SelfDeleting() override { m_Gone.SetValue(m_Gone.GetValue() + 1); }
    void Run() override { delete this; }
    HLY_SharedVariable& m_Gone;
};
} // namespace

TEST(Thread, AJoinableThreadMayDeleteItselfFromItsRun)
{
    // the entry routine must not touch the deleted object afterwards (the
    // address sanitizer build catches it; here the rounds give it a chance)
    HLY_SharedVariable gone(0);
    const int          rounds = 20;
    for (int i = 0; i < rounds; ++i) {
        SelfDeleting* thread = new SelfDeleting(gone);
        ASSERT_EQ(thread->Start(), HLY_SUCCESS);
        ASSERT_EQ(gone.WaitUntilEquals(i + 1, 5000), HLY_SUCCESS);
        // reuse the freed memory at once, as a busy program would
        std::vector<std::unique_ptr<char[]>> churn;
        for (int j = 0; j < 16; ++j) {
            churn.emplace_back(new char[sizeof(HLY_Thread) + 256]);
            memset(churn.back().get(), 0xA5, sizeof(HLY_Thread) + 256);
        }
    }
    EXPECT_EQ(gone.GetValue(), rounds);
}
