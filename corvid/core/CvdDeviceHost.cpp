#include "CvdDeviceHost.h"
#include "CvdConstants.h"
#include "CvdEvent.h"
#include "CvdHttp.h"
#include "CvdService.h"
#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.devicehost")

// connection tasks of the device's HTTP server (the listen task included)
#define CVD_DEVICE_HOST_MAX_CLIENTS 100
// announcements repeat this much before half the lease runs out
#define CVD_DEVICE_HOST_ANNOUNCE_MARGIN_SECONDS 10
// the repeat of announcements for a device without a lease
#define CVD_DEVICE_HOST_ANNOUNCE_DEFAULT_SECONDS 30
// the first announcement waits up to this many milliseconds, so that
// devices started together do not announce in one burst
#define CVD_DEVICE_HOST_ANNOUNCE_JITTER_MS 100

#define CVD_DEVICE_HOST_XML_CONTENT_TYPE "text/xml; charset=\"utf-8\""

/*----------------------------------------------------------------------
|   CVD_DeviceHost
+---------------------------------------------------------------------*/
namespace {
HLY_String FriendlyName(const char* name, bool show_ip)
{
    HLY_String friendly(name);
    if (show_ip) {
        HLY_List<HLY_IpAddress> addresses;
        CVD_UPnPMessageHelper::GetIPAddresses(addresses);
        if (addresses.GetItemCount()) friendly += " (" + addresses.GetFirstItem()->ToString() + ")";
    }
    return friendly;
}
} // namespace

CVD_DeviceHost::CVD_DeviceHost(const char* description_path,
                               const char* uuid,
                               const char* device_type,
                               const char* friendly_name,
                               bool        show_ip,
                               HLY_UInt16  port,
                               bool        port_rebind)
    : CVD_DeviceData(HLY_HttpUrl("", 0, description_path),
                     uuid ? uuid : "",
                     HLY_TimeInterval::FromSeconds(CVD_Constants::GetInstance().GetDefaultDeviceLease()),
                     device_type ? device_type : "",
                     FriendlyName(friendly_name ? friendly_name : "", show_ip)),
      m_ExtraBroadcast(false),
      m_Port(port),
      m_PortRebind(port_rebind),
      m_ByeByeFirst(true),
      m_Started(false),
      m_SearchResponder(this)
{
}

CVD_DeviceHost::~CVD_DeviceHost()
{
    // a host deleted while running has no listen task left to leave
    if (m_Started) {
        m_Started = false;
        StopTasksAndServer();
        CleanupTree();
    }
}

HLY_Result CVD_DeviceHost::SetupDevice()
{
    HLY_CHECK_FATAL(SetupServices());
    HLY_CHECK_WARNING(SetupIcons());
    return HLY_SUCCESS;
}

void CVD_DeviceHost::CleanupTree()
{
    // the services of embedded devices go too: their eventing ran on our
    // task manager, and someone else may still hold an embedded device
    HLY_Array<CVD_DeviceDataReference> pending(m_EmbeddedDevices);
    while (pending.GetItemCount()) {
        CVD_DeviceDataReference device = pending[pending.GetItemCount() - 1];
        pending.Erase(pending.GetItemCount() - 1);
        for (HLY_Ordinal i = 0; i < device->GetEmbeddedDevices().GetItemCount(); i++) {
            pending.Add(device->GetEmbeddedDevices()[i]);
        }
        device->Cleanup();
    }
    CVD_DeviceData::Cleanup();
}

