#ifndef HLY_HTTP_H
#define HLY_HTTP_H

#include "hlybufferedstreams.h"
#include "hlylist.h"
#include "hlysockets.h"
#include "hlystreams.h"
#include "hlystrings.h"
#include "hlythreads.h"
#include "hlyurls.h"

/*----------------------------------------------------------------------
|   constants
+---------------------------------------------------------------------*/
// max chars given to each line read of a message head (so 8191 characters fit)
const unsigned int HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH = 8192;
// cap on the name and value bytes of one message head: a peer that keeps
// sending header lines must not make us grow without bound
const unsigned int HLY_HTTP_PROTOCOL_MAX_HEADERS_SIZE = 256 * 1024;

#define HLY_HTTP_PROTOCOL_1_0 "HTTP/1.0"
#define HLY_HTTP_PROTOCOL_1_1 "HTTP/1.1"

#define HLY_HTTP_METHOD_GET  "GET"
#define HLY_HTTP_METHOD_HEAD "HEAD"
#define HLY_HTTP_METHOD_POST "POST"
#define HLY_HTTP_METHOD_PUT  "PUT"

#define HLY_HTTP_DEFAULT_PORT  80
#define HLY_HTTPS_DEFAULT_PORT 443

#define HLY_HTTP_HEADER_HOST              "Host"
#define HLY_HTTP_HEADER_CONNECTION        "Connection"
#define HLY_HTTP_HEADER_USER_AGENT        "User-Agent"
#define HLY_HTTP_HEADER_LOCATION          "Location"
#define HLY_HTTP_HEADER_CONTENT_LENGTH    "Content-Length"
#define HLY_HTTP_HEADER_CONTENT_TYPE      "Content-Type"
#define HLY_HTTP_HEADER_CONTENT_ENCODING  "Content-Encoding"
#define HLY_HTTP_HEADER_TRANSFER_ENCODING "Transfer-Encoding"

#define HLY_HTTP_TRANSFER_ENCODING_CHUNKED "chunked"

class HLY_HttpRequest;
class HLY_HttpResponse;
class HLY_HttpRequestContext;
class HLY_HttpProxySelector;

/*----------------------------------------------------------------------
|   HLY_HttpHeader
+---------------------------------------------------------------------*/
class HLY_HttpHeader
{
public:
    HLY_HttpHeader(const char* name, const char* value) : m_Name(name), m_Value(value) {}

    HLY_Result Emit(HLY_OutputStream& stream) const;
    const HLY_String& GetName() const { return m_Name; }
    const HLY_String& GetValue() const { return m_Value; }
    HLY_Result SetName(const char* name)
    {
        m_Name = name;
        return HLY_SUCCESS;
    }
    HLY_Result SetValue(const char* value)
    {
        m_Value = value;
        return HLY_SUCCESS;
    }

private:
    HLY_String m_Name;
    HLY_String m_Value;
};

/*----------------------------------------------------------------------
|   HLY_HttpHeaders: an ordered list of headers; one name may appear
|   several times. Names are compared without case.
+---------------------------------------------------------------------*/
class HLY_HttpHeaders
{
public:
    HLY_HttpHeaders() {}
    ~HLY_HttpHeaders();

    HLY_Result Parse(HLY_BufferedInputStream& stream);
    HLY_Result Emit(HLY_OutputStream& stream) const;

    const HLY_List<HLY_HttpHeader*>& GetHeaders() const { return m_Headers; }
    HLY_HttpHeader* GetHeader(const char* name) const;
    const HLY_String* GetHeaderValue(const char* name) const;
    HLY_Result AddHeader(const char* name, const char* value);
    HLY_Result SetHeader(const char* name, const char* value, bool replace = true);
    HLY_Result RemoveHeader(const char* name);

private:
    HLY_HttpHeaders(const HLY_HttpHeaders&)            = delete;
    HLY_HttpHeaders& operator=(const HLY_HttpHeaders&) = delete;

