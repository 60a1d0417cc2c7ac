#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hlybufferedstreams.h"
#include "hlyhttp.h"
#include "hlysockets.h"
#include "hlystreams.h"

namespace {

// Hands out its bytes in pieces of at most `piece` bytes per Read, like a
// socket that delivers a message in several segments.
class TrickleStream : public HLY_InputStream
{
public:
    TrickleStream(std::string data, HLY_Size piece) : m_Data(std::move(data)), m_Piece(piece) {}

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read) override
    {
        if (bytes_read) *bytes_read = 0;
        if (bytes_to_read == 0) return HLY_SUCCESS;
        if (m_Position >= m_Data.size()) return HLY_ERROR_EOS;
        size_t count = std::min<size_t>({(size_t)bytes_to_read, (size_t)m_Piece, m_Data.size() - m_Position});
        memcpy(buffer, m_Data.data() + m_Position, count);
        m_Position += count;
        if (bytes_read) *bytes_read = (HLY_Size)count;
        return HLY_SUCCESS;
    }
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override
    {
        offset = m_Position;
        return HLY_SUCCESS;
    }
    HLY_Result GetSize(HLY_LargeSize&) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result GetAvailable(HLY_LargeSize& available) override
    {
        available = m_Data.size() - m_Position;
        return HLY_SUCCESS;
    }
    size_t Consumed() const { return m_Position; }

private:
    std::string m_Data;
    HLY_Size    m_Piece;
    size_t      m_Position = 0;
};

HLY_BufferedInputStreamReference Buffered(const std::string& text, HLY_Size piece = 1 << 20)
{
    HLY_InputStreamReference source(new TrickleStream(text, piece));
    return HLY_BufferedInputStreamReference(new HLY_BufferedInputStream(source));
}

// counts what happens to it; the counters outlive the connection
struct ConnectionLog
{
    int recycled = 0;
    int deleted  = 0;
};

class FakeConnection : public HLY_HttpClient::Connection
{
public:
    explicit FakeConnection(ConnectionLog& log) : m_Log(log) {}
    ~FakeConnection() override { ++m_Log.deleted; }
    HLY_InputStreamReference& GetInputStream() override { return m_Input; }
    HLY_OutputStreamReference& GetOutputStream() override { return m_Output; }
    HLY_Result GetInfo(HLY_SocketInfo&) override { return HLY_ERROR_NOT_SUPPORTED; }
    bool SupportsPersistence() override { return true; }
    bool IsRecycled() override { return false; }
    HLY_Result Recycle() override
    {
        ++m_Log.recycled;
        delete this;
        return HLY_SUCCESS;
    }

private:
    ConnectionLog&            m_Log;
    HLY_InputStreamReference  m_Input;
    HLY_OutputStreamReference m_Output;
};

// reads a stream until it fails; returns the failure and collects the bytes
HLY_Result Drain(HLY_InputStream& stream, std::string& out, HLY_Size step = 7)
{
    std::vector<char> buffer(step);
    for (int guard = 0; guard < 1000000; ++guard) {
        HLY_Size   got    = 0;
        HLY_Result result = stream.Read(buffer.data(), step, &got);
        out.append(buffer.data(), got);
        if (HLY_FAILED(result)) return result;
    }
    return HLY_ERROR_INTERNAL;
}

// what a text parses to; null when it does not, and then *result holds why
std::unique_ptr<HLY_HttpRequest> ParseRequest(const std::string& text, const HLY_SocketAddress* endpoint = nullptr,
                                              HLY_Result* result = nullptr)
{
    auto             stream  = Buffered(text);
    HLY_HttpRequest* request = nullptr;
    HLY_Result       parsed  = HLY_HttpRequest::Parse(*stream, endpoint, request);
    if (result) *result = parsed;
    else EXPECT_EQ(parsed, HLY_SUCCESS) << text;
    if (HLY_FAILED(parsed)) {
        EXPECT_EQ(request, nullptr) << text;
    }
    return std::unique_ptr<HLY_HttpRequest>(request);
}

