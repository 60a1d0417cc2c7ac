#include "CvdCtrlPoint.h"
#include "CvdConstants.h"
#include "CvdCtrlPointTask.h"
#include "CvdHttp.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.ctrlpoint")

namespace {

bool IsSuccessStatus(const HLY_HttpResponse* response)
{
    return response && response->GetStatusCode() >= 200 && response->GetStatusCode() <= 299;
}

// the UUID of a USN that names either the target itself or "uuid:X::target"
HLY_Result ExtractUUID(const HLY_String& usn, const HLY_String& target, HLY_String& uuid)
{
    if (usn.GetLength() <= 5 || !usn.StartsWith("uuid:", true)) return HLY_FAILURE;
    if (usn == target) {
        uuid = usn.SubString(5);
        return HLY_SUCCESS;
    }
    int separator = usn.Find("::");
    if (separator < 0) return HLY_FAILURE;
    HLY_String rest = usn.SubString(separator + 2);
    // exactly two parts
    if (rest.Find("::") >= 0 || rest.Compare(target, true) != 0) return HLY_FAILURE;
    uuid = usn.SubString(5, separator - 5);
    return uuid.IsEmpty() ? HLY_FAILURE : HLY_SUCCESS;
}

HLY_Result FindSubscriberByService(HLY_List<CVD_EventSubscriberReference>& subscribers,
                                   CVD_Service*                            service,
                                   CVD_EventSubscriberReference&           subscriber)
{
    for (HLY_List<CVD_EventSubscriberReference>::Iterator it = subscribers.GetFirstItem(); it; ++it) {
        if ((*it)->GetService() == service) {
            subscriber = *it;
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_NO_SUCH_ITEM;
}

HLY_String EventPath(CVD_Service* service)
{
    return "/" + service->GetDevice()->GetUUID() + "/" + service->GetServiceID();
}

} // namespace

/*----------------------------------------------------------------------
|   construction
+---------------------------------------------------------------------*/
CVD_CtrlPoint::CVD_CtrlPoint(const char* search_criteria)
    : m_SearchTarget(search_criteria ? search_criteria : ""),
      m_Started(false),
      m_InspectionsInFlight(0),
      m_DroppedInspections(0),
      m_SubscriptionAnswers(0),
      m_CancelledSubscriptions(0),
      m_ListenTask(nullptr)
{
}

CVD_CtrlPoint::~CVD_CtrlPoint()
{
    CVD_EventNotification* notification = nullptr;
    while (HLY_SUCCEEDED(m_PendingNotifications.PopHead(notification))) delete notification;
}

/*----------------------------------------------------------------------
|   simple operations
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::GetPort(HLY_UInt16& port)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started || m_EventServer.IsNull()) return HLY_ERROR_INVALID_STATE;
    port = m_EventServer->GetPort();
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::AddListener(CVD_CtrlPointListener* listener)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Listeners.Contains(listener)) m_Listeners.Add(listener);
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::RemoveListener(CVD_CtrlPointListener* listener)
{
    HLY_AutoLock lock(m_Lock);
    m_Listeners.Remove(listener);
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::IgnoreUUID(const char* uuid)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_IgnoredUUIDs.Contains(HLY_String(uuid))) m_IgnoredUUIDs.Add(HLY_String(uuid));
    return HLY_SUCCESS;
}

bool CVD_CtrlPoint::IsIgnored(const HLY_String& uuid)
{
    // the engine may add a hosted device's UUID while we run
    HLY_AutoLock lock(m_Lock);
    return m_IgnoredUUIDs.Contains(uuid);
}

HLY_List<CVD_DeviceDataReference> CVD_CtrlPoint::GetRootDevices()
{
    HLY_AutoLock lock(m_Lock);
    return m_RootDevices;
}

HLY_Cardinal CVD_CtrlPoint::GetSubscriberCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_Subscribers.GetItemCount();
}

HLY_Result CVD_CtrlPoint::GetSubscriber(CVD_Service* service, CVD_EventSubscriberReference& subscriber)
{
    HLY_AutoLock lock(m_Lock);
    return FindSubscriberByService(m_Subscribers, service, subscriber);
}

HLY_Cardinal CVD_CtrlPoint::GetPendingInspectionCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_InspectionsInFlight;
}

HLY_Cardinal CVD_CtrlPoint::GetPendingNotificationCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_PendingNotifications.GetItemCount();
}

HLY_Cardinal CVD_CtrlPoint::GetWaitingInspectionCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_WaitingInspections.GetItemCount();
}

HLY_Cardinal CVD_CtrlPoint::GetDroppedInspectionCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_DroppedInspections;
}

HLY_Cardinal CVD_CtrlPoint::GetSubscriptionAnswerCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_SubscriptionAnswers;
}

HLY_Cardinal CVD_CtrlPoint::GetCancelledSubscriptionCount()
{
    HLY_AutoLock lock(m_Lock);
    return m_CancelledSubscriptions;
}

HLY_Int32 CVD_CtrlPoint::GetSubscriptionLease() const
{
    return m_Limits.m_SubscriptionLease > 0 ? m_Limits.m_SubscriptionLease
                                            : (HLY_Int32)CVD_Constants::GetInstance().GetDefaultSubscribeLease();
}

HLY_Result CVD_CtrlPoint::FindDevice(const char* uuid, CVD_DeviceDataReference& device, bool return_root)
{
    HLY_AutoLock lock(m_Lock);
    for (HLY_List<CVD_DeviceDataReference>::Iterator it = m_RootDevices.GetFirstItem(); it; ++it) {
        if ((*it)->GetUUID() == uuid) {
            device = *it;
            return HLY_SUCCESS;
        }
        if (HLY_SUCCEEDED((*it)->FindEmbeddedDevice(uuid, device))) {
            if (return_root) device = *it;
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_NO_SUCH_ITEM;
}

/*----------------------------------------------------------------------
|   Start / Stop
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::Start(CVD_SsdpListenTask* task)
{
    {
        HLY_AutoLock lock(m_Lock);
        if (m_Started) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);

        m_TaskManager = HLY_Reference<CVD_TaskManager>(new CVD_TaskManager());
        m_EventServer = HLY_Reference<CVD_HttpServer>(new CVD_HttpServer(HLY_IpAddress::Any, 0, false, 50, false));
        m_EventServer->AddRequestHandler(this, "/", true, false);
        m_EventServer->Start();

        HLY_TimeInterval period = HLY_TimeInterval::FromMillis(m_Limits.m_HouseKeepingPeriod);
        m_TaskManager->StartTask(new CVD_CtrlPointHouseKeepingTask(this, period));

        m_ListenTask = task;
        m_Started    = true;
    }
    // outside the lock: the listen task holds its own while it hands us a datagram
    if (task) task->AddListener(this);
    if (m_SearchTarget.IsEmpty()) return HLY_SUCCESS;
    return Search(HLY_HttpUrl(CVD_SSDP_MULTICAST_ADDRESS, CVD_SSDP_PORT, "*"), m_SearchTarget,
                  CVD_CTRLPOINT_SEARCH_MX, HLY_TimeInterval::FromSeconds(CVD_CTRLPOINT_SEARCH_FREQUENCY_S),
                  HLY_TimeInterval());
}

HLY_Result CVD_CtrlPoint::Stop(CVD_SsdpListenTask* task)
{
    HLY_Reference<CVD_HttpServer>  server;
    HLY_Reference<CVD_TaskManager> tasks;
    {
        HLY_AutoLock lock(m_Lock);
        if (!m_Started) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);
        m_Started = false;
        server    = m_EventServer;
        tasks     = m_TaskManager;
    }
    if (task) task->RemoveListener(this);

    // without the lock: the tasks' last answers need it on their way out
    server->Stop();
    tasks->StopAllTasks();

    HLY_AutoLock lock(m_Lock);
    for (HLY_List<CVD_DeviceDataReference>::Iterator it = m_RootDevices.GetFirstItem(); it; ++it) Tell(*it, false);
    m_RootDevices.Clear();
    m_Subscribers.Clear();
    m_DescribedServices.Clear();
    // the fetches they stood for were stopped: a later start must inspect again
    m_PendingInspections.Clear();
    m_WaitingInspections.Clear();
    CVD_EventNotification* notification = nullptr;
    while (HLY_SUCCEEDED(m_PendingNotifications.PopHead(notification))) delete notification;
    m_EventServer = nullptr;
    m_TaskManager = nullptr;
    m_ListenTask  = nullptr;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   searching
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::Search(const HLY_HttpUrl& /*url*/, const char* target, HLY_UInt32 mx,
                                 HLY_TimeInterval frequency, HLY_TimeInterval initial_delay)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);

    HLY_List<HLY_NetworkInterface*> if_list;
    HLY_CHECK_SEVERE(CVD_UPnPMessageHelper::GetNetworkInterfaces(if_list, true));
    for (HLY_List<HLY_NetworkInterface*>::Iterator it = if_list.GetFirstItem(); it; ++it) {
        HLY_Flags flags = (*it)->GetFlags();
        if (!(flags & (HLY_NETWORK_INTERFACE_FLAG_MULTICAST | HLY_NETWORK_INTERFACE_FLAG_BROADCAST))) continue;
        for (HLY_List<HLY_NetworkInterfaceAddress>::Iterator a = (*it)->GetAddresses().GetFirstItem(); a; ++a) {
            CVD_SsdpSearchTask* task = nullptr;
            if (HLY_FAILED(CVD_SsdpSearchTask::Create(this, a->GetPrimaryAddress(), target, mx, frequency, task))) {
                continue;
            }
            HLY_TimeInterval delay = initial_delay;
            m_TaskManager->StartTask(task, &delay);
        }
    }
    for (HLY_List<HLY_NetworkInterface*>::Iterator it = if_list.GetFirstItem(); it; ++it) delete *it;
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::Discover(const HLY_HttpUrl& url, const char* target, HLY_UInt32 mx,
                                   HLY_TimeInterval frequency, HLY_TimeInterval initial_delay)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);
    if (mx == 0) mx = 1;
    HLY_HttpRequest* request = new HLY_HttpRequest(url, CVD_SSDP_METHOD_MSEARCH, HLY_HTTP_PROTOCOL_1_1);
    CVD_UPnPMessageHelper::SetMX(*request, mx);
    CVD_UPnPMessageHelper::SetST(*request, target);
    CVD_UPnPMessageHelper::SetMANHeader(*request, CVD_SSDP_MAN_DISCOVER);
    request->GetHeaders().SetHeader(HLY_HTTP_HEADER_USER_AGENT, CVD_Constants::GetInstance().GetDefaultUserAgent());
    CVD_UPnPMessageHelper::SetHost(*request, CVD_SSDP_HOST);
    if (frequency.ToNanos() > 0 && frequency.ToMillis() < 5000) frequency = HLY_TimeInterval::FromSeconds(5);
    CVD_SsdpSearchTask* task = new CVD_SsdpSearchTask(new HLY_UdpSocket(HLY_SOCKET_FLAG_CANCELLABLE), this,
                                                      request, frequency);
    HLY_TimeInterval delay = initial_delay;
    return m_TaskManager->StartTask(task, &delay);
}

