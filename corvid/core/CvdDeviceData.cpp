#include <string.h>

#include "CvdDeviceData.h"
#include "CvdSsdp.h"
#include "CvdConstants.h"
#include "CvdService.h"
#include "hlylogging.h"
#include "hlystreams.h"
#include "hlysystem.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.devicedata")

// a lease below this many seconds is replaced by the default one
#define CVD_DEVICE_MIN_LEASE_SECONDS 10
#define CVD_DEVICE_DEFAULT_MANUFACTURER     "Wrenfield LLC"
#define CVD_DEVICE_DEFAULT_MANUFACTURER_URL "https://www.wrenfield.example/"

/*----------------------------------------------------------------------
|   CVD_XmlHelper
+---------------------------------------------------------------------*/
namespace {

// "" = the element's own namespace, null = any
const char* ResolveNamespace(const HLY_XmlElementNode* node, const char* namespc)
{
    if (namespc == nullptr) return HLY_XML_ANY_NAMESPACE;
    if (namespc[0] == '\0') {
        const HLY_String* own = node->GetNamespace();
        return own ? own->GetChars() : "";
    }
    return namespc;
}

// value = the first max_size characters of text (0 = all), copying no more
inline void AssignCut(HLY_String& value, const HLY_String& text, HLY_Cardinal max_size)
{
    HLY_Size length = text.GetLength();
    if (max_size && length > max_size) length = max_size;
    value.Assign(text.GetChars(), length);
}

} // namespace

HLY_XmlElementNode* CVD_XmlHelper::GetChild(const HLY_XmlElementNode* node, const char* tag, const char* namespc)
{
    if (node == nullptr) return nullptr;
    return node->GetChild(tag, ResolveNamespace(node, namespc));
}

HLY_Result CVD_XmlHelper::GetChildren(const HLY_XmlElementNode*      node,
                                      HLY_List<HLY_XmlElementNode*>& children,
                                      const char*                    tag,
                                      const char*                    namespc)
{
    if (node == nullptr) return HLY_FAILURE;
    const char* ns = ResolveNamespace(node, namespc);
    bool        any = HLY_String::Compare(ns, HLY_XML_ANY_NAMESPACE) == 0;
    for (HLY_List<HLY_XmlNode*>::Iterator it = node->GetChildren().GetFirstItem(); it; ++it) {
        HLY_XmlElementNode* child = (*it)->AsElementNode();
        if (child == nullptr || child->GetTag() != tag) continue;
        if (!any) {
            const HLY_String* child_ns = child->GetNamespace();
            if (HLY_String::Compare(child_ns ? child_ns->GetChars() : "", ns) != 0) continue;
        }
        children.Add(child);
    }
    return HLY_SUCCESS;
}

void CVD_XmlHelper::GetText(const HLY_XmlElementNode* node, HLY_String& value, HLY_Cardinal max_size)
{
    value.SetLength(0);
    if (node == nullptr) return;
    for (HLY_List<HLY_XmlNode*>::Iterator it = node->GetChildren().GetFirstItem(); it; ++it) {
        const HLY_XmlTextNode* text = (*it)->AsTextNode();
        if (text == nullptr) continue;
        HLY_Size length = text->GetString().GetLength();
        if (max_size && value.GetLength() + length > max_size) length = max_size - value.GetLength();
        value.Append(text->GetString().GetChars(), length);
        if (max_size && value.GetLength() >= max_size) break;
    }
}

HLY_Result CVD_XmlHelper::GetChildText(const HLY_XmlElementNode* node,
                                       const char*               tag,
                                       HLY_String&               value,
                                       const char*               namespc,
                                       HLY_Cardinal              max_size)
{
    value.SetLength(0);
    HLY_XmlElementNode* child = GetChild(node, tag, namespc);
    if (child == nullptr) return HLY_FAILURE;
    GetText(child, value, max_size);
    return HLY_SUCCESS;
}

