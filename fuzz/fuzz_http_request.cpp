// HTTP (and SSDP) requests as a server reads them off a connection: the
// head through HLY_HttpRequest::Parse, then the body by its length or its
// chunks, request after request on the same stream. Two readers are run:
// the plain buffered stream that the engine's server task uses, and the
// bounded one of the runtime's server. Each runs twice, on the input in
// one piece and in pieces of varying sizes: how the bytes arrive must not
// change what is read. The pass in one piece of each reader also looks
// closely (emitters, the engine's helpers, XML bodies, log records) at
// what that reader read differently from the other.

#include <string>
#include <utility>
#include <vector>

#include "CvdHttp.h"
#include "fuzz_common.h"
#include "hlybufferedstreams.h"
#include "hlyhttp.h"
#include "hlyhttpserver.h"
#include "hlyxml.h"

namespace {

const int      MAX_REQUESTS  = 8;
const HLY_Size MAX_BODY      = 2 * 1024 * 1024;

struct Request
{
    HLY_Result                                       result = HLY_SUCCESS;
    std::string                                      method;
    std::string                                      url;
    std::string                                      protocol;
    std::vector<std::pair<std::string, std::string>> headers;
    HLY_Result                                       body_result = HLY_SUCCESS;
    std::string                                      body;

    // how much of a body came through before its framing broke depends on
    // how the bytes arrived; that it broke does not
    bool BodyFailed() const { return HLY_FAILED(body_result); }
    bool SameHead(const Request& other) const
    {
        return result == other.result && method == other.method && url == other.url &&
               protocol == other.protocol && headers == other.headers;
    }
    bool operator==(const Request& other) const
    {
        return result == other.result && method == other.method && url == other.url &&
               protocol == other.protocol && headers == other.headers && body_result == other.body_result &&
               (BodyFailed() || body == other.body);
    }
};

void Print(const char* label, const std::vector<Request>& requests)
{
    fprintf(stderr, "%s:\n", label);
    for (const Request& r : requests) {
        fprintf(stderr, "  result %d, method '%s', url '%s', protocol '%s', %zu headers, body result %d, body %zu bytes\n",
                r.result, r.method.c_str(), r.url.c_str(), r.protocol.c_str(), r.headers.size(), r.body_result,
                r.body.size());
        for (const auto& h : r.headers) fprintf(stderr, "    '%s': '%s'\n", h.first.c_str(), h.second.c_str());
    }
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

bool HasLineBreak(const HLY_String& text)
{
    return HasLineBreak(std::string(text.GetChars(), text.GetLength()));
}

// What the reader in one piece read before: the other reader looks closely
// only at what it read differently (near its bounds), the rest was seen.
std::vector<Request> g_Seen;

bool Seen(const Request& record, size_t index)
{
    return index < g_Seen.size() && record.SameHead(g_Seen[index]);
}

// what may be taken from a parsed request, and what must hold of it
void Inspect(HLY_HttpRequest& request, Request& record, size_t index)
{
    record.method   = std::string(request.GetMethod().GetChars(), request.GetMethod().GetLength());
    HLY_String url  = request.GetUrl().ToString();
    record.url      = std::string(url.GetChars(), url.GetLength());
    record.protocol = std::string(request.GetProtocol().GetChars(), request.GetProtocol().GetLength());
    for (HLY_List<HLY_HttpHeader*>::Iterator it = request.GetHeaders().GetHeaders().GetFirstItem(); it; ++it) {
        const HLY_String& name  = (*it)->GetName();
        const HLY_String& value = (*it)->GetValue();
        record.headers.emplace_back(std::string(name.GetChars(), name.GetLength()),
                                    std::string(value.GetChars(), value.GetLength()));
    }
    // the other pass read the same, or the comparison stops the run
    if (!fuzz::Looking() || Seen(record, index)) return;

    // nothing read from one line may carry a line break into a head we emit
    for (const auto& header : record.headers) {
        FUZZ_CHECK(!HasLineBreak(header.first));
        FUZZ_CHECK(!HasLineBreak(header.second));
    }
    FUZZ_CHECK(!HasLineBreak(record.method));
    FUZZ_CHECK(!HasLineBreak(record.protocol));
    FUZZ_CHECK(!HasLineBreak(record.url));
    FUZZ_CHECK(!HasLineBreak(request.GetUrl().FormatRequestTarget(true)));

    // the engine's looks at the head
    HLY_String host;
    CVD_HttpHelper::GetHost(request, host);
    CVD_HttpHelper::GetDeviceSignature(request);
    CVD_HttpHelper::IsConnectionKeepAlive(request);
    static HLY_LoggerReference logger("fuzz.http");
    CVD_HttpHelper::ToLog(logger, HLY_LOG_LEVEL_FINEST, "request", &request);

    // emitted into nothing: what is emitted is not compared, only produced
    HLY_NullOutputStream emitted;
    request.Emit(emitted);
    // the proxy form differs in its request line only: its header records
    // are the ones just logged
    fuzz::LookingScope quiet(false);
    request.Emit(emitted, true);
}

// the body as the engine's server task reads it: whole, before the handler runs
HLY_Result ReadBody(HLY_BufferedInputStreamReference& input, HLY_HttpRequest& request, Request& record,
                    size_t index)
{
    const HLY_String& method = request.GetMethod();
    if (method == HLY_HTTP_METHOD_GET || method == HLY_HTTP_METHOD_HEAD) return HLY_SUCCESS;

    HLY_HttpEntity*   entity = new HLY_HttpEntity(request.GetHeaders());
    HLY_MemoryStream* body   = new HLY_MemoryStream();
    entity->SetInputStream(HLY_InputStreamReference(body));
    request.SetEntity(entity);
    input->SetBufferSize(0);

    HLY_Result result = HLY_SUCCESS;
    if (entity->GetTransferEncoding() == HLY_HTTP_TRANSFER_ENCODING_CHUNKED) {
        HLY_HttpChunkedInputStream* chunked = new HLY_HttpChunkedInputStream(input);
        HLY_InputStreamReference    chunked_reference(chunked);
        result = HLY_StreamToStreamCopy(*chunked, *body, 0, MAX_BODY + 1);
        if (HLY_SUCCEEDED(result)) {
            result = HLY_ERROR_OUT_OF_RESOURCES;
        } else if (result == HLY_ERROR_EOS && chunked->IsAtEnd()) {
            result = HLY_SUCCESS;
        }
        entity->SetTransferEncoding("");
        entity->SetContentLength(body->GetDataSize());
    } else if (entity->ContentLengthIsKnown() && entity->GetContentLength() > 0) {
        if (entity->GetContentLength() > MAX_BODY) {
            result = HLY_ERROR_OUT_OF_RESOURCES;
        } else {
            result = HLY_StreamToStreamCopy(*input, *body, 0, entity->GetContentLength());
        }
    }
    input->SetBufferSize(4096);
    record.body_result = result;
    record.body        = std::string((const char*)body->GetData(), body->GetDataSize());
    FUZZ_CHECK(record.body.size() <= MAX_BODY + 1);

    bool seen = Seen(record, index) && g_Seen[index].body_result == result && g_Seen[index].body == record.body;
    if (HLY_SUCCEEDED(result) && fuzz::Looking() && !seen) {
        // SOAP and GENA bodies are XML
        HLY_XmlElementNode* tree = nullptr;
        if (HLY_SUCCEEDED(CVD_HttpHelper::ParseBody(request, tree))) FUZZ_CHECK(tree != nullptr);
        delete tree;
    }
    return result;
}

std::vector<Request> ReadAll(const uint8_t* data, size_t size, std::vector<HLY_Size> pieces, bool bounded)
{
    static const HLY_SocketAddress endpoint(HLY_IpAddress(127, 0, 0, 1), 8080);

    std::vector<Request>     requests;
    HLY_InputStreamReference source(new fuzz::PieceStream(data, size, std::move(pieces)));
    HLY_HttpRequestInputStream*      server_input = nullptr;
    HLY_BufferedInputStreamReference input;
    if (bounded) {
        server_input = new HLY_HttpRequestInputStream(source, 4096);
        input        = HLY_BufferedInputStreamReference(server_input);
    } else {
        input = HLY_BufferedInputStreamReference(new HLY_BufferedInputStream(source, 4096));
    }

    for (int i = 0; i < MAX_REQUESTS; ++i) {
        Request          record;
        HLY_HttpRequest* request = nullptr;
        input->SetBufferSize(4096);
        record.result = bounded ? server_input->ReadRequest(&endpoint, request)
                                : HLY_HttpRequest::Parse(*input, &endpoint, request);
        if (HLY_FAILED(record.result)) {
            FUZZ_CHECK(request == nullptr);
            requests.push_back(record);
            break;
        }
        FUZZ_CHECK(request != nullptr);
        Inspect(*request, record, requests.size());
        // a head is held to its bounds: the server's by line count and size,
        // the plain parser by the bytes of its names and values
        size_t head_bytes = 0;
        for (const auto& header : record.headers) head_bytes += header.first.size() + header.second.size();
        if (bounded) {
            FUZZ_CHECK(record.headers.size() <= HLY_HTTP_SERVER_MAX_HEADER_COUNT);
            FUZZ_CHECK(head_bytes <= HLY_HTTP_SERVER_MAX_HEAD_SIZE);
        }
        FUZZ_CHECK(head_bytes <= HLY_HTTP_PROTOCOL_MAX_HEADERS_SIZE);
        HLY_Result body_result = ReadBody(input, *request, record, requests.size());
        delete request;
        requests.push_back(record);
        // a body that was not read whole leaves the connection unusable
        if (HLY_FAILED(body_result)) break;
    }
    return requests;
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

    // piece sizes from 1 to 16 bytes, picked by the input itself
    std::vector<HLY_Size> pieces;
    for (size_t i = 0; i < 16 && i < size; ++i) pieces.push_back(1 + data[(i * 131) % size] % 16);

    g_Seen.clear();
    for (bool bounded : {false, true}) {
        std::vector<Request> whole = ReadAll(data, size, {}, bounded);
        if (!bounded) g_Seen = whole;
        fuzz::LookingScope   glance(false);
        std::vector<Request> trickle = ReadAll(data, size, pieces, bounded);
        if (!(whole == trickle)) {
            Print("in one piece", whole);
            Print("in pieces", trickle);
        }
        FUZZ_CHECK(whole == trickle);
    }
    return 0;
}