HLY_Result CVD_CtrlPoint::ProcessSsdpSearchResponse(HLY_Result result, const HLY_HttpRequestContext& context,
                                                    HLY_HttpResponse* response)
{
    HLY_CHECK_SEVERE(result);
    HLY_CHECK_POINTER_SEVERE(response);
    HLY_String prefix = HLY_String::Format("CVD_CtrlPoint::ProcessSsdpSearchResponse from %s:%d",
                                           context.GetRemoteAddress().GetIpAddress().ToString().GetChars(),
                                           (int)context.GetRemoteAddress().GetPort());
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, prefix, response);
    if (!IsSuccessStatus(response)) return HLY_FAILURE;

    const HLY_String* st  = CVD_UPnPMessageHelper::GetST(*response);
    const HLY_String* usn = CVD_UPnPMessageHelper::GetUSN(*response);
    const HLY_String* ext = response->GetHeaders().GetHeaderValue("ext");
    HLY_CHECK_POINTER_SEVERE(st);
    HLY_CHECK_POINTER_SEVERE(usn);
    HLY_CHECK_POINTER_SEVERE(ext);

    HLY_String uuid;
    if (HLY_FAILED(ExtractUUID(*usn, *st, uuid))) return HLY_FAILURE;
    if (IsIgnored(uuid)) {
        HLY_LOG_FINE("CtrlPoint received a search response from ourselves (%s)\n", uuid.GetChars());
        return HLY_SUCCESS;
    }
    return ProcessSsdpMessage(*response, context, uuid);
}

