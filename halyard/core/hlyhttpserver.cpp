#include <new>
#include <chrono>

#include "hlyfile.h"
#include "hlyhttpserver.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "hlyurls.h"

HLY_SET_LOCAL_LOGGER("halyard.http")

const char* const HLY_HTTP_PAGE_NOT_FOUND =
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
    "<p>The requested URL was not found on this server.</p></html>";
const char* const HLY_HTTP_PAGE_FORBIDDEN =
    "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1>"
    "<p>Access to this URL is forbidden.</p></html>";
const char* const HLY_HTTP_PAGE_INTERNAL_ERROR =
    "<html><head><title>500 Internal Error</title></head><body><h1>Internal Error</h1>"
    "<p>The server encountered an unexpected condition which prevented it from fulfilling the request.</p></html>";

namespace {

// a monotonic clock for deadlines: the wall clock may jump
HLY_TimeStamp MonotonicNow()
{
    return HLY_TimeStamp::FromNanos((HLY_Int64)std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// the check message of a failed call, logged with the text of the call
/*----------------------------------------------------------------------
|   the built-in extension table; the first match wins
+---------------------------------------------------------------------*/
struct FileTypeEntry {
    const char* extension;
    const char* mime_type;
};
const FileTypeEntry DefaultFileTypeMap[] = {
    {"xml", "text/xml; charset=\"utf-8\""},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"c", "text/plain"},
    {"h", "text/plain"},
    {"txt", "text/plain"},
    {"css", "text/css"},
    {"manifest", "text/cache-manifest"},
    {"gif", "image/gif"},
    {"thm", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"png", "image/png"},
    {"png", "image/png"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"jp2", "image/jp2"},
    {"bmp", "image/bmp"},
    {"aif", "audio/x-aiff"},
    {"aifc", "audio/x-aiff"},
    {"aiff", "audio/x-aiff"},
    {"mpa", "audio/mpeg"},
    {"mp2", "audio/mpeg"},
    {"mp3", "audio/mpeg"},
    {"m4a", "audio/mp4"},
    {"wma", "audio/x-ms-wma"},
    {"wav", "audio/x-wav"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"mp4", "video/mp4"},
    {"m4v", "video/mp4"},
    {"ts", "video/MP2T"},
    {"mpegts", "video/MP2T"},
    {"mov", "video/quicktime"},
    {"qt", "video/quicktime"},
    {"wmv", "video/x-ms-wmv"},
    {"wtv", "video/x-ms-wmv"},
    {"asf", "video/x-ms-asf"},
    {"mkv", "video/x-matroska"},
    {"flv", "video/x-flv"},
    {"avi", "video/x-msvideo"},
    {"divx", "video/x-msvideo"},
    {"xvid", "video/x-msvideo"},
    {"doc", "application/msword"},
    {"js", "application/javascript"},
    {"m3u8", "application/x-mpegURL"},
    {"pdf", "application/pdf"},
    {"ps", "application/postscript"},
    {"eps", "application/postscript"},
    {"zip", "application/zip"},
};

/*----------------------------------------------------------------------
|   text for the directory listing: everything outside printable ASCII,
|   and the characters that would end a tag, an entity or an attribute,
|   is written as a numeric character reference of its code point
+---------------------------------------------------------------------*/
void AppendReference(HLY_String& out, HLY_UInt32 code_point)
{
    out += "&#x";
    int digits = code_point > 0xFFFF ? 8 : 4;
    for (int i = digits - 1; i >= 0; --i) out += HLY_NibbleToHex((code_point >> (4 * i)) & 0xF, true);
    out += ';';
}

HLY_String EscapeHtml(const HLY_String& text)
{
    HLY_String     out;
    const HLY_Byte* p   = reinterpret_cast<const HLY_Byte*>(text.GetChars());
    const HLY_Byte* end = p + text.GetLength();
    while (p < end) {
        HLY_Byte c = *p;
        if (c >= 32 && c <= 126) {
            if (c == '<' || c == '>' || c == '&' || c == '"') {
                AppendReference(out, c);
            } else {
                out += (char)c;
            }
            ++p;
            continue;
        }
        // decode one UTF-8 sequence; a malformed one is written byte by byte
        HLY_UInt32 code_point = 0;
        int        length     = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            code_point = c & 0x1F;
            length     = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            code_point = c & 0x0F;
            length     = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            code_point = c & 0x07;
            length     = 4;
        }
        bool valid = length > 0 && end - p >= length;
        for (int i = 1; valid && i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) valid = false;
            code_point = (code_point << 6) | (p[i] & 0x3F);
        }
        if (valid) {
            AppendReference(out, code_point);
            p += length;
        } else {
            AppendReference(out, c);
            ++p;
        }
    }
    return out;
}

} // namespace

