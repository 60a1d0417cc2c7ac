#ifndef HLY_AUTOMATIC_CLEANER_H
#define HLY_AUTOMATIC_CLEANER_H

#include "hlylist.h"
#include "hlythreads.h"

/*----------------------------------------------------------------------
|   HLY_AutomaticCleaner: destroys the registered process-wide
|   singletons when the program exits, last registered first
+---------------------------------------------------------------------*/
class HLY_AutomaticCleaner
{
public:
    class Singleton
    {
    public:
        virtual ~Singleton() {}
    };

    static HLY_AutomaticCleaner& GetInstance();
    // takes ownership of the singleton
    HLY_Result Register(Singleton* singleton);
    // destroys every registered singleton now (also done at exit)
    void Cleanup();

    ~HLY_AutomaticCleaner();

private:
    HLY_AutomaticCleaner() {}

    HLY_Mutex             m_Lock;
    HLY_List<Singleton*>  m_Singletons;
};

#endif // HLY_AUTOMATIC_CLEANER_H
