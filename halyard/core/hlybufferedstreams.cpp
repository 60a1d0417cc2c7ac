#include <cstring>
#include <new>

#include "hlybufferedstreams.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("halyard.bufferedstreams")

// a source may answer a read with nothing now and then (a TLS record that
// carries no data); one that keeps doing so is stuck and is given up on
#define HLY_BUFFERED_INPUT_STREAM_MAX_EMPTY_READS 16

namespace {

enum LineStep { LINE_CONTINUE, LINE_END, LINE_FULL };

// applies one character to the line being read; skip_newline only ever
// covers the first character looked at, the one right after the CR
LineStep StepLine(char c, char* buffer, HLY_Size size, HLY_Size& stored, bool& skip_newline, bool& mark,
                  bool break_on_cr)
{
    bool skip    = skip_newline;
    skip_newline = false;
    if (c == '\r') {
        if (break_on_cr) {
            mark = true;
            return LINE_END;
        }
        return LINE_CONTINUE;
    }
    if (c == '\n') {
        if (skip && stored == 0) return LINE_CONTINUE;
        return LINE_END;
    }
    if (stored + 1 >= size) {
        // the character did not fit: it is not consumed, so the skip still stands
        skip_newline = skip;
        return LINE_FULL;
    }
    buffer[stored++] = c;
    return LINE_CONTINUE;
}

// how many of the first bytes (at most room) are neither CR nor LF
HLY_Size PlainSpan(const HLY_Byte* bytes, HLY_Size count, HLY_Size room)
{
    if (count > room) count = room;
    if (count == 0) return 0;
    const void* lf = memchr(bytes, '\n', count);
    if (lf) count = (HLY_Size)(static_cast<const HLY_Byte*>(lf) - bytes);
    const void* cr = count ? memchr(bytes, '\r', count) : nullptr;
    if (cr) count = (HLY_Size)(static_cast<const HLY_Byte*>(cr) - bytes);
    return count;
}

} // namespace

HLY_BufferedInputStream::HLY_BufferedInputStream(const HLY_InputStreamReference& source, HLY_Size buffer_size)
    : m_Source(source), m_Position(0), m_SkipNewline(false), m_Eos(false)
{
    m_Buffer.data     = nullptr;
    m_Buffer.offset   = 0;
    m_Buffer.valid    = 0;
    m_Buffer.size     = buffer_size;
    m_Buffer.capacity = 0;
}

HLY_BufferedInputStream::~HLY_BufferedInputStream()
{
    ReleaseBuffer();
    m_Source.Release();
}

HLY_Result HLY_BufferedInputStream::ReleaseBuffer()
{
    delete[] m_Buffer.data;
    m_Buffer.data     = nullptr;
    m_Buffer.offset   = 0;
    m_Buffer.valid    = 0;
    m_Buffer.capacity = 0;
    return HLY_SUCCESS;
}

