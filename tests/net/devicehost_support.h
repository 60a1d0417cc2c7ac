#ifndef BEACONRY_DEVICEHOST_SUPPORT_H
#define BEACONRY_DEVICEHOST_SUPPORT_H

// Pieces the device host scenarios share: cvd-light in the peer namespace,
// raw HTTP exchanges, an event sink that keeps the NOTIFYs it is sent and a
// sink that accepts connections and never reads them.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CvdEvent.h"
#include "CvdHttp.h"
#include "CvdHttpServer.h"
#include "peers.h"
#include "ssdp_support.h"
#include "../halyard/http_test_handlers.h"

namespace hosttest {

// cvd-light on the peer host; ready once it printed its "ready" line
inline std::unique_ptr<peers::Peer> StartLight(const std::string& uuid, int port, const char* name = "beaconry-light")
{
    std::string dir = peers::MakeTempDir("cvd-light");
    if (dir.empty()) return nullptr;
    pid_t pid = peers::SpawnOnPeer(dir, {CVD_LIGHT_PATH, "--name", name, "--port", std::to_string(port), "--uuid", uuid});
    std::unique_ptr<peers::Peer> light(new peers::Peer(pid, dir, uuid, port));
    if (!testsupport::Eventually([&]() { return light->Log().find("ready\t") != std::string::npos; }, 5000)) {
        return nullptr;
    }
    return light;
}

// SIGTERM makes the light say goodbye and end; no sanitizer spoke meanwhile
inline bool StopsCleanly(peers::Peer& light)
{
    light.Stop();
    std::string log = light.Log();
    return log.find("stopped\n") != std::string::npos && log.find("Sanitizer") == std::string::npos;
}

// one request written as given on a new connection, and everything read
// until the server closes it (the request should say "Connection: close")
inline std::string Exchange(const char* address, int port, const std::string& request)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return "";
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port   = htons(port);
    inet_pton(AF_INET, address, &target.sin_addr);
    std::string answer;
    if (connect(fd, (sockaddr*)&target, sizeof(target)) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == (ssize_t)request.size()) {
        char    buffer[4096];
        ssize_t count;
        while ((count = recv(fd, buffer, sizeof(buffer), 0)) > 0) answer.append(buffer, count);
    }
    close(fd);
    return answer;
}

// "HTTP/1.1 412 Precondition Failed" -> "412 Precondition Failed"
inline std::string Status(const std::string& answer)
{
    size_t end = answer.find("\r\n");
    return answer.size() > 9 && end != std::string::npos ? answer.substr(9, end - 9) : answer;
}

/*----------------------------------------------------------------------
|   EventSink: a control point's event server that keeps every NOTIFY
+---------------------------------------------------------------------*/
class EventSink
{
public:
    struct Notify {
        std::string sid, seq, body;
    };
    EventSink() : m_Server(HLY_IpAddress::Any, 0, false, 40, false)
    {
        m_Server.AddRequestHandler(
            new FunctionHandler([this](HLY_HttpRequest& request, const HLY_HttpRequestContext&, HLY_HttpResponse&) {
                Notify n;
                if (auto* sid = CVD_EventHeaders::GetSID(request)) n.sid = ssdptest::Text(*sid);
                if (auto* seq = request.GetHeaders().GetHeaderValue("SEQ")) n.seq = ssdptest::Text(*seq);
                HLY_String body;
                CVD_HttpHelper::GetBody(request, body);
                n.body = ssdptest::Text(body);
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Received.push_back(n);
                return HLY_SUCCESS;
            }),
            "/", true, true);
        m_Server.Start();
    }
    std::string Callback(const std::string& path = "/sink")
    {
        return "<http://" + std::string(testnet::Env("TESTNET_LOCAL_ADDR")) + ":" + std::to_string(m_Server.GetPort()) +
               path + ">";
    }
    std::vector<Notify> For(const std::string& sid)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<Notify>         result;
        for (const Notify& n : m_Received) {
            if (n.sid == sid) result.push_back(n);
        }
        return result;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Received.size();
    }

private:
    std::mutex          m_Lock;
    std::vector<Notify> m_Received;
    CVD_HttpServer      m_Server;
};

/*----------------------------------------------------------------------
|   DeafSink: accepts connections and never reads from them
+---------------------------------------------------------------------*/
class DeafSink
{
public:
    DeafSink()
    {
        m_Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, testnet::Env("TESTNET_LOCAL_ADDR"), &address.sin_addr);
        bind(m_Fd, (sockaddr*)&address, sizeof(address));
        listen(m_Fd, 8);
        socklen_t length = sizeof(address);
        getsockname(m_Fd, (sockaddr*)&address, &length);
        m_Port         = ntohs(address.sin_port);
        timeval tv{0, 50000};
        setsockopt(m_Fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        m_Thread = std::thread([this]() {
            while (!m_Stop) {
                int client = accept(m_Fd, nullptr, nullptr);
                if (client >= 0) {
                    ++m_Accepted;
                    m_Clients.push_back(client);
                }
            }
        });
    }
    ~DeafSink()
    {
        m_Stop = true;
        m_Thread.join();
        for (int fd : m_Clients) close(fd);
        close(m_Fd);
    }
    std::string Callback() { return "<http://" + std::string(testnet::Env("TESTNET_LOCAL_ADDR")) + ":" + std::to_string(m_Port) + "/deaf>"; }
    std::atomic<int> m_Accepted{0};

private:
    int               m_Fd   = -1;
    int               m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::vector<int>  m_Clients;
    std::thread       m_Thread;
};

} // namespace hosttest

#endif // BEACONRY_DEVICEHOST_SUPPORT_H
