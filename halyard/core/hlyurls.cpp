#include "hlyurls.h"

#include <cstring>

#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("halyard.core.urls")

#define HLY_URI_UNSAFE_CHARS " !\"<>\\^`{|}"

const char* const HLY_Uri::UnsafeCharsToEncode   = HLY_URI_UNSAFE_CHARS;
const char* const HLY_Uri::PathCharsToEncode     = HLY_URI_UNSAFE_CHARS "?#[]";
const char* const HLY_Uri::QueryCharsToEncode    = HLY_URI_UNSAFE_CHARS "#[]";
const char* const HLY_Uri::FragmentCharsToEncode = HLY_URI_UNSAFE_CHARS "[]";

/*----------------------------------------------------------------------
|   helpers
+---------------------------------------------------------------------*/
static bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
static bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// A raw control byte has no place in a URL; letting one through would let a
// description or a header smuggle CR LF into a request line we emit.
static bool HasControlChars(const char* text)
{
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        if (*p < 0x20 || *p == 0x7F) return true;
    }
    return false;
}

/*----------------------------------------------------------------------
|   HLY_Uri
+---------------------------------------------------------------------*/
HLY_Uri::SchemeId HLY_Uri::ParseScheme(const HLY_String& scheme)
{
    if (scheme == "http") return SCHEME_ID_HTTP;
    if (scheme == "https") return SCHEME_ID_HTTPS;
    return SCHEME_ID_UNKNOWN;
}

void HLY_Uri::SetScheme(const char* scheme)
{
    m_Scheme = scheme;
    m_Scheme.MakeLowercase();
    m_SchemeId = ParseScheme(m_Scheme);
}

HLY_Result HLY_Uri::SetSchemeFromText(const char* uri)
{
    if (uri == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    const char* p = uri;
    for (; *p && *p != ':'; ++p) {
        char c = *p;
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '.' && c != '-') {
            return HLY_ERROR_INVALID_SYNTAX;
        }
    }
    // no colon at all, or nothing before it
    if (*p != ':' || p == uri) return HLY_ERROR_INVALID_SYNTAX;
    SetScheme(HLY_String(uri, (HLY_Size)(p - uri)));
    return HLY_SUCCESS;
}

HLY_String HLY_Uri::PercentEncode(const char* text, const char* chars_to_encode, bool encode_percents)
{
    HLY_String encoded;
    if (text == nullptr) return encoded;
    if (chars_to_encode == nullptr) chars_to_encode = "";
    encoded.Reserve((HLY_Size)strlen(text));

    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        unsigned char c = *p;
        bool escape = (c == '%' && encode_percents) || c < 32 || c >= 127 ||
                      strchr(chars_to_encode, (char)c) != nullptr;
        if (escape) {
            char hex[3] = {'%', HLY_NibbleToHex(c >> 4, true), HLY_NibbleToHex(c & 0x0F, true)};
            encoded.Append(hex, 3);
        } else {
            encoded += (char)c;
        }
    }
    return encoded;
}

HLY_String HLY_Uri::PercentDecode(const char* text)
{
    HLY_String decoded;
    if (text == nullptr) return decoded;
    decoded.Reserve((HLY_Size)strlen(text));

    for (const char* p = text; *p; ++p) {
        // the second test only runs when the first digit was there, so a
        // '%' at the very end never reads past the terminator
        if (*p == '%' && HLY_HexToNibble(p[1]) >= 0 && HLY_HexToNibble(p[2]) >= 0) {
            char c = (char)((HLY_HexToNibble(p[1]) << 4) | HLY_HexToNibble(p[2]));
            // an escaped NUL would silently cut the text short for every
            // consumer that reads it as C text, so it stays escaped
            if (c != '\0') {
                decoded += c;
                p += 2;
                continue;
            }
        }
        decoded += *p;
    }
    return decoded;
}

/*----------------------------------------------------------------------
|   HLY_Url
+---------------------------------------------------------------------*/
HLY_Url::HLY_Url()
    : m_Port(0), m_Path("/"), m_HasQuery(false), m_HasFragment(false)
{
}

