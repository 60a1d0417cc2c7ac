// The control point against the real peers of the test network: minidlna
// and gmediarender are found, described, acted on and subscribed to, and
// their byebye on a graceful stop removes them.

#include <gtest/gtest.h>

#include "ctrlpoint_support.h"
#include "CvdHttp.h"
#include "hlyhttp.h"
#include "hlysystem.h"
#include "peers.h"

using namespace cptest;
using testsupport::Eventually;

namespace {

const char* kServerUuid   = "4d696e69-444c-164e-9d41-0000beac0011";
const char* kRendererUuid = "676d7264-7265-6e64-9d41-0000beac0012";
const char* kCDS          = "urn:schemas-upnp-org:service:ContentDirectory:1";
const char* kRCS          = "urn:schemas-upnp-org:service:RenderingControl:1";
const char* kAVT          = "urn:schemas-upnp-org:service:AVTransport:1";

// GET with the runtime's client; the body, "" on failure
std::string Fetch(const HLY_String& url)
{
    HLY_HttpClient    client;
    HLY_HttpRequest   request(url, HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpResponse* response = nullptr;
    HLY_String        body;
    if (HLY_SUCCEEDED(client.SendRequest(request, response)) && response->GetStatusCode() == 200) {
        CVD_HttpHelper::GetBody(*response, body);
    }
    delete response;
    return Text(body);
}

class CtrlPointPeers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!testnet::Inside()) GTEST_SKIP() << "runs only inside scripts/testnet";
        if (system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") != 0) {
            GTEST_SKIP() << "minidlna or gmediarender is not installed (scripts/install-deps)";
        }
        m_CtrlPoint->AddListener(&m_Recorder);
        m_Engine.AddCtrlPoint(m_CtrlPointRef);
        ASSERT_EQ(m_Engine.Start(), HLY_SUCCESS);
        m_Server   = peers::StartMinidlna(kServerUuid, 8201, 30);
        m_Renderer = peers::StartGmediarender(kRendererUuid, 49495);
        ASSERT_TRUE(m_Server && m_Renderer);
    }
    void TearDown() override
    {
        m_Server.reset();
        m_Renderer.reset();
        if (m_Engine.IsStarted()) m_Engine.Stop();
    }

    // invokes and waits for the answer
    ActionAnswer Invoke(CVD_ActionReference& action)
    {
        void*        tag = reinterpret_cast<void*>(++m_Tag);
        ActionAnswer answer;
        EXPECT_EQ(m_CtrlPoint->InvokeAction(action, tag), HLY_SUCCESS);
        EXPECT_TRUE(Eventually([&]() { return m_Recorder.Answer(tag, answer); }, 10000));
        return answer;
    }
    CVD_ActionReference Make(CVD_DeviceDataReference& device, const char* service, const char* name)
    {
        CVD_ActionReference action;
        EXPECT_EQ(m_CtrlPoint->CreateAction(device, service, name, action), HLY_SUCCESS) << name;
        return action;
    }

    Recorder                     m_Recorder;
    CVD_CtrlPoint*               m_CtrlPoint = new CVD_CtrlPoint();
    CVD_UPnPCtrlPointReference   m_CtrlPointRef{m_CtrlPoint};
    CVD_UPnP                     m_Engine;
    std::unique_ptr<peers::Peer> m_Server, m_Renderer;
    std::intptr_t                m_Tag = 0;
};

