#include "hlyxml.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("halyard.xml")

/*----------------------------------------------------------------------
|   character classes
+---------------------------------------------------------------------*/
namespace {

constexpr unsigned char CharClassOf(unsigned int c)
{
    // not allowed at all
    if (c <= 8 || c == 11 || c == 12 || (c >= 14 && c <= 31)) return 0;
    // allowed, but never raw inside values or markup
    if (c == '&' || c == '<') return HLY_XML_CHAR_ALLOWED;
    if (c == 9 || c == 10 || c == 13 || c == 32) {
        return HLY_XML_CHAR_ALLOWED | HLY_XML_CHAR_WHITESPACE | HLY_XML_CHAR_CONTENT | HLY_XML_CHAR_VALUE;
    }
    if (c == '-' || c == '.' || (c >= '0' && c <= '9') || c == ':' || (c >= 'A' && c <= 'Z') || c == '_' ||
        (c >= 'a' && c <= 'z') || (c >= 192 && c <= 214) || (c >= 216 && c <= 246) || c >= 248) {
        return HLY_XML_CHAR_ALLOWED | HLY_XML_CHAR_NAME | HLY_XML_CHAR_CONTENT | HLY_XML_CHAR_VALUE;
    }
    return HLY_XML_CHAR_ALLOWED | HLY_XML_CHAR_CONTENT | HLY_XML_CHAR_VALUE;
}

// Runs of bytes that a state treats all alike (appended or skipped) are
// taken in one step. None of these sets holds NUL or CR, so the input
// normalisation has nothing to do inside a run.
enum RunClass {
    RUN_CONTENT  = 0x001, // CONTENT: appended to the text
    RUN_VALUE    = 0x002, // VALUE: appended to the value (no white space but the space, no quotes)
    RUN_NAME     = 0x004, // NAME: appended to the name
    RUN_SPACE    = 0x008, // WHITESPACE, VALUE_START: skipped
    RUN_COMMENT  = 0x010, // COMMENT: skipped
    RUN_PI       = 0x020, // PROCESSING_INSTRUCTION: skipped
    RUN_BRACKET  = 0x040, // CDATA (appended) and DTD_INTERNAL (skipped): all but ']'
    RUN_SPECIAL  = 0x080, // SPECIAL: skipped
    RUN_DTD      = 0x100, // DTD: skipped
    RUN_ENTITY   = 0x200  // ENTITY_REF: appended to the entity name
};

constexpr unsigned short RunClassOf(unsigned int c)
{
    if (c == 0 || c == '\r') return 0;
    unsigned char  cls = CharClassOf(c);
    unsigned short run = 0;
    if (c != '<' && c != '&') run |= RUN_CONTENT;
    if ((cls & HLY_XML_CHAR_VALUE) && (c == ' ' || !(cls & HLY_XML_CHAR_WHITESPACE)) && c != '"' && c != '\'') {
        run |= RUN_VALUE;
    }
    if (cls & HLY_XML_CHAR_NAME) run |= RUN_NAME | RUN_ENTITY;
    if (c == '#') run |= RUN_ENTITY;
    if (cls & HLY_XML_CHAR_WHITESPACE) run |= RUN_SPACE;
    if ((cls & HLY_XML_CHAR_ALLOWED) && c != '-') run |= RUN_COMMENT;
    if (c != '?') run |= RUN_PI;
    if (c != ']') run |= RUN_BRACKET;
    if (c != '>') run |= RUN_SPECIAL;
    if (c != '>' && c != '[') run |= RUN_DTD;
    return run;
}

template <typename T, T (*F)(unsigned int)> struct ByteTable
{
    T m_Values[256];
    constexpr ByteTable() : m_Values()
    {
        for (unsigned int i = 0; i < 256; ++i) m_Values[i] = F(i);
    }
};

constexpr ByteTable<unsigned char, CharClassOf>   CharClasses;
constexpr ByteTable<unsigned short, RunClassOf>   RunClasses;

inline bool IsWhitespace(unsigned char c) { return (CharClasses.m_Values[c] & HLY_XML_CHAR_WHITESPACE) != 0; }
inline bool IsNameChar(unsigned char c) { return (CharClasses.m_Values[c] & HLY_XML_CHAR_NAME) != 0; }
inline bool IsAllowed(unsigned char c) { return (CharClasses.m_Values[c] & HLY_XML_CHAR_ALLOWED) != 0; }
inline bool IsValueChar(unsigned char c) { return (CharClasses.m_Values[c] & HLY_XML_CHAR_VALUE) != 0; }

// exactly the bytes 9, 10, 13 and 32
bool IsOnlyWhitespace(const char* text, HLY_Size length)
{
    for (HLY_Size i = 0; i < length; ++i) {
        char c = text[i];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
}

const char* NonNull(const char* s) { return s ? s : ""; }

// The ':' that ends the prefix of a qualified name read from a document, or
// null. A prefix is never empty: a name that starts with ':' is all local
// name, so that ":" or ":a" is written back as it was read and not as an
// empty or different name.
inline const char* FindPrefixEnd(const char* name, HLY_Size length)
{
    if (length == 0 || name[0] == ':') return nullptr;
    return static_cast<const char*>(memchr(name, ':', length));
}

// end of a run of bytes of one run class
inline const unsigned char* SkipRun(const unsigned char* p, const unsigned char* end, unsigned short run)
{
    while (end - p >= 4) {
        if (!(RunClasses.m_Values[p[0]] & run)) return p;
        if (!(RunClasses.m_Values[p[1]] & run)) return p + 1;
        if (!(RunClasses.m_Values[p[2]] & run)) return p + 2;
        if (!(RunClasses.m_Values[p[3]] & run)) return p + 3;
        p += 4;
    }
    while (p < end && (RunClasses.m_Values[*p] & run)) ++p;
    return p;
}

} // namespace

/*----------------------------------------------------------------------
|   block pool of nodes and attributes
|
|   A parsed tree is hundreds of thousands of small objects made in one
|   go and usually dropped in one go. Taken from the general heap they end
|   up scattered, and building and freeing a large tree is then dominated
|   by cache misses. Here they are carved in address order from 64 KiB
|   slabs, one set of slabs per size class; a slab whose blocks are all
|   free again is released (one spare is kept) or, if it is the one being
|   carved, starts over from its beginning. Each block carries a pointer
|   to its slab, so any thread may free any block; a short spin lock per
|   size class guards the slabs. Address-sanitizer builds use the plain
|   heap so that they keep seeing every object.
+---------------------------------------------------------------------*/
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HLY_XML_HEAP_ONLY
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(HLY_XML_HEAP_ONLY)
#define HLY_XML_USE_BLOCK_POOL 0
#else
#define HLY_XML_USE_BLOCK_POOL 1
#endif

#if HLY_XML_USE_BLOCK_POOL

constexpr size_t BLOCK_POOL_SLAB_SIZE   = 65536;
constexpr size_t BLOCK_POOL_GRANULARITY = 16;
constexpr size_t BLOCK_POOL_HEADER_SIZE = 8;  // the slab pointer in front of each object
constexpr size_t BLOCK_POOL_CLASS_COUNT = 16; // objects up to 16 x 16 - 8 bytes

class BlockPool;

struct Slab
{
    BlockPool* m_Pool;
    Slab*      m_Previous;  // links in the pool's list of slabs with free blocks
    Slab*      m_Next;
    void*      m_FreeList;  // blocks given back, to be used before carving on
    size_t     m_Live;      // blocks handed out and not yet given back
    size_t     m_Carved;    // blocks carved from the start so far
    size_t     m_Capacity;
    bool       m_Listed;
};

// the data of a slab starts 8 bytes off a 16-byte boundary, so that every
// object (after its 8-byte header) is 16-byte aligned like the heap's
const size_t BLOCK_POOL_DATA_OFFSET =
    ((sizeof(Slab) + BLOCK_POOL_HEADER_SIZE + BLOCK_POOL_GRANULARITY - 1) / BLOCK_POOL_GRANULARITY) *
        BLOCK_POOL_GRANULARITY - BLOCK_POOL_HEADER_SIZE;

class SpinLock
{
public:
    void Lock()
    {
        for (unsigned int spins = 0; m_Locked.exchange(true, std::memory_order_acquire); ++spins) {
            while (m_Locked.load(std::memory_order_relaxed)) {
                if (++spins > 64) {
                    std::this_thread::yield();
                    spins = 0;
                }
            }
        }
    }
    void Unlock() { m_Locked.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_Locked{false};
};

class BlockPool
{
public:
    explicit constexpr BlockPool(size_t block_size) : m_BlockSize(block_size) {}

