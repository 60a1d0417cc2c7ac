#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hlyhttp.h"
#include "hlyhttpclient.h"
#include "../testsupport.h"

using namespace testsupport;

namespace {

// one request as the server read it
struct Received
{
    int         connection; // index of the connection it came on, from 0
    std::string head;       // request line and headers, CR LF included
    std::string body;       // raw, as sent (chunk framing included)

    std::string RequestLine() const { return head.substr(0, head.find("\r\n")); }
    bool HasHeaderLine(const std::string& line) const { return head.find("\r\n" + line + "\r\n") != std::string::npos; }
    bool HasHeader(const std::string& name) const
    {
        std::string lower = Lower(head);
        return lower.find("\r\n" + Lower(name) + ":") != std::string::npos;
    }
    static std::string Lower(std::string s)
    {
        for (char& c : s) c = (char)tolower((unsigned char)c);
        return s;
    }
};

// what the server sends for one request
struct Reply
{
    std::string bytes;
    bool        close_after = false; // close the connection once sent
    bool        stall       = false; // send nothing, keep the connection until the server stops
};

// A small HTTP server on 127.0.0.1 run by the test: it accepts connections,
// reads requests one after another on each (a head, then a body framed by
// Content-Length or chunking), records them and answers what the script
// returns. Every wait is bounded, and everything stops with the object.
class ScriptedServer
{
public:
    typedef std::function<Reply(const Received&, int request_index)> Script;

    explicit ScriptedServer(Script script) : m_Script(std::move(script))
    {
        m_Listener = socket(AF_INET, SOCK_STREAM, 0);
        int one    = 1;
        setsockopt(m_Listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in address{};
        address.sin_family      = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port        = 0;
        if (bind(m_Listener, (sockaddr*)&address, sizeof(address)) != 0 || listen(m_Listener, 16) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
        }
        socklen_t length = sizeof(address);
        getsockname(m_Listener, (sockaddr*)&address, &length);
        m_Port   = ntohs(address.sin_port);
        m_Accept = std::thread([this] { AcceptLoop(); });
    }

    ~ScriptedServer()
    {
        m_Stop = true;
        m_Accept.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            workers.swap(m_Workers);
        }
        for (std::thread& worker : workers) worker.join();
        close(m_Listener);
    }

    int Port() const { return m_Port; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_Port) + path; }

    int Connections()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Connections;
    }
    std::vector<Received> Requests()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Requests;
    }
    // connections whose peer (the client) closed them
    std::vector<int> ClosedByClient()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_ClosedByClient;
    }
    // waits until a number of connections have ended, whoever closed them
    bool WaitForEnded(int count, int timeout_ms = 3000)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return m_Ended >= count; });
    }
    // waits until the client has closed a number of connections
    bool WaitForClientCloses(size_t count, int timeout_ms = 3000)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return m_ClosedByClient.size() >= count; });
    }

