#ifndef HLY_XML_H
#define HLY_XML_H

#include "hlycommon.h"
#include "hlylist.h"
#include "hlystreams.h"
#include "hlystrings.h"

// XML results that have no entry in the result-name table (they print as "UNKNOWN")
#define HLY_ERROR_XML_NO_ROOT         (HLY_ERROR_BASE_XML - 2) // input ended without a complete root element
#define HLY_ERROR_XML_MULTIPLE_ROOTS  (HLY_ERROR_BASE_XML - 3) // a second top-level element

// namespace argument of the lookups that accepts every namespace
#define HLY_XML_ANY_NAMESPACE "*"
// the namespace name bound to the prefix "xml" without any declaration
#define HLY_XML_NAMESPACE_URI_XML "http://www.w3.org/XML/1998/namespace"

// character classes of input bytes (bit flags)
#define HLY_XML_CHAR_ALLOWED    0x01
#define HLY_XML_CHAR_WHITESPACE 0x02
#define HLY_XML_CHAR_NAME       0x04
#define HLY_XML_CHAR_CONTENT    0x08
#define HLY_XML_CHAR_VALUE      0x10

class HLY_XmlElementNode;
class HLY_XmlTextNode;
class HLY_XmlParser;

/*----------------------------------------------------------------------
|   HLY_XmlAttribute
+---------------------------------------------------------------------*/
class HLY_XmlAttribute
{
public:
    // nodes and attributes come from the tree's block pool (see hlyxml.cpp)
    static void* operator new(size_t size);
    static void operator delete(void* block);

    // the qualified name is split at its first ':' into prefix and name
    HLY_XmlAttribute(const char* name, const char* value);
    HLY_XmlAttribute(const char* prefix, const char* name, const char* value);

    const HLY_String& GetPrefix() const { return m_Prefix; }
    const HLY_String& GetName() const { return m_Name; }
    const HLY_String& GetValue() const { return m_Value; }
    void SetValue(const char* value) { m_Value = value; }

private:
    friend class HLY_XmlElementNode;
    friend class HLY_XmlParser;
    HLY_XmlAttribute() {}

    HLY_String m_Prefix;
    HLY_String m_Name;
    HLY_String m_Value;
};

/*----------------------------------------------------------------------
|   HLY_XmlNamespaceMap: ordered (prefix, URI) pairs; the default
|   namespace has the empty prefix
+---------------------------------------------------------------------*/
class HLY_XmlNamespaceMap
{
public:
    class Entry
    {
    public:
        Entry(const char* prefix, const char* uri) : m_Prefix(prefix), m_Uri(uri) {}
        HLY_String m_Prefix;
        HLY_String m_Uri;
    };

    HLY_XmlNamespaceMap() : m_Index(nullptr) {}
    ~HLY_XmlNamespaceMap();

    // replaces the URI of a known prefix, else appends an entry
    HLY_Result SetNamespaceUri(const char* prefix, const char* uri);
    // the URI stored for the prefix (null prefix = ""), or null when the prefix has no entry
    const HLY_String* GetNamespaceUri(const char* prefix) const;
    const HLY_List<Entry*>& GetEntries() const { return m_Entries; }

private:
    HLY_XmlNamespaceMap(const HLY_XmlNamespaceMap&)            = delete;
    HLY_XmlNamespaceMap& operator=(const HLY_XmlNamespaceMap&) = delete;
    Entry* Find(const char* prefix) const;

    // An element may declare any number of prefixes; past a few, lookups go
    // through a hash index so that a hostile document with thousands of
    // declarations does not cost time quadratic in their number.
    struct Index;
    HLY_List<Entry*> m_Entries;
    Index*           m_Index;
};

/*----------------------------------------------------------------------
|   HLY_XmlNode
+---------------------------------------------------------------------*/
class HLY_XmlNode
{
public:
    static void* operator new(size_t size);
    static void operator delete(void* block);

    enum Type {
        ELEMENT = 1,
        TEXT    = 2
    };

    virtual ~HLY_XmlNode() {}
    virtual HLY_XmlElementNode* AsElementNode() { return nullptr; }
    virtual const HLY_XmlElementNode* AsElementNode() const { return nullptr; }
    virtual HLY_XmlTextNode* AsTextNode() { return nullptr; }
    virtual const HLY_XmlTextNode* AsTextNode() const { return nullptr; }
    virtual void SetParent(HLY_XmlNode* parent) { m_Parent = parent; }

    Type GetType() const { return m_Type; }
    HLY_XmlNode* GetParent() const { return m_Parent; }

protected:
    explicit HLY_XmlNode(Type type) : m_Type(type), m_Parent(nullptr) {}

