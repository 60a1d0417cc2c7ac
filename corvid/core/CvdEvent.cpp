#include <string.h>

#include <atomic>

#include "CvdEvent.h"
#include "CvdConstants.h"
#include "CvdHttp.h"
#include "CvdHttpClientTask.h"
#include "CvdSsdp.h"
#include "CvdStateVariable.h"
#include "CvdTaskManager.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.event")

#define CVD_SOAP_CONTENT_TYPE_GENA "text/xml; charset=\"utf-8\""

/*----------------------------------------------------------------------
|   CVD_EventSubscriberTask: sends one subscriber's NOTIFYs in SEQ order
|   and keeps count of what waits and whether a delivery failed
+---------------------------------------------------------------------*/
class CVD_EventSubscriberTask : public CVD_HttpClientSocketTask
{
public:
    explicit CVD_EventSubscriberTask(HLY_HttpRequest* first) : CVD_HttpClientSocketTask(first, true) {}

    HLY_Result AddRequest(HLY_HttpRequest* request) override
    {
        ++m_Queued;
        HLY_Result result = CVD_HttpClientSocketTask::AddRequest(request);
        if (HLY_FAILED(result)) --m_Queued;
        return result;
    }
    int GetQueued() const { return m_Queued; }
    bool HasFailed() const { return m_Failed; }

protected:
    HLY_Result ProcessResponse(HLY_Result                    res,
                               const HLY_HttpRequest&        request,
                               const HLY_HttpRequestContext& context,
                               HLY_HttpResponse*             response) override
    {
        // a NOTIFY that found nobody to take it ends the subscription
        if (HLY_FAILED(res) || response == nullptr) m_Failed = true;
        HLY_Result result = CVD_HttpClientSocketTask::ProcessResponse(res, request, context, response);
        --m_Queued;
        return result;
    }

private:
    std::atomic<int>  m_Queued{1}; // the first request is given to the constructor
    std::atomic<bool> m_Failed{false};
};

/*----------------------------------------------------------------------
|   CVD_EventHeaders
+---------------------------------------------------------------------*/
namespace {
HLY_Result SetHeader(HLY_HttpMessage& message, const char* name, const char* value)
{
    return message.GetHeaders().SetHeader(name, value);
}
const HLY_String* GetHeader(const HLY_HttpMessage& message, const char* name)
{
    return message.GetHeaders().GetHeaderValue(name);
}
} // namespace

HLY_Result CVD_EventHeaders::SetNT(HLY_HttpMessage& m, const char* v) { return SetHeader(m, "NT", v); }
const HLY_String* CVD_EventHeaders::GetNT(const HLY_HttpMessage& m) { return GetHeader(m, "NT"); }
HLY_Result CVD_EventHeaders::SetNTS(HLY_HttpMessage& m, const char* v) { return SetHeader(m, "NTS", v); }
const HLY_String* CVD_EventHeaders::GetNTS(const HLY_HttpMessage& m) { return GetHeader(m, "NTS"); }
HLY_Result CVD_EventHeaders::SetSID(HLY_HttpMessage& m, const char* v) { return SetHeader(m, "SID", v); }
const HLY_String* CVD_EventHeaders::GetSID(const HLY_HttpMessage& m) { return GetHeader(m, "SID"); }
HLY_Result CVD_EventHeaders::SetCallbacks(HLY_HttpMessage& m, const char* v) { return SetHeader(m, "CALLBACK", v); }
const HLY_String* CVD_EventHeaders::GetCallbacks(const HLY_HttpMessage& m) { return GetHeader(m, "CALLBACK"); }

HLY_Result CVD_EventHeaders::SetSeq(HLY_HttpMessage& message, HLY_UInt32 seq)
{
    return SetHeader(message, "SEQ", HLY_String::FromIntegerU(seq));
}