// A path below the file root may not climb out of it: no ".." segment,
// no backslash (a separator elsewhere) and no NUL (which would cut the
// name short for the file system).
bool HLY_HttpIsContainedPath(const HLY_String& relative)
{
    const char* chars  = relative.GetChars();
    HLY_Size    length = relative.GetLength();
    for (HLY_Size i = 0; i < length; ++i) {
        if (chars[i] == '\0' || chars[i] == '\\') return false;
    }
    HLY_Size segment_start = 0;
    for (HLY_Size i = 0; i <= length; ++i) {
        if (i == length || chars[i] == '/') {
            if (i - segment_start == 2 && chars[segment_start] == '.' && chars[segment_start + 1] == '.') return false;
            segment_start = i + 1;
        }
    }
    return true;
}

/*----------------------------------------------------------------------
|   HLY_HttpTimeLimitedInputStream
+---------------------------------------------------------------------*/
HLY_HttpTimeLimitedInputStream::HLY_HttpTimeLimitedInputStream(const HLY_InputStreamReference& source,
                                                               HLY_Socket*                     socket,
                                                               HLY_Timeout                     io_timeout)
    : m_Source(source), m_Socket(socket), m_IoTimeout(io_timeout), m_HasDeadline(false),
      m_LastSourceError(HLY_SUCCESS)
{
}

void HLY_HttpTimeLimitedInputStream::SetDeadline(HLY_Timeout timeout)
{
    if (timeout < 0) {
        m_HasDeadline = false;
        if (m_Socket) m_Socket->SetReadTimeout(m_IoTimeout);
        return;
    }
    m_HasDeadline = true;
    m_Deadline    = MonotonicNow() + HLY_TimeStamp::FromMillis(timeout);
}

HLY_Result HLY_HttpTimeLimitedInputStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (m_HasDeadline) {
        HLY_Int64 left = (m_Deadline - MonotonicNow()).ToMillis();
        if (left <= 0) {
            HLY_LOG_FINE("connection read deadline passed");
            m_LastSourceError = HLY_ERROR_TIMEOUT;
            return HLY_ERROR_TIMEOUT;
        }
        if (m_Socket) {
            if (m_IoTimeout >= 0 && m_IoTimeout < left) left = m_IoTimeout;
            m_Socket->SetReadTimeout((HLY_Timeout)left);
        }
    }
    HLY_Result result = m_Source->Read(buffer, bytes_to_read, bytes_read);
    if (HLY_FAILED(result)) m_LastSourceError = result;
    return result;
}

/*----------------------------------------------------------------------
|   HLY_HttpRequestInputStream
+---------------------------------------------------------------------*/
HLY_HttpRequestInputStream::HLY_HttpRequestInputStream(const HLY_InputStreamReference& source, HLY_Size buffer_size)
    : HLY_BufferedInputStream(source, buffer_size), m_InHead(false), m_HeadTooLarge(false), m_HeadSize(0),
      m_HeadLines(0)
{
}

