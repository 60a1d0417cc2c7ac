#ifndef HLY_URLS_H
#define HLY_URLS_H

#include "hlyresults.h"
#include "hlystrings.h"
#include "hlytypes.h"

/*----------------------------------------------------------------------
|   HLY_Uri: a scheme and the percent-encoding helpers
+---------------------------------------------------------------------*/
class HLY_Uri
{
public:
    enum SchemeId {
        SCHEME_ID_UNKNOWN = 0,
        SCHEME_ID_HTTP    = 1,
        SCHEME_ID_HTTPS   = 2
    };

    // Characters that percent-encoding escapes besides controls, non-ASCII
    // and (optionally) '%'. Only the path set is used by the URL classes;
    // the others are for callers that build queries and fragments.
    static const char* const PathCharsToEncode;
    static const char* const QueryCharsToEncode;
    static const char* const FragmentCharsToEncode;
    static const char* const UnsafeCharsToEncode;

    HLY_Uri() : m_SchemeId(SCHEME_ID_UNKNOWN) {}
    virtual ~HLY_Uri() {}

    static SchemeId ParseScheme(const HLY_String& scheme);
    static HLY_String PercentEncode(const char* text, const char* chars_to_encode, bool encode_percents = true);
    static HLY_String PercentDecode(const char* text);

    void SetScheme(const char* scheme);
    HLY_Result SetSchemeFromText(const char* uri);
    const HLY_String& GetScheme() const { return m_Scheme; }
    SchemeId GetSchemeId() const { return m_SchemeId; }

protected:
    HLY_String m_Scheme;   // always lower case
    SchemeId   m_SchemeId;
};

/*----------------------------------------------------------------------
|   HLY_Url: scheme://host[:port]path[?query][#fragment], every part kept
|   raw (still percent-encoded) as it appeared
+---------------------------------------------------------------------*/
class HLY_Url : public HLY_Uri
{
public:
    HLY_Url();
    HLY_Url(const char* url, HLY_UInt16 default_port = 0);
    HLY_Url(const char*  scheme,
            const char*  host,
            HLY_UInt16   port,
            const char*  path,
            const char*  query    = nullptr,
            const char*  fragment = nullptr);
    ~HLY_Url() override {}

    HLY_Result Parse(const char* url, HLY_UInt16 default_port = 0);
    void Reset();

    // accessors
    const HLY_String& GetHost() const { return m_Host; }
    HLY_UInt16 GetPort() const { return m_Port; }
    const HLY_String& GetPath() const { return m_Path; }
    bool HasQuery() const { return m_HasQuery; }
    const HLY_String& GetQuery() const { return m_Query; }
    bool HasFragment() const { return m_HasFragment; }
    const HLY_String& GetFragment() const { return m_Fragment; }

    // setters
    HLY_Result SetHost(const char* host);
    void SetPort(HLY_UInt16 port) { m_Port = port; }
    void SetPath(const char* path, bool encoded = false);
    HLY_Result SetRequestTarget(const char* path_plus);

    // text forms
    virtual bool IsValid() const;
    virtual HLY_String FormatRequestTarget(bool with_fragment = false) const;
    virtual HLY_String FormatOmittingPort(HLY_UInt16 default_port, bool with_fragment = true) const;
    virtual HLY_String ToString(bool with_fragment = true) const;

protected:
    HLY_String m_Host;
    HLY_UInt16 m_Port;       // 0: none
    HLY_String m_Path;
    bool       m_HasQuery;
    HLY_String m_Query;      // without the '?'
    bool       m_HasFragment;
    HLY_String m_Fragment;   // without the '#'
};

/*----------------------------------------------------------------------
|   HLY_HttpUrl: an http or https URL; prints without its default port
+---------------------------------------------------------------------*/
class HLY_HttpUrl : public HLY_Url
{
public:
    HLY_HttpUrl() {}
    HLY_HttpUrl(const char* url, bool ignore_scheme = false);
    HLY_HttpUrl(const char* host,
                HLY_UInt16  port,
                const char* path,
                const char* query    = nullptr,
                const char* fragment = nullptr);

    HLY_String ToString(bool with_fragment = true) const override;
};

#endif // HLY_URLS_H
