#include <cstring>
#include <memory>

#include "CvdDidl.h"
#include "hlylogging.h"
#include "hlystreams.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.media.server.didl")

const char* const CVD_DIDL_NAMESPACE      = "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/";
const char* const CVD_DIDL_NAMESPACE_DC   = "http://purl.org/dc/elements/1.1/";
const char* const CVD_DIDL_NAMESPACE_UPNP = "urn:schemas-upnp-org:metadata-1-0/upnp/";
const char* const CVD_DIDL_NAMESPACE_DLNA = "urn:schemas-dlna-org:metadata-1-0/";
const char* const CVD_DIDL_HEADER =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
    " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""
    " xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">";
const char* const CVD_DIDL_FOOTER = "</DIDL-Lite>";

// what ToDidl reserves for one object, so that a typical one fits without regrowing
const HLY_Size CVD_DIDL_OBJECT_RESERVE = 2048;

namespace {

struct FilterName
{
    const char* name;
    HLY_UInt32  bits;
};

// in the order tokens are compared with them
const FilterName FilterNames[] = {
    {"dc:title", CVD_FILTER_MASK_TITLE},
    {"@refID", CVD_FILTER_MASK_REFID},
    {"dc:creator", CVD_FILTER_MASK_CREATOR},
    {"upnp:artist", CVD_FILTER_MASK_ARTIST},
    {"upnp:actor", CVD_FILTER_MASK_ACTOR},
    {"upnp:author", CVD_FILTER_MASK_AUTHOR},
    {"dc:date", CVD_FILTER_MASK_DATE},
    {"upnp:album", CVD_FILTER_MASK_ALBUM},
    {"upnp:genre", CVD_FILTER_MASK_GENRE},
    {"upnp:albumArtURI", CVD_FILTER_MASK_ALBUMARTURI},
    {"upnp:albumArtURI@dlna:profileID", CVD_FILTER_MASK_ALBUMARTURI},
    {"dc:description", CVD_FILTER_MASK_DESCRIPTION},
    {"upnp:originalTrackNumber", CVD_FILTER_MASK_ORIGINALTRACK},
    {"@searchable", CVD_FILTER_MASK_SEARCHABLE},
    {"upnp:searchClass", CVD_FILTER_MASK_SEARCHCLASS},
    {"container@searchable", CVD_FILTER_MASK_SEARCHABLE},
    {"@childcount", CVD_FILTER_MASK_CHILDCOUNT},
    {"container@childCount", CVD_FILTER_MASK_CHILDCOUNT},
    {"upnp:programTitle", CVD_FILTER_MASK_PROGRAMTITLE},
    {"upnp:seriesTitle", CVD_FILTER_MASK_SERIESTITLE},
    {"upnp:episodeNumber", CVD_FILTER_MASK_EPISODE},
    {"res", CVD_FILTER_MASK_RES},
    {"res@duration", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_DURATION},
    {"@duration", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_DURATION},
    {"res@size", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_SIZE},
    {"res@protection", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_PROTECTION},
    {"res@resolution", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_RESOLUTION},
    {"res@bitrate", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_BITRATE},
    {"res@bitsPerSample", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_BITSPERSAMPLE},
    {"res@nrAudioChannels", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_NRAUDIOCHANNELS},
    {"res@sampleFrequency", CVD_FILTER_MASK_RES | CVD_FILTER_MASK_RES_SAMPLEFREQUENCY},
};

struct Entity
{
    char        c;
    const char* text;
    HLY_Size    length;
};
const Entity Entities[] = {
    {'<', "&lt;", 4}, {'>', "&gt;", 4}, {'&', "&amp;", 5}, {'"', "&quot;", 6}, {'\'', "&apos;", 6},
};

// one field of a time stamp, cut from the end of the text
HLY_Result TakeField(HLY_String& text, HLY_UInt64& value, bool last)
{
    HLY_String field = text;
    if (!last) {
        int colon = text.ReverseFind(':');
        if (colon < 0) return HLY_FAILURE;
        field = text.SubString((HLY_Ordinal)colon + 1);
        text.SetLength((HLY_Size)colon);
    }
    HLY_UInt32 number = 0;
    HLY_Result result = HLY_ParseInteger32U(field, number, true);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(HLY_ParseInteger32U(field, number, true))", result);
        return result;
    }
    value = number;
    return HLY_SUCCESS;
}

} // namespace

HLY_UInt32 CVD_Didl::ConvertFilterToMask(const HLY_String& filter)
{
    if (filter.IsEmpty()) return CVD_FILTER_MASK_ALL;
    HLY_UInt32           mask   = 0;
    HLY_List<HLY_String> tokens = filter.Split(",");
    for (HLY_List<HLY_String>::Iterator token = tokens.GetFirstItem(); token; ++token) {
        if (token->IsEmpty()) continue;
        if (token->StartsWith("*")) return CVD_FILTER_MASK_ALL;
        mask |= CVD_FILTER_MASK_TITLE;
        for (const FilterName& entry : FilterNames) {
            if (HLY_String::CompareN(*token, entry.name, token->GetLength(), true) == 0) {
                mask |= entry.bits;
                break;
            }
        }
    }
    return mask;
}

