// The control point facing devices that lie, flood or stall, each a fake
// device on the peer host: the device list stays consistent, threads and
// memory stay bounded, and Stop ends everything in flight.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "ctrlpoint_support.h"
#include "hlysystem.h"

using namespace cptest;
using testsupport::Eventually;

namespace {

const int kPort = 8310;

std::string Uuid(int n)
{
    char text[64];
    snprintf(text, sizeof(text), "cafe%04x-0000-4000-8000-0000beac%04x", n, n);
    return text;
}

std::string Location(const std::string& path, const char* host = nullptr, int port = kPort)
{
    return std::string("http://") + (host ? host : testnet::Env("TESTNET_PEER_ADDR")) + ":" + std::to_string(port) +
           path;
}

// a device nested `depth` levels below a root that has the one service
std::string Nested(int base, int depth)
{
    std::string inner;
    for (int level = depth; level >= 1; --level) inner = DeviceXml(Uuid(base + level), inner, "");
    return RootXml(DeviceXml(Uuid(base), inner, ServiceXml("s" + std::to_string(base), "/scpd.xml")));
}

// a socket on the peer host that listens but never accepts: connections stall
class Stall
{
public:
    explicit Stall(int port)
    {
        testnet::RunOnPeer([&]() { m_Ok = (m_Fd = wire::BoundSocket(SOCK_STREAM, nullptr, port, 0, 4)) >= 0; });
    }
    ~Stall() { close(m_Fd); }
    bool Ok() const { return m_Ok; }

private:
    int  m_Fd = -1;
    bool m_Ok = false;
};

class CtrlPointHostile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!testnet::Inside()) GTEST_SKIP() << "runs only inside scripts/testnet";
        CVD_CtrlPointLimits limits;
        limits.m_FetchTimeout       = 2000;
        limits.m_ActionTimeout      = 2000;
        limits.m_HouseKeepingPeriod = 1000;
        // the flood waits for the ones that do wait: a short queue keeps the test short
        limits.m_MaxWaitingInspections = 64;
        m_CtrlPoint                 = new CVD_CtrlPoint("");
        m_CtrlPoint->SetLimits(limits);
        m_CtrlPointRef = CVD_UPnPCtrlPointReference(m_CtrlPoint);
        m_CtrlPoint->AddListener(&m_Recorder);
        m_Engine.AddCtrlPoint(m_CtrlPointRef);
        ASSERT_EQ(m_Engine.Start(), HLY_SUCCESS);
    }
    void TearDown() override
    {
        if (m_Engine.IsStarted()) m_Engine.Stop();
    }
    void Announce(const std::string& bytes)
    {
        ASSERT_TRUE(m_Socket.SendTo(bytes, testnet::Env("TESTNET_LOCAL_ADDR"), 1900));
    }
    std::string Callback()
    {
        for (const Request& r : m_Requests()) {
            if (r.method == "SUBSCRIBE") return HeaderOf(r.head, "CALLBACK");
        }
        return "";
    }

    Recorder                          m_Recorder;
    CVD_CtrlPoint*                    m_CtrlPoint = nullptr;
    CVD_UPnPCtrlPointReference        m_CtrlPointRef;
    CVD_UPnP                          m_Engine;
    ssdptest::PeerSocket              m_Socket{0, false};
    std::function<std::vector<Request>()> m_Requests;
};

