#include "hlysockets.h"
#include "../system/posix/hlyposixsockets.h"

const HLY_IpAddress HLY_IpAddress::Any;
const HLY_IpAddress HLY_IpAddress::Loopback(127, 0, 0, 1);

HLY_IpAddress::HLY_IpAddress()
{
    m_Address[0] = m_Address[1] = m_Address[2] = m_Address[3] = 0;
}

HLY_IpAddress::HLY_IpAddress(HLY_UInt32 address)
{
    Set(address);
}

HLY_IpAddress::HLY_IpAddress(unsigned char a, unsigned char b, unsigned char c, unsigned char d)
{
    m_Address[0] = a;
    m_Address[1] = b;
    m_Address[2] = c;
    m_Address[3] = d;
}

void HLY_IpAddress::Set(HLY_UInt32 address)
{
    HLY_BytesFromInt32Be(m_Address, address);
}

void HLY_IpAddress::Set(const unsigned char bytes[4])
{
    for (int i = 0; i < 4; i++) m_Address[i] = bytes[i];
}

HLY_UInt32 HLY_IpAddress::AsLong() const
{
    return HLY_BytesToInt32Be(m_Address);
}

HLY_String HLY_IpAddress::ToString() const
{
    return HLY_String::Format("%u.%u.%u.%u", m_Address[0], m_Address[1], m_Address[2], m_Address[3]);
}

HLY_Result HLY_IpAddress::Parse(const char* text)
{
    Set((HLY_UInt32)0);
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;

    unsigned char bytes[4];
    for (int group = 0; group < 4; group++) {
        unsigned int value  = 0;
        int          digits = 0;
        while (*text >= '0' && *text <= '9') {
            // leading zeros are allowed; the value check also stops an overflow
            value = value * 10 + (unsigned int)(*text++ - '0');
            ++digits;
            if (value > 255) return HLY_ERROR_INVALID_SYNTAX;
        }
        if (digits == 0) return HLY_ERROR_INVALID_SYNTAX;
        bytes[group] = (unsigned char)value;
        if (group < 3) {
            if (*text != '.') return HLY_ERROR_INVALID_SYNTAX;
            text++;
        }
    }
    if (*text != '\0') return HLY_ERROR_INVALID_SYNTAX;
    Set(bytes);
    return HLY_SUCCESS;
}

HLY_Result HLY_IpAddress::ResolveName(const char* name, HLY_Timeout /*timeout*/)
{
    if (name == nullptr || name[0] == '\0') return HLY_ERROR_HOST_UNKNOWN;
    if (HLY_SUCCEEDED(Parse(name))) return HLY_SUCCESS;
    HLY_UInt32 address = 0;
    HLY_Result result  = HLY_PosixResolveName(name, address);
    if (HLY_FAILED(result)) return result;
    Set(address);
    return HLY_SUCCESS;
}

HLY_String HLY_SocketAddress::ToString() const
{
    return m_IpAddress.ToString() + ":" + HLY_String::FromIntegerU(m_Port);
}

/*----------------------------------------------------------------------
|   fronts
+---------------------------------------------------------------------*/
HLY_Socket::~HLY_Socket()
{
    delete m_SocketDelegate;
}

HLY_UdpSocket::HLY_UdpSocket(HLY_Flags flags)
{
    HLY_PosixUdpSocket* delegate = new HLY_PosixUdpSocket(flags);
    m_SocketDelegate             = delegate;
    m_UdpSocketDelegate          = delegate;
}

HLY_UdpMulticastSocket::HLY_UdpMulticastSocket(HLY_Flags flags)
    : HLY_UdpSocket(nullptr, nullptr)
{
    HLY_PosixUdpMulticastSocket* delegate = new HLY_PosixUdpMulticastSocket(flags);
    m_SocketDelegate                      = delegate;
    m_UdpSocketDelegate                   = delegate;
    m_UdpMulticastSocketDelegate          = delegate;
}

HLY_TcpClientSocket::HLY_TcpClientSocket(HLY_Flags flags)
{
    m_SocketDelegate = new HLY_PosixTcpClientSocket(flags);
}

HLY_TcpServerSocket::HLY_TcpServerSocket(HLY_Flags flags)
{
    HLY_PosixTcpServerSocket* delegate = new HLY_PosixTcpServerSocket(flags);
    m_SocketDelegate                   = delegate;
    m_TcpServerSocketDelegate          = delegate;
}
