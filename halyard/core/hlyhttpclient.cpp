#include "hlyhttpclient.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("halyard.http")

#define HLY_HTTP_CLIENT_MAX_RECONNECTS   10
#define HLY_HTTP_CLIENT_MAX_CONTINUATIONS 10
#define HLY_HTTP_CLIENT_BUFFER_SIZE      4096
#define HLY_HTTP_CONNECTION_MANAGER_PERIOD 5000 // ms between two cleanups of the pool

// guards the creation of the process-wide objects of this file
static std::mutex& SingletonLock()
{
    static std::mutex lock;
    return lock;
}

static const char* YesNo(bool value) { return value ? "yes" : "no"; }

/*----------------------------------------------------------------------
|   HLY_HttpProxySelector
+---------------------------------------------------------------------*/
HLY_HttpProxySelector* HLY_HttpProxySelector::GetDefault()
{
    static std::once_flag          once;
    static HLY_HttpProxySelector*  selector = nullptr;
    std::call_once(once, [] {
        const char* config = getenv(HLY_HTTP_PROXY_SELECTOR_ENV);
        if (config == nullptr) return;
        HLY_String value(config);
        if (value.Compare("noproxy", true) == 0) {
            selector = nullptr;
        } else if (value.Compare("env", true) == 0) {
            selector = HLY_HttpEnvProxySelector::GetInstance();
        } else if (value.Compare("system", true) == 0) {
            selector = GetSystemSelector();
        }
    });
    return selector;
}

/*----------------------------------------------------------------------
|   HLY_HttpEnvProxySelector
+---------------------------------------------------------------------*/
HLY_HttpEnvProxySelector* HLY_HttpEnvProxySelector::GetInstance()
{
    static std::atomic<HLY_HttpEnvProxySelector*> instance(nullptr);
    HLY_HttpEnvProxySelector* selector = instance.load(std::memory_order_acquire);
    if (selector) return selector;

    std::lock_guard<std::mutex> lock(SingletonLock());
    selector = instance.load(std::memory_order_relaxed);
    if (selector == nullptr) {
        selector = new HLY_HttpEnvProxySelector();
        HLY_AutomaticCleaner::GetInstance().Register(selector);
        instance.store(selector, std::memory_order_release);
    }
    return selector;
}

static const char* GetEnvEither(const char* first, const char* second)
{
    const char* value = getenv(first);
    if (value == nullptr && second) value = getenv(second);
    return value;
}

void HLY_HttpEnvProxySelector::ParseProxyEnv(const char* value, HLY_HttpProxyAddress& proxy)
{
    if (value == nullptr || value[0] == '\0') return;
    HLY_String text(value);
    if (text.Find("://") < 0) text = HLY_String("http://") + text;
    HLY_Url url(text);
    proxy.SetHostName(url.GetHost());
    proxy.SetPort(url.GetPort());
}

HLY_HttpEnvProxySelector::HLY_HttpEnvProxySelector()
{
    // only the lower-case form of http_proxy: the upper-case one can be set
    // by a CGI client through the Proxy request header
    ParseProxyEnv(getenv("http_proxy"), m_HttpProxy);
    HLY_LOG_FINE("http_proxy: %s:%d", m_HttpProxy.GetHostName().GetChars(), (int)m_HttpProxy.GetPort());

    ParseProxyEnv(GetEnvEither("HTTPS_PROXY", "https_proxy"), m_HttpsProxy);
    HLY_LOG_FINE("https_proxy: %s:%d", m_HttpsProxy.GetHostName().GetChars(), (int)m_HttpsProxy.GetPort());

    ParseProxyEnv(GetEnvEither("ALL_PROXY", "all_proxy"), m_AllProxy);
    HLY_LOG_FINE("all_proxy: %s:%d", m_AllProxy.GetHostName().GetChars(), (int)m_AllProxy.GetPort());

    const char* no_proxy = GetEnvEither("NO_PROXY", "no_proxy");
    if (no_proxy && no_proxy[0]) {
        // "localhost, .example.com" is as common as the form without spaces
        HLY_List<HLY_String> entries = HLY_String(no_proxy).Split(",");
        for (HLY_List<HLY_String>::Iterator entry = entries.GetFirstItem(); entry; ++entry) {
            entry->Trim();
            m_NoProxy.Add(*entry);
        }
    }
}