    void* Allocate()
    {
        m_Lock.Lock();
        Slab* slab = nullptr;
        for (;;) {
            slab = m_Current;
            if (slab && (slab->m_FreeList || slab->m_Carved < slab->m_Capacity)) break;
            // the slab being carved is never in the list; a full one leaves
            // the pool's sight until one of its blocks comes back
            if (m_Available) {
                slab = m_Available;
                Unlist(slab);
                m_Current = slab;
                break;
            }
            if (m_Spare) {
                slab      = m_Spare;
                m_Spare   = nullptr;
                m_Current = slab;
                break;
            }
            // no lock held while the heap is asked; the new slab becomes the
            // spare and the state is looked at again, as another thread may
            // have changed it meanwhile
            m_Lock.Unlock();
            Slab* fresh = static_cast<Slab*>(malloc(BLOCK_POOL_SLAB_SIZE));
            if (fresh == nullptr) return nullptr;
            Reset(fresh);
            m_Lock.Lock();
            if (m_Spare == nullptr) {
                m_Spare = fresh;
            } else {
                m_Lock.Unlock();
                free(fresh);
                m_Lock.Lock();
            }
        }
        char* block;
        if (slab->m_FreeList) {
            block            = static_cast<char*>(slab->m_FreeList);
            slab->m_FreeList = *reinterpret_cast<void**>(block);
        } else {
            block = reinterpret_cast<char*>(slab) + BLOCK_POOL_DATA_OFFSET + slab->m_Carved * m_BlockSize;
            ++slab->m_Carved;
        }
        ++slab->m_Live;
        m_Lock.Unlock();
        *reinterpret_cast<Slab**>(block) = slab;
        return block + BLOCK_POOL_HEADER_SIZE;
    }

    void Free(Slab* slab, char* block)
    {
        Slab* release = nullptr;
        m_Lock.Lock();
        *reinterpret_cast<void**>(block) = slab->m_FreeList;
        slab->m_FreeList                 = block;
        if (--slab->m_Live == 0) {
            if (slab == m_Current) {
                // carve it again from the start: address order for the next tree
                Reset(slab);
            } else {
                if (slab->m_Listed) Unlist(slab);
                if (m_Spare == nullptr) {
                    Reset(slab);
                    m_Spare = slab;
                } else {
                    release = slab;
                }
            }
        } else if (!slab->m_Listed && slab != m_Current) {
            slab->m_Listed   = true;
            slab->m_Previous = nullptr;
            slab->m_Next     = m_Available;
            if (m_Available) m_Available->m_Previous = slab;
            m_Available = slab;
        }
        m_Lock.Unlock();
        free(release);
    }

private:
    void Reset(Slab* slab)
    {
        slab->m_Pool     = this;
        slab->m_Previous = slab->m_Next = nullptr;
        slab->m_FreeList = nullptr;
        slab->m_Live     = 0;
        slab->m_Carved   = 0;
        slab->m_Capacity = (BLOCK_POOL_SLAB_SIZE - BLOCK_POOL_DATA_OFFSET) / m_BlockSize;
        slab->m_Listed   = false;
    }
    void Unlist(Slab* slab)
    {
        if (slab->m_Previous) slab->m_Previous->m_Next = slab->m_Next; else m_Available = slab->m_Next;
        if (slab->m_Next) slab->m_Next->m_Previous = slab->m_Previous;
        slab->m_Previous = slab->m_Next = nullptr;
        slab->m_Listed   = false;
    }

