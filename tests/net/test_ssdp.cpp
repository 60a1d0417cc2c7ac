// SSDP on the wire, inside the test network: the exact datagrams of the
// search and announce tasks and of search answers, the engine's
// lifecycle, and the listener under a flood and under hostile datagrams.

#include <gtest/gtest.h>
#include <sched.h>
#include <regex>

#include "CvdConstants.h"
#include "ssdp_support.h"

using namespace ssdptest;
using testsupport::Eventually;

namespace {

const char* kServer = "UPnP/1.0 DLNADOC/1.50 Corvid/1.0.5.13";

std::string Location() { return std::string("http://") + testnet::Env("TESTNET_LOCAL_ADDR") + ":4004/description.xml"; }

// the (target, USN) pairs of the test device, in announcement order
std::vector<std::pair<std::string, std::string>> Pairs(const TestDevice& device)
{
    std::string uuid = "uuid:" + Text(device.m_Uuid);
    return {{"upnp:rootdevice", uuid + "::upnp:rootdevice"},
            {uuid, uuid},
            {TestDevice::kType, uuid + "::" + TestDevice::kType},
            {TestDevice::kService, uuid + "::" + TestDevice::kService}};
}

bool IsNotify(const Datagram& d) { return d.bytes.rfind("NOTIFY ", 0) == 0; }

// one announcement pass of the device over the veth, as the announce task makes it
void AnnounceOnVeth(TestDevice& device, CVD_SsdpAnnounceType type, bool broadcast)
{
    HLY_List<HLY_NetworkInterface*> interfaces;
    ASSERT_EQ(CVD_UPnPMessageHelper::GetNetworkInterfaces(interfaces, false), HLY_SUCCESS);
    ASSERT_EQ(interfaces.GetItemCount(), 1u) << "the test network has one interface besides loopback";
    interfaces.Apply(CVD_SsdpAnnounceInterfaceIterator(&device, type, broadcast));
    interfaces.Apply(HLY_ObjectDeleter());
}

} // namespace

TEST(SsdpWire, SearchTaskSendsTwoIdenticalMSearchesWithTtl2AndMxRaised)
{
    TESTNET_REQUIRED();
    PeerSocket capture;
    ASSERT_TRUE(capture.Ok());

    CVD_SsdpSearchTask* task = nullptr;
    ASSERT_EQ(CVD_SsdpSearchTask::Create(nullptr, LocalAddress(), "ssdp:all", 0, HLY_TimeInterval(), task), HLY_SUCCESS);
    CVD_TaskManager tasks;
    ASSERT_EQ(tasks.StartTask(task), HLY_SUCCESS);
    std::vector<Datagram> got = capture.WaitFor(2, 3000);
    tasks.StopAllTasks();

    const std::string expected = std::string("M-SEARCH * HTTP/1.1\r\n"
                                             "MX: 1\r\n"
                                             "ST: ssdp:all\r\n"
                                             "MAN: \"ssdp:discover\"\r\n"
                                             "User-Agent: ") + kServer + "\r\n"
                                 "Connection: close\r\n"
                                 "Host: 239.255.255.250:1900\r\n"
                                 "\r\n";
    ASSERT_EQ(got.size(), 2u);
    for (const Datagram& d : got) {
        EXPECT_EQ(d.bytes, expected);
        EXPECT_EQ(d.ttl, 2);
        EXPECT_EQ(d.from, testnet::Env("TESTNET_LOCAL_ADDR"));
        EXPECT_GE(d.port, 1024);
        EXPECT_LE(d.port, 16023);
        EXPECT_NE(d.port, 1900);
    }
    EXPECT_EQ(got[0].port, got[1].port);
}

TEST(SsdpWire, SearchEveryTwoSecondsRepeatsEveryFive)
{
    TESTNET_REQUIRED();
    PeerSocket capture;
    ASSERT_TRUE(capture.Ok());
    CVD_SsdpSearchTask* task = nullptr;
    ASSERT_EQ(CVD_SsdpSearchTask::Create(nullptr, LocalAddress(), "upnp:rootdevice", 5, HLY_TimeInterval::FromSeconds(2),
                                         task),
              HLY_SUCCESS);
    CVD_TaskManager tasks;
    ASSERT_EQ(tasks.StartTask(task), HLY_SUCCESS);
    std::vector<Datagram> got = capture.WaitFor(4, 6000);
    tasks.StopAllTasks();
    ASSERT_EQ(got.size(), 4u);
    long apart = (long)std::chrono::duration_cast<std::chrono::milliseconds>(got[2].at - got[0].at).count();
    EXPECT_GE(apart, 4900);
    EXPECT_LE(apart, 5500);
    EXPECT_EQ(Header(got[2].bytes, "MX"), "5");
}

