#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "hlyposixsockets.h"
#include "../../core/hlydatabuffer.h"
#include "../../core/hlylogging.h"
#include "../../core/hlynetwork.h"

HLY_SET_LOCAL_LOGGER("halyard.sockets.bsd")

// the most interfaces one enumeration reports
static const unsigned int HLY_POSIX_MAX_INTERFACES = 32;

/*----------------------------------------------------------------------
|   error mapping
+---------------------------------------------------------------------*/
HLY_Result HLY_MapSocketError(int error)
{
    switch (error) {
        case EINTR:        return HLY_ERROR_INTERRUPTED;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EINPROGRESS:  return HLY_ERROR_WOULD_BLOCK;
        case EADDRINUSE:   return HLY_ERROR_ADDRESS_IN_USE;
        case ENETDOWN:     return HLY_ERROR_NETWORK_DOWN;
        case ENETUNREACH:  return HLY_ERROR_NETWORK_UNREACHABLE;
        case ENETRESET:
        case ECONNRESET:   return HLY_ERROR_CONNECTION_RESET;
        case ECONNABORTED: return HLY_ERROR_CONNECTION_ABORTED;
        case ENOTCONN:     return HLY_ERROR_NOT_CONNECTED;
        case ETIMEDOUT:    return HLY_ERROR_TIMEOUT;
        case ECONNREFUSED: return HLY_ERROR_CONNECTION_REFUSED;
        default:           return HLY_ERROR_ERRNO(error);
    }
}

static void HLY_ToSockAddr(const HLY_SocketAddress& address, struct sockaddr_in& inet)
{
    memset(&inet, 0, sizeof(inet));
    inet.sin_family      = AF_INET;
    inet.sin_port        = htons((uint16_t)address.GetPort());
    inet.sin_addr.s_addr = htonl(address.GetIpAddress().AsLong());
}

static void HLY_FromSockAddr(const struct sockaddr_in& inet, HLY_SocketAddress& address)
{
    address.SetIpAddress(HLY_IpAddress(ntohl(inet.sin_addr.s_addr)));
    address.SetPort(ntohs(inet.sin_port));
}

HLY_Result HLY_PosixResolveName(const char* name, HLY_UInt32& address)
{
    address = 0;
    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family   = AF_INET;
    struct addrinfo* infos = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &infos) != 0 || infos == nullptr) return HLY_ERROR_HOST_UNKNOWN;
    HLY_Result result = HLY_ERROR_HOST_UNKNOWN;
    for (struct addrinfo* info = infos; info; info = info->ai_next) {
        if (info->ai_family != AF_INET) continue;
        if (info->ai_socktype != 0 && info->ai_socktype != SOCK_STREAM) continue;
        address = ntohl(reinterpret_cast<struct sockaddr_in*>(info->ai_addr)->sin_addr.s_addr);
        result  = HLY_SUCCESS;
        break;
    }
    freeaddrinfo(infos);
    return result;
}

/*----------------------------------------------------------------------
|   descriptor
+---------------------------------------------------------------------*/
HLY_PosixSocketFd::HLY_PosixSocketFd(int fd, HLY_Flags flags)
    : m_SocketFd(fd), m_ReadTimeout(HLY_TIMEOUT_INFINITE), m_WriteTimeout(HLY_TIMEOUT_INFINITE),
      m_Position(0), m_Cancelled(false), m_Cancellable(false)
{
    m_CancelFds[0] = m_CancelFds[1] = -1;
    if (fd >= 0) {
        int mode = fcntl(fd, F_GETFL, 0);
        if (mode < 0 || fcntl(fd, F_SETFL, mode | O_NONBLOCK) < 0) {
            HLY_LOG_WARNING("fcntl failed (%d)", errno);
        }
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (flags & HLY_SOCKET_FLAG_CANCELLABLE) {
        // a private connected pair: writing one byte wakes every wait on this descriptor
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_CancelFds) == 0) {
            m_Cancellable = true;
        } else {
            HLY_LOG_WARNING("socketpair failed (%d)", errno);
            m_CancelFds[0] = m_CancelFds[1] = -1;
        }
    }
}

