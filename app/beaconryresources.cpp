#include <QtGlobal>
#include <mutex>

#include "beaconryresources.h"

// Q_INIT_RESOURCE must be used outside any namespace
static void InitResourcesOnce()
{
    Q_INIT_RESOURCE(beaconry);
}

void BeaconryInitResources()
{
    static std::once_flag once;
    std::call_once(once, InitResourcesOnce);
}
