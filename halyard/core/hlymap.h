#ifndef HLY_MAP_H
#define HLY_MAP_H

#include "hlylist.h"

/*----------------------------------------------------------------------
|   HLY_Map: a table with one entry per key, kept in insertion order.
|   Pointers stored as values are never deleted by the map.
+---------------------------------------------------------------------*/
template <typename K, typename V> class HLY_Map
{
public:
    class Entry
    {
    public:
        Entry(const K& key, const V& value) : m_Key(key), m_Value(value) {}
        const K& GetKey() const { return m_Key; }
        const V& GetValue() const { return m_Value; }
        V& GetValue() { return m_Value; }

    private:
        K m_Key;
        V m_Value;
        friend class HLY_Map<K, V>;
    };

    HLY_Map() {}
    HLY_Map(const HLY_Map<K, V>& other) { CopyFrom(other); }
    ~HLY_Map() { Clear(); }
    HLY_Map<K, V>& operator=(const HLY_Map<K, V>& other)
    {
        if (this != &other) {
            Clear();
            CopyFrom(other);
        }
        return *this;
    }

    // adds the entry, or replaces the value of an existing key
    HLY_Result Put(const K& key, const V& value)
    {
        Entry* entry = GetEntry(key);
        if (entry) {
            entry->m_Value = value;
            return HLY_SUCCESS;
        }
        entry = new (std::nothrow) Entry(key, value);
        if (entry == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        HLY_Result result = m_Entries.Add(entry);
        if (HLY_FAILED(result)) delete entry;
        return result;
    }
    // points value at the stored value of key
    HLY_Result Get(const K& key, V*& value) const
    {
        value = nullptr;
        Entry* entry = GetEntry(key);
        if (entry == nullptr) return HLY_ERROR_NO_SUCH_ITEM;
        value = &entry->m_Value;
        return HLY_SUCCESS;
    }
    bool HasKey(const K& key) const { return GetEntry(key) != nullptr; }
    HLY_Result Erase(const K& key)
    {
        for (typename HLY_List<Entry*>::Iterator it = m_Entries.GetFirstItem(); it; ++it) {
            if ((*it)->m_Key == key) {
                delete *it;
                return m_Entries.Erase(it);
            }
        }
        return HLY_ERROR_NO_SUCH_ITEM;
    }
    HLY_Result Clear()
    {
        m_Entries.Apply(HLY_ObjectDeleter());
        return m_Entries.Clear();
    }
    HLY_Cardinal GetEntryCount() const { return m_Entries.GetItemCount(); }
    const HLY_List<Entry*>& GetEntries() const { return m_Entries; }
    Entry* GetEntry(const K& key) const
    {
        for (typename HLY_List<Entry*>::Iterator it = m_Entries.GetFirstItem(); it; ++it) {
            if ((*it)->m_Key == key) return *it;
        }
        return nullptr;
    }

    // calls function(const Entry&) on every entry in order
    template <typename F> HLY_Result Apply(const F& function) const
    {
        for (typename HLY_List<Entry*>::Iterator it = m_Entries.GetFirstItem(); it; ++it) function(**it);
        return HLY_SUCCESS;
    }

private:
    void CopyFrom(const HLY_Map<K, V>& other)
    {
        for (typename HLY_List<Entry*>::Iterator it = other.m_Entries.GetFirstItem(); it; ++it) {
            Put((*it)->m_Key, (*it)->m_Value);
        }
    }

    HLY_List<Entry*> m_Entries;
};

#endif // HLY_MAP_H
