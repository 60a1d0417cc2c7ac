#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "CvdTaskManager.h"
#include "CvdThreadTask.h"
#include "hlysystem.h"
#include "../testsupport.h"

using namespace testsupport;

namespace {
// what the tasks of one test did; outlives the tasks
struct Probe {
    std::atomic<int> inits{0}, runs{0}, aborts{0}, destroyed{0};
    std::atomic<int> running{0}, max_running{0};
};

class ProbeTask : public CVD_ThreadTask
{
public:
    enum Mode {
        UNTIL_RELEASED, // DoRun waits for its release variable; DoAbort releases it
        UNTIL_ABORTED,  // DoRun polls IsAborting with a long timeout
        QUICK           // DoRun takes a couple of milliseconds
    };
    ProbeTask(Probe& probe, Mode mode, HLY_SharedVariable* release = nullptr, int dying_ms = 0)
        : m_Probe(probe), m_Mode(mode), m_Release(release), m_DyingMs(dying_ms) {}
    ~ProbeTask() override
    {
        if (m_DyingMs) HLY_System::Sleep(HLY_TimeStamp::FromMillis(m_DyingMs));
        m_Probe.destroyed++;
    }

protected:
    void DoInit() override { m_Probe.inits++; }
    void DoAbort() override
    {
        m_Probe.aborts++;
        if (m_Release) m_Release->SetValue(1);
    }
    void DoRun() override
    {
        int now = ++m_Probe.running;
        int seen = m_Probe.max_running;
        while (now > seen && !m_Probe.max_running.compare_exchange_weak(seen, now)) {}
        m_Probe.runs++;
        switch (m_Mode) {
            case UNTIL_RELEASED: m_Release->WaitUntilEquals(1); break;
            case UNTIL_ABORTED:  while (!IsAborting(10000)) {} break;
            case QUICK:          HLY_System::Sleep(HLY_TimeStamp::FromMillis(2)); break;
        }
        m_Probe.running--;
    }

private:
    Probe&              m_Probe;
    Mode                m_Mode;
    HLY_SharedVariable* m_Release;
    int                 m_DyingMs;
};
} // namespace

TEST(ThreadTask, AnOwnedTaskRunsItsHooksAndIsStoppedAndKilled)
{
    Probe              probe;
    HLY_SharedVariable release(0);
    ProbeTask*         task = new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release);
    ASSERT_EQ(task->Start(nullptr, nullptr, false), HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&] { return probe.runs == 1; }));
    EXPECT_EQ(probe.inits, 1);

    EXPECT_EQ(task->Stop(true), HLY_SUCCESS) << "DoAbort releases the run, then the thread is waited for";
    EXPECT_EQ(probe.running, 0);
    EXPECT_EQ(probe.aborts, 1);
    EXPECT_EQ(probe.destroyed, 0);
    EXPECT_EQ(task->Kill(), HLY_SUCCESS);
    EXPECT_EQ(probe.destroyed, 1);
}

TEST(ThreadTask, AnAutoDestroyingTaskWithoutManagerDeletesItself)
{
    Probe probe;
    ASSERT_EQ((new ProbeTask(probe, ProbeTask::QUICK))->Start(), HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&] { return probe.destroyed == 1; }));
    EXPECT_EQ(probe.runs, 1);
}

TEST(ThreadTask, ShortAndSteppedDelaysHoldTheWorkBack)
{
    Probe           probe;
    CVD_TaskManager manager;
    HLY_TimeInterval short_delay(0.05), long_delay(0.3);

    auto start = Clock::now();
    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::QUICK), &short_delay), HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&] { return probe.runs == 1; }));
    EXPECT_GE(ElapsedMs(start), 45);

    start = Clock::now();
    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::QUICK), &long_delay), HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&] { return probe.runs == 2; }));
    EXPECT_GE(ElapsedMs(start), 280);
    manager.StopAllTasks();
    EXPECT_EQ(probe.destroyed, 2);
}

