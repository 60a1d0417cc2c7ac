#include <cstring>
#include <new>

#include "hlylogging.h"
#include "hlystreams.h"

HLY_SET_LOCAL_LOGGER("halyard.streams")

/*----------------------------------------------------------------------
|   HLY_InputStream defaults
+---------------------------------------------------------------------*/
HLY_Result HLY_InputStream::Load(HLY_DataBuffer& buffer, HLY_Size max_read)
{
    buffer.SetDataSize(0);
    if (max_read > HLY_INPUT_STREAM_LOAD_MAX_SIZE) return HLY_ERROR_INVALID_PARAMETERS;

    // a target of 0 means unknown: read until the end of the stream
    HLY_LargeSize target = 0;
    HLY_LargeSize size   = 0;
    if (HLY_SUCCEEDED(GetSize(size))) {
        target = size;
        if (max_read && max_read < target) target = max_read;
        if (target > HLY_INPUT_STREAM_LOAD_MAX_SIZE) return HLY_ERROR_OUT_OF_RANGE;
    } else {
        target = max_read;
    }
    if (target) HLY_CHECK(buffer.Reserve((HLY_Size)target));

    HLY_LargeSize loaded = 0;
    HLY_Result    result = HLY_SUCCESS;
    for (;;) {
        HLY_LargeSize chunk     = 0;
        HLY_LargeSize available = 0;
        if (HLY_SUCCEEDED(GetAvailable(available)) && available) {
            chunk = available;
        } else {
            chunk = HLY_INPUT_STREAM_LOAD_DEFAULT_CHUNK;
        }
        if (target && chunk > target - loaded) chunk = target - loaded;
        if (loaded + chunk > HLY_INPUT_STREAM_LOAD_MAX_SIZE) {
            result = HLY_ERROR_OUT_OF_RANGE;
            break;
        }
        result = buffer.Reserve((HLY_Size)(loaded + chunk));
        if (HLY_FAILED(result)) break;

        HLY_Size bytes_read = 0;
        result = Read(buffer.UseData() + loaded, (HLY_Size)chunk, &bytes_read);
        if (HLY_SUCCEEDED(result) && bytes_read > 0) {
            loaded += bytes_read;
            buffer.SetDataSize((HLY_Size)loaded);
        } else if (HLY_SUCCEEDED(result)) {
            result = HLY_ERROR_INTERNAL; // a silent source would be read forever
        }
        if (HLY_FAILED(result)) break;
        if (target && loaded >= target) break;
    }
    return result == HLY_ERROR_EOS ? HLY_SUCCESS : result;
}

