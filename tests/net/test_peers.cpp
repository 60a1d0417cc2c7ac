// Real UPnP peers from Debian in the peer namespace: minidlna (a media
// server) and gmediarender (a renderer). Their announcements reach the
// engine's listener, a search task collects their answers, and the
// discovery tool lists them.

#include <gtest/gtest.h>
#include <cstdio>

#include "peers.h"
#include "ssdp_support.h"

using namespace ssdptest;
using testsupport::Eventually;

namespace {

const char* kMinidlnaUuid = "4d696e69-444c-164e-9d41-0000beac0001";
const char* kRendererUuid = "676d7264-7265-6e64-9d41-0000beac0002";

std::string UuidOf(const std::string& usn)
{
    std::string uuid = usn.compare(0, 5, "uuid:") == 0 ? usn.substr(5) : usn;
    return uuid.substr(0, uuid.find("::"));
}

bool HeardFrom(const std::vector<Heard>& heard, const char* uuid, const std::string& location_prefix)
{
    for (const Heard& h : heard) {
        if (UuidOf(h.usn) == uuid && h.location.rfind(location_prefix, 0) == 0) return true;
    }
    return false;
}

class RealPeers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!testnet::Inside()) GTEST_SKIP() << "runs only inside scripts/testnet";
        if (system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") != 0) {
            GTEST_SKIP() << "minidlna or gmediarender is not installed (scripts/install-deps)";
        }
        m_Engine.AddCtrlPoint(m_CollectorRef);
        ASSERT_EQ(m_Engine.Start(), HLY_SUCCESS);
        // started after the engine, so that their first announcements are heard
        m_Minidlna = peers::StartMinidlna(kMinidlnaUuid, 8200, 30);
        m_Renderer = peers::StartGmediarender(kRendererUuid, 49494);
        ASSERT_TRUE(m_Minidlna && m_Renderer);
        m_MinidlnaLocation = std::string("http://") + testnet::Env("TESTNET_PEER_ADDR") + ":8200/";
        m_RendererLocation = std::string("http://") + testnet::Env("TESTNET_PEER_ADDR") + ":4949";
    }
    void TearDown() override
    {
        m_Minidlna.reset();
        m_Renderer.reset();
        if (m_Engine.IsStarted()) m_Engine.Stop();
    }
    std::string PeerLogs() { return "minidlna:\n" + m_Minidlna->Log() + "\ngmediarender:\n" + m_Renderer->Log(); }

    Collector*                    m_Collector = new Collector();
    CVD_UPnPCtrlPointReference    m_CollectorRef{m_Collector};
    CVD_UPnP                      m_Engine;
    std::unique_ptr<peers::Peer>  m_Minidlna, m_Renderer;
    std::string                   m_MinidlnaLocation, m_RendererLocation;
};

} // namespace

TEST_F(RealPeers, NotifiesReachTheListenerAndASearchCollectsTheirAnswers)
{
    // their alive announcements, with their own UUIDs and description URLs
    EXPECT_TRUE(Eventually([&]() {
        std::vector<Heard> heard = m_Collector->Packets();
        return HeardFrom(heard, kMinidlnaUuid, m_MinidlnaLocation) && HeardFrom(heard, kRendererUuid, m_RendererLocation);
    }, 15000)) << PeerLogs();
    for (const Heard& h : m_Collector->Packets()) {
        EXPECT_EQ(h.method, "NOTIFY");
        EXPECT_EQ(h.from, testnet::Env("TESTNET_PEER_ADDR"));
    }

    CVD_SsdpSearchTask* task = nullptr;
    ASSERT_EQ(CVD_SsdpSearchTask::Create(m_Collector, LocalAddress(), "upnp:rootdevice", 1, HLY_TimeInterval(), task),
              HLY_SUCCESS);
    CVD_TaskManager tasks;
    ASSERT_EQ(tasks.StartTask(task), HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() {
        std::vector<Heard> answers = m_Collector->Answers();
        return HeardFrom(answers, kMinidlnaUuid, m_MinidlnaLocation) &&
               HeardFrom(answers, kRendererUuid, m_RendererLocation);
    }, 5000)) << PeerLogs();
    tasks.StopAllTasks();
    for (const Heard& h : m_Collector->Answers()) {
        EXPECT_EQ(h.st, "upnp:rootdevice");
        EXPECT_EQ(h.usn, "uuid:" + UuidOf(h.usn) + "::upnp:rootdevice");
        EXPECT_FALSE(h.server.empty());
    }
}

TEST_F(RealPeers, DiscoveryToolListsAnswersAndAnnouncements)
{
    // minidlna is up once it announced itself; then the engine of this test
    // steps aside, so that the tool's listener is the only one
    ASSERT_TRUE(Eventually([&]() { return HeardFrom(m_Collector->Packets(), kMinidlnaUuid, m_MinidlnaLocation); }, 15000))
        << PeerLogs();
    m_Engine.Stop();
    // the renderer starts again while the tool runs: it is heard announcing itself
    m_Renderer.reset();
    std::string output;
    std::thread tool([&]() {
        output = testsupport::RunCommand(std::string(CVD_DISCOVER_PATH) +
                                         " --target upnp:rootdevice --mx 1 --timeout 4 --interface " +
                                         testnet::Env("TESTNET_LOCAL_ADDR") + " --notify");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    m_Renderer = peers::StartGmediarender(kRendererUuid, 49494);
    tool.join();

    std::string answer = std::string("answer\t") + kMinidlnaUuid + "\tupnp:rootdevice\t" + m_MinidlnaLocation;
    std::string notify = std::string("notify\tssdp:alive\t") + kRendererUuid + "\t";
    EXPECT_NE(output.find(answer), std::string::npos) << output << PeerLogs();
    EXPECT_NE(output.find(notify), std::string::npos) << output << PeerLogs();
    EXPECT_NE(output.find(m_RendererLocation), std::string::npos) << output;
}