private:
    void AcceptLoop()
    {
        while (!m_Stop) {
            pollfd fd{m_Listener, POLLIN, 0};
            if (poll(&fd, 1, 50) <= 0) continue;
            int client = accept(m_Listener, nullptr, nullptr);
            if (client < 0) continue;
            std::lock_guard<std::mutex> lock(m_Lock);
            int index = m_Connections++;
            m_Workers.emplace_back([this, client, index] { Serve(client, index); });
        }
    }

    // reads more bytes into buffer; false at the end of the stream or when stopping
    bool Fill(int fd, std::string& buffer, bool& closed_by_peer)
    {
        while (!m_Stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char    block[65536];
            ssize_t n = recv(fd, block, sizeof(block), 0);
            if (n <= 0) {
                closed_by_peer = true;
                return false;
            }
            buffer.append(block, (size_t)n);
            return true;
        }
        return false;
    }

    void Serve(int fd, int connection)
    {
        std::string buffer;
        bool        closed_by_peer = false;
        for (;;) {
            size_t end;
            while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
                if (!Fill(fd, buffer, closed_by_peer)) goto done;
            }
            Received request;
            request.connection = connection;
            request.head       = buffer.substr(0, end + 2);
            buffer.erase(0, end + 4);

            std::string lower = Received::Lower(request.head);
            size_t      at    = lower.find("\r\ncontent-length:");
            if (lower.find("\r\ntransfer-encoding: chunked") != std::string::npos) {
                while ((end = buffer.find("\r\n0\r\n\r\n")) == std::string::npos && buffer.rfind("0\r\n\r\n", 0) != 0) {
                    if (!Fill(fd, buffer, closed_by_peer)) goto done;
                }
                size_t length = buffer.rfind("0\r\n\r\n", 0) == 0 ? 5 : end + 7;
                request.body  = buffer.substr(0, length);
                buffer.erase(0, length);
            } else if (at != std::string::npos) {
                size_t length = (size_t)atol(lower.c_str() + at + 17);
                while (buffer.size() < length) {
                    if (!Fill(fd, buffer, closed_by_peer)) goto done;
                }
                request.body = buffer.substr(0, length);
                buffer.erase(0, length);
            }

            int index;
            {
                std::lock_guard<std::mutex> lock(m_Lock);
                index = (int)m_Requests.size();
                m_Requests.push_back(request);
            }
            Reply reply = m_Script(request, index);
            if (reply.stall) {
                while (!m_Stop && Fill(fd, buffer, closed_by_peer)) {
                }
                goto done;
            }
            if (!reply.bytes.empty()) send(fd, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
            if (reply.close_after) break;
        }
    done:
        close(fd);
        std::lock_guard<std::mutex> lock(m_Lock);
        if (closed_by_peer) m_ClosedByClient.push_back(connection);
        ++m_Ended;
        m_Changed.notify_all();
    }

    Script                   m_Script;
    int                      m_Listener = -1;
    int                      m_Port     = 0;
    std::atomic<bool>        m_Stop{false};
    std::thread              m_Accept;
    std::mutex               m_Lock;
    std::condition_variable  m_Changed;
    std::vector<std::thread> m_Workers;
    int                      m_Connections = 0;
    int                      m_Ended       = 0;
    std::vector<Received>    m_Requests;
    std::vector<int>         m_ClosedByClient;
};

Reply Ok(const std::string& body, const std::string& extra_headers = "")
{
    return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers + "\r\n" +
            body};
}

std::string ReadBody(HLY_HttpResponse* response, HLY_Result* result = nullptr)
{
    std::string body;
    if (response == nullptr || response->GetEntity() == nullptr) return body;
    HLY_InputStreamReference stream;
    if (HLY_FAILED(response->GetEntity()->GetInputStream(stream))) return body;
    HLY_DataBuffer buffer;
    HLY_Result     r = stream->Load(buffer);
    if (result) *result = r;
    body.assign((const char*)buffer.GetData(), buffer.GetDataSize());
    return body;
}

HLY_HttpEntity* Entity(const char* text, const char* type = nullptr, const char* encoding = nullptr)
{
    HLY_HttpEntity* entity = new HLY_HttpEntity();
    entity->SetInputStream(text);
    if (type) entity->SetContentType(type);
    if (encoding) entity->SetTransferEncoding(encoding);
    return entity;
}

// sends a request and reads its body; the status code, or the failure (with no response)
int Fetch(HLY_HttpClient& client, const std::string& url, std::string* body = nullptr, const char* method = "GET",
          const char* protocol = HLY_HTTP_PROTOCOL_1_1, HLY_HttpEntity* entity = nullptr)
{
    HLY_HttpRequest   request(url.c_str(), method, protocol);
    HLY_HttpResponse* response = nullptr;
    if (entity) request.SetEntity(entity);
    HLY_Result result = client.SendRequest(request, response);
    if (HLY_FAILED(result)) {
        EXPECT_EQ(response, nullptr) << url;
        return result;
    }
    std::string text = ReadBody(response);
    if (body) *body = text;
    int status = response->GetStatusCode();
    delete response;
    return status;
}

// a port on 127.0.0.1 where nothing listens
int UnusedPort()
{
    int         fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family      = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&address, sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd, (sockaddr*)&address, &length);
    close(fd);
    return ntohs(address.sin_port);
}

// a client whose waits stay short even when something goes wrong
class TestClient : public HLY_HttpClient
{
public:
    TestClient() { SetTimeouts(5000, 5000, 5000); }
};

