#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CvdAction.h"
#include "CvdHttp.h"
#include "hlystreams.h"
#include "upnp_samples.h"

using namespace upnpsamples;

namespace {

// the two sample peers with their services read from the captured SCPDs
struct Peers {
    CVD_DeviceDataReference minidlna, gmediarender;

    Peers()
    {
        HLY_HttpRequestContext context;
        CVD_DeviceData::SetDescription(minidlna, HLY_TimeInterval(1800.0),
                                       HLY_HttpUrl("http://192.168.1.20:8200/rootDesc.xml"),
                                       ReadSample("minidlna", "description.xml").c_str(), context);
        CVD_DeviceData::SetDescription(gmediarender, HLY_TimeInterval(1800.0),
                                       HLY_HttpUrl("http://192.168.1.20:49494/description.xml"),
                                       ReadSample("gmediarender", "description.xml").c_str(), context);
        Load(minidlna, "minidlna", "urn:upnp-org:serviceId:ContentDirectory", "scpd-ContentDirectory.xml");
        Load(minidlna, "minidlna", "urn:upnp-org:serviceId:ConnectionManager", "scpd-ConnectionManager.xml");
        Load(gmediarender, "gmediarender", "urn:upnp-org:serviceId:AVTransport", "scpd-AVTransport.xml");
        Load(gmediarender, "gmediarender", "urn:upnp-org:serviceId:ConnectionManager", "scpd-ConnectionManager.xml");
        Load(gmediarender, "gmediarender", "urn:upnp-org:serviceId:RenderingControl", "scpd-RenderingControl.xml");
    }
    static void Load(CVD_DeviceDataReference& device, const char* peer, const char* id, const char* file)
    {
        CVD_Service* service = nullptr;
        ASSERT_EQ(HLY_SUCCESS, device->FindServiceById(id, service));
        ASSERT_EQ(HLY_SUCCESS, service->SetSCPDXML(ReadSample(peer, file).c_str()));
    }
    CVD_ActionReference Action(CVD_DeviceDataReference& device, const char* type, const char* name)
    {
        CVD_Service* service = nullptr;
        device->FindServiceByType(type, service);
        CVD_ActionDesc* desc = service ? service->FindActionDesc(name) : nullptr;
        return desc ? CVD_ActionReference(new CVD_Action(*desc, device)) : CVD_ActionReference();
    }
};

std::string Request(CVD_ActionReference& action)
{
    HLY_String             text;
    HLY_StringOutputStream stream(&text);
    EXPECT_EQ(HLY_SUCCESS, action->FormatSoapRequest(stream));
    return S(text);
}

const char* const kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<s:Envelope s:encodingStyle=\"http://schemas."
                          "xmlsoap.org/soap/encoding/\" xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";

} // namespace