HLY_PosixSocketFd::~HLY_PosixSocketFd()
{
    if (m_SocketFd >= 0) close(m_SocketFd);
    if (m_CancelFds[0] >= 0) close(m_CancelFds[0]);
    if (m_CancelFds[1] >= 0) close(m_CancelFds[1]);
}

HLY_Result HLY_PosixSocketFd::PendingError()
{
    int       error  = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(m_SocketFd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return HLY_ERROR_GETSOCKOPT_FAILED;
    return error ? HLY_MapSocketError(error) : HLY_SUCCESS;
}

// poll rather than select: select cannot watch descriptors past FD_SETSIZE
HLY_Result HLY_PosixSocketFd::WaitForCondition(bool readable, bool writeable, bool async_connect, HLY_Timeout timeout)
{
    struct pollfd fds[2];
    nfds_t        count = 1;
    fds[0].fd           = m_SocketFd;
    fds[0].events       = (short)((readable ? POLLIN : 0) | (writeable ? POLLOUT : 0) | POLLPRI);
    fds[0].revents      = 0;
    if (m_Cancellable && timeout != 0) {
        fds[1].fd      = m_CancelFds[0];
        fds[1].events  = POLLIN;
        fds[1].revents = 0;
        count          = 2;
    }

    // poll skips a negative descriptor instead of failing, so a socket whose
    // creation failed would wait here forever (or for the whole timeout)
    if (m_SocketFd < 0) {
        HLY_Result result = m_Cancelled.load() ? HLY_ERROR_CANCELLED : HLY_MapSocketError(EBADF);
        HLY_LOG_FINER("select result = %d", result);
        return result;
    }

    HLY_LOG_FINER("waiting for condition (%s %s)", readable ? "read" : "", writeable ? "write" : "");
    // a signal restarts the wait with what is left of the timeout, not with
    // all of it: signals arriving often enough would otherwise keep it alive
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
    int        wait_ms  = timeout < 0 ? -1 : (int)timeout;
    int        io_result;
    int        error;
    for (;;) {
        io_result = poll(fds, count, wait_ms);
        error     = errno;
        if (io_result >= 0 || error != EINTR || m_Cancelled.load()) break;
        if (timeout > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                io_result = 0;
                break;
            }
            wait_ms = (int)left.count();
        }
    }
    HLY_LOG_FINER("select returned %d", io_result);

    HLY_Result result;
    short      events = fds[0].revents;
    if (m_Cancelled.load()) {
        result = HLY_ERROR_CANCELLED;
    } else if (io_result == 0) {
        result = timeout == 0 ? HLY_ERROR_WOULD_BLOCK : HLY_ERROR_TIMEOUT;
    } else if (io_result < 0) {
        result = HLY_MapSocketError(error);
    } else if (async_connect && (events & (POLLIN | POLLOUT | POLLERR | POLLHUP))) {
        result = PendingError();
    } else if ((readable && (events & (POLLIN | POLLHUP))) || (writeable && (events & POLLOUT))) {
        result = HLY_SUCCESS;
    } else if (events & (POLLERR | POLLHUP | POLLPRI | POLLNVAL)) {
        HLY_LOG_FINE("select socket exception is set");
        result = PendingError();
        if (result == HLY_SUCCESS) result = HLY_FAILURE;
    } else {
        HLY_LOG_FINE("unexected select state");
        result = HLY_ERROR_INTERNAL;
    }
    if (result != HLY_SUCCESS) HLY_LOG_FINER("select result = %d", result);
    return result;
}

void HLY_PosixSocketFd::Cancel(bool shutdown)
{
    m_Cancelled.store(true);
    if (shutdown && ::shutdown(m_SocketFd, SHUT_RDWR) < 0) {
        HLY_LOG_FINE("shutdown failed (%d)", errno);
    }
    if (m_Cancellable) {
        char zero = 0;
        if (send(m_CancelFds[1], &zero, 1, MSG_NOSIGNAL) < 0) HLY_LOG_FINE("send failed during cancel (%d)", errno);
    }
}