    Type         m_Type;
    HLY_XmlNode* m_Parent; // not owned; null for a root

private:
    HLY_XmlNode(const HLY_XmlNode&)            = delete;
    HLY_XmlNode& operator=(const HLY_XmlNode&) = delete;
};

/*----------------------------------------------------------------------
|   HLY_XmlElementNode
+---------------------------------------------------------------------*/
class HLY_XmlElementNode : public HLY_XmlNode
{
public:
    // the qualified tag is split at its first ':' into prefix and tag
    explicit HLY_XmlElementNode(const char* tag);
    HLY_XmlElementNode(const char* prefix, const char* tag);
    // destroys the whole subtree without recursion, however deep it is
    ~HLY_XmlElementNode() override;

    HLY_XmlElementNode* AsElementNode() override { return this; }
    const HLY_XmlElementNode* AsElementNode() const override { return this; }
    void SetParent(HLY_XmlNode* parent) override;

    const HLY_String& GetTag() const { return m_Tag; }
    const HLY_String& GetPrefix() const { return m_Prefix; }
    const HLY_List<HLY_XmlNode*>& GetChildren() const { return m_Children; }
    const HLY_List<HLY_XmlAttribute*>& GetAttributes() const { return m_Attributes; }
    const HLY_XmlNamespaceMap* GetNamespaceMap() const { return m_NamespaceMap; }
    const HLY_XmlElementNode* GetNamespaceParent() const { return m_NamespaceParent; }

    // takes ownership of the child. Refused (HLY_ERROR_INVALID_PARAMETERS):
    // null, a node that already has a parent, and this element or one of
    // its ancestors, since each would leave a node owned twice or a cycle.
    HLY_Result AddChild(HLY_XmlNode* child);
    // the n-th child element with this exact tag in the namespace: null or
    // "" = no namespace, "*" = any, else the namespace URI
    HLY_XmlElementNode* GetChild(const char* tag, const char* namespc = "", HLY_Ordinal n = 0) const;

    // qualified name, split at the first ':'; duplicates are not looked for
    HLY_Result AddAttribute(const char* name, const char* value);
    // replaces the value of the attribute with that prefix and name, else appends one
    HLY_Result SetAttribute(const char* prefix, const char* name, const char* value);
    HLY_Result SetAttribute(const char* name, const char* value) { return SetAttribute(nullptr, name, value); }
    // removes the attribute with that prefix and name; HLY_ERROR_NO_SUCH_ITEM when there is none
    HLY_Result RemoveAttribute(const char* prefix, const char* name);
    HLY_Result RemoveAttribute(const char* name) { return RemoveAttribute(nullptr, name); }
    // the first attribute of that name in the namespace: "*" = any,
    // null or "" = without prefix, else its prefix must resolve to the URI
    const HLY_String* GetAttribute(const char* name, const char* namespc = "") const;

    HLY_Result AddText(const char* text);
    // the text of the n-th text child, or null
    const HLY_String* GetText(HLY_Ordinal n = 0) const;

    HLY_Result SetNamespaceUri(const char* prefix, const char* uri);
    // the URI bound to the prefix in scope here, or null when none (or undeclared)
    const HLY_String* GetNamespaceUri(const char* prefix) const;
    // the namespace URI of this element's own prefix
    const HLY_String* GetNamespace() const { return GetNamespaceUri(m_Prefix); }

private:
    friend class HLY_XmlParser;
    HLY_XmlElementNode(const char* qualified, HLY_Size length);
    // links a fresh child with no children of its own (the parser's path)
    void AppendNewChild(HLY_XmlElementNode* child);
    // gives every descendant element its nearest ancestor with a namespace map
    void RelinkNamespaceMaps();

    HLY_String                  m_Prefix;
    HLY_String                  m_Tag;
    HLY_List<HLY_XmlNode*>      m_Children;
    HLY_List<HLY_XmlAttribute*> m_Attributes;
    HLY_XmlNamespaceMap*        m_NamespaceMap;    // owned, created on the first declaration
    HLY_XmlElementNode*         m_NamespaceParent; // nearest ancestor with a map; not owned
};

/*----------------------------------------------------------------------
|   HLY_XmlTextNode
+---------------------------------------------------------------------*/
class HLY_XmlTextNode : public HLY_XmlNode
{
public:
    explicit HLY_XmlTextNode(const char* text) : HLY_XmlNode(TEXT), m_Text(text) {}
    HLY_XmlTextNode(const char* text, HLY_Size length) : HLY_XmlNode(TEXT), m_Text(text, length) {}

    HLY_XmlTextNode* AsTextNode() override { return this; }
    const HLY_XmlTextNode* AsTextNode() const override { return this; }

    const HLY_String& GetString() const { return m_Text; }
    void SetString(const char* text) { m_Text = text; }

private:
    HLY_String m_Text;
};

