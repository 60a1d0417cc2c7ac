#ifndef CVD_HTTP_SERVER_TASK_H
#define CVD_HTTP_SERVER_TASK_H

#include "CvdThreadTask.h"
#include "hlybufferedstreams.h"
#include "hlyhttp.h"
#include "hlyhttpserver.h"
#include "hlysockets.h"

class CVD_TaskManager;

// the longest a request, head and body, may take to arrive (and the
// longest a kept-alive connection may stay idle)
#define CVD_HTTP_SERVER_DEFAULT_READ_TIMEOUT  60000
#define CVD_HTTP_SERVER_DEFAULT_WRITE_TIMEOUT 600000
// request bodies are read into memory before the handler runs
#define CVD_HTTP_SERVER_MAX_REQUEST_BODY_SIZE (4 * 1024 * 1024)
// a task that stays alive forever waits this long after its socket failed
// a read, so that a socket which keeps failing does not cost a core
#define CVD_HTTP_SERVER_SOCKET_ERROR_BACKOFF 100

/*----------------------------------------------------------------------
|   CVD_HttpServerSocketTask: reads requests from one connection and
|   writes the responses, until the connection is not kept alive (or,
|   staying alive forever, until stopped)
+---------------------------------------------------------------------*/
class CVD_HttpServerSocketTask : public CVD_ThreadTask
{
public:
    // takes ownership of the socket
    explicit CVD_HttpServerSocketTask(HLY_Socket* socket, bool stay_alive_forever = false);
    ~CVD_HttpServerSocketTask() override;

    // before the task starts
    void SetReadTimeout(HLY_Timeout timeout);

protected:
    void DoAbort() override;
    void DoRun() override;

    virtual HLY_Result SetupResponse(HLY_HttpRequest&              request,
                                     const HLY_HttpRequestContext& context,
                                     HLY_HttpResponse&             response) = 0;
    virtual HLY_Result GetInputStream(HLY_InputStreamReference& stream);
    virtual HLY_Result GetInfo(HLY_SocketInfo& info);
    // a request with its body read; HLY_ERROR_OUT_OF_RESOURCES for a body beyond the cap
    virtual HLY_Result Read(HLY_BufferedInputStreamReference& stream,
                            HLY_HttpRequest*&                 request,
                            HLY_HttpRequestContext*           context = nullptr);
    // keep_alive is cleared when the response cannot keep the connection
    virtual HLY_Result Write(HLY_HttpResponse& response, bool& keep_alive, bool headers_only = false);
    // response is null when nothing is to be answered
    virtual HLY_Result RespondToClient(HLY_HttpRequest&              request,
                                       const HLY_HttpRequestContext& context,
                                       HLY_HttpResponse*&            response);
    virtual HLY_Result SendResponseHeaders(HLY_HttpResponse& response, HLY_OutputStream& output_stream,
                                           bool& keep_alive);
    virtual HLY_Result SendResponseBody(HLY_HttpResponse& response, HLY_OutputStream& output_stream);

    HLY_Socket* m_Socket;
    bool        m_StayAliveForever;
    HLY_Timeout m_ReadTimeout;
    // the failure of the socket in the last Read (HLY_SUCCESS when the
    // socket delivered and only the request was at fault); Read sets it
    HLY_Result  m_LastSourceError;

private:
    // the time-limited input under the buffered stream of the connection
    HLY_HttpTimeLimitedInputStream* m_Limiter;
    HLY_OutputStreamReference       m_Output;
};

/*----------------------------------------------------------------------
|   CVD_HttpServerTask: a connection served by a request handler
+---------------------------------------------------------------------*/
class CVD_HttpServerTask : public CVD_HttpServerSocketTask
{
public:
    // the handler is not owned
    CVD_HttpServerTask(HLY_HttpRequestHandler* handler, HLY_Socket* socket, bool stay_alive_forever = false)
        : CVD_HttpServerSocketTask(socket, stay_alive_forever), m_Handler(handler) {}

protected:
    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override
    {
        return m_Handler->SetupResponse(request, context, response);
    }

    HLY_HttpRequestHandler* m_Handler;
};

/*----------------------------------------------------------------------
|   CVD_HttpListenTask: accepts connections and starts one
|   CVD_HttpServerTask for each on the task manager
+---------------------------------------------------------------------*/
class CVD_HttpListenTask : public CVD_ThreadTask
{
public:
    CVD_HttpListenTask(CVD_TaskManager*        task_manager,
                       HLY_HttpRequestHandler* handler,
                       HLY_TcpServerSocket*    socket,
                       bool                    owns_socket = false);
    ~CVD_HttpListenTask() override;

    // for the connections accepted from now on
    void SetReadTimeout(HLY_Timeout timeout) { m_ReadTimeout = timeout; }

protected:
    void DoAbort() override;
    void DoRun() override;

    CVD_TaskManager*        m_ConnectionManager;
    HLY_HttpRequestHandler* m_Handler;
    HLY_TcpServerSocket*    m_Socket;
    bool                    m_OwnsSocket;
    HLY_Timeout             m_ReadTimeout;
};

#endif // CVD_HTTP_SERVER_TASK_H
