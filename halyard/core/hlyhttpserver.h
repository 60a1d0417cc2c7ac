#ifndef HLY_HTTP_SERVER_H
#define HLY_HTTP_SERVER_H

#include <atomic>

#include "hlybufferedstreams.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlymap.h"
#include "hlysockets.h"
#include "hlystreams.h"
#include "hlystrings.h"
#include "hlytime.h"

/*----------------------------------------------------------------------
|   bounds on what one request head may cost a server. A line holds at
|   most HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH - 1 characters; beyond these
|   the request is dropped without an answer.
+---------------------------------------------------------------------*/
#define HLY_HTTP_SERVER_MAX_HEADER_COUNT   100
#define HLY_HTTP_SERVER_MAX_HEAD_SIZE      (64 * 1024)
#define HLY_HTTP_SERVER_DEFAULT_IO_TIMEOUT 60000

#define HLY_HTTP_SERVER_DEFAULT_SERVER_HEADER "Halyard/1.1.3"

/*----------------------------------------------------------------------
|   HLY_HttpTimeLimitedInputStream: the input of a server connection.
|   While a deadline is set, no read may end after it, so that a client
|   trickling bytes cannot hold a connection longer than one time-out.
|   With the socket at hand each read waits only for the time left;
|   without it a read still waits up to the socket's own time-out.
+---------------------------------------------------------------------*/
class HLY_HttpTimeLimitedInputStream : public HLY_InputStream
{
public:
    // socket (not owned, may be null): its read time-out is narrowed to the time left
    HLY_HttpTimeLimitedInputStream(const HLY_InputStreamReference& source,
                                   HLY_Socket*                     socket      = nullptr,
                                   HLY_Timeout                     io_timeout  = HLY_TIMEOUT_INFINITE);

    // from now on; HLY_TIMEOUT_INFINITE clears it
    void SetDeadline(HLY_Timeout timeout);
    void ClearDeadline() { SetDeadline(HLY_TIMEOUT_INFINITE); }
    // the result of the last failed read of the source (HLY_SUCCESS while none failed)
    HLY_Result GetLastSourceError() const { return m_LastSourceError; }
    void ClearLastSourceError() { m_LastSourceError = HLY_SUCCESS; }

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override { return m_Source->Tell(offset); }
    HLY_Result GetSize(HLY_LargeSize& size) override { return m_Source->GetSize(size); }
    HLY_Result GetAvailable(HLY_LargeSize& available) override { return m_Source->GetAvailable(available); }

private:
    HLY_InputStreamReference m_Source;
    HLY_Socket*              m_Socket;
    HLY_Timeout              m_IoTimeout;
    bool                     m_HasDeadline;
    HLY_TimeStamp            m_Deadline;
    HLY_Result               m_LastSourceError;
};
typedef HLY_Reference<HLY_HttpTimeLimitedInputStream> HLY_HttpTimeLimitedInputStreamReference;

/*----------------------------------------------------------------------
|   HLY_HttpRequestInputStream: the buffered input of a server
|   connection. While a request head is read, its lines are held to the
|   bounds above; a head that breaks them is refused as a whole.
+---------------------------------------------------------------------*/
class HLY_HttpRequestInputStream : public HLY_BufferedInputStream
{
public:
    explicit HLY_HttpRequestInputStream(const HLY_InputStreamReference& source,
                                        HLY_Size buffer_size = HLY_BUFFERED_INPUT_STREAM_DEFAULT_SIZE);

    // reads and parses one request head (HLY_HttpRequest::Parse) within the
    // bounds; HLY_ERROR_OUT_OF_RANGE for a head beyond them
    HLY_Result ReadRequest(const HLY_SocketAddress* endpoint, HLY_HttpRequest*& request);

    using HLY_BufferedInputStream::ReadLine;
    HLY_Result ReadLine(char* buffer, HLY_Size size, HLY_Size* chars_read = nullptr, bool break_on_cr = false) override;

private:
    bool         m_InHead;
    bool         m_HeadTooLarge;
    HLY_Size     m_HeadSize;
    HLY_Cardinal m_HeadLines;
};
typedef HLY_Reference<HLY_HttpRequestInputStream> HLY_HttpRequestInputStreamReference;

class HLY_LoggerReference;