TEST(SsdpWire, AnnouncementsAliveByebyeUpdate)
{
    TESTNET_REQUIRED();
    TestDevice device;
    const auto pairs = Pairs(device);
    struct Case {
        CVD_SsdpAnnounceType type;
        std::string          head; // what follows Host, before NTS
        const char*          nts;
        bool                 broadcast;
    } cases[] = {
        {CVD_ANNOUNCETYPE_ALIVE,
         "Location: " + Location() + "\r\nCache-Control: max-age=1800\r\nServer: " + kServer + "\r\n", "ssdp:alive",
         false},
        {CVD_ANNOUNCETYPE_BYEBYE, "", "ssdp:byebye", false},
        {CVD_ANNOUNCETYPE_UPDATE, "Location: " + Location() + "\r\nNEXTBOOTID.UPNP.ORG: 7\r\n", "ssdp:update", false},
        // the subnet broadcast variant keeps the multicast Host
        {CVD_ANNOUNCETYPE_BYEBYE, "", "ssdp:byebye", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.nts) + (c.broadcast ? " broadcast" : ""));
        PeerSocket capture;
        ASSERT_TRUE(capture.Ok());
        AnnounceOnVeth(device, c.type, c.broadcast);
        std::vector<Datagram> got = capture.WaitFor(pairs.size(), 3000, IsNotify);
        ASSERT_EQ(got.size(), pairs.size());
        for (size_t i = 0; i < pairs.size(); ++i) {
            EXPECT_EQ(got[i].bytes, "NOTIFY * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\n" + c.head + "NTS: " + c.nts +
                                        "\r\nUSN: " + pairs[i].second + "\r\nNT: " + pairs[i].first + "\r\n\r\n");
            if (!c.broadcast) {
                EXPECT_EQ(got[i].ttl, 2);
            }
        }
    }
}

TEST(SsdpWire, AnnounceTaskSaysByebyeFirstThenAliveUntilStopped)
{
    TESTNET_REQUIRED();
    TestDevice device;
    PeerSocket capture;
    ASSERT_TRUE(capture.Ok());
    CVD_TaskManager tasks;
    ASSERT_EQ(tasks.StartTask(new CVD_SsdpDeviceAnnounceTask(&device, HLY_TimeInterval::FromSeconds(30), true)),
              HLY_SUCCESS);
    std::vector<Datagram> got = capture.WaitFor(8, 3000, IsNotify);
    testsupport::Clock::time_point stopping = testsupport::Clock::now();
    tasks.StopAllTasks();
    EXPECT_LT(testsupport::ElapsedMs(stopping), 1000) << "the task waits out its interval abortably";
    ASSERT_EQ(got.size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Header(got[i].bytes, "NTS"), i < 4 ? "ssdp:byebye" : "ssdp:alive");
}

