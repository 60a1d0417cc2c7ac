#include <cstring>

#include "CvdMediaItem.h"
#include "CvdDidl.h"
#include "CvdDeviceData.h"
#include "hlylogging.h"
#include "hlyurls.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.media.server.item")

namespace {

// longest text kept from one attribute or element of a server's answer
const HLY_Size MAX_TEXT = 1024;
// creator, date and album: names, not descriptions
const HLY_Size MAX_SHORT_TEXT = 256;
// "restricted", "searchable", "includeDerived": "true" at most, with room for "false"
const HLY_Size MAX_FLAG_TEXT = 5;
// what the DIDL-Lite text of one object is first given: most fit
const HLY_Size DIDL_SCRATCH_SIZE = 4096;

/*----------------------------------------------------------------------
|   reading attributes and child texts of the parsed tree: the engine's
|   XML helper does the reading and the cutting
+---------------------------------------------------------------------*/
HLY_Result ReadAttribute(const HLY_XmlElementNode& element,
                         const char*               name,
                         HLY_String&               value,
                         HLY_Size                  max_size = MAX_TEXT,
                         const char*               namespc  = "")
{
    return CVD_XmlHelper::GetAttribute(&element, name, value, namespc, max_size);
}

// the text of a child found by CollectChildren (absent: HLY_FAILURE)
HLY_Result ReadText(const HLY_XmlElementNode* child, HLY_String& value, HLY_Size max_size = MAX_TEXT)
{
    CVD_XmlHelper::GetText(child, value, max_size);
    return child ? HLY_SUCCESS : HLY_FAILURE;
}

bool IsTrue(const HLY_String& flag)
{
    return flag == "1" || flag.Compare("true", true) == 0 || flag.Compare("yes", true) == 0;
}

void ReadNumber(const HLY_XmlElementNode* child, HLY_UInt32& value)
{
    HLY_String text;
    if (HLY_FAILED(ReadText(child, text)) || HLY_FAILED(text.ToInteger(value))) value = 0;
}

/*----------------------------------------------------------------------
|   the children of an object's element, sorted out in one pass so that
|   reading an object costs time linear in its size
+---------------------------------------------------------------------*/
enum Property {
    // the first one counts
    PROP_CREATOR,
    PROP_DATE,
    PROP_TITLE,
    PROP_CLASS,
    PROP_ALBUM,
    PROP_PROGRAM_TITLE,
    PROP_SERIES_TITLE,
    PROP_EPISODE,
    PROP_DESCRIPTION,
    PROP_LONG_DESCRIPTION,
    PROP_ICON,
    PROP_TOC,
    PROP_TRACK,
    PROP_SINGLE_COUNT,
    // every one counts
    PROP_ARTIST = PROP_SINGLE_COUNT,
    PROP_ACTOR,
    PROP_AUTHOR,
    PROP_GENRE,
    PROP_ALBUM_ART,
    PROP_SEARCH_CLASS,
    PROP_RES,
    PROP_COUNT
};

enum Namespace { NS_DC, NS_UPNP, NS_OWN };

struct PropertyName
{
    Namespace   ns;
    const char* tag;
    Property    property;
};

const PropertyName PropertyNames[] = {
    {NS_DC, "title", PROP_TITLE},
    {NS_DC, "creator", PROP_CREATOR},
    {NS_DC, "date", PROP_DATE},
    {NS_DC, "description", PROP_DESCRIPTION},
    {NS_UPNP, "class", PROP_CLASS},
    {NS_UPNP, "album", PROP_ALBUM},
    {NS_UPNP, "programTitle", PROP_PROGRAM_TITLE},
    {NS_UPNP, "seriesTitle", PROP_SERIES_TITLE},
    {NS_UPNP, "episodeNumber", PROP_EPISODE},
    {NS_UPNP, "longDescription", PROP_LONG_DESCRIPTION},
    {NS_UPNP, "icon", PROP_ICON},
    {NS_UPNP, "toc", PROP_TOC},
    {NS_UPNP, "originalTrackNumber", PROP_TRACK},
    {NS_UPNP, "artist", PROP_ARTIST},
    {NS_UPNP, "actor", PROP_ACTOR},
    {NS_UPNP, "author", PROP_AUTHOR},
    {NS_UPNP, "genre", PROP_GENRE},
    {NS_UPNP, "albumArtURI", PROP_ALBUM_ART},
    {NS_UPNP, "searchClass", PROP_SEARCH_CLASS},
    {NS_OWN, "res", PROP_RES},
};

struct Children
{
    Children() { memset(first, 0, sizeof(first)); }
    HLY_XmlElementNode*           first[PROP_SINGLE_COUNT];
    HLY_List<HLY_XmlElementNode*> all[PROP_COUNT - PROP_SINGLE_COUNT];

