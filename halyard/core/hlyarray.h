#ifndef HLY_ARRAY_H
#define HLY_ARRAY_H

#include <new>
#include <utility>
#include "hlycommon.h"

/*----------------------------------------------------------------------
|   HLY_Array: contiguous storage reached by index. Pointers stored in it
|   are never deleted by the array.
+---------------------------------------------------------------------*/
template <typename T> class HLY_Array
{
public:
    typedef T* Iterator;

    HLY_Array() : m_Capacity(0), m_ItemCount(0), m_Items(nullptr) {}
    HLY_Array(const HLY_Array<T>& other) : m_Capacity(0), m_ItemCount(0), m_Items(nullptr)
    {
        CopyFrom(other);
    }
    ~HLY_Array()
    {
        Clear();
        ::operator delete(static_cast<void*>(m_Items));
    }
    HLY_Array<T>& operator=(const HLY_Array<T>& other)
    {
        if (this != &other) {
            Clear();
            CopyFrom(other);
        }
        return *this;
    }
    bool operator==(const HLY_Array<T>& other) const
    {
        if (m_ItemCount != other.m_ItemCount) return false;
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) {
            if (!(m_Items[i] == other.m_Items[i])) return false;
        }
        return true;
    }
    bool operator!=(const HLY_Array<T>& other) const { return !(*this == other); }

    HLY_Cardinal GetItemCount() const { return m_ItemCount; }
    HLY_Cardinal GetCapacity() const { return m_Capacity; }
    Iterator GetFirstItem() const { return m_ItemCount ? m_Items : nullptr; }
    T& operator[](HLY_Ordinal index) { return m_Items[index]; }
    const T& operator[](HLY_Ordinal index) const { return m_Items[index]; }

    HLY_Result Reserve(HLY_Cardinal count)
    {
        if (count <= m_Capacity) return HLY_SUCCESS;
        HLY_Cardinal capacity = m_Capacity ? m_Capacity * 2 : 4;
        if (capacity < count) capacity = count;
        T* items = static_cast<T*>(::operator new(capacity * sizeof(T), std::nothrow));
        if (items == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) {
            new (&items[i]) T(std::move(m_Items[i]));
            m_Items[i].~T();
        }
        ::operator delete(static_cast<void*>(m_Items));
        m_Items    = items;
        m_Capacity = capacity;
        return HLY_SUCCESS;
    }
    HLY_Result Add(const T& item)
    {
        if (m_ItemCount == m_Capacity) {
            T copy(item); // item may live inside this array
            HLY_Result result = Reserve(m_ItemCount + 1);
            if (HLY_FAILED(result)) return result;
            new (&m_Items[m_ItemCount++]) T(std::move(copy));
            return HLY_SUCCESS;
        }
        new (&m_Items[m_ItemCount++]) T(item);
        return HLY_SUCCESS;
    }
    // inserts before index; index == count appends
    HLY_Result Insert(HLY_Ordinal index, const T& item)
    {
        if (index > m_ItemCount) return HLY_ERROR_OUT_OF_RANGE;
        T copy(item);
        HLY_Result result = Reserve(m_ItemCount + 1);
        if (HLY_FAILED(result)) return result;
        if (index == m_ItemCount) {
            new (&m_Items[m_ItemCount]) T(std::move(copy));
        } else {
            new (&m_Items[m_ItemCount]) T(std::move(m_Items[m_ItemCount - 1]));
            for (HLY_Ordinal i = m_ItemCount - 1; i > index; i--) m_Items[i] = std::move(m_Items[i - 1]);
            m_Items[index] = std::move(copy);
        }
        ++m_ItemCount;
        return HLY_SUCCESS;
    }
    HLY_Result Erase(HLY_Ordinal index)
    {
        if (index >= m_ItemCount) return HLY_ERROR_NO_SUCH_ITEM;
        for (HLY_Ordinal i = index; i + 1 < m_ItemCount; i++) m_Items[i] = std::move(m_Items[i + 1]);
        m_Items[--m_ItemCount].~T();
        return HLY_SUCCESS;
    }
    HLY_Result Remove(const T& item, bool all = false)
    {
        // item may be an element of this array, which the first removal overwrites
        const T value(item);
        bool    removed = false;
        for (HLY_Ordinal i = 0; i < m_ItemCount;) {
            if (m_Items[i] == value) {
                Erase(i);
                removed = true;
                if (!all) break;
            } else {
                ++i;
            }
        }
        return removed ? HLY_SUCCESS : HLY_ERROR_NO_SUCH_ITEM;
    }
    HLY_Result Resize(HLY_Cardinal count, const T& fill = T())
    {
        if (count < m_ItemCount) {
            for (HLY_Ordinal i = count; i < m_ItemCount; i++) m_Items[i].~T();
            m_ItemCount = count;
            return HLY_SUCCESS;
        }
        HLY_Result result = Reserve(count);
        if (HLY_FAILED(result)) return result;
        while (m_ItemCount < count) new (&m_Items[m_ItemCount++]) T(fill);
        return HLY_SUCCESS;
    }
    HLY_Result Clear()
    {
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) m_Items[i].~T();
        m_ItemCount = 0;
        return HLY_SUCCESS;
    }
    bool Contains(const T& item) const
    {
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) {
            if (m_Items[i] == item) return true;
        }
        return false;
    }

    template <typename F> HLY_Result Apply(const F& function) const
    {
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) function(m_Items[i]);
        return HLY_SUCCESS;
    }
    template <typename F, typename P>
    HLY_Result ApplyUntil(const F& function, const P& predicate, bool* match = nullptr) const
    {
        if (match) *match = false;
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) {
            HLY_Result return_value = HLY_SUCCESS;
            if (predicate(function(m_Items[i]), return_value)) {
                if (match) *match = true;
                return return_value;
            }
        }
        return HLY_SUCCESS;
    }
    template <typename P> T* Find(const P& predicate, HLY_Ordinal skip = 0) const
    {
        for (HLY_Ordinal i = 0; i < m_ItemCount; i++) {
            if (predicate(m_Items[i])) {
                if (skip == 0) return &m_Items[i];
                --skip;
            }
        }
        return nullptr;
    }
    template <typename P> HLY_Result Find(const P& predicate, T& item, HLY_Ordinal skip = 0) const
    {
        T* found = Find(predicate, skip);
        if (found == nullptr) return HLY_ERROR_NO_SUCH_ITEM;
        item = *found;
        return HLY_SUCCESS;
    }

private:
    void CopyFrom(const HLY_Array<T>& other)
    {
        if (HLY_FAILED(Reserve(other.m_ItemCount))) return;
        for (HLY_Ordinal i = 0; i < other.m_ItemCount; i++) new (&m_Items[i]) T(other.m_Items[i]);
        m_ItemCount = other.m_ItemCount;
    }

    HLY_Cardinal m_Capacity;
    HLY_Cardinal m_ItemCount;
    T*           m_Items;
};

#endif // HLY_ARRAY_H
