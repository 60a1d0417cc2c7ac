#ifndef CVD_CTRL_POINT_H
#define CVD_CTRL_POINT_H

#include "CvdAction.h"
#include "CvdDeviceData.h"
#include "CvdEvent.h"
#include "CvdHttpServer.h"
#include "CvdSsdp.h"
#include "CvdStateVariable.h"
#include "CvdTaskManager.h"
#include "CvdUPnP.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlyreferences.h"
#include "hlythreads.h"

class CVD_CtrlPointHttpTask;
class CVD_CtrlPointGetSCPDsTask;
class CVD_CtrlPointSubscribeEventTask;

/*----------------------------------------------------------------------
|   bounds: every device on the network may lie, and each inspection is a
|   thread holding a document in memory
+---------------------------------------------------------------------*/
// inspections (description and service-description fetches) in flight:
// a flood of announcements with fresh UUIDs must not become a flood of
// threads; what is dropped comes back with the next announcement or search
#define CVD_CTRLPOINT_MAX_INSPECTIONS 64
// announced devices waiting for a free inspection: a burst of real devices
// (hundreds answering one search) is inspected in turn, not lost; beyond
// this the burst is a flood and is dropped
#define CVD_CTRLPOINT_MAX_WAITING_INSPECTIONS 1024
// root devices kept: a home network has tens; beyond this the flood is hostile
#define CVD_CTRLPOINT_MAX_ROOT_DEVICES 2048
// a device description read into memory (real ones are a few KB)
#define CVD_CTRLPOINT_MAX_DESCRIPTION_SIZE (256 * 1024)
// a service description read into memory (real ones are a few to 50 KB)
#define CVD_CTRLPOINT_MAX_SCPD_SIZE (512 * 1024)
// an action answer read into memory (Browse answers can run to megabytes)
#define CVD_CTRLPOINT_MAX_ACTION_RESPONSE_SIZE (16 * 1024 * 1024)
// an event body processed (LastChange of a busy renderer is a few KB)
#define CVD_CTRLPOINT_MAX_EVENT_BODY_SIZE (512 * 1024)
// connecting to a device on the LAN takes milliseconds
#define CVD_CTRLPOINT_CONNECT_TIMEOUT_MS 3000
// the whole exchange of one description, SCPD or subscription, a slow
// sender included (a document trickling in is cut off here)
#define CVD_CTRLPOINT_FETCH_TIMEOUT_MS 10000
// the whole exchange of one action: a media server may take a while to
// build a large Browse answer
#define CVD_CTRLPOINT_ACTION_TIMEOUT_MS 30000
// how often exchanges past their time-out are cut off
#define CVD_CTRLPOINT_WATCHDOG_PERIOD_MS 250
// description fetches wait this long so that a burst of announcements settles
#define CVD_CTRLPOINT_DESCRIPTION_DELAY_MS 500
// service-description fetches wait this long (longer with embedded devices)
#define CVD_CTRLPOINT_SCPD_DELAY_MS          100
#define CVD_CTRLPOINT_SCPD_DELAY_EMBEDDED_MS 1000
// embedded devices nest at most this many levels below the root
#define CVD_CTRLPOINT_MAX_EMBEDDED_LEVEL 5
// notifications kept while their subscriber is not known yet
#define CVD_CTRLPOINT_MAX_PENDING_NOTIFICATIONS 21
// a subscription is renewed when fewer seconds than this remain
#define CVD_CTRLPOINT_RENEWAL_MARGIN_SECONDS 90
// how often leases and subscriptions are looked at
#define CVD_CTRLPOINT_HOUSEKEEPING_PERIOD_MS 5000
// the search at Start: devices answer within 5 s, and it repeats every 50 s
#define CVD_CTRLPOINT_SEARCH_MX              5
#define CVD_CTRLPOINT_SEARCH_FREQUENCY_S     50

