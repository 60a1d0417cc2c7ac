#include "CvdMediaBrowser.h"
#include "CvdDidl.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.media.server.browser")

namespace {

const char* const MEDIA_SERVER_TYPE       = "urn:schemas-upnp-org:device:MediaServer";
const char* const CONTENT_DIRECTORY_ANY   = "urn:schemas-upnp-org:service:ContentDirectory:*";
const char* const CONNECTION_MANAGER_ANY  = "urn:schemas-upnp-org:service:ConnectionManager:*";
const char* const CONTENT_DIRECTORY_1     = "urn:schemas-upnp-org:service:ContentDirectory:1";

bool IsMediaServer(CVD_DeviceDataReference& device)
{
    return !device.IsNull() && device->GetType().StartsWith(MEDIA_SERVER_TYPE);
}

struct ByUUID
{
    explicit ByUUID(const HLY_String& uuid) : m_UUID(uuid) {}
    bool operator()(const CVD_DeviceDataReference& device) const { return device->GetUUID().Compare(m_UUID, true) == 0; }
    HLY_String m_UUID;
};

// a count of the answer: present, non-empty and a number
HLY_Result ReadCount(CVD_ActionReference& action, const char* name, HLY_UInt32& value)
{
    HLY_String text;
    if (HLY_FAILED(action->GetArgumentValue(name, text)) || text.IsEmpty()) return HLY_FAILURE;
    return text.ToInteger(value, true);
}

} // namespace

CVD_MediaBrowser::CVD_MediaBrowser(CVD_CtrlPointReference& ctrl_point, CVD_MediaBrowserDelegate* delegate)
    : m_CtrlPoint(ctrl_point), m_Delegate(delegate)
{
    m_CtrlPoint->AddListener(this);
}

CVD_MediaBrowser::~CVD_MediaBrowser()
{
    m_CtrlPoint->RemoveListener(this);
}

