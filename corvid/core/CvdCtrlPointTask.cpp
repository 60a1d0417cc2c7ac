#include "CvdCtrlPointTask.h"
#include "CvdCtrlPoint.h"
#include "hlylogging.h"
#include "hlystreams.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.ctrlpoint.task")

// bodies are read in pieces of this size, the deadline checked between them
#define CVD_CTRLPOINT_READ_CHUNK 4096

/*----------------------------------------------------------------------
|   CVD_CtrlPointHttpTask
+---------------------------------------------------------------------*/
CVD_CtrlPointHttpTask::CVD_CtrlPointHttpTask(CVD_CtrlPoint*   ctrl_point,
                                             HLY_HttpRequest* request,
                                             HLY_Size         max_body,
                                             HLY_Timeout      timeout)
    : CVD_HttpClientSocketTask(request),
      m_CtrlPoint(ctrl_point),
      m_MaxBody(max_body),
      m_Timeout(timeout),
      m_Counted(false)
{
    const CVD_CtrlPointLimits& limits = ctrl_point->GetLimits();
    m_Client.SetTimeouts(limits.m_ConnectTimeout, timeout, limits.m_ConnectTimeout);
    // a device answers itself: a redirect elsewhere is not followed
    HLY_HttpClient::Config config = m_Client.GetConfig();
    config.m_MaxRedirects         = 0;
    m_Client.SetConfig(config);
}

CVD_CtrlPointHttpTask::~CVD_CtrlPointHttpTask()
{
    if (m_Counted) m_CtrlPoint->OnInspectionTaskEnded();
}

void CVD_CtrlPointHttpTask::StartClock()
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    HLY_AutoLock lock(m_DeadlineLock);
    m_Deadline = now + HLY_TimeInterval::FromMillis(m_Timeout);
}

void CVD_CtrlPointHttpTask::ExpireIfLate(const HLY_TimeStamp& now)
{
    bool late;
    {
        HLY_AutoLock lock(m_DeadlineLock);
        late = m_Deadline != HLY_TimeStamp() && now > m_Deadline;
    }
    if (late) {
        HLY_LOG_FINE("exchange past its time-out of %d ms, aborted", (int)m_Timeout);
        m_Client.Abort();
    }
}

void CVD_CtrlPointHttpTask::DoRun()
{
    StartClock();
    m_CtrlPoint->RegisterFetch(this);
    CVD_HttpClientSocketTask::DoRun();
    m_CtrlPoint->UnregisterFetch(this);
}

