// Control requests as a hosted device reads them: the first line of the
// input is the SOAPAction header, the rest the body. Every request must
// be answered, with a response, a fault or a 500.

#include <string>

#include "CvdHttp.h"
#include "fuzz_common.h"
#include "fuzz_soap_common.h"

namespace {

class Handler : public CVD_ActionHandler
{
public:
    HLY_Result OnAction(CVD_ActionReference& action, const HLY_HttpRequestContext&) override
    {
        return action->SetArgumentsOutFromStateVariable();
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    std::string text((const char*)data, size);
    size_t      line = text.find('\n');
    std::string soap_action = line == std::string::npos ? text : text.substr(0, line);
    std::string body        = line == std::string::npos ? "" : text.substr(line + 1);

    HLY_HttpRequest request("http://10.0.0.2/RCS/dev/control.xml", "POST", HLY_HTTP_PROTOCOL_1_1);
    request.GetHeaders().SetHeader("SOAPAction", soap_action.c_str());
    HLY_HttpEntity* entity = new HLY_HttpEntity();
    entity->SetInputStream(body.data(), body.size());
    request.SetEntity(entity);
    HLY_HttpResponse       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpRequestContext context;
    Handler                handler;
    FUZZ_CHECK(HLY_SUCCEEDED(CVD_Action::ProcessSoapRequest(fuzz::SoapDevice(), request, context, response, &handler)));
    FUZZ_CHECK(response.GetStatusCode() == 200 || response.GetStatusCode() == 500);
    if (response.GetStatusCode() == 200) {
        HLY_String answer;
        FUZZ_CHECK(HLY_SUCCEEDED(CVD_HttpHelper::GetBody(response, answer)));
        FUZZ_CHECK(answer.Find("Response") >= 0);
    }
    return 0;
}