    const size_t m_BlockSize;
    SpinLock     m_Lock;
    Slab*        m_Current   = nullptr;
    Slab*        m_Available = nullptr; // slabs with free blocks, other than the current one
    Slab*        m_Spare     = nullptr; // one empty slab kept for the next tree
};

// constant-initialised, so usable from any static constructor, and with
// nothing to destroy at exit, so trees still alive then can be freed
BlockPool BlockPools[BLOCK_POOL_CLASS_COUNT] = {
    BlockPool(1 * BLOCK_POOL_GRANULARITY),  BlockPool(2 * BLOCK_POOL_GRANULARITY),
    BlockPool(3 * BLOCK_POOL_GRANULARITY),  BlockPool(4 * BLOCK_POOL_GRANULARITY),
    BlockPool(5 * BLOCK_POOL_GRANULARITY),  BlockPool(6 * BLOCK_POOL_GRANULARITY),
    BlockPool(7 * BLOCK_POOL_GRANULARITY),  BlockPool(8 * BLOCK_POOL_GRANULARITY),
    BlockPool(9 * BLOCK_POOL_GRANULARITY),  BlockPool(10 * BLOCK_POOL_GRANULARITY),
    BlockPool(11 * BLOCK_POOL_GRANULARITY), BlockPool(12 * BLOCK_POOL_GRANULARITY),
    BlockPool(13 * BLOCK_POOL_GRANULARITY), BlockPool(14 * BLOCK_POOL_GRANULARITY),
    BlockPool(15 * BLOCK_POOL_GRANULARITY), BlockPool(16 * BLOCK_POOL_GRANULARITY)};

void* PoolAllocate(size_t size)
{
    size_t index = (size + BLOCK_POOL_HEADER_SIZE + BLOCK_POOL_GRANULARITY - 1) / BLOCK_POOL_GRANULARITY - 1;
    void*  object;
    if (index < BLOCK_POOL_CLASS_COUNT) {
        object = BlockPools[index].Allocate();
    } else {
        // larger (derived) objects: the heap, marked by a null slab
        char* block = static_cast<char*>(malloc(size + 2 * BLOCK_POOL_HEADER_SIZE));
        if (block == nullptr) throw std::bad_alloc();
        *reinterpret_cast<Slab**>(block + BLOCK_POOL_HEADER_SIZE) = nullptr;
        object = block + 2 * BLOCK_POOL_HEADER_SIZE;
    }
    if (object == nullptr) throw std::bad_alloc();
    return object;
}

void PoolFree(void* object)
{
    if (object == nullptr) return;
    char* block = static_cast<char*>(object) - BLOCK_POOL_HEADER_SIZE;
    Slab* slab  = *reinterpret_cast<Slab**>(block);
    if (slab == nullptr) {
        free(block - BLOCK_POOL_HEADER_SIZE);
        return;
    }
    slab->m_Pool->Free(slab, block);
}

#else

void* PoolAllocate(size_t size) { return ::operator new(size); }
void PoolFree(void* object) { ::operator delete(object); }

#endif

} // namespace

void* HLY_XmlNode::operator new(size_t size) { return PoolAllocate(size); }
void HLY_XmlNode::operator delete(void* block) { PoolFree(block); }
void* HLY_XmlAttribute::operator new(size_t size) { return PoolAllocate(size); }
void HLY_XmlAttribute::operator delete(void* block) { PoolFree(block); }

/*----------------------------------------------------------------------
|   HLY_XmlAttribute
+---------------------------------------------------------------------*/
HLY_XmlAttribute::HLY_XmlAttribute(const char* name, const char* value) : m_Value(value)
{
    name            = NonNull(name);
    const char* sep = strchr(name, ':');
    if (sep) {
        m_Prefix.Assign(name, (HLY_Size)(sep - name));
        m_Name = sep + 1;
    } else {
        m_Name = name;
    }
}

HLY_XmlAttribute::HLY_XmlAttribute(const char* prefix, const char* name, const char* value)
    : m_Prefix(prefix), m_Name(name), m_Value(value)
{
}

/*----------------------------------------------------------------------
|   HLY_XmlNamespaceMap
+---------------------------------------------------------------------*/
struct HLY_XmlNamespaceMap::Index
{
    std::unordered_map<std::string, Entry*> m_Entries;
};

// below this many entries a walk through the list is quicker than hashing
#define HLY_XML_NAMESPACE_MAP_INDEX_THRESHOLD 8

HLY_XmlNamespaceMap::~HLY_XmlNamespaceMap()
{
    delete m_Index;
    m_Entries.Apply(HLY_ObjectDeleter());
}

HLY_XmlNamespaceMap::Entry* HLY_XmlNamespaceMap::Find(const char* prefix) const
{
    if (m_Index) {
        auto found = m_Index->m_Entries.find(prefix);
        return found == m_Index->m_Entries.end() ? nullptr : found->second;
    }
    for (HLY_List<Entry*>::Iterator it = m_Entries.GetFirstItem(); it; ++it) {
        if ((*it)->m_Prefix == prefix) return *it;
    }
    return nullptr;
}

HLY_Result HLY_XmlNamespaceMap::SetNamespaceUri(const char* prefix, const char* uri)
{
    prefix       = NonNull(prefix);
    Entry* entry = Find(prefix);
    if (entry) {
        entry->m_Uri = NonNull(uri);
        return HLY_SUCCESS;
    }
    entry = new Entry(prefix, NonNull(uri));
    HLY_CHECK(m_Entries.Add(entry));
    if (m_Index) {
        m_Index->m_Entries.emplace(prefix, entry);
    } else if (m_Entries.GetItemCount() > HLY_XML_NAMESPACE_MAP_INDEX_THRESHOLD) {
        m_Index = new Index();
        for (HLY_List<Entry*>::Iterator it = m_Entries.GetFirstItem(); it; ++it) {
            m_Index->m_Entries.emplace((*it)->m_Prefix.GetChars(), *it);
        }
    }
    return HLY_SUCCESS;
}

const HLY_String* HLY_XmlNamespaceMap::GetNamespaceUri(const char* prefix) const
{
    Entry* entry = Find(NonNull(prefix));
    return entry ? &entry->m_Uri : nullptr;
}

/*----------------------------------------------------------------------
|   HLY_XmlElementNode
+---------------------------------------------------------------------*/
HLY_XmlElementNode::HLY_XmlElementNode(const char* tag)
    : HLY_XmlNode(ELEMENT), m_NamespaceMap(nullptr), m_NamespaceParent(nullptr)
{
    tag             = NonNull(tag);
    const char* sep = strchr(tag, ':');
    if (sep) {
        m_Prefix.Assign(tag, (HLY_Size)(sep - tag));
        m_Tag = sep + 1;
    } else {
        m_Tag = tag;
    }
}

HLY_XmlElementNode::HLY_XmlElementNode(const char* prefix, const char* tag)
    : HLY_XmlNode(ELEMENT), m_Prefix(prefix), m_Tag(tag), m_NamespaceMap(nullptr), m_NamespaceParent(nullptr)
{
}

HLY_XmlElementNode::HLY_XmlElementNode(const char* qualified, HLY_Size length)
    : HLY_XmlNode(ELEMENT), m_NamespaceMap(nullptr), m_NamespaceParent(nullptr)
{
    const char* sep = FindPrefixEnd(qualified, length);
    if (sep) {
        HLY_Size prefix_length = (HLY_Size)(sep - qualified);
        m_Prefix.Assign(qualified, prefix_length);
        m_Tag.Assign(sep + 1, length - prefix_length - 1);
    } else {
        m_Tag.Assign(qualified, length);
    }
}

HLY_XmlElementNode::~HLY_XmlElementNode()
{
    // The subtree is taken apart from the bottom, going down and back up
    // through the parent links: each element is deleted only once it has no
    // children left, so neither the call stack nor any side storage grows
    // with the depth of the tree. Everything is freed in the reverse of the
    // order the parser allocated it (last child first), which lets the
    // allocator hand the memory out again in address order to the next tree.
    HLY_XmlElementNode* current = this;
    for (;;) {
        HLY_List<HLY_XmlNode*>::Iterator last = current->m_Children.GetLastItem();
        if (last) {
            HLY_XmlNode* child = *last;
            current->m_Children.Erase(last);
            HLY_XmlElementNode* element = child->AsElementNode();
            if (element && element->m_Children.GetItemCount()) {
                // the way back up; set here rather than trusted, as it is
                // a public link that a caller may have changed
                element->m_Parent = current;
                current           = element;
            } else {
                delete child;
            }
            continue;
        }
        if (current == this) break;
        HLY_XmlElementNode* parent = static_cast<HLY_XmlElementNode*>(current->m_Parent);
        delete current;
        current = parent;
    }
    for (HLY_List<HLY_XmlAttribute*>::Iterator last = m_Attributes.GetLastItem(); last;
         last = m_Attributes.GetLastItem()) {
        HLY_XmlAttribute* attribute = *last;
        m_Attributes.Erase(last);
        delete attribute;
    }
    delete m_NamespaceMap;
}

void HLY_XmlElementNode::SetParent(HLY_XmlNode* parent)
{
    m_Parent                          = parent;
    HLY_XmlElementNode* parent_element = parent ? parent->AsElementNode() : nullptr;
    HLY_XmlElementNode* namespace_parent = nullptr;
    if (parent_element) {
        namespace_parent = parent_element->m_NamespaceMap ? parent_element : parent_element->m_NamespaceParent;
    }
    if (namespace_parent != m_NamespaceParent) {
        m_NamespaceParent = namespace_parent;
        RelinkNamespaceMaps();
    }
}

void HLY_XmlElementNode::RelinkNamespaceMaps()
{
    std::vector<HLY_XmlElementNode*> pending;
    pending.push_back(this);
    while (!pending.empty()) {
        HLY_XmlElementNode* element = pending.back();
        pending.pop_back();
        HLY_XmlElementNode* namespace_parent = element->m_NamespaceMap ? element : element->m_NamespaceParent;
        for (HLY_List<HLY_XmlNode*>::Iterator it = element->m_Children.GetFirstItem(); it; ++it) {
            HLY_XmlElementNode* child = (*it)->AsElementNode();
            if (child == nullptr) continue;
            child->m_NamespaceParent = namespace_parent;
            pending.push_back(child);
        }
    }
}

HLY_Result HLY_XmlElementNode::AddChild(HLY_XmlNode* child)
{
    HLY_CHECK_POINTER_WARNING(child);
    if (child->GetParent()) return HLY_ERROR_INVALID_PARAMETERS;
    for (const HLY_XmlNode* ancestor = this; ancestor; ancestor = ancestor->GetParent()) {
        if (ancestor == child) return HLY_ERROR_INVALID_PARAMETERS;
    }
    child->SetParent(this);
    return m_Children.Add(child);
}

void HLY_XmlElementNode::AppendNewChild(HLY_XmlElementNode* child)
{
    child->m_Parent          = this;
    child->m_NamespaceParent = m_NamespaceMap ? this : m_NamespaceParent;
    m_Children.Add(child);
}

HLY_XmlElementNode* HLY_XmlElementNode::GetChild(const char* tag, const char* namespc, HLY_Ordinal n) const
{
    if (tag == nullptr) return nullptr;
    bool any_namespace = namespc && strcmp(namespc, HLY_XML_ANY_NAMESPACE) == 0;
    bool no_namespace  = namespc == nullptr || namespc[0] == '\0';
    for (HLY_List<HLY_XmlNode*>::Iterator it = m_Children.GetFirstItem(); it; ++it) {
        HLY_XmlElementNode* child = (*it)->AsElementNode();
        if (child == nullptr || child->m_Tag != tag) continue;
        bool match = any_namespace;
        if (!match) {
            const HLY_String* uri = child->GetNamespace();
            match = no_namespace ? uri == nullptr : (uri && *uri == namespc);
        }
        if (match) {
            if (n == 0) return child;
            --n;
        }
    }
    return nullptr;
}

HLY_Result HLY_XmlElementNode::AddAttribute(const char* name, const char* value)
{
    if (name == nullptr || value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return m_Attributes.Add(new HLY_XmlAttribute(name, value));
}

HLY_Result HLY_XmlElementNode::SetAttribute(const char* prefix, const char* name, const char* value)
{
    if (name == nullptr || value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    prefix = NonNull(prefix);
    for (HLY_List<HLY_XmlAttribute*>::Iterator it = m_Attributes.GetFirstItem(); it; ++it) {
        HLY_XmlAttribute* attribute = *it;
        if (attribute->m_Prefix == prefix && attribute->m_Name == name) {
            attribute->m_Value = value;
            return HLY_SUCCESS;
        }
    }
    return m_Attributes.Add(new HLY_XmlAttribute(prefix, name, value));
}

HLY_Result HLY_XmlElementNode::RemoveAttribute(const char* prefix, const char* name)
{
    if (name == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    prefix = NonNull(prefix);
    for (HLY_List<HLY_XmlAttribute*>::Iterator it = m_Attributes.GetFirstItem(); it; ++it) {
        HLY_XmlAttribute* attribute = *it;
        if (attribute->m_Prefix == prefix && attribute->m_Name == name) {
            m_Attributes.Erase(it);
            delete attribute;
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_NO_SUCH_ITEM;
}

const HLY_String* HLY_XmlElementNode::GetAttribute(const char* name, const char* namespc) const
{
    if (name == nullptr) return nullptr;
    bool any_namespace = namespc && strcmp(namespc, HLY_XML_ANY_NAMESPACE) == 0;
    bool no_namespace  = namespc == nullptr || namespc[0] == '\0';
    for (HLY_List<HLY_XmlAttribute*>::Iterator it = m_Attributes.GetFirstItem(); it; ++it) {
        const HLY_XmlAttribute* attribute = *it;
        if (attribute->m_Name != name) continue;
        if (any_namespace) return &attribute->m_Value;
        if (no_namespace) {
            if (attribute->m_Prefix.IsEmpty()) return &attribute->m_Value;
            continue;
        }
        if (attribute->m_Prefix.IsEmpty()) continue;
        const HLY_String* uri = GetNamespaceUri(attribute->m_Prefix);
        if (uri && *uri == namespc) return &attribute->m_Value;
    }
    return nullptr;
}

HLY_Result HLY_XmlElementNode::AddText(const char* text)
{
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_XmlTextNode* node = new HLY_XmlTextNode(text);
    node->SetParent(this);
    return m_Children.Add(node);
}

const HLY_String* HLY_XmlElementNode::GetText(HLY_Ordinal n) const
{
    for (HLY_List<HLY_XmlNode*>::Iterator it = m_Children.GetFirstItem(); it; ++it) {
        const HLY_XmlTextNode* text = (*it)->AsTextNode();
        if (text == nullptr) continue;
        if (n == 0) return &text->GetString();
        --n;
    }
    return nullptr;
}

HLY_Result HLY_XmlElementNode::SetNamespaceUri(const char* prefix, const char* uri)
{
    if (m_NamespaceMap == nullptr) {
        m_NamespaceMap = new HLY_XmlNamespaceMap();
        RelinkNamespaceMaps();
    }
    return m_NamespaceMap->SetNamespaceUri(prefix, uri);
}

const HLY_String* HLY_XmlElementNode::GetNamespaceUri(const char* prefix) const
{
    prefix = NonNull(prefix);
    for (const HLY_XmlElementNode* element = this; element; element = element->m_NamespaceParent) {
        if (element->m_NamespaceMap == nullptr) continue;
        const HLY_String* uri = element->m_NamespaceMap->GetNamespaceUri(prefix);
        if (uri) return uri->IsEmpty() ? nullptr : uri;
    }
    if (strcmp(prefix, "xml") == 0) {
        static const HLY_String xml_namespace(HLY_XML_NAMESPACE_URI_XML);
        return &xml_namespace;
    }
    return nullptr;
}

/*----------------------------------------------------------------------
|   HLY_XmlAccumulator
+---------------------------------------------------------------------*/
HLY_XmlAccumulator::~HLY_XmlAccumulator()
{
    free(m_Buffer);
}

HLY_Result HLY_XmlAccumulator::Allocate(HLY_LargeSize size)
{
    if (size <= m_Allocated) return HLY_SUCCESS;
    HLY_LargeSize allocated = m_Allocated ? m_Allocated : 32;
    while (allocated < size) allocated *= 2;
    // sizes are 32-bit: a buffer that would pass that cannot be had
    if (allocated > 0xFFFFFFFFu) return HLY_ERROR_OUT_OF_MEMORY;
    char* buffer = static_cast<char*>(realloc(m_Buffer, (size_t)allocated));
    if (buffer == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
    m_Buffer    = buffer;
    m_Allocated = (HLY_Size)allocated;
    return HLY_SUCCESS;
}

HLY_Result HLY_XmlAccumulator::Append(const char* s, HLY_Size size)
{
    if (size == 0) return HLY_SUCCESS;
    if ((HLY_LargeSize)m_Valid + size + 1 > m_Allocated) {
        HLY_Result result = Allocate((HLY_LargeSize)m_Valid + size + 1);
        if (HLY_FAILED(result)) return result;
    }
    memcpy(m_Buffer + m_Valid, s, size);
    m_Valid += size;
    m_Buffer[m_Valid] = '\0';
    return HLY_SUCCESS;
}

HLY_Result HLY_XmlAccumulator::Append(const char* s)
{
    return s ? Append(s, (HLY_Size)strlen(s)) : HLY_SUCCESS;
}

HLY_Result HLY_XmlAccumulator::AppendUTF8(HLY_UInt32 c)
{
    char bytes[4];
    if (c < 0x80) {
        bytes[0] = (char)c;
        return Append(bytes, 1);
    }
    if (c < 0x800) {
        bytes[0] = (char)(0xC0 | (c >> 6));
        bytes[1] = (char)(0x80 | (c & 0x3F));
        return Append(bytes, 2);
    }
    if (c < 0x10000) {
        bytes[0] = (char)(0xE0 | (c >> 12));
        bytes[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = (char)(0x80 | (c & 0x3F));
        return Append(bytes, 3);
    }
    if (c < 0x110000) {
        bytes[0] = (char)(0xF0 | (c >> 18));
        bytes[1] = (char)(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = (char)(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = (char)(0x80 | (c & 0x3F));
        return Append(bytes, 4);
    }
    return HLY_SUCCESS;
}

bool HLY_XmlAccumulator::Equals(const char* s, HLY_Size size) const
{
    return m_Valid == size && (size == 0 || memcmp(m_Buffer, s, size) == 0);
}

/*----------------------------------------------------------------------
|   HLY_XmlProcessor
+---------------------------------------------------------------------*/
HLY_XmlProcessor::HLY_XmlProcessor(HLY_XmlParser* parser)
    : m_Parser(parser),
      m_State(STATE_IN_INIT),
      m_Context(CONTEXT_NONE),
      m_SkipNewline(false),
      m_Finished(false),
      m_Position(0)
{
}

void HLY_XmlProcessor::Reset()
{
    m_State       = STATE_IN_INIT;
    m_Context     = CONTEXT_NONE;
    m_SkipNewline = false;
    m_Finished    = false;
    m_Position    = 0;
    m_Name.Reset();
    m_Value.Reset();
    m_Text.Reset();
    m_Entity.Reset();
}

HLY_Result HLY_XmlProcessor::FlushPendingText()
{
    if (m_Text.GetSize() == 0) return HLY_SUCCESS;
    HLY_Result result = m_Parser->OnCharacterData(m_Text.GetString(), m_Text.GetSize());
    m_Text.Reset();
    return result;
}

HLY_Result HLY_XmlProcessor::ResolveEntityReference(HLY_XmlAccumulator& target)
{
    const char* entity = m_Entity.GetString();
    HLY_Size    length = m_Entity.GetSize();
    if (m_Entity.Equals("lt", 2)) return target.Append('<');
    if (m_Entity.Equals("gt", 2)) return target.Append('>');
    if (m_Entity.Equals("amp", 3)) return target.Append('&');
    if (m_Entity.Equals("quot", 4)) return target.Append('"');
    if (m_Entity.Equals("apos", 4)) return target.Append('\'');
    if (length == 0 || entity[0] != '#') {
        // unknown entities are kept by name and are no error
        return target.Append(entity, length);
    }

    const char* digits = entity + 1;
    unsigned    base   = 10;
    if (*digits == 'x') {
        base = 16;
        ++digits;
    }
    HLY_UInt32 value    = 0;
    bool       too_big  = false;
    for (; *digits; ++digits) {
        int  c     = (unsigned char)*digits;
        int  digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            target.Append(entity, length);
            return HLY_ERROR_INVALID_SYNTAX;
        }
        // saturate: a long run of digits must not wrap around into a valid code
        if (!too_big) {
            value = value * base + (HLY_UInt32)digit;
            if (value > 0x10FFFF) too_big = true;
        }
    }
    // A reference must name a character a document may hold: NUL would cut
    // the text short, surrogates are no characters in UTF-8, values past
    // U+10FFFF have no encoding, and the control bytes that the character
    // table refuses raw would make a tree this parser cannot read back.
    if (too_big || value == 0 || (value >= 0xD800 && value <= 0xDFFF) ||
        (value < 0x20 && !IsAllowed((unsigned char)value))) {
        return HLY_ERROR_INVALID_SYNTAX;
    }
    return target.AppendUTF8(value);
}

HLY_Result HLY_XmlProcessor::ProcessBuffer(const char* buffer, HLY_Size size)
{
    if (buffer == nullptr && size) return HLY_ERROR_INVALID_PARAMETERS;
    const unsigned char* start = reinterpret_cast<const unsigned char*>(buffer);
    const unsigned char* p     = start;
    const unsigned char* end   = start + size;
    HLY_Result           result = HLY_SUCCESS;

    while (p < end && !m_Finished) {
        if (!m_SkipNewline) {
            // take a run of bytes that the current state handles alike in one step
            const unsigned char* run_end = p;
            switch (m_State) {
                case STATE_IN_CONTENT:
                    run_end = SkipRun(p, end, RUN_CONTENT);
                    result  = m_Text.Append(reinterpret_cast<const char*>(p), (HLY_Size)(run_end - p));
                    break;
                case STATE_IN_VALUE:
                    run_end = SkipRun(p, end, RUN_VALUE);
                    result  = m_Value.Append(reinterpret_cast<const char*>(p), (HLY_Size)(run_end - p));
                    break;
                case STATE_IN_NAME:
                    run_end = SkipRun(p, end, RUN_NAME);
                    result  = m_Name.Append(reinterpret_cast<const char*>(p), (HLY_Size)(run_end - p));
                    break;
                case STATE_IN_WHITESPACE:
                case STATE_IN_VALUE_START:
                case STATE_IN_DTD_INTERNAL_END:
                    run_end = SkipRun(p, end, RUN_SPACE);
                    break;
                case STATE_IN_CDATA:
                    run_end = SkipRun(p, end, RUN_BRACKET);
                    result  = m_Text.Append(reinterpret_cast<const char*>(p), (HLY_Size)(run_end - p));
                    break;
                case STATE_IN_COMMENT:
                    run_end = SkipRun(p, end, RUN_COMMENT);
                    break;
                case STATE_IN_PROCESSING_INSTRUCTION:
                    run_end = SkipRun(p, end, RUN_PI);
                    break;
                case STATE_IN_DTD:
                    run_end = SkipRun(p, end, RUN_DTD);
                    break;
                case STATE_IN_DTD_INTERNAL:
                    run_end = SkipRun(p, end, RUN_BRACKET);
                    break;
                case STATE_IN_SPECIAL:
                    run_end = SkipRun(p, end, RUN_SPECIAL);
                    break;
                case STATE_IN_ENTITY_REF:
                    if (m_Context == CONTEXT_NONE || m_Context == CONTEXT_VALUE_SINGLE_QUOTE ||
                        m_Context == CONTEXT_VALUE_DOUBLE_QUOTE) {
                        run_end = SkipRun(p, end, RUN_ENTITY);
                        result  = m_Entity.Append(reinterpret_cast<const char*>(p), (HLY_Size)(run_end - p));
                    }
                    break;
                default:
                    break;
            }
            if (HLY_FAILED(result)) break;
            p = run_end;
            if (p == end) break;
        }

        unsigned char c = *p;
        if (c == '\0') {
            // a NUL ends the document, whichever block of input it comes in
            m_Finished = true;
            break;
        }
        if (m_SkipNewline) {
            m_SkipNewline = false;
            if (c == '\n') {
                ++p;
                continue;
            }
        }
        if (c == '\r') {
            m_SkipNewline = true;
            c             = '\n';
        }
        result = ProcessByte(c);
        if (HLY_FAILED(result)) break;
        ++p;
    }

    m_Position += (HLY_LargeSize)(p - start);
    if (HLY_FAILED(result)) {
        HLY_LOG_FINE("XML processing failed at offset %llu, state %d, result %d",
                     (unsigned long long)m_Position, (int)m_State, (int)result);
    }
    return result;
}

HLY_Result HLY_XmlProcessor::ProcessByte(unsigned char c)
{
    HLY_Result result = HLY_SUCCESS;
    switch (m_State) {
        case STATE_IN_INIT:
            if (IsWhitespace(c)) {
                m_State = STATE_IN_WHITESPACE;
            } else if (c == '<') {
                m_State = STATE_IN_TAG_START;
            } else if (c == 0xEF) {
                m_State = STATE_IN_BOM_2;
            } else {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_BOM_2:
            if (c != 0xBB) return HLY_ERROR_INVALID_SYNTAX;
            m_State = STATE_IN_BOM_3;
            break;

        case STATE_IN_BOM_3:
            if (c != 0xBF) return HLY_ERROR_INVALID_SYNTAX;
            m_State = STATE_IN_WHITESPACE;
            break;

        case STATE_IN_WHITESPACE:
            if (IsWhitespace(c)) break;
            switch (m_Context) {
                case CONTEXT_NONE:
                    if (c != '<') return HLY_ERROR_INVALID_SYNTAX;
                    m_State = STATE_IN_TAG_START;
                    break;
                case CONTEXT_CLOSE_TAG:
                    if (c != '>') return HLY_ERROR_INVALID_SYNTAX;
                    if (HLY_FAILED(result = FlushPendingText())) return result;
                    if (HLY_FAILED(result = m_Parser->OnEndElement(m_Name.GetString(), m_Name.GetSize()))) {
                        return result;
                    }
                    m_State   = STATE_IN_CONTENT;
                    m_Context = CONTEXT_NONE;
                    break;
                case CONTEXT_ATTRIBUTE:
                    if (c == '/') {
                        m_State   = STATE_IN_EMPTY_TAG_END;
                        m_Context = CONTEXT_NONE;
                    } else if (c == '>') {
                        m_State   = STATE_IN_CONTENT;
                        m_Context = CONTEXT_NONE;
                    } else if (IsNameChar(c)) {
                        m_Name.Reset();
                        if (HLY_FAILED(result = m_Name.Append((char)c))) return result;
                        m_State = STATE_IN_NAME;
                    } else {
                        return HLY_ERROR_INVALID_SYNTAX;
                    }
                    break;
                default:
                    return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_NAME:
            if (IsNameChar(c)) {
                return m_Name.Append((char)c);
            }
            switch (m_Context) {
                case CONTEXT_OPEN_TAG:
                    if (c != '>' && c != '/' && !IsWhitespace(c)) return HLY_ERROR_INVALID_SYNTAX;
                    if (HLY_FAILED(result = FlushPendingText())) return result;
                    if (HLY_FAILED(result = m_Parser->OnStartElement(m_Name.GetString(), m_Name.GetSize()))) {
                        return result;
                    }
                    m_Name.Reset();
                    if (c == '>') {
                        m_State   = STATE_IN_CONTENT;
                        m_Context = CONTEXT_NONE;
                    } else if (c == '/') {
                        m_State = STATE_IN_EMPTY_TAG_END;
                    } else {
                        m_State   = STATE_IN_WHITESPACE;
                        m_Context = CONTEXT_ATTRIBUTE;
                    }
                    break;
                case CONTEXT_CLOSE_TAG:
                    if (c == '>') {
                        if (HLY_FAILED(result = FlushPendingText())) return result;
                        if (HLY_FAILED(result = m_Parser->OnEndElement(m_Name.GetString(), m_Name.GetSize()))) {
                            return result;
                        }
                        m_State   = STATE_IN_CONTENT;
                        m_Context = CONTEXT_NONE;
                    } else if (IsWhitespace(c)) {
                        m_State = STATE_IN_WHITESPACE;
                    } else {
                        return HLY_ERROR_INVALID_SYNTAX;
                    }
                    break;
                case CONTEXT_ATTRIBUTE:
                    if (c == '=') {
                        m_Value.Reset();
                        m_State = STATE_IN_VALUE_START;
                    } else if (!IsWhitespace(c)) {
                        return HLY_ERROR_INVALID_SYNTAX;
                    }
                    break;
                default:
                    return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_NAME_SPECIAL:
            if (IsNameChar(c) || c == '[') {
                if (HLY_FAILED(result = m_Name.Append((char)c))) return result;
                if (m_Name.Equals("--", 2)) {
                    m_Name.Reset();
                    m_State   = STATE_IN_COMMENT;
                    m_Context = CONTEXT_NONE;
                } else if (m_Name.Equals("[CDATA[", 7)) {
                    m_Name.Reset();
                    m_State   = STATE_IN_CDATA;
                    m_Context = CONTEXT_NONE;
                }
            } else if (IsWhitespace(c)) {
                m_State   = m_Name.Equals("DOCTYPE", 7) ? STATE_IN_DTD : STATE_IN_SPECIAL;
                m_Context = CONTEXT_NONE;
                m_Name.Reset();
            } else {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_VALUE_START:
            if (IsWhitespace(c)) break;
            if (c == '"') {
                m_Value.Reset();
                m_State   = STATE_IN_VALUE;
                m_Context = CONTEXT_VALUE_DOUBLE_QUOTE;
            } else if (c == '\'') {
                m_Value.Reset();
                m_State   = STATE_IN_VALUE;
                m_Context = CONTEXT_VALUE_SINGLE_QUOTE;
            } else {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_VALUE:
            if ((c == '"' && m_Context == CONTEXT_VALUE_DOUBLE_QUOTE) ||
                (c == '\'' && m_Context == CONTEXT_VALUE_SINGLE_QUOTE)) {
                result = m_Parser->OnElementAttribute(m_Name.GetString(), m_Name.GetSize(),
                                                      m_Value.GetString(), m_Value.GetSize());
                if (HLY_FAILED(result)) return result;
                m_State   = STATE_IN_WHITESPACE;
                m_Context = CONTEXT_ATTRIBUTE;
            } else if (c == '&') {
                m_Entity.Reset();
                m_State = STATE_IN_ENTITY_REF;
            } else if (IsWhitespace(c)) {
                return m_Value.Append(' ');
            } else if (!IsValueChar(c)) {
                return HLY_ERROR_INVALID_SYNTAX;
            } else {
                return m_Value.Append((char)c);
            }
            break;

        case STATE_IN_TAG_START:
            m_Name.Reset();
            if (c == '!') {
                m_State   = STATE_IN_NAME_SPECIAL;
                m_Context = CONTEXT_NONE;
            } else if (c == '?') {
                m_State   = STATE_IN_PROCESSING_INSTRUCTION;
                m_Context = CONTEXT_NONE;
            } else if (c == '/') {
                m_State   = STATE_IN_NAME;
                m_Context = CONTEXT_CLOSE_TAG;
            } else if (IsNameChar(c)) {
                if (HLY_FAILED(result = m_Name.Append((char)c))) return result;
                m_State   = STATE_IN_NAME;
                m_Context = CONTEXT_OPEN_TAG;
            } else {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_EMPTY_TAG_END:
            if (c != '>') return HLY_ERROR_INVALID_SYNTAX;
            if (HLY_FAILED(result = FlushPendingText())) return result;
            if (HLY_FAILED(result = m_Parser->OnEndElement(nullptr, 0))) return result;
            m_State   = STATE_IN_CONTENT;
            m_Context = CONTEXT_NONE;
            break;

        case STATE_IN_CONTENT:
            if (c == '<') {
                m_State   = STATE_IN_TAG_START;
                m_Context = CONTEXT_NONE;
            } else if (c == '&') {
                m_Entity.Reset();
                m_State   = STATE_IN_ENTITY_REF;
                m_Context = CONTEXT_NONE;
            } else {
                return m_Text.Append((char)c);
            }
            break;

        case STATE_IN_PROCESSING_INSTRUCTION:
            if (c == '?') m_State = STATE_IN_PROCESSING_INSTRUCTION_END;
            break;

        case STATE_IN_PROCESSING_INSTRUCTION_END:
            if (c != '>') return HLY_ERROR_INVALID_SYNTAX;
            m_State   = STATE_IN_WHITESPACE;
            m_Context = CONTEXT_NONE;
            break;

        case STATE_IN_COMMENT:
            if (c == '-') {
                m_State = STATE_IN_COMMENT_END_1;
            } else if (!IsAllowed(c)) {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_COMMENT_END_1:
            if (c == '-') {
                m_State = STATE_IN_COMMENT_END_2;
            } else if (IsAllowed(c)) {
                m_State = STATE_IN_COMMENT;
            } else {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_COMMENT_END_2:
            if (c != '>') return HLY_ERROR_INVALID_SYNTAX;
            m_State   = STATE_IN_CONTENT;
            m_Context = CONTEXT_NONE;
            break;

        case STATE_IN_DTD:
            if (c == '[') {
                m_State = STATE_IN_DTD_INTERNAL;
            } else if (c == '>') {
                m_State   = STATE_IN_WHITESPACE;
                m_Context = CONTEXT_NONE;
            }
            break;

        case STATE_IN_DTD_INTERNAL:
            if (c == ']') m_State = STATE_IN_DTD_INTERNAL_END;
            break;

        case STATE_IN_DTD_INTERNAL_END:
            if (c == '>') {
                m_State   = STATE_IN_WHITESPACE;
                m_Context = CONTEXT_NONE;
            } else if (!IsWhitespace(c)) {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        case STATE_IN_CDATA:
            if (c == ']') {
                m_State = STATE_IN_CDATA_END_1;
            } else {
                return m_Text.Append((char)c);
            }
            break;

        case STATE_IN_CDATA_END_1:
            if (c == ']') {
                m_State = STATE_IN_CDATA_END_2;
            } else {
                if (HLY_FAILED(result = m_Text.Append(']'))) return result;
                if (HLY_FAILED(result = m_Text.Append((char)c))) return result;
                m_State = STATE_IN_CDATA;
            }
            break;

        case STATE_IN_CDATA_END_2:
            if (c == '>') {
                m_State   = STATE_IN_CONTENT;
                m_Context = CONTEXT_NONE;
            } else if (c == ']') {
                return m_Text.Append(']');
            } else {
                if (HLY_FAILED(result = m_Text.Append("]]", 2))) return result;
                if (HLY_FAILED(result = m_Text.Append((char)c))) return result;
                m_State = STATE_IN_CDATA;
            }
            break;

        case STATE_IN_SPECIAL:
            if (c == '>') {
                m_State   = STATE_IN_WHITESPACE;
                m_Context = CONTEXT_NONE;
            }
            break;

        case STATE_IN_ENTITY_REF:
            if (m_Context != CONTEXT_NONE && m_Context != CONTEXT_VALUE_SINGLE_QUOTE &&
                m_Context != CONTEXT_VALUE_DOUBLE_QUOTE) {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            if (c == ';') {
                if (m_Context == CONTEXT_NONE) {
                    if (HLY_FAILED(result = ResolveEntityReference(m_Text))) return result;
                    m_State = STATE_IN_CONTENT;
                } else {
                    if (HLY_FAILED(result = ResolveEntityReference(m_Value))) return result;
                    m_State = STATE_IN_VALUE;
                }
            } else if (IsNameChar(c) || c == '#') {
                return m_Entity.Append((char)c);
            } else {
                return HLY_ERROR_INVALID_SYNTAX;
            }
            break;

        default:
            return HLY_ERROR_INVALID_SYNTAX;
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_XmlParser
+---------------------------------------------------------------------*/
HLY_XmlParser::HLY_XmlParser(bool keep_whitespace)
    : m_Processor(new HLY_XmlProcessor(this)),
      m_Root(nullptr),
      m_CurrentElement(nullptr),
      m_KeepWhitespace(keep_whitespace)
{
}

HLY_XmlParser::~HLY_XmlParser()
{
    Reset();
    delete m_Processor;
}

void HLY_XmlParser::Reset()
{
    // the partly built tree hangs below the top of the current element's chain
    if (m_CurrentElement) {
        HLY_XmlNode* top = m_CurrentElement;
        while (top->GetParent()) top = top->GetParent();
        delete top;
        m_CurrentElement = nullptr;
    }
    m_Processor->Reset();
}

HLY_Result HLY_XmlParser::Finish(HLY_Result result, HLY_XmlNode*& tree, bool incremental)
{
    tree = m_Root;
    if (incremental) return result;
    if (result == HLY_SUCCESS || result == HLY_ERROR_EOS) {
        return m_Root ? HLY_SUCCESS : HLY_ERROR_XML_NO_ROOT;
    }
    delete m_Root;
    m_Root = nullptr;
    tree   = nullptr;
    return result;
}

HLY_Result HLY_XmlParser::Parse(HLY_InputStream& stream, HLY_Size& size, HLY_XmlNode*& tree, bool incremental)
{
    tree   = nullptr;
    m_Root = nullptr;
    if (!incremental) Reset();

    HLY_Size   max_bytes = size;
    HLY_Result result    = HLY_SUCCESS;
    char       buffer[1024];
    size = 0;
    while (max_bytes == 0 || size < max_bytes) {
        HLY_Size bytes_to_read = sizeof(buffer);
        if (max_bytes && max_bytes - size < bytes_to_read) bytes_to_read = max_bytes - size;
        HLY_Size bytes_read = 0;
        result              = stream.Read(buffer, bytes_to_read, &bytes_read);
        if (HLY_FAILED(result)) break;
        // a stream that hands out nothing without saying so would spin forever
        if (bytes_read == 0) {
            result = HLY_ERROR_EOS;
            break;
        }
        if (bytes_read > bytes_to_read) bytes_read = bytes_to_read;
        size += bytes_read;
        result = m_Processor->ProcessBuffer(buffer, bytes_read);
        if (HLY_FAILED(result)) break;
        if (m_Processor->IsFinished()) break;
    }
    return Finish(result, tree, incremental);
}

HLY_Result HLY_XmlParser::Parse(HLY_InputStream& stream, HLY_XmlNode*& tree, bool incremental)
{
    HLY_Size size = 0;
    return Parse(stream, size, tree, incremental);
}

HLY_Result HLY_XmlParser::Parse(const char* xml, HLY_Size size, HLY_XmlNode*& tree, bool incremental)
{
    tree   = nullptr;
    m_Root = nullptr;
    if (xml == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    if (!incremental) Reset();
    return Finish(m_Processor->ProcessBuffer(xml, size), tree, incremental);
}

HLY_Result HLY_XmlParser::Parse(const char* xml, HLY_XmlNode*& tree, bool incremental)
{
    tree = nullptr;
    if (xml == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return Parse(xml, (HLY_Size)strlen(xml), tree, incremental);
}

HLY_Result HLY_XmlParser::OnStartElement(const char* name, HLY_Size length)
{
    if (m_Root) return HLY_ERROR_XML_MULTIPLE_ROOTS;
    HLY_XmlElementNode* element = new HLY_XmlElementNode(name, length);
    if (m_CurrentElement) m_CurrentElement->AppendNewChild(element);
    m_CurrentElement = element;
    return HLY_SUCCESS;
}

HLY_Result HLY_XmlParser::OnElementAttribute(const char* name, HLY_Size name_length,
                                             const char* value, HLY_Size value_length)
{
    if (m_CurrentElement == nullptr) return HLY_ERROR_INVALID_SYNTAX;

    // "xmlns", "xmlns:" and "xmlns:p" declare namespaces; "xmlnsfoo" is an attribute
    if (name_length >= 5 && memcmp(name, "xmlns", 5) == 0 && (name_length == 5 || name[5] == ':')) {
        const char* prefix = name_length > 6 ? name + 6 : "";
        return m_CurrentElement->SetNamespaceUri(prefix, value);
    }

    HLY_XmlAttribute* attribute = new HLY_XmlAttribute();
    const char*       sep       = FindPrefixEnd(name, name_length);
    if (sep) {
        HLY_Size prefix_length = (HLY_Size)(sep - name);
        attribute->m_Prefix.Assign(name, prefix_length);
        attribute->m_Name.Assign(sep + 1, name_length - prefix_length - 1);
    } else {
        attribute->m_Name.Assign(name, name_length);
    }
    attribute->m_Value.Assign(value, value_length);
    return m_CurrentElement->m_Attributes.Add(attribute);
}

HLY_Result HLY_XmlParser::OnEndElement(const char* name, HLY_Size length)
{
    if (m_CurrentElement == nullptr) return HLY_ERROR_XML_TAG_MISMATCH;

    if (name) {
        // split as the start tag was split (at the first ':'), so that any
        // end tag that repeats the start tag's name matches it
        const char* sep           = FindPrefixEnd(name, length);
        const char* tag           = sep ? sep + 1 : name;
        HLY_Size    tag_length    = (HLY_Size)(name + length - tag);
        HLY_Size    prefix_length = sep ? (HLY_Size)(sep - name) : 0;
        const HLY_String& expected_tag    = m_CurrentElement->GetTag();
        const HLY_String& expected_prefix = m_CurrentElement->GetPrefix();
        if (tag_length != expected_tag.GetLength() || memcmp(tag, expected_tag.GetChars(), tag_length) != 0 ||
            prefix_length != expected_prefix.GetLength() ||
            memcmp(name, expected_prefix.GetChars(), prefix_length) != 0) {
            return HLY_ERROR_XML_TAG_MISMATCH;
        }
    }

    HLY_XmlNode* parent = m_CurrentElement->GetParent();
    if (parent) {
        m_CurrentElement = parent->AsElementNode();
        return HLY_SUCCESS;
    }
    if (m_Root) {
        delete m_CurrentElement;
        m_CurrentElement = nullptr;
        return HLY_ERROR_XML_MULTIPLE_ROOTS;
    }
    m_Root           = m_CurrentElement;
    m_CurrentElement = nullptr;
    return HLY_SUCCESS;
}

HLY_Result HLY_XmlParser::OnCharacterData(const char* data, HLY_Size length)
{
    if (m_CurrentElement) {
        if (!m_KeepWhitespace && IsOnlyWhitespace(data, length)) return HLY_SUCCESS;
        HLY_XmlTextNode* text = new HLY_XmlTextNode(data, length);
        text->SetParent(m_CurrentElement);
        return m_CurrentElement->m_Children.Add(text);
    }
    return IsOnlyWhitespace(data, length) ? HLY_SUCCESS : HLY_ERROR_XML_INVALID_NESTING;
}

/*----------------------------------------------------------------------
|   HLY_XmlSerializer
+---------------------------------------------------------------------*/
HLY_XmlSerializer::HLY_XmlSerializer(HLY_OutputStream* output,
                                     HLY_UInt32        indentation,
                                     bool              shrink_empty_elements,
                                     bool              add_xml_decl)
    : m_Output(output),
      m_ElementPending(false),
      m_Depth(0),
      m_Indentation(indentation),
      m_ElementHasText(false),
      m_ShrinkEmptyElements(shrink_empty_elements),
      m_AddXmlDecl(add_xml_decl),
      m_ElementWritten(false)
{
}

HLY_Result HLY_XmlSerializer::Write(const char* text, HLY_Size length)
{
    if (m_Output == nullptr) return HLY_ERROR_INVALID_STATE;
    return m_Output->WriteFully(text, length);
}

HLY_Result HLY_XmlSerializer::Write(const char* text)
{
    return Write(text, (HLY_Size)strlen(text));
}

HLY_Result HLY_XmlSerializer::StartDocument()
{
    if (!m_AddXmlDecl) return HLY_SUCCESS;
    return Write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
}

HLY_Result HLY_XmlSerializer::EndDocument()
{
    return m_ElementPending ? HLY_ERROR_INVALID_STATE : HLY_SUCCESS;
}

HLY_Result HLY_XmlSerializer::EndPendingElement()
{
    if (!m_ElementPending) return HLY_SUCCESS;
    m_ElementPending = false;
    return Write(">", 1);
}

HLY_Result HLY_XmlSerializer::ShowIndentation()
{
    if (m_Indentation == 0) return HLY_SUCCESS;
    HLY_LargeSize needed = (HLY_LargeSize)m_Indentation * m_Depth;
    if (needed > 0x7FFFFFFF) return HLY_ERROR_OUT_OF_RANGE;
    if (m_IndentationPrefix.GetLength() < needed) {
        // grown in steps of 16 spaces
        HLY_Size length = (HLY_Size)((needed + 15) / 16 * 16);
        m_IndentationPrefix.SetLength(length, true);
    }
    HLY_Result result = Write("\r\n", 2);
    if (needed) result = Write(m_IndentationPrefix.GetChars(), (HLY_Size)needed);
    return result;
}

HLY_Result HLY_XmlSerializer::WriteQualifiedName(const char* prefix, const char* name)
{
    if (prefix && prefix[0]) {
        Write(prefix);
        Write(":", 1);
    }
    return Write(NonNull(name));
}

HLY_Result HLY_XmlSerializer::StartElement(const char* prefix, const char* name)
{
    EndPendingElement();
    if (m_Depth || m_ElementWritten) ShowIndentation();
    m_ElementWritten = true;
    m_ElementPending = true;
    m_ElementHasText = false;
    ++m_Depth;
    Write("<", 1);
    return WriteQualifiedName(prefix, name);
}

HLY_Result HLY_XmlSerializer::EndElement(const char* prefix, const char* name)
{
    // an end without a start would wrap the depth round
    if (m_Depth == 0) return HLY_ERROR_INVALID_STATE;
    --m_Depth;
    if (m_ElementPending) {
        m_ElementPending = false;
        if (m_ShrinkEmptyElements) return Write("/>", 2);
        Write(">", 1);
    }
    if (m_Indentation && !m_ElementHasText) ShowIndentation();
    m_ElementHasText = false;
    Write("</", 2);
    WriteQualifiedName(prefix, name);
    return Write(">", 1);
}

HLY_Result HLY_XmlSerializer::Attribute(const char* prefix, const char* name, const char* value)
{
    Write(" ", 1);
    WriteQualifiedName(prefix, name);
    Write("=\"", 2);
    OutputEscapedString(NonNull(value), true);
    return Write("\"", 1);
}

HLY_Result HLY_XmlSerializer::Text(const char* text)
{
    EndPendingElement();
    m_ElementHasText = true;
    return OutputEscapedString(NonNull(text), false);
}

HLY_Result HLY_XmlSerializer::CdataSection(const char* data)
{
    EndPendingElement();
    m_ElementHasText = true;
    Write("<![CDATA[", 9);
    Write(NonNull(data));
    return Write("]]>", 3);
}

HLY_Result HLY_XmlSerializer::Comment(const char* comment)
{
    EndPendingElement();
    Write("<!--", 4);
    Write(NonNull(comment));
    return Write("-->", 3);
}

HLY_Result HLY_XmlSerializer::OutputEscapedString(const char* text, bool attribute)
{
    HLY_Result  result = HLY_SUCCESS;
    const char* run    = text;
    const char* p      = text;
    for (; *p; ++p) {
        const char* replacement = nullptr;
        switch (*p) {
            case '&': replacement = "&amp;"; break;
            case '<': replacement = "&lt;"; break;
            case '\r': replacement = "&#xD;"; break;
            case '"': if (attribute) replacement = "&quot;"; break;
            case '\t': if (attribute) replacement = "&#x9;"; break;
            case '\n': if (attribute) replacement = "&#xA;"; break;
            case '>': if (!attribute) replacement = "&gt;"; break;
            default: break;
        }
        if (replacement == nullptr) continue;
        if (p > run) result = Write(run, (HLY_Size)(p - run));
        result = Write(replacement);
        run    = p + 1;
    }
    if (p > run) result = Write(run, (HLY_Size)(p - run));
    return result;
}

/*----------------------------------------------------------------------
|   HLY_XmlWriter
+---------------------------------------------------------------------*/
namespace {

void EmitStart(HLY_XmlSerializer& serializer, const HLY_XmlElementNode& element)
{
    serializer.StartElement(element.GetPrefix(), element.GetTag());
    for (HLY_List<HLY_XmlAttribute*>::Iterator it = element.GetAttributes().GetFirstItem(); it; ++it) {
        serializer.Attribute((*it)->GetPrefix(), (*it)->GetName(), (*it)->GetValue());
    }
    const HLY_XmlNamespaceMap* map = element.GetNamespaceMap();
    if (map) {
        for (HLY_List<HLY_XmlNamespaceMap::Entry*>::Iterator it = map->GetEntries().GetFirstItem(); it; ++it) {
            if ((*it)->m_Prefix.IsEmpty()) {
                serializer.Attribute(nullptr, "xmlns", (*it)->m_Uri);
            } else {
                serializer.Attribute("xmlns", (*it)->m_Prefix, (*it)->m_Uri);
            }
        }
    }
}

} // namespace

HLY_Result HLY_XmlWriter::Serialize(HLY_XmlNode& node, HLY_OutputStream& output, bool add_xml_decl)
{
    HLY_XmlSerializer serializer(&output, m_Indentation, true, add_xml_decl);
    serializer.StartDocument();

    const HLY_XmlTextNode* text = node.AsTextNode();
    if (text) {
        serializer.Text(text->GetString());
        return HLY_SUCCESS;
    }
    const HLY_XmlElementNode* root = node.AsElementNode();
    if (root == nullptr) return HLY_SUCCESS;

    // depth-first walk with an explicit stack of elements and their next child
    struct Frame
    {
        const HLY_XmlElementNode*        m_Element;
        HLY_List<HLY_XmlNode*>::Iterator m_Next;
    };
    std::vector<Frame> stack;
    EmitStart(serializer, *root);
    stack.push_back(Frame{root, root->GetChildren().GetFirstItem()});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (!top.m_Next) {
            serializer.EndElement(top.m_Element->GetPrefix(), top.m_Element->GetTag());
            stack.pop_back();
            continue;
        }
        const HLY_XmlNode* child = *top.m_Next;
        ++top.m_Next;
        if (const HLY_XmlTextNode* child_text = child->AsTextNode()) {
            serializer.Text(child_text->GetString());
        } else if (const HLY_XmlElementNode* element = child->AsElementNode()) {
            EmitStart(serializer, *element);
            stack.push_back(Frame{element, element->GetChildren().GetFirstItem()});
        }
    }
    return HLY_SUCCESS;
}
