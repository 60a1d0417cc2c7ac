#ifndef CVD_TASK_MANAGER_H
#define CVD_TASK_MANAGER_H

#include "hlylist.h"
#include "hlyqueue.h"
#include "hlythreads.h"
#include "hlytime.h"

class CVD_ThreadTask;

/*----------------------------------------------------------------------
|   CVD_TaskManager: runs tasks, optionally at most max_tasks at once,
|   and stops them all on shutdown. A manager that was stopped refuses
|   every later task.
+---------------------------------------------------------------------*/
class CVD_TaskManager
{
public:
    friend class CVD_ThreadTask;

    // max_tasks 0: no cap
    explicit CVD_TaskManager(HLY_Cardinal max_tasks = 0);
    virtual ~CVD_TaskManager();

    // beyond the cap this blocks until a running task ends or the manager stops
    virtual HLY_Result StartTask(CVD_ThreadTask*   task,
                                 HLY_TimeInterval* delay        = nullptr,
                                 bool              auto_destroy = true);
    // returns once every task has ended and every auto-destroying one is deleted
    HLY_Result StopAllTasks();

    HLY_Cardinal GetMaxTasks() const { return m_MaxTasks; }
    HLY_Cardinal GetTaskCount();

protected:
    HLY_Result AddTask(CVD_ThreadTask* task);
    HLY_Result RemoveTask(CVD_ThreadTask* task);

private:
    CVD_TaskManager(const CVD_TaskManager&)            = delete;
    CVD_TaskManager& operator=(const CVD_TaskManager&) = delete;

    HLY_List<CVD_ThreadTask*> m_Tasks;
    HLY_Mutex                 m_TasksLock;
    HLY_Queue<int>*           m_Queue; // one token per running task, bounded to the cap
    HLY_Cardinal              m_MaxTasks;
    HLY_Cardinal              m_RunningTasks;
    bool                      m_Stopping;
    // tasks already out of the list whose deletion is still under way
    HLY_Cardinal              m_EndingTasks;
    // bumped whenever a slot may have freed, to wake blocked additions
    HLY_SharedVariable        m_SlotChanges;
};

#endif // CVD_TASK_MANAGER_H
