#include <stdint.h>

#include "CvdTaskManager.h"
#include "CvdThreadTask.h"
#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.taskmanager")

CVD_TaskManager::CVD_TaskManager(HLY_Cardinal max_tasks)
    : m_Queue(nullptr), m_MaxTasks(max_tasks), m_RunningTasks(0), m_Stopping(false),
      m_EndingTasks(0), m_SlotChanges(0)
{
}

CVD_TaskManager::~CVD_TaskManager()
{
    StopAllTasks();
}

HLY_Result CVD_TaskManager::StartTask(CVD_ThreadTask* task, HLY_TimeInterval* delay, bool auto_destroy)
{
    HLY_CHECK_POINTER_SEVERE(task);
    return task->Start(this, delay, auto_destroy);
}

HLY_Cardinal CVD_TaskManager::GetTaskCount()
{
    HLY_AutoLock lock(m_TasksLock);
    return m_Tasks.GetItemCount();
}

HLY_Result CVD_TaskManager::AddTask(CVD_ThreadTask* task)
{
    int* token = nullptr;
    for (;;) {
        m_TasksLock.Lock();
        if (m_Stopping) {
            m_TasksLock.Unlock();
            delete token;
            if (task->m_AutoDestroy) delete task;
            HLY_CHECK_WARNING(HLY_ERROR_INTERRUPTED);
        }
        if (m_MaxTasks == 0) break;

        if (token == nullptr) token = new int(0);
        if (m_Queue == nullptr) m_Queue = new HLY_Queue<int>(m_MaxTasks);
        HLY_Result result = m_Queue->Push(token, 0);
        if (HLY_SUCCEEDED(result)) break;
        if (result != HLY_ERROR_TIMEOUT) {
            m_TasksLock.Unlock();
            delete token;
            if (task->m_AutoDestroy) delete task;
            HLY_CHECK_WARNING(result);
        }

        // At the cap. Wait for a slot without the lock: the task that
        // frees it needs the lock to hand its token back. The stopping
        // flag is looked at again at least every 20 ms.
        int changes = m_SlotChanges.GetValue();
        m_TasksLock.Unlock();
        m_SlotChanges.WaitWhileEquals(changes, 20);
    }

    // still locked: the task cannot remove itself before it is listed
    HLY_Result result = task->StartThread();
    if (HLY_SUCCEEDED(result)) {
        ++m_RunningTasks;
        HLY_LOG_FINER("[TaskManager 0x%08x] %d/%d running tasks",
                      (unsigned int)(uintptr_t)this, (int)m_RunningTasks, (int)m_MaxTasks);
        result = m_Tasks.Add(task);
        m_TasksLock.Unlock();
        return result;
    }
    m_TasksLock.Unlock();
    // gives the token back and deletes an auto-destroying task
    RemoveTask(task);
    return result;
}

HLY_Result CVD_TaskManager::RemoveTask(CVD_ThreadTask* task)
{
    m_TasksLock.Lock();
    if (m_Queue) {
        // tokens are only pushed under this lock, so there is nothing to wait for
        int*       token  = nullptr;
        HLY_Result result = m_Queue->Pop(token, 0);
        if (HLY_FAILED(result)) {
            HLY_LOG_WARNING("Failed to pop task from queue %d", (int)result);
        }
        delete token;
    }
    // a task whose thread never started was not counted
    if (HLY_SUCCEEDED(m_Tasks.Remove(task))) {
        --m_RunningTasks;
        HLY_LOG_FINER("[TaskManager 0x%08x] %d/%d running tasks",
                      (unsigned int)(uintptr_t)this, (int)m_RunningTasks, (int)m_MaxTasks);
    }
    m_SlotChanges.SetValue(m_SlotChanges.GetValue() + 1);

    bool auto_destroy = task->m_AutoDestroy;
    if (auto_destroy) ++m_EndingTasks;
    m_TasksLock.Unlock();

    if (auto_destroy) {
        // StopAllTasks waits for this too: a task's destructor may still
        // use what the manager's owner is about to tear down
        delete task;
        HLY_AutoLock lock(m_TasksLock);
        --m_EndingTasks;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_TaskManager::StopAllTasks()
{
    for (;;) {
        m_TasksLock.Lock();
        m_Stopping = true;
        if (m_Queue) {
            int* token = nullptr;
            while (HLY_SUCCEEDED(m_Queue->Pop(token, 0))) delete token;
            delete m_Queue;
            m_Queue = nullptr;
        }
        // blocked additions see the stopping flag at once
        m_SlotChanges.SetValue(m_SlotChanges.GetValue() + 1);
        m_TasksLock.Unlock();

        m_TasksLock.Lock();
        // listed tasks cannot be deleted while the lock is held
        for (HLY_List<CVD_ThreadTask*>::Iterator it = m_Tasks.GetFirstItem(); it; ++it) {
            CVD_ThreadTask* task = *it;
            if (!task->IsAborting(0)) task->Stop(false);
        }
        HLY_Cardinal remaining = m_Tasks.GetItemCount() + m_EndingTasks;
        m_TasksLock.Unlock();

        if (remaining == 0) return HLY_SUCCESS;
        HLY_System::Sleep(HLY_TimeInterval::FromMillis(50));
    }
}