HLY_Result CVD_MediaBrowser::OnDeviceAdded(CVD_DeviceDataReference& device)
{
    if (!IsMediaServer(device)) return HLY_FAILURE;
    CVD_Service* directory = nullptr;
    CVD_Service* manager   = nullptr;
    if (HLY_FAILED(device->FindServiceByType(CONTENT_DIRECTORY_ANY, directory))) return HLY_FAILURE;
    if (HLY_FAILED(device->FindServiceByType(CONNECTION_MANAGER_ANY, manager))) return HLY_FAILURE;
    // the actions below are made for the ":1" types
    directory->ForceVersion(1);
    manager->ForceVersion(1);
    {
        HLY_AutoLock lock(m_MediaServers);
        if (m_MediaServers.Find(ByUUID(device->GetUUID()))) {
            HLY_LOG_WARNING("Device (%s) is already in our list!", device->GetUUID().GetChars());
            return HLY_FAILURE;
        }
        HLY_LOG_FINE("Device Found: %s", device->GetUUID().GetChars());
        m_MediaServers.Add(device);
    }
    if (m_Delegate && m_Delegate->OnMediaServerAdded(device)) {
        m_CtrlPoint->Subscribe(directory);
        m_CtrlPoint->Subscribe(manager);
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaBrowser::OnDeviceRemoved(CVD_DeviceDataReference& device)
{
    if (!IsMediaServer(device)) return HLY_FAILURE;
    {
        HLY_AutoLock                                lock(m_MediaServers);
        HLY_List<CVD_DeviceDataReference>::Iterator it = m_MediaServers.Find(ByUUID(device->GetUUID()));
        if (!it) return HLY_FAILURE;
        m_MediaServers.Erase(it);
    }
    if (m_Delegate) m_Delegate->OnMediaServerRemoved(device);
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaBrowser::FindServer(const char* uuid, CVD_DeviceDataReference& device)
{
    HLY_AutoLock lock(m_MediaServers);
    return m_MediaServers.Find(ByUUID(uuid), device) == HLY_SUCCESS ? HLY_SUCCESS : HLY_FAILURE;
}

HLY_List<CVD_DeviceDataReference> CVD_MediaBrowser::GetMediaServers()
{
    HLY_AutoLock lock(m_MediaServers);
    return m_MediaServers;
}

HLY_Result CVD_MediaBrowser::Browse(CVD_DeviceDataReference& device, const char* object_id, HLY_UInt32 start_index,
                                    HLY_UInt32 count, bool browse_metadata, const char* filter,
                                    const char* sort_criteria, void* userdata)
{
    CVD_DeviceDataReference server;
    HLY_CHECK_WARNING(FindServer(device->GetUUID(), server));
    CVD_ActionReference action;
    if (HLY_FAILED(m_CtrlPoint->CreateAction(server, CONTENT_DIRECTORY_1, "Browse", action))) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    if (HLY_FAILED(action->SetArgumentValue("ObjectID", object_id)) ||
        HLY_FAILED(action->SetArgumentValue("BrowseFlag", browse_metadata ? "BrowseMetadata" : "BrowseDirectChildren")) ||
        HLY_FAILED(action->SetArgumentValue("Filter", filter)) ||
        HLY_FAILED(action->SetArgumentValue("StartingIndex", HLY_String::FromInteger(start_index))) ||
        HLY_FAILED(action->SetArgumentValue("RequestedCount", HLY_String::FromInteger(count))) ||
        HLY_FAILED(action->SetArgumentValue("SortCriteria", sort_criteria))) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    return Invoke(action, userdata);
}

HLY_Result CVD_MediaBrowser::Search(CVD_DeviceDataReference& device, const char* container_id,
                                    const char* search_criteria, HLY_UInt32 start_index, HLY_UInt32 count,
                                    const char* filter, void* userdata)
{
    CVD_DeviceDataReference server;
    HLY_CHECK_WARNING(FindServer(device->GetUUID(), server));
    CVD_ActionReference action;
    if (HLY_FAILED(m_CtrlPoint->CreateAction(server, CONTENT_DIRECTORY_1, "Search", action))) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    if (HLY_FAILED(action->SetArgumentValue("ContainerID", container_id)) ||
        HLY_FAILED(action->SetArgumentValue("SearchCriteria", search_criteria)) ||
        HLY_FAILED(action->SetArgumentValue("Filter", filter)) ||
        HLY_FAILED(action->SetArgumentValue("StartingIndex", HLY_String::FromInteger(start_index))) ||
        HLY_FAILED(action->SetArgumentValue("RequestedCount", HLY_String::FromInteger(count))) ||
        HLY_FAILED(action->SetArgumentValue("SortCriteria", ""))) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    return Invoke(action, userdata);
}

HLY_Result CVD_MediaBrowser::GetSearchCapabilities(CVD_DeviceDataReference& device, void* userdata)
{
    CVD_DeviceDataReference server;
    HLY_CHECK_WARNING(FindServer(device->GetUUID(), server));
    CVD_ActionReference action;
    if (HLY_FAILED(m_CtrlPoint->CreateAction(server, CONTENT_DIRECTORY_1, "GetSearchCapabilities", action))) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    return Invoke(action, userdata);
}

HLY_Result CVD_MediaBrowser::Invoke(CVD_ActionReference& action, void* userdata)
{
    {
        HLY_AutoLock lock(m_Pending);
        m_Pending.Add(action.AsPointer());
    }
    if (HLY_FAILED(m_CtrlPoint->InvokeAction(action, userdata))) {
        HLY_AutoLock lock(m_Pending);
        m_Pending.Remove(action.AsPointer());
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaBrowser::OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata)
{
    {
        HLY_AutoLock lock(m_Pending);
        if (HLY_FAILED(m_Pending.Remove(action.AsPointer()))) return HLY_SUCCESS;
    }
    CVD_DeviceDataReference device;
    if (HLY_FAILED(FindServer(action->GetActionDesc().GetService()->GetDevice()->GetUUID(), device))) {
        return HLY_SUCCESS;
    }
    const HLY_String& name = action->GetActionDesc().GetName();
    if (name.Compare("Browse", true) == 0) return OnBrowseResponse(result, device, action, userdata);
    if (name.Compare("Search", true) == 0) return OnSearchResponse(result, device, action, userdata);
    if (name.Compare("GetSearchCapabilities", true) == 0 && m_Delegate) {
        HLY_String caps;
        bool ok = HLY_SUCCEEDED(result) && action->GetErrorCode() == 0 &&
                  HLY_SUCCEEDED(action->GetArgumentValue("SearchCaps", caps));
        m_Delegate->OnGetSearchCapabilitiesResult(ok ? HLY_SUCCESS : HLY_FAILURE, device, ok ? caps.GetChars() : "",
                                                  userdata);
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaBrowser::OnBrowseResponse(HLY_Result result, CVD_DeviceDataReference& device,
                                              CVD_ActionReference& action, void* userdata)
{
    return ReadAnswer(result, device, action, "ObjectID", userdata);
}

HLY_Result CVD_MediaBrowser::OnSearchResponse(HLY_Result result, CVD_DeviceDataReference& device,
                                              CVD_ActionReference& action, void* userdata)
{
    return ReadAnswer(result, device, action, "ContainerId", userdata);
}

HLY_Result CVD_MediaBrowser::ReadAnswer(HLY_Result result, CVD_DeviceDataReference& device,
                                        CVD_ActionReference& action, const char* id_argument, void* userdata)
{
    if (m_Delegate == nullptr) return HLY_SUCCESS;
    CVD_BrowseInfo info;
    HLY_String     didl;
    bool ok = HLY_SUCCEEDED(result) && action->GetErrorCode() == 0;
    if (ok) {
        action->GetArgumentValue(id_argument, info.object_id);
        ok = HLY_SUCCEEDED(ReadCount(action, "UpdateID", info.uid)) &&
             HLY_SUCCEEDED(ReadCount(action, "NumberReturned", info.nr)) &&
             HLY_SUCCEEDED(ReadCount(action, "TotalMatches", info.tm)) &&
             HLY_SUCCEEDED(action->GetArgumentValue("Result", didl)) && !didl.IsEmpty() &&
             HLY_SUCCEEDED(CVD_Didl::FromDidl(didl, info.items));
    }
    if (!ok) {
        m_Delegate->OnBrowseResult(HLY_FAILURE, device, nullptr, userdata);
        return HLY_FAILURE;
    }
    m_Delegate->OnBrowseResult(HLY_SUCCESS, device, &info, userdata);
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaBrowser::OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars)
{
    CVD_DeviceData* owner = service->GetDevice();
    if (owner == nullptr || !owner->GetType().StartsWith(MEDIA_SERVER_TYPE)) return HLY_FAILURE;
    CVD_DeviceDataReference device;
    if (HLY_FAILED(FindServer(owner->GetUUID(), device))) return HLY_FAILURE;
    if (m_Delegate) m_Delegate->OnMediaServerStateVariablesChanged(service, vars);
    return HLY_SUCCESS;
}