HLY_Result CVD_DeviceHost::StopTasksAndServer()
{
    // response and subscriber tasks first, then the connections that could start more
    if (!m_TaskManager.IsNull()) m_TaskManager->StopAllTasks();
    if (!m_HttpServer.IsNull()) m_HttpServer->Stop();
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::Start(CVD_SsdpListenTask* task)
{
    if (m_Started) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(((-20000-0) - 9))", HLY_ERROR_INVALID_STATE);
        return HLY_ERROR_INVALID_STATE;
    }
    m_TaskManager = new CVD_TaskManager();
    m_HttpServer  = new CVD_HttpServer(HLY_IpAddress::Any, m_Port, m_PortRebind, CVD_DEVICE_HOST_MAX_CLIENTS, false);
    // services, icons and handlers are in place before the server starts:
    // its connection tasks read the handler list without a lock
    HLY_Result result = SetupDevice();
    if (HLY_SUCCEEDED(result)) {
        m_HttpServer->AddRequestHandler(new CVD_HttpRequestHandler(this), "/", true, true);
        result = m_HttpServer->Start();
    }
    if (HLY_FAILED(result)) {
        StopTasksAndServer();
        CleanupTree();
        m_HttpServer  = nullptr;
        m_TaskManager = nullptr;
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(result)", result);
        return result;
    }
    m_Port = m_HttpServer->GetPort();
    m_URLDescription.SetPort(m_Port);

    HLY_Int64        lease  = m_LeaseTime.ToSeconds();
    HLY_TimeInterval repeat = HLY_TimeInterval::FromSeconds(
        lease ? lease / 2 - CVD_DEVICE_HOST_ANNOUNCE_MARGIN_SECONDS : CVD_DEVICE_HOST_ANNOUNCE_DEFAULT_SECONDS);
    HLY_TimeInterval delay =
        HLY_TimeInterval::FromMillis(HLY_System::GetRandomInteger() % CVD_DEVICE_HOST_ANNOUNCE_JITTER_MS);
    m_TaskManager->StartTask(new CVD_SsdpDeviceAnnounceTask(this, repeat, m_ByeByeFirst, m_ExtraBroadcast), &delay,
                             true);

    if (task) task->AddListener(this);
    m_Started = true;
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::Stop(CVD_SsdpListenTask* task)
{
    if (!m_Started) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(((-20000-0) - 9))", HLY_ERROR_INVALID_STATE);
        return HLY_ERROR_INVALID_STATE;
    }
    m_Started = false;
    // once removed, no search reaches the device: the listener holds its lock while dispatching
    if (task) task->RemoveListener(this);
    StopTasksAndServer();

    HLY_List<HLY_NetworkInterface*> interfaces;
    if (HLY_SUCCEEDED(CVD_UPnPMessageHelper::GetNetworkInterfaces(interfaces, true))) {
        interfaces.Apply(CVD_SsdpAnnounceInterfaceIterator(this, CVD_ANNOUNCETYPE_BYEBYE, m_ExtraBroadcast));
        interfaces.Apply(HLY_ObjectDeleter());
    }

    CleanupTree();
    m_HttpServer  = nullptr;
    m_TaskManager = nullptr;
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::AddIcon(const CVD_DeviceIcon& icon, const void* data, HLY_Size size, bool copy)
{
    if (m_HttpServer.IsNull()) return HLY_ERROR_INVALID_STATE;
    HLY_Result result = m_HttpServer->AddRequestHandler(
        new HLY_HttpStaticRequestHandler(data, size, icon.m_MimeType, copy), icon.m_UrlPath, false, true);
    if (HLY_FAILED(result)) return result;
    CVD_DeviceData::AddIcon(icon);
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::AddIcon(const CVD_DeviceIcon& icon, const char* file_root, const char* url_root)
{
    if (file_root == nullptr || url_root == nullptr || !icon.m_UrlPath.StartsWith(url_root)) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    if (m_HttpServer.IsNull()) return HLY_ERROR_INVALID_STATE;
    HLY_Result result =
        m_HttpServer->AddRequestHandler(new HLY_HttpFileRequestHandler(url_root, file_root), url_root, true, true);
    if (HLY_FAILED(result)) return result;
    CVD_DeviceData::AddIcon(icon);
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::OnAction(CVD_ActionReference& action, const HLY_HttpRequestContext& /*context*/)
{
    action->SetError(CVD_UPNP_ERROR_INVALID_ACTION, "Invalid Action");
    return HLY_FAILURE;
}

/*----------------------------------------------------------------------
|   SSDP
+---------------------------------------------------------------------*/
HLY_Result CVD_DeviceHost::GetDescriptionUrl(const HLY_IpAddress& local_address, HLY_HttpUrl& url)
{
    url = m_URLDescription;
    url.SetScheme("http");
    url.SetHost(local_address.ToString());
    url.SetPort(m_Port);
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::GetNextBootId(HLY_UInt32& id)
{
    id = m_NextBootId;
    return m_NextBootId ? HLY_SUCCESS : HLY_FAILURE;
}

HLY_Result CVD_DeviceHost::GetSsdpTargets(HLY_List<CVD_SsdpTarget>& targets)
{
    // depth first, each device before its embedded ones, without recursion
    HLY_Array<CVD_DeviceData*> pending;
    pending.Add(this);
    while (pending.GetItemCount()) {
        CVD_DeviceData* device = pending[pending.GetItemCount() - 1];
        pending.Erase(pending.GetItemCount() - 1);
        HLY_String uuid = "uuid:" + device->GetUUID();
        if (device == this) targets.Add(CVD_SsdpTarget(CVD_SSDP_ROOTDEVICE, uuid + "::" CVD_SSDP_ROOTDEVICE));
        targets.Add(CVD_SsdpTarget(uuid, uuid));
        targets.Add(CVD_SsdpTarget(device->GetType(), uuid + "::" + device->GetType()));
        const HLY_Array<CVD_Service*>& services = device->GetServices();
        for (HLY_Ordinal i = 0; i < services.GetItemCount(); i++) {
            const HLY_String& type = services[i]->GetServiceType();
            targets.Add(CVD_SsdpTarget(type, uuid + "::" + type));
        }
        const HLY_Array<CVD_DeviceDataReference>& embedded = device->GetEmbeddedDevices();
        for (HLY_Ordinal i = embedded.GetItemCount(); i > 0; i--) pending.Add(embedded[i - 1].AsPointer());
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::SendSsdpSearchResponse(HLY_HttpResponse&        response,
                                                  HLY_UdpSocket&           socket,
                                                  const char*              st,
                                                  const HLY_SocketAddress* address)
{
    CVD_UPnPMessageHelper::SetBootId(response, m_BootId);
    if (m_ConfigId) CVD_UPnPMessageHelper::SetConfigId(response, m_ConfigId);
    return CVD_SsdpDevice::SendSsdpSearchResponse(response, socket, st, address);
}

HLY_Result CVD_DeviceHost::OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context)
{
    if (request.GetMethod() != CVD_SSDP_METHOD_MSEARCH || m_TaskManager.IsNull()) return HLY_FAILURE;
    const HLY_String* st = CVD_UPnPMessageHelper::GetST(request);
    HLY_LOG_FINER("CVD_DeviceHost::OnSsdpPacket M-SEARCH for %s from %s:%d", st ? st->GetChars() : "Unknown",
                  context.GetRemoteAddress().GetIpAddress().ToString().GetChars(),
                  (int)context.GetRemoteAddress().GetPort());
    // well-formedness, MX (capped at 5 s), the subnet of the requester and
    // the cap on waiting answers are the responder's
    return m_SearchResponder.OnSsdpPacket(request, context, *m_TaskManager);
}

/*----------------------------------------------------------------------
|   HTTP
+---------------------------------------------------------------------*/
HLY_Result CVD_DeviceHost::SetupResponse(HLY_HttpRequest&              request,
                                         const HLY_HttpRequestContext& context,
                                         HLY_HttpResponse&             response)
{
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, "CVD_DeviceHost::SetupResponse:", &request);
    const HLY_String& method = request.GetMethod();
    if (method == "POST") return ProcessHttpPostRequest(request, context, response);
    if (method == "SUBSCRIBE" || method == "UNSUBSCRIBE") return ProcessHttpSubscriberRequest(request, context, response);
    if (method == "GET" || method == "HEAD") {
        CVD_Service* service = nullptr;
        if (HLY_SUCCEEDED(FindServiceBySCPDURL(request.GetUrl().FormatRequestTarget(), service, true))) {
            return ProcessGetSCPD(service, request, context, response);
        }
        if (request.GetUrl().GetPath() == m_URLDescription.GetPath()) {
            return ProcessGetDescription(request, context, response);
        }
        return ProcessHttpGetRequest(request, context, response);
    }
    response.SetStatus(405, "Bad Request");
    return HLY_SUCCESS;
}

namespace {
void SetXmlBody(HLY_HttpResponse& response, const HLY_String& document)
{
    HLY_HttpEntity* entity = new HLY_HttpEntity();
    entity->SetInputStream(document);
    entity->SetContentType(CVD_DEVICE_HOST_XML_CONTENT_TYPE);
    response.SetEntity(entity);
}
} // namespace

HLY_Result CVD_DeviceHost::ProcessGetDescription(HLY_HttpRequest& /*request*/,
                                                 const HLY_HttpRequestContext& context,
                                                 HLY_HttpResponse&             response)
{
    HLY_String doc;
    HLY_Result result = GetDescription(doc);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(GetDescription(doc))", result);
        return result;
    }
    HLY_LOG_FINEST("Returning description to %s: %s",
                   context.GetRemoteAddress().GetIpAddress().ToString().GetChars(), doc.GetChars());
    SetXmlBody(response, doc);
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::ProcessGetSCPD(CVD_Service*                  service,
                                          HLY_HttpRequest&              /*request*/,
                                          const HLY_HttpRequestContext& context,
                                          HLY_HttpResponse&             response)
{
    HLY_CHECK_POINTER_SEVERE(service);
    HLY_String doc;
    HLY_Result result = service->GetSCPDXML(doc);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(service->GetSCPDXML(doc))", result);
        return result;
    }
    HLY_LOG_FINEST("Returning SCPD to %s: %s", context.GetRemoteAddress().GetIpAddress().ToString().GetChars(),
                   doc.GetChars());
    SetXmlBody(response, doc);
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceHost::ProcessHttpGetRequest(HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse&)
{
    return HLY_ERROR_NO_SUCH_ITEM;
}

HLY_Result CVD_DeviceHost::ProcessHttpPostRequest(HLY_HttpRequest&              request,
                                                  const HLY_HttpRequestContext& context,
                                                  HLY_HttpResponse&             response)
{
    const HLY_String* action = request.GetHeaders().GetHeaderValue("SOAPAction");
    HLY_LOG_FINE("Processing action \"%s\" from %s", action ? action->GetChars() : "",
                 context.GetRemoteAddress().GetIpAddress().ToString().GetChars());
    return CVD_Action::ProcessSoapRequest(*this, request, context, response, this);
}

HLY_Result CVD_DeviceHost::ProcessHttpSubscriberRequest(HLY_HttpRequest&              request,
                                                        const HLY_HttpRequestContext& context,
                                                        HLY_HttpResponse&             response)
{
    // a refusal is an answer (its status is set), not a failure of the handler
    CVD_EventSubscriber::ProcessSubscriptionRequest(m_TaskManager.AsPointer(), *this, request, context, response);
    return HLY_SUCCESS;
}
