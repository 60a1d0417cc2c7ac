#include <cstring>

#include "CvdMediaController.h"
#include "CvdDidl.h"
#include "CvdProtocolInfo.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.media.renderer.controller")

namespace {

const char* const MEDIA_RENDERER_TYPE    = "urn:schemas-upnp-org:device:MediaRenderer";
const char* const AVTRANSPORT_ANY        = "urn:schemas-upnp-org:service:AVTransport:*";
const char* const CONNECTION_MANAGER_ANY = "urn:schemas-upnp-org:service:ConnectionManager:*";
const char* const RENDERING_CONTROL_ANY  = "urn:schemas-upnp-org:service:RenderingControl:*";
const char* const AVT  = "urn:schemas-upnp-org:service:AVTransport:1";
const char* const CMS  = "urn:schemas-upnp-org:service:ConnectionManager:1";
const char* const RCS  = "urn:schemas-upnp-org:service:RenderingControl:1";

bool IsMediaRenderer(const CVD_DeviceData* device)
{
    return device && device->GetType().StartsWith(MEDIA_RENDERER_TYPE);
}

struct ByUUID
{
    explicit ByUUID(const HLY_String& uuid) : m_UUID(uuid) {}
    bool operator()(const CVD_DeviceDataReference& device) const { return device->GetUUID().Compare(m_UUID, true) == 0; }
    HLY_String m_UUID;
};

// the readers of output values: each fails the whole read when it fails
struct Reader
{
    CVD_ActionReference& action;
    bool                 ok = true;

    HLY_String Text(const char* name)
    {
        HLY_String value;
        if (ok && HLY_FAILED(action->GetArgumentValue(name, value))) ok = false;
        return value;
    }
    void Text(const char* name, HLY_String& value) { value = Text(name); }
    void List(const char* name, CVD_StringList& list)
    {
        HLY_String value = Text(name);
        if (ok) CVD_MediaController::ParseStringList(value, list);
    }
    void UInt(const char* name, HLY_UInt32& value)
    {
        HLY_String text = Text(name);
        if (ok && HLY_FAILED(text.ToInteger(value, true))) ok = false;
    }
    void Int(const char* name, HLY_Int32& value)
    {
        HLY_String text = Text(name);
        if (ok && HLY_FAILED(text.ToInteger(value, true))) ok = false;
    }
    // strict: the read fails; lenient: failure_seconds is kept instead
    void Time(const char* name, HLY_TimeStamp& value, bool strict, double failure_seconds)
    {
        HLY_String text = Text(name);
        if (!ok) return;
        HLY_UInt32 seconds = 0;
        if (HLY_SUCCEEDED(CVD_Didl::ParseTimeStamp(text, seconds))) {
            value = HLY_TimeStamp((double)seconds);
        } else if (strict) {
            ok = false;
        } else {
            value = HLY_TimeStamp(failure_seconds);
        }
    }
};

} // namespace

CVD_MediaController::CVD_MediaController(CVD_CtrlPointReference& ctrl_point, CVD_MediaControllerDelegate* delegate)
    : m_CtrlPoint(ctrl_point), m_Delegate(delegate)
{
    m_CtrlPoint->AddListener(this);
}

CVD_MediaController::~CVD_MediaController()
{
    m_CtrlPoint->RemoveListener(this);
    HLY_AutoLock lock(m_MediaRenderers);
    m_MediaRenderers.Clear();
}

void CVD_MediaController::ParseStringList(const HLY_String& text, CVD_StringList& list)
{
    const char* start = text.GetChars();
    for (;;) {
        const char* comma = strchr(start, ',');
        HLY_String  piece = comma ? HLY_String(start, (HLY_Size)(comma - start)) : HLY_String(start);
        piece.Trim(' ');
        if (comma == nullptr) {
            if (!piece.IsEmpty()) list.Add(piece);
            return;
        }
        list.Add(piece);
        start = comma + 1;
    }
}

