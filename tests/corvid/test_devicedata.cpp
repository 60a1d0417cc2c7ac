#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CvdDeviceData.h"
#include "CvdService.h"
#include "hlyxml.h"
#include "upnp_samples.h"

using namespace upnpsamples;

namespace {

struct Peer {
    const char* name;
    const char* description_url;
};
const Peer kPeers[] = {{"minidlna", "http://192.168.1.20:8200/rootDesc.xml"},
                       {"gmediarender", "http://192.168.1.20:49494/description.xml"}};

HLY_HttpRequestContext PeerContext()
{
    HLY_SocketAddress local(HLY_IpAddress(192, 168, 1, 10), 40000), remote(HLY_IpAddress(192, 168, 1, 20), 8200);
    return HLY_HttpRequestContext(&local, &remote);
}

HLY_Result Parse(const std::string& xml, CVD_DeviceDataReference& root,
                 const char* url = "http://192.168.1.20:8200/rootDesc.xml")
{
    return CVD_DeviceData::SetDescription(root, HLY_TimeInterval(1800.0), HLY_HttpUrl(url), xml.c_str(), PeerContext());
}

std::string Device(const std::string& inner)
{
    return "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><deviceType>t</deviceType><UDN>uuid:abc</UDN>" +
           inner + "</device></root>";
}

std::string Service(const char* n)
{
    return std::string("<service><serviceType>urn:x:service:S:1</serviceType><serviceId>id") + n +
           "</serviceId><SCPDURL>/s.xml</SCPDURL><controlURL>/c</controlURL><eventSubURL>/e</eventSubURL></service>";
}

} // namespace

TEST(DeviceDescription, SamplesParseIntoTheListedRecordsAndSurviveARoundTrip)
{
    for (const Peer& peer : kPeers) {
        SCOPED_TRACE(peer.name);
        CVD_DeviceDataReference root;
        std::string sent = ReadSample(peer.name, "description.xml");
        ASSERT_EQ(HLY_SUCCESS, Parse(sent, root, peer.description_url));
        // the document itself, byte for byte, not a rewriting of the record
        EXPECT_EQ(sent, S(root->GetRawDescription()));

        std::vector<std::string> expected, got;
        std::istringstream       tsv(ReadSample(peer.name, "services.tsv"));
        for (std::string line; std::getline(tsv, line);) {
            if (!line.empty()) expected.push_back(line);
        }
        DumpTsv(*root, got);
        EXPECT_EQ(expected, got);
        EXPECT_EQ("192.168.1.10", S(root->GetLocalIP().ToString()));

        HLY_String written;
        ASSERT_EQ(HLY_SUCCESS, root->GetDescription(written));
        CVD_DeviceDataReference again;
        ASSERT_EQ(HLY_SUCCESS, Parse(written.GetChars(), again, peer.description_url));
        EXPECT_EQ(DumpDevice(*root), DumpDevice(*again));
        EXPECT_EQ(root->GetConfigId(), again->GetConfigId());
    }
    // what the minidlna record holds beyond services.tsv
    CVD_DeviceDataReference root;
    ASSERT_EQ(HLY_SUCCESS, Parse(ReadSample("minidlna", "description.xml"), root));
    EXPECT_EQ("Justin Maggard", S(root->GetManufacturer()));
    EXPECT_EQ("sample0001", S(root->GetSerialNumber()));
    EXPECT_EQ(4u, root->GetIcons().GetItemCount());
    // an icon replaces the one chosen only when larger in all three dimensions,
    // so with equal depths the first stays
    EXPECT_EQ("http://192.168.1.20:8200/icons/sm.png", S(root->GetIconUrl("image/png")));
    EXPECT_EQ("http://192.168.1.20:8200/icons/sm.jpg", S(root->GetIconUrl("image/jpeg", 64)));
    EXPECT_EQ("", S(root->GetIconUrl("image/gif")));
}

