#include "hlythreads.h"
#include "../system/posix/hlyposixthreads.h"

HLY_Mutex::HLY_Mutex() : m_Delegate(HLY_PosixMutex::Create())
{
}

HLY_Mutex::~HLY_Mutex()
{
    delete m_Delegate;
}

HLY_SharedVariable::HLY_SharedVariable(int value) : m_Delegate(new HLY_PosixSharedVariable(value))
{
}

HLY_SharedVariable::~HLY_SharedVariable()
{
    delete m_Delegate;
}

HLY_Thread::HLY_Thread(bool detached) : m_Delegate(new HLY_PosixThread(this, *this, detached))
{
}

HLY_Thread::HLY_Thread(HLY_Runnable& target, bool detached)
    : m_Delegate(new HLY_PosixThread(this, target, detached))
{
}

HLY_Thread::~HLY_Thread()
{
    delete m_Delegate;
}

HLY_ThreadId HLY_Thread::GetCurrentThreadId()
{
    return HLY_PosixThread::GetCurrentThreadId();
}
