#ifndef HLY_POSIX_QUEUE_H
#define HLY_POSIX_QUEUE_H

#include "../../core/hlylist.h"
#include "../../core/hlyqueue.h"
#include "hlyposixthreads.h"

/*----------------------------------------------------------------------
|   HLY_PosixQueue: the list and both events are guarded by m_Lock,
|   which is never held while waiting on an event
+---------------------------------------------------------------------*/
class HLY_PosixQueue : public HLY_GenericQueue
{
public:
    explicit HLY_PosixQueue(HLY_Cardinal max_items);
    ~HLY_PosixQueue() override;
    HLY_Result Push(HLY_QueueItem* item, HLY_Timeout timeout) override;
    HLY_Result Pop(HLY_QueueItem*& item, HLY_Timeout timeout) override;
    HLY_Result Peek(HLY_QueueItem*& item, HLY_Timeout timeout) override;

private:
    // with m_Lock held: waits until an item is queued; m_Lock is held again on success
    HLY_Result WaitForItem(HLY_Timeout timeout);

    HLY_Cardinal             m_MaxItems;
    HLY_Mutex                m_Lock;
    HLY_PosixEvent           m_CanPushEvent; // manual reset, starts signalled
    HLY_PosixEvent           m_CanPopEvent;  // manual reset, starts non-signalled
    HLY_List<HLY_QueueItem*> m_Items;
};

#endif // HLY_POSIX_QUEUE_H
