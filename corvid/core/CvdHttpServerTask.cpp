#include "CvdConstants.h"
#include "CvdHttp.h"
#include "CvdHttpServerTask.h"
#include "CvdTaskManager.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.core.http.servertask")

namespace {

// a GET or HEAD that announces a body leaves bytes we do not read: the
// connection cannot carry another request after it
bool DeclaresBody(const HLY_HttpRequest& request)
{
    const HLY_HttpHeaders& headers = request.GetHeaders();
    if (headers.GetHeader(HLY_HTTP_HEADER_TRANSFER_ENCODING)) return true;
    const HLY_String* length = headers.GetHeaderValue(HLY_HTTP_HEADER_CONTENT_LENGTH);
    return length && *length != "0";
}

void SetPage(HLY_HttpResponse& response, int status, const char* reason, const char* page)
{
    response.SetStatus(status, reason);
    // a fresh entity: nothing the handler prepared may leak into the page
    HLY_HttpEntity* entity = new HLY_HttpEntity();
    entity->SetContentType("text/html");
    entity->SetInputStream(page);
    response.SetEntity(entity);
}

} // namespace

/*----------------------------------------------------------------------
|   CVD_HttpServerSocketTask
+---------------------------------------------------------------------*/
CVD_HttpServerSocketTask::CVD_HttpServerSocketTask(HLY_Socket* socket, bool stay_alive_forever)
    : m_Socket(socket), m_StayAliveForever(stay_alive_forever), m_ReadTimeout(CVD_HTTP_SERVER_DEFAULT_READ_TIMEOUT),
      m_LastSourceError(HLY_SUCCESS), m_Limiter(nullptr)
{
    if (m_Socket) {
        m_Socket->SetReadTimeout(m_ReadTimeout);
        m_Socket->SetWriteTimeout(CVD_HTTP_SERVER_DEFAULT_WRITE_TIMEOUT);
    }
}

CVD_HttpServerSocketTask::~CVD_HttpServerSocketTask()
{
    m_Output = nullptr;
    if (m_Socket) {
        m_Socket->Cancel(true);
        delete m_Socket;
    }
}

void CVD_HttpServerSocketTask::SetReadTimeout(HLY_Timeout timeout)
{
    m_ReadTimeout = timeout;
    if (m_Socket) m_Socket->SetReadTimeout(timeout);
}

void CVD_HttpServerSocketTask::DoAbort()
{
    // a blocked read or write ends at once
    if (m_Socket) m_Socket->Cancel(true);
}

HLY_Result CVD_HttpServerSocketTask::GetInputStream(HLY_InputStreamReference& stream)
{
    HLY_CHECK_POINTER(m_Socket);
    return m_Socket->GetInputStream(stream);
}

HLY_Result CVD_HttpServerSocketTask::GetInfo(HLY_SocketInfo& info)
{
    HLY_CHECK_POINTER(m_Socket);
    return m_Socket->GetInfo(info);
}

void CVD_HttpServerSocketTask::DoRun()
{
    HLY_InputStreamReference input_stream;
    HLY_Result               result = GetInputStream(input_stream);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(GetInputStream(input_stream))", result);
        return;
    }
    if (input_stream.IsNull()) {
        HLY_LOG_FATAL("@@@ NULL pointer parameter");
        return;
    }

    // one buffered stream for the life of the connection, over a source
    // that holds every request to the read time-out as a whole
    m_Limiter = new HLY_HttpTimeLimitedInputStream(input_stream, m_Socket, m_ReadTimeout);
    HLY_InputStreamReference         limited(m_Limiter);
    HLY_BufferedInputStreamReference buffered_input_stream(new HLY_HttpRequestInputStream(limited, 4096));

    while (!IsAborting(0)) {
        HLY_HttpRequest*       request  = nullptr;
        HLY_HttpResponse*      response = nullptr;
        HLY_HttpRequestContext context;
        bool                   keep_alive = false;

        result = Read(buffered_input_stream, request, &context);
        if (HLY_SUCCEEDED(result) && request) {
            CVD_HttpRequestContext request_context(*request, context);
            RespondToClient(*request, request_context, response);
            if (response) {
                keep_alive = CVD_HttpHelper::IsConnectionKeepAlive(*request);
                bool head  = request->GetMethod() == HLY_HTTP_METHOD_HEAD;
                if (head || request->GetMethod() == HLY_HTTP_METHOD_GET) {
                    if (DeclaresBody(*request)) keep_alive = false;
                }
                if (HLY_FAILED(Write(*response, keep_alive, head))) keep_alive = false;
            }
        } else if (result == HLY_ERROR_OUT_OF_RESOURCES) {
            // the body is beyond what we take in: say so and hang up
            HLY_HttpResponse too_large(413, "Request Entity Too Large", HLY_HTTP_PROTOCOL_1_1);
            keep_alive = false;
            Write(too_large, keep_alive);
        }

        delete request;
        delete response;

        if (keep_alive) continue;
        if (!m_StayAliveForever) break;
        // an ended or cancelled stream gives nothing more, not even to a task that stays alive
        if (result == HLY_ERROR_EOS || result == HLY_ERROR_CANCELLED) break;
        // a socket that fails at once, again and again, must not make this loop spin
        if (HLY_FAILED(result) && HLY_FAILED(m_LastSourceError) && m_LastSourceError != HLY_ERROR_TIMEOUT) {
            if (IsAborting(CVD_HTTP_SERVER_SOCKET_ERROR_BACKOFF)) break;
        }
    }
    m_Limiter = nullptr;
}