HLY_Result HLY_HttpEnvProxySelector::GetProxyForUrl(const HLY_HttpUrl& url, HLY_HttpProxyAddress& proxy)
{
    proxy = HLY_HttpProxyAddress();
    HLY_HttpProxyAddress* scheme_proxy = nullptr;
    switch (url.GetSchemeId()) {
        case HLY_Uri::SCHEME_ID_HTTP:
            scheme_proxy = &m_HttpProxy;
            break;
        case HLY_Uri::SCHEME_ID_HTTPS:
            scheme_proxy = &m_HttpsProxy;
            break;
        default:
            return HLY_ERROR_HTTP_NO_PROXY;
    }

    const HLY_String& host = url.GetHost();
    for (HLY_List<HLY_String>::Iterator entry = m_NoProxy.GetFirstItem(); entry; ++entry) {
        if (*entry == "*") return HLY_ERROR_HTTP_NO_PROXY;
        // ".example.com" is the usual way to write a domain and all below it
        HLY_String domain = *entry;
        if (domain.StartsWith(".")) domain.Erase(0);
        if (domain.IsEmpty() || !host.EndsWith(domain, true)) continue;
        // a domain covers itself and its subdomains, not hosts that merely end alike
        if (host.GetLength() == domain.GetLength()) return HLY_ERROR_HTTP_NO_PROXY;
        if (host.GetChar(host.GetLength() - domain.GetLength() - 1) == '.') return HLY_ERROR_HTTP_NO_PROXY;
    }

    if (!scheme_proxy->GetHostName().IsEmpty()) {
        proxy = *scheme_proxy;
        return HLY_SUCCESS;
    }
    if (!m_AllProxy.GetHostName().IsEmpty()) {
        proxy = m_AllProxy;
        return HLY_SUCCESS;
    }
    return HLY_ERROR_HTTP_NO_PROXY;
}

/*----------------------------------------------------------------------
|   HLY_HttpConnectionManager::Connection
+---------------------------------------------------------------------*/
// the live manager, or null before its creation and once it is being destroyed
static std::atomic<HLY_HttpConnectionManager*> ConnectionManagerInstance(nullptr);

HLY_HttpConnectionManager::Connection::Connection(HLY_HttpConnectionManager&       manager,
                                                  const HLY_Reference<HLY_Socket>& socket,
                                                  const HLY_InputStreamReference&  input_stream,
                                                  const HLY_OutputStreamReference& output_stream)
    : m_Manager(manager),
      m_IsRecycled(false),
      m_Socket(socket),
      m_InputStream(input_stream),
      m_OutputStream(output_stream)
{
}

HLY_HttpConnectionManager::Connection::~Connection()
{
    HLY_HttpConnectionManager* manager = ConnectionManagerInstance.load(std::memory_order_acquire);
    if (manager) manager->UntrackConnection(this);
}

/*----------------------------------------------------------------------
|   HLY_HttpConnectionManager
+---------------------------------------------------------------------*/
HLY_HttpConnectionManager* HLY_HttpConnectionManager::GetInstance()
{
    HLY_HttpConnectionManager* manager = ConnectionManagerInstance.load(std::memory_order_acquire);
    if (manager) return manager;

    std::lock_guard<std::mutex> lock(SingletonLock());
    manager = ConnectionManagerInstance.load(std::memory_order_relaxed);
    if (manager == nullptr) {
        manager = new HLY_HttpConnectionManager();
        HLY_AutomaticCleaner::GetInstance().Register(manager);
        ConnectionManagerInstance.store(manager, std::memory_order_release);
        manager->Start();
    }
    return manager;
}

HLY_HttpConnectionManager::HLY_HttpConnectionManager()
    : m_MaxConnections(5), m_MaxConnectionAge(50), m_Aborted(0)
{
}