HLY_Result HLY_HttpRequestInputStream::ReadLine(char* buffer, HLY_Size size, HLY_Size* chars_read, bool break_on_cr)
{
    if (!m_InHead) return HLY_BufferedInputStream::ReadLine(buffer, size, chars_read, break_on_cr);
    if (chars_read) *chars_read = 0;
    if (m_HeadTooLarge) return HLY_ERROR_OUT_OF_RANGE;

    // the request line, the headers and the empty line that ends them
    if (m_HeadLines >= HLY_HTTP_SERVER_MAX_HEADER_COUNT + 2) {
        HLY_LOG_FINE("request head has too many lines");
        m_HeadTooLarge = true;
        return HLY_ERROR_OUT_OF_RANGE;
    }
    HLY_Size   count  = 0;
    HLY_Result result = HLY_BufferedInputStream::ReadLine(buffer, size, &count, break_on_cr);
    if (chars_read) *chars_read = count;
    if (result == HLY_ERROR_NOT_ENOUGH_SPACE) {
        HLY_LOG_FINE("request head line too long");
        m_HeadTooLarge = true;
        return HLY_ERROR_OUT_OF_RANGE;
    }
    if (HLY_FAILED(result)) return result;

    m_HeadSize += count + 2;
    if (m_HeadSize > HLY_HTTP_SERVER_MAX_HEAD_SIZE) {
        HLY_LOG_FINE("request head too large");
        m_HeadTooLarge = true;
        return HLY_ERROR_OUT_OF_RANGE;
    }
    // blank lines before the request line only count against the size
    if (count || m_HeadLines) ++m_HeadLines;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpRequestInputStream::ReadRequest(const HLY_SocketAddress* endpoint, HLY_HttpRequest*& request)
{
    request        = nullptr;
    m_InHead       = true;
    m_HeadTooLarge = false;
    m_HeadSize     = 0;
    m_HeadLines    = 0;
    HLY_Result result = HLY_HttpRequest::Parse(*this, endpoint, request);
    m_InHead = false;
    if (m_HeadTooLarge) {
        // the header parser stops quietly at a failed line: refuse what it kept
        delete request;
        request = nullptr;
        return HLY_ERROR_OUT_OF_RANGE;
    }
    return result;
}

/*----------------------------------------------------------------------
|   HLY_HttpRequestHandler
+---------------------------------------------------------------------*/
HLY_Result HLY_HttpSendEntityBody(HLY_HttpEntity* entity, HLY_OutputStream& output, HLY_LoggerReference& logger)
{
    if (entity == nullptr) return HLY_SUCCESS;
    HLY_InputStreamReference body;
    if (HLY_FAILED(entity->GetInputStream(body)) || body.IsNull()) return HLY_SUCCESS;

    HLY_OutputStream*            dest    = &output;
    HLY_HttpChunkedOutputStream* chunked = nullptr;
    if (entity->GetTransferEncoding() == HLY_HTTP_TRANSFER_ENCODING_CHUNKED) {
        chunked = new HLY_HttpChunkedOutputStream(output);
        dest    = chunked;
    }
    HLY_LOG_X(logger, HLY_LOG_LEVEL_FINE, "sending body stream, %lld bytes", (long long)entity->GetContentLength());
    HLY_LargeSize written = 0;
    HLY_Result    result  = HLY_StreamToStreamCopy(*body, *dest, 0, entity->GetContentLength(), &written);
    if (HLY_FAILED(result)) {
        HLY_LOG_X(logger, HLY_LOG_LEVEL_FINE, "body stream only partially sent, %lld bytes (%d:%s)",
                  (long long)written, (int)result, HLY_ResultText(result));
    }
    dest->Flush();
    delete chunked; // writes the last chunk
    return result;
}

HLY_Result HLY_HttpRequestHandler::SendResponseBody(const HLY_HttpRequestContext& /*context*/,
                                                    HLY_HttpResponse&             response,
                                                    HLY_OutputStream&             output)
{
    return HLY_HttpSendEntityBody(response.GetEntity(), output, _HLY_LocalLogger);
}

/*----------------------------------------------------------------------
|   HLY_HttpStaticRequestHandler
+---------------------------------------------------------------------*/
HLY_HttpStaticRequestHandler::HLY_HttpStaticRequestHandler(const void* data, HLY_Size size, const char* mime_type,
                                                           bool copy)
    : m_MimeType(mime_type), m_Buffer(data, size, copy)
{
}

HLY_HttpStaticRequestHandler::HLY_HttpStaticRequestHandler(const char* document, const char* mime_type, bool copy)
    : m_MimeType(mime_type), m_Buffer(document, document ? (HLY_Size)HLY_String(document).GetLength() : 0, copy)
{
}

HLY_Result HLY_HttpStaticRequestHandler::SetupResponse(HLY_HttpRequest& /*request*/,
                                                       const HLY_HttpRequestContext& /*context*/,
                                                       HLY_HttpResponse& response)
{
    HLY_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) return HLY_ERROR_INVALID_STATE;
    entity->SetContentType(m_MimeType);
    entity->SetInputStream(m_Buffer.GetData(), m_Buffer.GetDataSize());
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpFileRequestHandler
+---------------------------------------------------------------------*/
HLY_HttpFileRequestHandler::HLY_HttpFileRequestHandler(const char* url_root, const char* file_root, bool auto_dir,
                                                       const char* auto_index)
    : m_UrlRoot(url_root), m_FileRoot(file_root), m_DefaultMimeType("text/html"), m_UseDefaultFileTypeMap(true),
      m_AutoDir(auto_dir), m_AutoIndex(auto_index)
{
}

const char* HLY_HttpFileRequestHandler::GetDefaultContentType(const char* extension)
{
    if (extension == nullptr) return nullptr;
    for (const FileTypeEntry& entry : DefaultFileTypeMap) {
        if (HLY_String::Compare(extension, entry.extension, true) == 0) return entry.mime_type;
    }
    return nullptr;
}

HLY_String HLY_HttpFileRequestHandler::GetContentType(const HLY_String& filename)
{
    // the extension of the last path component only
    int        slash = filename.ReverseFind('/');
    HLY_String base  = slash < 0 ? filename : filename.SubString((HLY_Ordinal)slash + 1);
    int        dot   = base.ReverseFind('.');
    // no extension, or a name whose only dot starts it
    if (dot <= 0) {
        HLY_LOG_FINE("using default mime type");
        return m_DefaultMimeType;
    }
    HLY_String extension = base.SubString((HLY_Ordinal)dot + 1).ToLowercase();
    HLY_LOG_FINE("extension=%s", extension.GetChars());

    HLY_String* mime_type = nullptr;
    if (HLY_SUCCEEDED(m_FileTypeMap.Get(extension, mime_type))) {
        HLY_LOG_FINE("found mime type in map: %s", mime_type->GetChars());
        return *mime_type;
    }
    if (m_UseDefaultFileTypeMap) {
        const char* type = GetDefaultContentType(extension);
        if (type) {
            HLY_LOG_FINE("using type from default list: %s", type);
            return type;
        }
    }
    HLY_LOG_FINE("using default mime type");
    return m_DefaultMimeType;
}

HLY_Result HLY_HttpFileRequestHandler::SetupResponse(HLY_HttpRequest&              request,
                                                     const HLY_HttpRequestContext& /*context*/,
                                                     HLY_HttpResponse&             response)
{
    HLY_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) return HLY_ERROR_INVALID_STATE;

    if (request.GetMethod() != HLY_HTTP_METHOD_GET && request.GetMethod() != HLY_HTTP_METHOD_HEAD) {
        response.SetStatus(405, "Method Not Allowed");
        return HLY_SUCCESS;
    }

    response.GetHeaders().SetHeader("Accept-Ranges", "bytes");
    if (request.GetProtocol() == HLY_HTTP_PROTOCOL_1_1) response.SetProtocol(HLY_HTTP_PROTOCOL_1_1);

    HLY_String url_path = HLY_Uri::PercentDecode(request.GetUrl().GetPath());
    if (!url_path.StartsWith(m_UrlRoot)) return HLY_ERROR_INVALID_PARAMETERS;
    // the path is decoded once: decoding the rest again would let "%252e" become "."
    HLY_String relative = url_path.SubString(m_UrlRoot.GetLength());
    if (!HLY_HttpIsContainedPath(relative)) {
        HLY_LOG_WARNING("refusing path outside the file root: %s", url_path.GetChars());
        return HLY_ERROR_PERMISSION_DENIED;
    }
    HLY_String filename = m_FileRoot;
    filename += "/";
    filename += relative;
    HLY_LOG_FINE("filename = %s", filename.GetChars());

    HLY_FileInfo info;
    if (HLY_SUCCEEDED(HLY_File::GetInfo(filename, &info))) {
        if (info.m_Type == HLY_FileInfo::FILE_TYPE_DIRECTORY) {
            HLY_LOG_FINE("file is a DIRECTORY");
            if (!m_AutoDir) return HLY_ERROR_PERMISSION_DENIED;
            if (!m_AutoIndex.IsEmpty()) {
                HLY_LOG_FINE("redirecting to auto-index");
                if (!HLY_File::Exists(HLY_FilePath::Create(filename, m_AutoIndex))) return HLY_ERROR_PERMISSION_DENIED;
                // the index of this directory, relative to the host: a root of "/"
                // followed by "/" would read as another host ("//index.html")
                HLY_String location = request.GetUrl().GetPath();
                if (!location.EndsWith("/")) location += "/";
                location += HLY_Uri::PercentEncode(m_AutoIndex, HLY_Uri::PathCharsToEncode);
                response.SetStatus(302, "Found");
                response.GetHeaders().SetHeader("Location", location);
                return HLY_SUCCESS;
            }
            HLY_LOG_FINE("doing auto-dir");
            return SetupDirectoryListing(url_path, filename, response);
        }
        if (info.m_Type != HLY_FileInfo::FILE_TYPE_REGULAR) {
            // a pipe or a device could block the connection forever
            return HLY_ERROR_PERMISSION_DENIED;
        }
    }

    HLY_File                 file(filename);
    HLY_InputStreamReference stream;
    if (HLY_FAILED(file.Open(HLY_FILE_OPEN_MODE_READ)) || HLY_FAILED(file.GetInputStream(stream)) ||
        stream.IsNull()) {
        HLY_LOG_FINE("file not found");
        return HLY_ERROR_NO_SUCH_ITEM;
    }
    HLY_Result result = SetupResponseBody(response, stream, request.GetHeaders().GetHeaderValue("Range"));
    entity->SetContentType(GetContentType(filename));
    return result;
}