TEST_F(CtrlPointHostile, LyingDevicesLeaveTheListsConsistent)
{
    enum { BAD = 1, SLOW = 2, BIG = 3, MISSING = 4, DEEP6 = 10, DEEP5 = 20, LOCAL = 30, TWICE = 31, EMBED = 40,
           SHORT = 50, EVENTS = 60 };
    std::atomic<size_t> huge_sent{0};
    std::atomic<bool>   slow_cut{false};
    FakeHttp http(kPort, [&](const Request& r, int fd) {
        auto        service = [](int n) { return ServiceXml("s" + std::to_string(n), "/scpd.xml"); };
        std::string p       = r.path;
        if (p == "/bad") {
            SendAll(fd, Answer(200, RootXml("<device><UDN>uuid:" + Uuid(BAD) + "</UDN><serviceList>")));
        } else if (p == "/slow") {
            std::string doc = Answer(200, RootXml(DeviceXml(Uuid(SLOW), "", service(SLOW))));
            for (char c : doc) {
                if (!SendAll(fd, std::string(1, c))) {
                    slow_cut = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::seconds(1));
                if (http.Stopping()) break;
            }
        } else if (p == "/big") {
            // 50 MB without a length: only closing the connection ends it
            SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n<root>");
            std::string block(64 * 1024, ' ');
            while (huge_sent < 50u * 1024 * 1024 && SendAll(fd, block)) huge_sent += block.size();
        } else if (p == "/missing") {
            SendAll(fd, Answer(200, RootXml(DeviceXml(Uuid(MISSING), "", ServiceXml("m", "/nothing.xml")))));
        } else if (p == "/deep6") {
            SendAll(fd, Answer(200, Nested(DEEP6, 6)));
        } else if (p == "/deep5") {
            SendAll(fd, Answer(200, Nested(DEEP5, 5)));
        } else if (p == "/local" || p == "/twice" || p == "/short") {
            int n = p == "/local" ? LOCAL : p == "/twice" ? TWICE : SHORT;
            SendAll(fd, Answer(200, RootXml(DeviceXml(Uuid(n), "", service(n)))));
        } else if (p == "/embed") {
            SendAll(fd, Answer(200, Nested(EMBED, 1)));
        } else if (p == "/events") {
            SendAll(fd, Answer(200, RootXml(DeviceXml(Uuid(EVENTS), "", ServiceXml("ev", "/scpd.xml", "/c", "/ev")))));
        } else if (p == "/scpd.xml") {
            SendAll(fd, Answer(200, Scpd()));
        } else if (p == "/ev" && r.method == "SUBSCRIBE" && !HeaderOf(r.head, "SID").empty()) {
            // answered after the next housekeeping pass, which must not renew again
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            SendAll(fd, Answer(200, "", "SID: uuid:fake-sid\r\nTIMEOUT: Second-300\r\n"));
        } else if (p == "/ev" && r.method == "SUBSCRIBE") {
            // the first event overtakes the answer to the subscription
            std::string callback = HeaderOf(r.head, "CALLBACK");
            callback             = callback.substr(1, callback.size() - 2);
            SendEvent(callback, "uuid:fake-sid", 0, "Level", "first");
            // granted just past the renewal margin: housekeeping renews it at once
            SendAll(fd, Answer(200, "", "SID: uuid:fake-sid\r\nTIMEOUT: Second-91\r\n"));
        } else {
            SendAll(fd, Answer(404, ""));
        }
    });
    ASSERT_TRUE(http.Ok());
    m_Requests = [&]() { return http.Requests(); };

    const char* paths[] = {"/bad", "/slow", "/big", "/missing", "/deep6", "/deep5", "/embed", "/short", "/events"};
    const int   ids[]   = {BAD, SLOW, BIG, MISSING, DEEP6, DEEP5, EMBED, SHORT, EVENTS};
    for (size_t i = 0; i < sizeof(ids) / sizeof(ids[0]); ++i) {
        Announce(Notify(Uuid(ids[i]), Location(paths[i]), ids[i] == SHORT ? 10 : 1800));
    }
    Announce(Notify(Uuid(LOCAL), Location("/local", "127.0.0.1")));
    Announce(Notify(Uuid(TWICE), Location("/twice")));
    Announce(Notify(Uuid(TWICE), Location("/twice")));
    HLY_TimeStamp start;
    HLY_System::GetCurrentTimeStamp(start);

    auto added   = [&](int n) { return m_Recorder.Has("+" + Uuid(n)); };
    auto removed = [&](int n) { return m_Recorder.Has("-" + Uuid(n)); };
    // the good ones arrive, LOCATION on 127.0.0.1 fetched from the sender, one fetch for two announcements
    EXPECT_TRUE(Eventually([&]() { return added(DEEP5) && added(LOCAL) && added(TWICE) && added(EMBED) &&
                                          added(SHORT) && added(EVENTS); }, 10000));
    for (int level = 1; level <= 5; ++level) EXPECT_TRUE(added(DEEP5 + level)) << level;
    EXPECT_EQ(http.Hits("/local"), 1);
    EXPECT_EQ(http.Hits("/twice"), 1);
    // the bad ones never do; the missing SCPD is reported removed
    EXPECT_TRUE(Eventually([&]() { return removed(MISSING); }, 5000));
    EXPECT_TRUE(Eventually([&]() { return m_CtrlPoint->GetPendingInspectionCount() == 0; }, 8000));
    EXPECT_TRUE(slow_cut || Eventually([&]() { return slow_cut.load(); }, 3000));
    EXPECT_LT(huge_sent.load(), 50u * 1024 * 1024);
    printf("[ hostile  ] the 50 MB description was cut after %zu KB\n", huge_sent.load() / 1024);
    for (int n : {BAD, SLOW, BIG, MISSING, DEEP6}) EXPECT_FALSE(added(n)) << n;
    CVD_DeviceDataReference device;
    EXPECT_NE(m_CtrlPoint->FindDevice(Uuid(BAD).c_str(), device), HLY_SUCCESS);
    EXPECT_NE(m_CtrlPoint->FindDevice(Uuid(MISSING).c_str(), device), HLY_SUCCESS);
    // six levels deep stays known and is never reported
    EXPECT_EQ(m_CtrlPoint->FindDevice(Uuid(DEEP6).c_str(), device), HLY_SUCCESS);

    // a byebye of the embedded device removes the root, then the embedded one
    Announce(Notify(Uuid(EMBED + 1), Location("/embed"), 1800, "ssdp:byebye"));
    EXPECT_TRUE(Eventually([&]() { return removed(EMBED + 1); }, 5000));
    std::vector<std::string> events = m_Recorder.Events();
    auto position = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    EXPECT_LT(position("-" + Uuid(EMBED)), position("-" + Uuid(EMBED + 1)));

    // events: the NOTIFY that came before the SUBSCRIBE answer is processed after it
    CVD_DeviceDataReference ev = m_Recorder.Device(Uuid(EVENTS));
    ASSERT_FALSE(ev.IsNull());
    ASSERT_EQ(m_CtrlPoint->Subscribe(ev->GetServices()[0]), HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Notified("ev", "Level", "first"); }, 5000));
    EXPECT_EQ(m_CtrlPoint->GetPendingNotificationCount(), 0u);
    std::string callback = Callback();
    ASSERT_FALSE(callback.empty());
    callback = callback.substr(1, callback.size() - 2);
    EXPECT_EQ(SendEvent(callback, "uuid:fake-sid", 5, "Level", "five"), 200);
    EXPECT_TRUE(Eventually([&]() { return m_Recorder.Notified("ev", "Level", "five"); }, 3000));
    // a lower SEQ is answered 200 and changes nothing
    EXPECT_EQ(SendEvent(callback, "uuid:fake-sid", 3, "Level", "three"), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(m_Recorder.Notified("ev", "Level", "three"));
    HLY_String level;
    EXPECT_EQ(ev->GetServices()[0]->GetStateVariableValue("Level", level), HLY_SUCCESS);
    EXPECT_EQ(Text(level), "five");
    // an unknown SID waits for its subscription
    EXPECT_EQ(SendEvent(callback, "uuid:nobody", 1, "Level", "x"), 200);
    EXPECT_EQ(m_CtrlPoint->GetPendingNotificationCount(), 1u);

    // housekeeping renews the short subscription with its SID
    EXPECT_TRUE(Eventually([&]() { return m_CtrlPoint->GetSubscriptionAnswerCount() >= 2; }, 5000));
    auto renewals = [&]() {
        int count = 0;
        for (const Request& r : http.Requests()) {
            count += r.method == "SUBSCRIBE" && HeaderOf(r.head, "SID") == "uuid:fake-sid" && HeaderOf(r.head, "NT").empty();
        }
        return count;
    };
    EXPECT_EQ(renewals(), 1);

    // the device that stopped announcing goes after twice its 10 s lease
    EXPECT_TRUE(Eventually([&]() { return removed(SHORT); }, 30000));
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    EXPECT_GE((now - start).ToSeconds(), 19);
    EXPECT_FALSE(removed(LOCAL));
    // the renewal granted 300 s: nothing was renewed meanwhile
    EXPECT_EQ(renewals(), 1);
}

