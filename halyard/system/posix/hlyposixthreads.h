#ifndef HLY_POSIX_THREADS_H
#define HLY_POSIX_THREADS_H

#include <pthread.h>
#include <sys/types.h>
#include "../../core/hlythreads.h"

class HLY_PosixMutex : public HLY_MutexInterface
{
public:
    static HLY_MutexInterface* Create() { return new HLY_PosixMutex(); }
    HLY_PosixMutex();
    ~HLY_PosixMutex() override;
    HLY_Result Lock() override;
    HLY_Result Unlock() override;

private:
    pthread_mutex_t m_Mutex;
};

/*----------------------------------------------------------------------
|   HLY_PosixEvent: a manual- or auto-reset event with a timed wait.
|   A manual-reset Signal releases every thread waiting at that moment
|   even when the event is reset again before they get to run.
+---------------------------------------------------------------------*/
class HLY_PosixEvent
{
public:
    explicit HLY_PosixEvent(bool manual_reset = true, bool initially_signalled = false);
    virtual ~HLY_PosixEvent();
    // HLY_SUCCESS when signalled, HLY_ERROR_TIMEOUT when the time ran out
    virtual HLY_Result Wait(HLY_Timeout timeout = HLY_TIMEOUT_INFINITE);
    virtual HLY_Result Signal();
    virtual HLY_Result Reset();

    // for diagnostics and tests
    bool IsSignalled();

private:
    HLY_PosixEvent(const HLY_PosixEvent&)            = delete;
    HLY_PosixEvent& operator=(const HLY_PosixEvent&) = delete;

    bool            m_Valid;
    bool            m_ManualReset;
    bool            m_Signalled;
    HLY_UInt64      m_Generation; // counts manual-reset signals
    pthread_mutex_t m_Mutex;
    pthread_cond_t  m_Condition;
};

/*----------------------------------------------------------------------
|   HLY_PosixSharedVariable
+---------------------------------------------------------------------*/
class HLY_PosixSharedVariable : public HLY_SharedVariableInterface
{
public:
    explicit HLY_PosixSharedVariable(int value = 0);
    ~HLY_PosixSharedVariable() override;
    HLY_Result SetValue(int value) override;
    int        GetValue() override;
    HLY_Result WaitUntilEquals(int value, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override;
    HLY_Result WaitWhileEquals(int value, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override;

    // for diagnostics and tests
    HLY_Cardinal GetWaiterCount();
    bool         IsEventSignalled() { return m_Event.IsSignalled(); }

private:
    HLY_Result WaitForCondition(int value, bool until_equal, HLY_Timeout timeout);

    int            m_Value;
    HLY_Cardinal   m_Waiters;
    HLY_Mutex      m_Lock;
    HLY_PosixEvent m_Event; // manual reset, starts non-signalled
};

/*----------------------------------------------------------------------
|   HLY_PosixThread
+---------------------------------------------------------------------*/
class HLY_PosixThread : public HLY_ThreadInterface
{
public:
    HLY_PosixThread(HLY_Thread* delegator, HLY_Runnable& target, bool detached);
    ~HLY_PosixThread() override;

    void       Run() override { m_Target.Run(); }
    HLY_Result Start() override;
    HLY_Result Wait(HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override;
    HLY_Result SetPriority(int priority) override;
    HLY_Result GetPriority(int& priority) override;
    HLY_Result Interrupt() override { return HLY_ERROR_NOT_IMPLEMENTED; }

    static HLY_ThreadId GetCurrentThreadId();
    // the platform's nice value for a priority, and back
    static int PriorityToNice(int priority);
    static int NiceToPriority(int nice);

private:
    static void* EntryPoint(void* argument);
    // with m_StateLock held: wait until the thread ran or ended
    HLY_Result WaitUntilKnown();

    HLY_Thread*     m_Delegator; // deleted at the end of a detached run
    HLY_Runnable&   m_Target;
    const bool      m_Detached;
    pthread_t       m_ThreadHandle;

    // guarded by m_StateLock
    pthread_mutex_t m_StateLock;
    pthread_cond_t  m_StateChanged;
    bool            m_Started;   // Start was called (and did not fail)
    bool            m_HasHandle; // a joinable thread exists and was not joined yet
    bool            m_Running;   // the thread entered its run; m_KernelId is valid
    bool            m_Done;      // the thread's run returned
    pid_t           m_KernelId;
};

// monotonic milliseconds, for deadlines
HLY_Int64 HLY_PosixMonotonicMillis();
// milliseconds left until deadline for a timeout given at the start
HLY_Timeout HLY_PosixRemainingTimeout(HLY_Timeout timeout, HLY_Int64 deadline);

#endif // HLY_POSIX_THREADS_H
