// The simulated fleet of bench/discovery-bench: N devices (media servers,
// renderers and basic devices) answering searches, descriptions and
// subscriptions from the peer namespace of scripts/testnet. Shared by the
// benchmarks that measure a control point, or the window, against it.
#ifndef BEACONRY_BENCH_FLEET_H
#define BEACONRY_BENCH_FLEET_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "wire_support.h"

namespace fleet {

using wire::Answer;
using wire::Scpd;
using wire::SendAll;

inline std::string HeaderOf(const std::string& head, const char* name)
{
    return wire::Header(head, name);
}

static const int kHttpPort    = 9000;
static const int kHttpWorkers = 16;

inline const char* Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

inline std::string Uuid(int n)
{
    char text[64];
    snprintf(text, sizeof(text), "f1ee7000-0000-4000-8000-%012d", n);
    return text;
}

/*----------------------------------------------------------------------
|   the fleet (child process, peer namespace)
+---------------------------------------------------------------------*/
static const char* kKinds[][2] = {{"urn:schemas-upnp-org:device:MediaServer:1", "ContentDirectory ConnectionManager"},
                           {"urn:schemas-upnp-org:device:MediaRenderer:1",
                            "RenderingControl ConnectionManager AVTransport"},
                           {"urn:schemas-upnp-org:device:Basic:1", "Dummy"}};

inline std::string Description(int n)
{
    const char* type     = kKinds[n % 3][0];
    std::string services = kKinds[n % 3][1];
    std::string list;
    size_t      start = 0;
    while (start < services.size()) {
        size_t      end  = services.find(' ', start);
        std::string name = services.substr(start, end == std::string::npos ? std::string::npos : end - start);
        list += "<service><serviceType>urn:schemas-upnp-org:service:" + name +
                ":1</serviceType><serviceId>urn:upnp-org:serviceId:" + name + "</serviceId><SCPDURL>/scpd/" + name +
                ".xml</SCPDURL><controlURL>/d/" + std::to_string(n) + "/ctl/" + name + "</controlURL><eventSubURL>/d/" +
                std::to_string(n) + "/evt/" + name + "</eventSubURL></service>";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
           "<minor>0</minor></specVersion><device><deviceType>" +
           std::string(type) + "</deviceType><friendlyName>fleet " + std::to_string(n) +
           "</friendlyName><manufacturer>beaconry</manufacturer><modelName>fleet</modelName><UDN>uuid:" + Uuid(n) +
           "</UDN><serviceList>" + list + "</serviceList></device></root>";
}

inline void Serve(int fd, std::atomic<int>& sid_counter)
{
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    std::string data;
    char        buffer[4096];
    while (data.find("\r\n\r\n") == std::string::npos) {
        ssize_t count = recv(fd, buffer, sizeof(buffer), 0);
        if (count <= 0) return;
        data.append(buffer, count);
    }
    std::string method = data.substr(0, data.find(' '));
    size_t      start  = data.find(' ') + 1;
    std::string path   = data.substr(start, data.find(' ', start) - start);
    std::string head   = data.substr(0, data.find("\r\n\r\n") + 2);
    if (method == "GET" && path.compare(0, 3, "/d/") == 0 && path.find("/desc.xml") != std::string::npos) {
        SendAll(fd, Answer(200, Description(atoi(path.c_str() + 3))));
    } else if (method == "GET" && path.compare(0, 6, "/scpd/") == 0) {
        SendAll(fd, Answer(200, Scpd()));
    } else if (method == "SUBSCRIBE" && path.find("/evt/") != std::string::npos) {
        std::string callback = HeaderOf(head, "CALLBACK");
        std::string sid      = "uuid:" + Uuid(1000000 + sid_counter++);
        if (callback.size() > 2 && HeaderOf(head, "SID").empty()) {
            SendAll(fd, Answer(200, "", "SID: " + sid + "\r\nTIMEOUT: Second-1800\r\n"));
            close(fd);
            wire::PostEvent(callback.substr(1, callback.size() - 2), sid, 0, "Level", "initial");
            return;
        }
        SendAll(fd, Answer(200, "", "SID: " + HeaderOf(head, "SID") + "\r\nTIMEOUT: Second-1800\r\n"));
    } else {
        SendAll(fd, Answer(404, ""));
    }
}

// answers searches: one response per device, spread over the asked MX (at most 3 s)
inline void RunFleet(int count)
{
    std::string peer = Env("TESTNET_PEER_ADDR");
    int         http = socket(AF_INET, SOCK_STREAM, 0);
    int         one  = 1;
    setsockopt(http, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port   = htons(kHttpPort);
    if (bind(http, (sockaddr*)&address, sizeof(address)) != 0 || listen(http, 1024) != 0) _exit(3);
    std::atomic<int>         sids{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < kHttpWorkers; ++i) {
        workers.emplace_back([&]() {
            for (;;) {
                int client = accept(http, nullptr, nullptr);
                if (client < 0) continue;
                Serve(client, sids);
                close(client);
            }
        });
    }

    int udp = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    address.sin_port = htons(1900);
    if (bind(udp, (sockaddr*)&address, sizeof(address)) != 0) _exit(4);
    ip_mreq group{};
    inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
    inet_pton(AF_INET, peer.c_str(), &group.imr_interface);
    setsockopt(udp, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof(group));
    std::mt19937 random(42);
    std::map<std::string, std::chrono::steady_clock::time_point> answered;
    for (;;) {
        char        buffer[2048];
        sockaddr_in from{};
        socklen_t   length = sizeof(from);
        ssize_t     size   = recvfrom(udp, buffer, sizeof(buffer) - 1, 0, (sockaddr*)&from, &length);
        if (size <= 0) continue;
        std::string message(buffer, size);
        if (message.compare(0, 8, "M-SEARCH") != 0) continue;
        // the second datagram of a search cycle is answered by the first one's answers
        char text[32];
        std::string key = std::string(inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text))) + ":" +
                          std::to_string(ntohs(from.sin_port));
        auto now = std::chrono::steady_clock::now();
        if (answered.count(key) && now - answered[key] < std::chrono::seconds(2)) continue;
        answered[key] = now;
        int mx = std::max(1, std::min(3, atoi(HeaderOf(message, "MX").c_str())));
        std::vector<std::pair<int, int>> schedule; // (ms, device)
        for (int n = 0; n < count; ++n) schedule.push_back({(int)(random() % (mx * 1000)), n});
        std::sort(schedule.begin(), schedule.end());
        std::thread([udp, from, schedule, peer]() {
            auto start = std::chrono::steady_clock::now();
            for (auto& s : schedule) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(s.first));
                std::string uuid  = Uuid(s.second);
                std::string bytes = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: http://" +
                                    peer + ":" + std::to_string(kHttpPort) + "/d/" + std::to_string(s.second) +
                                    "/desc.xml\r\nSERVER: fleet/1.0 UPnP/1.0 fleet/1.0\r\nST: upnp:rootdevice\r\n"
                                    "USN: uuid:" + uuid + "::upnp:rootdevice\r\n\r\n";
                sendto(udp, bytes.data(), bytes.size(), 0, (const sockaddr*)&from, sizeof(from));
            }
        }).detach();
    }
}

} // namespace fleet

#endif // BEACONRY_BENCH_FLEET_H