    HLY_List<HLY_HttpHeader*> m_Headers;
};

/*----------------------------------------------------------------------
|   HLY_HttpEntity: what is known of a message body, and its stream
+---------------------------------------------------------------------*/
class HLY_HttpEntity
{
public:
    HLY_HttpEntity();
    explicit HLY_HttpEntity(const HLY_HttpHeaders& headers);
    virtual ~HLY_HttpEntity() {}

    HLY_Result SetInputStream(const HLY_InputStreamReference& stream, bool update_content_length = false);
    HLY_Result SetInputStream(const void* data, HLY_Size size);
    HLY_Result SetInputStream(const HLY_String& string);
    HLY_Result SetInputStream(const char* string);
    // empties stream, then hands out the body stream; HLY_FAILURE without one
    HLY_Result GetInputStream(HLY_InputStreamReference& stream);

    HLY_Result SetContentLength(HLY_LargeSize length)
    {
        m_ContentLength        = length;
        m_ContentLengthIsKnown = true;
        return HLY_SUCCESS;
    }
    HLY_LargeSize GetContentLength() const { return m_ContentLength; }
    bool ContentLengthIsKnown() const { return m_ContentLengthIsKnown; }
    HLY_Result SetContentType(const char* type)
    {
        m_ContentType = type;
        return HLY_SUCCESS;
    }
    const HLY_String& GetContentType() const { return m_ContentType; }
    HLY_Result SetContentEncoding(const char* encoding)
    {
        m_ContentEncoding = encoding;
        return HLY_SUCCESS;
    }
    const HLY_String& GetContentEncoding() const { return m_ContentEncoding; }
    HLY_Result SetTransferEncoding(const char* encoding)
    {
        m_TransferEncoding = encoding;
        return HLY_SUCCESS;
    }
    const HLY_String& GetTransferEncoding() const { return m_TransferEncoding; }

private:
    HLY_HttpEntity(const HLY_HttpEntity&)            = delete;
    HLY_HttpEntity& operator=(const HLY_HttpEntity&) = delete;

    HLY_InputStreamReference m_InputStream;
    HLY_LargeSize            m_ContentLength;
    HLY_String               m_ContentType;
    HLY_String               m_ContentEncoding;
    HLY_String               m_TransferEncoding;
    bool                     m_ContentLengthIsKnown;
};

/*----------------------------------------------------------------------
|   HLY_HttpMessage
+---------------------------------------------------------------------*/
class HLY_HttpMessage
{
public:
    virtual ~HLY_HttpMessage();
    virtual HLY_Result ParseHeaders(HLY_BufferedInputStream& stream);

    const HLY_String& GetProtocol() const { return m_Protocol; }
    HLY_Result SetProtocol(const char* protocol)
    {
        m_Protocol = protocol;
        return HLY_SUCCESS;
    }
    HLY_HttpHeaders& GetHeaders() { return m_Headers; }
    const HLY_HttpHeaders& GetHeaders() const { return m_Headers; }
    HLY_HttpEntity* GetEntity() const { return m_Entity; }
    // takes ownership of entity
    HLY_Result SetEntity(HLY_HttpEntity* entity);

protected:
    explicit HLY_HttpMessage(const char* protocol) : m_Protocol(protocol), m_Entity(nullptr) {}

    HLY_String      m_Protocol;
    HLY_HttpHeaders m_Headers;
    HLY_HttpEntity* m_Entity;

private:
    HLY_HttpMessage(const HLY_HttpMessage&)            = delete;
    HLY_HttpMessage& operator=(const HLY_HttpMessage&) = delete;
};

/*----------------------------------------------------------------------
|   HLY_HttpRequest
+---------------------------------------------------------------------*/
class HLY_HttpRequest : public HLY_HttpMessage
{
public:
    // endpoint: the local address of the connection the request came in on (may be null)
    static HLY_Result Parse(HLY_BufferedInputStream&  stream,
                            const HLY_SocketAddress*  endpoint,
                            HLY_HttpRequest*&         request);

