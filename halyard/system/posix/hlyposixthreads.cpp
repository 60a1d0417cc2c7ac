#include "hlyposixthreads.h"

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