/*----------------------------------------------------------------------
|   CVD_CtrlPointLimits: the bounds above, adjustable before Start (tests
|   and the benchmark use short ones)
+---------------------------------------------------------------------*/
struct CVD_CtrlPointLimits
{
    HLY_Cardinal m_MaxInspections       = CVD_CTRLPOINT_MAX_INSPECTIONS;
    HLY_Cardinal m_MaxWaitingInspections = CVD_CTRLPOINT_MAX_WAITING_INSPECTIONS;
    HLY_Cardinal m_MaxRootDevices       = CVD_CTRLPOINT_MAX_ROOT_DEVICES;
    HLY_Size     m_MaxDescriptionSize   = CVD_CTRLPOINT_MAX_DESCRIPTION_SIZE;
    HLY_Size     m_MaxSCPDSize          = CVD_CTRLPOINT_MAX_SCPD_SIZE;
    HLY_Size     m_MaxActionSize        = CVD_CTRLPOINT_MAX_ACTION_RESPONSE_SIZE;
    HLY_Size     m_MaxEventBodySize     = CVD_CTRLPOINT_MAX_EVENT_BODY_SIZE;
    HLY_Timeout  m_ConnectTimeout       = CVD_CTRLPOINT_CONNECT_TIMEOUT_MS;
    HLY_Timeout  m_FetchTimeout         = CVD_CTRLPOINT_FETCH_TIMEOUT_MS;
    HLY_Timeout  m_ActionTimeout        = CVD_CTRLPOINT_ACTION_TIMEOUT_MS;
    HLY_Timeout  m_HouseKeepingPeriod   = CVD_CTRLPOINT_HOUSEKEEPING_PERIOD_MS;
    HLY_Timeout  m_DescriptionDelay     = CVD_CTRLPOINT_DESCRIPTION_DELAY_MS;
    // the TIMEOUT asked for in subscriptions; 0: the engine's default
    HLY_Int32    m_SubscriptionLease    = 0;
};

/*----------------------------------------------------------------------
|   CVD_CtrlPointListener: called with the control point's lock held, on
|   an engine thread; may call back into the control point on that thread
+---------------------------------------------------------------------*/
class CVD_CtrlPointListener
{
public:
    virtual ~CVD_CtrlPointListener() {}
    virtual HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device)   = 0;
    virtual HLY_Result OnDeviceRemoved(CVD_DeviceDataReference& device) = 0;
    virtual HLY_Result OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata) = 0;
    virtual HLY_Result OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) = 0;
};