    const HLY_List<HLY_XmlElementNode*>& Every(Property property) const { return all[property - PROP_SINGLE_COUNT]; }
};

bool SameNamespace(const HLY_String* a, const HLY_String* b)
{
    if (a == nullptr || b == nullptr) return a == b;
    return *a == *b;
}

void CollectChildren(const HLY_XmlElementNode& element, Children& children)
{
    const HLY_String* own = element.GetNamespace();
    for (HLY_List<HLY_XmlNode*>::Iterator it = element.GetChildren().GetFirstItem(); it; ++it) {
        HLY_XmlElementNode* child = (*it)->AsElementNode();
        if (child == nullptr) continue;
        const HLY_String* uri = child->GetNamespace();
        bool in[3]            = {uri && *uri == CVD_DIDL_NAMESPACE_DC, uri && *uri == CVD_DIDL_NAMESPACE_UPNP,
                                 SameNamespace(uri, own)};
        for (const PropertyName& name : PropertyNames) {
            if (!in[name.ns] || child->GetTag() != name.tag) continue;
            if (name.property < PROP_SINGLE_COUNT) {
                if (children.first[name.property] == nullptr) children.first[name.property] = child;
            } else {
                children.all[name.property - PROP_SINGLE_COUNT].Add(child);
            }
            break;
        }
    }
}

/*----------------------------------------------------------------------
|   writing
+---------------------------------------------------------------------*/
void AppendAttribute(HLY_String& didl, const char* name, const char* value)
{
    didl += ' ';
    didl += name;
    didl += "=\"";
    CVD_Didl::AppendXmlEscape(didl, value);
    didl += '"';
}

// <tag [attribute="value"]>text</tag>; the attribute only when its value is not empty
void AppendElement(HLY_String&  didl,
                   const char*  tag,
                   const char*  text,
                   const char*  attribute = nullptr,
                   const char*  value     = nullptr)
{
    didl += '<';
    didl += tag;
    if (attribute && value && *value) AppendAttribute(didl, attribute, value);
    didl += '>';
    CVD_Didl::AppendXmlEscape(didl, text);
    didl += "</";
    didl += tag;
    didl += '>';
}

void AppendPeople(HLY_String& didl, const char* tag, const CVD_PeopleList& people)
{
    bool written = false;
    for (CVD_PeopleList::Iterator person = people.GetFirstItem(); person; ++person) {
        // an unnamed person among several says nothing once one is written
        if (person->m_Name.IsEmpty() && people.GetItemCount() > 1 && written) continue;
        AppendElement(didl, tag, person->m_Name, "role", person->m_Role);
        written = true;
    }
}

} // namespace