TEST(DeviceDescription, ParsingRulesAndRefusals)
{
    struct Case {
        std::string xml;
        HLY_Result  result;
        const char* uuid;
    } cases[] = {
        {Device(""), HLY_SUCCESS, "abc"},
        {"<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><deviceType>t</deviceType><UDN>abc</UDN></device></root>",
         HLY_SUCCESS, "abc"},
        {"<root xmlns=\"urn:other\"><device/></root>", HLY_FAILURE, ""},
        {"<root xmlns=\"urn:schemas-upnp-org:device-1-0\"></root>", HLY_FAILURE, ""},
        {"<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><UDN>uuid:a</UDN></device></root>", HLY_FAILURE, ""},
        {Device("<serviceList><service><serviceType>x</serviceType><serviceId>y</serviceId><SCPDURL>/s</SCPDURL>"
                "<controlURL>/c</controlURL></service></serviceList>"),
         HLY_ERROR_INVALID_PARAMETERS, "abc"},
        {"<root xmlns=\"urn:schemas-upnp-org:device-1-0\" configId=\"zz\">" + Device("").substr(46), HLY_SUCCESS, "abc"},
        {"not xml", HLY_ERROR_XML_NO_ROOT, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        CVD_DeviceDataReference root;
        HLY_Result              res = Parse(c.xml, root);
        if (c.result == HLY_ERROR_XML_NO_ROOT) {
            EXPECT_TRUE(HLY_FAILED(res));
        } else {
            EXPECT_EQ(c.result, res);
        }
        if (c.result == HLY_SUCCESS) {
            EXPECT_EQ(c.uuid, S(root->GetUUID()));
            EXPECT_EQ(0u, root->GetConfigId());
        }
    }

    // URLBase on the loopback is replaced by the address the document came from
    CVD_DeviceDataReference root;
    ASSERT_EQ(HLY_SUCCESS,
              Parse("<root xmlns=\"urn:schemas-upnp-org:device-1-0\" configId=\"77\"><URLBase>http://LocalHost:8080/x/"
                    "</URLBase><device><deviceType>t</deviceType><UDN>uuid:abc</UDN></device></root>",
                    root));
    EXPECT_EQ("http://192.168.1.20:8080/x/", S(root->GetURLBase().ToString()));
    EXPECT_EQ(77u, root->GetConfigId());
}

TEST(DeviceDescription, UrlsLeaseIconsAndConfigIds)
{
    CVD_DeviceData device(HLY_HttpUrl("http://10.0.0.1:1234/a/b/desc.xml"), "u1", HLY_TimeInterval(5.0));
    EXPECT_EQ("http://10.0.0.1:1234/a/b/", S(device.GetURLBase().ToString()));
    EXPECT_EQ(1800, device.GetLeaseTime().ToSeconds());
    device.SetLeaseTime(HLY_TimeInterval(10.0));
    EXPECT_EQ(10, device.GetLeaseTime().ToSeconds());

    HLY_HttpUrl no_slash;
    no_slash.SetScheme("http");
    no_slash.SetPath("nopath", true);
    EXPECT_EQ(HLY_FAILURE, device.SetURLBase(no_slash));
    EXPECT_EQ("/a/b/", S(device.GetURLBase().GetPath()));

    const struct {
        const char* text;
        const char* resolved;
    } urls[] = {{"icon.png", "http://10.0.0.1:1234/a/b/icon.png"},
                {"/icon.png?x=1", "http://10.0.0.1:1234/icon.png?x=1"},
                {"https://h/x", "http://10.0.0.1:1234/a/b/https://h/x"},
                {"http://other:9/z", "http://other:9/z"}};
    for (const auto& u : urls) EXPECT_EQ(u.resolved, S(device.NormalizeURL(u.text).ToString())) << u.text;

    device.AddIcon(CVD_DeviceIcon("image/png", 16, 16, 8, "s.png"));
    device.AddIcon(CVD_DeviceIcon("image/png", 48, 48, 24, "l.png"));
    device.AddIcon(CVD_DeviceIcon("image/png", 32, 32, 24, "m.png"));
    EXPECT_EQ("http://10.0.0.1:1234/a/b/l.png", S(device.GetIconUrl()));
    EXPECT_EQ("http://10.0.0.1:1234/a/b/m.png", S(device.GetIconUrl(nullptr, 32)));
    CVD_DeviceData flat(HLY_HttpUrl("http://10.0.0.1/d.xml"));
    flat.AddIcon(CVD_DeviceIcon("image/png", 48, 48, 0, "z.png"));
    EXPECT_EQ("", S(flat.GetIconUrl()));
    EXPECT_EQ(36u, flat.GetUUID().GetLength());

    for (int i = 0; i < 1000; i++) {
        HLY_UInt32 before = device.GetConfigId();
        device.UpdateConfigId();
        ASSERT_NE(before, device.GetConfigId());
        ASSERT_LT(device.GetConfigId(), 1u << 24);
    }

    // a written description always has a serviceList, never empty lists of icons or devices
    CVD_DeviceData bare(HLY_HttpUrl("http://10.0.0.1/d.xml"), "u2", HLY_TimeInterval(1800.0), "urn:t", "n");
    HLY_String     text;
    ASSERT_EQ(HLY_SUCCESS, bare.GetDescription(text));
    EXPECT_NE(std::string::npos, std::string(text).find("<serviceList/>"));
    EXPECT_EQ(std::string::npos, std::string(text).find("iconList"));
    EXPECT_EQ(std::string::npos, std::string(text).find("deviceList"));
}

TEST(DeviceDescription, FindersSearchTheTree)
{
    CVD_DeviceDataReference root;
    ASSERT_EQ(HLY_SUCCESS,
              Parse(Device(std::string("<serviceList>") + Service("1") +
                           "</serviceList><deviceList><device><deviceType>urn:x:device:Inner:1</deviceType>"
                           "<UDN>uuid:inner</UDN><serviceList><service><serviceType>urn:x:service:AVTransport:2"
                           "</serviceType><serviceId>avt</serviceId><SCPDURL>avt.xml</SCPDURL><controlURL>/ctl/avt"
                           "</controlURL><eventSubURL>/evt/avt</eventSubURL></service></serviceList></device>"
                           "</deviceList>"),
                    root));
    CVD_DeviceDataReference inner;
    EXPECT_EQ(HLY_SUCCESS, root->FindEmbeddedDevice("INNER", inner));
    EXPECT_EQ("abc", S(inner->GetParentUUID()));
    EXPECT_EQ(HLY_SUCCESS, root->FindEmbeddedDeviceByType("urn:x:device:inner:1", inner));
    EXPECT_EQ(HLY_FAILURE, root->FindEmbeddedDevice("none", inner));

    CVD_Service* service = nullptr;
    EXPECT_EQ(HLY_SUCCESS, root->FindServiceById("ID1", service));
    EXPECT_EQ(HLY_ERROR_NO_SUCH_ITEM, root->FindServiceByControlURL("/ctl/avt", service));
    EXPECT_EQ(HLY_SUCCESS, root->FindServiceByControlURL("/ctl/avt", service, true));
    EXPECT_EQ("avt", S(service->GetServiceID()));
    EXPECT_EQ(HLY_SUCCESS, root->FindServiceBySCPDURL("http://192.168.1.20:8200/avt.xml", service, true));
    EXPECT_EQ(HLY_SUCCESS, inner->FindServiceByType("urn:x:service:AVTransport:*", service));
    EXPECT_EQ(HLY_ERROR_NO_SUCH_ITEM, inner->FindServiceByType("urn:x:service:AVTransport:1", service));
}

TEST(DeviceDescription, DepthIsBoundedWhenParsingBuildingWritingAndFreeing)
{
    // 45,000 levels of nesting (as many as the markup bound lets through):
    // refused at the depth bound, no stack overflow
    const int   levels = 45000;
    std::string open, close;
    for (int i = 0; i < levels; i++) {
        open += i < 20 ? "<deviceList><device><deviceType>t</deviceType><UDN>uuid:d</UDN>" : "<deviceList><device>";
        close += "</device></deviceList>";
    }
    long long               before = HeapInUse();
    CVD_DeviceDataReference root;
    EXPECT_EQ(HLY_ERROR_OUT_OF_RANGE, Parse(Device(open + close), root));
    std::printf("[ memory ] 45,000-level description (%zu bytes): %lld bytes held after refusal\n",
                open.size() + close.size(), HeapInUse() - before);

    // exactly the bound parses
    open.clear();
    close.clear();
    for (int i = 1; i < CVD_DEVICE_MAX_DEPTH; i++) {
        open += "<deviceList><device><deviceType>t</deviceType><UDN>uuid:d</UDN>";
        close += "</device></deviceList>";
    }
    root = nullptr;
    ASSERT_EQ(HLY_SUCCESS, Parse(Device(open + close), root));
    EXPECT_EQ((HLY_Cardinal)CVD_DEVICE_MAX_DEPTH, root->GetTreeDepth());
    HLY_String text;
    EXPECT_EQ(HLY_SUCCESS, root->GetDescription(text));

    // building in code cannot pass the bound either
    CVD_DeviceDataReference chain(new CVD_DeviceData(HLY_HttpUrl("http://h/d.xml")));
    HLY_Result              res = HLY_SUCCESS;
    int                     built = 1;
    while (HLY_SUCCEEDED(res)) {
        CVD_DeviceDataReference top(new CVD_DeviceData(HLY_HttpUrl("http://h/d.xml")));
        res = top->AddEmbeddedDevice(chain);
        if (HLY_SUCCEEDED(res)) {
            chain = top;
            ++built;
        }
    }
    EXPECT_EQ(CVD_DEVICE_MAX_DEPTH, built);
    EXPECT_EQ(HLY_ERROR_OUT_OF_RANGE, res);
}

TEST(DeviceDescription, HostileDocumentsStayBounded)
{
    struct Case {
        const char* what;
        std::string xml;
        HLY_Result  result;
    };
    std::string services, icons, many_icons, big(10 * 1024 * 1024, 'x');
    for (int i = 0; i < 10000; i++) services += Service(std::to_string(i).c_str());
    for (int i = 0; i < 100000; i++) {
        std::string icon = "<icon><mimetype>image/png</mimetype><width>" + std::to_string(i % 500) +
                           "</width><height>9</height><depth>99999999999</depth><url>/i.png</url></icon>";
        if (i < 10000) icons += icon;
        many_icons += icon;
    }
    Case cases[] = {{"10,000 services", Device("<serviceList>" + services + "</serviceList>"), HLY_SUCCESS},
                    {"10,000 icons", Device("<iconList>" + icons + "</iconList>"), HLY_SUCCESS},
                    {"100,000 icons", Device("<iconList>" + many_icons + "</iconList>"), HLY_ERROR_OUT_OF_RANGE},
                    {"10 MB friendly name", Device("<friendlyName>" + big + "</friendlyName>"), HLY_SUCCESS}};
    for (Case& c : cases) {
        // the transient peak is the parsed XML tree; the record is what stays
        long long           tree_before = HeapInUse();
        HLY_XmlElementNode* tree        = nullptr;
        EXPECT_EQ(c.result, CVD_XmlHelper::Parse(c.xml.c_str(), c.xml.size(), tree)) << c.what;
        long long tree_bytes = HeapInUse() - tree_before;
        delete tree;

        long long               before = HeapInUse();
        CVD_DeviceDataReference root;
        ASSERT_EQ(c.result, Parse(c.xml, root)) << c.what;
        long long record_bytes = HeapInUse() - before;
        std::printf("[ memory ] %s: input %zu bytes, XML tree %lld bytes (%.1fx), record %lld bytes (%.1fx)\n", c.what,
                    c.xml.size(), tree_bytes, (double)tree_bytes / c.xml.size(), record_bytes,
                    (double)record_bytes / c.xml.size());
        EXPECT_LT(tree_bytes, (long long)c.xml.size() * 16) << c.what;
        EXPECT_LT(record_bytes, (long long)c.xml.size() * 4) << c.what;
    }
    CVD_DeviceDataReference root;
    ASSERT_EQ(HLY_SUCCESS, Parse(cases[0].xml, root));
    EXPECT_EQ(10000u, root->GetServices().GetItemCount());
    root = nullptr;
    ASSERT_EQ(HLY_SUCCESS, Parse(cases[1].xml, root));
    ASSERT_EQ(10000u, root->GetIcons().GetItemCount());
    EXPECT_EQ(0, root->GetIcons()[0].m_Depth); // beyond 32 bits reads as unreadable
    root = nullptr;
    ASSERT_EQ(HLY_SUCCESS, Parse(cases[3].xml, root));
    EXPECT_EQ((HLY_Size)CVD_XML_MAX_TEXT_SIZE, root->GetFriendlyName().GetLength());
    EXPECT_LE(root->GetFriendlyName().GetCapacity(), 4096u);
}

TEST(DeviceDescription, AnOverlongUdnKeepsItsUuidThroughARoundTrip)
{
    // found by fuzzing: the UDN was cut with its "uuid:" still on, so a UUID
    // at the bound lost five characters each time it was written and read
    for (const char* prefix : {"", "uuid:"}) {
        SCOPED_TRACE(prefix);
        std::string             udn = prefix + std::string(2 * CVD_XML_MAX_TEXT_SIZE, 'u');
        std::string             xml = "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><deviceType>t</deviceType>"
                                      "<UDN>" + udn + "</UDN></device></root>";
        CVD_DeviceDataReference root, again;
        ASSERT_EQ(HLY_SUCCESS, Parse(xml, root));
        EXPECT_EQ((HLY_Size)CVD_XML_MAX_TEXT_SIZE, root->GetUUID().GetLength());
        HLY_String written;
        ASSERT_EQ(HLY_SUCCESS, root->GetDescription(written));
        ASSERT_EQ(HLY_SUCCESS, Parse(written.GetChars(), again));
        EXPECT_EQ(root->GetUUID(), again->GetUUID());
    }
}