    HLY_HttpRequest(const HLY_HttpUrl& url, const char* method, const char* protocol = HLY_HTTP_PROTOCOL_1_0);
    // a text that is not an http or https URL leaves an invalid URL
    HLY_HttpRequest(const char* url, const char* method, const char* protocol = HLY_HTTP_PROTOCOL_1_0);
    ~HLY_HttpRequest() override {}

    virtual HLY_Result Emit(HLY_OutputStream& stream, bool use_proxy = false) const;

    const HLY_HttpUrl& GetUrl() const { return m_Url; }
    HLY_HttpUrl& GetUrl() { return m_Url; }
    HLY_Result SetUrl(const char* url);
    HLY_Result SetUrl(const HLY_HttpUrl& url);
    const HLY_String& GetMethod() const { return m_Method; }
    HLY_Result SetMethod(const char* method)
    {
        m_Method = method;
        return HLY_SUCCESS;
    }

protected:
    HLY_HttpUrl m_Url;
    HLY_String  m_Method;
};

/*----------------------------------------------------------------------
|   HLY_HttpResponse
+---------------------------------------------------------------------*/
class HLY_HttpResponse : public HLY_HttpMessage
{
public:
    static HLY_Result Parse(HLY_BufferedInputStream& stream, HLY_HttpResponse*& response);

    HLY_HttpResponse(HLY_Int32 status_code, const char* reason_phrase, const char* protocol = HLY_HTTP_PROTOCOL_1_0);
    ~HLY_HttpResponse() override {}

    virtual HLY_Result Emit(HLY_OutputStream& stream) const;

    // the protocol changes only when one is given
    HLY_Result SetStatus(HLY_Int32 status_code, const char* reason_phrase, const char* protocol = nullptr);
    HLY_Int32 GetStatusCode() const { return m_StatusCode; }
    const HLY_String& GetReasonPhrase() const { return m_ReasonPhrase; }

protected:
    HLY_Int32  m_StatusCode;
    HLY_String m_ReasonPhrase;
};

/*----------------------------------------------------------------------
|   HLY_HttpRequestContext: the two ends of the connection an exchange
|   ran on
+---------------------------------------------------------------------*/
class HLY_HttpRequestContext
{
public:
    HLY_HttpRequestContext() {}
    HLY_HttpRequestContext(const HLY_SocketAddress* local_address, const HLY_SocketAddress* remote_address)
    {
        if (local_address) m_LocalAddress = *local_address;
        if (remote_address) m_RemoteAddress = *remote_address;
    }
    virtual ~HLY_HttpRequestContext() {}

    const HLY_SocketAddress& GetLocalAddress() const { return m_LocalAddress; }
    const HLY_SocketAddress& GetRemoteAddress() const { return m_RemoteAddress; }
    void SetLocalAddress(const HLY_SocketAddress& address) { m_LocalAddress = address; }
    void SetRemoteAddress(const HLY_SocketAddress& address) { m_RemoteAddress = address; }

private:
    HLY_SocketAddress m_LocalAddress;
    HLY_SocketAddress m_RemoteAddress;
};

/*----------------------------------------------------------------------
|   HLY_HttpProxyAddress: an empty host means no proxy
+---------------------------------------------------------------------*/
class HLY_HttpProxyAddress
{
public:
    HLY_HttpProxyAddress() : m_Port(0) {}
    HLY_HttpProxyAddress(const char* host_name, HLY_UInt16 port) : m_HostName(host_name), m_Port(port) {}

    const HLY_String& GetHostName() const { return m_HostName; }
    void SetHostName(const char* host_name) { m_HostName = host_name; }
    HLY_UInt16 GetPort() const { return m_Port; }
    void SetPort(HLY_UInt16 port) { m_Port = port; }

private:
    HLY_String m_HostName;
    HLY_UInt16 m_Port;
};

