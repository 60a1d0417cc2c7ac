#ifndef CVD_MEDIA_ITEM_H
#define CVD_MEDIA_ITEM_H

#include "CvdProtocolInfo.h"
#include "hlylist.h"
#include "hlyreferences.h"
#include "hlystrings.h"
#include "hlytypes.h"

class HLY_XmlElementNode;

// the size of a resource whose size is not known
#define CVD_MEDIA_SIZE_UNKNOWN ((HLY_LargeSize)-1)

/*----------------------------------------------------------------------
|   people, album arts and search classes of a media object
+---------------------------------------------------------------------*/
struct CVD_PersonRole
{
    CVD_PersonRole() {}
    CVD_PersonRole(const char* name, const char* role = "") : m_Name(name), m_Role(role) {}
    HLY_String m_Name;
    HLY_String m_Role;
};
typedef HLY_List<CVD_PersonRole> CVD_PeopleList;

struct CVD_AlbumArtInfo
{
    CVD_AlbumArtInfo() {}
    CVD_AlbumArtInfo(const char* uri, const char* dlna_profile = "") : m_Uri(uri), m_DlnaProfile(dlna_profile) {}
    HLY_String m_Uri;
    HLY_String m_DlnaProfile;
};

struct CVD_SearchClass
{
    CVD_SearchClass() : m_IncludeDerived(false) {}
    HLY_String m_Type;
    HLY_String m_FriendlyName;
    bool       m_IncludeDerived;
};

/*----------------------------------------------------------------------
|   CVD_MediaItemResource: one "res" of a media object
+---------------------------------------------------------------------*/
struct CVD_MediaItemResource
{
    CVD_MediaItemResource()
        : m_Duration(-1), m_Size(CVD_MEDIA_SIZE_UNKNOWN), m_Bitrate(-1), m_BitsPerSample(-1),
          m_SampleFrequency(-1), m_NbAudioChannels(-1), m_ColorDepth(-1)
    {
    }

    HLY_String       m_Uri;
    CVD_ProtocolInfo m_ProtocolInfo;
    HLY_Int32        m_Duration; // seconds
    HLY_LargeSize    m_Size;     // bytes
    HLY_String       m_Protection;
    HLY_Int32        m_Bitrate;
    HLY_Int32        m_BitsPerSample;
    HLY_Int32        m_SampleFrequency;
    HLY_Int32        m_NbAudioChannels;
    HLY_String       m_Resolution;
    // kept for callers; neither read from nor written to DIDL-Lite
    HLY_Int32        m_ColorDepth;
};

/*----------------------------------------------------------------------
|   CVD_MediaObject: what a content directory lists, item or container
+---------------------------------------------------------------------*/
class CVD_MediaObject
{
public:
    virtual ~CVD_MediaObject() {}

    virtual HLY_Result Reset();
    // appends the object's element to didl; the bits of mask pick the properties
    virtual HLY_Result ToDidl(HLY_UInt32 mask, HLY_String& didl);
    virtual HLY_Result ToDidl(const HLY_String& filter, HLY_String& didl);
    virtual HLY_Result FromDidl(HLY_XmlElementNode* element);

    virtual bool IsContainer() const { return false; }

    struct ObjectClass
    {
        HLY_String m_Type;
        HLY_String m_FriendlyName;
    };

    ObjectClass                     m_ObjectClass;
    HLY_String                      m_ObjectID;
    HLY_String                      m_ParentID;
    HLY_String                      m_ReferenceID;
    HLY_String                      m_Title;
    HLY_String                      m_Creator;
    HLY_String                      m_Date;
    CVD_PeopleList                  m_Artists;
    CVD_PeopleList                  m_Actors;
    CVD_PeopleList                  m_Authors;
    HLY_List<HLY_String>            m_Genres;
    HLY_String                      m_Album;
    HLY_String                      m_Description;
    HLY_String                      m_LongDescription;
    HLY_String                      m_IconUri;
    HLY_String                      m_ProgramTitle;
    HLY_String                      m_SeriesTitle;
    HLY_UInt32                      m_EpisodeNumber = 0;
    bool                            m_Restricted    = true;
    HLY_List<CVD_AlbumArtInfo>      m_AlbumArts;
    HLY_UInt32                      m_OriginalTrackNumber = 0;
    HLY_String                      m_Toc;
    HLY_List<CVD_MediaItemResource> m_Resources;
    HLY_String                      m_Didl;

    // kept for callers; neither read from nor written to DIDL-Lite
    HLY_String           m_Publisher;
    HLY_String           m_Rating;
    HLY_List<HLY_String> m_Contributors;

protected:
    CVD_MediaObject() {}
    // the object's own properties, between the start and end tags of its element
    HLY_Result AppendProperties(HLY_UInt32 mask, HLY_String& didl);
    HLY_Result AppendCommonAttributes(HLY_UInt32 mask, HLY_String& didl) const;
};

class CVD_MediaItem : public CVD_MediaObject
{
public:
    CVD_MediaItem() {}
    ~CVD_MediaItem() override {}

    using CVD_MediaObject::ToDidl;
    HLY_Result ToDidl(HLY_UInt32 mask, HLY_String& didl) override;
    HLY_Result FromDidl(HLY_XmlElementNode* element) override;
};

class CVD_MediaContainer : public CVD_MediaObject
{
public:
    CVD_MediaContainer() {}
    ~CVD_MediaContainer() override {}

    HLY_Result Reset() override;
    bool IsContainer() const override { return true; }
    using CVD_MediaObject::ToDidl;
    HLY_Result ToDidl(HLY_UInt32 mask, HLY_String& didl) override;
    HLY_Result FromDidl(HLY_XmlElementNode* element) override;

    HLY_List<CVD_SearchClass> m_SearchClasses;
    bool                      m_Searchable        = false;
    HLY_Int32                 m_ChildrenCount     = -1;
    HLY_UInt32                m_ContainerUpdateID = 0;
};

/*----------------------------------------------------------------------
|   CVD_MediaObjectList: owns its objects, in document order
+---------------------------------------------------------------------*/
class CVD_MediaObjectList : public HLY_List<CVD_MediaObject*>
{
public:
    CVD_MediaObjectList() {}
    ~CVD_MediaObjectList();

private:
    CVD_MediaObjectList(const CVD_MediaObjectList&)            = delete;
    CVD_MediaObjectList& operator=(const CVD_MediaObjectList&) = delete;
};
typedef HLY_Reference<CVD_MediaObjectList> CVD_MediaObjectListReference;

#endif // CVD_MEDIA_ITEM_H
