#ifndef BEACONRY_SSDP_SUPPORT_H
#define BEACONRY_SSDP_SUPPORT_H

// Pieces the SSDP scenario tests share: a plain UDP socket in the peer
// namespace that captures what arrives (with each datagram's TTL), a small
// hosted device, an SSDP packet collector and a search-answer collector on
// the engine's side, and the process figures the load tests print.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <dirent.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "CvdUPnP.h"
#include "testnet.h"
#include "wire_support.h"
#include "../testsupport.h"

namespace ssdptest {

struct Datagram
{
    std::string bytes;
    int         ttl = -1;
    std::string from;
    int         port = 0;
    std::chrono::steady_clock::time_point at;
};

inline std::string Text(const HLY_String& s) { return std::string(s.GetChars(), s.GetLength()); }

using wire::Header;

// a thread in the peer namespace: setup runs there first (the caller waits
// for it), then loop, unless entering the namespace or setup failed
inline std::thread PeerThread(std::function<bool()> setup, std::function<void()> loop)
{
    std::mutex              lock;
    std::condition_variable ready;
    bool                    started = false;
    std::thread             thread([&, loop]() {
        bool ok = testnet::EnterPeer() && setup();
        {
            // notified under the lock: the waiting caller owns the condition
            std::lock_guard<std::mutex> guard(lock);
            started = true;
            ready.notify_one();
        }
        if (ok) loop();
    });
    std::unique_lock<std::mutex> guard(lock);
    ready.wait(guard, [&]() { return started; });
    return thread;
}

/*----------------------------------------------------------------------
|   PeerSocket: a plain UDP socket on the peer host, optionally on port
|   1900 and in the SSDP group, read by a thread of its own
+---------------------------------------------------------------------*/
class PeerSocket
{
public:
    explicit PeerSocket(int port = 1900, bool join = true)
    {
        m_Thread = PeerThread([this, port, join]() {
            m_Fd = wire::BoundSocket(SOCK_DGRAM, nullptr, port, 50);
            if (m_Fd < 0) return false;
            int one = 1;
            setsockopt(m_Fd, IPPROTO_IP, IP_RECVTTL, &one, sizeof(one));
            m_Port = wire::LocalPort(m_Fd);
            if (join) {
                ip_mreq request{};
                inet_pton(AF_INET, "239.255.255.250", &request.imr_multiaddr);
                inet_pton(AF_INET, testnet::Env("TESTNET_PEER_ADDR"), &request.imr_interface);
                if (setsockopt(m_Fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0) return false;
            }
            return m_Ok = true;
        }, [this]() {
            while (!m_Stop) Receive();
        });
    }
    ~PeerSocket()
    {
        m_Stop = true;
        m_Thread.join();
        if (m_Fd >= 0) close(m_Fd);
    }

    bool Ok() const { return m_Ok; }
    int Port() const { return m_Port; }

    // sends from this socket (its namespace is that of the peer)
    bool SendTo(const std::string& bytes, const char* address, int port)
    {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port   = htons(port);
        inet_pton(AF_INET, address, &target.sin_addr);
        return sendto(m_Fd, bytes.data(), bytes.size(), 0, (sockaddr*)&target, sizeof(target)) == (ssize_t)bytes.size();
    }

    // the datagrams received so far whose text matches
    std::vector<Datagram> Received(const std::function<bool(const Datagram&)>& match = nullptr)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<Datagram>       result;
        for (const Datagram& d : m_Received) {
            if (!match || match(d)) result.push_back(d);
        }
        return result;
    }
    // waits until count matching datagrams arrived (or timeout_ms passed)
    std::vector<Datagram> WaitFor(size_t count, int timeout_ms, const std::function<bool(const Datagram&)>& match = nullptr)
    {
        testsupport::Eventually([&]() { return Received(match).size() >= count; }, timeout_ms);
        return Received(match);
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Received.clear();
    }

private:
    void Receive()
    {
        char        buffer[70000];
        char        control[256];
        sockaddr_in from{};
        iovec       io{buffer, sizeof(buffer)};
        msghdr      message{};
        message.msg_name       = &from;
        message.msg_namelen    = sizeof(from);
        message.msg_iov        = &io;
        message.msg_iovlen     = 1;
        message.msg_control    = control;
        message.msg_controllen = sizeof(control);
        ssize_t count          = recvmsg(m_Fd, &message, 0);
        if (count < 0) return;
        Datagram d;
        d.bytes.assign(buffer, count);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) memcpy(&d.ttl, CMSG_DATA(c), sizeof(int));
        }
        char text[INET_ADDRSTRLEN];
        d.from = inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text));
        d.port = ntohs(from.sin_port);
        d.at   = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Received.push_back(d);
    }

    std::thread           m_Thread;
    std::atomic<bool>     m_Stop{false};
    bool                  m_Ok = false;
    int                   m_Fd = -1;
    int                   m_Port = 0;
    std::mutex            m_Lock;
    std::vector<Datagram> m_Received;
};

/*----------------------------------------------------------------------
|   TestDevice: a root device with one service, hosted by the engine
+---------------------------------------------------------------------*/
class TestDevice : public CVD_UPnPDeviceInterface, public CVD_SsdpDevice, public CVD_SsdpPacketListener
{
public:
    explicit TestDevice(const char* uuid = "5e55a1d2-0000-4000-8000-00000000c0de") : m_Uuid(uuid), m_Responder(this) {}

