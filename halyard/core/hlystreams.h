#ifndef HLY_STREAMS_H
#define HLY_STREAMS_H

#include "hlycommon.h"
#include "hlydatabuffer.h"
#include "hlyreferences.h"
#include "hlystrings.h"

// anything loaded into memory in one piece is capped at 1 GiB
#define HLY_INPUT_STREAM_LOAD_MAX_SIZE      0x40000000
#define HLY_INPUT_STREAM_LOAD_DEFAULT_CHUNK 4096
#define HLY_STREAM_COPY_BUFFER_SIZE         65536
#define HLY_STREAM_COPY_FIRST_BLOCK_SIZE    4096

/*----------------------------------------------------------------------
|   HLY_InputStream
+---------------------------------------------------------------------*/
class HLY_InputStream
{
public:
    virtual ~HLY_InputStream() {}

    // reads the rest of the stream (at most max_read bytes when non-zero) into buffer
    virtual HLY_Result Load(HLY_DataBuffer& buffer, HLY_Size max_read = 0);
    virtual HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) = 0;
    virtual HLY_Result ReadFully(void* buffer, HLY_Size bytes_to_read);
    virtual HLY_Result Seek(HLY_Position offset) = 0;
    virtual HLY_Result Skip(HLY_Size count);
    virtual HLY_Result Tell(HLY_Position& offset) = 0;
    virtual HLY_Result GetSize(HLY_LargeSize& size) = 0;
    virtual HLY_Result GetAvailable(HLY_LargeSize& available) = 0;
};
typedef HLY_Reference<HLY_InputStream> HLY_InputStreamReference;

/*----------------------------------------------------------------------
|   HLY_OutputStream
+---------------------------------------------------------------------*/
class HLY_OutputStream
{
public:
    virtual ~HLY_OutputStream() {}

    virtual HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) = 0;
    virtual HLY_Result WriteFully(const void* buffer, HLY_Size bytes_to_write);
    virtual HLY_Result WriteString(const char* string);
    // the line followed by CR LF
    virtual HLY_Result WriteLine(const char* line);
    virtual HLY_Result Seek(HLY_Position offset) = 0;
    virtual HLY_Result Tell(HLY_Position& offset) = 0;
    virtual HLY_Result Flush() { return HLY_SUCCESS; }
};
typedef HLY_Reference<HLY_OutputStream> HLY_OutputStreamReference;

/*----------------------------------------------------------------------
|   delegating streams: let one object be both an input and an output
|   stream, each with a position of its own
+---------------------------------------------------------------------*/
class HLY_DelegatingInputStream : public HLY_InputStream
{
public:
    HLY_Result Seek(HLY_Position offset) override { return InputSeek(offset); }
    HLY_Result Tell(HLY_Position& offset) override { return InputTell(offset); }

protected:
    virtual HLY_Result InputSeek(HLY_Position offset) = 0;
    virtual HLY_Result InputTell(HLY_Position& offset) = 0;
};

class HLY_DelegatingOutputStream : public HLY_OutputStream
{
public:
    HLY_Result Seek(HLY_Position offset) override { return OutputSeek(offset); }
    HLY_Result Tell(HLY_Position& offset) override { return OutputTell(offset); }

protected:
    virtual HLY_Result OutputSeek(HLY_Position offset) = 0;
    virtual HLY_Result OutputTell(HLY_Position& offset) = 0;
};

/*----------------------------------------------------------------------
|   HLY_MemoryStream: bytes in memory, read and written at two
|   independent offsets
+---------------------------------------------------------------------*/
class HLY_MemoryStream : public HLY_DelegatingInputStream, public HLY_DelegatingOutputStream
{
public:
    explicit HLY_MemoryStream(HLY_Size initial_capacity = 0);
    HLY_MemoryStream(const void* data, HLY_Size size);
    ~HLY_MemoryStream() override {}

    // input
    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result GetSize(HLY_LargeSize& size) override;
    HLY_Result GetAvailable(HLY_LargeSize& available) override;

    // output
    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) override;
    HLY_Result Flush() override { return HLY_SUCCESS; }

    // the stream's bytes, without copying
    const HLY_DataBuffer& GetBuffer() const { return m_Buffer; }
    const HLY_Byte* GetData() const { return m_Buffer.GetData(); }
    HLY_Byte* UseData() { return m_Buffer.UseData(); }
    HLY_Size GetDataSize() const { return m_Buffer.GetDataSize(); }

    HLY_Result InputSeek(HLY_Position offset) override;
    HLY_Result InputTell(HLY_Position& offset) override;
    HLY_Result OutputSeek(HLY_Position offset) override;
    HLY_Result OutputTell(HLY_Position& offset) override;

private:
    HLY_MemoryStream(const HLY_MemoryStream&)            = delete;
    HLY_MemoryStream& operator=(const HLY_MemoryStream&) = delete;

    HLY_DataBuffer m_Buffer;
    HLY_UInt32     m_ReadOffset;
    HLY_UInt32     m_WriteOffset;
};
typedef HLY_Reference<HLY_MemoryStream> HLY_MemoryStreamReference;

/*----------------------------------------------------------------------
|   HLY_StringOutputStream: appends to a string, borrowed or owned
+---------------------------------------------------------------------*/
class HLY_StringOutputStream : public HLY_OutputStream
{
public:
    // the caller keeps the string, which must outlive the stream
    explicit HLY_StringOutputStream(HLY_String* string);
    // a string of the stream's own, with that many characters reserved
    explicit HLY_StringOutputStream(HLY_Size capacity = 4096);
    ~HLY_StringOutputStream() override;

    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) override;
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override;

    const HLY_String& GetString() const { return *m_String; }

private:
    HLY_StringOutputStream(const HLY_StringOutputStream&)            = delete;
    HLY_StringOutputStream& operator=(const HLY_StringOutputStream&) = delete;

    HLY_String* m_String;
    bool        m_StringIsOwned;
};
typedef HLY_Reference<HLY_StringOutputStream> HLY_StringOutputStreamReference;

/*----------------------------------------------------------------------
|   HLY_NullOutputStream: takes every byte and keeps none
+---------------------------------------------------------------------*/
class HLY_NullOutputStream : public HLY_OutputStream
{
public:
    HLY_Result Write(const void*, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) override
    {
        if (bytes_written) *bytes_written = bytes_to_write;
        return HLY_SUCCESS;
    }
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position&) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Flush() override { return HLY_SUCCESS; }
};

/*----------------------------------------------------------------------
|   copies size bytes (0: up to the end) from one stream to another,
|   starting at offset in the source. A source that ends before a
|   non-zero size is reached gives HLY_ERROR_EOS, with the bytes that
|   were copied reported in bytes_written.
+---------------------------------------------------------------------*/
HLY_Result HLY_StreamToStreamCopy(HLY_InputStream&  from,
                                  HLY_OutputStream& to,
                                  HLY_Position      offset        = 0,
                                  HLY_LargeSize     size          = 0,
                                  HLY_LargeSize*    bytes_written = nullptr);

#endif // HLY_STREAMS_H