TEST(Soap, RequestsAreByteExact)
{
    Peers               peers;
    CVD_ActionReference browse = peers.Action(peers.minidlna, "urn:schemas-upnp-org:service:ContentDirectory:1", "Browse");
    ASSERT_FALSE(browse.IsNull());
    const char* args[][2] = {{"SortCriteria", ""},   {"RequestedCount", "10"}, {"StartingIndex", "0"},
                             {"Filter", "*"},        {"BrowseFlag", "BrowseDirectChildren"},
                             {"ObjectID", "64"}};
    for (auto& a : args) ASSERT_EQ(HLY_SUCCESS, browse->SetArgumentValue(a[0], a[1])) << a[0];
    EXPECT_EQ(std::string(kHead) +
                  "<u:Browse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ObjectID>64</ObjectID>"
                  "<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex>"
                  "<RequestedCount>10</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>",
              Request(browse));

    CVD_ActionReference volume =
        peers.Action(peers.gmediarender, "urn:schemas-upnp-org:service:RenderingControl:1", "SetVolume");
    ASSERT_FALSE(volume.IsNull());
    volume->SetArgumentValue("DesiredVolume", "35");
    volume->SetArgumentValue("Channel", "Master");
    volume->SetArgumentValue("InstanceID", "0");
    EXPECT_EQ(std::string(kHead) +
                  "<u:SetVolume xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"><InstanceID>0</InstanceID>"
                  "<Channel>Master</Channel><DesiredVolume>35</DesiredVolume></u:SetVolume></s:Body></s:Envelope>",
              Request(volume));

    HLY_HttpRequest* post = nullptr;
    ASSERT_EQ(HLY_SUCCESS, volume->CreateSoapRequest(post));
    std::unique_ptr<HLY_HttpRequest> owned(post);
    EXPECT_EQ("POST", S(post->GetMethod()));
    EXPECT_EQ("HTTP/1.1", S(post->GetProtocol()));
    EXPECT_EQ("http://192.168.1.20:49494/upnp/control/rendercontrol1", S(post->GetUrl().ToString()));
    EXPECT_EQ("\"urn:schemas-upnp-org:service:RenderingControl:1#SetVolume\"",
              S(*post->GetHeaders().GetHeaderValue("SOAPAction")));
    EXPECT_EQ("text/xml; charset=\"utf-8\"", S(post->GetEntity()->GetContentType()));
    HLY_String body;
    CVD_HttpHelper::GetBody(*post, body);
    EXPECT_EQ(Request(volume), S(body));
}

TEST(Soap, ArgumentsKeepTheirOrderAndValidation)
{
    Peers               peers;
    CVD_ActionReference play = peers.Action(peers.gmediarender, "urn:schemas-upnp-org:service:AVTransport:1", "Play");
    ASSERT_FALSE(play.IsNull());
    play->SetArgumentValue("Speed", "1");
    play->SetArgumentValue("InstanceID", "0");
    EXPECT_NE(std::string::npos, Request(play).find("<InstanceID>0</InstanceID><Speed>1</Speed>"));
    EXPECT_EQ(HLY_ERROR_NO_SUCH_NAME, play->SetArgumentValue("Nope", "1"));

    CVD_ActionReference seek = peers.Action(peers.gmediarender, "urn:schemas-upnp-org:service:AVTransport:1", "Seek");
    EXPECT_EQ(HLY_SUCCESS, seek->SetArgumentValue("Unit", "REL_TIME"));
    EXPECT_EQ(HLY_SUCCESS, seek->SetArgumentValue("Unit", "ABS_TIME"));
    EXPECT_EQ(1u, seek->GetArguments().GetItemCount());
    EXPECT_EQ(HLY_ERROR_INVALID_PARAMETERS, seek->SetArgumentValue("Unit", "BOGUS"));
    EXPECT_EQ(0u, seek->GetArguments().GetItemCount());
    EXPECT_EQ(HLY_FAILURE, seek->VerifyArguments(true));

    CVD_ActionReference mute = peers.Action(peers.gmediarender, "urn:schemas-upnp-org:service:RenderingControl:1", "GetMute");
    const struct {
        const char* text;
        HLY_Result  result;
        bool        value;
    } bools[] = {{"yes", HLY_SUCCESS, true}, {"TRUE", HLY_SUCCESS, true}, {"1", HLY_SUCCESS, true},
                 {"No", HLY_SUCCESS, false}, {"0", HLY_SUCCESS, false},   {"on", HLY_FAILURE, false}};
    for (const auto& b : bools) {
        mute->SetArgumentValue("CurrentMute", b.text);
        bool value = !b.value;
        EXPECT_EQ(b.result, mute->GetArgumentValue("CurrentMute", value)) << b.text;
        if (b.result == HLY_SUCCESS) {
            EXPECT_EQ(b.value, value) << b.text;
        }
    }
}

