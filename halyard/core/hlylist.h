#ifndef HLY_LIST_H
#define HLY_LIST_H

#include <new>
#include "hlycommon.h"

/*----------------------------------------------------------------------
|   HLY_List: a doubly linked list of values. Pointers stored in it are
|   never deleted by the list.
+---------------------------------------------------------------------*/
template <typename T> class HLY_List
{
public:
    class Iterator;
    class Item
    {
    public:
        explicit Item(const T& data) : m_Next(nullptr), m_Prev(nullptr), m_Data(data) {}

    private:
        Item* m_Next;
        Item* m_Prev;
        T     m_Data;
        friend class HLY_List<T>;
        friend class HLY_List<T>::Iterator;
    };

    class Iterator
    {
    public:
        Iterator() : m_Item(nullptr) {}
        explicit Iterator(Item* item) : m_Item(item) {}
        T& operator*() const { return m_Item->m_Data; }
        T* operator->() const { return &m_Item->m_Data; }
        Iterator& operator++() { m_Item = m_Item->m_Next; return *this; }
        Iterator operator++(int) { Iterator saved = *this; m_Item = m_Item->m_Next; return saved; }
        Iterator& operator--() { m_Item = m_Item->m_Prev; return *this; }
        Iterator operator--(int) { Iterator saved = *this; m_Item = m_Item->m_Prev; return saved; }
        operator bool() const { return m_Item != nullptr; }
        bool operator==(const Iterator& other) const { return m_Item == other.m_Item; }
        bool operator!=(const Iterator& other) const { return m_Item != other.m_Item; }

    private:
        Item* m_Item;
        friend class HLY_List<T>;
    };

    HLY_List() : m_ItemCount(0), m_Head(nullptr), m_Tail(nullptr) {}
    HLY_List(const HLY_List<T>& other) : m_ItemCount(0), m_Head(nullptr), m_Tail(nullptr)
    {
        for (Item* i = other.m_Head; i; i = i->m_Next) Add(i->m_Data);
    }
    ~HLY_List() { Clear(); }

    HLY_List<T>& operator=(const HLY_List<T>& other)
    {
        if (this != &other) {
            Clear();
            for (Item* i = other.m_Head; i; i = i->m_Next) Add(i->m_Data);
        }
        return *this;
    }
    bool operator==(const HLY_List<T>& other) const
    {
        if (m_ItemCount != other.m_ItemCount) return false;
        for (Item *a = m_Head, *b = other.m_Head; a; a = a->m_Next, b = b->m_Next) {
            if (!(a->m_Data == b->m_Data)) return false;
        }
        return true;
    }
    bool operator!=(const HLY_List<T>& other) const { return !(*this == other); }

    // appends at the tail
    HLY_Result Add(const T& data)
    {
        Item* item = new (std::nothrow) Item(data);
        if (item == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        Link(item, nullptr);
        return HLY_SUCCESS;
    }
    // inserts before where; an empty iterator appends at the tail
    HLY_Result Insert(Iterator where, const T& data)
    {
        Item* item = new (std::nothrow) Item(data);
        if (item == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        Link(item, where.m_Item);
        return HLY_SUCCESS;
    }
    // removes the first item equal to data, or every one when all is true
    HLY_Result Remove(const T& data, bool all = false)
    {
        // data may be an element of this list, which the first removal frees
        const T    value(data);
        bool       removed = false;
        for (Item* i = m_Head; i;) {
            Item* next = i->m_Next;
            if (i->m_Data == value) {
                Unlink(i);
                delete i;
                removed = true;
                if (!all) break;
            }
            i = next;
        }
        return removed ? HLY_SUCCESS : HLY_ERROR_NO_SUCH_ITEM;
    }
    // removes the item at an iterator; the iterator is invalid afterwards
    HLY_Result Erase(Iterator it)
    {
        if (!it) return HLY_ERROR_NO_SUCH_ITEM;
        Unlink(it.m_Item);
        delete it.m_Item;
        return HLY_SUCCESS;
    }
    HLY_Result PopHead(T& data)
    {
        if (m_Head == nullptr) return HLY_ERROR_LIST_EMPTY;
        Item* head = m_Head;
        data = head->m_Data;
        Unlink(head);
        delete head;
        return HLY_SUCCESS;
    }
    HLY_Result Clear()
    {
        for (Item* i = m_Head; i;) {
            Item* next = i->m_Next;
            delete i;
            i = next;
        }
        m_Head = m_Tail = nullptr;
        m_ItemCount = 0;
        return HLY_SUCCESS;
    }

    HLY_Cardinal GetItemCount() const { return m_ItemCount; }
    Iterator GetFirstItem() const { return Iterator(m_Head); }
    Iterator GetLastItem() const { return Iterator(m_Tail); }
    Iterator GetItem(HLY_Ordinal index) const
    {
        if (index >= m_ItemCount) return Iterator();
        Item* i = m_Head;
        while (index--) i = i->m_Next;
        return Iterator(i);
    }
    HLY_Result Get(HLY_Ordinal index, T& data) const
    {
        Iterator it = GetItem(index);
        if (!it) return HLY_ERROR_NO_SUCH_ITEM;
        data = *it;
        return HLY_SUCCESS;
    }
    bool Contains(const T& data) const
    {
        for (Item* i = m_Head; i; i = i->m_Next) {
            if (i->m_Data == data) return true;
        }
        return false;
    }

    // calls function(element) on every element in order
    template <typename F> HLY_Result Apply(const F& function) const
    {
        for (Item* i = m_Head; i;) {
            Item* next = i->m_Next; // the function may delete the object an element points to
            function(i->m_Data);
            i = next;
        }
        return HLY_SUCCESS;
    }
    // calls function(element) in order until predicate(result, return_value) holds
    template <typename F, typename P>
    HLY_Result ApplyUntil(const F& function, const P& predicate, bool* match = nullptr) const
    {
        if (match) *match = false;
        for (Item* i = m_Head; i;) {
            Item*      next = i->m_Next;
            HLY_Result return_value = HLY_SUCCESS;
            if (predicate(function(i->m_Data), return_value)) {
                if (match) *match = true;
                return return_value;
            }
            i = next;
        }
        return HLY_SUCCESS;
    }
    // the first element, after skipping n matches, for which predicate(element) holds
    template <typename P> Iterator Find(const P& predicate, HLY_Ordinal skip = 0) const
    {
        for (Item* i = m_Head; i; i = i->m_Next) {
            if (predicate(i->m_Data)) {
                if (skip == 0) return Iterator(i);
                --skip;
            }
        }
        return Iterator();
    }
    template <typename P> HLY_Result Find(const P& predicate, T& data, HLY_Ordinal skip = 0) const
    {
        Iterator it = Find(predicate, skip);
        if (!it) return HLY_ERROR_NO_SUCH_ITEM;
        data = *it;
        return HLY_SUCCESS;
    }

private:
    void Link(Item* item, Item* before)
    {
        if (before == nullptr) {
            item->m_Prev = m_Tail;
            item->m_Next = nullptr;
            if (m_Tail) m_Tail->m_Next = item; else m_Head = item;
            m_Tail = item;
        } else {
            item->m_Next = before;
            item->m_Prev = before->m_Prev;
            if (before->m_Prev) before->m_Prev->m_Next = item; else m_Head = item;
            before->m_Prev = item;
        }
        ++m_ItemCount;
    }
    void Unlink(Item* item)
    {
        if (item->m_Prev) item->m_Prev->m_Next = item->m_Next; else m_Head = item->m_Next;
        if (item->m_Next) item->m_Next->m_Prev = item->m_Prev; else m_Tail = item->m_Prev;
        item->m_Next = item->m_Prev = nullptr;
        --m_ItemCount;
    }

    HLY_Cardinal m_ItemCount;
    Item*        m_Head;
    Item*        m_Tail;
};

#endif // HLY_LIST_H
