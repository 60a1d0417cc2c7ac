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
#include "../corvid/event_sink.h"

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
    int fd = wire::Connected(address, port);
    if (fd < 0) return "";
    std::string answer;
    if (wire::SendAll(fd, request)) {
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

// a control point's event server in the local namespace
struct EventSink : EventSinkServer {
    EventSink() : EventSinkServer(testnet::Env("TESTNET_LOCAL_ADDR")) {}
};

/*----------------------------------------------------------------------
|   DeafSink: accepts connections and never reads from them
+---------------------------------------------------------------------*/
class DeafSink
{
public:
    DeafSink()
    {
        m_Fd     = wire::BoundSocket(SOCK_STREAM, testnet::Env("TESTNET_LOCAL_ADDR"), 0, 50);
        m_Port   = wire::LocalPort(m_Fd);
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
