#ifndef CVD_SYNC_MEDIA_BROWSER_H
#define CVD_SYNC_MEDIA_BROWSER_H

#include <map>

#include "CvdMediaBrowser.h"
#include "CvdMediaCache.h"

// how long one page of a blocking browse may take to come back
#define CVD_SYNC_BROWSE_TIMEOUT_MS 30000
// objects asked for per page
#define CVD_SYNC_BROWSE_PAGE_SIZE 30
// objects one blocking browse collects at most: a server that keeps
// answering full pages (or lies about TotalMatches) cannot fill memory
#define CVD_SYNC_BROWSE_MAX_OBJECTS 200000

/*----------------------------------------------------------------------
|   CVD_MediaContainerChangesListener
+---------------------------------------------------------------------*/
class CVD_MediaContainerChangesListener
{
public:
    virtual ~CVD_MediaContainerChangesListener() {}
    virtual void OnContainerChanged(CVD_DeviceDataReference& device, const char* item_id, const char* update_id) = 0;
};

/*----------------------------------------------------------------------
|   CVD_BrowseData: one page of a blocking browse, shared between the
|   caller and the answer
+---------------------------------------------------------------------*/
struct CVD_BrowseData
{
    HLY_SharedVariable shared_var;
    HLY_Result         res = HLY_FAILURE;
    CVD_BrowseInfo     info;
};
typedef HLY_Reference<CVD_BrowseData> CVD_BrowseDataReference;

/*----------------------------------------------------------------------
|   CVD_SyncMediaBrowser: a browser that is its own delegate, with a
|   blocking browse over all pages of a container and a cache
+---------------------------------------------------------------------*/
class CVD_SyncMediaBrowser : public CVD_MediaBrowser, public CVD_MediaBrowserDelegate
{
public:
    CVD_SyncMediaBrowser(CVD_CtrlPointReference& ctrl_point, bool use_cache = false,
                         CVD_MediaContainerChangesListener* listener = nullptr);
    ~CVD_SyncMediaBrowser() override;

    HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device) override;
    HLY_Result OnDeviceRemoved(CVD_DeviceDataReference& device) override;

    // CVD_MediaBrowserDelegate
    bool OnMediaServerAdded(CVD_DeviceDataReference& device) override;
    void OnMediaServerRemoved(CVD_DeviceDataReference& device) override;
    void OnMediaServerStateVariablesChanged(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override;
    void OnBrowseResult(HLY_Result result, CVD_DeviceDataReference& device, CVD_BrowseInfo* info,
                        void* userdata) override;

    // every page of a container (max_results 0: all of them)
    HLY_Result BrowseSync(CVD_DeviceDataReference& device, const char* object_id, CVD_MediaObjectListReference& list,
                          bool metadata = false, HLY_Int32 start = 0, HLY_Cardinal max_results = 0);
    bool IsCached(const char* uuid, const char* object_id);
    CVD_MediaCache<CVD_MediaObjectListReference, HLY_String>& GetCache() { return m_Cache; }
    // how long a page may take (tests shorten it)
    void SetPageTimeout(HLY_Timeout timeout) { m_PageTimeout = timeout; }

private:
    HLY_Result BrowsePage(CVD_BrowseDataReference& data, CVD_DeviceDataReference& device, const char* object_id,
                          HLY_UInt32 index, HLY_UInt32 count, bool metadata);

    HLY_Lock<std::map<HLY_String, CVD_DeviceDataReference>> m_SyncServers;
    CVD_MediaContainerChangesListener*                     m_ContainerListener;
    bool                                                   m_UseCache;
    CVD_MediaCache<CVD_MediaObjectListReference, HLY_String> m_Cache;
    HLY_Timeout                                            m_PageTimeout;
};

#endif // CVD_SYNC_MEDIA_BROWSER_H
