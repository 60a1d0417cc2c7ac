#include "hlyhttp.h"

#include <cstring>

#include "hlylogging.h"
#include "hlysockets.h"

HLY_SET_LOCAL_LOGGER("halyard.http")

/*----------------------------------------------------------------------
|   HLY_HttpHeader
+---------------------------------------------------------------------*/
HLY_Result HLY_HttpHeader::Emit(HLY_OutputStream& stream) const
{
    // write failures surface when the caller sends the assembled head
    stream.WriteString(m_Name);
    stream.WriteFully(": ", 2);
    stream.WriteString(m_Value);
    stream.WriteFully("\r\n", 2);
    HLY_LOG_FINEST("header %s: %s", m_Name.GetChars(), m_Value.GetChars());
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpHeaders
+---------------------------------------------------------------------*/
HLY_HttpHeaders::~HLY_HttpHeaders()
{
    m_Headers.Apply(HLY_ObjectDeleter());
}

HLY_Result HLY_HttpHeaders::Parse(HLY_BufferedInputStream& stream)
{
    HLY_String header_name;
    HLY_String header_value;
    bool       header_pending = false;
    HLY_Size   total          = 0;
    HLY_String line;

    for (;;) {
        HLY_Result result = stream.ReadLine(line, HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH);
        if (HLY_FAILED(result)) {
            // A peer that closes right after its last header line still sent
            // a usable head. Anything else (a line too long, a timeout, a
            // reset) leaves the rest of the head in the stream, where it
            // would be taken for the body: refuse the message instead.
            if (result == HLY_ERROR_EOS) break;
            return result;
        }
        if (line.IsEmpty()) break;

        total += line.GetLength();
        if (total > HLY_HTTP_PROTOCOL_MAX_HEADERS_SIZE) {
            HLY_LOG_WARNING("message head too large");
            return HLY_ERROR_OUT_OF_RESOURCES;
        }

        if (line[0] == ' ' || line[0] == '\t') {
            // a folded line continues the pending value; after a line that
            // was no header it continues nothing and is dropped, for taken
            // as a name with blanks in front it would fold into the header
            // before it once the head is written out again
            if (header_pending) header_value.Append(line.GetChars() + 1, line.GetLength() - 1);
            continue;
        }
        if (header_pending) {
            header_value.Trim();
            AddHeader(header_name, header_value);
            HLY_LOG_FINEST("header - %s: %s", header_name.GetChars(), header_value.GetChars());
            header_pending = false;
        }

        int colon = line.Find(':');
        if (colon < 1) continue; // no name: not a header line
        header_name.Assign(line.GetChars(), (HLY_Size)colon); // reuses its block, no temporary
        const char* value = line.GetChars() + colon + 1;
        while (*value == ' ' || *value == '\t') ++value;
        header_value   = value;
        header_pending = true;
    }

    if (header_pending) {
        header_value.Trim();
        AddHeader(header_name, header_value);
        HLY_LOG_FINEST("header %s: %s", header_name.GetChars(), header_value.GetChars());
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpHeaders::Emit(HLY_OutputStream& stream) const
{
    for (HLY_List<HLY_HttpHeader*>::Iterator header = m_Headers.GetFirstItem(); header; ++header) {
        HLY_Result result = (*header)->Emit(stream);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_WARNING, "HLY_HttpHeaders::Emit", "((*header)->Emit(stream))", result);
            return result;
        }
    }
    return HLY_SUCCESS;
}

HLY_HttpHeader* HLY_HttpHeaders::GetHeader(const char* name) const
{
    if (name == nullptr) return nullptr;
    for (HLY_List<HLY_HttpHeader*>::Iterator header = m_Headers.GetFirstItem(); header; ++header) {
        if ((*header)->GetName().Compare(name, true) == 0) return *header;
    }
    return nullptr;
}

const HLY_String* HLY_HttpHeaders::GetHeaderValue(const char* name) const
{
    HLY_HttpHeader* header = GetHeader(name);
    return header ? &header->GetValue() : nullptr;
}

HLY_Result HLY_HttpHeaders::AddHeader(const char* name, const char* value)
{
    HLY_HttpHeader* header = new (std::nothrow) HLY_HttpHeader(name, value);
    if (header == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
    HLY_Result result = m_Headers.Add(header);
    if (HLY_FAILED(result)) delete header;
    return result;
}

HLY_Result HLY_HttpHeaders::SetHeader(const char* name, const char* value, bool replace)
{
    HLY_HttpHeader* header = GetHeader(name);
    if (header == nullptr) return AddHeader(name, value);
    if (replace) return header->SetValue(value);
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpHeaders::RemoveHeader(const char* name)
{
    bool removed = false;
    for (HLY_List<HLY_HttpHeader*>::Iterator header = m_Headers.GetFirstItem(); header;) {
        HLY_List<HLY_HttpHeader*>::Iterator next = header;
        ++next;
        if (name && (*header)->GetName().Compare(name, true) == 0) {
            delete *header;
            m_Headers.Erase(header);
            removed = true;
        }
        header = next;
    }
    return removed ? HLY_SUCCESS : HLY_ERROR_NO_SUCH_ITEM;
}

/*----------------------------------------------------------------------
|   HLY_HttpEntity
+---------------------------------------------------------------------*/
HLY_HttpEntity::HLY_HttpEntity() : m_ContentLength(0), m_ContentLengthIsKnown(false)
{
}

HLY_HttpEntity::HLY_HttpEntity(const HLY_HttpHeaders& headers) : m_ContentLength(0), m_ContentLengthIsKnown(false)
{
    const HLY_String* value = headers.GetHeaderValue(HLY_HTTP_HEADER_CONTENT_LENGTH);
    HLY_UInt64        length = 0;
    // A length that does not parse is no length: taken as 0, it would end a
    // body before its first byte and leave the body on a reused connection,
    // to be read as the next response.
    if (value && HLY_SUCCEEDED(value->ToInteger(length, true))) {
        m_ContentLengthIsKnown = true;
        m_ContentLength        = length;
    } else if (value) {
        HLY_LOG_FINE("ignoring a Content-Length that is not a number (%s)", value->GetChars());
    }
    value = headers.GetHeaderValue(HLY_HTTP_HEADER_CONTENT_TYPE);
    if (value) m_ContentType = *value;
    value = headers.GetHeaderValue(HLY_HTTP_HEADER_CONTENT_ENCODING);
    if (value) m_ContentEncoding = *value;
    value = headers.GetHeaderValue(HLY_HTTP_HEADER_TRANSFER_ENCODING);
    if (value) m_TransferEncoding = *value;
}

HLY_Result HLY_HttpEntity::SetInputStream(const HLY_InputStreamReference& stream, bool update_content_length)
{
    m_InputStream = stream;
    if (update_content_length && !stream.IsNull()) {
        HLY_LargeSize size = 0;
        if (HLY_SUCCEEDED(stream->GetSize(size))) SetContentLength(size);
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpEntity::SetInputStream(const void* data, HLY_Size size)
{
    if (data == nullptr && size) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_MemoryStream* memory = new (std::nothrow) HLY_MemoryStream(data, size);
    if (memory == nullptr) return HLY_ERROR_OUT_OF_MEMORY;
    return SetInputStream(HLY_InputStreamReference(memory), true);
}

HLY_Result HLY_HttpEntity::SetInputStream(const HLY_String& string)
{
    return SetInputStream(string.GetChars(), string.GetLength());
}

HLY_Result HLY_HttpEntity::SetInputStream(const char* string)
{
    if (string == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return SetInputStream(string, (HLY_Size)strlen(string));
}

HLY_Result HLY_HttpEntity::GetInputStream(HLY_InputStreamReference& stream)
{
    stream = nullptr;
    if (m_InputStream.IsNull()) return HLY_FAILURE;
    stream = m_InputStream;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpMessage
+---------------------------------------------------------------------*/
HLY_HttpMessage::~HLY_HttpMessage()
{
    delete m_Entity;
}

HLY_Result HLY_HttpMessage::ParseHeaders(HLY_BufferedInputStream& stream)
{
    return m_Headers.Parse(stream);
}

HLY_Result HLY_HttpMessage::SetEntity(HLY_HttpEntity* entity)
{
    if (entity != m_Entity) {
        delete m_Entity;
        m_Entity = entity;
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpRequest
+---------------------------------------------------------------------*/
HLY_HttpRequest::HLY_HttpRequest(const HLY_HttpUrl& url, const char* method, const char* protocol)
    : HLY_HttpMessage(protocol), m_Url(url), m_Method(method)
{
}

HLY_HttpRequest::HLY_HttpRequest(const char* url, const char* method, const char* protocol)
    : HLY_HttpMessage(protocol), m_Url(url), m_Method(method)
{
}

HLY_Result HLY_HttpRequest::SetUrl(const char* url)
{
    m_Url = HLY_HttpUrl(url);
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpRequest::SetUrl(const HLY_HttpUrl& url)
{
    m_Url = url;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpRequest::Parse(HLY_BufferedInputStream& stream,
                                  const HLY_SocketAddress* endpoint,
                                  HLY_HttpRequest*&        request)
{
    request = nullptr;

    HLY_String line;
    do {
        HLY_Result result = stream.ReadLine(line, HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_FINER, "HLY_HttpRequest::Parse", "(stream.ReadLine(line, HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH))", result);
            return result;
        }
        HLY_LOG_FINEST("http request: %s", line.GetChars());
    } while (line.IsEmpty()); // blank lines before a request are tolerated

    int first_space  = line.Find(' ');
    int second_space = first_space < 0 ? -1 : line.Find(' ', (HLY_Ordinal)first_space + 1);
    if (second_space < 0) {
        HLY_LOG_FINE("http request: %s", line.GetChars());
        return HLY_ERROR_HTTP_INVALID_REQUEST_LINE;
    }
    HLY_String method   = line.Left((HLY_Size)first_space);
    HLY_String target   = line.SubString((HLY_Ordinal)first_space + 1, (HLY_Size)(second_space - first_space - 1));
    HLY_String protocol = line.SubString((HLY_Ordinal)second_space + 1);

    bool absolute = target.StartsWith("http://", true);
    request = new HLY_HttpRequest(absolute ? target.GetChars() : "http:", method, protocol);

    HLY_Result result = request->ParseHeaders(stream);
    if (HLY_FAILED(result)) {
        delete request;
        request = nullptr;
        return result;
    }

    if (!absolute) {
        HLY_HttpUrl& url = request->m_Url;
        url.SetScheme("http");
        url.SetRequestTarget(target);
        url.SetPort(HLY_HTTP_DEFAULT_PORT);

        const HLY_String* host = request->GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_HOST);
        if (host) {
            url.SetHost(*host);
            // the port we were reached on beats what the client believes
            if (endpoint) url.SetPort((HLY_UInt16)endpoint->GetPort());
        } else if (endpoint) {
            url.SetHost(endpoint->ToString());
        } else {
            url.SetHost("localhost");
        }
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpRequest::Emit(HLY_OutputStream& stream, bool use_proxy) const
{
    stream.WriteString(m_Method);
    stream.WriteFully(" ", 1);
    if (use_proxy) {
        stream.WriteString(m_Url.ToString(false));
    } else {
        stream.WriteString(m_Url.FormatRequestTarget(false));
    }
    stream.WriteFully(" ", 1);
    stream.WriteString(m_Protocol);
    stream.WriteFully("\r\n", 2);
    m_Headers.Emit(stream);
    stream.WriteFully("\r\n", 2);
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpResponse
+---------------------------------------------------------------------*/
HLY_HttpResponse::HLY_HttpResponse(HLY_Int32 status_code, const char* reason_phrase, const char* protocol)
    : HLY_HttpMessage(protocol), m_StatusCode(status_code), m_ReasonPhrase(reason_phrase)
{
}

HLY_Result HLY_HttpResponse::SetStatus(HLY_Int32 status_code, const char* reason_phrase, const char* protocol)
{
    m_StatusCode   = status_code;
    m_ReasonPhrase = reason_phrase;
    if (protocol) m_Protocol = protocol;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpResponse::Parse(HLY_BufferedInputStream& stream, HLY_HttpResponse*& response)
{
    response = nullptr;

    HLY_String line;
    HLY_Result res = stream.ReadLine(line, HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH);
    if (HLY_FAILED(res)) {
        if (res != HLY_ERROR_TIMEOUT && res != HLY_ERROR_EOS) {
            HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_WARNING, "HLY_HttpResponse::Parse", "(res)", res);
        }
        return res;
    }
    HLY_LOG_FINER("http response: %s", line.GetChars());

    int first_space = line.Find(' ');
    if (first_space < 1) return HLY_ERROR_HTTP_INVALID_RESPONSE_LINE;
    int second_space = line.Find(' ', (HLY_Ordinal)first_space + 1);
    if (second_space < 0) {
        // "HTTP/1.x NNN" without a reason phrase
        if (line.GetLength() != 12) return HLY_ERROR_HTTP_INVALID_RESPONSE_LINE;
    } else if (second_space != first_space + 4) {
        // the status code is exactly three characters
        return HLY_ERROR_HTTP_INVALID_RESPONSE_LINE;
    }

    HLY_String protocol = line.Left((HLY_Size)first_space);
    HLY_String code     = line.SubString((HLY_Ordinal)first_space + 1, 3);
    HLY_Int32  status   = 0;
    if (HLY_FAILED(code.ToInteger(status, true))) status = 0;
    HLY_String reason = line.SubString((HLY_Ordinal)first_space + 5);

    response = new HLY_HttpResponse(status, reason, protocol);
    HLY_Result result = response->ParseHeaders(stream);
    if (HLY_FAILED(result)) {
        delete response;
        response = nullptr;
    }
    return result;
}

HLY_Result HLY_HttpResponse::Emit(HLY_OutputStream& stream) const
{
    stream.WriteString(m_Protocol);
    stream.WriteFully(" ", 1);
    stream.WriteString(HLY_String::FromInteger(m_StatusCode));
    stream.WriteFully(" ", 1);
    stream.WriteString(m_ReasonPhrase);
    stream.WriteFully("\r\n", 2);
    m_Headers.Emit(stream);
    stream.WriteFully("\r\n", 2);
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpChunkedInputStream
+---------------------------------------------------------------------*/
#define HLY_HTTP_CHUNK_LINE_MAX 4096

HLY_HttpChunkedInputStream::HLY_HttpChunkedInputStream(const HLY_BufferedInputStreamReference& source)
    : m_Source(source), m_CurrentChunkSize(0), m_Eos(false)
{
}

HLY_Result HLY_HttpChunkedInputStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (m_Eos) return HLY_ERROR_EOS;
    if (bytes_to_read == 0) return HLY_SUCCESS;
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;

    if (m_CurrentChunkSize == 0) {
        // size lines are read buffered: one byte per system call would be slow
        m_Source->SetBufferSize(HLY_HTTP_CHUNK_LINE_MAX);

        HLY_String size_line;
        HLY_Result result = m_Source->ReadLine(size_line, HLY_HTTP_CHUNK_LINE_MAX);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_FINE, "HLY_HttpChunkedInputStream::Read", "(m_Source->ReadLine(size_line))", result);
            return result;
        }
        if (size_line.IsEmpty()) {
            HLY_LOG_WARNING("empty chunk size line");
            return HLY_ERROR_INVALID_FORMAT;
        }

        // hexadecimal digits up to the end, a space or the extensions after ';'
        HLY_UInt32  size   = 0;
        HLY_Cardinal digits = 0;
        for (const char* c = size_line.GetChars(); *c && *c != ' ' && *c != ';' && *c != '\r' && *c != '\n'; ++c) {
            int nibble = HLY_HexToNibble(*c);
            if (nibble < 0) {
                HLY_LOG_WARNING("invalid chunk size format (%s)", size_line.GetChars());
                return HLY_ERROR_INVALID_FORMAT;
            }
            // the size must fit its 32 bits; wrapping would misframe the rest of the body
            if (size > (0xFFFFFFFFu >> 4)) {
                HLY_LOG_WARNING("chunk size too large (%s)", size_line.GetChars());
                return HLY_ERROR_INVALID_FORMAT;
            }
            size = (size << 4) | (HLY_UInt32)nibble;
            ++digits;
        }
        if (digits == 0) {
            // a line without a size must not pass for the last chunk
            HLY_LOG_WARNING("invalid chunk size format (%s)", size_line.GetChars());
            return HLY_ERROR_INVALID_FORMAT;
        }
        HLY_LOG_FINEST("start of chunk, size=%d", (int)size);

        if (size == 0) {
            HLY_LOG_FINEST("end of chunked stream, reading trailers");
            HLY_String footer;
            do {
                result = m_Source->ReadLine(footer, HLY_HTTP_CHUNK_LINE_MAX);
                if (HLY_FAILED(result)) {
                    HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_FINE, "HLY_HttpChunkedInputStream::Read", "(m_Source->ReadLine(footer))", result);
                    return result;
                }
            } while (!footer.IsEmpty());
            m_Eos = true;
            HLY_LOG_FINEST("end of chunked stream, done");
            return HLY_ERROR_EOS;
        }
        m_CurrentChunkSize = size;
        // chunk data must not be read ahead into the source's buffer
        m_Source->SetBufferSize(0);
    }

    HLY_Size   bytes_to_read_now = bytes_to_read < m_CurrentChunkSize ? bytes_to_read : m_CurrentChunkSize;
    HLY_Size   chunk_bytes_read  = 0;
    HLY_Result result            = m_Source->Read(buffer, bytes_to_read_now, &chunk_bytes_read);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_FINE, "HLY_HttpChunkedInputStream::Read", "(m_Source->Read(buffer, bytes_to_read, &chunk_bytes_read))", result);
        return result;
    }
    if (chunk_bytes_read > bytes_to_read_now) chunk_bytes_read = bytes_to_read_now;
    m_CurrentChunkSize -= chunk_bytes_read;

    if (m_CurrentChunkSize == 0) {
        HLY_LOG_FINEST("reading end of chunk");
        char newline[2];
        result = m_Source->ReadFully(newline, 2);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_FINE, "HLY_HttpChunkedInputStream::Read", "(m_Source->ReadFully(newline, 2))", result);
            return result;
        }
        if (newline[0] != '\r' || newline[1] != '\n') {
            HLY_LOG_WARNING("invalid end of chunk (expected \\r\\n)");
            return HLY_ERROR_INVALID_FORMAT;
        }
    }
    if (bytes_read) *bytes_read = chunk_bytes_read;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpChunkedInputStream::GetSize(HLY_LargeSize& size)
{
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
    return m_Source->GetSize(size);
}

HLY_Result HLY_HttpChunkedInputStream::GetAvailable(HLY_LargeSize& available)
{
    if (m_Source.IsNull()) return HLY_ERROR_INVALID_STATE;
    return m_Source->GetAvailable(available);
}

/*----------------------------------------------------------------------
|   HLY_HttpChunkedOutputStream
+---------------------------------------------------------------------*/
HLY_HttpChunkedOutputStream::~HLY_HttpChunkedOutputStream()
{
    // the last chunk, without trailers
    m_Stream.WriteFully("0\r\n\r\n", 5);
}

HLY_Result HLY_HttpChunkedOutputStream::Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    // an empty chunk would read as the last one
    if (bytes_to_write == 0) return HLY_SUCCESS;

    char  size_line[16];
    char* p = size_line + sizeof(size_line);
    *--p    = '\n';
    *--p    = '\r';
    HLY_Size size = bytes_to_write;
    do {
        *--p = HLY_NibbleToHex(size & 0x0F, true);
        size >>= 4;
    } while (size);

    HLY_CHECK(m_Stream.WriteFully(p, (HLY_Size)(size_line + sizeof(size_line) - p)));
    HLY_CHECK(m_Stream.WriteFully(buffer, bytes_to_write));
    HLY_CHECK(m_Stream.WriteFully("\r\n", 2));
    if (bytes_written) *bytes_written = bytes_to_write;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpEntityBodyInputStream
+---------------------------------------------------------------------*/
HLY_HttpEntityBodyInputStream::HLY_HttpEntityBodyInputStream(const HLY_BufferedInputStreamReference& source,
                                                             HLY_LargeSize                           size,
                                                             bool                                    size_is_known,
                                                             bool                                    chunked,
                                                             HLY_HttpClient::Connection*             connection,
                                                             bool                                    should_persist)
    : m_Size(size),
      m_SizeIsKnown(size_is_known),
      m_Chunked(chunked),
      m_Connection(connection),
      m_ShouldPersist(should_persist),
      m_Position(0),
      m_ChunkedSource(nullptr)
{
    if (size_is_known && size == 0 && !chunked) {
        OnFullyRead(true);
    } else if (chunked) {
        m_ChunkedSource = new HLY_HttpChunkedInputStream(source);
        m_Source        = HLY_InputStreamReference(m_ChunkedSource);
    } else {
        m_Source = source;
    }
}

HLY_HttpEntityBodyInputStream::~HLY_HttpEntityBodyInputStream()
{
    // a connection still held was not read to its end: it cannot be reused
    m_Source.Release();
    delete m_Connection;
}

void HLY_HttpEntityBodyInputStream::OnFullyRead(bool complete)
{
    m_Source.Release();
    m_ChunkedSource = nullptr;
    // only a connection positioned exactly after the body can serve another exchange
    if (m_Connection && m_ShouldPersist && complete) {
        HLY_HttpClient::Connection* connection = m_Connection;
        m_Connection                           = nullptr;
        connection->Recycle();
    }
}

HLY_Result HLY_HttpEntityBodyInputStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (m_Source.IsNull()) return HLY_ERROR_EOS;

    // chunk framing alone ends a chunked body; a length beside it is not trusted
    bool limited = m_SizeIsKnown && !m_Chunked;
    if (limited) {
        HLY_LargeSize remaining = m_Position < m_Size ? m_Size - m_Position : 0;
        if (remaining == 0) {
            OnFullyRead(true);
            return HLY_ERROR_EOS;
        }
        if (bytes_to_read > remaining) bytes_to_read = (HLY_Size)remaining;
    }

    HLY_Size   local_read = 0;
    HLY_Result result     = m_Source->Read(buffer, bytes_to_read, &local_read);
    if (HLY_FAILED(result)) local_read = 0;
    m_Position += local_read;
    if (bytes_read) *bytes_read = local_read;

    if (result == HLY_ERROR_EOS) {
        // An end of stream before the announced length, or before the last
        // chunk, means the body was cut short: say so instead of passing a
        // truncated body off as complete.
        bool complete = m_Chunked ? (m_ChunkedSource && m_ChunkedSource->IsAtEnd()) : !limited;
        OnFullyRead(complete);
        if (!complete) {
            HLY_LOG_WARNING("body ended early after %lld bytes", (long long)m_Position);
            return HLY_ERROR_CONNECTION_ABORTED;
        }
    } else if (limited && m_Position >= m_Size) {
        OnFullyRead(true);
    }
    return result;
}

HLY_Result HLY_HttpEntityBodyInputStream::GetAvailable(HLY_LargeSize& available)
{
    available = 0;
    if (m_Source.IsNull()) return HLY_SUCCESS;
    HLY_Result result = m_Source->GetAvailable(available);
    if (HLY_FAILED(result)) {
        available = 0;
        return result;
    }
    if (m_SizeIsKnown && !m_Chunked) {
        HLY_LargeSize remaining = m_Position < m_Size ? m_Size - m_Position : 0;
        if (remaining < available) available = remaining;
    }
    return HLY_SUCCESS;
}
