#ifndef HLY_QUEUE_H
#define HLY_QUEUE_H

#include "hlycommon.h"

/*----------------------------------------------------------------------
|   HLY_GenericQueue: a blocking queue of untyped pointers, optionally
|   bounded. The queue never deletes the items it holds: Push hands an
|   item over, Pop hands it back, and the owner empties the queue before
|   deleting it.
+---------------------------------------------------------------------*/
typedef void HLY_QueueItem;

class HLY_GenericQueue
{
public:
    // max_items 0: unbounded
    static HLY_GenericQueue* CreateInstance(HLY_Cardinal max_items = 0);

    virtual ~HLY_GenericQueue() {}
    // waits up to timeout for room; on failure the item is not queued
    virtual HLY_Result Push(HLY_QueueItem* item, HLY_Timeout timeout) = 0;
    // timeout 0 on an empty queue: HLY_ERROR_LIST_EMPTY; item is null on failure
    virtual HLY_Result Pop(HLY_QueueItem*& item, HLY_Timeout timeout) = 0;
    // like Pop, but the head item stays queued
    virtual HLY_Result Peek(HLY_QueueItem*& item, HLY_Timeout timeout) = 0;
};

/*----------------------------------------------------------------------
|   HLY_Queue<T>: the typed front
+---------------------------------------------------------------------*/
template <class T> class HLY_Queue
{
public:
    explicit HLY_Queue(HLY_Cardinal max_items = 0)
        : m_Delegate(HLY_GenericQueue::CreateInstance(max_items)) {}
    virtual ~HLY_Queue() { delete m_Delegate; }

    virtual HLY_Result Push(T* item, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE)
    {
        return m_Delegate->Push(item, timeout);
    }
    virtual HLY_Result Pop(T*& item, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE)
    {
        HLY_QueueItem* generic = nullptr;
        HLY_Result     result  = m_Delegate->Pop(generic, timeout);
        item = static_cast<T*>(generic);
        return result;
    }
    virtual HLY_Result Peek(T*& item, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE)
    {
        HLY_QueueItem* generic = nullptr;
        HLY_Result     result  = m_Delegate->Peek(generic, timeout);
        item = static_cast<T*>(generic);
        return result;
    }

private:
    HLY_Queue(const HLY_Queue&)            = delete;
    HLY_Queue& operator=(const HLY_Queue&) = delete;

    HLY_GenericQueue* m_Delegate; // the platform queue
};

#endif // HLY_QUEUE_H