/*----------------------------------------------------------------------
|   streams
+---------------------------------------------------------------------*/
class HLY_PosixSocketInputStream : public HLY_InputStream
{
public:
    explicit HLY_PosixSocketInputStream(const HLY_PosixSocketFdReference& fd) : m_SocketFdReference(fd) {}

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read) override
    {
        if (bytes_read) *bytes_read = 0;
        if (bytes_to_read == 0) return HLY_SUCCESS; // recv would report an end of stream
        HLY_PosixSocketFd& fd = *m_SocketFdReference;
        if (fd.m_ReadTimeout != 0) {
            HLY_Result result = fd.WaitUntilReadable();
            if (result != HLY_SUCCESS) return result;
        }
        HLY_LOG_FINEST("reading %d from socket", (int)bytes_to_read);
        ssize_t count = recv(fd.m_SocketFd, buffer, bytes_to_read, 0);
        int     error = errno;
        HLY_LOG_FINEST("recv returned %d", (int)count);
        if (count > 0) {
            if (bytes_read) *bytes_read = (HLY_Size)count;
            fd.m_Position += (HLY_Position)count;
            return HLY_SUCCESS;
        }
        if (fd.IsCancelled()) return HLY_ERROR_CANCELLED;
        if (count < 0) {
            HLY_Result result = HLY_MapSocketError(error);
            HLY_LOG_FINE("socket result = %d", result);
            return result;
        }
        HLY_LOG_FINE("socket end of stream");
        return HLY_ERROR_EOS;
    }
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override
    {
        offset = 0;
        return HLY_SUCCESS;
    }
    HLY_Result GetSize(HLY_LargeSize& size) override
    {
        size = 0;
        return HLY_ERROR_NOT_SUPPORTED;
    }
    HLY_Result GetAvailable(HLY_LargeSize& available) override
    {
        available = 0;
        int count = 0;
        if (ioctl(m_SocketFdReference->m_SocketFd, FIONREAD, &count) < 0) return HLY_ERROR_SOCKET_CONTROL_FAILED;
        if (count == 0) {
            // data, an end of stream or an error pending: let the next read find out
            if (m_SocketFdReference->WaitForCondition(true, false, false, 0) != HLY_ERROR_WOULD_BLOCK) count = 1;
        }
        available = (HLY_LargeSize)count;
        return HLY_SUCCESS;
    }

private:
    HLY_PosixSocketFdReference m_SocketFdReference;
};

class HLY_PosixSocketOutputStream : public HLY_OutputStream
{
public:
    explicit HLY_PosixSocketOutputStream(const HLY_PosixSocketFdReference& fd) : m_SocketFdReference(fd) {}

    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written) override
    {
        if (bytes_written) *bytes_written = 0;
        if (bytes_to_write == 0) return HLY_SUCCESS;
        HLY_PosixSocketFd& fd = *m_SocketFdReference;
        if (fd.m_WriteTimeout != 0) {
            HLY_Result result = fd.WaitUntilWriteable();
            if (result != HLY_SUCCESS) return result;
        }
        HLY_LOG_FINEST("writing %d to socket", (int)bytes_to_write);
        // MSG_NOSIGNAL: a peer that went away must not kill the process with SIGPIPE
        ssize_t count = send(fd.m_SocketFd, buffer, bytes_to_write, MSG_NOSIGNAL);
        int     error = errno;
        HLY_LOG_FINEST("send returned %d", (int)count);
        if (count > 0) {
            if (bytes_written) *bytes_written = (HLY_Size)count;
            fd.m_Position += (HLY_Position)count;
            return HLY_SUCCESS;
        }
        if (fd.IsCancelled()) return HLY_ERROR_CANCELLED;
        if (count < 0) {
            HLY_Result result = HLY_MapSocketError(error);
            HLY_LOG_FINE("socket result = %d", result);
            return result;
        }
        HLY_LOG_FINE("connection reset");
        return HLY_ERROR_CONNECTION_RESET;
    }
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override
    {
        offset = 0;
        return HLY_SUCCESS;
    }
    // pushes out what the kernel holds back by briefly turning on no-delay
    HLY_Result Flush() override
    {
        int       fd     = m_SocketFdReference->m_SocketFd;
        int       value  = 0;
        socklen_t length = sizeof(value);
        if (getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &length) < 0) return HLY_ERROR_GETSOCKOPT_FAILED;
        if (value) return HLY_SUCCESS;
        value = 1;
        if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof(value)) < 0) return HLY_ERROR_SETSOCKOPT_FAILED;
        char dummy = 0;
        if (send(fd, &dummy, 0, MSG_NOSIGNAL) < 0) HLY_LOG_FINE("send failed during flush (%d)", errno);
        value = 0;
        if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof(value)) < 0) return HLY_ERROR_SETSOCKOPT_FAILED;
        return HLY_SUCCESS;
    }