HLY_Result CVD_HttpServerSocketTask::Read(HLY_BufferedInputStreamReference& buffered_input_stream,
                                          HLY_HttpRequest*&                 request,
                                          HLY_HttpRequestContext*           context)
{
    request = nullptr;
    HLY_SocketInfo info;
    GetInfo(info);
    if (context) {
        context->SetLocalAddress(info.local_address);
        context->SetRemoteAddress(info.remote_address);
    }

    buffered_input_stream->SetBufferSize(4096);
    if (m_Limiter) {
        m_Limiter->SetDeadline(m_ReadTimeout);
        m_Limiter->ClearLastSourceError();
    }
    m_LastSourceError = HLY_SUCCESS;

    HLY_HttpRequestInputStream* bounded = dynamic_cast<HLY_HttpRequestInputStream*>(buffered_input_stream.AsPointer());
    HLY_Result res = bounded ? bounded->ReadRequest(&info.local_address, request)
                             : HLY_HttpRequest::Parse(*buffered_input_stream, &info.local_address, request);
    if (HLY_SUCCEEDED(res) && request == nullptr) res = HLY_FAILURE;
    if (HLY_FAILED(res)) {
        if (res != HLY_ERROR_TIMEOUT && res != HLY_ERROR_EOS) HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(res)", res);
        if (m_Limiter) {
            m_LastSourceError = m_Limiter->GetLastSourceError();
            m_Limiter->ClearDeadline();
        }
        return res;
    }

    if (context) {
        GetInfo(info);
        context->SetLocalAddress(info.local_address);
        context->SetRemoteAddress(info.remote_address);
    }

    const HLY_String& method = request->GetMethod();
    if (method != HLY_HTTP_METHOD_GET && method != HLY_HTTP_METHOD_HEAD) {
        // the whole body is read before the handler runs
        HLY_HttpEntity*   request_entity = new HLY_HttpEntity(request->GetHeaders());
        HLY_MemoryStream* body_stream    = new HLY_MemoryStream();
        request_entity->SetInputStream(HLY_InputStreamReference(body_stream));
        request->SetEntity(request_entity);
        buffered_input_stream->SetBufferSize(0);

        if (request_entity->GetTransferEncoding() == HLY_HTTP_TRANSFER_ENCODING_CHUNKED) {
            HLY_HttpChunkedInputStream* chunked = new HLY_HttpChunkedInputStream(buffered_input_stream);
            HLY_InputStreamReference    chunked_reference(chunked);
            // one byte more than the cap tells a body beyond it
            res = HLY_StreamToStreamCopy(*chunked, *body_stream, 0, CVD_HTTP_SERVER_MAX_REQUEST_BODY_SIZE + 1);
            if (HLY_SUCCEEDED(res)) {
                HLY_LOG_WARNING("chunked request body larger than %d bytes", CVD_HTTP_SERVER_MAX_REQUEST_BODY_SIZE);
                res = HLY_ERROR_OUT_OF_RESOURCES;
            } else if (res == HLY_ERROR_EOS && chunked->IsAtEnd()) {
                res = HLY_SUCCESS;
            }
            // otherwise the connection ended or failed before the last chunk: the body is not whole
            if (HLY_FAILED(res) && res != HLY_ERROR_OUT_OF_RESOURCES) {
                HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(HLY_StreamToStreamCopy( *HLY_InputStreamReference(new "
                         "HLY_HttpChunkedInputStream(buffered_input_stream)).AsPointer(), *body_stream))", res);
            }
            request_entity->SetTransferEncoding("");
            request_entity->SetContentLength(body_stream->GetDataSize());
        } else if (!request_entity->ContentLengthIsKnown() &&
                   request->GetHeaders().GetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH)) {
            // a length that is not a number: where the body ends is unknown, and
            // reading on would take its bytes for the next request
            HLY_LOG_WARNING("request with an unreadable Content-Length, closing");
            res = HLY_ERROR_HTTP_INVALID_REQUEST;
        } else if (!request_entity->ContentLengthIsKnown() || request_entity->GetContentLength() == 0) {
            request->SetEntity(nullptr);
        } else if (request_entity->GetContentLength() > CVD_HTTP_SERVER_MAX_REQUEST_BODY_SIZE) {
            HLY_LOG_WARNING("request body of %lld bytes is larger than %d bytes",
                            (long long)request_entity->GetContentLength(), CVD_HTTP_SERVER_MAX_REQUEST_BODY_SIZE);
            res = HLY_ERROR_OUT_OF_RESOURCES;
        } else {
            res = HLY_StreamToStreamCopy(*buffered_input_stream, *body_stream, 0, request_entity->GetContentLength());
            if (HLY_FAILED(res)) {
                HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(HLY_StreamToStreamCopy( *buffered_input_stream.AsPointer(), *body_stream, 0, "
                         "request_entity->GetContentLength()))", res);
            }
        }
        buffered_input_stream->SetBufferSize(4096);
    }
    if (m_Limiter) m_Limiter->ClearDeadline();

    if (HLY_FAILED(res)) {
        delete request;
        request = nullptr;
    }
    return res;
}

HLY_Result CVD_HttpServerSocketTask::RespondToClient(HLY_HttpRequest&              request,
                                                     const HLY_HttpRequestContext& context,
                                                     HLY_HttpResponse*&            response)
{
    response = new HLY_HttpResponse(200, "OK", HLY_HTTP_PROTOCOL_1_1);
    response->SetEntity(new HLY_HttpEntity());

    HLY_Result result = SetupResponse(request, context, *response);
    if (result == HLY_SUCCESS) return HLY_SUCCESS;
    if (result == HLY_ERROR_NO_SUCH_ITEM) {
        SetPage(*response, 404, "Not Found", HLY_HTTP_PAGE_NOT_FOUND);
    } else if (result == HLY_ERROR_PERMISSION_DENIED) {
        SetPage(*response, 403, "Forbidden", HLY_HTTP_PAGE_FORBIDDEN);
    } else if (result == HLY_ERROR_TERMINATED) {
        // the handler wants no answer at all
        delete response;
        response = nullptr;
    } else {
        SetPage(*response, 500, "Internal Error", HLY_HTTP_PAGE_INTERNAL_ERROR);
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_HttpServerSocketTask::SendResponseHeaders(HLY_HttpResponse& response,
                                                         HLY_OutputStream& output_stream,
                                                         bool&             keep_alive)
{
    HLY_HttpHeaders&         headers = response.GetHeaders();
    HLY_HttpEntity*          entity  = response.GetEntity();
    HLY_InputStreamReference body;
    if (entity == nullptr || HLY_FAILED(entity->GetInputStream(body)) || body.IsNull()) {
        if (headers.GetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH) == nullptr) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH, "0");
        }
    } else {
        if (entity->ContentLengthIsKnown()) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH, HLY_String::FromIntegerU(entity->GetContentLength()));
        }
        if (!entity->GetContentType().IsEmpty()) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_TYPE, entity->GetContentType());
        }
        if (!entity->GetContentEncoding().IsEmpty()) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_ENCODING, entity->GetContentEncoding());
        }
        if (!entity->GetTransferEncoding().IsEmpty()) {
            headers.SetHeader(HLY_HTTP_HEADER_TRANSFER_ENCODING, entity->GetTransferEncoding());
        }
    }

    if (keep_alive) {
        const HLY_String* connection = headers.GetHeaderValue(HLY_HTTP_HEADER_CONNECTION);
        const HLY_String* transfer   = headers.GetHeaderValue(HLY_HTTP_HEADER_TRANSFER_ENCODING);
        if (connection && *connection == "close") {
            keep_alive = false;
        } else if (headers.GetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH) == nullptr &&
                   !(transfer && *transfer == HLY_HTTP_TRANSFER_ENCODING_CHUNKED)) {
            // only the end of the connection can mark the end of this body
            keep_alive = false;
        }
    }
    if (response.GetProtocol().Compare(HLY_HTTP_PROTOCOL_1_0, true) == 0 || !keep_alive) {
        headers.SetHeader(HLY_HTTP_HEADER_CONNECTION, keep_alive ? "keep-alive" : "close");
    }
    headers.SetHeader("Server", CVD_Constants::GetInstance().GetDefaultUserAgent(), false);

    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINE, "CVD_HttpServerSocketTask::Write", &response);

    HLY_MemoryStream header_stream(512);
    response.Emit(header_stream);
    HLY_Result result = output_stream.WriteFully(header_stream.GetData(), header_stream.GetDataSize());
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(output_stream.WriteFully(header_stream.GetData(), header_stream.GetDataSize()))", result);
    }
    return result;
}