/*----------------------------------------------------------------------
|   CVD_MediaObject
+---------------------------------------------------------------------*/
HLY_Result CVD_MediaObject::Reset()
{
    CVD_MediaObject::operator=(CVD_MediaObject());
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaObject::ToDidl(const HLY_String& filter, HLY_String& didl)
{
    return ToDidl(CVD_Didl::ConvertFilterToMask(filter), didl);
}

HLY_Result CVD_MediaObject::ToDidl(HLY_UInt32 mask, HLY_String& didl)
{
    return AppendProperties(mask, didl);
}

HLY_Result CVD_MediaObject::AppendCommonAttributes(HLY_UInt32 mask, HLY_String& didl) const
{
    AppendAttribute(didl, "id", m_ObjectID);
    AppendAttribute(didl, "parentID", m_ParentID);
    if ((mask & CVD_FILTER_MASK_REFID) && !m_ReferenceID.IsEmpty()) AppendAttribute(didl, "refID", m_ReferenceID);
    AppendAttribute(didl, "restricted", m_Restricted ? "1" : "0");
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaObject::AppendProperties(HLY_UInt32 mask, HLY_String& didl)
{
    AppendElement(didl, "dc:title", m_Title);

    if (mask & CVD_FILTER_MASK_CREATOR) {
        if (m_Creator.IsEmpty()) m_Creator = "Unknown";
        AppendElement(didl, "dc:creator", m_Creator);
    }
    if ((mask & CVD_FILTER_MASK_DATE) && !m_Date.IsEmpty()) AppendElement(didl, "dc:date", m_Date);

    if (mask & CVD_FILTER_MASK_ARTIST) AppendPeople(didl, "upnp:artist", m_Artists);
    if (mask & CVD_FILTER_MASK_ACTOR) AppendPeople(didl, "upnp:actor", m_Actors);
    if (mask & CVD_FILTER_MASK_AUTHOR) AppendPeople(didl, "upnp:author", m_Authors);

    if ((mask & CVD_FILTER_MASK_ALBUM) && !m_Album.IsEmpty()) AppendElement(didl, "upnp:album", m_Album);

    if (mask & CVD_FILTER_MASK_GENRE) {
        if (m_Genres.GetItemCount() == 0) m_Genres.Add("Unknown");
        for (HLY_List<HLY_String>::Iterator genre = m_Genres.GetFirstItem(); genre; ++genre) {
            AppendElement(didl, "upnp:genre", *genre);
        }
    }

    if (mask & CVD_FILTER_MASK_ALBUMARTURI) {
        for (HLY_List<CVD_AlbumArtInfo>::Iterator art = m_AlbumArts.GetFirstItem(); art; ++art) {
            AppendElement(didl, "upnp:albumArtURI", art->m_Uri, "dlna:profileID", art->m_DlnaProfile);
        }
    }

    if ((mask & CVD_FILTER_MASK_DESCRIPTION) && !m_Description.IsEmpty()) {
        AppendElement(didl, "dc:description", m_Description);
    }
    if ((mask & CVD_FILTER_MASK_LONGDESCRIPTION) && !m_LongDescription.IsEmpty()) {
        AppendElement(didl, "upnp:longDescription", m_LongDescription);
    }
    if ((mask & CVD_FILTER_MASK_ICON) && !m_IconUri.IsEmpty()) AppendElement(didl, "upnp:icon", m_IconUri);

    if ((mask & CVD_FILTER_MASK_ORIGINALTRACK) && m_OriginalTrackNumber > 0) {
        AppendElement(didl, "upnp:originalTrackNumber", HLY_String::FromIntegerU(m_OriginalTrackNumber));
    }
    if ((mask & CVD_FILTER_MASK_PROGRAMTITLE) && !m_ProgramTitle.IsEmpty()) {
        AppendElement(didl, "upnp:programTitle", m_ProgramTitle);
    }
    if ((mask & CVD_FILTER_MASK_SERIESTITLE) && !m_SeriesTitle.IsEmpty()) {
        AppendElement(didl, "upnp:seriesTitle", m_SeriesTitle);
    }
    if ((mask & CVD_FILTER_MASK_EPISODE) && m_EpisodeNumber != 0) {
        AppendElement(didl, "upnp:episodeNumber", HLY_String::FromIntegerU(m_EpisodeNumber));
    }
    if ((mask & CVD_FILTER_MASK_TOC) && !m_Toc.IsEmpty()) AppendElement(didl, "upnp:toc", m_Toc);

    if (mask & CVD_FILTER_MASK_RES) {
        for (HLY_List<CVD_MediaItemResource>::Iterator res = m_Resources.GetFirstItem(); res; ++res) {
            didl += "<res";
            if ((mask & CVD_FILTER_MASK_RES_DURATION) && res->m_Duration != -1) {
                AppendAttribute(didl, "duration", CVD_Didl::FormatTimeStamp((HLY_UInt32)res->m_Duration));
            }
            if ((mask & CVD_FILTER_MASK_RES_SIZE) && res->m_Size != CVD_MEDIA_SIZE_UNKNOWN) {
                AppendAttribute(didl, "size", HLY_String::FromIntegerU(res->m_Size));
            }
            if ((mask & CVD_FILTER_MASK_RES_PROTECTION) && !res->m_Protection.IsEmpty()) {
                AppendAttribute(didl, "protection", res->m_Protection);
            }
            if ((mask & CVD_FILTER_MASK_RES_RESOLUTION) && !res->m_Resolution.IsEmpty()) {
                AppendAttribute(didl, "resolution", res->m_Resolution);
            }
            const struct
            {
                HLY_UInt32  bit;
                const char* name;
                HLY_Int32   value;
            } numbers[] = {
                {CVD_FILTER_MASK_RES_BITRATE, "bitrate", res->m_Bitrate},
                {CVD_FILTER_MASK_RES_BITSPERSAMPLE, "bitsPerSample", res->m_BitsPerSample},
                {CVD_FILTER_MASK_RES_SAMPLEFREQUENCY, "sampleFrequency", res->m_SampleFrequency},
                {CVD_FILTER_MASK_RES_NRAUDIOCHANNELS, "nrAudioChannels", res->m_NbAudioChannels},
            };
            for (const auto& number : numbers) {
                if ((mask & number.bit) && number.value != -1) {
                    AppendAttribute(didl, number.name, HLY_String::FromInteger(number.value));
                }
            }
            AppendAttribute(didl, "protocolInfo", res->m_ProtocolInfo.ToString());
            didl += '>';
            CVD_Didl::AppendXmlEscape(didl, res->m_Uri);
            didl += "</res>";
        }
    }

    AppendElement(didl, "upnp:class", m_ObjectClass.m_Type, "name", m_ObjectClass.m_FriendlyName);
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaObject::FromDidl(HLY_XmlElementNode* entry)
{
    HLY_CHECK_POINTER_SEVERE(entry);
    Children children;
    CollectChildren(*entry, children);

    HLY_String text;
    if (HLY_SUCCEEDED(ReadAttribute(*entry, "restricted", text, MAX_FLAG_TEXT))) m_Restricted = IsTrue(text);

    ReadText(children.first[PROP_CREATOR], m_Creator, MAX_SHORT_TEXT);
    ReadText(children.first[PROP_DATE], m_Date, MAX_SHORT_TEXT);

    HLY_CHECK_SEVERE(ReadAttribute(*entry, "id", m_ObjectID));
    HLY_CHECK_SEVERE(ReadAttribute(*entry, "parentID", m_ParentID));
    ReadAttribute(*entry, "refID", m_ReferenceID);
    HLY_CHECK_SEVERE(ReadText(children.first[PROP_TITLE], m_Title));
    HLY_CHECK_SEVERE(ReadText(children.first[PROP_CLASS], m_ObjectClass.m_Type));
    ReadAttribute(*children.first[PROP_CLASS], "name", m_ObjectClass.m_FriendlyName);

    const struct
    {
        Property        property;
        CVD_PeopleList& list;
    } people[] = {{PROP_ARTIST, m_Artists}, {PROP_AUTHOR, m_Authors}, {PROP_ACTOR, m_Actors}};
    for (const auto& kind : people) {
        const HLY_List<HLY_XmlElementNode*>& elements = children.Every(kind.property);
        for (HLY_List<HLY_XmlElementNode*>::Iterator element = elements.GetFirstItem(); element; ++element) {
            CVD_PersonRole person;
            ReadText(*element, person.m_Name);
            ReadAttribute(**element, "role", person.m_Role);
            kind.list.Add(person);
        }
    }

    ReadText(children.first[PROP_ALBUM], m_Album, MAX_SHORT_TEXT);
    ReadText(children.first[PROP_PROGRAM_TITLE], m_ProgramTitle);
    ReadText(children.first[PROP_SERIES_TITLE], m_SeriesTitle);
    ReadNumber(children.first[PROP_EPISODE], m_EpisodeNumber);
    const HLY_List<HLY_XmlElementNode*>& genres = children.Every(PROP_GENRE);
    for (HLY_List<HLY_XmlElementNode*>::Iterator genre = genres.GetFirstItem(); genre; ++genre) {
        ReadText(*genre, text);
        m_Genres.Add(text);
    }
    ReadText(children.first[PROP_DESCRIPTION], m_Description);
    ReadText(children.first[PROP_LONG_DESCRIPTION], m_LongDescription);
    ReadText(children.first[PROP_ICON], m_IconUri);
    ReadText(children.first[PROP_TOC], m_Toc);
    const HLY_List<HLY_XmlElementNode*>& arts = children.Every(PROP_ALBUM_ART);
    for (HLY_List<HLY_XmlElementNode*>::Iterator art = arts.GetFirstItem(); art; ++art) {
        CVD_AlbumArtInfo info;
        ReadText(*art, info.m_Uri);
        ReadAttribute(**art, "profileID", info.m_DlnaProfile, MAX_TEXT, CVD_DIDL_NAMESPACE_DLNA);
        m_AlbumArts.Add(info);
    }
    ReadNumber(children.first[PROP_TRACK], m_OriginalTrackNumber);

    const HLY_List<HLY_XmlElementNode*>& resources = children.Every(PROP_RES);
    for (HLY_List<HLY_XmlElementNode*>::Iterator it = resources.GetFirstItem(); it; ++it) {
        HLY_XmlElementNode&   res = **it;
        CVD_MediaItemResource resource;

        if (res.GetText() == nullptr) {
            HLY_LOG_WARNING("No resource text found in: %s", CVD_Didl::ElementToText(res).GetChars());
        } else {
            ReadText(&res, resource.m_Uri);
            resource.m_Uri.Trim();
            HLY_HttpUrl url(resource.m_Uri);
            if (!url.IsValid()) {
                HLY_LOG_WARNING("Invalid resource uri: %s", resource.m_Uri.GetChars());
                continue;
            }
        }

        if (HLY_FAILED(ReadAttribute(res, "protocolInfo", text))) {
            HLY_LOG_WARNING("No protocol info found in: %s", CVD_Didl::ElementToText(res).GetChars());
        } else if (HLY_FAILED(resource.m_ProtocolInfo.Parse(text)) || !resource.m_ProtocolInfo.IsValid()) {
            HLY_LOG_WARNING("Invalid resource protocol info: %s", text.GetChars());
        }

        ReadAttribute(res, "protection", resource.m_Protection);
        ReadAttribute(res, "resolution", resource.m_Resolution);
        if (HLY_SUCCEEDED(ReadAttribute(res, "size", text)) && HLY_FAILED(text.ToInteger(resource.m_Size, false))) {
            resource.m_Size = CVD_MEDIA_SIZE_UNKNOWN;
        }
        if (HLY_SUCCEEDED(ReadAttribute(res, "duration", text))) {
            HLY_UInt32 seconds = 0;
            if (HLY_SUCCEEDED(CVD_Didl::ParseTimeStamp(text, seconds))) {
                resource.m_Duration = (HLY_Int32)seconds;
                res.SetAttribute("duration", CVD_Didl::FormatTimeStamp(seconds));
            } else {
                res.RemoveAttribute("duration");
            }
        }
        // written by ToDidl, so read too: otherwise an object handed on would lose them
        const struct
        {
            const char* name;
            HLY_Int32&  value;
        } numbers[] = {{"bitrate", resource.m_Bitrate},
                       {"bitsPerSample", resource.m_BitsPerSample},
                       {"sampleFrequency", resource.m_SampleFrequency},
                       {"nrAudioChannels", resource.m_NbAudioChannels}};
        for (const auto& number : numbers) {
            if (HLY_SUCCEEDED(ReadAttribute(res, number.name, text)) &&
                (HLY_FAILED(text.ToInteger(number.value, false)) || number.value < 0)) {
                number.value = -1;
            }
        }
        m_Resources.Add(resource);
    }

    // built in room enough for a typical object, then copied at its exact
    // size: a big Browse answer holds thousands of these
    HLY_String didl;
    didl.Reserve(DIDL_SCRATCH_SIZE);
    didl = CVD_DIDL_HEADER;
    HLY_CHECK_SEVERE(ToDidl(CVD_FILTER_MASK_ALL, didl));
    didl += CVD_DIDL_FOOTER;
    m_Didl = didl;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_MediaItem
+---------------------------------------------------------------------*/
HLY_Result CVD_MediaItem::ToDidl(HLY_UInt32 mask, HLY_String& didl)
{
    didl += "<item";
    AppendCommonAttributes(mask, didl);
    didl += '>';
    HLY_CHECK_SEVERE(AppendProperties(mask, didl));
    didl += "</item>";
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaItem::FromDidl(HLY_XmlElementNode* entry)
{
    Reset();
    HLY_CHECK_POINTER_SEVERE(entry);
    if (entry->GetTag().Compare("item", true) != 0) HLY_CHECK_SEVERE(HLY_ERROR_INTERNAL);
    HLY_Result result = CVD_MediaObject::FromDidl(entry);
    if (m_Resources.GetItemCount() == 0) HLY_CHECK_SEVERE(HLY_ERROR_INVALID_PARAMETERS);
    return result;
}

/*----------------------------------------------------------------------
|   CVD_MediaContainer
+---------------------------------------------------------------------*/
HLY_Result CVD_MediaContainer::Reset()
{
    m_SearchClasses.Clear();
    m_Searchable        = false;
    m_ChildrenCount     = -1;
    m_ContainerUpdateID = 0;
    return CVD_MediaObject::Reset();
}

HLY_Result CVD_MediaContainer::ToDidl(HLY_UInt32 mask, HLY_String& didl)
{
    didl += "<container";
    AppendCommonAttributes(mask, didl);
    if (mask & CVD_FILTER_MASK_SEARCHABLE) AppendAttribute(didl, "searchable", m_Searchable ? "1" : "0");
    if ((mask & CVD_FILTER_MASK_CHILDCOUNT) && m_ChildrenCount != -1) {
        AppendAttribute(didl, "childCount", HLY_String::FromInteger(m_ChildrenCount));
    }
    didl += '>';
    if (mask & CVD_FILTER_MASK_SEARCHCLASS) {
        for (HLY_List<CVD_SearchClass>::Iterator search = m_SearchClasses.GetFirstItem(); search; ++search) {
            didl += "<upnp:searchClass";
            AppendAttribute(didl, "includeDerived", search->m_IncludeDerived ? "1" : "0");
            if (!search->m_FriendlyName.IsEmpty()) AppendAttribute(didl, "name", search->m_FriendlyName);
            didl += '>';
            CVD_Didl::AppendXmlEscape(didl, search->m_Type);
            didl += "</upnp:searchClass>";
        }
    }
    HLY_CHECK_SEVERE(AppendProperties(mask, didl));
    didl += "</container>";
    return HLY_SUCCESS;
}

HLY_Result CVD_MediaContainer::FromDidl(HLY_XmlElementNode* entry)
{
    Reset();
    HLY_CHECK_POINTER_SEVERE(entry);
    if (entry->GetTag().Compare("Container", true) != 0) return HLY_ERROR_INTERNAL;

    HLY_String text;
    if (HLY_SUCCEEDED(ReadAttribute(*entry, "searchable", text, MAX_FLAG_TEXT))) m_Searchable = IsTrue(text);
    if (HLY_SUCCEEDED(ReadAttribute(*entry, "childCount", text))) {
        HLY_UInt32 count = 0;
        HLY_CHECK_SEVERE(text.ToInteger(count, true));
        // the field is signed; a count beyond its range would read as "unknown" or negative
        m_ChildrenCount = count > 0x7FFFFFFF ? 0x7FFFFFFF : (HLY_Int32)count;
    }

    Children children;
    CollectChildren(*entry, children);
    const HLY_List<HLY_XmlElementNode*>& classes = children.Every(PROP_SEARCH_CLASS);
    for (HLY_List<HLY_XmlElementNode*>::Iterator it = classes.GetFirstItem(); it; ++it) {
        HLY_XmlElementNode& element = **it;
        CVD_SearchClass     search;
        if (element.GetText() == nullptr) {
            HLY_LOG_WARNING("No searchClass text found in: %s", CVD_Didl::ElementToText(element).GetChars());
            continue;
        }
        ReadText(&element, search.m_Type);
        ReadAttribute(element, "name", search.m_FriendlyName);
        if (HLY_FAILED(ReadAttribute(element, "includeDerived", text, MAX_FLAG_TEXT))) {
            HLY_LOG_WARNING("No required attribute searchClass@includeDerived found in: %s",
                            CVD_Didl::ElementToText(element).GetChars());
            continue;
        }
        search.m_IncludeDerived = IsTrue(text);
        m_SearchClasses.Add(search);
    }

    return CVD_MediaObject::FromDidl(entry);
}

/*----------------------------------------------------------------------
|   CVD_MediaObjectList
+---------------------------------------------------------------------*/
CVD_MediaObjectList::~CVD_MediaObjectList()
{
    for (Iterator object = GetFirstItem(); object; ++object) delete *object;
}