TEST(SsdpWire, SearchForAllGetsFourAnswersFromTheHostedDevice)
{
    TESTNET_REQUIRED();
    CVD_UPnP                engine;
    TestDevice*             device = new TestDevice();
    CVD_UPnPDeviceReference device_ref(device);
    ASSERT_EQ(engine.AddDevice(device_ref), HLY_SUCCESS);
    ASSERT_EQ(engine.Start(), HLY_SUCCESS);

    struct Case {
        const char* st;
        size_t      answers;
    } cases[] = {{"ssdp:all", 4}, {"upnp:rootdevice", 1}, {TestDevice::kService, 1}, {"urn:nobody:service:None:1", 0}};
    const auto pairs = Pairs(*device);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.st);
        PeerSocket searcher(0, false);
        ASSERT_TRUE(searcher.Ok());
        ASSERT_TRUE(searcher.SendTo(std::string("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
                                                "MAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ") + c.st + "\r\n\r\n",
                                    "239.255.255.250", 1900));
        std::vector<Datagram> got = searcher.WaitFor(c.answers, 3000);
        if (c.answers == 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        got = searcher.Received();
        ASSERT_EQ(got.size(), c.answers);
        for (size_t i = 0; i < got.size(); ++i) {
            const auto& pair = c.answers == 4 ? pairs[i] : *std::find_if(pairs.begin(), pairs.end(), [&](const auto& p) {
                return p.first == c.st;
            });
            std::string expected = "HTTP/1.1 200 OK\r\nLocation: " + Location() +
                                   "\r\nCache-Control: max-age=1800\r\nServer: " + kServer + "\r\nEXT: \r\nUSN: " +
                                   pair.second + "\r\nST: " + pair.first + "\r\nDate: DATE\r\n\r\n";
            // the date is now, in the RFC 1123 form
            std::regex  date("Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} GMT");
            EXPECT_EQ(std::regex_replace(got[i].bytes, date, "Date: DATE"), expected);
            EXPECT_EQ(got[i].from, testnet::Env("TESTNET_LOCAL_ADDR"));
        }
    }
    EXPECT_EQ(engine.Stop(), HLY_SUCCESS);
}

TEST(SsdpEngine, LifecycleStartStopTwiceAndThreadsEndWithStop)
{
    TESTNET_REQUIRED();
    int       threads_before = ThreadCount();
    Collector* early         = new Collector();
    Collector* late          = new Collector();
    CVD_UPnPCtrlPointReference early_ref(early), late_ref(late);
    {
        CVD_UPnP first, second;
        ASSERT_EQ(first.AddCtrlPoint(early_ref), HLY_SUCCESS);
        EXPECT_EQ(early->m_Starts, 0) << "registered while stopped: only listed";
        ASSERT_EQ(first.Start(), HLY_SUCCESS);
        EXPECT_EQ(early->m_Starts, 1);
        EXPECT_EQ(first.Start(), HLY_ERROR_INVALID_STATE);
        // a second engine in the same namespace binds port 1900 too
        ASSERT_EQ(second.Start(), HLY_SUCCESS);
        ASSERT_EQ(second.AddCtrlPoint(late_ref), HLY_SUCCESS);
        EXPECT_EQ(late->m_Starts, 1) << "registered while running: started at once";

        // a hosted device is ignored by the control points of its engine
        CVD_UPnPDeviceReference device(new TestDevice("0000feed-0000-4000-8000-000000000001"));
        ASSERT_EQ(first.AddDevice(device), HLY_SUCCESS);
        EXPECT_EQ(early->Ignored(), std::vector<std::string>{"0000feed-0000-4000-8000-000000000001"});

        // both listeners hear a NOTIFY from the peer
        ASSERT_TRUE(PeerSocket(0, false).SendTo("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\n"
                                "NTS: ssdp:alive\r\nUSN: uuid:1::upnp:rootdevice\r\nLOCATION: http://10.213.0.2/\r\n\r\n",
                                "239.255.255.250", 1900));
        EXPECT_TRUE(Eventually([&]() { return early->Packets().size() == 1 && late->Packets().size() == 1; }, 3000));
        EXPECT_GT(ThreadCount(), threads_before);
        // removed from a running engine: stopped, and deaf from then on
        EXPECT_EQ(second.RemoveCtrlPoint(late_ref), HLY_SUCCESS);
        EXPECT_EQ(late->m_Stops, 1);

        EXPECT_EQ(first.Stop(), HLY_SUCCESS);
        EXPECT_EQ(first.Stop(), HLY_ERROR_INVALID_STATE);
        EXPECT_EQ(early->m_Stops, 1);
        EXPECT_EQ(second.Stop(), HLY_SUCCESS);
        // every thread the engines started has ended when Stop returns
        EXPECT_EQ(ThreadCount(), threads_before);

        // and a stopped engine starts again, with a new socket and listener
        ASSERT_EQ(first.Start(), HLY_SUCCESS);
        EXPECT_EQ(early->m_Starts, 2);
    }
    // the destructor stopped the running engine
    EXPECT_EQ(early->m_Stops, 2);
    EXPECT_EQ(ThreadCount(), threads_before);
}

