#ifndef HLY_BUFFERED_STREAMS_H
#define HLY_BUFFERED_STREAMS_H

#include "hlydatabuffer.h"
#include "hlystreams.h"
#include "hlystrings.h"

#define HLY_BUFFERED_INPUT_STREAM_DEFAULT_SIZE 4096
#define HLY_BUFFERED_INPUT_STREAM_MAX_LINE     4096

/*----------------------------------------------------------------------
|   HLY_BufferedInputStream: a read buffer in front of another input
|   stream, with line reading and peeking. A buffer size of 0 switches
|   to unbuffered mode: once the buffered bytes are drained, reads go
|   straight to the source and nothing more is held back.
+---------------------------------------------------------------------*/
class HLY_BufferedInputStream : public HLY_InputStream
{
public:
    explicit HLY_BufferedInputStream(const HLY_InputStreamReference& source,
                                     HLY_Size buffer_size = HLY_BUFFERED_INPUT_STREAM_DEFAULT_SIZE);
    ~HLY_BufferedInputStream() override;

    // HLY_InputStream
    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result Seek(HLY_Position offset) override;
    HLY_Result Tell(HLY_Position& offset) override;
    HLY_Result GetSize(HLY_LargeSize& size) override;
    HLY_Result GetAvailable(HLY_LargeSize& available) override;

    // reads one line without its terminator into buffer (size counts the NUL).
    // A line ends at LF; CR ends it too with break_on_cr, else CR is dropped.
    // A line that does not fit gives HLY_ERROR_NOT_ENOUGH_SPACE with the first
    // size - 1 characters stored; the rest stays in the stream.
    virtual HLY_Result ReadLine(char* buffer, HLY_Size size, HLY_Size* chars_read = nullptr, bool break_on_cr = false);
    // the same into a string of at most max_chars - 1 characters; empty on failure
    virtual HLY_Result ReadLine(HLY_String& line, HLY_Size max_chars = HLY_BUFFERED_INPUT_STREAM_MAX_LINE,
                                bool break_on_cr = false);
    virtual HLY_Result SetBufferSize(HLY_Size size, bool force = false);
    // copies upcoming bytes without consuming them
    virtual HLY_Result Peek(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read);

protected:
    virtual HLY_Result FillBuffer();
    virtual HLY_Result ReleaseBuffer();

    HLY_InputStreamReference m_Source;
    HLY_DataBuffer           m_LineBuffer;  // lines read into strings pass through here
    HLY_Position             m_Position;    // source position of the next byte handed out
    bool                     m_SkipNewline; // the last line ended on CR: a LF right after belongs to it
    bool                     m_Eos;
    struct {
        HLY_Byte* data;     // null until first needed
        HLY_Size  offset;   // next unread byte
        HLY_Size  valid;    // bytes filled from the source
        HLY_Size  size;     // wanted buffer size, 0 = unbuffered
        HLY_Size  capacity; // bytes allocated in data
    } m_Buffer;

private:
    HLY_BufferedInputStream(const HLY_BufferedInputStream&)            = delete;
    HLY_BufferedInputStream& operator=(const HLY_BufferedInputStream&) = delete;

    HLY_Size GetUnread() const { return m_Buffer.valid - m_Buffer.offset; }
    // a block of at least capacity bytes with the unread bytes moved to its start
    HLY_Result CompactBuffer(HLY_Size capacity);
    HLY_Result ReadLineUnbuffered(char* buffer, HLY_Size size, HLY_Size& stored, HLY_Size& consumed,
                                  bool& skip_newline, bool& mark, bool break_on_cr);
};
typedef HLY_Reference<HLY_BufferedInputStream> HLY_BufferedInputStreamReference;

#endif // HLY_BUFFERED_STREAMS_H