TEST(TaskManager, ANullTaskIsRefused)
{
    CVD_TaskManager manager;
    EXPECT_EQ(manager.StartTask(nullptr), HLY_ERROR_INVALID_PARAMETERS);
}

TEST(TaskManager, ACappedManagerBlocksTheNextStartUntilASlotFrees)
{
    Probe              probe;
    CVD_TaskManager    manager(2);
    HLY_SharedVariable release[3] = {HLY_SharedVariable(0), HLY_SharedVariable(0), HLY_SharedVariable(0)};

    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release[0])), HLY_SUCCESS);
    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release[1])), HLY_SUCCESS);
    EXPECT_EQ(manager.GetTaskCount(), 2u);
    ASSERT_TRUE(Eventually([&] { return probe.runs == 2; }));

    std::atomic<bool>       returned{false};
    std::atomic<HLY_Result> result{HLY_FAILURE};
    std::thread third([&] {
        result   = manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release[2]));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_FALSE(returned) << "a third task started past the cap";
    EXPECT_EQ(probe.runs, 2);

    release[0].SetValue(1);
    third.join();
    EXPECT_EQ(result, HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&] { return probe.runs == 3; }));
    EXPECT_LE(probe.max_running, 2);
    EXPECT_EQ(manager.GetTaskCount(), 2u);

    EXPECT_EQ(manager.StopAllTasks(), HLY_SUCCESS);
    EXPECT_EQ(probe.destroyed, 3);
    EXPECT_EQ(manager.GetTaskCount(), 0u);
}

TEST(TaskManager, StoppingReleasesABlockedStartWithInterrupted)
{
    Probe              probe;
    CVD_TaskManager    manager(2);
    HLY_SharedVariable release[3] = {HLY_SharedVariable(0), HLY_SharedVariable(0), HLY_SharedVariable(0)};
    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release[0])), HLY_SUCCESS);
    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release[1])), HLY_SUCCESS);

    std::atomic<HLY_Result> result{HLY_SUCCESS};
    std::thread third([&] {
        result = manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release[2]));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::thread stopper([&] { manager.StopAllTasks(); });
    third.join();
    stopper.join();

    EXPECT_EQ(result, HLY_ERROR_INTERRUPTED);
    EXPECT_EQ(probe.runs, 2) << "the refused task never ran";
    EXPECT_EQ(probe.destroyed, 3) << "the refused auto-destroying task was deleted";
    EXPECT_EQ(manager.GetTaskCount(), 0u);
}

TEST(TaskManager, AnAbortEndsADelayedTaskBeforeItsDelayIsOver)
{
    Probe            probe;
    CVD_TaskManager  manager;
    HLY_TimeInterval delay(5.0);
    ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::QUICK), &delay), HLY_SUCCESS);
    EXPECT_EQ(manager.GetTaskCount(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto start = Clock::now();
    EXPECT_EQ(manager.StopAllTasks(), HLY_SUCCESS);
    EXPECT_LT(ElapsedMs(start), 3000) << "the stop waited for the delay";
    EXPECT_EQ(probe.inits, 0);
    EXPECT_EQ(probe.runs, 0);
    EXPECT_EQ(probe.destroyed, 1);
    EXPECT_EQ(manager.GetTaskCount(), 0u);
}

TEST(TaskManager, StopAllTasksReturnsOnlyOnceEveryTaskHasEnded)
{
    Probe probe;
    auto  start = Clock::now();
    {
        CVD_TaskManager manager;
        for (int i = 0; i < 4; ++i) {
            // slow destructors widen the window between leaving the list and being gone
            ASSERT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::UNTIL_ABORTED, nullptr, 150)), HLY_SUCCESS);
        }
        ASSERT_TRUE(Eventually([&] { return probe.runs == 4; }));
        EXPECT_EQ(manager.StopAllTasks(), HLY_SUCCESS);
        EXPECT_EQ(probe.running, 0);
        EXPECT_EQ(probe.destroyed, 4);
        EXPECT_EQ(probe.aborts, 4);

        // the destructor does the same for tasks still running
        HLY_SharedVariable release(0);
        CVD_TaskManager*   other = new CVD_TaskManager(1);
        ASSERT_EQ(other->StartTask(new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release, 100)), HLY_SUCCESS);
        ASSERT_TRUE(Eventually([&] { return probe.runs == 5; }));
        delete other;
        EXPECT_EQ(probe.destroyed, 5);
    }
    // IsAborting (10 s) woke at once: nobody waited out its timeout
    EXPECT_LT(ElapsedMs(start), 5000);
}