HLY_Result CVD_HttpServerSocketTask::SendResponseBody(HLY_HttpResponse& response, HLY_OutputStream& output_stream)
{
    return HLY_HttpSendEntityBody(response.GetEntity(), output_stream, _HLY_LocalLogger);
}

HLY_Result CVD_HttpServerSocketTask::Write(HLY_HttpResponse& response, bool& keep_alive, bool headers_only)
{
    if (m_Output.IsNull()) {
        HLY_Result result = m_Socket ? m_Socket->GetOutputStream(m_Output) : HLY_ERROR_INVALID_STATE;
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(m_Socket->GetOutputStream(output_stream))", result);
            return result;
        }
    }
    HLY_OutputStream& output_stream = *m_Output;
    HLY_Result        result        = SendResponseHeaders(response, output_stream, keep_alive);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(SendResponseHeaders(response, *output_stream, keep_alive))", result);
        return result;
    }
    if (!headers_only) {
        result = SendResponseBody(response, output_stream);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(SendResponseBody(response, *output_stream))", result);
            return result;
        }
    }
    output_stream.Flush();
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_HttpListenTask
+---------------------------------------------------------------------*/
CVD_HttpListenTask::CVD_HttpListenTask(CVD_TaskManager*        task_manager,
                                       HLY_HttpRequestHandler* handler,
                                       HLY_TcpServerSocket*    socket,
                                       bool                    owns_socket)
    : m_ConnectionManager(task_manager), m_Handler(handler), m_Socket(socket), m_OwnsSocket(owns_socket),
      m_ReadTimeout(CVD_HTTP_SERVER_DEFAULT_READ_TIMEOUT)
{
}