TEST_F(CtrlPointHostile, FloodOfFreshUuidsKeepsThreadsAndMemoryBounded)
{
    Stall stall(kPort + 1);
    ASSERT_TRUE(stall.Ok());
    int  threads_before = ssdptest::ThreadCount();
    long rss_before     = ssdptest::RssKiB();
    int  peak_threads   = threads_before;
    long peak_rss       = rss_before;
    auto sample         = [&]() {
        peak_threads = std::max(peak_threads, ssdptest::ThreadCount());
        peak_rss     = std::max(peak_rss, ssdptest::RssKiB());
    };
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
        // half stall on a peer that never accepts, half go nowhere on the subnet
        std::string where = i % 2 ? Location("/d.xml", nullptr, kPort + 1) : std::string("http://10.213.0.77:80/d.xml");
        Announce(Notify(Uuid(0x1000 + i), where));
        if (i % 100 == 0) {
            sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    for (int i = 0; i < 40; ++i) {
        sample();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(Eventually([&]() {
        sample();
        return m_CtrlPoint->GetPendingInspectionCount() == 0 && m_CtrlPoint->GetWaitingInspectionCount() == 0;
    }, 15000));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf("[ flood    ] 10000 NOTIFYs: threads %d -> peak %d, RSS %ld -> peak %ld KiB, %u inspections dropped, "
           "settled in %.1f s\n",
           threads_before, peak_threads, rss_before, peak_rss, (unsigned)m_CtrlPoint->GetDroppedInspectionCount(),
           seconds);
    EXPECT_LE(peak_threads - threads_before, (int)CVD_CTRLPOINT_MAX_INSPECTIONS + 8);
    EXPECT_LT(peak_rss - rss_before, 40 * 1024);
    // how many are dropped depends on how many datagrams the socket kept
    EXPECT_GT(m_CtrlPoint->GetDroppedInspectionCount(), 1000u);
    EXPECT_EQ(m_CtrlPoint->GetRootDevices().GetItemCount(), 0u);
    EXPECT_TRUE(Eventually([&]() { return ssdptest::ThreadCount() <= threads_before + 2; }, 5000));
}

TEST_F(CtrlPointHostile, StopWhileWorkIsInFlight)
{
    Stall stall(kPort + 1);
    ASSERT_TRUE(stall.Ok());
    FakeHttp http(kPort, [&](const Request& r, int fd) {
        if (r.path == "/desc") {
            SendAll(fd, Answer(200, RootXml(DeviceXml(Uuid(7), DeviceXml(Uuid(8), "", ""),
                                                      ServiceXml("st", "/scpd.xml", "/c", "/ev")))));
        } else if (r.path == "/scpd.xml") {
            SendAll(fd, Answer(200, Scpd()));
        } else {
            // actions and subscriptions stall until the test ends
            while (!http.Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    ASSERT_TRUE(http.Ok());
    int threads_before = ssdptest::ThreadCount();
    Announce(Notify(Uuid(7), Location("/desc")));
    ASSERT_TRUE(Eventually([&]() { return m_Recorder.Has("+" + Uuid(8)); }, 5000));
    CVD_DeviceDataReference device = m_Recorder.Device(Uuid(7));

    // stalled fetches, actions and a subscription
    std::string stalled = Location("/d.xml", nullptr, kPort + 1);
    for (int i = 0; i < 20; ++i) Announce(Notify(Uuid(0x100 + i), stalled));
    for (int i = 0; i < 5; ++i) {
        CVD_ActionReference action;
        ASSERT_EQ(m_CtrlPoint->CreateAction(device, "urn:schemas-upnp-org:service:Dummy:1", "GetLevel", action),
                  HLY_SUCCESS);
        EXPECT_EQ(m_CtrlPoint->InvokeAction(action), HLY_SUCCESS);
    }
    EXPECT_EQ(m_CtrlPoint->Subscribe(device->GetServices()[0]), HLY_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_GT(m_CtrlPoint->GetPendingInspectionCount(), 0u);

    auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(m_Engine.Stop(), HLY_SUCCESS);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    printf("[ stop     ] Stop with work in flight took %.2f s, threads %d before the work, %d after\n", seconds,
           threads_before, ssdptest::ThreadCount());
    EXPECT_LT(seconds, 5.0);
    EXPECT_TRUE(m_Recorder.Has("-" + Uuid(7)));
    EXPECT_TRUE(m_Recorder.Has("-" + Uuid(8)));
    EXPECT_EQ(m_CtrlPoint->GetRootDevices().GetItemCount(), 0u);
    EXPECT_EQ(m_CtrlPoint->GetPendingInspectionCount(), 0u);
    EXPECT_EQ(m_CtrlPoint->GetSubscriberCount(), 0u);
    HLY_UInt16 port;
    EXPECT_EQ(m_CtrlPoint->GetPort(port), HLY_ERROR_INVALID_STATE);
    CVD_ActionReference late;
    EXPECT_EQ(m_CtrlPoint->InvokeAction(late), HLY_ERROR_INVALID_STATE);
}

} // namespace
