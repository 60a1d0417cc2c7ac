// SSDP datagrams as the listener and the search task read them: the bytes
// of one datagram parsed alone into a request (and into an answer), then
// the headers the engine reads from it. What parses must be within the
// head bounds, carry no line break or NUL into a header, and parse again
// to the same head once written out.

#include <string>
#include <utility>
#include <vector>

#include "CvdSsdp.h"
#include "fuzz_common.h"
#include "hlyhttpserver.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Headers;

Headers Collect(const HLY_HttpMessage& message)
{
    Headers headers;
    for (auto it = message.GetHeaders().GetHeaders().GetFirstItem(); it; ++it) {
        const HLY_String& name  = (*it)->GetName();
        const HLY_String& value = (*it)->GetValue();
        std::string       n(name.GetChars(), name.GetLength()), v(value.GetChars(), value.GetLength());
        FUZZ_CHECK(n.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        FUZZ_CHECK(v.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        headers.emplace_back(n, v);
    }
    FUZZ_CHECK(headers.size() <= HLY_HTTP_SERVER_MAX_HEADER_COUNT);
    return headers;
}

// what the control point and the device side read from a message
void ReadAsTheEngineDoes(const HLY_HttpMessage& message)
{
    HLY_UInt32       mx = 0;
    HLY_TimeInterval lease;
    CVD_UPnPMessageHelper::GetMX(message, mx);
    CVD_UPnPMessageHelper::GetLeaseTime(message, lease);
    const HLY_String* values[] = {CVD_UPnPMessageHelper::GetNT(message), CVD_UPnPMessageHelper::GetNTS(message),
                                  CVD_UPnPMessageHelper::GetUSN(message), CVD_UPnPMessageHelper::GetST(message),
                                  CVD_UPnPMessageHelper::GetLocation(message), CVD_UPnPMessageHelper::GetMAN(message)};
    for (const HLY_String* value : values) {
        if (value) FUZZ_CHECK(value->GetLength() < CVD_SSDP_MAX_DATAGRAM_SIZE);
    }
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
    static const HLY_SocketAddress endpoint(HLY_IpAddress(10, 213, 0, 1), 1900);

    HLY_HttpRequest* request = nullptr;
    HLY_Result       result  = CVD_UPnPMessageHelper::ParseRequest(data, (HLY_Size)size, &endpoint, request);
    FUZZ_CHECK(HLY_SUCCEEDED(result) == (request != nullptr));
    if (request) {
        FUZZ_CHECK(size <= CVD_SSDP_MAX_DATAGRAM_SIZE);
        Headers headers = Collect(*request);
        ReadAsTheEngineDoes(*request);
        // written out and read again, the head is the same (when the written
        // form, with its CR LF and ": " separators, still fits a datagram)
        HLY_MemoryStream emitted;
        request->Emit(emitted);
        if (emitted.GetDataSize() <= CVD_SSDP_MAX_DATAGRAM_SIZE) {
            HLY_HttpRequest* again = nullptr;
            FUZZ_CHECK(HLY_SUCCEEDED(CVD_UPnPMessageHelper::ParseRequest(emitted.GetData(), emitted.GetDataSize(),
                                                                         &endpoint, again)));
            FUZZ_CHECK(again->GetMethod() == request->GetMethod());
            FUZZ_CHECK(again->GetProtocol() == request->GetProtocol());
            FUZZ_CHECK(Collect(*again) == headers);
            delete again;
        }
        delete request;
    }

    HLY_HttpResponse* response = nullptr;
    result = CVD_UPnPMessageHelper::ParseResponse(data, (HLY_Size)size, response);
    FUZZ_CHECK(HLY_SUCCEEDED(result) == (response != nullptr));
    if (response) {
        Collect(*response);
        ReadAsTheEngineDoes(*response);
        delete response;
    }
    return 0;
}