/*----------------------------------------------------------------------
|   announcements
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context)
{
    return ProcessSsdpNotify(request, context);
}

HLY_Result CVD_CtrlPoint::ProcessSsdpNotify(HLY_HttpRequest& request, const HLY_HttpRequestContext& context)
{
    if (request.GetMethod() != CVD_SSDP_METHOD_NOTIFY) return HLY_FAILURE;

    const HLY_String* nt  = CVD_UPnPMessageHelper::GetNT(request);
    const HLY_String* nts = CVD_UPnPMessageHelper::GetNTS(request);
    const HLY_String* usn = CVD_UPnPMessageHelper::GetUSN(request);
    HLY_String prefix = HLY_String::Format("CVD_CtrlPoint::ProcessSsdpNotify from %s:%d (%s)",
                                           context.GetRemoteAddress().GetIpAddress().ToString().GetChars(),
                                           (int)context.GetRemoteAddress().GetPort(),
                                           usn ? usn->GetChars() : "unknown");
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, prefix, &request);

    if (request.GetUrl().GetPath() != "*" || request.GetProtocol() != HLY_HTTP_PROTOCOL_1_1) return HLY_FAILURE;
    HLY_CHECK_POINTER_SEVERE(nt);
    HLY_CHECK_POINTER_SEVERE(nts);
    HLY_CHECK_POINTER_SEVERE(usn);

    HLY_String uuid;
    if (HLY_FAILED(ExtractUUID(*usn, *nt, uuid))) return HLY_FAILURE;
    if (IsIgnored(uuid)) {
        HLY_LOG_FINE("Received a NOTIFY request from ourselves (%s)\n", uuid.GetChars());
        return HLY_SUCCESS;
    }

    if (nts->Compare(CVD_SSDP_NTS_BYEBYE, true) == 0) {
        HLY_LOG_INFO("Received a byebye NOTIFY request from %s\n", uuid.GetChars());
        HLY_AutoLock            lock(m_Lock);
        CVD_DeviceDataReference root;
        if (HLY_SUCCEEDED(FindDevice(uuid, root, true))) RemoveDevice(root);
        return HLY_SUCCESS;
    }
    return ProcessSsdpMessage(request, context, uuid);
}

HLY_Result CVD_CtrlPoint::ProcessSsdpMessage(HLY_HttpMessage& message, const HLY_HttpRequestContext& context,
                                             const HLY_String& uuid)
{
    HLY_AutoLock lock(m_Lock);
    if (m_IgnoredUUIDs.Contains(uuid)) return HLY_SUCCESS;

    const HLY_String* location = CVD_UPnPMessageHelper::GetLocation(message);
    HLY_CHECK_POINTER_SEVERE(location);

    HLY_HttpUrl url(*location);
    HLY_String  host = url.GetHost();
    host.MakeLowercase();
    // a device that names itself by its loopback address is reached where it sent from
    if (host == "localhost" || host == "127.0.0.1") {
        url.SetHost(context.GetRemoteAddress().GetIpAddress().ToString());
    }

    HLY_TimeInterval leasetime;
    if (HLY_FAILED(CVD_UPnPMessageHelper::GetLeaseTime(message, leasetime))) {
        leasetime = HLY_TimeInterval::FromSeconds(CVD_Constants::GetInstance().GetDefaultDeviceLease());
    }

    CVD_DeviceDataReference device;
    if (HLY_SUCCEEDED(FindDevice(uuid, device))) {
        device->SetLeaseTime(leasetime);
        HLY_LOG_FINE("Device \"%s\" expiration time renewed..", device->GetFriendlyName().GetChars());
        return HLY_SUCCESS;
    }
    return InspectDevice(url, uuid, leasetime);
}

HLY_Result CVD_CtrlPoint::InspectDevice(const HLY_HttpUrl& location, const char* uuid, HLY_TimeInterval leasetime)
{
    HLY_AutoLock lock(m_Lock);
    HLY_String   id(uuid);
    if (m_PendingInspections.Contains(id)) return HLY_SUCCESS;
    if (!m_Started) return HLY_ERROR_INVALID_STATE;
    HLY_LOG_INFO("Inspecting device \"%s\" detected @ %s", uuid, location.ToString().GetChars());
    if (!location.IsValid()) {
        HLY_LOG_INFO("Invalid device description url: %s", location.ToString().GetChars());
        return HLY_FAILURE;
    }
    if (m_InspectionsInFlight >= m_Limits.m_MaxInspections) {
        WaitingInspection waiting = {location, id, leasetime};
        if (m_WaitingInspections.Contains(waiting)) return HLY_SUCCESS;
        if (m_WaitingInspections.GetItemCount() < m_Limits.m_MaxWaitingInspections) {
            return m_WaitingInspections.Add(waiting);
        }
        // logged once per thousand: a flood must not flood the log too
        if (m_DroppedInspections++ % 1000 == 0) {
            HLY_LOG_WARNING("%u inspections in flight and %u waiting, \"%s\" dropped (%u so far)",
                            (unsigned)m_Limits.m_MaxInspections, (unsigned)m_WaitingInspections.GetItemCount(), uuid,
                            (unsigned)m_DroppedInspections);
        }
        return HLY_ERROR_OUT_OF_RESOURCES;
    }
    return StartInspection(location, id, leasetime);
}

HLY_Result CVD_CtrlPoint::StartInspection(const HLY_HttpUrl& location, const HLY_String& uuid,
                                          HLY_TimeInterval leasetime)
{
    m_PendingInspections.Add(uuid);
    HLY_TimeInterval                 delay = HLY_TimeInterval::FromMillis(m_Limits.m_DescriptionDelay);
    CVD_CtrlPointGetDescriptionTask* task  = new CVD_CtrlPointGetDescriptionTask(location, this, leasetime, uuid);
    // counted before the start: a refused task is deleted at once and uncounts itself
    ++m_InspectionsInFlight;
    task->SetCounted();
    HLY_Result res = m_TaskManager->StartTask(task, &delay);
    if (HLY_FAILED(res)) m_PendingInspections.Remove(uuid);
    return res;
}

// under m_Lock, whenever an inspection ended
void CVD_CtrlPoint::StartWaitingInspections()
{
    while (m_Started && m_WaitingInspections.GetItemCount() &&
           m_InspectionsInFlight < m_Limits.m_MaxInspections) {
        WaitingInspection next;
        m_WaitingInspections.PopHead(next);
        CVD_DeviceDataReference known;
        if (m_PendingInspections.Contains(next.m_UUID) || HLY_SUCCEEDED(FindDevice(next.m_UUID, known))) continue;
        StartInspection(next.m_Location, next.m_UUID, next.m_LeaseTime);
    }
}

/*----------------------------------------------------------------------
|   descriptions
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::ProcessGetDescriptionResponse(HLY_Result result, const HLY_HttpRequest& request,
                                                        const HLY_HttpRequestContext& context,
                                                        HLY_HttpResponse* response, const HLY_String* body,
                                                        HLY_TimeInterval leasetime, const HLY_String& uuid)
{
    HLY_AutoLock lock(m_Lock);
    m_PendingInspections.Remove(uuid);
    if (!m_Started) return HLY_ERROR_INVALID_STATE;

    HLY_String url    = request.GetUrl().ToString();
    HLY_String prefix = HLY_String::Format("CVD_CtrlPoint::ProcessGetDescriptionResponse @ %s (result = %d, status = %d)",
                                           url.GetChars(), (int)result, response ? response->GetStatusCode() : 0);
    HLY_Result              res = result;
    CVD_DeviceDataReference root;
    if (HLY_FAILED(res)) goto failure;
    if (response == nullptr) {
        HLY_LOG_FATAL("@@@ NULL pointer parameter");
        res = HLY_ERROR_INVALID_PARAMETERS;
        goto failure;
    }
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, prefix, response);
    // an error page is no description
    if (!IsSuccessStatus(response) || body == nullptr) {
        res = HLY_FAILURE;
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(res)", res);
        goto failure;
    }
    res = CVD_DeviceData::SetDescription(root, leasetime, request.GetUrl(), *body, context);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE,
                              "(CVD_DeviceData::SetDescription(root_device, leasetime, request.GetUrl(), desc, context))",
                              res);
        goto failure;
    }
    {
        CVD_DeviceDataReference known;
        if (HLY_SUCCEEDED(FindDevice(root->GetUUID(), known))) return HLY_SUCCESS;
    }
    if (m_RootDevices.GetItemCount() >= m_Limits.m_MaxRootDevices) {
        HLY_LOG_WARNING("%u devices known already, \"%s\" dropped", (unsigned)m_RootDevices.GetItemCount(),
                        root->GetUUID().GetChars());
        return HLY_ERROR_OUT_OF_RESOURCES;
    }
    m_RootDevices.Add(root);
    HLY_LOG_INFO("Device \"%s\" is now known as \"%s\" (%s)", root->GetUUID().GetChars(),
                 root->GetFriendlyName().GetChars(), url.GetChars());
    {
        CVD_CtrlPointGetSCPDsTask* task = new CVD_CtrlPointGetSCPDsTask(this, root);
        res                             = FetchDeviceSCPDs(task, root, 0);
        if (HLY_FAILED(res)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(res = FetchDeviceSCPDs(task, root_device, 0))", res);
            delete task;
            return res;
        }
        if (task->GetRequestCount() == 0) {
            delete task;
            return HLY_SUCCESS;
        }
        HLY_TimeInterval delay = HLY_TimeInterval::FromMillis(root->GetEmbeddedDevices().GetItemCount()
                                                                  ? CVD_CTRLPOINT_SCPD_DELAY_EMBEDDED_MS
                                                                  : CVD_CTRLPOINT_SCPD_DELAY_MS);
        // counted before the start: a refused task is deleted at once and uncounts itself
        ++m_InspectionsInFlight;
        task->SetCounted();
        res = m_TaskManager->StartTask(task, &delay);
        if (HLY_FAILED(res)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(res = m_TaskManager->StartTask(task, &delay))", res);
            return res;
        }
    }
    return HLY_SUCCESS;

failure:
    HLY_LOG_SEVERE("Bad Description response @ %s: %s", url.GetChars(), prefix.GetChars());
    return HLY_FAILED(res) ? res : HLY_FAILURE;
}

void CVD_CtrlPoint::OnInspectionTaskEnded()
{
    HLY_AutoLock lock(m_Lock);
    if (m_InspectionsInFlight) --m_InspectionsInFlight;
    StartWaitingInspections();
}

HLY_Result CVD_CtrlPoint::FetchDeviceSCPDs(CVD_CtrlPointGetSCPDsTask* task, CVD_DeviceDataReference& device,
                                           int level)
{
    const HLY_Array<CVD_DeviceDataReference>& embedded = device->GetEmbeddedDevices();
    if (level >= CVD_CTRLPOINT_MAX_EMBEDDED_LEVEL && embedded.GetItemCount() > 0) {
        HLY_LOG_FATAL("Too many embedded devices depth! ");
        return HLY_FAILURE;
    }
    for (HLY_Cardinal i = 0; i < embedded.GetItemCount(); ++i) {
        CVD_DeviceDataReference child = embedded[i];
        HLY_Result              res   = FetchDeviceSCPDs(task, child, level + 1);
        if (HLY_FAILED(res)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(FetchDeviceSCPDs(task, device->m_EmbeddedDevices[i], level))",
                                  res);
            return res;
        }
    }
    const HLY_Array<CVD_Service*>& services = device->GetServices();
    for (HLY_Cardinal i = 0; i < services.GetItemCount(); ++i) {
        CVD_Service* service = services[i];
        HLY_String   url     = service->GetSCPDURL(true);
        HLY_LOG_FINER("Queueing SCPD request for service \"%s\" of device \"%s\" @ %s",
                      service->GetServiceID().GetChars(), device->GetFriendlyName().GetChars(), url.GetChars());
        if (!HLY_HttpUrl(url).IsValid()) {
            HLY_LOG_SEVERE("Invalid SCPD url \"%s\" for service \"%s\" of device \"%s\"!", url.GetChars(),
                           service->GetServiceID().GetChars(), device->GetFriendlyName().GetChars());
            return HLY_ERROR_INVALID_SYNTAX;
        }
        HLY_CHECK(task->AddRequest(new CVD_CtrlPointGetSCPDRequest(device, service, url)));
    }
    return HLY_SUCCESS;
}

bool CVD_CtrlPoint::AllServicesDescribed(CVD_DeviceDataReference& device)
{
    const HLY_Array<CVD_Service*>& services = device->GetServices();
    for (HLY_Cardinal i = 0; i < services.GetItemCount(); ++i) {
        if (!m_DescribedServices.Contains(services[i])) return false;
    }
    const HLY_Array<CVD_DeviceDataReference>& embedded = device->GetEmbeddedDevices();
    for (HLY_Cardinal i = 0; i < embedded.GetItemCount(); ++i) {
        CVD_DeviceDataReference child = embedded[i];
        if (!AllServicesDescribed(child)) return false;
    }
    return true;
}

HLY_Result CVD_CtrlPoint::ProcessGetSCPDResponse(HLY_Result result, const HLY_HttpRequest& request,
                                                 const HLY_HttpRequestContext& /*context*/,
                                                 HLY_HttpResponse* response, const HLY_String* body,
                                                 CVD_DeviceDataReference& device)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) return HLY_ERROR_INVALID_STATE;

    HLY_String prefix = HLY_String::Format(
        "CVD_CtrlPoint::ProcessGetSCPDResponse for a service of device \"%s\" @ %s (result = %d, status = %d)",
        device->GetFriendlyName().GetChars(), request.GetUrl().ToString().GetChars(), (int)result,
        response ? response->GetStatusCode() : 0);
    const CVD_CtrlPointGetSCPDRequest& scpd_request = static_cast<const CVD_CtrlPointGetSCPDRequest&>(request);
    CVD_Service*                       service      = scpd_request.m_Service;
    HLY_Result                         res          = result;
    CVD_DeviceDataReference            root, same;
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(res)", res);
        goto failure;
    }
    if (response == nullptr) {
        HLY_LOG_FATAL("@@@ NULL pointer parameter");
        res = HLY_ERROR_INVALID_PARAMETERS;
        goto failure;
    }
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, prefix, response);
    res = FindDevice(device->GetUUID(), root, true);
    // the record must still be the one listed: a device removed and found again has a new one
    if (HLY_SUCCEEDED(res) && (HLY_FAILED(FindDevice(device->GetUUID(), same)) || same != device)) {
        root = nullptr;
        res  = HLY_ERROR_NO_SUCH_ITEM;
    }
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(FindDevice(device->GetUUID(), root_device, true))", res);
        goto failure;
    }
    if (!IsSuccessStatus(response) || body == nullptr) {
        res = HLY_FAILURE;
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(res)", res);
        goto failure;
    }
    if (root->GetType() == "urn:dial-multiscreen-org:device:dial:1") return NotifyDeviceAdded(root);

    res = service->SetSCPDXML(*body);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(res)", res);
        goto failure;
    }
    if (!m_DescribedServices.Contains(service)) m_DescribedServices.Add(service);
    if (AllServicesDescribed(root)) NotifyDeviceAdded(root);
    return HLY_SUCCESS;

