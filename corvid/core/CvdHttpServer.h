#ifndef CVD_HTTP_SERVER_H
#define CVD_HTTP_SERVER_H

#include "CvdTaskManager.h"
#include "hlyhttpserver.h"
#include "hlyreferences.h"
#include "hlysockets.h"

/*----------------------------------------------------------------------
|   CVD_HttpServer: the engine's HTTP server. A listen task accepts
|   connections and each one is served by a task of its own; at most
|   max_clients tasks run at once, the listen task included, and further
|   connections wait in the listen queue until one ends.
+---------------------------------------------------------------------*/
class CVD_HttpServer : public HLY_HttpRequestHandler, public HLY_HttpServer
{
public:
    // port 0: a random port from 1024 to 2047
    CVD_HttpServer(HLY_IpAddress address                           = HLY_IpAddress::Any,
                   HLY_UInt16    port                              = 0,
                   bool          allow_random_port_on_bind_failure = false,
                   HLY_Cardinal  max_clients                       = 50,
                   bool          reuse_address                     = false);
    ~CVD_HttpServer() override;

    virtual HLY_Result Start();
    // a stopped server is not started again
    virtual HLY_Result Stop();
    HLY_UInt16 GetPort() const { return m_Port; }
    // the longest a request may take to arrive and a connection may stay
    // idle (the I/O time-out of the configuration); before Start
    void SetConnectionReadTimeout(HLY_Timeout timeout) { m_Config.m_IoTimeout = timeout; }

    // HLY_HttpRequestHandler: dispatches to the registered handlers
    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override;

    // Serves a file with the MIME type and DLNA headers for the client, byte
    // ranges and If-Modified-Since. A path with a ".." segment, a backslash or
    // a NUL is refused (404) before the file system is asked.
    static HLY_Result ServeFile(const HLY_HttpRequest&        request,
                                const HLY_HttpRequestContext& context,
                                HLY_HttpResponse&             response,
                                const HLY_String&             file_path);
    static HLY_Result ServeStream(const HLY_HttpRequest&        request,
                                  const HLY_HttpRequestContext& context,
                                  HLY_HttpResponse&             response,
                                  HLY_InputStreamReference&     stream,
                                  const char*                   content_type);
    // The file below root that a request path (still percent-encoded, relative
    // to the handler's own path) names. HLY_ERROR_PERMISSION_DENIED for paths
    // that would leave root: "..", encoded dots, slashes and backslashes,
    // backslashes, NUL, and symbolic links on the way down (where a link
    // points is not looked at).
    static HLY_Result ResolveFilePath(const char* root, const char* url_path, HLY_String& file_path);

protected:
    HLY_Reference<CVD_TaskManager> m_TaskManager;
    HLY_IpAddress                  m_Address;
    HLY_UInt16                     m_Port;
    bool                           m_AllowRandomPortOnBindFailure;
    bool                           m_ReuseAddress;
    bool                           m_Running;
    bool                           m_Aborted;
};

/*----------------------------------------------------------------------
|   CVD_HttpRequestHandler: hands every request to another handler (not
|   owned), so that an object which is no server-owned handler itself can
|   be registered on a server that owns its handlers
+---------------------------------------------------------------------*/
class CVD_HttpRequestHandler : public HLY_HttpRequestHandler
{
public:
    explicit CVD_HttpRequestHandler(HLY_HttpRequestHandler* delegate) : m_Delegate(delegate) {}
    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override
    {
        return m_Delegate->SetupResponse(request, context, response);
    }

private:
    HLY_HttpRequestHandler* m_Delegate;
};

#endif // CVD_HTTP_SERVER_H