// the error pages both servers answer with
extern const char* const HLY_HTTP_PAGE_NOT_FOUND;
extern const char* const HLY_HTTP_PAGE_FORBIDDEN;
extern const char* const HLY_HTTP_PAGE_INTERNAL_ERROR;

// Writes an entity's body (through a chunked wrapper when its transfer
// encoding says so) and flushes; both servers send bodies this way, each
// logging to its own channel.
HLY_Result HLY_HttpSendEntityBody(HLY_HttpEntity* entity, HLY_OutputStream& output, HLY_LoggerReference& logger);

// true when a path (already percent-decoded) has no ".." segment, no
// backslash and no NUL, so that it cannot climb out of the directory below
// which it is joined
bool HLY_HttpIsContainedPath(const HLY_String& path);

/*----------------------------------------------------------------------
|   HLY_HttpRequestHandler
+---------------------------------------------------------------------*/
class HLY_HttpRequestHandler
{
public:
    virtual ~HLY_HttpRequestHandler() {}

    // fills the response (status, headers, entity) for the request
    virtual HLY_Result SetupResponse(HLY_HttpRequest&              request,
                                     const HLY_HttpRequestContext& context,
                                     HLY_HttpResponse&             response) = 0;
    // writes the entity's body; chunked when its transfer encoding says so
    virtual HLY_Result SendResponseBody(const HLY_HttpRequestContext& context,
                                        HLY_HttpResponse&             response,
                                        HLY_OutputStream&             output);
};

/*----------------------------------------------------------------------
|   HLY_HttpStaticRequestHandler: answers with a fixed buffer
+---------------------------------------------------------------------*/
class HLY_HttpStaticRequestHandler : public HLY_HttpRequestHandler
{
public:
    // without copy the data is borrowed and must outlive the handler
    HLY_HttpStaticRequestHandler(const void* data, HLY_Size size, const char* mime_type = "text/html", bool copy = true);
    HLY_HttpStaticRequestHandler(const char* document, const char* mime_type = "text/html", bool copy = true);

    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override;

private:
    HLY_String     m_MimeType;
    HLY_DataBuffer m_Buffer;
};

/*----------------------------------------------------------------------
|   HLY_HttpFileRequestHandler: maps a URL prefix onto a directory, with
|   MIME types, byte ranges and optional directory listings. Nothing
|   outside the directory is ever served.
+---------------------------------------------------------------------*/
class HLY_HttpFileRequestHandler : public HLY_HttpRequestHandler
{
public:
    // the MIME type of an extension in the built-in table (ignoring case), or null
    static const char* GetDefaultContentType(const char* extension);
    // body of the response from stream and an optional "Range" header value
    static HLY_Result SetupResponseBody(HLY_HttpResponse&         response,
                                        HLY_InputStreamReference& stream,
                                        const HLY_String*         range_spec = nullptr);

    HLY_HttpFileRequestHandler(const char* url_root, const char* file_root, bool auto_dir = false,
                               const char* auto_index = nullptr);

    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override;

    // extension (lower case) to MIME type; looked at before the built-in table
    HLY_Map<HLY_String, HLY_String>& GetFileTypeMap() { return m_FileTypeMap; }
    void SetDefaultMimeType(const char* mime_type) { m_DefaultMimeType = mime_type; }
    void SetUseDefaultFileTypeMap(bool use) { m_UseDefaultFileTypeMap = use; }
    void SetAutoDir(bool auto_dir) { m_AutoDir = auto_dir; }
    void SetAutoIndex(const char* auto_index) { m_AutoIndex = auto_index; }

    HLY_String GetContentType(const HLY_String& filename);

protected:
    HLY_Result SetupDirectoryListing(const HLY_String& url_path, const HLY_String& dirname, HLY_HttpResponse& response);

    HLY_String                      m_UrlRoot;
    HLY_String                      m_FileRoot;
    HLY_Map<HLY_String, HLY_String> m_FileTypeMap;
    HLY_String                      m_DefaultMimeType;
    bool                            m_UseDefaultFileTypeMap;
    bool                            m_AutoDir;
    HLY_String                      m_AutoIndex;
};

