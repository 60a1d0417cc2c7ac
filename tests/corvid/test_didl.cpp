#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "CvdDidl.h"
#include "hlyfile.h"
#include "hlyxml.h"

namespace {

const std::string SamplesDir = std::string(CVD_SAMPLES_DIR) + "/minidlna";

std::vector<std::string> BrowseSamples()
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(SamplesDir.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.rfind("soap-Browse", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".xml") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

const HLY_XmlElementNode* FindElement(const HLY_XmlElementNode* element, const char* tag)
{
    if (element->GetTag() == tag) return element;
    for (auto it = element->GetChildren().GetFirstItem(); it; ++it) {
        const HLY_XmlElementNode* child = (*it)->AsElementNode();
        if (child == nullptr) continue;
        if (const HLY_XmlElementNode* found = FindElement(child, tag)) return found;
    }
    return nullptr;
}

// the unescaped Result and NumberReturned of a Browse answer; false for a fault
bool ReadBrowseAnswer(const std::string& name, std::string& didl, int& returned)
{
    HLY_DataBuffer buffer;
    EXPECT_EQ(HLY_File::Load((SamplesDir + "/" + name).c_str(), buffer), HLY_SUCCESS) << name;
    HLY_XmlParser parser;
    HLY_XmlNode*  node = nullptr;
    EXPECT_EQ(parser.Parse((const char*)buffer.GetData(), buffer.GetDataSize(), node), HLY_SUCCESS) << name;
    std::unique_ptr<HLY_XmlNode> tree(node);
    if (!node) return false;
    const HLY_XmlElementNode* result = FindElement(node->AsElementNode(), "Result");
    const HLY_XmlElementNode* count  = FindElement(node->AsElementNode(), "NumberReturned");
    if (!result || !count) return false;
    didl     = result->GetText() ? result->GetText()->GetChars() : "";
    returned = atoi(count->GetText()->GetChars());
    return true;
}

HLY_String WriteAll(CVD_MediaObjectList& objects)
{
    HLY_String didl = CVD_DIDL_HEADER;
    for (auto it = objects.GetFirstItem(); it; ++it) (*it)->ToDidl(CVD_FILTER_MASK_ALL, didl);
    didl += CVD_DIDL_FOOTER;
    return didl;
}

CVD_MediaObjectListReference Read(const char* didl)
{
    CVD_MediaObjectListReference objects;
    EXPECT_EQ(CVD_Didl::FromDidl(didl, objects), HLY_SUCCESS);
    return objects;
}

std::string Wrap(const std::string& objects)
{
    return std::string(CVD_DIDL_HEADER) + objects + CVD_DIDL_FOOTER;
}

std::string Item(const std::string& inside, const std::string& id = "7")
{
    return "<item id=\"" + id + "\" parentID=\"1\" restricted=\"1\"><dc:title>t</dc:title>"
           "<upnp:class>object.item.audioItem.musicTrack</upnp:class>" +
           inside + "</item>";
}

const char* const Res = "<res protocolInfo=\"http-get:*:audio/mpeg:*\">http://10.0.0.1/a.mp3</res>";

} // namespace

// Every Browse answer of the real server reads fully, writes back and reads
// again to the same objects.
TEST(CvdDidl, MinidlnaBrowseAnswersReadWriteAndReread)
{
    std::vector<std::string> samples = BrowseSamples();
    ASSERT_GE(samples.size(), 13u);
    int items = 0, containers = 0, resources = 0;
    for (const std::string& name : samples) {
        SCOPED_TRACE(name);
        std::string didl;
        int         returned = -1;
        if (!ReadBrowseAnswer(name, didl, returned)) {
            EXPECT_NE(name.find("no-such-object"), std::string::npos) << "only the fault has no Result";
            continue;
        }
        CVD_MediaObjectListReference first = Read(didl.c_str());
        ASSERT_FALSE(first.IsNull());
        EXPECT_EQ((int)first->GetItemCount(), returned);

        HLY_String                   written = WriteAll(*first);
        CVD_MediaObjectListReference second  = Read(written);
        ASSERT_FALSE(second.IsNull());
        ASSERT_EQ(second->GetItemCount(), first->GetItemCount());
        for (auto a = first->GetFirstItem(), b = second->GetFirstItem(); a; ++a, ++b) {
            CVD_MediaObject& x = **a;
            CVD_MediaObject& y = **b;
            EXPECT_EQ(x.IsContainer(), y.IsContainer());
            EXPECT_FALSE(x.m_ObjectID.IsEmpty());
            EXPECT_FALSE(x.m_Title.IsEmpty());
            EXPECT_TRUE(x.m_ObjectClass.m_Type.StartsWith("object."));
            EXPECT_STREQ(x.m_Didl, y.m_Didl);
            EXPECT_STREQ(x.m_ObjectID, y.m_ObjectID);
            EXPECT_STREQ(x.m_ReferenceID, y.m_ReferenceID);
            ASSERT_EQ(x.m_Resources.GetItemCount(), y.m_Resources.GetItemCount());
            for (auto r = x.m_Resources.GetFirstItem(), s = y.m_Resources.GetFirstItem(); r; ++r, ++s) {
                EXPECT_TRUE(r->m_Uri.StartsWith("http://192.168.1.20:8200/"));
                EXPECT_TRUE(r->m_ProtocolInfo.IsValid());
                EXPECT_STREQ(r->m_Uri, s->m_Uri);
                EXPECT_EQ(r->m_Size, s->m_Size);
                EXPECT_EQ(r->m_Duration, s->m_Duration);
                EXPECT_EQ(r->m_Bitrate, s->m_Bitrate);
                EXPECT_STREQ(r->m_ProtocolInfo.ToString(), s->m_ProtocolInfo.ToString());
                ++resources;
            }
            if (x.IsContainer()) {
                ++containers;
                EXPECT_EQ(static_cast<CVD_MediaContainer&>(x).m_ChildrenCount,
                          static_cast<CVD_MediaContainer&>(y).m_ChildrenCount);
            } else {
                ++items;
            }
        }
    }
    EXPECT_GT(items, 5);
    EXPECT_GT(containers, 5);
    EXPECT_GE(resources, items);
}

// What the sample of folder 1$4 says about its first track, field by field.
TEST(CvdDidl, MinidlnaTrackFields)
{
    std::string didl;
    int         returned = 0;
    ASSERT_TRUE(ReadBrowseAnswer("soap-Browse-children-1_4.xml", didl, returned));
    CVD_MediaObjectListReference objects = Read(didl.c_str());
    ASSERT_EQ(objects->GetItemCount(), 3u);
    CVD_MediaObject& track = **objects->GetFirstItem();
    EXPECT_STREQ(track.m_ObjectID, "1$4$0");
    EXPECT_STREQ(track.m_ParentID, "1$4");
    EXPECT_STREQ(track.m_ReferenceID, "64$0$0");
    EXPECT_STREQ(track.m_Title, "tone-440");
    EXPECT_STREQ(track.m_ObjectClass.m_Type, "object.item.audioItem.musicTrack");
    EXPECT_TRUE(track.m_Restricted);
    const CVD_MediaItemResource& res = *track.m_Resources.GetFirstItem();
    EXPECT_STREQ(res.m_Uri, "http://192.168.1.20:8200/MediaItems/22.wav");
    EXPECT_EQ(res.m_Size, 16044u);
    EXPECT_EQ(res.m_Duration, 1);
    EXPECT_EQ(res.m_Bitrate, 128000);
    EXPECT_EQ(res.m_SampleFrequency, 8000);
    EXPECT_EQ(res.m_NbAudioChannels, 1);
    EXPECT_STREQ(res.m_ProtocolInfo.GetContentType(), "audio/x-wav");
    // written in full: the defaults that writing supplies, and the reference kept
    EXPECT_NE(track.m_Didl.Find("<dc:creator>Unknown</dc:creator>"), -1);
    EXPECT_NE(track.m_Didl.Find("<upnp:genre>Unknown</upnp:genre>"), -1);
    EXPECT_NE(track.m_Didl.Find("refID=\"64$0$0\""), -1);
    EXPECT_TRUE(track.m_Didl.StartsWith(CVD_DIDL_HEADER));
}

TEST(CvdDidl, DocumentLevelRefusalsAndSkips)
{
    CVD_MediaObjectListReference objects;
    EXPECT_TRUE(HLY_FAILED(CVD_Didl::FromDidl("<DIDL-Lite><item", objects)));
    EXPECT_TRUE(objects.IsNull());
    EXPECT_EQ(CVD_Didl::FromDidl("<NotDidl/>", objects), HLY_FAILURE);
    EXPECT_TRUE(objects.IsNull());

    // one good item, one without res, one with a non-HTTP res, an unknown tag,
    // a container without its id: only the good item stays
    objects = Read(Wrap(Item(Res, "good") + Item("", "nores") +
                        Item("<res protocolInfo=\"http-get:*:a/b:*\">ftp://x/y</res>", "ftp") + "<desc>x</desc>" +
                        "<container parentID=\"0\"><dc:title>c</dc:title><upnp:class>object.container</upnp:class>"
                        "</container>")
                       .c_str());
    ASSERT_EQ(objects->GetItemCount(), 1u);
    EXPECT_STREQ((*objects->GetFirstItem())->m_ObjectID, "good");

    // an empty document is an empty list, not a failure
    objects = Read(Wrap("").c_str());
    ASSERT_FALSE(objects.IsNull());
    EXPECT_EQ(objects->GetItemCount(), 0u);
}

TEST(CvdDidl, ResourceAttributes)
{
    struct Case {
        const char* res;
        HLY_Int32   duration;
        HLY_UInt64  size;
        const char* written; // expected in the written res, or null
        const char* absent;  // not expected there, or null
    } cases[] = {
        {"<res duration=\"0:03:25.500\" protocolInfo=\"http-get:*:audio/mpeg:*\">http://h/a</res>", 205,
         CVD_MEDIA_SIZE_UNKNOWN, "duration=\"0:03:25.000\"", nullptr},
        {"<res duration=\"03:25\" protocolInfo=\"http-get:*:audio/mpeg:*\">http://h/a</res>", -1,
         CVD_MEDIA_SIZE_UNKNOWN, nullptr, "duration="},
        {"<res duration=\"abc\" size=\"12x\" protocolInfo=\"http-get:*:audio/mpeg:*\">http://h/a</res>", -1,
         CVD_MEDIA_SIZE_UNKNOWN, nullptr, "size="},
        {"<res size=\"18446744073709551614\" protocolInfo=\"x:y\"> http://h/a\n</res>", -1, 18446744073709551614ull,
         "protocolInfo=\":::\"", nullptr},
        {"<res protection=\"p&amp;q\" resolution=\"640x480\">http://h/a</res>", -1, CVD_MEDIA_SIZE_UNKNOWN,
         "protection=\"p&amp;q\" resolution=\"640x480\"", nullptr},
        {"<res protocolInfo=\"http-get:*:audio/mpeg:*\"/>", -1, CVD_MEDIA_SIZE_UNKNOWN, "></res>", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.res);
        CVD_MediaObjectListReference objects = Read(Wrap(Item(c.res)).c_str());
        ASSERT_EQ(objects->GetItemCount(), 1u);
        CVD_MediaObject&             item = **objects->GetFirstItem();
        const CVD_MediaItemResource& res  = *item.m_Resources.GetFirstItem();
        EXPECT_EQ(res.m_Duration, c.duration);
        EXPECT_EQ(res.m_Size, c.size);
        if (c.written) {
            EXPECT_NE(item.m_Didl.Find(c.written), -1) << item.m_Didl.GetChars();
        }
        if (c.absent) {
            EXPECT_EQ(item.m_Didl.Find(c.absent), -1) << item.m_Didl.GetChars();
        }
    }
}

// Reading a resource leaves its duration in the element in the written
// form, or takes it out when it does not read.
TEST(CvdDidl, DurationIsNormalisedInTheElement)
{
    struct Case {
        const char* duration;
        HLY_Int32   seconds;
    } cases[] = {{"00:3:25.5", 205}, {"3:25", -1}};
    for (const Case& c : cases) {
        const char* duration = c.duration;
        std::string   didl = Wrap(Item(std::string("<res duration=\"") + duration +
                                       "\" protocolInfo=\"http-get:*:a/b:*\">http://h/a</res>"));
        HLY_XmlParser parser;
        HLY_XmlNode*  node = nullptr;
        ASSERT_EQ(parser.Parse(didl.c_str(), node), HLY_SUCCESS);
        std::unique_ptr<HLY_XmlNode> tree(node);
        HLY_XmlElementNode*          item = node->AsElementNode()->GetChild("item", CVD_DIDL_NAMESPACE);
        ASSERT_NE(item, nullptr);
        CVD_MediaItem object;
        ASSERT_EQ(object.FromDidl(item), HLY_SUCCESS);
        const HLY_String* kept = item->GetChild("res", CVD_DIDL_NAMESPACE)->GetAttribute("duration");
        EXPECT_EQ(object.m_Resources.GetFirstItem()->m_Duration, c.seconds);
        if (c.seconds >= 0) {
            ASSERT_NE(kept, nullptr);
            EXPECT_STREQ(*kept, "0:03:25.000");
        } else {
            EXPECT_EQ(kept, nullptr) << duration;
        }
    }
}

// Writing follows the mask and the order of the elements; the creator and
// genre defaults stay in the object.
TEST(CvdDidl, WritingRules)
{
    CVD_MediaItem item;
    item.m_ObjectID    = "i<1>";
    item.m_ParentID    = "p";
    item.m_ReferenceID = "r";
    item.m_Title       = "A & B";
    item.m_Artists.Add(CVD_PersonRole("", "x"));
    item.m_Artists.Add(CVD_PersonRole("Ann", "Composer"));
    item.m_Artists.Add(CVD_PersonRole(""));
    item.m_Actors.Add(CVD_PersonRole(""));
    item.m_AlbumArts.Add(CVD_AlbumArtInfo("http://h/art.jpg", "JPEG_TN"));
    item.m_OriginalTrackNumber = 3;
    item.m_ObjectClass.m_Type  = "object.item";
    CVD_MediaItemResource res;
    res.m_Uri      = "http://h/a?x=1&y=2";
    res.m_Duration = 3725;
    res.m_Size     = 10;
    res.m_ProtocolInfo.Parse("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01");
    item.m_Resources.Add(res);

    HLY_String didl;
    ASSERT_EQ(CVD_Didl::ToDidl(item, "dc:title,res@size", didl), HLY_SUCCESS);
    EXPECT_STREQ(didl, "<item id=\"i&lt;1&gt;\" parentID=\"p\" restricted=\"1\"><dc:title>A &amp; B</dc:title>"
                       "<res size=\"10\" protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\">"
                       "http://h/a?x=1&amp;y=2</res><upnp:class>object.item</upnp:class></item>");
    EXPECT_TRUE(item.m_Creator.IsEmpty());

    didl.SetLength(0);
    ASSERT_EQ(item.ToDidl("*", didl), HLY_SUCCESS);
    EXPECT_STREQ(item.m_Creator, "Unknown");
    EXPECT_EQ(item.m_Genres.GetItemCount(), 1u);
    const char* in_order[] = {"refID=\"r\"",
                              "<dc:creator>Unknown</dc:creator>",
                              "<upnp:artist role=\"x\"></upnp:artist><upnp:artist role=\"Composer\">Ann</upnp:artist>"
                              "<upnp:actor></upnp:actor>",
                              "<upnp:genre>Unknown</upnp:genre>",
                              "<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">http://h/art.jpg</upnp:albumArtURI>",
                              "<upnp:originalTrackNumber>3</upnp:originalTrackNumber>",
                              "<res duration=\"1:02:05.000\" size=\"10\"",
                              "<upnp:class>"};
    int last = -1;
    for (const char* part : in_order) {
        int at = didl.Find(part);
        EXPECT_GT(at, last) << part << " in " << didl.GetChars();
        last = at;
    }
    // the third, unnamed artist is not written
    EXPECT_EQ(didl.Find("<upnp:artist>"), -1);

    CVD_MediaContainer container;
    container.m_ObjectID = "c";
    container.m_ParentID = "0";
    container.m_Title    = "Music";
    container.m_ChildrenCount = 4;
    container.m_Searchable    = true;
    CVD_SearchClass search;
    search.m_Type           = "object.item.audioItem";
    search.m_IncludeDerived = true;
    container.m_SearchClasses.Add(search);
    container.m_ObjectClass.m_Type = "object.container.storageFolder";
    didl.SetLength(0);
    ASSERT_EQ(container.ToDidl("*", didl), HLY_SUCCESS);
    EXPECT_TRUE(didl.StartsWith("<container id=\"c\" parentID=\"0\" restricted=\"1\" searchable=\"1\" childCount=\"4\">"
                                "<upnp:searchClass includeDerived=\"1\">object.item.audioItem</upnp:searchClass>"
                                "<dc:title>Music</dc:title>"))
        << didl.GetChars();

    // and the container reads back as written
    CVD_MediaObjectListReference objects = Read(Wrap(didl.GetChars()).c_str());
    ASSERT_EQ(objects->GetItemCount(), 1u);
    CVD_MediaContainer& read = static_cast<CVD_MediaContainer&>(**objects->GetFirstItem());
    EXPECT_EQ(read.m_ChildrenCount, 4);
    EXPECT_TRUE(read.m_Searchable);
    ASSERT_EQ(read.m_SearchClasses.GetItemCount(), 1u);
    EXPECT_TRUE(read.m_SearchClasses.GetFirstItem()->m_IncludeDerived);
}

TEST(CvdDidl, ObjectFieldsAndLimits)
{
    std::string long_title(3000, 'x');
    std::string long_album(300, 'a');
    CVD_MediaObjectListReference objects = Read(
        Wrap("<item id=\"1\" parentID=\"0\" restricted=\"TRUE\"><dc:title>" + long_title +
             "</dc:title><upnp:class name=\"Track\">object.item</upnp:class><upnp:album>" + long_album +
             "</upnp:album><upnp:artist role=\"Performer\">P</upnp:artist><upnp:author>W</upnp:author>"
             "<upnp:genre>Rock</upnp:genre><upnp:genre>Pop</upnp:genre><upnp:episodeNumber>x</upnp:episodeNumber>"
             "<upnp:originalTrackNumber>12</upnp:originalTrackNumber>" +
             Res + "</item><item id=\"2\" parentID=\"0\" restricted=\"no\"><dc:title>t</dc:title>"
                   "<upnp:class>object.item</upnp:class>" + Res + "</item>" +
             "<container id=\"c\" parentID=\"0\" childCount=\"x\"><dc:title>c</dc:title>"
             "<upnp:class>object.container</upnp:class></container>"
             "<container id=\"d\" parentID=\"0\"><dc:title>d</dc:title><upnp:class>object.container</upnp:class>"
             "<upnp:searchClass>object.item</upnp:searchClass>"
             "<upnp:searchClass includeDerived=\"0\"></upnp:searchClass></container>")
            .c_str());
    ASSERT_EQ(objects->GetItemCount(), 3u) << "the container with a bad childCount is refused";
    CVD_MediaObject& first = **objects->GetFirstItem();
    EXPECT_EQ(first.m_Title.GetLength(), 1024u);
    EXPECT_EQ(first.m_Album.GetLength(), 256u);
    EXPECT_TRUE(first.m_Restricted);
    EXPECT_STREQ(first.m_ObjectClass.m_FriendlyName, "Track");
    ASSERT_EQ(first.m_Artists.GetItemCount(), 1u);
    EXPECT_STREQ(first.m_Artists.GetFirstItem()->m_Role, "Performer");
    EXPECT_EQ(first.m_Authors.GetItemCount(), 1u);
    EXPECT_EQ(first.m_Genres.GetItemCount(), 2u);
    EXPECT_EQ(first.m_EpisodeNumber, 0u);
    EXPECT_EQ(first.m_OriginalTrackNumber, 12u);
    EXPECT_FALSE((*objects->GetItem(1))->m_Restricted);
    // search classes without text or without includeDerived are dropped
    CVD_MediaContainer& d = static_cast<CVD_MediaContainer&>(**objects->GetItem(2));
    EXPECT_EQ(d.m_SearchClasses.GetItemCount(), 0u);
    EXPECT_EQ(d.m_ChildrenCount, -1);
}

TEST(CvdDidl, FilterMasks)
{
    struct Case {
        const char* filter;
        HLY_UInt32  mask;
    } cases[] = {
        {"", 0xFFFFFFFF},
        {"*", 0xFFFFFFFF},
        {"dc:title,*", 0xFFFFFFFF},
        {"dc:title,res@size", 0x58000},
        {"nonsense", 0x8000},
        {"DC:CREATOR", 0x8001},
        {"upnp:album,", 0x8004},
        {"res", 0x18000},
        {"res@duration", 0x38000},
        {"@duration", 0x38000},
        {"upnp:albumArtURI@dlna:profileID", 0x8010},
        {"@childCount,container@searchable,upnp:searchClass", 0x40080C0},
        {"@refID,res@protection,res@resolution", 0x8198000},
        {"res@bitrate,res@bitsPerSample,res@nrAudioChannels,res@sampleFrequency", 0x1E18000},
        {"upnp:programTitle,upnp:seriesTitle,upnp:episodeNumber", 0xF000},
        // a beginning of a name matches that name
        {"upnp:art", 0x8002},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CVD_Didl::ConvertFilterToMask(c.filter), c.mask) << c.filter;
    }
}

