#include "CvdThreadTask.h"
#include "CvdTaskManager.h"
#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.threadtask")

CVD_ThreadTask::CVD_ThreadTask()
    : m_TaskManager(nullptr), m_Started(0), m_Abort(0), m_Thread(nullptr), m_AutoDestroy(false)
{
}

CVD_ThreadTask::~CVD_ThreadTask()
{
    // a detached thread deletes itself; a joinable one is waited for here
    if (!m_AutoDestroy) delete m_Thread;
}

HLY_Result CVD_ThreadTask::Start(CVD_TaskManager* task_manager, HLY_TimeInterval* delay, bool auto_destroy)
{
    m_Abort.SetValue(0);
    m_AutoDestroy = auto_destroy;
    m_Delay       = delay ? *delay : HLY_TimeInterval();
    m_TaskManager = task_manager;

    if (m_TaskManager == nullptr) {
        HLY_Result result = StartThread();
        if (HLY_FAILED(result) && m_AutoDestroy) delete this;
        return result;
    }

    // the manager starts the thread, or deletes an auto-destroying task
    HLY_CHECK_SEVERE(m_TaskManager->AddTask(this));
    return HLY_SUCCESS;
}

HLY_Result CVD_ThreadTask::StartThread()
{
    m_StartLock.Lock();
    m_Started.SetValue(0);

    // a task started again after an earlier run gets a fresh thread
    if (m_Thread && !m_AutoDestroy) {
        delete m_Thread;
        m_Thread = nullptr;
    }
    m_Thread          = new HLY_Thread(*this, m_AutoDestroy);
    HLY_Result result = m_Thread->Start();
    if (HLY_FAILED(result)) {
        if (m_AutoDestroy) {
            delete m_Thread;
            m_Thread = nullptr;
        }
        m_StartLock.Unlock();
        HLY_CHECK_FATAL(result);
    }

    // return only once the new thread is running
    result = m_Started.WaitUntilEquals(1, HLY_TIMEOUT_INFINITE);
    m_StartLock.Unlock();
    return result;
}

void CVD_ThreadTask::Run()
{
    m_Started.SetValue(1);

    if (m_Delay > HLY_TimeInterval()) {
        if (m_Delay <= HLY_TimeInterval::FromMillis(100)) {
            HLY_System::Sleep(m_Delay);
        } else {
            // wait the delay out in steps so that a stop ends it early
            HLY_TimeStamp start;
            HLY_System::GetCurrentTimeStamp(start);
            for (;;) {
                HLY_TimeStamp now;
                HLY_System::GetCurrentTimeStamp(now);
                if (now >= start + m_Delay) break;
                if (IsAborting(100)) break;
            }
        }
    }

    if (!IsAborting(0)) {
        DoInit();
        DoRun();
    }

    // the starting thread may still be returning from StartThread
    m_StartLock.Lock();
    m_StartLock.Unlock();

    // nothing of this task may be touched once it is handed back
    if (m_TaskManager == nullptr) {
        if (m_AutoDestroy) delete this;
    } else {
        m_TaskManager->RemoveTask(this);
    }
}

HLY_Result CVD_ThreadTask::Stop(bool blocking)
{
    // read first: an auto-destroying task may be gone once told to stop
    bool        auto_destroy = m_AutoDestroy;
    HLY_Thread* thread       = m_Thread;

    m_Abort.SetValue(1);
    DoAbort();

    if (!blocking || thread == nullptr) return HLY_SUCCESS;
    // a detached thread cannot be waited for
    if (auto_destroy) return HLY_FAILURE;
    return thread->Wait(HLY_TIMEOUT_INFINITE);
}

HLY_Result CVD_ThreadTask::Kill()
{
    bool auto_destroy = m_AutoDestroy;
    Stop(true);
    if (!auto_destroy) delete this;
    return HLY_SUCCESS;
}

bool CVD_ThreadTask::IsAborting(HLY_Timeout timeout)
{
    if (timeout == 0) return m_Abort.GetValue() == 1;
    return m_Abort.WaitUntilEquals(1, timeout) == HLY_SUCCESS;
}