HLY_Result HLY_HttpFileRequestHandler::SetupDirectoryListing(const HLY_String& url_path,
                                                             const HLY_String& dirname,
                                                             HLY_HttpResponse& response)
{
    HLY_List<HLY_String> entries;
    HLY_Result           result = HLY_File::ListDir(dirname, entries);
    if (HLY_FAILED(result)) return result;

    HLY_String escaped_path = EscapeHtml(url_path);
    HLY_String html;
    html += "<html><head><title>Directory Listing for /";
    html += escaped_path;
    html += "</title></head><body>";
    html += "<h2>Directory Listing for /";
    html += escaped_path;
    html += "</h2><hr><ul>\r\n";
    for (HLY_List<HLY_String>::Iterator it = entries.GetFirstItem(); it; ++it) {
        HLY_String   escaped_name = EscapeHtml(*it);
        HLY_FileInfo info;
        bool         is_dir = HLY_SUCCEEDED(HLY_File::GetInfo(HLY_FilePath::Create(dirname, *it), &info)) &&
                      info.m_Type == HLY_FileInfo::FILE_TYPE_DIRECTORY;
        html += "<li><a href=\"";
        html += escaped_path;
        if (!url_path.EndsWith("/")) html += "/";
        html += escaped_name;
        html += "\">";
        html += escaped_name;
        if (is_dir) html += "/";
        html += "</a><br>\r\n";
    }
    html += "</ul></body></html>";

    HLY_HttpEntity* entity = response.GetEntity();
    entity->SetInputStream(html);
    entity->SetContentType("text/html");
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpFileRequestHandler::SetupResponseBody(HLY_HttpResponse&         response,
                                                         HLY_InputStreamReference& stream,
                                                         const HLY_String*         range_spec)
{
    HLY_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) return HLY_ERROR_INVALID_STATE;
    bool chunked = entity->GetTransferEncoding() == HLY_HTTP_TRANSFER_ENCODING_CHUNKED;

    if (range_spec == nullptr) {
        entity->SetInputStream(stream, !chunked);
        return HLY_SUCCESS;
    }

    const HLY_String* accept_ranges = response.GetHeaders().GetHeaderValue("Accept-Ranges");
    if (chunked || (accept_ranges && *accept_ranges != "bytes")) {
        HLY_LOG_FINE("range request not supported");
        response.SetStatus(416, "Requested Range Not Satisfiable");
        return HLY_SUCCESS;
    }

    HLY_LargeSize size        = 0;
    HLY_Result    size_result = stream->GetSize(size);
    bool          size_known  = HLY_SUCCEEDED(size_result);
    if (size_known) {
        HLY_LOG_FINE("body size=%lld", (long long)size);
        if (size == 0) {
            entity->SetContentLength(0);
            return HLY_SUCCESS;
        }
    }

    if (!range_spec->StartsWith("bytes=")) {
        HLY_LOG_FINE("unknown range spec");
        response.SetStatus(400, "Bad Request");
        return HLY_SUCCESS;
    }
    HLY_String spec = range_spec->SubString(6);
    if (spec.Find(',') >= 0) {
        HLY_LOG_FINE("multi-range requests not supported");
        if (size_known) {
            response.GetHeaders().SetHeader("Content-Range", HLY_String("bytes */") + HLY_String::FromIntegerU(size));
        }
        response.SetStatus(416, "Requested Range Not Satisfiable");
        return HLY_SUCCESS;
    }
    int dash = spec.Find('-');
    if (dash < 0) {
        HLY_LOG_FINE("invalid syntax");
        response.SetStatus(400, "Bad Request");
        return HLY_SUCCESS;
    }

    HLY_String start_text = spec.Left((HLY_Size)dash);
    HLY_String end_text   = spec.SubString((HLY_Ordinal)dash + 1);
    bool       has_start  = !start_text.IsEmpty();
    bool       has_end    = !end_text.IsEmpty();
    HLY_UInt64 start = 0, end = 0;
    // a client's malformed header is its error, not the server's
    if (has_end && HLY_FAILED(end_text.ToInteger(end, true))) {
        HLY_LOG_FINE("failed to parse range end");
        response.SetStatus(400, "Bad Request");
        return HLY_SUCCESS;
    }
    if (has_start && HLY_FAILED(start_text.ToInteger(start, true))) {
        HLY_LOG_FINE("failed to parse range start");
        response.SetStatus(400, "Bad Request");
        return HLY_SUCCESS;
    }
    if (!has_start && !has_end) {
        HLY_LOG_FINE("invalid syntax");
        response.SetStatus(400, "Bad Request");
        return HLY_SUCCESS;
    }

    if (!size_known) {
        if (has_start && start == 0 && !has_end) {
            entity->SetInputStream(stream, !chunked);
            return HLY_SUCCESS;
        }
        HLY_LOG_WARNING("file.GetSize() failed (%d:%s)", (int)size_result, HLY_ResultText(size_result));
        HLY_LOG_FINE("range request not supported");
        response.SetStatus(416, "Requested Range Not Satisfiable");
        return HLY_SUCCESS;
    }

    if (has_start && start >= size) {
        HLY_LOG_FINE("out of range");
        response.SetStatus(416, "Requested Range Not Satisfiable");
        return HLY_SUCCESS;
    }
    if (has_start) {
        // an end at or past the last byte means "to the end": renderers ask
        // for more than there is when they do not know the size yet
        if (!has_end || end >= size) end = size - 1;
    } else {
        // a suffix longer than the body stands for the whole body
        start = end <= size ? size - end : 0;
        end   = size - 1;
    }
    HLY_LOG_FINE("final range: start=%lld, end=%lld", (long long)start, (long long)end);
    if (start > end) {
        HLY_LOG_FINE("invalid range");
        response.SetStatus(416, "Requested Range Not Satisfiable");
        return HLY_SUCCESS;
    }
    if (start) {
        HLY_Result result = stream->Seek(start);
        if (HLY_FAILED(result)) {
            HLY_LOG_WARNING("stream.Seek() failed (%d:%s)", (int)result, HLY_ResultText(result));
            response.SetStatus(416, "Requested Range Not Satisfiable");
            return HLY_SUCCESS;
        }
    }
    entity->SetInputStream(stream);
    entity->SetContentLength(end - start + 1);
    response.SetStatus(206, "Partial Content");
    response.GetHeaders().SetHeader("Content-Range", HLY_String("bytes ") + HLY_String::FromIntegerU(start) + "-" +
                                                         HLY_String::FromIntegerU(end) + "/" +
                                                         HLY_String::FromIntegerU(size));
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_HttpResponder
+---------------------------------------------------------------------*/
HLY_HttpResponder::HLY_HttpResponder(HLY_InputStreamReference&  input,
                                     HLY_OutputStreamReference& output,
                                     HLY_Timeout                timeout)
    : m_Timeout(timeout), m_Output(output)
{
    m_Limiter = new HLY_HttpTimeLimitedInputStream(input);
    m_Input   = new HLY_HttpRequestInputStream(HLY_InputStreamReference(m_Limiter), 4096);
}

HLY_Result HLY_HttpResponder::ParseRequest(HLY_HttpRequest*& request, const HLY_SocketAddress* local_address)
{
    request = nullptr;
    m_Input->SetBufferSize(4096);
    m_Limiter->SetDeadline(m_Timeout);
    HLY_Result result = m_Input->ReadRequest(local_address, request);
    m_Limiter->ClearDeadline();
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FINE, "(HLY_HttpRequest::Parse(*m_Input, local_address, request))", result);
        return result;
    }
    m_Input->SetBufferSize(0);

    const HLY_String& method = request->GetMethod();
    if (method == HLY_HTTP_METHOD_GET || method == HLY_HTTP_METHOD_HEAD || method == "TRACE") return HLY_SUCCESS;

    // the handler reads the body from the connection itself
    HLY_HttpEntity* entity = new HLY_HttpEntity(request->GetHeaders());
    if (entity->GetTransferEncoding() == HLY_HTTP_TRANSFER_ENCODING_CHUNKED) {
        entity->SetInputStream(HLY_InputStreamReference(
            new HLY_HttpChunkedInputStream(HLY_BufferedInputStreamReference(m_Input))));
    } else {
        entity->SetInputStream(HLY_InputStreamReference(m_Input));
    }
    request->SetEntity(entity);
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpResponder::SendResponseHeaders(HLY_HttpResponse& response)
{
    HLY_HttpHeaders& headers = response.GetHeaders();
    if (response.GetProtocol() == HLY_HTTP_PROTOCOL_1_0) headers.SetHeader(HLY_HTTP_HEADER_CONNECTION, "close", false);

    HLY_HttpEntity* entity = response.GetEntity();
    if (entity) {
        if (!entity->GetContentType().IsEmpty()) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_TYPE, entity->GetContentType());
        }
        if (!entity->GetContentEncoding().IsEmpty()) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_ENCODING, entity->GetContentEncoding());
        }
        if (!entity->GetTransferEncoding().IsEmpty()) {
            headers.SetHeader(HLY_HTTP_HEADER_TRANSFER_ENCODING, entity->GetTransferEncoding());
        }
        if (entity->ContentLengthIsKnown()) {
            headers.SetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH, HLY_String::FromIntegerU(entity->GetContentLength()));
        } else if (entity->GetTransferEncoding().IsEmpty() ||
                   entity->GetTransferEncoding().Compare(HLY_HTTP_TRANSFER_ENCODING_CHUNKED, true) != 0) {
            // only the end of the connection can mark the end of the body
            headers.SetHeader(HLY_HTTP_HEADER_CONNECTION, "close");
        }
    } else {
        headers.SetHeader(HLY_HTTP_HEADER_CONTENT_LENGTH, "0");
    }

    HLY_MemoryStream buffer;
    HLY_Result       result = response.Emit(buffer);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(response.Emit(buffer))", result);
        return result;
    }
    result = m_Output->WriteFully(buffer.GetData(), buffer.GetDataSize());
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(m_Output->WriteFully(buffer.GetData(), buffer.GetDataSize()))", result);
    }
    return result;
}