private:
    HLY_PosixSocketFdReference m_SocketFdReference;
};

/*----------------------------------------------------------------------
|   socket
+---------------------------------------------------------------------*/
HLY_PosixSocket::HLY_PosixSocket(int fd, HLY_Flags flags)
    : m_SocketFdReference(new HLY_PosixSocketFd(fd, flags), true)
{
    if (fd >= 0) RefreshInfo();
}

HLY_PosixSocket::~HLY_PosixSocket()
{
}

HLY_Result HLY_PosixSocket::RefreshInfo()
{
    if (m_SocketFdReference.IsNull()) return HLY_ERROR_INVALID_STATE;
    int                fd = m_SocketFdReference->m_SocketFd;
    struct sockaddr_in inet;
    socklen_t          length = sizeof(inet);
    if (getsockname(fd, reinterpret_cast<struct sockaddr*>(&inet), &length) == 0 && inet.sin_family == AF_INET) {
        HLY_FromSockAddr(inet, m_Info.local_address);
    }
    length = sizeof(inet);
    if (getpeername(fd, reinterpret_cast<struct sockaddr*>(&inet), &length) == 0 && inet.sin_family == AF_INET) {
        HLY_FromSockAddr(inet, m_Info.remote_address);
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::Bind(const HLY_SocketAddress& address, bool reuse_address)
{
    int fd  = m_SocketFdReference->m_SocketFd;
    int one = 1;
    // address reuse is always on, so that restarting a server or sharing a
    // multicast port never fails; a failure to set it is not fatal
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) < 0) {
        HLY_LOG_FINE("setsockopt SO_REUSEADDR failed (%d)", errno);
    }
    if (reuse_address) {
        HLY_LOG_FINE("setting SO_REUSEADDR option on socket");
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) < 0) {
            HLY_LOG_FINE("setsockopt SO_REUSEADDR failed (%d)", errno);
        }
    }
    struct sockaddr_in inet;
    HLY_ToSockAddr(address, inet);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&inet), sizeof(inet)) < 0) {
        return HLY_MapSocketError(errno);
    }
    RefreshInfo();
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::Connect(const HLY_SocketAddress& address, HLY_Timeout timeout)
{
    HLY_LOG_FINER("connecting to %s port %d", address.GetIpAddress().ToString().GetChars(), (int)address.GetPort());
    struct sockaddr_in inet;
    HLY_ToSockAddr(address, inet);
    if (connect(m_SocketFdReference->m_SocketFd, reinterpret_cast<struct sockaddr*>(&inet), sizeof(inet)) == 0) {
        HLY_LOG_FINE("immediate connection");
        RefreshInfo();
        return HLY_SUCCESS;
    }
    HLY_Result result = HLY_MapSocketError(errno);
    if (result == HLY_ERROR_WOULD_BLOCK && timeout != 0) return WaitForConnection(timeout);
    return result;
}

HLY_Result HLY_PosixSocket::WaitForConnection(HLY_Timeout timeout)
{
    HLY_Result result = m_SocketFdReference->WaitForCondition(true, true, true, timeout);
    RefreshInfo();
    return result;
}