HLY_Result CVD_EventHeaders::GetSeq(const HLY_HttpMessage& message, HLY_UInt32& seq)
{
    seq                     = 0;
    const HLY_String* value = GetHeader(message, "SEQ");
    if (value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return value->ToInteger(seq);
}

HLY_Result CVD_EventHeaders::SetTimeOut(HLY_HttpMessage& message, HLY_Int32 seconds)
{
    return SetHeader(message, "TIMEOUT",
                     seconds >= 0 ? "Second-" + HLY_String::FromInteger(seconds) : HLY_String("Second-infinite"));
}

HLY_Result CVD_EventHeaders::GetTimeOut(const HLY_HttpMessage& message, HLY_Int32& seconds)
{
    seconds                 = 0;
    const HLY_String* value = GetHeader(message, "TIMEOUT");
    if (value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return ParseTimeOut(*value, seconds);
}

HLY_Result ParseTimeOut(const char* timeout, HLY_Int32& seconds)
{
    seconds = 0;
    if (timeout == nullptr || HLY_String::CompareN(timeout, "Second-", 7, true) != 0) return HLY_ERROR_INVALID_FORMAT;
    if (HLY_String::Compare(timeout, "Second-infinite", true) == 0) {
        seconds = -1;
        return HLY_SUCCESS;
    }
    HLY_UInt64 value;
    HLY_Result res = HLY_ParseInteger64U(timeout + 7, value);
    if (res == HLY_ERROR_OVERFLOW) {
        value = INT32_MAX; // a count beyond 64 bits is as good as forever
    } else if (HLY_FAILED(res)) {
        return res;
    }
    seconds = value > (HLY_UInt64)INT32_MAX ? INT32_MAX : (HLY_Int32)value;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_EventSubscriber
+---------------------------------------------------------------------*/
CVD_EventSubscriber::CVD_EventSubscriber(CVD_TaskManager* task_manager,
                                         CVD_Service*     service,
                                         const char*      sid,
                                         HLY_Int32        timeout)
    : m_TaskManager(task_manager),
      m_Service(service),
      m_EventKey(0),
      m_SubscriberTask(nullptr),
      m_SID(sid),
      m_OfferedCallbackCount(0)
{
    HLY_LOG_FINE("Creating new subscriber (%s)", m_SID.GetChars());
    SetTimeout(timeout);
}

CVD_EventSubscriber::~CVD_EventSubscriber()
{
    HLY_LOG_FINE("Deleting subscriber (%s)", m_SID.GetChars());
    if (m_SubscriberTask) m_SubscriberTask->Kill();
}

HLY_Result CVD_EventSubscriber::SetTimeout(HLY_Int32 seconds)
{
    HLY_LOG_FINE("subscriber (%s) expiring in %d seconds", m_SID.GetChars(), seconds);
    if (seconds == -1) seconds = CVD_EVENT_INFINITE_TIMEOUT_SECONDS;
    HLY_System::GetCurrentTimeStamp(m_ExpirationTime);
    m_ExpirationTime += HLY_TimeInterval::FromSeconds(seconds);
    return HLY_SUCCESS;
}

HLY_Result CVD_EventSubscriber::AddCallbackURL(const char* callback_url)
{
    HLY_CHECK_POINTER_FATAL(callback_url);
    HLY_LOG_FINE("Adding callback \"%s\" to subscriber %s", callback_url, m_SID.GetChars());
    return m_CallbackURLs.Add(HLY_String(callback_url));
}

HLY_Result CVD_EventSubscriber::FindCallbackURL(const char* callback_url)
{
    HLY_String found;
    return m_CallbackURLs.Find(HLY_StringFinder(callback_url), found);
}

HLY_Result CVD_EventSubscriber::SetCallbacksFromHeader(const char* callbacks, const HLY_IpAddress* local)
{
    HLY_Cardinal refused = 0;
    if (callbacks == nullptr || callbacks[0] != '<') return HLY_FAILURE;
    m_OfferedCallbackCount = 0;
    // "<url><url>...": each run up to the next '>' is one candidate
    for (const char* p = callbacks + 1; *p;) {
        const char* end = strchr(p, '>');
        if (end == nullptr) break;
        ++m_OfferedCallbackCount;
        if (m_CallbackURLs.GetItemCount() < CVD_EVENT_MAX_CALLBACK_URLS) {
            HLY_String  text(p, (HLY_Size)(end - p));
            HLY_HttpUrl url(text);
            HLY_IpAddress host;
            // a name is not resolved: it could name anything
            if (url.IsValid() && local &&
                (HLY_FAILED(host.Parse(url.GetHost())) || !CVD_UPnPMessageHelper::IsAddressInSubnetOf(*local, host))) {
                HLY_LOG_WARNING("refusing event callback %s of subscriber %s: not in the subnet of %s",
                                text.GetChars(), m_SID.GetChars(), local->ToString().GetChars());
                ++refused;
            } else if (url.IsValid()) {
                AddCallbackURL(text);
            }
        }
        p = end[1] ? end + 2 : end + 1;
    }
    if (m_OfferedCallbackCount > CVD_EVENT_MAX_CALLBACK_URLS) {
        HLY_LOG_WARNING("subscriber %s offered %d callback URLs, the first %d were looked at", m_SID.GetChars(),
                        (int)m_OfferedCallbackCount, CVD_EVENT_MAX_CALLBACK_URLS);
    }
    if (m_CallbackURLs.GetItemCount()) return HLY_SUCCESS;
    return refused ? HLY_ERROR_PERMISSION_DENIED : HLY_FAILURE;
}

HLY_Result CVD_EventSubscriber::CreateNotifyRequest(HLY_List<CVD_StateVariable*>& vars, HLY_HttpRequest*& request)
{
    request = nullptr;
    HLY_XmlElementNode propertyset("e", "propertyset");
    HLY_CHECK_SEVERE(propertyset.SetNamespaceUri("e", CVD_EVENT_NAMESPACE));
    bool any = false;
    for (HLY_List<CVD_StateVariable*>::Iterator it = vars.GetFirstItem(); it; ++it) {
        if (!(*it)->IsSendingEvents()) continue;
        HLY_XmlElementNode* property = new HLY_XmlElementNode("e", "property");
        HLY_CHECK_SEVERE(propertyset.AddChild(property));
        HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(property, (*it)->GetName(), (*it)->GetValue()));
        any = true;
    }
    if (!any) return HLY_FAILURE;
    HLY_String body;
    HLY_CHECK_SEVERE(CVD_XmlHelper::Serialize(propertyset, body, true, 0));

    if (m_CallbackURLs.GetItemCount() == 0) return HLY_FAILURE;
    HLY_HttpUrl url(m_CallbackURLs[0]);
    if (!url.IsValid()) {
        HLY_LOG_FATAL("invalid callback URL %s", m_CallbackURLs[0].GetChars());
        return HLY_FAILURE;
    }
    HLY_HttpRequest* notify = new HLY_HttpRequest(url, "NOTIFY", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpEntity*  entity = new HLY_HttpEntity();
    entity->SetInputStream(body);
    entity->SetContentType(CVD_SOAP_CONTENT_TYPE_GENA);
    notify->SetEntity(entity);
    CVD_EventHeaders::SetNT(*notify, "upnp:event");
    CVD_EventHeaders::SetNTS(*notify, "upnp:propchange");
    CVD_EventHeaders::SetSID(*notify, m_SID);
    CVD_EventHeaders::SetSeq(*notify, m_EventKey);

    // 0 marks only the first event of a subscription
    if (++m_EventKey == 0) m_EventKey = 1;
    request = notify;
    return HLY_SUCCESS;
}

HLY_Result CVD_EventSubscriber::Notify(HLY_List<CVD_StateVariable*>& vars)
{
    if (m_SubscriberTask && m_SubscriberTask->HasFailed()) {
        HLY_LOG_WARNING("dropping subscriber %s: a NOTIFY to it failed", m_SID.GetChars());
        return HLY_FAILURE;
    }
    if (m_SubscriberTask && m_SubscriberTask->GetQueued() >= CVD_EVENT_MAX_QUEUED_NOTIFY) {
        HLY_LOG_WARNING("dropping subscriber %s: %d NOTIFYs wait for it", m_SID.GetChars(),
                        m_SubscriberTask->GetQueued());
        return HLY_ERROR_OUT_OF_RESOURCES;
    }
    HLY_HttpRequest* request = nullptr;
    HLY_CHECK(CreateNotifyRequest(vars, request));
    if (m_SubscriberTask == nullptr) {
        // one task per subscriber sends its events one after another, in SEQ order
        CVD_EventSubscriberTask* task = new CVD_EventSubscriberTask(request);
        HLY_HttpClient::Config   config;
        config.m_ConnectionTimeout = CVD_EVENT_NOTIFY_CONNECT_TIMEOUT_MS;
        config.m_UserAgent         = CVD_Constants::GetInstance().GetDefaultUserAgent();
        task->SetHttpClientConfig(config);
        HLY_Result res = m_TaskManager ? m_TaskManager->StartTask(task, nullptr, false) : task->Start(nullptr, nullptr, false);
        if (HLY_FAILED(res)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(StartTask(task))", res);
            delete task;
            return res;
        }
        m_SubscriberTask = task;
        return HLY_SUCCESS;
    }
    return m_SubscriberTask->AddRequest(request);
}

/*----------------------------------------------------------------------
|   control point side requests
+---------------------------------------------------------------------*/
HLY_Result CVD_EventSubscriber::CreateSubscribeRequest(CVD_Service&      service,
                                                       const char*       callback_url,
                                                       HLY_Int32         timeout,
                                                       HLY_HttpRequest*& request)
{
    request = nullptr;
    if (!service.IsSubscribable()) return HLY_FAILURE;
    request = new HLY_HttpRequest(service.GetEventSubURL(true), "SUBSCRIBE", HLY_HTTP_PROTOCOL_1_1);
    CVD_EventHeaders::SetNT(*request, "upnp:event");
    CVD_EventHeaders::SetCallbacks(*request, HLY_String("<") + callback_url + ">");
    CVD_EventHeaders::SetTimeOut(*request, timeout);
    return HLY_SUCCESS;
}

HLY_Result CVD_EventSubscriber::CreateRenewRequest(CVD_Service& service, const char* sid, HLY_Int32 timeout,
                                                   HLY_HttpRequest*& request)
{
    request = new HLY_HttpRequest(service.GetEventSubURL(true), "SUBSCRIBE", HLY_HTTP_PROTOCOL_1_1);
    CVD_EventHeaders::SetSID(*request, sid);
    CVD_EventHeaders::SetTimeOut(*request, timeout);
    return HLY_SUCCESS;
}

HLY_Result CVD_EventSubscriber::CreateUnsubscribeRequest(CVD_Service& service, const char* sid, HLY_HttpRequest*& request)
{
    request = new HLY_HttpRequest(service.GetEventSubURL(true), "UNSUBSCRIBE", HLY_HTTP_PROTOCOL_1_1);
    CVD_EventHeaders::SetSID(*request, sid);
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   device side routing of subscription requests
+---------------------------------------------------------------------*/
HLY_Result CVD_EventSubscriber::ProcessSubscriptionRequest(CVD_TaskManager*              task_manager,
                                                           CVD_DeviceData&               root,
                                                           HLY_HttpRequest&              request,
                                                           const HLY_HttpRequestContext& context,
                                                           HLY_HttpResponse&             response)
{
    CVD_Service* service = nullptr;
    if (HLY_FAILED(root.FindServiceByEventSubURL(request.GetUrl().GetPath(), service, true))) {
        response.SetStatus(400, "Bad Request");
        return HLY_FAILURE;
    }
    const HLY_String* sid      = CVD_EventHeaders::GetSID(request);
    const HLY_String* nt       = CVD_EventHeaders::GetNT(request);
    const HLY_String* callback = CVD_EventHeaders::GetCallbacks(request);
    HLY_Int32         lease    = (HLY_Int32)CVD_Constants::GetInstance().GetDefaultSubscribeLease();
    const HLY_String& method   = request.GetMethod();

    if (method == "SUBSCRIBE") {
        if (sid) {
            if (nt || callback) {
                response.SetStatus(400, "Bad Request");
                return HLY_FAILURE;
            }
            return service->ProcessRenewSubscription(context.GetLocalAddress(), *sid, lease, response);
        }
        if (nt == nullptr || nt->Compare("upnp:event", true) != 0 || callback == nullptr) {
            response.SetStatus(412, "Precondition failed");
            return HLY_FAILURE;
        }
        return service->ProcessNewSubscription(task_manager, context.GetLocalAddress(), *callback, lease, response);
    }
    if (method == "UNSUBSCRIBE") {
        if (sid == nullptr || sid->IsEmpty() || nt || callback) {
            response.SetStatus(400, "Bad Request");
            return HLY_FAILURE;
        }
        return service->ProcessCancelSubscription(context.GetLocalAddress(), *sid, response);
    }
    response.SetStatus(400, "Bad Request");
    return HLY_FAILURE;
}

/*----------------------------------------------------------------------
|   CVD_EventNotification
+---------------------------------------------------------------------*/
CVD_EventNotification* CVD_EventNotification::Parse(const HLY_HttpRequest&        request,
                                                    const HLY_HttpRequestContext& /*context*/,
                                                    HLY_HttpResponse&             response)
{
    const HLY_String* sid = CVD_EventHeaders::GetSID(request);
    const HLY_String* nt  = CVD_EventHeaders::GetNT(request);
    const HLY_String* nts = CVD_EventHeaders::GetNTS(request);
    HLY_Result        res = HLY_SUCCESS;

    if (sid == nullptr || sid->IsEmpty()) {
        res = HLY_ERROR_INVALID_PARAMETERS;
        response.SetStatus(412, "Precondition Failed");
    } else if (nt == nullptr || nt->IsEmpty() || nts == nullptr || nts->IsEmpty()) {
        res = HLY_ERROR_INVALID_PARAMETERS;
        response.SetStatus(400, "Bad request");
    } else if (nt->Compare("upnp:event", true) != 0 || nts->Compare("upnp:propchange", true) != 0) {
        res = HLY_ERROR_INVALID_SYNTAX;
        response.SetStatus(412, "Precondition Failed");
    }
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(NOTIFY headers)", res);
        return nullptr;
    }

    HLY_UInt32 seq = 0;
    res            = CVD_EventHeaders::GetSeq(request, seq);
    // a missing SEQ reads as 0; one that is not a 32-bit number is refused
    if (HLY_FAILED(res) && res != HLY_ERROR_INVALID_PARAMETERS) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(CVD_EventHeaders::GetSeq(request, seq))", res);
        response.SetStatus(412, "Precondition Failed");
        return nullptr;
    }

    HLY_String body;
    res = CVD_HttpHelper::GetBody(request, body);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(CVD_HttpHelper::GetBody(request, body))", res);
        response.SetStatus(412, "Precondition Failed");
        return nullptr;
    }

    CVD_EventNotification* notification = new CVD_EventNotification();
    HLY_System::GetCurrentTimeStamp(notification->m_ReceptionTime);
    notification->m_RequestUrl = request.GetUrl();
    notification->m_SID        = *sid;
    notification->m_EventKey   = seq;
    notification->m_XmlBody    = body;
    return notification;
}