std::string Emitted(const HLY_HttpRequest& request, bool use_proxy = false)
{
    HLY_MemoryStream out;
    EXPECT_EQ(request.Emit(out, use_proxy), HLY_SUCCESS);
    return std::string((const char*)out.GetData(), out.GetDataSize());
}

std::string Emitted(const HLY_HttpResponse& response)
{
    HLY_MemoryStream out;
    EXPECT_EQ(response.Emit(out), HLY_SUCCESS);
    return std::string((const char*)out.GetData(), out.GetDataSize());
}

} // namespace

/*----------------------------------------------------------------------
|   headers
+---------------------------------------------------------------------*/
TEST(HttpHeaders, ParsesFoldedRepeatedAndOddLines)
{
    auto stream = Buffered("Host: one\r\n"
                           "X-Folded: def\r\n"
                           "\tabc\r\n"
                           " more\r\n"
                           "no colon here\r\n"
                           ": no name\r\n"
                           "Spaced : kept\r\n"
                           "HOST:   two  \r\n"
                           "Empty:\r\n"
                           "\r\n"
                           "body");
    HLY_HttpHeaders headers;
    ASSERT_EQ(headers.Parse(*stream), HLY_SUCCESS);

    ASSERT_EQ(headers.GetHeaders().GetItemCount(), 5u);
    EXPECT_EQ(*headers.GetHeaderValue("X-Folded"), "defabcmore");
    // names are kept as written, spaces included, and compared without case
    EXPECT_EQ(headers.GetHeader("Spaced"), nullptr);
    ASSERT_NE(headers.GetHeader("spaced "), nullptr);
    EXPECT_EQ(*headers.GetHeaderValue("SPACED "), "kept");
    EXPECT_EQ(*headers.GetHeaderValue("host"), "one");
    EXPECT_EQ(*headers.GetHeaderValue("Empty"), "");
    EXPECT_EQ(headers.GetHeader(nullptr), nullptr);

    // the second Host is trimmed, and both go with one removal
    HLY_HttpHeader* second = *headers.GetHeaders().GetItem(3);
    EXPECT_EQ(second->GetName(), "HOST");
    EXPECT_EQ(second->GetValue(), "two");
    EXPECT_EQ(headers.RemoveHeader("Host"), HLY_SUCCESS);
    EXPECT_EQ(headers.GetHeader("host"), nullptr);
    EXPECT_EQ(headers.RemoveHeader("Host"), HLY_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(headers.GetHeaders().GetItemCount(), 3u);

    // the body stays in the stream
    char body[5] = {};
    EXPECT_EQ(stream->ReadFully(body, 4), HLY_SUCCESS);
    EXPECT_STREQ(body, "body");
}

TEST(HttpHeaders, SetAddAndEmit)
{
    HLY_HttpHeaders headers;
    headers.AddHeader("A", "1");
    headers.AddHeader("a", "2"); // no lookup on add
    headers.SetHeader("A", "3");
    headers.SetHeader("B", "4", false);
    headers.SetHeader("b", "5", false); // exists: left alone
    HLY_MemoryStream out;
    EXPECT_EQ(headers.Emit(out), HLY_SUCCESS);
    EXPECT_EQ(std::string((const char*)out.GetData(), out.GetDataSize()), "A: 3\r\na: 2\r\nB: 4\r\n");
}

TEST(HttpHeaders, EndOfStreamKeepsWhatArrived)
{
    // a peer that closes without the blank line still sent its headers
    auto stream = Buffered("A: 1\r\nB: 2");
    HLY_HttpHeaders headers;
    EXPECT_EQ(headers.Parse(*stream), HLY_SUCCESS);
    EXPECT_EQ(*headers.GetHeaderValue("a"), "1");
    EXPECT_EQ(*headers.GetHeaderValue("b"), "2");
}

TEST(HttpHeaders, LineLengthLimit)
{
    // 8191 characters fit in a line read; one more does not
    std::string fits(HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH - 1 - 3, 'v');
    {
        auto stream = Buffered("HTTP/1.1 200 OK\r\nX: " + fits + "\r\n\r\n");
        HLY_HttpResponse* response = nullptr;
        ASSERT_EQ(HLY_HttpResponse::Parse(*stream, response), HLY_SUCCESS);
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->GetHeaders().GetHeaderValue("X")->GetLength(), fits.size());
        delete response;
    }
    {
        // a longer header must not leave its tail in the stream to be read as the body
        auto stream = Buffered("HTTP/1.1 200 OK\r\nX: " + fits + "v\r\nY: 1\r\n\r\n");
        HLY_HttpResponse* response = nullptr;
        EXPECT_EQ(HLY_HttpResponse::Parse(*stream, response), HLY_ERROR_NOT_ENOUGH_SPACE);
        EXPECT_EQ(response, nullptr);
    }
    {
        std::string target = "/" + std::string(HLY_HTTP_PROTOCOL_MAX_LINE_LENGTH - 1 - 14, 'p');
        auto stream = Buffered("GET " + target + " HTTP/1.0\r\n\r\n");
        HLY_HttpRequest* request = nullptr;
        ASSERT_EQ(HLY_HttpRequest::Parse(*stream, nullptr, request), HLY_SUCCESS);
        EXPECT_EQ(request->GetUrl().GetPath().GetLength(), target.size());
        delete request;
        auto longer = Buffered("GET " + target + "p HTTP/1.0\r\n\r\n");
        EXPECT_EQ(HLY_HttpRequest::Parse(*longer, nullptr, request), HLY_ERROR_NOT_ENOUGH_SPACE);
        EXPECT_EQ(request, nullptr);
    }
}