/*----------------------------------------------------------------------
|   HLY_HttpClient: sends one request at a time and returns the parsed
|   response with a stream over its body
+---------------------------------------------------------------------*/
class HLY_HttpClient
{
public:
    struct Config
    {
        Config()
            : m_ConnectionTimeout(30000),
              m_IoTimeout(30000),
              m_NameResolverTimeout(60000),
              m_MaxRedirects(20),
              m_UserAgent("Halyard/1.1.3")
        {
        }
        HLY_Timeout  m_ConnectionTimeout;
        HLY_Timeout  m_IoTimeout;
        HLY_Timeout  m_NameResolverTimeout;
        HLY_Cardinal m_MaxRedirects;
        HLY_String   m_UserAgent;
    };

    // one transport to a server; may outlive the exchange that made it
    class Connection
    {
    public:
        virtual ~Connection() {}
        virtual HLY_InputStreamReference& GetInputStream()   = 0;
        virtual HLY_OutputStreamReference& GetOutputStream() = 0;
        virtual HLY_Result GetInfo(HLY_SocketInfo& info)     = 0;
        virtual bool SupportsPersistence() { return false; }
        virtual bool IsRecycled() = 0;
        // hands the connection back once its exchange is over; by default it is closed
        virtual HLY_Result Recycle()
        {
            delete this;
            return HLY_SUCCESS;
        }
        virtual HLY_Result Abort() { return HLY_ERROR_NOT_IMPLEMENTED; }
    };

    class Connector
    {
    public:
        virtual ~Connector() {}
        virtual HLY_Result Connect(const HLY_HttpUrl&          url,
                                   HLY_HttpClient&             client,
                                   const HLY_HttpProxyAddress* proxy,
                                   bool                        reuse,
                                   Connection*&                connection) = 0;

    protected:
        // records a new or reused connection as used by client; refused once it was aborted
        static HLY_Result TrackConnection(HLY_HttpClient& client, Connection* connection);
    };

    // without a connector the client makes and owns its default one
    explicit HLY_HttpClient(Connector* connector = nullptr, bool transfer_ownership = true);
    virtual ~HLY_HttpClient();

    // the whole exchange, redirects included; the caller owns the response
    HLY_Result SendRequest(HLY_HttpRequest&        request,
                           HLY_HttpResponse*&      response,
                           HLY_HttpRequestContext* context = nullptr);
    // cancels the exchange in progress from any thread
    HLY_Result Abort();

    const Config& GetConfig() const { return m_Config; }
    HLY_Result SetConfig(const Config& config);
    HLY_Result SetTimeouts(HLY_Timeout connection_timeout, HLY_Timeout io_timeout, HLY_Timeout name_resolver_timeout);
    HLY_Result SetUserAgent(const char* user_agent);
    HLY_Result SetProxySelector(HLY_HttpProxySelector* selector, bool transfer_ownership = false);
    HLY_Result SetConnector(Connector* connector, bool transfer_ownership = true);

    static HLY_Result WriteRequest(HLY_OutputStream& output_stream,
                                   HLY_HttpRequest&  request,
                                   bool              should_persist,
                                   bool              use_proxy = false);
    // on success a connection that went into the response's body stream,
    // or back to the pool, is taken out of connection (set to null)
    static HLY_Result ReadResponse(HLY_InputStreamReference& input_stream,
                                   bool                      should_persist,
                                   bool                      expect_entity,
                                   HLY_HttpResponse*&        response,
                                   Connection*&              connection);

protected:
    HLY_Result SendRequestOnce(HLY_HttpRequest&        request,
                               HLY_HttpResponse*&      response,
                               HLY_HttpRequestContext* context);
    void ClearProxySelector();
    void ClearConnector();

