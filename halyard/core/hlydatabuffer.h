#ifndef HLY_DATA_BUFFER_H
#define HLY_DATA_BUFFER_H

#include "hlycommon.h"

/*----------------------------------------------------------------------
|   HLY_DataBuffer: a byte buffer that either owns its block (local) or
|   borrows one from the caller. A borrowed block is never freed nor
|   grown by the buffer.
+---------------------------------------------------------------------*/
class HLY_DataBuffer
{
public:
    HLY_DataBuffer();
    explicit HLY_DataBuffer(HLY_Size size);
    // with copy: a local block holding a copy of data; without: borrows data
    HLY_DataBuffer(const void* data, HLY_Size size, bool copy = true);
    // copies are always local and hold a copy of the other's bytes
    HLY_DataBuffer(const HLY_DataBuffer& other);
    HLY_DataBuffer& operator=(const HLY_DataBuffer& other);
    virtual ~HLY_DataBuffer();

    bool operator==(const HLY_DataBuffer& other) const;
    bool operator!=(const HLY_DataBuffer& other) const { return !(*this == other); }

    virtual HLY_Result SetBuffer(HLY_Byte* data, HLY_Size size);
    virtual HLY_Result SetBufferSize(HLY_Size size);
    virtual HLY_Size GetBufferSize() const { return m_BufferSize; }
    virtual HLY_Result Reserve(HLY_Size size);
    virtual HLY_Result Clear();
    virtual const HLY_Byte* GetData() const { return m_Buffer; }
    virtual HLY_Byte* UseData() { return m_Buffer; }
    virtual HLY_Size GetDataSize() const { return m_DataSize; }
    virtual HLY_Result SetDataSize(HLY_Size size);
    virtual HLY_Result SetData(const HLY_Byte* data, HLY_Size size);

    bool IsLocal() const { return m_BufferIsLocal; }

protected:
    HLY_Result ReallocateBuffer(HLY_Size size);

    bool      m_BufferIsLocal;
    HLY_Byte* m_Buffer;
    HLY_Size  m_BufferSize;
    HLY_Size  m_DataSize;
};

#endif // HLY_DATA_BUFFER_H