    static constexpr const char* kType    = "urn:schemas-upnp-org:device:Basic:1";
    static constexpr const char* kService = "urn:schemas-upnp-org:service:Dummy:1";

    // CVD_UPnPDeviceInterface
    HLY_Result Start(CVD_SsdpListenTask* task) override
    {
        m_Tasks = HLY_Reference<CVD_TaskManager>(new CVD_TaskManager());
        task->AddListener(this);
        return HLY_SUCCESS;
    }
    HLY_Result Stop(CVD_SsdpListenTask* task) override
    {
        task->RemoveListener(this);
        m_Tasks->StopAllTasks();
        m_Tasks = nullptr;
        return HLY_SUCCESS;
    }
    const HLY_String& GetUUID() const override { return m_Uuid; }

    // CVD_SsdpDevice
    HLY_Result GetDescriptionUrl(const HLY_IpAddress& local, HLY_HttpUrl& url) override
    {
        url = HLY_HttpUrl(local.ToString(), 4004, "/description.xml");
        return HLY_SUCCESS;
    }
    HLY_TimeInterval GetLeaseTime() override { return HLY_TimeInterval::FromSeconds(1800); }
    HLY_Result GetSsdpTargets(HLY_List<CVD_SsdpTarget>& targets) override
    {
        std::string uuid = "uuid:" + Text(m_Uuid);
        targets.Add(CVD_SsdpTarget("upnp:rootdevice", (uuid + "::upnp:rootdevice").c_str()));
        targets.Add(CVD_SsdpTarget(uuid.c_str(), uuid.c_str()));
        targets.Add(CVD_SsdpTarget(kType, (uuid + "::" + kType).c_str()));
        targets.Add(CVD_SsdpTarget(kService, (uuid + "::" + kService).c_str()));
        return HLY_SUCCESS;
    }
    HLY_Result GetNextBootId(HLY_UInt32& id) override
    {
        id = 7;
        return HLY_SUCCESS;
    }

    // CVD_SsdpPacketListener: M-SEARCH requests go to the responder
    HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context) override
    {
        ++m_Packets;
        return m_Responder.OnSsdpPacket(request, context, *m_Tasks);
    }

    HLY_String              m_Uuid;
    CVD_SsdpSearchResponder m_Responder;
    std::atomic<int>        m_Packets{0};

private:
    HLY_Reference<CVD_TaskManager> m_Tasks;
};

/*----------------------------------------------------------------------
|   Collector: hears every SSDP request of the listen task, and every
|   search answer of the search tasks it is given
+---------------------------------------------------------------------*/
struct Heard
{
    std::string method, nt, nts, usn, st, location, server, from;
};

class Collector : public CVD_UPnPCtrlPointInterface,
                  public CVD_SsdpPacketListener,
                  public CVD_SsdpSearchResponseListener
{
public:
    HLY_Result Start(CVD_SsdpListenTask* task) override
    {
        ++m_Starts;
        return task->AddListener(this);
    }
    HLY_Result Stop(CVD_SsdpListenTask* task) override
    {
        ++m_Stops;
        return task->RemoveListener(this);
    }
    HLY_Result IgnoreUUID(const char* uuid) override
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Ignored.push_back(uuid);
        return HLY_SUCCESS;
    }

    HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context) override
    {
        Heard h = Read(request);
        h.method = Text(request.GetMethod());
        h.from   = Text(context.GetRemoteAddress().GetIpAddress().ToString());
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Packets.push_back(h);
        return HLY_SUCCESS;
    }
    HLY_Result ProcessSsdpSearchResponse(HLY_Result result, const HLY_HttpRequestContext& context,
                                         HLY_HttpResponse* response) override
    {
        if (HLY_FAILED(result) || response == nullptr) return HLY_FAILURE;
        Heard h = Read(*response);
        h.from  = Text(context.GetRemoteAddress().GetIpAddress().ToString());
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Answers.push_back(h);
        return HLY_SUCCESS;
    }

    std::vector<Heard> Packets()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Packets;
    }
    std::vector<Heard> Answers()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Answers;
    }
    std::vector<std::string> Ignored()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Ignored;
    }

    std::atomic<int> m_Starts{0}, m_Stops{0};

private:
    static Heard Read(const HLY_HttpMessage& message)
    {
        auto  get = [&](const char* name) {
            const HLY_String* value = message.GetHeaders().GetHeaderValue(name);
            return value ? Text(*value) : std::string();
        };
        Heard h;
        h.nt       = get("NT");
        h.nts      = get("NTS");
        h.usn      = get("USN");
        h.st       = get("ST");
        h.location = get("Location");
        h.server   = get("Server");
        return h;
    }

    std::mutex               m_Lock;
    std::vector<Heard>       m_Packets, m_Answers;
    std::vector<std::string> m_Ignored;
};

/*----------------------------------------------------------------------
|   process figures
+---------------------------------------------------------------------*/
using wire::RssKiB;
using wire::ThreadCount;

// user plus system CPU seconds of the whole process
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline HLY_IpAddress LocalAddress()
{
    HLY_IpAddress address;
    address.Parse(testnet::Env("TESTNET_LOCAL_ADDR"));
    return address;
}

} // namespace ssdptest

#endif // BEACONRY_SSDP_SUPPORT_H
