#ifndef HLY_THREADS_H
#define HLY_THREADS_H

#include "hlycommon.h"
#include "hlytypes.h"

/*----------------------------------------------------------------------
|   mutex: recursive; the owning thread may lock it again and must
|   unlock it as often
+---------------------------------------------------------------------*/
class HLY_MutexInterface
{
public:
    virtual ~HLY_MutexInterface() {}
    virtual HLY_Result Lock()   = 0;
    virtual HLY_Result Unlock() = 0;
};

class HLY_Mutex : public HLY_MutexInterface
{
public:
    HLY_Mutex();
    ~HLY_Mutex() override;
    HLY_Result Lock() override { return m_Delegate->Lock(); }
    HLY_Result Unlock() override { return m_Delegate->Unlock(); }

private:
    HLY_Mutex(const HLY_Mutex&)            = delete;
    HLY_Mutex& operator=(const HLY_Mutex&) = delete;

    HLY_MutexInterface* m_Delegate; // the platform mutex
};

class HLY_AutoLock
{
public:
    explicit HLY_AutoLock(HLY_MutexInterface& mutex) : m_Mutex(mutex) { m_Mutex.Lock(); }
    ~HLY_AutoLock() { m_Mutex.Unlock(); }

private:
    HLY_AutoLock(const HLY_AutoLock&)            = delete;
    HLY_AutoLock& operator=(const HLY_AutoLock&) = delete;

    HLY_MutexInterface& m_Mutex;
};

/*----------------------------------------------------------------------
|   HLY_Lock: a container together with the mutex that guards it
+---------------------------------------------------------------------*/
template <typename T> class HLY_Lock : public T, public HLY_Mutex
{
};

/*----------------------------------------------------------------------
|   HLY_SharedVariable: an integer that threads can wait on
+---------------------------------------------------------------------*/
class HLY_SharedVariableInterface
{
public:
    virtual ~HLY_SharedVariableInterface() {}
    virtual HLY_Result SetValue(int value) = 0;
    virtual int        GetValue() = 0;
    virtual HLY_Result WaitUntilEquals(int value, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) = 0;
    virtual HLY_Result WaitWhileEquals(int value, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) = 0;
};

class HLY_SharedVariable : public HLY_SharedVariableInterface
{
public:
    explicit HLY_SharedVariable(int value = 0);
    ~HLY_SharedVariable() override;
    HLY_Result SetValue(int value) override { return m_Delegate->SetValue(value); }
    int        GetValue() override { return m_Delegate->GetValue(); }
    // the timeout applies to each wait on the underlying event, not to the whole call
    HLY_Result WaitUntilEquals(int value, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override
    {
        return m_Delegate->WaitUntilEquals(value, timeout);
    }
    HLY_Result WaitWhileEquals(int value, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override
    {
        return m_Delegate->WaitWhileEquals(value, timeout);
    }

private:
    HLY_SharedVariable(const HLY_SharedVariable&)            = delete;
    HLY_SharedVariable& operator=(const HLY_SharedVariable&) = delete;

    HLY_SharedVariableInterface* m_Delegate; // the platform variable
};

/*----------------------------------------------------------------------
|   threads
+---------------------------------------------------------------------*/
typedef unsigned long HLY_ThreadId;

// priorities run from -15 to 15 and are folded onto seven levels
#define HLY_THREAD_PRIORITY_MIN           -15
#define HLY_THREAD_PRIORITY_IDLE          -15
#define HLY_THREAD_PRIORITY_LOWEST         -2
#define HLY_THREAD_PRIORITY_BELOW_NORMAL   -1
#define HLY_THREAD_PRIORITY_NORMAL          0
#define HLY_THREAD_PRIORITY_ABOVE_NORMAL    1
#define HLY_THREAD_PRIORITY_HIGHEST         2
#define HLY_THREAD_PRIORITY_TIME_CRITICAL  15
#define HLY_THREAD_PRIORITY_MAX            15

class HLY_Runnable
{
public:
    virtual ~HLY_Runnable() {}
    virtual void Run() = 0;
};

class HLY_Interruptible
{
public:
    virtual ~HLY_Interruptible() {}
    virtual HLY_Result Interrupt() = 0;
};

class HLY_ThreadInterface : public HLY_Runnable, public HLY_Interruptible
{
public:
    ~HLY_ThreadInterface() override {}
    virtual HLY_Result Start() = 0;
    virtual HLY_Result Wait(HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) = 0;
    virtual HLY_Result SetPriority(int priority) = 0;
    virtual HLY_Result GetPriority(int& priority) = 0;
};

class HLY_Thread : public HLY_ThreadInterface
{
public:
    // the thread runs its own Run (override it in a subclass)
    explicit HLY_Thread(bool detached = false);
    // the thread runs target.Run; the target is not owned
    explicit HLY_Thread(HLY_Runnable& target, bool detached = false);
    // a joinable thread is waited for without limit; a detached thread
    // deletes itself once its run is over and must not be deleted by others.
    // A subclass that overrides Run waits for the thread in its own
    // destructor: by the time this one runs, the subclass part is gone.
    ~HLY_Thread() override;

    static HLY_ThreadId GetCurrentThreadId();

    void       Run() override {}
    HLY_Result Start() override { return m_Delegate->Start(); }
    // HLY_FAILURE unless the thread has ended within the timeout
    HLY_Result Wait(HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override { return m_Delegate->Wait(timeout); }
    HLY_Result SetPriority(int priority) override { return m_Delegate->SetPriority(priority); }
    HLY_Result GetPriority(int& priority) override { return m_Delegate->GetPriority(priority); }
    HLY_Result Interrupt() override { return m_Delegate->Interrupt(); }

private:
    HLY_Thread(const HLY_Thread&)            = delete;
    HLY_Thread& operator=(const HLY_Thread&) = delete;

    HLY_ThreadInterface* m_Delegate; // the platform thread
};

#endif // HLY_THREADS_H