HLY_HttpConnectionManager::~HLY_HttpConnectionManager()
{
    // connections deleted from here on must not call back into a half-destroyed manager
    ConnectionManagerInstance.store(nullptr, std::memory_order_release);

    m_Aborted.SetValue(1);
    Wait();

    HLY_AutoLock lock(m_Lock);
    m_Connections.Apply(HLY_ObjectDeleter());
    m_Connections.Clear();
    // the lists only; the connections in them belong to their exchanges
    for (HLY_List<HLY_Map<HLY_HttpClient*, ConnectionList*>::Entry*>::Iterator entry =
             m_ClientConnections.GetEntries().GetFirstItem();
         entry; ++entry) {
        delete (*entry)->GetValue();
    }
    m_ClientConnections.Clear();
}

void HLY_HttpConnectionManager::Run()
{
    while (m_Aborted.WaitUntilEquals(1, HLY_HTTP_CONNECTION_MANAGER_PERIOD) == HLY_ERROR_TIMEOUT) {
        HLY_AutoLock lock(m_Lock);
        Cleanup();
    }
}

void HLY_HttpConnectionManager::Cleanup()
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    HLY_TimeStamp max_age = HLY_TimeStamp::FromSeconds(m_MaxConnectionAge);

    // oldest first: stop at the first one still young enough
    Connection* connection = nullptr;
    while (HLY_SUCCEEDED(m_Connections.Get(0, connection))) {
        if (connection->m_TimeStamp + max_age > now) break;
        m_Connections.Erase(m_Connections.GetFirstItem());
        HLY_LOG_FINE("cleaning up connection (%d remain)", (int)m_Connections.GetItemCount());
        delete connection;
    }
}

HLY_HttpConnectionManager::Connection* HLY_HttpConnectionManager::FindConnection(const HLY_SocketAddress& address)
{
    HLY_AutoLock lock(m_Lock);
    Cleanup();

    for (HLY_List<Connection*>::Iterator it = m_Connections.GetFirstItem(); it; ++it) {
        Connection*    connection = *it;
        HLY_SocketInfo info;
        if (HLY_FAILED(connection->GetInfo(info))) continue;
        if (info.remote_address == address) {
            m_Connections.Erase(it);
            return connection;
        }
    }
    return nullptr;
}

HLY_Result HLY_HttpConnectionManager::Recycle(Connection* connection)
{
    HLY_AutoLock lock(m_Lock);
    Cleanup();
    // recycling nothing is how an idle client task asks for that cleanup
    if (connection == nullptr) return HLY_SUCCESS;

    while (m_Connections.GetItemCount() && m_Connections.GetItemCount() >= m_MaxConnections) {
        Connection* oldest = nullptr;
        m_Connections.PopHead(oldest);
        HLY_LOG_FINER("removing connection from pool to make some room");
        delete oldest;
    }
    if (m_MaxConnections == 0) {
        delete connection;
        return HLY_SUCCESS;
    }

    UntrackConnection(connection);
    HLY_System::GetCurrentTimeStamp(connection->m_TimeStamp);
    connection->m_IsRecycled = true;
    return m_Connections.Add(connection);
}

HLY_Result HLY_HttpConnectionManager::Track(HLY_HttpClient* client, HLY_HttpClient::Connection* connection)
{
    HLY_AutoLock lock(m_Lock);
    ConnectionList** list = nullptr;
    if (HLY_FAILED(m_ClientConnections.Get(client, list))) {
        ConnectionList* created = new ConnectionList();
        m_ClientConnections.Put(client, created);
        m_ClientConnections.Get(client, list);
    }
    if ((*list)->Contains(connection)) {
        HLY_LOG_WARNING("Connection already associated to client.");
        return HLY_SUCCESS;
    }
    return (*list)->Add(connection);
}

