// HTTP (and SSDP search) responses as a client reads them: the head
// through HLY_HttpResponse::Parse with the rest decoded as chunks, and the
// client's own path (HLY_HttpClient::ReadResponse) with the body read to
// its end through the entity stream, which hands the connection back or
// closes it. Both run on the input in one piece and in pieces of varying
// sizes, and must read the same either way.

#include <string>
#include <utility>
#include <vector>

#include "CvdHttp.h"
#include "fuzz_common.h"
#include "hlybufferedstreams.h"
#include "hlyhttp.h"
#include "hlyxml.h"

namespace {

const HLY_Size MAX_BODY = 2 * 1024 * 1024;

struct Response
{
    HLY_Result                                       result = HLY_SUCCESS;
    int                                              status = 0;
    std::string                                      reason;
    std::string                                      protocol;
    std::vector<std::pair<std::string, std::string>> headers;
    HLY_Result                                       body_result = HLY_SUCCESS;
    std::string                                      body;
    bool                                             at_end   = false;
    int                                              recycled = 0;
    int                                              deleted  = 0;

    // how much of a body came through before its framing broke depends on
    // how the bytes arrived; that it broke does not
    bool BodyFailed() const { return HLY_FAILED(body_result) && body_result != HLY_ERROR_EOS; }
    bool operator==(const Response& other) const
    {
        return result == other.result && status == other.status && reason == other.reason &&
               protocol == other.protocol && headers == other.headers && body_result == other.body_result &&
               (BodyFailed() || body == other.body) && at_end == other.at_end && recycled == other.recycled &&
               deleted == other.deleted;
    }
};

// a connection that only counts what the client does with it
class CountingConnection : public HLY_HttpClient::Connection
{
public:
    CountingConnection(const HLY_InputStreamReference& input, Response& record) : m_Input(input), m_Record(record) {}
    ~CountingConnection() override
    {
        if (!m_Recycling) ++m_Record.deleted;
    }