/*----------------------------------------------------------------------
|   HLY_HttpServer
+---------------------------------------------------------------------*/
HLY_HttpServer::HLY_HttpServer(HLY_UInt16 listen_port, bool reuse_address)
    : m_Socket(HLY_SOCKET_FLAG_CANCELLABLE), m_BoundPort(0), m_ServerHeader(HLY_HTTP_SERVER_DEFAULT_SERVER_HEADER),
      m_Run(true)
{
    m_Config.m_ListenPort   = listen_port;
    m_Config.m_ReuseAddress = reuse_address;
}

HLY_HttpServer::~HLY_HttpServer()
{
    m_RequestHandlers.Apply(HLY_ObjectDeleter());
}

HLY_Result HLY_HttpServer::SetConfig(const Config& config)
{
    m_Config = config;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpServer::BindListenPort(HLY_UInt16 port, bool reuse_address)
{
    m_Config.m_ListenPort   = port;
    m_Config.m_ReuseAddress = reuse_address;
    return Bind();
}

HLY_Result HLY_HttpServer::Bind()
{
    if (m_BoundPort) return HLY_SUCCESS;
    HLY_Result result =
        m_Socket.Bind(HLY_SocketAddress(m_Config.m_ListenAddress, m_Config.m_ListenPort), m_Config.m_ReuseAddress);
    if (HLY_FAILED(result)) return result;
    // listen at once: until then clients would be refused, not queued
    result = m_Socket.Listen(20);
    if (HLY_FAILED(result)) {
        // With address reuse two sockets may bind one port as long as neither
        // listens; the one that loses the race to listen stays bound to a port
        // it cannot use and could never bind another. Start over with a fresh
        // socket so that the caller may try another port.
        m_Socket.~HLY_TcpServerSocket();
        new (&m_Socket) HLY_TcpServerSocket(HLY_SOCKET_FLAG_CANCELLABLE);
        return result;
    }
    HLY_SocketInfo info;
    m_Socket.GetInfo(info);
    m_BoundPort = (HLY_UInt16)info.local_address.GetPort();
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpServer::WaitForNewClient(HLY_InputStreamReference&  input,
                                            HLY_OutputStreamReference& output,
                                            HLY_HttpRequestContext*    context,
                                            HLY_Flags                  socket_flags)
{
    HLY_CHECK(Bind());
    HLY_LOG_FINE("waiting for new connection on %s:%d...", m_Config.m_ListenAddress.ToString().GetChars(),
                 (int)m_BoundPort);

    HLY_Socket* client = nullptr;
    HLY_Result  result = m_Socket.WaitForNewClient(client, m_Config.m_ConnectionTimeout, socket_flags);
    if (result == HLY_ERROR_TIMEOUT) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FINE, "(result)", result);
        return result;
    }
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(result)", result);
        return result;
    }
    if (client == nullptr) return HLY_ERROR_INTERNAL;

    if (context) {
        HLY_SocketInfo info;
        client->GetInfo(info);
        context->SetLocalAddress(info.local_address);
        context->SetRemoteAddress(info.remote_address);
        HLY_LOG_FINE("client connected (%s <- %s)", info.local_address.ToString().GetChars(),
                     info.remote_address.ToString().GetChars());
    }

    client->SetReadTimeout(m_Config.m_IoTimeout);
    client->SetWriteTimeout(m_Config.m_IoTimeout);
    client->GetInputStream(input);
    client->GetOutputStream(output);
    // the streams keep the connection
    delete client;
    return HLY_SUCCESS;
}