    Config                 m_Config;
    HLY_HttpProxySelector* m_ProxySelector;
    bool                   m_ProxySelectorIsOwned;
    Connector*             m_Connector;
    bool                   m_ConnectorIsOwned;
    HLY_Mutex              m_AbortLock;
    bool                   m_Aborted;

private:
    HLY_HttpClient(const HLY_HttpClient&)            = delete;
    HLY_HttpClient& operator=(const HLY_HttpClient&) = delete;
};

/*----------------------------------------------------------------------
|   HLY_HttpChunkedInputStream: decodes the chunked transfer coding
+---------------------------------------------------------------------*/
class HLY_HttpChunkedInputStream : public HLY_InputStream
{
public:
    explicit HLY_HttpChunkedInputStream(const HLY_BufferedInputStreamReference& source);
    ~HLY_HttpChunkedInputStream() override {}

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override
    {
        offset = 0;
        return HLY_ERROR_NOT_SUPPORTED;
    }
    HLY_Result GetSize(HLY_LargeSize& size) override;
    HLY_Result GetAvailable(HLY_LargeSize& available) override;

    // the last chunk and its trailers have been read
    bool IsAtEnd() const { return m_Eos; }

private:
    HLY_BufferedInputStreamReference m_Source;
    HLY_UInt32                       m_CurrentChunkSize;
    bool                             m_Eos;
};

/*----------------------------------------------------------------------
|   HLY_HttpChunkedOutputStream: encodes each write as one chunk; the
|   last chunk is written when the stream is destroyed, so the target
|   must outlive it
+---------------------------------------------------------------------*/
class HLY_HttpChunkedOutputStream : public HLY_OutputStream
{
public:
    explicit HLY_HttpChunkedOutputStream(HLY_OutputStream& stream) : m_Stream(stream) {}
    ~HLY_HttpChunkedOutputStream() override;

    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override { return m_Stream.Tell(offset); }
    HLY_Result Flush() override { return m_Stream.Flush(); }

private:
    HLY_OutputStream& m_Stream;
};

/*----------------------------------------------------------------------
|   HLY_HttpEntityBodyInputStream: one message body over the stream of
|   a connection. It stops at the end of the body and then hands a
|   persistent connection back for reuse; a body dropped before its end
|   closes the connection with it.
+---------------------------------------------------------------------*/
class HLY_HttpEntityBodyInputStream : public HLY_InputStream
{
public:
    HLY_HttpEntityBodyInputStream(const HLY_BufferedInputStreamReference& source,
                                  HLY_LargeSize                           size,
                                  bool                                    size_is_known,
                                  bool                                    chunked,
                                  HLY_HttpClient::Connection*             connection,
                                  bool                                    should_persist);
    ~HLY_HttpEntityBodyInputStream() override;

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override
    {
        offset = m_Position;
        return HLY_SUCCESS;
    }
    HLY_Result GetSize(HLY_LargeSize& size) override
    {
        size = m_Size;
        return HLY_SUCCESS;
    }
    HLY_Result GetAvailable(HLY_LargeSize& available) override;

    bool SizeIsKnown() const { return m_SizeIsKnown; }

private:
    HLY_HttpEntityBodyInputStream(const HLY_HttpEntityBodyInputStream&)            = delete;
    HLY_HttpEntityBodyInputStream& operator=(const HLY_HttpEntityBodyInputStream&) = delete;

    void OnFullyRead(bool complete);

    HLY_LargeSize               m_Size;
    bool                        m_SizeIsKnown;
    bool                        m_Chunked;
    HLY_HttpClient::Connection* m_Connection;
    bool                        m_ShouldPersist;
    HLY_Position                m_Position;
    HLY_InputStreamReference    m_Source;
    HLY_HttpChunkedInputStream* m_ChunkedSource; // the decoder inside m_Source, when chunked
};

#endif // HLY_HTTP_H
