#include "hlyqueue.h"
#include "../system/posix/hlyposixqueue.h"

HLY_GenericQueue* HLY_GenericQueue::CreateInstance(HLY_Cardinal max_items)
{
    return new HLY_PosixQueue(max_items);
}