HLY_Result HLY_HttpConnectionManager::UntrackConnection(HLY_HttpClient::Connection* connection)
{
    HLY_AutoLock lock(m_Lock);
    for (HLY_List<HLY_Map<HLY_HttpClient*, ConnectionList*>::Entry*>::Iterator entry =
             m_ClientConnections.GetEntries().GetFirstItem();
         entry; ++entry) {
        ConnectionList* list = (*entry)->GetValue();
        if (HLY_SUCCEEDED(list->Remove(connection))) {
            if (list->GetItemCount() == 0) {
                HLY_HttpClient* client = (*entry)->GetKey();
                delete list;
                m_ClientConnections.Erase(client);
            }
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_NO_SUCH_ITEM;
}

HLY_Result HLY_HttpConnectionManager::AbortConnections(HLY_HttpClient* client)
{
    HLY_AutoLock     lock(m_Lock);
    ConnectionList** list = nullptr;
    if (HLY_SUCCEEDED(m_ClientConnections.Get(client, list))) {
        for (ConnectionList::Iterator it = (*list)->GetFirstItem(); it; ++it) (*it)->Abort();
    }
    return HLY_SUCCESS;
}

HLY_Cardinal HLY_HttpConnectionManager::GetIdleConnectionCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_Connections.GetItemCount();
}

void HLY_HttpConnectionManager::SetMaxConnections(HLY_Cardinal max_connections)
{
    HLY_AutoLock lock(m_Lock);
    m_MaxConnections = max_connections;
    while (m_Connections.GetItemCount() > m_MaxConnections) {
        Connection* oldest = nullptr;
        m_Connections.PopHead(oldest);
        delete oldest;
    }
}

void HLY_HttpConnectionManager::SetMaxConnectionAge(HLY_Cardinal seconds)
{
    HLY_AutoLock lock(m_Lock);
    m_MaxConnectionAge = seconds;
    Cleanup();
}

/*----------------------------------------------------------------------
|   HLY_HttpTlsConnector
+---------------------------------------------------------------------*/
HLY_Result HLY_HttpTlsConnector::Connect(const HLY_HttpUrl&           url,
                                         HLY_HttpClient&              client,
                                         const HLY_HttpProxyAddress*  proxy,
                                         bool                         reuse,
                                         HLY_HttpClient::Connection*& connection)
{
    connection = nullptr;

    // https, directly or through a proxy tunnel, needs a TLS layer this runtime does not have
    if (url.GetSchemeId() == HLY_Uri::SCHEME_ID_HTTPS) return HLY_ERROR_NOT_SUPPORTED;
    if (url.GetSchemeId() != HLY_Uri::SCHEME_ID_HTTP) return HLY_ERROR_NOT_SUPPORTED;

    const char* host = proxy ? proxy->GetHostName().GetChars() : url.GetHost().GetChars();
    HLY_UInt16  port = proxy ? proxy->GetPort() : url.GetPort();
    if (host[0] == '\0' || port == 0) return HLY_ERROR_INVALID_PARAMETERS;

    const HLY_HttpClient::Config& config = client.GetConfig();
    HLY_IpAddress                 address;
    HLY_CHECK_FINE(address.ResolveName(host, config.m_NameResolverTimeout));
    HLY_SocketAddress socket_address(address, port);

    HLY_HttpConnectionManager* manager = HLY_HttpConnectionManager::GetInstance();
    if (reuse) {
        HLY_LOG_FINE("looking for a connection to reuse");
        HLY_HttpConnectionManager::Connection* pooled = manager->FindConnection(socket_address);
        if (pooled) {
            HLY_LOG_FINE("reusing connection");
            HLY_Result result = TrackConnection(client, pooled);
            if (HLY_FAILED(result)) {
                delete pooled;
                return result;
            }
            connection = pooled;
            return HLY_SUCCESS;
        }
    }

    HLY_Reference<HLY_Socket> socket(new HLY_TcpClientSocket(HLY_SOCKET_FLAG_CANCELLABLE));
    socket->SetReadTimeout(config.m_IoTimeout);
    socket->SetWriteTimeout(config.m_IoTimeout);
    HLY_LOG_FINE("connecting to %s:%d", host, (int)port);
    HLY_CHECK_FINE(socket->Connect(socket_address, config.m_ConnectionTimeout));

    HLY_InputStreamReference  input_stream;
    HLY_OutputStreamReference output_stream;
    HLY_CHECK_FINE(socket->GetInputStream(input_stream));
    HLY_CHECK_FINE(socket->GetOutputStream(output_stream));

    HLY_HttpConnectionManager::Connection* created =
        new HLY_HttpConnectionManager::Connection(*manager, socket, input_stream, output_stream);
    HLY_Result result = TrackConnection(client, created);
    if (HLY_FAILED(result)) {
        delete created;
        return result;
    }
    connection = created;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpClient::Connector
+---------------------------------------------------------------------*/
HLY_Result HLY_HttpClient::Connector::TrackConnection(HLY_HttpClient& client, Connection* connection)
{
    HLY_AutoLock lock(client.m_AbortLock);
    if (client.m_Aborted) return HLY_ERROR_CANCELLED;
    return HLY_HttpConnectionManager::GetInstance()->Track(&client, connection);
}

/*----------------------------------------------------------------------
|   HLY_HttpClient
+---------------------------------------------------------------------*/
HLY_HttpClient::HLY_HttpClient(Connector* connector, bool transfer_ownership)
    : m_ProxySelector(HLY_HttpProxySelector::GetDefault()),
      m_ProxySelectorIsOwned(false),
      m_Connector(connector),
      m_ConnectorIsOwned(transfer_ownership),
      m_Aborted(false)
{
    if (m_Connector == nullptr) {
        m_Connector        = new HLY_HttpTlsConnector();
        m_ConnectorIsOwned = true;
    }
}

HLY_HttpClient::~HLY_HttpClient()
{
    ClearProxySelector();
    ClearConnector();
}

void HLY_HttpClient::ClearProxySelector()
{
    if (m_ProxySelectorIsOwned) delete m_ProxySelector;
    m_ProxySelector        = nullptr;
    m_ProxySelectorIsOwned = false;
}

void HLY_HttpClient::ClearConnector()
{
    if (m_ConnectorIsOwned) delete m_Connector;
    m_Connector        = nullptr;
    m_ConnectorIsOwned = false;
}

HLY_Result HLY_HttpClient::SetConfig(const Config& config)
{
    m_Config = config;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::SetTimeouts(HLY_Timeout connection_timeout,
                                       HLY_Timeout io_timeout,
                                       HLY_Timeout name_resolver_timeout)
{
    m_Config.m_ConnectionTimeout   = connection_timeout;
    m_Config.m_IoTimeout           = io_timeout;
    m_Config.m_NameResolverTimeout = name_resolver_timeout;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::SetUserAgent(const char* user_agent)
{
    m_Config.m_UserAgent = user_agent;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::SetProxySelector(HLY_HttpProxySelector* selector, bool transfer_ownership)
{
    if (selector == m_ProxySelector) {
        m_ProxySelectorIsOwned = selector && transfer_ownership;
        return HLY_SUCCESS;
    }
    ClearProxySelector();
    m_ProxySelector        = selector;
    m_ProxySelectorIsOwned = selector && transfer_ownership;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::SetConnector(Connector* connector, bool transfer_ownership)
{
    if (connector == m_Connector) {
        m_ConnectorIsOwned = connector && transfer_ownership;
        return HLY_SUCCESS;
    }
    ClearConnector();
    m_Connector        = connector ? connector : new HLY_HttpTlsConnector();
    m_ConnectorIsOwned = connector ? transfer_ownership : true;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::Abort()
{
    HLY_AutoLock lock(m_AbortLock);
    m_Aborted = true;
    HLY_HttpConnectionManager::GetInstance()->AbortConnections(this);
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::WriteRequest(HLY_OutputStream& output_stream,
                                        HLY_HttpRequest&  request,
                                        bool              should_persist,
                                        bool              use_proxy)
{
    HLY_HttpHeaders& headers = request.GetHeaders();
    if (!should_persist) headers.SetHeader(HLY_HTTP_HEADER_CONNECTION, "close", false);

    const HLY_HttpUrl& url          = request.GetUrl();
    HLY_UInt16         default_port = 0;
    if (url.GetSchemeId() == HLY_Uri::SCHEME_ID_HTTP) default_port = HLY_HTTP_DEFAULT_PORT;
    else if (url.GetSchemeId() == HLY_Uri::SCHEME_ID_HTTPS) default_port = HLY_HTTPS_DEFAULT_PORT;
    HLY_String host = url.GetHost();
    if (url.GetPort() != default_port) {
        host += ':';
        host += HLY_String::FromIntegerU(url.GetPort());
    }
    headers.SetHeader(HLY_HTTP_HEADER_HOST, host, false);

    HLY_HttpEntity*          entity = request.GetEntity();
    HLY_InputStreamReference body_stream;
    bool                     chunked = false;
    if (entity && HLY_SUCCEEDED(entity->GetInputStream(body_stream))) {
        chunked = entity->GetTransferEncoding().Compare(HLY_HTTP_TRANSFER_ENCODING_CHUNKED, true) == 0;
        // a length beside chunking would contradict the framing
        if (entity->ContentLengthIsKnown() && !chunked) {
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

    // the whole head goes out in one write
    HLY_MemoryStream header_stream;
    request.Emit(header_stream, use_proxy && url.GetSchemeId() == HLY_Uri::SCHEME_ID_HTTP);
    HLY_CHECK_WARNING(output_stream.WriteFully(header_stream.GetData(), header_stream.GetDataSize()));

    HLY_Result result = HLY_SUCCESS;
    if (!body_stream.IsNull()) {
        HLY_HttpChunkedOutputStream* chunked_stream = chunked ? new HLY_HttpChunkedOutputStream(output_stream) : nullptr;
        HLY_OutputStream&            destination    = chunked_stream ? *chunked_stream : output_stream;

        HLY_LargeSize length = entity->ContentLengthIsKnown() ? entity->GetContentLength() : 0;
        HLY_LOG_FINE("sending body stream, %lld bytes", (long long)length);
        HLY_LargeSize bytes_written = 0;
        result = HLY_StreamToStreamCopy(*body_stream, destination, 0, length, &bytes_written);
        if (HLY_FAILED(result)) {
            HLY_LOG_FINE("body stream only partially sent, %lld bytes (%d:%s)", (long long)bytes_written, result,
                         HLY_ResultText(result));
        }
        destination.Flush();
        // writes the last chunk
        delete chunked_stream;
    }
    output_stream.Flush();
    return result;
}

HLY_Result HLY_HttpClient::ReadResponse(HLY_InputStreamReference& input_stream,
                                        bool                      should_persist,
                                        bool                      expect_entity,
                                        HLY_HttpResponse*&        response,
                                        Connection*&              connection)
{
    response = nullptr;
    HLY_BufferedInputStreamReference buffered(
        new HLY_BufferedInputStream(input_stream, HLY_HTTP_CLIENT_BUFFER_SIZE));

    for (HLY_Cardinal interim = 0;; ++interim) {
        HLY_Result result = HLY_HttpResponse::Parse(*buffered, response);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FINE, "(result)", result);
            return result;
        }
        HLY_Int32 status = response->GetStatusCode();
        if (status < 100 || status > 199) break;

        HLY_LOG_FINE("got %d response, continuing", (int)status);
        delete response;
        response = nullptr;
        if (interim >= HLY_HTTP_CLIENT_MAX_CONTINUATIONS) {
            HLY_LOG_WARNING("failed after max continuation attempts");
            return HLY_ERROR_HTTP_TOO_MANY_RECONNECTS;
        }
    }
    HLY_LOG_FINER("got response, code=%d, msg=%s", (int)response->GetStatusCode(),
                  response->GetReasonPhrase().GetChars());

    // from here on nothing past the body may be read ahead
    buffered->SetBufferSize(0);

    const HLY_String* connection_header = response->GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_CONNECTION);
    if (response->GetProtocol() == HLY_HTTP_PROTOCOL_1_1) {
        if (connection_header && connection_header->Compare("close", true) == 0) should_persist = false;
    } else {
        if (connection_header == nullptr || *connection_header != "keep-alive") {
            should_persist = false;
        }
    }

    if (expect_entity) {
        HLY_HttpEntity* entity      = new HLY_HttpEntity(response->GetHeaders());
        bool            have_length = entity->ContentLengthIsKnown();
        bool chunked = entity->GetTransferEncoding().Compare(HLY_HTTP_TRANSFER_ENCODING_CHUNKED, true) == 0;
        // the caller reads the decoded body
        if (chunked) entity->SetTransferEncoding("");

        HLY_Int32 status = response->GetStatusCode();
        if (status == 204 || status == 304) {
            // never a body, whatever the headers say: waiting for one would
            // stall until the peer closes
            chunked     = false;
            have_length = true;
            entity->SetContentLength(0);
        }
        // a body that only the end of the stream delimits leaves nothing to reuse
        bool persist = should_persist && (chunked || have_length);

        HLY_HttpEntityBodyInputStream* body = new HLY_HttpEntityBodyInputStream(
            buffered, entity->GetContentLength(), have_length, chunked, connection, persist);
        connection = nullptr;
        entity->SetInputStream(HLY_InputStreamReference(body));
        response->SetEntity(entity);
    } else if (should_persist && connection) {
        Connection* recycled = connection;
        connection           = nullptr;
        recycled->Recycle();
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpClient::SendRequestOnce(HLY_HttpRequest&        request,
                                           HLY_HttpResponse*&      response,
                                           HLY_HttpRequestContext* context)
{
    response = nullptr;
    HLY_LOG_FINE("requesting URL %s", request.GetUrl().ToString().GetChars());

    HLY_HttpProxyAddress proxy;
    bool                 use_proxy = false;
    if (m_ProxySelector) {
        HLY_Result result = m_ProxySelector->GetProxyForUrl(request.GetUrl(), proxy);
        if (HLY_FAILED(result) && result != HLY_ERROR_HTTP_NO_PROXY) {
            HLY_LOG_WARNING("proxy selector failure (%d)", result);
            return result;
        }
        use_proxy = HLY_SUCCEEDED(result) && !proxy.GetHostName().IsEmpty();
    }

    bool http_1_1 = request.GetProtocol() == HLY_HTTP_PROTOCOL_1_1;

    HLY_InputStreamReference body_stream;
    if (request.GetEntity()) request.GetEntity()->GetInputStream(body_stream);

    HLY_Result result = HLY_SUCCESS;
    for (unsigned int attempt = 0; attempt < HLY_HTTP_CLIENT_MAX_RECONNECTS; ++attempt) {
        HLY_LOG_FINE("calling connector (proxy:%s) (http 1.1:%s) (url:%s)", YesNo(use_proxy), YesNo(http_1_1),
                     request.GetUrl().ToString().GetChars());
        Connection* connection = nullptr;
        result = m_Connector->Connect(request.GetUrl(), *this, use_proxy ? &proxy : nullptr, http_1_1, connection);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(m_Connector->Connect(request.GetUrl(), *this, use_proxy?&proxy:0, "
                                       "http_1_1, connection))", result);
            return result;
        }
        bool reconnect = connection->IsRecycled();
        HLY_LOG_FINE("got connection (reused: %s)", reconnect ? "true" : "false");

        HLY_InputStreamReference  input_stream  = connection->GetInputStream();
        HLY_OutputStreamReference output_stream = connection->GetOutputStream();
        if (context) {
            HLY_SocketInfo info;
            if (HLY_SUCCEEDED(connection->GetInfo(info))) {
                context->SetLocalAddress(info.local_address);
                context->SetRemoteAddress(info.remote_address);
            }
        }

        // on a reused connection a failure means sending again, which needs the body from its start
        if (reconnect && !body_stream.IsNull() && HLY_FAILED(body_stream->Seek(0))) {
            HLY_LOG_FINE("rewinding body stream would fail ... create new connection");
            delete connection;
            continue;
        }

        bool              keep_alive = http_1_1 && connection->SupportsPersistence();
        const HLY_String* requested  = request.GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_CONNECTION);
        if (requested && requested->Compare("close", true) == 0) keep_alive = false;
        if (!m_Config.m_UserAgent.IsEmpty()) {
            request.GetHeaders().SetHeader(HLY_HTTP_HEADER_USER_AGENT, m_Config.m_UserAgent, false);
        }

        result = WriteRequest(*output_stream, request, keep_alive, use_proxy);
        if (HLY_FAILED(result)) {
            HLY_LOG_FINE("failed to write request headers (%d)", result);
        } else {
            result = ReadResponse(input_stream, keep_alive, request.GetMethod() != HLY_HTTP_METHOD_HEAD, response,
                                  connection);
            if (HLY_SUCCEEDED(result)) {
                // still ours when neither a body stream nor the pool took it
                delete connection;
                return HLY_SUCCESS;
            }
            HLY_LOG_FINE("failed to parse the response (%d)", result);
        }
        delete connection;

        bool aborted;
        {
            HLY_AutoLock lock(m_AbortLock);
            aborted = m_Aborted;
        }
        // only a stale pooled connection is worth another try
        if (!reconnect || aborted) return result;

        HLY_LOG_FINE("error is not fatal, retrying");
        if (!body_stream.IsNull()) {
            HLY_LOG_FINE("rewinding body stream in order to resend");
            if (HLY_FAILED(body_stream->Seek(0))) {
                HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FINE, "(HLY_ERROR_HTTP_CANNOT_RESEND_BODY)", HLY_ERROR_HTTP_CANNOT_RESEND_BODY);
                return HLY_ERROR_HTTP_CANNOT_RESEND_BODY;
            }
        }
    }

    HLY_LOG_WARNING("failed after max reconnection attempts");
    return HLY_ERROR_HTTP_TOO_MANY_RECONNECTS;
}

HLY_Result HLY_HttpClient::SendRequest(HLY_HttpRequest&        request,
                                       HLY_HttpResponse*&      response,
                                       HLY_HttpRequestContext* context)
{
    response = nullptr;
    if (request.GetEntity() && request.GetMethod() == HLY_HTTP_METHOD_GET) return HLY_ERROR_HTTP_INVALID_REQUEST;

    {
        HLY_AutoLock lock(m_AbortLock);
        m_Aborted = false;
    }

    HLY_Cardinal watchdog = m_Config.m_MaxRedirects + 1;
    HLY_Result   result   = HLY_SUCCESS;
    for (;;) {
        result = SendRequestOnce(request, response, context);
        if (HLY_FAILED(result)) return result;
        if (response == nullptr || m_Config.m_MaxRedirects == 0) return result;

        const HLY_String& method = request.GetMethod();
        HLY_Int32         status = response->GetStatusCode();
        if (method != HLY_HTTP_METHOD_GET && method != HLY_HTTP_METHOD_HEAD) return result;
        if (status != 301 && status != 302 && status != 303 && status != 307) return result;
        const HLY_String* location_header = response->GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_LOCATION);
        if (location_header == nullptr) return result;

        HLY_String location = *location_header;
        if (!location.StartsWith("/") &&
            (location.StartsWith("http://", true) || location.StartsWith("https://", true))) {
            HLY_LOG_FINE("redirecting to %s", location.GetChars());
            request.SetUrl(location);
            // the new host goes in the Host header
            request.GetHeaders().RemoveHeader(HLY_HTTP_HEADER_HOST);
        } else {
            HLY_LOG_FINE("Location: header (%s) is not an absolute URL, using it as a relative URL",
                         location.GetChars());
            HLY_String target;
            if (location.StartsWith("/")) {
                target = location;
            } else {
                const HLY_String& path  = request.GetUrl().GetPath();
                int               slash = path.ReverseFind('/');
                target = slash >= 0 ? path.Left((HLY_Size)slash + 1) : HLY_String("/");
                target += location;
            }
            HLY_LOG_FINE("redirecting to absolute path %s", target.GetChars());
            request.GetUrl().SetRequestTarget(target);
        }

        delete response;
        response = nullptr;

        bool aborted;
        {
            HLY_AutoLock lock(m_AbortLock);
            aborted = m_Aborted;
        }
        if (aborted) return HLY_ERROR_CANCELLED;
        if (--watchdog == 0) {
            HLY_LOG_WARNING("too many HTTP redirects");
            return HLY_ERROR_HTTP_TOO_MANY_REDIRECTS;
        }
    }
}
