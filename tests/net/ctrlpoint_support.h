#ifndef BEACONRY_CTRLPOINT_SUPPORT_H
#define BEACONRY_CTRLPOINT_SUPPORT_H

// What the control point scenarios share: a listener that records what it
// hears, and fake devices on the peer host (a small HTTP server written on
// plain sockets, so that a test decides every byte and its pace, and SSDP
// NOTIFYs sent from a peer UDP socket).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CvdCtrlPoint.h"
#include "ssdp_support.h"

namespace cptest {

using ssdptest::Text;

/*----------------------------------------------------------------------
|   Recorder: a listener of the control point
+---------------------------------------------------------------------*/
struct ActionAnswer
{
    HLY_Result          result = 0;
    HLY_UInt32          error  = 0;
    CVD_ActionReference action;
    void*               userdata = nullptr;
};

class Recorder : public CVD_CtrlPointListener
{
public:
    HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device) override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Events.push_back("+" + Text(device->GetUUID()));
        bool described = true;
        for (HLY_Cardinal i = 0; i < device->GetServices().GetItemCount(); ++i) {
            if (device->GetServices()[i]->GetStateVariables().GetItemCount() == 0) described = false;
        }
        m_Described[Text(device->GetUUID())] = described;
        m_Devices[Text(device->GetUUID())]   = device;
        return HLY_SUCCESS;
    }
    HLY_Result OnDeviceRemoved(CVD_DeviceDataReference& device) override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Events.push_back("-" + Text(device->GetUUID()));
        return HLY_SUCCESS;
    }
    HLY_Result OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata) override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        ActionAnswer answer;
        answer.result   = result;
        answer.error    = action->GetErrorCode();
        answer.action   = action;
        answer.userdata = userdata;
        m_Actions.push_back(answer);
        return HLY_SUCCESS;
    }
    HLY_Result OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        std::map<std::string, std::string> values;
        for (HLY_List<CVD_StateVariable*>::Iterator it = vars->GetFirstItem(); it; ++it) {
            values[Text((*it)->GetName())] = Text((*it)->GetValue());
        }
        m_Notifications.push_back({Text(service->GetServiceID()), values});
        return HLY_SUCCESS;
    }

    bool Has(const std::string& event)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        for (const std::string& e : m_Events) {
            if (e == event) return true;
        }
        return false;
    }
    std::vector<std::string> Events()
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Events;
    }
    bool Described(const std::string& uuid)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Described.count(uuid) && m_Described[uuid];
    }
    CVD_DeviceDataReference Device(const std::string& uuid)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Devices.count(uuid) ? m_Devices[uuid] : CVD_DeviceDataReference();
    }
    // the answer for userdata, once it came
    bool Answer(void* userdata, ActionAnswer& answer)
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        for (const ActionAnswer& a : m_Actions) {
            if (a.userdata == userdata) {
                answer = a;
                return true;
            }
        }
        return false;
    }
    // the first notification of a service whose values hold name=value (any value when empty)
    bool Notified(const std::string& service_id, const std::string& name, const std::string& value = "")
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        for (auto& n : m_Notifications) {
            if (n.first.find(service_id) == std::string::npos) continue;
            auto v = n.second.find(name);
            if (v != n.second.end() && (value.empty() || v->second == value)) return true;
        }
        return false;
    }
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> Notifications()
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Notifications;
    }

private:
    std::mutex                                     m_Mutex;
    std::vector<std::string>                       m_Events;
    std::map<std::string, bool>                    m_Described;
    std::map<std::string, CVD_DeviceDataReference> m_Devices;
    std::vector<ActionAnswer>                      m_Actions;
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> m_Notifications;
};

/*----------------------------------------------------------------------
|   FakeHttp: an HTTP server on the peer host, one thread per connection
|   and one request per connection. The handler writes the whole answer
|   itself through the socket (so it may trickle or flood).
+---------------------------------------------------------------------*/
struct Request
{
    std::string method, path, head, body, from;
};

using wire::Answer;
using wire::SendAll;
using wire::Scpd;

inline std::string HeaderOf(const std::string& head, const std::string& name)
{
    return wire::Header(head, name);
}

class FakeHttp
{
public:
    typedef std::function<void(const Request&, int fd)> Handler;

