#ifndef CVD_DIDL_H
#define CVD_DIDL_H

#include "CvdMediaItem.h"
#include "hlystrings.h"

// the property bits of a Browse or Search filter
#define CVD_FILTER_MASK_ALL                  0xFFFFFFFF
#define CVD_FILTER_MASK_CREATOR              0x00000001
#define CVD_FILTER_MASK_ARTIST               0x00000002
#define CVD_FILTER_MASK_ALBUM                0x00000004
#define CVD_FILTER_MASK_GENRE                0x00000008
#define CVD_FILTER_MASK_ALBUMARTURI          0x00000010
#define CVD_FILTER_MASK_DESCRIPTION          0x00000020
#define CVD_FILTER_MASK_SEARCHABLE           0x00000040
#define CVD_FILTER_MASK_CHILDCOUNT           0x00000080
#define CVD_FILTER_MASK_ORIGINALTRACK        0x00000100
#define CVD_FILTER_MASK_ACTOR                0x00000200
#define CVD_FILTER_MASK_AUTHOR               0x00000400
#define CVD_FILTER_MASK_DATE                 0x00000800
#define CVD_FILTER_MASK_PROGRAMTITLE         0x00001000
#define CVD_FILTER_MASK_SERIESTITLE          0x00002000
#define CVD_FILTER_MASK_EPISODE              0x00004000
#define CVD_FILTER_MASK_TITLE                0x00008000
#define CVD_FILTER_MASK_RES                  0x00010000
#define CVD_FILTER_MASK_RES_DURATION         0x00020000
#define CVD_FILTER_MASK_RES_SIZE             0x00040000
#define CVD_FILTER_MASK_RES_PROTECTION       0x00080000
#define CVD_FILTER_MASK_RES_RESOLUTION       0x00100000
#define CVD_FILTER_MASK_RES_BITRATE          0x00200000
#define CVD_FILTER_MASK_RES_BITSPERSAMPLE    0x00400000
#define CVD_FILTER_MASK_RES_NRAUDIOCHANNELS  0x00800000
#define CVD_FILTER_MASK_RES_SAMPLEFREQUENCY  0x01000000
#define CVD_FILTER_MASK_LONGDESCRIPTION      0x02000000
#define CVD_FILTER_MASK_ICON                 0x04000000
#define CVD_FILTER_MASK_SEARCHCLASS          0x04000000
#define CVD_FILTER_MASK_REFID                0x08000000
#define CVD_FILTER_MASK_TOC                  0x02000000

// the namespaces of DIDL-Lite and the start and end of a document
extern const char* const CVD_DIDL_NAMESPACE;
extern const char* const CVD_DIDL_NAMESPACE_DC;
extern const char* const CVD_DIDL_NAMESPACE_UPNP;
extern const char* const CVD_DIDL_NAMESPACE_DLNA;
extern const char* const CVD_DIDL_HEADER;
extern const char* const CVD_DIDL_FOOTER;

/*----------------------------------------------------------------------
|   CVD_Didl: reading and writing DIDL-Lite documents
+---------------------------------------------------------------------*/
class CVD_Didl
{
public:
    static HLY_UInt32 ConvertFilterToMask(const HLY_String& filter);
    static HLY_Result ToDidl(CVD_MediaObject& object, const HLY_String& filter, HLY_String& didl);
    // the objects of a whole DIDL-Lite document; bad objects are skipped
    static HLY_Result FromDidl(const char* didl, CVD_MediaObjectListReference& objects);

    // H:MM:SS.000
    static HLY_String FormatTimeStamp(HLY_UInt32 seconds);
    // exactly H:MM:SS, each field any number of digits; a fraction is
    // dropped; a total beyond the signed 32-bit range is HLY_ERROR_OVERFLOW
    static HLY_Result ParseTimeStamp(const HLY_String& timestamp, HLY_UInt32& seconds);

    static void AppendXmlEscape(HLY_String& out, const char* in);
    static void AppendXmlUnEscape(HLY_String& out, const char* in);

    // an element as XML text for log messages
    static HLY_String ElementToText(HLY_XmlElementNode& element);
};

#endif // CVD_DIDL_H