HLY_Result CVD_XmlHelper::GetAttribute(const HLY_XmlElementNode* node,
                                       const char*               name,
                                       HLY_String&               value,
                                       const char*               namespc,
                                       HLY_Cardinal              max_size)
{
    value.SetLength(0);
    if (node == nullptr) return HLY_FAILURE;
    // attributes without a prefix have no namespace: "" looks those up
    const HLY_String* attribute = node->GetAttribute(name, namespc ? namespc : HLY_XML_ANY_NAMESPACE);
    if (attribute == nullptr) return HLY_FAILURE;
    AssignCut(value, *attribute, max_size);
    return HLY_SUCCESS;
}

HLY_Result CVD_XmlHelper::AddChildText(HLY_XmlElementNode* node, const char* tag, const char* text, const char* prefix)
{
    if (node == nullptr) return HLY_FAILURE;
    HLY_XmlElementNode* child = new HLY_XmlElementNode(prefix, tag);
    child->AddText(text);
    return node->AddChild(child);
}

HLY_Result CVD_XmlHelper::Serialize(HLY_XmlNode& node, HLY_String& xml, bool add_header, HLY_UInt32 indentation)
{
    HLY_StringOutputStream stream(&xml);
    HLY_XmlWriter          writer(indentation);
    return writer.Serialize(node, stream, add_header);
}

