#include <errno.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "hlyposixthreads.h"
#include "../../core/hlylogging.h"
#include "../../core/hlysystem.h"

// the logger keeps the name that existing logging configurations use
HLY_SET_LOCAL_LOGGER("halyard.threads.win32")

/*----------------------------------------------------------------------
|   time helpers
+---------------------------------------------------------------------*/
HLY_Int64 HLY_PosixMonotonicMillis()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (HLY_Int64)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

HLY_Timeout HLY_PosixRemainingTimeout(HLY_Timeout timeout, HLY_Int64 deadline)
{
    if (timeout == HLY_TIMEOUT_INFINITE || timeout == 0) return timeout;
    HLY_Int64 left = deadline - HLY_PosixMonotonicMillis();
    return left > 0 ? (HLY_Timeout)left : 0;
}

// absolute CLOCK_MONOTONIC time timeout milliseconds from now
static struct timespec MonotonicDeadline(HLY_Timeout timeout)
{
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout / 1000;
    deadline.tv_nsec += (long)(timeout % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

static bool InitMonotonicCondition(pthread_cond_t* condition)
{
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) return false;
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    bool ok = pthread_cond_init(condition, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
    return ok;
}

/*----------------------------------------------------------------------
|   HLY_PosixMutex
+---------------------------------------------------------------------*/
HLY_PosixMutex::HLY_PosixMutex()
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_Mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

HLY_PosixMutex::~HLY_PosixMutex()
{
    pthread_mutex_destroy(&m_Mutex);
}

HLY_Result HLY_PosixMutex::Lock()
{
    return pthread_mutex_lock(&m_Mutex) == 0 ? HLY_SUCCESS : HLY_FAILURE;
}

HLY_Result HLY_PosixMutex::Unlock()
{
    pthread_mutex_unlock(&m_Mutex);
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_PosixEvent
+---------------------------------------------------------------------*/
HLY_PosixEvent::HLY_PosixEvent(bool manual_reset, bool initially_signalled)
    : m_Valid(false), m_ManualReset(manual_reset), m_Signalled(initially_signalled), m_Generation(0)
{
    if (pthread_mutex_init(&m_Mutex, nullptr) != 0) {
        HLY_LOG_SEVERE("cannot create event mutex");
        return;
    }
    if (!InitMonotonicCondition(&m_Condition)) {
        HLY_LOG_SEVERE("cannot create event condition");
        pthread_mutex_destroy(&m_Mutex);
        return;
    }
    m_Valid = true;
}

HLY_PosixEvent::~HLY_PosixEvent()
{
    if (m_Valid) {
        pthread_cond_destroy(&m_Condition);
        pthread_mutex_destroy(&m_Mutex);
    }
}

HLY_Result HLY_PosixEvent::Wait(HLY_Timeout timeout)
{
    if (!m_Valid) return HLY_SUCCESS;

    struct timespec deadline = {};
    if (timeout > 0) deadline = MonotonicDeadline(timeout);

    pthread_mutex_lock(&m_Mutex);
    // a manual-reset signal given after this point releases us even if
    // the event is reset before we wake up
    HLY_UInt64 generation = m_Generation;
    HLY_Result result     = HLY_SUCCESS;
    while (!m_Signalled && m_Generation == generation) {
        if (timeout == 0) {
            result = HLY_ERROR_TIMEOUT;
            break;
        }
        int rc = (timeout == HLY_TIMEOUT_INFINITE)
                     ? pthread_cond_wait(&m_Condition, &m_Mutex)
                     : pthread_cond_timedwait(&m_Condition, &m_Mutex, &deadline);
        if (rc == ETIMEDOUT) {
            if (!m_Signalled && m_Generation == generation) result = HLY_ERROR_TIMEOUT;
            break;
        }
        if (rc != 0) {
            result = HLY_FAILURE;
            break;
        }
    }
    // an auto-reset event lets exactly one waiter through per signal
    if (result == HLY_SUCCESS && !m_ManualReset) m_Signalled = false;
    pthread_mutex_unlock(&m_Mutex);
    return result;
}

HLY_Result HLY_PosixEvent::Signal()
{
    if (!m_Valid) return HLY_SUCCESS;
    pthread_mutex_lock(&m_Mutex);
    m_Signalled = true;
    if (m_ManualReset) {
        ++m_Generation;
        pthread_cond_broadcast(&m_Condition);
    } else {
        pthread_cond_signal(&m_Condition);
    }
    pthread_mutex_unlock(&m_Mutex);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixEvent::Reset()
{
    if (!m_Valid) return HLY_SUCCESS;
    pthread_mutex_lock(&m_Mutex);
    m_Signalled = false;
    pthread_mutex_unlock(&m_Mutex);
    return HLY_SUCCESS;
}

bool HLY_PosixEvent::IsSignalled()
{
    if (!m_Valid) return false;
    pthread_mutex_lock(&m_Mutex);
    bool signalled = m_Signalled;
    pthread_mutex_unlock(&m_Mutex);
    return signalled;
}

/*----------------------------------------------------------------------
|   HLY_PosixSharedVariable
+---------------------------------------------------------------------*/
HLY_PosixSharedVariable::HLY_PosixSharedVariable(int value)
    : m_Value(value), m_Waiters(0), m_Event(true, false)
{
}

HLY_PosixSharedVariable::~HLY_PosixSharedVariable()
{
}

HLY_Result HLY_PosixSharedVariable::SetValue(int value)
{
    HLY_AutoLock lock(m_Lock);
    if (value != m_Value) {
        m_Value = value;
        if (m_Waiters) m_Event.Signal();
    }
    return HLY_SUCCESS;
}

int HLY_PosixSharedVariable::GetValue()
{
    HLY_AutoLock lock(m_Lock);
    return m_Value;
}

HLY_Cardinal HLY_PosixSharedVariable::GetWaiterCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_Waiters;
}

HLY_Result HLY_PosixSharedVariable::WaitUntilEquals(int value, HLY_Timeout timeout)
{
    return WaitForCondition(value, true, timeout);
}

HLY_Result HLY_PosixSharedVariable::WaitWhileEquals(int value, HLY_Timeout timeout)
{
    return WaitForCondition(value, false, timeout);
}

HLY_Result HLY_PosixSharedVariable::WaitForCondition(int value, bool until_equal, HLY_Timeout timeout)
{
    for (;;) {
        m_Lock.Lock();
        if ((m_Value == value) == until_equal) {
            m_Lock.Unlock();
            return HLY_SUCCESS;
        }
        ++m_Waiters;
        m_Lock.Unlock();

        HLY_Result result = m_Event.Wait(timeout);

        // the last waiter to leave re-arms the event, so every waiter
        // counted when it was signalled gets to see the signal
        m_Lock.Lock();
        bool last = (--m_Waiters == 0);
        if (last) m_Event.Reset();
        m_Lock.Unlock();

        if (HLY_FAILED(result)) return result;
        // let the others see the signal before this thread may wait again
        // on the still-signalled event
        if (!last) HLY_System::Sleep(HLY_TimeStamp::FromMillis(10));
    }
}

/*----------------------------------------------------------------------
|   HLY_PosixThread
+---------------------------------------------------------------------*/
// the joinable thread object whose run the calling thread executes; cleared
// when that object is deleted from its own run, so that the entry routine
// knows it must not touch it any more
static thread_local HLY_PosixThread* t_RunningThread = nullptr;

HLY_PosixThread::HLY_PosixThread(HLY_Thread* delegator, HLY_Runnable& target, bool detached)
    : m_Delegator(delegator), m_Target(target), m_Detached(detached), m_ThreadHandle(),
      m_Started(false), m_HasHandle(false), m_Running(false), m_Done(false), m_KernelId(0)
{
    pthread_mutex_init(&m_StateLock, nullptr);
    InitMonotonicCondition(&m_StateChanged);
}

HLY_PosixThread::~HLY_PosixThread()
{
    pthread_mutex_lock(&m_StateLock);
    bool joinable = m_HasHandle;
    bool own      = joinable && pthread_equal(m_ThreadHandle, pthread_self());
    pthread_mutex_unlock(&m_StateLock);
    if (own) {
        // deleted from its own run: it cannot wait for itself
        pthread_detach(m_ThreadHandle);
        if (t_RunningThread == this) t_RunningThread = nullptr;
    } else if (joinable) {
        Wait(HLY_TIMEOUT_INFINITE);
    }
    pthread_cond_destroy(&m_StateChanged);
    pthread_mutex_destroy(&m_StateLock);
}

HLY_ThreadId HLY_PosixThread::GetCurrentThreadId()
{
    return (HLY_ThreadId)pthread_self();
}

HLY_Result HLY_PosixThread::Start()
{
    pthread_mutex_lock(&m_StateLock);
    if (m_Started) {
        pthread_mutex_unlock(&m_StateLock);
        HLY_LOG_WARNING("thread already started !");
        return HLY_ERROR_INVALID_STATE;
    }
    m_Started = true;
    HLY_LOG_FINER("creating thread");

    if (m_Detached) {
        // once created, a detached thread owns this object and may delete
        // it at any time: nothing here may be touched after pthread_create
        pthread_mutex_unlock(&m_StateLock);
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t handle;
        int       rc = pthread_create(&handle, &attributes, EntryPoint, this);
        pthread_attr_destroy(&attributes);
        if (rc != 0) {
            HLY_LOG_WARNING("pthread_create failed (%d)", rc);
            pthread_mutex_lock(&m_StateLock);
            m_Started = false;
            pthread_mutex_unlock(&m_StateLock);
            return HLY_FAILURE;
        }
        return HLY_SUCCESS;
    }

    int rc = pthread_create(&m_ThreadHandle, nullptr, EntryPoint, this);
    if (rc != 0) {
        m_Started = false;
        pthread_mutex_unlock(&m_StateLock);
        HLY_LOG_WARNING("pthread_create failed (%d)", rc);
        return HLY_FAILURE;
    }
    m_HasHandle = true;
    pthread_mutex_unlock(&m_StateLock);
    return HLY_SUCCESS;
}

void* HLY_PosixThread::EntryPoint(void* argument)
{
    HLY_PosixThread* thread   = static_cast<HLY_PosixThread*>(argument);
    bool             detached = thread->m_Detached;

    HLY_LOG_FINER("thread in =======================");

    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    HLY_System::SetRandomSeed(((unsigned int)(now.ToNanos() & 0xFFFFFFFF) +
                               (unsigned int)GetCurrentThreadId()) ^
                              ((unsigned int)getpid() << 16));

    if (!detached) {
        pthread_mutex_lock(&thread->m_StateLock);
        thread->m_KernelId = (pid_t)syscall(SYS_gettid);
        thread->m_Running  = true;
        pthread_cond_broadcast(&thread->m_StateChanged);
        pthread_mutex_unlock(&thread->m_StateLock);
    }

    if (!detached) t_RunningThread = thread;
    thread->Run();

    if (detached) {
        // the thread owns itself: the front goes, and this object with it
        delete thread->m_Delegator;
    } else if (t_RunningThread != thread) {
        // the run deleted its own thread object, which detached this thread
    } else {
        t_RunningThread = nullptr;
        // after this the owner may join and delete: touch nothing more
        pthread_mutex_lock(&thread->m_StateLock);
        thread->m_Done    = true;
        thread->m_Running = false;
        pthread_cond_broadcast(&thread->m_StateChanged);
        pthread_mutex_unlock(&thread->m_StateLock);
    }
    return nullptr;
}

HLY_Result HLY_PosixThread::Wait(HLY_Timeout timeout)
{
    if (m_Detached) return HLY_FAILURE;

    struct timespec deadline = {};
    if (timeout > 0) deadline = MonotonicDeadline(timeout);

    pthread_mutex_lock(&m_StateLock);
    if (!m_Started) {
        pthread_mutex_unlock(&m_StateLock);
        return HLY_FAILURE;
    }
    if (!m_HasHandle) {
        // already joined
        pthread_mutex_unlock(&m_StateLock);
        return HLY_SUCCESS;
    }
    if (pthread_equal(m_ThreadHandle, pthread_self())) {
        pthread_mutex_unlock(&m_StateLock);
        HLY_LOG_WARNING("a thread cannot wait for itself");
        return HLY_FAILURE;
    }
    while (!m_Done) {
        int rc;
        if (timeout == 0) {
            rc = ETIMEDOUT;
        } else if (timeout == HLY_TIMEOUT_INFINITE) {
            rc = pthread_cond_wait(&m_StateChanged, &m_StateLock);
        } else {
            rc = pthread_cond_timedwait(&m_StateChanged, &m_StateLock, &deadline);
        }
        if (rc != 0 && !m_Done) {
            pthread_mutex_unlock(&m_StateLock);
            return HLY_FAILURE;
        }
    }
    if (!m_HasHandle) {
        // another waiter reclaimed the thread meanwhile: joining twice is undefined
        pthread_mutex_unlock(&m_StateLock);
        return HLY_SUCCESS;
    }
    // the run is over; the thread only has to leave its entry routine
    int rc = pthread_join(m_ThreadHandle, nullptr);
    m_HasHandle = false;
    pthread_mutex_unlock(&m_StateLock);
    if (rc != 0) {
        HLY_LOG_WARNING("pthread_join failed (%d)", rc);
        return HLY_FAILURE;
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   priorities: Linux threads of the normal scheduling class only have
|   a per-thread nice value (19 lowest .. -20 highest), so the seven
|   levels are spread over it. Raising a thread above the nice value it
|   was given needs privileges; a refusal is reported, never fatal.
+---------------------------------------------------------------------*/
int HLY_PosixThread::PriorityToNice(int priority)
{
    if (priority < HLY_THREAD_PRIORITY_LOWEST) return 19;         // idle
    if (priority == HLY_THREAD_PRIORITY_LOWEST) return 10;
    if (priority == HLY_THREAD_PRIORITY_BELOW_NORMAL) return 5;
    if (priority == HLY_THREAD_PRIORITY_NORMAL) return 0;
    if (priority == HLY_THREAD_PRIORITY_ABOVE_NORMAL) return -5;
    if (priority < HLY_THREAD_PRIORITY_TIME_CRITICAL) return -10; // highest
    return -20;                                                   // time-critical
}

int HLY_PosixThread::NiceToPriority(int nice)
{
    if (nice >= 15) return HLY_THREAD_PRIORITY_IDLE;
    if (nice >= 8) return HLY_THREAD_PRIORITY_LOWEST;
    if (nice >= 3) return HLY_THREAD_PRIORITY_BELOW_NORMAL;
    if (nice >= -2) return HLY_THREAD_PRIORITY_NORMAL;
    if (nice >= -7) return HLY_THREAD_PRIORITY_ABOVE_NORMAL;
    if (nice >= -15) return HLY_THREAD_PRIORITY_HIGHEST;
    return HLY_THREAD_PRIORITY_TIME_CRITICAL;
}

HLY_Result HLY_PosixThread::WaitUntilKnown()
{
    while (!m_Running && !m_Done) {
        if (pthread_cond_wait(&m_StateChanged, &m_StateLock) != 0) return HLY_FAILURE;
    }
    // a thread whose run is over has no kernel thread to adjust any more
    return m_Done ? HLY_ERROR_INVALID_STATE : HLY_SUCCESS;
}

HLY_Result HLY_PosixThread::SetPriority(int priority)
{
    pthread_mutex_lock(&m_StateLock);
    if (!m_HasHandle) {
        pthread_mutex_unlock(&m_StateLock);
        return HLY_ERROR_INVALID_STATE;
    }
    // the thread cannot end while the state lock is held, so its kernel
    // id stays valid during the call
    HLY_Result result = WaitUntilKnown();
    if (HLY_SUCCEEDED(result) &&
        setpriority(PRIO_PROCESS, (id_t)m_KernelId, PriorityToNice(priority)) != 0) {
        HLY_LOG_WARNING("SetThreadPriority failed (%x)", errno);
        result = HLY_FAILURE;
    }
    pthread_mutex_unlock(&m_StateLock);
    return result;
}

HLY_Result HLY_PosixThread::GetPriority(int& priority)
{
    pthread_mutex_lock(&m_StateLock);
    if (!m_HasHandle) {
        pthread_mutex_unlock(&m_StateLock);
        return HLY_ERROR_INVALID_STATE;
    }
    HLY_Result result = WaitUntilKnown();
    if (HLY_SUCCEEDED(result)) {
        errno    = 0;
        int nice = getpriority(PRIO_PROCESS, (id_t)m_KernelId);
        if (nice == -1 && errno != 0) {
            HLY_LOG_WARNING("GetThreadPriority failed (%x)", errno);
            result = HLY_FAILURE;
        } else {
            priority = NiceToPriority(nice);
        }
    }
    pthread_mutex_unlock(&m_StateLock);
    return result;
}