    FakeHttp(int port, Handler handler) : m_Handler(std::move(handler))
    {
        m_Thread = ssdptest::PeerThread([this, port]() {
            m_Fd = wire::BoundSocket(SOCK_STREAM, nullptr, port, 100, 256);
            return m_Ok = m_Fd >= 0;
        }, [this]() {
            while (m_Ok && !m_Stop) {
                sockaddr_in from{};
                socklen_t   length = sizeof(from);
                int         client = accept(m_Fd, (sockaddr*)&from, &length);
                if (client < 0) continue;
                char text[INET_ADDRSTRLEN];
                std::string peer = inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text));
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Clients.emplace_back([this, client, peer]() { Serve(client, peer); });
            }
        });
    }
    ~FakeHttp()
    {
        m_Stop = true;
        m_Thread.join();
        std::vector<std::thread> clients;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            clients.swap(m_Clients);
        }
        for (std::thread& t : clients) t.join();
        if (m_Fd >= 0) close(m_Fd);
    }

    bool Ok() const { return m_Ok; }
    bool Stopping() const { return m_Stop; }
    // requests seen per path
    int Hits(const std::string& path)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Hits[path];
    }
    std::vector<Request> Requests()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Requests;
    }

private:
    void Serve(int fd, const std::string& peer)
    {
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        std::string data;
        char        buffer[8192];
        size_t      end = std::string::npos;
        while ((end = data.find("\r\n\r\n")) == std::string::npos) {
            ssize_t count = recv(fd, buffer, sizeof(buffer), 0);
            if (count <= 0) {
                close(fd);
                return;
            }
            data.append(buffer, count);
        }
        Request request;
        request.head   = data.substr(0, end + 2);
        request.body   = data.substr(end + 4);
        request.method = data.substr(0, data.find(' '));
        size_t start   = data.find(' ') + 1;
        request.path   = data.substr(start, data.find(' ', start) - start);
        request.from   = peer;
        size_t length  = atoi(HeaderOf(request.head, "Content-Length").c_str());
        while (request.body.size() < length) {
            ssize_t count = recv(fd, buffer, sizeof(buffer), 0);
            if (count <= 0) break;
            request.body.append(buffer, count);
        }
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            ++m_Hits[request.path];
            m_Requests.push_back(request);
        }
        m_Handler(request, fd);
        close(fd);
    }

    Handler                    m_Handler;
    std::thread                m_Thread;
    std::atomic<bool>          m_Stop{false};
    bool                       m_Ok = false;
    int                        m_Fd = -1;
    std::mutex                 m_Lock;
    std::vector<std::thread>   m_Clients;
    std::map<std::string, int> m_Hits;
    std::vector<Request>       m_Requests;
};

/*----------------------------------------------------------------------
|   documents of fake devices
+---------------------------------------------------------------------*/
inline std::string DeviceXml(const std::string& uuid, const std::string& inner, const std::string& services,
                             const std::string& type = "urn:schemas-upnp-org:device:Basic:1")
{
    return "<device><deviceType>" + type + "</deviceType><friendlyName>fake " + uuid.substr(0, 8) +
           "</friendlyName><manufacturer>beaconry</manufacturer><modelName>fake</modelName><UDN>uuid:" + uuid +
           "</UDN><serviceList>" + services + "</serviceList>" +
           (inner.empty() ? "" : "<deviceList>" + inner + "</deviceList>") + "</device>";
}

inline std::string ServiceXml(const std::string& id, const std::string& scpd = "/scpd.xml",
                              const std::string& control = "/control", const std::string& event = "/event")
{
    return "<service><serviceType>urn:schemas-upnp-org:service:Dummy:1</serviceType><serviceId>urn:upnp-org:serviceId:" +
           id + "</serviceId><SCPDURL>" + scpd + "</SCPDURL><controlURL>" + control + "</controlURL><eventSubURL>" +
           event + "</eventSubURL></service>";
}

inline std::string RootXml(const std::string& device)
{
    return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
           "<minor>0</minor></specVersion>" +
           device + "</root>";
}

inline std::string Notify(const std::string& uuid, const std::string& location, int max_age = 1800,
                          const std::string& nts = "ssdp:alive")
{
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=" + std::to_string(max_age) +
           "\r\nLOCATION: " + location + "\r\nNT: upnp:rootdevice\r\nNTS: " + nts + "\r\nUSN: uuid:" + uuid +
           "::upnp:rootdevice\r\nSERVER: fake/1.0 UPnP/1.0 fake/1.0\r\n\r\n";
}

// sends an event to a callback URL from the peer host; the answer's status, or -1
inline int SendEvent(const std::string& callback, const std::string& sid, int seq, const std::string& name,
                     const std::string& value)
{
    int status = -1;
    testnet::RunOnPeer([&]() { status = wire::PostEvent(callback, sid, seq, name, value); });
    return status;
}

} // namespace cptest

#endif // BEACONRY_CTRLPOINT_SUPPORT_H
