#ifndef CVD_MEDIA_CONTROLLER_H
#define CVD_MEDIA_CONTROLLER_H

#include "CvdCtrlPoint.h"
#include "CvdMediaItem.h"
#include "hlythreads.h"

/*----------------------------------------------------------------------
|   the records of the renderer's answers; valid during the callback only
+---------------------------------------------------------------------*/
struct CVD_DeviceCapabilities
{
    HLY_List<HLY_String> play_media;
    HLY_List<HLY_String> rec_media;
    HLY_List<HLY_String> rec_quality_modes;
};

struct CVD_MediaInfo
{
    HLY_UInt32    num_tracks = 0;
    HLY_TimeStamp media_duration;
    HLY_String    cur_uri;
    HLY_String    cur_metadata;
    HLY_String    next_uri;
    HLY_String    next_metadata;
    HLY_String    play_medium;
    HLY_String    rec_medium;
    HLY_String    write_status;
};

struct CVD_PositionInfo
{
    HLY_UInt32    track = 0;
    HLY_TimeStamp track_duration;
    HLY_String    track_metadata;
    HLY_String    track_uri;
    HLY_TimeStamp rel_time;
    HLY_TimeStamp abs_time;
    HLY_Int32     rel_count = 0;
    HLY_Int32     abs_count = 0;
};

struct CVD_TransportInfo
{
    HLY_String cur_transport_state;
    HLY_String cur_transport_status;
    HLY_String cur_speed;
};

struct CVD_TransportSettings
{
    HLY_String play_mode;
    HLY_String rec_quality_mode;
};

struct CVD_ConnectionInfo
{
    HLY_UInt32 rcs_id = 0;
    HLY_UInt32 avtransport_id = 0;
    HLY_String protocol_info;
    HLY_String peer_connection_mgr;
    HLY_UInt32 peer_connection_id = 0;
    HLY_String direction;
    HLY_String status;
};

typedef HLY_List<HLY_String> CVD_StringList;

/*----------------------------------------------------------------------
|   CVD_MediaControllerDelegate: called on the control point's threads
+---------------------------------------------------------------------*/
class CVD_MediaControllerDelegate
{
public:
    virtual ~CVD_MediaControllerDelegate() {}
    // true: subscribe to the renderer's services
    virtual bool OnMediaRendererAdded(CVD_DeviceDataReference& /*device*/) { return true; }
    virtual void OnMediaRendererRemoved(CVD_DeviceDataReference& /*device*/) {}
    virtual void OnMediaRendererStateVariablesChanged(CVD_Service* /*service*/, HLY_List<CVD_StateVariable*>* /*vars*/) {}

    virtual void OnGetCurrentTransportActionsResult(HLY_Result, CVD_DeviceDataReference&, CVD_StringList*, void*) {}
    virtual void OnGetDeviceCapabilitiesResult(HLY_Result, CVD_DeviceDataReference&, CVD_DeviceCapabilities*, void*) {}
    virtual void OnGetMediaInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_MediaInfo*, void*) {}
    virtual void OnGetPositionInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_PositionInfo*, void*) {}
    virtual void OnGetTransportInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_TransportInfo*, void*) {}
    virtual void OnGetTransportSettingsResult(HLY_Result, CVD_DeviceDataReference&, CVD_TransportSettings*, void*) {}
    virtual void OnNextResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnPauseResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnPlayResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnPreviousResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnSeekResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnSetAVTransportURIResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnSetPlayModeResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnStopResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnGetCurrentConnectionIDsResult(HLY_Result, CVD_DeviceDataReference&, CVD_StringList*, void*) {}
    virtual void OnGetCurrentConnectionInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_ConnectionInfo*, void*) {}
    virtual void OnGetProtocolInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_StringList* /*sources*/,
                                         CVD_StringList* /*sinks*/, void*) {}
    virtual void OnSetMuteResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnGetMuteResult(HLY_Result, CVD_DeviceDataReference&, const char* /*channel*/, bool /*mute*/, void*) {}
    virtual void OnSetVolumeResult(HLY_Result, CVD_DeviceDataReference&, void*) {}
    virtual void OnGetVolumeResult(HLY_Result, CVD_DeviceDataReference&, const char* /*channel*/, HLY_UInt32 /*volume*/,
                                   void*) {}
};

