#ifndef HLY_POSIX_THREADS_H
#define HLY_POSIX_THREADS_H

#include <pthread.h>
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

#endif // HLY_POSIX_THREADS_H