/*----------------------------------------------------------------------
|   HLY_HttpResponder: reads the request of a connection and writes the
|   head of its response
+---------------------------------------------------------------------*/
class HLY_HttpResponder
{
public:
    // timeout bounds the whole request head (HLY_TIMEOUT_INFINITE: only the socket's own)
    HLY_HttpResponder(HLY_InputStreamReference&  input,
                      HLY_OutputStreamReference& output,
                      HLY_Timeout                timeout = HLY_HTTP_SERVER_DEFAULT_IO_TIMEOUT);
    virtual ~HLY_HttpResponder() {}

    virtual HLY_Result ParseRequest(HLY_HttpRequest*& request, const HLY_SocketAddress* local_address = nullptr);
    virtual HLY_Result SendResponseHeaders(HLY_HttpResponse& response);

protected:
    HLY_Timeout                             m_Timeout;
    HLY_HttpTimeLimitedInputStreamReference m_Limiter;
    HLY_HttpRequestInputStreamReference     m_Input;
    HLY_OutputStreamReference               m_Output;
};

/*----------------------------------------------------------------------
|   HLY_HttpServer: binds a TCP server socket and serves one connection
|   at a time in the calling thread, one request per connection
+---------------------------------------------------------------------*/
class HLY_HttpServer
{
public:
    struct Config
    {
        Config()
            : m_ListenAddress(HLY_IpAddress::Any), m_ListenPort(0), m_ReuseAddress(true),
              m_ConnectionTimeout(HLY_TIMEOUT_INFINITE), m_IoTimeout(HLY_HTTP_SERVER_DEFAULT_IO_TIMEOUT)
        {
        }
        HLY_IpAddress m_ListenAddress;
        HLY_UInt16    m_ListenPort;
        bool          m_ReuseAddress;
        HLY_Timeout   m_ConnectionTimeout;
        HLY_Timeout   m_IoTimeout;
    };

    explicit HLY_HttpServer(HLY_UInt16 listen_port = 80, bool reuse_address = true);
    virtual ~HLY_HttpServer();

    // the configuration takes effect for the next bind and the next connections
    HLY_Result SetConfig(const Config& config);
    const Config& GetConfig() const { return m_Config; }
    HLY_Result BindListenPort(HLY_UInt16 port, bool reuse_address = true);
    HLY_Result Bind();
    HLY_UInt16 GetPort() const { return m_BoundPort; }
    void SetServerHeader(const char* server_header) { m_ServerHeader = server_header; }

    HLY_Result WaitForNewClient(HLY_InputStreamReference&  input,
                                HLY_OutputStreamReference& output,
                                HLY_HttpRequestContext*    context,
                                HLY_Flags                  socket_flags = 0);
    // serves clients until Abort or a handler's HLY_ERROR_TERMINATED
    HLY_Result Loop(bool cancellable_sockets = true);
    // from any thread: ends Loop (a wait for a client returns at once)
    void Abort();

    virtual HLY_Result AddRequestHandler(HLY_HttpRequestHandler* handler,
                                         const char*             path,
                                         bool                    include_children   = false,
                                         bool                    transfer_ownership = false);
    virtual HLY_HttpRequestHandler* FindRequestHandler(HLY_HttpRequest& request);
    virtual HLY_List<HLY_HttpRequestHandler*> FindRequestHandlers(HLY_HttpRequest& request);
    virtual HLY_Result RespondToClient(HLY_InputStreamReference&     input,
                                       HLY_OutputStreamReference&    output,
                                       const HLY_HttpRequestContext& context);

protected:
    struct HandlerConfig
    {
        HandlerConfig(HLY_HttpRequestHandler* handler, const char* path, bool include_children, bool owned)
            : m_Handler(handler), m_Path(path), m_IncludeChildren(include_children), m_HandlerIsOwned(owned) {}
        ~HandlerConfig()
        {
            if (m_HandlerIsOwned) delete m_Handler;
        }
        HLY_HttpRequestHandler* m_Handler;
        HLY_String              m_Path;
        bool                    m_IncludeChildren;
        bool                    m_HandlerIsOwned;
    };

    HLY_TcpServerSocket            m_Socket;
    HLY_UInt16                     m_BoundPort;
    Config                         m_Config;
    HLY_List<HandlerConfig*>       m_RequestHandlers;
    HLY_String                     m_ServerHeader;
    std::atomic<bool>              m_Run;

private:
    HLY_HttpServer(const HLY_HttpServer&)            = delete;
    HLY_HttpServer& operator=(const HLY_HttpServer&) = delete;
};

#endif // HLY_HTTP_SERVER_H
