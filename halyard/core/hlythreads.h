#ifndef HLY_THREADS_H
#define HLY_THREADS_H

#include "hlycommon.h"

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

#endif // HLY_THREADS_H