HLY_Result HLY_HttpServer::Loop(bool cancellable_sockets)
{
    HLY_Result result = HLY_SUCCESS;
    do {
        HLY_InputStreamReference  input;
        HLY_OutputStreamReference output;
        HLY_HttpRequestContext    context;
        result = WaitForNewClient(input, output, &context, cancellable_sockets ? HLY_SOCKET_FLAG_CANCELLABLE : 0);
        HLY_LOG_FINE("WaitForNewClient returned %d (%s)", (int)result, HLY_ResultText(result));
        if (!m_Run) break;

        if (HLY_SUCCEEDED(result)) {
            result = RespondToClient(input, output, context);
            HLY_LOG_FINE("ResponToClient returned %d (%s)", (int)result, HLY_ResultText(result));
        } else if (result != HLY_ERROR_TIMEOUT && result != HLY_ERROR_TERMINATED) {
            // a client's bad request is no reason to pause; a failing socket is
            HLY_LOG_WARNING("sleeping before restarting the loop");
            HLY_System::Sleep(HLY_TimeInterval::FromSeconds(1));
        }
    } while (m_Run && result != HLY_ERROR_TERMINATED);
    return result;
}

void HLY_HttpServer::Abort()
{
    m_Run = false;
    m_Socket.Cancel(true);
}

