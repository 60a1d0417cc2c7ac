#ifndef CVD_EVENT_H
#define CVD_EVENT_H

#include "CvdDeviceData.h"
#include "CvdService.h"
#include "hlyarray.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlysockets.h"
#include "hlystrings.h"
#include "hlytime.h"

class CVD_EventSubscriberTask;
class CVD_StateVariable;
class CVD_TaskManager;

#define CVD_EVENT_NAMESPACE "urn:schemas-upnp-org:event-1-0"

// a device grants at most this many subscribers per service
#define CVD_EVENT_MAX_SUBSCRIBERS 30
// a subscriber keeps receiving events this long after its expiry
#define CVD_EVENT_DELIVERY_GRACE_SECONDS 30
// "Second-infinite" granted to a control point counts as this many seconds
#define CVD_EVENT_INFINITE_TIMEOUT_SECONDS 300
// only the first delivery URL is used; a few more are kept for inspection
#define CVD_EVENT_MAX_CALLBACK_URLS 8
// connection time-out of a subscriber's sending task
#define CVD_EVENT_NOTIFY_CONNECT_TIMEOUT_MS 2000
// NOTIFYs that may wait for one subscriber (the one in flight included): a
// subscriber that reads slower than its service changes is dropped, so that
// it holds neither memory nor the others' events
#define CVD_EVENT_MAX_QUEUED_NOTIFY 16

/*----------------------------------------------------------------------
|   CVD_EventHeaders: the GENA headers; writers replace an existing one
+---------------------------------------------------------------------*/
class CVD_EventHeaders
{
public:
    static HLY_Result SetNT(HLY_HttpMessage& message, const char* nt);
    static const HLY_String* GetNT(const HLY_HttpMessage& message);
    static HLY_Result SetNTS(HLY_HttpMessage& message, const char* nts);
    static const HLY_String* GetNTS(const HLY_HttpMessage& message);
    static HLY_Result SetSID(HLY_HttpMessage& message, const char* sid);
    static const HLY_String* GetSID(const HLY_HttpMessage& message);
    static HLY_Result SetCallbacks(HLY_HttpMessage& message, const char* callbacks);
    static const HLY_String* GetCallbacks(const HLY_HttpMessage& message);
    static HLY_Result SetSeq(HLY_HttpMessage& message, HLY_UInt32 seq);
    static HLY_Result GetSeq(const HLY_HttpMessage& message, HLY_UInt32& seq);
    // a negative value is written as "Second-infinite"
    static HLY_Result SetTimeOut(HLY_HttpMessage& message, HLY_Int32 seconds);
    static HLY_Result GetTimeOut(const HLY_HttpMessage& message, HLY_Int32& seconds);
};

// "Second-<n>" (any case) or "Second-infinite" (-1); counts beyond what a
// signed 32-bit number holds are capped there
HLY_Result ParseTimeOut(const char* timeout, HLY_Int32& seconds);

/*----------------------------------------------------------------------
|   CVD_EventSubscriber: one subscription, on either side
+---------------------------------------------------------------------*/
class CVD_EventSubscriber
{
public:
    CVD_EventSubscriber(CVD_TaskManager* task_manager, CVD_Service* service, const char* sid, HLY_Int32 timeout = -1);
    ~CVD_EventSubscriber();