/*----------------------------------------------------------------------
|   CVD_MediaController: the renderers a control point sees, and their
|   AVTransport, ConnectionManager and RenderingControl actions
+---------------------------------------------------------------------*/
class CVD_MediaController : public CVD_CtrlPointListener
{
public:
    CVD_MediaController(CVD_CtrlPointReference& ctrl_point, CVD_MediaControllerDelegate* delegate = nullptr);
    ~CVD_MediaController() override;

    // CVD_CtrlPointListener
    HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device) override;
    HLY_Result OnDeviceRemoved(CVD_DeviceDataReference& device) override;
    HLY_Result OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata) override;
    HLY_Result OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override;

    virtual void SetDelegate(CVD_MediaControllerDelegate* delegate) { m_Delegate = delegate; }
    virtual HLY_Result GetProtocolInfoSink(const HLY_String& device_uuid, CVD_StringList& sinks);
    virtual HLY_Result GetTransportState(const HLY_String& device_uuid, HLY_String& state);
    virtual HLY_Result GetVolumeState(const HLY_String& device_uuid, HLY_UInt32& volume);
    virtual HLY_Result FindRenderer(const char* uuid, CVD_DeviceDataReference& device);
    virtual HLY_Result FindMatchingProtocolInfo(CVD_StringList& sinks, const char* protocol_info);
    virtual HLY_Result FindBestResource(CVD_DeviceDataReference& device, CVD_MediaObject& item,
                                        HLY_Cardinal& resource_index);

    // AVTransport
    HLY_Result GetCurrentTransportActions(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result GetDeviceCapabilities(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result GetMediaInfo(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result GetPositionInfo(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result GetTransportInfo(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result GetTransportSettings(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result Next(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result Pause(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result Play(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* speed, void* userdata);
    HLY_Result Previous(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    HLY_Result Seek(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* unit, const char* target,
                    void* userdata);
    bool       CanSetNextAVTransportURI(CVD_DeviceDataReference& device);
    HLY_Result SetAVTransportURI(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* uri,
                                 const char* metadata, void* userdata);
    HLY_Result SetNextAVTransportURI(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* uri,
                                     const char* metadata, void* userdata);
    HLY_Result SetPlayMode(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* new_play_mode,
                           void* userdata);
    HLY_Result Stop(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, void* userdata);
    // ConnectionManager
    HLY_Result GetCurrentConnectionIDs(CVD_DeviceDataReference& device, void* userdata);
    HLY_Result GetCurrentConnectionInfo(CVD_DeviceDataReference& device, HLY_UInt32 connection_id, void* userdata);
    HLY_Result GetProtocolInfo(CVD_DeviceDataReference& device, void* userdata);
    // RenderingControl
    HLY_Result SetMute(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* channel, bool mute,
                       void* userdata);
    HLY_Result GetMute(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* channel, void* userdata);
    HLY_Result SetVolume(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* channel,
                         HLY_Int32 volume, void* userdata);
    HLY_Result GetVolume(CVD_DeviceDataReference& device, HLY_UInt32 instance_id, const char* channel,
                         void* userdata);

    // a list value of an answer: cut at ",", pieces trimmed, an empty last piece dropped
    static void ParseStringList(const HLY_String& text, CVD_StringList& list);

private:
    typedef std::initializer_list<std::pair<const char*, HLY_String>> Inputs;
    HLY_Result Send(CVD_DeviceDataReference& device, const char* service_type, const char* name, Inputs inputs,
                    bool with_instance, HLY_UInt32 instance_id, void* userdata);
    HLY_Result GetServiceVariable(const HLY_String& uuid, const char* service_type, const char* name,
                                  HLY_String& value);
    HLY_Result Dispatch(HLY_Result result, CVD_DeviceDataReference& device, CVD_ActionReference& action,
                        void* userdata);

    CVD_CtrlPointReference                      m_CtrlPoint;
    CVD_MediaControllerDelegate*                m_Delegate;
    HLY_Lock<HLY_List<CVD_DeviceDataReference>> m_MediaRenderers;
    // the actions this controller sent and whose answer has not come (every
    // listener hears every answer; only these are ours)
    HLY_Lock<HLY_List<CVD_Action*>>             m_Pending;
};

#endif // CVD_MEDIA_CONTROLLER_H