HLY_Result HLY_HttpServer::AddRequestHandler(HLY_HttpRequestHandler* handler,
                                             const char*             path,
                                             bool                    include_children,
                                             bool                    transfer_ownership)
{
    return m_RequestHandlers.Add(new HandlerConfig(handler, path, include_children, transfer_ownership));
}

HLY_HttpRequestHandler* HLY_HttpServer::FindRequestHandler(HLY_HttpRequest& request)
{
    // an exact registration wins over a prefix, whatever their order
    HLY_String              path   = HLY_Uri::PercentDecode(request.GetUrl().GetPath());
    HLY_HttpRequestHandler* prefix = nullptr;
    for (HLY_List<HandlerConfig*>::Iterator it = m_RequestHandlers.GetFirstItem(); it; ++it) {
        HandlerConfig* config = *it;
        if (config->m_IncludeChildren) {
            if (prefix == nullptr && path.StartsWith(config->m_Path)) prefix = config->m_Handler;
        } else if (path == config->m_Path) {
            return config->m_Handler;
        }
    }
    return prefix;
}

HLY_List<HLY_HttpRequestHandler*> HLY_HttpServer::FindRequestHandlers(HLY_HttpRequest& request)
{
    HLY_List<HLY_HttpRequestHandler*> handlers;
    HLY_String                        path = HLY_Uri::PercentDecode(request.GetUrl().GetPath());
    for (HLY_List<HandlerConfig*>::Iterator it = m_RequestHandlers.GetFirstItem(); it; ++it) {
        HandlerConfig* config = *it;
        if (config->m_IncludeChildren) {
            if (path.StartsWith(config->m_Path)) handlers.Add(config->m_Handler);
        } else if (path == config->m_Path) {
            handlers.Insert(handlers.GetFirstItem(), config->m_Handler);
        }
    }
    return handlers;
}

