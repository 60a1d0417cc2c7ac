#include <cstring>

#include "CvdDatagramStream.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.core.ssdp")

/*----------------------------------------------------------------------
|   CVD_InputDatagramStream
+---------------------------------------------------------------------*/
CVD_InputDatagramStream::CVD_InputDatagramStream(HLY_UdpSocket* socket, HLY_Size buffer_size)
    : m_Socket(socket), m_ReadOffset(0)
{
    m_Buffer.Reserve(buffer_size);
}

HLY_Result CVD_InputDatagramStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    HLY_Result result = HLY_SUCCESS;
    if (m_Buffer.GetDataSize() == 0) {
        HLY_SocketAddress sender;
        result = m_Socket->Receive(m_Buffer, &sender);
        m_Socket->GetInfo(m_Info);
        m_Info.remote_address = sender;
        m_ReadOffset          = 0;
        if (HLY_FAILED(result)) return result;
    }
    if (bytes_to_read == 0) return HLY_SUCCESS;

    HLY_Size left  = m_Buffer.GetDataSize() - (HLY_Size)m_ReadOffset;
    HLY_Size count = bytes_to_read < left ? bytes_to_read : left;
    if (count) memcpy(buffer, m_Buffer.GetData() + m_ReadOffset, count);
    m_ReadOffset += count;
    if (bytes_read) *bytes_read = count;
    if (m_ReadOffset >= m_Buffer.GetDataSize()) {
        // used up: the next read takes the next datagram
        m_Buffer.SetDataSize(0);
        m_ReadOffset = 0;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_InputDatagramStream::GetInfo(HLY_SocketInfo& info)
{
    info = m_Info;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_OutputDatagramStream
+---------------------------------------------------------------------*/
CVD_OutputDatagramStream::CVD_OutputDatagramStream(HLY_UdpSocket* socket, HLY_Size size, const HLY_SocketAddress* address)
    : m_Socket(socket), m_Address(address ? new HLY_SocketAddress(*address) : nullptr)
{
    m_Buffer.Reserve(size);
}

CVD_OutputDatagramStream::~CVD_OutputDatagramStream()
{
    delete m_Address;
}

HLY_Result CVD_OutputDatagramStream::Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    HLY_Size size = m_Buffer.GetDataSize();
    if (size + bytes_to_write < size) return HLY_ERROR_OUT_OF_RANGE;
    HLY_Result result = m_Buffer.Reserve(size + bytes_to_write);
    if (HLY_FAILED(result)) return result;
    if (bytes_to_write) memcpy(m_Buffer.UseData() + size, buffer, bytes_to_write);
    m_Buffer.SetDataSize(size + bytes_to_write);
    if (bytes_written) *bytes_written = bytes_to_write;
    return HLY_SUCCESS;
}

HLY_Result CVD_OutputDatagramStream::Flush()
{
    // nothing written, nothing to send: an empty datagram would still go out
    if (m_Buffer.GetDataSize() == 0) return HLY_SUCCESS;
    HLY_Result result = m_Socket->Send(m_Buffer, m_Address);
    m_Buffer.SetDataSize(0);
    return result;
}
