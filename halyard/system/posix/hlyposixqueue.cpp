#include "hlyposixqueue.h"

HLY_PosixQueue::HLY_PosixQueue(HLY_Cardinal max_items)
    : m_MaxItems(max_items), m_CanPushEvent(true, true), m_CanPopEvent(true, false)
{
}

HLY_PosixQueue::~HLY_PosixQueue()
{
    // the items belong to the owner, who empties the queue first
    m_Items.Clear();
}

// A timeout bounds the whole call: a waiter woken only to find that
// another thread was faster waits for the time that is left, not anew.
HLY_Result HLY_PosixQueue::Push(HLY_QueueItem* item, HLY_Timeout timeout)
{
    HLY_Int64 deadline = timeout > 0 ? HLY_PosixMonotonicMillis() + timeout : 0;

    m_Lock.Lock();
    while (m_MaxItems && m_Items.GetItemCount() >= m_MaxItems) {
        m_CanPushEvent.Reset();
        m_Lock.Unlock();
        HLY_Result result = m_CanPushEvent.Wait(HLY_PosixRemainingTimeout(timeout, deadline));
        if (HLY_FAILED(result)) return result;
        m_Lock.Lock();
    }
    HLY_Result result = m_Items.Add(item);
    if (HLY_SUCCEEDED(result)) m_CanPopEvent.Signal();
    m_Lock.Unlock();
    return result;
}

HLY_Result HLY_PosixQueue::WaitForItem(HLY_Timeout timeout)
{
    if (timeout == 0) {
        if (m_Items.GetItemCount() == 0) {
            m_Lock.Unlock();
            return HLY_ERROR_LIST_EMPTY;
        }
        return HLY_SUCCESS;
    }
    HLY_Int64 deadline = timeout > 0 ? HLY_PosixMonotonicMillis() + timeout : 0;
    while (m_Items.GetItemCount() == 0) {
        m_CanPopEvent.Reset();
        m_Lock.Unlock();
        HLY_Result result = m_CanPopEvent.Wait(HLY_PosixRemainingTimeout(timeout, deadline));
        if (HLY_FAILED(result)) return result;
        m_Lock.Lock();
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixQueue::Pop(HLY_QueueItem*& item, HLY_Timeout timeout)
{
    item = nullptr;
    m_Lock.Lock();
    HLY_Result result = WaitForItem(timeout);
    if (HLY_FAILED(result)) return result; // the lock is already released
    m_Items.PopHead(item);
    if (m_MaxItems) m_CanPushEvent.Signal();
    m_Lock.Unlock();
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixQueue::Peek(HLY_QueueItem*& item, HLY_Timeout timeout)
{
    item = nullptr;
    m_Lock.Lock();
    HLY_Result result = WaitForItem(timeout);
    if (HLY_FAILED(result)) return result;
    item = *m_Items.GetFirstItem();
    m_Lock.Unlock();
    return HLY_SUCCESS;
}
