#ifndef BEACONRY_WIRE_SUPPORT_H
#define BEACONRY_WIRE_SUPPORT_H

// Plain-socket pieces that fake devices and the load programs share: header
// lookup in raw messages, whole writes, canned answers, an event sent the
// way a device sends it, and the process figures. No test framework here:
// bench/discovery-bench uses it too.

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace wire {

// the value of a header in a raw HTTP or SSDP message ("" when absent)
inline std::string Header(const std::string& message, const std::string& name)
{
    size_t start = message.find("\r\n");
    while (start != std::string::npos) {
        size_t end = message.find("\r\n", start + 2);
        if (end == std::string::npos) break;
        std::string line  = message.substr(start + 2, end - start - 2);
        size_t      colon = line.find(':');
        if (colon != std::string::npos && strcasecmp(line.substr(0, colon).c_str(), name.c_str()) == 0) {
            size_t value = line.find_first_not_of(' ', colon + 1);
            return value == std::string::npos ? "" : line.substr(value);
        }
        start = end;
    }
    return "";
}

// a socket bound to address:port (every address when null) whose reads time
// out after timeout_ms, listening when it is a stream; -1 when that fails
inline int BoundSocket(int type, const char* address, int port, int timeout_ms, int backlog = 8)
{
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port   = htons(port);
    if (address) inet_pton(AF_INET, address, &bound.sin_addr);
    if (bind(fd, (sockaddr*)&bound, sizeof(bound)) != 0 || (type == SOCK_STREAM && listen(fd, backlog) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

inline int LocalPort(int fd)
{
    sockaddr_in address{};
    socklen_t   length = sizeof(address);
    getsockname(fd, (sockaddr*)&address, &length);
    return ntohs(address.sin_port);
}

// a TCP connection whose reads time out after timeout_ms; -1 when refused
inline int Connected(const char* address, int port, int timeout_ms = 5000)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port   = htons(port);
    inet_pton(AF_INET, address, &target.sin_addr);
    if (connect(fd, (sockaddr*)&target, sizeof(target)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool SendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (count <= 0) return false;
        done += count;
    }
    return true;
}

// a whole answer that closes the connection
inline std::string Answer(int status, const std::string& body, const std::string& extra = "")
{
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Error") +
           "\r\nContent-Type: text/xml\r\nConnection: close\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// a service description with one action and one evented variable, Level
inline std::string Scpd()
{
    return "<?xml version=\"1.0\"?><scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><specVersion><major>1</major>"
           "<minor>0</minor></specVersion><actionList><action><name>GetLevel</name><argumentList><argument>"
           "<name>Level</name><direction>out</direction><relatedStateVariable>Level</relatedStateVariable>"
           "</argument></argumentList></action></actionList><serviceStateTable>"
           "<stateVariable sendEvents=\"yes\"><name>Level</name><dataType>string</dataType></stateVariable>"
           "</serviceStateTable></scpd>";
}

// NOTIFY of one variable to a callback URL (http://host:port/path) from the
// calling thread's namespace; the answer's status, or -1
inline int PostEvent(const std::string& callback, const std::string& sid, int seq, const std::string& name,
                     const std::string& value)
{
    std::string rest  = callback.substr(7);
    std::string host  = rest.substr(0, rest.find(':'));
    int         port  = atoi(rest.substr(rest.find(':') + 1).c_str());
    std::string path  = rest.substr(rest.find('/'));
    std::string body  = "<?xml version=\"1.0\"?><e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><" +
                       name + ">" + value + "</" + name + "></e:property></e:propertyset>";
    std::string bytes = "NOTIFY " + path + " HTTP/1.1\r\nHOST: " + host + ":" + std::to_string(port) +
                        "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nNT: upnp:event\r\nNTS: upnp:propchange\r\nSID: " +
                        sid + "\r\nSEQ: " + std::to_string(seq) + "\r\nConnection: close\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body;
    int status = -1;
    int fd     = Connected(host.c_str(), port);
    if (fd >= 0 && SendAll(fd, bytes)) {
        char    buffer[512];
        ssize_t count = recv(fd, buffer, sizeof(buffer) - 1, 0);
        if (count > 12) status = atoi(std::string(buffer + 9, 3).c_str());
    }
    if (fd >= 0) close(fd);
    return status;
}

inline int ThreadCount()
{
    int  count = 0;
    DIR* dir   = opendir("/proc/self/task");
    if (!dir) return -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

inline long RssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string   line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
    }
    return -1;
}

} // namespace wire

#endif // BEACONRY_WIRE_SUPPORT_H