HLY_Result HLY_InputStream::ReadFully(void* buffer, HLY_Size bytes_to_read)
{
    if (bytes_to_read == 0) return HLY_SUCCESS;
    HLY_Byte* cursor = static_cast<HLY_Byte*>(buffer);
    while (bytes_to_read) {
        HLY_Size   bytes_read = 0;
        HLY_Result result     = Read(cursor, bytes_to_read, &bytes_read);
        if (HLY_FAILED(result)) return result;
        // a stream that keeps succeeding without progress would spin forever
        if (bytes_read == 0) return HLY_ERROR_INTERNAL;
        if (bytes_read > bytes_to_read) return HLY_ERROR_INTERNAL;
        cursor += bytes_read;
        bytes_to_read -= bytes_read;
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_InputStream::Skip(HLY_Size count)
{
    HLY_Position position = 0;
    HLY_CHECK(Tell(position));
    return Seek(position + count);
}

/*----------------------------------------------------------------------
|   HLY_OutputStream defaults
+---------------------------------------------------------------------*/
HLY_Result HLY_OutputStream::WriteFully(const void* buffer, HLY_Size bytes_to_write)
{
    if (bytes_to_write == 0) return HLY_SUCCESS;
    const HLY_Byte* cursor = static_cast<const HLY_Byte*>(buffer);
    while (bytes_to_write) {
        HLY_Size   bytes_written = 0;
        HLY_Result result        = Write(cursor, bytes_to_write, &bytes_written);
        if (HLY_FAILED(result)) return result;
        if (bytes_written == 0) return HLY_ERROR_INTERNAL;
        if (bytes_written > bytes_to_write) return HLY_ERROR_INTERNAL;
        cursor += bytes_written;
        bytes_to_write -= bytes_written;
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_OutputStream::WriteString(const char* string)
{
    if (string == nullptr || string[0] == '\0') return HLY_SUCCESS;
    return WriteFully(string, (HLY_Size)strlen(string));
}

HLY_Result HLY_OutputStream::WriteLine(const char* line)
{
    HLY_CHECK(WriteString(line));
    return WriteFully("\r\n", 2);
}

/*----------------------------------------------------------------------
|   HLY_MemoryStream
+---------------------------------------------------------------------*/
HLY_MemoryStream::HLY_MemoryStream(HLY_Size initial_capacity)
    : m_Buffer(initial_capacity), m_ReadOffset(0), m_WriteOffset(0)
{
}

HLY_MemoryStream::HLY_MemoryStream(const void* data, HLY_Size size)
    : m_Buffer(data, size, true), m_ReadOffset(0), m_WriteOffset(0)
{
}

HLY_Result HLY_MemoryStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (bytes_to_read == 0) return HLY_SUCCESS;
    HLY_Size available = m_Buffer.GetDataSize() > m_ReadOffset ? m_Buffer.GetDataSize() - m_ReadOffset : 0;
    HLY_Size count     = bytes_to_read < available ? bytes_to_read : available;
    if (count == 0) return HLY_ERROR_EOS;
    memcpy(buffer, m_Buffer.GetData() + m_ReadOffset, count);
    m_ReadOffset += count;
    if (bytes_read) *bytes_read = count;
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::GetSize(HLY_LargeSize& size)
{
    size = m_Buffer.GetDataSize();
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::GetAvailable(HLY_LargeSize& available)
{
    available = m_Buffer.GetDataSize() > m_ReadOffset ? m_Buffer.GetDataSize() - m_ReadOffset : 0;
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    if (bytes_to_write == 0) return HLY_SUCCESS;
    HLY_UInt64 end = (HLY_UInt64)m_WriteOffset + bytes_to_write;
    if (end > 0xFFFFFFFFu) return HLY_ERROR_OUT_OF_RANGE;
    HLY_CHECK(m_Buffer.Reserve((HLY_Size)end));
    memcpy(m_Buffer.UseData() + m_WriteOffset, buffer, bytes_to_write);
    m_WriteOffset = (HLY_UInt32)end;
    if (m_WriteOffset > m_Buffer.GetDataSize()) m_Buffer.SetDataSize(m_WriteOffset);
    if (bytes_written) *bytes_written = bytes_to_write;
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::InputSeek(HLY_Position offset)
{
    if (offset > m_Buffer.GetDataSize()) return HLY_ERROR_OUT_OF_RANGE;
    m_ReadOffset = (HLY_UInt32)offset;
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::InputTell(HLY_Position& offset)
{
    offset = m_ReadOffset;
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::OutputSeek(HLY_Position offset)
{
    if (offset > m_Buffer.GetDataSize()) return HLY_ERROR_OUT_OF_RANGE;
    m_WriteOffset = (HLY_UInt32)offset;
    return HLY_SUCCESS;
}

HLY_Result HLY_MemoryStream::OutputTell(HLY_Position& offset)
{
    offset = m_WriteOffset;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_StringOutputStream
+---------------------------------------------------------------------*/
HLY_StringOutputStream::HLY_StringOutputStream(HLY_String* string) : m_String(string), m_StringIsOwned(false)
{
    // a null string would make every write crash; keep one of our own instead
    if (m_String == nullptr) {
        m_String        = new HLY_String();
        m_StringIsOwned = true;
    }
}

HLY_StringOutputStream::HLY_StringOutputStream(HLY_Size capacity)
    : m_String(new HLY_String()), m_StringIsOwned(true)
{
    m_String->Reserve(capacity);
}

HLY_StringOutputStream::~HLY_StringOutputStream()
{
    if (m_StringIsOwned) delete m_String;
}

HLY_Result HLY_StringOutputStream::Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written)
{
    m_String->Append(static_cast<const char*>(buffer), bytes_to_write);
    if (bytes_written) *bytes_written = bytes_to_write;
    return HLY_SUCCESS;
}

HLY_Result HLY_StringOutputStream::Tell(HLY_Position& offset)
{
    offset = m_String->GetLength();
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_StreamToStreamCopy
+---------------------------------------------------------------------*/
HLY_Result HLY_StreamToStreamCopy(HLY_InputStream&  from,
                                  HLY_OutputStream& to,
                                  HLY_Position      offset,
                                  HLY_LargeSize     size,
                                  HLY_LargeSize*    bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    if (offset) HLY_CHECK(from.Seek(offset));

    // most copies are small bodies: the block starts small and grows while
    // the source fills it, up to its full size
    HLY_Size capacity = HLY_STREAM_COPY_FIRST_BLOCK_SIZE;
    if (size && size < capacity) capacity = (HLY_Size)size;
    HLY_Byte* block = new (std::nothrow) HLY_Byte[capacity];
    if (block == nullptr) return HLY_ERROR_OUT_OF_MEMORY;

    HLY_LargeSize total_read = 0;
    HLY_Result    result     = HLY_SUCCESS;
    for (;;) {
        HLY_Size wanted = capacity;
        if (size && size - total_read < wanted) wanted = (HLY_Size)(size - total_read);

        HLY_Size bytes_read = 0;
        result = from.Read(block, wanted, &bytes_read);
        if (HLY_FAILED(result)) break;
        // a source that delivers nothing without saying why would spin forever,
        // as ReadFully already treats it
        if (bytes_read == 0) {
            result = HLY_ERROR_INTERNAL;
            break;
        }
        total_read += bytes_read;

        HLY_Size done = 0;
        while (done < bytes_read) {
            HLY_Size written = 0;
            result = to.Write(block + done, bytes_read - done, &written);
            if (result == HLY_ERROR_WOULD_BLOCK) continue;
            if (HLY_FAILED(result)) break;
            // a writer that accepts nothing without saying why would spin forever
            if (written == 0 || written > bytes_read - done) {
                result = HLY_ERROR_INTERNAL;
                break;
            }
            done += written;
            if (bytes_written) *bytes_written += written;
        }
        if (HLY_FAILED(result)) break;
        if (size && total_read >= size) break;
        if (bytes_read == capacity && capacity < HLY_STREAM_COPY_BUFFER_SIZE) {
            delete[] block;
            capacity = 2 * capacity < HLY_STREAM_COPY_BUFFER_SIZE ? 2 * capacity : HLY_STREAM_COPY_BUFFER_SIZE;
            block    = new (std::nothrow) HLY_Byte[capacity];
            if (block == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        }
    }
    delete[] block;

    if (result == HLY_ERROR_EOS) {
        // the end of the source is the normal end of an open-ended copy, but a
        // copy that was promised size bytes and got fewer is a truncated one
        if (size == 0 || total_read >= size) return HLY_SUCCESS;
        HLY_LOG_FINE("source ended after %llu of %llu bytes", (unsigned long long)total_read,
                     (unsigned long long)size);
        return HLY_ERROR_EOS;
    }
    return result;
}