/*----------------------------------------------------------------------
|   HLY_XmlAccumulator: a growable byte buffer (32 bytes first, then
|   doubling). Its contents are always kept NUL-terminated.
+---------------------------------------------------------------------*/
class HLY_XmlAccumulator
{
public:
    HLY_XmlAccumulator() : m_Buffer(nullptr), m_Allocated(0), m_Valid(0) {}
    ~HLY_XmlAccumulator();

    HLY_Result Append(char c)
    {
        if (m_Valid + 1 >= m_Allocated) {
            HLY_Result result = Allocate((HLY_LargeSize)m_Valid + 2);
            if (HLY_FAILED(result)) return result;
        }
        m_Buffer[m_Valid++] = c;
        m_Buffer[m_Valid]   = '\0';
        return HLY_SUCCESS;
    }
    HLY_Result Append(const char* s);
    HLY_Result Append(const char* s, HLY_Size size);
    HLY_Result AppendUTF8(HLY_UInt32 code_point);
    const char* GetString() const { return m_Buffer ? m_Buffer : ""; }
    HLY_Size GetSize() const { return m_Valid; }
    bool Equals(const char* s, HLY_Size size) const;
    // empties the buffer and keeps its allocation
    void Reset()
    {
        m_Valid = 0;
        if (m_Buffer) m_Buffer[0] = '\0';
    }

private:
    HLY_XmlAccumulator(const HLY_XmlAccumulator&)            = delete;
    HLY_XmlAccumulator& operator=(const HLY_XmlAccumulator&) = delete;
    HLY_Result Allocate(HLY_LargeSize size);

    char*    m_Buffer;
    HLY_Size m_Allocated;
    HLY_Size m_Valid;
};

/*----------------------------------------------------------------------
|   HLY_XmlProcessor: the byte-level state machine of the parser
+---------------------------------------------------------------------*/
class HLY_XmlProcessor
{
public:
    enum State {
        STATE_IN_INIT             = 0,
        STATE_IN_BOM_2            = 1,
        STATE_IN_BOM_3            = 2,
        STATE_IN_WHITESPACE       = 3,
        STATE_IN_NAME             = 4,
        STATE_IN_NAME_SPECIAL     = 5,
        STATE_IN_VALUE_START      = 6,
        STATE_IN_VALUE            = 7,
        STATE_IN_TAG_START        = 8,
        STATE_IN_EMPTY_TAG_END    = 9,
        STATE_IN_CONTENT          = 10,
        STATE_IN_PROCESSING_INSTRUCTION       = 12,
        STATE_IN_PROCESSING_INSTRUCTION_END   = 13,
        STATE_IN_COMMENT          = 14,
        STATE_IN_COMMENT_END_1    = 15,
        STATE_IN_COMMENT_END_2    = 16,
        STATE_IN_DTD              = 17,
        STATE_IN_DTD_INTERNAL     = 18,
        STATE_IN_DTD_INTERNAL_END = 19,
        STATE_IN_CDATA            = 20,
        STATE_IN_CDATA_END_1      = 21,
        STATE_IN_CDATA_END_2      = 22,
        STATE_IN_SPECIAL          = 23,
        STATE_IN_ENTITY_REF       = 24
    };
    enum Context {
        CONTEXT_NONE                 = 0,
        CONTEXT_OPEN_TAG             = 1, // the name of a start tag
        CONTEXT_CLOSE_TAG            = 2, // the name of an end tag
        CONTEXT_ATTRIBUTE            = 3, // inside a start tag, after its name
        CONTEXT_VALUE_SINGLE_QUOTE   = 4,
        CONTEXT_VALUE_DOUBLE_QUOTE   = 5
    };

    explicit HLY_XmlProcessor(HLY_XmlParser* parser);

    // runs the bytes through the state machine; stops at the first failure
    HLY_Result ProcessBuffer(const char* buffer, HLY_Size size);
    // back to the initial state; the accumulators are emptied too, so that
    // nothing from an abandoned document leaks into the next one
    void Reset();

    // a NUL byte ends the document: every later byte is ignored until a reset
    bool IsFinished() const { return m_Finished; }
    // bytes taken since the last reset; after a failure, the offset of the byte that caused it
    HLY_LargeSize GetPosition() const { return m_Position; }

    State GetState() const { return m_State; }
    Context GetContext() const { return m_Context; }

private:
    HLY_XmlProcessor(const HLY_XmlProcessor&)            = delete;
    HLY_XmlProcessor& operator=(const HLY_XmlProcessor&) = delete;

    HLY_Result ProcessByte(unsigned char c);
    HLY_Result FlushPendingText();
    HLY_Result ResolveEntityReference(HLY_XmlAccumulator& target);

