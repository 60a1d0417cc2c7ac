#include "hlythreads.h"
#include "../system/posix/hlyposixthreads.h"

HLY_Mutex::HLY_Mutex() : m_Delegate(HLY_PosixMutex::Create())
{
}

HLY_Mutex::~HLY_Mutex()
{
    delete m_Delegate;
}