// The pool is shared by the whole process: start each test without idle
// connections left over from another one.
class HttpClientTest : public ::testing::Test
{
protected:
    void SetUp() override { ResetPool(); }
    void TearDown() override { ResetPool(); }
    static void ResetPool()
    {
        HLY_HttpConnectionManager* manager = HLY_HttpConnectionManager::GetInstance();
        manager->SetMaxConnections(0);
        manager->SetMaxConnections(5);
        manager->SetMaxConnectionAge(50);
    }
    static HLY_Cardinal Idle() { return HLY_HttpConnectionManager::GetInstance()->GetIdleConnectionCount(); }
};

} // namespace

/*----------------------------------------------------------------------
|   persistence and the pool
+---------------------------------------------------------------------*/
TEST_F(HttpClientTest, KeepAliveReusesOnePooledConnection)
{
    ScriptedServer server([](const Received&, int index) {
        if (index == 1) return Reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nchunk\r\n0\r\n\r\n"};
        return Ok("body " + std::to_string(index));
    });
    TestClient client;
    std::string    body;
    EXPECT_EQ(Fetch(client, server.Url("/first"), &body), 200);
    EXPECT_EQ(body, "body 0");
    EXPECT_EQ(Idle(), 1u); // back in the pool once the body was read
    EXPECT_EQ(Fetch(client, server.Url("/second"), &body), 200);
    EXPECT_EQ(body, "chunk");
    EXPECT_EQ(Fetch(client, server.Url("/third?x=1"), &body), 200);
    EXPECT_EQ(body, "body 2");

    EXPECT_EQ(server.Connections(), 1);
    std::vector<Received> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].RequestLine(), "GET /third?x=1 HTTP/1.1");
    for (const Received& request : requests) {
        EXPECT_EQ(request.connection, 0);
        EXPECT_TRUE(request.HasHeaderLine("Host: 127.0.0.1:" + std::to_string(server.Port()))) << request.head;
        EXPECT_TRUE(request.HasHeaderLine("User-Agent: Halyard/1.1.3")) << request.head;
        EXPECT_FALSE(request.HasHeader("Connection")) << request.head;
    }
}