    HLY_InputStreamReference& GetInputStream() override { return m_Input; }
    HLY_OutputStreamReference& GetOutputStream() override { return m_Output; }
    HLY_Result GetInfo(HLY_SocketInfo&) override { return HLY_ERROR_NOT_SUPPORTED; }
    bool SupportsPersistence() override { return true; }
    bool IsRecycled() override { return false; }
    HLY_Result Recycle() override
    {
        ++m_Record.recycled;
        m_Recycling = true;
        delete this;
        return HLY_SUCCESS;
    }

private:
    HLY_InputStreamReference  m_Input;
    HLY_OutputStreamReference m_Output;
    Response&                 m_Record;
    bool                      m_Recycling = false;
};

void Print(const char* label, const Response& r)
{
    fprintf(stderr, "%s: result %d, status %d '%s' '%s', %zu headers, body result %d, body %zu bytes, at end %d, "
                    "recycled %d, deleted %d\n",
            label, r.result, r.status, r.reason.c_str(), r.protocol.c_str(), r.headers.size(), r.body_result,
            r.body.size(), (int)r.at_end, r.recycled, r.deleted);
    for (const auto& h : r.headers) fprintf(stderr, "    '%s': '%s'\n", h.first.c_str(), h.second.c_str());
}

// how the bytes arrived must not change what was read; with keep_disposal
// false the connection's fate is left out (the passes asked for different ones)
void Compare(const Response& whole, Response trickle, bool keep_disposal = true)
{
    if (!keep_disposal) {
        trickle.recycled = whole.recycled;
        trickle.deleted  = whole.deleted;
    }
    if (!(whole == trickle)) {
        Print("in one piece", whole);
        Print("in pieces", trickle);
    }
    FUZZ_CHECK(whole == trickle);
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// the head that the reading in chunks looked at; the client looks closely
// only at a head it read differently (after interim responses)
Response g_Seen;

void Inspect(HLY_HttpResponse& response, Response& record)
{
    record.status   = response.GetStatusCode();
    // the status code is three characters, read leniently ("-12" is -12)
    FUZZ_CHECK(record.status >= -99 && record.status <= 999);
    record.reason   = std::string(response.GetReasonPhrase().GetChars(), response.GetReasonPhrase().GetLength());
    record.protocol = std::string(response.GetProtocol().GetChars(), response.GetProtocol().GetLength());
    for (HLY_List<HLY_HttpHeader*>::Iterator it = response.GetHeaders().GetHeaders().GetFirstItem(); it; ++it) {
        const HLY_String& name  = (*it)->GetName();
        const HLY_String& value = (*it)->GetValue();
        record.headers.emplace_back(std::string(name.GetChars(), name.GetLength()),
                                    std::string(value.GetChars(), value.GetLength()));
    }
    // the other passes read the same, or the comparison stops the run
    if (!fuzz::Looking()) return;
    if (record.status == g_Seen.status && record.reason == g_Seen.reason && record.protocol == g_Seen.protocol &&
        record.headers == g_Seen.headers) {
        return;
    }

    FUZZ_CHECK(!HasLineBreak(record.reason));
    FUZZ_CHECK(!HasLineBreak(record.protocol));
    for (const auto& header : record.headers) {
        FUZZ_CHECK(!HasLineBreak(header.first));
        FUZZ_CHECK(!HasLineBreak(header.second));
    }
    CVD_HttpHelper::IsConnectionKeepAlive(response);
    static HLY_LoggerReference logger("fuzz.http");
    CVD_HttpHelper::ToLog(logger, HLY_LOG_LEVEL_FINEST, "response", &response);
    HLY_NullOutputStream sink;
    response.Emit(sink);
}

// reads a stream to its end in reads of the given sizes, keeping at most MAX_BODY bytes
HLY_Result Drain(HLY_InputStream& stream, const std::vector<HLY_Size>& reads, std::string& body)
{
    char buffer[4096];
    for (size_t i = 0;; ++i) {
        HLY_Size   wanted = reads.empty() ? sizeof(buffer) : 1 + reads[i % reads.size()] % sizeof(buffer);
        HLY_Size   got    = 0;
        HLY_Result result = stream.Read(buffer, wanted, &got);
        FUZZ_CHECK(got <= wanted);
        if (HLY_FAILED(result)) {
            FUZZ_CHECK(got == 0);
            return result;
        }
        // a read that succeeds with nothing would spin a copy loop forever
        FUZZ_CHECK(got > 0);
        body.append(buffer, got);
        if (body.size() > MAX_BODY) return HLY_ERROR_OUT_OF_RESOURCES;
    }
}

// Parse, then whatever follows read as a chunked body
Response ParseAndDecodeChunks(const uint8_t* data, size_t size, std::vector<HLY_Size> pieces)
{
    Response                         record;
    std::vector<HLY_Size>            reads = pieces;
    HLY_InputStreamReference         source(new fuzz::PieceStream(data, size, std::move(pieces)));
    HLY_BufferedInputStreamReference input(new HLY_BufferedInputStream(source, 4096));

    HLY_HttpResponse* response = nullptr;
    record.result              = HLY_HttpResponse::Parse(*input, response);
    if (HLY_FAILED(record.result)) {
        FUZZ_CHECK(response == nullptr);
        return record;
    }
    FUZZ_CHECK(response != nullptr);
    Inspect(*response, record);
    delete response;

    input->SetBufferSize(0);
    HLY_HttpChunkedInputStream chunked(input);
    record.body_result = Drain(chunked, reads, record.body);
    record.at_end      = chunked.IsAtEnd();
    if (record.at_end) FUZZ_CHECK(record.body_result == HLY_ERROR_EOS);
    // the end of the stream before the last chunk: the body was cut short
    if (record.body_result == HLY_ERROR_EOS && !record.at_end) record.body_result = HLY_ERROR_CONNECTION_ABORTED;
    return record;
}

// the client's own reading of a response and its body
Response ReadAsClient(const uint8_t* data, size_t size, std::vector<HLY_Size> pieces, bool persist)
{
    Response                    record;
    std::vector<HLY_Size>       reads = pieces;
    HLY_InputStreamReference    source(new fuzz::PieceStream(data, size, std::move(pieces)));
    HLY_HttpClient::Connection* connection = new CountingConnection(source, record);

    HLY_HttpResponse* response = nullptr;
    record.result = HLY_HttpClient::ReadResponse(source, persist, true, response, connection);
    if (HLY_FAILED(record.result)) {
        FUZZ_CHECK(response == nullptr);
        delete connection;
        return record;
    }
    FUZZ_CHECK(response != nullptr && connection == nullptr);
    Inspect(*response, record);

    const HLY_String* coding  = response->GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_TRANSFER_ENCODING);
    bool              chunked = coding && coding->Compare(HLY_HTTP_TRANSFER_ENCODING_CHUNKED, true) == 0;
    HLY_HttpEntity*   entity  = response->GetEntity();
    FUZZ_CHECK(entity != nullptr);
    HLY_InputStreamReference body;
    if (HLY_SUCCEEDED(entity->GetInputStream(body))) {
        record.body_result = Drain(*body, reads, record.body);
        if (record.body_result == HLY_ERROR_EOS && entity->ContentLengthIsKnown() && !chunked) {
            // a body that ended as it should is exactly as long as announced
            if (record.body.size() != entity->GetContentLength()) {
                fprintf(stderr, "body of %zu bytes, announced %llu\n", record.body.size(),
                        (unsigned long long)entity->GetContentLength());
            }
            FUZZ_CHECK(record.body.size() == entity->GetContentLength());
        }
    }
    body = nullptr;
    if (record.body_result == HLY_ERROR_EOS && record.body.size() < 64 * 1024 && fuzz::Looking()) {
        // description documents travel this way
        HLY_XmlParser parser;
        HLY_XmlNode*  tree = nullptr;
        parser.Parse(record.body.data(), (HLY_Size)record.body.size(), tree);
        delete tree;
    }
    delete response;
    // whatever happened, the connection was handed back or closed exactly once
    FUZZ_CHECK(record.recycled + record.deleted == 1);
    if (record.recycled) FUZZ_CHECK(persist);
    return record;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;

    std::vector<HLY_Size> pieces;
    for (size_t i = 0; i < 16 && i < size; ++i) pieces.push_back(1 + data[(i * 131) % size] % 16);

    // the pass in one piece looks closely; the one in pieces only has to agree
    g_Seen         = Response();
    g_Seen.status  = -1000; // no status can be read as that
    Response whole = ParseAndDecodeChunks(data, size, {});
    g_Seen         = whole;
    {
        fuzz::LookingScope glance(false);
        Compare(whole, ParseAndDecodeChunks(data, size, pieces));
    }
    // the client asked to keep the connection, then asked to close it: the
    // reading is the same, only the connection's fate differs (a closing
    // client never hands it back; ReadAsClient checks that)
    Response client_whole = ReadAsClient(data, size, {}, true);
    fuzz::LookingScope glance(false);
    Compare(client_whole, ReadAsClient(data, size, pieces, true));
    Compare(client_whole, ReadAsClient(data, size, pieces, false), false);
    return 0;
}