HLY_Result CVD_XmlHelper::Parse(const char* xml, HLY_Size size, HLY_XmlElementNode*& tree)
{
    tree = nullptr;
    if (xml == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_Cardinal markup = 0;
    for (const char* p = xml; (p = (const char*)memchr(p, '<', size - (p - xml))) != nullptr; ++p) {
        if (++markup > CVD_XML_MAX_MARKUP) {
            HLY_LOG_WARNING("document with more than %d tags refused", CVD_XML_MAX_MARKUP);
            return HLY_ERROR_OUT_OF_RANGE;
        }
    }
    HLY_XmlParser parser;
    HLY_XmlNode*  node   = nullptr;
    HLY_Result    result = parser.Parse(xml, size, node);
    if (HLY_FAILED(result)) {
        delete node;
        return result;
    }
    tree = node ? node->AsElementNode() : nullptr;
    if (tree == nullptr) {
        delete node;
        return HLY_ERROR_INVALID_SYNTAX;
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_DeviceData
+---------------------------------------------------------------------*/
CVD_DeviceData::CVD_DeviceData(const HLY_HttpUrl& description_url,
                               const char*        uuid,
                               HLY_TimeInterval   lease_time,
                               const char*        device_type,
                               const char*        friendly_name)
    : m_Manufacturer(CVD_DEVICE_DEFAULT_MANUFACTURER),
      m_ManufacturerURL(CVD_DEVICE_DEFAULT_MANUFACTURER_URL),
      m_UUID(uuid),
      m_URLDescription(description_url),
      m_DeviceType(device_type),
      m_FriendlyName(friendly_name),
      m_BootId(0),
      m_NextBootId(0),
      m_ConfigId(0)
{
    if (m_UUID.IsEmpty()) CVD_UPnPMessageHelper::GenerateUUID(m_UUID);
    SetLeaseTime(lease_time);
    SetURLBase(m_URLDescription);
    UpdateConfigId();
}

CVD_DeviceData::~CVD_DeviceData()
{
    Cleanup();
}

void CVD_DeviceData::Cleanup()
{
    for (HLY_Ordinal i = 0; i < m_Services.GetItemCount(); i++) delete m_Services[i];
    m_Services.Clear();

    // Embedded devices are released from a work list rather than by each
    // destructor in turn, so freeing a tree never recurses: a device whose
    // last reference is ours hands its own children over before it goes.
    HLY_Array<CVD_DeviceDataReference> pending(m_EmbeddedDevices);
    m_EmbeddedDevices.Clear();
    while (pending.GetItemCount()) {
        CVD_DeviceDataReference device = pending[pending.GetItemCount() - 1];
        pending.Erase(pending.GetItemCount() - 1);
        if (device.GetCounter() == 1) {
            for (HLY_Ordinal i = 0; i < device->m_EmbeddedDevices.GetItemCount(); i++) {
                pending.Add(device->m_EmbeddedDevices[i]);
            }
            device->m_EmbeddedDevices.Clear();
        }
    }
    m_Icons.Clear();
}

void CVD_DeviceData::SetLeaseTime(HLY_TimeInterval lease_time, HLY_TimeStamp lease_time_last_update)
{
    if (lease_time.ToSeconds() < CVD_DEVICE_MIN_LEASE_SECONDS) {
        lease_time = HLY_TimeInterval::FromSeconds(CVD_Constants::GetInstance().GetDefaultDeviceLease());
    }
    if (lease_time_last_update == HLY_TimeStamp()) HLY_System::GetCurrentTimeStamp(lease_time_last_update);
    m_LeaseTime           = lease_time;
    m_LeaseTimeLastUpdate = lease_time_last_update;
}

HLY_Result CVD_DeviceData::SetURLBase(const HLY_HttpUrl& url)
{
    m_URLBase.SetScheme(url.GetScheme());
    if (url.GetPort()) m_URLBase.SetPort(url.GetPort());
    if (!url.GetHost().IsEmpty()) m_URLBase.SetHost(url.GetHost());

    HLY_String path = url.GetPath();
    if (!path.EndsWith("/")) {
        int slash = path.ReverseFind('/');
        if (slash < 0) return HLY_FAILURE;
        path.SetLength(slash + 1);
    }
    m_URLBase.SetPath(path, true);
    return HLY_SUCCESS;
}

HLY_HttpUrl CVD_DeviceData::GetURLBase()
{
    return m_URLBase;
}

HLY_HttpUrl CVD_DeviceData::NormalizeURL(const HLY_String& url)
{
    if (url.StartsWith("http://")) return HLY_HttpUrl(url);

    HLY_HttpUrl result = m_URLBase;
    if (url.StartsWith("/")) {
        result.SetRequestTarget(url);
    } else {
        result.SetRequestTarget(m_URLBase.GetPath() + url);
    }
    return result;
}

HLY_Result CVD_DeviceData::SetDescriptionUrl(HLY_HttpUrl& url)
{
    HLY_CHECK_FATAL(SetURLBase(url));
    m_URLDescription = url;
    return HLY_SUCCESS;
}

HLY_String CVD_DeviceData::GetDescriptionUrl(const char* bind_addr)
{
    HLY_HttpUrl url = m_URLDescription;
    if (bind_addr) url.SetHost(bind_addr);
    return url.ToString();
}

HLY_String CVD_DeviceData::GetIconUrl(const char* mimetype, HLY_Int32 maxsize, HLY_Int32 maxdepth)
{
    CVD_DeviceIcon best;
    for (HLY_Ordinal i = 0; i < m_Icons.GetItemCount(); i++) {
        const CVD_DeviceIcon& icon = m_Icons[i];
        if (mimetype && icon.m_MimeType != mimetype) continue;
        if (maxsize && (icon.m_Width > maxsize || icon.m_Height > maxsize)) continue;
        if (maxdepth && icon.m_Depth > maxdepth) continue;
        if (icon.m_Width > best.m_Width && icon.m_Height > best.m_Height && icon.m_Depth > best.m_Depth &&
            !icon.m_UrlPath.IsEmpty()) {
            best = icon;
        }
    }
    if (best.m_UrlPath.IsEmpty()) return HLY_String();
    return NormalizeURL(best.m_UrlPath).ToString();
}

void CVD_DeviceData::UpdateConfigId()
{
    HLY_UInt32 id = HLY_System::GetRandomInteger() & 0xFFFFFF;
    if (id == m_ConfigId) id = id ? id - 1 : id + 1;
    m_ConfigId = id;
}

HLY_UInt32 CVD_DeviceData::GenerateNextBootId()
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    HLY_UInt32 id = (HLY_UInt32)now.ToSeconds();
    if (id == m_BootId) ++id;
    return id;
}

CVD_DeviceData::operator const char*()
{
    m_Representation = "Device GUID: " + m_UUID + "Device Type: " + m_DeviceType + "Device Base Url: " +
                       m_URLBase.ToString() + "Device Friendly Name: " + m_FriendlyName;
    return m_Representation;
}

/*----------------------------------------------------------------------
|   tree mutators
+---------------------------------------------------------------------*/
HLY_Result CVD_DeviceData::AddService(CVD_Service* service)
{
    if (service == nullptr || service->GetServiceType().IsEmpty() || service->GetServiceID().IsEmpty() ||
        service->GetRawSCPDURL().IsEmpty() || service->GetRawControlURL().IsEmpty() ||
        service->GetRawEventSubURL().IsEmpty()) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    UpdateConfigId();
    return m_Services.Add(service);
}

HLY_Result CVD_DeviceData::RemoveService(CVD_Service* service)
{
    if (!m_Services.Contains(service)) return HLY_ERROR_NO_SUCH_ITEM;
    UpdateConfigId();
    return m_Services.Remove(service);
}

HLY_Cardinal CVD_DeviceData::GetTreeDepth() const
{
    // breadth first, level by level, without recursion
    HLY_Cardinal                   depth = 0;
    HLY_Array<const CVD_DeviceData*> level;
    level.Add(this);
    while (level.GetItemCount()) {
        ++depth;
        HLY_Array<const CVD_DeviceData*> next;
        for (HLY_Ordinal i = 0; i < level.GetItemCount(); i++) {
            const HLY_Array<CVD_DeviceDataReference>& children = level[i]->m_EmbeddedDevices;
            for (HLY_Ordinal j = 0; j < children.GetItemCount(); j++) next.Add(children[j].AsPointer());
        }
        level = next;
        if (depth > CVD_DEVICE_MAX_DEPTH) break;
    }
    return depth;
}

HLY_Result CVD_DeviceData::AddEmbeddedDevice(CVD_DeviceDataReference& device)
{
    if (device.IsNull() || device.AsPointer() == this) return HLY_ERROR_INVALID_PARAMETERS;
    // this device's own depth below a root is unknown here; bounding the
    // subtree keeps every tree built in code within what a parse accepts
    if (device->GetTreeDepth() + 1 > CVD_DEVICE_MAX_DEPTH) return HLY_ERROR_OUT_OF_RANGE;
    UpdateConfigId();
    device->m_ParentUUID = m_UUID;
    return m_EmbeddedDevices.Add(device);
}

HLY_Result CVD_DeviceData::RemoveEmbeddedDevice(CVD_DeviceDataReference& device)
{
    if (!m_EmbeddedDevices.Contains(device)) return HLY_ERROR_NO_SUCH_ITEM;
    UpdateConfigId();
    return m_EmbeddedDevices.Remove(device);
}

/*----------------------------------------------------------------------
|   finders
+---------------------------------------------------------------------*/
bool CVD_DeviceDataFinder::operator()(const CVD_DeviceDataReference& data) const
{
    return data->GetUUID().Compare(m_UUID, true) == 0;
}

bool CVD_DeviceDataFinderByType::operator()(const CVD_DeviceDataReference& data) const
{
    return data->GetType().Compare(m_Type, true) == 0;
}

template <typename P> HLY_Result CVD_DeviceData::FindEmbedded(const P& predicate, CVD_DeviceDataReference& device)
{
    if (HLY_SUCCEEDED(m_EmbeddedDevices.Find(predicate, device))) return HLY_SUCCESS;
    for (HLY_Ordinal i = 0; i < m_EmbeddedDevices.GetItemCount(); i++) {
        if (HLY_SUCCEEDED(m_EmbeddedDevices[i]->FindEmbedded(predicate, device))) return HLY_SUCCESS;
    }
    return HLY_FAILURE;
}

HLY_Result CVD_DeviceData::FindEmbeddedDevice(const char* uuid, CVD_DeviceDataReference& device)
{
    return FindEmbedded(CVD_DeviceDataFinder(uuid), device);
}

HLY_Result CVD_DeviceData::FindEmbeddedDeviceByType(const char* type, CVD_DeviceDataReference& device)
{
    return FindEmbedded(CVD_DeviceDataFinderByType(type), device);
}

HLY_Result CVD_DeviceData::FindServiceById(const char* id, CVD_Service*& service)
{
    return m_Services.Find(CVD_ServiceIDFinder(id), service);
}

HLY_Result CVD_DeviceData::FindServiceByType(const char* type, CVD_Service*& service)
{
    return m_Services.Find(CVD_ServiceTypeFinder(type), service);
}

HLY_Result CVD_DeviceData::FindServiceByName(const char* name, CVD_Service*& service)
{
    return m_Services.Find(CVD_ServiceNameFinder(name), service);
}

template <typename P>
HLY_Result CVD_DeviceData::FindServiceByUrl(const char* url, CVD_Service*& service, bool recursive, const P& getter)
{
    if (HLY_SUCCEEDED(m_Services.Find(CVD_ServiceURLFinder(url, getter), service))) return HLY_SUCCESS;
    if (!recursive) return HLY_ERROR_NO_SUCH_ITEM;
    for (HLY_Ordinal i = 0; i < m_EmbeddedDevices.GetItemCount(); i++) {
        if (HLY_SUCCEEDED(m_EmbeddedDevices[i]->FindServiceByUrl(url, service, true, getter))) return HLY_SUCCESS;
    }
    return HLY_FAILURE;
}

HLY_Result CVD_DeviceData::FindServiceBySCPDURL(const char* url, CVD_Service*& service, bool recursive)
{
    return FindServiceByUrl(url, service, recursive, &CVD_Service::GetSCPDURL);
}

HLY_Result CVD_DeviceData::FindServiceByControlURL(const char* url, CVD_Service*& service, bool recursive)
{
    return FindServiceByUrl(url, service, recursive, &CVD_Service::GetControlURL);
}

HLY_Result CVD_DeviceData::FindServiceByEventSubURL(const char* url, CVD_Service*& service, bool recursive)
{
    return FindServiceByUrl(url, service, recursive, &CVD_Service::GetEventSubURL);
}

/*----------------------------------------------------------------------
|   writing
+---------------------------------------------------------------------*/
HLY_Result CVD_DeviceData::GetOwnDescription(HLY_XmlElementNode* parent, HLY_XmlElementNode*& device)
{
    device = new HLY_XmlElementNode("device");
    HLY_CHECK_SEVERE(parent->AddChild(device));

    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "deviceType", m_DeviceType));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "friendlyName", m_FriendlyName));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "manufacturer", m_Manufacturer));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "manufacturerURL", m_ManufacturerURL));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "modelDescription", m_ModelDescription));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "modelName", m_ModelName));
    if (!m_ModelNumber.IsEmpty()) HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "modelNumber", m_ModelNumber));
    if (!m_SerialNumber.IsEmpty()) HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "serialNumber", m_SerialNumber));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "modelURL", m_ModelURL));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "UDN", "uuid:" + m_UUID));
    if (!m_PresentationURL.IsEmpty()) {
        HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(device, "presentationURL", m_PresentationURL));
    }
    HLY_CHECK_SEVERE(OnAddExtraInfo(device));

    const struct {
        const HLY_String& text;
        const char*       tag;
        const char*       prefix;
        const char*       uri;
    } extras[] = {{m_DlnaDoc, "X_DLNADOC", "dlna", CVD_DLNA_NAMESPACE},
                  {m_DlnaCap, "X_DLNACAP", "dlna", CVD_DLNA_NAMESPACE}};
    for (const auto& extra : extras) {
        if (extra.text.IsEmpty()) continue;
        HLY_XmlElementNode* node = new HLY_XmlElementNode(extra.prefix, extra.tag);
        HLY_CHECK_SEVERE(device->AddChild(node));
        HLY_CHECK_SEVERE(node->SetNamespaceUri(extra.prefix, extra.uri));
        HLY_CHECK_SEVERE(node->AddText(extra.text));
    }

    if (m_Icons.GetItemCount()) {
        HLY_XmlElementNode* icons = new HLY_XmlElementNode("iconList");
        HLY_CHECK_SEVERE(device->AddChild(icons));
        for (HLY_Ordinal i = 0; i < m_Icons.GetItemCount(); i++) {
            const CVD_DeviceIcon& icon = m_Icons[i];
            HLY_XmlElementNode*   node = new HLY_XmlElementNode("icon");
            HLY_CHECK_SEVERE(icons->AddChild(node));
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(node, "mimetype", icon.m_MimeType));
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(node, "width", HLY_String::FromInteger(icon.m_Width)));
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(node, "height", HLY_String::FromInteger(icon.m_Height)));
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(node, "depth", HLY_String::FromInteger(icon.m_Depth)));
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(node, "url", icon.m_UrlPath));
        }
    }

    HLY_XmlElementNode* services = new HLY_XmlElementNode("serviceList");
    HLY_CHECK_SEVERE(device->AddChild(services));
    for (HLY_Ordinal i = 0; i < m_Services.GetItemCount(); i++) {
        HLY_CHECK_SEVERE(m_Services[i]->GetDescription(services));
    }

    if (!m_AggregationFlags.IsEmpty()) {
        HLY_XmlElementNode* node = new HLY_XmlElementNode("av", "aggregationFlags");
        HLY_CHECK_SEVERE(device->AddChild(node));
        HLY_CHECK_SEVERE(node->SetNamespaceUri("av", CVD_SONY_AV_NAMESPACE));
        HLY_CHECK_SEVERE(node->AddText(m_AggregationFlags));
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceData::GetDescription(HLY_XmlElementNode* parent, HLY_XmlElementNode** device_out)
{
    HLY_CHECK_POINTER_SEVERE(parent);
    // embedded devices are written from an explicit work list, not by recursion
    struct Work {
        CVD_DeviceData*     device;
        HLY_XmlElementNode* parent;
    };
    HLY_Array<Work> pending;
    pending.Add(Work{this, parent});
    bool first = true;
    while (pending.GetItemCount()) {
        Work work = pending[pending.GetItemCount() - 1];
        pending.Erase(pending.GetItemCount() - 1);

        HLY_XmlElementNode* node = nullptr;
        HLY_CHECK_SEVERE(work.device->GetOwnDescription(work.parent, node));
        if (first && device_out) *device_out = node;
        first = false;

        const HLY_Array<CVD_DeviceDataReference>& children = work.device->m_EmbeddedDevices;
        if (children.GetItemCount() == 0) continue;
        HLY_XmlElementNode* list = new HLY_XmlElementNode("deviceList");
        HLY_CHECK_SEVERE(node->AddChild(list));
        // pushed in reverse so that they come out, and are written, in list order
        for (HLY_Ordinal i = children.GetItemCount(); i > 0; i--) pending.Add(Work{children[i - 1].AsPointer(), list});
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_DeviceData::GetDescription(HLY_String& desc)
{
    HLY_XmlElementNode root("root");
    HLY_CHECK_SEVERE(root.SetNamespaceUri("", CVD_DEVICE_NAMESPACE));
    HLY_CHECK_SEVERE(root.SetNamespaceUri("dlna", CVD_DLNA_NAMESPACE));
    HLY_CHECK_SEVERE(root.SetAttribute("", "configId", HLY_String::FromIntegerU(m_ConfigId)));

    HLY_XmlElementNode* version = new HLY_XmlElementNode("specVersion");
    HLY_CHECK_SEVERE(root.AddChild(version));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(version, "major", "1"));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(version, "minor", "1"));

    HLY_CHECK_SEVERE(GetDescription(&root));
    HLY_CHECK_SEVERE(CVD_XmlHelper::Serialize(root, desc, true, 2));
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   parsing
+---------------------------------------------------------------------*/
HLY_Result CVD_DeviceData::SetDescription(CVD_DeviceDataReference&      root_device,
                                          HLY_TimeInterval              leasetime,
                                          HLY_HttpUrl                   description_url,
                                          const char*                   description,
                                          const HLY_HttpRequestContext& context)
{
    if (root_device.IsNull()) root_device = new CVD_DeviceData(description_url, "", leasetime);
    HLY_CHECK_POINTER_SEVERE(description);

    HLY_XmlElementNode* tree = nullptr;
    HLY_Result          res  = CVD_XmlHelper::Parse(description, strlen(description), tree);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(CVD_XmlHelper::Parse(description, tree))", res);
        return res;
    }

    res = HLY_FAILURE;
    const HLY_String* ns = tree->GetNamespace();
    if (tree->GetTag() != "root" || ns == nullptr || *ns != CVD_DEVICE_NAMESPACE) {
        HLY_LOG_INFO("root namespace is invalid: %s", ns ? ns->GetChars() : "null");
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(HLY_FAILURE)", res);
    } else {
        HLY_String url_base;
        if (HLY_SUCCEEDED(CVD_XmlHelper::GetChildText(tree, "URLBase", url_base))) {
            HLY_HttpUrl base(url_base);
            HLY_String  host = base.GetHost().ToLowercase();
            if (host == "localhost" || host == "127.0.0.1") {
                base.SetHost(context.GetRemoteAddress().GetIpAddress().ToString());
            }
            root_device->SetURLBase(base);
        } else {
            root_device->SetURLBase(description_url);
        }

        HLY_XmlElementNode* device = CVD_XmlHelper::GetChild(tree, "device");
        if (device == nullptr) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(device element)", res);
        } else {
            res = ParseDevice(root_device, device, context, 1);
        }
        // kept as the device sent it, for those who inspect devices
        if (HLY_SUCCEEDED(res)) root_device->m_RawDescription = description;

        root_device->m_ConfigId = 0;
        HLY_String config_id;
        HLY_UInt32 value;
        if (HLY_SUCCEEDED(CVD_XmlHelper::GetAttribute(tree, "configId", config_id)) &&
            HLY_SUCCEEDED(config_id.ToInteger(value))) {
            root_device->m_ConfigId = value;
        }
    }
    delete tree;
    return res;
}