HLY_Result CVD_CtrlPointHttpTask::ReadBody(HLY_HttpResponse& response, HLY_String& body)
{
    body.SetLength(0);
    HLY_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) return HLY_SUCCESS;
    if (entity->GetContentLength() > (HLY_LargeSize)m_MaxBody) {
        HLY_LOG_WARNING("body of %lld bytes refused (at most %lu)", (long long)entity->GetContentLength(),
                        (unsigned long)m_MaxBody);
        return HLY_ERROR_OUT_OF_RANGE;
    }
    HLY_InputStreamReference stream;
    if (HLY_FAILED(entity->GetInputStream(stream)) || stream.IsNull()) return HLY_SUCCESS;

    HLY_LargeSize expected = entity->GetContentLength();
    char          chunk[CVD_CTRLPOINT_READ_CHUNK];
    for (;;) {
        HLY_Size wanted = sizeof(chunk);
        if (expected > 0) {
            if ((HLY_LargeSize)body.GetLength() >= expected) break;
            if (expected - body.GetLength() < wanted) wanted = (HLY_Size)(expected - body.GetLength());
        }
        HLY_Size   count = 0;
        HLY_Result res   = stream->Read(chunk, wanted, &count);
        if (res == HLY_ERROR_EOS) break;
        if (HLY_FAILED(res)) return res;
        if (body.GetLength() + count > m_MaxBody) {
            HLY_LOG_WARNING("body beyond %lu bytes refused", (unsigned long)m_MaxBody);
            return HLY_ERROR_OUT_OF_RANGE;
        }
        body.Append(chunk, count);
        if (IsAborting(0)) return HLY_ERROR_CANCELLED;
        HLY_TimeStamp now;
        HLY_System::GetCurrentTimeStamp(now);
        HLY_AutoLock lock(m_DeadlineLock);
        if (now > m_Deadline) {
            HLY_LOG_WARNING("body still arriving after %d ms, refused", (int)m_Timeout);
            return HLY_ERROR_TIMEOUT;
        }
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPointHttpTask::ProcessResponse(HLY_Result                    res,
                                                  const HLY_HttpRequest&        request,
                                                  const HLY_HttpRequestContext& context,
                                                  HLY_HttpResponse*             response)
{
    HLY_String  body;
    const HLY_String* read = nullptr;
    if (HLY_SUCCEEDED(res) && response) {
        HLY_Result body_res = ReadBody(*response, body);
        if (HLY_SUCCEEDED(body_res)) {
            read = &body;
        } else {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(ReadBody(*response, body))", body_res);
        }
    }
    HLY_Result result = HLY_SUCCESS;
    if (!IsAborting(0)) result = OnResponse(res, request, context, response, read);
    // the next request of the queue gets a clock of its own
    StartClock();
    return result;
}

/*----------------------------------------------------------------------
|   the four exchanges
+---------------------------------------------------------------------*/
CVD_CtrlPointGetDescriptionTask::CVD_CtrlPointGetDescriptionTask(const HLY_HttpUrl& url,
                                                                 CVD_CtrlPoint*     ctrl_point,
                                                                 HLY_TimeInterval   leasetime,
                                                                 const char*        uuid)
    : CVD_CtrlPointHttpTask(ctrl_point,
                            new HLY_HttpRequest(url, HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1),
                            ctrl_point->GetLimits().m_MaxDescriptionSize,
                            ctrl_point->GetLimits().m_FetchTimeout),
      m_LeaseTime(leasetime),
      m_UUID(uuid)
{
}

HLY_Result CVD_CtrlPointGetDescriptionTask::OnResponse(HLY_Result                    res,
                                                       const HLY_HttpRequest&        request,
                                                       const HLY_HttpRequestContext& context,
                                                       HLY_HttpResponse*             response,
                                                       const HLY_String*             body)
{
    return m_CtrlPoint->ProcessGetDescriptionResponse(res, request, context, response, body, m_LeaseTime, m_UUID);
}

CVD_CtrlPointGetSCPDsTask::CVD_CtrlPointGetSCPDsTask(CVD_CtrlPoint* ctrl_point, CVD_DeviceDataReference& root)
    : CVD_CtrlPointHttpTask(ctrl_point, nullptr, ctrl_point->GetLimits().m_MaxSCPDSize,
                            ctrl_point->GetLimits().m_FetchTimeout),
      m_RootDevice(root),
      m_Queued(0)
{
}

HLY_Result CVD_CtrlPointGetSCPDsTask::AddRequest(HLY_HttpRequest* request)
{
    HLY_Result res = CVD_HttpClientSocketTask::AddRequest(request);
    if (HLY_SUCCEEDED(res)) ++m_Queued;
    return res;
}

HLY_Result CVD_CtrlPointGetSCPDsTask::OnResponse(HLY_Result                    res,
                                                 const HLY_HttpRequest&        request,
                                                 const HLY_HttpRequestContext& context,
                                                 HLY_HttpResponse*             response,
                                                 const HLY_String*             body)
{
    // every request of this task is one of ours
    CVD_CtrlPointGetSCPDRequest& scpd_request =
        static_cast<CVD_CtrlPointGetSCPDRequest&>(const_cast<HLY_HttpRequest&>(request));
    return m_CtrlPoint->ProcessGetSCPDResponse(res, request, context, response, body, scpd_request.m_Device);
}

CVD_CtrlPointInvokeActionTask::CVD_CtrlPointInvokeActionTask(HLY_HttpRequest*     request,
                                                             CVD_CtrlPoint*       ctrl_point,
                                                             CVD_ActionReference& action,
                                                             void*                userdata)
    : CVD_CtrlPointHttpTask(ctrl_point, request, ctrl_point->GetLimits().m_MaxActionSize,
                            ctrl_point->GetLimits().m_ActionTimeout),
      m_Action(action),
      m_Userdata(userdata)
{
}

HLY_Result CVD_CtrlPointInvokeActionTask::OnResponse(HLY_Result                    res,
                                                     const HLY_HttpRequest&        request,
                                                     const HLY_HttpRequestContext& context,
                                                     HLY_HttpResponse*             response,
                                                     const HLY_String*             body)
{
    return m_CtrlPoint->ProcessActionResponse(res, request, context, response, body, m_Action, m_Userdata);
}

CVD_CtrlPointSubscribeEventTask::CVD_CtrlPointSubscribeEventTask(HLY_HttpRequest*         request,
                                                                 CVD_CtrlPoint*           ctrl_point,
                                                                 CVD_DeviceDataReference& root,
                                                                 CVD_Service*             service,
                                                                 void*                    userdata)
    // the answer's body is not used; a little is read so the connection can be reused
    : CVD_CtrlPointHttpTask(ctrl_point, request, ctrl_point->GetLimits().m_MaxSCPDSize,
                            ctrl_point->GetLimits().m_FetchTimeout),
      m_RootDevice(root),
      m_Service(service),
      m_Userdata(userdata)
{
}

HLY_Result CVD_CtrlPointSubscribeEventTask::OnResponse(HLY_Result                    res,
                                                       const HLY_HttpRequest&        request,
                                                       const HLY_HttpRequestContext& context,
                                                       HLY_HttpResponse*             response,
                                                       const HLY_String*             /*body*/)
{
    return m_CtrlPoint->ProcessSubscribeResponse(res, request, context, response, m_Service, m_Userdata);
}

/*----------------------------------------------------------------------
|   CVD_CtrlPointHouseKeepingTask
+---------------------------------------------------------------------*/
void CVD_CtrlPointHouseKeepingTask::DoRun()
{
    HLY_TimeStamp next;
    HLY_System::GetCurrentTimeStamp(next);
    next += m_Period;
    while (!IsAborting(CVD_CTRLPOINT_WATCHDOG_PERIOD_MS)) {
        m_CtrlPoint->ExpireFetches();
        HLY_TimeStamp now;
        HLY_System::GetCurrentTimeStamp(now);
        if (now < next) continue;
        m_CtrlPoint->RunHouseKeeping();
        next = now + m_Period;
    }
}