TEST(Soap, EverySampleAnswerReadsIntoItsOutputs)
{
    Peers peers;
    const struct {
        const char* peer;
        const char* file;
        const char* type;
        const char* action;
        const char* output;
        const char* expected; // a prefix of the value
    } answers[] = {
        {"minidlna", "soap-Browse-children-0.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite xmlns:dc="},
        {"minidlna", "soap-Browse-children-1.xml", "ContentDirectory", "Browse", "TotalMatches", ""},
        {"minidlna", "soap-Browse-children-1_14.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-1_4.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-1_5.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-1_6.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-1_7.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-2.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-3.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-64.xml", "ContentDirectory", "Browse", "NumberReturned", "2"},
        {"minidlna", "soap-Browse-children-64_0.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-Browse-children-64_1.xml", "ContentDirectory", "Browse", "Result", "<DIDL-Lite"},
        {"minidlna", "soap-BrowseMetadata-0.xml", "ContentDirectory", "Browse", "NumberReturned", "1"},
        {"minidlna", "soap-GetSearchCapabilities.xml", "ContentDirectory", "GetSearchCapabilities", "SearchCaps",
         "dc:creator,dc:date"},
        {"minidlna", "soap-GetSystemUpdateID.xml", "ContentDirectory", "GetSystemUpdateID", "Id", "0"},
        {"gmediarender", "soap-GetProtocolInfo.xml", "ConnectionManager", "GetProtocolInfo", "Sink",
         "http-get:*:application/dash+xml:*"},
        {"gmediarender", "soap-GetTransportInfo.xml", "AVTransport", "GetTransportInfo", "CurrentTransportState",
         "STOPPED"},
        {"gmediarender", "soap-GetVolume.xml", "RenderingControl", "GetVolume", "CurrentVolume", "100"},
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(a.file);
        CVD_DeviceDataReference& device = std::string(a.peer) == "minidlna" ? peers.minidlna : peers.gmediarender;
        CVD_ActionReference action = peers.Action(device, (std::string("urn:schemas-upnp-org:service:") + a.type + ":1").c_str(),
                                                  a.action);
        ASSERT_FALSE(action.IsNull());
        std::string body = ReadSample(a.peer, a.file);
        ASSERT_EQ(HLY_SUCCESS, action->ProcessSoapResponse(body.c_str(), body.size()));
        EXPECT_EQ(0u, action->GetErrorCode());
        HLY_String value;
        ASSERT_EQ(HLY_SUCCESS, action->GetArgumentValue(a.output, value));
        EXPECT_EQ(0u, std::string(value).find(a.expected));
    }

    CVD_ActionReference browse = peers.Action(peers.minidlna, "urn:schemas-upnp-org:service:ContentDirectory:1", "Browse");
    std::string         fault  = ReadSample("minidlna", "soap-Browse-no-such-object.xml");
    EXPECT_EQ(HLY_FAILURE, browse->ProcessSoapResponse(fault.c_str(), fault.size()));
    HLY_UInt32 code = 0;
    EXPECT_EQ("No such object error", std::string(browse->GetError(&code)));
    EXPECT_EQ(701u, code);
}

