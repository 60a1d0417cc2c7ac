#ifndef CVD_MEDIA_CACHE_H
#define CVD_MEDIA_CACHE_H

#include <list>
#include <map>

#include "CvdMediaItem.h"
#include "hlystrings.h"
#include "hlythreads.h"

// entries (containers) kept: a library browsed from end to end must not
// keep every container it ever saw
#define CVD_MEDIA_CACHE_MAX_ENTRIES 512
// media objects kept over all entries (a few KB each): about 100 MB at most
#define CVD_MEDIA_CACHE_MAX_OBJECTS 50000

// what one value costs against CVD_MEDIA_CACHE_MAX_OBJECTS
template <typename T> inline HLY_Cardinal CVD_MediaCacheWeight(const T&) { return 1; }
inline HLY_Cardinal CVD_MediaCacheWeight(const CVD_MediaObjectListReference& list)
{
    return list.IsNull() ? 1 : list->GetItemCount() + 1;
}

/*----------------------------------------------------------------------
|   CVD_MediaCache: values per server and object, with optional tags.
|   Bounded: beyond the limits the oldest entries go first.
+---------------------------------------------------------------------*/
template <typename T, typename U = HLY_String> class CVD_MediaCache
{
public:
    explicit CVD_MediaCache(HLY_Cardinal max_entries = CVD_MEDIA_CACHE_MAX_ENTRIES,
                            HLY_Cardinal max_weight  = CVD_MEDIA_CACHE_MAX_OBJECTS)
        : m_MaxEntries(max_entries), m_MaxWeight(max_weight), m_Weight(0) {}

    static HLY_String GenerateKey(const char* uuid, const char* object_id)
    {
        HLY_String key = uuid;
        key += "/";
        key += object_id;
        return key;
    }

    HLY_Result Put(const char* uuid, const char* object_id, const T& value, const U* tag = nullptr)
    {
        if (uuid == nullptr || object_id == nullptr || *uuid == '\0') {
            return HLY_ERROR_INVALID_PARAMETERS;
        }
        HLY_String   key    = GenerateKey(uuid, object_id);
        HLY_Cardinal weight = CVD_MediaCacheWeight(value);
        // a value bigger than the whole cache is not kept at all
        if (weight > m_MaxWeight) return HLY_ERROR_OUT_OF_RANGE;
        HLY_AutoLock lock(m_Mutex);
        EraseLocked(key);
        while (!m_Order.empty() && (m_Order.size() >= m_MaxEntries || m_Weight + weight > m_MaxWeight)) {
            HLY_String oldest = m_Order.front();
            EraseLocked(oldest);
        }
        m_Items[key] = value;
        m_Order.push_back(key);
        m_Weight += weight;
        if (tag) m_Tags[key] = *tag;
        return HLY_SUCCESS;
    }

    HLY_Result Get(const char* uuid, const char* object_id, T& value, U* tag = nullptr)
    {
        HLY_String   key = GenerateKey(uuid, object_id);
        HLY_AutoLock lock(m_Mutex);
        auto         it = m_Items.find(key);
        if (it == m_Items.end()) return HLY_ERROR_NO_SUCH_ITEM;
        value = it->second;
        if (tag) {
            auto t = m_Tags.find(key);
            if (t != m_Tags.end()) *tag = t->second;
        }
        return HLY_SUCCESS;
    }

    // every entry of a server; with an empty UUID, every entry
    HLY_Result Clear(const char* uuid)
    {
        HLY_AutoLock lock(m_Mutex);
        if (uuid == nullptr || *uuid == '\0') {
            m_Items.clear();
            m_Tags.clear();
            m_Order.clear();
            m_Weight = 0;
            return HLY_SUCCESS;
        }
        HLY_String prefix = GenerateKey(uuid, "");
        for (auto it = m_Items.lower_bound(prefix); it != m_Items.end() && it->first.StartsWith(prefix);) {
            HLY_String key = (it++)->first;
            EraseLocked(key);
        }
        return HLY_SUCCESS;
    }

    HLY_Result Clear(const char* uuid, const char* object_id)
    {
        HLY_AutoLock lock(m_Mutex);
        return EraseLocked(GenerateKey(uuid, object_id)) ? HLY_SUCCESS : HLY_ERROR_NO_SUCH_ITEM;
    }

    HLY_Cardinal GetEntryCount()
    {
        HLY_AutoLock lock(m_Mutex);
        return (HLY_Cardinal)m_Items.size();
    }
    HLY_Cardinal GetWeight()
    {
        HLY_AutoLock lock(m_Mutex);
        return m_Weight;
    }

private:
    bool EraseLocked(const HLY_String& key)
    {
        auto it = m_Items.find(key);
        if (it == m_Items.end()) return false;
        m_Weight -= CVD_MediaCacheWeight(it->second);
        m_Items.erase(it);
        m_Tags.erase(key);
        for (auto o = m_Order.begin(); o != m_Order.end(); ++o) {
            if (*o == key) {
                m_Order.erase(o);
                break;
            }
        }
        return true;
    }

    HLY_Mutex                 m_Mutex;
    std::map<HLY_String, T>   m_Items;
    std::map<HLY_String, U>   m_Tags;
    std::list<HLY_String>     m_Order; // oldest first
    HLY_Cardinal              m_MaxEntries;
    HLY_Cardinal              m_MaxWeight;
    HLY_Cardinal              m_Weight;
};

#endif // CVD_MEDIA_CACHE_H
