#ifndef CVD_DEVICE_DATA_H
#define CVD_DEVICE_DATA_H

#include "hlyarray.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlyreferences.h"
#include "hlysockets.h"
#include "hlystrings.h"
#include "hlytime.h"
#include "hlyurls.h"

class HLY_XmlNode;
class HLY_XmlElementNode;
class CVD_Service;
class CVD_DeviceData;

typedef HLY_Reference<CVD_DeviceData> CVD_DeviceDataReference;

// A device tree deeper than this is refused while parsing and cannot be
// built: every walk over the tree stays bounded (real devices nest 1-3 levels).
#define CVD_DEVICE_MAX_DEPTH 16
// A document with more markup ('<') than this is refused before it is
// parsed: its tree would cost some 150 bytes per tag, far beyond any real
// UPnP document (a few hundred tags).
#define CVD_XML_MAX_MARKUP 200000
// Texts of a description are cut to this many characters.
#define CVD_XML_MAX_TEXT_SIZE 1024

#define CVD_DEVICE_NAMESPACE "urn:schemas-upnp-org:device-1-0"
#define CVD_DLNA_NAMESPACE   "urn:schemas-dlna-org:device-1-0"
#define CVD_SONY_AV_NAMESPACE "urn:schemas-sonycom:av"

/*----------------------------------------------------------------------
|   CVD_XmlHelper: the engine's conveniences over the XML tree. A
|   namespace of "" means the searched element's own, null means any.
+---------------------------------------------------------------------*/
class CVD_XmlHelper
{
public:
    static HLY_XmlElementNode* GetChild(const HLY_XmlElementNode* node, const char* tag, const char* namespc = "");
    static HLY_Result GetChildren(const HLY_XmlElementNode*   node,
                                  HLY_List<HLY_XmlElementNode*>& children,
                                  const char*                 tag,
                                  const char*                 namespc = "");
    // the child's text cut to max_size characters; only that much is copied
    static HLY_Result GetChildText(const HLY_XmlElementNode* node,
                                   const char*               tag,
                                   HLY_String&               value,
                                   const char*               namespc  = "",
                                   HLY_Cardinal              max_size = CVD_XML_MAX_TEXT_SIZE);
    static HLY_Result GetAttribute(const HLY_XmlElementNode* node,
                                   const char*               name,
                                   HLY_String&               value,
                                   const char*               namespc  = "",
                                   HLY_Cardinal              max_size = CVD_XML_MAX_TEXT_SIZE);
    // the element's own text (all its text children), cut to max_size
    static void GetText(const HLY_XmlElementNode* node, HLY_String& value, HLY_Cardinal max_size = 0);
    static HLY_Result AddChildText(HLY_XmlElementNode* node, const char* tag, const char* text, const char* prefix = nullptr);
    static HLY_Result Serialize(HLY_XmlNode& node, HLY_String& xml, bool add_header = true, HLY_UInt32 indentation = 0);
    // parses a document whose top node must be an element; the caller owns
    // it. More than CVD_XML_MAX_MARKUP tags give HLY_ERROR_OUT_OF_RANGE.
    static HLY_Result Parse(const char* xml, HLY_Size size, HLY_XmlElementNode*& tree);
};

/*----------------------------------------------------------------------
|   CVD_DeviceIcon
+---------------------------------------------------------------------*/
class CVD_DeviceIcon
{
public:
    CVD_DeviceIcon(const char* mimetype = "", HLY_Int32 width = 0, HLY_Int32 height = 0, HLY_Int32 depth = 0,
                   const char* urlpath = "")
        : m_MimeType(mimetype), m_Width(width), m_Height(height), m_Depth(depth), m_UrlPath(urlpath) {}
    virtual ~CVD_DeviceIcon() {}
    bool operator==(const CVD_DeviceIcon& o) const
    {
        return m_MimeType == o.m_MimeType && m_Width == o.m_Width && m_Height == o.m_Height &&
               m_Depth == o.m_Depth && m_UrlPath == o.m_UrlPath;
    }

    HLY_String m_MimeType;
    HLY_Int32  m_Width;
    HLY_Int32  m_Height;
    HLY_Int32  m_Depth;
    HLY_String m_UrlPath;
};

