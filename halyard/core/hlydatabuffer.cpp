#include <cstring>
#include <new>

#include "hlydatabuffer.h"
#include "hlylogging.h"

HLY_DataBuffer::HLY_DataBuffer() : m_BufferIsLocal(true), m_Buffer(nullptr), m_BufferSize(0), m_DataSize(0)
{
}

HLY_DataBuffer::HLY_DataBuffer(HLY_Size size)
    : m_BufferIsLocal(true), m_Buffer(nullptr), m_BufferSize(0), m_DataSize(0)
{
    if (size) {
        m_Buffer = new (std::nothrow) HLY_Byte[size];
        if (m_Buffer) m_BufferSize = size;
    }
}

HLY_DataBuffer::HLY_DataBuffer(const void* data, HLY_Size size, bool copy)
    : m_BufferIsLocal(copy), m_Buffer(nullptr), m_BufferSize(0), m_DataSize(0)
{
    if (copy) {
        if (size) {
            m_Buffer = new (std::nothrow) HLY_Byte[size];
            if (m_Buffer) {
                if (data) {
                    memcpy(m_Buffer, data, size);
                } else {
                    memset(m_Buffer, 0, size);
                }
                m_BufferSize = m_DataSize = size;
            }
        }
    } else {
        // the caller keeps ownership; writing through UseData is the caller's choice
        m_Buffer     = static_cast<HLY_Byte*>(const_cast<void*>(data));
        m_BufferSize = m_DataSize = data ? size : 0;
    }
}

HLY_DataBuffer::HLY_DataBuffer(const HLY_DataBuffer& other)
    : m_BufferIsLocal(true), m_Buffer(nullptr), m_BufferSize(0), m_DataSize(0)
{
    SetData(other.GetData(), other.GetDataSize());
}

HLY_DataBuffer& HLY_DataBuffer::operator=(const HLY_DataBuffer& other)
{
    if (this == &other) return *this;
    if (!m_BufferIsLocal) {
        // never write into a block that somebody else owns
        Clear();
        m_BufferIsLocal = true;
    }
    SetData(other.GetData(), other.GetDataSize());
    return *this;
}

HLY_DataBuffer::~HLY_DataBuffer()
{
    Clear();
}

bool HLY_DataBuffer::operator==(const HLY_DataBuffer& other) const
{
    if (m_DataSize != other.m_DataSize) return false;
    return m_DataSize == 0 || memcmp(m_Buffer, other.m_Buffer, m_DataSize) == 0;
}

HLY_Result HLY_DataBuffer::SetBuffer(HLY_Byte* data, HLY_Size size)
{
    Clear();
    m_BufferIsLocal = false;
    m_Buffer        = data;
    m_BufferSize    = data ? size : 0;
    m_DataSize      = 0;
    return HLY_SUCCESS;
}

HLY_Result HLY_DataBuffer::SetBufferSize(HLY_Size size)
{
    if (!m_BufferIsLocal) return HLY_ERROR_NOT_SUPPORTED;
    return ReallocateBuffer(size);
}

HLY_Result HLY_DataBuffer::Reserve(HLY_Size size)
{
    if (size <= m_BufferSize) return HLY_SUCCESS;
    // doubling keeps repeated appends amortised; stay within 32 bits
    HLY_UInt64 doubled  = 2 * (HLY_UInt64)m_BufferSize;
    HLY_Size   new_size = doubled > size ? (HLY_Size)(doubled > 0xFFFFFFFFu ? 0xFFFFFFFFu : doubled) : size;
    return SetBufferSize(new_size);
}

HLY_Result HLY_DataBuffer::Clear()
{
    if (m_BufferIsLocal) delete[] m_Buffer;
    m_Buffer     = nullptr;
    m_BufferSize = 0;
    m_DataSize   = 0;
    return HLY_SUCCESS;
}

HLY_Result HLY_DataBuffer::SetDataSize(HLY_Size size)
{
    if (size > m_BufferSize) {
        if (!m_BufferIsLocal) return HLY_ERROR_NOT_SUPPORTED;
        HLY_CHECK(ReallocateBuffer(size));
    }
    m_DataSize = size;
    return HLY_SUCCESS;
}

HLY_Result HLY_DataBuffer::SetData(const HLY_Byte* data, HLY_Size size)
{
    if (size > m_BufferSize) {
        if (!m_BufferIsLocal) return HLY_ERROR_INVALID_STATE;
        // data may point into the current block: copy before freeing it
        HLY_Byte* block = new (std::nothrow) HLY_Byte[size];
        if (block == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        if (data) {
            memcpy(block, data, size);
        } else if (m_DataSize) {
            memcpy(block, m_Buffer, m_DataSize);
        }
        delete[] m_Buffer;
        m_Buffer     = block;
        m_BufferSize = size;
    } else if (data && size) {
        memmove(m_Buffer, data, size);
    }
    m_DataSize = size;
    return HLY_SUCCESS;
}

HLY_Result HLY_DataBuffer::ReallocateBuffer(HLY_Size size)
{
    if (size < m_DataSize) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_Byte* block = nullptr;
    if (size) {
        block = new (std::nothrow) HLY_Byte[size];
        if (block == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        if (m_Buffer && m_DataSize) memcpy(block, m_Buffer, m_DataSize);
    }
    if (m_BufferIsLocal) delete[] m_Buffer;
    m_Buffer     = block;
    m_BufferSize = size;
    return HLY_SUCCESS;
}
