#ifndef HLY_POSIX_SOCKETS_H
#define HLY_POSIX_SOCKETS_H

#include <atomic>

#include "../../core/hlyreferences.h"
#include "../../core/hlysockets.h"

HLY_Result HLY_PosixResolveName(const char* name, HLY_UInt32& address);

/*----------------------------------------------------------------------
|   the descriptor shared by a socket and the streams made from it
+---------------------------------------------------------------------*/
class HLY_PosixSocketFd
{
public:
    HLY_PosixSocketFd(int fd, HLY_Flags flags);
    ~HLY_PosixSocketFd();

    HLY_Result WaitUntilReadable() { return WaitForCondition(true, false, false, m_ReadTimeout); }
    HLY_Result WaitUntilWriteable() { return WaitForCondition(false, true, false, m_WriteTimeout); }
    HLY_Result WaitForCondition(bool readable, bool writeable, bool async_connect, HLY_Timeout timeout);
    void Cancel(bool shutdown);
    bool IsCancelled() const { return m_Cancelled.load(); }
    HLY_Result PendingError();

    int                      m_SocketFd;
    HLY_Timeout              m_ReadTimeout;
    HLY_Timeout              m_WriteTimeout;
    std::atomic<HLY_Position> m_Position;
    std::atomic<bool>        m_Cancelled;
    bool                     m_Cancellable;
    int                      m_CancelFds[2]; // [0] read end, [1] write end

private:
    HLY_PosixSocketFd(const HLY_PosixSocketFd&)            = delete;
    HLY_PosixSocketFd& operator=(const HLY_PosixSocketFd&) = delete;
};
typedef HLY_Reference<HLY_PosixSocketFd> HLY_PosixSocketFdReference;

/*----------------------------------------------------------------------
|   sockets
+---------------------------------------------------------------------*/
class HLY_PosixSocket : public HLY_SocketInterface
{
public:
    HLY_PosixSocket(int fd, HLY_Flags flags);
    ~HLY_PosixSocket() override;

    HLY_Result Bind(const HLY_SocketAddress& address, bool reuse_address = true) override;
    HLY_Result Connect(const HLY_SocketAddress& address, HLY_Timeout timeout) override;
    HLY_Result WaitForConnection(HLY_Timeout timeout) override;
    HLY_Result GetInputStream(HLY_InputStreamReference& stream) override;
    HLY_Result GetOutputStream(HLY_OutputStreamReference& stream) override;
    HLY_Result GetInfo(HLY_SocketInfo& info) override;
    HLY_Result SetReadTimeout(HLY_Timeout timeout) override;
    HLY_Result SetWriteTimeout(HLY_Timeout timeout) override;
    HLY_Result Cancel(bool shutdown = true) override;

protected:
    HLY_Result RefreshInfo();

    HLY_PosixSocketFdReference m_SocketFdReference;
    HLY_SocketInfo             m_Info;
};

class HLY_PosixUdpSocket : public HLY_PosixSocket, public HLY_UdpSocketInterface
{
public:
    explicit HLY_PosixUdpSocket(HLY_Flags flags);

    HLY_Result Connect(const HLY_SocketAddress& address, HLY_Timeout timeout) override;
    HLY_Result Send(const HLY_DataBuffer& packet, const HLY_SocketAddress* address) override;
    HLY_Result Receive(HLY_DataBuffer& packet, HLY_SocketAddress* address) override;
};

class HLY_PosixUdpMulticastSocket : public HLY_PosixUdpSocket, public HLY_UdpMulticastSocketInterface
{
public:
    explicit HLY_PosixUdpMulticastSocket(HLY_Flags flags);

    HLY_Result JoinGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface) override;
    HLY_Result LeaveGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface) override;
    HLY_Result SetTimeToLive(unsigned char ttl) override;
    HLY_Result SetInterface(const HLY_IpAddress& iface) override;
};

class HLY_PosixTcpClientSocket : public HLY_PosixSocket
{
public:
    explicit HLY_PosixTcpClientSocket(HLY_Flags flags);
};

class HLY_PosixTcpServerSocket : public HLY_PosixSocket, public HLY_TcpServerSocketInterface
{
public:
    explicit HLY_PosixTcpServerSocket(HLY_Flags flags);

    HLY_Result Listen(unsigned int max_clients) override;
    HLY_Result WaitForNewClient(HLY_Socket*& client, HLY_Timeout timeout, HLY_Flags flags) override;

private:
    unsigned int m_ListenMax;
};

#endif // HLY_POSIX_SOCKETS_H