TEST(Soap, MalformedAnswersFail)
{
    Peers       peers;
    std::string env = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
    std::string end = "</s:Body></s:Envelope>";
    std::string many;
    for (int i = 0; i < 100000; i++) many += "<CurrentVolume>1</CurrentVolume>";
    std::string few;
    for (int i = 0; i < 300; i++) few += "<CurrentVolume>1</CurrentVolume>";
    const struct {
        const char* what;
        std::string body;
        HLY_Result  result;
        HLY_UInt32  code;
    } cases[] = {
        {"lower-case response element",
         env + "<u:getvolumeresponse xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"><CurrentVolume>5"
               "</CurrentVolume></u:getvolumeresponse>" + end,
         HLY_SUCCESS, 0},
        {"namespace in another case",
         env + "<u:GetVolumeResponse xmlns:u=\"urn:schemas-upnp-org:service:renderingcontrol:1\"><CurrentVolume>5"
               "</CurrentVolume></u:GetVolumeResponse>" + end,
         HLY_FAILURE, 0},
        {"missing output", env + "<u:GetVolumeResponse xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"/>" + end,
         HLY_FAILURE, 0},
        {"no encodingStyle", "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body/></s:Envelope>",
         HLY_FAILURE, 0},
        {"fault without errorCode",
         env + "<s:Fault><detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorDescription>x"
               "</errorDescription></UPnPError></detail></s:Fault>" + end,
         HLY_FAILURE, 501},
        {"fault with upnp_error", env + "<s:Fault><detail><upnp_error><errorCode>714</errorCode></upnp_error></detail></s:Fault>" + end,
         HLY_FAILURE, 714},
        {"300 outputs", env + "<u:GetVolumeResponse xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\">" + few +
                            "</u:GetVolumeResponse>" + end,
         HLY_FAILURE, 0},
        {"100,000 outputs", env + "<u:GetVolumeResponse xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\">" +
                                many + "</u:GetVolumeResponse>" + end,
         HLY_FAILURE, 0},
        {"not XML", "<<<", HLY_FAILURE, 0},
    };
    for (const auto& c : cases) {
        CVD_ActionReference action =
            peers.Action(peers.gmediarender, "urn:schemas-upnp-org:service:RenderingControl:1", "GetVolume");
        long long before = HeapInUse();
        EXPECT_EQ(c.result, action->ProcessSoapResponse(c.body.c_str(), c.body.size())) << c.what;
        EXPECT_EQ(c.code, action->GetErrorCode()) << c.what;
        if (c.body.size() > 1000000) {
            std::printf("[ memory ] SOAP answer with %s: input %zu bytes, %lld bytes held after\n", c.what,
                        c.body.size(), HeapInUse() - before);
        }
    }
}

namespace {

class TestHandler : public CVD_ActionHandler
{
public:
    HLY_Result OnAction(CVD_ActionReference& action, const HLY_HttpRequestContext&) override
    {
        if (action->GetActionDesc().GetName() == "GetVolume") {
            return action->SetArgumentValue("CurrentVolume", "42");
        }
        if (action->GetActionDesc().GetName() == "Browse") {
            HLY_String object;
            action->GetArgumentValue("ObjectID", object);
            if (object == "missing") action->SetError(701, "No such object");
            return HLY_FAILURE;
        }
        return HLY_FAILURE;
    }
};

struct Answer {
    int         status;
    std::string reason, body;
};

Answer Serve(CVD_DeviceData& root, const char* path, const char* soap_action, const std::string& body)
{
    HLY_HttpRequest request((std::string("http://192.168.1.20:8200") + path).c_str(), "POST", HLY_HTTP_PROTOCOL_1_1);
    if (soap_action) request.GetHeaders().SetHeader("SOAPAction", soap_action);
    HLY_HttpEntity* entity = new HLY_HttpEntity();
    entity->SetInputStream(body.c_str());
    entity->SetContentLength(body.size());
    request.SetEntity(entity);
    HLY_HttpResponse       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpRequestContext context;
    TestHandler            handler;
    EXPECT_EQ(HLY_SUCCESS, CVD_Action::ProcessSoapRequest(root, request, context, response, &handler));
    HLY_String text;
    if (response.GetEntity()) CVD_HttpHelper::GetBody(response, text);
    if (response.GetEntity()) {
        EXPECT_NE(nullptr, response.GetHeaders().GetHeaderValue("Ext"));
    }
    return Answer{response.GetStatusCode(), S(response.GetReasonPhrase()), S(text)};
}

std::string Envelope(const char* action, const char* type, const std::string& args)
{
    return std::string("<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:") +
           action + " xmlns:u=\"" + type + "\">" + args + "</u:" + action + "></s:Body></s:Envelope>";
}

} // namespace

