// Hosted devices inside the test network: cvd-light in the peer namespace
// driven over SOAP and GENA from the local one (through the runtime's HTTP
// client and byte by byte), and the SSDP wire forms of an in-process host
// with an embedded device, from its first alive to the byebye of Stop.

#include <gtest/gtest.h>
#include <regex>

#include "CvdAction.h"
#include "CvdDeviceHost.h"
#include "CvdService.h"
#include "devicehost_support.h"

using namespace hosttest;
using namespace ssdptest;
using testsupport::Eventually;

namespace {

const char* kServer = "UPnP/1.0 DLNADOC/1.50 Corvid/1.0.5.13";

std::string PeerUrl(int port, const std::string& path)
{
    return "http://" + std::string(testnet::Env("TESTNET_PEER_ADDR")) + ":" + std::to_string(port) + path;
}

// GET or POST through the runtime's client; the body of the answer
HLY_Result Send(HLY_HttpRequest& request, int& status, std::string& body)
{
    HLY_HttpClient    client;
    HLY_HttpResponse* response = nullptr;
    HLY_Result        result   = client.SendRequest(request, response);
    if (HLY_FAILED(result)) return result;
    status = response->GetStatusCode();
    HLY_String text;
    CVD_HttpHelper::GetBody(*response, text);
    body = Text(text);
    delete response;
    return HLY_SUCCESS;
}

// the light's description and both service descriptions, read as a control point reads them
CVD_DeviceDataReference Describe(int port)
{
    CVD_DeviceDataReference root;
    HLY_HttpRequest         get(PeerUrl(port, "/description.xml").c_str(), "GET", HLY_HTTP_PROTOCOL_1_1);
    int                     status = 0;
    std::string             body;
    if (HLY_FAILED(Send(get, status, body)) || status != 200) return root;
    HLY_HttpRequestContext context;
    if (HLY_FAILED(CVD_DeviceData::SetDescription(root, HLY_TimeInterval::FromSeconds(1800),
                                                  HLY_HttpUrl(PeerUrl(port, "/description.xml").c_str()),
                                                  body.c_str(), context))) {
        return CVD_DeviceDataReference();
    }
    for (HLY_Ordinal i = 0; i < root->GetServices().GetItemCount(); i++) {
        CVD_Service*    service = root->GetServices()[i];
        HLY_HttpRequest scpd(service->GetSCPDURL(true), "GET", HLY_HTTP_PROTOCOL_1_1);
        if (HLY_FAILED(Send(scpd, status, body)) || status != 200 ||
            HLY_FAILED(service->SetSCPDXML(body.c_str()))) {
            return CVD_DeviceDataReference();
        }
    }
    return root;
}

// one action over SOAP; the value of out (empty without), or the fault's code
struct Outcome {
    HLY_Result  result;
    std::string out;
    HLY_UInt32  error;
};
Outcome Invoke(CVD_DeviceDataReference& root, const char* service_type, const char* name,
               const std::vector<std::pair<const char*, std::string>>& in, const char* out = nullptr)
{
    Outcome      outcome{HLY_FAILURE, "", 0};
    CVD_Service* service = nullptr;
    if (HLY_FAILED(root->FindServiceByType(service_type, service))) return outcome;
    CVD_ActionDesc* desc = service->FindActionDesc(name);
    if (desc == nullptr) return outcome;
    CVD_ActionReference action(new CVD_Action(*desc, root));
    for (const auto& argument : in) action->SetArgumentValue(argument.first, argument.second.c_str());
    HLY_HttpRequest* request = nullptr;
    action->CreateSoapRequest(request);
    std::unique_ptr<HLY_HttpRequest> owned(request);
    int         status = 0;
    std::string body;
    if (HLY_FAILED(Send(*request, status, body))) return outcome;
    outcome.result = action->ProcessSoapResponse(body.c_str(), body.size());
    outcome.error  = action->GetErrorCode();
    HLY_String value;
    if (out && HLY_SUCCEEDED(action->GetArgumentValue(out, value))) outcome.out = Text(value);
    return outcome;
}

const char* kSwitchPower = "urn:schemas-upnp-org:service:SwitchPower:1";
const char* kDimming     = "urn:schemas-upnp-org:service:Dimming:1";

} // namespace

