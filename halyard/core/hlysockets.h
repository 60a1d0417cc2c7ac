#ifndef HLY_SOCKETS_H
#define HLY_SOCKETS_H

#include "hlycommon.h"
#include "hlystreams.h"
#include "hlystrings.h"

class HLY_DataBuffer;

// a socket made with this flag can be woken from a blocked wait by Cancel
#define HLY_SOCKET_FLAG_CANCELLABLE 0x1

/*----------------------------------------------------------------------
|   HLY_IpAddress: an IPv4 address, four bytes in network order
+---------------------------------------------------------------------*/
class HLY_IpAddress
{
public:
    static const HLY_IpAddress Any;
    static const HLY_IpAddress Loopback;

    HLY_IpAddress();
    explicit HLY_IpAddress(HLY_UInt32 address);
    HLY_IpAddress(unsigned char a, unsigned char b, unsigned char c, unsigned char d);

    // a dotted-decimal text is taken as is; other names go to the resolver
    HLY_Result ResolveName(const char* name, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE);
    // strict dotted decimal
    HLY_Result Parse(const char* text);
    void Set(HLY_UInt32 address);
    void Set(const unsigned char bytes[4]);
    const unsigned char* AsBytes() const { return m_Address; }
    HLY_UInt32 AsLong() const;
    HLY_String ToString() const;
    bool operator==(const HLY_IpAddress& other) const { return AsLong() == other.AsLong(); }
    bool operator!=(const HLY_IpAddress& other) const { return AsLong() != other.AsLong(); }

private:
    unsigned char m_Address[4];
};

// the list predicate that matches an equal address
class HLY_IpAddressFinder
{
public:
    explicit HLY_IpAddressFinder(const HLY_IpAddress& address) : m_Address(address) {}
    bool operator()(const HLY_IpAddress& address) const { return address == m_Address; }

private:
    HLY_IpAddress m_Address;
};

/*----------------------------------------------------------------------
|   HLY_SocketAddress: an address and a port
+---------------------------------------------------------------------*/
class HLY_SocketAddress
{
public:
    HLY_SocketAddress() : m_Port(0) {}
    HLY_SocketAddress(const HLY_IpAddress& address, unsigned int port) : m_IpAddress(address), m_Port(port) {}

    const HLY_IpAddress& GetIpAddress() const { return m_IpAddress; }
    void SetIpAddress(const HLY_IpAddress& address) { m_IpAddress = address; }
    unsigned int GetPort() const { return m_Port; }
    void SetPort(unsigned int port) { m_Port = port; }
    HLY_String ToString() const;
    bool operator==(const HLY_SocketAddress& other) const
    {
        return m_IpAddress == other.m_IpAddress && m_Port == other.m_Port;
    }
    bool operator!=(const HLY_SocketAddress& other) const { return !(*this == other); }

private:
    HLY_IpAddress m_IpAddress;
    unsigned int  m_Port;
};

struct HLY_SocketInfo
{
    HLY_SocketAddress local_address;
    HLY_SocketAddress remote_address;
};

/*----------------------------------------------------------------------
|   interfaces
+---------------------------------------------------------------------*/
class HLY_SocketInterface
{
public:
    virtual ~HLY_SocketInterface() {}
    virtual HLY_Result Bind(const HLY_SocketAddress& address, bool reuse_address = true) = 0;
    virtual HLY_Result Connect(const HLY_SocketAddress& address, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) = 0;
    virtual HLY_Result WaitForConnection(HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) = 0;
    virtual HLY_Result GetInputStream(HLY_InputStreamReference& stream) = 0;
    virtual HLY_Result GetOutputStream(HLY_OutputStreamReference& stream) = 0;
    virtual HLY_Result GetInfo(HLY_SocketInfo& info) = 0;
    virtual HLY_Result SetReadTimeout(HLY_Timeout timeout) = 0;
    virtual HLY_Result SetWriteTimeout(HLY_Timeout timeout) = 0;
    virtual HLY_Result Cancel(bool shutdown = true) = 0;
};

class HLY_UdpSocketInterface
{
public:
    virtual ~HLY_UdpSocketInterface() {}
    virtual HLY_Result Send(const HLY_DataBuffer& packet, const HLY_SocketAddress* address = nullptr) = 0;
    virtual HLY_Result Receive(HLY_DataBuffer& packet, HLY_SocketAddress* address = nullptr) = 0;
};

class HLY_UdpMulticastSocketInterface
{
public:
    virtual ~HLY_UdpMulticastSocketInterface() {}
    virtual HLY_Result JoinGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface = HLY_IpAddress::Any) = 0;
    virtual HLY_Result LeaveGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface = HLY_IpAddress::Any) = 0;
    virtual HLY_Result SetTimeToLive(unsigned char ttl) = 0;
    virtual HLY_Result SetInterface(const HLY_IpAddress& iface) = 0;
};

class HLY_Socket;

