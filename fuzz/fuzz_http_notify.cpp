// NOTIFY requests as a control point's event server reads them: the
// request off the wire, then CVD_EventNotification::Parse, then the
// propertyset body and any LastChange in it.

#include <string>

#include "CvdEvent.h"
#include "CvdHttp.h"
#include "fuzz_common.h"
#include "hlybufferedstreams.h"
#include "hlyxml.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    HLY_InputStreamReference         source(new HLY_MemoryStream(data, size));
    HLY_BufferedInputStreamReference input(new HLY_BufferedInputStream(source));
    HLY_HttpRequest*                 request = nullptr;
    if (HLY_FAILED(HLY_HttpRequest::Parse(*input, nullptr, request)) || request == nullptr) return 0;

    // the body as the engine's server reads it: up to its length
    HLY_HttpEntity* entity = new HLY_HttpEntity(request->GetHeaders());
    HLY_MemoryStream* body = new HLY_MemoryStream();
    HLY_InputStreamReference body_reference(body);
    HLY_LargeSize length = entity->GetContentLength();
    if (length > 0 && length <= size) HLY_StreamToStreamCopy(*input, *body, 0, length);
    entity->SetInputStream(body_reference);
    request->SetEntity(entity);

    HLY_HttpResponse       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpRequestContext context;
    CVD_EventNotification* notification = CVD_EventNotification::Parse(*request, context, response);
    FUZZ_CHECK((notification != nullptr) == (response.GetStatusCode() == 200));
    if (notification) {
        HLY_XmlElementNode* tree = nullptr;
        if (HLY_SUCCEEDED(CVD_XmlHelper::Parse(notification->m_XmlBody, notification->m_XmlBody.GetLength(), tree))) {
            HLY_List<HLY_XmlElementNode*> properties;
            CVD_XmlHelper::GetChildren(tree, properties, "property", nullptr);
            for (HLY_List<HLY_XmlElementNode*>::Iterator it = properties.GetFirstItem(); it; ++it) {
                HLY_String last_change;
                if (HLY_SUCCEEDED(CVD_XmlHelper::GetChildText(*it, "LastChange", last_change, nullptr, 0))) {
                    HLY_Array<CVD_LastChangeEntry> entries;
                    CVD_Service::DecomposeLastChange(last_change, entries);
                }
            }
            delete tree;
        }
        delete notification;
    }
    delete request;
    return 0;
}
