#ifndef CVD_THREAD_TASK_H
#define CVD_THREAD_TASK_H

#include "hlythreads.h"
#include "hlytime.h"

class CVD_TaskManager;

/*----------------------------------------------------------------------
|   CVD_ThreadTask: a unit of background work with its own thread.
|   Subclasses put their work in DoRun, poll IsAborting and return
|   promptly once it turns true; DoAbort unblocks whatever DoRun waits on.
|   An auto-destroying task deletes itself after its run; any other task
|   is owned by its creator, who stops it (Stop or Kill) before deleting.
+---------------------------------------------------------------------*/
class CVD_ThreadTask : public HLY_Runnable
{
public:
    friend class CVD_TaskManager;

    // usually reached through CVD_TaskManager::StartTask; delay may be null
    HLY_Result Start(CVD_TaskManager* task_manager = nullptr,
                     HLY_TimeInterval* delay       = nullptr,
                     bool              auto_destroy = true);
    // with blocking, waits for the thread (impossible for an auto-destroying task)
    HLY_Result Stop(bool blocking = true);
    // stops with blocking, then deletes the task unless it deletes itself
    HLY_Result Kill();

    bool IsAutoDestroy() const { return m_AutoDestroy; }

    ~CVD_ThreadTask() override;

protected:
    CVD_ThreadTask();

    void Run() override;
    // true once the task was asked to stop, waiting up to timeout for that
    virtual bool IsAborting(HLY_Timeout timeout);
    virtual void DoInit() {}
    virtual void DoAbort() {}
    virtual void DoRun() {}

private:
    CVD_ThreadTask(const CVD_ThreadTask&)            = delete;
    CVD_ThreadTask& operator=(const CVD_ThreadTask&) = delete;

    HLY_Result StartThread();

    CVD_TaskManager*   m_TaskManager;
    HLY_SharedVariable m_Started;
    HLY_SharedVariable m_Abort;
    HLY_Thread*        m_Thread;
    bool               m_AutoDestroy;
    HLY_TimeInterval   m_Delay;
    // held by StartThread until it stops using the task, so that a task
    // which deletes itself cannot do so under its starter's feet
    HLY_Mutex          m_StartLock;
};

#endif // CVD_THREAD_TASK_H