HLY_Result CVD_Didl::ToDidl(CVD_MediaObject& object, const HLY_String& filter, HLY_String& didl)
{
    didl.Reserve(didl.GetLength() + CVD_DIDL_OBJECT_RESERVE);
    return object.ToDidl(ConvertFilterToMask(filter), didl);
}

HLY_Result CVD_Didl::FromDidl(const char* didl, CVD_MediaObjectListReference& objects)
{
    objects = nullptr;
    HLY_LOG_FINE("Parsing Didl...");

    HLY_XmlParser parser;
    HLY_XmlNode*  node = nullptr;
    HLY_CHECK_SEVERE(parser.Parse(didl, node));
    // the tree goes with this function, whatever happens below
    std::unique_ptr<HLY_XmlNode> tree(node);

    HLY_XmlElementNode* root = node ? node->AsElementNode() : nullptr;
    if (root == nullptr) {
        HLY_LOG_SEVERE("Invalid node type");
        return HLY_FAILURE;
    }
    if (root->GetTag().Compare("DIDL-Lite", true) != 0) {
        HLY_LOG_SEVERE("Invalid node tag");
        return HLY_FAILURE;
    }

    CVD_MediaObjectListReference list(new CVD_MediaObjectList());
    for (HLY_List<HLY_XmlNode*>::Iterator child = root->GetChildren().GetFirstItem(); child; ++child) {
        HLY_XmlElementNode* element = (*child)->AsElementNode();
        if (element == nullptr) continue;
        CVD_MediaObject* object = nullptr;
        if (element->GetTag().Compare("Container", true) == 0) {
            object = new CVD_MediaContainer();
        } else if (element->GetTag().Compare("item", true) == 0) {
            object = new CVD_MediaItem();
        } else {
            HLY_LOG_WARNING("Invalid node tag");
            continue;
        }
        if (HLY_FAILED(object->FromDidl(element))) {
            HLY_LOG_WARNING("Invalid didl for object: %s", ElementToText(*element).GetChars());
            delete object;
            continue;
        }
        list->Add(object);
    }
    objects = list;
    return HLY_SUCCESS;
}

HLY_String CVD_Didl::FormatTimeStamp(HLY_UInt32 seconds)
{
    // by hand: objects are written by the thousand, and this is in each resource
    HLY_String text = HLY_String::FromIntegerU(seconds / 3600);
    char       rest[] = {':', 0, 0, ':', 0, 0, '.', '0', '0', '0', '\0'};
    rest[1]           = (char)('0' + (seconds / 60) % 60 / 10);
    rest[2]           = (char)('0' + (seconds / 60) % 60 % 10);
    rest[4]           = (char)('0' + seconds % 60 / 10);
    rest[5]           = (char)('0' + seconds % 60 % 10);
    text.Append(rest, sizeof(rest) - 1);
    return text;
}

HLY_Result CVD_Didl::ParseTimeStamp(const HLY_String& timestamp, HLY_UInt32& seconds)
{
    seconds         = 0;
    HLY_String text = timestamp;
    int        dot  = text.ReverseFind('.');
    if (dot >= 0) text.SetLength((HLY_Size)dot);

    HLY_UInt64 secs = 0, minutes = 0, hours = 0;
    HLY_CHECK(TakeField(text, secs, false));
    seconds = (HLY_UInt32)secs;
    HLY_CHECK(TakeField(text, minutes, false));
    HLY_CHECK(TakeField(text, hours, true));
    // each field fits 32 bits, their sum may not: a wrapped total would be a wrong duration
    HLY_UInt64 total = hours * 3600 + minutes * 60 + secs;
    if (total > 0x7FFFFFFF) return HLY_ERROR_OVERFLOW;
    seconds = (HLY_UInt32)total;
    return HLY_SUCCESS;
}

void CVD_Didl::AppendXmlEscape(HLY_String& out, const char* in)
{
    if (in == nullptr) return;
    // runs of plain bytes are copied at once
    for (;;) {
        size_t run = strcspn(in, "<>&\"'");
        out.Append(in, (HLY_Size)run);
        in += run;
        if (*in == '\0') return;
        for (const Entity& entity : Entities) {
            if (*in == entity.c) {
                out.Append(entity.text, entity.length);
                break;
            }
        }
        ++in;
    }
}

void CVD_Didl::AppendXmlUnEscape(HLY_String& out, const char* in)
{
    if (in == nullptr) return;
    const char* run = in;
    for (const char* p = in; *p;) {
        const Entity* found = nullptr;
        if (*p == '&') {
            for (const Entity& entity : Entities) {
                if (strncmp(p, entity.text, entity.length) == 0) {
                    found = &entity;
                    break;
                }
            }
        }
        if (found == nullptr) {
            ++p;
            continue;
        }
        out.Append(run, (HLY_Size)(p - run));
        out.Append(&found->c, 1);
        p += found->length;
        run = p;
    }
    out.Append(run);
}

HLY_String CVD_Didl::ElementToText(HLY_XmlElementNode& element)
{
    HLY_String             text;
    HLY_StringOutputStream stream(&text);
    HLY_XmlWriter          writer;
    if (HLY_FAILED(writer.Serialize(element, stream))) return "Failed to serialize xml node";
    return text;
}