/*----------------------------------------------------------------------
|   CVD_CtrlPoint
+---------------------------------------------------------------------*/
class CVD_CtrlPoint : public CVD_SsdpPacketListener,
                      public CVD_SsdpSearchResponseListener,
                      public HLY_HttpRequestHandler,
                      public CVD_UPnPCtrlPointInterface
{
public:
    explicit CVD_CtrlPoint(const char* search_criteria = CVD_SSDP_ROOTDEVICE);
    ~CVD_CtrlPoint() override;

    // CVD_SsdpPacketListener
    HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context) override;

    virtual HLY_Result GetPort(HLY_UInt16& port);
    virtual HLY_Result AddListener(CVD_CtrlPointListener* listener);
    virtual HLY_Result RemoveListener(CVD_CtrlPointListener* listener);
    HLY_Result IgnoreUUID(const char* uuid) override;
    virtual HLY_Result Search(const HLY_HttpUrl& url, const char* target, HLY_UInt32 mx, HLY_TimeInterval frequency,
                              HLY_TimeInterval initial_delay);
    virtual HLY_Result Discover(const HLY_HttpUrl& url, const char* target, HLY_UInt32 mx,
                                HLY_TimeInterval frequency, HLY_TimeInterval initial_delay);
    virtual HLY_Result InspectDevice(const HLY_HttpUrl& location, const char* uuid, HLY_TimeInterval leasetime);
    virtual HLY_Result FindActionDesc(CVD_DeviceDataReference& device, const char* service_type,
                                      const char* action_name, CVD_ActionDesc*& action_desc);
    virtual HLY_Result CreateAction(CVD_DeviceDataReference& device, const char* service_type,
                                    const char* action_name, CVD_ActionReference& action);
    virtual HLY_Result InvokeAction(CVD_ActionReference& action, void* userdata = nullptr);
    virtual HLY_Result Subscribe(CVD_Service* service, bool cancel = false, void* userdata = nullptr);
    virtual HLY_Result DecomposeLastChangeVar(HLY_List<CVD_StateVariable*>& vars);

    HLY_Result Start(CVD_SsdpListenTask* task) override;
    HLY_Result Stop(CVD_SsdpListenTask* task) override;

    // CVD_SsdpSearchResponseListener
    HLY_Result ProcessSsdpSearchResponse(HLY_Result result, const HLY_HttpRequestContext& context,
                                         HLY_HttpResponse* response) override;
    // HLY_HttpRequestHandler: the event server
    HLY_Result SetupResponse(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                             HLY_HttpResponse& response) override;

    // before Start
    void SetLimits(const CVD_CtrlPointLimits& limits) { m_Limits = limits; }
    const CVD_CtrlPointLimits& GetLimits() const { return m_Limits; }

    // snapshots, for callers and tests
    HLY_Result FindDevice(const char* uuid, CVD_DeviceDataReference& device, bool return_root = false);
    HLY_List<CVD_DeviceDataReference> GetRootDevices();
    HLY_Cardinal GetSubscriberCount();
    HLY_Result GetSubscriber(CVD_Service* service, CVD_EventSubscriberReference& subscriber);
    // subscription answers accepted, and cancellations the device confirmed
    HLY_Cardinal GetSubscriptionAnswerCount();
    HLY_Cardinal GetCancelledSubscriptionCount();
    HLY_Cardinal GetPendingInspectionCount();
    HLY_Cardinal GetPendingNotificationCount();
    // inspections waiting for a free one
    HLY_Cardinal GetWaitingInspectionCount();
    // inspections dropped because CVD_CTRLPOINT_MAX_INSPECTIONS were in flight
    // and CVD_CTRLPOINT_MAX_WAITING_INSPECTIONS waited
    HLY_Cardinal GetDroppedInspectionCount();
    // runs one housekeeping pass now
    HLY_Result RunHouseKeeping();

    // the response hooks of the tasks; bodies were read, within their bounds,
    // by the task (null when that failed), outside the lock
    virtual HLY_Result ProcessSsdpNotify(HLY_HttpRequest& request, const HLY_HttpRequestContext& context);
    virtual HLY_Result ProcessSsdpMessage(HLY_HttpMessage& message, const HLY_HttpRequestContext& context,
                                          const HLY_String& uuid);
    virtual HLY_Result ProcessGetDescriptionResponse(HLY_Result result, const HLY_HttpRequest& request,
                                                     const HLY_HttpRequestContext& context,
                                                     HLY_HttpResponse* response, const HLY_String* body,
                                                     HLY_TimeInterval leasetime, const HLY_String& uuid);
    // remaining: the requests still queued on the task after this one
    virtual HLY_Result ProcessGetSCPDResponse(HLY_Result result, const HLY_HttpRequest& request,
                                              const HLY_HttpRequestContext& context, HLY_HttpResponse* response,
                                              const HLY_String* body, CVD_DeviceDataReference& device);
    virtual HLY_Result ProcessActionResponse(HLY_Result result, const HLY_HttpRequest& request,
                                             const HLY_HttpRequestContext& context, HLY_HttpResponse* response,
                                             const HLY_String* body, CVD_ActionReference& action, void* userdata);
    virtual HLY_Result ProcessSubscribeResponse(HLY_Result result, const HLY_HttpRequest& request,
                                                const HLY_HttpRequestContext& context, HLY_HttpResponse* response,
                                                CVD_Service* service, void* userdata);
    virtual HLY_Result ProcessHttpNotify(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                                         HLY_HttpResponse& response);
    virtual HLY_Result NotifyDeviceAdded(CVD_DeviceDataReference& root);
    virtual HLY_Result RemoveDevice(CVD_DeviceDataReference& root);