TEST_F(CtrlPointPeers, DescribesActsSubscribesAndHearsByebye)
{
    // found and completely described
    ASSERT_TRUE(Eventually([&]() { return m_Recorder.Has(std::string("+") + kServerUuid); }, 20000))
        << m_Server->Log();
    ASSERT_TRUE(Eventually([&]() { return m_Recorder.Has(std::string("+") + kRendererUuid); }, 20000))
        << m_Renderer->Log();
    EXPECT_TRUE(m_Recorder.Described(kServerUuid));
    EXPECT_TRUE(m_Recorder.Described(kRendererUuid));
    CVD_DeviceDataReference server   = m_Recorder.Device(kServerUuid);
    CVD_DeviceDataReference renderer = m_Recorder.Device(kRendererUuid);
    EXPECT_GE(server->GetServices().GetItemCount(), 2u);
    EXPECT_GE(renderer->GetServices().GetItemCount(), 3u);

    // the live documents, fetched again with the runtime's client, parse
    for (CVD_DeviceDataReference* device : {&server, &renderer}) {
        std::string             desc = Fetch((*device)->GetDescriptionURL().ToString());
        CVD_DeviceDataReference copy;
        HLY_HttpRequestContext  context;
        ASSERT_EQ(CVD_DeviceData::SetDescription(copy, HLY_TimeInterval(1800.0), (*device)->GetDescriptionURL(),
                                                 desc.c_str(), context),
                  HLY_SUCCESS)
            << desc;
        for (HLY_Cardinal i = 0; i < copy->GetServices().GetItemCount(); ++i) {
            CVD_Service* service = copy->GetServices()[i];
            std::string  scpd    = Fetch(service->GetSCPDURL(true));
            EXPECT_EQ(service->SetSCPDXML(scpd.c_str()), HLY_SUCCESS) << Text(service->GetSCPDURL(true));
            EXPECT_GT(service->GetActionDescs().GetItemCount(), 0u);
        }
    }

    // actions on the media server
    CVD_ActionReference update = Make(server, kCDS, "GetSystemUpdateID");
    ActionAnswer        answer = Invoke(update);
    HLY_String          value;
    EXPECT_EQ(answer.result, HLY_SUCCESS);
    EXPECT_EQ(update->GetArgumentValue("Id", value), HLY_SUCCESS);
    EXPECT_FALSE(value.IsEmpty());

    struct BrowseCase
    {
        const char* object;
        const char* flag;
        bool        ok;
    } browses[] = {{"0", "BrowseDirectChildren", true}, {"no-such-object", "BrowseMetadata", false}};
    for (const BrowseCase& c : browses) {
        CVD_ActionReference browse = Make(server, kCDS, "Browse");
        browse->SetArgumentValue("ObjectID", c.object);
        browse->SetArgumentValue("BrowseFlag", c.flag);
        browse->SetArgumentValue("Filter", "*");
        browse->SetArgumentValue("StartingIndex", "0");
        browse->SetArgumentValue("RequestedCount", "0");
        browse->SetArgumentValue("SortCriteria", "");
        answer = Invoke(browse);
        if (c.ok) {
            EXPECT_EQ(answer.result, HLY_SUCCESS);
            HLY_UInt32 returned = 0;
            EXPECT_EQ(browse->GetArgumentValue("NumberReturned", returned), HLY_SUCCESS);
            EXPECT_GT(returned, 0u);
            EXPECT_EQ(browse->GetArgumentValue("Result", value), HLY_SUCCESS);
            EXPECT_GE(value.Find("DIDL-Lite"), 0);
        } else {
            // the device's own UPnP error: "No such object"
            EXPECT_NE(answer.result, HLY_SUCCESS);
            EXPECT_EQ(answer.error, 701u);
        }
    }

    // events of the renderer: the initial ones, LastChange decomposed for instance 0
    CVD_Service *rcs = nullptr, *avt = nullptr;
    ASSERT_EQ(renderer->FindServiceByType(kRCS, rcs), HLY_SUCCESS);
    ASSERT_EQ(renderer->FindServiceByType(kAVT, avt), HLY_SUCCESS);
    ASSERT_EQ(m_CtrlPoint->Subscribe(rcs), HLY_SUCCESS);
    ASSERT_EQ(m_CtrlPoint->Subscribe(avt), HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Notified("RenderingControl", "Volume"); }, 10000));
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Notified("AVTransport", "TransportState"); }, 10000));
    for (auto& n : m_Recorder.Notifications()) EXPECT_EQ(n.second.count("LastChange"), 0u) << n.first;
    EXPECT_EQ(m_CtrlPoint->GetSubscriberCount(), 2u);

    // SetVolume, then GetVolume and the event give the value set
    CVD_ActionReference set = Make(renderer, kRCS, "SetVolume");
    set->SetArgumentValue("InstanceID", "0");
    set->SetArgumentValue("Channel", "Master");
    set->SetArgumentValue("DesiredVolume", "37");
    EXPECT_EQ(Invoke(set).result, HLY_SUCCESS);
    CVD_ActionReference get = Make(renderer, kRCS, "GetVolume");
    get->SetArgumentValue("InstanceID", "0");
    get->SetArgumentValue("Channel", "Master");
    EXPECT_EQ(Invoke(get).result, HLY_SUCCESS);
    EXPECT_EQ(get->GetArgumentValue("CurrentVolume", value), HLY_SUCCESS);
    EXPECT_EQ(Text(value), "37");
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Notified("RenderingControl", "Volume", "37"); }, 10000));

    // subscribing again renews, then cancellation; both answered 2xx by the peer
    CVD_EventSubscriberReference subscriber;
    ASSERT_EQ(m_CtrlPoint->GetSubscriber(rcs, subscriber), HLY_SUCCESS);
    HLY_Cardinal answers = m_CtrlPoint->GetSubscriptionAnswerCount();
    EXPECT_EQ(m_CtrlPoint->Subscribe(rcs), HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() { return m_CtrlPoint->GetSubscriptionAnswerCount() > answers; }, 10000));
    EXPECT_EQ(m_CtrlPoint->GetSubscriberCount(), 2u);
    EXPECT_EQ(m_CtrlPoint->Subscribe(rcs, true), HLY_SUCCESS);
    EXPECT_EQ(m_CtrlPoint->Subscribe(avt, true), HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() { return m_CtrlPoint->GetCancelledSubscriptionCount() == 2; }, 10000));
    EXPECT_EQ(m_CtrlPoint->GetSubscriberCount(), 0u);

    // a graceful stop says byebye
    m_Renderer->Stop();
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Has(std::string("-") + kRendererUuid); }, 10000));
    m_Server->Stop();
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Has(std::string("-") + kServerUuid); }, 10000));
    EXPECT_TRUE(m_CtrlPoint->GetRootDevices().GetItemCount() == 0);
}

} // namespace