failure:
    HLY_LOG_SEVERE("Bad SCPD response for device \"%s\":%s", device->GetFriendlyName().GetChars(), prefix.GetChars());
    if (!root.IsNull()) RemoveDevice(root);
    return HLY_FAILED(res) ? res : HLY_FAILURE;
}

/*----------------------------------------------------------------------
|   the device list
+---------------------------------------------------------------------*/
// every listener, for the device and then, depth-first, each embedded device
void CVD_CtrlPoint::Tell(CVD_DeviceDataReference& device, bool added)
{
    for (HLY_List<CVD_CtrlPointListener*>::Iterator it = m_Listeners.GetFirstItem(); it; ++it) {
        if (added) {
            (*it)->OnDeviceAdded(device);
        } else {
            (*it)->OnDeviceRemoved(device);
        }
    }
    const HLY_Array<CVD_DeviceDataReference>& embedded = device->GetEmbeddedDevices();
    for (HLY_Cardinal i = 0; i < embedded.GetItemCount(); ++i) {
        CVD_DeviceDataReference child = embedded[i];
        Tell(child, added);
    }
}

HLY_Result CVD_CtrlPoint::NotifyDeviceAdded(CVD_DeviceDataReference& root)
{
    HLY_AutoLock lock(m_Lock);
    Tell(root, true);
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::RemoveDevice(CVD_DeviceDataReference& root)
{
    HLY_AutoLock lock(m_Lock);
    // the caller's reference may be the list's own entry: keep the record alive
    CVD_DeviceDataReference keep = root;
    Tell(keep, false);
    return CleanupDevice(keep);
}

HLY_Result CVD_CtrlPoint::CleanupDevice(CVD_DeviceDataReference& device)
{
    if (device.IsNull()) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_LOG_INFO("Removing %s from device list\n", device->GetUUID().GetChars());
    const HLY_Array<CVD_DeviceDataReference>& embedded = device->GetEmbeddedDevices();
    for (HLY_Cardinal i = 0; i < embedded.GetItemCount(); ++i) {
        CVD_DeviceDataReference child = embedded[i];
        CleanupDevice(child);
    }
    m_RootDevices.Remove(device);
    const HLY_Array<CVD_Service*>& services = device->GetServices();
    for (HLY_Cardinal i = 0; i < services.GetItemCount(); ++i) {
        m_DescribedServices.Remove(services[i]);
        CVD_EventSubscriberReference subscriber;
        if (HLY_SUCCEEDED(FindSubscriberByService(m_Subscribers, services[i], subscriber))) {
            m_Subscribers.Remove(subscriber);
            HLY_LOG_INFO("Removed subscriber \"%s\"", subscriber->GetSID().GetChars());
        }
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   housekeeping and the watchdog of the exchanges
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::RunHouseKeeping()
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    HLY_List<CVD_CtrlPointSubscribeEventTask*> renewals;
    HLY_Reference<CVD_TaskManager>              tasks;
    {
        HLY_AutoLock                      lock(m_Lock);
        HLY_List<CVD_DeviceDataReference> stale;
        for (HLY_List<CVD_DeviceDataReference>::Iterator it = m_RootDevices.GetFirstItem(); it; ++it) {
            const CVD_DeviceDataReference& device = *it;
            if (now > device->GetLeaseTimeLastUpdate() + device->GetLeaseTime() + device->GetLeaseTime()) {
                stale.Add(device);
            }
        }
        for (HLY_List<CVD_DeviceDataReference>::Iterator it = stale.GetFirstItem(); it; ++it) RemoveDevice(*it);

        HLY_TimeInterval margin = HLY_TimeInterval::FromSeconds(CVD_CTRLPOINT_RENEWAL_MARGIN_SECONDS);
        for (HLY_List<CVD_EventSubscriberReference>::Iterator it = m_Subscribers.GetFirstItem(); it; ++it) {
            if (now > (*it)->GetExpirationTime() - margin) {
                CVD_CtrlPointSubscribeEventTask* task = RenewSubscriber(*it);
                if (task) renewals.Add(task);
            }
        }
        tasks = m_TaskManager;
    }
    for (HLY_List<CVD_CtrlPointSubscribeEventTask*>::Iterator it = renewals.GetFirstItem(); it; ++it) {
        if (tasks.IsNull()) {
            delete *it;
        } else {
            tasks->StartTask(*it);
        }
    }
    return HLY_SUCCESS;
}

void CVD_CtrlPoint::RegisterFetch(CVD_CtrlPointHttpTask* task)
{
    HLY_AutoLock lock(m_FetchLock);
    m_Fetches.Add(task);
}

void CVD_CtrlPoint::UnregisterFetch(CVD_CtrlPointHttpTask* task)
{
    HLY_AutoLock lock(m_FetchLock);
    m_Fetches.Remove(task);
}

void CVD_CtrlPoint::ExpireFetches()
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    // a task leaves the list before it ends, under this lock: those listed are alive
    HLY_AutoLock lock(m_FetchLock);
    for (HLY_List<CVD_CtrlPointHttpTask*>::Iterator it = m_Fetches.GetFirstItem(); it; ++it) (*it)->ExpireIfLate(now);
}

/*----------------------------------------------------------------------
|   actions
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::FindActionDesc(CVD_DeviceDataReference& device, const char* service_type,
                                         const char* action_name, CVD_ActionDesc*& action_desc)
{
    if (device.IsNull()) return HLY_ERROR_INVALID_PARAMETERS;
    CVD_Service* service = nullptr;
    if (HLY_FAILED(device->FindServiceByType(service_type, service))) {
        HLY_LOG_FINE("Service %s not found", service_type);
        return HLY_FAILURE;
    }
    action_desc = service->FindActionDesc(action_name);
    if (action_desc == nullptr) {
        HLY_LOG_FINE("Action %s not found in service", action_name);
        return HLY_FAILURE;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::CreateAction(CVD_DeviceDataReference& device, const char* service_type,
                                       const char* action_name, CVD_ActionReference& action)
{
    if (device.IsNull()) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_AutoLock            lock(m_Lock);
    CVD_ActionDesc*         action_desc = nullptr;
    CVD_DeviceDataReference root_device;
    HLY_CHECK_SEVERE(FindActionDesc(device, service_type, action_name, action_desc));
    HLY_CHECK_SEVERE(FindDevice(device->GetUUID(), root_device, true));
    action = CVD_ActionReference(new CVD_Action(*action_desc, root_device));
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::InvokeAction(CVD_ActionReference& action, void* userdata)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);
    if (action.IsNull()) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_HttpRequest* request = nullptr;
    HLY_CHECK_SEVERE(action->CreateSoapRequest(request));
    return m_TaskManager->StartTask(new CVD_CtrlPointInvokeActionTask(request, this, action, userdata));
}

HLY_Result CVD_CtrlPoint::ProcessActionResponse(HLY_Result result, const HLY_HttpRequest& request,
                                                const HLY_HttpRequestContext& /*context*/,
                                                HLY_HttpResponse* response, const HLY_String* body,
                                                CVD_ActionReference& action, void* userdata)
{
    action->SetError(0, "");
    HLY_Result res = result;
    if (HLY_SUCCEEDED(result) && response && body) {
        CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, "CVD_CtrlPoint::ProcessActionResponse:",
                              response);
        HLY_LOG_FINER("Reading/Parsing Action Response Body...");
        HLY_LOG_FINER("Analyzing Action Response Body...");
        // a fault comes with status 500 and is read all the same
        res = action->ProcessSoapResponse(*body, body->GetLength());
    } else {
        if (HLY_SUCCEEDED(res)) res = HLY_FAILURE;
        HLY_LOG_WARNING("Failed to reach %s for %s.%s (%d)", request.GetUrl().ToString().GetChars(),
                        action->GetActionDesc().GetService()->GetDevice()->GetUUID().GetChars(),
                        action->GetActionDesc().GetName().GetChars(), (int)res);
    }
    if (HLY_SUCCEEDED(res) && response && !IsSuccessStatus(response)) res = HLY_FAILURE;

    HLY_AutoLock lock(m_Lock);
    for (HLY_List<CVD_CtrlPointListener*>::Iterator it = m_Listeners.GetFirstItem(); it; ++it) {
        (*it)->OnActionResponse(res, action, userdata);
    }
    return res;
}