HLY_Result CVD_DeviceData::SetDescriptionDevice(CVD_DeviceDataReference&      device,
                                                HLY_XmlElementNode*           device_node,
                                                const HLY_HttpRequestContext& context)
{
    return ParseDevice(device, device_node, context, 1);
}

HLY_Result CVD_DeviceData::ParseDevice(CVD_DeviceDataReference&      device,
                                       HLY_XmlElementNode*           device_node,
                                       const HLY_HttpRequestContext& context,
                                       HLY_Cardinal                  depth)
{
    HLY_CHECK_POINTER_SEVERE(device_node);
    if (depth > CVD_DEVICE_MAX_DEPTH) {
        HLY_LOG_SEVERE("device description nested deeper than %d levels", CVD_DEVICE_MAX_DEPTH);
        return HLY_ERROR_OUT_OF_RANGE;
    }
    CVD_DeviceData& data = *device;
    data.m_LocalIfaceIp  = context.GetLocalAddress().GetIpAddress();

    HLY_CHECK_SEVERE(CVD_XmlHelper::GetChildText(device_node, "deviceType", data.m_DeviceType));
    // the cut applies to the UUID itself, not to "uuid:" and what follows: cut
    // before the prefix goes, a long UUID came back shorter each time it was
    // written and read again
    HLY_CHECK_SEVERE(CVD_XmlHelper::GetChildText(device_node, "UDN", data.m_UUID, "", CVD_XML_MAX_TEXT_SIZE + 5));
    if (data.m_UUID.StartsWith("uuid:")) data.m_UUID.Erase(0, 5);
    if (data.m_UUID.GetLength() > CVD_XML_MAX_TEXT_SIZE) data.m_UUID.SetLength(CVD_XML_MAX_TEXT_SIZE);

    const struct {
        const char* tag;
        HLY_String& field;
    } optional[] = {{"friendlyName", data.m_FriendlyName},         {"manufacturer", data.m_Manufacturer},
                    {"manufacturerURL", data.m_ManufacturerURL},   {"modelDescription", data.m_ModelDescription},
                    {"modelName", data.m_ModelName},               {"modelURL", data.m_ModelURL},
                    {"modelNumber", data.m_ModelNumber},           {"serialNumber", data.m_SerialNumber},
                    {"presentationURL", data.m_PresentationURL}};
    for (const auto& entry : optional) {
        HLY_String value;
        if (HLY_SUCCEEDED(CVD_XmlHelper::GetChildText(device_node, entry.tag, value))) entry.field = value;
    }

    HLY_XmlElementNode* icon_list = CVD_XmlHelper::GetChild(device_node, "iconList");
    if (icon_list) {
        HLY_List<HLY_XmlElementNode*> icons;
        CVD_XmlHelper::GetChildren(icon_list, icons, "icon");
        data.m_Icons.Reserve(icons.GetItemCount());
        for (HLY_List<HLY_XmlElementNode*>::Iterator it = icons.GetFirstItem(); it; ++it) {
            CVD_DeviceIcon icon;
            CVD_XmlHelper::GetChildText(*it, "mimetype", icon.m_MimeType);
            CVD_XmlHelper::GetChildText(*it, "url", icon.m_UrlPath);
            const struct {
                const char* tag;
                HLY_Int32&  field;
            } numbers[] = {{"width", icon.m_Width}, {"height", icon.m_Height}, {"depth", icon.m_Depth}};
            for (const auto& number : numbers) {
                HLY_String text;
                if (HLY_SUCCEEDED(CVD_XmlHelper::GetChildText(*it, number.tag, text))) {
                    if (HLY_FAILED(text.ToInteger(number.field))) number.field = 0;
                }
            }
            data.m_Icons.Add(icon);
        }
    }

    HLY_XmlElementNode* service_list = CVD_XmlHelper::GetChild(device_node, "serviceList");
    if (service_list) {
        HLY_List<HLY_XmlElementNode*> services;
        CVD_XmlHelper::GetChildren(service_list, services, "service");
        for (HLY_List<HLY_XmlElementNode*>::Iterator it = services.GetFirstItem(); it; ++it) {
            HLY_String type, id, scpd, control, event;
            CVD_XmlHelper::GetChildText(*it, "serviceType", type);
            CVD_XmlHelper::GetChildText(*it, "serviceId", id);
            CVD_XmlHelper::GetChildText(*it, "SCPDURL", scpd);
            CVD_XmlHelper::GetChildText(*it, "controlURL", control);
            CVD_XmlHelper::GetChildText(*it, "eventSubURL", event);
            CVD_Service* service = new CVD_Service(&data, type, id);
            service->SetSCPDURL(scpd);
            service->SetControlURL(control);
            service->SetEventSubURL(event);
            HLY_Result res = data.AddService(service);
            if (HLY_FAILED(res)) {
                delete service;
                return res;
            }
        }
    }

    HLY_XmlElementNode* device_list = CVD_XmlHelper::GetChild(device_node, "deviceList");
    if (device_list) {
        HLY_List<HLY_XmlElementNode*> devices;
        CVD_XmlHelper::GetChildren(device_list, devices, "device");
        for (HLY_List<HLY_XmlElementNode*>::Iterator it = devices.GetFirstItem(); it; ++it) {
            CVD_DeviceDataReference embedded(new CVD_DeviceData(data.m_URLDescription, "", data.m_LeaseTime));
            // the depth is checked before anything is built, so the
            // recursion below is bounded by CVD_DEVICE_MAX_DEPTH
            HLY_CHECK_SEVERE(ParseDevice(embedded, *it, context, depth + 1));
            data.UpdateConfigId();
            embedded->m_ParentUUID = data.m_UUID;
            data.m_EmbeddedDevices.Add(embedded);
        }
    }
    return HLY_SUCCESS;
}