HLY_Result HLY_PosixSocket::GetInputStream(HLY_InputStreamReference& stream)
{
    stream = nullptr;
    if (m_SocketFdReference.IsNull()) return HLY_ERROR_INVALID_STATE;
    stream = new HLY_PosixSocketInputStream(m_SocketFdReference);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::GetOutputStream(HLY_OutputStreamReference& stream)
{
    stream = nullptr;
    if (m_SocketFdReference.IsNull()) return HLY_ERROR_INVALID_STATE;
    stream = new HLY_PosixSocketOutputStream(m_SocketFdReference);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::GetInfo(HLY_SocketInfo& info)
{
    info = m_Info;
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::SetReadTimeout(HLY_Timeout timeout)
{
    m_SocketFdReference->m_ReadTimeout = timeout;
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::SetWriteTimeout(HLY_Timeout timeout)
{
    m_SocketFdReference->m_WriteTimeout = timeout;
    struct timeval value;
    value.tv_sec  = timeout < 0 ? 0 : timeout / 1000;
    value.tv_usec = timeout < 0 ? 0 : (timeout % 1000) * 1000;
    setsockopt(m_SocketFdReference->m_SocketFd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value));
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixSocket::Cancel(bool shutdown)
{
    m_SocketFdReference->Cancel(shutdown);
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   UDP
+---------------------------------------------------------------------*/
HLY_PosixUdpSocket::HLY_PosixUdpSocket(HLY_Flags flags)
    : HLY_PosixSocket(socket(AF_INET, SOCK_DGRAM, 0), flags)
{
    int one = 1;
    setsockopt(m_SocketFdReference->m_SocketFd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one));
}

HLY_Result HLY_PosixUdpSocket::Connect(const HLY_SocketAddress& address, HLY_Timeout)
{
    HLY_LOG_FINE("connecting to %s, port %d", address.GetIpAddress().ToString().GetChars(), (int)address.GetPort());
    struct sockaddr_in inet;
    HLY_ToSockAddr(address, inet);
    if (connect(m_SocketFdReference->m_SocketFd, reinterpret_cast<struct sockaddr*>(&inet), sizeof(inet)) < 0) {
        int error = errno;
        HLY_LOG_FINE("socket error %d", error);
        return HLY_MapSocketError(error);
    }
    RefreshInfo();
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixUdpSocket::Send(const HLY_DataBuffer& packet, const HLY_SocketAddress* address)
{
    HLY_PosixSocketFd& fd = *m_SocketFdReference;
    if (fd.m_WriteTimeout != 0) {
        HLY_Result result = fd.WaitUntilWriteable();
        if (result != HLY_SUCCESS) return result;
    }
    ssize_t count;
    if (address) {
        HLY_LOG_FINEST("sending datagram to %s port %d", address->GetIpAddress().ToString().GetChars(),
                       (int)address->GetPort());
        struct sockaddr_in inet;
        HLY_ToSockAddr(*address, inet);
        count = sendto(fd.m_SocketFd, packet.GetData(), packet.GetDataSize(), MSG_NOSIGNAL,
                       reinterpret_cast<struct sockaddr*>(&inet), sizeof(inet));
    } else {
        HLY_LOG_FINEST("sending datagram");
        count = send(fd.m_SocketFd, packet.GetData(), packet.GetDataSize(), MSG_NOSIGNAL);
    }
    int error = errno;
    HLY_LOG_FINEST("send/sendto returned %d", (int)count);
    if (fd.IsCancelled()) return HLY_ERROR_CANCELLED;
    if (count < 0) {
        HLY_LOG_FINE("socket error %d", error);
        return HLY_MapSocketError(error);
    }
    fd.m_Position += (HLY_Position)count;
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixUdpSocket::Receive(HLY_DataBuffer& packet, HLY_SocketAddress* address)
{
    if (packet.GetBufferSize() == 0) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_PosixSocketFd& fd = *m_SocketFdReference;
    if (fd.m_ReadTimeout != 0) {
        HLY_Result result = fd.WaitUntilReadable();
        if (result != HLY_SUCCESS) {
            packet.SetDataSize(0);
            return result;
        }
    }
    ssize_t count;
    if (address) {
        struct sockaddr_in inet;
        socklen_t          length = sizeof(inet);
        memset(&inet, 0, sizeof(inet));
        count = recvfrom(fd.m_SocketFd, packet.UseData(), packet.GetBufferSize(), 0,
                         reinterpret_cast<struct sockaddr*>(&inet), &length);
        if (count >= 0 && length == sizeof(inet) && inet.sin_family == AF_INET) {
            HLY_FromSockAddr(inet, *address);
            HLY_LOG_FINEST("receiving datagram from %s port %d", address->GetIpAddress().ToString().GetChars(),
                           (int)address->GetPort());
        }
    } else {
        HLY_LOG_FINEST("receiving datagram");
        count = recv(fd.m_SocketFd, packet.UseData(), packet.GetBufferSize(), 0);
    }
    int error = errno;
    HLY_LOG_FINEST("recv/recvfrom returned %d", (int)count);
    if (fd.IsCancelled()) {
        packet.SetDataSize(0);
        return HLY_ERROR_CANCELLED;
    }
    if (count < 0) {
        packet.SetDataSize(0);
        HLY_LOG_FINE("socket error %d", error);
        return HLY_MapSocketError(error);
    }
    packet.SetDataSize((HLY_Size)count);
    fd.m_Position += (HLY_Position)count;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   UDP multicast
+---------------------------------------------------------------------*/
HLY_PosixUdpMulticastSocket::HLY_PosixUdpMulticastSocket(HLY_Flags flags) : HLY_PosixUdpSocket(flags)
{
    unsigned char loop = 1;
    setsockopt(m_SocketFdReference->m_SocketFd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop));
}

static HLY_Result HLY_Membership(int fd, int option, const HLY_IpAddress& group, const HLY_IpAddress& iface)
{
    struct ip_mreq request;
    memset(&request, 0, sizeof(request));
    request.imr_multiaddr.s_addr = htonl(group.AsLong());
    request.imr_interface.s_addr = htonl(iface.AsLong());
    if (setsockopt(fd, IPPROTO_IP, option, &request, sizeof(request)) < 0) {
        int error = errno;
        HLY_LOG_FINE("setsockopt error %d", error);
        return HLY_MapSocketError(error);
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixUdpMulticastSocket::JoinGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface)
{
    HLY_LOG_FINE("joining multicast addr %s group %s", iface.ToString().GetChars(), group.ToString().GetChars());
    return HLY_Membership(m_SocketFdReference->m_SocketFd, IP_ADD_MEMBERSHIP, group, iface);
}

HLY_Result HLY_PosixUdpMulticastSocket::LeaveGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface)
{
    HLY_LOG_FINE("leaving multicast addr %s group %s", iface.ToString().GetChars(), group.ToString().GetChars());
    return HLY_Membership(m_SocketFdReference->m_SocketFd, IP_DROP_MEMBERSHIP, group, iface);
}

HLY_Result HLY_PosixUdpMulticastSocket::SetTimeToLive(unsigned char ttl)
{
    HLY_LOG_FINE("setting multicast TTL to %d", (int)ttl);
    if (setsockopt(m_SocketFdReference->m_SocketFd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl)) < 0) {
        int error = errno;
        HLY_LOG_FINE("setsockopt error %d", error);
        return HLY_MapSocketError(error);
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixUdpMulticastSocket::SetInterface(const HLY_IpAddress& iface)
{
    HLY_LOG_FINE("setting multicast interface %s", iface.ToString().GetChars());
    struct in_addr address;
    address.s_addr = htonl(iface.AsLong());
    if (setsockopt(m_SocketFdReference->m_SocketFd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof(address)) < 0) {
        int error = errno;
        HLY_LOG_FINE("setsockopt error %d", error);
        return HLY_MapSocketError(error);
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   TCP
+---------------------------------------------------------------------*/
HLY_PosixTcpClientSocket::HLY_PosixTcpClientSocket(HLY_Flags flags)
    : HLY_PosixSocket(socket(AF_INET, SOCK_STREAM, 0), flags)
{
}

HLY_PosixTcpServerSocket::HLY_PosixTcpServerSocket(HLY_Flags flags)
    : HLY_PosixSocket(socket(AF_INET, SOCK_STREAM, 0), flags), m_ListenMax(0)
{
}

HLY_Result HLY_PosixTcpServerSocket::Listen(unsigned int max_clients)
{
    if (listen(m_SocketFdReference->m_SocketFd, (int)max_clients) < 0) {
        m_ListenMax = 0;
        return HLY_ERROR_LISTEN_FAILED;
    }
    m_ListenMax = max_clients;
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixTcpServerSocket::WaitForNewClient(HLY_Socket*& client, HLY_Timeout timeout, HLY_Flags flags)
{
    client = nullptr;
    if (m_ListenMax == 0) HLY_CHECK_WARNING(Listen(20));

    HLY_LOG_FINER("waiting until socket is readable or writeable");
    HLY_Result result = m_SocketFdReference->WaitForCondition(true, true, false, timeout);
    if (result != HLY_SUCCESS) return result;

    HLY_LOG_FINER("accepting connection");
    struct sockaddr_in inet;
    socklen_t          length = sizeof(inet);
    int fd = accept4(m_SocketFdReference->m_SocketFd, reinterpret_cast<struct sockaddr*>(&inet), &length, SOCK_CLOEXEC);
    if (fd < 0) {
        if (m_SocketFdReference->IsCancelled()) return HLY_ERROR_CANCELLED;
        int error = errno;
        HLY_LOG_FINE("socket error %d", error);
        return HLY_MapSocketError(error);
    }
    client = new HLY_Socket(new HLY_PosixSocket(fd, flags));
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   network interfaces
+---------------------------------------------------------------------*/
HLY_Result HLY_NetworkInterface::GetNetworkInterfaces(HLY_List<HLY_NetworkInterface*>& interfaces)
{
    struct ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0) return HLY_FAILURE;

    unsigned int taken = 0, seen = 0;
    for (struct ifaddrs* entry = entries; entry && seen < HLY_POSIX_MAX_INTERFACES; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        ++seen;
        if (!(entry->ifa_flags & IFF_UP)) continue;

        HLY_Flags flags = 0;
        if (entry->ifa_flags & IFF_BROADCAST) flags |= HLY_NETWORK_INTERFACE_FLAG_BROADCAST;
        if (entry->ifa_flags & IFF_MULTICAST) flags |= HLY_NETWORK_INTERFACE_FLAG_MULTICAST;
        if (entry->ifa_flags & IFF_LOOPBACK) flags |= HLY_NETWORK_INTERFACE_FLAG_LOOPBACK;
        if (entry->ifa_flags & IFF_POINTOPOINT) flags |= HLY_NETWORK_INTERFACE_FLAG_POINT_TO_POINT;

        HLY_IpAddress primary(ntohl(reinterpret_cast<struct sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr));
        HLY_IpAddress netmask;
        if (entry->ifa_netmask && entry->ifa_netmask->sa_family == AF_INET) {
            netmask.Set(ntohl(reinterpret_cast<struct sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr));
        }
        unsigned char broadcast[4];
        for (int i = 0; i < 4; i++) {
            broadcast[i] = (unsigned char)((primary.AsBytes()[i] & netmask.AsBytes()[i]) | ~netmask.AsBytes()[i]);
        }
        HLY_IpAddress broadcast_address;
        broadcast_address.Set(broadcast);

        HLY_NetworkInterface* iface = new HLY_NetworkInterface(HLY_String::Format("if%02u", taken).GetChars(), flags);
        iface->AddAddress(HLY_NetworkInterfaceAddress(primary, broadcast_address, HLY_IpAddress::Any, netmask));
        interfaces.Add(iface);
        ++taken;
    }
    freeifaddrs(entries);
    return HLY_SUCCESS;
}