HLY_Result HLY_HttpServer::RespondToClient(HLY_InputStreamReference&     input,
                                           HLY_OutputStreamReference&    output,
                                           const HLY_HttpRequestContext& context)
{
    HLY_HttpResponder responder(input, output, m_Config.m_IoTimeout);
    HLY_HttpRequest*  request = nullptr;
    HLY_Result        result  = responder.ParseRequest(request, &context.GetLocalAddress());
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(responder.ParseRequest(request, &context.GetLocalAddress()))", result);
        return result;
    }
    HLY_LOG_FINE("request, path=%s", request->GetUrl().FormatRequestTarget().GetChars());

    HLY_HttpEntity*         entity     = new HLY_HttpEntity();
    HLY_HttpResponse*       response   = nullptr;
    HLY_HttpRequestHandler* handler    = FindRequestHandler(*request);
    bool                    terminated = false;
    if (handler) {
        response = new HLY_HttpResponse(200, "OK", HLY_HTTP_PROTOCOL_1_0);
        response->SetEntity(entity);
        result = handler->SetupResponse(*request, context, *response);
    } else {
        delete entity;
    }

    const char* page = nullptr;
    if (handler == nullptr || result == HLY_ERROR_NO_SUCH_ITEM) {
        page = HLY_HTTP_PAGE_NOT_FOUND;
        if (response == nullptr) response = new HLY_HttpResponse(404, "Not Found", HLY_HTTP_PROTOCOL_1_0);
        response->SetStatus(404, "Not Found");
    } else if (result == HLY_ERROR_PERMISSION_DENIED) {
        page = HLY_HTTP_PAGE_FORBIDDEN;
        response->SetStatus(403, "Forbidden");
    } else if (result == HLY_ERROR_TERMINATED) {
        terminated = true;
    } else if (HLY_FAILED(result)) {
        page = HLY_HTTP_PAGE_INTERNAL_ERROR;
        response->SetStatus(500, "Internal Error");
    }
    if (page) {
        // the handler does not write the body of an error page, and a fresh
        // entity keeps a transfer or content encoding it prepared off the page
        handler = nullptr;
        HLY_HttpEntity* page_entity = new HLY_HttpEntity();
        page_entity->SetInputStream(page);
        page_entity->SetContentType("text/html");
        response->SetEntity(page_entity);
    }

    if (!m_ServerHeader.IsEmpty()) response->GetHeaders().SetHeader("Server", m_ServerHeader, false);
    // each connection carries one exchange: an HTTP/1.1 client that is not
    // told so would send its next request into a closing connection
    response->GetHeaders().SetHeader(HLY_HTTP_HEADER_CONNECTION, "close", false);

    result = responder.SendResponseHeaders(*response);
    if (HLY_FAILED(result)) {
        HLY_LOG_WARNING("SendResponseHeaders failed (%d:%s)", (int)result, HLY_ResultText(result));
    } else if (request->GetMethod() != HLY_HTTP_METHOD_HEAD) {
        if (handler) {
            result = handler->SendResponseBody(context, *response, *output);
        } else {
            HLY_InputStreamReference body;
            HLY_HttpEntity*          body_entity = response->GetEntity();
            if (body_entity && HLY_SUCCEEDED(body_entity->GetInputStream(body)) && !body.IsNull()) {
                result = HLY_StreamToStreamCopy(*body, *output, 0, body_entity->GetContentLength());
                if (HLY_FAILED(result)) {
                    HLY_LOG_INFO("HLY_StreamToStreamCopy returned %d (%s)", (int)result, HLY_ResultText(result));
                }
            }
        }
    }
    if (HLY_SUCCEEDED(result)) output->Flush();
    if (terminated && HLY_SUCCEEDED(result)) result = HLY_ERROR_TERMINATED;

    delete request;
    delete response;
    return result;
}