TEST(DeviceHostLight, DescribedAndControlledOverSoap)
{
    TESTNET_REQUIRED();
    const int port  = 4101;
    auto      light = StartLight("11ab0000-0000-4000-8000-00000000f001", port);
    ASSERT_NE(light, nullptr) << "cvd-light did not start";

    CVD_DeviceDataReference root = Describe(port);
    ASSERT_FALSE(root.IsNull()) << light->Log();
    EXPECT_EQ("urn:schemas-upnp-org:device:DimmableLight:1", Text(root->GetType()));
    EXPECT_EQ("11ab0000-0000-4000-8000-00000000f001", Text(root->GetUUID()));
    EXPECT_EQ("beaconry-light", Text(root->GetFriendlyName()));
    ASSERT_EQ(2u, root->GetServices().GetItemCount());

    // the actions the issue names, with what the light prints for each change
    const struct {
        const char* service;
        const char* action;
        const char* argument;
        const char* value;
        const char* out;
        const char* expected;
    } steps[] = {
        {kSwitchPower, "GetStatus", nullptr, nullptr, "ResultStatus", "0"},
        {kSwitchPower, "SetTarget", "newTargetValue", "1", nullptr, ""},
        {kSwitchPower, "GetTarget", nullptr, nullptr, "RetTargetValue", "1"},
        {kSwitchPower, "GetStatus", nullptr, nullptr, "ResultStatus", "1"},
        {kDimming, "SetLoadLevelTarget", "newLoadlevelTarget", "40", nullptr, ""},
        {kDimming, "GetLoadLevelTarget", nullptr, nullptr, "GetLoadlevelTarget", "40"},
        {kDimming, "GetLoadLevelStatus", nullptr, nullptr, "retLoadlevelStatus", "40"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.action);
        std::vector<std::pair<const char*, std::string>> in;
        if (step.argument) in.push_back({step.argument, step.value});
        Outcome outcome = Invoke(root, step.service, step.action, in, step.out);
        EXPECT_EQ(HLY_SUCCESS, outcome.result);
        EXPECT_EQ(step.expected, outcome.out);
    }
    EXPECT_TRUE(Eventually([&]() {
        std::string log = light->Log();
        return log.find("Status\t1\n") != std::string::npos && log.find("LoadLevelStatus\t40\n") != std::string::npos;
    }, 2000)) << light->Log();

    // faults: a value out of range, a missing argument
    EXPECT_EQ(601u, Invoke(root, kDimming, "SetLoadLevelTarget", {{"newLoadlevelTarget", "101"}}).error);
    EXPECT_EQ(402u, Invoke(root, kSwitchPower, "SetTarget", {}).error);

    EXPECT_TRUE(StopsCleanly(*light)) << light->Log();
}

