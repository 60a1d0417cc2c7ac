#ifndef TESTS_HTTP_RAW_CLIENT_H
#define TESTS_HTTP_RAW_CLIENT_H

// A plain-socket HTTP client for the server tests: it writes exactly the
// bytes it is given and reads what comes back, so that tests see the wire.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

struct RawResponse {
    std::string                                      protocol;
    int                                              status = 0;
    std::string                                      reason;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string                                      body;

    int Count(const char* name) const
    {
        int count = 0;
        for (const auto& header : headers) {
            if (strcasecmp(header.first.c_str(), name) == 0) ++count;
        }
        return count;
    }
    bool Has(const char* name) const { return Count(name) > 0; }
    std::string Header(const char* name) const
    {
        for (const auto& header : headers) {
            if (strcasecmp(header.first.c_str(), name) == 0) return header.second;
        }
        return std::string();
    }
};

class RawConnection
{
public:
    RawConnection() = default;
    explicit RawConnection(unsigned int port) { Connect(port); }
    ~RawConnection() { Close(); }
    RawConnection(const RawConnection&)            = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connect(unsigned int port)
    {
        Close();
        m_Fd = socket(AF_INET, SOCK_STREAM, 0);
        if (m_Fd < 0) return false;
        int one = 1;
        setsockopt(m_Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        sockaddr_in address {};
        address.sin_family      = AF_INET;
        address.sin_port        = htons((uint16_t)port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            Close();
            return false;
        }
        return true;
    }
    bool IsOpen() const { return m_Fd >= 0; }
    void Close()
    {
        if (m_Fd >= 0) close(m_Fd);
        m_Fd     = -1;
        m_Closed = false;
        m_Pending.clear();
    }
    // no more bytes from us; the server still may answer
    void ShutdownWrite()
    {
        if (m_Fd >= 0) shutdown(m_Fd, SHUT_WR);
    }

    bool Send(const std::string& data)
    {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t count = send(m_Fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (count <= 0) return false;
            done += (size_t)count;
        }
        return true;
    }

    // Reads one response. A body is read by its Content-Length, by its
    // chunks, or (with neither) up to the end of the connection. False on
    // a time-out, a closed connection before a whole response, or junk.
    bool ReadResponse(RawResponse& response, bool expect_body = true, int timeout_ms = 5000)
    {
        response = RawResponse();
        auto   deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        size_t head_end;
        while ((head_end = m_Pending.find("\r\n\r\n")) == std::string::npos) {
            if (!Fill(deadline)) return false;
        }
        std::string head = m_Pending.substr(0, head_end + 2);
        m_Pending.erase(0, head_end + 4);

        size_t line_end = head.find("\r\n");
        std::string status_line = head.substr(0, line_end);
        size_t      first       = status_line.find(' ');
        if (first == std::string::npos) return false;
        response.protocol = status_line.substr(0, first);
        response.status   = atoi(status_line.c_str() + first + 1);
        if (status_line.size() > first + 5) response.reason = status_line.substr(first + 5);
        size_t position = line_end + 2;
        while (position < head.size()) {
            size_t      end   = head.find("\r\n", position);
            std::string line  = head.substr(position, end - position);
            size_t      colon = line.find(':');
            if (colon != std::string::npos) {
                size_t value = colon + 1;
                while (value < line.size() && line[value] == ' ') ++value;
                response.headers.emplace_back(line.substr(0, colon), line.substr(value));
            }
            position = end + 2;
        }
        if (!expect_body) return true;

        if (response.Has("Content-Length")) {
            size_t length = (size_t)strtoull(response.Header("Content-Length").c_str(), nullptr, 10);
            while (m_Pending.size() < length) {
                if (!Fill(deadline)) return false;
            }
            response.body = m_Pending.substr(0, length);
            m_Pending.erase(0, length);
            return true;
        }
        if (strcasecmp(response.Header("Transfer-Encoding").c_str(), "chunked") == 0) {
            for (;;) {
                size_t size_end;
                while ((size_end = m_Pending.find("\r\n")) == std::string::npos) {
                    if (!Fill(deadline)) return false;
                }
                size_t size = (size_t)strtoull(m_Pending.c_str(), nullptr, 16);
                m_Pending.erase(0, size_end + 2);
                while (m_Pending.size() < size + 2) {
                    if (!Fill(deadline)) return false;
                }
                if (size == 0) {
                    m_Pending.erase(0, 2);
                    return true;
                }
                response.body += m_Pending.substr(0, size);
                m_Pending.erase(0, size + 2);
            }
        }
        // delimited by the end of the connection
        while (Fill(deadline)) {
        }
        if (!m_Closed) return false;
        response.body = m_Pending;
        m_Pending.clear();
        return true;
    }

    // sends a request and reads one answer; a missing answer fails the test
    RawResponse Ask(const std::string& request, bool expect_body = true, int timeout_ms = 5000)
    {
        RawResponse response;
        bool        sent = Send(request);
        if (!sent || !ReadResponse(response, expect_body, timeout_ms)) {
            ADD_FAILURE() << "no answer to: " << request.substr(0, request.find("\r\n"));
            response.status = -1;
        }
        return response;
    }

    // true when the peer closes within the time-out; what it sent before goes to data
    bool WaitClosed(int timeout_ms, std::string* data = nullptr)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!m_Closed && Fill(deadline)) {
        }
        if (data) *data = m_Pending;
        return m_Closed;
    }

    std::string& Pending() { return m_Pending; }

private:
    using Clock = std::chrono::steady_clock;

    // false once closed or past the deadline
    bool Fill(Clock::time_point deadline)
    {
        if (m_Fd < 0 || m_Closed) return false;
        long left = (long)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd descriptor {m_Fd, POLLIN, 0};
        if (poll(&descriptor, 1, (int)left) <= 0) return false;
        char    buffer[16384];
        ssize_t count = recv(m_Fd, buffer, sizeof(buffer), 0);
        if (count <= 0) {
            m_Closed = true;
            return false;
        }
        m_Pending.append(buffer, (size_t)count);
        return true;
    }

    int         m_Fd     = -1;
    bool        m_Closed = false;
    std::string m_Pending;
};

// one request on a connection of its own
inline bool RawExchange(unsigned int port, const std::string& request, RawResponse& response, bool expect_body = true)
{
    RawConnection connection(port);
    return connection.IsOpen() && connection.Send(request) && connection.ReadResponse(response, expect_body);
}

// the same, on a connection of its own
inline RawResponse RawAsk(unsigned int port, const std::string& request, bool expect_body = true)
{
    RawConnection connection(port);
    return connection.Ask(request, expect_body);
}

#endif // TESTS_HTTP_RAW_CLIENT_H