class HLY_TcpServerSocketInterface
{
public:
    virtual ~HLY_TcpServerSocketInterface() {}
    virtual HLY_Result Listen(unsigned int max_clients) = 0;
    virtual HLY_Result WaitForNewClient(HLY_Socket*& client, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE,
                                        HLY_Flags flags = 0) = 0;
};

/*----------------------------------------------------------------------
|   fronts: each owns one platform socket object and forwards to it
+---------------------------------------------------------------------*/
class HLY_Socket : public HLY_SocketInterface
{
public:
    // takes ownership of the platform object
    explicit HLY_Socket(HLY_SocketInterface* delegate) : m_SocketDelegate(delegate) {}
    ~HLY_Socket() override;

    HLY_Result Bind(const HLY_SocketAddress& address, bool reuse_address = true) override
    {
        return m_SocketDelegate->Bind(address, reuse_address);
    }
    HLY_Result Connect(const HLY_SocketAddress& address, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override
    {
        return m_SocketDelegate->Connect(address, timeout);
    }
    HLY_Result WaitForConnection(HLY_Timeout timeout = HLY_TIMEOUT_INFINITE) override
    {
        return m_SocketDelegate->WaitForConnection(timeout);
    }
    HLY_Result GetInputStream(HLY_InputStreamReference& stream) override { return m_SocketDelegate->GetInputStream(stream); }
    HLY_Result GetOutputStream(HLY_OutputStreamReference& stream) override { return m_SocketDelegate->GetOutputStream(stream); }
    HLY_Result GetInfo(HLY_SocketInfo& info) override { return m_SocketDelegate->GetInfo(info); }
    HLY_Result SetReadTimeout(HLY_Timeout timeout) override { return m_SocketDelegate->SetReadTimeout(timeout); }
    HLY_Result SetWriteTimeout(HLY_Timeout timeout) override { return m_SocketDelegate->SetWriteTimeout(timeout); }
    HLY_Result Cancel(bool shutdown = true) override { return m_SocketDelegate->Cancel(shutdown); }

protected:
    HLY_Socket() : m_SocketDelegate(nullptr) {}

    HLY_SocketInterface* m_SocketDelegate;

private:
    HLY_Socket(const HLY_Socket&)            = delete;
    HLY_Socket& operator=(const HLY_Socket&) = delete;
};

class HLY_UdpSocket : public HLY_Socket, public HLY_UdpSocketInterface
{
public:
    explicit HLY_UdpSocket(HLY_Flags flags = 0);

    HLY_Result Send(const HLY_DataBuffer& packet, const HLY_SocketAddress* address = nullptr) override
    {
        return m_UdpSocketDelegate->Send(packet, address);
    }
    HLY_Result Receive(HLY_DataBuffer& packet, HLY_SocketAddress* address = nullptr) override
    {
        return m_UdpSocketDelegate->Receive(packet, address);
    }

protected:
    HLY_UdpSocket(HLY_SocketInterface* delegate, HLY_UdpSocketInterface* udp_delegate)
        : HLY_Socket(delegate), m_UdpSocketDelegate(udp_delegate) {}

    HLY_UdpSocketInterface* m_UdpSocketDelegate;
};

class HLY_UdpMulticastSocket : public HLY_UdpSocket, public HLY_UdpMulticastSocketInterface
{
public:
    explicit HLY_UdpMulticastSocket(HLY_Flags flags = 0);

    HLY_Result JoinGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface = HLY_IpAddress::Any) override
    {
        return m_UdpMulticastSocketDelegate->JoinGroup(group, iface);
    }
    HLY_Result LeaveGroup(const HLY_IpAddress& group, const HLY_IpAddress& iface = HLY_IpAddress::Any) override
    {
        return m_UdpMulticastSocketDelegate->LeaveGroup(group, iface);
    }
    HLY_Result SetTimeToLive(unsigned char ttl) override { return m_UdpMulticastSocketDelegate->SetTimeToLive(ttl); }
    HLY_Result SetInterface(const HLY_IpAddress& iface) override
    {
        return m_UdpMulticastSocketDelegate->SetInterface(iface);
    }

protected:
    HLY_UdpMulticastSocketInterface* m_UdpMulticastSocketDelegate;
};

class HLY_TcpClientSocket : public HLY_Socket
{
public:
    explicit HLY_TcpClientSocket(HLY_Flags flags = 0);
};

class HLY_TcpServerSocket : public HLY_Socket, public HLY_TcpServerSocketInterface
{
public:
    explicit HLY_TcpServerSocket(HLY_Flags flags = 0);

    HLY_Result Listen(unsigned int max_clients) override { return m_TcpServerSocketDelegate->Listen(max_clients); }
    HLY_Result WaitForNewClient(HLY_Socket*& client, HLY_Timeout timeout = HLY_TIMEOUT_INFINITE,
                                HLY_Flags flags = 0) override
    {
        return m_TcpServerSocketDelegate->WaitForNewClient(client, timeout, flags);
    }

protected:
    HLY_TcpServerSocketInterface* m_TcpServerSocketDelegate;
};

// maps a platform socket error number onto a result code
HLY_Result HLY_MapSocketError(int error);

#endif // HLY_SOCKETS_H