TEST(SsdpEngine, StartsWithOnlyLoopbackUp)
{
    TESTNET_REQUIRED();
    // a namespace of its own, holding nothing but loopback
    std::thread isolated([]() {
        ASSERT_EQ(unshare(CLONE_NEWNET), 0);
        ASSERT_EQ(system("ip link set lo up"), 0);
        HLY_List<HLY_IpAddress> addresses;
        ASSERT_EQ(CVD_UPnPMessageHelper::GetIPAddresses(addresses, false), HLY_SUCCESS);
        EXPECT_EQ(addresses.GetItemCount(), 0u) << "loopback is not a multicast address to join";
        HLY_List<HLY_NetworkInterface*> interfaces;
        ASSERT_EQ(CVD_UPnPMessageHelper::GetNetworkInterfaces(interfaces, false), HLY_SUCCESS);
        EXPECT_EQ(interfaces.GetItemCount(), 1u) << "without a network, loopback is what is left";
        interfaces.Apply(HLY_ObjectDeleter());

        Collector*                 collector = new Collector();
        CVD_UPnPCtrlPointReference reference(collector);
        CVD_UPnP                   engine;
        engine.AddCtrlPoint(reference);
        EXPECT_EQ(engine.Start(), HLY_SUCCESS);
        EXPECT_EQ(collector->m_Starts, 1);
        EXPECT_EQ(engine.Stop(), HLY_SUCCESS);
    });
    isolated.join();
}