    CVD_Service* GetService() const { return m_Service; }
    HLY_UInt32 GetEventKey() const { return m_EventKey; }
    HLY_Result SetEventKey(HLY_UInt32 value) { m_EventKey = value; return HLY_SUCCESS; }
    const HLY_String& GetSID() const { return m_SID; }
    HLY_Result SetLocalIf(const HLY_SocketAddress& value) { m_LocalIf = value; return HLY_SUCCESS; }
    const HLY_SocketAddress& GetLocalIf() const { return m_LocalIf; }
    HLY_TimeStamp GetExpirationTime() const { return m_ExpirationTime; }
    // -1 counts as CVD_EVENT_INFINITE_TIMEOUT_SECONDS
    HLY_Result SetTimeout(HLY_Int32 seconds = -1);
    // for callers that keep their own clock (and tests)
    void SetExpirationTime(HLY_TimeStamp when) { m_ExpirationTime = when; }
    HLY_Result AddCallbackURL(const char* callback_url);
    HLY_Result FindCallbackURL(const char* callback_url);
    const HLY_Array<HLY_String>& GetCallbackURLs() const { return m_CallbackURLs; }
    // how many candidate URLs the CALLBACK header carried (only a few are kept)
    HLY_Cardinal GetOfferedCallbackCount() const { return m_OfferedCallbackCount; }
    // reads a CALLBACK header ("<url><url>..."); fails when no URL is usable.
    // With local, only URLs whose host is an address in the subnet of the
    // interface owning local are kept (events go to no stranger);
    // HLY_ERROR_PERMISSION_DENIED when that left none.
    HLY_Result SetCallbacksFromHeader(const char* callbacks, const HLY_IpAddress* local = nullptr);

    // queues one NOTIFY with the directly evented variables among vars;
    // fails once a NOTIFY to the subscriber failed or too many wait for it,
    // and the service then drops it
    HLY_Result Notify(HLY_List<CVD_StateVariable*>& vars);
    // the NOTIFY itself, and the SEQ advanced (0 only for the first)
    HLY_Result CreateNotifyRequest(HLY_List<CVD_StateVariable*>& vars, HLY_HttpRequest*& request);

    // control point side: the three requests
    static HLY_Result CreateSubscribeRequest(CVD_Service& service, const char* callback_url, HLY_Int32 timeout,
                                             HLY_HttpRequest*& request);
    static HLY_Result CreateRenewRequest(CVD_Service& service, const char* sid, HLY_Int32 timeout,
                                         HLY_HttpRequest*& request);
    static HLY_Result CreateUnsubscribeRequest(CVD_Service& service, const char* sid, HLY_HttpRequest*& request);

    // device side: SUBSCRIBE, renewal and UNSUBSCRIBE for any service of the tree
    static HLY_Result ProcessSubscriptionRequest(CVD_TaskManager*              task_manager,
                                                 CVD_DeviceData&               root,
                                                 HLY_HttpRequest&              request,
                                                 const HLY_HttpRequestContext& context,
                                                 HLY_HttpResponse&             response);

private:
    CVD_EventSubscriber(const CVD_EventSubscriber&)            = delete;
    CVD_EventSubscriber& operator=(const CVD_EventSubscriber&) = delete;

    CVD_TaskManager*          m_TaskManager;
    CVD_Service*              m_Service;
    HLY_UInt32                m_EventKey;
    CVD_EventSubscriberTask*  m_SubscriberTask;
    HLY_String                m_SID;
    HLY_SocketAddress         m_LocalIf;
    HLY_Array<HLY_String>     m_CallbackURLs;
    HLY_Cardinal              m_OfferedCallbackCount;
    HLY_TimeStamp             m_ExpirationTime;
};

class CVD_EventSubscriberFinderBySID
{
public:
    explicit CVD_EventSubscriberFinderBySID(const char* sid) : m_SID(sid) {}
    bool operator()(const CVD_EventSubscriberReference& s) const { return s->GetSID() == m_SID; }
private:
    HLY_String m_SID;
};

/*----------------------------------------------------------------------
|   CVD_EventNotification: one NOTIFY received by a control point
+---------------------------------------------------------------------*/
class CVD_EventNotification
{
public:
    // a new notification, or null with the response's status set
    static CVD_EventNotification* Parse(const HLY_HttpRequest&        request,
                                        const HLY_HttpRequestContext& context,
                                        HLY_HttpResponse&             response);

    HLY_TimeStamp m_ReceptionTime;
    HLY_HttpUrl   m_RequestUrl;
    HLY_String    m_SID;
    HLY_UInt32    m_EventKey;
    HLY_String    m_XmlBody;

private:
    CVD_EventNotification() : m_EventKey(0) {}
};

#endif // CVD_EVENT_H