TEST(Soap, DeviceSideReadsRequestsAndWritesAnswersAndFaults)
{
    Peers       peers;
    const char* rcs     = "urn:schemas-upnp-org:service:RenderingControl:1";
    const char* cds     = "urn:schemas-upnp-org:service:ContentDirectory:1";
    std::string browse  = "<ObjectID>0</ObjectID><BrowseFlag>BrowseMetadata</BrowseFlag><Filter>*</Filter>"
                          "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria/>";
    std::string missing = "<ContainerID>missing</ContainerID><BrowseFlag>BrowseMetadata</BrowseFlag><Filter>*</Filter>"
                          "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria/>";
    const struct {
        const char* what;
        CVD_DeviceData* root;
        const char* path;
        const char* soap_action;
        std::string body;
        int         status;
        const char* contains;
    } cases[] = {
        {"GetVolume answered", peers.gmediarender.AsPointer(), "/upnp/control/rendercontrol1",
         "\"urn:schemas-upnp-org:service:RenderingControl:1#GetVolume\"",
         Envelope("GetVolume", rcs, "<InstanceID>0</InstanceID><Channel>Master</Channel>"), 200,
         "<u:GetVolumeResponse xmlns:u=\"urn:schemas-upnp-org:service:RenderingControl:1\"><CurrentVolume>42"
         "</CurrentVolume></u:GetVolumeResponse>"},
        {"401 unknown action", peers.gmediarender.AsPointer(), "/upnp/control/rendercontrol1",
         "\"urn:schemas-upnp-org:service:RenderingControl:1#Explode\"", Envelope("Explode", rcs, ""), 500,
         "<errorCode>401</errorCode><errorDescription>Invalid Action</errorDescription>"},
        {"402 missing input", peers.gmediarender.AsPointer(), "/upnp/control/rendercontrol1",
         "\"urn:schemas-upnp-org:service:RenderingControl:1#GetVolume\"",
         Envelope("GetVolume", rcs, "<InstanceID>0</InstanceID>"), 500,
         "<errorCode>402</errorCode><errorDescription>Invalid or Missing Args</errorDescription>"},
        {"701 rejected value", peers.gmediarender.AsPointer(), "/upnp/control/rendercontrol1",
         "\"urn:schemas-upnp-org:service:RenderingControl:1#GetVolume\"",
         Envelope("GetVolume", rcs, "<InstanceID>0</InstanceID><Channel>Nowhere</Channel>"), 500,
         "<errorCode>701</errorCode><errorDescription>Invalid Name</errorDescription>"},
        {"501 handler failed", peers.minidlna.AsPointer(), "/ctl/ContentDir",
         "\"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"", Envelope("Browse", cds, browse), 500,
         "<errorCode>501</errorCode><errorDescription>Action Failed</errorDescription>"},
        {"handler's own error, ContainerID read as ObjectID", peers.minidlna.AsPointer(), "/ctl/ContentDir",
         "\"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"", Envelope("Browse", cds, missing), 500,
         "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail><UPnPError "
         "xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>701</errorCode><errorDescription>No such object"},
        {"SOAPAction without #", peers.minidlna.AsPointer(), "/ctl/ContentDir", "\"Browse\"",
         Envelope("Browse", cds, browse), 500, ""},
        {"no SOAPAction", peers.minidlna.AsPointer(), "/ctl/ContentDir", nullptr, Envelope("Browse", cds, browse), 500, ""},
        {"unknown control URL", peers.minidlna.AsPointer(), "/ctl/Nothing",
         "\"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"", Envelope("Browse", cds, browse), 500, ""},
        {"action element in another namespace", peers.minidlna.AsPointer(), "/ctl/ContentDir",
         "\"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"", Envelope("Browse", "urn:other", browse), 500, ""},
    };
    for (const auto& c : cases) {
        Answer answer = Serve(*c.root, c.path, c.soap_action, c.body);
        EXPECT_EQ(c.status, answer.status) << c.what;
        if (c.contains[0]) {
            EXPECT_NE(std::string::npos, answer.body.find(c.contains)) << c.what << ": " << answer.body;
            EXPECT_EQ(c.status == 200 ? "OK" : "Internal Server Error", answer.reason) << c.what;
        } else {
            EXPECT_EQ("Bad Request", answer.reason) << c.what;
        }
    }
}
