#ifndef HLY_HTTP_CLIENT_H
#define HLY_HTTP_CLIENT_H

#include "hlyautomaticcleaner.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlymap.h"
#include "hlysockets.h"
#include "hlythreads.h"
#include "hlytime.h"

#define HLY_HTTP_PROXY_SELECTOR_ENV "HALYARD_NET_CONFIG_PROXY_SELECTOR"

/*----------------------------------------------------------------------
|   HLY_HttpProxySelector: picks the proxy for a URL; the answer
|   HLY_ERROR_HTTP_NO_PROXY means connect directly
+---------------------------------------------------------------------*/
class HLY_HttpProxySelector
{
public:
    virtual ~HLY_HttpProxySelector() {}
    virtual HLY_Result GetProxyForUrl(const HLY_HttpUrl& url, HLY_HttpProxyAddress& proxy) = 0;

    // the selector named by HALYARD_NET_CONFIG_PROXY_SELECTOR, decided once
    // per process: "noproxy", "env" or "system"; null (direct) by default
    static HLY_HttpProxySelector* GetDefault();
    // the operating system's proxy settings: none are read on this platform
    static HLY_HttpProxySelector* GetSystemSelector() { return nullptr; }
};

/*----------------------------------------------------------------------
|   HLY_HttpEnvProxySelector: proxies from http_proxy, HTTPS_PROXY,
|   ALL_PROXY and NO_PROXY, read when the selector is made
+---------------------------------------------------------------------*/
class HLY_HttpEnvProxySelector : public HLY_HttpProxySelector, public HLY_AutomaticCleaner::Singleton
{
public:
    // the process-wide instance
    static HLY_HttpEnvProxySelector* GetInstance();

    // reads the environment as it is now
    HLY_HttpEnvProxySelector();
    ~HLY_HttpEnvProxySelector() override {}

    HLY_Result GetProxyForUrl(const HLY_HttpUrl& url, HLY_HttpProxyAddress& proxy) override;

private:
    static void ParseProxyEnv(const char* value, HLY_HttpProxyAddress& proxy);

    HLY_HttpProxyAddress m_HttpProxy;
    HLY_HttpProxyAddress m_HttpsProxy;
    HLY_List<HLY_String> m_NoProxy;
    HLY_HttpProxyAddress m_AllProxy;
};

/*----------------------------------------------------------------------
|   HLY_HttpConnectionManager: the process-wide pool of idle kept-alive
|   connections (at most 5, each at most 50 s), the record of which
|   connections each client is using, and a thread that closes the
|   idle ones that grew too old
+---------------------------------------------------------------------*/
class HLY_HttpConnectionManager : public HLY_Thread, public HLY_AutomaticCleaner::Singleton
{
public:
    class Connection : public HLY_HttpClient::Connection
    {
    public:
        Connection(HLY_HttpConnectionManager&       manager,
                   const HLY_Reference<HLY_Socket>& socket,
                   const HLY_InputStreamReference&  input_stream,
                   const HLY_OutputStreamReference& output_stream);
        ~Connection() override;

        HLY_InputStreamReference& GetInputStream() override { return m_InputStream; }
        HLY_OutputStreamReference& GetOutputStream() override { return m_OutputStream; }
        HLY_Result GetInfo(HLY_SocketInfo& info) override { return m_Socket->GetInfo(info); }
        bool SupportsPersistence() override { return true; }
        bool IsRecycled() override { return m_IsRecycled; }
        HLY_Result Recycle() override { return m_Manager.Recycle(this); }
        HLY_Result Abort() override { return m_Socket->Cancel(true); }

    private:
        HLY_HttpConnectionManager& m_Manager;
        bool                       m_IsRecycled;
        HLY_TimeStamp              m_TimeStamp;
        HLY_Reference<HLY_Socket>  m_Socket;
        HLY_InputStreamReference   m_InputStream;
        HLY_OutputStreamReference  m_OutputStream;

        friend class HLY_HttpConnectionManager;
    };

    // made and started on first use; deleted at program exit
    static HLY_HttpConnectionManager* GetInstance();

    ~HLY_HttpConnectionManager() override;

    // takes an idle connection to that address out of the pool (null if none)
    Connection* FindConnection(const HLY_SocketAddress& address);
    // puts a connection whose exchange is over into the pool (after closing
    // the idle ones grown too old; null only does that)
    HLY_Result Recycle(Connection* connection);
    HLY_Result Track(HLY_HttpClient* client, HLY_HttpClient::Connection* connection);
    HLY_Result UntrackConnection(HLY_HttpClient::Connection* connection);
    HLY_Result AbortConnections(HLY_HttpClient* client);

    HLY_Cardinal GetIdleConnectionCount();
    // the pool's limits: defaults 5 connections and 50 seconds
    void SetMaxConnections(HLY_Cardinal max_connections);
    void SetMaxConnectionAge(HLY_Cardinal seconds);

private:
    HLY_HttpConnectionManager();

    // HLY_Runnable
    void Run() override;

    // closes the pooled connections that have been idle too long; under m_Lock
    void Cleanup();

    typedef HLY_List<HLY_HttpClient::Connection*> ConnectionList;

    HLY_Mutex                                m_Lock;
    HLY_Cardinal                             m_MaxConnections;
    HLY_Cardinal                             m_MaxConnectionAge;
    HLY_SharedVariable                       m_Aborted;
    HLY_List<Connection*>                    m_Connections;
    HLY_Map<HLY_HttpClient*, ConnectionList*> m_ClientConnections;
};

/*----------------------------------------------------------------------
|   HLY_HttpTlsConnector: the default connector. It makes plain TCP
|   connections (directly or to an http proxy) and reuses pooled ones;
|   there is no TLS layer here, so https answers HLY_ERROR_NOT_SUPPORTED.
+---------------------------------------------------------------------*/
class HLY_HttpTlsConnector : public HLY_HttpClient::Connector
{
public:
    HLY_Result Connect(const HLY_HttpUrl&                url,
                       HLY_HttpClient&                   client,
                       const HLY_HttpProxyAddress*       proxy,
                       bool                              reuse,
                       HLY_HttpClient::Connection*&      connection) override;
};

#endif // HLY_HTTP_CLIENT_H
