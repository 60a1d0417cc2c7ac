#ifndef HLY_REFERENCES_H
#define HLY_REFERENCES_H

#include <new>
#include "hlythreads.h"

/*----------------------------------------------------------------------
|   HLY_Reference: a shared owning pointer with a heap counter; a
|   thread-safe reference changes its counter under its own mutex
+---------------------------------------------------------------------*/
template <typename T> class HLY_Reference
{
public:
    HLY_Reference() : m_Object(nullptr), m_Counter(nullptr), m_Mutex(nullptr), m_ThreadSafe(true) {}
    explicit HLY_Reference(T* object, bool thread_safe = true)
        : m_Object(object), m_Counter(object ? new HLY_Cardinal(1) : nullptr),
          m_Mutex((object && thread_safe) ? new HLY_Mutex() : nullptr), m_ThreadSafe(thread_safe) {}
    HLY_Reference(const HLY_Reference<T>& other)
        : m_Object(nullptr), m_Counter(nullptr), m_Mutex(nullptr), m_ThreadSafe(other.m_ThreadSafe)
    {
        Share(other);
    }
    // a reference to a derived type shares the same object and counter
    template <typename U>
    HLY_Reference(const HLY_Reference<U>& other)
        : m_Object(nullptr), m_Counter(nullptr), m_Mutex(nullptr), m_ThreadSafe(other.m_ThreadSafe)
    {
        Share(other);
    }
    ~HLY_Reference() { Release(); }

    HLY_Reference<T>& operator=(const HLY_Reference<T>& other)
    {
        if (this != &other && m_Object != other.m_Object) {
            Release();
            m_ThreadSafe = other.m_ThreadSafe;
            Share(other);
        }
        return *this;
    }
    HLY_Reference<T>& operator=(T* object)
    {
        if (object != m_Object || object == nullptr) {
            Release();
            m_Object  = object;
            m_Counter = object ? new HLY_Cardinal(1) : nullptr;
            m_Mutex   = (object && m_ThreadSafe) ? new HLY_Mutex() : nullptr;
        }
        return *this;
    }

    bool operator==(const HLY_Reference<T>& other) const { return m_Object == other.m_Object; }
    bool operator!=(const HLY_Reference<T>& other) const { return m_Object != other.m_Object; }
    T& operator*() const { return *m_Object; }
    T* operator->() const { return m_Object; }
    T* AsPointer() const { return m_Object; }
    bool IsNull() const { return m_Object == nullptr; }
    bool IsThreadSafe() const { return m_ThreadSafe; }
    HLY_Cardinal GetCounter() const
    {
        if (m_Counter == nullptr) return 0;
        if (m_Mutex) m_Mutex->Lock();
        HLY_Cardinal count = *m_Counter;
        if (m_Mutex) m_Mutex->Unlock();
        return count;
    }

    // gives up this reference; the last one deletes the object unless detaching
    void Release(bool detach_only = false)
    {
        if (m_Counter == nullptr) {
            m_Object = nullptr;
            return;
        }
        HLY_Mutex* mutex = m_Mutex;
        if (mutex) mutex->Lock();
        bool last = (--(*m_Counter) == 0);
        if (last) {
            delete m_Counter;
            if (!detach_only) delete m_Object;
        }
        m_Object  = nullptr;
        m_Counter = nullptr;
        m_Mutex   = nullptr;
        if (mutex) {
            mutex->Unlock();
            if (last) delete mutex;
        }
    }
    // gives up the reference without ever deleting the object
    T* Detach()
    {
        T* object = m_Object;
        Release(true);
        return object;
    }

private:
    template <typename U> void Share(const HLY_Reference<U>& other)
    {
        HLY_Mutex* mutex = other.m_Mutex;
        if (mutex) mutex->Lock();
        m_Object  = other.m_Object;
        m_Counter = other.m_Counter;
        m_Mutex   = mutex;
        if (m_Counter) ++(*m_Counter);
        if (mutex) mutex->Unlock();
    }

    T*            m_Object;
    HLY_Cardinal* m_Counter;
    HLY_Mutex*    m_Mutex;
    bool          m_ThreadSafe;

    template <typename U> friend class HLY_Reference;
};

#endif // HLY_REFERENCES_H