/*----------------------------------------------------------------------
|   subscriptions
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::Subscribe(CVD_Service* service, bool cancel, void* userdata)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);
    HLY_CHECK_POINTER_SEVERE(service);
    if (!service->IsSubscribable()) return HLY_FAILURE;

    CVD_DeviceDataReference root;
    HLY_Result              res = FindDevice(service->GetDevice()->GetUUID(), root, true);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(FindDevice(service->GetDevice()->GetUUID(), root_device, true))",
                              res);
        return res;
    }
    CVD_EventSubscriberReference subscriber;
    bool known = HLY_SUCCEEDED(FindSubscriberByService(m_Subscribers, service, subscriber));

    HLY_HttpRequest* request = nullptr;
    if (!cancel) {
        if (known) {
            CVD_CtrlPointSubscribeEventTask* task = RenewSubscriber(subscriber);
            if (task == nullptr) return HLY_FAILURE;
            return m_TaskManager->StartTask(task);
        }
        HLY_LOG_INFO("Subscribing to service \"%s\" of device \"%s\"", service->GetServiceID().GetChars(),
                     root->GetFriendlyName().GetChars());
        HLY_String callback = HLY_String::Format("http://%s:%d%s", root->GetLocalIP().ToString().GetChars(),
                                                 (int)m_EventServer->GetPort(), EventPath(service).GetChars());
        CVD_EventSubscriber::CreateSubscribeRequest(*service, callback, GetSubscriptionLease(), request);
    } else {
        HLY_LOG_INFO("Unsubscribing subscriber \"%s\" for service \"%s\" of device \"%s\"",
                     known ? subscriber->GetSID().GetChars() : "unknown", service->GetServiceID().GetChars(),
                     root->GetFriendlyName().GetChars());
        if (!known) return HLY_FAILURE;
        CVD_EventSubscriber::CreateUnsubscribeRequest(*service, subscriber->GetSID(), request);
        m_Subscribers.Remove(subscriber);
    }
    if (request == nullptr) {
        HLY_LOG_FATAL("@@@ NULL pointer parameter");
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    return m_TaskManager->StartTask(new CVD_CtrlPointSubscribeEventTask(request, this, root, service, userdata));
}

CVD_CtrlPointSubscribeEventTask* CVD_CtrlPoint::RenewSubscriber(CVD_EventSubscriberReference& subscriber)
{
    HLY_AutoLock            lock(m_Lock);
    CVD_Service*            service = subscriber->GetService();
    CVD_DeviceDataReference root;
    if (HLY_FAILED(FindDevice(service->GetDevice()->GetUUID(), root, true))) return nullptr;
    HLY_LOG_FINE("Renewing subscriber \"%s\" for service \"%s\" of device \"%s\"", subscriber->GetSID().GetChars(),
                 service->GetServiceID().GetChars(), root->GetFriendlyName().GetChars());
    HLY_HttpRequest* request = nullptr;
    if (HLY_FAILED(CVD_EventSubscriber::CreateRenewRequest(*service, subscriber->GetSID(), GetSubscriptionLease(),
                                                           request))) {
        return nullptr;
    }
    return new CVD_CtrlPointSubscribeEventTask(request, this, root, service);
}

HLY_Result CVD_CtrlPoint::ProcessSubscribeResponse(HLY_Result result, const HLY_HttpRequest& request,
                                                   const HLY_HttpRequestContext& /*context*/,
                                                   HLY_HttpResponse* response, CVD_Service* service,
                                                   void* /*userdata*/)
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) return HLY_ERROR_INVALID_STATE;
    HLY_String method = request.GetMethod();
    method.MakeUppercase();
    bool subscription = method == "SUBSCRIBE";
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, "CVD_CtrlPoint::ProcessSubscribeResponse:", response);

    CVD_DeviceDataReference root;
    HLY_Result              res = result;
    const HLY_String*       sid = response ? CVD_EventHeaders::GetSID(*response) : nullptr;
    // the device may have gone while the answer was on its way: its services went with it
    bool listed = false;
    {
        CVD_DeviceDataReference device;
        listed = HLY_SUCCEEDED(FindDevice(service->GetDevice()->GetUUID(), device)) &&
                 device.AsPointer() == service->GetDevice() &&
                 HLY_SUCCEEDED(FindDevice(service->GetDevice()->GetUUID(), root, true));
    }

    if (HLY_SUCCEEDED(res) && IsSuccessStatus(response) && subscription) {
        HLY_Int32 timeout = 0;
        if (sid == nullptr || HLY_FAILED(CVD_EventHeaders::GetTimeOut(*response, timeout))) {
            res = HLY_ERROR_INVALID_SYNTAX;
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(SID and TIMEOUT of the answer)", res);
        } else if (!listed) {
            res = HLY_ERROR_NO_SUCH_ITEM;
        } else {
            CVD_EventSubscriberReference subscriber;
            bool known = HLY_SUCCEEDED(m_Subscribers.Find(CVD_EventSubscriberFinderBySID(*sid), subscriber));
            HLY_LOG_INFO("%s subscriber \"%s\" for service \"%s\" of device \"%s\" (timeout = %d)",
                         known ? "Updating timeout for" : "Creating new", sid->GetChars(),
                         service->GetServiceID().GetChars(), root->GetFriendlyName().GetChars(), (int)timeout);
            if (known) {
                subscriber->SetTimeout(timeout);
            } else {
                m_Subscribers.Add(CVD_EventSubscriberReference(
                    new CVD_EventSubscriber(m_TaskManager.AsPointer(), service, *sid, timeout)));
            }
            ++m_SubscriptionAnswers;
            ProcessPendingEventNotifications();
            return HLY_SUCCESS;
        }
    } else if (HLY_SUCCEEDED(res) && IsSuccessStatus(response) && !subscription) {
        ++m_CancelledSubscriptions;
        return HLY_SUCCESS;
    } else if (HLY_SUCCEEDED(res)) {
        res = HLY_FAILURE;
    }

    HLY_LOG_SEVERE("%subscription failed of sub \"%s\" for service \"%s\" of device \"%s\"",
                   subscription ? "S" : "Uns", sid ? sid->GetChars() : "", service->GetServiceID().GetChars(),
                   listed ? root->GetFriendlyName().GetChars() : "");
    CVD_EventSubscriberReference subscriber;
    if (HLY_SUCCEEDED(FindSubscriberByService(m_Subscribers, service, subscriber))) m_Subscribers.Remove(subscriber);
    return res;
}