HLY_Result CVD_MediaController::OnDeviceAdded(CVD_DeviceDataReference& device)
{
    if (!IsMediaRenderer(device.AsPointer())) return HLY_FAILURE;
    CVD_Service* transport = nullptr;
    CVD_Service* manager   = nullptr;
    CVD_Service* rendering = nullptr;
    if (HLY_SUCCEEDED(device->FindServiceByType(AVTRANSPORT_ANY, transport))) {
        HLY_LOG_FINE("Service %s found", transport->GetServiceType().GetChars());
        transport->ForceVersion(1);
    }
    if (HLY_FAILED(device->FindServiceByType(CONNECTION_MANAGER_ANY, manager))) {
        HLY_LOG_FINE("Service %s not found", CONNECTION_MANAGER_ANY);
        return HLY_FAILURE;
    }
    manager->ForceVersion(1);
    if (HLY_FAILED(device->FindServiceByType(RENDERING_CONTROL_ANY, rendering))) {
        HLY_LOG_FINE("Service %s not found", RENDERING_CONTROL_ANY);
        return HLY_FAILURE;
    }
    rendering->ForceVersion(1);
    {
        HLY_AutoLock lock(m_MediaRenderers);
        if (m_MediaRenderers.Find(ByUUID(device->GetUUID()))) {
            HLY_LOG_WARNING("Device (%s) is already in our list!", device->GetUUID().GetChars());
            return HLY_FAILURE;
        }
        HLY_LOG_FINE("Device Found: %s", device->GetFriendlyName().GetChars());
        m_MediaRenderers.Add(device);
    }
    if (m_Delegate && m_Delegate->OnMediaRendererAdded(device)) {
        if (transport) m_CtrlPoint->Subscribe(transport);
        m_CtrlPoint->Subscribe(manager);
        m_CtrlPoint->Subscribe(rendering);
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::OnDeviceRemoved(CVD_DeviceDataReference& device)
{
    if (!IsMediaRenderer(device.AsPointer())) return HLY_FAILURE;
    {
        HLY_AutoLock                                lock(m_MediaRenderers);
        HLY_List<CVD_DeviceDataReference>::Iterator it = m_MediaRenderers.Find(ByUUID(device->GetUUID()));
        if (!it) {
            HLY_LOG_WARNING("Device (%s) not found in our list!", device->GetUUID().GetChars());
            return HLY_FAILURE;
        }
        HLY_LOG_FINE("Device Removed: %s", device->GetFriendlyName().GetChars());
        m_MediaRenderers.Erase(it);
    }
    if (m_Delegate) m_Delegate->OnMediaRendererRemoved(device);
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::FindRenderer(const char* uuid, CVD_DeviceDataReference& device)
{
    HLY_AutoLock lock(m_MediaRenderers);
    if (HLY_FAILED(m_MediaRenderers.Find(ByUUID(uuid), device))) {
        HLY_LOG_FINE("Device (%s) not found in our list of renderers", uuid);
        return HLY_FAILURE;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars)
{
    if (!IsMediaRenderer(service->GetDevice())) return HLY_FAILURE;
    if (m_Delegate == nullptr) return HLY_SUCCESS;
    CVD_DeviceDataReference device;
    HLY_CHECK_WARNING(FindRenderer(service->GetDevice()->GetUUID(), device));
    m_Delegate->OnMediaRendererStateVariablesChanged(service, vars);
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::GetServiceVariable(const HLY_String& uuid, const char* service_type, const char* name,
                                                   HLY_String& value)
{
    CVD_DeviceDataReference device;
    HLY_CHECK_SEVERE(FindRenderer(uuid, device));
    CVD_Service* service = nullptr;
    HLY_CHECK_SEVERE(device->FindServiceByType(service_type, service));
    HLY_CHECK_SEVERE(service->GetStateVariableValue(name, value));
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::GetProtocolInfoSink(const HLY_String& device_uuid, CVD_StringList& sinks)
{
    HLY_String value;
    HLY_CHECK_SEVERE(GetServiceVariable(device_uuid, CONNECTION_MANAGER_ANY, "SinkProtocolInfo", value));
    sinks = value.Split(",");
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::GetTransportState(const HLY_String& device_uuid, HLY_String& state)
{
    HLY_CHECK_SEVERE(GetServiceVariable(device_uuid, AVTRANSPORT_ANY, "TransportState", state));
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaController::GetVolumeState(const HLY_String& device_uuid, HLY_UInt32& volume)
{
    HLY_String value;
    HLY_CHECK_SEVERE(GetServiceVariable(device_uuid, RENDERING_CONTROL_ANY, "Volume", value));
    return value.ToInteger(volume, true);
}

HLY_Result CVD_MediaController::FindMatchingProtocolInfo(CVD_StringList& sinks, const char* protocol_info)
{
    CVD_ProtocolInfo wanted(protocol_info);
    for (CVD_StringList::Iterator sink = sinks.GetFirstItem(); sink; ++sink) {
        if (CVD_ProtocolInfo(*sink).Match(wanted)) return HLY_SUCCESS;
    }
    return HLY_ERROR_NO_SUCH_ITEM;
}

HLY_Result CVD_MediaController::FindBestResource(CVD_DeviceDataReference& device, CVD_MediaObject& item,
                                                 HLY_Cardinal& resource_index)
{
    if (item.m_Resources.GetItemCount() == 0) return HLY_ERROR_INVALID_PARAMETERS;
    CVD_StringList sinks;
    HLY_CHECK_SEVERE(GetProtocolInfoSink(device->GetUUID(), sinks));
    HLY_Cardinal index = 0;
    for (HLY_List<CVD_MediaItemResource>::Iterator res = item.m_Resources.GetFirstItem(); res; ++res, ++index) {
        if (HLY_SUCCEEDED(FindMatchingProtocolInfo(sinks, (*res).m_ProtocolInfo.ToString()))) {
            resource_index = index;
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_NO_SUCH_ITEM;
}

HLY_Result CVD_MediaController::Send(CVD_DeviceDataReference& device, const char* service_type, const char* name,
                                     Inputs inputs, bool with_instance, HLY_UInt32 instance_id, void* userdata)
{
    CVD_ActionReference action;
    HLY_CHECK_SEVERE(m_CtrlPoint->CreateAction(device, service_type, name, action));
    for (const auto& input : inputs) {
        if (HLY_FAILED(action->SetArgumentValue(input.first, input.second))) return HLY_ERROR_INVALID_PARAMETERS;
    }
    if (with_instance) {
        HLY_CHECK_SEVERE(action->SetArgumentValue("InstanceID", HLY_String::FromIntegerU(instance_id)));
    }
    {
        HLY_AutoLock lock(m_Pending);
        m_Pending.Add(action.AsPointer());
    }
    HLY_Result result = m_CtrlPoint->InvokeAction(action, userdata);
    if (HLY_FAILED(result)) {
        HLY_AutoLock lock(m_Pending);
        m_Pending.Remove(action.AsPointer());
    }
    return result;
}

#define CVD_AVT_ACTION(_name)                                                                              \
    HLY_Result CVD_MediaController::_name(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata) \
    {                                                                                                      \
        return Send(device, AVT, #_name, {}, true, instance_id, userdata);                                 \
    }
CVD_AVT_ACTION(GetCurrentTransportActions)
CVD_AVT_ACTION(GetDeviceCapabilities)
CVD_AVT_ACTION(GetMediaInfo)
CVD_AVT_ACTION(GetPositionInfo)
CVD_AVT_ACTION(GetTransportInfo)
CVD_AVT_ACTION(GetTransportSettings)
CVD_AVT_ACTION(Next)
CVD_AVT_ACTION(Pause)
CVD_AVT_ACTION(Previous)
CVD_AVT_ACTION(Stop)
#undef CVD_AVT_ACTION

HLY_Result CVD_MediaController::Play(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* speed,
                                     void* userdata)
{
    return Send(device, AVT, "Play", {{"Speed", speed}}, true, instance_id, userdata);
}

HLY_Result CVD_MediaController::Seek(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* unit,
                                     const char* target, void* userdata)
{
    return Send(device, AVT, "Seek", {{"Unit", unit}, {"Target", target}}, true, instance_id, userdata);
}

bool CVD_MediaController::CanSetNextAVTransportURI(CVD_DeviceDataReference& device)
{
    if (device.IsNull()) return false;
    CVD_ActionDesc* desc = nullptr;
    return HLY_SUCCEEDED(m_CtrlPoint->FindActionDesc(device, AVT, "SetNextAVTransportURI", desc));
}

HLY_Result CVD_MediaController::SetAVTransportURI(CVD_DeviceDataReference& device, HLY_UInt32 instance_id,
                                                  const char* uri, const char* metadata, void* userdata)
{
    return Send(device, AVT, "SetAVTransportURI", {{"CurrentURI", uri}, {"CurrentURIMetaData", metadata}}, true,
                instance_id, userdata);
}

HLY_Result CVD_MediaController::SetNextAVTransportURI(CVD_DeviceDataReference& device, HLY_UInt32 instance_id,
                                                      const char* uri, const char* metadata, void* userdata)
{
    return Send(device, AVT, "SetNextAVTransportURI", {{"NextURI", uri}, {"NextURIMetaData", metadata}}, true,
                instance_id, userdata);
}

HLY_Result CVD_MediaController::SetPlayMode(CVD_DeviceDataReference& device, HLY_UInt32 instance_id,
                                            const char* new_play_mode, void* userdata)
{
    return Send(device, AVT, "SetPlayMode", {{"NewPlayMode", new_play_mode}}, true, instance_id, userdata);
}

HLY_Result CVD_MediaController::GetCurrentConnectionIDs(CVD_DeviceDataReference& device, void* userdata)
{
    return Send(device, CMS, "GetCurrentConnectionIDs", {}, false, 0, userdata);
}

HLY_Result CVD_MediaController::GetCurrentConnectionInfo(CVD_DeviceDataReference& device, HLY_UInt32 connection_id,
                                                         void* userdata)
{
    return Send(device, CMS, "GetCurrentConnectionInfo", {{"ConnectionID", HLY_String::FromIntegerU(connection_id)}},
                false, 0, userdata);
}

HLY_Result CVD_MediaController::GetProtocolInfo(CVD_DeviceDataReference& device, void* userdata)
{
    return Send(device, CMS, "GetProtocolInfo", {}, false, 0, userdata);
}

HLY_Result CVD_MediaController::SetMute(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* channel,
                                        bool mute, void* userdata)
{
    return Send(device, RCS, "SetMute", {{"Channel", channel}, {"DesiredMute", mute ? "1" : "0"}}, true, instance_id,
                userdata);
}

HLY_Result CVD_MediaController::GetMute(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* channel,
                                        void* userdata)
{
    return Send(device, RCS, "GetMute", {{"Channel", channel}}, true, instance_id, userdata);
}

HLY_Result CVD_MediaController::SetVolume(CVD_DeviceDataReference& device, HLY_UInt32 instance_id,
                                          const char* channel, HLY_Int32 volume, void* userdata)
{
    return Send(device, RCS, "SetVolume", {{"Channel", channel}, {"DesiredVolume", HLY_String::FromInteger(volume)}},
                true, instance_id, userdata);
}

HLY_Result CVD_MediaController::GetVolume(CVD_DeviceDataReference& device, HLY_UInt32 instance_id,
                                          const char* channel, void* userdata)
{
    return Send(device, RCS, "GetVolume", {{"Channel", channel}}, true, instance_id, userdata);
}

HLY_Result CVD_MediaController::OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata)
{
    {
        HLY_AutoLock lock(m_Pending);
        if (HLY_FAILED(m_Pending.Remove(action.AsPointer()))) return HLY_SUCCESS;
    }
    if (m_Delegate == nullptr) return HLY_SUCCESS;
    CVD_DeviceDataReference device;
    CVD_Service*            service = action->GetActionDesc().GetService();
    if (service == nullptr || service->GetDevice() == nullptr ||
        HLY_FAILED(FindRenderer(service->GetDevice()->GetUUID(), device))) {
        result = HLY_FAILURE;
        device = action->GetRootDevice();
    }
    return Dispatch(result, device, action, userdata);
}

HLY_Result CVD_MediaController::Dispatch(HLY_Result result, CVD_DeviceDataReference& device,
                                         CVD_ActionReference& action, void* userdata)
{
    const HLY_String& name   = action->GetActionDesc().GetName();
    auto              is     = [&](const char* n) { return name.Compare(n, true) == 0; };
    bool              answer = HLY_SUCCEEDED(result) && action->GetErrorCode() == 0;
    Reader            read{action};
    read.ok = answer;
    CVD_MediaControllerDelegate* d = m_Delegate;
    // the value of an answer when it could be read, else none and a failure
    auto outcome = [&](bool ok) { return ok ? HLY_SUCCESS : HLY_FAILURE; };

    if (is("Next")) d->OnNextResult(result, device, userdata);
    else if (is("Pause")) d->OnPauseResult(result, device, userdata);
    else if (is("Play")) d->OnPlayResult(result, device, userdata);
    else if (is("Previous")) d->OnPreviousResult(result, device, userdata);
    else if (is("Seek")) d->OnSeekResult(result, device, userdata);
    else if (is("SetAVTransportURI")) d->OnSetAVTransportURIResult(result, device, userdata);
    else if (is("SetPlayMode")) d->OnSetPlayModeResult(result, device, userdata);
    else if (is("Stop")) d->OnStopResult(result, device, userdata);
    else if (is("SetMute")) d->OnSetMuteResult(result, device, userdata);
    else if (is("SetVolume")) d->OnSetVolumeResult(result, device, userdata);
    else if (is("GetCurrentTransportActions") || is("GetCurrentConnectionIDs")) {
        CVD_StringList list;
        read.List(is("GetCurrentConnectionIDs") ? "ConnectionIDs" : "Actions", list);
        if (is("GetCurrentConnectionIDs")) d->OnGetCurrentConnectionIDsResult(outcome(read.ok), device, read.ok ? &list : nullptr, userdata);
        else d->OnGetCurrentTransportActionsResult(outcome(read.ok), device, read.ok ? &list : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetDeviceCapabilities")) {
        CVD_DeviceCapabilities caps;
        read.List("PlayMedia", caps.play_media);
        read.List("RecMedia", caps.rec_media);
        read.List("RecQualityModes", caps.rec_quality_modes);
        d->OnGetDeviceCapabilitiesResult(outcome(read.ok), device, read.ok ? &caps : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetMediaInfo")) {
        CVD_MediaInfo info;
        read.UInt("NrTracks", info.num_tracks);
        // renderers answer "" or NOT_IMPLEMENTED while the duration is unknown
        HLY_String duration = read.Text("MediaDuration");
        if (read.ok && !duration.IsEmpty() && duration != "NOT_IMPLEMENTED") {
            HLY_UInt32 seconds = 0;
            if (HLY_SUCCEEDED(CVD_Didl::ParseTimeStamp(duration, seconds))) {
                info.media_duration = HLY_TimeStamp((double)seconds);
            } else {
                read.ok = false;
            }
        }
        read.Text("CurrentURI", info.cur_uri);
        read.Text("CurrentURIMetaData", info.cur_metadata);
        read.Text("NextURI", info.next_uri);
        read.Text("NextURIMetaData", info.next_metadata);
        read.Text("PlayMedium", info.play_medium);
        read.Text("RecordMedium", info.rec_medium);
        read.Text("WriteStatus", info.write_status);
        d->OnGetMediaInfoResult(outcome(read.ok), device, read.ok ? &info : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetPositionInfo")) {
        CVD_PositionInfo info;
        read.UInt("Track", info.track);
        read.Time("TrackDuration", info.track_duration, false, 0);
        read.Text("TrackMetaData", info.track_metadata);
        read.Text("TrackURI", info.track_uri);
        for (auto time : {std::make_pair("RelTime", &info.rel_time), std::make_pair("AbsTime", &info.abs_time)}) {
            HLY_String text = read.Text(time.first);
            if (read.ok && text != "NOT_IMPLEMENTED") {
                HLY_UInt32 seconds = 0;
                *time.second = HLY_SUCCEEDED(CVD_Didl::ParseTimeStamp(text, seconds)) ? HLY_TimeStamp((double)seconds)
                                                                                      : HLY_TimeStamp(-1.0);
            }
        }
        read.Int("RelCount", info.rel_count);
        read.Int("AbsCount", info.abs_count);
        d->OnGetPositionInfoResult(outcome(read.ok), device, read.ok ? &info : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetTransportInfo")) {
        CVD_TransportInfo info;
        read.Text("CurrentTransportState", info.cur_transport_state);
        read.Text("CurrentTransportStatus", info.cur_transport_status);
        read.Text("CurrentSpeed", info.cur_speed);
        d->OnGetTransportInfoResult(outcome(read.ok), device, read.ok ? &info : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetTransportSettings")) {
        CVD_TransportSettings settings;
        read.Text("PlayMode", settings.play_mode);
        read.Text("RecQualityMode", settings.rec_quality_mode);
        d->OnGetTransportSettingsResult(outcome(read.ok), device, read.ok ? &settings : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetCurrentConnectionInfo")) {
        CVD_ConnectionInfo info;
        read.UInt("RcsID", info.rcs_id);
        read.UInt("AVTransportID", info.avtransport_id);
        read.Text("ProtocolInfo", info.protocol_info);
        read.Text("PeerConnectionManager", info.peer_connection_mgr);
        read.UInt("PeerConnectionID", info.peer_connection_id);
        read.Text("Direction", info.direction);
        read.Text("Status", info.status);
        d->OnGetCurrentConnectionInfoResult(outcome(read.ok), device, read.ok ? &info : nullptr, userdata);
        return outcome(read.ok);
    } else if (is("GetProtocolInfo")) {
        CVD_StringList sources, sinks;
        read.List("Source", sources);
        read.List("Sink", sinks);
        // a renderer that does not event its protocol infos (or whose first
        // event was lost) still gets its sinks known for FindBestResource
        CVD_Service* manager = action->GetActionDesc().GetService();
        if (read.ok && manager) {
            for (const char* name : {"Source", "Sink"}) {
                CVD_StateVariable* var = manager->FindStateVariable(HLY_String(name) + "ProtocolInfo");
                HLY_String         value;
                if (var && HLY_SUCCEEDED(action->GetArgumentValue(name, value)) && var->GetValue().IsEmpty()) {
                    var->SetValue(value);
                }
            }
        }
        d->OnGetProtocolInfoResult(outcome(read.ok), device, read.ok ? &sources : nullptr, read.ok ? &sinks : nullptr,
                                   userdata);
        return outcome(read.ok);
    } else if (is("GetMute")) {
        HLY_String channel = read.Text("Channel");
        HLY_String mute    = read.Text("CurrentMute");
        bool       value   = mute.Compare("1") == 0 || mute.Compare("true", true) == 0 || mute.Compare("yes", true) == 0;
        d->OnGetMuteResult(outcome(read.ok), device, read.ok ? channel.GetChars() : "", read.ok && value, userdata);
        return outcome(read.ok);
    } else if (is("GetVolume")) {
        HLY_String channel = read.Text("Channel");
        HLY_UInt32 volume  = 0;
        read.UInt("CurrentVolume", volume);
        d->OnGetVolumeResult(outcome(read.ok), device, read.ok ? channel.GetChars() : "", read.ok ? volume : 0,
                             userdata);
        return outcome(read.ok);
    }
    return HLY_SUCCESS;
}