TEST(HttpHeaders, HeadSizeLimit)
{
    // header lines of exactly the limit (line ends not counted) are taken; one character more is not
    for (size_t extra : {0, 1}) {
        std::string head = "HTTP/1.1 200 OK\r\n";
        for (size_t left = HLY_HTTP_PROTOCOL_MAX_HEADERS_SIZE + extra, i = 0; left; ++i) {
            std::string name = "X-" + std::to_string(i) + ":";
            size_t      line = std::min<size_t>(left, 1000);
            head += name + std::string(line - name.size(), 'f') + "\r\n";
            left -= line;
        }
        auto stream = Buffered(head + "\r\n");
        HLY_HttpResponse* response = nullptr;
        EXPECT_EQ(HLY_HttpResponse::Parse(*stream, response), extra ? HLY_ERROR_OUT_OF_RESOURCES : HLY_SUCCESS);
        EXPECT_EQ(response != nullptr, extra == 0);
        delete response;
    }
}

/*----------------------------------------------------------------------
|   responses
+---------------------------------------------------------------------*/
TEST(HttpResponse, StatusLines)
{
    struct Case
    {
        const char* line;
        HLY_Result  result;
        int         code;
        const char* reason;
        const char* protocol;
    } cases[] = {
        {"HTTP/1.1 200 OK", HLY_SUCCESS, 200, "OK", "HTTP/1.1"},
        {"HTTP/1.0 404 Not Found Here", HLY_SUCCESS, 404, "Not Found Here", "HTTP/1.0"},
        {"HTTP/1.1 204", HLY_SUCCESS, 204, "", "HTTP/1.1"},
        {"HTTP/1.1 204 ", HLY_SUCCESS, 204, "", "HTTP/1.1"},
        {"HTTP/1.1 abc Weird", HLY_SUCCESS, 0, "Weird", "HTTP/1.1"},
        {"ICY 200 OK", HLY_SUCCESS, 200, "OK", "ICY"},
        {"HTTP/1.1 20 OK", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {"HTTP/1.1 2000 OK", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {"HTTP/1.1 2000", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {"HTTP/1.1 20", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {" HTTP/1.1 200 OK", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {" 200 OK", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {"HTTP/1.1", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
        {"", HLY_ERROR_HTTP_INVALID_RESPONSE_LINE, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        auto stream = Buffered(std::string(c.line) + "\r\nServer: x\r\n\r\n");
        HLY_HttpResponse* response = nullptr;
        ASSERT_EQ(HLY_HttpResponse::Parse(*stream, response), c.result) << c.line;
        if (c.result != HLY_SUCCESS) {
            EXPECT_EQ(response, nullptr);
            continue;
        }
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->GetStatusCode(), c.code) << c.line;
        EXPECT_EQ(response->GetReasonPhrase(), c.reason) << c.line;
        EXPECT_EQ(response->GetProtocol(), c.protocol) << c.line;
        EXPECT_EQ(*response->GetHeaders().GetHeaderValue("server"), "x");
        EXPECT_EQ(response->GetEntity(), nullptr);
        delete response;
    }
}

TEST(HttpResponse, EmptyLinesAndEndsOfStream)
{
    HLY_HttpResponse* response = nullptr;
    // no skipping of blank lines before a status line
    auto blank = Buffered("\r\nHTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(HLY_HttpResponse::Parse(*blank, response), HLY_ERROR_HTTP_INVALID_RESPONSE_LINE);
    auto empty = Buffered("");
    EXPECT_EQ(HLY_HttpResponse::Parse(*empty, response), HLY_ERROR_EOS);
    EXPECT_EQ(response, nullptr);
}

TEST(HttpResponse, Emit)
{
    HLY_HttpResponse response(500, "", HLY_HTTP_PROTOCOL_1_1);
    EXPECT_EQ(Emitted(response), "HTTP/1.1 500 \r\n\r\n");
    response.SetStatus(200, "OK");
    EXPECT_EQ(response.GetProtocol(), "HTTP/1.1");
    response.SetStatus(302, "Found", HLY_HTTP_PROTOCOL_1_0);
    response.GetHeaders().AddHeader("Location", "/x");
    EXPECT_EQ(Emitted(response), "HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\n");

    // what is emitted parses back to the same message
    auto stream = Buffered(Emitted(response));
    HLY_HttpResponse* parsed = nullptr;
    ASSERT_EQ(HLY_HttpResponse::Parse(*stream, parsed), HLY_SUCCESS);
    EXPECT_EQ(parsed->GetStatusCode(), 302);
    EXPECT_EQ(*parsed->GetHeaders().GetHeaderValue("location"), "/x");
    delete parsed;
}

/*----------------------------------------------------------------------
|   requests
+---------------------------------------------------------------------*/
TEST(HttpRequest, RequestLinesAndHosts)
{
    HLY_SocketAddress endpoint(HLY_IpAddress(127, 0, 0, 1), 4321);
    auto              request = ParseRequest("\r\n\r\nGET /a/b?q=1 HTTP/1.1\r\nHost: example.org:8080\r\n\r\n");
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->GetMethod(), "GET");
    EXPECT_EQ(request->GetProtocol(), "HTTP/1.1");
    EXPECT_EQ(request->GetUrl().ToString(), "http://example.org:8080/a/b?q=1");

    // the port the request came in on replaces the one in Host; without
    // Host, the address it came in on is the host; a proxy-style absolute
    // target is taken whole; everything after the second space is the protocol
    struct Row {
        const char* text;
        bool        endpoint;
        const char* url;
    } rows[] = {
        {"GET / HTTP/1.1\r\nHost: example.org:8080\r\n\r\n", true, "example.org:4321/"},
        {"NOTIFY /evt HTTP/1.1\r\n\r\n", true, "127.0.0.1:4321/evt"},
        {"M-SEARCH * HTTP/1.1\r\n\r\n", false, "localhost:80*"},
        {"GET HTTP://other.net:81/x HTTP/1.0\r\nHost: ignored\r\n\r\n", true, "other.net:81/x"},
    };
    for (const Row& row : rows) {
        request = ParseRequest(row.text, row.endpoint ? &endpoint : nullptr);
        ASSERT_NE(request, nullptr);
        const HLY_HttpUrl& url = request->GetUrl();
        EXPECT_EQ(std::string(url.GetHost().GetChars()) + ":" + std::to_string(url.GetPort()) + url.GetPath().GetChars(),
                  row.url)
            << row.text;
    }
    request = ParseRequest("GET /x HTTP/1.1 extra\r\n\r\n");
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->GetProtocol(), "HTTP/1.1 extra");

    for (auto [bad, expected] : {std::pair<const char*, HLY_Result>{"GET /x\r\n\r\n", HLY_ERROR_HTTP_INVALID_REQUEST_LINE},
                                 {"GET\r\n\r\n", HLY_ERROR_HTTP_INVALID_REQUEST_LINE},
                                 {"\r\n\r\n", HLY_ERROR_EOS}}) {
        HLY_Result result = HLY_SUCCESS;
        EXPECT_EQ(ParseRequest(bad, nullptr, &result), nullptr) << bad;
        EXPECT_EQ(result, expected) << bad;
    }
}

TEST(HttpRequest, EmitDirectAndThroughProxy)
{
    HLY_HttpRequest request("http://host.example:8000/p/a%20th?x=1#frag", "GET", HLY_HTTP_PROTOCOL_1_1);
    request.GetHeaders().SetHeader("Host", "host.example:8000");
    EXPECT_EQ(Emitted(request), "GET /p/a%20th?x=1 HTTP/1.1\r\nHost: host.example:8000\r\n\r\n");
    EXPECT_EQ(Emitted(request, true),
              "GET http://host.example:8000/p/a%20th?x=1 HTTP/1.1\r\nHost: host.example:8000\r\n\r\n");

    // only http and https URLs are taken
    HLY_HttpRequest ftp("ftp://host/file", "GET");
    EXPECT_FALSE(ftp.GetUrl().IsValid());
    EXPECT_EQ(request.SetUrl("gopher://x/"), HLY_SUCCESS);
    EXPECT_FALSE(request.GetUrl().IsValid());
}

/*----------------------------------------------------------------------
|   entities
+---------------------------------------------------------------------*/
TEST(HttpEntity, FromHeadersAndStreams)
{
    HLY_HttpHeaders headers;
    headers.AddHeader("content-length", " 123456789012");
    headers.AddHeader("Content-Type", "text/xml");
    headers.AddHeader("Transfer-Encoding", "chunked");
    HLY_HttpEntity entity(headers);
    EXPECT_TRUE(entity.ContentLengthIsKnown());
    EXPECT_EQ(entity.GetContentLength(), 123456789012ull);
    EXPECT_EQ(entity.GetContentType(), "text/xml");
    EXPECT_EQ(entity.GetTransferEncoding(), "chunked");
    EXPECT_EQ(entity.GetContentEncoding(), "");

    // a length that is not a number leaves the length unknown, not 0
    for (const char* garbage : {"many", "-5", "", "99999999999999999999"}) {
        HLY_HttpHeaders garbled;
        garbled.AddHeader("Content-Length", garbage);
        HLY_HttpEntity unparsable(garbled);
        EXPECT_FALSE(unparsable.ContentLengthIsKnown()) << garbage;
        EXPECT_EQ(unparsable.GetContentLength(), 0u) << garbage;
    }

    HLY_HttpEntity plain;
    EXPECT_FALSE(plain.ContentLengthIsKnown());
    HLY_InputStreamReference stream(new HLY_MemoryStream());
    EXPECT_EQ(plain.GetInputStream(stream), HLY_FAILURE);
    EXPECT_TRUE(stream.IsNull());
    EXPECT_EQ(plain.SetInputStream((const char*)nullptr), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(plain.SetInputStream("hello"), HLY_SUCCESS);
    EXPECT_EQ(plain.GetContentLength(), 5u);
    EXPECT_TRUE(plain.ContentLengthIsKnown());
    ASSERT_EQ(plain.GetInputStream(stream), HLY_SUCCESS);
    std::string body;
    EXPECT_EQ(Drain(*stream, body), HLY_ERROR_EOS);
    EXPECT_EQ(body, "hello");

    // the length follows the stream only when asked to
    HLY_InputStreamReference other(new HLY_MemoryStream("abc", 3));
    plain.SetInputStream(other);
    EXPECT_EQ(plain.GetContentLength(), 5u);
    plain.SetInputStream(other, true);
    EXPECT_EQ(plain.GetContentLength(), 3u);
}

/*----------------------------------------------------------------------
|   chunked transfer coding
+---------------------------------------------------------------------*/
TEST(HttpChunked, ExtensionsTrailersAndWhatFollows)
{
    std::string data(26, 'z');
    for (HLY_Size piece : {1u, 3u, 4096u}) {
        auto source = Buffered("1a;name=value;other\r\n" + data + "\r\n"
                               "3 \r\nabc\r\n"
                               "0;last\r\nTrailer: one\r\nTrailer-2: two\r\n\r\n"
                               "NEXT",
                               piece);
        HLY_HttpChunkedInputStream chunked(source);
        std::string                body;
        EXPECT_EQ(Drain(chunked, body), HLY_ERROR_EOS) << piece;
        EXPECT_EQ(body, data + "abc") << piece;
        EXPECT_TRUE(chunked.IsAtEnd());
        char more = 0;
        EXPECT_EQ(chunked.Read(&more, 1), HLY_ERROR_EOS);
        // the bytes after the body are still there for the next message
        char next[5] = {};
        EXPECT_EQ(source->ReadFully(next, 4), HLY_SUCCESS) << piece;
        EXPECT_STREQ(next, "NEXT");
    }
}

TEST(HttpChunked, MalformedFraming)
{
    struct Case
    {
        const char* text;
        HLY_Result  result;
    } cases[] = {
        // the two bytes after a chunk's data must be CR LF, each of them
        {"3\r\nabcX\r\n0\r\n\r\n", HLY_ERROR_INVALID_FORMAT},
        {"3\r\nabc\rX0\r\n\r\n", HLY_ERROR_INVALID_FORMAT},
        {"3\r\nabcX\n0\r\n\r\n", HLY_ERROR_INVALID_FORMAT},
        {"3\r\nabc\n\r0\r\n\r\n", HLY_ERROR_INVALID_FORMAT},
        {"3\r\nabc\r\r0\r\n\r\n", HLY_ERROR_INVALID_FORMAT},
        {"3\r\nabc\n\n0\r\n\r\n", HLY_ERROR_INVALID_FORMAT},
        {"\r\nabc\r\n", HLY_ERROR_INVALID_FORMAT},             // empty size line
        {"xyz\r\nabc\r\n", HLY_ERROR_INVALID_FORMAT},          // not hexadecimal
        {";ext\r\nabc\r\n", HLY_ERROR_INVALID_FORMAT},         // no digits: not a last chunk
        {"100000000\r\nabc\r\n", HLY_ERROR_INVALID_FORMAT},    // past 32 bits
        {"FFFFFFFFF\r\nabc\r\n", HLY_ERROR_INVALID_FORMAT},    // past 32 bits
        {"10000000000000003\r\nabc\r\n", HLY_ERROR_INVALID_FORMAT}, // would wrap to 3
        {"5\r\nab", HLY_ERROR_EOS},                            // cut inside a chunk
    };
    for (const Case& c : cases) {
        auto                       source = Buffered(c.text);
        HLY_HttpChunkedInputStream chunked(source);
        std::string                body;
        EXPECT_EQ(Drain(chunked, body), c.result) << c.text;
        EXPECT_FALSE(chunked.IsAtEnd()) << c.text;
    }

    // leading zeros do not count against the size
    auto source = Buffered("00000000003\r\nabc\r\n0\r\n\r\n");
    HLY_HttpChunkedInputStream chunked(source);
    std::string                body;
    EXPECT_EQ(Drain(chunked, body), HLY_ERROR_EOS);
    EXPECT_EQ(body, "abc");

    // the largest size still starts reading
    auto large = Buffered("FFFFFFFF\r\n0123456789");
    HLY_HttpChunkedInputStream large_chunked(large);
    char                       buffer[10];
    HLY_Size                   got = 0;
    EXPECT_EQ(large_chunked.Read(buffer, sizeof(buffer), &got), HLY_SUCCESS);
    EXPECT_EQ(got, 10u);
}

TEST(HttpChunked, OutputFraming)
{
    HLY_MemoryStream target;
    std::string      data(300, 'q');
    {
        HLY_HttpChunkedOutputStream chunked(target);
        HLY_Size                    written = 0;
        EXPECT_EQ(chunked.Write(data.data(), 0, &written), HLY_SUCCESS);
        EXPECT_EQ(target.GetDataSize(), 0u);
        EXPECT_EQ(chunked.Write(data.data(), 300, &written), HLY_SUCCESS);
        EXPECT_EQ(written, 300u);
        EXPECT_EQ(std::string((const char*)target.GetData(), target.GetDataSize()), "12C\r\n" + data + "\r\n");
        EXPECT_EQ(chunked.Seek(0), HLY_ERROR_NOT_SUPPORTED);
    }
    EXPECT_EQ(std::string((const char*)target.GetData(), target.GetDataSize()), "12C\r\n" + data + "\r\n0\r\n\r\n");
}

TEST(HttpChunked, RoundTrip)
{
    std::mt19937 random(7);
    std::string  data(100000, '\0');
    for (char& c : data) c = (char)random();
    HLY_MemoryStream encoded;
    {
        HLY_HttpChunkedOutputStream chunked(encoded);
        size_t                      at = 0;
        while (at < data.size()) {
            size_t n = std::min<size_t>(data.size() - at, 1 + random() % 9000);
            ASSERT_EQ(chunked.WriteFully(data.data() + at, (HLY_Size)n), HLY_SUCCESS);
            at += n;
        }
    }
    auto source = Buffered(std::string((const char*)encoded.GetData(), encoded.GetDataSize()), 1500);
    HLY_HttpChunkedInputStream decoder(source);
    std::string                decoded;
    EXPECT_EQ(Drain(decoder, decoded, 4096), HLY_ERROR_EOS);
    EXPECT_TRUE(decoded == data);
}

/*----------------------------------------------------------------------
|   body streams
+---------------------------------------------------------------------*/
TEST(HttpBody, FramingDecidesWhereTheBodyEndsAndWhereTheConnectionGoes)
{
    const std::string twenty_thousand(20000, 'd');
    struct Case {
        const char*   name;
        std::string   text;
        HLY_Size      piece;
        HLY_LargeSize size;
        bool          size_known, chunked, persist;
        HLY_Size      take;        // bytes read before the body is dropped; 0: read to the end
        HLY_Result    result;      // of reading to the end
        std::string   body;
        int           recycled;    // connections handed back once the reading is over
        int           next_status; // the message that follows on the stream; 0: none looked at
    } cases[] = {
        {"known length stops at its end", "0123456789HTTP/1.1 200 OK\r\n\r\n", 4, 10, true, false, true, 0,
         HLY_ERROR_EOS, "0123456789", 1, 200},
        {"zero length is done at once", "HTTP/1.1 200 OK\r\n\r\n", 1 << 20, 0, true, false, true, 0, HLY_ERROR_EOS,
         "", 1, 200},
        {"short body", "only 14 bytes.", 5, 100, true, false, true, 0, HLY_ERROR_CONNECTION_ABORTED,
         "only 14 bytes.", 0, 0},
        {"chunked body cut before its last chunk", "4\r\nabcd\r\n", 5, 0, false, true, true, 0,
         HLY_ERROR_CONNECTION_ABORTED, "abcd", 0, 0},
        {"unknown length reads to the end of the stream", twenty_thousand, 1000, 0, false, false, false, 0,
         HLY_ERROR_EOS, twenty_thousand, 0, 0},
        // a length beside chunking must neither cut the body nor strand its framing
        {"chunked body ignores a length beside it", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n",
         3, 5, true, true, true, 0, HLY_ERROR_EOS, "hello world", 1, 204},
        {"dropped early closes the connection", "0123456789", 1 << 20, 10, true, false, true, 4, HLY_SUCCESS, "0123",
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectionLog log;
        auto          source = Buffered(c.text, c.piece);
        {
            HLY_HttpEntityBodyInputStream body(source, c.size, c.size_known, c.chunked, new FakeConnection(log),
                                               c.persist);
            // a body of known length 0 is over before it is read
            EXPECT_EQ(log.recycled, c.size_known && c.size == 0 ? 1 : 0);
            HLY_LargeSize available = 0;
            EXPECT_EQ(body.GetAvailable(available), HLY_SUCCESS);
            if (c.size_known && !c.chunked) {
                EXPECT_LE(available, c.size);
            }
            std::string text;
            if (c.take) {
                text.resize(c.take);
                EXPECT_EQ(body.ReadFully(&text[0], c.take), c.result);
            } else {
                EXPECT_EQ(Drain(body, text, 3), c.result);
                if (c.result == HLY_ERROR_EOS) { // and stays over
                    EXPECT_EQ(body.Read(nullptr, 0), HLY_ERROR_EOS);
                }
            }
            EXPECT_EQ(text, c.body);
            // handed back as soon as the last byte was read, not later
            EXPECT_EQ(log.recycled, c.recycled);
            HLY_Position position = 0;
            body.Tell(position);
            EXPECT_EQ(position, c.body.size());
            EXPECT_EQ(body.Seek(0), HLY_ERROR_NOT_SUPPORTED);
        }
        // a connection not handed back is closed with its body
        EXPECT_EQ(log.recycled, c.recycled);
        EXPECT_EQ(log.deleted, 1);
        if (c.next_status) {
            HLY_HttpResponse* next = nullptr;
            ASSERT_EQ(HLY_HttpResponse::Parse(*source, next), HLY_SUCCESS);
            EXPECT_EQ(next->GetStatusCode(), c.next_status);
            delete next;
        }
    }
}

TEST(HttpBody, ALengthThatIsNotANumberReadsToTheEndAndIsNotReused)
{
    // Taken as a length of 0, the body was skipped and the connection went
    // back to the pool with the body still on it, to be read as the next
    // response. The first message is what the fuzzer sent; the second the
    // smallest case.
    const std::string messages[] = {
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: -9d41-b827eb4a1c2f</UDN>\n"
        "    <dlna:X_DLNADOC>DMS-1\" encoding=\"utf-8\"?>\n<root>\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
    };
    for (const std::string& message : messages) {
        ConnectionLog               log;
        HLY_InputStreamReference    input(new TrickleStream(message, 5));
        HLY_HttpClient::Connection* connection = new FakeConnection(log);
        HLY_HttpResponse*           response   = nullptr;
        ASSERT_EQ(HLY_HttpClient::ReadResponse(input, true, true, response, connection), HLY_SUCCESS);
        EXPECT_EQ(connection, nullptr);
        ASSERT_NE(response->GetEntity(), nullptr);
        EXPECT_FALSE(response->GetEntity()->ContentLengthIsKnown());
        HLY_InputStreamReference body;
        ASSERT_EQ(response->GetEntity()->GetInputStream(body), HLY_SUCCESS);
        std::string text;
        EXPECT_EQ(Drain(*body, text), HLY_ERROR_EOS);
        EXPECT_EQ(text, "HTTP/1.1 200 OK\r\n\r\n");
        body = nullptr;
        delete response;
        EXPECT_EQ(log.recycled, 0);
        EXPECT_EQ(log.deleted, 1);
    }
}