/*----------------------------------------------------------------------
|   CVD_DeviceData: one root or embedded device
+---------------------------------------------------------------------*/
class CVD_DeviceData
{
public:
    CVD_DeviceData(const HLY_HttpUrl& description_url,
                   const char*        uuid          = "",
                   HLY_TimeInterval   lease_time    = HLY_TimeInterval(-1.0),
                   const char*        device_type   = "",
                   const char*        friendly_name = "");

    virtual HLY_Result GetDescription(HLY_XmlElementNode* parent, HLY_XmlElementNode** device = nullptr);
    virtual HLY_Result GetDescription(HLY_String& desc);
    virtual HLY_String GetDescriptionUrl(const char* bind_addr = nullptr);
    virtual HLY_HttpUrl GetURLBase();
    virtual HLY_HttpUrl NormalizeURL(const HLY_String& url);
    virtual HLY_String GetIconUrl(const char* mimetype = nullptr, HLY_Int32 maxsize = 0, HLY_Int32 maxdepth = 0);
    virtual ~CVD_DeviceData();
    virtual void Cleanup();
    virtual HLY_Result OnAddExtraInfo(HLY_XmlElementNode* /*device_node*/) { return HLY_SUCCESS; }

    operator const char*();

    // accessors
    const HLY_String& GetUUID() const { return m_UUID; }
    const HLY_String& GetParentUUID() const { return m_ParentUUID; }
    const HLY_String& GetFriendlyName() const { return m_FriendlyName; }
    const HLY_String& GetType() const { return m_DeviceType; }
    const HLY_String& GetModelDescription() const { return m_ModelDescription; }
    const HLY_String& GetModelName() const { return m_ModelName; }
    const HLY_String& GetModelNumber() const { return m_ModelNumber; }
    const HLY_String& GetModelURL() const { return m_ModelURL; }
    const HLY_String& GetManufacturer() const { return m_Manufacturer; }
    const HLY_String& GetManufacturerURL() const { return m_ManufacturerURL; }
    const HLY_String& GetSerialNumber() const { return m_SerialNumber; }
    const HLY_String& GetPresentationURL() const { return m_PresentationURL; }
    const HLY_HttpUrl& GetDescriptionURL() const { return m_URLDescription; }
    HLY_TimeInterval GetLeaseTime() const { return m_LeaseTime; }
    HLY_TimeStamp GetLeaseTimeLastUpdate() const { return m_LeaseTimeLastUpdate; }
    const HLY_IpAddress& GetLocalIP() const { return m_LocalIfaceIp; }
    const HLY_Array<CVD_Service*>& GetServices() const { return m_Services; }
    const HLY_Array<CVD_DeviceDataReference>& GetEmbeddedDevices() const { return m_EmbeddedDevices; }
    const HLY_Array<CVD_DeviceIcon>& GetIcons() const { return m_Icons; }
    // the description document as the device sent it (root devices a
    // control point read; empty otherwise)
    const HLY_String& GetRawDescription() const { return m_RawDescription; }
    HLY_UInt32 GetBootId() const { return m_BootId; }
    HLY_UInt32 GetNextBootId() const { return m_NextBootId; }
    HLY_UInt32 GetConfigId() const { return m_ConfigId; }
    void SetBootId(HLY_UInt32 id) { m_BootId = id; }
    void SetNextBootId(HLY_UInt32 id) { m_NextBootId = id; }
    HLY_UInt32 GenerateNextBootId();

    // mutators of the tree
    HLY_Result AddService(CVD_Service* service);
    HLY_Result RemoveService(CVD_Service* service);
    // refused when the tree would grow deeper than CVD_DEVICE_MAX_DEPTH
    HLY_Result AddEmbeddedDevice(CVD_DeviceDataReference& device);
    HLY_Result RemoveEmbeddedDevice(CVD_DeviceDataReference& device);
    HLY_Result SetDescriptionUrl(HLY_HttpUrl& url);
    HLY_Result SetURLBase(const HLY_HttpUrl& url);
    void SetLeaseTime(HLY_TimeInterval lease_time, HLY_TimeStamp lease_time_last_update = HLY_TimeStamp());
    void AddIcon(const CVD_DeviceIcon& icon) { m_Icons.Add(icon); }
    void UpdateConfigId();