private:
    friend class CVD_CtrlPointHttpTask;
    friend class CVD_CtrlPointGetSCPDsTask;
    friend class CVD_CtrlPointHouseKeepingTask;

    HLY_Result CleanupDevice(CVD_DeviceDataReference& device);
    HLY_Result FetchDeviceSCPDs(CVD_CtrlPointGetSCPDsTask* task, CVD_DeviceDataReference& device, int level);
    CVD_CtrlPointSubscribeEventTask* RenewSubscriber(CVD_EventSubscriberReference& subscriber);
    HLY_Result ProcessEventNotification(CVD_EventSubscriberReference& subscriber,
                                        CVD_EventNotification* notification, HLY_List<CVD_StateVariable*>& vars);
    HLY_Result ProcessPendingEventNotifications();
    void DeliverNotification(CVD_EventSubscriberReference& subscriber, CVD_EventNotification* notification);
    void Tell(CVD_DeviceDataReference& device, bool added);
    bool IsIgnored(const HLY_String& uuid);
    bool AllServicesDescribed(CVD_DeviceDataReference& device);
    HLY_Int32 GetSubscriptionLease() const;
    // the watchdog: fetches past their time-out are cut off
    void RegisterFetch(CVD_CtrlPointHttpTask* task);
    void UnregisterFetch(CVD_CtrlPointHttpTask* task);
    void ExpireFetches();
    void OnInspectionTaskEnded();
    HLY_Result StartInspection(const HLY_HttpUrl& location, const HLY_String& uuid, HLY_TimeInterval leasetime);
    void StartWaitingInspections();

    struct WaitingInspection
    {
        HLY_HttpUrl      m_Location;
        HLY_String       m_UUID;
        HLY_TimeInterval m_LeaseTime;
        bool operator==(const WaitingInspection& other) const { return m_UUID == other.m_UUID; }
    };

    CVD_CtrlPoint(const CVD_CtrlPoint&)            = delete;
    CVD_CtrlPoint& operator=(const CVD_CtrlPoint&) = delete;

    HLY_List<HLY_String>                   m_IgnoredUUIDs;
    HLY_List<CVD_CtrlPointListener*>       m_Listeners;
    HLY_Reference<CVD_HttpServer>          m_EventServer;
    HLY_Reference<CVD_TaskManager>         m_TaskManager;
    HLY_Mutex                              m_Lock;
    HLY_List<CVD_DeviceDataReference>      m_RootDevices;
    HLY_List<CVD_EventSubscriberReference> m_Subscribers;
    HLY_String                             m_SearchTarget;
    bool                                   m_Started;
    HLY_List<CVD_EventNotification*>       m_PendingNotifications;
    HLY_List<HLY_String>                   m_PendingInspections;
    HLY_List<WaitingInspection>            m_WaitingInspections;

    CVD_CtrlPointLimits                    m_Limits;
    // services whose description arrived (a service object has no such mark)
    HLY_List<CVD_Service*>                 m_DescribedServices;
    HLY_Cardinal                           m_InspectionsInFlight;
    HLY_Cardinal                           m_DroppedInspections;
    HLY_Cardinal                           m_SubscriptionAnswers;
    HLY_Cardinal                           m_CancelledSubscriptions;
    CVD_SsdpListenTask*                    m_ListenTask;
    HLY_Mutex                              m_FetchLock;
    HLY_List<CVD_CtrlPointHttpTask*>       m_Fetches;
};

typedef HLY_Reference<CVD_CtrlPoint> CVD_CtrlPointReference;

#endif // CVD_CTRL_POINT_H