/*----------------------------------------------------------------------
|   event notifications
+---------------------------------------------------------------------*/
HLY_Result CVD_CtrlPoint::SetupResponse(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                                        HLY_HttpResponse& response)
{
    if (request.GetMethod() == "NOTIFY") return ProcessHttpNotify(request, context, response);
    HLY_LOG_SEVERE("CtrlPoint received bad http request\r\n");
    response.SetStatus(412, "Precondition Failed");
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::ProcessHttpNotify(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                                            HLY_HttpResponse& response)
{
    HLY_AutoLock lock(m_Lock);
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, "CVD_CtrlPoint::ProcessHttpNotify:", &request);

    CVD_EventNotification*       notification = nullptr;
    CVD_EventSubscriberReference subscriber;
    HLY_HttpEntity*              entity = request.GetEntity();
    if (entity && entity->GetContentLength() > (HLY_LargeSize)m_Limits.m_MaxEventBodySize) {
        HLY_LOG_WARNING("event body of %lld bytes refused", (long long)entity->GetContentLength());
        goto bad_request;
    }
    notification = CVD_EventNotification::Parse(request, context, response);
    if (notification == nullptr) {
        HLY_LOG_WARNING("@@@ NULL pointer parameter");
        goto bad_request;
    }
    if (notification->m_XmlBody.GetLength() > m_Limits.m_MaxEventBodySize) {
        HLY_LOG_WARNING("event body of %u bytes refused", (unsigned)notification->m_XmlBody.GetLength());
        delete notification;
        goto bad_request;
    }
    if (!m_Started) {
        delete notification;
        goto bad_request;
    }

    ProcessPendingEventNotifications();
    if (HLY_FAILED(m_Subscribers.Find(CVD_EventSubscriberFinderBySID(notification->m_SID), subscriber))) {
        HLY_LOG_WARNING("Subscriber %s not found, delaying notification process.\n",
                        notification->m_SID.GetChars());
        while (m_PendingNotifications.GetItemCount() >= CVD_CTRLPOINT_MAX_PENDING_NOTIFICATIONS) {
            CVD_EventNotification* oldest = nullptr;
            m_PendingNotifications.PopHead(oldest);
            delete oldest;
        }
        m_PendingNotifications.Add(notification);
        return HLY_SUCCESS;
    }
    DeliverNotification(subscriber, notification);
    return HLY_SUCCESS;

bad_request:
    HLY_LOG_SEVERE("CtrlPoint received bad event notify request\r\n");
    if (response.GetStatusCode() == 200) response.SetStatus(412, "Precondition Failed");
    return HLY_SUCCESS;
}

