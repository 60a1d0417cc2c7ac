#include "hlyautomaticcleaner.h"

HLY_AutomaticCleaner& HLY_AutomaticCleaner::GetInstance()
{
    // a function-local static is destroyed at exit, after main returns
    static HLY_AutomaticCleaner cleaner;
    return cleaner;
}

HLY_Result HLY_AutomaticCleaner::Register(Singleton* singleton)
{
    if (singleton == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_AutoLock lock(m_Lock);
    // the newest first, so that a singleton made from another outlives its user
    return m_Singletons.Insert(m_Singletons.GetFirstItem(), singleton);
}

void HLY_AutomaticCleaner::Cleanup()
{
    for (;;) {
        Singleton* singleton = nullptr;
        {
            HLY_AutoLock lock(m_Lock);
            if (HLY_FAILED(m_Singletons.PopHead(singleton))) break;
        }
        // destroyed outside the lock: a destructor may register or clean up
        delete singleton;
    }
}

HLY_AutomaticCleaner::~HLY_AutomaticCleaner()
{
    Cleanup();
}
