#ifndef CVD_PROTOCOL_INFO_H
#define CVD_PROTOCOL_INFO_H

#include "CvdHttp.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlystrings.h"

/*----------------------------------------------------------------------
|   CVD_ProtocolInfo: the "protocol:mask:content type:extra" text of a
|   media resource, with the DLNA parameters of its fourth field
+---------------------------------------------------------------------*/
class CVD_ProtocolInfo
{
public:
    struct FieldEntry
    {
        FieldEntry() {}
        FieldEntry(const char* name, const char* value) : m_Name(name), m_Value(value) {}
        HLY_String m_Name;
        HLY_String m_Value;
    };

    CVD_ProtocolInfo() : m_Valid(false) {}
    explicit CVD_ProtocolInfo(const char* protocol_info);
    CVD_ProtocolInfo(const char* protocol, const char* mask, const char* content_type, const char* extra);

    HLY_Result Parse(const char* protocol_info);
    HLY_String ToString() const;

    const HLY_String& GetProtocol() const { return m_Protocol; }
    const HLY_String& GetMask() const { return m_Mask; }
    const HLY_String& GetContentType() const { return m_ContentType; }
    const HLY_String& GetExtra() const { return m_Extra; }
    const HLY_String& GetDlnaPN() const { return m_DlnaPN; }
    const HLY_String& GetDlnaOP() const { return m_DlnaOP; }
    const HLY_String& GetDlnaPS() const { return m_DlnaPS; }
    const HLY_String& GetDlnaCI() const { return m_DlnaCI; }
    const HLY_String& GetDlnaFlags() const { return m_DlnaFlags; }
    const HLY_String& GetDlnaMaxSP() const { return m_DlnaMaxSP; }
    const HLY_List<FieldEntry>& GetOtherParams() const { return m_DlnaOtherParams; }
    bool IsValid() const { return m_Valid; }

    bool Match(const CVD_ProtocolInfo& other) const;

    // the content type of a protocol info text (empty when it does not parse)
    static HLY_String GetMimeTypeFromProtocolInfo(const char* protocol_info);

    // the fourth field to advertise for a MIME type to a kind of client
    static const char* GetDlnaExtension(const char* mime_type, CVD_DeviceSignature signature = CVD_DEVICE_UNKNOWN);
    static const char* GetDlnaExtension(const char* mime_type, const HLY_HttpRequest* request);

    // "http-get:*:" + MIME type + ":" + the fourth field (or "*" without DLNA)
    static CVD_ProtocolInfo GetProtocolInfoFromMimeType(const char* mime_type, bool with_dlna = true,
                                                        CVD_DeviceSignature signature = CVD_DEVICE_UNKNOWN);
    static CVD_ProtocolInfo GetProtocolInfoFromMimeType(const char* mime_type, bool with_dlna,
                                                        const HLY_HttpRequest* request);
    static CVD_ProtocolInfo GetProtocolInfo(const char* filename, bool with_dlna = true,
                                            CVD_DeviceSignature signature = CVD_DEVICE_UNKNOWN);
    static CVD_ProtocolInfo GetProtocolInfo(const char* filename, bool with_dlna, const HLY_HttpRequest* request);

    // the MIME type of a file name for a kind of client
    static HLY_String GetMimeType(const char* filename, CVD_DeviceSignature signature = CVD_DEVICE_UNKNOWN);
    static HLY_String GetMimeType(const char* filename, const HLY_HttpRequest* request);

    // splits a fourth field into name=value pairs ("*" gives none)
    static HLY_Result ParseExtra(const HLY_String& extra, HLY_List<FieldEntry>& entries);

private:
    HLY_Result ValidateExtra();

    HLY_String           m_Protocol;
    HLY_String           m_Mask;
    HLY_String           m_ContentType;
    HLY_String           m_Extra;
    HLY_String           m_DlnaPN;
    HLY_String           m_DlnaOP;
    HLY_String           m_DlnaPS;
    HLY_String           m_DlnaCI;
    HLY_String           m_DlnaFlags;
    HLY_String           m_DlnaMaxSP;
    HLY_List<FieldEntry> m_DlnaOtherParams;
    bool                 m_Valid;
};

#endif // CVD_PROTOCOL_INFO_H
