#ifndef CVD_MEDIA_BROWSER_H
#define CVD_MEDIA_BROWSER_H

#include "CvdCtrlPoint.h"
#include "CvdMediaItem.h"
#include "hlythreads.h"

/*----------------------------------------------------------------------
|   CVD_BrowseInfo: one Browse or Search answer
+---------------------------------------------------------------------*/
struct CVD_BrowseInfo
{
    HLY_String                   object_id; // for Search: the container id
    CVD_MediaObjectListReference items;
    HLY_UInt32                   nr  = 0; // NumberReturned
    HLY_UInt32                   tm  = 0; // TotalMatches
    HLY_UInt32                   uid = 0; // UpdateID
};

/*----------------------------------------------------------------------
|   CVD_MediaBrowserDelegate: called on the control point's threads
+---------------------------------------------------------------------*/
class CVD_MediaBrowserDelegate
{
public:
    virtual ~CVD_MediaBrowserDelegate() {}
    // true: subscribe to the server's services
    virtual bool OnMediaServerAdded(CVD_DeviceDataReference& /*device*/) { return true; }
    virtual void OnMediaServerRemoved(CVD_DeviceDataReference& /*device*/) {}
    virtual void OnMediaServerStateVariablesChanged(CVD_Service* /*service*/, HLY_List<CVD_StateVariable*>* /*vars*/) {}
    virtual void OnBrowseResult(HLY_Result /*result*/, CVD_DeviceDataReference& /*device*/, CVD_BrowseInfo* /*info*/,
                                void* /*userdata*/) {}
    // caps: the server's comma-separated SearchCaps ("" when it cannot search)
    virtual void OnGetSearchCapabilitiesResult(HLY_Result /*result*/, CVD_DeviceDataReference& /*device*/,
                                               const char* /*caps*/, void* /*userdata*/) {}
};

/*----------------------------------------------------------------------
|   CVD_MediaBrowser: the media servers a control point sees, and their
|   Browse and Search actions
+---------------------------------------------------------------------*/
class CVD_MediaBrowser : public CVD_CtrlPointListener
{
public:
    CVD_MediaBrowser(CVD_CtrlPointReference& ctrl_point, CVD_MediaBrowserDelegate* delegate = nullptr);
    ~CVD_MediaBrowser() override;

    // CVD_CtrlPointListener
    HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device) override;
    HLY_Result OnDeviceRemoved(CVD_DeviceDataReference& device) override;
    HLY_Result OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata) override;
    HLY_Result OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override;

    virtual HLY_Result Browse(CVD_DeviceDataReference& device, const char* object_id, HLY_UInt32 start_index,
                              HLY_UInt32 count, bool browse_metadata = false, const char* filter = "dc:date,upnp:genre,res,res@duration,res@size,upnp:albumArtURI,upnp:originalTrackNumber,upnp:album,upnp:artist,upnp:author",
                              const char* sort_criteria = "", void* userdata = nullptr);
    virtual HLY_Result Search(CVD_DeviceDataReference& device, const char* container_id, const char* search_criteria,
                              HLY_UInt32 start_index, HLY_UInt32 count, const char* filter = "*",
                              void* userdata = nullptr);
    // ContentDirectory GetSearchCapabilities; a server without the action
    // gives HLY_ERROR_INVALID_PARAMETERS at once
    virtual HLY_Result GetSearchCapabilities(CVD_DeviceDataReference& device, void* userdata = nullptr);
    // a snapshot of the accepted servers
    virtual HLY_List<CVD_DeviceDataReference> GetMediaServers();
    virtual HLY_Result FindServer(const char* uuid, CVD_DeviceDataReference& device);
    virtual void SetDelegate(CVD_MediaBrowserDelegate* delegate) { m_Delegate = delegate; }

protected:
    virtual HLY_Result OnBrowseResponse(HLY_Result result, CVD_DeviceDataReference& device,
                                        CVD_ActionReference& action, void* userdata);
    virtual HLY_Result OnSearchResponse(HLY_Result result, CVD_DeviceDataReference& device,
                                        CVD_ActionReference& action, void* userdata);

    CVD_CtrlPointReference                      m_CtrlPoint;
    CVD_MediaBrowserDelegate*                   m_Delegate;
    HLY_Lock<HLY_List<CVD_DeviceDataReference>> m_MediaServers;
    // the actions this browser sent and whose answer has not come: every
    // listener of the control point hears every answer, and only these
    // carry user data of ours
    HLY_Lock<HLY_List<CVD_Action*>>             m_Pending;

private:
    HLY_Result Invoke(CVD_ActionReference& action, void* userdata);
    HLY_Result ReadAnswer(HLY_Result result, CVD_DeviceDataReference& device, CVD_ActionReference& action,
                          const char* id_argument, void* userdata);
};

#endif // CVD_MEDIA_BROWSER_H