void CVD_CtrlPoint::DeliverNotification(CVD_EventSubscriberReference& subscriber, CVD_EventNotification* notification)
{
    HLY_List<CVD_StateVariable*> vars;
    HLY_Result                   res = ProcessEventNotification(subscriber, notification, vars);
    delete notification;
    if (HLY_FAILED(res) || vars.GetItemCount() == 0) return;
    for (HLY_List<CVD_CtrlPointListener*>::Iterator it = m_Listeners.GetFirstItem(); it; ++it) {
        (*it)->OnEventNotify(subscriber->GetService(), &vars);
    }
}

HLY_Result CVD_CtrlPoint::ProcessPendingEventNotifications()
{
    HLY_AutoLock lock(m_Lock);
    HLY_Cardinal count = m_PendingNotifications.GetItemCount();
    while (count--) {
        CVD_EventNotification* notification = nullptr;
        if (HLY_FAILED(m_PendingNotifications.PopHead(notification))) break;
        CVD_EventSubscriberReference subscriber;
        if (HLY_SUCCEEDED(m_Subscribers.Find(CVD_EventSubscriberFinderBySID(notification->m_SID), subscriber))) {
            HLY_LOG_WARNING("Reprocessing delayed notification for subscriber %s", notification->m_SID.GetChars());
            DeliverNotification(subscriber, notification);
        } else {
            m_PendingNotifications.Add(notification);
        }
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::ProcessEventNotification(CVD_EventSubscriberReference& subscriber,
                                                   CVD_EventNotification*        notification,
                                                   HLY_List<CVD_StateVariable*>& vars)
{
    CVD_Service*        service = subscriber->GetService();
    HLY_XmlElementNode* tree    = nullptr;
    HLY_Result          res     = HLY_FAILURE;
    if (notification->m_RequestUrl.GetPath().Compare(EventPath(service), true) != 0) goto failure;
    if (subscriber->GetEventKey() && notification->m_EventKey < subscriber->GetEventKey()) goto failure;
    if (HLY_FAILED(CVD_XmlHelper::Parse(notification->m_XmlBody, notification->m_XmlBody.GetLength(), tree))) {
        goto failure;
    }
    if (tree->GetTag().Compare("propertyset", true) != 0) goto failure;
    for (HLY_List<HLY_XmlNode*>::Iterator it = tree->GetChildren().GetFirstItem(); it; ++it) {
        HLY_XmlElementNode* property = (*it)->AsElementNode();
        if (property == nullptr || property->GetTag().Compare("property", true) != 0) continue;
        HLY_XmlElementNode* element = nullptr;
        for (HLY_List<HLY_XmlNode*>::Iterator c = property->GetChildren().GetFirstItem(); c && !element; ++c) {
            element = (*c)->AsElementNode();
        }
        if (element == nullptr) continue;
        CVD_StateVariable* var = service->FindStateVariable(element->GetTag());
        if (var == nullptr) continue;
        HLY_String value;
        CVD_XmlHelper::GetText(element, value);
        if (HLY_FAILED(var->SetValue(value))) goto failure;
        vars.Add(var);
    }
    subscriber->SetEventKey(notification->m_EventKey);
    DecomposeLastChangeVar(vars);
    delete tree;
    return HLY_SUCCESS;

failure:
    HLY_LOG_SEVERE("CtrlPoint failed to process event notification");
    delete tree;
    // answered 200 all the same; what was accepted still reaches the listeners
    return HLY_SUCCESS;
}

HLY_Result CVD_CtrlPoint::DecomposeLastChangeVar(HLY_List<CVD_StateVariable*>& vars)
{
    HLY_List<CVD_StateVariable*>::Iterator it = vars.Find(CVD_StateVariableNameFinder("LastChange"));
    if (!it) return HLY_SUCCESS;
    CVD_StateVariable* last_change = *it;
    vars.Erase(it);

    HLY_Array<CVD_LastChangeEntry> entries;
    if (HLY_FAILED(CVD_Service::DecomposeLastChange(last_change->GetValue(), entries))) {
        return HLY_ERROR_INVALID_FORMAT;
    }
    CVD_Service* service = last_change->GetService();
    for (HLY_Cardinal i = 0; i < entries.GetItemCount(); ++i) {
        const CVD_LastChangeEntry& entry = entries[i];
        if (entry.m_InstanceID != "0") continue;
        CVD_StateVariable* var = service->FindStateVariable(entry.m_Name);
        if (var == nullptr || HLY_FAILED(var->SetValue(entry.m_Value))) continue;
        if (!vars.Contains(var)) vars.Add(var);
        HLY_LOG_FINE("LastChange var change for (%s): %s", entry.m_Name.GetChars(), entry.m_Value.GetChars());
    }
    return HLY_SUCCESS;
}