    // finders
    HLY_Result FindEmbeddedDevice(const char* uuid, CVD_DeviceDataReference& device);
    HLY_Result FindEmbeddedDeviceByType(const char* type, CVD_DeviceDataReference& device);
    HLY_Result FindServiceById(const char* id, CVD_Service*& service);
    HLY_Result FindServiceByType(const char* type, CVD_Service*& service);
    HLY_Result FindServiceByName(const char* name, CVD_Service*& service);
    HLY_Result FindServiceBySCPDURL(const char* url, CVD_Service*& service, bool recursive = false);
    HLY_Result FindServiceByControlURL(const char* url, CVD_Service*& service, bool recursive = false);
    HLY_Result FindServiceByEventSubURL(const char* url, CVD_Service*& service, bool recursive = false);

    // parsing (the root reference is made when empty)
    static HLY_Result SetDescription(CVD_DeviceDataReference&      root_device,
                                     HLY_TimeInterval              leasetime,
                                     HLY_HttpUrl                   description_url,
                                     const char*                   description,
                                     const HLY_HttpRequestContext& context);
    static HLY_Result SetDescriptionDevice(CVD_DeviceDataReference&      device,
                                           HLY_XmlElementNode*           device_node,
                                           const HLY_HttpRequestContext& context);

    // the number of levels of this subtree (1 without embedded devices)
    HLY_Cardinal GetTreeDepth() const;

protected:
    // writes this device's own element (everything but the embedded devices)
    HLY_Result GetOwnDescription(HLY_XmlElementNode* parent, HLY_XmlElementNode*& device);
    static HLY_Result ParseDevice(CVD_DeviceDataReference&      device,
                                  HLY_XmlElementNode*           device_node,
                                  const HLY_HttpRequestContext& context,
                                  HLY_Cardinal                  depth);
    template <typename P> HLY_Result FindEmbedded(const P& predicate, CVD_DeviceDataReference& device);
    template <typename P> HLY_Result FindServiceByUrl(const char* url, CVD_Service*& service, bool recursive,
                                                      const P& getter);

public:
    HLY_String                         m_Manufacturer;
    HLY_String                         m_ManufacturerURL;
    HLY_String                         m_ModelDescription;
    HLY_String                         m_ModelName;
    HLY_String                         m_ModelNumber;
    HLY_String                         m_ModelURL;
    HLY_String                         m_SerialNumber;
    HLY_String                         m_PresentationURL;
    HLY_String                         m_DlnaDoc;
    HLY_String                         m_DlnaCap;
    HLY_String                         m_AggregationFlags;

protected:
    HLY_String                         m_ParentUUID;
    HLY_String                         m_UUID;
    HLY_HttpUrl                        m_URLDescription;
    HLY_HttpUrl                        m_URLBase;
    HLY_String                         m_DeviceType;
    HLY_String                         m_FriendlyName;
    HLY_TimeInterval                   m_LeaseTime;
    HLY_TimeStamp                      m_LeaseTimeLastUpdate;
    HLY_Array<CVD_Service*>            m_Services;
    HLY_Array<CVD_DeviceDataReference> m_EmbeddedDevices;
    HLY_Array<CVD_DeviceIcon>          m_Icons;
    HLY_IpAddress                      m_LocalIfaceIp;
    HLY_String                         m_Representation;
    HLY_String                         m_RawDescription;
    HLY_UInt32                         m_BootId;
    HLY_UInt32                         m_NextBootId;
    HLY_UInt32                         m_ConfigId;

private:
    CVD_DeviceData(const CVD_DeviceData&)            = delete;
    CVD_DeviceData& operator=(const CVD_DeviceData&) = delete;
};

/*----------------------------------------------------------------------
|   finders (all compare ignoring case)
+---------------------------------------------------------------------*/
class CVD_DeviceDataFinder
{
public:
    explicit CVD_DeviceDataFinder(const char* uuid) : m_UUID(uuid) {}
    bool operator()(const CVD_DeviceDataReference& data) const;
private:
    HLY_String m_UUID;
};

class CVD_DeviceDataFinderByType
{
public:
    explicit CVD_DeviceDataFinderByType(const char* type) : m_Type(type) {}
    bool operator()(const CVD_DeviceDataReference& data) const;
private:
    HLY_String m_Type;
};

#endif // CVD_DEVICE_DATA_H