    HLY_XmlParser*     m_Parser;
    State              m_State;
    Context            m_Context;
    bool               m_SkipNewline;
    HLY_XmlAccumulator m_Name;
    HLY_XmlAccumulator m_Value;
    HLY_XmlAccumulator m_Text;
    HLY_XmlAccumulator m_Entity;
    bool               m_Finished;
    HLY_LargeSize      m_Position;
};

/*----------------------------------------------------------------------
|   HLY_XmlParser
+---------------------------------------------------------------------*/
class HLY_XmlParser
{
public:
    explicit HLY_XmlParser(bool keep_whitespace = true);
    virtual ~HLY_XmlParser();

    // size: at most that many bytes are read (0 = to the end); on return, the count read
    virtual HLY_Result Parse(HLY_InputStream& stream, HLY_Size& size, HLY_XmlNode*& tree, bool incremental = false);
    virtual HLY_Result Parse(HLY_InputStream& stream, HLY_XmlNode*& tree, bool incremental = false);
    virtual HLY_Result Parse(const char* xml, HLY_Size size, HLY_XmlNode*& tree, bool incremental = false);
    virtual HLY_Result Parse(const char* xml, HLY_XmlNode*& tree, bool incremental = false);

    // offset in the input (since the last reset) at which the state machine
    // stopped: the offending byte after a failure, else the bytes taken
    HLY_LargeSize GetPosition() const { return m_Processor->GetPosition(); }

protected:
    // reactions of the state machine
    HLY_Result OnStartElement(const char* name, HLY_Size length);
    HLY_Result OnElementAttribute(const char* name, HLY_Size name_length, const char* value, HLY_Size value_length);
    HLY_Result OnEndElement(const char* name, HLY_Size length);
    HLY_Result OnCharacterData(const char* data, HLY_Size length);

private:
    friend class HLY_XmlProcessor;
    HLY_XmlParser(const HLY_XmlParser&)            = delete;
    HLY_XmlParser& operator=(const HLY_XmlParser&) = delete;

    void Reset();
    HLY_Result Finish(HLY_Result result, HLY_XmlNode*& tree, bool incremental);

    HLY_XmlProcessor*   m_Processor;
    HLY_XmlElementNode* m_Root;
    HLY_XmlElementNode* m_CurrentElement;
    bool                m_KeepWhitespace;
};

/*----------------------------------------------------------------------
|   HLY_XmlSerializer: writes XML events to a stream
+---------------------------------------------------------------------*/
class HLY_XmlSerializer
{
public:
    HLY_XmlSerializer(HLY_OutputStream* output,
                      HLY_UInt32        indentation           = 0,
                      bool              shrink_empty_elements = true,
                      bool              add_xml_decl          = false);
    virtual ~HLY_XmlSerializer() {}

    virtual HLY_Result StartDocument();
    virtual HLY_Result EndDocument();
    virtual HLY_Result StartElement(const char* prefix, const char* name);
    virtual HLY_Result EndElement(const char* prefix, const char* name);
    virtual HLY_Result Attribute(const char* prefix, const char* name, const char* value);
    virtual HLY_Result Text(const char* text);
    virtual HLY_Result CdataSection(const char* data);
    virtual HLY_Result Comment(const char* comment);

protected:
    HLY_Result Write(const char* text, HLY_Size length);
    HLY_Result Write(const char* text);
    HLY_Result EndPendingElement();
    HLY_Result ShowIndentation();
    HLY_Result WriteQualifiedName(const char* prefix, const char* name);
    HLY_Result OutputEscapedString(const char* text, bool attribute);

    HLY_OutputStream* m_Output; // not owned
    bool              m_ElementPending;
    HLY_UInt32        m_Depth;
    HLY_UInt32        m_Indentation;
    HLY_String        m_IndentationPrefix;
    bool              m_ElementHasText;
    bool              m_ShrinkEmptyElements;
    bool              m_AddXmlDecl;
    bool              m_ElementWritten; // a start tag was written (only the first goes without a line break)

private:
    HLY_XmlSerializer(const HLY_XmlSerializer&)            = delete;
    HLY_XmlSerializer& operator=(const HLY_XmlSerializer&) = delete;
};

/*----------------------------------------------------------------------
|   HLY_XmlWriter: serializes a tree
+---------------------------------------------------------------------*/
class HLY_XmlWriter
{
public:
    explicit HLY_XmlWriter(HLY_UInt32 indentation = 0) : m_Indentation(indentation) {}

    // walks the tree without recursion, so any depth can be written
    HLY_Result Serialize(HLY_XmlNode& node, HLY_OutputStream& output, bool add_xml_decl = false);

private:
    HLY_UInt32 m_Indentation;
};

#endif // HLY_XML_H