TEST(DeviceHostLight, GenaByteByByte)
{
    TESTNET_REQUIRED();
    const int         port  = 4102;
    const std::string uuid  = "11ab0000-0000-4000-8000-00000000f002";
    auto              light = StartLight(uuid, port);
    ASSERT_NE(light, nullptr) << "cvd-light did not start";
    CVD_DeviceDataReference root = Describe(port);
    ASSERT_FALSE(root.IsNull()) << light->Log();

    const char* peer     = testnet::Env("TESTNET_PEER_ADDR");
    std::string dimming  = "/Dimming/" + uuid + "/event.xml";
    std::string switches = "/SwitchPower/" + uuid + "/event.xml";
    auto        request  = [&](const char* method, const std::string& path, const std::string& headers) {
        return Exchange(peer, port,
                        std::string(method) + " " + path + " HTTP/1.1\r\nHost: " + peer + ":" + std::to_string(port) +
                            "\r\n" + headers + "Connection: close\r\n\r\n");
    };
    auto subscribe = [&](const std::string& path, const std::string& callback) {
        return request("SUBSCRIBE", path, "NT: upnp:event\r\nCALLBACK: " + callback + "\r\nTIMEOUT: Second-300\r\n");
    };

    EventSink   sink;
    std::string answer = subscribe(dimming, sink.Callback());
    ASSERT_EQ("200 OK", Status(answer)) << answer;
    std::string sid = Header(answer, "SID");
    EXPECT_EQ(41u, sid.size());
    EXPECT_EQ("Second-1800", Header(answer, "TIMEOUT"));
    ASSERT_TRUE(Eventually([&]() { return sink.For(sid).size() == 1; }, 3000));
    EXPECT_EQ("0", sink.For(sid)[0].seq);
    EXPECT_NE(std::string::npos, sink.For(sid)[0].body.find("<LoadLevelStatus>0</LoadLevelStatus>"));

    // the refusals
    const struct {
        const char* what;
        const char* method;
        std::string path, headers;
        const char* status;
    } refusals[] = {
        {"renewal with NT", "SUBSCRIBE", dimming, "SID: " + sid + "\r\nNT: upnp:event\r\n", "400 Bad Request"},
        {"renewal with CALLBACK", "SUBSCRIBE", dimming, "SID: " + sid + "\r\nCALLBACK: " + sink.Callback() + "\r\n",
         "400 Bad Request"},
        {"renewal of an unknown SID", "SUBSCRIBE", dimming, "SID: uuid:00000000-0000-0000-0000-000000000000\r\n",
         "412 Precondition Failed"},
        {"callback outside the subnet", "SUBSCRIBE", dimming,
         "NT: upnp:event\r\nCALLBACK: <http://192.0.2.7:4000/steal>\r\n", "412 Precondition Failed"},
        {"callback named, not numbered", "SUBSCRIBE", dimming, "NT: upnp:event\r\nCALLBACK: <http://localhost:80/>\r\n",
         "412 Precondition Failed"},
        {"no NT", "SUBSCRIBE", dimming, "CALLBACK: " + sink.Callback() + "\r\n", "412 Precondition failed"},
        {"unknown path", "SUBSCRIBE", "/nothing/event.xml", "NT: upnp:event\r\nCALLBACK: " + sink.Callback() + "\r\n",
         "400 Bad Request"},
    };
    for (const auto& r : refusals) EXPECT_EQ(r.status, Status(request(r.method, r.path, r.headers))) << r.what;

    // a subscriber that accepts and never reads, beside a good one
    DeafSink    deaf;
    std::string deaf_answer = subscribe(dimming, deaf.Callback());
    ASSERT_EQ("200 OK", Status(deaf_answer));
    std::string deaf_sid = Header(deaf_answer, "SID");

    // one event per change, each paced beyond the eventing period
    const int kChanges = CVD_EVENT_MAX_QUEUED_NOTIFY + 4;
    for (int level = 1; level <= kChanges; ++level) {
        ASSERT_EQ(HLY_SUCCESS,
                  Invoke(root, kDimming, "SetLoadLevelTarget", {{"newLoadlevelTarget", std::to_string(level)}}).result);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    ASSERT_TRUE(Eventually([&]() { return sink.For(sid).size() == (size_t)kChanges + 1; }, 3000))
        << sink.For(sid).size();
    std::vector<EventSink::Notify> got = sink.For(sid);
    for (int i = 0; i <= kChanges; ++i) {
        EXPECT_EQ(std::to_string(i), got[i].seq);
        EXPECT_NE(std::string::npos, got[i].body.find("<LoadLevelStatus>" + std::to_string(i) + "</LoadLevelStatus>"));
    }
    EXPECT_GE(deaf.m_Accepted, 1);
    EXPECT_EQ("412 Precondition Failed", Status(request("SUBSCRIBE", dimming, "SID: " + deaf_sid + "\r\n")))
        << "the deaf subscriber was dropped";

    // renew, unsubscribe, unsubscribe again
    answer = request("SUBSCRIBE", dimming, "SID: " + sid + "\r\nTIMEOUT: Second-60\r\n");
    EXPECT_EQ("200 OK", Status(answer));
    EXPECT_EQ(sid, Header(answer, "SID"));
    EXPECT_EQ("Second-1800", Header(answer, "TIMEOUT"));
    EXPECT_EQ("200 OK", Status(request("UNSUBSCRIBE", dimming, "SID: " + sid + "\r\n")));
    EXPECT_EQ("412 Precondition Failed", Status(request("UNSUBSCRIBE", dimming, "SID: " + sid + "\r\n")));
    EXPECT_EQ("400 Bad Request", Status(request("UNSUBSCRIBE", dimming, "SID: " + sid + "\r\nNT: upnp:event\r\n")));

    // thirty subscribers per service, the thirty-first refused
    std::vector<std::string> sids;
    for (int i = 0; i < CVD_EVENT_MAX_SUBSCRIBERS; ++i) {
        answer = subscribe(switches, sink.Callback("/s" + std::to_string(i)));
        ASSERT_EQ("200 OK", Status(answer)) << i;
        sids.push_back(Header(answer, "SID"));
    }
    EXPECT_EQ("500 Internal Server Error", Status(subscribe(switches, sink.Callback())));
    EXPECT_EQ("200 OK", Status(request("UNSUBSCRIBE", switches, "SID: " + sids.back() + "\r\n")));
    EXPECT_EQ("200 OK", Status(subscribe(switches, sink.Callback()))) << "a freed place is taken again";
    EXPECT_TRUE(StopsCleanly(*light)) << light->Log();
}

namespace {

// the lines GSSDP printed while browsing for target during seconds, from
// the local namespace; its searches carry MX 1, which we answer at once
std::string BrowseWithGssdp(const char* target, int seconds)
{
    std::string command = std::string("timeout ") + std::to_string(seconds + 10) + " /usr/bin/python3 " +
                          GSSDP_BROWSE_PATH + " " + testnet::Env("TESTNET_LOCAL_IF") + " " + target + " " +
                          std::to_string(seconds) + " 1 2>&1";
    return testsupport::RunCommand(command);
}

bool GssdpAvailable()
{
    return system("/usr/bin/python3 -c \"import gi; gi.require_version('GSSDP', '1.6')\" >/dev/null 2>&1") == 0;
}

} // namespace

TEST(DeviceHostLight, AnIndependentSsdpStackSeesTheLight)
{
    TESTNET_REQUIRED();
    if (!GssdpAvailable()) GTEST_SKIP() << "GSSDP for Python is not installed (scripts/install-deps)";
    const int         port = 4104;
    const std::string uuid = "11ab0000-0000-4000-8000-00000000f004";
    const std::string location = PeerUrl(port, "/description.xml");
    const std::vector<std::string> usns = {
        "uuid:" + uuid + "::upnp:rootdevice", "uuid:" + uuid,
        "uuid:" + uuid + "::urn:schemas-upnp-org:device:DimmableLight:1",
        "uuid:" + uuid + "::urn:schemas-upnp-org:service:SwitchPower:1",
        "uuid:" + uuid + "::urn:schemas-upnp-org:service:Dimming:1"};

    // first GSSDP browses while the light comes up: what it lists came from our NOTIFYs
    std::string                  heard;
    std::unique_ptr<peers::Peer> light;
    std::thread browser([&]() { heard = BrowseWithGssdp("ssdp:all", 3); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    light = StartLight(uuid, port);
    browser.join();
    ASSERT_NE(light, nullptr);
    // then the light is up and quiet (its next alive is minutes away): what
    // GSSDP lists now came from our answers to its M-SEARCH
    std::string answered = BrowseWithGssdp("ssdp:all", 2);
    for (const std::string* output : {&heard, &answered}) {
        SCOPED_TRACE(output == &heard ? "from NOTIFY" : "from search answers");
        for (const std::string& usn : usns) {
            EXPECT_NE(std::string::npos, output->find("available\t" + usn + "\t" + location + "\n")) << usn << "\n"
                                                                                                     << *output;
        }
    }
    // the description it names is served
    CVD_DeviceDataReference root = Describe(port);
    ASSERT_FALSE(root.IsNull()) << light->Log();
    EXPECT_EQ(uuid, Text(root->GetUUID()));
    EXPECT_EQ("urn:schemas-upnp-org:device:DimmableLight:1", Text(root->GetType()));
    // and its byebye makes the resources unavailable to GSSDP
    std::string gone;
    std::thread watcher([&]() { gone = BrowseWithGssdp("upnp:rootdevice", 2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(StopsCleanly(*light)) << light->Log();
    watcher.join();
    EXPECT_NE(std::string::npos, gone.find("available\tuuid:" + uuid + "::upnp:rootdevice\t" + location)) << gone;
    EXPECT_NE(std::string::npos, gone.find("unavailable\tuuid:" + uuid + "::upnp:rootdevice")) << gone;
}

/*----------------------------------------------------------------------
|   an in-process host with an embedded device
+---------------------------------------------------------------------*/
namespace {

const char* kTinyScpd =
    "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><actionList/><serviceStateTable>"
    "<stateVariable sendEvents=\"yes\"><name>Level</name><dataType>ui4</dataType></stateVariable>"
    "</serviceStateTable></scpd>";

class TreeHost : public CVD_DeviceHost
{
public:
    TreeHost()
        : CVD_DeviceHost("/description.xml", "22cd0000-0000-4000-8000-0000000000a1", "urn:beaconry-test:device:Tree:1",
                         "tree", false, 4103)
    {
    }

protected:
    HLY_Result SetupServices() override
    {
        CVD_DeviceDataReference leaf(new CVD_DeviceData(HLY_HttpUrl("", 0, "/description.xml"),
                                                        "22cd0000-0000-4000-8000-0000000000a2", HLY_TimeInterval(),
                                                        "urn:beaconry-test:device:Leaf:1", "leaf"));
        HLY_Result result = AddTiny(this, "urn:beaconry-test:service:Trunk:1", "Trunk");
        if (HLY_SUCCEEDED(result)) result = AddTiny(leaf.AsPointer(), "urn:beaconry-test:service:Twig:1", "Twig");
        if (HLY_SUCCEEDED(result)) result = AddEmbeddedDevice(leaf);
        return result;
    }

private:
    static HLY_Result AddTiny(CVD_DeviceData* device, const char* type, const char* name)
    {
        CVD_Service* service = new CVD_Service(device, type, (std::string("urn:beaconry-test:serviceId:") + name).c_str(), name);
        service->SetSCPDXML(kTinyScpd);
        return device->AddService(service);
    }
};

// the (target, USN) pairs of the tree in announcement order
std::vector<std::pair<std::string, std::string>> TreePairs()
{
    std::string root = "uuid:22cd0000-0000-4000-8000-0000000000a1", leaf = "uuid:22cd0000-0000-4000-8000-0000000000a2";
    return {{"upnp:rootdevice", root + "::upnp:rootdevice"},
            {root, root},
            {"urn:beaconry-test:device:Tree:1", root + "::urn:beaconry-test:device:Tree:1"},
            {"urn:beaconry-test:service:Trunk:1", root + "::urn:beaconry-test:service:Trunk:1"},
            {leaf, leaf},
            {"urn:beaconry-test:device:Leaf:1", leaf + "::urn:beaconry-test:device:Leaf:1"},
            {"urn:beaconry-test:service:Twig:1", leaf + "::urn:beaconry-test:service:Twig:1"}};
}

bool IsNotify(const Datagram& d) { return d.bytes.rfind("NOTIFY ", 0) == 0; }

} // namespace

TEST(DeviceHostStop, WireFormsOfATreeFromAliveToByebye)
{
    TESTNET_REQUIRED();
    const auto  pairs    = TreePairs();
    std::string location = "http://" + std::string(testnet::Env("TESTNET_LOCAL_ADDR")) + ":4103/description.xml";
    PeerSocket  capture;
    ASSERT_TRUE(capture.Ok());
    // the client's connection pool keeps a thread of its own once used
    HLY_HttpRequest warm_up("http://127.0.0.1:9/", "GET", HLY_HTTP_PROTOCOL_1_1);
    int             ignored_status = 0;
    std::string     ignored_body;
    Send(warm_up, ignored_status, ignored_body);
    DeafSink deaf;
    int      threads_before = ThreadCount();

    TreeHost*               host = new TreeHost();
    CVD_UPnPDeviceReference reference(host);
    CVD_UPnP                engine;
    ASSERT_EQ(HLY_SUCCESS, engine.AddDevice(reference));
    ASSERT_EQ(HLY_SUCCESS, engine.Start());
    ASSERT_TRUE(host->IsStarted());
    EXPECT_EQ(4103, host->GetPort());

    // byebye first, then alive, each over every pair
    std::vector<Datagram> got = capture.WaitFor(2 * pairs.size(), 4000, IsNotify);
    ASSERT_EQ(2 * pairs.size(), got.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ("NOTIFY * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nNTS: ssdp:byebye\r\nUSN: " + pairs[i].second +
                      "\r\nNT: " + pairs[i].first + "\r\n\r\n",
                  got[i].bytes);
        EXPECT_EQ("NOTIFY * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nLocation: " + location +
                      "\r\nCache-Control: max-age=1800\r\nServer: " + kServer + "\r\nNTS: ssdp:alive\r\nUSN: " +
                      pairs[i].second + "\r\nNT: " + pairs[i].first + "\r\n\r\n",
                  got[pairs.size() + i].bytes);
        EXPECT_EQ(2, got[pairs.size() + i].ttl);
    }

    // answers to a search for everything, and for the embedded device's service
    std::regex date("Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} GMT");
    std::string config = "CONFIGID.UPNP.ORG: " + std::to_string(host->GetConfigId()) + "\r\n";
    for (const char* st : {"ssdp:all", "urn:beaconry-test:service:Twig:1"}) {
        SCOPED_TRACE(st);
        PeerSocket searcher(0, false);
        ASSERT_TRUE(searcher.Ok());
        searcher.SendTo(std::string("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                                    "MX: 1\r\nST: ") + st + "\r\n\r\n",
                        "239.255.255.250", 1900);
        bool   all      = std::string(st) == "ssdp:all";
        size_t expected = all ? pairs.size() : 1;
        std::vector<Datagram> answers = searcher.WaitFor(expected, 3000);
        ASSERT_EQ(expected, answers.size());
        for (size_t i = 0; i < expected; ++i) {
            const auto& pair = all ? pairs[i] : pairs.back();
            EXPECT_EQ("HTTP/1.1 200 OK\r\nLocation: " + location + "\r\nCache-Control: max-age=1800\r\nServer: " +
                          kServer + "\r\nEXT: \r\nBOOTID.UPNP.ORG: 0\r\n" + config + "USN: " + pair.second +
                          "\r\nST: " + pair.first + "\r\nDate: DATE\r\n\r\n",
                      std::regex_replace(answers[i].bytes, date, "Date: DATE"));
        }
    }

    // an MX of 0 is answered at once; one of 10 within 5 s, as if it were 5
    {
        const int kSearchers = 8;
        std::vector<std::unique_ptr<PeerSocket>> searchers;
        for (int i = 0; i <= kSearchers; ++i) {
            searchers.emplace_back(new PeerSocket(0, false));
            ASSERT_TRUE(searchers.back()->Ok());
        }
        testsupport::Clock::time_point sent = testsupport::Clock::now();
        for (int i = 0; i <= kSearchers; ++i) {
            searchers[i]->SendTo(std::string("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                                             "MX: ") + (i == 0 ? "0" : "10") + "\r\nST: upnp:rootdevice\r\n\r\n",
                                 "239.255.255.250", 1900);
        }
        long latest = 0;
        for (int i = 0; i <= kSearchers; ++i) {
            std::vector<Datagram> answers = searchers[i]->WaitFor(1, 6000);
            ASSERT_EQ(1u, answers.size()) << i;
            long after = (long)std::chrono::duration_cast<std::chrono::milliseconds>(answers[0].at - sent).count();
            if (i == 0) {
                EXPECT_LT(after, 500);
            }
            latest = std::max(latest, after);
        }
        EXPECT_LT(latest, 4900) << "delays of 0 to 4 whole seconds";
    }

    // the embedded device's service is served and evented like the root's
    HLY_HttpRequest get(("http://127.0.0.1:4103/Twig/22cd0000-0000-4000-8000-0000000000a2/scpd.xml"), "GET",
                        HLY_HTTP_PROTOCOL_1_1);
    int         status = 0;
    std::string body;
    ASSERT_EQ(HLY_SUCCESS, Send(get, status, body));
    EXPECT_EQ(200, status);
    EXPECT_NE(std::string::npos, body.find("<name>Level</name>"));
    // a subscriber that never reads holds a NOTIFY in flight when Stop comes
    const char* local = testnet::Env("TESTNET_LOCAL_ADDR");
    EXPECT_EQ("200 OK", Status(Exchange(local, 4103,
                                        "SUBSCRIBE /Twig/22cd0000-0000-4000-8000-0000000000a2/event.xml HTTP/1.1\r\n"
                                        "Host: x\r\nNT: upnp:event\r\nCALLBACK: " + deaf.Callback() +
                                            "\r\nConnection: close\r\n\r\n")));
    CVD_Service* twig = nullptr;
    ASSERT_EQ(HLY_SUCCESS, host->FindServiceByEventSubURL("/Twig/22cd0000-0000-4000-8000-0000000000a2/event.xml",
                                                          twig, true));
    for (const char* level : {"1", "2", "3"}) {
        twig->SetStateVariable("Level", level);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    EXPECT_TRUE(Eventually([&]() { return deaf.m_Accepted >= 1; }, 2000));

    // Stop: byebye over every pair, after every task ended
    capture.Clear();
    testsupport::Clock::time_point stopping = testsupport::Clock::now();
    ASSERT_EQ(HLY_SUCCESS, engine.Stop());
    EXPECT_LT(testsupport::ElapsedMs(stopping), 3000);
    EXPECT_FALSE(host->IsStarted());
    EXPECT_EQ(threads_before, ThreadCount()) << "every thread of the device ended with Stop";
    got = capture.WaitFor(pairs.size(), 2000, IsNotify);
    ASSERT_EQ(pairs.size(), got.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ("ssdp:byebye", Header(got[i].bytes, "NTS"));
        EXPECT_EQ(pairs[i].second, Header(got[i].bytes, "USN"));
    }
    EXPECT_EQ(0u, host->GetServices().GetItemCount()) << "the services are cleaned up";
    EXPECT_EQ("", Status(Exchange("127.0.0.1", 4103, "GET /description.xml HTTP/1.1\r\nConnection: close\r\n\r\n")))
        << "the server is gone";
}