HLY_Result HLY_BufferedInputStream::FillBuffer()
{
    if (m_Eos) return HLY_ERROR_EOS;
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
    if (m_Buffer.data == nullptr) {
        HLY_Size capacity = m_Buffer.size ? m_Buffer.size : HLY_BUFFERED_INPUT_STREAM_DEFAULT_SIZE;
        m_Buffer.data     = new (std::nothrow) HLY_Byte[capacity];
        if (m_Buffer.data == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        m_Buffer.capacity = capacity;
    }
    m_Buffer.offset = 0;
    m_Buffer.valid  = 0;

    HLY_Size wanted = m_Buffer.size ? m_Buffer.size : m_Buffer.capacity;
    if (wanted > m_Buffer.capacity) wanted = m_Buffer.capacity;
    HLY_Size   bytes_read = 0;
    HLY_Result result     = HLY_SUCCESS;
    for (int attempt = 0; attempt < HLY_BUFFERED_INPUT_STREAM_MAX_EMPTY_READS && bytes_read == 0; ++attempt) {
        result = m_Source->Read(m_Buffer.data, wanted, &bytes_read);
        if (HLY_FAILED(result)) break;
    }
    if (HLY_FAILED(result)) {
        if (result == HLY_ERROR_EOS) m_Eos = true;
        return result;
    }
    m_Buffer.valid = bytes_read <= wanted ? bytes_read : wanted;
    // a source that succeeds without a byte would have its callers refill forever
    return m_Buffer.valid ? HLY_SUCCESS : HLY_ERROR_INTERNAL;
}

HLY_Result HLY_BufferedInputStream::CompactBuffer(HLY_Size capacity)
{
    HLY_Size unread = GetUnread();
    if (capacity < unread) capacity = unread;
    if (m_Buffer.data && m_Buffer.capacity >= capacity) {
        if (m_Buffer.offset) memmove(m_Buffer.data, m_Buffer.data + m_Buffer.offset, unread);
    } else {
        if (capacity == 0) return HLY_SUCCESS;
        HLY_Byte* block = new (std::nothrow) HLY_Byte[capacity];
        if (block == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
        if (unread) memcpy(block, m_Buffer.data + m_Buffer.offset, unread);
        delete[] m_Buffer.data;
        m_Buffer.data     = block;
        m_Buffer.capacity = capacity;
    }
    m_Buffer.offset = 0;
    m_Buffer.valid  = unread;
    return HLY_SUCCESS;
}

HLY_Result HLY_BufferedInputStream::SetBufferSize(HLY_Size size, bool force)
{
    if (m_Buffer.data == nullptr || (size <= m_Buffer.capacity && !force)) {
        m_Buffer.size = size;
        return HLY_SUCCESS;
    }
    HLY_Size unread = GetUnread();
    if (size == 0 && unread == 0) {
        ReleaseBuffer();
        m_Buffer.size = 0;
        return HLY_SUCCESS;
    }
    // never shrink below the unread bytes: they would be lost
    HLY_Size capacity = size > unread ? size : unread;
    HLY_Byte* block   = new (std::nothrow) HLY_Byte[capacity];
    if (block == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
    if (unread) memcpy(block, m_Buffer.data + m_Buffer.offset, unread);
    delete[] m_Buffer.data;
    m_Buffer.data     = block;
    m_Buffer.capacity = capacity;
    m_Buffer.offset   = 0;
    m_Buffer.valid    = unread;
    m_Buffer.size     = size;
    return HLY_SUCCESS;
}

HLY_Result HLY_BufferedInputStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (bytes_to_read == 0) return HLY_SUCCESS;
    if (buffer == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_Byte* out       = static_cast<HLY_Byte*>(buffer);
    HLY_Size  delivered = 0;

    if (m_SkipNewline) {
        m_SkipNewline     = false;
        HLY_Size   one    = 0;
        HLY_Result result = Read(out, 1, &one);
        if (HLY_FAILED(result) || one == 0) {
            // nothing was looked at yet: the LF may still come
            m_SkipNewline = true;
            return result;
        }
        if (out[0] != '\n') delivered = 1;
        if (delivered == bytes_to_read || (delivered && GetUnread() == 0)) {
            // the caller has something: do not wait on the source for more
            if (bytes_read) *bytes_read = delivered;
            return HLY_SUCCESS;
        }
    }

    HLY_Size   wanted = bytes_to_read - delivered;
    HLY_Size   got    = 0;
    HLY_Result result = HLY_SUCCESS;
    if (wanted > GetUnread()) {
        if (GetUnread()) {
            // hand out what is buffered rather than wait on the source
            wanted = GetUnread();
        } else if (m_Buffer.size == 0) {
            // the block is kept: bodies and heads take turns on one connection
            m_Buffer.offset = m_Buffer.valid = 0;
            if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
            result = m_Source->Read(out + delivered, wanted, &got);
            if (HLY_FAILED(result)) got = 0;
            if (got > wanted) got = wanted;
            wanted = 0;
        } else {
            result = FillBuffer();
            if (HLY_SUCCEEDED(result) && wanted > GetUnread()) wanted = GetUnread();
        }
    }
    if (HLY_SUCCEEDED(result) && wanted) {
        memcpy(out + delivered, m_Buffer.data + m_Buffer.offset, wanted);
        m_Buffer.offset += wanted;
        got = wanted;
    }
    m_Position += got;
    delivered += got;
    if (bytes_read) *bytes_read = delivered;

    if (HLY_FAILED(result)) {
        if (result == HLY_ERROR_EOS) m_Eos = true;
        // bytes already handed over must not be lost behind an error
        return delivered ? HLY_SUCCESS : result;
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_BufferedInputStream::ReadLineUnbuffered(char* buffer, HLY_Size size, HLY_Size& stored,
                                                       HLY_Size& consumed, bool& skip_newline, bool& mark,
                                                       bool break_on_cr)
{
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
    for (;;) {
        HLY_Byte   c          = 0;
        HLY_Size   bytes_read = 0;
        HLY_Result result     = HLY_SUCCESS;
        for (int attempt = 0; attempt < HLY_BUFFERED_INPUT_STREAM_MAX_EMPTY_READS && bytes_read == 0; ++attempt) {
            result = m_Source->Read(&c, 1, &bytes_read);
            if (HLY_FAILED(result)) return result;
        }
        if (bytes_read == 0) return HLY_ERROR_INTERNAL; // a silent source would be read forever
        LineStep step = StepLine((char)c, buffer, size, stored, skip_newline, mark, break_on_cr);
        if (step == LINE_FULL) {
            // keep the byte for the next read instead of dropping it
            if (m_Buffer.data == nullptr) {
                m_Buffer.data     = new (std::nothrow) HLY_Byte[1];
                m_Buffer.capacity = m_Buffer.data ? 1 : 0;
            }
            if (m_Buffer.data) {
                m_Buffer.data[0] = c;
                m_Buffer.offset  = 0;
                m_Buffer.valid   = 1;
            } else {
                ++consumed;
            }
            return HLY_ERROR_NOT_ENOUGH_SPACE;
        }
        ++consumed;
        if (step == LINE_END) return HLY_SUCCESS;
    }
}

HLY_Result HLY_BufferedInputStream::ReadLine(char* buffer, HLY_Size size, HLY_Size* chars_read, bool break_on_cr)
{
    if (chars_read) *chars_read = 0;
    if (buffer == nullptr || size == 0) return HLY_ERROR_INVALID_PARAMETERS;

    HLY_Size   stored       = 0;
    HLY_Size   consumed     = 0;
    bool       skip_newline = m_SkipNewline;
    bool       mark         = false;
    HLY_Result result       = HLY_SUCCESS;
    for (;;) {
        if (GetUnread() == 0) {
            if (m_Buffer.size == 0 && !m_Eos) {
                // the block is kept for when buffering is switched on again
                m_Buffer.offset = m_Buffer.valid = 0;
                result = ReadLineUnbuffered(buffer, size, stored, consumed, skip_newline, mark, break_on_cr);
                break;
            }
            result = FillBuffer();
            if (HLY_FAILED(result)) break;
            continue;
        }
        if (!skip_newline) {
            // the plain characters before the next CR or LF go over in one copy
            // (a byte at a time, a long header line cost more than its parsing)
            HLY_Size span = PlainSpan(m_Buffer.data + m_Buffer.offset, GetUnread(), size - 1 - stored);
            if (span) {
                memcpy(buffer + stored, m_Buffer.data + m_Buffer.offset, span);
                stored += span;
                m_Buffer.offset += span;
                consumed += span;
                continue;
            }
        }
        char     c    = (char)m_Buffer.data[m_Buffer.offset];
        LineStep step = StepLine(c, buffer, size, stored, skip_newline, mark, break_on_cr);
        if (step == LINE_FULL) {
            result = HLY_ERROR_NOT_ENOUGH_SPACE;
            break;
        }
        ++m_Buffer.offset;
        ++consumed;
        if (step == LINE_END) break;
    }

    // a skip that no character has settled yet carries over to the next call
    m_SkipNewline = mark || skip_newline;
    buffer[stored] = '\0';
    m_Position += consumed;
    if (chars_read) *chars_read = stored;

    if (result == HLY_ERROR_EOS) {
        m_Eos = true;
        // a last line without terminator is still a line
        return stored ? HLY_SUCCESS : HLY_ERROR_EOS;
    }
    return result;
}

HLY_Result HLY_BufferedInputStream::ReadLine(HLY_String& line, HLY_Size max_chars, bool break_on_cr)
{
    line.SetLength(0);
    HLY_Result result = HLY_SUCCESS;
    if (max_chars == 0) {
        result = ReadLine(nullptr, 0, nullptr, break_on_cr);
    } else {
        // one line buffer per stream: a message head is read line by line,
        // and a string of max_chars for each line cost more than the parsing.
        // Left uninitialised: clearing it (8 KB for a message head) before
        // every stream's first line cost as much as reading a short head.
        if (m_LineBuffer.GetBufferSize() < max_chars) HLY_CHECK(m_LineBuffer.SetBufferSize(max_chars));
        char*    chars      = reinterpret_cast<char*>(m_LineBuffer.UseData());
        HLY_Size chars_read = 0;
        result              = ReadLine(chars, max_chars, &chars_read, break_on_cr);
        if (HLY_SUCCEEDED(result)) line.Assign(chars, chars_read);
    }
    if (HLY_SUCCEEDED(result)) return HLY_SUCCESS;
    line.SetLength(0);
    if (result != HLY_ERROR_TIMEOUT && result != HLY_ERROR_EOS) {
        HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_WARNING, "HLY_BufferedInputStream::ReadLine", "(__result)", result);
    }
    return result;
}

HLY_Result HLY_BufferedInputStream::Peek(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (bytes_to_read == 0) return HLY_SUCCESS;
    if (buffer == nullptr) return HLY_ERROR_INVALID_PARAMETERS;

    HLY_Size   reference = m_Buffer.size ? m_Buffer.size : HLY_BUFFERED_INPUT_STREAM_DEFAULT_SIZE;
    HLY_Result result    = HLY_SUCCESS;
    if (bytes_to_read > GetUnread() && GetUnread() < reference && !m_Eos && !m_Source.IsNull()) {
        // keep the pending bytes in front and read more behind them
        result = CompactBuffer(reference);
        if (HLY_SUCCEEDED(result)) {
            HLY_Size more = 0;
            result        = m_Source->Read(m_Buffer.data + m_Buffer.valid, m_Buffer.capacity - m_Buffer.valid, &more);
            if (HLY_SUCCEEDED(result)) {
                if (more > m_Buffer.capacity - m_Buffer.valid) more = m_Buffer.capacity - m_Buffer.valid;
                m_Buffer.valid += more;
            } else if (result == HLY_ERROR_EOS) {
                m_Eos = true;
            }
        }
    }

    HLY_Size count = bytes_to_read < GetUnread() ? bytes_to_read : GetUnread();
    if (count) memcpy(buffer, m_Buffer.data + m_Buffer.offset, count);
    if (bytes_read) *bytes_read = count;
    if (result == HLY_ERROR_EOS && count) return HLY_SUCCESS;
    return result;
}

HLY_Result HLY_BufferedInputStream::Seek(HLY_Position offset)
{
    if (offset >= m_Position && offset - m_Position < GetUnread()) {
        m_Buffer.offset += (HLY_Size)(offset - m_Position);
        m_Position    = offset;
        m_SkipNewline = false;
        return HLY_SUCCESS;
    }
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
    HLY_CHECK(m_Source->Seek(offset));
    m_Buffer.offset = 0;
    m_Buffer.valid  = 0;
    m_Eos           = false;
    m_SkipNewline   = false;
    m_Position      = offset;
    return HLY_SUCCESS;
}

HLY_Result HLY_BufferedInputStream::Tell(HLY_Position& offset)
{
    offset = m_Position;
    return HLY_SUCCESS;
}

HLY_Result HLY_BufferedInputStream::GetSize(HLY_LargeSize& size)
{
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
    return m_Source->GetSize(size);
}

HLY_Result HLY_BufferedInputStream::GetAvailable(HLY_LargeSize& available)
{
    HLY_LargeSize source_available = 0;
    HLY_Result    result = m_Source.IsNull() ? HLY_ERROR_INVALID_STATE : m_Source->GetAvailable(source_available);
    if (HLY_SUCCEEDED(result)) {
        available = GetUnread() + source_available;
        return HLY_SUCCESS;
    }
    available = GetUnread();
    return available ? HLY_SUCCESS : result;
}