CVD_HttpListenTask::~CVD_HttpListenTask()
{
    if (m_OwnsSocket) delete m_Socket;
}

void CVD_HttpListenTask::DoAbort()
{
    // with a shutdown the socket stops listening: later clients are refused, not left waiting
    if (m_Socket) m_Socket->Cancel(true);
}

void CVD_HttpListenTask::DoRun()
{
    while (!IsAborting(0)) {
        HLY_Socket* client = nullptr;
        HLY_Result  result = m_Socket->WaitForNewClient(client, 5000, 0);
        if (result == HLY_ERROR_TIMEOUT) continue;
        if (HLY_FAILED(result)) {
            if (!IsAborting(0)) {
                HLY_LOG_WARNING("CVD_HttpListenTask exiting with %d (%s)", (int)result, HLY_ResultText(result));
            }
            break;
        }
        if (client == nullptr) continue;

        CVD_HttpServerTask* task = new CVD_HttpServerTask(m_Handler, client, false);
        task->SetReadTimeout(m_ReadTimeout);
        // at the cap this waits for a running connection to end; meanwhile
        // new connections wait in the socket's listen queue
        if (m_ConnectionManager) {
            m_ConnectionManager->StartTask(task, nullptr, true);
        } else {
            task->Start(nullptr, nullptr, true);
        }
    }
}
