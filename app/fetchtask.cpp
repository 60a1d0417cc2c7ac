#include "fetchtask.h"

#include "CvdCtrlPoint.h"

FetchTask::FetchTask(CVD_CtrlPoint* ctrl_point, const HLY_HttpUrl& url, HLY_Size max_body, Answer answer)
    : CVD_CtrlPointHttpTask(ctrl_point, new HLY_HttpRequest(url, HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1),
                            max_body, ctrl_point->GetLimits().m_FetchTimeout),
      m_Answer(std::move(answer))
{
}

HLY_Result FetchTask::OnResponse(HLY_Result res, const HLY_HttpRequest& /*request*/,
                                 const HLY_HttpRequestContext& context, HLY_HttpResponse* response,
                                 const HLY_String* body)
{
    int status = response ? response->GetStatusCode() : 0;
    if (HLY_SUCCEEDED(res) && response == nullptr) res = HLY_FAILURE;
    m_Answer(res, status, HLY_SUCCEEDED(res) ? body : nullptr, context);
    return HLY_SUCCESS;
}