TEST(TaskManager, BlockingStopOfAnAutoDestroyingTaskFailsAtOnce)
{
    Probe              probe;
    CVD_TaskManager    manager;
    HLY_SharedVariable gate(0);
    class Held : public ProbeTask
    {
    public:
        Held(Probe& probe, HLY_SharedVariable& gate) : ProbeTask(probe, QUICK), m_Gate(gate) {}

    protected:
        // stays alive after the abort until the test lets it go
        void DoRun() override
        {
            while (!IsAborting(10000)) {}
            m_Gate.WaitUntilEquals(1);
        }
        HLY_SharedVariable& m_Gate;
    };
    Held* task = new Held(probe, gate);
    ASSERT_EQ(manager.StartTask(task), HLY_SUCCESS);
    auto start = Clock::now();
    EXPECT_EQ(task->Stop(true), HLY_FAILURE);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(probe.aborts, 1);
    gate.SetValue(1);
    EXPECT_EQ(manager.StopAllTasks(), HLY_SUCCESS);
    EXPECT_EQ(probe.destroyed, 1);
}

TEST(TaskManager, AStoppedManagerRefusesNewTasks)
{
    Probe           probe;
    CVD_TaskManager manager;
    auto            start = Clock::now();
    EXPECT_EQ(manager.StopAllTasks(), HLY_SUCCESS);
    EXPECT_LT(ElapsedMs(start), 1000);

    EXPECT_EQ(manager.StartTask(new ProbeTask(probe, ProbeTask::QUICK)), HLY_ERROR_INTERRUPTED);
    EXPECT_EQ(probe.destroyed, 1) << "an auto-destroying task is deleted when refused";

    ProbeTask* owned = new ProbeTask(probe, ProbeTask::QUICK);
    EXPECT_EQ(manager.StartTask(owned, nullptr, false), HLY_ERROR_INTERRUPTED);
    EXPECT_EQ(probe.destroyed, 1) << "an owned task stays with its owner";
    delete owned;
    EXPECT_EQ(probe.runs, 0);
}

TEST(TaskManager, AnOwnedTaskLeavesTheManagerAndIsKilledByItsOwner)
{
    Probe              probe;
    CVD_TaskManager    manager;
    HLY_SharedVariable release(0);
    ProbeTask*         task = new ProbeTask(probe, ProbeTask::UNTIL_RELEASED, &release);
    ASSERT_EQ(manager.StartTask(task, nullptr, false), HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&] { return probe.runs == 1; }));
    EXPECT_EQ(manager.GetTaskCount(), 1u);
    EXPECT_EQ(task->Kill(), HLY_SUCCESS);
    EXPECT_EQ(probe.destroyed, 1);
    EXPECT_EQ(manager.GetTaskCount(), 0u);
}

TEST(TaskManager, ManyShortTasksFromSeveralThreadsRespectTheCap)
{
    Probe           probe;
    CVD_TaskManager manager(3);
    const int       adders = 2, per_adder = 30;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int a = 0; a < adders; ++a) {
        threads.emplace_back([&] {
            for (int i = 0; i < per_adder; ++i) {
                if (manager.StartTask(new ProbeTask(probe, ProbeTask::QUICK)) != HLY_SUCCESS) failures++;
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(Eventually([&] { return probe.destroyed == adders * per_adder; }));
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(probe.runs, adders * per_adder);
    EXPECT_LE(probe.max_running, 3);
    EXPECT_EQ(manager.GetTaskCount(), 0u);
    EXPECT_EQ(manager.StopAllTasks(), HLY_SUCCESS);
}