TEST(SsdpEngine, FloodOfMSearchKeepsThreadsAndMemoryBounded)
{
    TESTNET_REQUIRED();
    CVD_UPnP                engine;
    TestDevice*             device = new TestDevice();
    CVD_UPnPDeviceReference device_ref(device);
    Collector*              collector = new Collector();
    CVD_UPnPCtrlPointReference collector_ref(collector);
    engine.AddDevice(device_ref);
    engine.AddCtrlPoint(collector_ref);
    int threads_idle = ThreadCount();
    ASSERT_EQ(engine.Start(), HLY_SUCCESS);

    const int  kRate = 10000, kSeconds = 5;
    int        threads_before = ThreadCount(), threads_peak = threads_before;
    long       rss_before = RssKiB(), rss_peak = rss_before;
    double     cpu_before = CpuSeconds();
    std::atomic<bool> flooding{true};
    std::thread       sampler([&]() {
        while (flooding) {
            threads_peak = std::max(threads_peak, ThreadCount());
            rss_peak     = std::max(rss_peak, RssKiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    int sent = 0;
    {
        PeerSocket peer(0, false);
        ASSERT_TRUE(peer.Ok());
        const std::string search = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n"
                                   "MAN: \"ssdp:discover\"\r\nMX: 3\r\nST: ssdp:all\r\n\r\n";
        testsupport::Clock::time_point start = testsupport::Clock::now();
        // paced in slices of 10 ms
        for (int slice = 0; slice < kSeconds * 100; ++slice) {
            for (int i = 0; i < kRate / 100; ++i) sent += peer.SendTo(search, "239.255.255.250", 1900) ? 1 : 0;
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * (slice + 1)));
        }
    }
    flooding = false;
    sampler.join();
    double cpu = CpuSeconds() - cpu_before;
    printf("[ flood    ] %d M-SEARCH sent in %d s; listener saw %d; %u dropped over the cap of %d\n", sent, kSeconds,
           (int)device->m_Packets, (unsigned)device->m_Responder.GetDroppedCount(),
           CVD_SSDP_MAX_PENDING_SEARCH_RESPONSES);
    printf("[ flood    ] threads %d -> peak %d; RSS %ld -> peak %ld KiB; CPU %.2f s (%.0f%% of one core)\n",
           threads_before, threads_peak, rss_before, rss_peak, cpu, 100 * cpu / kSeconds);

    EXPECT_GT(sent, kRate * kSeconds * 9 / 10);
    EXPECT_GT(device->m_Responder.GetDroppedCount(), 0u);
    // the cap, the sampler's and the peer socket's threads, and a few threads
    // whose task has already given its slot back while the thread itself exits
    EXPECT_LE(threads_peak, threads_before + CVD_SSDP_MAX_PENDING_SEARCH_RESPONSES + 2 + 4);
    EXPECT_LT(rss_peak - rss_before, 64 * 1024);

    // the listener lives on: the next NOTIFY is heard
    ASSERT_TRUE(PeerSocket(0, false).SendTo("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
                            "USN: uuid:after-flood::upnp:rootdevice\r\nLOCATION: http://10.213.0.2/\r\n\r\n",
                            "239.255.255.250", 1900));
    EXPECT_TRUE(Eventually([&]() {
        for (const Heard& h : collector->Packets()) {
            if (h.usn == "uuid:after-flood::upnp:rootdevice") return true;
        }
        return false;
    }, 5000));
    EXPECT_EQ(engine.Stop(), HLY_SUCCESS);
    EXPECT_EQ(ThreadCount(), threads_idle) << "every response task ended with Stop";
}

TEST(SsdpEngine, HostileDatagramsAreDroppedAndTheListenerLivesOn)
{
    TESTNET_REQUIRED();
    CVD_UPnP                   engine;
    Collector*                 collector = new Collector();
    CVD_UPnPCtrlPointReference collector_ref(collector);
    engine.AddCtrlPoint(collector_ref);
    ASSERT_EQ(engine.Start(), HLY_SUCCESS);

    auto notify = [](const std::string& tag) {
        return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nUSN: uuid:" +
               tag + "::upnp:rootdevice\r\nLOCATION: http://10.213.0.2/\r\n\r\n";
    };
    std::string many_lines = "NOTIFY * HTTP/1.1\r\n";
    while (many_lines.size() < 1900) many_lines += "X: 1\r\n";
    many_lines += "\r\n";
    std::string thousands = "NOTIFY * HTTP/1.1\r\n";
    for (int i = 0; i < 5000; ++i) thousands += "A:\r\n";
    thousands += "\r\n";
    std::string nul = notify("nul");
    nul[nul.find("nul")] = '\0';
    std::string big = notify("big") + std::string(65000 - notify("big").size(), 'x');
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"garbage", std::string("\x16\x03\x01\x00\xff\xfe garbage \x80\x81", 17)},
        {"truncated head", notify("truncated").substr(0, 60)},
        {"head without its empty line", notify("open").substr(0, notify("open").size() - 2)},
        {"NUL byte", nul},
        {"64 KiB datagram", big},
        {"thousands of header lines", thousands},
        {"a hundred and more header lines", many_lines},
        {"request line only", "NOTIFY * HTTP/1.1"},
        {"empty", ""},
    };
    PeerSocket peer(0, false);
    ASSERT_TRUE(peer.Ok());
    int    threads_before = ThreadCount();
    long   rss_before     = RssKiB();
    double cpu_before     = CpuSeconds();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t before = collector->Packets().size();
        // each hostile datagram a hundred times, then a good one
        for (int i = 0; i < 100; ++i) peer.SendTo(c.bytes, "239.255.255.250", 1900);
        ASSERT_TRUE(peer.SendTo(notify("good"), "239.255.255.250", 1900));
        ASSERT_TRUE(Eventually([&]() { return collector->Packets().size() > before; }, 3000)) << "listener gone";
        std::vector<Heard> heard = collector->Packets();
        ASSERT_EQ(heard.size(), before + 1) << "only the good datagram is heard";
        EXPECT_EQ(heard.back().usn, "uuid:good::upnp:rootdevice");
    }
    // a request line with its empty line is a request, though one without headers
    peer.SendTo("NOTIFY * HTTP/1.1\r\n\r\n", "239.255.255.250", 1900);
    EXPECT_TRUE(Eventually([&]() { return collector->Packets().back().usn.empty(); }, 3000));
    printf("[ hostile  ] %zu kinds x 100 datagrams: threads %d -> %d; RSS %ld -> %ld KiB; CPU %.2f s\n",
           sizeof(cases) / sizeof(cases[0]), threads_before, ThreadCount(), rss_before, RssKiB(),
           CpuSeconds() - cpu_before);
    EXPECT_EQ(ThreadCount(), threads_before) << "no datagram leaves a thread behind";
    EXPECT_EQ(engine.Stop(), HLY_SUCCESS);
}
