#include "CvdSyncMediaBrowser.h"
#include <cstring>

#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.media.server.syncbrowser")

namespace {
const char* const BROWSE_FILTER =
    "dc:date,upnp:genre,res,res@duration,res@size,upnp:albumArtURI,upnp:album,upnp:artist,upnp:author,searchable,"
    "childCount";
}

CVD_SyncMediaBrowser::CVD_SyncMediaBrowser(CVD_CtrlPointReference& ctrl_point, bool use_cache,
                                           CVD_MediaContainerChangesListener* listener)
    : CVD_MediaBrowser(ctrl_point), m_ContainerListener(listener), m_UseCache(use_cache),
      m_PageTimeout(CVD_SYNC_BROWSE_TIMEOUT_MS)
{
    SetDelegate(this);
}

CVD_SyncMediaBrowser::~CVD_SyncMediaBrowser()
{
    // no answer may reach a delegate that is going away
    SetDelegate(nullptr);
}

HLY_Result CVD_SyncMediaBrowser::OnDeviceAdded(CVD_DeviceDataReference& device)
{
    CVD_Service* directory = nullptr;
    if (HLY_SUCCEEDED(device->FindServiceByType("urn:schemas-upnp-org:service:ContentDirectory:*", directory))) {
        HLY_AutoLock lock(m_SyncServers);
        m_SyncServers[device->GetUUID()] = device;
    }
    return CVD_MediaBrowser::OnDeviceAdded(device);
}

HLY_Result CVD_SyncMediaBrowser::OnDeviceRemoved(CVD_DeviceDataReference& device)
{
    {
        HLY_AutoLock lock(m_SyncServers);
        m_SyncServers.erase(device->GetUUID());
    }
    if (m_UseCache) m_Cache.Clear(device->GetUUID());
    return CVD_MediaBrowser::OnDeviceRemoved(device);
}

bool CVD_SyncMediaBrowser::OnMediaServerAdded(CVD_DeviceDataReference&) { return true; }
void CVD_SyncMediaBrowser::OnMediaServerRemoved(CVD_DeviceDataReference&) {}

void CVD_SyncMediaBrowser::OnMediaServerStateVariablesChanged(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars)
{
    CVD_DeviceDataReference device;
    {
        HLY_AutoLock lock(m_SyncServers);
        auto         it = m_SyncServers.find(service->GetDevice()->GetUUID());
        if (it == m_SyncServers.end()) return;
        device = it->second;
    }
    for (HLY_List<CVD_StateVariable*>::Iterator var = vars->GetFirstItem(); var; ++var) {
        if ((*var)->GetName().Compare("ContainerUpdateIDs", true) != 0) continue;
        // pairs of container id and update id, all separated by commas
        const HLY_String& value = (*var)->GetValue();
        const char*       text  = value.GetChars();
        while (*text) {
            const char* comma = strchr(text, ',');
            if (comma == nullptr) break; // a pair cut short
            HLY_String  id(text, (HLY_Size)(comma - text));
            const char* update = comma + 1;
            const char* end    = strchr(update, ',');
            HLY_String  update_id = end ? HLY_String(update, (HLY_Size)(end - update)) : HLY_String(update);
            if (m_UseCache) m_Cache.Clear(device->GetUUID(), id);
            if (m_ContainerListener) m_ContainerListener->OnContainerChanged(device, id, update_id);
            if (end == nullptr) break;
            text = end + 1;
        }
    }
}

void CVD_SyncMediaBrowser::OnBrowseResult(HLY_Result result, CVD_DeviceDataReference&, CVD_BrowseInfo* info,
                                          void* userdata)
{
    CVD_BrowseDataReference* data = static_cast<CVD_BrowseDataReference*>(userdata);
    if (data == nullptr) return;
    (*data)->res = result;
    if (HLY_SUCCEEDED(result) && info) (*data)->info = *info;
    (*data)->shared_var.SetValue(1);
    delete data;
}

HLY_Result CVD_SyncMediaBrowser::BrowsePage(CVD_BrowseDataReference& data, CVD_DeviceDataReference& device,
                                            const char* object_id, HLY_UInt32 index, HLY_UInt32 count, bool metadata)
{
    data->shared_var.SetValue(0);
    // the answer owns this copy of the reference and releases it
    CVD_BrowseDataReference* shared = new CVD_BrowseDataReference(data);
    HLY_Result result = Browse(device, object_id, index, count, metadata, BROWSE_FILTER, "", shared);
    if (HLY_FAILED(result)) {
        delete shared;
        HLY_CHECK_SEVERE(result);
    }
    HLY_CHECK(data->shared_var.WaitUntilEquals(1, m_PageTimeout));
    return data->res;
}

HLY_Result CVD_SyncMediaBrowser::BrowseSync(CVD_DeviceDataReference& device, const char* object_id,
                                            CVD_MediaObjectListReference& list, bool metadata, HLY_Int32 start,
                                            HLY_Cardinal max_results)
{
    bool use_cache = m_UseCache && (metadata || (start == 0 && max_results == 0));
    list           = CVD_MediaObjectListReference();
    if (use_cache && HLY_SUCCEEDED(m_Cache.Get(device->GetUUID(), object_id, list))) return HLY_SUCCESS;

    HLY_Result result = HLY_SUCCESS;
    HLY_UInt32 index  = start < 0 ? 0 : (HLY_UInt32)start;
    for (;;) {
        CVD_BrowseDataReference data(new CVD_BrowseData());
        result = BrowsePage(data, device, object_id, index, metadata ? 1 : CVD_SYNC_BROWSE_PAGE_SIZE, metadata);
        if (HLY_FAILED(result)) break;
        CVD_BrowseInfo& info = data->info;
        if (info.items.IsNull() || info.items->GetItemCount() == 0) break;
        if (list.IsNull()) {
            list = info.items;
        } else {
            // the page's objects move to the list, which owns them from now on
            CVD_MediaObject* object = nullptr;
            while (HLY_SUCCEEDED(info.items->PopHead(object))) list->Add(object);
        }
        HLY_Cardinal have = list->GetItemCount();
        if (metadata) break;
        if (info.tm != 0 && have >= info.tm) break;
        if (max_results != 0 && have >= max_results) break;
        if (have >= CVD_SYNC_BROWSE_MAX_OBJECTS) {
            HLY_LOG_WARNING("Browse of %s stopped at %u objects", object_id, (unsigned)have);
            break;
        }
        index = (start < 0 ? 0 : (HLY_UInt32)start) + (HLY_UInt32)have;
    }
    if (use_cache) {
        if (HLY_SUCCEEDED(result) && !list.IsNull() && list->GetItemCount() > 0) {
            m_Cache.Put(device->GetUUID(), object_id, list);
        } else if (HLY_FAILED(result)) {
            m_Cache.Clear(device->GetUUID());
        }
    }
    return result;
}

bool CVD_SyncMediaBrowser::IsCached(const char* uuid, const char* object_id)
{
    {
        HLY_AutoLock lock(m_SyncServers);
        if (m_SyncServers.find(uuid) == m_SyncServers.end()) return false;
    }
    CVD_MediaObjectListReference list;
    return HLY_SUCCEEDED(m_Cache.Get(uuid, object_id, list));
}