TEST(CvdDidl, TimeStamps)
{
    struct Format {
        HLY_UInt32  seconds;
        const char* text;
    } formats[] = {{0, "0:00:00.000"}, {3725, "1:02:05.000"}, {59, "0:00:59.000"}, {360000, "100:00:00.000"}};
    for (const Format& f : formats) EXPECT_STREQ(CVD_Didl::FormatTimeStamp(f.seconds), f.text);

    struct Parse {
        const char* text;
        HLY_Result  result;
        HLY_UInt32  seconds;
    } parses[] = {
        {"0:03:25.500", HLY_SUCCESS, 205},
        {"1:02:05", HLY_SUCCESS, 3725},
        {"01:02:05.123", HLY_SUCCESS, 3725},
        {"0:0:7", HLY_SUCCESS, 7},
        {"03:25", HLY_FAILURE, 25},
        {"25", HLY_FAILURE, 0},
        {"", HLY_FAILURE, 0},
        {"abc", HLY_FAILURE, 0},
        {"1:2:x", HLY_ERROR_INVALID_SYNTAX, 0},
        {"596524:00:00", HLY_ERROR_OVERFLOW, 0},
        {"4294967295:00:00", HLY_ERROR_OVERFLOW, 0},
    };
    for (const Parse& p : parses) {
        HLY_UInt32 seconds = 99;
        HLY_Result result  = CVD_Didl::ParseTimeStamp(p.text, seconds);
        if (p.result == HLY_ERROR_INVALID_SYNTAX) {
            EXPECT_TRUE(HLY_FAILED(result)) << p.text;
        } else {
            EXPECT_EQ(result, p.result) << p.text;
        }
        if (p.result != HLY_ERROR_OVERFLOW) {
            EXPECT_EQ(seconds, p.seconds) << p.text;
        }
    }
}

TEST(CvdDidl, XmlEscapes)
{
    HLY_String escaped;
    CVD_Didl::AppendXmlEscape(escaped, "a<b>&\"c'd");
    EXPECT_STREQ(escaped, "a&lt;b&gt;&amp;&quot;c&apos;d");
    HLY_String plain;
    CVD_Didl::AppendXmlUnEscape(plain, escaped);
    EXPECT_STREQ(plain, "a<b>&\"c'd");
    plain.SetLength(0);
    CVD_Didl::AppendXmlUnEscape(plain, "&AMP;&amp&#38;&lt;x&");
    EXPECT_STREQ(plain, "&AMP;&amp&#38;<x&");
}