HLY_Url::HLY_Url(const char* url, HLY_UInt16 default_port)
    : m_Port(0), m_HasQuery(false), m_HasFragment(false)
{
    if (HLY_FAILED(Parse(url, default_port))) {
        Reset();
        // keeping the scheme of a text that did not parse would make the
        // URL look valid for schemes other than http and https
        SetScheme("");
    }
}

HLY_Url::HLY_Url(const char* scheme,
                 const char* host,
                 HLY_UInt16  port,
                 const char* path,
                 const char* query,
                 const char* fragment)
    : m_Host(host),
      m_Port(port),
      m_Path(path),
      m_HasQuery(query != nullptr),
      m_Query(query),
      m_HasFragment(fragment != nullptr),
      m_Fragment(fragment)
{
    SetScheme(scheme);
}

void HLY_Url::Reset()
{
    m_Host     = "";
    m_Port     = 0;
    m_Path     = "";
    m_HasQuery = false;
    m_Query    = "";
    m_HasFragment = false;
    m_Fragment    = "";
}

HLY_Result HLY_Url::Parse(const char* url, HLY_UInt16 default_port)
{
    if (url == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_Result result = SetSchemeFromText(url);
    if (HLY_FAILED(result)) return result;
    if (HasControlChars(url)) return HLY_ERROR_INVALID_SYNTAX;

    // a URL parsed over an older one must not inherit its parts
    m_Host = "";
    m_Path = "";
    m_HasQuery = false;
    m_Query    = "";
    m_HasFragment = false;
    m_Fragment    = "";

    if (default_port != 0) {
        m_Port = default_port;
    } else if (m_SchemeId == SCHEME_ID_HTTP) {
        m_Port = 80;
    } else if (m_SchemeId == SCHEME_ID_HTTPS) {
        m_Port = 443;
    }

    enum { FIRST_SLASH, SECOND_SLASH, HOST, PORT } state = FIRST_SLASH;
    const char* host_start = nullptr;
    HLY_UInt32  port       = 0;

    // the terminating NUL is seen by the loop, so every state handles the end
    for (const char* p = url + m_Scheme.GetLength() + 1;; ++p) {
        char c = *p;
        switch (state) {
            case FIRST_SLASH:
                if (c != '/') return HLY_ERROR_INVALID_SYNTAX;
                state = SECOND_SLASH;
                break;

            case SECOND_SLASH:
                if (c != '/') return HLY_ERROR_INVALID_SYNTAX;
                state      = HOST;
                host_start = p + 1;
                break;

            case HOST:
                if (c == ':' || c == '/' || c == '?' || c == '#' || c == '\0') {
                    m_Host.Assign(host_start, (HLY_Size)(p - host_start));
                    if (c == ':') {
                        m_Port = 0;
                        state  = PORT;
                    } else if (c == '\0') {
                        m_Path = "/";
                        return HLY_SUCCESS;
                    } else {
                        return SetRequestTarget(p);
                    }
                }
                break;

            case PORT:
                if (IsAsciiDigit(c)) {
                    port = port * 10 + (HLY_UInt32)(c - '0');
                    if (port > 65535) {
                        m_Port = 0;
                        return HLY_ERROR_INVALID_SYNTAX;
                    }
                } else if (c == '/') {
                    m_Port = (HLY_UInt16)port;
                    return SetRequestTarget(p);
                } else if (c == '\0') {
                    m_Port = (HLY_UInt16)port;
                    m_Path = "/";
                    return HLY_SUCCESS;
                } else {
                    m_Port = 0;
                    return HLY_ERROR_INVALID_SYNTAX;
                }
                break;
        }
    }
}

HLY_Result HLY_Url::SetHost(const char* host)
{
    if (host == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    const char* colon = strchr(host, ':');
    if (colon == nullptr) {
        m_Host = host;
        return HLY_SUCCESS;
    }

    m_Host.Assign(host, (HLY_Size)(colon - host));
    HLY_UInt32 port   = 0;
    HLY_Result result = HLY_ParseInteger32U(colon + 1, port, false);
    if (HLY_FAILED(result)) return result; // port left as it was
    // a number past 16 bits is not a port; truncating it would pick a
    // different port than the one written
    if (port > 65535) return HLY_ERROR_OUT_OF_RANGE;
    m_Port = (HLY_UInt16)port;
    return HLY_SUCCESS;
}

void HLY_Url::SetPath(const char* path, bool encoded)
{
    if (encoded) {
        m_Path = path;
    } else {
        m_Path = PercentEncode(path, PathCharsToEncode, true);
    }
}

HLY_Result HLY_Url::SetRequestTarget(const char* path_plus)
{
    if (path_plus == nullptr) return HLY_ERROR_INVALID_PARAMETERS;

    m_Path = "";
    m_HasQuery = false;
    m_Query    = "";
    m_HasFragment = false;
    m_Fragment    = "";

    if (HasControlChars(path_plus)) {
        HLY_LOG_FINE("refusing a request target with control characters");
        return HLY_ERROR_INVALID_SYNTAX;
    }

    // "/C:/dir" names a drive-letter path; the slash is not part of it
    const char* p = path_plus;
    if (p[0] == '/' && IsAsciiLetter(p[1]) && p[2] == ':') ++p;

    const char* end = p + strcspn(p, "?#");
    m_Path.Assign(p, (HLY_Size)(end - p));
    p = end;

    if (*p == '?') {
        ++p;
        end = p + strcspn(p, "#");
        m_HasQuery = true;
        m_Query.Assign(p, (HLY_Size)(end - p));
        p = end;
    }
    if (*p == '#') {
        m_HasFragment = true;
        m_Fragment    = p + 1;
    }
    return HLY_SUCCESS;
}

bool HLY_Url::IsValid() const
{
    if (m_SchemeId == SCHEME_ID_HTTP || m_SchemeId == SCHEME_ID_HTTPS) {
        return m_Port != 0 && !m_Host.IsEmpty();
    }
    return !m_Scheme.IsEmpty();
}

HLY_String HLY_Url::FormatRequestTarget(bool with_fragment) const
{
    HLY_String target = m_Path.IsEmpty() ? HLY_String("/") : m_Path;
    // a drive-letter path lost its "/" when it was read; without it a printed
    // URL would run the path into the host ("http://hC:/dir")
    if (m_Path.GetLength() >= 2 && IsAsciiLetter(m_Path[0]) && m_Path[1] == ':') target = "/" + m_Path;
    if (m_HasQuery) {
        target += '?';
        target += m_Query;
    }
    if (with_fragment && m_HasFragment) {
        target += '#';
        target += m_Fragment;
    }
    return target;
}

HLY_String HLY_Url::FormatOmittingPort(HLY_UInt16 default_port, bool with_fragment) const
{
    HLY_String text = m_Scheme;
    text += "://";
    text += m_Host;
    if (m_Port != default_port) {
        text += ':';
        text += HLY_String::FromIntegerU(m_Port);
    }
    text += FormatRequestTarget(with_fragment);
    return text;
}

HLY_String HLY_Url::ToString(bool with_fragment) const
{
    return FormatOmittingPort(0, with_fragment);
}

/*----------------------------------------------------------------------
|   HLY_HttpUrl
+---------------------------------------------------------------------*/
HLY_HttpUrl::HLY_HttpUrl(const char* url, bool ignore_scheme)
    : HLY_Url(url, 0)
{
    if (!ignore_scheme && m_SchemeId != SCHEME_ID_HTTP && m_SchemeId != SCHEME_ID_HTTPS) {
        Reset();
        // dropping the scheme too is what makes the rejected URL invalid
        SetScheme("");
    }
}

HLY_HttpUrl::HLY_HttpUrl(const char* host,
                         HLY_UInt16  port,
                         const char* path,
                         const char* query,
                         const char* fragment)
    : HLY_Url("http", host, port, path, query, fragment)
{
}

HLY_String HLY_HttpUrl::ToString(bool with_fragment) const
{
    HLY_UInt16 default_port = 0;
    if (m_SchemeId == SCHEME_ID_HTTP) default_port = 80;
    else if (m_SchemeId == SCHEME_ID_HTTPS) default_port = 443;
    return FormatOmittingPort(default_port, with_fragment);
}