TEST_F(HttpClientTest, PersistenceFollowsProtocolAndConnectionHeaders)
{
    ScriptedServer server([](const Received& request, int) {
        if (request.RequestLine().find("/old-close") != std::string::npos) {
            return Reply{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"};
        }
        if (request.RequestLine().find("/old-Keep") != std::string::npos) {
            // the token compares exactly: another spelling is not kept
            return Reply{"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nok"};
        }
        if (request.RequestLine().find("/old-keep") != std::string::npos) {
            return Reply{"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok"};
        }
        if (request.RequestLine().find("/close") != std::string::npos) {
            return Ok("ok", "Connection: Close\r\n"); // compared without case
        }
        return Ok("ok");
    });
    TestClient client;

    // an HTTP/1.0 answer without keep-alive is not reused
    EXPECT_EQ(Fetch(client, server.Url("/old-close")), 200);
    EXPECT_EQ(Idle(), 0u);
    EXPECT_TRUE(server.WaitForClientCloses(1));
    EXPECT_EQ(Fetch(client, server.Url("/old-Keep")), 200);
    EXPECT_EQ(Idle(), 0u);
    EXPECT_TRUE(server.WaitForClientCloses(2));
    // HTTP/1.0 with keep-alive, then HTTP/1.1 without a Connection header, share one connection
    EXPECT_EQ(Fetch(client, server.Url("/old-keep")), 200);
    EXPECT_EQ(Fetch(client, server.Url("/new")), 200);
    EXPECT_EQ(server.Connections(), 3);
    // an HTTP/1.1 answer with "Connection: Close" ends it
    EXPECT_EQ(Fetch(client, server.Url("/close")), 200);
    EXPECT_EQ(Idle(), 0u);
    // a request in HTTP/1.0 asks the server to close, and is not pooled
    EXPECT_EQ(Fetch(client, server.Url("/new"), nullptr, "GET", HLY_HTTP_PROTOCOL_1_0), 200);
    EXPECT_EQ(Idle(), 0u);
    EXPECT_EQ(server.Connections(), 4);
    std::vector<Received> requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_FALSE(requests[0].HasHeader("Connection")) << requests[0].head;
    EXPECT_EQ(requests[5].RequestLine(), "GET /new HTTP/1.0");
    EXPECT_TRUE(requests[5].HasHeaderLine("Connection: close"));
}

TEST_F(HttpClientTest, SixthIdleConnectionPushesOutTheOldest)
{
    ScriptedServer server([](const Received&, int index) { return Ok("response " + std::to_string(index)); });
    TestClient client;

    // six exchanges at once, each holding its connection until its body is read
    auto open_six = [&](std::vector<HLY_HttpResponse*>& responses, std::vector<std::unique_ptr<HLY_HttpRequest>>& requests) {
        for (int i = 0; i < 6; ++i) {
            requests.emplace_back(new HLY_HttpRequest(server.Url("/" + std::to_string(i)).c_str(), "GET",
                                                      HLY_HTTP_PROTOCOL_1_1));
            HLY_HttpResponse* response = nullptr;
            ASSERT_EQ(client.SendRequest(*requests.back(), response), HLY_SUCCESS);
            responses.push_back(response);
        }
    };
    std::vector<HLY_HttpResponse*>                 responses;
    std::vector<std::unique_ptr<HLY_HttpRequest>> requests;
    open_six(responses, requests);
    ASSERT_EQ(responses.size(), 6u);
    EXPECT_EQ(server.Connections(), 6);
    for (HLY_HttpResponse* response : responses) {
        ReadBody(response);
        delete response;
    }
    // five stay idle; the connection pooled first was closed for the sixth
    EXPECT_EQ(Idle(), 5u);
    ASSERT_TRUE(server.WaitForClientCloses(1));
    EXPECT_EQ(server.ClosedByClient(), std::vector<int>{0});

    // the next six at once: five reuse the pool, one more connection is opened
    responses.clear();
    requests.clear();
    open_six(responses, requests);
    EXPECT_EQ(server.Connections(), 7);
    for (HLY_HttpResponse* response : responses) delete response; // bodies dropped unread: closed
    EXPECT_EQ(Idle(), 0u);
    EXPECT_TRUE(server.WaitForClientCloses(7));
}

TEST_F(HttpClientTest, IdleConnectionsAgeOut)
{
    ScriptedServer server([](const Received&, int) { return Ok("x"); });
    TestClient client;
    EXPECT_EQ(Fetch(client, server.Url("/")), 200);
    EXPECT_EQ(Idle(), 1u);
    // an age of 0 s makes every idle connection due at the next cleanup
    HLY_HttpConnectionManager::GetInstance()->SetMaxConnectionAge(0);
    EXPECT_EQ(Idle(), 0u);
    EXPECT_TRUE(server.WaitForClientCloses(1));
    HLY_HttpConnectionManager::GetInstance()->SetMaxConnectionAge(50);
    EXPECT_EQ(Fetch(client, server.Url("/")), 200);
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(HttpClientTest, RecyclingNothingRunsTheCleanup)
{
    // what a client task does when its queue is idle: no connection to
    // pool, but the connections grown too old must still be closed
    ScriptedServer server([](const Received&, int) { return Ok("x"); });
    TestClient client;
    EXPECT_EQ(Fetch(client, server.Url("/")), 200);
    HLY_HttpConnectionManager* manager = HLY_HttpConnectionManager::GetInstance();
    manager->SetMaxConnectionAge(1);
    EXPECT_EQ(Idle(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(manager->Recycle(nullptr), HLY_SUCCESS);
    EXPECT_EQ(Idle(), 0u);
    EXPECT_TRUE(server.WaitForClientCloses(1));
}

TEST_F(HttpClientTest, ServerClosingAPooledConnectionMeansOneReconnect)
{
    ScriptedServer server([](const Received&, int index) {
        Reply reply       = Ok("answer " + std::to_string(index));
        reply.close_after = index == 0; // without telling the client
        return reply;
    });
    TestClient client;
    EXPECT_EQ(Fetch(client, server.Url("/a")), 200);
    EXPECT_EQ(Idle(), 1u);
    ASSERT_TRUE(server.WaitForEnded(1)); // the server has closed its end

    // a body is sent again in full on the new connection
    std::string body;
    EXPECT_EQ(Fetch(client, server.Url("/b"), &body, "POST", HLY_HTTP_PROTOCOL_1_1, Entity("posted data", "text/plain")),
              200);
    EXPECT_EQ(body, "answer 1");

    EXPECT_EQ(server.Connections(), 2);
    std::vector<Received> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].connection, 1);
    EXPECT_EQ(requests[1].body, "posted data");
    EXPECT_TRUE(requests[1].HasHeaderLine("Content-Length: 11"));
    EXPECT_TRUE(requests[1].HasHeaderLine("Content-Type: text/plain"));
}

TEST_F(HttpClientTest, FreshConnectionFailureIsNotRetried)
{
    ScriptedServer server([](const Received&, int) {
        Reply reply;
        reply.close_after = true; // no answer at all
        return reply;
    });
    TestClient client;
    EXPECT_EQ(Fetch(client, server.Url("/")), HLY_ERROR_EOS);
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(HttpClientTest, HeadAnswersGoBackToThePoolAtOnce)
{
    ScriptedServer server([](const Received&, int) {
        return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nContent-Type: text/plain\r\n\r\n"};
    });
    TestClient        client;
    HLY_HttpRequest   request(server.Url("/").c_str(), "HEAD", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpResponse* response = nullptr;
    ASSERT_EQ(client.SendRequest(request, response), HLY_SUCCESS);
    EXPECT_EQ(response->GetEntity(), nullptr);
    EXPECT_EQ(*response->GetHeaders().GetHeaderValue("content-length"), "1000");
    EXPECT_EQ(Idle(), 1u);
    delete response;
    HLY_HttpRequest again(server.Url("/").c_str(), "HEAD", HLY_HTTP_PROTOCOL_1_1);
    ASSERT_EQ(client.SendRequest(again, response), HLY_SUCCESS);
    delete response;
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(HttpClientTest, NoContentHasNoBodyWhateverItsHeadersSay)
{
    ScriptedServer server([](const Received&, int index) {
        if (index == 0) return Reply{"HTTP/1.1 204 No Content\r\nContent-Length: 50\r\n\r\n"};
        if (index == 1) return Reply{"HTTP/1.1 304 Not Modified\r\nContent-Length: 50\r\n\r\n"};
        return Ok("after");
    });
    TestClient client;
    auto           start = Clock::now();
    std::string    body  = "unset";
    EXPECT_EQ(Fetch(client, server.Url("/")), 204);
    EXPECT_EQ(Fetch(client, server.Url("/")), 304);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Fetch(client, server.Url("/"), &body), 200);
    EXPECT_EQ(body, "after");
    EXPECT_EQ(server.Connections(), 1);
}

/*----------------------------------------------------------------------
|   interim answers, redirects
+---------------------------------------------------------------------*/
TEST_F(HttpClientTest, InterimResponsesAreSkipped)
{
    ScriptedServer server([](const Received& request, int) {
        int count = 0;
        if (sscanf(request.RequestLine().c_str(), "GET /many/%d", &count) == 1) {
            std::string interim;
            for (int i = 0; i < count; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
            return Reply{interim + "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"};
        }
        return Reply{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n"
                     "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone"};
    });
    TestClient client;
    std::string    body;
    EXPECT_EQ(Fetch(client, server.Url("/"), &body), 200);
    EXPECT_EQ(body, "done");

    // ten are skipped, an eleventh is one too many
    EXPECT_EQ(Fetch(client, server.Url("/many/10"), &body), 200);
    EXPECT_EQ(body, "ok");
    EXPECT_EQ(Fetch(client, server.Url("/many/11")), HLY_ERROR_HTTP_TOO_MANY_RECONNECTS);
}

TEST_F(HttpClientTest, RedirectChains)
{
    ScriptedServer server([](const Received& request, int) {
        std::string line = request.RequestLine();
        int         n    = 0;
        if (sscanf(line.c_str(), "GET /hop/%d", &n) == 1 || sscanf(line.c_str(), "HEAD /hop/%d", &n) == 1) {
            int last = line.find("?limit=21") != std::string::npos ? 22 : 20;
            if (n < last) {
                std::string location = "/hop/" + std::to_string(n + 1) + (last == 22 ? "?limit=21" : "");
                return Reply{"HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n"};
            }
            return Ok("arrived at " + std::to_string(n));
        }
        if (line == "GET /a/b.xml HTTP/1.1") {
            return Reply{"HTTP/1.1 301 Moved\r\nLocation: c.xml\r\nContent-Length: 5\r\n\r\nmoved"};
        }
        if (line.rfind("POST ", 0) == 0) return Reply{"HTTP/1.1 302 Found\r\nLocation: /a/c.xml\r\nContent-Length: 0\r\n\r\n"};
        return Ok(line);
    });
    TestClient client;
    std::string    body;

    // twenty redirects are followed
    EXPECT_EQ(Fetch(client, server.Url("/hop/0"), &body), 200);
    EXPECT_EQ(body, "arrived at 20");
    EXPECT_EQ(server.Requests().size(), 21u);
    EXPECT_EQ(server.Connections(), 1); // all on the one kept-alive connection

    // the twenty-first is refused without another request
    EXPECT_EQ(Fetch(client, server.Url("/hop/0?limit=21")), HLY_ERROR_HTTP_TOO_MANY_REDIRECTS);
    EXPECT_EQ(server.Requests().size(), 21u + 21u);

    // a bare file name replaces the last path segment, on the same host
    EXPECT_EQ(Fetch(client, server.Url("/a/b.xml"), &body), 200);
    EXPECT_EQ(body, "GET /a/c.xml HTTP/1.1");

    // a POST is not redirected: the 302 comes back
    EXPECT_EQ(Fetch(client, server.Url("/form"), nullptr, "POST", HLY_HTTP_PROTOCOL_1_1, Entity("a=1")), 302);

    // with redirects turned off the first answer is the result
    HLY_HttpClient::Config config = client.GetConfig();
    config.m_MaxRedirects         = 0;
    client.SetConfig(config);
    EXPECT_EQ(Fetch(client, server.Url("/hop/0")), 302);
}

TEST_F(HttpClientTest, AbsoluteRedirectToAnotherServerWritesTheNewHost)
{
    ScriptedServer target([](const Received&, int) { return Ok("on the other side"); });
    std::string    target_url = target.Url("/landing");
    ScriptedServer origin([&](const Received&, int) {
        return Reply{"HTTP/1.1 307 Temporary\r\nLocation: " + target_url + "\r\nContent-Length: 0\r\n\r\n"};
    });
    TestClient      client;
    HLY_HttpRequest request(origin.Url("/start").c_str(), "GET", HLY_HTTP_PROTOCOL_1_1);
    request.GetHeaders().SetHeader("Host", ("127.0.0.1:" + std::to_string(origin.Port())).c_str());
    HLY_HttpResponse*      response = nullptr;
    HLY_HttpRequestContext context;
    ASSERT_EQ(client.SendRequest(request, response, &context), HLY_SUCCESS);
    EXPECT_EQ(ReadBody(response), "on the other side");
    delete response;

    std::vector<Received> requests = target.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "GET /landing HTTP/1.1");
    EXPECT_TRUE(requests[0].HasHeaderLine("Host: 127.0.0.1:" + std::to_string(target.Port()))) << requests[0].head;
    EXPECT_EQ(context.GetRemoteAddress().GetPort(), (unsigned int)target.Port());
    EXPECT_EQ(context.GetRemoteAddress().GetIpAddress().ToString(), "127.0.0.1");
    EXPECT_EQ(context.GetLocalAddress().GetIpAddress().ToString(), "127.0.0.1");
}

/*----------------------------------------------------------------------
|   proxies
+---------------------------------------------------------------------*/
namespace {
// sets environment variables for the life of the object
class ScopedEnvironment
{
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const char* name : {"http_proxy", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy", "NO_PROXY",
                                 "no_proxy"}) {
            const char* old = getenv(name);
            m_Saved.push_back({name, old ? old : "", old != nullptr});
            unsetenv(name);
        }
        for (auto& value : values) setenv(value.first, value.second, 1);
    }
    ~ScopedEnvironment()
    {
        for (auto& saved : m_Saved) {
            if (saved.present) setenv(saved.name, saved.value.c_str(), 1);
            else unsetenv(saved.name);
        }
    }

private:
    struct Saved
    {
        const char* name;
        std::string value;
        bool        present;
    };
    std::vector<Saved> m_Saved;
};

std::string ProxyFor(HLY_HttpProxySelector& selector, const char* url)
{
    HLY_HttpProxyAddress proxy;
    HLY_Result           result = selector.GetProxyForUrl(HLY_HttpUrl(url), proxy);
    if (result == HLY_ERROR_HTTP_NO_PROXY) return "direct";
    if (HLY_FAILED(result)) return "error";
    return std::string(proxy.GetHostName().GetChars()) + ":" + std::to_string(proxy.GetPort());
}
} // namespace

TEST_F(HttpClientTest, ProxyFromTheEnvironmentGetsTheAbsoluteForm)
{
    ScriptedServer proxy([](const Received&, int) { return Ok("via proxy"); });
    ScriptedServer direct([](const Received&, int) { return Ok("direct"); });
    ScopedEnvironment environment({{"http_proxy", ("127.0.0.1:" + std::to_string(proxy.Port())).c_str()},
                                   {"no_proxy", "example.net, 127.0.0.1"}});
    HLY_HttpEnvProxySelector selector;
    TestClient               client;
    client.SetProxySelector(&selector);

    // port 1 on localhost is never reached: the proxy gets the request
    std::string body;
    EXPECT_EQ(Fetch(client, "http://localhost:1/some/path?q=1#frag", &body), 200);
    EXPECT_EQ(body, "via proxy");
    std::vector<Received> requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "GET http://localhost:1/some/path?q=1 HTTP/1.1");
    EXPECT_TRUE(requests[0].HasHeaderLine("Host: localhost:1")) << requests[0].head;

    // a host listed in no_proxy goes direct
    EXPECT_EQ(Fetch(client, direct.Url("/x"), &body), 200);
    EXPECT_EQ(body, "direct");
    ASSERT_EQ(direct.Requests().size(), 1u);
    EXPECT_EQ(direct.Requests()[0].RequestLine(), "GET /x HTTP/1.1");
    EXPECT_EQ(proxy.Requests().size(), 1u);
}

TEST(HttpProxySelector, EnvironmentRules)
{
    {
        ScopedEnvironment environment({{"http_proxy", "proxy.local:3128"},
                                       {"HTTPS_PROXY", "http://secure.local"},
                                       {"https_proxy", "ignored.local:1"},
                                       {"no_proxy", "example.com,.corp.org,  spaced.net ,10.1.2.3"}});
        HLY_HttpEnvProxySelector selector;
        EXPECT_EQ(ProxyFor(selector, "http://other.org/"), "proxy.local:3128");
        EXPECT_EQ(ProxyFor(selector, "https://other.org/"), "secure.local:80");
        // a domain covers itself and its subdomains, nothing that merely ends alike
        EXPECT_EQ(ProxyFor(selector, "http://example.com/"), "direct");
        EXPECT_EQ(ProxyFor(selector, "http://www.EXAMPLE.com/"), "direct");
        EXPECT_EQ(ProxyFor(selector, "http://badexample.com/"), "proxy.local:3128");
        // a leading dot is the usual spelling of the same
        EXPECT_EQ(ProxyFor(selector, "http://a.b.corp.org/"), "direct");
        EXPECT_EQ(ProxyFor(selector, "http://corp.org/"), "direct");
        EXPECT_EQ(ProxyFor(selector, "http://spaced.net/"), "direct");
        EXPECT_EQ(ProxyFor(selector, "http://10.1.2.3:8080/"), "direct");
        EXPECT_EQ(ProxyFor(selector, "http://110.1.2.3/"), "proxy.local:3128");
    }
    {
        ScopedEnvironment environment({{"HTTP_PROXY", "upper.local:1"}, {"all_proxy", "every.local:9"}});
        HLY_HttpEnvProxySelector selector;
        // only the lower-case http_proxy counts; all_proxy fills in
        EXPECT_EQ(ProxyFor(selector, "http://x.org/"), "every.local:9");
        EXPECT_EQ(ProxyFor(selector, "https://x.org/"), "every.local:9");
        unsetenv("HTTP_PROXY");
    }
    {
        ScopedEnvironment environment({{"http_proxy", "p.local:1"}, {"NO_PROXY", "*"}});
        HLY_HttpEnvProxySelector selector;
        EXPECT_EQ(ProxyFor(selector, "http://anything.org/"), "direct");
    }
    {
        ScopedEnvironment        environment({});
        HLY_HttpEnvProxySelector selector;
        EXPECT_EQ(ProxyFor(selector, "http://anything.org/"), "direct");
    }
}

TEST(HttpProxySelectorDeathTest, DefaultComesFromTheEnvironment)
{
    // the default is decided once per process: look at it in fresh ones
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("HALYARD_NET_CONFIG_PROXY_SELECTOR", "Env", 1);
            setenv("http_proxy", "127.0.0.1:3128", 1);
            HLY_HttpProxySelector* selector = HLY_HttpProxySelector::GetDefault();
            bool ok = selector == HLY_HttpEnvProxySelector::GetInstance() &&
                      ProxyFor(*selector, "http://x.org/") == "127.0.0.1:3128";
            exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("HALYARD_NET_CONFIG_PROXY_SELECTOR", "noproxy", 1);
            setenv("http_proxy", "127.0.0.1:3128", 1);
            exit(HLY_HttpProxySelector::GetDefault() == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            unsetenv("HALYARD_NET_CONFIG_PROXY_SELECTOR");
            setenv("http_proxy", "127.0.0.1:3128", 1);
            exit(HLY_HttpProxySelector::GetDefault() == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

/*----------------------------------------------------------------------
|   failures
+---------------------------------------------------------------------*/
TEST_F(HttpClientTest, RefusedUnsupportedAndInvalidRequests)
{
    TestClient client;
    EXPECT_EQ(Fetch(client, "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/"), HLY_ERROR_CONNECTION_REFUSED);
    EXPECT_EQ(Fetch(client, "https://127.0.0.1:1/"), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(Fetch(client, "http://127.0.0.1:1/", nullptr, "GET", HLY_HTTP_PROTOCOL_1_1, new HLY_HttpEntity()),
              HLY_ERROR_HTTP_INVALID_REQUEST);
}

TEST_F(HttpClientTest, ShortBodyIsReportedAndNotPooled)
{
    ScriptedServer server([](const Received&, int) {
        Reply reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten.."};
        reply.close_after = true;
        return reply;
    });
    TestClient        client;
    HLY_HttpRequest   request(server.Url("/").c_str(), "GET", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpResponse* response = nullptr;
    ASSERT_EQ(client.SendRequest(request, response), HLY_SUCCESS);
    HLY_Result result = HLY_SUCCESS;
    EXPECT_EQ(ReadBody(response, &result), "only ten..");
    EXPECT_EQ(result, HLY_ERROR_CONNECTION_ABORTED);
    delete response;
    EXPECT_EQ(Idle(), 0u);
}

TEST_F(HttpClientTest, UnframedBodyIsReadToTheEndOfTheStream)
{
    ScriptedServer server([](const Received&, int) {
        Reply reply{"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n" + std::string(50000, 'e')};
        reply.close_after = true;
        return reply;
    });
    TestClient client;
    std::string    body;
    EXPECT_EQ(Fetch(client, server.Url("/"), &body), 200);
    EXPECT_EQ(body, std::string(50000, 'e'));
    EXPECT_EQ(Idle(), 0u); // nothing marks where a next answer would start
}

TEST_F(HttpClientTest, AbortFromAnotherThread)
{
    ScriptedServer server([](const Received&, int) {
        Reply reply;
        reply.stall = true;
        return reply;
    });
    TestClient        client;
    HLY_HttpRequest   request(server.Url("/slow").c_str(), "GET", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpResponse* response = nullptr;
    std::thread       aborter([&] {
        // wait until the request is on the wire, then cancel
        for (int i = 0; i < 200 && server.Requests().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        client.Abort();
    });
    auto start = Clock::now();
    EXPECT_EQ(client.SendRequest(request, response), HLY_ERROR_CANCELLED);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)); // far below the 30 s I/O timeout
    aborter.join();
    EXPECT_EQ(response, nullptr);
}

TEST_F(HttpClientTest, ChunkedRequestBody)
{
    ScriptedServer server([](const Received&, int) { return Ok("got it"); });
    TestClient     client;
    std::string    body;
    EXPECT_EQ(Fetch(client, server.Url("/upload"), &body, "PUT", HLY_HTTP_PROTOCOL_1_1,
                    Entity("0123456789abcdef0123", nullptr, "chunked")),
              200);
    EXPECT_EQ(body, "got it");
    std::vector<Received> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].HasHeaderLine("Transfer-Encoding: chunked"));
    EXPECT_FALSE(requests[0].HasHeader("Content-Length"));
    EXPECT_EQ(requests[0].body, "14\r\n0123456789abcdef0123\r\n0\r\n\r\n");
}
