#ifndef CVD_DATAGRAM_STREAM_H
#define CVD_DATAGRAM_STREAM_H

#include "hlydatabuffer.h"
#include "hlysockets.h"
#include "hlystreams.h"

/*----------------------------------------------------------------------
|   CVD_InputDatagramStream: the datagrams of a UDP socket as a stream.
|   Each datagram is received whole into the buffer and handed out until
|   it is used up; the next read receives the next datagram. A datagram
|   larger than the buffer is cut to it by the socket.
+---------------------------------------------------------------------*/
class CVD_InputDatagramStream : public HLY_InputStream
{
public:
    // the socket is not owned and must outlive the stream
    CVD_InputDatagramStream(HLY_UdpSocket* socket, HLY_Size buffer_size = 2000);
    ~CVD_InputDatagramStream() override {}

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_FAILURE; }
    HLY_Result Tell(HLY_Position&) override { return HLY_FAILURE; }
    HLY_Result GetSize(HLY_LargeSize&) override { return HLY_FAILURE; }
    HLY_Result GetAvailable(HLY_LargeSize&) override { return HLY_FAILURE; }

    // the local address and the sender of the last datagram
    HLY_Result GetInfo(HLY_SocketInfo& info);
    HLY_Size GetBufferSize() const { return m_Buffer.GetBufferSize(); }

private:
    HLY_UdpSocket* m_Socket;
    HLY_SocketInfo m_Info;
    HLY_DataBuffer m_Buffer;
    HLY_Position   m_ReadOffset;
};

/*----------------------------------------------------------------------
|   CVD_OutputDatagramStream: what is written until a Flush goes out as
|   one datagram, to the target or on the connected socket
+---------------------------------------------------------------------*/
class CVD_OutputDatagramStream : public HLY_OutputStream
{
public:
    // the socket is not owned; without an address the socket must be connected
    CVD_OutputDatagramStream(HLY_UdpSocket* socket, HLY_Size size = 4096, const HLY_SocketAddress* address = nullptr);
    ~CVD_OutputDatagramStream() override;

    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_FAILURE; }
    HLY_Result Tell(HLY_Position&) override { return HLY_FAILURE; }
    HLY_Result Flush() override;

private:
    HLY_UdpSocket*     m_Socket;
    HLY_DataBuffer     m_Buffer;
    HLY_SocketAddress* m_Address;
};

#endif // CVD_DATAGRAM_STREAM_H
