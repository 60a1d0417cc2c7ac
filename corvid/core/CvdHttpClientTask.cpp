#include "CvdConstants.h"
#include "CvdHttp.h"
#include "CvdHttpClientTask.h"
#include "hlyhttpclient.h"
#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.http.clienttask")

CVD_HttpClientSocketTask::CVD_HttpClientSocketTask(HLY_HttpRequest* request, bool wait_forever)
    : m_WaitForever(wait_forever), m_Requests(0)
{
    m_Client.SetUserAgent(CVD_Constants::GetInstance().GetDefaultUserAgent());
    m_Client.SetTimeouts(60000, 60000, 60000);
    if (request) m_Requests.Push(request);
}

CVD_HttpClientSocketTask::~CVD_HttpClientSocketTask()
{
    HLY_HttpRequest* request = nullptr;
    while (HLY_SUCCEEDED(m_Requests.Pop(request, 0))) delete request;
}

HLY_Result CVD_HttpClientSocketTask::AddRequest(HLY_HttpRequest* request)
{
    HLY_CHECK_POINTER(request);
    return m_Requests.Push(request, HLY_TIMEOUT_INFINITE);
}

HLY_Result CVD_HttpClientSocketTask::SetHttpClientConfig(const HLY_HttpClient::Config& config)
{
    return m_Client.SetConfig(config);
}

void CVD_HttpClientSocketTask::DoAbort()
{
    m_Client.Abort();
}

void CVD_HttpClientSocketTask::DoRun()
{
    HLY_TimeStamp last_cleanup;
    HLY_System::GetCurrentTimeStamp(last_cleanup);

    for (;;) {
        HLY_HttpRequest* request = nullptr;
        if (HLY_FAILED(m_Requests.Pop(request, 100)) || request == nullptr) {
            HLY_TimeStamp now;
            HLY_System::GetCurrentTimeStamp(now);
            if (now > last_cleanup + HLY_TimeInterval::FromSeconds(60)) {
                // recycling nothing lets the pool close what has been idle too long
                HLY_HttpConnectionManager::GetInstance()->Recycle(nullptr);
                last_cleanup = now;
            }
            if (!m_WaitForever || IsAborting(0)) break;
            continue;
        }
        if (IsAborting(0)) {
            delete request;
            break;
        }

        HLY_HttpResponse*      response = nullptr;
        HLY_HttpRequestContext context;
        HLY_Result             res = m_Client.SendRequest(*request, response, &context);
        HLY_Logger*            logger = _HLY_LocalLogger.Get();
        if (logger && HLY_LOG_LEVEL_FINER >= logger->GetLevel()) {
            HLY_String prefix = HLY_String::Format("CVD_HttpClientSocketTask::DoRun (res = %d):", (int)res);
            CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, prefix, response);
        }
        ProcessResponse(res, *request, context, response);
        delete response;
        delete request;
    }
}

HLY_Result CVD_HttpClientSocketTask::ProcessResponse(HLY_Result                    res,
                                                     const HLY_HttpRequest&        /*request*/,
                                                     const HLY_HttpRequestContext& /*context*/,
                                                     HLY_HttpResponse*             response)
{
    HLY_LOG_FINE("CVD_HttpClientSocketTask::ProcessResponse (result=%d)", (int)res);
    HLY_CHECK_WARNING(res);
    HLY_CHECK_POINTER_WARNING(response);

    HLY_HttpEntity* entity = response->GetEntity();
    if (entity == nullptr) return HLY_SUCCESS;
    HLY_InputStreamReference body;
    if (HLY_FAILED(entity->GetInputStream(body)) || body.IsNull()) return HLY_SUCCESS;
    HLY_NullOutputStream output;
    HLY_CHECK_SEVERE(HLY_StreamToStreamCopy(*body, output, 0, entity->GetContentLength()));
    return HLY_SUCCESS;
}
