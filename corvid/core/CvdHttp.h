#ifndef CVD_HTTP_H
#define CVD_HTTP_H

#include "hlyhttp.h"
#include "hlylogging.h"
#include "hlystrings.h"

class HLY_XmlElementNode;

/*----------------------------------------------------------------------
|   the kinds of client told apart by their headers
+---------------------------------------------------------------------*/
typedef enum {
    CVD_DEVICE_UNKNOWN = 0,
    CVD_DEVICE_XBOX    = 1,
    CVD_DEVICE_PS3     = 2,
    CVD_DEVICE_WMP     = 3,
    CVD_DEVICE_SONOS   = 4,
    CVD_DEVICE_MAC     = 5,
    CVD_DEVICE_WINDOWS = 6,
    CVD_DEVICE_VLC     = 7
} CVD_DeviceSignature;

/*----------------------------------------------------------------------
|   CVD_HttpRequestContext: the addresses of an exchange and the request
|   being served (not owned; it outlives the context)
+---------------------------------------------------------------------*/
class CVD_HttpRequestContext : public HLY_HttpRequestContext
{
public:
    explicit CVD_HttpRequestContext(const HLY_HttpRequest& request) : m_Request(request) {}
    CVD_HttpRequestContext(const HLY_HttpRequest& request, const HLY_HttpRequestContext& context)
        : HLY_HttpRequestContext(&context.GetLocalAddress(), &context.GetRemoteAddress()), m_Request(request) {}

    const HLY_HttpRequest& GetRequest() const { return m_Request; }

private:
    const HLY_HttpRequest& m_Request;
};

/*----------------------------------------------------------------------
|   CVD_HttpHelper: the engine's HTTP message helpers
+---------------------------------------------------------------------*/
class CVD_HttpHelper
{
public:
    static bool IsConnectionKeepAlive(const HLY_HttpMessage& message);
    static bool IsBodyStreamSeekable(const HLY_HttpMessage& message);

    // the body as text (up to the content length when known)
    static HLY_Result GetBody(const HLY_HttpMessage& message, HLY_String& body);
    // the body as an XML tree; the caller owns the tree
    static HLY_Result ParseBody(const HLY_HttpMessage& message, HLY_XmlElementNode*& tree);

    static HLY_Result GetHost(const HLY_HttpRequest& request, HLY_String& host);
    static HLY_Result SetHost(HLY_HttpRequest& request, const char* host);
    static HLY_Result SetBasicAuthorization(HLY_HttpRequest& request, const char* username, const char* password);
    static CVD_DeviceSignature GetDeviceSignature(const HLY_HttpRequest& request);

    static HLY_Result ToLog(HLY_LoggerReference& logger, int level, const char* prefix, const HLY_HttpRequest* request);
    static HLY_Result ToLog(HLY_LoggerReference& logger, int level, const char* prefix, const HLY_HttpResponse* response);

    // standard Base64 (RFC 4648) with padding and without line breaks
    static HLY_String Base64Encode(const void* data, HLY_Size size);
};

#endif // CVD_HTTP_H
